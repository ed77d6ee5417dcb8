// Preparing a family and setting up every locus allocates nothing once the work arrays have
// reached the family's size: the search does this for every proposal. This test executable
// counts every global operator new (support/counting_new.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <span>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/absorbvar.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/likelihood_internal.hpp"
#include "likelihood/oracle.hpp"
#include "support/counting_new.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

// Prepares the family in module state and sets up every locus.
void prepare_and_set_up() {
  int4 status = 0;
  preparevariable(status, 0, 0, 0);
  ASSERT_EQ(status, 0);
  for (int4 l = 1; l <= variables.numloci; ++l) {
    const int4 k = variables.obsnumallele(l);
    if (k < 2) continue;
    real8 logl = 0.0;
    familylocus_setup(l, k, variables.genotypenum(k), logl);
  }
}

TEST(NoAllocation, SecondPreparationAndSetUpAllocateNothing) {
  using oracle::Markers;
  using oracle::Species;
  const Markers markers[] = {Markers::snp_free, Markers::multi_free, Markers::multi_error,
                             Markers::dominant_error};
  const Species species[] = {Species::diploid, Species::haplodiploid, Species::selfing};
  std::uint32_t seed = 500;
  for (Species sp : species) {
    for (Markers mk : markers) {
      SCOPED_TRACE(seed);
      reset_all_modules();
      testing_support::TempWorkDir dir{"no_allocation"};
      oracle::Options o;
      o.shape = oracle::Shape::two_cycles;
      o.species = sp;
      o.markers = mk;
      o.loci = 3;
      o.sampled_parents = 2;
      o.fsscaleq = 1;
      oracle::Cluster c = oracle::random_cluster(seed++, o);
      const long start = testing_support::allocation_count();
      ASSERT_TRUE(oracle::build(c).ok);
      ASSERT_GT(testing_support::allocation_count(),
                start);  // the counter sees the builder's allocations
      prepare_and_set_up();
      const long before = testing_support::allocation_count();
      prepare_and_set_up();
      EXPECT_EQ(testing_support::allocation_count() - before, 0);
      reset_all_modules();
    }
  }
}

// The locus likelihood of a cluster evaluated a second time allocates nothing: the search scores
// every proposal this way.
TEST(NoAllocation, SecondLocusLikelihoodAllocatesNothing) {
  using oracle::Markers;
  using oracle::Shape;
  using oracle::Species;
  std::uint32_t seed = 900;
  for (Species sp : {Species::diploid, Species::haplodiploid, Species::monoecious}) {
    for (Markers mk :
         {Markers::snp_free, Markers::multi_free, Markers::snp_error, Markers::multi_error,
          Markers::many_error, Markers::dominant_free, Markers::dominant_error}) {
      for (Shape sh : {Shape::one_family, Shape::star, Shape::chain}) {
        SCOPED_TRACE(seed);
        reset_all_modules();
        testing_support::TempWorkDir dir{"no_allocation"};
        oracle::Options o;
        o.shape = sh;
        o.species = sp;
        o.markers = mk;
        o.loci = 3;
        o.sampled_parents = 1;
        o.missing = 0.2;
        o.fsscaleq = 1;
        const oracle::Cluster c = oracle::random_cluster(seed++, o);
        if (sp == Species::monoecious && !c.same.empty()) continue;  // may close a cycle
        ASSERT_TRUE(oracle::build(c).ok);
        oracle::exact_mode();
        auto all_loci = [] {
          for (int4 l = 1; l <= variables.numloci; ++l) {
            const int4 k = variables.obsnumallele(l);
            if (k < 2) continue;
            real8 logl = 0.0;
            familylocuslogl(l, k, variables.genotypenum(k), logl);
          }
        };
        all_loci();
        const long before = testing_support::allocation_count();
        all_loci();
        EXPECT_EQ(testing_support::allocation_count() - before, 0);
        reset_all_modules();
      }
    }
  }
}

