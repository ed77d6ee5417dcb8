#include <algorithm>

#include "configuration/configuration_internal.hpp"
#include "core/modules/configuration_work.hpp"
#include "core/modules/variables.hpp"
#include "core/modules/work_growth.hpp"

namespace kinrad {

namespace {

// Grows a parent-pair table to cover (n1, n2) and zeroes that block; a larger table keeps its
// shape, as its readers stay within nparent. With `doubling` a dimension that outgrows the table
// at least doubles (a table of the parent counts' product is too large to size for the sample
// at once), so the growing clusters of a search re-create it a few times only; without it the
// table takes the extent asked for (the role links, whose readers test their upper bound).
template <class T>
void cover_pairs(FArray<T, 2>& a, int4 n1, int4 n2, bool doubling) {
  if (!a.allocated() || a.size(1) < n1 || a.size(2) < n2) {
    const index_t old1 = a.allocated() ? a.size(1) : 0;
    const index_t old2 = a.allocated() ? a.size(2) : 0;
    const index_t r = n1 > old1 ? std::max<index_t>(n1, doubling ? 2 * old1 : 0) : old1;
    const index_t c = n2 > old2 ? std::max<index_t>(n2, doubling ? 2 * old2 : 0) : old2;
    if (!a.try_allocate(Dim(r), Dim(c))) stoponerror(0, "FamilyBuild");
    ++work_growth.count;
    return;
  }
  for (int4 j = 1; j <= n2; ++j)
    for (int4 i = 1; i <= n1; ++i) a(i, j) = 0;
}

}  // namespace

void publish_family_structure(int4 wantstructure, bool with_parentjdx, bool with_sizes) {
  auto& v = variables;
  const auto& w = configuration_work.family;
  const int4 nfam = w.numberfsfamily;
  const int4 nm = w.nmember;
  const int4 np1 = w.nparent(1);
  const int4 np2 = w.nparent(2);
  v.nparent(1) = np1;
  v.nparent(2) = np2;
  v.numberfsfamily = static_cast<int2>(nfam);
  v.maxnumpartner(1) = w.maxnumpartner(1);
  v.maxnumpartner(2) = w.maxnumpartner(2);
  // Member lists, family after family, as views into one store.
  if (!v.familymemtgt.allocated() || v.familymemtgt.size() < nm) {
    if (!v.familymemtgt.try_allocate(Dim(std::max(nm, v.smplsize)))) stoponerror(0, "FamilyBuild");
  }
  for (int4 t = 1; t <= nm; ++t) v.familymemtgt(t) = w.member[t];
  // A cluster has no more families than offspring: the list table takes the sample's size.
  if (!v.familymember.allocated() || v.familymember.size() < nfam) {
    if (!v.familymember.try_allocate(Dim(std::max<index_t>({2 * nfam, v.smplsize, 4}))))
      stoponerror(0, "FamilyBuild");
  }
  for (int4 f = 1; f <= nfam; ++f)
    v.familymember(f).a = window(v.familymemtgt, w.famloc[f] + 1, w.famloc[f + 1] - w.famloc[f]);
  v.familymember_count = nfam;
  v.familymemtgt_used = nm;
  if (wantstructure != 0 || with_sizes) {
    cover_pairs(v.nchild, np1, np2, true);
    for (int4 f = 1; f <= nfam; ++f)
      v.nchild(w.famparent1[f], w.famparent2[f]) = static_cast<int2>(w.famloc[f + 1] - w.famloc[f]);
  }
  if (wantstructure != 0) {
    cover_pairs(v.familystructure_index, np1, np2, true);
    for (int4 f = 1; f <= nfam; ++f) v.familystructure_index(w.famparent1[f], w.famparent2[f]) = f;
  }
  if (v.numsex == 1 && with_parentjdx) {
    const int4 m = std::max(np1, np2);
    cover_pairs(v.parentjdx, m, 2, false);
    for (int4 k = 1; k <= m; ++k) {
      v.parentjdx(k, 1) = w.parentjdx1[k];
      v.parentjdx(k, 2) = w.parentjdx2[k];
    }
  }
}

}  // namespace kinrad
