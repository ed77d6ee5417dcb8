// The archive walk and its files: golden bytes of ".ConfigArchive", ".ParentPair",
// ".Distribution" and ".Selfer" for two three-record archives, every value derived by hand in
// the comments beside it (weights 1, 1/2, 1/4, so W = 1.75). The lines of the distribution are
// assembled here from the edit format's field widths: I6, then seven fields of 21 characters.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "archive_walk_fixture.hpp"
#include "results/archive_internal.hpp"
#include "results/results_internal.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using namespace testing_support;
using namespace resultstest;

const real8 ln2 = std::log(2.0);

std::string right(const std::string& s, std::size_t w) {
  return std::string(w - s.size(), ' ') + s;
}

// One row of ".Distribution": the number in 6 characters, seven values in 21 each.
std::string drow(int r, const std::vector<std::string>& cols) {
  std::string line = right(std::to_string(r), 6);
  for (const auto& c : cols) line += right(c, 21);
  return line + "\n";
}

const std::string distribution_header =
    "Number Fre(#PaternalFamily) Fre(#MaternalFamily) Fre(#FullSib-Family)   Fre(#Child/Father)"
    "   Fre(#Child/Mather)    Fre(#Mating/Male)  Fre(#Mating/Female)\n";

// Two sexes, candidates D1, D2 and M1, M2; offspring 4 is haploid; offspring 1 has the known
// father D2.
void two_sex_archive() {
  archive_walk_sample({.n = 4, .numsex = 2, .ncand1 = 2, .ncand2 = 2});
  make_haploid(4);
  set_archive({
      // Families {O1, O2} (father 1, mother 1) and {O3} (father 2, mother 2); the haploid O4
      // with mother 2; clusters 5 and 2 (shown 1 and 2).
      {-10.0, {1, 1, 2, 3}, {1, 1, 2, 2}, {5, 5, 2, 2}, {0, 0, 1, 0}, {2, 2, 0, 0}},
      // Everyone unsampled: O1 alone, {O2, O3}, O4 alone; clusters shown 1, 2, 2, 3.
      {-10.0 - ln2, {1, 2, 2, 3}, {1, 2, 2, 3}, {3, 1, 1, 2}, {}, {}},
      // Father 1 (assigned D1, known D2 through O1) of O1, O2, O3; one cluster.
      {-10.0 - 2 * ln2, {1, 1, 1, 2}, {1, 1, 2, 2}, {7, 7, 7, 7}, {1, 1, 1, 0}, {1, 1, 0, 0}},
  });
  known_parent(1, 1, 2);
}

