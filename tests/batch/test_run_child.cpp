// Starting one run: the argument vector reaches the program unchanged and the outcome tells
// success from failure. The stand-in main program records what it received.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "batch/batch_runner.hpp"
#include "batch_test_support.hpp"

namespace kinrad::batch {
namespace {

using batch_test::recorded_runs;
using batch_test::ScopedEnv;
using batch_test::WorkDir;

TEST(RunChild, ArgumentsWithBlanksQuotesAndShellCharactersArriveWhole) {
  WorkDir dir("child_args");
  const std::vector<std::string> args = {
      BATCH_STAND_IN_EXE, "IFN:a b;c 'q' \"d\" $(touch hacked) `touch hacked2` | > out &", "TID:0"};
  EXPECT_TRUE(runchild(args));
  EXPECT_EQ(recorded_runs(), std::vector<std::vector<std::string>>{args});
  // Nothing of the name was run or redirected by a shell.
  EXPECT_FALSE(std::filesystem::exists("hacked"));
  EXPECT_FALSE(std::filesystem::exists("hacked2"));
  EXPECT_FALSE(std::filesystem::exists("out"));
}

TEST(RunChild, OnlyAnExitStatusOfZeroIsSuccess) {
  WorkDir dir("child_status");
  struct Row {
    const char* what;
    std::string program;
    std::string ifn;
    bool ok;
    int recorded;  // lines the stand-in leaves
  };
  const std::vector<Row> rows = {
      {"exit status 0", BATCH_STAND_IN_EXE, "IFN:good.dat", true, 1},
      {"exit status 3", BATCH_STAND_IN_EXE, "IFN:fail.dat", false, 1},
      {"ended by a signal", BATCH_STAND_IN_EXE, "IFN:signal.dat", false, 1},
      {"a program that cannot be started", (dir.path() / "nothere").string(), "IFN:good.dat", false,
       0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::filesystem::remove("stand_in.log");
    EXPECT_EQ(runchild({row.program, row.ifn, "TID:0"}), row.ok);
    EXPECT_EQ(static_cast<int>(recorded_runs().size()), row.recorded);
  }
}

TEST(RunChild, NameWithoutDirectoryIsLookedUpInPath) {
  WorkDir dir("child_path");
  const std::filesystem::path standin(BATCH_STAND_IN_EXE);
  ScopedEnv path("PATH", standin.parent_path().string());
  EXPECT_TRUE(runchild({standin.filename().string(), "IFN:x.dat", "TID:0"}));
  EXPECT_EQ(
      recorded_runs(),
      (std::vector<std::vector<std::string>>{{standin.filename().string(), "IFN:x.dat", "TID:0"}}));
}

}  // namespace
}  // namespace kinrad::batch
