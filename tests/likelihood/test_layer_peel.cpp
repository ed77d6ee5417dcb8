// The locus likelihood of two-sex clusters whose mating graph has cycles, at every kind of
// locus, against the brute-force sum of the oracle (every genotype of every parent
// over the locus's full allele set, Mendel's rules, the observation model and the parents'
// priors). Every expected value comes from that enumeration.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/oracle.hpp"
#include "support/engine_compare.hpp"
#include "support/module_reset.hpp"
#include "support/seed_budget.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using oracle::Cluster;
using oracle::Genotype;
using oracle::Markers;
using oracle::Shape;
using oracle::Species;

using testing_support::diploid_typed;
using testing_support::engine_logl;
using testing_support::SpeciesCase;

// Whether two families share both parents' links in a cycle (families of sons only link nobody;
// the roles of one individual are not merged).
bool has_cycle(const Cluster& c) {
  return testing_support::families_close_a_cycle(c, {.diploid_only = true, .merge_roles = false});
}

// Compares every locus of at least two alleles; returns the number of loci compared. At loci
// with typing errors, tables made through single-precision exponents and masks that judge parent
// pairs by the offspring alone carry mask_units x 1e-5 per family; the engine may call such a
// locus impossible where the enumeration is not (counted in engine_only).
int compare_all(const Cluster& c, const std::string& what, int& impossible, int mask_units = 1,
                int* engine_only = nullptr) {
  testing_support::CompareRule rule;
  rule.impossible_below = true;
  rule.engine_only = engine_only;
  rule.tolerance = [&](int4 l, double ref) {
    const bool errors = variables.locuserror(l) != 0;
    const bool single = variables.dominantmarker(l) == 0 && errors;
    const int ln2 = variables.obsnumallele(l) == 2 && !errors ? diploid_typed(c, l) : 0;
    const int families = single ? static_cast<int>(c.families.size()) * mask_units : 0;
    return oracle::tolerance(ref, ln2, families);
  };
  return testing_support::compare_all(c, what, impossible, rule);
}

class LayerPeel : public testing_support::ModuleReset {};

class CyclicAgainstOracle : public ::testing::TestWithParam<SpeciesCase> {};

// Seeded random clusters of every cyclic shape, with 0 to 2 sampled parents, untyped offspring
// inside the cycles, count scaling on and off and occasional Mendel errors.
TEST_P(CyclicAgainstOracle, EveryLocusMatches) {
  const SpeciesCase sc = GetParam();
  const Shape shapes[] = {Shape::cycle2x2, Shape::cycle2x3,   Shape::cycle3x3,
                          Shape::ladder,   Shape::two_cycles, Shape::random_graph};
  const testing_support::SeedBudget seeds = testing_support::seed_budget(120);
  int impossible = 0, compared = 0, cyclic = 0;
  for (std::uint32_t seed = 1; seed <= seeds.n; ++seed) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"layer_peel"};
    oracle::Options o;
    o.shape = shapes[seed % 6];
    o.species = sc.species;
    o.markers = sc.markers;
    o.loci = 2;
    o.sampled_parents = static_cast<int>(seed / 6 % 3);
    o.missing = seed % 3 == 0 ? 0.25 : 0.0;
    o.fsscaleq = static_cast<int>(seed / 18 % 2);
    o.mendel_errors = seed % 11 == 0;
    const Cluster c = oracle::random_cluster(seed * 104729u + 3u, o);
    if (has_cycle(c)) ++cyclic;
    const oracle::Built b = oracle::build(c);
    ASSERT_TRUE(b.ok) << b.error;
    oracle::exact_mode();
    const std::string what = std::string(sc.name) + " seed " + std::to_string(seed);
    compared += compare_all(c, what, impossible);
    if (HasFailure()) break;
  }
  EXPECT_GT(compared, seeds.share(150));
  EXPECT_GT(cyclic, seeds.share(60));  // the shapes do reach the layer stage
}

INSTANTIATE_TEST_SUITE_P(
    Species, CyclicAgainstOracle,
    ::testing::Values(SpeciesCase{"diploid_snp", Species::diploid, Markers::snp_free},
                      SpeciesCase{"diploid_multi", Species::diploid, Markers::multi_free},
                      SpeciesCase{"inbred_snp", Species::inbred, Markers::snp_free},
                      SpeciesCase{"inbred_multi", Species::inbred, Markers::multi_free},
                      SpeciesCase{"haplodiploid_snp", Species::haplodiploid, Markers::snp_free},
                      SpeciesCase{"haplodiploid_multi", Species::haplodiploid,
                                  Markers::multi_free}),
    [](const ::testing::TestParamInfo<SpeciesCase>& i) { return std::string(i.param.name); });

