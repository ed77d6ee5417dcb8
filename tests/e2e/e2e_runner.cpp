// End-to-end cases: each folder under cases/ is one run of the built program in a fresh
// temporary working directory.
//   args             one command-line argument per line (optional)
//   input/           files copied into the working directory before the run (optional)
//   repo_inputs      repository files copied into the working directory, one path per line,
//                    relative to the repository root (for the shipped example project)
//   shared_inputs    files of the shared data beside the checkout (../shared/data from the
//                    repository root) copied into the working directory, one per line: the
//                    path below that folder, then optionally the name to give the copy; the
//                    case is skipped, naming the folder, when a file is not there
//   directories      names of empty directories made in the working directory before the run,
//                    one per line (git keeps no empty directory in input/); a directory where
//                    the program means to write a file makes that write fail
//   expected_status  the exit status (default 0)
//   expected_stdout  the exact screen text (optional)
//   expected/        files the run must leave, compared byte for byte after masking (optional)
//   absent           names of files the run must not leave, one per line (optional); a line
//                    "<stem>@results" stands for the stem followed by each suffix of the
//                    table of result files
//   present          names of files the run must leave, contents not compared (optional)
//   mask             regular expressions, one per line; matches are replaced by "<masked>" in
//                    both the actual and the expected text before comparing (dates, times)
//   max_seconds      the longest wall-clock time the run may take, in seconds (optional; an
//                    error stop's own pause counts)
//   max_memory_mb    the largest peak resident memory the run may reach, in MB (optional)
//   progress_log     the name of the progress log the run leaves (optional): within each run
//                    of its records the best score is never below the current score of the
//                    same record and never falls, so the last best is at least the first
//                    record's best, which is at least the initial configuration's score (for
//                    projects whose allele frequencies are not updated during the search)
// A case whose name ends in "_fails" must end with a non-zero status.
// Update mode: with the environment variable KINRAD_E2E_UPDATE set, a differing expected file
// gets the actual text written beside it as <file>.new (the case still fails), so that a
// reviewed change can be taken over by renaming. Files ending in ".new" are never expected.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "results/results.hpp"

namespace fs = std::filesystem;

namespace {

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> read_lines(const fs::path& p) {
  std::vector<std::string> lines;
  std::ifstream in(p);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string shell_quote(const std::string& s) {
  std::string r = "'";
  for (char c : s) {
    if (c == '\'')
      r += "'\\''";
    else
      r += c;
  }
  return r + "'";
}

std::string apply_masks(std::string text, const std::vector<std::regex>& masks) {
  for (const auto& m : masks) text = std::regex_replace(text, m, "<masked>");
  return text;
}

// The cases of one suite: a case whose folder holds a file "slow" (a whole analysis that takes
// minutes in a sanitized build) runs with the slow tests.
std::vector<std::string> case_names(bool slow) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(KINRAD_E2E_CASES_DIR))
    if (e.is_directory() && fs::exists(e.path() / "slow") == slow)
      names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool update_mode() {
  const char* v = std::getenv("KINRAD_E2E_UPDATE");
  return v != nullptr && *v != '\0';
}

// Compares after masking; on a difference in update mode, writes the actual text beside the
// expected file.
void expect_same_text(const std::string& actual, const fs::path& expected,
                      const std::vector<std::regex>& masks) {
  const bool same = apply_masks(actual, masks) == apply_masks(read_file(expected), masks);
  EXPECT_TRUE(same) << "differs from " << expected.string() << "\nactual:\n"
                    << apply_masks(actual, masks) << "\nexpected:\n"
                    << apply_masks(read_file(expected), masks);
  if (!same && update_mode()) {
    std::ofstream out(expected.string() + ".new", std::ios::binary);
    out << actual;
  }
}

// The progress-log checks of a case: records "(A14, 2I4, I14, 2(ES21.12, 10I9))" after one
// header line; the run number at columns 15-18, the current score at 37-57 and the best score
// at 148-168.
void check_progress_log(const fs::path& log) {
  std::ifstream in(log);
  ASSERT_TRUE(in.good()) << "missing progress log " << log;
  std::string line;
  ASSERT_TRUE(std::getline(in, line)) << "empty progress log";
  int records = 0;
  std::string run;
  double first = 0.0, best = 0.0;
  for (int k = 2; std::getline(in, line); ++k) {
    ASSERT_GE(line.size(), 168u) << "line " << k << " too short: " << line;
    const std::string r = line.substr(14, 4);
    const double cr = std::stod(line.substr(36, 21));
    const double bt = std::stod(line.substr(147, 21));
    EXPECT_GE(bt, cr) << "line " << k << ": the best below the current score";
    if (r != run) {
      run = r;
      first = best = bt;
    }
    EXPECT_GE(bt, best) << "line " << k << ": the best score fell";
    EXPECT_GE(bt, first) << "line " << k;
    best = bt;
    ++records;
  }
  EXPECT_GT(records, 0) << "no record in the progress log";
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitizedBuild = true;
#else
constexpr bool kSanitizedBuild = false;
#endif
#else
constexpr bool kSanitizedBuild = false;
#endif

void run_case(const std::string& name) {
  const fs::path dir = fs::path(KINRAD_E2E_CASES_DIR) / name;
  const fs::path work =
      fs::temp_directory_path() / ("kinrad_e2e_" + name + "_" + std::to_string(::getpid()));
  fs::remove_all(work);
  fs::create_directories(work);
  if (fs::exists(dir / "input")) fs::copy(dir / "input", work, fs::copy_options::recursive);
  if (fs::exists(dir / "repo_inputs"))
    for (const auto& rel : read_lines(dir / "repo_inputs"))
      fs::copy_file(fs::path(KINRAD_SOURCE_DIR) / rel, work / fs::path(rel).filename());
  if (fs::exists(dir / "shared_inputs")) {
    const fs::path shared = fs::path(KINRAD_SOURCE_DIR) / ".." / "shared" / "data";
    for (const auto& line : read_lines(dir / "shared_inputs")) {
      std::istringstream f(line);
      std::string rel, as;
      f >> rel >> as;
      if (!fs::exists(shared / rel)) {
        fs::remove_all(work);
        GTEST_SKIP() << "no shared data " << rel << " in " << shared.string();
      }
      fs::copy_file(shared / rel, work / (as.empty() ? fs::path(rel).filename() : fs::path(as)));
    }
  }
  if (fs::exists(dir / "directories"))
    for (const auto& d : read_lines(dir / "directories")) fs::create_directories(work / d);

  std::string cmd = "cd " + shell_quote(work.string()) + " && " + shell_quote(KINRAD2P_EXE);
  if (fs::exists(dir / "args"))
    for (const auto& a : read_lines(dir / "args")) cmd += " " + shell_quote(a);
  cmd += " > " + shell_quote((work / ".stdout").string()) + " 2> " +
         shell_quote((work / ".stderr").string()) + " < /dev/null";
  const auto started = std::chrono::steady_clock::now();
  const int raw = std::system(cmd.c_str());
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  ASSERT_NE(raw, -1);
  // Each case runs in its own test process, so the children's peak is this run's (the shell's
  // own is far smaller).
  struct rusage usage {};
  ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &usage), 0);
  const double peak_mb = static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KB
  // The time limits catch a hostile count that sets off a huge loop or allocation; the
  // sanitized build runs several times slower, more so on a loaded machine, so it gets ten
  // times the limit.
  if (fs::exists(dir / "max_seconds")) {
    const double limit = std::stod(read_file(dir / "max_seconds")) * (kSanitizedBuild ? 10.0 : 1.0);
    EXPECT_LE(took.count(), limit) << "seconds";
  }
  // The memory limits are those of the program users run: under AddressSanitizer the
  // instrumented image alone is larger than most limits, so only builds without it check them
  // (the Release pass of the suite runs every case).
  if (fs::exists(dir / "max_memory_mb") && !kSanitizedBuild) {
    EXPECT_LE(peak_mb, std::stod(read_file(dir / "max_memory_mb"))) << "peak memory in MB";
  }
  ASSERT_TRUE(WIFEXITED(raw)) << "the program did not exit normally";
  const int status = WEXITSTATUS(raw);

