// Items 26 to 29 of the project input file: offspring and candidate genotypes, allele
// recoding and the identity rules. Allele numbers are worked out by hand: labels are numbered
// per locus in the order they first appear (offspring, then fathers, then mothers), a locus
// with a missing value registers none of its labels. Repeated identifiers among at most 7
// individuals keep their input order in the sorted order (straight insertion).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/modules/variables.hpp"
#include "project_file.hpp"

namespace kinrad {
namespace {

using readtest::dataerror;
using readtest::ProjectFile;
using readtest::routinestop;

class ReadGenotypes : public readtest::ReaderTest {};

// Three offspring, two fathers and one mother at two codominant loci.
ProjectFile basefile() {
  ProjectFile p;
  p.offspring = {"O1 1 2 3 4", "O2 1 1 3 3", "O3 2 2 4 4"};
  p.fathers = {"F1 1 2 3 4", "F2 2 2 3 3"};
  p.mothers = {"M1 1 1 4 4"};
  return p;
}

// Allele numbers of offspring i (kind 0) or of candidate column c (kind 1) at locus l.
std::pair<int, int> offgt(int l, int i) {
  return {variables.indivgtype(1, l, i), variables.indivgtype(2, l, i)};
}
std::pair<int, int> cndgt(int l, int c) {
  return {variables.cndgtype(1, l, c), variables.cndgtype(2, l, c)};
}
using P = std::pair<int, int>;

TEST_F(ReadGenotypes, AlleleNumbersByFirstAppearance) {
  ProjectFile p;
  p.offspring = {"O1 101 105 0 200", "O2 101 101 300 200", "O3 105 110 200 -5"};
  p.fathers = {"F1 110 120 300 400"};
  p.mothers = {"M1 130 101 0 0"};
  ASSERT_EQ(run(p), 0) << errorfile;
  EXPECT_EQ(offgt(1, 1), P(1, 2));
  EXPECT_EQ(offgt(2, 1), P(0, 0));  // missing as a whole: 200 is not registered here
  EXPECT_EQ(offgt(1, 2), P(1, 1));
  EXPECT_EQ(offgt(2, 2), P(1, 2));
  EXPECT_EQ(offgt(1, 3), P(2, 3));
  EXPECT_EQ(offgt(2, 3), P(0, 0));
  EXPECT_EQ(cndgt(1, 1), P(3, 4));
  EXPECT_EQ(cndgt(2, 1), P(1, 3));
  EXPECT_EQ(cndgt(1, 2), P(5, 1));  // mother 1 follows the single father
  EXPECT_EQ(cndgt(2, 2), P(0, 0));

  EXPECT_EQ(variables.rawallelenum(1), 5);
  EXPECT_EQ(variables.rawallelenum(2), 3);
  const std::vector<int4> labels1 = {101, 105, 110, 120, 130};
  const std::vector<int4> labels2 = {300, 200, 400};
  // Room for 2 labels, grown by 10 when full.
  EXPECT_EQ(variables.rawalleleid(1).a.size(), 12);
  EXPECT_EQ(variables.rawalleleid(2).a.size(), 12);
  for (int k = 1; k <= 5; ++k) EXPECT_EQ(variables.rawalleleid(1).a(k), labels1[k - 1]);
  for (int k = 1; k <= 3; ++k) EXPECT_EQ(variables.rawalleleid(2).a(k), labels2[k - 1]);

  EXPECT_EQ(variables.numcandidate(1), 1);
  EXPECT_EQ(variables.numcandidate(2), 1);
  EXPECT_EQ(variables.allcandidate, 2);
  EXPECT_EQ(variables.propprntsampled(1), 0.5);
  EXPECT_EQ(variables.cndparentid(0, 1), "0");
  EXPECT_EQ(variables.cndparentid(0, 2), "0");
  EXPECT_EQ(variables.cndparentid(1, 1), "F1");
  EXPECT_EQ(variables.cndparentid(1, 2), "M1");
  EXPECT_EQ(variables.smplsizedh(1), 0);
  EXPECT_EQ(variables.smplsizedh(2), 3);
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(variables.offploid(i), 2);
}

TEST_F(ReadGenotypes, ExactlyOneHundredTwentySevenLabels) {
  ProjectFile p;
  p.loci = 1;
  for (int k = 1; k <= 64; ++k) {
    const int second = k == 64 ? 1127 : 1000 + 2 * k;
    p.offspring.push_back("O" + std::to_string(k) + " " + std::to_string(999 + 2 * k) + " " +
                          std::to_string(second));
  }
  ASSERT_EQ(run(p), 0) << errorfile;
  EXPECT_EQ(variables.rawallelenum(1), 127);
  EXPECT_EQ(variables.rawalleleid(1).a.size(), 132);
  EXPECT_EQ(variables.rawalleleid(1).a(127), 1127);
  EXPECT_EQ(offgt(1, 64), P(127, 127));
  EXPECT_EQ(offgt(1, 2), P(3, 4));

  // One label more stops the program.
  p.offspring.back() = "O64 1127 1128";
  EXPECT_EQ(run(p), 1);
  EXPECT_EQ(errorfile, routinestop("The observed # alleles at locus 1 > 127!\nkinrad2.dat",
                                   "ConvertGenotype"));
}

TEST_F(ReadGenotypes, DominantLoci) {
  ProjectFile p;
  p.markertypes = "1 0";
  p.offspring = {"O1 2 11 12", "O2 1 12 12", "O3 0 11 13"};
  p.fathers = {"F1 1 13 14"};
  ASSERT_EQ(run(p), 0) << errorfile;
  EXPECT_EQ(offgt(1, 1), P(1, 1));
  EXPECT_EQ(offgt(1, 2), P(2, 2));
  EXPECT_EQ(offgt(1, 3), P(0, 0));
  EXPECT_EQ(offgt(2, 1), P(1, 2));
  EXPECT_EQ(offgt(2, 2), P(2, 2));
  EXPECT_EQ(offgt(2, 3), P(1, 3));
  EXPECT_EQ(cndgt(1, 1), P(2, 2));
  EXPECT_EQ(cndgt(2, 1), P(3, 4));
  EXPECT_EQ(variables.rawalleleid(1).a(1), 2);
  EXPECT_EQ(variables.rawalleleid(1).a(2), 1);
}

TEST_F(ReadGenotypes, HaplodiploidCoding) {
  ProjectFile p;
  p.haplodiploid = "1";
  p.offspring = {"A 101 -99 201 -99", "B 101 102 201 202", "C 0 -99 203 -99", "D 102 0 201 -99"};
  p.fathers = {"F1 102 205"};  // haploid fathers: one value per locus
  p.mothers = {"M1 101 103 202 0"};
  ASSERT_EQ(run(p), 0) << errorfile;
  EXPECT_EQ(offgt(1, 1), P(1, 1));
  EXPECT_EQ(offgt(2, 1), P(1, 1));
  EXPECT_EQ(offgt(1, 2), P(1, 2));
  EXPECT_EQ(offgt(2, 2), P(1, 2));
  EXPECT_EQ(offgt(1, 3), P(0, 0));
  EXPECT_EQ(offgt(2, 3), P(3, 3));
  EXPECT_EQ(offgt(1, 4), P(0, 0));
  EXPECT_EQ(offgt(2, 4), P(1, 1));
  const std::vector<int> ploidy = {1, 2, 1, 1};
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(variables.offploid(i), ploidy[i - 1]);
  EXPECT_EQ(variables.smplsizedh(1), 3);
  EXPECT_EQ(variables.smplsizedh(2), 1);
  EXPECT_EQ(cndgt(1, 1), P(2, 2));
  EXPECT_EQ(cndgt(2, 1), P(4, 4));
  EXPECT_EQ(cndgt(1, 2), P(1, 3));
  EXPECT_EQ(cndgt(2, 2), P(0, 0));
  // One diploid offspring: matings as given.
  EXPECT_EQ(variables.monogamy(1), 0);
  EXPECT_EQ(variables.anymonogamy, 0);
}

TEST_F(ReadGenotypes, PloidyFieldWithDominantLociOnly) {
  ProjectFile p;
  p.haplodiploid = "1";
  p.markertypes = "1@";
  p.offspring = {"A 1 1 2", "B 2 2 0"};
  ASSERT_EQ(run(p), 0) << errorfile;
  EXPECT_EQ(variables.offploid(1), 1);
  EXPECT_EQ(variables.offploid(2), 2);
  EXPECT_EQ(offgt(1, 1), P(1, 1));
  EXPECT_EQ(offgt(1, 2), P(2, 2));
  EXPECT_EQ(offgt(2, 1), P(1, 1));
  EXPECT_EQ(offgt(2, 2), P(0, 0));
}

TEST_F(ReadGenotypes, MatingSettingsFollowTheOffspringPloidy) {
  struct Row {
    const char* what;
    std::string haplodiploid, matings;
    std::vector<std::string> offspring;
    int4 inbreeding, maxmale, maxfemale, mono1, mono2, all, any;
  };
  const std::vector<Row> rows = {
      {"haploid offspring only",
       "1",
       "0 0",
       {"A 1 -99 3 -99", "B 2 -99 3 -99"},
       0,
       1,
       1,
       1,
       1,
       1,
       1},
      {"monogamous males",
       "0",
       "1 0",
       {"A 1 2 3 4", "B 1 1 3 3", "C 2 2 4 4"},
       1,
       1,
       3,
       1,
       0,
       0,
       1},
      {"both monogamous", "0", "1 1", {"A 1 2 3 4", "B 1 1 3 3"}, 1, 1, 1, 1, 1, 1, 1},
      {"polygamous", "0", "2 0", {"A 1 2 3 4", "B 1 1 3 3"}, 1, 2, 2, 0, 0, 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    ProjectFile p;
    p.inbreeding = "1";
    p.haplodiploid = r.haplodiploid;
    p.matings = r.matings;
    p.offspring = r.offspring;
    ASSERT_EQ(run(p), 0) << errorfile;
    EXPECT_EQ(variables.allowinbreeding, r.inbreeding);
    EXPECT_EQ(variables.maxmatings(1), r.maxmale);
    EXPECT_EQ(variables.maxmatings(2), r.maxfemale);
    EXPECT_EQ(variables.monogamy(1), r.mono1);
    EXPECT_EQ(variables.monogamy(2), r.mono2);
    EXPECT_EQ(variables.allmonogamy, r.all);
    EXPECT_EQ(variables.anymonogamy, r.any);
  }
}

TEST_F(ReadGenotypes, Refusals) {
  struct Row {
    const char* what;
    std::function<void(ProjectFile&)> change;
    std::string expected;
  };
  const std::string offline = "Data or data format error in IDs and genotypes of offspring: ";
  const std::string proportion =
      "Probability of a parent included in candidates should be in the range [0.001, 1]!";
  const std::vector<Row> rows = {
      {"unreadable offspring value", [](ProjectFile& p) { p.offspring[1] = "O2 1 x 3 3"; },
       dataerror(offline + "2")},
      {"null offspring value", [](ProjectFile& p) { p.offspring[0] = "O1 1 ,, 3 4"; },
       dataerror(offline + "1")},
      {"slash in an offspring line", [](ProjectFile& p) { p.offspring[2] = "O3 2 / 4 4"; },
       dataerror(offline + "3")},
      {"offspring without genotypes", [](ProjectFile& p) { p.offspring[1] = "O2 0 0 -5 7"; },
       dataerror("Offspring O2 has no genotype data and should be removed!")},
      {"repeated offspring", [](ProjectFile& p) { p.offspring[2] = "O1 2 2 4 4"; },
       dataerror("Offspring 3 has the same ID, O1, as offspring 1")},
      {"illegal dominant offspring value",
       [](ProjectFile& p) {
         p.markertypes = "1 0";
         p.offspring = {"O1 1 3 4", "O2 3 3 3", "O3 2 4 4"};
       },
       routinestop("Offspring 2 at dominant locus 1 has an illegal genotype 3\nProgram stops!",
                   "ConvertGenotype")},
      {"illegal dominant father value",
       [](ProjectFile& p) {
         p.markertypes = "0 1";
         p.offspring = {"O1 1 2 1", "O2 1 1 2", "O3 2 2 1"};
         p.fathers = {"F1 1 2 1", "F2 2 2 5"};
       },
       routinestop("Candidate father 2 at dominant locus 2 has an illegal genotype 5\nProgram "
                   "stops!",
                   "ConvertGenotype")},
      {"illegal dominant mother value",
       [](ProjectFile& p) {
         p.markertypes = "0 1";
         p.offspring = {"O1 1 2 1", "O2 1 1 2", "O3 2 2 1"};
         p.fathers = {"F1 1 2 1", "F2 2 2 2"};
         p.mothers = {"M1 1 1 7"};
       },
       routinestop("Candidate mother 1 at dominant locus 2 has an illegal genotype 7\nProgram "
                   "stops!",
                   "ConvertGenotype")},
      {"unreadable proportions", [](ProjectFile& p) { p.proportions = "0.5 x"; },
       dataerror("Error in reading Proportions of parents sampled")},
      {"proportion below 0.001", [](ProjectFile& p) { p.proportions = "0.0009 0.5"; },
       dataerror(proportion)},
      {"proportion above 1", [](ProjectFile& p) { p.proportions = "0.5 1.5"; },
       dataerror(proportion)},
      {"proportion NaN", [](ProjectFile& p) { p.proportions = "0.5 nan"; }, dataerror(proportion)},
      {"negative number of candidates", [](ProjectFile& p) { p.numbers = "-1 1"; },
       dataerror("Number of candidates should be >= 0!")},
      {"unreadable number of candidates", [](ProjectFile& p) { p.numbers = "2 x"; },
       dataerror("Error in reading Numbers of candidate parents")},
      {"null number of candidates", [](ProjectFile& p) { p.numbers = ",, 1"; },
       dataerror("Error in reading Numbers of candidate parents")},
      {"monoecious with unequal numbers", [](ProjectFile& p) { p.sexes = "1"; },
       dataerror("For monoecious, numbers of candidate fathers and mothers should be equal!")},
      {"unreadable mother line", [](ProjectFile& p) { p.mothers[0] = "M1 1 1 4 x"; },
       dataerror("Error in reading the ID and genotypes of female candidate 1")},
      {"short father line runs into the next", [](ProjectFile& p) { p.fathers[1] = "F2 2 2 3"; },
       dataerror("Error in reading the ID and genotypes of male candidate 2")},
      {"repeated father", [](ProjectFile& p) { p.fathers[1] = "F1 2 2 3 3"; },
       dataerror("Candidate male 2 has the same ID, F1, as candidate 1")},
      {"offspring and mother with different genotypes",
       [](ProjectFile& p) { p.mothers[0] = "O2 1 1 3 4"; },
       dataerror("Candidate female 1 and offspring 2 have the same individual ID, O2, but have "
                 "different genotypes!")},
      {"offspring and father differing by a missing locus",
       [](ProjectFile& p) {
         p.offspring = {"O1 1 1 3 4", "O2 1 1 3 3", "O3 1 1 4 4"};
         p.fathers = {"O1 0 0 3 4", "F2 1 1 3 3"};
       },
       dataerror("Candidate male 1 and offspring 1 have the same individual ID, O1, but have "
                 "different genotypes!")},
      {"haplodiploid father listed as offspring",
       [](ProjectFile& p) {
         p.haplodiploid = "1";
         p.fathers = {"O1 1 3", "F2 2 3"};
       },
       dataerror("Candidate male 1 and offspring 1 has the same individual ID, O1, which is "
                 "impossible!")},
      {"monoecious candidates with different identifiers",
       [](ProjectFile& p) {
         p.sexes = "1";
         p.mothers = {"F1 1 2 3 4", "M2 2 2 3 3"};
       },
       dataerror("Candidate father 2 and candidate mother 2 should have the same ID for "
                 "monoecious!")},
      {"monoecious candidates with different genotypes",
       [](ProjectFile& p) {
         p.sexes = "1";
         p.mothers = {"F1 1 2 3 4", "F2 2 2 3 4"};
       },
       dataerror("Candidate father 2 and candidate mother 2 should have the same genotype for "
                 "monoecious!")},
      {"haploid and diploid loci in one offspring",
       [](ProjectFile& p) {
         p.haplodiploid = "1";
         p.fathers = {"F1 1 3", "F2 2 3"};
         p.offspring[2] = "O3 2 -99 4 4";
       },
       dataerror("Offspring O3 has incorrect genotypes: Unable to determine its ploidy!")},
      {"ploidy field of 3",
       [](ProjectFile& p) {
         p.haplodiploid = "1";
         p.markertypes = "1@";
         p.offspring = {"O1 1 1 2", "O2 3 1 1", "O3 2 2 2"};
         p.fathers.clear();
         p.mothers.clear();
       },
       dataerror("Offspring O2 has incorrect ploidy!")},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    ProjectFile p = basefile();
    r.change(p);
    EXPECT_EQ(run(p), 1);
    EXPECT_EQ(errorfile, r.expected);
  }
}

TEST_F(ReadGenotypes, FileEndingInsideTheOffspringLines) {
  ProjectFile p = basefile();
  const auto records = p.records();
  std::string text;
  for (std::size_t k = 0; k < 27; ++k) text += records[k] + "\n";  // two of three offspring
  EXPECT_EQ(run(text), 1);
  EXPECT_EQ(errorfile, dataerror("Data or data format error in IDs and genotypes of offspring: 3"));
}

TEST_F(ReadGenotypes, SharedIdentifiersWithEqualGenotypesAndEmptySexes) {
  ProjectFile p = basefile();
  p.mothers = {"O2 1 1 3 3"};
  ASSERT_EQ(run(p), 0) << errorfile;
  EXPECT_EQ(variables.cndparentid(1, 2), "O2");

  // No mothers: their proportion is not tested and no mother line is read.
  p = basefile();
  p.mothers.clear();
  p.proportions = "0.001 0";
  ASSERT_EQ(run(p), 0) << errorfile;
  EXPECT_EQ(variables.numcandidate(2), 0);
  EXPECT_EQ(variables.allcandidate, 2);

  // Monoecious: father j and mother j are one individual.
  p = basefile();
  p.sexes = "1";
  p.mothers = p.fathers;
  ASSERT_EQ(run(p), 0) << errorfile;
  EXPECT_EQ(cndgt(1, 3), P(1, 2));
  EXPECT_EQ(cndgt(2, 4), P(1, 1));
}

TEST_F(ReadGenotypes, OffspringOrderIsKept) {
  ProjectFile p = basefile();
  p.offspring = {"C 1 2 3 4", "A 1 1 3 3", "B 2 2 4 4"};
  ASSERT_EQ(run(p), 0) << errorfile;
  EXPECT_EQ(variables.crindivloc(1, 2), 2);
  EXPECT_EQ(variables.crindivloc(2, 2), 3);
  EXPECT_EQ(variables.crindivloc(3, 2), 1);
  EXPECT_EQ(variables.offspringid(1), "C");
}

TEST_F(ReadGenotypes, ScreenLines) {
  ProjectFile p = basefile();
  p.offspring.clear();
  for (int k = 1; k <= 50; ++k) p.offspring.push_back("O" + std::to_string(k) + " 1 2 3 4");
  ASSERT_EQ(run(p), 0) << errorfile;
  // The spinner shows at every 50th offspring; a block of more than 9 closes its line.
  EXPECT_EQ(screen,
            "Opening & reading data input file: kinrad2.dat\n"
            "Reading 50 offspring genotypes at 2 loci...\n"
            "\r/\r  \n"
            "Reading 2 candidate father genotypes at 2 loci...\n"
            "  male candidates 1 - 2\n"
            "Reading 1 candidate mother genotypes at 2 loci...\n"
            "  female candidates 1 - 1\n");

  variables.displayq = 0;
  testing_support::write_text("kinrad2.dat", p.text());
  testing::internal::CaptureStdout();
  readdata();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
}  // namespace kinrad
