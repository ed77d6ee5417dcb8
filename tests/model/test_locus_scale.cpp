// Locus scale factors and the effective family-size table. Expected values were computed by
// hand from the formulas in a separate Python session (values quoted below).
#include <gtest/gtest.h>

#include <cmath>

#include "core/modules/variables.hpp"
#include "model/model.hpp"
#include "model_fixture.hpp"
#include "tables_fixture.hpp"

namespace kinrad {
namespace {

using test::ModelTest;
class LocusScale : public ModelTest {};

void two_loci_in_one_block(int4 numsex) {
  variables.numsex = numsex;
  test::setup_loci({{3, false, 0.01, 0.02, {0.2, 0.3, 0.5}},
                    {3, false, 0.01, 0.02, {0.5, 0.25, 0.25}},
                    {2, false, 0.0, 0.0, {0.5, 0.5}}});
  test::set_locus3();
  build_block_tables(1, 1, 3);
}

TEST_F(LocusScale, LociOfOneBlockCarryTheirMeanFactor) {
  struct Row {
    int4 numsex;
    real8 mean;  // mean of 0.9369716406535048 and 0.9363856195251984 (two sexes)
  };
  for (const Row& r : {Row{2, 0.9366786300893516}, Row{1, 0.7411786300893517}}) {
    SCOPED_TRACE(r.numsex);
    reset_all_modules();
    two_loci_in_one_block(r.numsex);
    locusscale();
    ASSERT_EQ(variables.scaleloc.size(), 2);
    EXPECT_NEAR(variables.scaleloc(1), r.mean, 1e-14);
    EXPECT_NEAR(variables.scaleloc(2), r.mean, 1e-14);
  }
}

TEST_F(LocusScale, LocusScaleCapsHighRawFactorAndLargeErrorRates) {
  // x = 2.0410160316468877 for both loci, B = 2x; the raw factor of locus 1 is
  // 1.0112786244753027 > 1.
  test::setup_loci(
      {{3, false, 0.0, 0.0, {0.98, 0.01, 0.01}}, {3, false, 0.0, 0.31, {0.98, 0.01, 0.01}}});
  variables.numsex = 2;
  test::set_locus3();
  build_block_tables(1, 1, 2);
  locusscale();
  EXPECT_NEAR(variables.scaleloc(1), 1.0006582609250736, 1e-14);
  EXPECT_EQ(variables.scaleloc(2), 1.001);  // other-error rate above 0.1 k
}

TEST_F(LocusScale, LocusScaleWithoutMultiAlleleLociAndCalledTwice) {
  test::setup_loci({{2, false, 0.0, 0.0, {0.5, 0.5}}});
  test::set_locus3();
  build_block_tables(1, 1, 1);
  locusscale();
  EXPECT_TRUE(variables.scaleloc.allocated());
  EXPECT_EQ(variables.scaleloc.size(), 0);
  reset_all_modules();
  two_loci_in_one_block(2);
  locusscale();
  locusscale();  // a second call recomputes rather than failing
  EXPECT_NEAR(variables.scaleloc(1), 0.9366786300893516, 1e-14);
}

TEST_F(LocusScale, Scale2LinearUnlessScaled) {
  test::setup_loci({{2, false, 0.0, 0.01, {0.5, 0.5}}});
  setscale2(5);
  ASSERT_EQ(variables.scale2.ubound(1), 5);
  for (int4 k = 0; k <= 5; ++k) EXPECT_EQ(variables.scale2(k), k);
  variables.scale2(3) = -4.0;
  setscale2(4);  // already long enough: nothing changes
  EXPECT_EQ(variables.scale2(3), -4.0);
}

TEST_F(LocusScale, Scale2Tempered) {
  // r = 0.01: w = 0.0416; scale2const 0.5: t = 0.979634.
  test::setup_loci(
      {{2, false, 0.0, 0.01, {0.5, 0.5}}, {5, false, 0.0, 0.3, {0.2, 0.2, 0.2, 0.2, 0.2}}});
  variables.fsscaleq = 1;
  variables.scale2const = 0.5;
  setscale2(20);
  const real8 expected[][2] = {{0, 0.0},
                               {1, 1.0},
                               {2, 2.0},
                               {3, 2.978056640034662},
                               {10, 9.63501109559595},
                               {20, 18.93742117893328}};
  for (const auto& e : expected)
    EXPECT_NEAR(variables.scale2(static_cast<index_t>(e[0])), e[1], 1e-12) << e[0];
  // The weight is kept: a later growth uses it even after the rates change.
  variables.othererrorrate(1) = 0.5;
  setscale2(30);
  EXPECT_NEAR(variables.scale2(10), 9.63501109559595, 1e-12);
}

TEST_F(LocusScale, Scale2LinearWhenTwoAlleleErrorsAreLarge) {
  test::setup_loci({{2, false, 0.0, 0.25, {0.5, 0.5}}});
  variables.fsscaleq = 1;
  variables.scale2const = 0.5;
  setscale2(6);
  for (int4 k = 0; k <= 6; ++k) EXPECT_EQ(variables.scale2(k), k);
}

}  // namespace
}  // namespace kinrad
