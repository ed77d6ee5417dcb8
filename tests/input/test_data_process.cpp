// Data preparation: allele order, genotype numbering, known-relationship checks and the
// starting frequencies. Expected values are worked out by hand from the preparation rules
// (counts of the fixture genotypes, the dominant-locus estimate evaluated on paper).
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/modules/variables.hpp"
#include "data_process_fixture.hpp"
#include "input/input.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using dptest::LocusSpec;
using dptest::SampleShape;
using dptest::setup;
using dptest::stopline;
using testing_support::TempWorkDir;

std::string repeat(const std::string& pair, int times) {
  std::string s;
  for (int i = 0; i < times; ++i) s += pair + " ";
  return s;
}

// Skips the corrections, so that only the starting frequencies are seen.
SampleShape given_frequency_free(std::vector<LocusSpec> loci) {
  SampleShape s;
  s.ewen = 1e99;  // no sibship prior and no known family: no correction
  s.loci = std::move(loci);
  return s;
}

TEST(DataProcess, TwoAlleleLocusPutsTheCommonerAlleleFirst) {
  TempWorkDir dir("dp_order");
  // Allele 1 (label 10) 30 times, allele 2 (label 20) 50 times.
  const std::string off = repeat("11", 10) + repeat("12", 10) + repeat("22", 20);
  setup(given_frequency_free({{2, false, 0, 0, off, "", {10, 20}}}));
  dataprocess();
  auto& v = variables;
  EXPECT_EQ(v.obsallelefre(1).a(1), 0.625);
  EXPECT_EQ(v.obsallelefre(1).a(2), 0.375);
  EXPECT_EQ(v.obsallelefre0(1, 1), 0.625);
  EXPECT_EQ(v.rawallele(1).a(-1), -1);
  EXPECT_EQ(v.rawallele(1).a(0), 0);
  EXPECT_EQ(v.rawallele(1).a(1), 20);
  EXPECT_EQ(v.rawallele(1).a(2), 10);
  // 1/1 became 2/2, 1/2 stays a heterozygote in ascending order, 2/2 became 1/1.
  EXPECT_EQ(v.indivgtype(1, 1, 1), 2);
  EXPECT_EQ(v.indivgtype(2, 1, 1), 2);
  EXPECT_EQ(v.indivgtype(1, 1, 11), 1);
  EXPECT_EQ(v.indivgtype(2, 1, 11), 2);
  EXPECT_EQ(v.indivgtype(1, 1, 40), 1);
  EXPECT_EQ(v.indivgtype(2, 1, 40), 1);
  EXPECT_FALSE(v.rawalleleid.allocated());
  EXPECT_FALSE(v.rawallelenum.allocated());
  EXPECT_EQ(v.locus2logl.size(1), 3);
  EXPECT_EQ(v.locus2logl.size(2), 1);
  EXPECT_EQ(v.l23g(1), 0);
  EXPECT_EQ(v.l23g(2), 0);
}

TEST(DataProcess, EqualCountsKeepTheOrderAndPairsAreSorted) {
  TempWorkDir dir("dp_tie");
  setup(given_frequency_free({{2, false, 0, 0, "21 12 11 22", "", {10, 20}}}));
  dataprocess();
  EXPECT_EQ(variables.rawallele(1).a(1), 10);
  EXPECT_EQ(variables.indivgtype(1, 1, 1), 1);
  EXPECT_EQ(variables.indivgtype(2, 1, 1), 2);
  EXPECT_EQ(variables.obsallelefre(1).a(1), 0.5);
}

