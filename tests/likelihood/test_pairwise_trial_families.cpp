// The trial families the pairwise sibship step scores for offspring with known parents: each
// equals the brute-force sum of the oracle over every genotype of the family's parents (the
// family described independently, with the known parent as the candidate of its role) plus the
// sibship-size prior term computed from the C library's lgamma.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/oracle.hpp"
#include "pairwise/pairwise_internal.hpp"
#include "support/module_reset.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

double gamma_prior(int n) {
  const double c = std::lgamma(2.25) + std::lgamma(1.5) - std::lgamma(1.25) - std::lgamma(0.25);
  return (c + std::lgamma(n + 0.25) - std::lgamma(n + 2.5)) * n * 0.125;
}

class TrialFamilies : public testing_support::ModuleReset {};

// Offspring 1 has father candidate 1 as its known parent; offspring 2 has none. Three loci of
// three alleles; the genotypes are consistent with both offspring being full sibs.
oracle::Cluster sample() {
  oracle::Cluster c;
  c.loci.assign(3, oracle::Locus{false, 3, {0.5, 0.3, 0.2}, 0.0, 0.0});
  oracle::Parent father;
  father.candidate = 1;
  father.known = true;
  father.genotype = {{1, 2}, {2, 3}, {1, 1}};
  c.fathers = {father};
  c.mothers = {oracle::Parent{}};
  c.families = {oracle::Family{1, 1, {1, 2}}};
  c.offspring = {{{1, 3}, {2, 2}, {1, 2}}, {{2, 3}, {3, 1}, {1, 3}}};
  c.offploid = {2, 2};
  return c;
}

double reference(const oracle::Cluster& c, int diploid) {
  return oracle::total_logl(c) + gamma_prior(diploid);
}

TEST_F(TrialFamilies, KnownParentFamiliesEqualTheBruteForceSum) {
  testing_support::TempWorkDir dir("trialfamilies");
  const oracle::Cluster base = sample();
  const oracle::Built b = oracle::build(base);
  ASSERT_TRUE(b.ok) << b.error;
  // The input names the father of both members; only offspring 1 keeps it, so that the
  // trial families must carry it over to offspring 2 where the two share their father.
  ASSERT_EQ(variables.indivparent(1, 1), 1);
  variables.indivparent(2, 1) = -1;
  oracle::exact_mode();
  variables.priortype = 0;

  // Full sibs: the known father of offspring 1 is the father of both.
  const double fs = reference(base, 2);
  // Offspring 1 alone with its known father.
  oracle::Cluster alone = base;
  alone.families = {oracle::Family{1, 1, {1}}};
  const double one = reference(alone, 1);
  // Paternal half sibs: the known father with two unsampled mothers.
  oracle::Cluster paternal = base;
  paternal.mothers = {oracle::Parent{}, oracle::Parent{}};
  paternal.families = {oracle::Family{1, 1, {1}}, oracle::Family{1, 2, {2}}};
  const double ph = reference(paternal, 2);
  // Maternal half sibs: offspring 1 with its known father, offspring 2 with an unsampled one.
  oracle::Cluster maternal = base;
  maternal.fathers = {base.fathers[0], oracle::Parent{}};
  maternal.families = {oracle::Family{1, 1, {1}}, oracle::Family{2, 1, {2}}};
  const double mh = reference(maternal, 2);

  struct Row {
    const char* what;
    Trial kind;
    double want;
  };
  const Row rows[] = {{"full sibs", Trial::fullsibs, fs},
                      {"offspring alone", Trial::alone, one},
                      {"paternal half sibs", Trial::paternal, ph},
                      {"maternal half sibs", Trial::maternal, mh}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    ASSERT_GT(r.want, -1e300);
    const double got = trialfamily(r.kind, 1, 2, 1, -1e300);
    EXPECT_NEAR(got, r.want, oracle::tolerance(r.want) + 1e-9);
    // The parent assignments of the trial family are cleared afterwards.
    EXPECT_EQ(variables.inferparent(1, 1), 0);
    EXPECT_EQ(variables.inferparent(2, 1), 0);
  }
}