struct MarkerCase {
  const char* name;
  Species species;
  Markers markers;
  int mask_units = 1;  // allowance per family for pairs the masks drop, in units of 1e-5
  std::uint32_t seeds = 100;
};

class CyclicMarkersAgainstOracle : public ::testing::TestWithParam<MarkerCase> {};

// Loci with typing errors and dominant loci: the layer stage reads each kind's family tables
// (the error tables over family classes, trimmed to their dimension; the dominant 3 x 3 and
// 2 x 3 tables) and must give the enumeration's value on every cyclic shape.
TEST_P(CyclicMarkersAgainstOracle, EveryLocusMatches) {
  const MarkerCase mc = GetParam();
  const Shape shapes[] = {Shape::cycle2x2, Shape::cycle2x3,   Shape::cycle3x3,
                          Shape::ladder,   Shape::two_cycles, Shape::random_graph};
  const testing_support::SeedBudget seeds = testing_support::seed_budget(mc.seeds);
  int impossible = 0, compared = 0, cyclic = 0, engine_only = 0;
  for (std::uint32_t seed = 1; seed <= seeds.n; ++seed) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"layer_peel"};
    oracle::Options o;
    o.shape = shapes[seed % 6];
    o.species = mc.species;
    o.markers = mc.markers;
    o.loci = 2;
    o.sampled_parents = static_cast<int>(seed / 6 % 3);
    o.missing = seed % 3 == 0 ? 0.25 : 0.0;
    o.fsscaleq = static_cast<int>(seed / 18 % 2);
    o.mendel_errors = seed % 11 == 0;
    const Cluster c = oracle::random_cluster(seed * 7919u + 11u, o);
    if (has_cycle(c)) ++cyclic;
    const oracle::Built b = oracle::build(c);
    ASSERT_TRUE(b.ok) << b.error;
    oracle::exact_mode();
    const std::string what = std::string(mc.name) + " seed " + std::to_string(seed);
    compared += compare_all(c, what, impossible, mc.mask_units, &engine_only);
    if (HasFailure()) break;
  }
  EXPECT_GT(compared, seeds.share(static_cast<int>(mc.seeds * 3 / 2)));
  EXPECT_GT(cyclic, seeds.share(static_cast<int>(mc.seeds / 2)));
  EXPECT_LE(engine_only, compared / 10) << impossible;
}

INSTANTIATE_TEST_SUITE_P(
    Markers, CyclicMarkersAgainstOracle,
    ::testing::Values(
        MarkerCase{"diploid_snp_error", Species::diploid, Markers::snp_error},
        MarkerCase{"diploid_multi_error", Species::diploid, Markers::multi_error},
        MarkerCase{"diploid_many_error", Species::diploid, Markers::many_error},
        MarkerCase{"diploid_dominant_free", Species::diploid, Markers::dominant_free},
        MarkerCase{"diploid_dominant_error", Species::diploid, Markers::dominant_error},
        MarkerCase{"inbred_snp_error", Species::inbred, Markers::snp_error},
        // The enumeration over eight alleles is slow: the diploid case holds the hundred seeds.
        MarkerCase{"inbred_multi_error", Species::inbred, Markers::multi_error, 10, 40},
        MarkerCase{"inbred_dominant_free", Species::inbred, Markers::dominant_free},
        MarkerCase{"inbred_dominant_error", Species::inbred, Markers::dominant_error},
        MarkerCase{"haplodiploid_snp_error", Species::haplodiploid, Markers::snp_error},
        MarkerCase{"haplodiploid_multi_error", Species::haplodiploid, Markers::multi_error},
        MarkerCase{"haplodiploid_many_error", Species::haplodiploid, Markers::many_error},
        MarkerCase{"haplodiploid_dominant_free", Species::haplodiploid, Markers::dominant_free},
        MarkerCase{"haplodiploid_dominant_error", Species::haplodiploid, Markers::dominant_error}),
    [](const ::testing::TestParamInfo<MarkerCase>& i) { return std::string(i.param.name); });

