// The typing-error model. Expected values: the class table worked out by hand from the class
// definitions; normalisation (every true genotype is observed as something); with dropout 0 a
// generative brute force in which each allele is independently retyped, with probability e,
// as one of the k alleles drawn uniformly; the error-free and dropout-only values by hand.
#include <gtest/gtest.h>

#include <cmath>

#include "model/model.hpp"
#include "model/phenotype_tables_internal.hpp"
#include "model_fixture.hpp"

namespace kinrad {
namespace {

using test::ModelTest;
class ObservationModel : public ModelTest {};

TEST(ConfigGtop, ClassesOfTheSharingTable) {
  struct Row {
    int4 t1, t2, o1, o2, cls;
  };
  const Row rows[] = {
      {2, 5, 2, 5, 1}, {2, 5, 2, 2, 2}, {2, 5, 5, 5, 2}, {2, 5, 1, 2, 3}, {2, 5, 5, 7, 3},
      {2, 5, 3, 3, 4}, {3, 3, 1, 1, 4}, {3, 3, 3, 3, 5}, {3, 3, 1, 3, 6}, {3, 3, 3, 4, 6},
      {3, 3, 1, 2, 7}, {2, 5, 1, 3, 7}, {1, 2, 9, 0, 2}, {2, 2, 1, 0, 3}, {1, 1, 2, -1, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.t1 << "/" << r.t2 << " seen " << r.o1 << "/" << r.o2);
    EXPECT_EQ(configgtop(r.t1, r.t2, r.o1, r.o2), r.cls);
  }
}

TEST(ErrScale, EffectiveRate) {
  for (int4 k : {2, 3, 9, 20}) EXPECT_EQ(errscale(k, 0.0), 0.0) << k;
  // k = 9: w = 0.5.
  EXPECT_NEAR(errscale(9, 0.2), 0.1 + 0.5 * (1.0 - std::exp(-0.2)), 1e-15);
  // k = 2: w = sqrt(1.125) > 1, so the linear weight is negative and the result falls below
  // 1 - exp(-e): 0.1 (1 - 1.0606601717798212) + 1.0606601717798212 (1 - exp(-0.1)).
  EXPECT_NEAR(errscale(2, 0.1), 0.09486914335500837, 1e-15);
  EXPECT_LT(errscale(2, 0.1), 1.0 - std::exp(-0.1));
}

// Sum of prbg_p over every observed genotype a <= b of a locus of k alleles.
real8 sum_over_observed(int4 t1, int4 t2, int4 k, real8 d, real8 e) {
  real8 s = 0.0;
  for (int4 a = 1; a <= k; ++a)
    for (int4 b = a; b <= k; ++b) s += prbg_p(a, b, t1, t2, k, d, e, 0);
  return s;
}

TEST(PrbgP, EveryTrueGenotypeIsObservedAsSomething) {
  const real8 rates[][2] = {{0.0, 0.0}, {0.1, 0.0}, {0.0, 0.1}, {0.05, 0.02}, {0.3, 0.4}};
  for (int4 k : {2, 3, 5}) {
    for (const auto& r : rates) {
      SCOPED_TRACE(testing::Message() << "k " << k << " d " << r[0] << " e " << r[1]);
      for (int4 t1 = 1; t1 <= k; ++t1) {
        for (int4 t2 = t1; t2 <= k; ++t2) {
          EXPECT_NEAR(sum_over_observed(t1, t2, k, r[0], r[1]), 1.0, 1e-12) << t1 << "/" << t2;
        }
        // A haploid truth typed as a haploid.
        real8 h = 0.0;
        for (int4 a = 1; a <= k; ++a) h += prbg_p(a, 0, t1, 0, k, r[0], r[1], 0);
        EXPECT_NEAR(h, 1.0, 1e-12);
      }
      for (int4 t = 1; t <= 3; ++t) {  // band phenotypes of the dominant genotypes
        const int4 t1 = t == 3 ? 2 : 1, t2 = t == 1 ? 1 : 2;
        EXPECT_NEAR(prbg_p(1, 0, t1, t2, 2, r[0], r[1], 0) + prbg_p(2, 0, t1, t2, 2, r[0], r[1], 0),
                    1.0, 1e-15);
      }
    }
  }
}

TEST(PrbgP, WithoutDropoutEachAlleleIsRetypedIndependently) {
  for (int4 k : {2, 3, 5}) {
    for (real8 e : {0.05, 0.3}) {
      SCOPED_TRACE(testing::Message() << "k " << k << " e " << e);
      // P(allele x typed as y) = (1 - e) [x = y] + e/k.
      auto retype = [&](int4 x, int4 y) { return (x == y ? 1.0 - e : 0.0) + e / k; };
      for (int4 t1 = 1; t1 <= k; ++t1)
        for (int4 t2 = t1; t2 <= k; ++t2)
          for (int4 a = 1; a <= k; ++a)
            for (int4 b = a; b <= k; ++b) {
              real8 expected = retype(t1, a) * retype(t2, b);
              if (a != b) expected += retype(t1, b) * retype(t2, a);
              EXPECT_NEAR(prbg_p(a, b, t1, t2, k, 0.0, e, 0), expected, 1e-14)
                  << t1 << "/" << t2 << " seen " << a << "/" << b;
            }
    }
  }
}

TEST(PrbgP, ErrorFreeAndDropoutOnlyValues) {
  // Class representatives at a 4-allele locus: 1/2 seen as 1/2, 1/1, 1/3; 1/1 seen as 2/2,
  // 1/1, 1/2, 2/3.
  const int4 rep[7][4] = {{1, 2, 1, 2}, {1, 2, 1, 1}, {1, 2, 1, 3}, {1, 1, 2, 2},
                          {1, 1, 1, 1}, {1, 1, 1, 2}, {1, 1, 2, 3}};
  const real8 errorfree[7] = {1, 0, 0, 0, 1, 0, 0};
  const real8 d = 0.2;
  const real8 dropout[7] = {(1 - d) / (1 + d), d / (1 + d), 0, 0, 1, 0, 0};
  for (int4 c = 0; c < 7; ++c) {
    SCOPED_TRACE(c + 1);
    const int4* r = rep[c];
    EXPECT_EQ(configgtop(r[0], r[1], r[2], r[3]), c + 1);
    EXPECT_NEAR(prbg_p(r[2], r[3], r[0], r[1], 4, 0.0, 0.0, 0), errorfree[c], 1e-15);
    EXPECT_NEAR(prbg_p(r[2], r[3], r[0], r[1], 4, d, 0.0, 0), dropout[c], 1e-15);
  }
  // Dominant phenotype 1 of 1/1, 1/2, 2/2 without errors.
  EXPECT_EQ(prbg_p(1, 0, 1, 1, 2, 0.0, 0.0, 0), 1.0);
  EXPECT_EQ(prbg_p(1, 0, 1, 2, 2, 0.0, 0.0, 0), 1.0);
  EXPECT_EQ(prbg_p(1, 0, 2, 2, 2, 0.0, 0.0, 0), 0.0);
}

TEST(PrbgP, GivenClassAndClassesOutsideTheTable) {
  const real8 e = 0.3, u = e / 3;
  // A given class overrides the computed one: 1/1 seen as 1/1 scored as class 7.
  EXPECT_NEAR(prbg_p(1, 1, 1, 1, 3, 0.1, e, 7), prbg_p(2, 3, 1, 1, 3, 0.1, e, 0), 1e-15);
  EXPECT_NEAR(prbg_p(1, 2, 1, 2, 3, 0.1, e, 9), u, 1e-15);
  // A phenotype other than the band, for a class outside 1..3, is 1 - u.
  EXPECT_NEAR(prbg_p(2, 0, 1, 1, 3, 0.1, e, 5), 1.0 - u, 1e-15);
  EXPECT_NEAR(prbg_p(1, 0, 1, 1, 3, 0.1, e, 5), u, 1e-15);
}

TEST_F(ObservationModel, TableLookUpsFollowTheLocusKind) {
  variables.haplodiploid = 1;
  test::setup_loci({{3, false, 0.1, 0.05, {0.2, 0.3, 0.5}}, {2, true, 0.0, 0.1, {0.6, 0.4}}});
  const real8 e1 = errscale(3, 0.05), e2 = errscale(2, 0.1);
  const int4 het13[2] = {1, 3}, hom22[2] = {2, 2}, band[2] = {1, 0}, noband[2] = {2, 0};
  EXPECT_DOUBLE_EQ(prbgtop(1, 2, het13, 1), prbg_p(1, 3, 1, 2, 3, 0.1, e1, 0));
  EXPECT_DOUBLE_EQ(prbgtop(2, 3, hom22, 1), prbg_p(2, 2, 2, 3, 3, 0.1, e1, 0));
  EXPECT_DOUBLE_EQ(prbgtop(1, 2, band, 2), prbg_p(1, 0, 1, 2, 2, 0.0, e2, 0));
  EXPECT_DOUBLE_EQ(prbgtop(2, 2, noband, 2), 1.0 - prbg_p(1, 0, 2, 2, 2, 0.0, e2, 0));
  EXPECT_DOUBLE_EQ(prbgtophaploid(3, 3, 1), 1.0 - e1 + e1 / 3);
  EXPECT_DOUBLE_EQ(prbgtophaploid(3, 1, 1), e1 / 3);
}

}  // namespace
}  // namespace kinrad
