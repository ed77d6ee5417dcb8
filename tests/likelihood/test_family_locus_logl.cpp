// The locus likelihood of clusters whose mating graph has no cycle, at error-free codominant
// loci, against the brute-force sum of the oracle (every genotype of every parent over the
// locus's full allele set, Mendel's rules, the observation model and the parents' priors).
#include <gtest/gtest.h>

#include <cmath>
#include <string>

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
using oracle::Markers;
using oracle::Shape;
using oracle::Species;

using testing_support::diploid_typed;
using testing_support::engine_logl;
using testing_support::SpeciesCase;

// Compares every locus of at least two alleles; returns the number of loci compared.
int compare_all(const Cluster& c, const std::string& what) {
  testing_support::CompareRule rule;
  rule.tolerance = [&](int4 l, double ref) {
    return oracle::tolerance(ref, variables.obsnumallele(l) == 2 ? diploid_typed(c, l) : 0);
  };
  int impossible = 0;
  return testing_support::compare_all(c, what, impossible, rule);
}

// Whether the families link the parent individuals (an individual acting in both roles of a
// monoecious species counted once) without a cycle: the clusters simple peeling completes.
bool individuals_acyclic(const Cluster& c) {
  return !testing_support::families_close_a_cycle(c);  // sons only: no family between parents
}

class FamilyLocusLogL : public testing_support::ModuleReset {};

class AcyclicAgainstOracle : public ::testing::TestWithParam<SpeciesCase> {};

// Seeded random clusters of every acyclic shape, with 0 to 2 sampled parents, missing
// genotypes, count scaling on and off and occasional Mendel errors.
TEST_P(AcyclicAgainstOracle, EveryLocusMatches) {
  const SpeciesCase sc = GetParam();
  const Shape shapes[] = {Shape::one_family, Shape::star, Shape::chain, Shape::tree};
  const testing_support::SeedBudget seeds = testing_support::seed_budget(200);
  int impossible = 0, compared = 0;
  for (std::uint32_t seed = 1; seed <= seeds.n; ++seed) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"locus_logl"};
    oracle::Options o;
    o.shape = shapes[seed % 4];
    o.species = sc.species;
    o.markers = sc.markers;
    o.loci = 2;
    o.sampled_parents = static_cast<int>(seed / 4 % 3);
    o.missing = seed % 3 == 0 ? 0.25 : 0.0;
    o.fsscaleq = static_cast<int>(seed / 12 % 2);
    o.mendel_errors = seed % 7 == 0;
    const Cluster c = oracle::random_cluster(seed * 7919u + 17u, o);
    if (!individuals_acyclic(c)) continue;  // one individual in both roles closed a cycle
    const oracle::Built b = oracle::build(c);
    ASSERT_TRUE(b.ok) << b.error;
    oracle::exact_mode();
    const std::string what = std::string(sc.name) + " seed " + std::to_string(seed);
    compared += compare_all(c, what);
    for (int4 l = 1; l <= variables.numloci; ++l)
      if (variables.obsnumallele(l) >= 2 && oracle::locus_logl(c, l) == -1e300) ++impossible;
    if (HasFailure()) break;
  }
  EXPECT_GT(compared, seeds.share(300));
  EXPECT_GE(impossible, seeds.share(1));  // the Mendel errors reach the comparison
}