// The program's own thresholds at likelihoodprecision 2 and 3 (prec1 = prec2 = 0.1^(2 x
// precision), prec3 a tenth of it): the reduction and the cut-offs only drop probability, so the
// value never exceeds the enumeration's (beyond the rounding its tolerance allows) and stays
// within 1e-2 of it in logs; every call leaves prec1 and prec3 at their standard values.
TEST_F(LayerPeel, NormalPrecisionOnlyDropsMass) {
  const Markers kinds[] = {Markers::snp_free, Markers::multi_free, Markers::dominant_free,
                           Markers::dominant_error};
  const Shape shapes[] = {Shape::cycle2x2, Shape::cycle2x3,   Shape::cycle3x3,
                          Shape::ladder,   Shape::two_cycles, Shape::random_graph};
  int compared = 0;
  for (int prec = 2; prec <= 3; ++prec) {
    for (std::uint32_t seed = 1; seed <= 48; ++seed) {
      reset_all_modules();
      testing_support::TempWorkDir dir{"layer_peel"};
      oracle::Options o;
      o.shape = shapes[seed % 6];
      o.markers = kinds[seed / 6 % 4];
      o.species = seed % 5 == 0 ? Species::inbred : Species::diploid;
      o.loci = 2;
      o.sampled_parents = static_cast<int>(seed % 3);
      o.missing = seed % 4 == 0 ? 0.2 : 0.0;
      const Cluster c = oracle::random_cluster(seed * 4099u + static_cast<unsigned>(prec), o);
      const oracle::Built b = oracle::build(c);
      ASSERT_TRUE(b.ok) << b.error;
      Variables& v = variables;
      v.likelihoodprecision = prec;
      v.prec1 = v.prec2 = std::pow(0.1, 2 * prec);
      v.prec3 = 0.1 * v.prec1;
      for (int4 l = 1; l <= v.numloci; ++l) {
        const int4 k = v.obsnumallele(l);
        if (k < 2) continue;
        SCOPED_TRACE("precision " + std::to_string(prec) + " seed " + std::to_string(seed) +
                     " locus " + std::to_string(l));
        const double ref = oracle::locus_logl(c, l);
        const double got = engine_logl(l);
        ++compared;
        EXPECT_EQ(v.prec1, v.prec2);
        EXPECT_DOUBLE_EQ(v.prec3, 0.1 * v.prec2);
        if (ref == -1e300) {
          EXPECT_LE(got, -1e299);
          continue;
        }
        const bool errors = v.locuserror(l) != 0;
        const double tol = oracle::tolerance(ref, k == 2 && !errors ? diploid_typed(c, l) : 0);
        EXPECT_LE(got, ref + tol);
        EXPECT_GE(got, ref - 1e-2);
      }
      if (HasFailure()) return;
    }
  }
  EXPECT_GT(compared, 150);
}

// A cycle with one family of 100 or more offspring: path values far below the range of doubles
// are carried in logs and still sum to the enumeration's value.
TEST_F(LayerPeel, BigFamilyInACycle) {
  int compared = 0, impossible = 0;
  for (std::uint32_t seed = 1; seed <= 6; ++seed) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"layer_peel"};
    oracle::Options o;
    o.shape = seed % 2 == 0 ? Shape::cycle2x2 : Shape::cycle2x3;
    o.markers = seed % 3 == 0 ? Markers::snp_free : Markers::multi_free;
    o.big_family = true;
    o.loci = 2;
    o.sampled_parents = static_cast<int>(seed % 3);
    const Cluster c = oracle::random_cluster(seed * 31u + 5u, o);
    ASSERT_TRUE(has_cycle(c));
    const oracle::Built b = oracle::build(c);
    ASSERT_TRUE(b.ok) << b.error;
    oracle::exact_mode();
    compared += compare_all(c, "big family seed " + std::to_string(seed), impossible);
    // Families of 100 or more: the weights are rescaled at every layer.
    EXPECT_EQ(likelihoodvar.numlayerscaler, 1);
  }
  EXPECT_GT(compared, 6);
}