TEST(ArchiveConfigWrite, TwoSexGoldenFiles) {
  TempWorkDir dir("archive_two_sex");
  two_sex_archive();
  archiveconfigwrite();

  // Names restart in every block; D2 (known father of O1) names the whole paternal family of
  // O1 even where the record leaves it unsampled (record 2) or assigns D1 (record 3: the
  // larger candidate number); the haploid's father is "*-"; clusters from 1 without gaps.
  const std::string archive =
      "Archived Configurations with corresponding log likelihood\n"
      "Config#,1,LogLikelihood,-1.0000000000E+01\n"
      "OffspringID,FatherID,MotherID,ClusterIndex\n"
      "O1,D2,M2,1\n"
      "O2,D2,M2,1\n"
      "O3,D1,#1,2\n"
      "O4,*-,#1,2\n"
      "Config#,2,LogLikelihood,-1.0693147181E+01\n"
      "OffspringID,FatherID,MotherID,ClusterIndex\n"
      "O1,D2,#1,1\n"
      "O2,*1,#2,2\n"
      "O3,*1,#2,2\n"
      "O4,*-,#3,3\n"
      "Config#,3,LogLikelihood,-1.1386294361E+01\n"
      "OffspringID,FatherID,MotherID,ClusterIndex\n"
      "O1,D2,M1,1\n"
      "O2,D2,M1,1\n"
      "O3,D2,#1,1\n"
      "O4,*-,#1,1\n";
  EXPECT_EQ(file_text("t.ConfigArchive"), archive);

  // Pairs (weight 1, 1/2, 1/4 of W = 1.75: 0.5714, 0.2857, 0.1429):
  // O1 (2,2) (2,0) (2,1); O2 (2,2) (0,0) (2,1); O3 (1,0) (0,0) (2,0); O4 haploid: none.
  const std::string pairs =
      "OffspringID,InferredDad,InferredMum,Probability\n"
      "O1,D2,M2, 0.5714\n"
      "O1,D2,#, 0.2857\n"
      "O1,D2,M1, 0.1429\n"
      "O2,D2,M2, 0.5714\n"
      "O2,*,#, 0.2857\n"
      "O2,D2,M1, 0.1429\n"
      "O3,D1,#, 0.5714\n"
      "O3,*,#, 0.2857\n"
      "O3,D2,#, 0.1429\n";
  EXPECT_EQ(file_text("t.ParentPair"), pairs);

  // Sums before the division by W = 1.75:
  // col 1 (diploid fathers 2, 2, 1): r1 .25, r2 1.5.  col 2 (2, 3, 2): r2 1.25, r3 .5.
  // col 3 (full-sib keys: 3 families each time): r3 1.75.
  // col 4: record 1 diploid paternal sizes {2, 1} -> .5, .5; record 2 {1, 2} -> .25, .25;
  //   record 3 {3} -> r3 .25; so .75, .75, .25.
  // col 5: record 1 {2, 2} -> r2 1; record 2 {1, 2, 1} -> r1 2(.5/3), r2 .5/3; record 3
  //   {2, 2} -> r2 .25; so r1 float(1/3) = 0.33333334, r2 1 + 0.16666667 + .25 = 1.4166666.
  // col 6: record 1 three fathers with one mate (the haploid's placeholder father too) -> r1 1;
  //   record 2 -> r1 .5; record 3 fathers with 2 and 1 mates -> .125, .125; so 1.625, .125.
  // col 7: record 1 mothers with 1 and 2 mates -> .5, .5; record 2 -> r1 .5; record 3 -> .125,
  //   .125; so 1.125, .625.
  const std::string distribution =
      distribution_header +
      drow(1, {"0.1429", "0.0000", "0.0000", "0.4286", "0.1905", "0.9286", "0.6429"}) +
      drow(2, {"0.8571", "0.7143", "0.0000", "0.4286", "0.8095", "0.0714", "0.3571"}) +
      drow(3, {"0.0000", "0.2857", "1.0000", "0.1429", "0.0000", "0.0000", "0.0000"});
  EXPECT_EQ(file_text("t.Distribution"), distribution);
  EXPECT_FALSE(file_exists("t.Selfer"));

  // The known parentage is as read again.
  EXPECT_EQ(variables.indivparent(2, 1), 0);
  EXPECT_EQ(variables.indivparent(1, 1), 2);
}

// One parent pool with selfing, no candidates.
void one_sex_archive() {
  archive_walk_sample({.n = 3, .numsex = 1});
  variables.allowinbreeding = 1;
  set_archive({
      // O1 of parents 1 and 3 (3 met only as a second parent), O2 selfed by 1, O3 of 2 and 3.
      {-5.0, {1, 1, 2}, {3, 1, 3}, {}, {}, {}},
      // One full-sib family of parents 1 and 2; cluster id 4 shown as 1.
      {-5.0 - ln2, {1, 1, 1}, {2, 2, 2}, {4, 4, 4}, {}, {}},
      // O1 selfed by 1; O2 of 2 and 3; O3 of 4 and 5: ids above n.
      {-5.0 - 2 * ln2, {1, 2, 4}, {1, 3, 5}, {}, {}, {}},
  });
}

