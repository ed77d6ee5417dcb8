// The likelihood corrections of the full-sib family probabilities. The archive holds the best
// configuration alone, so that both shares start at 1 and the probabilities are the
// corrections themselves. Every trial family is described independently to the brute-force
// oracle (a sum over every genotype of the family's parents) and its sibship-size prior term is
// written here with the C library's lgamma.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/oracle.hpp"
#include "results/fs_family_prob_internal.hpp"
#include "results/results_internal.hpp"
#include "support/archive_builder.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using oracle::Cluster;
using oracle::Family;
using oracle::Parent;

double gamma_prior(int n) {
  const double c = std::lgamma(2.25) + std::lgamma(1.5) - std::lgamma(1.25) - std::lgamma(0.25);
  return (c + std::lgamma(n + 0.25) - std::lgamma(n + 2.5)) * n * 0.125;
}

// Four offspring that can be full sibs of the candidate father 1 (1/2, 2/3, 1/2) and an
// unsampled mother (1/3, 1/2, 1/2) at three loci of three alleles, with or without typing
// errors.
Cluster sample(bool errors) {
  Cluster c;
  const double d = errors ? 0.02 : 0.0, e = errors ? 0.01 : 0.0;
  c.loci.assign(3, oracle::Locus{false, 3, {0.5, 0.3, 0.2}, d, e});
  Parent father;
  father.candidate = 1;
  father.genotype = {{1, 2}, {2, 3}, {1, 2}};
  c.fathers = {father};
  c.mothers = {Parent{}};
  c.families = {Family{1, 1, {1, 2, 3, 4}}};
  c.offspring = {{{1, 1}, {1, 2}, {1, 1}},
                 {{1, 3}, {2, 2}, {1, 2}},
                 {{1, 2}, {1, 3}, {2, 2}},
                 {{2, 3}, {2, 3}, {1, 2}}};
  c.offploid = {2, 2, 2, 2};
  return c;
}

// ln L of the described families (every parent unsampled unless given) plus the prior term of
// their s offspring.
double described(const Cluster& base, std::vector<Parent> fathers, std::vector<Parent> mothers,
                 std::vector<Family> families) {
  Cluster c = base;
  c.fathers = std::move(fathers);
  c.mothers = std::move(mothers);
  c.families = std::move(families);
  int s = 0;
  for (const Family& f : c.families) s += static_cast<int>(f.members.size());
  const double l = oracle::total_logl(c);
  EXPECT_GT(l, -1e300);
  return l + gamma_prior(s);
}

class FsFamilyCorrections : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    dir_.emplace("fsfamilycorrections");
    base_ = sample(GetParam());
    const oracle::Built b = oracle::build(base_);
    ASSERT_TRUE(b.ok) << b.error;
    oracle::exact_mode();
    auto& v = variables;
    v.priortype = 0;
    v.displayq = 0;
    if (!v.offtgt.allocated()) v.offtgt.allocate(Dim(v.smplsize), Dim(3));
    if (!v.prnttgt.allocated()) v.prnttgt.allocate(Dim(v.smplsize), Dim(2));
    if (!v.indivparent.allocated()) v.indivparent.allocate(Dim(v.smplsize), Dim(2));
    for (int4 i = 1; i <= v.smplsize; ++i) v.indivparent(i, 1) = v.indivparent(i, 2) = -1;
    v.numknownprnt = {};
  }
  void TearDown() override { reset_all_modules(); }

  // Probabilities of the families of the best configuration (one record), in order of their
  // smallest member.
  std::pair<std::vector<real8>, std::vector<real8>> run(std::vector<int4> fam1,
                                                        std::vector<int4> fam2,
                                                        FsFamilyCounts* counts = nullptr) {
    testing_support::set_archive({{-10.0, std::move(fam1), std::move(fam2)}});
    const int4 n = variables.smplsize;
    FArray<real8, 1> inc{Dim(n)}, exc{Dim(n)};
    std::array<real8, 3> self{};
    const FsFamilyCounts c = findfsfamilyprob_counted(inc, exc, self);
    if (counts != nullptr) *counts = c;
    // The trial families leave every offspring without parents.
    for (int4 i = 1; i <= n; ++i) {
      EXPECT_EQ(variables.inferparent(i, 1), 0);
      EXPECT_EQ(variables.inferparent(i, 2), 0);
    }
    return {std::vector<real8>(inc.data(), inc.data() + n),
            std::vector<real8>(exc.data(), exc.data() + n)};
  }

  void known(int4 i, int4 sex, int4 cand) {
    variables.indivparent(i, sex) = cand;
    variables.numknownprnt(sex) = 1;
  }

  std::optional<testing_support::TempWorkDir> dir_;
  Cluster base_;
};