// The parentage phase puts a candidate in as an offspring's parent: offspring 2 (no known
// parent) with father candidate 1 is the family of the known father and offspring 2 alone; the
// same family without its prior term is the value a dyad table keeps.
TEST_F(TrialFamilies, CandidatePutInAsTheParent) {
  testing_support::TempWorkDir dir("trialcandidate");
  const oracle::Cluster base = sample();
  const oracle::Built b = oracle::build(base);
  ASSERT_TRUE(b.ok) << b.error;
  variables.indivparent(2, 1) = -1;
  oracle::exact_mode();
  variables.priortype = 0;
  oracle::Cluster alone = base;
  alone.families = {oracle::Family{1, 1, {2}}};
  const double want = oracle::total_logl(alone);
  ASSERT_GT(want, -1e300);
  EXPECT_NEAR(trialfamily(Trial::alone, 2, 2, 2, -1e300, 1, 1), want + gamma_prior(1),
              oracle::tolerance(want) + 1e-9);
  EXPECT_NEAR(trialfamilydyad(Trial::alone, 2, 2, 2, 1, 1), want, oracle::tolerance(want) + 1e-9);
  EXPECT_EQ(variables.inferparent(2, 1), 0);
}

// Two members naming different fathers cannot share one: the families in which they would are
// impossible (-1e300), while those that give each its own father are still scored.
TEST_F(TrialFamilies, DifferentKnownParentsInOneRoleRuleTheFamilyOut) {
  testing_support::TempWorkDir dir("trialconflict");
  const oracle::Built b = oracle::build(sample());
  ASSERT_TRUE(b.ok) << b.error;
  variables.indivparent(2, 1) = 2;
  EXPECT_EQ(trialfamily(Trial::fullsibs, 1, 2, 0, -1e300), -1e300);
  EXPECT_EQ(trialfamily(Trial::paternal, 1, 2, 0, -1e300), -1e300);
}

// Half sibs have different parents in the role they do not share: two members naming one
// father cannot be maternal half sibs (the two father slots would score one man twice), while
// they can still be full or paternal half sibs.
TEST_F(TrialFamilies, OneKnownParentNamedInBothUnsharedSlotsRulesHalfSibsOut) {
  testing_support::TempWorkDir dir("trialsameparent");
  const oracle::Built b = oracle::build(sample());
  ASSERT_TRUE(b.ok) << b.error;
  variables.indivparent(1, 1) = 1;
  variables.indivparent(2, 1) = 1;
  EXPECT_EQ(trialfamily(Trial::maternal, 1, 2, 0, -1e300), -1e300);
  EXPECT_GT(trialfamily(Trial::fullsibs, 1, 2, 0, -1e300), -1e300);
  EXPECT_GT(trialfamily(Trial::paternal, 1, 2, 0, -1e300), -1e300);
}

// A one-sex species with selfing: candidates C1 and C2 from one pool, three loci of three
// alleles. O1 and O2 carry only C1's alleles (each could be selfed by C1); O3 is a child of C1
// and C2. The genotypes fit every family the rows below score.
oracle::Cluster selfingsample(bool selfing) {
  oracle::Cluster c;
  c.numsex = 1;
  c.allowinbreeding = selfing;
  c.loci.assign(3, oracle::Locus{false, 3, {0.5, 0.3, 0.2}, 0.0, 0.0});
  oracle::Parent c1;
  c1.candidate = 1;
  c1.known = true;
  c1.genotype = {{1, 2}, {2, 3}, {1, 3}};
  oracle::Parent c2;
  c2.candidate = 2;
  c2.genotype = {{2, 3}, {1, 2}, {1, 2}};
  c.fathers = {c1};
  c.mothers = {c1, c2};
  c.same = {{1, 1}};
  c.families = {oracle::Family{1, 1, {1, 2}}, oracle::Family{1, 2, {3}}};
  c.offspring = {{{1, 1}, {2, 3}, {3, 3}}, {{1, 2}, {2, 2}, {1, 3}}, {{1, 2}, {2, 2}, {1, 3}}};
  c.offploid = {2, 2, 2};
  if (!selfing) {
    // Without selfing the input cannot name C1 as both parents of O1 and O2.
    c.mothers = {oracle::Parent{}, c2};
    c.same.clear();
  }
  return c;
}