// The family likelihood as the search calls it: a second call on the same family (the work
// state prepared again, every check, every locus) allocates nothing. Acyclic clusters at
// error-free loci, which the engine scores whole, with sampled parents so that the candidate
// checks run.
TEST(NoAllocation, SecondFamilyLikelihoodAllocatesNothing) {
  using oracle::Markers;
  using oracle::Species;
  const Species species[] = {Species::diploid, Species::haplodiploid, Species::monoecious};
  const oracle::Shape shapes[] = {oracle::Shape::one_family, oracle::Shape::star,
                                  oracle::Shape::tree};
  std::uint32_t seed = 900;
  for (Species sp : species) {
    for (oracle::Shape sh : shapes) {
      for (Markers mk : {Markers::snp_free, Markers::multi_free}) {
        SCOPED_TRACE(seed);
        reset_all_modules();
        testing_support::TempWorkDir dir{"no_allocation"};
        oracle::Options o;
        o.shape = sh;
        o.species = sp;
        o.markers = mk;
        o.loci = 3;
        o.sampled_parents = 2;
        oracle::Cluster c = oracle::random_cluster(seed++, o);
        if (!c.same.empty()) continue;  // one individual in both roles may close a cycle
        ASSERT_TRUE(oracle::build(c).ok);
        real8 logl = 0.0;
        familylikelihood(logl, -1e300, 1, 0, 0);
        const long before = testing_support::allocation_count();
        familylikelihood(logl, -1e300, 1, 0, 0);
        EXPECT_EQ(testing_support::allocation_count() - before, 0);
        reset_all_modules();
      }
    }
  }
}

// The same for two-sex clusters whose mating graph keeps cycles, at every kind of locus: the
// layer stage's states and the reduction's lists are sized on the first evaluation and reused.
TEST(NoAllocation, SecondCyclicLocusLikelihoodAllocatesNothing) {
  using oracle::Markers;
  using oracle::Shape;
  using oracle::Species;
  std::uint32_t seed = 1300;
  for (Species sp : {Species::diploid, Species::haplodiploid}) {
    for (Markers mk : {Markers::snp_free, Markers::multi_free, Markers::snp_error,
                       Markers::multi_error, Markers::dominant_free, Markers::dominant_error}) {
      for (Shape sh : {Shape::cycle2x2, Shape::cycle3x3, Shape::two_cycles}) {
        SCOPED_TRACE(seed);
        reset_all_modules();
        testing_support::TempWorkDir dir{"no_allocation"};
        oracle::Options o;
        o.shape = sh;
        o.species = sp;
        o.markers = mk;
        o.loci = 3;
        o.sampled_parents = 1;
        o.missing = 0.2;
        const oracle::Cluster c = oracle::random_cluster(seed++, o);
        ASSERT_TRUE(oracle::build(c).ok);
        oracle::exact_mode();
        auto all_loci = [] {
          for (int4 l = 1; l <= variables.numloci; ++l) {
            const int4 k = variables.obsnumallele(l);
            if (k < 2) continue;
            real8 logl = 0.0;
            familylocuslogl(l, k, variables.genotypenum(k), logl);
          }
        };
        all_loci();
        const long before = testing_support::allocation_count();
        all_loci();
        EXPECT_EQ(testing_support::allocation_count() - before, 0);
        reset_all_modules();
      }
    }
  }
}