TEST(DataProcess, GenotypeNumberingOfThreeAlleles) {
  TempWorkDir dir("dp_numbering");
  setup(given_frequency_free(
      {{3, false, 0, 0, "12 13 23 11", ""}, {2, false, 0, 0, "12 11 11 22", ""}}));
  dataprocess();
  auto& v = variables;
  EXPECT_EQ(v.maxobsnumallele, 3);
  EXPECT_EQ(v.maxnumgenotype, 6);
  // 1/1, 2/2, 3/3 are 1-3; 1/2 is 4, 1/3 is 5, 2/3 is 6.
  const int pairs[7][2] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {1, 2}, {1, 3}, {2, 3}};
  for (int g = 0; g <= 6; ++g) {
    SCOPED_TRACE(g);
    EXPECT_EQ(v.genotypeid(1, g), pairs[g][0]);
    EXPECT_EQ(v.genotypeid(2, g), pairs[g][1]);
    EXPECT_EQ(v.genotypeid2(pairs[g][0], pairs[g][1]), g);
    EXPECT_EQ(v.genotypeid2(pairs[g][1], pairs[g][0]), g);
  }
  for (int a = 1; a <= 3; ++a) {
    EXPECT_EQ(v.genotypeid2(a, 0), a);
    EXPECT_EQ(v.genotypeid2(0, a), -a);
  }
  for (int g = 1; g <= 6; ++g) EXPECT_EQ(v.idxgtype(g), g);
  EXPECT_EQ(v.l23g(1), 3);
  EXPECT_EQ(v.l23g(2), 4);
  EXPECT_EQ(v.locus2logl.size(2), 1);
  // Frequencies: counts 4, 2, 2 of 8 at the three-allele locus.
  EXPECT_EQ(v.obsallelefre(1).a(1), 4.0 / 8);
  EXPECT_EQ(v.obsallelefre(1).a(2), 2.0 / 8);
  EXPECT_EQ(v.obsallelefre(1).a(3), 2.0 / 8);
  EXPECT_EQ(v.obsallelefretgt.size(), 5);
}

TEST(DataProcess, HaplodiploidSpeciesUsesOneGenotypeIndex) {
  TempWorkDir dir("dp_haplo");
  SampleShape s = given_frequency_free({{3, false, 0, 0, "12 13 23", ""}});
  s.haplodiploid = 1;
  setup(s);
  dataprocess();
  for (int g = 1; g <= 6; ++g) EXPECT_EQ(variables.idxgtype(g), 1);
}

