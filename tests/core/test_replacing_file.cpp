// Replacing writes: the new contents appear under the file's name only when complete; a file
// that cannot be written leaves the old one and ends in the error stop with the caller's
// message. Expected contents and framing are written out by hand (4-byte little-endian
// lengths around each record).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "core/replacing_file.hpp"
#include "support/expect_stop.hpp"
#include "support/module_reset.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using testing_support::expect_stop;
using testing_support::read_text;
using testing_support::TempWorkDir;
using testing_support::write_text;

class ReplacingFileTest : public testing_support::ModuleReset {};

TEST_F(ReplacingFileTest, TextReplacesTheOldFileWhole) {
  TempWorkDir dir("replacing_text");
  write_text("out.txt", "old contents that are longer\n");
  write_replacing(
      "out.txt", [](std::ostream& out) { out << "new\nlines\n"; },
      WriteFailure{.routine = "Writer"});
  EXPECT_EQ(read_text("out.txt"), "new\nlines\n");
  EXPECT_FALSE(std::filesystem::exists(replacing_temporary("out.txt")));
}

TEST_F(ReplacingFileTest, UnformattedRecordsAreFramed) {
  TempWorkDir dir("replacing_unformatted");
  write_replacing_unformatted(
      "out.bin", [](ReplacingFile& out) { out.write_record(int4{7}); },
      WriteFailure{.routine = "Writer"});
  // length 4, the value 7, length 4: each as four little-endian bytes.
  EXPECT_EQ(read_text("out.bin"), std::string("\4\0\0\0\7\0\0\0\4\0\0\0", 12));
}

TEST_F(ReplacingFileTest, FailuresStopWithTheCallersMessageAndKeepTheOldFile) {
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
    const int status = expect_stop(
        [&] {
          if (r.unformatted)
            write_replacing_unformatted(
                "dir/out", [](ReplacingFile& o) { o.write_record(1.0); }, failure);
          else
            write_replacing(
                "dir/out", [](std::ostream& o) { o << "x\n"; }, failure);
        },
        "Writer");
    EXPECT_EQ(status, 1);
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

TEST_F(ReplacingFileTest, AStopInsideTheWriterLeavesNoTemporaryAndTheOldFile) {
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
                   "out.bin", [](ReplacingFile&) { stoponerror(1, "Inner"); },
                   WriteFailure{.routine = "Writer"}),
               ProgramStop);
  EXPECT_EQ(read_text("out.txt"), "old\n");
  EXPECT_EQ(read_text("out.bin"), "old\n");
  EXPECT_FALSE(std::filesystem::exists(replacing_temporary("out.txt")));
  EXPECT_FALSE(std::filesystem::exists(replacing_temporary("out.bin")));
}

// The writer object: formatted lines under verbatim formats, bytes as given and framed records
// in one file, with nothing under the real name before the commit. The expected text is
// written out by hand from the edit descriptors (I3 right-justifies in three columns, F6.2
// rounds to two decimals).
TEST_F(ReplacingFileTest, WriterObjectTakesLinesBytesAndRecords) {
  TempWorkDir dir("replacing_object");
  write_text("out.txt", "old\n");
  {
    ReplacingFile out("out.txt", WriteFailure{.routine = "Writer"});
    out.write("(A, I3, F6.2)", "x", 7, 1.005f);
    out.write("(2I2)", 1, 2, 3);  // reversion: a second record
    out.put("raw,bytes\n");
    EXPECT_EQ(read_text("out.txt"), "old\n");  // nothing replaced before the commit
    out.commit();
  }
  EXPECT_EQ(read_text("out.txt"), "x  7  1.00\n 1 2\n 3\nraw,bytes\n");
  EXPECT_FALSE(std::filesystem::exists(replacing_temporary("out.txt")));

  {
    ReplacingFile out("out.bin", WriteFailure{.routine = "Writer"});
    out.set_max_subrecord(3);
    out.write_record(int1{1}, int1{2}, int1{3}, int1{4});  // 3 bytes, then 1 byte
    out.write_record();                                    // an empty record
    out.commit();
  }
  // A split record: -3 [1 2 3] 3, then 1 [4] -1; the empty record: 0 0.
  const std::string framed(
      "\xfd\xff\xff\xff\1\2\3\3\0\0\0"
      "\1\0\0\0\4\xff\xff\xff\xff"
      "\0\0\0\0\0\0\0\0",
      28);
  EXPECT_EQ(read_text("out.bin"), framed);
}

// A file far larger than the writer's buffer streams through it: every line arrives, in order.
TEST_F(ReplacingFileTest, LargeFileStreamsThroughTheBuffer) {
  TempWorkDir dir("replacing_large");
  constexpr int rows = 400000;  // about 7 MB, several times the buffer
  {
    ReplacingFile out("big.txt", WriteFailure{.routine = "Writer"});
    for (int r = 1; r <= rows; ++r) out.write("(I8, A)", r, ",abcdefgh");
    out.commit();
  }
  const std::string text = read_text("big.txt");
  ASSERT_EQ(text.size(), static_cast<std::size_t>(rows) * 18);
  EXPECT_EQ(text.substr(0, 18), "       1,abcdefgh\n");
  EXPECT_EQ(text.substr(text.size() - 18), "  400000,abcdefgh\n");
}

