// The locus likelihood of one-sex clusters whose mating graph, counted over individuals, has
// cycles: triangles, 2 x 2 cycles whose individuals act in both roles, a selfer inside a cycle
// and random clusters, against the brute-force sum of the oracle (every genotype of every
// individual). A cluster in which nobody holds both roles equals the same pedigree of two sexes.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
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
using oracle::Genotype;
using oracle::Markers;
using oracle::Shape;
using oracle::Species;

using testing_support::diploid_typed;
using testing_support::engine_logl;

bool is_selfed(const Cluster& c, const oracle::Family& f) {
  for (const auto& s : c.same)
    if (s[0] == f.father && s[1] == f.mother) return true;
  return false;
}

// Whether the outcrossed families link the individuals in a cycle.
bool has_cycle(const Cluster& c) {
  return testing_support::families_close_a_cycle(c, {.diploid_only = false, .skip_selfed = true});
}

// Compares every locus; returns the number compared.
int compare_all(const Cluster& c, const std::string& what, int& impossible) {
  int selfed = 0;
  for (const oracle::Family& f : c.families) selfed += is_selfed(c, f) ? 1 : 0;
  testing_support::CompareRule rule;
  rule.capped_sets = true;
  rule.tolerance = [&](int4 l, double ref) {
    // Single-precision exponents: the several-class branch of the selfed absorption, and the
    // error tables of the outcrossed families (1e-5 per family each).
    const bool codom = variables.dominantmarker(l) == 0;
    const bool errors = variables.locuserror(l) != 0;
    const int outcrossed = static_cast<int>(c.families.size()) - selfed;
    const int single = (codom ? selfed : 0) + (codom && errors ? outcrossed : 0);
    return oracle::tolerance(ref, variables.obsnumallele(l) == 2 ? diploid_typed(c, l) : 0, single);
  };
  return testing_support::compare_all(c, what, impossible, rule);
}

// A one-sex cluster from individuals 1..n and families (father, mother) of individuals: each
// individual gets a role number in each role it acts in; genotypes are simulated down the
// pedigree over error-free loci; the individuals in `typed` are sampled candidates.
Cluster from_individuals(int n, const std::vector<std::array<int, 2>>& fams, int loci, int alleles,
                         bool selfing, const std::set<int>& typed, std::uint32_t seed,
                         int members = 3) {
  std::mt19937 r(seed);
  Cluster c;
  c.numsex = 1;
  c.allowinbreeding = selfing;
  c.inbreeding = selfing ? 0.15 : 0.0;
  for (int l = 0; l < loci; ++l) {
    oracle::Locus x{false, alleles, {}, 0.0, 0.0};
    for (int a = 0; a < alleles; ++a) x.freq.push_back(1.0 / alleles);
    c.loci.push_back(x);
  }
  std::vector<int> frole(static_cast<size_t>(n + 1), 0), mrole(static_cast<size_t>(n + 1), 0);
  for (const auto& f : fams) {
    if (frole[static_cast<size_t>(f[0])] == 0) {
      c.fathers.emplace_back();
      frole[static_cast<size_t>(f[0])] = static_cast<int>(c.fathers.size());
    }
    if (mrole[static_cast<size_t>(f[1])] == 0) {
      c.mothers.emplace_back();
      mrole[static_cast<size_t>(f[1])] = static_cast<int>(c.mothers.size());
    }
  }
  for (int i = 1; i <= n; ++i)
    if (frole[static_cast<size_t>(i)] > 0 && mrole[static_cast<size_t>(i)] > 0)
      c.same.push_back({frole[static_cast<size_t>(i)], mrole[static_cast<size_t>(i)]});
  std::vector<std::vector<Genotype>> truth(static_cast<size_t>(n + 1));
  for (int i = 1; i <= n; ++i) {
    for (int l = 0; l < loci; ++l) {
      int a = static_cast<int>(r() % static_cast<unsigned>(alleles)) + 1;
      int b = static_cast<int>(r() % static_cast<unsigned>(alleles)) + 1;
      if (a > b) std::swap(a, b);
      truth[static_cast<size_t>(i)].push_back({a, b});
    }
  }
  int cand = 0;
  for (int i : typed) {
    oracle::Parent p;
    p.candidate = ++cand;
    p.genotype = truth[static_cast<size_t>(i)];
    if (frole[static_cast<size_t>(i)] > 0)
      c.fathers[static_cast<size_t>(frole[static_cast<size_t>(i)] - 1)] = p;
    if (mrole[static_cast<size_t>(i)] > 0)
      c.mothers[static_cast<size_t>(mrole[static_cast<size_t>(i)] - 1)] = p;
  }
  for (const auto& f : fams) {
    oracle::Family fam{frole[static_cast<size_t>(f[0])], mrole[static_cast<size_t>(f[1])], {}};
    for (int k = 0; k < members; ++k) {
      std::vector<Genotype> g;
      for (int l = 0; l < loci; ++l) {
        const Genotype& x = truth[static_cast<size_t>(f[0])][static_cast<size_t>(l)];
        const Genotype& y = truth[static_cast<size_t>(f[1])][static_cast<size_t>(l)];
        int a = x[r() % 2], b = y[r() % 2];
        if (a > b) std::swap(a, b);
        g.push_back(r() % 6 == 0 && l > 0 ? Genotype{0, 0} : Genotype{a, b});
      }
      c.offspring.push_back(g);
      c.offploid.push_back(2);
      fam.members.push_back(static_cast<int>(c.offspring.size()));
    }
    c.families.push_back(fam);
  }
  // Every locus shows two alleles somewhere.
  std::vector<Genotype> het(static_cast<size_t>(loci), Genotype{1, 2});
  c.filler.push_back(het);
  return c;
}

