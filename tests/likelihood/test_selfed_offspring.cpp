// Selfed families in the locus likelihood: a lone selfing individual with its selfed offspring
// and selfers among outcrossed families (trees of individuals), against the brute-force sum of
// the oracle (every genotype of every individual; a selfed family has one parent genotype and
// its offspring inherit two of the parent's alleles), at every marker case.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/modules.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/oracle.hpp"
#include "support/engine_compare.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using oracle::Cluster;
using oracle::Markers;
using oracle::Shape;
using oracle::Species;

using testing_support::engine_logl;

// Whether the outcrossed families link the individuals without a cycle (a selfed family links
// an individual to itself and closes none).
bool acyclic_apart_from_selfing(const Cluster& c) {
  return !testing_support::families_close_a_cycle(c, {.diploid_only = false, .skip_selfed = true});
}

int selfed_families(const Cluster& c) {
  int n = 0;
  for (const oracle::Family& f : c.families)
    for (const auto& s : c.same) n += s[0] == f.father && s[1] == f.mother ? 1 : 0;
  return n;
}

struct Case {
  const char* name;
  Markers markers;
  bool big;       // one family of 100 to 150 members
  bool lone;      // the lone selfing individual only
  int extra = 0;  // allowance per family and locus in 1e-5 beyond the selfed families
};

class SelfedAgainstOracle : public ::testing::TestWithParam<Case> {};

// Seeded random clusters with one selfed family, 0 to 2 typed individuals, missing genotypes,
// count scaling on and off and occasional Mendel errors; each selfing parent's inbreeding is the
// one the selfing-generation estimate gives it, which the oracle reads as well.
TEST_P(SelfedAgainstOracle, EveryLocusMatches) {
  const Case cs = GetParam();
  const Shape shapes[] = {Shape::one_family, Shape::star, Shape::chain, Shape::tree};
  int compared = 0, impossible = 0, lone = 0;
  for (std::uint32_t seed = 1; seed <= 150; ++seed) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"selfed_offspring"};
    oracle::Options o;
    o.shape = cs.lone || cs.big ? Shape::one_family : shapes[seed % 4];
    o.species = Species::selfing;
    o.markers = cs.markers;
    o.loci = 2;
    o.big_family = cs.big;
    o.sampled_parents = static_cast<int>(seed / 4 % 3);
    o.missing = seed % 3 == 0 ? 0.25 : 0.0;
    o.fsscaleq = static_cast<int>(seed / 12 % 2);
    o.mendel_errors = seed % 7 == 0;
    const Cluster c = oracle::random_cluster(seed * 7907u + 3u, o);
    if (!acyclic_apart_from_selfing(c)) continue;
    const oracle::Built b = oracle::build(c);
    ASSERT_TRUE(b.ok) << b.error;
    oracle::exact_mode();
    selfinggen_est();
    const int selfed = selfed_families(c);
    ASSERT_EQ(selfed, 1);
    if (c.fathers.size() == 1 && c.mothers.size() == 1) ++lone;
    for (int4 l = 1; l <= variables.numloci; ++l) {
      const int4 k = variables.obsnumallele(l);
      if (k < 2) continue;
      const double ref = oracle::locus_logl(c, l);
      const double got = engine_logl(l);
      SCOPED_TRACE(std::string(cs.name) + " seed " + std::to_string(seed) + " locus " +
                   std::to_string(l));
      ++compared;
      if (ref == -1e300) {
        EXPECT_LE(got, -1e299);
        ++impossible;
        continue;
      }
      // The several-class codominant branch of the selfed absorption goes through a
      // single-precision exponent (1e-5 per selfed family); error tables of the outcrossed
      // families carry the same per family.
      const bool codom = variables.dominantmarker(l) == 0;
      const bool errors = variables.locuserror(l) != 0;
      const int outcrossed = static_cast<int>(c.families.size()) - selfed;
      const int single = (codom ? selfed : 0) + (codom && errors ? outcrossed : 0) +
                         cs.extra * static_cast<int>(c.families.size());
      EXPECT_NEAR(got, ref, oracle::tolerance(ref, 0, single));
    }
    if (HasFailure()) break;
  }
  EXPECT_GT(compared, 100);
  EXPECT_GT(lone, 0);
  (void)impossible;
}