INSTANTIATE_TEST_SUITE_P(
    Species, AcyclicAgainstOracle,
    ::testing::Values(SpeciesCase{"diploid_snp", Species::diploid, Markers::snp_free},
                      SpeciesCase{"diploid_multi", Species::diploid, Markers::multi_free},
                      SpeciesCase{"inbred_snp", Species::inbred, Markers::snp_free},
                      SpeciesCase{"inbred_multi", Species::inbred, Markers::multi_free},
                      SpeciesCase{"haplodiploid_snp", Species::haplodiploid, Markers::snp_free},
                      SpeciesCase{"haplodiploid_multi", Species::haplodiploid, Markers::multi_free},
                      SpeciesCase{"monoecious_snp", Species::monoecious, Markers::snp_free},
                      SpeciesCase{"monoecious_multi", Species::monoecious, Markers::multi_free}),
    [](const ::testing::TestParamInfo<SpeciesCase>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace kinrad

namespace kinrad {
namespace {

using oracle::Genotype;

// A locus of 4 alleles and a 2-allele locus, both error-free.
std::vector<oracle::Locus> two_loci() {
  return {{false, 4, {}, 0.0, 0.0}, {false, 2, {}, 0.0, 0.0}};
}

void add_member(Cluster& c, int family, std::vector<Genotype> g, int ploidy = 2) {
  c.offspring.push_back(std::move(g));
  c.offploid.push_back(ploidy);
  c.families[static_cast<size_t>(family)].members.push_back(static_cast<int>(c.offspring.size()));
}

// Father F1 with mothers M1 and M2; his family with M2 untyped at the first locus, M2 also mated to
// F2 with typed offspring, and M2 a typed candidate. The list takes F2 into M2, M1 into F1,
// then M2 into F1 through the untyped family, which must carry M2's observation and the whole
// F2 x M2 family with it.
TEST_F(FamilyLocusLogL, UntypedFamilyCarriesTheAbsorbedParentsMass) {
  testing_support::TempWorkDir dir{"locus_logl"};
  Cluster c;
  c.loci = two_loci();
  c.fathers.resize(2);
  c.mothers.resize(2);
  c.mothers[1].candidate = 1;
  c.mothers[1].genotype = {Genotype{2, 3}, Genotype{1, 2}};
  c.families = {{1, 1, {}}, {1, 2, {}}, {2, 2, {}}};
  add_member(c, 0, {Genotype{1, 2}, Genotype{1, 1}});
  add_member(c, 0, {Genotype{1, 4}, Genotype{1, 2}});
  add_member(c, 1, {Genotype{0, 0}, Genotype{1, 2}});
  add_member(c, 1, {Genotype{0, 0}, Genotype{2, 2}});
  add_member(c, 2, {Genotype{2, 4}, Genotype{2, 2}});
  add_member(c, 2, {Genotype{3, 3}, Genotype{1, 2}});
  add_member(c, 2, {Genotype{3, 4}, Genotype{1, 2}});
  c.filler = {{Genotype{1, 1}, Genotype{1, 2}}};
  const oracle::Built b = oracle::build(c);
  ASSERT_TRUE(b.ok) << b.error;
  oracle::exact_mode();
  const Likelihoodvar& lv = likelihoodvar;
  // First locus: the list as described.
  const double ref = oracle::locus_logl(c, 1);
  EXPECT_NEAR(engine_logl(1), ref, oracle::tolerance(ref));
  const int np1 = variables.nparent(1);
  ASSERT_EQ(lv.mabsorb(1), 3);
  EXPECT_EQ(lv.iabsorb(1, 1), 2);        // F2
  EXPECT_EQ(lv.iabsorb(2, 1), np1 + 2);  // into M2
  EXPECT_EQ(lv.iabsorb(1, 2), np1 + 1);  // M1
  EXPECT_EQ(lv.iabsorb(2, 2), 1);        // into F1
  EXPECT_EQ(lv.iabsorb(1, 3), np1 + 2);  // M2
  EXPECT_EQ(lv.iabsorb(2, 3), 1);        // into F1
  EXPECT_EQ(compare_all(c, "untyped family"), 2);
}

// A mother whose offspring in the cluster are all haploid sons, alone and beside a family with
// daughters: her sons' probability enters the result.
TEST_F(FamilyLocusLogL, MotherOfSonsOnly) {
  for (int beside = 0; beside <= 1; ++beside) {
    SCOPED_TRACE(beside);
    reset_all_modules();
    testing_support::TempWorkDir dir{"locus_logl"};
    Cluster c;
    c.haplodiploid = true;
    c.loci = two_loci();
    c.fathers.resize(1);
    c.mothers.resize(1 + static_cast<size_t>(beside));
    c.families = {{1, 1, {}}};
    add_member(c, 0, {Genotype{1, 0}, Genotype{2, 0}}, 1);
    add_member(c, 0, {Genotype{3, 0}, Genotype{1, 0}}, 1);
    if (beside == 1) {
      c.families.push_back({1, 2, {}});
      add_member(c, 1, {Genotype{2, 4}, Genotype{1, 2}});
      add_member(c, 1, {Genotype{2, 2}, Genotype{1, 1}});
      add_member(c, 1, {Genotype{4, 0}, Genotype{2, 0}}, 1);
    }
    c.filler = {{Genotype{1, 2}, Genotype{1, 2}}, {Genotype{3, 4}, Genotype{1, 1}}};
    const oracle::Built b = oracle::build(c);
    ASSERT_TRUE(b.ok) << b.error;
    oracle::exact_mode();
    EXPECT_EQ(compare_all(c, "sons only"), 2);
  }
}

// A known father is named in the input and never assigned by the search, and his haploid sons
// have no father: whether a son or a daughter leads the family, the father's typed genotype
// enters the value.
TEST_F(FamilyLocusLogL, KnownFatherOfAFamilyLedByASon) {
  for (int sonfirst = 0; sonfirst <= 1; ++sonfirst) {
    SCOPED_TRACE(sonfirst == 1 ? "son first" : "daughter first");
    reset_all_modules();
    testing_support::TempWorkDir dir{"locus_logl"};
    // Fathers F1 (unsampled) and F2 (known, typed); F1 mated to M1 and M2, F2 to M1.
    Cluster c;
    c.haplodiploid = true;
    c.loci = two_loci();
    c.fathers.resize(2);
    c.mothers.resize(2);
    c.fathers[1].candidate = 1;
    c.fathers[1].known = true;
    c.fathers[1].genotype = {Genotype{3, 0}, Genotype{2, 0}};
    c.families = {{1, 1, {}}, {2, 1, {}}, {1, 2, {}}};
    if (sonfirst == 1) add_member(c, 1, {Genotype{1, 0}, Genotype{1, 0}}, 1);
    add_member(c, 0, {Genotype{1, 2}, Genotype{1, 1}});
    add_member(c, 1, {Genotype{1, 3}, Genotype{1, 2}});
    add_member(c, 2, {Genotype{2, 4}, Genotype{1, 2}});
    if (sonfirst == 0) add_member(c, 1, {Genotype{1, 0}, Genotype{1, 0}}, 1);
    c.filler = {{Genotype{1, 2}, Genotype{1, 2}}, {Genotype{3, 4}, Genotype{1, 1}}};
    const oracle::Built b = oracle::build(c);
    ASSERT_TRUE(b.ok) << b.error;
    oracle::exact_mode();
    // As the search leaves it: the known father is not among the assignments.
    for (int4 m = 1; m <= 4; ++m) variables.inferparent(m, 1) = 0;
    int4 status = 0;
    preparevariable(status, 0, 0, 0);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(likelihoodvar.knownprt(2), 1);
    EXPECT_EQ(compare_all(c, "known father"), 2);
  }
}

// Daughters showing both homozygotes under one haploid father cannot occur: the locus says so
// itself, at 2-allele and at multi-allele loci.
TEST_F(FamilyLocusLogL, HaplodiploidDaughtersOfBothHomozygotesAreImpossible) {
  testing_support::TempWorkDir dir{"locus_logl"};
  Cluster c;
  c.haplodiploid = true;
  c.loci = {{false, 2, {}, 0.0, 0.0}, {false, 3, {}, 0.0, 0.0}};
  c.fathers.resize(1);
  c.mothers.resize(1);
  c.families = {{1, 1, {}}};
  add_member(c, 0, {Genotype{1, 1}, Genotype{1, 1}});
  add_member(c, 0, {Genotype{2, 2}, Genotype{2, 2}});
  add_member(c, 0, {Genotype{1, 2}, Genotype{1, 2}});
  c.filler = {{Genotype{1, 2}, Genotype{2, 3}}};
  ASSERT_TRUE(oracle::build(c).ok);
  oracle::exact_mode();
  EXPECT_EQ(oracle::locus_logl(c, 1), -1e300);  // the reference agrees
  EXPECT_EQ(engine_logl(1), -1e300);
  EXPECT_EQ(engine_logl(2), -1e300);
}

// Monoecious: individual X receives, as a mother, a typed family and then one untyped at the
// first locus, and as a father a third family. What X received as a mother must reach the
// vector of X as a father.
TEST_F(FamilyLocusLogL, MonoeciousIndividualKeepsOneVector) {
  testing_support::TempWorkDir dir{"locus_logl"};
  Cluster c;
  c.numsex = 1;
  c.loci = {{false, 2, {}, 0.0, 0.0}, {false, 4, {}, 0.0, 0.0}};
  c.fathers.resize(3);
  c.mothers.resize(2);
  c.same = {{3, 2}};
  c.families = {{1, 2, {}}, {2, 2, {}}, {3, 1, {}}};
  add_member(c, 0, {Genotype{1, 1}, Genotype{1, 3}});
  add_member(c, 0, {Genotype{1, 2}, Genotype{3, 4}});
  add_member(c, 1, {Genotype{0, 0}, Genotype{1, 3}});
  add_member(c, 2, {Genotype{2, 2}, Genotype{2, 3}});
  add_member(c, 2, {Genotype{1, 2}, Genotype{1, 2}});
  c.filler = {{Genotype{1, 2}, Genotype{1, 4}}};
  ASSERT_TRUE(oracle::build(c).ok);
  oracle::exact_mode();
  EXPECT_EQ(compare_all(c, "one vector"), 2);
}

// A family of 100 to 150 offspring stays finite through the rescaling and equals the oracle.
TEST_F(FamilyLocusLogL, LargeFamily) {
  for (oracle::Markers m : {Markers::multi_free, Markers::snp_free}) {
    for (int scale = 0; scale <= 1; ++scale) {
      reset_all_modules();
      testing_support::TempWorkDir dir{"locus_logl"};
      oracle::Options o;
      o.shape = Shape::star;
      o.markers = m;
      o.big_family = true;
      o.fsscaleq = scale;
      o.sampled_parents = 1;
      const Cluster c = oracle::random_cluster(77u + static_cast<unsigned>(scale), o);
      ASSERT_TRUE(oracle::build(c).ok);
      oracle::exact_mode();
      for (int4 l = 1; l <= variables.numloci; ++l) {
        if (variables.obsnumallele(l) < 2) continue;
        EXPECT_GT(engine_logl(l), -1e299);
      }
      EXPECT_GT(compare_all(c, "large family"), 0);
    }
  }
}

// Each locus's value does not depend on the loci evaluated before it, nor on whether the work
// state was prepared for all loci or for that locus alone.
TEST_F(FamilyLocusLogL, IndependentOfLocusOrderAndPreparation) {
  int checked = 0;
  for (Species sp : {Species::diploid, Species::haplodiploid, Species::monoecious}) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"locus_logl"};
    oracle::Options o;
    o.shape = Shape::tree;
    o.species = sp;
    o.markers = Markers::multi_free;
    o.loci = 2;
    o.sampled_parents = 1;
    o.missing = 0.2;
    Cluster c = oracle::random_cluster(4242u, o);
    // Two-allele loci after the multi-allele ones: the offspring get a 2-allele genotype.
    for (int extra = 0; extra < 2; ++extra) {
      c.loci.push_back({false, 2, {}, 0.0, 0.0});
      for (size_t i = 0; i < c.offspring.size(); ++i) {
        const int a = 1 + static_cast<int>((i + static_cast<size_t>(extra)) % 2);
        c.offspring[i].push_back(c.offploid[i] == 1 ? Genotype{a, 0} : Genotype{1, a});
      }
      for (auto& p : c.fathers)
        if (p.candidate > 0) p.genotype.push_back({1, c.haplodiploid ? 0 : 2});
      for (auto& p : c.mothers)
        if (p.candidate > 0) p.genotype.push_back({1, 2});
      for (auto& f : c.filler) f.push_back({1, 2});
    }
    if (!individuals_acyclic(c)) continue;
    ASSERT_TRUE(oracle::build(c).ok);
    oracle::exact_mode();
    const int4 n = variables.numloci;
    std::vector<double> forward(static_cast<size_t>(n + 1)), backward(static_cast<size_t>(n + 1));
    for (int4 l = 1; l <= n; ++l) forward[static_cast<size_t>(l)] = engine_logl(l);
    for (int4 l = n; l >= 1; --l) backward[static_cast<size_t>(l)] = engine_logl(l);
    for (int4 l = 1; l <= n; ++l) {
      SCOPED_TRACE(l);
      EXPECT_EQ(forward[static_cast<size_t>(l)], backward[static_cast<size_t>(l)]);
      int4 status = 0;
      preparevariable(status, 0, l, 0);
      ASSERT_EQ(status, 0);
      EXPECT_NEAR(engine_logl(l), forward[static_cast<size_t>(l)],
                  1e-12 * std::max(1.0, std::abs(forward[static_cast<size_t>(l)])));
      preparevariable(status, 0, 0, 0);
    }
    EXPECT_EQ(compare_all(c, "order"), n);
    ++checked;
  }
  EXPECT_GE(checked, 2);
}

}  // namespace
}  // namespace kinrad
