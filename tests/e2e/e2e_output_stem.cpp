// One analysis per output stem, seen from outside: a second analysis of a stem in use stops at
// once and leaves the first one's files alone, a killed analysis does not hold its stem, an
// analysis that completes removes the failure message an earlier analysis of its stem left, a
// file-size limit ends in the error stop, and a stem that names a folder is refused.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/program_process.hpp"
#include "support/temp_dir.hpp"

namespace fs = std::filesystem;

namespace {

using kinrad::testing_support::ProgramDir;
using kinrad::testing_support::read_text;

// A project of n offspring and three candidates of each sex, typed at error-free two-allele
// loci with random genotypes of the seed; output stem "myout".
// A very short run (record 16, length of run 0): these cases are about the stem, not the search.
// The cases that run whole analyses still search for minutes in the sanitized build, so they
// run with the slow cases of the Release pass.
std::string project(unsigned seed, int n = 30, int loci = 6) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> allele(1, 2);
  auto genotype = [&](const std::string& id) {
    std::string line = id;
    for (int l = 0; l < loci; ++l)
      line += " " + std::to_string(allele(rng)) + " " + std::to_string(allele(rng));
    return line + "\n";
  };
  std::string text = "MyData\nmyout\n" + std::to_string(n) + "\n" + std::to_string(loci) +
                     "\n1234\n0\n2\n0\n0\n0 0\n0\n0\n0\n0\n1\n0\n0\n1000\n0\n1\n1\n";
  for (int l = 1; l <= loci; ++l) text += "Loc" + std::to_string(l) + (l < loci ? " " : "\n");
  text += "0@\n0@\n0@\n";
  for (int i = 1; i <= n; ++i) text += genotype("O" + std::to_string(i));
  text += "0.5 0.5\n3 3\n";
  for (int c = 1; c <= 3; ++c) text += genotype("M" + std::to_string(c));
  for (int c = 1; c <= 3; ++c) text += genotype("F" + std::to_string(c));
  return text + "0 0\n0 0\n0\n0\n0\n0\n0\n0\n";
}

void write(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

std::string read(const fs::path& p) {
  return read_text(p.string());
}

// The regular files of a folder (screen captures left out) with their contents.
std::map<std::string, std::string> files_of(const fs::path& dir) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const std::string name = fs::relative(e.path(), dir).string();
    if (name.rfind(".stdout", 0) == 0) continue;
    out[name] = e.is_regular_file() ? read(e.path()) : std::string("<folder>");
  }
  return out;
}

// What a folder holds, down to the modification times: a run that touches nothing keeps it.
std::map<std::string, fs::file_time_type> times_of(const fs::path& dir) {
  std::map<std::string, fs::file_time_type> out;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(".stdout", 0) == 0) continue;
    out[name] = fs::last_write_time(e.path());
  }
  return out;
}

// True once process pid holds a whole-file lock (the system's table of locks lists it).
bool holds_lock(pid_t pid) {
  std::ifstream in("/proc/locks");
  for (std::string line; std::getline(in, line);) {
    std::istringstream f(line);
    std::string number, kind, mode, access, owner;
    f >> number >> kind >> mode >> access >> owner;
    if (kind == "FLOCK" && owner == std::to_string(pid)) return true;
  }
  return false;
}

