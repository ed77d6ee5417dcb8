// The sibship-size prior constants. Expected values: closed forms worked by hand for the
// fixed priors, and tests/model/generators/ewen_prior_values.py (single-precision constants
// widened to double, a bisection for theta) for the empirical prior and the fitted thetas.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "model/ewen_prior_internal.hpp"

namespace kinrad {
namespace {

struct Marker {
  int4 k;
  bool dominant;
};

// Module state for the prior: loci, sample, species and prior inputs, the log-factorial table.
void setup(const std::vector<Marker>& loci, int4 n, int4 numsex, int4 priortype, real8 e1, real8 e2,
           real8 p1 = 0.5, real8 p2 = 0.5) {
  reset_all_modules();
  Variables& v = variables;
  v.numloci = static_cast<int4>(loci.size());
  v.obsnumallele.allocate(Dim(v.numloci));
  v.dominantmarker.allocate(Dim(v.numloci));
  for (int4 l = 1; l <= v.numloci; ++l) {
    v.obsnumallele(l) = loci[static_cast<std::size_t>(l - 1)].k;
    v.dominantmarker(l) = loci[static_cast<std::size_t>(l - 1)].dominant ? 1 : 0;
  }
  v.smplsize = n;
  v.numsex = numsex;
  v.priortype = priortype;
  v.ewenmeannumprnt(1) = e1;
  v.ewenmeannumprnt(2) = e2;
  v.propprntsampled(1) = p1;
  v.propprntsampled(2) = p2;
  v.fsscaleq = 1;
  v.factorial.allocate(Dim(0, 2 * n));
  for (int4 k = 1; k <= 2 * n; ++k) v.factorial(k) = v.factorial(k - 1) + std::log(k);
}

// The Ewens constant of m offspring at the fitted theta: ln m! - sum ln(i + theta).
real8 ewenconst(int4 m, real8 theta) {
  real8 s = 0.0;
  for (int4 i = 0; i < m; ++i) s += std::log(i + theta);
  return std::lgamma(m + 1.0) - s;
}

class EwenPrior : public ::testing::Test {
 protected:
  void TearDown() override { reset_all_modules(); }
};

TEST_F(EwenPrior, NoPriorSetsOnlyTheSampledParentTerms) {
  // r = 2/3 (two of three polymorphic loci have more than two alleles);
  // w = (0.5 r^2 + 0.02) / sqrt(50 as a float).
  setup({{2, false}, {3, false}, {5, false}, {1, false}}, 50, 2, 0, 1e99, 1e99, 0.3, 1.0);
  setewenprior();
  const Variables& v = variables;
  const real8 w = 0.03425539518623497;
  EXPECT_NEAR(v.prntweight(1), 0.027 * w, 1e-16);
  EXPECT_NEAR(v.prntweight(2), w, 1e-16);
  EXPECT_DOUBLE_EQ(v.prntlogprb(1, 1), std::log(0.3));
  EXPECT_DOUBLE_EQ(v.prntlogprb(2, 1), std::log(0.7));
  // A sampled proportion of 1 is clamped to 0.999.
  EXPECT_DOUBLE_EQ(v.prntlogprb(1, 2), std::log(0.999));
  EXPECT_NEAR(v.prntlogprb(2, 2), std::log(0.001), 1e-12);
  EXPECT_FALSE(v.sibsize.allocated());
  EXPECT_EQ(v.priortype, 0);
  EXPECT_EQ(v.ewenmeannumprnt(1), 1e99);
}

TEST_F(EwenPrior, MonoeciousSharesTheSampledParentTerms) {
  // r = 1/2, w = (0.125 + 0.02) / 8; m = 0.4, clamped mean (0.001 + 0.8) / 2 = 0.4005.
  setup({{3, false}, {2, true}}, 64, 1, 0, 1e99, 1e99, 0.0, 0.8);
  setewenprior();
  const Variables& v = variables;
  EXPECT_NEAR(v.prntweight(1), 0.064 * 0.018125, 1e-17);
  EXPECT_EQ(v.prntweight(1), v.prntweight(2));
  for (int4 s = 1; s <= 2; ++s) {
    EXPECT_NEAR(v.prntlogprb(1, s), std::log(0.4005), 1e-15);
    EXPECT_NEAR(v.prntlogprb(2, s), std::log(0.5995), 1e-15);
  }
}

TEST_F(EwenPrior, FixedPriorsStrengthAndExpectedParents) {
  struct Row {
    const char* name;
    std::vector<Marker> loci;
    int4 n, numsex, priortype, fulllikelihood;
    real8 e1, e2;
    real8 f;  // by hand
    real8 parents1, parents2;
  };
  const Row rows[] = {
      // Codominant only, x = 0: 2^2 * 0.125 * 0.128 * 10 / 1 * 1.5.
      {"strong, codominant", {{2, false}, {4, false}}, 100, 2, 3, 0, 5.0, 0.5, 0.96, 20.0, 100.0},
      // x = 1 / (3 + 1) = 0.25: (0.25 + 2) * 0.125 * 0.128 * 8 / 2.
      {"medium, full likelihood, monoecious",
       {{3, false}, {2, true}, {1, true}},
       64,
       1,
       2,
       1,
       3.0,
       3.0,
       0.144,
       64.0 / 3.0,
       64.0 / 3.0},
      // (1.5 * 0.25 + 2)^0 * 0.125 * 0.128 * 4 / 1 * 1.5.
      {"weak", {{3, false}, {2, true}}, 16, 2, 1, 0, 2.0, 4.0, 0.096, 8.0, 4.0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    setup(r.loci, r.n, r.numsex, r.priortype, r.e1, r.e2);
    variables.fulllikelihoodmethodq = r.fulllikelihood;
    setewenprior();
    const Variables& v = variables;
    EXPECT_NEAR(v.ewenpriorfac(1), r.f, 1e-15);
    EXPECT_EQ(v.ewenpriorfac(2), v.ewenpriorfac(1));
    EXPECT_NEAR(v.ewenmeannumprnt(1), r.parents1, 1e-13);
    EXPECT_NEAR(v.ewenmeannumprnt(2), r.parents2, 1e-13);
    EXPECT_EQ(v.priortype, 1);
    ASSERT_TRUE(v.sibsize.allocated());
    EXPECT_EQ(v.sibsize.ubound(1), 2);
    EXPECT_EQ(v.sibsize.ubound(2), (3 - r.numsex) * r.n);
    EXPECT_EQ(v.sibsize.ubound(3), r.numsex);
    EXPECT_EQ(v.numchild, 2);
  }
}

TEST_F(EwenPrior, MeanSibshipSizeBelowOneCountsAsOne) {
  setup({{3, false}}, 30, 2, 1, 0.2, 1.0);
  setewenprior();
  EXPECT_EQ(variables.ewenmeannumprnt(1), 30.0);
  EXPECT_EQ(variables.ewenmeannumprnt(2), 30.0);
}

TEST_F(EwenPrior, FittedThetaSolvesItsEquation) {
  struct Row {
    const char* name;
    int4 n, numsex;
    real8 e1, e2;
    real8 theta1, theta2;  // bisection on sum theta/(i + theta) = n / e
  };
  const Row rows[] = {
      {"20 of 100 fathers, every offspring its own mother", 100, 2, 5.0, 1.0, 7.244141594789654,
       1e5},
      {"monoecious, 64/3 parents", 64, 1, 3.0, 3.0, 10.797244340282212, 10.797244340282212},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    setup({{3, false}}, r.n, r.numsex, 3, r.e1, r.e2);
    setewenprior();
    const Variables& v = variables;
    const int4 m = (3 - r.numsex) * r.n;
    for (int4 s = 1; s <= 2; ++s) {
      SCOPED_TRACE(s);
      const real8 expected = s == 1 ? r.theta1 : r.theta2;
      const real8 theta = std::exp(v.logewentheta(s));
      if (expected < 1e5) {
        // brent stops within a fractional 0.001 of its abscissa.
        EXPECT_NEAR(theta, expected, 2e-3 * expected);
      } else {
        // n parents for n offspring: theta runs to the top of the bracket.
        EXPECT_GT(theta, 0.99e5);
      }
      EXPECT_NEAR(v.logewenconst(s), ewenconst(m, theta), 1e-9 * std::fabs(ewenconst(m, theta)));
    }
  }
}

TEST_F(EwenPrior, EmpiricalPriorUsesTheSinglePrecisionConstants) {
  struct Row {
    const char* name;
    int4 numsex, hd;
    real8 e2;
    real8 f, parents, theta;  // from ewen_prior_values.py
  };
  const Row rows[] = {
      {"dioecious", 2, 0, 2.0, 0.9183040502651498, 19.459906059880577, 338.8507930184449},
      {"monoecious", 1, 0, 2.0, 1.0689636670042382, 19.55004953952214, 409.31874875212344},
      {"haplodiploid", 2, 1, 0.5, 1.1112100585936486, 19.459906059880577, 338.8507930184449},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    setup({{4, false}, {2, false}}, 20, r.numsex, 4, 200.0, r.e2);
    variables.haplodiploid = r.hd;
    setewenprior();
    const Variables& v = variables;
    // The double constants would differ from these by about 1.5e-8.
    EXPECT_NEAR(v.ewenpriorfac(1), r.f, 1e-14);
    EXPECT_EQ(v.ewenpriorfac(2), v.ewenpriorfac(1));
    EXPECT_NEAR(v.ewenmeannumprnt(1), r.parents, 1e-12);
    EXPECT_NEAR(v.ewenmeannumprnt(2), r.parents, 1e-12);
    EXPECT_EQ(v.priortype, 1);
    EXPECT_EQ(v.fsscaleq, 1);
    EXPECT_NEAR(std::exp(v.logewentheta(1)), r.theta, 2e-3 * r.theta);
  }
}

TEST_F(EwenPrior, VoidEmpiricalPriorSwitchesPriorAndScalingOff) {
  // q = 10: the dropout of the sibship term 10 exp(-0.5) outweighs the rest (f = -5.76).
  setup({{4, false}}, 100, 1, 4, 10.0, 1.0);
  setewenprior();
  const Variables& v = variables;
  EXPECT_NEAR(v.ewenpriorfac(1), -5.760694374799917, 1e-13);
  EXPECT_EQ(v.priortype, 0);
  EXPECT_EQ(v.fsscaleq, 0);
  EXPECT_FALSE(v.sibsize.allocated());
  EXPECT_EQ(v.ewenmeannumprnt(1), 10.0);
}

TEST_F(EwenPrior, EwenfuncIsTheSquaredDistanceToTheTarget) {
  setup({{3, false}}, 3, 2, 1, 1.0, 1.0);
  variables.ewenmeannumprnt(1) = 2.0;
  variables.numchild = 1;
  // theta = 1: 1 + 1/2 + 1/3 = 11/6, distance -1/6.
  EXPECT_NEAR(ewenfunc(1.0), 1.0 / 36.0, 1e-16);
  variables.smplsize = 0;
  EXPECT_EQ(ewenfunc(1.0), 4.0);
}

}  // namespace
}  // namespace kinrad
