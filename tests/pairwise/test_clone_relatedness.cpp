// Pair relatedness from genotypes and the per-locus weights of the clone inference, against
// values worked out by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/modules/simuvariables.hpp"
#include "pairwise/clone_fixture.hpp"
#include "pairwise/clone_internal.hpp"
#include "pairwise/clones.hpp"

namespace kinrad::test {
namespace {

// Three loci: codominant with 3 alleles, codominant with 2, dominant.
// lynchwgt by hand: 2(.25 + .09 + .04) - (.125 + .027 + .008) = 0.60;
// 2(.36 + .16) - (.216 + .064) = 0.76; dominant .7^2 - .7^4 = .49 - .2401 = 0.2499.
std::vector<LocusSpec> three_loci() {
  return {{3, false, 0.01, 0.01, {0.5, 0.3, 0.2}},
          {2, false, 0.01, 0.01, {0.6, 0.4}},
          {2, true, 0.0, 0.01, {0.3, 0.7}}};
}

// r of offspring 1 (in firstg) with offspring 2.
real8 r_of_pair() {
  const int4 members[2] = {1, 2};
  setsecondg(members, 2);
  Simuvariables& sv = simuvariables;
  sv.firstg.allocate(Dim(2), Dim(variables.numloci));
  for (int4 l = 1; l <= variables.numloci; ++l) {
    sv.firstg(1, l) = sv.secondg(1, l, 1);
    sv.firstg(2, l) = sv.secondg(2, l, 1);
  }
  return r_li_lynch(2);
}

TEST_F(CloneTest, LynchWeightsByHand) {
  CloneData d;
  d.loci = three_loci();
  d.off = {{{1, 1}}, {{1, 1}}, {{1, 0}}};
  setup_clone_data(d);
  clone_detail::set_lynch_weights();
  EXPECT_NEAR(simuvariables.lynchwgt(1), 0.60, 1e-15);
  EXPECT_NEAR(simuvariables.lynchwgt(2), 0.76, 1e-15);
  EXPECT_NEAR(simuvariables.lynchwgt(3), 0.2499, 1e-15);
}

struct RCase {
  std::string name;
  std::vector<std::vector<Genotype>> off;  // [locus][offspring 1, 2]
  real8 expected;
};

TEST_F(CloneTest, RelatednessByHand) {
  const real8 w1 = 0.60;
  const real8 w12 = 0.60 + 0.76;
  const std::vector<RCase> cases = {
      // Identical at both codominant loci: (2 - W) / (2 - W) = 1 since W = 1.36 < 2.
      {"identical genotypes", {{{1, 2}, {1, 2}}, {{1, 1}, {1, 1}}, {{0, 0}, {0, 0}}}, 1.0},
      // Offspring 1 typed only at locus 1, offspring 2 only at locus 2.
      {"no common typed locus", {{{1, 2}, {0, 0}}, {{0, 0}, {1, 1}}, {{1, 0}, {0, 0}}}, 0.0},
      // Locus 1 alone (W = 0.60): S = 0.75, 0.5 or 0.
      {"homozygote inside a heterozygote",
       {{{1, 1}, {1, 3}}, {{0, 0}, {0, 0}}, {{0, 0}, {0, 0}}},
       (0.75 - w1) / (1.0 - w1)},
      {"heterozygotes sharing one allele",
       {{{1, 2}, {2, 3}}, {{0, 0}, {0, 0}}, {{0, 0}, {0, 0}}},
       (0.5 - w1) / (1.0 - w1)},
      {"different homozygotes",
       {{{1, 1}, {3, 3}}, {{0, 0}, {0, 0}}, {{0, 0}, {0, 0}}},
       (0.0 - w1) / (1.0 - w1)},
      {"homozygote outside a heterozygote",
       {{{1, 1}, {2, 3}}, {{0, 0}, {0, 0}}, {{0, 0}, {0, 0}}},
       (0.0 - w1) / (1.0 - w1)},
      // Dominant locus alone, phenotypes differ: 1 - 1 / (2 x 0.2499).
      {"dominant locus only",
       {{{0, 0}, {0, 0}}, {{0, 0}, {0, 0}}, {{1, 0}, {2, 0}}},
       1.0 - 1.0 / (2.0 * 0.2499)},
      // Mixed: S = 0.75 and 1 (sum 1.75, W = 1.36, 5 alleles), rc = 0.39 / 0.64; dominant
      // part 1 - 1 / 0.4998 over one locus; weighted (1 x rd + 5 x rc) / 6.
      {"codominant and dominant",
       {{{1, 1}, {1, 2}}, {{1, 2}, {1, 2}}, {{1, 0}, {2, 0}}},
       ((1.0 - 1.0 / (2.0 * 0.2499)) + 5.0 * ((1.75 - w12) / (2.0 - w12))) / 6.0},
  };
  for (const RCase& c : cases) {
    SCOPED_TRACE(c.name);
    reset_all_modules();
    CloneData d;
    d.loci = three_loci();
    d.off = c.off;
    setup_clone_data(d);
    clone_detail::set_lynch_weights();
    EXPECT_NEAR(r_of_pair(), c.expected, 1e-12);
  }
}

// A locus where every pair looks alike by chance (weight 1 = number of loci) carries no
// information: r is 0 rather than a division by zero.
TEST_F(CloneTest, RelatednessWithoutChanceCorrectionIsZero) {
  CloneData d;
  d.loci = {{2, false, 0.01, 0.01, {1.0, 0.0}}};
  d.off = {{{1, 1}, {1, 1}}};
  setup_clone_data(d);
  clone_detail::set_lynch_weights();
  ASSERT_EQ(simuvariables.lynchwgt(1), 1.0);
  EXPECT_EQ(r_of_pair(), 0.0);
}

// secondg is resized to the number of members it is given and holds their alleles.
TEST_F(CloneTest, SecondGenotypesFollowTheMembers) {
  CloneData d;
  d.loci = three_loci();
  d.off = {{{1, 2}, {2, 3}, {3, 3}}, {{1, 1}, {1, 2}, {0, 0}}, {{1, 0}, {2, 0}, {1, 0}}};
  setup_clone_data(d);
  const int4 members[2] = {3, 1};
  setsecondg(members, 2);
  const Simuvariables& sv = simuvariables;
  ASSERT_EQ(sv.secondg.size(3), 2);
  EXPECT_EQ(sv.secondg(1, 1, 1), 3);
  EXPECT_EQ(sv.secondg(2, 1, 1), 3);
  EXPECT_EQ(sv.secondg(1, 2, 1), 0);
  EXPECT_EQ(sv.secondg(1, 1, 2), 1);
  EXPECT_EQ(sv.secondg(2, 1, 2), 2);
  EXPECT_EQ(sv.secondg(1, 3, 2), 1);
}

// Loci of more than two alleles first (error-free before error-prone, each by falling
// heterozygosity), then the others the same way. Heterozygosities by hand: 1 - sum p^2.
TEST_F(CloneTest, LocusOrderKeys) {
  CloneData d;
  d.loci = {{2, false, 0.0, 0.0, {0.5, 0.5}},                // 50, error-free, two alleles
            {3, false, 0.01, 0.0, {0.5, 0.3, 0.2}},          // 62, error-prone
            {4, false, 0.0, 0.0, {0.25, 0.25, 0.25, 0.25}},  // 75, error-free
            {3, false, 0.0, 0.0, {0.8, 0.1, 0.1}},           // 34, error-free
            {2, false, 0.02, 0.02, {0.9, 0.1}}};             // 18, error-prone, two alleles
  d.off = {{{1, 1}}, {{1, 1}}, {{1, 1}}, {{1, 1}}, {{1, 1}}};
  setup_clone_data(d);
  clone_detail::set_clone_locus_order();
  const std::vector<int4> expected = {3, 4, 2, 1, 5};
  for (int4 k = 1; k <= 5; ++k) EXPECT_EQ(variables.locusorder(k), expected[k - 1]) << k;
}

}  // namespace
}  // namespace kinrad::test
