#include <algorithm>

#include "core/modules/variables.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/work_arrays_internal.hpp"

namespace kinrad {

namespace {

// Copies every member list into a fresh store with room for `extra` more entries and re-aims
// the views. Lists replaced by longer ones leave holes in the old store; this drops them.
void compact_member_store(index_t extra) {
  Variables& v = variables;
  index_t live = 0;
  for (int4 k = 1; k <= v.familymember_count; ++k) live += v.familymember(k).a.size();
  const index_t cap = std::max<index_t>(2 * (live + extra), std::max(v.smplsize, 16));
  FArray<int2, 1> store{Dim(cap)};
  index_t used = 0;
  for (int4 k = 1; k <= v.familymember_count; ++k) {
    FView<int2, 1>& list = v.familymember(k).a;
    const index_t n = list.size();
    for (index_t i = 1; i <= n; ++i) store(used + i) = list(i);
    list = window(store, used + 1, n);
    used += n;
  }
  v.familymemtgt = std::move(store);
  v.familymemtgt_used = used;
}

}  // namespace

void setfamilymembers(int4 p1, int4 p2, std::span<const int4> members) {
  Variables& v = variables;
  const index_t n = static_cast<index_t>(members.size());
  int4 k = v.familystructure_index(p1, p2);
  if (k < 1) {
    if (n == 0) return;
    k = ++v.familymember_count;
    if (!v.familymember.allocated() || v.familymember.ubound(1) < k) {
      FArray<I2bdim1, 1> lists(Dim(std::max<index_t>(2 * k, 4)));
      for (int4 j = 1; j < k; ++j) lists(j) = v.familymember(j);
      v.familymember = std::move(lists);
    }
    v.familymember(k).a = FView<int2, 1>{};
    v.familystructure_index(p1, p2) = k;
  }
  FView<int2, 1>& list = v.familymember(k).a;
  if (n > list.size()) {
    // A longer list goes to the end of the store; the old entries become a hole.
    if (!v.familymemtgt.allocated() || v.familymemtgt_used + n > v.familymemtgt.size()) {
      list = FView<int2, 1>{};
      compact_member_store(n);
    }
    list = window(v.familymemtgt, v.familymemtgt_used + 1, n);
    v.familymemtgt_used += n;
  } else if (list.size() > 0) {
    list = FView<int2, 1>(list.data(), {Dim(1, n)});
  }
  for (index_t i = 1; i <= n; ++i) list(i) = static_cast<int2>(members[static_cast<size_t>(i - 1)]);
}

void setfamilystruc(int4 noff, int4 np) {
  Variables& v = variables;
  if (noff > 0) {
    if (!v.inferparent.allocated() || v.inferparent.ubound(1) < noff)
      v.inferparent.allocate(Dim(std::max(v.smplsize, noff)), Dim(2));
    for (int4 k = 1; k <= 2; ++k)
      for (int4 i = 1; i <= noff; ++i) v.inferparent(i, k) = 0;
    v.inferparentprt = v.inferparent.view();
  }
  if (v.numsex == 1) {
    // Room for the trial parents in both roles, at least the five entries of the design.
    v.parentjdx.allocate(Dim(std::max(5, np)), Dim(2));
  }
  v.nchild.allocate(Dim(np), Dim(np));
  v.nchild.fill(static_cast<int2>(np));
  v.nparent(1) = np;
  v.nparent(2) = np;
  v.familystructure_index.allocate(Dim(np), Dim(np));
  v.familymember_count = 0;
  v.familymemtgt_used = 0;
}

}  // namespace kinrad