// Independently described families over the sample's parents: `self` lists the (father,
// mother) pairs that are one individual.
oracle::Cluster described(const oracle::Cluster& base, std::vector<oracle::Parent> fathers,
                          std::vector<oracle::Parent> mothers, std::vector<std::array<int, 2>> self,
                          std::vector<oracle::Family> families) {
  oracle::Cluster c = base;
  c.fathers = std::move(fathers);
  c.mothers = std::move(mothers);
  c.same = std::move(self);
  c.families = std::move(families);
  return c;
}

// Every kind of trial family in a selfing species with known parents that make selfed
// families: an offspring whose known father and mother are one candidate, pairs of which one
// member's known parent is selfed and the other's is not, and a full-sib family made selfed by
// a father known to one member and the same candidate known as the other's mother. Each value
// equals the oracle's sum over every genotype of the family's individuals (a selfed parent is
// one individual in both roles, with the inbreeding the selfing-generation estimate gives it,
// which the oracle reads from the engine after the family is scored) plus the gamma prior.
TEST_F(TrialFamilies, SelfedKnownParentFamiliesEqualTheBruteForceSum) {
  testing_support::TempWorkDir dir("trialselfed");
  const oracle::Cluster base = selfingsample(true);
  const oracle::Built b = oracle::build(base);
  ASSERT_TRUE(b.ok) << b.error;
  ASSERT_EQ(variables.numsex, 1);
  ASSERT_EQ(variables.allowinbreeding, 1);
  oracle::exact_mode();
  variables.priortype = 0;
  const oracle::Parent c1 = base.fathers[0], c2 = base.mothers[1], none{};
  using F = oracle::Family;
  const double impossible = -1e300;
  // The oracle's frame of the whole sample set the members' parent rows; trial families start
  // from empty rows as in the pairwise step.
  for (int4 k = 1; k <= 3; ++k) variables.inferparent(k, 1) = variables.inferparent(k, 2) = 0;

  struct Row {
    const char* what;
    std::array<int, 4> known;  // father and mother of O1, father and mother of O2 (0 none)
    Trial kind;
    int x, sex, cand;
    oracle::Cluster family;  // unused when impossible
    int diploid;
    bool possible;
  };
  const Row rows[] = {
      {"O1 alone, selfed by its known parents",
       {1, 1, 1, 0},
       Trial::alone,
       1,
       0,
       0,
       described(base, {c1}, {c1}, {{1, 1}}, {F{1, 1, {1}}}),
       1,
       true},
      {"O2 alone, known father only",
       {1, 1, 1, 0},
       Trial::alone,
       2,
       0,
       0,
       described(base, {c1}, {none}, {}, {F{1, 1, {2}}}),
       1,
       true},
      {"full sibs selfed by O1's parents",
       {1, 1, 1, 0},
       Trial::fullsibs,
       0,
       0,
       0,
       described(base, {c1}, {c1}, {{1, 1}}, {F{1, 1, {1, 2}}}),
       2,
       true},
      {"paternal half sibs, O1 selfed",
       {1, 1, 1, 0},
       Trial::paternal,
       0,
       0,
       0,
       described(base, {c1}, {c1, none}, {{1, 1}}, {F{1, 1, {1}}, F{1, 2, {2}}}),
       2,
       true},
      {"maternal half sibs naming one father twice",
       {1, 1, 1, 0},
       Trial::maternal,
       0,
       0,
       0,
       base,
       2,
       false},
      {"paternal half sibs, O1 selfed, O2's mother C2",
       {1, 1, 0, 2},
       Trial::paternal,
       0,
       0,
       0,
       described(base, {c1}, {c1, c2}, {{1, 1}}, {F{1, 1, {1}}, F{1, 2, {2}}}),
       2,
       true},
      {"maternal half sibs, O1 selfed, O2's father C2",
       {1, 1, 2, 0},
       Trial::maternal,
       0,
       0,
       0,
       described(base, {c1, c2}, {c1}, {{1, 1}}, {F{1, 1, {1}}, F{2, 1, {2}}}),
       2,
       true},
      {"full sibs, father of O1 and mother of O2",
       {1, 0, 0, 1},
       Trial::fullsibs,
       0,
       0,
       0,
       described(base, {c1}, {c1}, {{1, 1}}, {F{1, 1, {1, 2}}}),
       2,
       true},
      {"paternal half sibs, O2 selfed by the shared father",
       {1, 0, 0, 1},
       Trial::paternal,
       0,
       0,
       0,
       described(base, {c1}, {none, c1}, {{1, 2}}, {F{1, 1, {1}}, F{1, 2, {2}}}),
       2,
       true},
      {"maternal half sibs, O1 selfed by the shared mother",
       {1, 0, 0, 1},
       Trial::maternal,
       0,
       0,
       0,
       described(base, {c1, none}, {c1}, {{1, 1}}, {F{1, 1, {1}}, F{2, 1, {2}}}),
       2,
       true},
      {"candidate C1 put in as the father of O2, known mother C1",
       {0, 0, 0, 1},
       Trial::alone,
       2,
       1,
       1,
       described(base, {c1}, {c1}, {{1, 1}}, {F{1, 1, {2}}}),
       1,
       true},
      {"candidate C2 put in as the father of O2, known mother C1",
       {0, 0, 0, 1},
       Trial::alone,
       2,
       1,
       2,
       described(base, {c2}, {c1}, {}, {F{1, 1, {2}}}),
       1,
       true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    for (int4 k = 1; k <= 3; ++k) variables.indivparent(k, 1) = variables.indivparent(k, 2) = -1;
    for (int m = 0; m < 2; ++m)
      for (int s = 0; s < 2; ++s) {
        const int c = r.known[static_cast<size_t>(2 * m + s)];
        variables.indivparent(m + 1, s + 1) = c > 0 ? c : -1;
      }
    const double got = trialfamily(r.kind, 1, 2, r.x, -1e300, r.sex, r.cand);
    if (!r.possible) {
      EXPECT_EQ(got, impossible);
    } else {
      // Read after the family is scored: the oracle takes each selfing parent's inbreeding
      // from the estimate the engine just made.
      const double want = oracle::total_logl(r.family);
      ASSERT_GT(want, -1e300);
      EXPECT_NEAR(got, want + gamma_prior(r.diploid), oracle::tolerance(want, 0, 3) + 1e-9);
    }
    for (int4 k = 1; k <= 2; ++k) {
      EXPECT_EQ(variables.inferparent(k, 1), 0);
      EXPECT_EQ(variables.inferparent(k, 2), 0);
    }
    for (int4 p = 1; p <= 2; ++p) {
      EXPECT_EQ(variables.parentjdx(p, 1), 0);
      EXPECT_EQ(variables.parentjdx(p, 2), 0);
    }
  }
}

// Without selfing one candidate cannot be both parents of a family: such trial families are
// impossible, while those that keep the roles apart are scored as before.
TEST_F(TrialFamilies, OneSexSpeciesWithoutSelfingRulesSelfedFamiliesOut) {
  testing_support::TempWorkDir dir("trialnoself");
  const oracle::Cluster base = selfingsample(false);
  const oracle::Built b = oracle::build(base);
  ASSERT_TRUE(b.ok) << b.error;
  ASSERT_EQ(variables.numsex, 1);
  ASSERT_EQ(variables.allowinbreeding, 0);
  oracle::exact_mode();
  variables.priortype = 0;
  for (int4 k = 1; k <= 3; ++k) variables.indivparent(k, 1) = variables.indivparent(k, 2) = -1;
  variables.indivparent(1, 1) = 1;
  variables.indivparent(2, 2) = 1;
  EXPECT_EQ(trialfamily(Trial::fullsibs, 1, 2, 0, -1e300), -1e300);
  EXPECT_EQ(trialfamily(Trial::paternal, 1, 2, 0, -1e300), -1e300);
  EXPECT_EQ(trialfamily(Trial::maternal, 1, 2, 0, -1e300), -1e300);
  EXPECT_EQ(trialfamily(Trial::alone, 2, 2, 2, -1e300, 1, 1), -1e300);
  // C2 as the father of O2 with its known mother C1: an outcrossed family.
  oracle::Cluster one = base;
  one.fathers = {base.mothers[1]};
  one.mothers = {base.fathers[0]};
  one.families = {oracle::Family{1, 1, {2}}};
  const double want = oracle::total_logl(one);
  ASSERT_GT(want, -1e300);
  EXPECT_NEAR(trialfamily(Trial::alone, 2, 2, 2, -1e300, 1, 2), want + gamma_prior(1),
              oracle::tolerance(want) + 1e-9);
}

}  // namespace
}  // namespace kinrad
namespace kinrad {
namespace {

// The weak sibship-size prior (prior type 1) of the trial families, with the factorial table
// the analysis fills before the pairwise step: -(ln n! + the sum of ln s! over the full-sib
// families) / 16, n and s counting diploid offspring only. By hand: full sibs -(ln 2 + ln 2) / 16,
// half sibs -(ln 2 + 0 + 0) / 16; a family of two sons, or of a son and a daughter, holds at
// most one diploid offspring and gets 0.
TEST_F(TrialFamilies, WeakPriorTermCountsDiploidOffspring) {
  testing_support::TempWorkDir dir("trialfamilies_prior");
  const double ln2 = std::log(2.0);
  struct Row {
    const char* what;
    std::vector<int> ploidy;
    Trial kind;
    double expected;
  };
  const Row rows[] = {
      {"diploid full sibs", {2, 2}, Trial::fullsibs, -2 * ln2 / 16},
      {"diploid paternal half sibs", {2, 2}, Trial::paternal, -ln2 / 16},
      {"diploid maternal half sibs", {2, 2}, Trial::maternal, -ln2 / 16},
      {"two sons, full sibs", {1, 1}, Trial::fullsibs, 0.0},
      {"two sons, maternal half sibs", {1, 1}, Trial::maternal, 0.0},
      {"son and daughter, full sibs", {1, 2}, Trial::fullsibs, 0.0},
      {"son and daughter, maternal half sibs", {1, 2}, Trial::maternal, 0.0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    reset_all_modules();
    oracle::Cluster c = sample();
    c.fathers[0] = oracle::Parent{};
    if (r.ploidy[0] == 1) {
      c.haplodiploid = true;
      c.offploid = r.ploidy;
      for (size_t m = 0; m < 2; ++m)
        if (r.ploidy[m] == 1)
          for (auto& g : c.offspring[m]) g[1] = 0;
    }
    const oracle::Built b = oracle::build(c);
    ASSERT_TRUE(b.ok) << b.error;
    ASSERT_EQ(variables.factorial(2), std::log(2.0));
    variables.priortype = 1;
    ASSERT_GT(trialfamily(r.kind, 1, 2, 0, -1e300, 0, 0, false), -1e300);
    EXPECT_NEAR(family_prior_term(), r.expected, 1e-15);
  }
}

}  // namespace
}  // namespace kinrad