class MonoLayer : public testing_support::ModuleReset {};

struct Named {
  const char* name;
  int n;
  std::vector<std::array<int, 2>> fams;
  bool selfing;
};

// Hand-built pedigrees: a triangle A x B, B x C, C x A; a 2 x 2 cycle A x C, A x D, B x C, D x B
// in which B and D act in both roles; the triangle with a selfer (A x A) inside; two triangles
// sharing an individual.
TEST_F(MonoLayer, HandBuiltCycles) {
  const std::vector<Named> rows = {
      {"triangle", 3, {{1, 2}, {2, 3}, {3, 1}}, false},
      {"two by two in both roles", 4, {{1, 3}, {1, 4}, {2, 3}, {4, 2}}, false},
      {"selfer inside the triangle", 3, {{1, 2}, {2, 3}, {3, 1}, {1, 1}}, true},
      {"two triangles", 5, {{1, 2}, {2, 3}, {3, 1}, {3, 4}, {4, 5}, {5, 3}}, false}};
  int compared = 0, impossible = 0;
  for (const Named& row : rows) {
    for (int alleles : {2, 3, 4}) {
      for (int typed = 0; typed <= 2; ++typed) {
        for (std::uint32_t seed = 1; seed <= 4; ++seed) {
          reset_all_modules();
          testing_support::TempWorkDir dir{"mono_layer"};
          std::set<int> t;
          for (int i = 1; i <= typed; ++i) t.insert(i * 2 - 1);
          const Cluster c = from_individuals(row.n, row.fams, 2, alleles, row.selfing, t,
                                             seed * 31u + static_cast<unsigned>(alleles));
          ASSERT_TRUE(has_cycle(c));
          const oracle::Built b = oracle::build(c);
          ASSERT_TRUE(b.ok) << b.error;
          oracle::exact_mode();
          if (row.selfing) selfinggen_est();
          compared += compare_all(c,
                                  std::string(row.name) + " " + std::to_string(alleles) +
                                      " alleles, seed " + std::to_string(seed),
                                  impossible);
          if (HasFailure()) return;
        }
      }
    }
  }
  EXPECT_GT(compared, 200);
}