// The complete 5 x 5 graph (every pair a family of two) needs four conditioning layers: each
// conditioned father leaves every mother one family fewer, and only after the fourth are the
// mothers single. Parent genotypes are drawn at random and the offspring follow Mendel, at an
// error-free two-allele locus, a two-allele locus with errors and a dominant locus with errors.
TEST_F(LayerPeel, CompleteFiveByFiveTakesFourLayers) {
  for (std::uint32_t seed = 1; seed <= 3; ++seed) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"layer_peel"};
    std::uint32_t state = seed * 2654435761u;
    auto draw = [&](int n) {
      state = state * 1664525u + 1013904223u;
      return static_cast<int>((state >> 16) % static_cast<std::uint32_t>(n));
    };
    Cluster c;
    c.loci = {{false, 2, {}, 0.0, 0.0}, {false, 2, {}, 0.02, 0.01}, {true, 2, {}, 0.02, 0.01}};
    c.fathers.resize(5);
    c.mothers.resize(5);
    std::vector<std::vector<Genotype>> fg(5), mg(5);
    auto parent = [&]() {
      std::vector<Genotype> g;
      for (int l = 0; l < 3; ++l) g.push_back({1 + draw(2), 1 + draw(2)});
      return g;
    };
    for (int i = 0; i < 5; ++i) fg[static_cast<size_t>(i)] = parent();
    for (int i = 0; i < 5; ++i) mg[static_cast<size_t>(i)] = parent();
    for (int f = 1; f <= 5; ++f) {
      for (int m = 1; m <= 5; ++m) {
        oracle::Family fam{f, m, {}};
        for (int k = 0; k < 2; ++k) {
          std::vector<Genotype> o;
          for (int l = 0; l < 3; ++l) {
            const Genotype a = fg[static_cast<size_t>(f - 1)][static_cast<size_t>(l)];
            const Genotype b = mg[static_cast<size_t>(m - 1)][static_cast<size_t>(l)];
            const int x = a[static_cast<size_t>(draw(2))], y = b[static_cast<size_t>(draw(2))];
            // Dominant locus: allele 1 shows the band.
            if (c.loci[static_cast<size_t>(l)].dominant)
              o.push_back({x == 1 || y == 1 ? 1 : 2, 0});
            else
              o.push_back({std::min(x, y), std::max(x, y)});
          }
          c.offspring.push_back(o);
          c.offploid.push_back(2);
          fam.members.push_back(static_cast<int>(c.offspring.size()));
        }
        c.families.push_back(fam);
      }
    }
    const oracle::Built b = oracle::build(c);
    ASSERT_TRUE(b.ok) << b.error;
    oracle::exact_mode();
    int impossible = 0;
    const int compared = compare_all(c, "K5,5 seed " + std::to_string(seed), impossible, 1);
    EXPECT_EQ(compared, 3);
    EXPECT_EQ(impossible, 0);
    // The last locus compared reached the fourth layer.
    EXPECT_EQ(likelihoodvar.layerdeepest, 4);
    // The cut-offs are left as the exact mode set them.
    EXPECT_EQ(variables.prec1, variables.prec2);
    EXPECT_DOUBLE_EQ(variables.prec3, 0.1 * variables.prec2);
  }
}

// Two consecutive loci of several alleles on one cyclic cluster: each is computed from its own
// genotype lists, nothing of the first locus's layer states is carried into the second.
TEST_F(LayerPeel, ConsecutiveLociOfOneCluster) {
  int compared = 0, impossible = 0, merged = 0;
  for (std::uint32_t seed = 1; seed <= 10; ++seed) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"layer_peel"};
    oracle::Options o;
    o.shape = Shape::cycle3x3;
    o.markers = Markers::multi_free;
    o.loci = 3;
    o.sampled_parents = 2;
    const Cluster c = oracle::random_cluster(seed * 7u + 1u, o);
    const oracle::Built b = oracle::build(c);
    ASSERT_TRUE(b.ok) << b.error;
    oracle::exact_mode();
    // Forward, then backward: a state left over from the other locus would show.
    compared += compare_all(c, "forward seed " + std::to_string(seed), impossible);
    merged += likelihoodvar.trimused > 0 ? 1 : 0;
    for (int4 l = variables.numloci; l >= 1; --l) {
      const int4 k = variables.obsnumallele(l);
      if (k < 2) continue;
      const double ref = oracle::locus_logl(c, l);
      SCOPED_TRACE("backward seed " + std::to_string(seed) + " locus " + std::to_string(l));
      if (ref == -1e300) {
        EXPECT_EQ(engine_logl(l), -1e300);
      } else {
        EXPECT_NEAR(engine_logl(l), ref, oracle::tolerance(ref, k == 2 ? diploid_typed(c, l) : 0));
      }
      merged += likelihoodvar.trimused > 0 ? 1 : 0;
    }
  }
  EXPECT_GT(compared, 20);
  // Equivalent genotypes were merged per layer at some of these loci, from each locus's own
  // genotype lists.
  EXPECT_GT(merged, 0);
}

}  // namespace
}  // namespace kinrad