// Each failure of the writer object: the error stop with the caller's message and routine,
// the old file intact, no temporary left. The failing write is a real one: the temporary is a
// link to /dev/full, where every write fails with "no space left"; the small row fails at the
// commit's flush, the large one while the buffer drains.
TEST_F(ReplacingFileTest, WriterObjectFailuresStopAndLeaveTheOldFile) {
  enum class Fault { no_folder, full_small, full_large, directory_at_target };
  struct Row {
    const char* name;
    Fault fault;
    const char* target;
    const char* line;
  };
  const Row rows[] = {
      {"stem in a folder that does not exist", Fault::no_folder, "none/out.txt",
       "Cannot open none/out.txt"},
      {"write fails at the commit", Fault::full_small, "out.txt", "Failed writing out.txt"},
      {"write fails while streaming", Fault::full_large, "out.txt", "Failed writing out.txt"},
      {"a directory stands at the target", Fault::directory_at_target, "out.txt",
       "Failed writing out.txt"},
  };
  const bool have_full = std::filesystem::exists("/dev/full");
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    if (!have_full && (r.fault == Fault::full_small || r.fault == Fault::full_large)) continue;
    TempWorkDir dir("replacing_object_failure");
    if (r.fault == Fault::directory_at_target)
      std::filesystem::create_directories("out.txt/inside");
    else
      write_text("out.txt", "old\n");
    if (r.fault == Fault::full_small || r.fault == Fault::full_large)
      std::filesystem::create_symlink("/dev/full", replacing_temporary("out.txt"));
    reset_all_modules();
    const WriteFailure failure{.routine = "Writer", .open_prefix = "Cannot open "};
    const int status = expect_stop(
        [&] {
          ReplacingFile out(r.target, failure);
          const int lines = r.fault == Fault::full_large ? 200000 : 1;
          for (int k = 0; k < lines; ++k) out.write("(A)", "a line of text");
          out.commit();
        },
        "Writer");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(variables.errmsg(1).trimmed(), r.line);
    if (r.fault == Fault::directory_at_target)
      EXPECT_TRUE(std::filesystem::is_directory("out.txt/inside"));
    else
      EXPECT_EQ(read_text("out.txt"), "old\n");
    EXPECT_FALSE(
        std::filesystem::exists(std::filesystem::symlink_status(replacing_temporary(r.target))));
    EXPECT_FALSE(std::filesystem::exists("none"));
  }
}

// Several writers open at once (the three sibship files): a stop thrown while two are open
// removes both temporaries and leaves both old files; a writer dropped without its commit
// removes its temporary too.
TEST_F(ReplacingFileTest, AStopWithTwoOpenRemovesBothTemporaries) {
  TempWorkDir dir("replacing_two_open");
  write_text("a.txt", "old a\n");
  write_text("b.txt", "old b\n");
  expect_stop(
      [] {
        ReplacingFile a("a.txt", WriteFailure{.routine = "Writer"});
        ReplacingFile b("b.txt", WriteFailure{.routine = "Writer"});
        a.write("(A)", "new a");
        b.write("(A)", "new b");
        EXPECT_TRUE(std::filesystem::exists(replacing_temporary("a.txt")));
        EXPECT_TRUE(std::filesystem::exists(replacing_temporary("b.txt")));
        stoponerror(1, "Inner");
      },
      "Inner");
  EXPECT_EQ(read_text("a.txt"), "old a\n");
  EXPECT_EQ(read_text("b.txt"), "old b\n");
  EXPECT_FALSE(std::filesystem::exists(replacing_temporary("a.txt")));
  EXPECT_FALSE(std::filesystem::exists(replacing_temporary("b.txt")));

  {
    std::optional<ReplacingFile> dropped;
    dropped.emplace("a.txt", WriteFailure{.routine = "Writer"});
    dropped->write("(A)", "never kept");
  }
  EXPECT_EQ(read_text("a.txt"), "old a\n");
  EXPECT_FALSE(std::filesystem::exists(replacing_temporary("a.txt")));
}