struct RandomCase {
  const char* name;
  Species species;
  Markers markers;
};

class MonoLayerAgainstOracle : public ::testing::TestWithParam<RandomCase> {};

// Random one-sex clusters of up to 7 parent roles with cycles, 0 to 2 typed candidates, missing
// genotypes, count scaling on and off and occasional Mendel errors.
TEST_P(MonoLayerAgainstOracle, EveryLocusMatches) {
  const RandomCase rc = GetParam();
  const Shape shapes[] = {Shape::cycle2x2,     Shape::cycle2x3, Shape::ladder,
                          Shape::random_graph, Shape::tree,     Shape::chain};
  // The loop stops at 120 clusters; the budget bounds the clusters, not the seeds tried.
  const testing_support::SeedBudget seeds = testing_support::seed_budget(120);
  int clusters = 0, compared = 0, impossible = 0;
  for (std::uint32_t seed = 1; seed <= 400 && clusters < static_cast<int>(seeds.n); ++seed) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"mono_layer_random"};
    oracle::Options o;
    o.shape = shapes[seed % 6];
    o.species = rc.species;
    o.markers = rc.markers;
    o.loci = 2;
    o.sampled_parents = static_cast<int>(seed / 6 % 3);
    o.missing = seed % 3 == 0 ? 0.25 : 0.0;
    o.fsscaleq = static_cast<int>(seed / 12 % 2);
    o.mendel_errors = seed % 7 == 0;
    const Cluster c = oracle::random_cluster(seed * 6007u + 13u, o);
    if (!has_cycle(c)) continue;
    const oracle::Built b = oracle::build(c);
    ASSERT_TRUE(b.ok) << b.error;
    oracle::exact_mode();
    if (rc.species == Species::selfing) selfinggen_est();
    ++clusters;
    compared += compare_all(c, std::string(rc.name) + " seed " + std::to_string(seed), impossible);
    if (HasFailure()) break;
  }
  EXPECT_GE(clusters, seeds.share(100));
}

INSTANTIATE_TEST_SUITE_P(
    Species, MonoLayerAgainstOracle,
    ::testing::Values(
        RandomCase{"monoecious_snp", Species::monoecious, Markers::snp_free},
        RandomCase{"monoecious_multi", Species::monoecious, Markers::multi_free},
        RandomCase{"monoecious_snp_error", Species::monoecious, Markers::snp_error},
        RandomCase{"monoecious_multi_error", Species::monoecious, Markers::multi_error},
        RandomCase{"monoecious_many_error", Species::monoecious, Markers::many_error},
        RandomCase{"monoecious_dominant_free", Species::monoecious, Markers::dominant_free},
        RandomCase{"monoecious_dominant_error", Species::monoecious, Markers::dominant_error},
        RandomCase{"selfing_snp", Species::selfing, Markers::snp_free},
        RandomCase{"selfing_multi", Species::selfing, Markers::multi_free},
        RandomCase{"selfing_snp_error", Species::selfing, Markers::snp_error},
        RandomCase{"selfing_multi_error", Species::selfing, Markers::multi_error},
        RandomCase{"selfing_many_error", Species::selfing, Markers::many_error},
        RandomCase{"selfing_dominant_free", Species::selfing, Markers::dominant_free},
        RandomCase{"selfing_dominant_error", Species::selfing, Markers::dominant_error}),
    [](const ::testing::TestParamInfo<RandomCase>& i) { return std::string(i.param.name); });

