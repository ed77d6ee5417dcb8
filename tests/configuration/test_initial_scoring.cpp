// Scoring of the initial clusters with the family likelihood on data read by the program's own
// reader: the rescoring of every cluster reproduces the initial scores, and a cluster that no
// genotype error model allows stops the full-likelihood analysis with the invalid-configuration
// error file (written out by hand), while the pairwise method accepts it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/error_stop.hpp"
#include "support/expect_stop.hpp"
#include "support/prepare.hpp"

namespace kinrad::test {
namespace {

using testing_support::ProjectFile;

// n offspring typed at three error-free codominant loci with alleles 1 and 2 drawn at random:
// two heterozygous parents can have offspring of every genotype, so every configuration has a
// likelihood.
ProjectFile random_project(std::mt19937& rng, int n) {
  ProjectFile p;
  p.loci = 3;
  p.markertypes = "0 0 0";
  p.droprates = "0 0 0";
  p.otherrates = "0 0 0";
  std::uniform_int_distribution<int> allele(1, 2);
  for (int i = 1; i <= n; ++i) {
    std::string r = "O" + std::to_string(i);
    for (int k = 0; k < 6; ++k) r += " " + std::to_string(allele(rng));
    p.offspring.push_back(r);
  }
  return p;
}

TEST(InitialScoring, RescoringReproducesTheInitialScores) {
  testing_support::TempWorkDir dir{"initial_scoring"};
  std::mt19937 rng(424242);
  ASSERT_TRUE(testing_support::prepare(random_project(rng, 14)));
  auto& v = variables;
  v.displayq = 0;
  const int4 n = v.smplsize;
  std::uniform_int_distribution<int4> fam(1, 5);
  for (int trial = 0; trial < 8; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    // Families whose parents form no cycle (fathers 1.., mothers 101..): a new pair of parents
    // is taken only when they are not yet joined through other families; otherwise the
    // offspring gets a father of its own.
    std::vector<int4> up(300);
    for (std::size_t k = 0; k < up.size(); ++k) up[k] = static_cast<int4>(k);
    auto find = [&](int4 x) {
      while (up[static_cast<std::size_t>(x)] != x) x = up[static_cast<std::size_t>(x)];
      return x;
    };
    std::vector<std::pair<int4, int4>> pairs;
    int4 fresh = 6;
    for (int4 i = 1; i <= n; ++i) {
      int4 f = fam(rng), m = fam(rng);
      const bool old = std::find(pairs.begin(), pairs.end(), std::pair{f, m}) != pairs.end();
      if (!old) {
        if (find(f) == find(100 + m)) f = fresh++;
        up[static_cast<std::size_t>(find(f))] = find(100 + m);
        pairs.emplace_back(f, m);
      }
      v.crindivloc(i, 1) = f;
      v.crindivloc(i, 2) = m;
      v.inferparent(i, 1) = v.inferparent(i, 2) = 0;
    }
    FStatic<int2, 1, 2> hs{};
    try {
      setinitconfiglogl(1, hs);
    } catch (const ProgramStop& stop) {
      FAIL() << stop.name() << ": " << v.errmsg(1).trimmed() << " | " << v.errmsg(2).trimmed();
    }
    const int4 nclust = v.crnumfamily(3);
    ASSERT_GE(nclust, 1);
    std::vector<real8> logl(static_cast<std::size_t>(nclust));
    v.indivlocprt = v.crindivloc.view();
    const auto order = v.indivorder;
    updatefamilylogl(logl.data(), nclust);
    EXPECT_EQ(v.indivlocprt.data(), v.crindivloc.data());
    EXPECT_EQ(v.indivlocprt.size(), v.crindivloc.size());
    EXPECT_EQ(v.indivorder.data(), order.data());
    for (int4 c = 1; c <= nclust; ++c) {
      const real8 want = v.crfamilylogl(c);
      EXPECT_GT(want, -1e30) << "cluster " << c;
      EXPECT_NEAR(logl[static_cast<std::size_t>(c - 1)], want, 1e-10 * std::abs(want))
          << "cluster " << c;
    }
  }
}

// Offspring O1 to O3 of one full-sib family carry six different alleles at locus L1: no two
// parents can transmit them, and without mistyping no precision helps.
ProjectFile impossible_project(const std::string& method) {
  ProjectFile p;
  p.loci = 2;
  p.markerids = "L1 L2";
  p.markertypes = "0 0";
  p.droprates = "0 0";
  p.otherrates = "0 0";
  p.method = method;
  p.offspring = {"O1 1 2 1 1", "O2 3 4 1 1", "O3 5 6 1 2", "O4 1 2 2 2"};
  return p;
}

void one_family_of_three() {
  auto& v = variables;
  v.displayq = 0;
  for (int4 i = 1; i <= 4; ++i) {
    v.crindivloc(i, 1) = i <= 3 ? 1 : 2;
    v.crindivloc(i, 2) = i <= 3 ? 1 : 2;
  }
}

TEST(InitialScoring, ImpossibleClusterStopsTheFullLikelihood) {
  testing_support::TempWorkDir dir{"initial_scoring_impossible"};
  ASSERT_TRUE(testing_support::prepare(impossible_project("1")));
  one_family_of_three();
  variables.likelihoodprecision = 1;
  FStatic<int2, 1, 2> hs{};
  const int status =
      testing_support::expect_stop([&] { setinitconfiglogl(1, hs); }, "Anneal", {.report = true});
  EXPECT_EQ(status, 1);
  // Every precision was tried before the stop.
  EXPECT_EQ(variables.likelihoodprecision, 3);
  EXPECT_EQ(testing_support::read_text("Kinrad2.ErrorMessage"),
            // The error-free loci are listed grouped by number of alleles: L2 (2) before L1 (6).
            "Initial cluster with offspring: O1,O2,O3 have mismatched genotypes, possibly at "
            "loci: L2,L1!\n"
            "To run the program, you have to:\n"
            "  1. Check and correct the known relationship, or/and\n"
            "  2. Allow for sufficiently high mistyping rates in data\n"
            "Program stops!\n"
            "Program stopped in subroutine Anneal, dataset = myout.\n");
}

TEST(InitialScoring, ImpossibleClusterAcceptedByThePairwiseScore) {
  testing_support::TempWorkDir dir{"initial_scoring_pairwise"};
  ASSERT_TRUE(testing_support::prepare(impossible_project("0")));
  one_family_of_three();
  FStatic<int2, 1, 2> hs{};
  setinitconfiglogl(1, hs);
  EXPECT_EQ(variables.crnumfamily(3), 2);
  EXPECT_LE(variables.crfamilylogl(1), -9.999999680285692e37);
  EXPECT_EQ(variables.likelihoodprecision, 1);
}

}  // namespace
}  // namespace kinrad::test
