// Per-run archive copies and the choice of the best run. Golden copies come from a gfortran
// writer of the copy layout (data/run_copy.f90: ES30.20 and comma-terminated integer lines);
// the selections are worked out by hand from the rules (strictly greater wins, a missing or
// unreadable copy ends the scan, the last run is never reloaded).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/modules/variables.hpp"
#include "program/run_archive.hpp"
#include "support/archive_builder.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using namespace testing_support;

std::string golden(const std::string& name) {
  return read_text(std::string(KINRAD_TEST_DATA_DIR) + "/" + name);
}

void name_archive() {
  variables.midfilename(2) = "stem.MidResult3";
}

TEST(SaveArchive, CopyWithThreeOffspringColumnsAndOneParentColumn) {
  TempWorkDir dir("savearchive_three");
  archive_sample({.n = 4, .ncand1 = 12});
  name_archive();
  // The archive file in its own layout: a column may run over several records.
  write_text("stem.MidResult3",
             "  -1.205000000000000000E+02\n1,1,\n2,12,\n1,2,2,3,\n1,1,2,3,\n0,7,\n0,10,\n");
  savearchive(2);
  EXPECT_EQ(read_text("stem.MidResult3.Run2"), golden("copy_three_columns.txt"));
}

TEST(SaveArchive, CopyWithOneOffspringColumnAndTwoParentColumns) {
  TempWorkDir dir("savearchive_one");
  archive_sample({.n = 4, .mono1 = 1, .mono2 = 1, .ncand1 = 12, .ncand2 = 3});
  name_archive();
  write_text("stem.MidResult3", "-1.0D+300\n1 1 2 12\n0 7\n0 10\n3,0,\n0,0\n");
  savearchive(1);
  EXPECT_EQ(read_text("stem.MidResult3.Run1"), golden("copy_one_column.txt"));
}

TEST(SaveArchive, NoArchiveFileNoCopy) {
  TempWorkDir dir("savearchive_none");
  archive_sample({.n = 4});
  name_archive();
  savearchive(1);
  EXPECT_FALSE(std::filesystem::exists("stem.MidResult3.Run1"));
}

// A copy of four offspring in two sexes without candidates: configurations of three lines.
std::string config_text(const std::string& logl, const std::string& f1, const std::string& f2,
                        const std::string& c) {
  return logl + "\n" + f1 + "\n" + f2 + "\n" + c + "\n";
}

class SelectRun : public ::testing::Test {
 protected:
  void SetUp() override {
    archive_sample({.n = 4});
    name_archive();
    // The archive in memory (the last run's) and its file.
    set_archive({{-119.0, {1, 1, 1, 1}, {1, 1, 1, 1}}, {-119.5, {1, 2, 3, 4}, {1, 2, 3, 4}}});
    write_text("stem.MidResult3", "the last run's archive file\n");
    // The best configuration the last run left.
    set_best({-119.0, {1, 1, 1, 1}, {1, 1, 1, 1}});
  }
  TempWorkDir dir_{"selectrun"};
};

// Run 2 of three: its two configurations of equal score, then a lower one.
const std::string run2 = config_text("-1.182E+02", "1,1,2,2,", "1,1,2,2,", "1,1,2,2,") +
                         config_text("-1.182E+02", "1,2,2,3,", "1,2,2,3,", "1,2,2,3,") +
                         config_text("-1.3E+02", "1,1,1,2,", "1,1,1,2,", "1,1,1,2,");

TEST_F(SelectRun, BestEarlierRunIsReloadedInFileOrder) {
  write_text("stem.MidResult3.Run1", config_text("-120.5", "1,2,3,4,", "1,2,3,4,", "1,2,3,4,"));
  write_text("stem.MidResult3.Run2", run2);
  write_text("stem.MidResult3.Run3", config_text("-118.2", "1,1,1,1,", "1,1,1,1,", "1,1,1,1,"));
  variables.numrun = 3;
  int4 firstq = 0;
  selectrun(firstq);
  const auto recs = archive_records();
  ASSERT_EQ(recs.size(), 3u);
  EXPECT_EQ(recs[0].logl, -118.2);
  EXPECT_EQ(recs[0].fam1, (std::vector<int4>{1, 1, 2, 2}));
  // Equal scores keep the order of the file.
  EXPECT_EQ(recs[1].fam1, (std::vector<int4>{1, 2, 2, 3}));
  EXPECT_EQ(recs[2].logl, -130.0);
  EXPECT_EQ(variables.configtail->logl, -130.0);
  // The archive file is rewritten in the layout of a copy (values as ES30.20).
  const std::string ll = "   -1.18200000000000002842E+02\n";
  EXPECT_EQ(read_text("stem.MidResult3"),
            ll + "1,1,2,2,\n1,1,2,2,\n1,1,2,2,\n" + ll + "1,2,2,3,\n1,2,2,3,\n1,2,2,3,\n" +
                "   -1.30000000000000000000E+02\n1,1,1,2,\n1,1,1,2,\n1,1,1,2,\n");
  // The head is the best configuration.
  EXPECT_EQ(variables.btloglikelihood, -118.2);
  EXPECT_EQ(variables.btindivloc(3, 1), 2);
  EXPECT_EQ(variables.btindivloc(4, 3), 2);
  EXPECT_EQ(variables.btnumfamily(1), 2);
  EXPECT_EQ(variables.btnumfamily(3), 2);
}

