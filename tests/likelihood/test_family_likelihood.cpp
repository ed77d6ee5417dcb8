// The family likelihood: its value against the brute-force sum of the oracle, the sibship-size
// prior term against log-gamma computed independently (std::lgamma), the one- and two-offspring
// shortcuts against the full computation and hand-filled dyad tables, the bound and the stops.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/familyloglvar.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/mixed_cluster.hpp"
#include "likelihood/oracle.hpp"
#include "pairwise/pairwise.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using testing_mixed::Kind;

// The gamma-based prior term of n offspring with b = 0.25, from the C library's lgamma.
double gamma_prior(int n) {
  const double c = std::lgamma(2.25) + std::lgamma(1.5) - std::lgamma(1.25) - std::lgamma(0.25);
  return (c + std::lgamma(n + 0.25) - std::lgamma(n + 2.5)) * n * 0.125;
}

// Offspring the prior counts: the diploid members of the cluster's families.
int diploid_members(const oracle::Cluster& c) {
  int n = 0;
  for (const auto& f : c.families)
    for (int m : f.members) n += c.offploid[static_cast<size_t>(m - 1)] == 2 ? 1 : 0;
  return n;
}

int diploid_typed(const oracle::Cluster& c, int locus) {
  int n = 0;
  for (size_t i = 0; i < c.offspring.size(); ++i)
    if (c.offploid[i] == 2 && c.offspring[i][static_cast<size_t>(locus - 1)][0] > 0) ++n;
  return n;
}

// Whether the families link the parent individuals without a cycle (the clusters the simple
// peeling completes); an individual acting in both roles counts once.
bool individuals_acyclic(const oracle::Cluster& c) {
  const int nf = static_cast<int>(c.fathers.size());
  std::vector<int> up(c.fathers.size() + c.mothers.size());
  for (size_t i = 0; i < up.size(); ++i) up[i] = static_cast<int>(i);
  auto find = [&](int x) {
    while (up[static_cast<size_t>(x)] != x) x = up[static_cast<size_t>(x)];
    return x;
  };
  for (const auto& s : c.same) up[static_cast<size_t>(find(nf + s[1] - 1))] = find(s[0] - 1);
  for (const oracle::Family& f : c.families) {
    bool diploid = false;
    for (int m : f.members) diploid = diploid || c.offploid[static_cast<size_t>(m - 1)] == 2;
    if (!diploid) continue;
    const int a = find(f.father - 1), b = find(nf + f.mother - 1);
    if (a == b) return false;
    up[static_cast<size_t>(a)] = b;
  }
  return true;
}

class FamilyLikelihood : public ::testing::Test {
 protected:
  void SetUp() override { reset_all_modules(); }
  void TearDown() override { reset_all_modules(); }
};

struct DriverCase {
  const char* name;
  oracle::Species species;
};

class DriverAgainstOracle : public ::testing::TestWithParam<DriverCase> {
 protected:
  void SetUp() override { reset_all_modules(); }
  void TearDown() override { reset_all_modules(); }
};

