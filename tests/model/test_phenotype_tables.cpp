// The per-locus observation tables. Expected values: the class formulas at the representative
// pairs (prbg_p, tested on its own) with the effective rate, and the error-free tables by hand.
#include <gtest/gtest.h>

#include "model/model.hpp"
#include "model/phenotype_tables_internal.hpp"
#include "model_fixture.hpp"

namespace kinrad {
namespace {

using test::ModelTest;
class PhenotypeTables : public ModelTest {};

const int4 kRep[7][4] = {{1, 2, 1, 2}, {1, 2, 1, 1}, {1, 2, 1, 3}, {1, 1, 2, 2},
                         {1, 1, 1, 1}, {1, 1, 1, 2}, {1, 1, 2, 3}};

TEST_F(PhenotypeTables, EmptyRangeAndSingleAlleleLociAreLeftAlone) {
  test::setup_loci({{1, false, 0.1, 0.1, {1.0}}, {3, false, 0.1, 0.1, {0.2, 0.3, 0.5}}});
  variables.transratetgt.fill(-7.0);
  phenotypegivengenotype(2, 1);
  for (real8 x : variables.transratetgt) EXPECT_EQ(x, -7.0);
  phenotypegivengenotype(1, 1);
  for (real8 x : variables.transratetgt) EXPECT_EQ(x, -7.0);
  phenotypegivengenotype(1, 2);
  EXPECT_EQ(variables.transrate(1).a(1), -7.0);
  EXPECT_NE(variables.transrate(2).a(1), -7.0);
}

TEST_F(PhenotypeTables, ErrorFreeTables) {
  variables.haplodiploid = 1;
  test::setup_loci(
      {{4, false, 0.0, 0.0, {0.25, 0.25, 0.25, 0.25}}, {2, true, 0.0, 0.0, {0.5, 0.5}}});
  const real8 codominant[7] = {1, 0, 0, 0, 1, 0, 0};
  for (int4 c = 1; c <= 7; ++c) EXPECT_EQ(variables.transrate(1).a(c), codominant[c - 1]) << c;
  EXPECT_EQ(variables.transrate(2).a(1), 1.0);
  EXPECT_EQ(variables.transrate(2).a(2), 1.0);
  EXPECT_EQ(variables.transrate(2).a(3), 0.0);
  for (int4 l = 1; l <= 2; ++l) {
    EXPECT_EQ(variables.transratehaploid(1, l), 1.0);
    EXPECT_EQ(variables.transratehaploid(2, l), 0.0);
  }
}

TEST_F(PhenotypeTables, TablesUseTheEffectiveErrorRate) {
  test::setup_loci(
      {{5, false, 0.1, 0.2, {0.2, 0.2, 0.2, 0.2, 0.2}}, {2, true, 0.05, 0.1, {0.7, 0.3}}});
  const real8 e5 = errscale(5, 0.2), e2 = errscale(2, 0.1);
  for (int4 c = 1; c <= 7; ++c) {
    const int4* r = kRep[c - 1];
    EXPECT_DOUBLE_EQ(variables.transrate(1).a(c), prbg_p(r[2], r[3], r[0], r[1], 5, 0.1, e5, c))
        << c;
  }
  EXPECT_DOUBLE_EQ(variables.transrate(2).a(1), prbg_p(1, 0, 1, 1, 2, 0.05, e2, 1));
  EXPECT_DOUBLE_EQ(variables.transrate(2).a(2), prbg_p(1, 0, 1, 2, 2, 0.05, e2, 2));
  EXPECT_DOUBLE_EQ(variables.transrate(2).a(3), prbg_p(1, 0, 2, 2, 2, 0.05, e2, 3));
}

// A two-allele codominant locus of a monoecious species with selfing gets an other-error rate
// of at least 1e-6 when it has dropout; without dropout, or with two sexes, it keeps its rate.
TEST_F(PhenotypeTables, SmallErrorFloorUnderSelfing) {
  struct Row {
    int4 numsex, allowinbreeding;
    real8 d, e_expected;
  };
  const Row rows[] = {{1, 1, 0.01, 1e-6}, {1, 1, 0.0, 0.0}, {2, 0, 0.01, 0.0}, {2, 1, 0.01, 0.0}};
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "numsex " << r.numsex << " d " << r.d);
    reset_all_modules();
    variables.numsex = r.numsex;
    variables.allowinbreeding = r.allowinbreeding;
    variables.haplodiploid = 1;
    test::setup_loci({{2, false, r.d, 0.0, {0.4, 0.6}}});
    for (int4 c = 1; c <= 7; ++c) {
      const int4* q = kRep[c - 1];
      EXPECT_DOUBLE_EQ(variables.transrate(1).a(c),
                       prbg_p(q[2], q[3], q[0], q[1], 2, r.d, r.e_expected, c));
    }
    EXPECT_DOUBLE_EQ(variables.transratehaploid(1, 1), 1.0 - r.e_expected + r.e_expected / 2);
    EXPECT_DOUBLE_EQ(variables.transratehaploid(2, 1), r.e_expected / 2);
    // Only the raised table lets a homozygote be typed as a heterozygote.
    EXPECT_EQ(variables.transrate(1).a(6) > 0.0, r.e_expected > 0.0);
  }
}

TEST_F(PhenotypeTables, RewritingTheTablesChangesTheirVersion) {
  test::setup_loci({{3, false, 0.1, 0.1, {0.2, 0.3, 0.5}}});
  const auto before = transrate_version();
  phenotypegivengenotype(1, 1);
  EXPECT_NE(transrate_version(), before);
}

}  // namespace
}  // namespace kinrad
