// The locus lists, counts and flags of the per-analysis set-up on a project of eight loci:
// codominant loci of 1, 2, 3 and 5 alleles without errors, a two-allele locus whose dropout
// rate 5e-11 still counts as error-free, a three-allele locus at the threshold 1e-10 (with
// errors), and a dominant locus without and one with errors. Every expected value is read off
// the locus table by hand.
#include <gtest/gtest.h>

#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "model/initial_fs_prob_fixture.hpp"
#include "program/prepare_analysis.hpp"

namespace kinrad::setuptest {
namespace {

using V = std::vector<int4>;

// Loci: 1 codominant {7}; 2 codominant {1,2}; 3 codominant {1,2,3}; 4 codominant {1..5};
// 5 codominant {1,2}, dropout 5e-11; 6 codominant {1,2,3}, dropout 1e-10; 7 dominant;
// 8 dominant, dropout 0.05.
Project eight_loci() {
  Project p;
  p.loci = 8;
  p.markertypes = "0 0 0 0 0 0 1 1";
  p.droprates = "0 0 0 0 5e-11 1e-10 0 0.05";
  p.otherrates = "0 0 0 0 0 0 0 0";
  p.offspring = {
      "O1 7 7 1 1 1 2 1 2 1 2 1 2 1 1", "O2 7 7 1 2 1 3 3 4 1 1 2 3 2 2",
      "O3 7 7 2 2 2 3 4 5 2 2 1 3 1 2", "O4 7 7 1 2 1 1 5 5 1 2 1 1 2 1",
      "O5 0 0 1 1 3 3 1 3 1 2 2 2 1 1", "O6 7 7 2 1 2 2 2 5 0 0 3 3 1 0",
  };
  p.fathers = {"F1 7 7 1 2 3 3 4 4 1 2 3 3 1 1", "F2 7 7 1 1 1 1 1 1 1 1 1 1 2 2"};
  p.mothers = {"M1 7 7 2 2 2 2 2 2 2 2 2 2 1 1"};
  p.knownpaternity = "2 0\nO2 F1\nO3 F1";
  p.maternalsibships = "1\n2 O4 O5";
  return p;
}

TEST_F(SetupTest, EightLociGiveEveryListCountAndFlag) {
  ASSERT_TRUE(prepare(eight_loci()));
  const Variables& v = variables;
  EXPECT_EQ(valuesof(v.locuserror), (V{0, 0, 0, 0, 0, 1, 0, 1}));
  EXPECT_EQ(v.anymarkererrorfreeq, 1);
  // Error-free codominant loci grouped by allele number: {1}, {2, 5}, {3, 4}.
  EXPECT_EQ(listof(v.locuscodomnoerror), (V{1, 2, 5, 3, 4}));
  EXPECT_EQ(valuesof(v.locuscodomnoerrorloc), (V{0, 1, 3, 5}));
  EXPECT_EQ(listof(v.locusdomnoerror), (V{7}));
  EXPECT_EQ(v.genotypecheckq, 1);
  EXPECT_TRUE(likelihoodvar.userowsnp.allocated());
  EXPECT_EQ(v.numdommarkers(1), 2);
  EXPECT_EQ(v.domlocusidx(1), 7);
  EXPECT_EQ(v.domlocusidx(2), 8);
  EXPECT_EQ(v.alldommarkers, 0);
  EXPECT_EQ(v.allcodommarkers, 0);
  // Two-allele loci: codominant ones first, then the dominant ones.
  EXPECT_EQ(listof(v.locus2), (V{2, 5, 7, 8}));
  EXPECT_EQ(valuesof(v.locus2loc), (V{0, 1, 0, 0, 2, 0, 3, 4}));
  EXPECT_EQ(listof(v.locus3), (V{3, 4, 6}));
  EXPECT_EQ(valuesof(v.locus3loc), (V{0, 0, 1, 2, 0, 3, 0, 0}));
  EXPECT_EQ(listof(v.locus1), (V{1}));
  EXPECT_EQ(v.numloci23, 7);
  EXPECT_EQ(valuesof(v.snploc), (V{3, 4, 1, 2}));
  EXPECT_EQ(valuesof(v.l1thread), (V{3, 4, 1, 2}));
  EXPECT_EQ(valuesof(v.l2thread), (V{1, 4}));
  EXPECT_EQ(valuesof(v.l3thread), (V{1, 3}));
  EXPECT_EQ(annealvariables.nallallele, 20);
  EXPECT_EQ(v.converseq, 1);
  EXPECT_EQ(v.numestgenotype, 5);
  EXPECT_EQ(valuesof(v.genotypenum), (V{1, 3, 6, 10, 15}));
  // With candidates and a codominant two-allele locus: 3 population rows and 3 per each of
  // three genotype classes.
  EXPECT_EQ(v.locus2gtypefre.ubound(1), 12);
  EXPECT_EQ(v.locus2gtypefre.lbound(2), 0);
  EXPECT_EQ(v.locus2gtypefre.ubound(2), 0);
  EXPECT_EQ(v.l2lb(1), 0);
  EXPECT_EQ(v.l2lb(2), 12);
  EXPECT_TRUE(likelihoodvar.domfsibsave.allocated());
  EXPECT_TRUE(likelihoodvar.domconstlogl.allocated());
  EXPECT_TRUE(likelihoodvar.familyindivll.allocated());
  EXPECT_TRUE(likelihoodvar.familyindiv.allocated());
  EXPECT_EQ(likelihoodvar.fsfamilygtype.ubound(4), 3);
  EXPECT_EQ(v.indexgtype.lbound(1), 0);
  EXPECT_EQ(v.indexgtype.ubound(1), 16);
  EXPECT_EQ(v.indexallele.ubound(1), 5);
  EXPECT_EQ(v.codominantloci.ubound(1), 8);
  EXPECT_EQ(v.dominantloci.ubound(1), 8);
  EXPECT_EQ(v.locusdom.ubound(1), 2);
  EXPECT_TRUE(likelihoodvar.scaleidx.allocated() == (v.fsscaleq == 1));
  // Offspring O5 is untyped at locus 1, O6 at loci 5 and 8.
  EXPECT_EQ(valuesof(v.offmissdata), (V{1, 0, 0, 0, 1, 0, 0, 1}));
  EXPECT_EQ(v.alloffmissdata, 0);
}

TEST_F(SetupTest, KnownParentsBecomeKnownSibships) {
  ASSERT_TRUE(prepare(eight_loci()));
  const Variables& v = variables;
  EXPECT_EQ(v.knownprntq(1, 1), 1);
  EXPECT_EQ(v.knownprntq(2, 1), 0);
  EXPECT_EQ(v.knownprntq(1, 2), 0);
  EXPECT_EQ(valuesof(v.numknownprnt), (V{1, 0, 2, 0}));
  EXPECT_EQ(valuesof(v.anyknownprntq), (V{1, 0}));
  EXPECT_EQ(valuesof(v.anyknownsibshipq), (V{1, 1}));
  // The offspring of father 1 form paternal sibship -1.
  std::vector<int4> paternal;
  std::vector<int4> maternal;
  for (int4 i = 1; i <= 6; ++i) {
    paternal.push_back(v.knownsibship(i, 1));
    maternal.push_back(v.knownsibship(i, 2));
  }
  EXPECT_EQ(paternal, (V{0, -1, -1, 0, 0, 0}));
  EXPECT_EQ(maternal, (V{0, 0, 0, 1, 1, 0}));
  const auto& flags = annealvariables.knownsibshipq;
  EXPECT_EQ(flags.lbound(1), -1);
  EXPECT_EQ(flags.ubound(1), 2);
  for (index_t k = -1; k <= 2; ++k) EXPECT_EQ(flags(k).p, &v.falsetgt);
  std::vector<int4> size1;
  std::vector<int4> size2;
  for (int4 i = 1; i <= 6; ++i) {
    size1.push_back(v.knownsibshipsize(i, 1));
    size2.push_back(v.knownsibshipsize(i, 2));
  }
  EXPECT_EQ(size1, (V{0, 2, 2, 0, 0, 0}));
  EXPECT_EQ(size2, (V{0, 0, 0, 2, 2, 0}));
}

TEST_F(SetupTest, WithoutKnownRelationshipsTheFlagsAreEmpty) {
  Project p = eight_loci();
  p.knownpaternity = "0 0";
  p.maternalsibships = "0";
  ASSERT_TRUE(prepare(p));
  const Variables& v = variables;
  EXPECT_EQ(valuesof(v.numknownprnt), (V{0, 0, 0, 0}));
  EXPECT_EQ(valuesof(v.anyknownsibshipq), (V{0, 0}));
  EXPECT_EQ(annealvariables.knownsibshipq.lbound(1), 0);
  EXPECT_EQ(annealvariables.knownsibshipq.ubound(1), 1);
  EXPECT_FALSE(v.knownsibshipsize.allocated());
}

// Every stored genotype reads back from the packed columns as the allele pair it came from;
// the unpacked arrays are gone afterwards.
TEST_F(SetupTest, PackedColumnsHoldEveryGenotype) {
  ASSERT_TRUE(prepare(eight_loci(), false));
  Variables& v = variables;
  const int4 n = v.smplsize;
  const int4 c = v.allcandidate;
  // (locus, individual) -> the genotype number the prepared allele pair stands for.
  std::vector<std::vector<int4>> offspring(9, std::vector<int4>(static_cast<std::size_t>(n + 1)));
  std::vector<std::vector<int4>> candidates(9, std::vector<int4>(static_cast<std::size_t>(c + 1)));
  for (int4 l = 1; l <= v.numloci; ++l) {
    for (int4 i = 1; i <= n; ++i)
      offspring[l][i] = v.genotypeid2(v.indivgtype(1, l, i), v.indivgtype(2, l, i));
    for (int4 j = 1; j <= c; ++j)
      candidates[l][j] = v.genotypeid2(v.cndgtype(1, l, j), v.cndgtype(2, l, j));
  }
  testing::internal::CaptureStdout();
  analysis_tables();
  testing::internal::GetCapturedStdout();
  EXPECT_FALSE(v.indivgtype.allocated());
  EXPECT_FALSE(v.cndgtype.allocated());
  for (int4 l = 1; l <= v.numloci; ++l) {
    SCOPED_TRACE(l);
    const int4 k = v.obsnumallele(l);
    setgetgtype.locusgtypeptr = v.indivgtype2(l).a;
    EXPECT_EQ(v.indivgtype2(l).a.size(), k > 2 ? n : (n + 7) / 8);
    for (int4 i = 1; i <= n; ++i) {
      int2 g = 0;
      getgtype(g, i, k);
      EXPECT_EQ(g, offspring[l][i]) << "offspring " << i;
    }
    setgetgtype.locusgtypeptr = v.cndgtype2(l).a;
    for (int4 j = 1; j <= c; ++j) {
      int2 g = 0;
      getgtype(g, j, k);
      EXPECT_EQ(g, candidates[l][j]) << "candidate " << j;
    }
  }
}

TEST_F(SetupTest, DominantOnlyProject) {
  Project p;
  p.loci = 3;
  p.markertypes = "1 1 1";
  p.droprates = "0 0.05 0";
  p.otherrates = "0 0 0";
  p.offspring = {"O1 1 2 1", "O2 2 1 1", "O3 1 1 2", "O4 2 2 2"};
  ASSERT_TRUE(prepare(p));
  const Variables& v = variables;
  EXPECT_EQ(v.alldommarkers, 1);
  EXPECT_EQ(v.allcodommarkers, 0);
  EXPECT_EQ(listof(v.locus2), (V{1, 2, 3}));
  EXPECT_EQ(listof(v.locus3), V{});
  EXPECT_EQ(v.locus1(0), 0);
  EXPECT_EQ(v.locus1.ubound(1), 1);
  EXPECT_EQ(valuesof(v.snploc), (V{1, 3, 1, 0}));
  EXPECT_EQ(listof(v.locusdomnoerror), (V{1, 3}));
  EXPECT_EQ(v.locuscodomnoerror(0), 0);
  EXPECT_EQ(v.genotypecheckq, 0);
  EXPECT_FALSE(likelihoodvar.userowsnp.allocated());
  EXPECT_FALSE(likelihoodvar.fsfamilygtype.allocated());
  // No candidates, every two-allele locus dominant: the 3 population rows only.
  EXPECT_EQ(v.locus2gtypefre.ubound(1), 3);
  EXPECT_EQ(v.l2lb(2), 3);
  EXPECT_EQ(v.numdommarkers(1), 3);
  EXPECT_EQ(v.alloffmissdata, -1);
}

TEST_F(SetupTest, HaplodiploidErrorFreeTwoAlleleLocusLeavesUserowsnpUnallocated) {
  Project p;
  p.loci = 2;
  p.haplodiploid = "1";
  p.markertypes = "0 0";
  p.droprates = "0 0";
  p.otherrates = "0 0";
  p.offspring = {"O1 1 2 1 3", "O2 2 2 2 3", "O3 1 1 1 2"};
  ASSERT_TRUE(prepare(p));
  EXPECT_EQ(variables.locuscodomnoerrorloc(2) - variables.locuscodomnoerrorloc(1), 1);
  EXPECT_FALSE(likelihoodvar.userowsnp.allocated());
}

TEST_F(SetupTest, TextLabels) {
  Project p;
  p.loci = 2;
  p.markertypes = "0 0";
  p.droprates = "0 0";
  p.otherrates = "0 0";
  p.offspring = {"O1 101 9999 12 12", "O2 101 101 13 12"};
  ASSERT_TRUE(prepare(p));
  const auto& id = writevar.calleleid;
  ASSERT_TRUE(id.allocated());
  EXPECT_EQ(id.lbound(1), -1);
  EXPECT_EQ(id.ubound(1), 9999);
  EXPECT_EQ(std::string(id(-1).view()), "-1  ");
  EXPECT_EQ(std::string(id(0).view()), "0   ");
  EXPECT_EQ(std::string(id(101).view()), "101 ");
  EXPECT_EQ(std::string(id(9999).view()), "9999");
  const auto& f = writevar.cfre;
  struct Row {
    int4 i;
    const char* text;
  };
  for (const Row& r : {Row{0, "0.000"}, Row{1000, "0.100"}, Row{1230, "0.123"}, Row{1234, "0.123"},
                       Row{5, "0.001"}, Row{10000, "1.000"}}) {
    SCOPED_TRACE(r.i);
    EXPECT_EQ(std::string(f(r.i).view()), r.text);
  }
}

TEST_F(SetupTest, AlleleLabelsAbove9999LeaveCalleleidUnallocated) {
  Project p;
  p.loci = 1;
  p.markertypes = "0";
  p.droprates = "0";
  p.otherrates = "0";
  p.offspring = {"O1 10000 1", "O2 1 1"};
  ASSERT_TRUE(prepare(p));
  EXPECT_FALSE(writevar.calleleid.allocated());
  EXPECT_TRUE(writevar.cfre.allocated());
}

TEST_F(SetupTest, GenotypeIndexTables) {
  ASSERT_TRUE(prepare(eight_loci()));
  const auto& lv = likelihoodvar;
  // Five alleles: the tables of 2 to 5 alleles follow 1, 1 + 4, 1 + 4 + 9, 1 + 4 + 9 + 16.
  EXPECT_EQ(valuesof(lv.fsgtypeidloc), (V{55, 1, 5, 14, 30}));
  EXPECT_EQ(lv.fsgtypeid.ubound(1), 5 + 55);
  EXPECT_EQ(lv.fsgtypeid(1), 55);
  // Two alleles, by columns: (1,1) 1, (2,1) 2, (1,2) 2, (2,2) 3.
  EXPECT_EQ((V{lv.fsgtypeid(2), lv.fsgtypeid(3), lv.fsgtypeid(4), lv.fsgtypeid(5)}),
            (V{1, 2, 2, 3}));
  // Three alleles, row-by-row numbers 1/1 1, 1/2 2, 1/3 3, 2/2 4, 2/3 5, 3/3 6.
  V three;
  for (int4 j = 6; j <= 14; ++j) three.push_back(lv.fsgtypeid(j));
  EXPECT_EQ(three, (V{1, 2, 3, 2, 4, 5, 3, 5, 6}));
  // Five alleles: (5, 5) is the last of 15; (2, 4) is 5 + 3 = 8.
  EXPECT_EQ(lv.fsgtypeid(30 + 25), 15);
  EXPECT_EQ(lv.fsgtypeid(30 + 3 * 5 + 2), 8);
  EXPECT_EQ(lv.prbindex.ubound(1), 5);
}

}  // namespace
}  // namespace kinrad::setuptest

namespace kinrad::setuptest {
namespace {

TEST_F(SetupTest, DominantTwoAlleleMarkersWeakenTheSibshipPrior) {
  Project p = eight_loci();
  p.prior = "3 2 2";
  ASSERT_TRUE(prepare(p));
  // Full likelihood, x = 2 / (15 + 2): (x + 2)^2 * 0.125 * 0.128 * sqrt(6), then times
  // 1 - 0.8 * 2 / 7 for the two dominant two-allele markers among seven polymorphic loci.
  EXPECT_NEAR(variables.ewenpriorfac(1), 0.135580891870638, 1e-14);
  EXPECT_EQ(variables.ewenpriorfac(2), variables.ewenpriorfac(1));
  EXPECT_EQ(variables.priortype, 1);
}

}  // namespace
}  // namespace kinrad::setuptest
