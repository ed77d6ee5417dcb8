// Replacing writes: the new contents appear under the file's name only when complete; a file
// that cannot be written leaves the old one and ends in the error stop with the caller's
// message. Expected contents and framing are written out by hand (4-byte little-endian
// lengths around each record).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "core/replacing_file.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using testing_support::read_text;
using testing_support::TempWorkDir;
using testing_support::write_text;

class ReplacingFile : public ::testing::Test {
 protected:
  void SetUp() override { reset_all_modules(); }
};

TEST_F(ReplacingFile, TextReplacesTheOldFileWhole) {
  TempWorkDir dir("replacing_text");
  write_text("out.txt", "old contents that are longer\n");
  write_replacing(
      "out.txt", [](std::ostream& out) { out << "new\nlines\n"; },
      WriteFailure{.routine = "Writer"});
  EXPECT_EQ(read_text("out.txt"), "new\nlines\n");
  EXPECT_FALSE(std::filesystem::exists(replacing_temporary("out.txt")));
}

TEST_F(ReplacingFile, UnformattedRecordsAreFramed) {
  TempWorkDir dir("replacing_unformatted");
  write_replacing_unformatted(
      "out.bin", [](UnformattedWriter& out) { out.write_record(int4{7}); },
      WriteFailure{.routine = "Writer"});
  // length 4, the value 7, length 4: each as four little-endian bytes.
  EXPECT_EQ(read_text("out.bin"), std::string("\4\0\0\0\7\0\0\0\4\0\0\0", 12));
}

TEST_F(ReplacingFile, FailuresStopWithTheCallersMessageAndKeepTheOldFile) {
  struct Row {
    const char* name;
    bool unformatted;
    bool unopenable;  // a directory of the temporary's name cannot be opened as a file
    const char* line;
  };
  const Row rows[] = {
      {"text, cannot open", false, true, "Failed openning dir/out"},
      {"unformatted, cannot open", true, true, "Failed openning dir/out"},
      {"text, target is a directory", false, false, "Failed writing dir/out"},
      {"unformatted, target is a directory", true, false, "Failed writing dir/out"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TempWorkDir dir("replacing_failure");
    std::filesystem::create_directories("dir");
    if (r.unopenable) {
      write_text("dir/out", "old\n");
      std::filesystem::create_directories(replacing_temporary("dir/out"));
    } else {
      // The rename over a non-empty directory fails after a complete write.
      std::filesystem::create_directories("dir/out/inside");
    }
    reset_all_modules();
    const WriteFailure failure{.routine = "Writer"};
    try {
      if (r.unformatted)
        write_replacing_unformatted(
            "dir/out", [](UnformattedWriter& o) { o.write_record(1.0); }, failure);
      else
        write_replacing(
            "dir/out", [](std::ostream& o) { o << "x\n"; }, failure);
      ADD_FAILURE() << "no stop";
    } catch (const ProgramStop& stop) {
      EXPECT_EQ(stop.name(), "Writer");
      EXPECT_EQ(stop.status(), 1);
    }
    EXPECT_EQ(variables.errmsg(1).trimmed(), r.line);
    if (r.unopenable) {
      EXPECT_EQ(read_text("dir/out"), "old\n");
      EXPECT_TRUE(std::filesystem::is_directory(replacing_temporary("dir/out")));
    } else {
      EXPECT_TRUE(std::filesystem::is_directory("dir/out/inside"));
      EXPECT_FALSE(std::filesystem::exists(replacing_temporary("dir/out")));
    }
  }
}

TEST_F(ReplacingFile, AStopInsideTheWriterLeavesNoTemporaryAndTheOldFile) {
  TempWorkDir dir("replacing_writer_stop");
  write_text("out.txt", "old\n");
  write_text("out.bin", "old\n");
  EXPECT_THROW(write_replacing(
                   "out.txt",
                   [](std::ostream& o) {
                     o << "half";
                     stoponerror(1, "Inner");
                   },
                   WriteFailure{.routine = "Writer"}),
               ProgramStop);
  EXPECT_THROW(write_replacing_unformatted(
                   "out.bin", [](UnformattedWriter&) { stoponerror(1, "Inner"); },
                   WriteFailure{.routine = "Writer"}),
               ProgramStop);
  EXPECT_EQ(read_text("out.txt"), "old\n");
  EXPECT_EQ(read_text("out.bin"), "old\n");
  EXPECT_FALSE(std::filesystem::exists(replacing_temporary("out.txt")));
  EXPECT_FALSE(std::filesystem::exists(replacing_temporary("out.bin")));
}

}  // namespace
}  // namespace kinrad