TEST_F(SelectRun, LastRunBestReloadsNothing) {
  write_text("stem.MidResult3.Run1", config_text("-130", "1,2,3,4,", "1,2,3,4,", "1,2,3,4,"));
  write_text("stem.MidResult3.Run2", config_text("-119", "1,1,1,1,", "1,1,1,1,", "1,1,1,1,"));
  variables.numrun = 2;
  int4 firstq = 0;
  selectrun(firstq);
  EXPECT_EQ(read_text("stem.MidResult3"), "the last run's archive file\n");
  EXPECT_EQ(archive_length(), 2);
  EXPECT_EQ(variables.btloglikelihood, -119.0);
}

TEST_F(SelectRun, NoScanWithOneRunOrALoopCutShort) {
  write_text("stem.MidResult3.Run1", config_text("-1", "1,2,3,4,", "1,2,3,4,", "1,2,3,4,"));
  struct Row {
    int4 numrun, firstq;
  };
  for (const Row r : {Row{1, 0}, Row{3, -1}}) {
    SCOPED_TRACE(r.numrun);
    variables.numrun = r.numrun;
    int4 firstq = r.firstq;
    selectrun(firstq);
    EXPECT_EQ(read_text("stem.MidResult3"), "the last run's archive file\n");
    EXPECT_EQ(archive_records()[0].logl, -119.0);
    EXPECT_EQ(variables.btloglikelihood, -119.0);
  }
}

TEST_F(SelectRun, MissingOrUnreadableCopyEndsTheScan) {
  // Run 1 of three competes alone, wins, and (not being the last) is reloaded.
  for (const bool empty_copy : {false, true}) {
    SCOPED_TRACE(empty_copy);
    SetUp();
    write_text("stem.MidResult3.Run1", config_text("-125", "1,1,2,2,", "1,1,2,2,", "1,1,2,2,"));
    if (empty_copy) write_text("stem.MidResult3.Run2", "");
    write_text("stem.MidResult3.Run3", config_text("-100", "1,2,3,4,", "1,2,3,4,", "1,2,3,4,"));
    variables.numrun = 3;
    int4 firstq = 0;
    selectrun(firstq);
    ASSERT_EQ(archive_length(), 1);
    EXPECT_EQ(variables.btloglikelihood, -125.0);
    std::filesystem::remove("stem.MidResult3.Run2");
  }
}

TEST_F(SelectRun, AChosenCopyWithoutAWholeConfigurationChangesNothing) {
  // Run 1 wins on its first value, but its copy ends inside the first configuration.
  write_text("stem.MidResult3.Run1", "-110\n1,1,2,2,\n1,1,");
  write_text("stem.MidResult3.Run2", config_text("-200", "1,2,3,4,", "1,2,3,4,", "1,2,3,4,"));
  variables.numrun = 2;
  int4 firstq = 0;
  selectrun(firstq);
  EXPECT_EQ(read_text("stem.MidResult3"), "the last run's archive file\n");
  EXPECT_EQ(archive_length(), 2);
  EXPECT_EQ(variables.btloglikelihood, -119.0);
}

TEST_F(SelectRun, AConfigurationCutOffAtTheEndIsDropped) {
  write_text("stem.MidResult3.Run1",
             config_text("-110", "1,1,2,2,", "1,1,2,2,", "1,1,2,2,") + "-111\n1,2,3,4,\n");
  write_text("stem.MidResult3.Run2", config_text("-200", "1,2,3,4,", "1,2,3,4,", "1,2,3,4,"));
  variables.numrun = 2;
  int4 firstq = 0;
  selectrun(firstq);
  ASSERT_EQ(archive_length(), 1);
  EXPECT_EQ(archive_records()[0].logl, -110.0);
}

}  // namespace
}  // namespace kinrad