TEST(DataProcess, ContradictoryKnownRelationshipsStop) {
  struct Row {
    const char* name;
    int sex;
    int sibship;  // known sibship of the offspring for that sex
    int count;    // exclusion count (negative: the list holds the allowed candidates)
    std::vector<int4> list;
    const char* line;  // expected error line 1, or "(no stop)"
  };
  const std::vector<Row> rows = {
      {"parent and sibship",
       1,
       3,
       0,
       {},
       "Data error! Offspring O2 has been assigned both known sibship and parentage!"},
      {"father excluded",
       1,
       0,
       2,
       {1, 2},
       "Data error! Offspring O2 has a known father listed as excluded!"},
      {"mother not allowed",
       2,
       0,
       -1,
       {1},
       "Data error! Offspring O2 has a known mother listed as excluded!"},
      {"mother allowed", 2, 0, -1, {2}, "(no stop)"},
      {"other father excluded", 1, 0, 1, {1}, "(no stop)"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TempWorkDir dir("dp_known");
    SampleShape s = given_frequency_free({{2, false, 0, 0, "12 11 22", "11 12 12 22"}});
    s.fathers = 2;
    s.mothers = 2;
    setup(s);
    auto& v = variables;
    v.indivparent(2, r.sex) = 2;
    v.knownsibship(2, r.sex) = r.sibship;
    v.excludedparent.allocate(3, 2);
    v.excludedparent(2, r.sex).count = r.count;
    v.excludedparent(2, r.sex).list.allocate(static_cast<index_t>(r.list.size()));
    for (std::size_t k = 0; k < r.list.size(); ++k)
      v.excludedparent(2, r.sex).list(static_cast<index_t>(k + 1)) = r.list[k];
    EXPECT_EQ(stopline([] { dataprocess(); }), r.line);
  }
}

TEST(DataProcess, NoVariationStops) {
  TempWorkDir dir("dp_novar");
  setup(given_frequency_free({{1, false, 0, 0, "11 11", ""}, {0, false, 0, 0, "00 00", ""}}));
  EXPECT_EQ(stopline([] { dataprocess(); }), "Program stops because no variation in geneotypes!");
  EXPECT_EQ(variables.errmsg(2).trimmed(), "All loci have less than 2 observed alleles!");
}

TEST(DataProcess, UntypedLocusGetsEvenFrequencies) {
  TempWorkDir dir("dp_untyped");
  setup(given_frequency_free({{2, false, 0, 0, "12 11", ""},
                              {0, false, 0, 0, "00 00", ""},
                              {0, true, 0.1, 0, "00 00", ""}}));
  dataprocess();
  EXPECT_EQ(variables.numloci0, 2);
  for (int l = 2; l <= 3; ++l) {
    SCOPED_TRACE(l);
    EXPECT_EQ(variables.obsallelefre(l).a.size(), 2);
    EXPECT_EQ(variables.obsallelefre(l).a(1), 0.5);
    EXPECT_EQ(variables.obsallelefre(l).a(2), 0.5);
  }
}

TEST(DataProcess, DominantLocusEstimates) {
  struct Row {
    const char* name;
    LocusSpec locus;
    int4 ploidy1;
    int4 fathers;
    real8 q;  // expected frequency of allele 2 (absence of the band)
  };
  const std::string banded = repeat("11", 6) + repeat("22", 2);
  // Without dropout q is the square root of the recessive share: 4 of 16 alleles -> 0.5.
  // With d = 0.2, c2 = 6, N = 32: (0.2 - sqrt(4*6*0.8/32 + 0.04)) / (0.4 - 2) = -0.6/-1.6.
  // Haploid fathers (1 of 2 shows allele 2), N = 16: w = 16/24, q = 0.5*2/3 + 0.5/3 = 0.5.
  const std::vector<Row> rows = {
      {"no dropout", {2, true, 0.0, 0, banded, ""}, 2, 0, 0.5},
      {"dropout 0.2", {2, true, 0.2, 0, repeat("11", 13) + repeat("22", 3), ""}, 2, 0, 0.375},
      {"haploid fathers", {2, true, 0.0, 0, banded, "11 22"}, 1, 2, 0.5},
      {"haploid fathers, all banded", {2, true, 0.0, 0, banded, "11 11"}, 1, 2, 0.5 * 2.0 / 3.0},
      {"band only", {1, true, 0.0, 0, "11 11 00 11 11 11 11 11", ""}, 2, 0, 0.0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TempWorkDir dir("dp_dom");
    const int n = static_cast<int>(dptest::pairsof(r.locus.offspring).size());
    SampleShape s =
        given_frequency_free({r.locus, {2, false, 0, 0, repeat("12", n), repeat("11", r.fathers)}});
    s.ploidy1 = r.ploidy1;
    s.fathers = r.fathers;
    s.haplodiploid = r.ploidy1 == 1 ? 1 : 0;
    setup(s);
    dataprocess();
    EXPECT_NEAR(variables.obsallelefre(1).a(2), r.q, 1e-15);
    EXPECT_NEAR(variables.obsallelefre(1).a(1), 1.0 - r.q, 1e-15);
    EXPECT_EQ(variables.rawallele(1).a(1), 1);
  }
}

TEST(DataProcess, DominantLocusWithLabelTwoFirstIsRecoded) {
  TempWorkDir dir("dp_domrev");
  // The reader numbered label 2 first: allele number 1 stands for label 2.
  setup(given_frequency_free({{2, true, 0, 0, "11 22 11 22", "", {2, 1}}}));
  dataprocess();
  EXPECT_EQ(variables.indivgtype(1, 1, 1), 2);
  EXPECT_EQ(variables.indivgtype(1, 1, 2), 1);
  EXPECT_EQ(variables.rawallele(1).a(1), 1);
  EXPECT_EQ(variables.rawallele(1).a(2), 2);
  // Two of the four phenotypes recessive: q = sqrt(1/2).
  EXPECT_NEAR(variables.obsallelefre(1).a(2), std::sqrt(0.5), 1e-15);
}

}  // namespace
}  // namespace kinrad
