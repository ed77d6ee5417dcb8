#include <algorithm>
#include <array>
#include <cassert>
#include <stdexcept>
#include <utility>

#include "configuration/configuration.hpp"
#include "configuration/configuration_internal.hpp"
#include "core/modules/annealvariables.hpp"
#include "core/modules/configuration_work.hpp"
#include "core/modules/variables.hpp"
#include "core/modules/work_growth.hpp"

namespace kinrad {

namespace {

void free_slot_lists(int4 c) {
  auto& v = variables;
  family_group_slot_changed(c);
  v.indivcluster(c).deallocate();
  if (v.indivcluster1.allocated()) {
    v.indivcluster1(c).deallocate();
    v.indivcluster2(c).deallocate();
    v.indivclustern(c).deallocate();
    v.indivclusterm(c).deallocate();
    v.indivclusterf(c).deallocate();
  }
  if (v.indivclusterj.allocated()) v.indivclusterj(c).deallocate();
}

void swap_slot_lists(int4 a, int4 b) {
  auto& v = variables;
  family_group_slot_changed(a);
  family_group_slot_changed(b);
  std::swap(v.indivcluster(a), v.indivcluster(b));
  if (v.indivcluster1.allocated()) {
    std::swap(v.indivcluster1(a), v.indivcluster1(b));
    std::swap(v.indivcluster2(a), v.indivcluster2(b));
    std::swap(v.indivclustern(a), v.indivclustern(b));
    std::swap(v.indivclusterm(a), v.indivclusterm(b));
    std::swap(v.indivclusterf(a), v.indivclusterf(b));
  }
  if (v.indivclusterj.allocated()) std::swap(v.indivclusterj(a), v.indivclusterj(b));
}

// Re-shapes the table of slot c for the cluster it receives. Free slots keep the storage of
// the clusters they held, so that once a run has met the sizes of clusters it makes, registering
// one allocates nothing, where each slot alone would reallocate whenever a large cluster
// follows a small one in it or the reverse: a slot's storage whose size does not suit the
// cluster is exchanged with the same table of a free slot whose storage does, and when none
// does, it is kept in a free slot without storage (the highest, the last to be registered
// again) rather than released before new storage is taken. Each slot holds one storage per
// table, so the storage kept is bounded by the slots the sample has.
template <class T, int R>
void fit_slot(FArray<FArray<T, R>, 1>& table, int4 c, std::array<Dim, R> dims) {
  const auto& idx = variables.indivclusteridx;
  if (!table(c).holds(dims)) {
    const index_t top = std::min(table.ubound(1), idx.ubound(1));
    index_t empty = 0;
    bool found = false;
    for (index_t f = top; f >= 1 && !found; --f) {
      if (f == c || idx(f) != -1) continue;
      if (table(f).holds(dims)) {
        std::swap(table(c), table(f));
        found = true;
      } else if (empty == 0 && !table(f).allocated()) {
        empty = f;
      }
    }
    if (!found) {
      if (empty != 0 && table(c).allocated()) std::swap(table(c), table(empty));
      ++work_growth.slots;
    }
  }
  table(c).reshape(dims);
}

// The lists every registration allocates first.
bool allocate_slot(int4 c, const int4* cnt, int4 n) {
  auto& v = variables;
  // The slot's tables keep their storage from cluster to cluster (the search re-registers
  // clusters at every accepted move).
  fit_slot(v.indivcluster, c, {Dim(n)});
  const bool lists = v.indivcluster1.allocated();
  if (lists) {
    fit_slot(v.indivcluster1, c, {Dim(cnt[3])});
    fit_slot(v.indivclustern, c, {Dim(cnt[0] + cnt[1] + 1)});
    fit_slot(v.indivcluster2, c, {Dim(n - cnt[3])});
  }
  return lists;
}

}  // namespace

void setindivclusterindex() {
  auto& v = variables;
  for (int4 c = 1; c <= v.crnumfamily(3); ++c) {
    const int4 first = v.indivclusteridx(c);
    if (first < 1) continue;  // a free slot names no cluster
    v.indivclusterindex(v.crindivloc(first, 3)) = static_cast<int2>(c);
  }
  check_scratch_marks_clear();
}

void setinitcluster() {
  family_groups_changed();
  auto& v = variables;
  auto& av = annealvariables;
  const int4 nclust = v.crnumfamily(3);
  for (int4 c = 1; c <= nclust; ++c) {
    v.indivcluster(c).allocate(Dim(av.clustersizet(c)));
    v.kdxtgt(c) = 0;
  }
  // Ids equal slots here, so each offspring goes to the slot of its cluster id, in offspring
  // order.
  for (int4 i = 1; i <= v.smplsize; ++i) {
    const int4 c = v.crindivloc(i, 3);
    v.indivcluster(c)(++v.kdxtgt(c)) = static_cast<int2>(i);
  }
  v.indivlocprt = av.indivloc2.view();
  for (int4 c = 1; c <= nclust; ++c) {
    const int4 n = av.clustersizet(c);
    v.indivclusteridx(c) = v.indivcluster(c)(1);
    for (int4 t = 1; t <= n; ++t) {
      const int4 i = v.indivcluster(c)(t);
      av.indivloc2(t, 1) = v.crindivloc(i, 1);
      av.indivloc2(t, 2) = v.crindivloc(i, 2);
      av.indivloc2(t, 3) = c;
      av.indivloc2(t, 4) = i;
    }
    addcluster(c, &av.clustersize(1, c), n, n, v.number1tgt.data(), c);
  }
  for (index_t c = nclust + 1; c <= v.indivclusteridx.ubound(1); ++c) {
    if (v.indivclusteridx(c) != -1) free_slot_lists(static_cast<int4>(c));
    v.indivclusteridx(c) = -1;
  }
  setindivclusterindex();
  check_scratch_marks_clear();
}

void addcluster(int4 c, const int4* cnt, int4 n, int4 m, const int4* rows, int4 vv) {
  family_group_slot_changed(c);
  auto& v = variables;
  auto& av = annealvariables;
  auto& w = configuration_work.family;
  const auto& win = v.indivlocprt;
  auto& q1 = av.selectedprntidxq1;
  auto& q2 = av.selectedprntidxq2;
  const bool lists = allocate_slot(c, cnt, n);
  auto& members = v.indivcluster(c);

  fit(w.rowlist, m);
  fit(w.la, m);
  fit(w.lb, m);
  fit(w.wfam1, m);
  fit(w.wfam2, m);
  // Parents numbered per sex in order of first appearance.
  int4 nk = 0;
  int4 p1 = 0;
  int4 p2 = 0;
  for (int4 t = 0; t < m; ++t) {
    const int4 r = rows[t];
    if (win(r, 3) != vv) continue;
    const int4 i = win(r, 4);
    w.rowlist[++nk] = r;
    members(nk) = static_cast<int2>(i);
    const int4 f1 = win(r, 1);
    const int4 f2 = win(r, 2);
    if (q1(f1) == 0) {
      q1(f1) = 1;
      v.kdxtgt(f1) = ++p1;
      w.wfam1[p1] = f1;
    }
    if (q2(f2) == 0) {
      q2(f2) = 1;
      v.ldxtgt(f2) = ++p2;
      w.wfam2[p2] = f2;
    }
    w.la[nk] = v.kdxtgt(f1);
    w.lb[nk] = v.ldxtgt(f2);
    av.indivclusterid(i, 1) = w.la[nk];
    av.indivclusterid(i, 2) = w.lb[nk];
  }
  for (int4 x = 1; x <= p1; ++x) q1(w.wfam1[x]) = 0;
  for (int4 x = 1; x <= p2; ++x) q2(w.wfam2[x]) = 0;
  assert(nk == n);

  // Full-sib families by first appearance of their parent pair in row order.
  const int4 nfam = number_pairs(nk, w.la, w.lb, p1, p2, w.famof, w.mates1, w.mates2);
  int4 seen = 0;
  int4 n1 = 0;
  int4 n2 = 0;
  for (int4 t = 1; t <= nk; ++t) {
    const int4 i = members(t);
    const int4 f = w.famof[t];
    family_group_member_changed(i);
    av.indivclusterid(i, 3) = f;
    if (!lists) continue;
    if (f > seen) {
      seen = f;
      v.indivcluster1(c)(++n1) = static_cast<int2>(i);
      ++v.indivclustern(c)(w.la[t]);
      ++v.indivclustern(c)(cnt[0] + w.lb[t]);
      if (v.numsex == 1) av.selectedprntidxq3(f) = w.rowlist[t];
    } else {
      v.indivcluster2(c)(++n2) = static_cast<int2>(i);
    }
  }
  assert(!lists || (p1 == cnt[0] && p2 == cnt[1] && nfam == cnt[3]));
  (void)nfam;
  v.indivclusteridx(c) = members(1);
  if (v.indivclustern.allocated()) addfamilycluster(cnt, c);
  check_scratch_marks_clear();
}

void addcluster2(int4 c, const int4* cnt, int4 n, int4 m, const int4* rows, int4 vv) {
  family_group_slot_changed(c);
  auto& v = variables;
  auto& av = annealvariables;
  const auto& win = v.indivlocprt;
  auto& q2 = av.selectedprntidxq2;
  const bool lists = allocate_slot(c, cnt, n);
  auto& members = v.indivcluster(c);
  int4 nk = 0;
  int4 n1 = 0;
  int4 n2 = 0;
  for (int4 t = 0; t < m; ++t) {
    const int4 r = rows[t];
    if (win(r, 3) != vv) continue;
    const int4 i = win(r, 4);
    members(++nk) = static_cast<int2>(i);
    if (!lists) continue;
    const int4 f = av.indivclusterid(i, 3);
    if (q2(f) == 0) {
      q2(f) = 1;
      v.indivcluster1(c)(++n1) = static_cast<int2>(i);
      ++v.indivclustern(c)(av.indivclusterid(i, 1));
      ++v.indivclustern(c)(cnt[0] + av.indivclusterid(i, 2));
      if (v.numsex == 1) av.selectedprntidxq3(f) = r;
    } else {
      v.indivcluster2(c)(++n2) = static_cast<int2>(i);
    }
  }
  assert(nk == n);
  for (int4 f = 1; f <= n1; ++f) q2(f) = 0;
  v.indivclusteridx(c) = members(1);
  if (v.indivclustern.allocated()) addfamilycluster(cnt, c);
  check_scratch_marks_clear();
}

void addcluster1(int4 c, int4 n, int4 m, const int4* rows) {
  family_group_slot_changed(c);
  auto& v = variables;
  auto& av = annealvariables;
  fit_slot(v.indivcluster, c, {Dim(n)});
  for (int4 t = 1; t <= m; ++t) {
    const int4 i = v.indivlocprt(rows[t - 1], 4);
    v.indivcluster(c)(t) = static_cast<int2>(i);
    family_group_member_changed(i);
    av.indivclusterid(i, 1) = 1;
    av.indivclusterid(i, 2) = 1;
    av.indivclusterid(i, 3) = 1;
  }
  v.indivclusteridx(c) = v.indivcluster(c)(1);
  check_scratch_marks_clear();
}

void addfamilycluster(const int4* cnt, int4 c) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 p1 = cnt[0];
  const int4 p2 = cnt[1];
  const int4 np = p1 + p2;
  const auto nfam = static_cast<int4>(v.indivcluster1(c).size());
  if (v.numsex == 1) fit_slot(v.indivclusterj, c, {Dim(np)});
  // Family counts per parent become the offsets of the parents' blocks.
  auto& loc = v.indivclustern(c);
  int4 sum = 0;
  for (int4 k = 1; k <= np; ++k) {
    const int4 count = loc(k);
    loc(k) = sum;
    sum += count;
  }
  loc(np + 1) = sum;
  auto& npart = av.numpartner1;
  const int4 rows_needed = std::max(p1, p2);
  // Sized for any cluster of the sample at its first growth (a cluster has at most as many
  // parents of a sex as offspring).
  if (!npart.allocated() || npart.size(1) < rows_needed)
    npart.allocate(Dim(std::max(rows_needed, v.smplsize)), Dim(2));
  for (int4 k = 1; k <= p1; ++k) npart(k, 1) = 0;
  for (int4 k = 1; k <= p2; ++k) npart(k, 2) = 0;
  fit_slot(v.indivclusterm, c, {Dim(2 * nfam)});
  fit_slot(v.indivclusterf, c, {Dim(nfam), Dim(2)});
  for (int4 s = 1; s <= 2; ++s) {
    for (int4 f = 1; f <= nfam; ++f) {
      const int4 i = v.indivcluster1(c)(f);
      const int4 k = av.indivclusterid(i, s);
      ++npart(k, s);
      v.indivclusterm(c)(loc(k + (s - 1) * p1) + npart(k, s)) = av.indivclusterid(i, 3);
      v.indivclusterf(c)(f, s) = static_cast<int2>(k);
    }
  }
  if (v.numsex != 1) {
    check_scratch_marks_clear();
    return;
  }
  // One parent pool: link the two role indices of a parent that acts in both roles.
  auto& link = v.indivclusterj(c);
  auto& q1 = av.selectedprntidxq1;
  auto& q3 = av.selectedprntidxq3;
  const auto& win = v.indivlocprt;
  for (int4 f = 1; f <= nfam; ++f) q1(win(q3(f), 1)) = v.indivclusterf(c)(f, 1);
  for (int4 f = 1; f <= nfam; ++f) {
    const int4 id2 = win(q3(f), 2);
    const int4 r = q1(id2);
    if (r == 0) continue;
    const int4 j = v.indivclusterf(c)(f, 2);
    link(r) = static_cast<int2>(j);
    link(p1 + j) = static_cast<int2>(r);
    q1(id2) = 0;
  }
  for (int4 f = 1; f <= nfam; ++f) {
    q1(win(q3(f), 1)) = 0;
    q3(f) = 0;
  }
  check_scratch_marks_clear();
}

void replacecluster(int4 vv, int4 k) {
  auto& v = variables;
  const int4 nclust = v.crnumfamily(3);
  if (k < 1) {
    for (int4 s = 1; s <= nclust && k < 1; ++s)
      if (v.indivclusteridx(s) != -1 && v.crindivloc(v.indivcluster(s)(1), 3) == vv) k = s;
    if (k < 1) throw std::logic_error("replacecluster: no slot holds the cluster id");
  }
  int4 last = nclust;
  while (last >= 1 && v.indivclusteridx(last) == -1) --last;
  if (last < 1) throw std::logic_error("replacecluster: every slot is free");
  if (k > nclust || v.indivclusteridx(k) == -1)
    throw std::logic_error("replacecluster: the slot is free");
  // The freed slot keeps its storage for the next registration (the search registers the
  // clusters of every accepted move in the slots its touched clusters left): the last slot in
  // use takes the place of slot k and the storages are exchanged, not freed.
  if (last == k) {
    v.indivclusteridx(k) = -1;
  } else {
    swap_slot_lists(k, last);
    v.indivclusteridx(k) = v.indivcluster(k)(1);
    v.indivclusteridx(last) = -1;
  }
  check_scratch_marks_clear();
}

}  // namespace kinrad