// The same where pair and single absorption work inside the layers: chains and groups are
// found and their tables made on the first evaluation, and a second evaluation replays them in
// the storage the first left.
TEST(NoAllocation, SecondEvaluationWithPairTablesAllocatesNothing) {
  using oracle::Markers;
  using Pairs = std::vector<std::array<int, 2>>;
  // A ladder with a hub (a 2 x 2 cycle absorbed whole at layer 2), two groups of parallel
  // fathers on a ring of four mothers, and a ring of eight spine fathers with groups of two
  // mothers between every other pair.
  Pairs diamonds;
  for (int i = 1, m = 0; i <= 8; ++i) {
    for (int k = 0; k < (i % 2 == 1 ? 2 : 1); ++k) {
      ++m;
      diamonds.push_back({i, m});
      diamonds.push_back({i % 8 + 1, m});
    }
  }
  const Pairs shapes[] = {
      {{1, 1}, {1, 2}, {2, 1}, {2, 2}, {2, 3}, {3, 2}, {3, 3}, {4, 1}, {4, 2}, {4, 3}},
      {{1, 1},
       {1, 2},
       {2, 1},
       {2, 2},
       {3, 1},
       {3, 2},
       {4, 2},
       {4, 3},
       {5, 3},
       {5, 4},
       {6, 3},
       {6, 4},
       {7, 4},
       {7, 1}},
      diamonds};
  std::uint32_t seed = 1700;
  for (const Pairs& pairs : shapes) {
    for (Markers mk : {Markers::snp_free, Markers::multi_free, Markers::snp_error}) {
      SCOPED_TRACE(seed);
      reset_all_modules();
      testing_support::TempWorkDir dir{"no_allocation"};
      oracle::Options o;
      o.pairs = pairs;
      o.markers = mk;
      o.loci = 2;
      o.max_family = 3;
      const oracle::Cluster c = oracle::random_cluster(seed++, o);
      ASSERT_TRUE(oracle::build(c).ok);
      oracle::exact_mode();
      auto all_loci = [] {
        for (int4 l = 1; l <= variables.numloci; ++l) {
          const int4 k = variables.obsnumallele(l);
          if (k < 2) continue;
          real8 logl = 0.0;
          familylocuslogl(l, k, variables.genotypenum(k), logl);
        }
      };
      all_loci();
      ASSERT_GT(absorbvar.numpairlist + absorbvar.changedpairnum, 0);  // absorption did work
      const long before = testing_support::allocation_count();
      all_loci();
      EXPECT_EQ(testing_support::allocation_count() - before, 0);
      reset_all_modules();
    }
  }
}

}  // namespace
}  // namespace kinrad

namespace kinrad {
namespace {

// One-sex clusters whose individuals close cycles, with and without selfing (selfed families,
// the selfing-generation estimate and its count cache included), through the whole family
// likelihood as the search calls it: the second call allocates nothing.
TEST(NoAllocation, SecondOneSexCyclicFamilyLikelihoodAllocatesNothing) {
  using oracle::Markers;
  using oracle::Shape;
  using oracle::Species;
  std::uint32_t seed = 1700;
  int scored = 0;
  for (Species sp : {Species::monoecious, Species::selfing}) {
    for (Markers mk : {Markers::snp_free, Markers::multi_free}) {
      for (Shape sh : {Shape::cycle2x2, Shape::ladder, Shape::random_graph, Shape::one_family}) {
        SCOPED_TRACE(seed);
        reset_all_modules();
        testing_support::TempWorkDir dir{"no_allocation"};
        oracle::Options o;
        o.shape = sh;
        o.species = sp;
        o.markers = mk;
        o.loci = 3;
        o.sampled_parents = 1;
        o.big_family = sh == Shape::one_family;  // a selfed family of more than 9: the cache
        const oracle::Cluster c = oracle::random_cluster(seed++, o);
        ASSERT_TRUE(oracle::build(c).ok);
        real8 logl = 0.0;
        familylikelihood(logl, -1e300, 1, 0, 0);
        scored += logl > -1e300 ? 1 : 0;
        const long before = testing_support::allocation_count();
        familylikelihood(logl, -1e300, 1, 0, 0);
        EXPECT_EQ(testing_support::allocation_count() - before, 0);
        reset_all_modules();
      }
    }
  }
  EXPECT_GT(scored, 8);
}

// Selfed families at every kind of locus (errors, dominant markers), locus by locus.
TEST(NoAllocation, SecondSelfedLocusLikelihoodAllocatesNothing) {
  using oracle::Markers;
  using oracle::Shape;
  std::uint32_t seed = 1800;
  for (Markers mk : {Markers::snp_error, Markers::multi_error, Markers::many_error,
                     Markers::dominant_free, Markers::dominant_error}) {
    for (Shape sh : {Shape::one_family, Shape::star}) {
      SCOPED_TRACE(seed);
      reset_all_modules();
      testing_support::TempWorkDir dir{"no_allocation"};
      oracle::Options o;
      o.shape = sh;
      o.species = oracle::Species::selfing;
      o.markers = mk;
      o.loci = 3;
      o.sampled_parents = 1;
      o.missing = 0.2;
      const oracle::Cluster c = oracle::random_cluster(seed++, o);
      ASSERT_TRUE(oracle::build(c).ok);
      oracle::exact_mode();
      selfinggen_est();
      auto all_loci = [] {
        for (int4 l = 1; l <= variables.numloci; ++l) {
          const int4 k = variables.obsnumallele(l);
          if (k < 2) continue;
          real8 logl = 0.0;
          familylocuslogl(l, k, variables.genotypenum(k), logl);
        }
      };
      all_loci();
      const long before = testing_support::allocation_count();
      all_loci();
      EXPECT_EQ(testing_support::allocation_count() - before, 0);
      reset_all_modules();
    }
  }
}

}  // namespace
}  // namespace kinrad