// Nobody holds both roles: the one-sex cluster is the two-sex pedigree with the same fathers,
// mothers and offspring, and scores the same at every locus (both engines, the two-sex layer
// stage and the one-sex one, through their own paths).
TEST_F(MonoLayer, WithoutDoubleRolesEqualsTwoSexes) {
  int compared = 0;
  for (std::uint32_t seed = 1; seed <= 40; ++seed) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"mono_equals_two_sex"};
    oracle::Options o;
    o.shape = seed % 2 ? Shape::cycle2x2 : Shape::ladder;
    o.species = Species::diploid;
    o.markers = seed % 3 ? Markers::multi_free : Markers::snp_free;
    o.loci = 2;
    // Untyped parents: a candidate's line reads differently in a one-sex input.
    o.sampled_parents = 0;
    Cluster c = oracle::random_cluster(seed * 101u + 7u, o);
    // Candidates of one pool in the one-sex input: renumber the mothers' after the fathers'.
    int nf = 0;
    for (const auto& p : c.fathers) nf = std::max(nf, p.candidate);
    ASSERT_TRUE(oracle::build(c).ok);
    oracle::exact_mode();
    std::vector<double> two;
    for (int4 l = 1; l <= variables.numloci; ++l) two.push_back(engine_logl(l));
    reset_all_modules();
    Cluster m = c;
    m.numsex = 1;
    for (auto& p : m.mothers)
      if (p.candidate > 0) p.candidate += nf;
    ASSERT_TRUE(oracle::build(m).ok);
    oracle::exact_mode();
    for (int4 l = 1; l <= variables.numloci; ++l) {
      SCOPED_TRACE("seed " + std::to_string(seed) + " locus " + std::to_string(l));
      const double got = engine_logl(l);
      const double ref = two[static_cast<size_t>(l - 1)];
      if (ref == -1e300)
        EXPECT_EQ(got, -1e300);
      else
        EXPECT_NEAR(got, ref, 1e-9 * std::max(1.0, std::abs(ref)));
      ++compared;
    }
  }
  EXPECT_GT(compared, 60);
}

// At the program's precisions the genotype-set reduction and the cut-offs only drop mass: the
// value never exceeds the enumeration's (beyond its rounding) and stays within 1e-2 of it in
// log; the caller's precision is back after every call.
TEST_F(MonoLayer, NormalPrecisionOnlyDropsMass) {
  const Markers kinds[] = {Markers::snp_free, Markers::multi_free, Markers::dominant_free,
                           Markers::dominant_error};
  const Shape shapes[] = {Shape::cycle2x2, Shape::cycle2x3, Shape::ladder, Shape::random_graph};
  int compared = 0;
  for (int prec = 2; prec <= 3; ++prec) {
    for (std::uint32_t seed = 1; seed <= 64; ++seed) {
      reset_all_modules();
      testing_support::TempWorkDir dir{"mono_layer_precision"};
      oracle::Options o;
      o.shape = shapes[seed % 4];
      o.markers = kinds[seed / 4 % 4];
      o.species = seed % 3 == 0 ? Species::selfing : Species::monoecious;
      o.loci = 2;
      o.sampled_parents = static_cast<int>(seed % 3);
      o.missing = seed % 5 == 0 ? 0.2 : 0.0;
      const Cluster c = oracle::random_cluster(seed * 8191u + static_cast<unsigned>(prec), o);
      if (!has_cycle(c)) continue;
      ASSERT_TRUE(oracle::build(c).ok);
      Variables& v = variables;
      v.likelihoodprecision = prec;
      v.prec1 = v.prec2 = std::pow(0.1, 2 * prec);
      v.prec3 = 0.1 * v.prec1;
      if (o.species == Species::selfing) selfinggen_est();
      int selfed = 0;
      for (const oracle::Family& f : c.families) selfed += is_selfed(c, f) ? 1 : 0;
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
        const bool codom = v.dominantmarker(l) == 0;
        const double tol =
            oracle::tolerance(ref, k == 2 && codom ? diploid_typed(c, l) : 0, codom ? selfed : 0);
        EXPECT_LE(got, ref + tol);
        EXPECT_GE(got, ref - 1e-2);
      }
      if (HasFailure()) return;
    }
  }
  EXPECT_GT(compared, 100);
}

}  // namespace
}  // namespace kinrad