const Parent unsampled{};

// The split of the family {1,2,3} with two fathers and a shared mother, each member off in
// turn: 1 / (1 + sum of exp(LS - LF)).
double split_factor(const Cluster& b) {
  const double lf = described(b, {unsampled}, {unsampled}, {Family{1, 1, {1, 2, 3}}});
  double sum = 0.0;
  const std::vector<std::pair<int, std::vector<int>>> splits = {
      {1, {2, 3}}, {2, {1, 3}}, {3, {1, 2}}};
  for (const auto& [k, rest] : splits)
    sum += std::exp(
        described(b, {unsampled, unsampled}, {unsampled}, {Family{1, 1, {k}}, Family{2, 1, rest}}) -
        lf);
  return 1.0 / (1.0 + sum);
}

// Best: {1,2,3} of father 1 and mother 1; offspring 4 a maternal half sib (father 2). The
// family {1,2,3} gets the split factor on both probabilities and, with n - s = 1, the join
// factor 0.9/(1 + q) + 0.1/(q + 1) on the exclusive one. The family {4} has no split; its three
// outsiders are maternal half sibs, each scored joined and apart.
TEST_P(FsFamilyCorrections, SplitAndJoinFactors) {
  const auto [inc, exc] = run({1, 1, 1, 2}, {1, 1, 1, 1});
  const double split = split_factor(base_);
  const double lp = described(base_, {unsampled, unsampled}, {unsampled},
                              {Family{1, 1, {1, 2, 3}}, Family{2, 1, {4}}});
  const double lj = described(base_, {unsampled}, {unsampled}, {Family{1, 1, {1, 2, 3, 4}}});
  const double q = std::min(std::exp(lj - lp), 1.0);
  EXPECT_NEAR(inc[0], split, 1e-8);
  EXPECT_NEAR(exc[0], split * (0.9 / (1.0 + q) + 0.1 / (q + 1.0)), 1e-8);

  double p = 1.0, sumq = 0.0;
  for (int i = 1; i <= 3; ++i) {
    const double lpi = described(base_, {unsampled, unsampled}, {unsampled},
                                 {Family{1, 1, {4}}, Family{2, 1, {i}}});
    const double lji = described(base_, {unsampled}, {unsampled}, {Family{1, 1, {4, i}}});
    const double qi = std::min(std::exp(lji - lpi), 1.0);
    sumq += qi;
    p /= 1.0 + qi;
  }
  EXPECT_EQ(inc[1], 1.0);
  EXPECT_NEAR(exc[1], 0.9 * p + 0.1 * 3.0 / (sumq + 3.0), 1e-8);
}

// All offspring in one family: the split factor applies, the join factor does not.
TEST_P(FsFamilyCorrections, NoJoinFactorWhenTheFamilyHoldsEveryone) {
  FsFamilyCounts counts;
  const auto [inc, exc] = run({1, 1, 1, 1}, {1, 1, 1, 1}, &counts);
  const double lf = described(base_, {unsampled}, {unsampled}, {Family{1, 1, {1, 2, 3, 4}}});
  double sum = 0.0;
  for (int k = 1; k <= 4; ++k) {
    std::vector<int> rest;
    for (int m = 1; m <= 4; ++m)
      if (m != k) rest.push_back(m);
    sum += std::exp(described(base_, {unsampled, unsampled}, {unsampled},
                              {Family{1, 1, {k}}, Family{2, 1, rest}}) -
                    lf);
  }
  EXPECT_NEAR(inc[0], 1.0 / (1.0 + sum), 1e-8);
  EXPECT_NEAR(exc[0], inc[0], 1e-15);
  EXPECT_EQ(counts.splits, 4);
  EXPECT_EQ(counts.joins, 0);
}

