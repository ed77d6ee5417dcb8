#include <cmath>

#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/full_sib_internal.hpp"

namespace kinrad {

void fsprobcomputesnp(int4 ifs, const int2 ngt[2], int4 j, int4 flag) {
  (void)ngt;  // the table is built from the family's genotype list, which they count
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 father = v.npstartloc1(1) + lv.clusterfamily(1, ifs);
  const int4 mother = v.npstartloc1(2) + lv.clusterfamily(2, ifs);
  // Whether a parent of the family has no other family: cached per absorb position for the
  // life of the family set-up.
  if (lv.flagsnp(j) == -1) lv.flagsnp(j) = (lv.hsib2(father) == 1 || lv.hsib2(mother) == 1) ? 1 : 0;
  const bool listed = j <= lv.mabsorb(1);
  const bool absorb = v.numsex != 1 && listed && (flag == 0 || lv.flagsnp(j) == 1);

  FsTable tab;
  build_fs_table(ifs, true, tab);
  lv.loglikehoodconst -= tab.taken;

  if (!absorb) {
    const int4 loc = v.fsprobloc(ifs);
    for (int4 c = 1; c <= tab.cols; ++c)
      for (int4 r = 1; r <= tab.rows; ++r) lv.fsprob(r, loc + c) = tab.at(r, c);
    lv.fsprobdim(ifs) = static_cast<int2>(tab.cols);
    v.equirowcol(ifs, 1) = static_cast<int2>(tab.rowmask);
    if (v.haplodiploid == 1) v.equirowcol(ifs, 2) = static_cast<int2>(tab.colmask);
    return;
  }

  const int4 q = lv.iabsorb(1, j);
  const int4 r = lv.iabsorb(2, j);
  const bool qfather = q <= v.nparent(1);
  const int4 lq = lv.hsprobloc(q + 1) - lv.hsprobloc(q);
  const int4 lr = lv.hsprobloc(r + 1) - lv.hsprobloc(r);
  const real8* a = &lv.crrtgenotypefre(lv.hsprobloc(q) + 1);
  real8* rv = &lv.crrtgenotypefre(lv.hsprobloc(r) + 1);
  const int4 qdim = qfather ? tab.rows : tab.cols;
  const int4 rdim = qfather ? tab.cols : tab.rows;
  for (int4 k = 1; k <= lr; ++k) {
    real8 s = 0.0;
    if (k <= rdim) {
      for (int4 c = 1; c <= qdim && c <= lq; ++c)
        s += a[c - 1] * (qfather ? tab.at(c, k) : tab.at(k, c));
    }
    rv[k - 1] *= s;
  }
  lv.fsprobdim(ifs) = 0;
  if (lr >= 1 && rv[0] < 1e-50) {
    real8 s = 0.0;
    for (int4 k = 0; k < lr; ++k) s += rv[k];
    if (s > 1e-300 && s < 1e-50) {
      lv.loglikehoodconst += std::log(s);
      for (int4 k = 0; k < lr; ++k) rv[k] /= s;
    }
  }
}

}  // namespace kinrad
