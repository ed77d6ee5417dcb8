// The per-family cache of dominant tables: a family keeps its table across the loci of one
// dominant block and reuses it when its counts recur; another block starts afresh. Expected
// values: the same locus evaluated with a cold cache, and the brute-force sum of the oracle.
#include <gtest/gtest.h>

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

using testing_support::engine_logl;

void cold_cache() {
  for (index_t f = likelihoodvar.domfsibsave.lbound(1); f <= likelihoodvar.domfsibsave.ubound(1);
       ++f)
    likelihoodvar.domfsibsave(f) = -1;
}

TEST(DominantCache, HitEqualsColdAndAnotherBlockStartsAfresh) {
  for (oracle::Species sp : {oracle::Species::diploid, oracle::Species::haplodiploid}) {
    for (oracle::Markers mk : {oracle::Markers::dominant_error, oracle::Markers::dominant_free}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(sp)) + " " +
                   std::to_string(static_cast<int>(mk)));
      reset_all_modules();
      testing_support::TempWorkDir dir{"dominant_cache"};
      oracle::Options o;
      o.shape = oracle::Shape::star;
      o.species = sp;
      o.markers = mk;
      o.loci = 3;
      o.big_family = true;  // counts beyond the shared tables, so every family gets a table
      oracle::Cluster c = oracle::random_cluster(31337u, o);
      // Three loci with the same phenotypes: the second shares the first's block, the third
      // has other error rates and so a block of its own.
      c.loci[1] = c.loci[0];
      c.loci[2] = c.loci[0];
      c.loci[2].droprate += 0.01;
      c.loci[2].otherrate += 0.02;
      for (auto* rows : {&c.offspring, &c.filler})
        for (auto& g : *rows) g[1] = g[2] = g[0];
      for (auto* ps : {&c.fathers, &c.mothers})
        for (auto& p : *ps)
          if (!p.genotype.empty()) p.genotype[1] = p.genotype[2] = p.genotype[0];
      ASSERT_TRUE(oracle::build(c).ok);
      oracle::exact_mode();
      ASSERT_EQ(variables.dominantloci(1), variables.dominantloci(2));
      ASSERT_NE(variables.dominantloci(1), variables.dominantloci(3));

      const real8 first = engine_logl(1);
      EXPECT_NEAR(first, oracle::locus_logl(c, 1), oracle::tolerance(oracle::locus_logl(c, 1)));
      const real8 hit = engine_logl(2);
      int keys = 0;  // families whose table the cache holds
      for (int4 f = 1; f <= variables.numfsibship; ++f) keys += likelihoodvar.domfsibsave(f) > 0;
      EXPECT_GT(keys, 0);
      cold_cache();
      const real8 cold = engine_logl(2);
      EXPECT_EQ(hit, cold);
      EXPECT_EQ(hit, first);
      const real8 other = engine_logl(3);
      EXPECT_NEAR(other, oracle::locus_logl(c, 3), oracle::tolerance(oracle::locus_logl(c, 3)));
      // Back in the first block: the tables of the third locus must not be reused.
      EXPECT_EQ(engine_logl(1), first);
      reset_all_modules();
    }
  }
}

}  // namespace
}  // namespace kinrad
