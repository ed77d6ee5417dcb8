// Reading the command line and the list file of the batch runner. Every expected message and
// name below is written out by hand from the texts the runner is meant to produce.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "batch/batch_runner.hpp"
#include "batch_test_support.hpp"
#include "core/command_line.hpp"

namespace kinrad::batch {
namespace {

using batch_test::ScopedEnv;
using batch_test::WorkDir;
using batch_test::write_text;

class ReadFileName : public ::testing::Test {
 protected:
  void SetUp() override { variables = Variables{}; }
  void TearDown() override {
    variables = Variables{};
    set_command_line(std::vector<std::string>{});
  }

  // Runs readfilename with the given arguments; returns what it wrote to the screen.
  std::string read(const std::vector<std::string>& args, bool& ok) {
    set_command_line(args);
    ::testing::internal::CaptureStdout();
    ok = readfilename();
    return ::testing::internal::GetCapturedStdout();
  }

  std::vector<std::string> names() const {
    std::vector<std::string> r;
    for (int4 i = 1; i <= variables.numfile; ++i) r.emplace_back(variables.inputfile(i).trimmed());
    return r;
  }

  WorkDir dir_{"read"};
  ScopedEnv path_{"PATH", "/usr/bin:/bin"};
};

// The 120-character name of a list line and the 99 characters of it that the runner keeps.
const std::string kLong = [] {
  std::string s;
  while (s.size() < 120) s += "abcdefghij";
  return s;
}();
const std::string kLong99 = kLong.substr(0, 99);

TEST_F(ReadFileName, ListFilesGiveTheFirstValueOfEachLineThatHoldsOne) {
  struct Row {
    const char* what;
    std::string list;
    std::vector<std::string> files;  // created in the working directory beforehand
    bool ok;
    int numfile;
    std::vector<std::string> names;  // inputfile(1..numfile), trimmed
    std::string screen;
  };
  const std::vector<Row> rows = {
      {"blank lines between and after the names",
       "a.dat\n\n   \nb.dat\n\n\n",
       {"a.dat", "b.dat"},
       true,
       2,
       {"a.dat", "b.dat"},
       ""},
      {"two names on a line, by a blank or a comma",
       "a.dat b.dat\nc.dat,d.dat\n",
       {"a.dat", "b.dat", "c.dat", "d.dat"},
       true,
       2,
       {"a.dat", "c.dat"},
       ""},
      {"leading blanks and tabs",
       "   a.dat\n\t b.dat\n",
       {"a.dat", "b.dat"},
       true,
       2,
       {"a.dat", "b.dat"},
       ""},
      {"lines ended by CR LF",
       "a.dat\r\nb.dat\r\n",
       {"a.dat", "b.dat"},
       true,
       2,
       {"a.dat", "b.dat"},
       ""},
      {"a quoted name with a blank and a semicolon",
       "'x y;z.dat' rest\n",
       {"x y;z.dat"},
       true,
       1,
       {"x y;z.dat"},
       ""},
      {"a 120-character name keeps its first 99", kLong + "\n", {kLong99}, true, 1, {kLong99}, ""},
      {"an empty list",
       "",
       {},
       false,
       0,
       {},
       "No kinrad input file names in file list.txt!\nProgram stopping!\n"},
      {"a list of blank lines",
       "\n   \n\n",
       {},
       false,
       0,
       {},
       "No kinrad input file names in file list.txt!\nProgram stopping!\n"},
      // The pass stops at c.dat: d.dat is never read and e.dat, missing too, is never named.
      {"the third of five missing and the fifth too",
       "a.dat\nb.dat\nc.dat\nd.dat\ne.dat\n",
       {"a.dat", "b.dat", "d.dat"},
       false,
       5,
       {"a.dat", "b.dat", "c.dat", "", ""},
       "Kinrad input file, c.dat, does not exist!\nProgram stopping!\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    WorkDir dir("list");
    write_text("prog", "");
    write_text("list.txt", row.list);
    for (const std::string& f : row.files) write_text(f, "");
    variables = Variables{};
    bool ok = false;
    EXPECT_EQ(read({"prog", "list.txt"}, ok), row.screen);
    EXPECT_EQ(ok, row.ok);
    EXPECT_EQ(variables.numfile, row.numfile);
    EXPECT_EQ(names(), row.names);
  }
}

TEST_F(ReadFileName, CommandLineChecksStopWithTheirMessage) {
  write_text("prog", "");
  write_text("list.txt", "a.dat\n");
  write_text("a.dat", "");
  // The list file name keeps its first 200 characters and the message its first 200:
  // "The input file, " is 16 characters, so 184 of the name's 250 x's remain.
  const std::string x250(250, 'x');
  struct Row {
    const char* what;
    std::vector<std::string> args;
    int4 threadid;
    bool ok;
    std::string screen;
  };
  const std::vector<Row> rows = {
      {"no arguments",
       {},
       0,
       false,
       "No executable file name in command line!\nProgram stopping!\n"},
      {"a blank executable",
       {"   ", "list.txt"},
       0,
       false,
       "No executable file name in command line!\nProgram stopping!\n"},
      {"no list file",
       {"prog"},
       0,
       false,
       "No input file name in command line!\nProgram stopping!\n"},
      {"a blank list file",
       {"prog", "  "},
       0,
       false,
       "No input file name in command line!\nProgram stopping!\n"},
      {"a missing executable",
       {"nothere", "list.txt"},
       0,
       false,
       "The executable, nothere, does not exist!\nProgram stopping!\n"},
      {"both missing: the executable is named",
       {"nothere", "nolist.txt"},
       0,
       false,
       "The executable, nothere, does not exist!\nProgram stopping!\n"},
      {"a missing list file",
       {"prog", "nolist.txt"},
       0,
       false,
       "The input file, nolist.txt, does not exist!\nProgram stopping!\n"},
      {"a long missing list file name",
       {"prog", x250},
       0,
       false,
       "The input file, " + std::string(184, 'x') + "\nProgram stopping!\n"},
      {"leading blanks of both names", {"  prog", "  list.txt"}, 0, true, ""},
      {"another process stops silently", {"nothere", "list.txt"}, 1, false, ""},
      {"another process reads the same names", {"prog", "list.txt"}, 2, true, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    variables = Variables{};
    variables.threadid = row.threadid;
    bool ok = false;
    EXPECT_EQ(read(row.args, ok), row.screen);
    EXPECT_EQ(ok, row.ok);
    if (row.ok) {
      EXPECT_EQ(variables.execfile.trimmed(), "./prog");
      EXPECT_EQ(names(), std::vector<std::string>{"a.dat"});
    }
  }
}

TEST_F(ReadFileName, BareExecutableNameStartsFromTheWorkingDirectoryWhenPathIsRooted) {
  std::filesystem::create_directory("sub");
  write_text("prog", "");
  write_text("sub/prog", "");
  write_text("list.txt", "a.dat\n");
  write_text("a.dat", "");
  const std::string absolute = (dir_.path() / "prog").string();
  struct Row {
    const char* what;
    std::optional<std::string> path;
    std::string exec;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"rooted PATH, bare name", "/usr/bin:/bin", "prog", "./prog"},
      {"rooted PATH, name in the working directory", "/usr/bin:/bin", "./prog", "./prog"},
      {"rooted PATH, relative name with a directory", "/usr/bin:/bin", "sub/prog", "sub/prog"},
      {"rooted PATH, absolute name", "/usr/bin:/bin", absolute, absolute},
      {"PATH unset", std::nullopt, "prog", "prog"},
      {"PATH empty", "", "prog", "prog"},
      {"PATH starting elsewhere", "usr/bin:/bin", "prog", "prog"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ScopedEnv path("PATH", row.path);
    variables = Variables{};
    bool ok = false;
    EXPECT_EQ(read({row.exec, "list.txt"}, ok), "");
    EXPECT_TRUE(ok);
    EXPECT_EQ(variables.execfile.trimmed(), row.expected);
  }
}

}  // namespace
}  // namespace kinrad::batch