// Waits (at most 60 s) until the started analysis holds its stem.
bool wait_for_lock(pid_t pid) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < until) {
    if (holds_lock(pid)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

// The stop of the analysis of other.dat that found its stem in use, as the error file holds it
// (the reader's stops name the input file on their second line).
const std::string kStemInUse =
    "Output file name in use by another running analysis: myout\n"
    "other.dat\n"
    "Please wait until it ends, or choose another output file name, and then re-run the "
    "program\n"
    "Program stopped in subroutine ReadData, dataset = myout.\n";

TEST(OutputStemSlow, ASecondAnalysisOfAStemInUseStopsAndTheFirstKeepsItsFiles) {
  // The first analysis alone, for its files.
  ProgramDir alone("stem_alone");
  write(alone.path() / "kinrad2.dat", project(1));
  ASSERT_EQ(alone.run(), 0) << read(alone.path() / ".stdout");
  const std::map<std::string, std::string> own = files_of(alone.path());

  // Both at once: the second names the same stem for other data. The first is held still once
  // it holds its stem, so that the second surely starts while it runs.
  ProgramDir dir("stem_twice");
  write(dir.path() / "kinrad2.dat", project(1));
  write(dir.path() / "other.dat", project(2));
  const pid_t first = dir.start({"IFN:kinrad2.dat"});
  ASSERT_GT(first, 0);
  ASSERT_TRUE(wait_for_lock(first));
  ASSERT_EQ(::kill(first, SIGSTOP), 0);
  const auto before = times_of(dir.path());
  const pid_t second = dir.start({"IFN:other.dat"}, "", ".stdout2");
  const int secondstatus = ProgramDir::wait(second);
  auto after = times_of(dir.path());
  const std::string errorfile = read(dir.path() / "Kinrad2.ErrorMessage");
  ASSERT_EQ(::kill(first, SIGCONT), 0);
  const int firststatus = ProgramDir::wait(first);

  EXPECT_EQ(secondstatus, 1);
  EXPECT_EQ(errorfile, kStemInUse);
  EXPECT_NE(read(dir.path() / ".stdout2").find(kStemInUse), std::string::npos)
      << read(dir.path() / ".stdout2");
  // The second wrote the working folder's error file and nothing else.
  after.erase("Kinrad2.ErrorMessage");
  EXPECT_EQ(after, before);

  EXPECT_EQ(firststatus, 0) << read(dir.path() / ".stdout");
  std::map<std::string, std::string> got = files_of(dir.path());
  // The first leaves a message written since it began; its own check of the data copy removes
  // the folder's error file when it finds its data new, as it may have here.
  got.erase("Kinrad2.ErrorMessage");
  got.erase("other.dat");
  EXPECT_EQ(got.size(), own.size());
  // The search's progress log and state checkpoint carry time stamps and processor minutes.
  const auto unclocked = [](const std::string& t) {
    std::string s = std::regex_replace(t, std::regex(R"(\d\d/\d\d \d\d/\d\d/\d\d)"), "<stamp>");
    return std::regex_replace(s, std::regex(R"(,\d{8},\d{6}\.\d{3},[^\n]*)"), ",<date>");
  };
  for (const auto& [name, text] : own) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(got.count(name));
    EXPECT_TRUE(unclocked(got[name]) == unclocked(text)) << "differs from the analysis run alone";
  }
  EXPECT_FALSE(fs::exists(dir.path() / "myout.Lock"));
}

TEST(OutputStemSlow, AKilledAnalysisDoesNotHoldItsStem) {
  ProgramDir dir("stem_killed");
  write(dir.path() / "kinrad2.dat", project(3));
  const pid_t first = dir.start();
  ASSERT_TRUE(wait_for_lock(first));
  ASSERT_EQ(::kill(first, SIGKILL), 0);
  ASSERT_EQ(ProgramDir::wait(first), 128 + SIGKILL);
  EXPECT_EQ(dir.run(), 0) << read(dir.path() / ".stdout");
  EXPECT_FALSE(fs::exists(dir.path() / "Kinrad2.ErrorMessage"));
  EXPECT_FALSE(fs::exists(dir.path() / "myout.Lock"));
}

// The names in a folder that end in ".part": temporaries a write left behind.
std::vector<std::string> temporaries(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.path().filename().string().ends_with(".part")) out.push_back(e.path().string());
  return out;
}

// 60 offspring at 10 loci: the data copies stay below 4096 bytes (the genotype copy has about
// 2300), the full-sib dyad cache (four bytes per pair of offspring, 1770 pairs) does not. A
// limit of 8 blocks of 512 bytes (the shell's unit for ulimit -f) thus stops the analysis while
// it writes the dyad caches, after the data copy was written, as a full disk would.
const std::string kLimit = "ulimit -f 8";

