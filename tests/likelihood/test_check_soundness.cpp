// Soundness of the Mendelian checks against the brute-force likelihood: genotypes simulated down
// the pedigree never make a check reject, and whenever a check rejects a family with Mendel
// errors, the exact likelihood (every genotype of every parent enumerated) is 0 at some locus.
// All loci are error-free, so a single contradiction does make the family impossible.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/mixed_cluster.hpp"
#include "likelihood/oracle.hpp"
#include "support/module_reset.hpp"
#include "support/seed_budget.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using testing_mixed::Kind;

bool indexgtype_clear() {
  const FArray<int2, 1>& t = variables.indexgtype;
  for (index_t g = t.lbound(1); g <= t.ubound(1); ++g)
    if (t(g) != 0) return false;
  return true;
}

// Runs every check on the family prepared; returns the name of the first that rejects, or "".
// Each check is called whatever the driver's conditions, so that all of them meet every shape.
std::string first_rejection() {
  int4 ok = 1;
  selfingcheck(ok);
  EXPECT_TRUE(indexgtype_clear());
  if (ok != 1) return "selfingcheck";
  locussort(ok, 0);
  EXPECT_TRUE(indexgtype_clear());
  if (ok != 1) return "locussort";
  genotypecheck(ok, std::min(2 * variables.maxobsnumallele - 3, variables.numchild));
  EXPECT_TRUE(indexgtype_clear());
  if (ok != 1) return "genotypecheck";
  genotypecheckp(ok, 0);
  EXPECT_TRUE(indexgtype_clear());
  if (ok != 1) return "genotypecheckp";
  genotypecheckpdom(ok);
  EXPECT_TRUE(indexgtype_clear());
  if (ok != 1) return "genotypecheckpdom";
  return "";
}

struct SoundCase {
  const char* name;
  oracle::Species species;
};

class CheckSoundness : public testing_support::ModuleResetWithParam<SoundCase> {};

oracle::Cluster mixed_cluster(std::uint32_t seed, oracle::Species species, bool errors,
                              std::mt19937& r) {
  const oracle::Shape shapes[] = {oracle::Shape::one_family, oracle::Shape::star,
                                  oracle::Shape::chain,      oracle::Shape::tree,
                                  oracle::Shape::cycle2x2,   oracle::Shape::one_family};
  oracle::Options o;
  o.shape = shapes[seed % 6];
  o.species = species;
  o.markers = oracle::Markers::multi_free;
  o.sampled_parents = static_cast<int>(seed / 6 % 3);
  o.big_family = seed % 11 == 0;
  oracle::Cluster c = oracle::random_cluster(seed * 2654435761u + 7u, o);
  std::vector<Kind> kinds;
  if (seed % 9 == 0) {
    kinds = {Kind::dominant, Kind::dominant, Kind::dominant};  // all markers dominant
  } else {
    kinds = {Kind::multi, Kind::multi, Kind::snp, Kind::dominant};
    if (seed % 3 == 0) kinds.push_back(Kind::multi);
  }
  const int alleles = 3 + static_cast<int>(seed % 3);  // 3 to 5
  testing_mixed::resimulate(c, kinds, r, alleles, seed % 4 == 0 ? 0.2 : 0.0);
  if (errors) testing_mixed::inject_errors(c, r, 1 + static_cast<int>(seed % 3));
  return c;
}

TEST_P(CheckSoundness, SimulatedFamiliesAlwaysPass) {
  const SoundCase sc = GetParam();
  const testing_support::SeedBudget seeds = testing_support::seed_budget(420);
  for (std::uint32_t seed = 1; seed <= seeds.n; ++seed) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"check_sound"};
    std::mt19937 r(seed);
    const oracle::Cluster c = mixed_cluster(seed, sc.species, false, r);
    const oracle::Built b = oracle::build(c);
    ASSERT_TRUE(b.ok) << b.error;
    const std::string rej = first_rejection();
    EXPECT_EQ(rej, "") << sc.name << " seed " << seed;
    if (HasFailure()) break;
  }
}

TEST_P(CheckSoundness, RejectionsAreImpossibleFamilies) {
  const SoundCase sc = GetParam();
  const testing_support::SeedBudget seeds = testing_support::seed_budget(420);
  int rejected = 0, verified = 0;
  std::map<std::string, int> by_check;
  for (std::uint32_t seed = 1; seed <= seeds.n; ++seed) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"check_sound"};
    std::mt19937 r(seed + 1000003u);
    const oracle::Cluster c = mixed_cluster(seed, sc.species, true, r);
    const oracle::Built b = oracle::build(c);
    ASSERT_TRUE(b.ok) << b.error;
    const std::string rej = first_rejection();
    if (rej.empty()) continue;
    ++rejected;
    ++by_check[rej];
    bool enumerable = true;
    for (int4 l = 1; l <= variables.numloci; ++l)
      enumerable = enumerable && oracle::combinations(c, l) <= 2e5;
    if (!enumerable) continue;
    bool zero = false;
    for (int4 l = 1; l <= variables.numloci && !zero; ++l)
      zero = variables.obsnumallele(l) >= 2 && oracle::locus_logl(c, l) == -1e300;
    EXPECT_TRUE(zero) << sc.name << " seed " << seed << ": " << rej
                      << " rejected a family the enumeration finds possible";
    ++verified;
    if (HasFailure()) break;
  }
  // The errors reach several of the checks.
  EXPECT_GE(static_cast<int>(by_check.size()), std::min(3, seeds.share(3) + 1));
  EXPECT_GT(rejected, seeds.share(40));
  EXPECT_GT(verified, seeds.share(30));
}

INSTANTIATE_TEST_SUITE_P(Species, CheckSoundness,
                         ::testing::Values(SoundCase{"diploid", oracle::Species::diploid},
                                           SoundCase{"inbred", oracle::Species::inbred},
                                           SoundCase{"haplodiploid", oracle::Species::haplodiploid},
                                           SoundCase{"monoecious", oracle::Species::monoecious},
                                           SoundCase{"selfing", oracle::Species::selfing}),
                         [](const ::testing::TestParamInfo<SoundCase>& i) {
                           return std::string(i.param.name);
                         });

}  // namespace
}  // namespace kinrad
