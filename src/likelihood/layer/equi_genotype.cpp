// Equivalent genotypes of the families left to the layer peeling: genotypes of one parent that
// read the same row (column) of a family's table behave alike in every sum over that family.
#include <algorithm>
#include <cmath>

#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/full_sib_internal.hpp"
#include "likelihood/layer/layer_internal.hpp"
#include "likelihood/work_arrays_internal.hpp"

namespace kinrad {

namespace {

// Merges the indices 1..n of one side of family f's table whose entries over the other side's
// m positions differ from an earlier representative's by at most 1e-14, and rewrites the side's
// index list (len entries from list) through the merge. fatherside: the indices are rows.
void merge_side(const TableReader& t, int4 n, int4 m, bool fatherside, int4* list, int4 len) {
  int4* rep = &likelihoodvar.equimap(1);
  auto at = [&](int4 i, int4 j) { return fatherside ? t(i, j) : t(j, i); };
  for (int4 i = 1; i <= n; ++i) {
    rep[i - 1] = i;
    for (int4 r = 1; r < i; ++r) {
      if (rep[r - 1] != r) continue;
      bool same = true;
      for (int4 j = 1; j <= m && same; ++j) same = std::abs(at(i, j) - at(r, j)) <= 1e-14;
      if (same) {
        rep[i - 1] = r;
        break;
      }
    }
  }
  for (int4 g = 0; g < len; ++g)
    if (list[g] >= 1 && list[g] <= n) list[g] = rep[list[g] - 1];
}

}  // namespace

void equigenotype(int4 locus) {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 nfs = std::max(v.numfsibship, 1);
  const int4 width = std::max({lv.maxhsprobdim, 3, 1});
  engine::grow(lv.equiline, {Dim(0, width), Dim(nfs), Dim(2)});
  engine::grow(lv.equilineq, Dim(nfs), Dim(2));
  const bool lists = lv.crrtmarkertype > 2;
  const bool haplo = v.haplodiploid == 1;
  const bool merge = haplo && lists && v.crrtmarkerdomq != 1 && v.locuserror(locus) != 0;
  for (int4 j = lv.mabsorb(1) + 1; j <= lv.mabsorb(2); ++j) {
    const int4 f = lv.nabsorb(j);
    if (lv.fsib(f) == 0) continue;
    const int4 parent[2] = {v.npstartloc1(1) + lv.clusterfamily(1, f),
                            v.npstartloc1(2) + lv.clusterfamily(2, f)};
    if (lv.selectedpnum(parent[0]) == 1 && lv.selectedpnum(parent[1]) == 1) {
      for (int4 side = 1; side <= 2; ++side) {
        lv.equiline(0, f, side) = 1;
        lv.equiline(1, f, side) =
            lists ? lv.idxtgt(lv.idxloc(2 * f + side - 3) + lv.idxselectedp(1, parent[side - 1]))
                  : lv.idxselectedp(1, parent[side - 1]);
        lv.equilineq(f, side) = 1;
      }
      continue;
    }
    if (merge && v.numfsgenotype(1, f) + v.numfsgenotype(2, f) > 0 && lv.fsprobdim(f) >= 1) {
      const TableReader t = table_of(f);
      const int4 na = lv.numallelefs(f);
      const int4 nd = lv.fsprobdim(f);
      engine::grow(lv.equimap, Dim(std::max({na, nd, 1})));
      merge_side(t, na, nd, true, &lv.idxtgt(lv.idxloc(2 * f - 2) + 1), lv.hsprobdim(parent[0]));
      merge_side(t, nd, na, false, &lv.idxtgt(lv.idxloc(2 * f - 1) + 1), lv.hsprobdim(parent[1]));
    }
    for (int4 side = 1; side <= 2; ++side) {
      const int4 p = parent[side - 1];
      int4& count = lv.equiline(0, f, side);
      count = 0;
      const int4 n = lv.selectedpnum(p);
      for (int4 i = 1; i <= n; ++i) {
        const int4 g = lv.idxselectedp(i, p);
        const int4 c = lists ? lv.idxtgt(lv.idxloc(2 * f + side - 3) + g) : g;
        bool seen = false;
        for (int4 k = 1; k <= count && !seen; ++k) seen = lv.equiline(k, f, side) == c;
        if (!seen) lv.equiline(++count, f, side) = c;
      }
      lv.equilineq(f, side) = static_cast<int1>(n <= count + 1 ? 1 : 0);
    }
  }
}

}  // namespace kinrad
