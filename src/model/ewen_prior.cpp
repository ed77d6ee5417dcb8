#include <algorithm>
#include <cmath>

#include "core/brent.hpp"
#include "core/modules/variables.hpp"
#include "core/real_integer_power.hpp"
#include "model/ewen_prior_internal.hpp"

namespace kinrad {

namespace {

// Single-precision constants of the empirical prior, widened to double: the fitted curves were
// made with these values, so the widened ones (not 0.15, 0.2, ...) are the constants.
constexpr real8 c015 = static_cast<real8>(0.15f);
constexpr real8 c02 = static_cast<real8>(0.2f);
constexpr real8 c001 = static_cast<real8>(0.01f);
constexpr real8 c06 = static_cast<real8>(0.6f);
constexpr real8 c065 = static_cast<real8>(0.65f);

// The Ewens strength of the weak, medium and strong priors from the share of dominant markers;
// ewenmeannumprnt turns from mean sibship sizes into expected numbers of parents.
void set_fixed_prior() {
  Variables& v = variables;
  real8 c = 0.0;  // alleles of the polymorphic codominant loci
  real8 d = 0.0;  // informative alleles of the polymorphic dominant loci
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int4 k = v.obsnumallele(l);
    if (k <= 1) continue;
    if (v.dominantmarker(l) == 1)
      d += k - 1;
    else
      c += k;
  }
  // Without a polymorphic locus there is no dominant share.
  const real8 x = c + d > 0.0 ? d / (c + d) : 0.0;
  const real8 n = v.smplsize;
  real8 f = 0.0;
  if (v.fulllikelihoodmethodq == 0)
    f = real_integer_power(1.5 * x + 2.0, v.priortype - 1) * 0.125 * 0.128 * std::sqrt(n) /
        (3 - v.numsex) * 1.5;
  else
    f = real_integer_power(x + 2.0, v.priortype - 1) * 0.125 * 0.128 * std::sqrt(n) /
        (3 - v.numsex);
  v.ewenpriorfac(1) = f;
  v.ewenpriorfac(2) = f;
  for (int4 s = 1; s <= 2; ++s) v.ewenmeannumprnt(s) = n / std::max(1.0, v.ewenmeannumprnt(s));
  v.priortype = 1;
}

// The empirical prior from an effective population size E1 (and the sex ratio E2). Returns
// false when its strength is not positive: the analysis then runs without a sibship prior.
bool set_empirical_prior() {
  Variables& v = variables;
  const real8 n = v.smplsize;
  const real8 e1 = v.ewenmeannumprnt(1);
  const real8 e2 = v.ewenmeannumprnt(2);
  const real8 q = n / e1;
  const real8 a = c015 * std::log(q);
  const real8 b = 10.0 * std::exp(-5.0 / q);
  real8 f = 0.0;
  if (v.numsex == 1) {
    f = 0.65 - a + c02 * std::exp(-10.0 * q) - b;
  } else {
    const real8 g = c001 * (1.0 - std::exp(-q)) * std::log(1.0 / std::max(1.0 / e2, e2));
    const real8 h = v.haplodiploid == 1 ? c06 * std::exp(-22.0 * q) : c02 * std::exp(-10.0 * q);
    const real8 base = v.haplodiploid == 1 ? 0.7 : 0.5;
    f = g + (base - a + h - b);
  }
  v.ewenpriorfac(1) = f;
  v.ewenpriorfac(2) = f;
  if (f <= 1e-300) {
    v.priortype = 0;
    v.fsscaleq = 0;
    return false;
  }
  const real8 y = n - (1.003 - std::exp(-1.0 / e1)) * 70.0 + (1.0 - std::exp(-0.01 / q)) * 0.2;
  for (int4 s = 1; s <= 2; ++s) {
    real8 t = y;
    if (v.numsex == 1)
      t = y - 0.05 * std::log(e1) / std::exp(40.0 / e1) + c065 * std::exp(-7.5 * q);
    if (t >= n) t = n - 0.05;
    if (t < 1.0) t = 1.0;
    v.ewenmeannumprnt(s) = t;
  }
  v.priortype = 1;
  return true;
}

}  // namespace

real8 ewenfunc(real8 theta) {
  const Variables& v = variables;
  real8 sum = 0.0;
  for (int4 i = 0; i < v.smplsize; ++i) sum += theta / (i + theta);
  const real8 d = sum - v.ewenmeannumprnt(v.numchild);
  return d * d;
}

void setewenprior() {
  Variables& v = variables;
  real8 c[3] = {0.0, 0.0, 0.0};
  for (int4 s = 1; s <= 2; ++s) c[s] = std::clamp(v.propprntsampled(s), 0.001, 0.999);

  int4 polymorphic = 0;
  int4 multiallelic = 0;
  for (int4 l = 1; l <= v.numloci; ++l) {
    if (v.obsnumallele(l) > 1) ++polymorphic;
    if (v.obsnumallele(l) > 2) ++multiallelic;
  }
  // Without a polymorphic locus the allele richness is taken as 0.
  const real8 r = polymorphic > 0 ? static_cast<real8>(multiallelic) / polymorphic : 0.0;
  // The square root of the sample size is taken in single precision.
  const real8 w =
      (0.5 * r * r + 0.02) / static_cast<real8>(std::sqrt(static_cast<real4>(v.smplsize)));

  if (v.numsex == 2) {
    for (int4 s = 1; s <= 2; ++s) {
      const real8 p = v.propprntsampled(s);
      v.prntweight(s) = p * p * p * w;
    }
  } else {
    const real8 m = (v.propprntsampled(1) + v.propprntsampled(2)) / 2.0;
    v.prntweight(1) = m * m * m * w;
    v.prntweight(2) = m * m * m * w;
    const real8 cm = (c[1] + c[2]) / 2.0;
    c[1] = cm;
    c[2] = cm;
  }
  v.prntlogprb.allocate(Dim(2), Dim(2));
  for (int4 s = 1; s <= 2; ++s) {
    v.prntlogprb(1, s) = std::log(c[s]);
    v.prntlogprb(2, s) = std::log(1.0 - c[s]);
  }

  if (v.priortype < 1) return;
  if (v.priortype <= 3) {
    set_fixed_prior();
  } else if (!set_empirical_prior()) {
    return;
  }

  const int4 m = (3 - v.numsex) * v.smplsize;
  v.sibsize.allocate(Dim(2), Dim(m), Dim(v.numsex));
  for (int4 s = 1; s <= 2; ++s) {
    v.numchild = s;
    real8 theta = 0.0;
    brent(0.01, 1.0, 100000.0, ewenfunc, 0.001, theta);
    v.logewentheta(s) = std::log(theta);
    real8 sum = 0.0;
    for (int4 i = 0; i < m; ++i) sum += std::log(i + theta);
    v.logewenconst(s) = v.factorial(m) - sum;
  }
}

}  // namespace kinrad
