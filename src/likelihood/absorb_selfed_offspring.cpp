// Absorption of selfed offspring: a full-sib family whose two parents are one individual
// depends on that one genotype, so its offspring are multiplied straight into the parent's
// genotype vector before the other families are peeled.
#include <algorithm>
#include <cmath>

#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/full_sib_internal.hpp"
#include "likelihood/work_arrays_internal.hpp"

namespace kinrad {

namespace {

constexpr real8 kImpossible = -1e300;
constexpr real8 kGoOn = 1e30;  // other families remain: the caller goes on
// A summed 100 w ln value at or below this comes from a row value of at most 1e-300 (each
// such row counts as -1e38): the parent genotype cannot produce the family.
constexpr real8 kImpossibleSum = -1e30;

// Dominant locus: phenotype counts c1 (band) and c2 (no band) of the selfed family multiplied
// into the parent's weights P over 1/1, 1/2, 2/2.
void absorb_dominant(real8* P, int4 c1, int4 c2, const FView<real8, 1>& S,
                     const FView<real8, 1>& cst) {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  if ((c1 >= 50 && c2 > 0) || (c2 >= 50 && c1 > 0)) {
    // Both powers are large: in logarithms.
    const real8 w1 = v.scale2(c1), w2 = v.scale2(c2);
    real8 lg[3];
    real8 M = -1e300;
    bool any = false;
    for (int4 g = 1; g <= 3; ++g) {
      const real8 a = S(g), b = S(7 - g);
      if (a <= 0.0 || b <= 0.0 || P[g - 1] <= 0.0) {
        lg[g - 1] = 0.0;
        P[g - 1] = -1.0;  // marks an excluded genotype until the exponentials below
        continue;
      }
      lg[g - 1] = std::log(P[g - 1]) + w1 * std::log(a) + w2 * std::log(b);
      if (!any || lg[g - 1] > M) M = lg[g - 1];
      any = true;
    }
    for (int4 g = 1; g <= 3; ++g) P[g - 1] = P[g - 1] < 0.0 ? 0.0 : std::exp(lg[g - 1] - M);
    // What the log form takes out of the vector: the largest value and the phenotypes'
    // constants of the normalised table.
    if (any) lv.loglikehoodconst += M + w1 * cst(1) + w2 * cst(2);
    return;
  }
  for (int4 ph = 1; ph <= 2; ++ph) {
    const int4 c = ph == 1 ? c1 : c2;
    if (c <= 0) continue;
    real8 row[3];
    for (int4 g = 1; g <= 3; ++g) row[g - 1] = ph == 1 ? S(g) : S(7 - g);
    if (c == 1) {
      lv.loglikehoodconst += cst(ph);
    } else {
      const real8 w = v.scale2(c);
      lv.loglikehoodconst += w * cst(ph);
      for (real8& x : row) x = std::pow(x, w);
      if (row[1] > 1e-290) {
        lv.loglikehoodconst += std::log(row[1]);
        const real8 mid = row[1];
        for (real8& x : row) x /= mid;
      }
    }
    for (int4 g = 1; g <= 3; ++g) P[g - 1] *= row[g - 1];
  }
}

// Codominant locus: the selfed family's distinct offspring genotypes multiplied into the weights
// P of the parent's genotype list (pairs over alleles a(1..na), or 1/1, 1/2, 2/2). False when
// the family is impossible.
bool absorb_codominant(real8* P, int4 n, const int1* a, int4 na, int4 f, const FView<real8, 1>& S,
                       const FView<real8, 1>& cst) {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 at0 = lv.clusterfamilyloc(f);
  const int4 ngt = v.numfsgenotype(1, f) + v.numfsgenotype(2, f);
  if (ngt <= 0) return true;
  // Row of parent genotype (x, y) for offspring genotype (o1, o2).
  auto row = [&](int4 x, int4 y, int4 o1, int4 o2) {
    const bool mx = x > 0 && (x == o1 || x == o2);
    const bool my = y > 0 && (y == o1 || y == o2);
    if (o1 == o2) return 3 - (mx ? 1 : 0) - (my ? 1 : 0);
    if (x == y) return mx ? 5 : 7;
    if (mx && my) return 4;
    return (mx || my) ? 6 : 7;
  };
  // Calls fn(g, x, y) for each genotype g of the parent's list with its alleles x <= y.
  auto each_genotype = [&](auto fn) {
    if (na <= 0) {
      fn(1, 1, 1);
      fn(2, 1, 2);
      fn(3, 2, 2);
      return;
    }
    int4 g = 0;
    for (int4 i = 0; i < na; ++i)
      for (int4 j = i; j < na && g < n; ++j) fn(++g, a[i], a[j]);
  };
  for (int4 k = 1; k <= ngt; ++k) {
    const bool hom = v.fsgtype(1, at0 + k) == v.fsgtype(2, at0 + k);
    lv.loglikehoodconst += v.numfsgtypescaled(at0 + k) * cst(hom ? 1 : 2);
  }
  if (ngt == 1) {
    const int4 o1 = v.fsgtype(1, at0 + 1), o2 = v.fsgtype(2, at0 + 1);
    const real8 w = v.numfsgtypescaled(at0 + 1);
    each_genotype([&](int4 g, int4 x, int4 y) {
      const real8 r = S(row(x, y, o1, o2));
      P[g - 1] *= w > 1.0 ? std::pow(r, w) : r;
    });
    return true;
  }
  engine::grow(lv.selfsum, Dim(std::max(n, 1)));
  real8* sum = &lv.selfsum(1);
  each_genotype([&](int4 g, int4 x, int4 y) {
    real8 s = 0.0;
    for (int4 k = 1; k <= ngt; ++k) {
      const real8 r = S(row(x, y, v.fsgtype(1, at0 + k), v.fsgtype(2, at0 + k)));
      s += r <= 1e-300 ? -1e38 : 100.0 * v.numfsgtypescaled(at0 + k) * std::log(r);
    }
    sum[g - 1] = s;
  });
  // The best sum over the genotypes that can still produce the family; an impossible genotype
  // keeps weight 0 rather than a floor, so a family none can produce is impossible.
  real8 M = 0.0;
  bool any = false;
  for (int4 g = 0; g < n; ++g) {
    if (P[g] <= 0.0 || sum[g] <= kImpossibleSum) continue;
    if (!any || sum[g] > M) M = sum[g];
    any = true;
  }
  if (!any) return false;
  const int4 members = v.familyindivloc(f) - v.familyindivloc(f - 1);
  if (members <= 99 && M < -2300000.0) return false;
  lv.loglikehoodconst += 0.01 * M;
  for (int4 g = 0; g < n; ++g) {
    if (P[g] <= 0.0 || sum[g] <= kImpossibleSum) {
      P[g] = 0.0;
    } else if (sum[g] - M > -2300.0) {
      P[g] *= std::exp(static_cast<real4>(0.01 * (sum[g] - M)));
    } else {
      P[g] = 1e-16;
    }
  }
  return true;
}

}  // namespace

void absorbselfedoffspring(int4 locus, real8& logl) {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  logl = kGoOn;
  if (!lv.selfprnt.allocated() || lv.selfprnt(0) < 1) return;
  const bool dominant = v.dominantmarker(locus) != 0;
  const int4 k = dominant ? v.codominantloci(0) + v.dominantloci(locus) : v.codominantloci(locus);
  const FView<real8, 1>& S = v.prbgtopself(k).a;
  const FView<real8, 1>& cst = v.prbgtopselfconst(k).a;
  const bool twoallele = v.obsnumallele(locus) <= 2;
  real8 F = 1.0;  // running factor taken out of the vectors (its log leaves the constant)
  for (int4 i = 1; i <= lv.selfprnt(0); ++i) {
    const int4 p = lv.selfprnt(i);
    const int4 q = v.parentjdx(p, 1);
    if (q < 1) continue;
    const int4 f = lv.fsibid(p, q);
    if (f < 1 || f > v.numfsibship) continue;
    const int4 n = lv.hsprobdim(p);
    real8* P = &lv.crrtgenotypefre(lv.hsprobloc(p) + 1);
    if (dominant) {
      absorb_dominant(P, v.numfsgenotype(1, f), v.numfsgenotype(2, f), S, cst);
    } else {
      const int1* a = twoallele ? nullptr : &lv.allelehs(lv.allelehsloc(p) + 1);
      const int4 na = twoallele ? 0 : lv.allelehsnum(p);
      if (!absorb_codominant(P, n, a, na, f, S, cst)) {
        logl = kImpossible;
        return;
      }
    }

    // One selfing individual is the whole family.
    if (v.nparent(1) + v.nparent(2) == 2) {
      real8 s = 0.0;
      for (int4 g = 0; g < n; ++g) s += P[g];
      logl = s / F <= 1e-300 ? kImpossible : std::log(s / F) + lv.loglikehoodconst;
      return;
    }

    real8 m = 0.0;
    for (int4 g = 0; g < n; ++g) m = std::max(m, P[g]);
    if (m < 1e-290) {
      logl = kImpossible;
      return;
    }
    if (m < 0.9 || m > 1.0) {
      for (int4 g = 0; g < n; ++g) P[g] /= m;
      const real8 inv = 1.0 / m;
      if (inv >= 1e120 || inv <= 1e-120 || F >= 1e120 || F <= 1e-120) {
        lv.loglikehoodconst -= std::log(inv) + std::log(F);
        F = 1.0;
      } else {
        F *= inv;
        if (F < 1e-100 || F > 1e200) {
          lv.loglikehoodconst -= std::log(F);
          F = 1.0;
        }
      }
    }

    const int4 o = v.nparent(1) + q;
    --lv.hsib(p);
    --lv.hsib(o);
    lv.fsib(f) = 0;
    if (lv.hsib(o) > 0) {
      real8* ov = &lv.crrtgenotypefre(lv.hsprobloc(o) + 1);
      const int4 no = std::min<int4>(n, lv.hsprobdim(o));
      for (int4 g = 0; g < no; ++g) ov[g] = P[g];
    }
  }
  lv.loglikehoodconst -= std::log(F);
  logl = kGoOn;
}

}  // namespace kinrad
