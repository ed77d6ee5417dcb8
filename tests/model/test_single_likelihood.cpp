// Single-individual probabilities. Expected values: hand values of error-free cases; an
// independent sum over every true genotype of its population frequency (inbreeding F) times
// the observation probability of the error model (prbg_p with the effective rate); the
// normalisation over every observed genotype; log sums written out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "model/model.hpp"
#include "model/phenotype_tables_internal.hpp"
#include "model_fixture.hpp"

namespace kinrad {
namespace {

using test::Genotype;
using test::LocusSpec;
using test::ModelTest;
class SingleLikelihood : public ModelTest {};

real8 single(real8 F, int4 ploidy, int4 locus, int4 a, int4 b) {
  const int4 g[2] = {a, b};
  real8 prob = -1.0;
  probsinglegtype(F, ploidy, locus, g, prob);
  return prob;
}

// Sum over true genotypes t1 <= t2 of P_F(t) P(observed | t), or over true alleles for a
// haploid.
real8 oracle(real8 F, int4 ploidy, int4 locus, int4 a, int4 b) {
  const Variables& v = variables;
  const int4 k = v.obsnumallele(locus);
  const real8 d = v.droprate(locus), e = errscale(k, v.othererrorrate(locus));
  const bool dominant = v.dominantmarker(locus) != 0;
  auto p = [&](int4 x) { return v.obsallelefre(locus).a(x); };
  real8 s = 0.0;
  if (ploidy != 2) {
    for (int4 t = 1; t <= k; ++t) s += p(t) * prbg_p(a, 0, t, 0, k, d, e, 0);
    return s;
  }
  for (int4 t1 = 1; t1 <= k; ++t1)
    for (int4 t2 = t1; t2 <= k; ++t2) {
      const real8 pt = t1 == t2 ? (1 - F) * p(t1) * p(t1) + F * p(t1) : 2 * (1 - F) * p(t1) * p(t2);
      s += pt * prbg_p(a, dominant ? 0 : b, t1, t2, k, d, e, 0);
    }
  return s;
}

TEST_F(SingleLikelihood, ErrorFreeHandValues) {
  test::setup_loci({{2, false, 0.0, 0.0, {0.3, 0.7}}, {1, false, 0.0, 0.0, {1.0}}});
  EXPECT_NEAR(single(0.0, 2, 1, 1, 2), 0.42, 1e-15);
  EXPECT_NEAR(single(0.0, 2, 1, 1, 1), 0.09, 1e-15);
  // F = 0.2: 1/1 has (0.8 0.3 + 0.2) 0.3 = 0.132, 1/2 has 1.6 0.21 = 0.336.
  EXPECT_NEAR(single(0.2, 2, 1, 1, 1), 0.132, 1e-15);
  EXPECT_NEAR(single(0.2, 2, 1, 1, 2), 0.336, 1e-15);
  EXPECT_EQ(single(0.0, 2, 1, 0, 0), 1.0);  // missing
  EXPECT_EQ(single(0.0, 2, 2, 1, 1), 1.0);  // one allele
  // probsinglegtype takes a negative F as given: (1.1 0.3 - 0.1) 0.3 = 0.069.
  EXPECT_NEAR(single(-0.1, 2, 1, 1, 1), 0.069, 1e-15);
}

TEST_F(SingleLikelihood, SingleProbabilitiesMatchTheSumOverTrueGenotypesAndAreNormalised) {
  const std::vector<LocusSpec> loci = {
      {2, false, 0.1, 0.05, {0.35, 0.65}},
      {3, false, 0.05, 0.1, {0.2, 0.3, 0.5}},
      {5, false, 0.2, 0.02, {0.1, 0.15, 0.2, 0.25, 0.3}},
      {3, false, 0.0, 0.0, {0.2, 0.3, 0.5}},
      {2, true, 0.05, 0.1, {0.4, 0.6}},
      {2, true, 0.0, 0.0, {0.4, 0.6}},
  };
  variables.haplodiploid = 1;
  test::setup_loci(loci);
  for (real8 F : {0.0, 0.2}) {
    for (int4 l = 1; l <= variables.numloci; ++l) {
      SCOPED_TRACE(testing::Message() << "locus " << l << " F " << F);
      const int4 k = variables.obsnumallele(l);
      real8 total = 0.0, haploid = 0.0;
      if (variables.dominantmarker(l) != 0) {
        for (int4 ph = 1; ph <= 2; ++ph) {
          EXPECT_NEAR(single(F, 2, l, ph, ph), oracle(F, 2, l, ph, ph), 1e-15);
          total += single(F, 2, l, ph, ph);
        }
      } else {
        for (int4 a = 1; a <= k; ++a)
          for (int4 b = a; b <= k; ++b) {
            EXPECT_NEAR(single(F, 2, l, a, b), oracle(F, 2, l, a, b), 1e-15) << a << "/" << b;
            total += single(F, 2, l, a, b);
          }
      }
      for (int4 a = 1; a <= k; ++a) {
        EXPECT_NEAR(single(F, 1, l, a, 0), oracle(F, 1, l, a, 0), 1e-15);
        haploid += single(F, 1, l, a, 0);
      }
      EXPECT_NEAR(total, 1.0, 1e-12);
      EXPECT_NEAR(haploid, 1.0, 1e-12);
    }
  }
}

TEST_F(SingleLikelihood, TwoAlleleResultsFollowChangedRatesFrequenciesAndInbreeding) {
  test::setup_loci({{2, false, 0.1, 0.05, {0.35, 0.65}}});
  const real8 first = single(0.0, 2, 1, 1, 2);
  EXPECT_NEAR(first, oracle(0.0, 2, 1, 1, 2), 1e-15);
  EXPECT_EQ(variables.locus2logl(3, 1), first);  // recorded
  EXPECT_EQ(single(0.0, 2, 1, 1, 2), first);
  variables.droprate(1) = 0.3;
  variables.othererrorrate(1) = 0.2;
  phenotypegivengenotype(1, 1);
  EXPECT_NEAR(single(0.0, 2, 1, 1, 2), oracle(0.0, 2, 1, 1, 2), 1e-15);
  EXPECT_NE(single(0.0, 2, 1, 1, 2), first);
  variables.obsallelefre(1).a(1) = 0.5;
  variables.obsallelefre(1).a(2) = 0.5;
  EXPECT_NEAR(single(0.0, 2, 1, 1, 2), oracle(0.0, 2, 1, 1, 2), 1e-15);
  EXPECT_NEAR(single(0.3, 2, 1, 1, 1), oracle(0.3, 2, 1, 1, 1), 1e-15);
  EXPECT_NEAR(single(0.0, 2, 1, 1, 1), oracle(0.0, 2, 1, 1, 1), 1e-15);
  // Entries marked 1.0 by the allele-frequency update are computed again.
  variables.locus2logl.fill(1.0);
  EXPECT_NEAR(single(0.0, 2, 1, 2, 2), oracle(0.0, 2, 1, 2, 2), 1e-15);
}

// Three offspring at an error-free two-allele locus p = (0.3, 0.7), a locus of one allele and
// an error-free three-allele locus p = (0.2, 0.3, 0.5).
class SingleIndividuals : public ModelTest {
 protected:
  void SetUp() override {
    ModelTest::SetUp();
    test::setup_loci({{2, false, 0.0, 0.0, {0.3, 0.7}},
                      {1, false, 0.0, 0.0, {1.0}},
                      {3, false, 0.0, 0.0, {0.2, 0.3, 0.5}}});
    variables.smplsize = 3;
    test::pack(variables.indivgtype2, variables.indivgtype2tgt,
               {{{1, 2}, {1, 1}, {0, 0}}, {{1, 1}, {1, 1}, {0, 0}}, {{1, 3}, {2, 2}, {1, 3}}});
  }
};

TEST_F(SingleIndividuals, LogSumsOverLoci) {
  std::vector<real8> logl(3, 99.0);
  for (real8 F : {0.0, -0.3}) {  // a negative F is used as 0
    singleindivlikelihood(F, 3, 0, logl);
    EXPECT_NEAR(logl[0], std::log(0.42) + std::log(0.2), 1e-14);
    EXPECT_NEAR(logl[1], std::log(0.09) + std::log(0.09), 1e-14);
    EXPECT_NEAR(logl[2], std::log(0.2), 1e-14);
  }
}

TEST_F(SingleIndividuals, ImpossibleLociAddMinus1e300Each) {
  // Allele 2 of locus 1 and allele 3 of locus 3 have frequency 0.
  variables.obsallelefre(1).a(1) = 1.0;
  variables.obsallelefre(1).a(2) = 0.0;
  variables.obsallelefre(3).a(1) = 0.5;
  variables.obsallelefre(3).a(2) = 0.5;
  variables.obsallelefre(3).a(3) = 0.0;
  std::vector<real8> logl(3);
  singleindivlikelihood(0.0, 3, 0, logl);
  EXPECT_EQ(logl[0], -2e300);
  EXPECT_NEAR(logl[1], std::log(0.25), 1e-14);
  EXPECT_EQ(logl[2], -1e300);
}

TEST_F(SingleLikelihood, HaploidIndividualsOfAHaplodiploidSpecies) {
  variables.haplodiploid = 1;
  test::setup_loci({{3, false, 0.0, 0.1, {0.2, 0.3, 0.5}}});
  const real8 e = errscale(3, 0.1), u = e / 3;
  // Offspring 1 haploid with allele 2, offspring 2 diploid 2/3.
  variables.smplsize = 2;
  variables.smplsizedh(1) = 1;
  variables.smplsizedh(2) = 1;
  variables.offploid.allocate(Dim(2));
  variables.offploid(1) = 1;
  variables.offploid(2) = 2;
  test::pack(variables.indivgtype2, variables.indivgtype2tgt, {{{2, 0}, {2, 3}}});
  std::vector<real8> logl(2);
  singleindivlikelihood(0.0, 2, 0, logl);
  EXPECT_NEAR(logl[0], std::log(0.3 * (1 - e + u) + 0.7 * u), 1e-14);
  EXPECT_NEAR(logl[1], std::log(oracle(0.0, 2, 1, 2, 3)), 1e-14);
  // Candidates: fathers haploid, mothers diploid; candidates of sex 2 follow those of sex 1.
  variables.numcandidate(1) = 1;
  variables.numcandidate(2) = 2;
  variables.allcandidate = 3;
  test::pack(variables.cndgtype2, variables.cndgtype2tgt, {{{3, 0}, {1, 1}, {0, 0}}});
  singleparentlikelihood(-0.5);
  EXPECT_NEAR(variables.candidatelogl(1, 1), std::log(0.5 * (1 - e + u) + 0.5 * u), 1e-14);
  EXPECT_NEAR(variables.candidatelogl(1, 2), std::log(oracle(0.0, 2, 1, 1, 1)), 1e-14);
  EXPECT_EQ(variables.candidatelogl(2, 2), 0.0);
  EXPECT_NEAR(variables.sumcndlogl(1), variables.candidatelogl(1, 1), 1e-15);
  EXPECT_NEAR(variables.sumcndlogl(2), variables.candidatelogl(1, 2), 1e-15);
}

TEST_F(SingleLikelihood, ParentLikelihoodSkipsASexWithoutCandidates) {
  test::setup_loci({{2, false, 0.0, 0.0, {0.3, 0.7}}});
  variables.numcandidate(1) = 0;
  variables.numcandidate(2) = 2;
  variables.allcandidate = 2;
  variables.candidatelogl.allocate(Dim(2), Dim(2));
  variables.candidatelogl.fill(5.0);
  test::pack(variables.cndgtype2, variables.cndgtype2tgt, {{{2, 2}, {1, 2}}});
  singleparentlikelihood(0.0);
  EXPECT_EQ(variables.candidatelogl(1, 1), 5.0);
  EXPECT_NEAR(variables.candidatelogl(1, 2), std::log(0.49), 1e-14);
  EXPECT_NEAR(variables.candidatelogl(2, 2), std::log(0.42), 1e-14);
  EXPECT_NEAR(variables.sumcndlogl(2), std::log(0.49 * 0.42), 1e-14);
}

}  // namespace
}  // namespace kinrad