  std::vector<std::regex> masks;
  if (fs::exists(dir / "mask"))
    for (const auto& m : read_lines(dir / "mask")) masks.emplace_back(m);

  const bool must_fail = name.size() > 6 && name.ends_with("_fails");
  int expected_status = 0;
  if (fs::exists(dir / "expected_status"))
    expected_status = std::stoi(read_file(dir / "expected_status"));
  EXPECT_EQ(status, expected_status) << read_file(work / ".stderr");
  if (must_fail) {
    EXPECT_NE(status, 0) << "a case named _fails must fail";
  }

  if (fs::exists(dir / "expected_stdout")) {
    expect_same_text(read_file(work / ".stdout"), dir / "expected_stdout", masks);
  }
  if (fs::exists(dir / "expected")) {
    for (const auto& e : fs::recursive_directory_iterator(dir / "expected")) {
      if (!e.is_regular_file() || e.path().extension() == ".new") continue;
      const fs::path rel = fs::relative(e.path(), dir / "expected");
      SCOPED_TRACE(rel.string());
      ASSERT_TRUE(fs::exists(work / rel)) << "missing output file " << rel;
      expect_same_text(read_file(work / rel), e.path(), masks);
    }
  }
  if (fs::exists(dir / "progress_log")) {
    for (const auto& log : read_lines(dir / "progress_log")) {
      SCOPED_TRACE(log);
      check_progress_log(work / log);
    }
  }
  if (fs::exists(dir / "present")) {
    for (const auto& file : read_lines(dir / "present")) {
      EXPECT_TRUE(fs::exists(work / file)) << file << " should exist";
    }
  }
  if (fs::exists(dir / "absent")) {
    for (const auto& line : read_lines(dir / "absent")) {
      std::vector<std::string> names{line};
      const auto at = line.find("@results");
      if (at != std::string::npos) {
        names.clear();
        for (const auto& f : kinrad::result_files())
          names.push_back(line.substr(0, at) + std::string(f.suffix));
      }
      for (const auto& file : names)
        EXPECT_FALSE(fs::exists(work / file)) << file << " should not exist";
    }
  }

  if (!::testing::Test::HasFailure()) fs::remove_all(work);
}

class EndToEnd : public ::testing::TestWithParam<std::string> {};
class EndToEndSlow : public ::testing::TestWithParam<std::string> {};

TEST_P(EndToEnd, Run) {
  run_case(GetParam());
}
TEST_P(EndToEndSlow, Run) {
  run_case(GetParam());
}

const auto case_label = [](const ::testing::TestParamInfo<std::string>& p) { return p.param; };
INSTANTIATE_TEST_SUITE_P(Cases, EndToEnd, ::testing::ValuesIn(case_names(false)), case_label);
INSTANTIATE_TEST_SUITE_P(Cases, EndToEndSlow, ::testing::ValuesIn(case_names(true)), case_label);

}  // namespace
