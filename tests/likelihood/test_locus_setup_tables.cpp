// Smaller tables of the per-locus set-up: scaled genotype counts, table locations, the dominant
// cache, families without members and the observed genotypes of known parents. Expected
// values are read off the families by hand or computed from the formulas of the effective
// family size.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/likelihood_internal.hpp"
#include "likelihood/oracle.hpp"
#include "support/module_reset.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using oracle::Cluster;
using oracle::Genotype;

class LocusSetupTables : public testing_support::ModuleReset {
 protected:
  testing_support::TempWorkDir dir{"locus_tables"};
};

real8 run(int4 locus) {
  real8 logl = 1.0;
  const int4 k = variables.obsnumallele(locus);
  familylocus_setup(locus, k, variables.genotypenum(k), logl);
  return logl;
}

// Loci: 1 four alleles with errors, 2 two alleles with errors, 3 and 4 dominant (one block),
// 5 dominant with other rates (another block). 16 offspring, so that scaling stays on.
Cluster scaled_cluster() {
  Cluster c;
  c.fsscaleq = 1;
  c.loci = {{false, 4, {}, 0.02, 0.02},
            {false, 2, {}, 0.02, 0.02},
            {true, 2, {}, 0.0, 0.0},
            {true, 2, {}, 0.0, 0.0},
            {true, 2, {}, 0.05, 0.01}};
  c.fathers.resize(2);
  c.mothers.resize(1);
  const std::vector<Genotype> g1 = {{1, 2}, {1, 2}, {1, 2}, {1, 3}, {1, 3}, {2, 3}};
  for (int i = 0; i < 16; ++i) {
    c.offspring.push_back({g1[size_t(i % 6)], i % 3 == 0 ? Genotype{1, 1} : Genotype{1, 2},
                           Genotype{i % 2 + 1, 0}, Genotype{i % 2 + 1, 0},
                           Genotype{i % 4 == 0 ? 2 : 1, 0}});
    c.offploid.push_back(2);
  }
  c.offspring[15][0] = {4, 4};
  c.families = {{1, 1, {1, 2, 3, 4, 5, 6}}, {2, 1, {7, 8, 9, 10, 11, 12}}};
  return c;
}

TEST_F(LocusSetupTables, ScaledCountsAndTableLocations) {
  Cluster c = scaled_cluster();
  ASSERT_TRUE(oracle::build(c).ok);
  const Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  ASSERT_EQ(v.fsscaleq, 1);
  // Four-allele locus: family 1 shows 1/2 three times, 1/3 twice, 2/3 once.
  ASSERT_EQ(run(1), 0.0);
  const real8 s = v.scaleloc(v.locus3loc(1));
  const real8 e = v.othererrorrate(1);
  const real8 m = (1 - std::sqrt(e)) * (1 - std::sqrt(e)) * 0.5 / 4 + 2;
  const real8 cc = (m - std::pow(2.0, s)) / std::log(m);
  auto expect_scaled = [&](int n) {
    if (s >= 1.0 || n < 2) return static_cast<real8>(n);
    return std::pow(n, s) + cc * std::log(static_cast<real8>(n));
  };
  for (int4 f = 1; f <= 2; ++f) {
    const int4 ngt = v.numfsgenotype(1, f) + v.numfsgenotype(2, f);
    EXPECT_EQ(ngt, 3);
    for (int4 i = 1; i <= ngt; ++i) {
      const int4 at = lv.clusterfamilyloc(f) + i;
      EXPECT_NEAR(v.numfsgtypescaled(at), expect_scaled(v.numfsgtype(at)), 1e-13);
    }
    // Three alleles shown of four: the pooled allele makes four, ten genotypes.
    EXPECT_EQ(lv.numallelefs(f), 4);
    EXPECT_EQ(lv.fsprobdim(f), 10);
    EXPECT_EQ(lv.fsgtypeidx(0, f), 0);
  }
  EXPECT_EQ(v.fsprobloc(1), 0);
  EXPECT_EQ(v.fsprobloc(2), 10);
  EXPECT_GE(lv.fsprob.ubound(2), 20);
  // Two-allele locus: scale2 of each count, tables of 3 at 3(k - 1).
  ASSERT_EQ(run(2), 0.0);
  for (int4 f = 1; f <= 2; ++f) {
    const int4 ngt = v.numfsgenotype(1, f) + v.numfsgenotype(2, f);
    for (int4 i = 1; i <= ngt; ++i) {
      const int4 at = lv.clusterfamilyloc(f) + i;
      EXPECT_EQ(v.numfsgtypescaled(at), v.scale2(v.numfsgtype(at)));
    }
    EXPECT_EQ(lv.fsprobdim(f), 3);
    EXPECT_EQ(v.fsprobloc(f), 3 * (f - 1));
  }
  // Family 1 at the two-allele locus: members 1..6 are 1/1 (i % 3 == 0: 1 and 4 of 0..5, that
  // is offspring 1 and 4) and 1/2 (the other four): the heterozygote first.
  EXPECT_EQ(v.numfsgenotype(1, 1), 1);
  EXPECT_EQ(v.numfsgenotype(2, 1), 1);
  EXPECT_EQ(v.numfsgtype(lv.clusterfamilyloc(1) + 1), 4);
  EXPECT_EQ(v.numfsgtype(lv.clusterfamilyloc(1) + 2), 2);
}