TEST(ArchiveConfigWrite, OneSexSelfingGoldenFiles) {
  TempWorkDir dir("archive_one_sex");
  one_sex_archive();
  archiveconfigwrite();

  // One running number over both columns; parent 3, first met as O1's second parent, keeps
  // "#3" at O3; the selfing parent of O2 is named twice.
  const std::string archive =
      "Archived Configurations with corresponding log likelihood\n"
      "Config#,1,LogLikelihood,-5.0000000000E+00\n"
      "OffspringID,FatherID,MotherID,ClusterIndex\n"
      "O1,#1,#3,1\n"
      "O2,#1,#1,1\n"
      "O3,#2,#3,1\n"
      "Config#,2,LogLikelihood,-5.6931471806E+00\n"
      "OffspringID,FatherID,MotherID,ClusterIndex\n"
      "O1,#1,#2,1\n"
      "O2,#1,#2,1\n"
      "O3,#1,#2,1\n"
      "Config#,3,LogLikelihood,-6.3862943611E+00\n"
      "OffspringID,FatherID,MotherID,ClusterIndex\n"
      "O1,#1,#1,1\n"
      "O2,#2,#4,2\n"
      "O3,#3,#5,3\n";
  EXPECT_EQ(file_text("t.ConfigArchive"), archive);
  EXPECT_FALSE(file_exists("t.ParentPair"));

  // Sums before the division by 1.75:
  // col 1 (largest ids 2, 1, 4): r1 .5, r2 1, r4 .25.  col 2 (3, 2, 5): r2 .5, r3 1, r5 .25.
  // col 3 (keys: 3, 1, 3 families): r1 .5, r3 1.25.
  // col 4 (both columns counted): record 1 sizes {3, 1, 2} -> 1/3 each; record 2 {3, 3} ->
  //   r3 .5; record 3 {2, 1, 1, 1, 1} -> r1 4(.25/5) = .2, r2 .05; so r1 0.33333334 + 0.2,
  //   r2 0.33333334 + 0.05, r3 0.33333334 + .5 in single precision; col 5 the same.
  // col 6 and 7: record 1 role-1 parents with 2 and 1 partners, role-2 parents likewise -> .5,
  //   .5; records 2 and 3 one partner each -> r1 .5 and .25; so 1.25, .5.
  const std::string distribution =
      distribution_header +
      drow(1, {"0.2857", "0.0000", "0.2857", "0.3048", "0.3048", "0.7143", "0.7143"}) +
      drow(2, {"0.5714", "0.2857", "0.0000", "0.2190", "0.2190", "0.2857", "0.2857"}) +
      drow(3, {"0.0000", "0.5714", "0.7143", "0.4762", "0.4762", "0.0000", "0.0000"}) +
      drow(4, {"0.1429", "0.0000", "0.0000", "0.0000", "0.0000", "0.0000", "0.0000"}) +
      drow(5, {"0.0000", "0.1429", "0.0000", "0.0000", "0.0000", "0.0000", "0.0000"});
  EXPECT_EQ(file_text("t.Distribution"), distribution);

  // Selfed: O1 in record 3 (.25/1.75), O2 in record 1 (1/1.75), O3 never.
  EXPECT_EQ(file_text("t.Selfer"),
            "OffspringID,Probability\n"
            "O1, 0.143\n"
            "O2, 0.571\n"
            "O3, 0.000\n");
}

TEST(ArchiveConfigWrite, ScreenQuietGivesTheSameFilesAndNoOutput) {
  std::string quiet_files, shown_files;
  std::string quiet_out, shown_out;
  for (int4 display = 0; display <= 1; ++display) {
    TempWorkDir dir("archive_screen");
    two_sex_archive();
    variables.displayq = display;
    ::testing::internal::CaptureStdout();
    archiveconfigwrite();
    std::string out = ::testing::internal::GetCapturedStdout();
    std::string files =
        file_text("t.ConfigArchive") + file_text("t.ParentPair") + file_text("t.Distribution");
    (display == 0 ? quiet_files : shown_files) = files;
    (display == 0 ? quiet_out : shown_out) = out;
  }
  EXPECT_EQ(quiet_files, shown_files);
  EXPECT_EQ(quiet_out, "");
  // The announcement, one spinner step per configuration, and the closing carriage return.
  // Then the dyad steps: six pair visits give no spinner mark (one per 150); the four trials
  // of the parent-offspring step give a mark every second one, and no closing below ten.
  EXPECT_EQ(shown_out,
            "Output archived configurations and summary statistics...\n\r/\r-\r\\\r \n"
            "Computing sib dyad probabilities...\n"
            "Computing parent-offspring dyad probabilities...\n\r/\r-");
}

TEST(ArchiveConfigWrite, OnlyProcessZeroWritesFiles) {
  TempWorkDir dir("archive_thread");
  one_sex_archive();
  variables.threadid = 1;
  archiveconfigwrite();
  for (const char* s : {".ConfigArchive", ".ParentPair", ".Distribution", ".Selfer"})
    EXPECT_FALSE(file_exists(std::string("t") + s)) << s;
  EXPECT_EQ(variables.configptr, nullptr);  // the walk ran to the end
}

}  // namespace
}  // namespace kinrad
