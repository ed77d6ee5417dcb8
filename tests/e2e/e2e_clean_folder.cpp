// What an analysis leaves in its folder when it is interrupted or repeated: no temporary of a
// killed analysis survives the next one, SIGINT and SIGTERM stop like an error stop (reason on
// the screen and in "Kinrad2.ErrorMessage", no temporary, no lock, a non-zero status, the
// checkpoints kept for a restart), a rerun under other result options leaves no result file of
// the earlier one, and a damaged pairwise-step marker makes the step run again.
//
// Expected values: the status after a signal is the shell's 128 + the signal number, as the
// program ends by the signal once it has reported it (SIGINT 2: 130, SIGTERM 15: 143); the
// reason lines are the program's own texts; the file sets of the result options are those of
// the result-file conditions (the dyad and parentage files need DYD, ".BestFSFamily" needs
// FSP, ".AlleleFreq" needs AFE); the intact marker and the results of an intact analysis are
// those of the same project run in another fresh folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/program_process.hpp"
#include "support/signal_on_file.hpp"

namespace fs = std::filesystem;

namespace {

using kinrad::testing_support::ProgramDir;
using kinrad::testing_support::signal_on_file;
using kinrad::testing_support::SignalOutcome;

const std::string kStem = "kinrad2_example";

std::string contents(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The example project with a very short run (record 16: length of run 0).
void write_example(const fs::path& dir) {
  std::istringstream in(contents(fs::path(KINRAD_SOURCE_DIR) / "examples" / "kinrad2.dat"));
  std::ofstream out(dir / "kinrad2.dat", std::ios::binary);
  std::string line;
  for (int record = 1; std::getline(in, line); ++record) {
    if (record == 16) line = "0" + line.substr(line.find_first_of(" !"));
    out << line << '\n';
  }
}

// The fixed pedigree of 8 offspring of known parents (stem "fx"): every result file, fast.
void write_fixed_pedigree(const fs::path& dir) {
  fs::copy_file(fs::path(KINRAD_E2E_CASES_DIR) / "fixed_pedigree_writes_every_result_file" /
                    "input" / "kinrad2.dat",
                dir / "kinrad2.dat", fs::copy_options::overwrite_existing);
}

std::vector<std::string> temporaries(const fs::path& dir) {
  std::vector<std::string> r;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().ends_with(".part")) r.push_back(e.path().filename());
  return r;
}

std::string joined(const std::vector<std::string>& v) {
  std::string r;
  for (const auto& s : v) r += s + " ";
  return r;
}

bool is_genotype_temporary(std::string_view name) {
  return name.starts_with(kStem + ".OffGenotype.") && name.ends_with(".part");
}

// A kill (SIGKILL: no chance to clean up) while the result step has its genotype files open
// leaves their temporaries; the restart, which resumes and writes the results again, removes
// them and leaves none of its own.
TEST(CleanFolderSlow, TemporariesOfAKilledResultStepGoWithTheRestart) {
  ProgramDir dir("clean_killed_results");
  write_example(dir.path());
  std::vector<std::string> left;
  for (int attempt = 0; attempt < 3 && left.empty(); ++attempt) {
    for (const auto& e : fs::directory_iterator(dir.path()))
      if (e.path().filename() != "kinrad2.dat") fs::remove_all(e.path());
    const SignalOutcome o =
        signal_on_file(dir, {"VER:0"}, IN_CREATE, is_genotype_temporary, 1, SIGKILL);
    ASSERT_TRUE(o.sent) << "the analysis ended before its result step";
    ASSERT_EQ(o.status, 128 + SIGKILL);
    left = temporaries(dir.path());
  }
  ASSERT_FALSE(left.empty()) << "no kill landed while a temporary was open";
  ASSERT_EQ(dir.run({"VER:0"}), 0) << contents(dir.path() / "Kinrad2.ErrorMessage");
  EXPECT_TRUE(fs::exists(dir.path() / (kStem + ".OffGenotype")));
  EXPECT_EQ(joined(temporaries(dir.path())), "") << "left by the kill: " << joined(left);
}

struct SignalCase {
  const char* name;
  int signo;
  std::uint32_t events;
  bool (*at)(std::string_view);  // the file event the signal follows
  int nth;
  const char* reason;
  bool resumes;   // the restart continues the search from its checkpoint
  int times = 1;  // the signal sent that many times in a row
};

bool pairwise_parentage_temporary(std::string_view name) {
  return name.starts_with(kStem + ".PairwisePaternity.") && name.ends_with(".part");
}
bool search_checkpoint(std::string_view name) {
  return name == kStem + ".MidResult5";
}

const std::vector<SignalCase>& signal_cases() {
  static const std::vector<SignalCase> cases = {
      {"SigtermInThePairwiseStep", SIGTERM, IN_CREATE, pairwise_parentage_temporary, 1,
       "Program stopped by signal SIGTERM (termination request)", false},
      {"SigintInTheSearch", SIGINT, IN_MOVED_TO, search_checkpoint, 2,
       "Program stopped by signal SIGINT (interrupt)", true},
      {"SigtermTwiceInTheSearch", SIGTERM, IN_MOVED_TO, search_checkpoint, 1,
       "Program stopped by signal SIGTERM (termination request)", true, 2},
      {"SigintInTheResultStep", SIGINT, IN_CREATE, is_genotype_temporary, 1,
       "Program stopped by signal SIGINT (interrupt)", false},
  };
  return cases;
}

class CleanFolderSignalSlow : public ::testing::TestWithParam<SignalCase> {};

TEST_P(CleanFolderSignalSlow, StopsLikeAnErrorStopAndTheRestartEndsTheAnalysis) {
  const SignalCase& c = GetParam();
  ProgramDir dir(std::string("clean_signal_") + c.name);
  write_example(dir.path());
  const SignalOutcome o =
      signal_on_file(dir, {"VER:0"}, c.events, c.at, c.nth, c.signo, ".stdout", c.times);
  ASSERT_TRUE(o.sent) << "the analysis ended before the event";
  const std::string screen = contents(dir.path() / ".stdout");
  EXPECT_EQ(o.status, 128 + c.signo)
      << screen.substr(screen.size() > 2000 ? screen.size() - 2000 : 0);

  // The reason on the screen and as the first line of the error file, followed by the closing
  // line of an error stop.
  const std::string error = contents(dir.path() / "Kinrad2.ErrorMessage");
  EXPECT_TRUE(error.starts_with(std::string(c.reason) + "\nProgram stopped in subroutine "))
      << error;
  EXPECT_TRUE(error.ends_with(", dataset = " + kStem + ".\n")) << error;
  EXPECT_NE(screen.find(std::string("\n") + c.reason + "\n"), std::string::npos);
  EXPECT_EQ(joined(temporaries(dir.path())), "");
  EXPECT_FALSE(fs::exists(dir.path() / (kStem + ".Lock")));
  if (c.resumes) {
    ASSERT_TRUE(fs::exists(dir.path() / (kStem + ".MidResult2")));
    EXPECT_FALSE(fs::exists(dir.path() / (kStem + ".BestConfig")));
  }

  ASSERT_EQ(ProgramDir::wait(dir.start({"VER:0"}, "", ".stdout2")), 0)
      << contents(dir.path() / "Kinrad2.ErrorMessage");
  EXPECT_FALSE(fs::exists(dir.path() / "Kinrad2.ErrorMessage"))
      << "the finished analysis left the interrupted one's message";
  EXPECT_TRUE(fs::exists(dir.path() / (kStem + ".BestConfig")));
  EXPECT_EQ(joined(temporaries(dir.path())), "");
  if (c.resumes) {
    // A restored search goes on with its first monitor line; a fresh one scores its initial
    // configuration first.
    const std::string again = contents(dir.path() / ".stdout2");
    const std::size_t first_monitor = again.find("Run=");
    ASSERT_NE(first_monitor, std::string::npos) << again.substr(0, 3000);
    EXPECT_EQ(again.substr(0, first_monitor).find("Computing likelihood of initial config"),
              std::string::npos)
        << again.substr(0, first_monitor);
  }
}

INSTANTIATE_TEST_SUITE_P(Signals, CleanFolderSignalSlow, ::testing::ValuesIn(signal_cases()),
                         [](const ::testing::TestParamInfo<SignalCase>& p) {
                           return std::string(p.param.name);
                         });

// A finished analysis with every result switch on, then the same data again with RCS:1 (straight
// to the results from the checkpoints) and one switch off: the files that switch writes must go.
TEST(CleanFolderSlow, ARerunUnderOtherOptionsLeavesNoResultFileOfTheFirst) {
  struct Row {
    const char* option;
    std::vector<std::string> gone;
  };
  const std::vector<Row> rows = {
      {"DYD:0",
       {".FullSibDyad", ".HalfSibDyad", ".FSDyadUF", ".HSDyadUF", ".Paternity", ".Maternity"}},
      {"FSP:0", {".BestFSFamily"}},
      {"AFE:0", {".AlleleFreq"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.option);
    ProgramDir dir(std::string("clean_rerun_") + row.option[0]);
    write_fixed_pedigree(dir.path());
    ASSERT_EQ(dir.run({"VER:0"}), 0) << contents(dir.path() / "Kinrad2.ErrorMessage");
    for (const auto& suffix : row.gone)
      ASSERT_TRUE(fs::exists(dir.path() / ("fx" + suffix))) << suffix << " of the first run";
    ASSERT_EQ(ProgramDir::wait(dir.start({"VER:0", "RCS:1", row.option}, "", ".stdout2")), 0)
        << contents(dir.path() / "Kinrad2.ErrorMessage");
    for (const auto& suffix : row.gone)
      EXPECT_FALSE(fs::exists(dir.path() / ("fx" + suffix))) << suffix << " stayed";
    EXPECT_TRUE(fs::exists(dir.path() / "fx.BestConfig"));
  }
}

// A pairwise-step marker cut to half its length, or overwritten by text, is not trusted: the
// rerun runs the step again, which rewrites the marker as an intact analysis writes it, and
// ends with that analysis's results. The small project (20 offspring) searches, so the start
// temperature and log priors of the marker matter.
TEST(CleanFolderSlow, ADamagedPairwiseMarkerRunsTheStepAgain) {
  const fs::path project =
      fs::path(KINRAD_E2E_CASES_DIR) / "small_project_runs_to_the_end" / "input" / "kinrad2.dat";
  ProgramDir intact("clean_marker_intact");
  fs::copy_file(project, intact.path() / "kinrad2.dat");
  ASSERT_EQ(intact.run({"VER:0"}), 0) << contents(intact.path() / "Kinrad2.ErrorMessage");
  std::string stem;
  for (const auto& e : fs::directory_iterator(intact.path())) {
    const std::string name = e.path().filename();
    if (name.ends_with(".MidResult6")) stem = name.substr(0, name.size() - 11);
  }
  ASSERT_FALSE(stem.empty()) << "no marker";
  const std::string marker = contents(intact.path() / (stem + ".MidResult6"));
  const std::string best = contents(intact.path() / (stem + ".BestConfig"));
  ASSERT_GT(marker.size(), 10u);

  struct Row {
    const char* what;
    std::string damaged;
  };
  const std::vector<Row> rows = {{"cut to half", marker.substr(0, marker.size() / 2)},
                                 {"replaced by text", "not a marker\n"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ProgramDir dir(std::string("clean_marker_") + row.what[0]);
    fs::copy_file(project, dir.path() / "kinrad2.dat");
    // The first analysis writes the marker; only the checkpoints of its search are removed, so
    // that the rerun (data unchanged) searches afresh from what the marker holds.
    ASSERT_EQ(dir.run({"VER:0"}), 0);
    for (const char* s : {".MidResult2", ".MidResult3", ".MidResult4", ".MidResult5"})
      fs::remove(dir.path() / (stem + s));
    {
      std::ofstream out(dir.path() / (stem + ".MidResult6"), std::ios::binary | std::ios::trunc);
      out << row.damaged;
    }
    ASSERT_EQ(ProgramDir::wait(dir.start({"VER:0"}, "", ".stdout2")), 0)
        << contents(dir.path() / "Kinrad2.ErrorMessage");
    EXPECT_EQ(contents(dir.path() / (stem + ".MidResult6")), marker);
    EXPECT_EQ(contents(dir.path() / (stem + ".BestConfig")), best);
  }
}

}  // namespace
