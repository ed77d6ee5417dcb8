// The layer peeling's safety nets: the first descent's depth bound with the retry that
// conditions the smaller sex only (reached through a seam that lowers the first pass's bound),
// and a locus whose every branch the cut-offs dropped, summed again at a finer precision.
// Expected values: the oracle's brute-force enumeration over every parent genotype.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/modules/likelihood_seams.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "likelihood/precision_campaign.hpp"

namespace kinrad {
namespace {

using oracle::Markers;
using oracle::Shape;
using oracle::Species;

class LayerRetry : public ::testing::Test {
 protected:
  void SetUp() override { reset_all_modules(); }
  void TearDown() override { reset_all_modules(); }
};

// With the first pass allowed a single layer, every cluster that needs two or more is
// abandoned and redone conditioning the smaller sex (role) only; the sum is still the
// enumeration's, in exact mode, for two sexes and one sex.
TEST_F(LayerRetry, FirstPassBoundReachedRetryIsExact) {
  struct Row {
    const char* name;
    Species species;
    Shape shape;
    Markers markers;
  };
  const Row rows[] = {
      {"two-sex 3x3", Species::diploid, Shape::cycle3x3, Markers::multi_free},
      {"two-sex two cycles", Species::diploid, Shape::two_cycles, Markers::snp_error},
      {"two-sex ladder", Species::inbred, Shape::ladder, Markers::dominant_free},
      {"two-sex random", Species::haplodiploid, Shape::random_graph, Markers::multi_error},
      {"one-sex 3x3", Species::monoecious, Shape::cycle3x3, Markers::multi_free},
      {"one-sex ladder", Species::selfing, Shape::ladder, Markers::snp_free},
  };
  int retried = 0, compared = 0;
  for (const Row& row : rows) {
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
      reset_all_modules();
      testing_support::TempWorkDir dir{"layer_retry"};
      oracle::Options o;
      o.shape = row.shape;
      o.species = row.species;
      o.markers = row.markers;
      o.loci = 2;
      o.sampled_parents = static_cast<int>(seed % 2);
      const oracle::Cluster c = oracle::random_cluster(seed * 2741u + 5u, o);
      ASSERT_TRUE(oracle::build(c).ok);
      if (c.numsex == 1 && c.allowinbreeding) selfinggen_est();
      oracle::exact_mode();
      for (int4 l = 1; l <= variables.numloci; ++l) {
        if (variables.obsnumallele(l) < 2) continue;
        SCOPED_TRACE(std::string(row.name) + " seed " + std::to_string(seed) + " locus " +
                     std::to_string(l));
        const double ref = oracle::locus_logl(c, l);
        likelihood_seams.layerfirstbound = 1;
        likelihoodvar.layerpasses = 0;
        const double got = campaign::engine_logl(l);
        likelihood_seams.layerfirstbound = 0;
        if (likelihoodvar.layerpasses == 2) ++retried;
        // The retry never needs the third pass that lifts the bound.
        EXPECT_LE(likelihoodvar.layerpasses, 2);
        if (ref == -1e300) {
          EXPECT_LE(got, -1e299);
          continue;
        }
        const bool codom = variables.dominantmarker(l) == 0;
        const bool errors = variables.locuserror(l) != 0;
        const bool selfing = c.numsex == 1 && c.allowinbreeding;
        const int families = codom && (errors || selfing) ? static_cast<int>(c.families.size()) : 0;
        const int ln2 = variables.obsnumallele(l) == 2 && codom && !errors
                            ? campaign::typed_offspring(c, l)
                            : 0;
        EXPECT_NEAR(got, ref, oracle::tolerance(ref, ln2, families));
        ++compared;
      }
    }
  }
  EXPECT_GT(retried, 10);
  EXPECT_GT(compared, 30);
}

// A two-sex 2 x 2 cycle at an error-free dominant locus (the campaign's cluster of seed 151):
// at precision 0 the genotype-set reduction keeps for each parent only the genotypes within 5 %
// of its heaviest, each weighed against its mates' priors alone, and no combination of the kept
// genotypes explains the offspring, so every path of the layer peeling is 0. The locus is then
// summed again at precision 1 and comes out finite, never above the enumeration.
TEST_F(LayerRetry, EveryBranchDroppedIsSummedAgain) {
  testing_support::TempWorkDir dir{"layer_retry"};
  const oracle::Cluster c = campaign::cluster_of(false, Markers::dominant_free, 151);
  ASSERT_TRUE(oracle::build(c).ok);
  const int4 l = 2;
  const double ref = oracle::locus_logl(c, l);
  ASSERT_GT(ref, -1e299);
  for (int prec = 0; prec <= 3; ++prec) {
    SCOPED_TRACE("precision " + std::to_string(prec));
    campaign::set_precision(prec);
    const real8 prec1 = variables.prec1;
    const double got = campaign::engine_logl(l);
    EXPECT_GT(got, -1e299);
    EXPECT_LE(got, ref + oracle::tolerance(ref));
    // The caller's precision is back.
    EXPECT_EQ(variables.likelihoodprecision, prec);
    EXPECT_EQ(variables.prec1, prec1);
  }
}

}  // namespace
}  // namespace kinrad
