// Simple peeling against the routes it must agree with: absorbing a family while its table is
// built equals writing the table and peeling it, the direct sum of whole-family mode equals
// peeling, the parts of the engine this build does not have end in the error stop, and cycles
// at loci with typing errors or dominant markers are summed.
#include <gtest/gtest.h>

#include <cmath>

#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/full_sib_internal.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/likelihood_internal.hpp"
#include "likelihood/oracle.hpp"
#include "support/module_reset.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using oracle::Markers;
using oracle::Shape;
using oracle::Species;

class Peel : public testing_support::ModuleReset {};

real8 by_routine(int4 l) {
  const int4 k = variables.obsnumallele(l);
  real8 logl = 0.0;
  familylocuslogl(l, k, variables.genotypenum(k), logl);
  return logl;
}

// The same locus with every full-sib table written out (flag 1) and summed by peel; fixed: true
// also leaves whole-family mode aside.
real8 by_tables(int4 l, bool leave_whole) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 k = v.obsnumallele(l);
  real8 logl = 0.0;
  familylocus_setup(l, k, v.genotypenum(k), logl);
  if (logl <= -1e300) return logl;
  if (leave_whole) v.purefsshortcut = 0;
  const int4 maxnumparent = v.maxnumparent;
  if (leave_whole) v.maxnumparent = 2;
  if (lv.nabsorb(1) == -1) findabsorbfamily();
  if (!unattached_parents()) return -1e300;
  for (int4 j = 1; j <= lv.mabsorb(2); ++j) {
    const int4 f = lv.nabsorb(j);
    if (v.numfsgenotype(1, f) + v.numfsgenotype(2, f) == 0) continue;
    if (lv.fsprobidx(f) > 0) lv.fsprobidx(f) = -1;
    if (k == 2) {
      const int2 ngt[2] = {v.numfsgenotype(1, f), v.numfsgenotype(2, f)};
      lv.flagsnp(j) = 0;
      fsprobcomputesnp(f, ngt, j, 1);
      continue;
    }
    bool complete = false;
    fsprobcompute1(f, lv.numallelefs(f), v.numfsgenotype(1, f) + v.numfsgenotype(2, f), logl, j, 1,
                   complete);
    EXPECT_FALSE(complete);
  }
  v.maxnumparent = maxnumparent;
  logl = 0.0;
  peel(l, k, v.genotypenum(k), 0, logl);
  return logl;
}

// Stars, chains and single families at error-free loci of 2 to 6 alleles: the two routes agree
// to rounding (the table route multiplies the same factors in another order).
TEST_F(Peel, AbsorptionAndWholeFamilyModesEqualTablesPeeled) {
  int compared = 0;
  for (std::uint32_t seed = 1; seed <= 30; ++seed) {
    for (Species sp : {Species::diploid, Species::haplodiploid}) {
      reset_all_modules();
      testing_support::TempWorkDir dir{"peel"};
      oracle::Options o;
      const Shape shapes[] = {Shape::one_family, Shape::star, Shape::chain};
      o.shape = shapes[seed % 3];
      o.species = sp;
      o.markers = seed % 2 == 0 ? Markers::multi_free : Markers::snp_free;
      o.sampled_parents = static_cast<int>(seed % 3);
      o.missing = 0.1;
      const oracle::Cluster c = oracle::random_cluster(seed + 3000u, o);
      ASSERT_TRUE(oracle::build(c).ok);
      oracle::exact_mode();
      for (int4 l = 1; l <= variables.numloci; ++l) {
        if (variables.obsnumallele(l) < 2) continue;
        SCOPED_TRACE(std::to_string(seed) + " locus " + std::to_string(l));
        const real8 direct = by_routine(l);
        const real8 tables = by_tables(l, true);
        if (direct <= -1e300) {
          EXPECT_EQ(tables, -1e300);
        } else {
          EXPECT_NEAR(direct, tables, 1e-13 * std::max(1.0, std::abs(direct)));
        }
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 60);
}

// Cyclic clusters at loci with typing errors or dominant markers, over many shapes and seeds:
// the engine no longer stops there; it returns the enumeration's value (the oracle's sum over
// every parent genotype) within the tolerances of those tables (Debug builds check every
// subscript, so a table read in the wrong layout aborts the test).
TEST_F(Peel, CyclesAtErrorAndDominantLociFinish) {
  const Shape shapes[] = {Shape::cycle2x2, Shape::cycle2x3,   Shape::cycle3x3,
                          Shape::ladder,   Shape::two_cycles, Shape::random_graph};
  const Markers markers[] = {Markers::snp_error, Markers::multi_error, Markers::dominant_free,
                             Markers::dominant_error};
  int finished = 0, engine_only = 0;
  for (std::uint32_t seed = 1; seed <= 48; ++seed) {
    SCOPED_TRACE(seed);
    reset_all_modules();
    testing_support::TempWorkDir dir{"peel"};
    oracle::Options o;
    o.shape = shapes[seed % 6];
    o.markers = markers[seed / 6 % 4];
    o.loci = 1;
    o.missing = seed % 3 == 0 ? 0.25 : 0.0;
    const oracle::Cluster c = oracle::random_cluster(seed * 7919u + 5u, o);
    ASSERT_TRUE(oracle::build(c).ok);
    oracle::exact_mode();
    for (int4 l = 1; l <= variables.numloci; ++l) {
      if (variables.obsnumallele(l) < 2) continue;
      real8 got = 0.0;
      ASSERT_NO_THROW(got = by_routine(l));
      ++finished;
      const double ref = oracle::locus_logl(c, l);
      if (ref == -1e300) {
        EXPECT_LE(got, -1e299);
      } else if (got <= -1e299) {
        ++engine_only;  // error tables may drop pairs the enumeration keeps
      } else {
        const bool single = variables.dominantmarker(l) == 0;
        const int families = single ? static_cast<int>(c.families.size()) : 0;
        EXPECT_NEAR(got, ref, oracle::tolerance(ref, 0, families));
      }
    }
  }
  EXPECT_GT(finished, 40);
  EXPECT_LE(engine_only, finished / 10);
}

}  // namespace
}  // namespace kinrad