TEST_F(LocusSetupTables, DominantCacheBelongsToOneBlock) {
  Cluster c = scaled_cluster();
  ASSERT_TRUE(oracle::build(c).ok);
  Likelihoodvar& lv = likelihoodvar;
  const Variables& v = variables;
  ASSERT_EQ(v.dominantloci(3), v.dominantloci(4));
  ASSERT_NE(v.dominantloci(3), v.dominantloci(5));
  ASSERT_EQ(run(3), 0.0);
  EXPECT_EQ(lv.domfsibsave(1), -1);
  // A full-sib routine would store its key; the next locus of the same block keeps it.
  lv.domfsibsave(1) = 17;
  ASSERT_EQ(run(4), 0.0);
  EXPECT_EQ(lv.domfsibsave(1), 17);
  ASSERT_EQ(run(5), 0.0);
  EXPECT_EQ(lv.domfsibsave(1), -1);
  // Offspring counts by phenotype: family 1 (offspring 1..6) has phenotypes 1,2,1,2,1,2.
  ASSERT_EQ(run(3), 0.0);
  EXPECT_EQ(v.numfsgenotype(1, 1) + v.numfsgenotype(2, 1), 6);
  EXPECT_EQ(v.numfsgenotype(1, 1), 3);
}

TEST_F(LocusSetupTables, MonoeciousReciprocalFamilyTakesNoPart) {
  Cluster c;
  c.numsex = 1;
  c.loci = {{false, 3, {}, 0.0, 0.0}};
  c.fathers.resize(2);
  c.mothers.resize(2);
  c.same = {{1, 1}, {2, 2}};
  c.offspring = {{{1, 2}}, {{2, 3}}, {{1, 3}}, {{3, 3}}};
  c.offploid.assign(4, 2);
  c.families = {{1, 2, {1, 2}}, {2, 1, {3}}};
  ASSERT_TRUE(oracle::build(c).ok);
  ASSERT_EQ(run(1), 0.0);
  const Likelihoodvar& lv = likelihoodvar;
  EXPECT_EQ(lv.mabsorb(4), 1);
  EXPECT_EQ(lv.fsib(1), 1);
  EXPECT_EQ(lv.fsib(2), 0);
  // Each individual's roles had one family each; the member-less one is taken off both.
  EXPECT_EQ(lv.hsib(1), 1);  // A as parent of sex 1: family 1
  EXPECT_EQ(lv.hsib(2), 0);  // B as parent of sex 1: family 2 only
  EXPECT_EQ(lv.hsib(3), 0);  // A as parent of sex 2: family 2 only
  EXPECT_EQ(lv.hsib(4), 1);  // B as parent of sex 2: family 1
}

TEST_F(LocusSetupTables, KnownParentsObservedGenotypes) {
  struct Row {
    const char* name;
    Genotype father;  // the candidate father's genotype at the two-allele locus
    int a1, a2;       // expected alleles, in the recoding of the program
    int missing;      // allprntgtypemissingq
  };
  const Row rows[] = {{"heterozygote", {1, 2}, 1, 2, 0}, {"untyped", {0, 0}, 0, 0, 1}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Cluster c;
    c.loci = {{false, 2, {}, 0.0, 0.0}, {false, 3, {}, 0.0, 0.0}};
    c.fathers.resize(1);
    c.mothers.resize(1);
    c.fathers[0].candidate = 1;
    c.fathers[0].genotype = {r.father, {1, 2}};
    c.offspring = {{{1, 1}, {1, 3}}, {{1, 2}, {2, 2}}, {{2, 2}, {1, 3}}};
    c.offploid.assign(3, 2);
    c.families = {{1, 1, {1, 2}}};
    ASSERT_TRUE(oracle::build(c).ok);
    EXPECT_EQ(likelihoodvar.knownprt(1), 1);
    ASSERT_EQ(run(1), 0.0);
    EXPECT_EQ(variables.prntgtype(1, 1), r.a1);
    EXPECT_EQ(variables.prntgtype(2, 1), r.a2);
    EXPECT_EQ(variables.allprntgtypemissingq, r.missing);
  }
}

}  // namespace
}  // namespace kinrad