// Acyclic clusters with loci of more than two alleles and codominant two-allele loci in one
// project, occasional Mendel errors and missing genotypes: the family likelihood less the prior
// term is the sum of the enumerated locus log likelihoods.
TEST_P(DriverAgainstOracle, SumOfLociPlusPrior) {
  const DriverCase dc = GetParam();
  const oracle::Shape shapes[] = {oracle::Shape::one_family, oracle::Shape::star,
                                  oracle::Shape::chain, oracle::Shape::tree};
  int compared = 0, impossible = 0;
  for (std::uint32_t seed = 1; seed <= 80; ++seed) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"family_logl"};
    std::mt19937 r(seed * 31u + 5u);
    oracle::Options o;
    o.shape = shapes[seed % 4];
    o.species = dc.species;
    o.sampled_parents = static_cast<int>(seed / 4 % 3);
    oracle::Cluster c = oracle::random_cluster(seed * 7919u + 3u, o);
    const std::vector<Kind> kinds = {Kind::multi, Kind::snp, Kind::multi, Kind::snp};
    testing_mixed::resimulate(c, kinds, r, 3 + static_cast<int>(seed % 2), seed % 3 == 0 ? 0.2 : 0);
    if (seed % 5 == 0) testing_mixed::inject_errors(c, r, 1);
    if (!individuals_acyclic(c)) continue;
    const oracle::Built b = oracle::build(c);
    ASSERT_TRUE(b.ok) << b.error;
    oracle::exact_mode();
    variables.priortype = 0;
    double ref = 0.0, tol = 0.0;
    for (int4 l = 1; l <= variables.numloci; ++l) {
      const int4 k = variables.obsnumallele(l);
      if (k < 2) continue;
      const double x = oracle::locus_logl(c, l);
      ref = x <= -1e300 ? -1e300 : ref + x;
      tol += oracle::tolerance(x, k == 2 ? diploid_typed(c, l) : 0);
      if (ref <= -1e300) break;
    }
    real8 logl = 0.0;
    familylikelihood(logl, -1e300, 1, 0, 0);
    SCOPED_TRACE(std::string(dc.name) + " seed " + std::to_string(seed));
    // gammln is a series approximation: its error grows with n, to about 1e-11 here.
    EXPECT_NEAR(family_prior_term(), gamma_prior(diploid_members(c)), 1e-9);
    if (ref <= -1e300) {
      EXPECT_EQ(logl, -1e300);
      ++impossible;
    } else {
      EXPECT_NEAR(logl - gamma_prior(diploid_members(c)), ref, tol + 1e-9);
      ++compared;
    }
    if (HasFailure()) break;
  }
  EXPECT_GT(compared, 20);
  EXPECT_GT(impossible, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Species, DriverAgainstOracle,
    ::testing::Values(DriverCase{"diploid", oracle::Species::diploid},
                      DriverCase{"inbred", oracle::Species::inbred},
                      DriverCase{"haplodiploid", oracle::Species::haplodiploid},
                      DriverCase{"monoecious", oracle::Species::monoecious}),
    [](const ::testing::TestParamInfo<DriverCase>& i) { return std::string(i.param.name); });

// Prior term from the family work state alone: ln k! from lgamma(k + 1).
TEST_F(FamilyLikelihood, PriorTermTable) {
  struct Row {
    const char* what;
    int priortype;
    std::vector<int> sizes;
    int selfed;  // family number of a selfed family, 0 none
    double expected;
  };
  auto lf = [](int k) { return std::lgamma(k + 1.0); };
  const Row rows[] = {
      {"type 1, one offspring: ln 1! twice", 1, {1}, 0, 0.0},
      {"type 1, families of 2 and 1", 1, {2, 1}, 0, -0.0625 * (lf(2) + lf(1) + lf(3))},
      {"type 1, selfed family of 2 counted twice",
       1,
       {2, 1},
       1,
       -0.0625 * (2 * lf(2) + lf(1) + lf(3))},
      {"type 1, no full-sib family", 1, {}, 0, 0.0},
      {"type 0, one offspring", 0, {1}, 0, gamma_prior(1)},
      {"type 2, two offspring", 2, {1, 1}, 0, gamma_prior(2)},
      {"type 4, seven offspring", 4, {3, 4}, 0, gamma_prior(7)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    reset_all_modules();
    Variables& v = variables;
    Likelihoodvar& lv = likelihoodvar;
    v.factorial.allocate(Dim(0, 20));
    for (int k = 0; k <= 20; ++k) v.factorial(k) = lf(k);
    v.priortype = row.priortype;
    v.numfsibship = static_cast<int4>(row.sizes.size());
    lv.clusterfamilysize.allocate(Dim(3));
    lv.clusterfamily.allocate(Dim(2), Dim(3));
    v.numchild = 0;
    for (size_t f = 0; f < row.sizes.size(); ++f) {
      lv.clusterfamilysize(static_cast<int4>(f + 1)) = row.sizes[f];
      lv.clusterfamily(1, static_cast<int4>(f + 1)) = static_cast<int4>(f + 1);
      lv.clusterfamily(2, static_cast<int4>(f + 1)) = static_cast<int4>(f + 1);
      v.numchild += row.sizes[f];
    }
    if (row.sizes.empty()) v.numchild = 1;  // ln 1! = 0 either way
    v.numsex = 1;
    v.allowinbreeding = 1;
    v.parentjdx.allocate(Dim(3), Dim(2));
    if (row.selfed > 0) v.parentjdx(row.selfed, 1) = row.selfed;
    EXPECT_NEAR(family_prior_term(), row.expected, 1e-12);
  }
  // The values quoted for one and two offspring.
  reset_all_modules();
  variables.priortype = 0;
  variables.numchild = 1;
  EXPECT_NEAR(family_prior_term(), -0.3106, 1e-4);
  variables.numchild = 2;
  EXPECT_NEAR(family_prior_term(), -0.8786, 1e-4);
  EXPECT_EQ(familyloglvar.priorshapeb, 0.25);
}

}  // namespace
}  // namespace kinrad