namespace kinrad {
namespace {

// Posterior genotypes of a family at a locus a second time (counting, storing, offspring)
// allocate nothing: the work vectors keep their size.
TEST(NoAllocation, SecondGenotypeInferenceAllocatesNothing) {
  using oracle::Markers;
  using oracle::Shape;
  using oracle::Species;
  std::uint32_t seed = 1300;
  for (Species sp : {Species::diploid, Species::haplodiploid}) {
    for (Markers mk :
         {Markers::snp_free, Markers::multi_free, Markers::multi_error, Markers::dominant_error}) {
      for (Shape sh : {Shape::one_family, Shape::star, Shape::cycle2x2}) {
        SCOPED_TRACE(seed);
        reset_all_modules();
        testing_support::TempWorkDir dir{"no_allocation"};
        oracle::Options o;
        o.shape = sh;
        o.species = sp;
        o.markers = mk;
        o.loci = 2;
        o.sampled_parents = 1;
        o.missing = 0.2;
        const oracle::Cluster c = oracle::random_cluster(seed++, o);
        ASSERT_TRUE(oracle::build(c).ok);
        oracle::exact_mode();
        Variables& v = variables;
        const int4 ne = v.numestgenotype;
        const int4 np = static_cast<int4>(std::max(c.fathers.size(), c.mothers.size()));
        v.estprntgtype.allocate(Dim(2), Dim(ne), Dim(np), Dim(2));
        v.estprntgtypeprb.allocate(Dim(ne), Dim(np), Dim(2));
        v.estchildgtype.allocate(Dim(2), Dim(ne), Dim(v.smplsize));
        v.estchildgtypeprb.allocate(Dim(ne), Dim(v.smplsize));
        v.prntglogl.allocate(Dim(2), Dim(2), Dim(3));
        v.prntglogl.fill(1.0);
        FArray<int4, 2> config(Dim(v.smplsize), Dim(3));
        for (const oracle::Family& f : c.families) {
          for (int m : f.members) {
            config(m, 1) = f.father;
            config(m, 2) = f.mother;
          }
        }
        v.indivlocprt = config.view();
        std::vector<real8> counts(static_cast<size_t>(v.maxobsnumallele) + 1);
        for (int4 l = 1; l <= v.numloci; ++l) {
          const int4 k = v.obsnumallele(l);
          if (k < 2) continue;
          auto once = [&] {
            int4 status = 0;
            preparevariable(status, 0, l, 0);
            genotypeinference(l, 1, 1, std::span<real8>(counts.data(), size_t(k)), k, 1);
          };
          once();
          const long before = testing_support::allocation_count();
          once();
          EXPECT_EQ(testing_support::allocation_count() - before, 0) << "locus " << l;
        }
        reset_all_modules();
      }
    }
  }
}

}  // namespace
}  // namespace kinrad