// Both sexes monogamous: no split (no free side); an outsider that is no half sib is scored
// apart as the family plus the outsider alone, LP = LF + L1.
TEST_P(FsFamilyCorrections, DoubleMonogamyJoinsAgainstTheFamilyPlusTheOutsiderAlone) {
  auto& v = variables;
  v.monogamy(1) = v.monogamy(2) = 1;
  v.anymonogamy = v.allmonogamy = 1;
  FsFamilyCounts counts;
  const auto [inc, exc] = run({1, 1, 1, 2}, {1, 1, 1, 2}, &counts);
  EXPECT_EQ(counts.splits, 0);
  const double lf = described(base_, {unsampled}, {unsampled}, {Family{1, 1, {1, 2, 3}}});
  auto alone = [&](int i) {
    return described(base_, {unsampled}, {unsampled}, {Family{1, 1, {i}}});
  };
  const double lj = described(base_, {unsampled}, {unsampled}, {Family{1, 1, {1, 2, 3, 4}}});
  const double q = std::min(std::exp(lj - (lf + alone(4))), 1.0);
  EXPECT_EQ(inc[0], 1.0);
  EXPECT_NEAR(exc[0], 1.0 / (1.0 + q), 1e-8);
  double p = 1.0, sumq = 0.0;
  for (int i = 1; i <= 3; ++i) {
    const double lji = described(base_, {unsampled}, {unsampled}, {Family{1, 1, {4, i}}});
    const double qi = std::min(std::exp(lji - (alone(4) + alone(i))), 1.0);
    sumq += qi;
    p /= 1.0 + qi;
  }
  EXPECT_NEAR(exc[1], 0.9 * p + 0.1 * 3.0 / (sumq + 3.0), 1e-8);
}

// A known father (candidate 1) carried only by the joining outsider 4 is the father of the
// joined family, and of the outsider's own family when scored apart.
TEST_P(FsFamilyCorrections, AJoiningOutsidersKnownParentEntersTheJoinedFamily) {
  known(4, 1, 1);
  const auto [inc, exc] = run({1, 1, 1, 2}, {1, 1, 1, 1});
  const Parent father = base_.fathers[0];
  const double split = split_factor(base_);
  const double lp = described(base_, {unsampled, father}, {unsampled},
                              {Family{1, 1, {1, 2, 3}}, Family{2, 1, {4}}});
  const double lj = described(base_, {father}, {unsampled}, {Family{1, 1, {1, 2, 3, 4}}});
  const double q = std::min(std::exp(lj - lp), 1.0);
  EXPECT_NEAR(inc[0], split, 1e-8);
  EXPECT_NEAR(exc[0], split / (1.0 + q), 1e-8);
}

// A member's known father fixes the father side: only outsiders with the same known father are
// considered for joining, and the split shares the father (two mothers).
TEST_P(FsFamilyCorrections, KnownParentFilterOfTheJoin) {
  known(1, 1, 1);
  FsFamilyCounts counts;
  const auto [inc, exc] = run({1, 1, 1, 2}, {1, 1, 1, 1}, &counts);
  const Parent father = base_.fathers[0];
  const double lf = described(base_, {father}, {unsampled}, {Family{1, 1, {1, 2, 3}}});
  double sum = 0.0;
  const std::vector<std::pair<int, std::vector<int>>> splits = {
      {1, {2, 3}}, {2, {1, 3}}, {3, {1, 2}}};
  for (const auto& [k, rest] : splits)
    sum += std::exp(described(base_, {father}, {unsampled, unsampled},
                              {Family{1, 1, {k}}, Family{1, 2, rest}}) -
                    lf);
  EXPECT_NEAR(inc[0], 1.0 / (1.0 + sum), 1e-8);
  // Offspring 4 has no known father: not considered, the join factor is 0.9 + 0.1 = 1.
  EXPECT_NEAR(exc[0], inc[0], 1e-15);
}