TEST(OutputStem, AFileSizeLimitEndsInTheErrorStop) {
  ProgramDir dir("stem_limit");
  write(dir.path() / "kinrad2.dat", project(4, 60, 10));
  const int status = dir.run({}, kLimit);
  EXPECT_EQ(status, 1) << "128 + 25 is a kill by the file-size signal";
  const std::string error = read(dir.path() / "Kinrad2.ErrorMessage");
  EXPECT_EQ(error,
            "Failed writing myout.FSDyadLogL\n"
            "Program stopped in subroutine CalculatePairProb, dataset = myout.\n");
  EXPECT_NE(read(dir.path() / ".stdout").find("Failed writing myout.FSDyadLogL"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(dir.path() / "myout.FSDyadLogL"));
  EXPECT_EQ(temporaries(dir.path()), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(dir.path() / "myout.Lock"));
}

TEST(OutputStemSlow, AnAnalysisThatCompletesRemovesTheFailureMessageOfItsStem) {
  ProgramDir dir("stem_stale");
  write(dir.path() / "kinrad2.dat", project(4, 60, 10));
  // A full disk while the dyad caches are written, after the data copy.
  ASSERT_EQ(dir.run({}, kLimit), 1);
  ASSERT_TRUE(fs::exists(dir.path() / "myout.data"));
  ASSERT_TRUE(fs::exists(dir.path() / "Kinrad2.ErrorMessage"));
  // The rerun finds its data unchanged and completes: the old message is gone.
  EXPECT_EQ(dir.run(), 0) << read(dir.path() / ".stdout");
  EXPECT_FALSE(fs::exists(dir.path() / "Kinrad2.ErrorMessage"));
  EXPECT_TRUE(fs::exists(dir.path() / "myout.FSDyadLogL"));

  // Messages it does not own stay: another stem's (runs of a batch share the folder), and one
  // that names no stem.
  const std::vector<std::string> others = {
      "Failed writing other.FSDyadLogL\n"
      "Program stopped in subroutine CalculatePairProb, dataset = other.\n",
      "Failed writing myout2.data\nProgram stopped in subroutine CheckData, dataset = myout2.\n",
      "a diagnostic without a closing line\n"};
  for (const std::string& text : others) {
    SCOPED_TRACE(text);
    write(dir.path() / "Kinrad2.ErrorMessage", text);
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    fs::last_write_time(dir.path() / "Kinrad2.ErrorMessage", old);
    EXPECT_EQ(dir.run(), 0);
    EXPECT_EQ(read(dir.path() / "Kinrad2.ErrorMessage"), text);
  }
}

TEST(OutputStem, AStemThatNamesAFolderIsRefused) {
  const std::vector<std::string> stems = {".", "..", "./", "sub/", "sub/.", "sub/..", "/"};
  const bool rootcopy = fs::exists("/.data");
  // One folder per stem, all run at once (each stop pauses two seconds).
  std::vector<std::unique_ptr<ProgramDir>> dirs;
  std::vector<pid_t> runs;
  for (const std::string& stem : stems) {
    dirs.push_back(std::make_unique<ProgramDir>("stem_folder" + std::to_string(dirs.size())));
    write(dirs.back()->path() / "kinrad2.dat", project(5));
    fs::create_directory(dirs.back()->path() / "sub");
    runs.push_back(dirs.back()->start({"OFN:" + stem}));
  }
  for (std::size_t k = 0; k < stems.size(); ++k) {
    const std::string& stem = stems[k];
    const fs::path& dir = dirs[k]->path();
    SCOPED_TRACE("OFN:" + stem);
    EXPECT_EQ(ProgramDir::wait(runs[k]), 1);
    // The reader's stop on an output path it cannot use.
    EXPECT_EQ(read(dir / "Kinrad2.ErrorMessage"),
              "Error in project name or path: " + stem + "\nkinrad2.dat\n" +
                  "Program stopped in subroutine ReadData, dataset = " + stem + ".\n");
    std::map<std::string, std::string> left = files_of(dir);
    EXPECT_EQ(left.size(), 3u);  // the input, the error file and the empty folder
    EXPECT_TRUE(left.count("kinrad2.dat") && left.count("Kinrad2.ErrorMessage") &&
                left.count("sub"));
  }
  if (!rootcopy) {
    EXPECT_FALSE(fs::exists("/.data"));
  }
}

}  // namespace
