// Ne from the excess of heterozygotes among the offspring over Hardy-Weinberg expectation: a
// small parent population leaves its offspring with allele frequencies that differ between the
// sexes, and so with more heterozygotes than the pooled frequencies predict. Per codominant
// locus D is the mean relative excess over the alleles seen in heterozygotes; Ne follows from
// the mean D, and the spread of the per-locus inverse estimates gives a t interval.
#include <algorithm>
#include <cmath>

#include "core/modules/setgetgtype.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "results/ne_internal.hpp"

namespace kinrad {

namespace {

// Two-sided 95% quantiles of Student's t for 1..50 degrees of freedom, to four digits, as
// single precision.
constexpr real4 tvalue[50] = {
    12.71f, 4.303f, 3.182f, 2.776f, 2.571f, 2.447f, 2.365f, 2.306f, 2.262f, 2.228f,
    2.201f, 2.179f, 2.160f, 2.145f, 2.131f, 2.120f, 2.110f, 2.101f, 2.093f, 2.086f,
    2.080f, 2.074f, 2.069f, 2.064f, 2.060f, 2.056f, 2.052f, 2.048f, 2.045f, 2.042f,
    2.040f, 2.037f, 2.035f, 2.032f, 2.030f, 2.028f, 2.026f, 2.024f, 2.023f, 2.021f,
    2.020f, 2.018f, 2.017f, 2.015f, 2.014f, 2.013f, 2.012f, 2.011f, 2.010f, 2.009f};

// Running sums over the loci used.
struct ExcessSums {
  int4 loci = 0;
  real8 d = 0.0;       // sum of the per-locus excess D
  real8 square = 0.0;  // sum of the squared per-locus inverse estimates
};

// Counts allele copies and heterozygous carriers of each allele at locus l.
void count_alleles(int4 l, int4 k, FArray<real8, 1>& count, FArray<real8, 1>& het) {
  const auto& v = variables;
  for (int4 a = 1; a <= k; ++a) {
    count(a) = 0.0;
    het(a) = 0.0;
  }
  setgetgtype.locusgtypeptr = v.indivgtype2(l).a;
  for (int4 i = 1; i <= v.smplsize; ++i) {
    int2 g = 0;
    getgtype(g, i, k);
    if (g == 0) continue;
    if (g > v.maxobsnumallele) {
      const int4 a = v.genotypeid(1, g);
      const int4 b = v.genotypeid(2, g);
      het(a) += 1.0;
      count(a) += 1.0;
      het(b) += 1.0;
      count(b) += 1.0;
    } else {
      count(g) += 2.0;
    }
  }
}

// Adds the excess of locus l to the sums; a locus without heterozygotes is not used.
void add_locus(int4 k, const FArray<real8, 1>& count, const FArray<real8, 1>& het, real8 n,
               ExcessSums& sums) {
  const real8 c = 4.0 * n / (2.0 * n - 1.0);
  real8 total = 0.0;
  for (int4 a = 1; a <= k; ++a) total += count(a);
  real8 sum = 0.0;
  int4 m = 0;
  for (int4 a = 1; a <= k; ++a) {
    if (het(a) < 1e-10) continue;
    const real8 h = het(a) / n;
    const real8 p = count(a) / total;
    sum += h / ((1.0 - p) * p * c) - 1.0;
    ++m;
  }
  if (m == 0) return;
  const real8 d = sum / m;
  const real8 r = 1.0 / (1.0 + d);
  const real8 inverse = 2.0 / (r + 1.0 / d);
  ++sums.loci;
  sums.d += d;
  sums.square += inverse * inverse;
}

}  // namespace

void heterozygote_interval(int4 loci, real8 sum_d, real8 sum_square, int4& ne,
                           std::array<int4, 2>& ci) {
  ne = ne_infinite;
  ci = {0, ne_infinite};
  if (loci == 0) return;
  const real8 el = loci;
  const real8 d = sum_d / el;
  const int4 value = ne_nint(0.5 / (1.0 + d) + 0.5 / d);
  // A deficit of heterozygotes, or none at all, leaves the size unbounded.
  if (value <= 0 || value == ne_infinite) return;
  ne = value;
  const real8 m1 = 1.0 / ne;
  const real8 msq = sum_square / el;
  const real8 s = std::sqrt(std::fabs(msq - m1 * m1));
  const real8 t = loci < 52 ? tvalue[std::max(loci - 1, 1) - 1] : 1.96f;
  const real8 e = s / std::sqrt(el) * t;
  const int4 upper = ne_nint(1.0 / (m1 - e));
  ci[1] = upper < 1 ? ne_infinite : upper;
  ci[0] = ne_nint(1.0 / (m1 + e));
}

void heterozygoteexcess(int4& ne, std::array<int4, 2>& ci) {
  const auto& v = variables;
  const index_t width = std::max(v.maxobsnumallele, 1);
  FArray<real8, 1> count{Dim(width)};
  FArray<real8, 1> het{Dim(width)};
  ExcessSums sums;
  const real8 n = v.smplsize;
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int4 k = v.obsnumallele(l);
    if (v.dominantmarker(l) == 1 || k <= 1) continue;
    count_alleles(l, k, count, het);
    add_locus(k, count, het, n, sums);
  }
  heterozygote_interval(sums.loci, sums.d, sums.square, ne, ci);
}

}  // namespace kinrad
