#include <algorithm>
#include <cassert>
#include <cmath>

#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/fs_prob_error_internal.hpp"

namespace kinrad {

namespace {

// The six distinct parent-pair positions (row, column) of a dominant family table, in the order
// of the six pair values of the dominant block tables: diploid unordered pairs of 1 = two band
// alleles, 2 = one band and one null allele, 3 = two null alleles; haploid fathers by (allele,
// mother genotype).
constexpr int4 kPairRow[2][6] = {{1, 1, 1, 2, 2, 3}, {1, 1, 1, 2, 2, 2}};
constexpr int4 kPairCol[2][6] = {{1, 2, 3, 2, 3, 3}, {1, 2, 3, 1, 2, 3}};

}  // namespace

void fsprobcomputedom(int4 errorflag, int4 bk, int4 fam, int4 nband, int4 nnone, real8& constlogl) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  assert(nband + nnone > 0);
  const int4 hd = v.haplodiploid;
  const bool haplo = hd == 1;
  const int4 loc = v.fsprobloc(fam);
  auto at = [&](int4 r, int4 c) -> real8& { return lv.fsprob(r, loc + c); };
  const int4 nrow = 3 - hd;

  if (errorflag == 0) {
    real8 cst = 0.0;
    if (nband > 0 && nnone > 0) {
      const real8 s1 = v.scale2(nband);
      const real8 s2 = v.scale2(nnone);
      const real8 s = s1 + s2;
      for (int4 c = 1; c <= 3; ++c)
        for (int4 r = 1; r <= nrow; ++r) at(r, c) = 0.0;
      if (haplo) {
        at(2, 2) = 1.0;
        cst = -s * v.logk(2);
      } else if (s1 <= 1.71 * s2) {
        // Offspring of two carriers of one band allele each are 3/4 band, 1/4 none; a carrier
        // with a double-null mate gives 1/2 each. Whichever pair is likelier is set to 1.
        at(2, 2) = std::exp(s1 * v.logk(3) - s * v.logk(2));
        at(2, 3) = at(3, 2) = 1.0;
        cst = -s * v.logk(2);
      } else {
        at(2, 2) = 1.0;
        at(2, 3) = at(3, 2) = std::exp(s * v.logk(2) - s1 * v.logk(3));
        cst = s1 * v.logk(3) - s * v.logk(4);
      }
      constlogl = cst;
      lv.loglikehoodconst += cst;
      return;
    }
    if (nband == 0) {
      const real8 p = v.power2(nnone);
      if (haplo) {
        at(1, 1) = 0.0, at(2, 1) = 0.0;
        at(1, 2) = 0.0, at(2, 2) = p;
        at(1, 3) = 0.0, at(2, 3) = 1.0;
      } else {
        at(1, 1) = 0.0, at(2, 1) = 0.0, at(3, 1) = 0.0;
        at(1, 2) = 0.0, at(2, 2) = p * p, at(3, 2) = p;
        at(1, 3) = 0.0, at(2, 3) = p, at(3, 3) = 1.0;
      }
    } else {
      const real8 p2 = v.power2(nband);
      if (haplo) {
        at(1, 1) = 1.0, at(2, 1) = 1.0;
        at(1, 2) = 1.0, at(2, 2) = p2;
        at(1, 3) = 1.0, at(2, 3) = 0.0;
      } else {
        const real8 p3 = v.power3(nband);
        at(1, 1) = 1.0, at(2, 1) = 1.0, at(3, 1) = 1.0;
        at(1, 2) = 1.0, at(2, 2) = p3, at(3, 2) = p2;
        at(1, 3) = 1.0, at(2, 3) = p2, at(3, 3) = 0.0;
      }
    }
    constlogl = 0.0;
    return;
  }

  const int4* prow = kPairRow[hd];
  const int4* pcol = kPairCol[hd];
  real8 cst = 0.0;
  if (nband <= 20 && nnone <= 20) {
    for (int4 i = 0; i < 6; ++i)
      at(prow[i], pcol[i]) = v.domprobgivengtype(i + 1, nband, nnone, bk);
    cst = v.domprobgivengtypeconst(nband, nnone, bk);
  } else {
    // Beyond the tabulated counts: powers of the one-offspring columns, band class first.
    real8 q[6];
    bool first = true;
    const int4 count[2] = {nband, nnone};
    for (int4 c = 0; c < 2; ++c) {
      if (count[c] <= 0) continue;
      const real8 s = v.scale2(count[c]);
      const int4 i1 = c == 0 ? 1 : 0;
      const int4 j1 = c == 0 ? 0 : 1;
      cst += s * v.domprobgivengtypeconst(i1, j1, bk);
      for (int4 i = 0; i < 6; ++i) {
        const real8 x = std::pow(v.domprobgivengtype(i + 1, i1, j1, bk), s);
        q[i] = first ? x : q[i] * x;
      }
      first = false;
    }
    if (nband > 0 && nnone > 0) {
      real8 m = q[0];
      for (int4 i = 1; i < 6; ++i) m = std::max(m, q[i]);
      if (m > 1e-300) {
        cst += std::log(m);
        const real8 r = 1.0 / m;
        for (int4 i = 0; i < 6; ++i) q[i] *= r;
      } else {
        // The product underflowed: redo it in logs.
        const real8 sb = v.scale2(nband);
        const real8 sn = v.scale2(nnone);
        real8 top = -1e300;
        for (int4 i = 0; i < 6; ++i) {
          q[i] =
              sb * v.domprobgivengtypelog(i + 1, 1, bk) + sn * v.domprobgivengtypelog(i + 1, 2, bk);
          top = std::max(top, q[i]);
        }
        for (int4 i = 0; i < 6; ++i) q[i] = std::exp(q[i] - top);
        cst =
            sb * v.domprobgivengtypeconst(1, 0, bk) + sn * v.domprobgivengtypeconst(0, 1, bk) + top;
      }
    }
    for (int4 i = 0; i < 6; ++i) at(prow[i], pcol[i]) = q[i];
  }
  if (!haplo) {
    at(2, 1) = at(1, 2);
    at(3, 1) = at(1, 3);
    at(3, 2) = at(2, 3);
  }
  constlogl = cst;
  lv.loglikehoodconst += cst;
}

}  // namespace kinrad
