// The locus likelihood of clusters whose mating graph has no cycle, at loci with typing errors
// (two alleles, three to eight family alleles, more than eight) and at dominant loci with and
// without errors, against the brute-force sum of the oracle (every genotype of every parent over
// the locus's full allele set, Mendel's rules, the observation model and the parents' priors).
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/modules.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/oracle.hpp"
#include "support/engine_compare.hpp"
#include "support/seed_budget.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using oracle::Cluster;
using oracle::Markers;
using oracle::Shape;
using oracle::Species;

using testing_support::engine_logl;

// Whether the families link the parent individuals without a cycle.
bool individuals_acyclic(const Cluster& c) {
  return !testing_support::families_close_a_cycle(c);
}

struct Case {
  const char* name;
  Species species;
  Markers markers;
  bool big;  // families beyond the dominant tables' 20 offspring of a kind
  // Allowance per family for pairs the masks drop, in units of 1e-5. The masks judge a pair by
  // the offspring alone; inbred parents' priors can give a dropped pair more weight than that.
  int mask_units = 1;
};

class ErrorLociAgainstOracle : public ::testing::TestWithParam<Case> {};

TEST_P(ErrorLociAgainstOracle, EveryLocusMatches) {
  const Case cs = GetParam();
  const Shape shapes[] = {Shape::one_family, Shape::star, Shape::chain, Shape::tree};
  const testing_support::SeedBudget seeds = testing_support::seed_budget(200);
  int compared = 0, impossible_both = 0, engine_only_impossible = 0;
  for (std::uint32_t seed = 1; seed <= seeds.n; ++seed) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"locus_logl_errors"};
    oracle::Options o;
    o.shape = cs.big ? Shape::one_family : shapes[seed % 4];
    o.species = cs.species;
    o.markers = cs.markers;
    o.loci = 2;
    o.big_family = cs.big && seed % 2 == 0;
    o.sampled_parents = static_cast<int>(seed / 4 % 3);
    o.missing = seed % 3 == 0 ? 0.25 : 0.0;
    o.fsscaleq = static_cast<int>(seed / 12 % 2);
    o.mendel_errors = seed % 7 == 0;
    const Cluster c = oracle::random_cluster(seed * 104729u + 31u, o);
    if (!individuals_acyclic(c)) continue;
    const oracle::Built b = oracle::build(c);
    ASSERT_TRUE(b.ok) << b.error;
    oracle::exact_mode();
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
        ++impossible_both;
        continue;
      }
      // Tables through single-precision exponents carry 1e-5 per family.
      const bool single = variables.dominantmarker(l) == 0 && variables.locuserror(l) != 0;
      const int families = single ? static_cast<int>(c.families.size()) : 0;
      if (got <= -1e299) {
        ++engine_only_impossible;
        continue;
      }
      EXPECT_NEAR(got, ref, oracle::tolerance(ref, 0, families * cs.mask_units));
    }
    if (HasFailure()) break;
  }
  EXPECT_GT(compared, seeds.share(200));
  // that must stay rare.
  EXPECT_LE(engine_only_impossible, compared / 10) << impossible_both;
}

INSTANTIATE_TEST_SUITE_P(
    Markers, ErrorLociAgainstOracle,
    ::testing::Values(
        Case{"diploid_snp_error", Species::diploid, Markers::snp_error, false},
        Case{"diploid_multi_error", Species::diploid, Markers::multi_error, false},
        Case{"diploid_many_error", Species::diploid, Markers::many_error, false},
        Case{"diploid_many_error_big", Species::diploid, Markers::many_error, true},
        Case{"diploid_dominant_free", Species::diploid, Markers::dominant_free, false},
        Case{"diploid_dominant_error", Species::diploid, Markers::dominant_error, false},
        Case{"diploid_dominant_free_big", Species::diploid, Markers::dominant_free, true},
        Case{"diploid_dominant_error_big", Species::diploid, Markers::dominant_error, true},
        Case{"inbred_snp_error", Species::inbred, Markers::snp_error, false},
        Case{"inbred_multi_error", Species::inbred, Markers::multi_error, false, 10},
        Case{"inbred_dominant_error", Species::inbred, Markers::dominant_error, false},
        Case{"monoecious_snp_error", Species::monoecious, Markers::snp_error, false},
        Case{"monoecious_multi_error", Species::monoecious, Markers::multi_error, false},
        Case{"monoecious_dominant_free", Species::monoecious, Markers::dominant_free, false},
        Case{"monoecious_dominant_error", Species::monoecious, Markers::dominant_error, false},
        Case{"haplodiploid_snp_error", Species::haplodiploid, Markers::snp_error, false},
        Case{"haplodiploid_multi_error", Species::haplodiploid, Markers::multi_error, false},
        Case{"haplodiploid_many_error", Species::haplodiploid, Markers::many_error, false},
        Case{"haplodiploid_many_error_big", Species::haplodiploid, Markers::many_error, true},
        Case{"haplodiploid_dominant_free", Species::haplodiploid, Markers::dominant_free, false},
        Case{"haplodiploid_dominant_error", Species::haplodiploid, Markers::dominant_error, false},
        Case{"haplodiploid_dominant_error_big", Species::haplodiploid, Markers::dominant_error,
             true}),
    [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace kinrad
