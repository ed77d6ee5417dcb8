// The dyad table entries of haploid sons in a haplodiploid species (two sons as full sibs, a son
// and a daughter as maternal half sibs, a son with a candidate mother), which come from trial
// families without their prior term: against a brute-force sum over the mother's genotypes
// and the father's alleles with the sample's allele frequencies, without typing errors.
#include <cmath>
#include <vector>

#include "pairwise/dyad_sample.hpp"

namespace kinrad::pairtest {
namespace {

real8 freq(int4 l, int4 a) {
  return variables.obsallelefre(l).a(a);
}

// P(a transmitted allele is x | parent m1/m2); an untyped child (x = 0) is certain.
real8 transmit(int4 x, int4 m1, int4 m2) {
  if (x == 0) return 1.0;
  return 0.5 * ((x == m1 ? 1 : 0) + (x == m2 ? 1 : 0));
}

// P(daughter d1/d2 | mother m1/m2, haploid father f); untyped daughter certain.
real8 daughter(const std::array<int4, 2>& d, int4 m1, int4 m2, int4 f) {
  if (d[0] == 0) return 1.0;
  real8 p = 0.0;
  for (const int4 t : {m1, m2}) {
    const int4 lo = std::min(t, f), hi = std::max(t, f);
    if (lo == d[0] && hi == d[1]) p += 0.5;
  }
  return p;
}

// ln of the joint probability over the polymorphic loci: the mother's genotype summed over
// (or observed, for a candidate mother), the father's allele summed over.
real8 bruteforce(int kind, int a, int b, int cand) {
  const Variables& v = variables;
  real8 total = 0.0;
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int4 k = v.obsnumallele(l);
    if (k < 2) continue;
    const std::array<int4, 2> ga = allelesof(0, a, l);
    const std::array<int4, 2> gb = kind == 8 ? allelesof(2, cand, l) : allelesof(0, b, l);
    real8 p = 0.0;
    for (int4 m1 = 1; m1 <= k; ++m1)
      for (int4 m2 = m1; m2 <= k; ++m2) {
        const real8 pm = (m1 == m2 ? 1.0 : 2.0) * freq(l, m1) * freq(l, m2);
        if (kind == 8) {
          const bool seen = gb[0] == 0 || (gb[0] == m1 && gb[1] == m2);
          if (seen) p += pm * transmit(ga[0], m1, m2);
        } else if (kind == 1) {
          p += pm * transmit(ga[0], m1, m2) * transmit(gb[0], m1, m2);
        } else {
          for (int4 f = 1; f <= k; ++f)
            p += pm * freq(l, f) * transmit(ga[0], m1, m2) * daughter(gb, m1, m2, f);
        }
      }
    if (!(p > 0.0)) return -1e300;
    total += std::log(p);
  }
  return total;
}

TEST_F(PairTest, HaploidEntriesAreTrialFamiliesWithoutThePrior) {
  SampleSpec spec;
  spec.n = 12;
  spec.alleles = {2, 3, 5};
  spec.haplodiploid = "1";
  spec.haploid = 0.5;
  spec.error = 0.0;
  spec.missing = 0.15;
  spec.fathers = 2;
  spec.mothers = 5;
  spec.method = "2";
  ASSERT_TRUE(prepare(projectof(spec).text()));
  const Variables& v = variables;
  ASSERT_TRUE(prbpopair_allocated());
  ASSERT_TRUE(prbmhsibpair_allocated());
  auto expect = [&](real4 got, real8 want) {
    if (want <= -1e300) {
      EXPECT_EQ(got, impossible_pair);
    } else {
      // Stored in single precision.
      EXPECT_NEAR(got, want, 2e-6 * std::fabs(want) + 1e-6);
    }
  };
  int checked = 0;
  for (int i = 1; i <= v.smplsize; ++i) {
    if (v.offploid(i) != 1) continue;
    for (int c = 1; c <= v.numcandidate(2); ++c) {
      SCOPED_TRACE(::testing::Message() << "son " << i << " mother " << c);
      expect(prbpopair(i, 2, c), bruteforce(8, i, 0, c));
      ++checked;
    }
    for (int j = i + 1; j <= v.smplsize; ++j) {
      SCOPED_TRACE(::testing::Message() << "son " << i << " with " << j);
      if (v.offploid(j) == 1)
        expect(prbfspair(i, j), bruteforce(1, i, j, 0));
      else
        expect(prbmhsibpair(i, j), bruteforce(3, i, j, 0));
      ++checked;
    }
  }
  EXPECT_GT(checked, 40);
}

}  // namespace
}  // namespace kinrad::pairtest
