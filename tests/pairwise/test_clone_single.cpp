// The probability that an offspring has no clone in the sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/modules/simuvariables.hpp"
#include "model/model.hpp"
#include "pairwise/clone_fixture.hpp"
#include "pairwise/clone_internal.hpp"
#include "pairwise/clones.hpp"

namespace kinrad::test {
namespace {

TEST_F(CloneTest, HaploidOffspringHasNoCloneQuestion) {
  CloneData d;
  d.haplodiploid = 1;
  d.loci = {{3, false, 0.01, 0.01, {0.5, 0.3, 0.2}}};
  d.ploid = {1, 2};
  d.off = {{{1, 0}, {1, 1}}};
  setup_clone_data(d);
  real8 prob = 0.0;
  singlecloneprb(1, prob);
  EXPECT_EQ(prob, 1.0);
}

// 80 two-allele loci: a partner mismatching at more than a quarter of them is given 0
// without any dyad probability being computed (the partner-code cache stays untouched);
// at exactly a quarter the pair is scored.
TEST_F(CloneTest, ManyLociScreenRejectsWithoutDyadWork) {
  for (int mismatches : {21, 20}) {
    SCOPED_TRACE(mismatches);
    reset_all_modules();
    CloneData d;
    d.loci.assign(80, {2, false, 0.01, 0.01, {0.5, 0.5}});
    for (int l = 0; l < 80; ++l)
      d.off.push_back({{1, 1}, l < mismatches ? Genotype{2, 2} : Genotype{1, 1}});
    setup_clone_data(d);
    real8 prob = 0.0;
    singlecloneprb(1, prob);
    const FArray<real8, 3>& cache = simuvariables.dyadlogl2;
    const bool untouched =
        std::all_of(cache.begin(), cache.end(), [](real8 x) { return x == 1.0; });
    if (mismatches == 21) {
      EXPECT_TRUE(untouched);
      EXPECT_EQ(prob, 1.0);
    } else {
      EXPECT_FALSE(untouched);
    }
  }
}

// One mismatch among 10 commonly typed loci: the pair value is at most
// (1 - 1.1 / 10.1)^16 = 0.15802950163504131 (by hand), and it is that bound when the clone
// hypothesis is overwhelming (nine identical loci of ten equally common alleles).
TEST_F(CloneTest, OneMismatchInTenLociIsCapped) {
  CloneData d;
  const std::vector<real8> p(10, 0.1);
  d.loci.assign(10, {10, false, 0.02, 0.02, p});
  for (int l = 0; l < 10; ++l) {
    const Genotype g{l + 1 <= 7 ? l + 1 : 1, l + 1 <= 7 ? l + 4 : l + 1};
    d.off.push_back({g, l == 0 ? Genotype{1, 5} : g});
  }
  setup_clone_data(d);
  real8 prob = 0.0;
  singlecloneprb(1, prob);
  const real4 f = static_cast<real4>(0.15802950163504131);
  EXPECT_EQ(prob, 1.0 - static_cast<real8>(f));
}

// The pair value assembled from its parts: three sums over the loci of log dyad
// probabilities (clone, full sibs, half sibs) and the unrelated sum of single log
// probabilities at the rates in force; a locus typed in one member adds that member's single
// log probability to every related sum.
TEST_F(CloneTest, PairValueFromItsParts) {
  CloneData d;
  d.loci = {{2, false, 0.05, 0.05, {0.6, 0.4}},
            {4, false, 0.05, 0.05, {0.4, 0.3, 0.2, 0.1}},
            {3, false, 0.05, 0.05, {0.5, 0.3, 0.2}}};
  d.off = {{{1, 2}, {1, 2}}, {{1, 3}, {1, 4}}, {{2, 2}, {0, 0}}};
  setup_clone_data(d);
  // Expected, from the genotype model's own probabilities.
  auto single = [](int4 l, int4 a, int4 b) {
    const int4 g[2] = {a, b};
    real8 p = 0.0;
    probsinglegtype(0.0, 2, l, g, p);
    return std::log(p);
  };
  const real8 rows[3][3] = {{1.0, 0.0, 0.0}, {0.25, 0.5, 0.25}, {0.0, 0.5, 0.5}};
  real8 lh[3];
  for (int h = 0; h < 3; ++h) {
    const real8 delta[9] = {0, 0, 0, 0, 0, 0, rows[h][0], rows[h][1], rows[h][2]};
    const std::span<const real8, 9> dl(delta, 9);
    lh[h] = std::log(prbpdyad(1, 2, 1, 2, dl, 1, 0)) + std::log(prbpdyad(1, 3, 1, 4, dl, 2, 0)) +
            single(3, 2, 2);
  }
  const real8 lu =
      single(1, 1, 2) + single(2, 1, 3) + single(3, 2, 2) + single(1, 1, 2) + single(2, 1, 4);
  const real8 m = std::max({lh[0], lh[1], lh[2], lu});
  const real8 pshare = std::exp(lh[0] - m) / (std::exp(lh[0] - m) + std::exp(lh[1] - m) +
                                              std::exp(lh[2] - m) + std::exp(lu - m));
  // Two common loci, one mismatching.
  const real8 f = std::pow(1.0 - 1.1 / 2.1, 16);
  const real4 value = static_cast<real4>(std::min(pshare, f));
  real8 prob = 0.0;
  singlecloneprb(1, prob);
  EXPECT_EQ(prob, 1.0 - static_cast<real8>(value));
  singlecloneprb(2, prob);
  EXPECT_NEAR(prob, 1.0 - static_cast<real8>(value), 1e-7);
}

// The sweep over pairs equals the per-offspring computation: exactly for the lowest
// offspring (the focal member of all its pairs in both), and within e^-20 for the others,
// whose pairs with lower-numbered partners may be rejected early with the other member as
// the focal (a value below e^-20 either way).
TEST_F(CloneTest, SweepEqualsPerOffspringComputation) {
  CloneData d;
  d.loci = {{5, false, 0.02, 0.02, {0.3, 0.25, 0.2, 0.15, 0.1}},
            {2, false, 0.02, 0.02, {0.5, 0.5}},
            {4, false, 0.02, 0.02, {0.4, 0.3, 0.2, 0.1}},
            {2, false, 0.02, 0.02, {0.7, 0.3}}};
  // Offspring 2 and 5 look alike at every locus; 4 is untyped at locus 1.
  d.off = {{{1, 2}, {2, 3}, {1, 5}, {0, 0}, {2, 3}, {4, 4}, {1, 3}, {2, 5}},
           {{1, 2}, {1, 1}, {2, 2}, {1, 2}, {1, 1}, {1, 2}, {2, 2}, {1, 1}},
           {{1, 1}, {2, 4}, {3, 4}, {1, 2}, {2, 4}, {1, 3}, {2, 2}, {1, 4}},
           {{1, 1}, {1, 2}, {2, 2}, {1, 1}, {1, 2}, {1, 1}, {1, 2}, {2, 2}}};
  setup_clone_data(d);
  // podyadlogl3 as the clone inference sets it up: 15 + 10 genotypes per hypothesis.
  Simuvariables& sv = simuvariables;
  sv.podyadloc.allocate(Dim(2));
  sv.podyadloc(1) = 0;
  sv.podyadloc(2) = 15;
  sv.podyadlogl3.allocate(Dim(75));
  std::vector<char> flagged(9, 0);
  for (int i : {1, 2, 4, 6, 8}) flagged[static_cast<std::size_t>(i)] = 1;
  std::vector<real8> sweep(9, -1.0);
  int4 counter = 0;
  clone_detail::single_clone_sweep(flagged, sweep, counter, 1);
  for (int i = 1; i <= 8; ++i) {
    SCOPED_TRACE(i);
    if (flagged[static_cast<std::size_t>(i)] == 0) {
      EXPECT_EQ(sweep[static_cast<std::size_t>(i)], -1.0);
      continue;
    }
    real8 direct = 0.0;
    singlecloneprb(i, direct);
    if (i == 1) {
      EXPECT_EQ(sweep[1], direct);
    } else {
      EXPECT_NEAR(sweep[static_cast<std::size_t>(i)], direct, 2.1e-9);
    }
  }
  // The near-replicates: offspring 2's clone share is large.
  EXPECT_LT(sweep[2], 0.5);
}

}  // namespace
}  // namespace kinrad::test
