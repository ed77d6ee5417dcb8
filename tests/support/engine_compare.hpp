#pragma once
// What the likelihood engine's tests share when they hold the engine against the brute-force
// oracle (tests/likelihood/oracle.hpp): the engine's value of one locus, the typed diploid
// offspring that set the oracle's tolerance at two-allele loci, the species cases of the
// parameterised suites, the union-find test for cycles among the parents, and the comparison of
// every locus of a cluster.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/oracle.hpp"

namespace kinrad::testing_support {

// The engine's log likelihood of the cluster in hand at one locus.
inline real8 engine_logl(int4 locus) {
  const int4 k = variables.obsnumallele(locus);
  real8 logl = 1.0;
  familylocuslogl(locus, k, variables.genotypenum(k), logl);
  return logl;
}

// Diploid offspring typed at a locus (from 1): those whose factor may carry the single-precision
// ln 2 of the two-allele tables.
inline int diploid_typed(const oracle::Cluster& c, int locus) {
  int n = 0;
  for (std::size_t i = 0; i < c.offspring.size(); ++i)
    if (c.offploid[i] == 2 && c.offspring[i][static_cast<std::size_t>(locus - 1)][0] > 0) ++n;
  return n;
}

// One species and marker kind of a parameterised suite.
struct SpeciesCase {
  const char* name;
  oracle::Species species;
  oracle::Markers markers;
};

// Which families link two parents in the cycle test.
struct CycleRule {
  bool diploid_only = true;  // a family of haploid sons only links nobody
  bool skip_selfed = false;  // a selfed family links an individual to itself and closes none
  bool merge_roles = true;   // both roles of one monoecious individual count as one parent
};

// Whether the families the rule lets link close a cycle among the parents: union-find over the
// fathers followed by the mothers.
inline bool families_close_a_cycle(const oracle::Cluster& c, CycleRule rule = {}) {
  const int nf = static_cast<int>(c.fathers.size());
  std::vector<int> up(c.fathers.size() + c.mothers.size());
  for (std::size_t i = 0; i < up.size(); ++i) up[i] = static_cast<int>(i);
  auto find = [&](int x) {
    while (up[static_cast<std::size_t>(x)] != x) x = up[static_cast<std::size_t>(x)];
    return x;
  };
  if (rule.merge_roles)
    for (const auto& s : c.same) up[static_cast<std::size_t>(find(nf + s[1] - 1))] = find(s[0] - 1);
  for (const oracle::Family& f : c.families) {
    if (rule.diploid_only) {
      bool diploid = false;
      for (int m : f.members) diploid = diploid || c.offploid[static_cast<std::size_t>(m - 1)] == 2;
      if (!diploid) continue;
    }
    if (rule.skip_selfed) {
      bool self = false;
      for (const auto& s : c.same) self = self || (s[0] == f.father && s[1] == f.mother);
      if (self) continue;
    }
    const int a = find(f.father - 1), b = find(nf + f.mother - 1);
    if (a == b) return true;
    up[static_cast<std::size_t>(a)] = b;
  }
  return false;
}

// How the engine may differ from the oracle at a locus.
struct CompareRule {
  // The tolerance at locus l of the oracle value ref.
  std::function<double(int4 l, double ref)> tolerance;
  // An impossible locus may come out anywhere at or below -1e299 (otherwise exactly -1e300).
  bool impossible_below = false;
  // When set, a locus with typing errors that only the engine calls impossible is counted here
  // instead of failing.
  int* engine_only = nullptr;
  // Parents of more than 19 genotypes: the genotype-set reduction may only drop mass (at most
  // 1e-2) even in exact mode.
  bool capped_sets = false;
};

// Compares every locus of at least two alleles of the cluster in hand with the oracle; counts
// the loci the oracle calls impossible in impossible and returns the number compared.
inline int compare_all(const oracle::Cluster& c, const std::string& what, int& impossible,
                       const CompareRule& rule) {
  int compared = 0;
  for (int4 l = 1; l <= variables.numloci; ++l) {
    const int4 k = variables.obsnumallele(l);
    if (k < 2) continue;
    const double ref = oracle::locus_logl(c, l);
    const double got = engine_logl(l);
    SCOPED_TRACE(what + " locus " + std::to_string(l));
    ++compared;
    if (ref == -1e300) {
      if (rule.impossible_below)
        EXPECT_LE(got, -1e299);
      else
        EXPECT_EQ(got, -1e300);
      ++impossible;
    } else if (rule.engine_only != nullptr && variables.locuserror(l) != 0 && got <= -1e299) {
      ++*rule.engine_only;
    } else if (rule.capped_sets && likelihoodvar.maxhsprobdim > 19) {
      EXPECT_LE(got, ref + rule.tolerance(l, ref));
      EXPECT_GE(got, ref - 1e-2);
    } else {
      EXPECT_NEAR(got, ref, rule.tolerance(l, ref));
    }
  }
  return compared;
}

}  // namespace kinrad::testing_support
