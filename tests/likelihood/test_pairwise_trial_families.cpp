// The trial families the pairwise sibship step scores for offspring with known parents: each
// equals the brute-force sum of the oracle over every genotype of the family's parents (the
// family described independently, with the known parent as the candidate of its role) plus the
// sibship-size prior term computed from the C library's lgamma.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/oracle.hpp"
#include "pairwise/pairwise_internal.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

double gamma_prior(int n) {
  const double c = std::lgamma(2.25) + std::lgamma(1.5) - std::lgamma(1.25) - std::lgamma(0.25);
  return (c + std::lgamma(n + 0.25) - std::lgamma(n + 2.5)) * n * 0.125;
}

class TrialFamilies : public ::testing::Test {
 protected:
  void SetUp() override { reset_all_modules(); }
  void TearDown() override { reset_all_modules(); }
};

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

}  // namespace
}  // namespace kinrad
