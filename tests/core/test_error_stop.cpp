// The error stop: the screen lines and the exact lines of "Kinrad2.ErrorMessage". Expected
// texts are written out by hand from the error stop's rules.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "support/expect_stop.hpp"

namespace kinrad {
namespace {

namespace fs = std::filesystem;

class ErrorStop : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_all_modules();
    old_ = fs::current_path();
    dir_ = fs::temp_directory_path() / ("kinrad_error_stop_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
  }

  // Runs the failing call, which must stop in routine ("" for the silent stop), reports the
  // stop without the pause and returns the screen text.
  template <class F>
  std::string stop_with(F&& failing, std::string_view routine, int& status) {
    testing::internal::CaptureStdout();
    status = testing_support::expect_stop(failing, routine, {.report = true});
    return testing::internal::GetCapturedStdout();
  }

  static std::string error_file() {
    std::ifstream in("Kinrad2.ErrorMessage", std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  fs::path old_, dir_;
};

TEST_F(ErrorStop, DataErrorWritesMessageEmptyLineFixedLinesAndClosingLine) {
  variables.fname = "out/proj";
  int status = 0;
  const std::string screen = stop_with(
      [] { stopondataerror("  The number of loci should be > 0!  "); }, "StopOnDataError", status);
  const std::string expected =
      "The number of loci should be > 0!\n"
      "\n"
      "Errors in DATA. Insufficient data or incorrect format.\n"
      "Please check DATA and format and then re-run the program\n"
      "Program stopped in subroutine StopOnDataError, dataset = out/proj.\n";
  EXPECT_EQ(error_file(), expected);
  EXPECT_EQ(screen, "\n" + expected);
  EXPECT_EQ(status, 1);
}

TEST_F(ErrorStop, DataErrorEndingInLineFeedGetsTwo) {
  variables.fname = "x";
  int status = 0;
  stop_with([] { stopondataerror("Bad item\n"); }, "StopOnDataError", status);
  EXPECT_EQ(error_file(),
            "Bad item\n\n\n"
            "Errors in DATA. Insufficient data or incorrect format.\n"
            "Please check DATA and format and then re-run the program\n"
            "Program stopped in subroutine StopOnDataError, dataset = x.\n");
}

TEST_F(ErrorStop, FlagOneWritesOnlyNonBlankLinesInOrder) {
  variables.fname = "stem";
  variables.errmsg(1) = "first line   ";
  variables.errmsg(3) = "   third line";
  variables.errmsg(5) = "fifth";
  int status = 0;
  stop_with([] { stoponerror(1, "SetStartLoc"); }, "SetStartLoc", status);
  EXPECT_EQ(error_file(),
            "first line\n   third line\nfifth\n"
            "Program stopped in subroutine SetStartLoc, dataset = stem.\n");
  EXPECT_EQ(status, 1);
}

TEST_F(ErrorStop, AllBlankLinesLeaveOnlyTheClosingLine) {
  variables.fname = "stem";
  int status = 0;
  stop_with([] { stoponerror(1, "ReadData"); }, "ReadData", status);
  EXPECT_EQ(error_file(), "Program stopped in subroutine ReadData, dataset = stem.\n");
}

TEST_F(ErrorStop, MemoryFlagReplacesFilledErrorLines) {
  variables.fname = "stem";
  variables.errmsg(1) = "not shown";
  int status = 0;
  const std::string screen = stop_with([] { stoponerror(0, "Initialize"); }, "Initialize", status);
  const std::string expected =
      "Program stopped due to insufficient memory!\n"
      "Program stopped in subroutine Initialize, dataset = stem.\n";
  EXPECT_EQ(error_file(), expected);
  EXPECT_EQ(screen, "\n" + expected);
  EXPECT_EQ(status, 1);
}

TEST_F(ErrorStop, EmptyStemEndsWithDatasetAndFullStop) {
  int status = 0;
  stop_with([] { stoponerror(1, "ReadData"); }, "ReadData", status);
  EXPECT_EQ(error_file(), "Program stopped in subroutine ReadData, dataset = .\n");
}

TEST_F(ErrorStop, NoScreenLinesWithoutDisplayButTheSameFile) {
  variables.displayq = 0;
  variables.fname = "s";
  int status = 0;
  const std::string screen = stop_with([] { stopondataerror("m"); }, "StopOnDataError", status);
  EXPECT_EQ(screen, "");
  EXPECT_EQ(error_file(),
            "m\n\n"
            "Errors in DATA. Insufficient data or incorrect format.\n"
            "Please check DATA and format and then re-run the program\n"
            "Program stopped in subroutine StopOnDataError, dataset = s.\n");
}

TEST_F(ErrorStop, StackErrorNamesTheSort) {
  variables.fname = "s";
  int status = 0;
  stop_with([] { stackerror("IndexCh"); }, "StackError", status);
  EXPECT_EQ(error_file(),
            "Program stops due to NSTACK too small in subroutine IndexCh\n"
            "Program stopped in subroutine StackError, dataset = s.\n");
}

TEST_F(ErrorStop, FileHoldsOnlyTheLinesOfThisStop) {
  {
    std::ofstream old("Kinrad2.ErrorMessage");
    old << "an older message\nwith two lines and more text than the new one\n";
  }
  variables.fname = "s";
  int status = 0;
  stop_with([] { stoponerror(1, "A"); }, "A", status);
  EXPECT_EQ(error_file(), "Program stopped in subroutine A, dataset = s.\n");
}

TEST_F(ErrorStop, ClosingLineIsCutTo999Characters) {
  variables.fname = std::string(2000, 'p');
  int status = 0;
  stop_with([] { stoponerror(1, "R"); }, "R", status);
  std::string closing = "Program stopped in subroutine R, dataset = " + std::string(2000, 'p');
  closing.resize(999);
  EXPECT_EQ(error_file(), closing + "\n");
}

TEST_F(ErrorStop, ACompletedAnalysisRemovesOnlyAnEarlierMessageOfItsStem) {
  struct Row {
    std::string name, text;
    bool earlier, removed;
  };
  const std::string mine =
      "Failed writing myout.FSDyadLogL\n"
      "Program stopped in subroutine CalculatePairProb, dataset = myout.\n";
  const std::vector<Row> rows = {
      {"its stem, earlier", mine, true, true},
      {"its stem, CR LF and trailing blank lines",
       "x\r\nProgram stopped in subroutine ReadData, dataset = myout.\r\n\r\n", true, true},
      {"its stem, written since the analysis began", mine, false, false},
      {"another stem", "Program stopped in subroutine ReadData, dataset = other.\n", true, false},
      {"a stem ending like this one", "Program stopped in subroutine ReadData, dataset = xmyout.\n",
       true, false},
      {"the stem on an earlier line only",
       "Program stopped in subroutine ReadData, dataset = myout.\nmore\n", true, false},
      {"no closing line", "STOP #03\n", true, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    {
      std::ofstream out("Kinrad2.ErrorMessage", std::ios::binary);
      out << r.text;
    }
    const fs::file_time_type now = fs::file_time_type::clock::now();
    fs::last_write_time("Kinrad2.ErrorMessage", now - std::chrono::seconds(10));
    const fs::file_time_type since = r.earlier ? now : now - std::chrono::seconds(20);
    remove_stale_error_file("myout", since);
    EXPECT_EQ(fs::exists("Kinrad2.ErrorMessage"), !r.removed);
  }
  // A folder of that name is not a message.
  fs::remove("Kinrad2.ErrorMessage");
  fs::create_directory("Kinrad2.ErrorMessage");
  remove_stale_error_file("myout", fs::file_time_type::clock::now());
  EXPECT_TRUE(fs::is_directory("Kinrad2.ErrorMessage"));
}

TEST_F(ErrorStop, OtherProcessesAndSilentStopsWriteNothing) {
  int status = 0;
  stop_with([] { stop_silently(); }, "", status);
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(fs::exists("Kinrad2.ErrorMessage"));

  variables.threadid = 1;
  const std::string screen = stop_with([] { stoponerror(1, "X"); }, "X", status);
  EXPECT_EQ(screen, "");
  EXPECT_FALSE(fs::exists("Kinrad2.ErrorMessage"));
  EXPECT_EQ(status, 1);
}

}  // namespace
}  // namespace kinrad
