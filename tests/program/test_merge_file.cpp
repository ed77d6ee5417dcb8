// The merge of per-process part files, with three processes. Expected targets are written out
// by hand from the rules: genotype targets keep what they hold and get the parts of processes
// 1 and 2 appended ("@" becoming a line feed, trailing blanks removed); other targets are made
// from the parts of processes 0 to 2; parts are deleted; one process merges.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "program/merge_file.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using namespace testing_support;

class MergeFile : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_all_modules();
    variables.fname = "stem";
    variables.displayq = 0;
    variables.numthreads = 3;
    // mergefile(0, 3): 4 entries, 4 mod 3 = 1 is the merging process.
    variables.threadid = 1;
    write_text("stem.OffGenotype", "OffspringID,Locus\n");
    write_text("stem.OffGenotype1", "o1,a@o1,b   \n");
    // no part of process 2 for the offspring file
    write_text("stem.DadGenotype", "Header\n");
    write_text("stem.DadGenotype2", "d2@d2b\n");
    write_text("stem.AlleleFreq", "old frequencies\n");
    write_text("stem.AlleleFreq0", "Marker,Allele  \nm1,1\n");
    write_text("stem.AlleleFreq1", long_line + "\n");
    write_text("stem.AlleleFreq2", "m3,9\n");
  }
  TempWorkDir dir_{"mergefile"};
  const std::string long_line = std::string(30000, 'x');
};

TEST_F(MergeFile, PartsJoinTheirTargets) {
  mergefile(0, 3);
  EXPECT_EQ(read_text("stem.OffGenotype"), "OffspringID,Locus\no1,a\no1,b\n");
  EXPECT_EQ(read_text("stem.DadGenotype"), "Header\nd2\nd2b\n");
  // No parts and no target: the target is opened (created) and holds nothing.
  EXPECT_EQ(read_text("stem.MumGenotype"), "");
  // Entry 3 is made from the parts of processes 0 to 2; the long line survives whole.
  EXPECT_EQ(read_text("stem.AlleleFreq"), "Marker,Allele\nm1,1\n" + long_line + "\nm3,9\n");
  for (const char* part : {"stem.OffGenotype1", "stem.DadGenotype2", "stem.AlleleFreq0",
                           "stem.AlleleFreq1", "stem.AlleleFreq2"})
    EXPECT_FALSE(std::filesystem::exists(part)) << part;
}

TEST_F(MergeFile, OnlyTheNamedProcessMerges) {
  for (const int4 t : {0, 2}) {
    variables.threadid = t;
    mergefile(0, 3);
    EXPECT_EQ(read_text("stem.OffGenotype"), "OffspringID,Locus\n");
    EXPECT_TRUE(std::filesystem::exists("stem.AlleleFreq0"));
  }
  // mergefile(0, 2): 3 entries, 3 mod 3 = 0 merges the genotype files only.
  variables.threadid = 0;
  mergefile(0, 2);
  EXPECT_EQ(read_text("stem.DadGenotype"), "Header\nd2\nd2b\n");
  EXPECT_EQ(read_text("stem.AlleleFreq"), "old frequencies\n");
}

TEST_F(MergeFile, OneProcessReadsAndDeletesNothing) {
  variables.numthreads = 1;
  variables.threadid = 0;
  mergefile(0, 3);
  EXPECT_EQ(read_text("stem.AlleleFreq"), "old frequencies\n");
  EXPECT_TRUE(std::filesystem::exists("stem.AlleleFreq0"));
  EXPECT_TRUE(std::filesystem::exists("stem.OffGenotype1"));
}

}  // namespace
}  // namespace kinrad