INSTANTIATE_TEST_SUITE_P(
    Markers, SelfedAgainstOracle,
    ::testing::Values(Case{"lone_snp_free", Markers::snp_free, false, true},
                      Case{"lone_multi_free", Markers::multi_free, false, true},
                      Case{"lone_snp_error", Markers::snp_error, false, true},
                      Case{"lone_multi_error", Markers::multi_error, false, true},
                      Case{"lone_many_error", Markers::many_error, false, true},
                      Case{"lone_dominant_free", Markers::dominant_free, false, true},
                      Case{"lone_dominant_error", Markers::dominant_error, false, true},
                      Case{"lone_big_snp_error", Markers::snp_error, true, true},
                      Case{"lone_big_multi_free", Markers::multi_free, true, true},
                      Case{"lone_big_dominant_free", Markers::dominant_free, true, true},
                      Case{"lone_big_dominant_error", Markers::dominant_error, true, true},
                      Case{"trees_snp_free", Markers::snp_free, false, false},
                      Case{"trees_multi_free", Markers::multi_free, false, false},
                      Case{"trees_snp_error", Markers::snp_error, false, false},
                      Case{"trees_multi_error", Markers::multi_error, false, false},
                      Case{"trees_many_error", Markers::many_error, false, false},
                      Case{"trees_dominant_free", Markers::dominant_free, false, false},
                      Case{"trees_dominant_error", Markers::dominant_error, false, false}),
    [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace kinrad

namespace kinrad {
namespace {

// The family likelihood as the search calls it (checks, the selfing-generation estimate, every
// locus) for selfing clusters with and without cycles: the prior term plus the oracle's sum
// over the loci, with each selfing parent's inbreeding as the driver's estimate leaves it.
TEST(SelfedDriver, FamilyLikelihoodMatchesTheOracle) {
  const oracle::Shape shapes[] = {oracle::Shape::one_family, oracle::Shape::star,
                                  oracle::Shape::tree, oracle::Shape::cycle2x2,
                                  oracle::Shape::random_graph};
  const oracle::Markers markers[] = {oracle::Markers::snp_free, oracle::Markers::multi_free,
                                     oracle::Markers::snp_error, oracle::Markers::dominant_free};
  int compared = 0;
  for (std::uint32_t seed = 1; seed <= 60; ++seed) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"selfed_driver"};
    oracle::Options o;
    o.shape = shapes[seed % 5];
    o.species = oracle::Species::selfing;
    o.markers = markers[seed / 5 % 4];
    o.loci = 3;
    o.sampled_parents = static_cast<int>(seed % 3);
    const Cluster c = oracle::random_cluster(seed * 4099u + 1u, o);
    ASSERT_TRUE(oracle::build(c).ok);
    oracle::exact_mode();
    SCOPED_TRACE(seed);
    real8 logl = 0.0;
    familylikelihood(logl, -1e300, 1, 0, 0);
    ASSERT_GT(logl, -1e300);  // simulated families pass the checks
    double ref = 0.0, tol = 1e-9;
    for (int4 l = 1; l <= variables.numloci; ++l) {
      const int4 k = variables.obsnumallele(l);
      if (k < 2) continue;
      const double x = oracle::locus_logl(c, l);
      ASSERT_GT(x, -1e300);
      ref += x;
      const bool codom = variables.dominantmarker(l) == 0;
      const bool errors = variables.locuserror(l) != 0;
      tol += oracle::tolerance(x, k == 2 ? static_cast<int>(c.offspring.size()) : 0,
                               codom ? (errors ? static_cast<int>(c.families.size()) : 1) : 0);
    }
    EXPECT_NEAR(logl - family_prior_term(), ref, tol);
    ++compared;
    if (HasFailure()) break;
  }
  EXPECT_GT(compared, 50);
}

}  // namespace
}  // namespace kinrad
