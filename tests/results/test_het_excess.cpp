// Ne from heterozygote excess. Genotypes are read and prepared by the input phase from project
// files; the per-locus excess D of each case is worked out by hand below, and the estimate and
// interval follow by hand from the D values. The interval table replays the closing formulas in
// plain code with the quantile written out per row.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "results/ne_fixture.hpp"
#include "results/ne_internal.hpp"

namespace kinrad::netest {
namespace {

using HetTest = NeTest;

// A project of codominant loci (all error free) with the given offspring lines.
Project codominant(int4 loci, std::vector<std::string> offspring) {
  Project p;
  p.loci = loci;
  std::string zeros;
  for (int4 l = 0; l < loci; ++l) zeros += "0 ";
  p.markertypes = zeros;
  p.droprates = zeros;
  p.otherrates = zeros;
  p.offspring = std::move(offspring);
  return p;
}

struct Estimate {
  int4 ne;
  std::array<int4, 2> ci;
};

Estimate run() {
  Estimate e{};
  heterozygoteexcess(e.ne, e.ci);
  return e;
}

TEST_F(HetTest, TwoLociByHandWithAnAlleleSeenOnlyInHomozygotes) {
  // N = 7 (O7 untyped at locus 1 still counts), c = 28/13.
  // Locus 1: allele 1 count 2, het 2; allele 2 count 5, het 3; allele 3 only in O6's
  // homozygote (takes no part); allele 4 count 3, het 3; T = 12.
  //   H/((1-p)p c) - 1: 936/980 - 1, 5616/6860 - 1, 624/588 - 1; D1 = -0.0550049.
  // Locus 2: five 1/2 and two 2/2: both alleles give 12740/8820 - 1, D2 = 4/9.
  // D = 0.194720: ne = nint(0.5/1.194720 + 0.5/0.194720) = nint(2.98630) = 3.
  // Per-locus inverse estimates -0.116809 and 0.679739: s = 0.355996, t(1) = 12.71,
  // e = 3.19945 > 1/3: upper bound infinite; lower nint(1/3.53279) = 0.
  // (Counting allele 3 would give ne = 7; counting only typed offspring in N would give 2.)
  ASSERT_TRUE(load(codominant(2, {"O1 2 4 1 2", "O2 2 4 1 2", "O3 2 2 1 2", "O4 1 4 2 2",
                                  "O5 1 2 1 2", "O6 3 3 2 2", "O7 0 0 1 2"})));
  const Estimate e = run();
  EXPECT_EQ(e.ne, 3);
  EXPECT_EQ(e.ci, (std::array<int4, 2>{0, 2147483647}));
}

TEST_F(HetTest, OneLocusUsesTheFirstQuantile) {
  // N = 6: two 1/2 and four 2/2. c = 24/11; both alleles give 1.1 - 1: D = 0.1.
  // ne = nint(0.5/1.1 + 5) = 5; inverse 2/(1/1.1 + 10) = 0.183333, s = 0.0799305,
  // e = s * 12.71 = 1.01592: lower nint(1/1.21592) = 1, upper infinite (4.303 would give 2).
  ASSERT_TRUE(load(codominant(1, {"O1 1 2", "O2 1 2", "O3 2 2", "O4 2 2", "O5 2 2", "O6 2 2"})));
  const Estimate e = run();
  EXPECT_EQ(e.ne, 5);
  EXPECT_EQ(e.ci, (std::array<int4, 2>{1, 2147483647}));
}

TEST_F(HetTest, DegenerateSamplesGiveTheInfiniteSize) {
  struct Row {
    std::string name;
    Project project;
    Estimate expected;
  };
  Project dominant;
  dominant.loci = 2;
  dominant.markertypes = "1 1";
  dominant.droprates = "0 0";
  dominant.otherrates = "0 0";
  dominant.offspring = {"O1 1 2", "O2 2 1", "O3 1 1", "O4 2 2"};
  Project mixed = dominant;
  mixed.markertypes = "0 1";
  mixed.offspring = {"O1 5 5 1", "O2 5 5 2", "O3 5 5 1", "O4 0 0 2"};
  const Row rows[] = {
      {"only dominant loci", dominant, {2147483647, {0, 2147483647}}},
      {"a monomorphic codominant locus beside a dominant one",
       mixed,
       {2147483647, {0, 2147483647}}},
      // One 1/1, two 1/2, three 2/2 (N = 6): D = -0.3125, a mild deficit.
      {"-0.5 < D < 0",
       codominant(1, {"O1 1 1", "O2 1 2", "O3 1 2", "O4 2 2", "O5 2 2", "O6 2 2"}),
       {2147483647, {0, 2147483647}}},
      // One 1/2, five 2/2: D = 0 up to rounding: 0.5/D has no finite value.
      {"D = 0",
       codominant(1, {"O1 1 2", "O2 2 2", "O3 2 2", "O4 2 2", "O5 2 2", "O6 2 2"}),
       {2147483647, {0, 2147483647}}},
      // Two 1/1, one 1/2, three 2/2: D = -0.685714; ne = nint(1.590909 - 0.729167) = 1;
      // inverse 1.16043, s = 0.588744, e = 7.48294 > 1: (0, infinite).
      {"D below -0.5",
       codominant(1, {"O1 1 1", "O2 1 1", "O3 1 2", "O4 2 2", "O5 2 2", "O6 2 2"}),
       {1, {0, 2147483647}}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ASSERT_TRUE(load(r.project));
    const Estimate e = run();
    EXPECT_EQ(e.ne, r.expected.ne);
    EXPECT_EQ(e.ci, r.expected.ci);
  }
}

// The interval as the formulas give it, with the quantile t given.
std::array<int4, 2> plain_interval(int4 loci, real8 d, real8 s, real8 t) {
  const real8 ne = std::floor(0.5 / (1 + d) + 0.5 / d + 0.5);
  const real8 m1 = 1 / ne;
  const real8 e = s / std::sqrt(static_cast<real8>(loci)) * t;
  return {static_cast<int4>(std::floor(1 / (m1 + e) + 0.5)),
          static_cast<int4>(std::floor(1 / (m1 - e) + 0.5))};
}

TEST(HetInterval, QuantileByNumberOfLoci) {
  // D = 4e-7 at every locus: ne = nint(0.4999998 + 1250000) = 1250000, m1 = 8e-7; the spread
  // s = f * m1 is set through the sum of squares L (m1^2 + s^2). Each row also shows that the
  // neighbouring quantiles give other bounds, so the row pins the quantile used.
  struct Row {
    int4 loci;
    real8 f;
    real4 t;
    std::vector<real4> others;
  };
  const Row rows[] = {
      {1, 0.05, 12.71f, {4.303f}},        {2, 0.1, 12.71f, {4.303f}},
      {3, 0.3, 4.303f, {12.71f, 3.182f}}, {41, 0.3, 2.021f, {2.023f, 2.020f}},
      {51, 0.3, 2.009f, {2.010f, 1.96f}}, {52, 0.3, 1.96f, {2.009f}},
      {100, 0.3, 1.96f, {2.009f}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.loci);
    const real8 d = 4e-7;
    const real8 m1 = 1.0 / 1250000;
    const real8 s = r.f * m1;
    int4 ne = 0;
    std::array<int4, 2> ci{};
    heterozygote_interval(r.loci, r.loci * d, r.loci * (m1 * m1 + s * s), ne, ci);
    EXPECT_EQ(ne, 1250000);
    const auto want = plain_interval(r.loci, d, s, r.t);
    EXPECT_EQ(ci, want);
    for (const real4 other : r.others) EXPECT_NE(plain_interval(r.loci, d, s, other), want);
  }
}

TEST(HetInterval, UpperBoundInfiniteWhenTheIntervalReachesZero) {
  // ne = 1250000 as above; s = m1 with 4 loci and t(3) = 3.182: e = m1 * 1.591 > m1.
  const real8 m1 = 1.0 / 1250000;
  int4 ne = 0;
  std::array<int4, 2> ci{};
  heterozygote_interval(4, 4 * 4e-7, 4 * (2 * m1 * m1), ne, ci);
  EXPECT_EQ(ne, 1250000);
  EXPECT_EQ(ci[1], 2147483647);
  // Lower bound 1/(m1 (1 + 1.591)) = 482,440 (1/(2.591 * 8e-7) = 482,439.6).
  EXPECT_EQ(ci[0], static_cast<int4>(std::floor(1 / (m1 + m1 / 2 * 3.182f) + 0.5)));
  // No locus used.
  heterozygote_interval(0, 0.0, 0.0, ne, ci);
  EXPECT_EQ(ne, 2147483647);
  EXPECT_EQ(ci, (std::array<int4, 2>{0, 2147483647}));
}

}  // namespace
}  // namespace kinrad::netest
