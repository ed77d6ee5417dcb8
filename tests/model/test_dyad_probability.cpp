// Dyad probabilities. Expected values: an independent construction of the joint genotype
// distribution from the nine identity states (each state a partition of the four allele slots
// into classes identical by descent, one allele drawn from the population per class, summed
// over ordered alleles); a brute-force sum over all true genotypes of the locus (no pooling)
// with the observation model; a sum over transmissions for parent and offspring; normalisation
// over all observed pairs; hand values of error-free cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "core/modules.hpp"
#include "model/model.hpp"
#include "model_fixture.hpp"

namespace kinrad {
namespace {

using test::LocusSpec;
using test::ModelTest;
class DyadProbability : public ModelTest {};
using Delta = std::array<real8, 9>;

const Delta kUnrelated = {0, 0, 0, 0, 0, 0, 0, 0, 1};
const Delta kFullSib = {0, 0, 0, 0, 0, 0, 0.25, 0.5, 0.25};
const Delta kHalfSib = {0, 0, 0, 0, 0, 0, 0, 0.5, 0.5};
const Delta kParent = {0, 0, 0, 0, 0, 0, 0, 1, 0};
const Delta kClone = {0, 0, 0, 0, 0, 0, 1, 0, 0};
const Delta kMixed = {0.05, 0.1, 0.08, 0.12, 0.07, 0.13, 0.15, 0.2, 0.1};

// Slots 0, 1: the first individual's alleles; 2, 3: the second's. Each state lists the
// identity class of every slot.
const int kStates[9][4] = {{0, 0, 0, 0}, {0, 0, 1, 1}, {0, 0, 0, 1}, {0, 0, 1, 2}, {0, 1, 0, 0},
                           {0, 1, 2, 2}, {0, 1, 0, 1}, {0, 1, 0, 2}, {0, 1, 2, 3}};

// P(ordered alleles x) under one identity state.
real8 ordered_probability(const int* cls, const int* x, int slots, const std::vector<real8>& p) {
  real8 prob = 1.0;
  int alleleof[4] = {-1, -1, -1, -1};
  for (int s = 0; s < slots; ++s) {
    int& a = alleleof[cls[s]];
    if (a < 0) {
      a = x[s];
      prob *= p[static_cast<std::size_t>(x[s] - 1)];
    } else if (a != x[s]) {
      return 0.0;
    }
  }
  return prob;
}

// P(unordered a1/a2 and b1/b2) (b2 = 0: a haploid second individual, states 1, 2, 8, 9 only).
real8 joint_oracle(int4 a1, int4 a2, int4 b1, int4 b2, const Delta& delta,
                   const std::vector<real8>& p) {
  const bool haploid = b2 < 1;
  std::vector<std::array<int, 2>> first = {{a1, a2}};
  if (a1 != a2) first.push_back({a2, a1});
  std::vector<std::array<int, 2>> second = {{b1, b2}};
  if (!haploid && b1 != b2) second.push_back({b2, b1});
  real8 s = 0.0;
  for (int st = 0; st < 9; ++st) {
    if (delta[static_cast<std::size_t>(st)] == 0.0) continue;
    for (const auto& f : first)
      for (const auto& g : second) {
        const int x[4] = {f[0], f[1], g[0], g[1]};
        s += delta[static_cast<std::size_t>(st)] *
             ordered_probability(kStates[st], x, haploid ? 3 : 4, p);
      }
  }
  return s;
}

void set_afr(const std::vector<real8>& p) {
  for (std::size_t i = 0; i < p.size(); ++i)
    dyadprbvariables.afr(static_cast<index_t>(i + 1)) = p[i];
}

TEST(PrbgDyad, MatchesTheIdentityStates) {
  const std::vector<real8> p = {0.1, 0.2, 0.3, 0.4};
  set_afr(p);
  const Delta deltas[] = {kMixed, kFullSib, kUnrelated, kClone, {1, 0, 0, 0, 0, 0, 0, 0, 0}};
  real8 total = 0.0;
  for (const Delta& delta : deltas) {
    total = 0.0;
    for (int4 a1 = 1; a1 <= 4; ++a1)
      for (int4 a2 = a1; a2 <= 4; ++a2)
        for (int4 b1 = 1; b1 <= 4; ++b1)
          for (int4 b2 = b1; b2 <= 4; ++b2) {
            SCOPED_TRACE(testing::Message() << a1 << "/" << a2 << " " << b1 << "/" << b2);
            const real8 x = prbgdyad(a1, a2, b1, b2, delta);
            EXPECT_NEAR(x, joint_oracle(a1, a2, b1, b2, delta, p), 1e-15);
            total += x;
          }
    EXPECT_NEAR(total, 1.0, 1e-14);
  }
  const Delta haploid = {0.1, 0.2, 0, 0, 0, 0, 0, 0.3, 0.4};
  total = 0.0;
  for (int4 a1 = 1; a1 <= 4; ++a1)
    for (int4 a2 = a1; a2 <= 4; ++a2)
      for (int4 b = 1; b <= 4; ++b) {
        SCOPED_TRACE(testing::Message() << a1 << "/" << a2 << " " << b);
        EXPECT_NEAR(prbgdyad(a1, a2, b, 0, haploid), joint_oracle(a1, a2, b, 0, haploid, p), 1e-15);
        total += prbgdyad(a1, a2, b, 0, haploid);
      }
  EXPECT_NEAR(total, 1.0, 1e-14);
}

real8 frequency(int4 locus, int4 a) {
  return variables.obsallelefre(locus).a(a);
}

// Sum over every pair of true genotypes over all alleles of the locus of the joint
// probability times both observation probabilities.
real8 brute_dyad(int4 a1, int4 a2, int4 b1, int4 b2, const Delta& delta, int4 locus) {
  const Variables& v = variables;
  const int4 k = v.obsnumallele(locus);
  const real8 d = v.droprate(locus), e = errscale(k, v.othererrorrate(locus));
  const bool dominant = v.dominantmarker(locus) != 0;
  const bool haploid = b2 < 1;
  std::vector<real8> p;
  for (int4 a = 1; a <= k; ++a) p.push_back(frequency(locus, a));
  real8 s = 0.0;
  for (int4 t1 = 1; t1 <= k; ++t1)
    for (int4 t2 = t1; t2 <= k; ++t2) {
      const real8 y1 = prbg_p(a1, dominant ? 0 : a2, t1, t2, k, d, e, 0);
      if (haploid) {
        const real8 raw = v.othererrorrate(locus);
        for (int4 u = 1; u <= k; ++u) {
          const real8 y2 = (u == b1 ? 1.0 - raw : 0.0) + raw / k;
          s += joint_oracle(t1, t2, u, 0, delta, p) * y1 * y2;
        }
        continue;
      }
      for (int4 u1 = 1; u1 <= k; ++u1)
        for (int4 u2 = u1; u2 <= k; ++u2) {
          const real8 y2 = prbg_p(b1, dominant ? 0 : b2, u1, u2, k, d, e, 0);
          s += joint_oracle(t1, t2, u1, u2, delta, p) * y1 * y2;
        }
    }
  return s;
}

const std::vector<LocusSpec> kLoci = {
    {2, false, 0.1, 0.05, {0.35, 0.65}},
    {3, false, 0.05, 0.1, {0.2, 0.3, 0.5}},
    {5, false, 0.2, 0.02, {0.1, 0.15, 0.2, 0.25, 0.3}},
    {2, true, 0.05, 0.1, {0.4, 0.6}},
    {6, false, 0.1, 0.1, {0.05, 0.1, 0.15, 0.2, 0.22, 0.28}},
    {4, false, 0.0, 0.0, {0.1, 0.2, 0.3, 0.4}},
};

TEST_F(DyadProbability, DyadsMatchTheBruteForceAndAreNormalised) {
  test::setup_loci(kLoci);
  const Delta deltas[] = {kFullSib, kHalfSib, kParent, kClone, kUnrelated, kMixed};
  for (int4 l = 1; l <= variables.numloci; ++l) {
    const int4 k = variables.obsnumallele(l);
    const bool dominant = variables.dominantmarker(l) != 0;
    std::vector<std::array<int4, 2>> observed;
    if (dominant) {
      observed = {{1, 1}, {2, 2}};  // phenotypes as the packed store gives them
    } else {
      for (int4 a = 1; a <= k; ++a)
        for (int4 b = a; b <= k; ++b) observed.push_back({a, b});
    }
    for (std::size_t r = 0; r < std::size(deltas); ++r) {
      SCOPED_TRACE(testing::Message() << "locus " << l << " relationship " << r);
      real8 total = 0.0;
      for (const auto& x : observed)
        for (const auto& y : observed) {
          const real8 got = prbpdyad(x[0], x[1], y[0], y[1], deltas[r], l, 0);
          total += got;
          if (k <= 5 || (x[0] == 2 && x[1] == 5 && y[0] == 5 && y[1] == 6)) {
            EXPECT_NEAR(got, brute_dyad(x[0], x[1], y[0], y[1], deltas[r], l), 1e-14)
                << x[0] << "/" << x[1] << " " << y[0] << "/" << y[1];
          }
        }
      EXPECT_NEAR(total, 1.0, 1e-12);
    }
  }
}

TEST_F(DyadProbability, HaploidSecondMember) {
  test::setup_loci(kLoci);
  const Delta deltas[] = {kParent, kUnrelated, {0.1, 0.2, 0, 0, 0, 0, 0, 0.3, 0.4}};
  for (int4 l : {1, 2, 3, 5}) {
    const int4 k = variables.obsnumallele(l);
    for (std::size_t r = 0; r < std::size(deltas); ++r) {
      SCOPED_TRACE(testing::Message() << "locus " << l << " relationship " << r);
      real8 total = 0.0;
      for (int4 a = 1; a <= k; ++a)
        for (int4 b = a; b <= k; ++b)
          for (int4 h = 1; h <= k; ++h) {
            const real8 got = prbpdyad(a, b, h, 0, deltas[r], l, 0);
            total += got;
            if (k <= 5) {
              EXPECT_NEAR(got, brute_dyad(a, b, h, 0, deltas[r], l), 1e-14);
            }
          }
      EXPECT_NEAR(total, 1.0, 1e-12);
    }
  }
}

TEST_F(DyadProbability, ParentAndOffspringBySummingOverTransmissions) {
  test::setup_loci(kLoci);
  for (int4 l : {2, 3}) {
    const int4 k = variables.obsnumallele(l);
    const real8 d = variables.droprate(l), e = errscale(k, variables.othererrorrate(l));
    auto p = [&](int4 x) { return frequency(l, x); };
    for (const auto& obs :
         std::vector<std::array<int4, 4>>{{1, 2, 2, 3}, {1, 1, 1, 2}, {2, 2, 1, 3}}) {
      // Parent (ordered alleles m, n) passes m or n; the offspring's other allele is z.
      real8 expected = 0.0;
      for (int4 m = 1; m <= k; ++m)
        for (int4 n = 1; n <= k; ++n)
          for (int4 pass = 0; pass < 2; ++pass)
            for (int4 z = 1; z <= k; ++z) {
              const int4 c = pass == 0 ? m : n;
              const real8 w = p(m) * p(n) * 0.5 * p(z);
              expected += w * prbg_p(obs[0], obs[1], std::min(m, n), std::max(m, n), k, d, e, 0) *
                          prbg_p(obs[2], obs[3], std::min(c, z), std::max(c, z), k, d, e, 0);
            }
      EXPECT_NEAR(prbpdyad(obs[0], obs[1], obs[2], obs[3], kParent, l, 0), expected, 1e-15);
    }
  }
}

TEST_F(DyadProbability, UnrelatedDyadsAreProductsOfSingleProbabilities) {
  test::setup_loci(kLoci);
  const std::array<int4, 4> pairs[] = {
      {1, 2, 2, 2}, {1, 3, 2, 5}, {2, 5, 5, 6}, {4, 4, 1, 6}, {1, 1, 2, 2}};
  for (int4 l = 1; l <= variables.numloci; ++l) {
    const int4 k = variables.obsnumallele(l);
    for (const auto& q : pairs) {
      if (q[1] > k || q[3] > k) continue;
      const int4 ga[2] = {q[0], q[1]}, gb[2] = {q[2], q[3]};
      real8 pa = 0.0, pb = 0.0;
      probsinglegtype(0.0, 2, l, ga, pa);
      probsinglegtype(0.0, 2, l, gb, pb);
      EXPECT_NEAR(prbpdyad(q[0], q[1], q[2], q[3], kUnrelated, l, 0), pa * pb, 1e-15)
          << "locus " << l << " " << q[0] << "/" << q[1] << " " << q[2] << "/" << q[3];
    }
  }
}

TEST_F(DyadProbability, ErrorFreeHandValues) {
  test::setup_loci({{2, false, 0.0, 0.0, {0.3, 0.7}}});
  // Full sibs both 1/1: p^2 (1 + p)^2 / 4 = 0.09 1.69 / 4.
  EXPECT_NEAR(prbpdyad(1, 1, 1, 1, kFullSib, 1, 0), 0.038025, 1e-15);
  // Parent 1/1 and offspring 1/2: p^2 q = 0.063.
  EXPECT_NEAR(prbpdyad(1, 1, 1, 2, kParent, 1, 0), 0.063, 1e-15);
  // Clones: different genotypes are impossible, equal ones have the single probability.
  EXPECT_EQ(prbpdyad(1, 1, 1, 2, kClone, 1, 0), 0.0);
  EXPECT_NEAR(prbpdyad(1, 2, 1, 2, kClone, 1, 0), 0.42, 1e-15);
}

TEST_F(DyadProbability, PoolingTheAllelesNeitherMemberShows) {
  test::setup_loci(kLoci);
  prbpdyad(2, 5, 5, 6, kFullSib, 5, 0);
  const FStatic<real8, 1, 5>& afr = dyadprbvariables.afr;
  EXPECT_EQ(afr(1), 0.1);
  EXPECT_EQ(afr(2), 0.22);
  EXPECT_EQ(afr(3), 0.28);
  EXPECT_NEAR(afr(4), 0.4, 1e-15);
  // A locus of fewer than 2 alleles gives 1.
  reset_all_modules();
  test::setup_loci({{1, false, 0.1, 0.1, {1.0}}});
  EXPECT_EQ(prbpdyad(1, 1, 1, 1, kFullSib, 1, 0), 1.0);
}

TEST_F(DyadProbability, PooledFrequencyNeverNegative) {
  // Frequencies that sum to slightly more than 1 leave nothing for the pooled allele.
  test::setup_loci({{3, false, 0.0, 0.1, {0.6, 0.4000001, 0.1}}});
  prbpdyad(1, 1, 2, 2, kUnrelated, 1, 0);
  EXPECT_EQ(dyadprbvariables.afr(3), 0.0);
}

TEST_F(DyadProbability, ReusedTablesGiveTheFreshResult) {
  test::setup_loci(kLoci);
  const Delta deltas[] = {kClone, kFullSib, kHalfSib, kMixed};
  for (int4 l : {1, 3, 4}) {
    std::vector<real8> fresh;
    for (const Delta& delta : deltas) fresh.push_back(prbpdyad(1, 2, 2, 2, delta, l, 0));
    prbpdyad(1, 2, 2, 2, deltas[0], l, 0);
    for (std::size_t r = 1; r < std::size(deltas); ++r) {
      EXPECT_EQ(prbpdyad(1, 2, 2, 2, deltas[r], l, static_cast<int4>(r)), fresh[r])
          << l << " " << r;
    }
  }
  // A non-zero flag after a call for another dyad or locus, or after the frequencies or the
  // observation tables changed, still gives the result of a fresh computation.
  prbpdyad(1, 1, 1, 1, kFullSib, 3, 0);
  EXPECT_NEAR(prbpdyad(1, 3, 2, 5, kFullSib, 3, 1), brute_dyad(1, 3, 2, 5, kFullSib, 3), 1e-15);
  EXPECT_NEAR(prbpdyad(1, 3, 2, 3, kFullSib, 2, 1), brute_dyad(1, 3, 2, 3, kFullSib, 2), 1e-15);
  variables.obsallelefre(2).a(1) = 0.3;
  variables.obsallelefre(2).a(3) = 0.4;
  EXPECT_NEAR(prbpdyad(1, 3, 2, 3, kFullSib, 2, 1), brute_dyad(1, 3, 2, 3, kFullSib, 2), 1e-15);
  variables.droprate(2) = 0.3;
  phenotypegivengenotype(2, 2);
  EXPECT_NEAR(prbpdyad(1, 3, 2, 3, kFullSib, 2, 1), brute_dyad(1, 3, 2, 3, kFullSib, 2), 1e-15);
}

}  // namespace
}  // namespace kinrad
