// The two-allele genotype copy, the trial frame, and work state that is reused between
// families: a family prepared after a larger one must leave exactly the tables a fresh process
// makes for it.
#include <gtest/gtest.h>

#include <vector>

#include "core/modules.hpp"
#include "core/modules/familyloglvar.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/setgetgtype.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/likelihood_internal.hpp"
#include "likelihood/oracle.hpp"
#include "support/module_reset.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using oracle::Cluster;

class WorkState : public testing_support::ModuleReset {
 protected:
  testing_support::TempWorkDir dir{"work_state"};
};

// Three codominant two-allele loci, a four-allele locus, and a dominant locus; 12 offspring.
Cluster sample_cluster() {
  oracle::Options o;
  o.markers = oracle::Markers::snp_error;
  o.loci = 3;
  Cluster c = oracle::random_cluster(7, o);
  c.loci.push_back({false, 4, {}, 0.0, 0.0});
  c.loci.push_back({true, 2, {}, 0.02, 0.01});
  const std::vector<oracle::Genotype> extra[] = {
      {{1, 2}, {2, 0}}, {{3, 4}, {1, 0}}, {{1, 3}, {1, 0}}, {{2, 2}, {2, 0}}};
  c.offspring.clear();
  c.offploid.clear();
  const std::vector<oracle::Genotype> snp[] = {{{1, 1}, {1, 2}, {2, 2}},
                                               {{1, 2}, {1, 2}, {1, 1}},
                                               {{2, 2}, {0, 0}, {1, 2}},
                                               {{1, 2}, {2, 2}, {1, 2}}};
  for (int i = 0; i < 12; ++i) {
    std::vector<oracle::Genotype> g = snp[i % 4];
    g.push_back(extra[i % 4][0]);
    g.push_back(extra[(i + 1) % 4][1]);
    c.offspring.push_back(g);
    c.offploid.push_back(2);
  }
  c.fathers.assign(1, {});
  c.mothers.assign(1, {});
  c.families = {{1, 1, {1, 2, 3}}};
  c.filler.clear();
  return c;
}

TEST_F(WorkState, TwoAlleleCopyEqualsThePackedStore) {
  Cluster c = sample_cluster();
  ASSERT_TRUE(oracle::build(c).ok);
  const Variables& v = variables;
  ASSERT_EQ(v.locus2(0), 4);  // three codominant and one dominant two-allele locus
  setgtype2();
  ASSERT_TRUE(v.indivgtype1.allocated());
  for (int4 k = 1; k <= v.locus2(0); ++k) {
    setgetgtype.locusgtypeptr = v.indivgtype2(v.locus2(k)).a;
    for (int4 i = 1; i <= v.smplsize; ++i) {
      int2 g = 0;
      getgtype(g, i, 2);
      EXPECT_EQ(v.indivgtype1(i, k), g > 3 ? 3 : g) << i << " " << k;
    }
  }
}

// The set-up reads the same codes through the copy as through the packed store (the copy is
// only read for families of more than 9 members or 7 or more families).
TEST_F(WorkState, SetupThroughTheCopyOrThePackedStoreAgrees) {
  Cluster c = sample_cluster();
  c.families = {{1, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}}};
  ASSERT_TRUE(oracle::build(c).ok);
  auto tables = [] {
    std::vector<int4> r;
    const Variables& v = variables;
    for (int4 k = 1; k <= v.locus2(0); ++k) {
      real8 logl = 0.0;
      familylocus_setup(v.locus2(k), 2, 3, logl);
      for (int4 g = 1; g <= 3; ++g) r.push_back(familyloglvar.kg(g, 1));
      r.push_back(v.numfsgenotype(1, 1));
      r.push_back(v.numfsgenotype(2, 1));
    }
    return r;
  };
  const std::vector<int4> packed = tables();
  EXPECT_EQ(likelihoodvar.indivg12, 2);
  setgtype2();
  ASSERT_TRUE(oracle::frame(c));
  EXPECT_EQ(likelihoodvar.indivg12, 1);
  EXPECT_EQ(tables(), packed);
}

TEST_F(WorkState, TrialFrames) {
  for (int4 np : {1, 2}) {
    SCOPED_TRACE(np);
    reset_all_modules();
    Variables& v = variables;
    v.smplsize = 4;
    v.numsex = 1;
    v.inferparent.allocate(Dim(4), Dim(2));
    v.inferparent.fill(3);
    for (int round = 0; round < 2; ++round) {
      setfamilystruc(np == 1 ? 1 : 0, np);
      EXPECT_EQ(v.nparent(1), np);
      EXPECT_EQ(v.nparent(2), np);
      EXPECT_EQ(v.nchild.ubound(1), np);
      EXPECT_EQ(v.nchild.ubound(2), np);
      for (int4 i = 1; i <= np; ++i)
        for (int4 j = 1; j <= np; ++j) {
          EXPECT_EQ(v.nchild(i, j), np);
          EXPECT_EQ(familystructure(i, j).size(), 0);
        }
      EXPECT_EQ(v.parentjdx(1, 1), 0);
      EXPECT_GE(v.parentjdx.ubound(1), 5);
      // (1, 1) clears the first offspring's parents and aims the configuration at inferparent;
      // (0, 2) leaves both as they were.
      EXPECT_EQ(v.inferparent(1, 1), np == 1 ? 0 : 3);
      EXPECT_EQ(v.inferparent(1, 2), np == 1 ? 0 : 3);
      EXPECT_EQ(v.inferparent(2, 1), 3);
      EXPECT_EQ(v.inferparentprt.associated(), np == 1);
    }
  }
}

