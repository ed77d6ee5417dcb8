// Observation tables of error-prone loci of more than two alleles. Expected values: the class
// formulas evaluated with the sharing class named explicitly, and the error-free values by hand.
#include <gtest/gtest.h>

#include "core/modules/variables.hpp"
#include "model/model.hpp"
#include "model_fixture.hpp"
#include "tables_fixture.hpp"

namespace kinrad {
namespace {

using test::ModelTest;
class MultiAlleleTables : public ModelTest {};

void four_loci() {
  // 1: errors, 4 alleles; 2: errors, 2 alleles; 3: error-free, 3 alleles; 4: errors, 5 alleles.
  test::setup_loci({{4, false, 0.03, 0.02, {0.25, 0.25, 0.25, 0.25}},
                    {2, false, 0.03, 0.02, {0.5, 0.5}},
                    {3, false, 0.0, 0.0, {0.2, 0.3, 0.5}},
                    {5, false, 0.01, 0.04, {0.2, 0.2, 0.2, 0.2, 0.2}}});
  test::set_locus3();
}

TEST_F(MultiAlleleTables, RunningNumbersOfErrorProneMultiAlleleLoci) {
  four_loci();
  initialprbgtop(1, 4);
  const Variables& v = variables;
  const int4 expected[4] = {1, 0, 0, 2};
  for (int4 l = 1; l <= 4; ++l) EXPECT_EQ(v.markererror3(l), expected[l - 1]) << l;
  ASSERT_EQ(v.prbgtophom.ubound(2), 2);
  struct Col {
    int4 locus;
    int4 p;
  };
  for (const Col& c : {Col{1, 1}, Col{4, 2}}) {
    SCOPED_TRACE(c.locus);
    const int4 k = v.obsnumallele(c.locus);
    const real8 d = v.droprate(c.locus);
    const real8 e = errscale(k, v.othererrorrate(c.locus));
    // Classes: 4 homozygote sharing nothing, 2 het seen as a homozygote of its allele,
    // 5 itself; 7 het sharing nothing, 3 sharing one, 1 itself, 6 homozygote seen as het.
    EXPECT_EQ(v.prbgtophom(0, c.p), prbg_p(1, 1, 2, 3, k, d, e, 4));
    EXPECT_EQ(v.prbgtophom(1, c.p), prbg_p(1, 1, 1, 3, k, d, e, 2));
    EXPECT_EQ(v.prbgtophom(2, c.p), prbg_p(1, 1, 1, 1, k, d, e, 5));
    EXPECT_EQ(v.prbgtophet(0, c.p), prbg_p(1, 2, 3, 4, k, d, e, 7));
    EXPECT_EQ(v.prbgtophet(1, c.p), prbg_p(1, 2, 1, 3, k, d, e, 3));
    EXPECT_EQ(v.prbgtophet(2, c.p), prbg_p(1, 2, 1, 2, k, d, e, 1));
    EXPECT_EQ(v.prbgtophet(3, c.p), prbg_p(1, 2, 1, 1, k, d, e, 6));
  }
}

TEST_F(MultiAlleleTables, SingleLocusRangeKeepsOtherRunningNumbers) {
  four_loci();
  initialprbgtop(1, 4);
  initialprbgtop(4, 4);
  const Variables& v = variables;
  EXPECT_EQ(v.markererror3(1), 1);  // outside the range: as the earlier call left it
  EXPECT_EQ(v.markererror3(4), 1);
  EXPECT_EQ(v.prbgtophom.ubound(2), 1);
  // A range without error-prone multi-allele loci clears its running numbers and leaves the
  // tables alone.
  const real8 kept = v.prbgtophet(2, 1);
  variables.markererror3(3) = 9;
  initialprbgtop(2, 3);
  EXPECT_EQ(v.markererror3(3), 0);
  EXPECT_EQ(v.markererror3(4), 1);
  EXPECT_EQ(v.prbgtophet(2, 1), kept);
  EXPECT_EQ(v.prbgtophom.ubound(2), 1);
}

TEST_F(MultiAlleleTables, ErrorFreeRatesGiveIdentityColumns) {
  test::setup_loci({{3, false, 0.0, 0.0, {0.2, 0.3, 0.5}}});
  test::set_locus3();
  variables.locuserror(1) = 1;
  initialprbgtop(1, 1);
  const Variables& v = variables;
  const real8 hom[3] = {0, 0, 1};
  const real8 het[4] = {0, 0, 1, 0};
  for (int4 i = 0; i <= 2; ++i) EXPECT_EQ(v.prbgtophom(i, 1), hom[i]) << i;
  for (int4 i = 0; i <= 3; ++i) EXPECT_EQ(v.prbgtophet(i, 1), het[i]) << i;
}

}  // namespace
}  // namespace kinrad