// A known father and a known mother among the members: neither correction.
TEST_P(FsFamilyCorrections, BothParentsKnownGivesTheShares) {
  auto& v = variables;
  known(1, 1, 1);
  // The mother is unsampled in the data; the family is never scored with her, so naming
  // candidate 1 of sex 2 as a known mother only fixes the side.
  v.indivparent(2, 2) = 1;
  v.numknownprnt(2) = 1;
  FsFamilyCounts counts;
  const auto [inc, exc] = run({1, 1, 1, 2}, {1, 1, 1, 1}, &counts);
  EXPECT_EQ(inc[0], 1.0);
  EXPECT_EQ(exc[0], 1.0);
}

// The genotype screen of the join at more than 89 loci of more than two alleles: an outsider
// placed as a half sib that agrees with the family's representative at fewer than
// T x (0.25 - 0.5 / A) of the T loci typed in both (here 90 x (0.25 - 0.5/3) = 7.5) is skipped
// without scoring; one that agrees everywhere is scored. Offspring 1 and 2 are full sibs,
// 4 agrees with 1 at every locus and 3 with nobody. Families {1,2}, {3}, {4} share the mother:
// {1,2} skips 3 and scores 4; {3} skips all three; {4} scores 1 and skips 2 and 3. With 89
// loci nothing is skipped.
TEST(FsFamilyScreen, SkipsOutsidersThatAgreeTooRarely) {
  for (const int loci : {90, 89}) {
    SCOPED_TRACE(loci);
    testing_support::TempWorkDir dir("fsfamilyscreen");
    Cluster c;
    c.loci.assign(static_cast<std::size_t>(loci),
                  oracle::Locus{false, 3, {0.4, 0.3, 0.3}, 0.0, 0.0});
    c.fathers = {Parent{}};
    c.mothers = {Parent{}};
    c.families = {Family{1, 1, {1, 2}}};
    const std::vector<oracle::Genotype> g11(static_cast<std::size_t>(loci), {1, 1});
    const std::vector<oracle::Genotype> g12(static_cast<std::size_t>(loci), {1, 2});
    const std::vector<oracle::Genotype> g23(static_cast<std::size_t>(loci), {2, 3});
    c.offspring = {g11, g12, g23, g11};
    c.offploid = {2, 2, 2, 2};
    const oracle::Built b = oracle::build(c);
    ASSERT_TRUE(b.ok) << b.error;
    auto& v = variables;
    ASSERT_EQ(v.locus3(0), loci);
    v.displayq = 0;
    if (!v.offtgt.allocated()) v.offtgt.allocate(Dim(v.smplsize), Dim(3));
    if (!v.prnttgt.allocated()) v.prnttgt.allocate(Dim(v.smplsize), Dim(2));
    testing_support::set_archive({{-10.0, {1, 1, 2, 3}, {1, 1, 1, 1}}});
    FArray<real8, 1> inc{Dim(4)}, exc{Dim(4)};
    std::array<real8, 3> self{};
    const FsFamilyCounts counts = findfsfamilyprob_counted(inc, exc, self);
    EXPECT_EQ(counts.screened, loci == 90 ? 6 : 0);
    EXPECT_EQ(counts.separate, loci == 90 ? 2 : 8);
    EXPECT_EQ(counts.joins, counts.separate);
    reset_all_modules();
  }
}

INSTANTIATE_TEST_SUITE_P(ErrorFreeAndWithErrors, FsFamilyCorrections, ::testing::Bool());

}  // namespace
}  // namespace kinrad
