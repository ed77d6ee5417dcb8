// Ne from sib-pair counts, and the non-random-mating parameter alpha fitted to the offspring
// genotypes.
//
// The pair counts estimate the probability that two offspring share a parent; Ne is the
// inverse of the pair rate x, corrected for alpha (the excess of genotype identity over
// Hardy-Weinberg, as from selfing or assortative mating). One sex uses a piecewise polynomial
// in a' = 2 alpha / (alpha + 1) once a' exceeds 0.5.
#include <cmath>

#include "core/modules/setgetgtype.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "results/ne_internal.hpp"

namespace kinrad {

namespace {

// Rates at or below 2^-31 give an Ne beyond the int4 range.
constexpr real8 smallest_rate = 4.656612875245797e-10;

// log(x), with -1e300 for x at or below 1e-300 (an impossible term).
real8 log_or_impossible(real8 x) {
  return x <= 1e-300 ? -1e300 : std::log(x);
}

// The pair rate x of one sex.
real8 one_sex_rate(real8 s, real8 alpha, real8 p) {
  const real8 ap = 2.0 * alpha / (alpha + 1.0);
  if (ap <= 0.5) return (alpha + 1.0) * 0.25 * s / p;
  const real8 b = s * 0.25 / p;
  if (ap <= 0.9) {
    const real8 t = ap - 0.5;
    return (1.05 - 2.0 * t + 6.0 * t * t - 5.0 * t * t * t - 15.0 * t * t * t * t) * b;
  }
  const real8 t = ap - 0.9;
  return (0.5 - t - 35.0 * t * t + 300.0 * t * t * t - 200.0 * t * t * t * t) * b;
}

// Counts the genotypes of one locus over the diploid offspring into column l.
void count_locus(int4 l, FArray<int4, 2>& counts) {
  const auto& v = variables;
  const int4 k = v.obsnumallele(l);
  setgetgtype.locusgtypeptr = v.indivgtype2(l).a;
  for (int4 i = 1; i <= v.smplsize; ++i) {
    if (v.offploid(i) == 1) continue;
    int2 g = 0;
    getgtype(g, i, k);
    if (g <= 0) continue;
    if (g > v.maxobsnumallele)
      ++counts(k + 1, l);
    else
      ++counts(g, l);
  }
}

}  // namespace

int4 ne_nint(real8 x) {
  // Half away from zero, as Fortran's nint.
  if (!(x < 2147483647.5)) return ne_infinite;
  if (x <= -2147483648.5) return -2147483647 - 1;
  return static_cast<int4>(std::round(x));
}

int4 nevalue(const std::array<int4, 2>& pairs, real8 alpha, int4 e) {
  const auto& v = variables;
  if (pairs[0] == 0 && pairs[1] == 0) return ne_infinite;
  const int4 n = v.smplsize - e;
  const real8 p = static_cast<real8>(n) * 0.5 * static_cast<real8>(n - 1);
  // Fewer than two offspring left: no pair to count, the size is unbounded.
  if (p <= 0.0) return ne_infinite;
  const real8 s = static_cast<real8>(static_cast<int8>(pairs[0]) + pairs[1]);
  real8 x;
  if (v.numsex == 1)
    x = one_sex_rate(s, alpha, p);
  else if (v.haplodiploid == 1)
    x = ((3.0 * alpha + 1.0) * pairs[1] + 2.0 * pairs[0]) / (9.0 * p);
  else
    x = (3.0 * alpha + 1.0) * 0.25 * s / p;
  if (x <= smallest_rate) return ne_infinite;
  return ne_nint(1.0 / x);
}

real8 alfaprob(real8 alpha, const FArray<int4, 2>& counts) {
  const auto& v = variables;
  const real8 log1ma = log_or_impossible(1.0 - alpha);
  real8 l = 0.0;
  for (int4 loc = 1; loc <= v.numloci; ++loc) {
    const int4 k = v.obsnumallele(loc);
    if (k <= 1) continue;
    const auto& p = v.obsallelefre(loc).a;
    if (v.dominantmarker(loc) == 1) {
      for (int4 g = 1; g <= 2; ++g) {
        if (counts(g, loc) <= 0) continue;
        const real8 x = g == 1 ? p(2) * (1.0 - alpha) + 1.0 : p(2) * (1.0 - alpha) + alpha;
        l += counts(g, loc) * log_or_impossible(x);
        if (l <= -1e300) return -l;
      }
      continue;
    }
    for (int4 a = 1; a <= k; ++a) {
      if (counts(a, loc) <= 0) continue;
      l += counts(a, loc) * log_or_impossible(alpha + (1.0 - alpha) * p(a));
      if (l <= -1e300) return -l;
    }
    if (counts(k + 1, loc) > 0) {
      l += counts(k + 1, loc) * log1ma;
      if (l <= -1e300) return -l;
    }
  }
  return -l;
}

void alfagrid(real8& alpha, const FArray<int4, 2>& counts) {
  real8 best = 1e300;
  for (int4 i = -100; i <= 100; ++i) {
    const real8 a = i * 0.01;
    const real8 f = alfaprob(a, counts);
    if (f < best) {
      best = f;
      alpha = a;
    }
    // Beyond a point this unlikely, larger alphas only grow less likely.
    if (i > 0 && f > 1e250) break;
  }
}

void alfaestimate(real8& alpha, FArray<int4, 2>& counts) {
  const auto& v = variables;
  counts.allocate(Dim(std::max(v.maxobsnumallele, 1) + 1), Dim(std::max(v.numloci, 1)));
  for (int4 l = 1; l <= v.numloci; ++l) count_locus(l, counts);
  alfagrid(alpha, counts);
}

}  // namespace kinrad