// Every per-locus table of the family, within the family's extent.
std::vector<double> snapshot() {
  const Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  std::vector<double> r;
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int4 k = v.obsnumallele(l);
    if (k < 2) continue;
    real8 logl = 0.0;
    familylocus_setup(l, k, v.genotypenum(k), logl);
    r.push_back(logl);
    r.push_back(lv.loglikehoodconst);
    r.push_back(lv.mabsorb(4));
    for (int4 f = 1; f <= v.numfsibship; ++f) {
      r.push_back(lv.fsib(f));
      r.push_back(lv.numallelefs(f));
      for (int4 i = 1; i <= lv.numallelefs(f); ++i) r.push_back(lv.allelefs(lv.locallelefs(f) + i));
      r.push_back(v.numfsgenotype(1, f));
      r.push_back(v.numfsgenotype(2, f));
      if (v.dominantmarker(l) == 0) {
        for (int4 i = 1; i <= v.numfsgenotype(1, f) + v.numfsgenotype(2, f); ++i) {
          const int4 at = lv.clusterfamilyloc(f) + i;
          r.push_back(v.fsgtype(1, at));
          r.push_back(v.fsgtype(2, at));
          r.push_back(v.numfsgtype(at));
          r.push_back(v.numfsgtypescaled(at));
        }
      }
      r.push_back(lv.fsprobdim(f));
      r.push_back(v.fsprobloc(f));
      for (int4 role = 1; role <= 2; ++role) r.push_back(lv.idxloc(2 * f + role - 3));
    }
    for (int4 i = 1; i <= lv.idxloc(2 * v.numfsibship); ++i) r.push_back(lv.idxtgt(i));
    for (int4 j = 1; j <= v.nallparent; ++j) {
      r.push_back(lv.hsib(j));
      r.push_back(lv.allelehsnum(j));
      for (int4 i = 1; i <= lv.allelehsnum(j); ++i) r.push_back(lv.allelehs(lv.allelehsloc(j) + i));
      r.push_back(lv.hsprobdim(j));
      r.push_back(lv.hsprobloc(j));
      r.push_back(v.prntgtype(1, j));
      r.push_back(v.prntgtype(2, j));
    }
    for (int4 i = 1; i <= lv.hsprobloc(v.nallparent + 1); ++i) r.push_back(lv.crrtgenotypefre(i));
  }
  return r;
}

TEST_F(WorkState, SmallerFamilyAfterLargerLeavesNoTrace) {
  Cluster small = sample_cluster();
  small.fathers.assign(1, {});
  small.mothers.assign(2, {});
  small.families = {{1, 1, {1, 2}}, {1, 2, {3}}};
  ASSERT_TRUE(oracle::build(small).ok);
  const std::vector<double> fresh = snapshot();
  Cluster big = small;
  big.fathers.assign(3, {});
  big.mothers.assign(3, {});
  big.families = {
      {1, 1, {4, 5, 6}}, {1, 2, {7}}, {2, 2, {8, 9}}, {3, 3, {10, 11, 12}}, {2, 3, {1, 2, 3}}};
  ASSERT_TRUE(oracle::frame(big));
  (void)snapshot();
  ASSERT_TRUE(oracle::frame(small));
  EXPECT_EQ(snapshot(), fresh);
}

// The two-allele set-up of a family is reused by its later two-allele loci only: a new family
// starts it again (here the parents' genotype spaces differ, fathers being haploid).
TEST_F(WorkState, TwoAlleleProgressStartsAgainForEveryFamily) {
  Cluster b;
  b.haplodiploid = true;
  b.loci = {{false, 2, {}, 0.0, 0.0}, {false, 2, {}, 0.0, 0.0}, {false, 2, {}, 0.0, 0.0}};
  for (int i = 0; i < 6; ++i) {
    b.offspring.push_back({{1, 2}, {i % 2 + 1, 2}, {1, 1}});
    b.offploid.push_back(2);
  }
  b.fathers.assign(2, {});
  b.mothers.assign(1, {});
  b.families = {{1, 1, {1, 2}}, {2, 1, {3, 4}}};
  ASSERT_TRUE(oracle::build(b).ok);
  const std::vector<double> fresh = snapshot();
  Cluster a = b;
  a.fathers.assign(1, {});
  a.mothers.assign(2, {});
  a.families = {{1, 1, {1, 2}}, {1, 2, {5, 6}}};
  ASSERT_TRUE(oracle::build(a).ok);
  (void)snapshot();
  ASSERT_TRUE(oracle::frame(b));
  EXPECT_EQ(snapshot(), fresh);
  EXPECT_EQ(likelihoodvar.hsprobdim(2), 2);  // the second father is haploid
}

}  // namespace
}  // namespace kinrad