// Two analyses writing one name (a stem shared by mistake) never share a temporary: the
// temporary lies beside the file and carries the process's number.
// The progress log grows by whole records; a record that cannot be written is a failed write
// (the folder missing, or a device with no space left), never a silently shorter log.
TEST_F(ReplacingFileTest, AppendedRecordsExtendTheLogOrStop) {
  TempWorkDir dir("append_record");
  const WriteFailure failure{.routine = "ANNEAL"};
  write_text("log", "head\n");
  append_record("log", "one\n", failure);
  append_record("log", "two\n", failure);
  EXPECT_EQ(read_text("log"), "head\none\ntwo\n");

  reset_all_modules();
  EXPECT_EQ(expect_stop([&] { append_record("missing/log", "x\n", failure); }, "ANNEAL"), 1);
  EXPECT_EQ(variables.errmsg(1).trimmed(), "Failed openning missing/log");

  if (std::filesystem::exists("/dev/full")) {
    reset_all_modules();
    EXPECT_EQ(expect_stop([&] { append_record("/dev/full", "x\n", failure); }, "ANNEAL"), 1);
    EXPECT_EQ(variables.errmsg(1).trimmed(), "Failed writing /dev/full");
  }
}

// A disk that fills in the middle of a record: a file-size limit lets the first bytes of the
// record through and fails the rest (with SIGXFSZ ignored, as the program ignores it). The
// append runs in a child process so that the limit binds nothing else. The log must be left
// as it was before the record, so that it still ends in a whole record; the stop is the
// failed write of the log.
TEST_F(ReplacingFileTest, AFailedAppendLeavesTheLogAsItWas) {
  TempWorkDir dir("append_full");
  const std::string before = "head\none\n";  // 9 bytes
  const std::string record = "a record longer than the room left\n";
  struct Row {
    const char* what;
    rlim_t limit;  // bytes the file may reach
  };
  for (const Row& row : {Row{"five bytes fit", 9 + 5}, Row{"nothing fits", 9}}) {
    SCOPED_TRACE(row.what);
    write_text("log", before);
    const pid_t child = ::fork();
    if (child == 0) {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit lim{row.limit, row.limit};
      if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(2);
      try {
        append_record("log", record, WriteFailure{.routine = "ANNEAL"});
      } catch (const ProgramStop& stop) {
        const bool named = stop.name() == "ANNEAL" &&
                           variables.errmsg(1).trimmed() == std::string("Failed writing log");
        _exit(named ? 3 : 4);
      }
      _exit(0);
    }
    int raw = 0;
    ASSERT_EQ(::waitpid(child, &raw, 0), child);
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 3) << "0: no stop, 4: another message, 2: no limit";
    EXPECT_EQ(read_text("log"), before);
  }
}

// The temporaries an ended analysis left are removed once the stem is locked: exactly the
// names "<stem><suffix>.<pid>.part" (a suffix of one word after a point, or a per-run copy's
// ".MidResult2.Run<k>"), in the stem's folder. Files of another stem that begins like this one,
// other files of the stem, a folder of a temporary's name and files elsewhere stay.
TEST_F(ReplacingFileTest, TheStemsLeftTemporariesAreRemoved) {
  TempWorkDir dir("stem_temporaries");
  namespace fs = std::filesystem;
  fs::create_directories("sub");
  const std::vector<std::string> removed = {"sub/fx.OffGenotype.4242.part",
                                            "sub/fx.BestConfig_Ordered.17.part",
                                            "sub/fx.MidResult2.Run3.99.part", "sub/fx.data.1.part"};
  const std::vector<std::string> kept = {"sub/fx.OffGenotype",
                                         "sub/fx2.OffGenotype.4242.part",
                                         "sub/fx.a.BestConfig.1.part",
                                         "sub/fx.BestConfig.part",
                                         "sub/fx.BestConfig.12x.part",
                                         "sub/fx.BestConfig.12.part~",
                                         "sub/fx..12.part",
                                         "sub/notes.fx.Ne.1.part",
                                         "fx.OffGenotype.4242.part",
                                         "sub/fx.MidResult2.Run.5.part"};
  for (const auto& f : removed) write_text(f, "x");
  for (const auto& f : kept) write_text(f, "x");
  fs::create_directories("sub/fx.Ne.77.part");
  remove_stem_temporaries("sub/fx");
  for (const auto& f : removed) EXPECT_FALSE(fs::exists(f)) << f;
  for (const auto& f : kept) EXPECT_TRUE(fs::exists(f)) << f;
  EXPECT_TRUE(fs::is_directory("sub/fx.Ne.77.part"));

  // A stem without a folder: the working directory.
  write_text("fx.Ne.5.part", "x");
  remove_stem_temporaries("fx");
  EXPECT_FALSE(fs::exists("fx.Ne.5.part"));
  EXPECT_TRUE(fs::exists("sub/fx.OffGenotype"));
}

TEST(ReplacingTemporary, BesideTheFileAndOwnToTheProcess) {
  const std::string mine = replacing_temporary("dir/out.txt");
  EXPECT_EQ(mine, "dir/out.txt." + std::to_string(::getpid()) + ".part");
  const pid_t child = ::fork();
  if (child == 0) _exit(replacing_temporary("dir/out.txt") == mine ? 1 : 0);
  int raw = 0;
  ASSERT_EQ(::waitpid(child, &raw, 0), child);
  EXPECT_EQ(WEXITSTATUS(raw), 0) << "the other process got the same temporary";
}

}  // namespace
}  // namespace kinrad
