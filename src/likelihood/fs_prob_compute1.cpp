#include <cmath>

#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/full_sib_internal.hpp"

namespace kinrad {

namespace {

constexpr real8 kImpossible = -1e300;

// The shared standard table (1 to 3) that holds this family's table, 0 none.
int4 shared_table(int4 ifs, int4 nallele, int4 ngtype) {
  const Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  if (v.haplodiploid == 1) return 0;
  const bool pooled = lv.allelefs(lv.locallelefs(ifs) + nallele) == 0;
  if (!pooled) return 0;
  const int4 nobs = nallele - 1;
  const int4 nhom = v.numfsgenotype(2, ifs);
  real8 total = 0.0;
  const int4 at0 = lv.clusterfamilyloc(ifs);
  for (int4 k = 1; k <= ngtype; ++k) total += v.numfsgtypescaled(at0 + k);
  if (nobs == 1 && total < 1.01) return 3;
  if (nobs == 2 && nhom == 0 && total < 1.01) return 1;
  if (nobs == 3 && nhom == 0 && ngtype == 2 && total > 1.9999 && total < 2.0001) return 2;
  return 0;
}

}  // namespace

void fsprobcompute1(int4 ifs, int4 nallele, int4 ngtype, real8& logl, int4 j, int4 flag,
                    bool& complete) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  complete = false;
  logl = -1.0;
  const bool whole = v.purefsshortcut == 1 || v.maxnumparent == v.haplodiploid;
  const bool absorb = !whole && j <= lv.mabsorb(1) && flag == 0;

  FsTable tab;
  build_fs_table(ifs, false, tab);
  lv.loglikehoodconst -= tab.taken;

  if (!whole && !absorb) {
    const int4 shared = shared_table(ifs, nallele, ngtype);
    if (shared > 0 && lv.fsprobidx(ifs) != 0) {
      lv.fsprobidx(ifs) = static_cast<int1>(shared);
    } else {
      const int4 loc = v.fsprobloc(ifs);
      for (int4 c = 1; c <= tab.cols; ++c)
        for (int4 r = 1; r <= tab.rows; ++r) lv.fsprob(r, loc + c) = tab.at(r, c);
    }
    lv.fsprobdim(ifs) = static_cast<int2>(tab.cols);
    v.equirowcol(ifs, 1) = static_cast<int2>(tab.rowmask);
    if (v.haplodiploid == 1) v.equirowcol(ifs, 2) = static_cast<int2>(tab.colmask);
    return;
  }

  // Class weights of the parent summed out, then the factor of each class of the parent that
  // goes on (tables are read with the father's classes as rows whichever parent is summed out).
  const int4 q = lv.iabsorb(1, j);
  const int4 r = lv.iabsorb(2, j);
  const int4 sq = q <= v.nparent(1) ? 1 : 2;
  const int4 sr = 3 - sq;
  std::array<real8, kMaxFsClass + 1> a{};
  std::array<real8, kMaxFsClass + 1> b{};
  const int4 qdim = sq == 1 ? tab.rows : tab.cols;
  const int4 rdim = sr == 1 ? tab.rows : tab.cols;
  {
    const int4* cls = &lv.idxtgt(lv.idxloc(2 * ifs + sq - 3) + 1);
    const real8* w = &lv.crrtgenotypefre(lv.hsprobloc(q) + 1);
    for (int4 i = 0; i < lv.hsprobdim(q); ++i) {
      const int4 c = cls[i];
      if (c >= 1 && c <= qdim) a[c] += w[i];
    }
  }
  for (int4 k = 1; k <= rdim; ++k) {
    real8 s = 0.0;
    if (sq == 1) {
      for (int4 c = 1; c <= qdim; ++c) s += a[c] * tab.at(c, k);
    } else {
      for (int4 c = 1; c <= qdim; ++c) s += tab.at(k, c) * a[c];
    }
    b[k] = s;
  }
  const int4* rcls = &lv.idxtgt(lv.idxloc(2 * ifs + sr - 3) + 1);
  real8* rv = &lv.crrtgenotypefre(lv.hsprobloc(r) + 1);
  const int4 nr = lv.hsprobdim(r);

  if (whole) {
    real8 p = 0.0;
    for (int4 i = 0; i < nr; ++i) {
      const int4 c = rcls[i];
      if (c >= 1 && c <= rdim && b[c] > 0.0) p += b[c] * rv[i];
    }
    logl = p > 1e-300 ? std::log(p) + lv.loglikehoodconst : kImpossible;
    complete = true;
    return;
  }

  const bool rescale = v.nallparent - v.maxnumparent > 2;
  real8 s = 0.0;
  for (int4 i = 0; i < nr; ++i) {
    if (rv[i] > 1e-300) {
      const int4 c = rcls[i];
      rv[i] *= (c >= 1 && c <= rdim) ? b[c] : 0.0;
      s += rv[i];
    }
  }
  if (rescale && s > 1e-300 && s < 1e-6 && v.anymonogamy == 0) {
    lv.loglikehoodconst += std::log(s);
    for (int4 i = 0; i < nr; ++i) rv[i] /= s;
  }
  int4 last = 0;
  for (int4 i = nr; i >= 1; --i) {
    if (rv[i - 1] >= 1e-300) {
      last = i;
      break;
    }
  }
  if (last > 0) lv.hsprobdim(r) = static_cast<int2>(last);
  lv.fsprobdim(ifs) = 0;

  // One individual acting in both roles keeps one vector.
  if (v.numsex == 1) {
    const int4 o = other_role_joint(r);
    if (o > 0 && lv.hsib(o) > 0) {
      lv.hsprobdim(o) = lv.hsprobdim(r);
      real8* ov = &lv.crrtgenotypefre(lv.hsprobloc(o) + 1);
      const int4 room = lv.hsprobloc(o + 1) - lv.hsprobloc(o);
      for (int4 i = 0; i < lv.hsprobdim(r) && i < room; ++i) ov[i] = rv[i];
    }
  }
}

}  // namespace kinrad
