// A second analysis in the same process, after reset_all_modules(), starts from the state of a
// fresh process: no cache or work array of the first analysis survives. The expected state is
// the start-up state of each object (written out below from the declarations); the expected
// outputs are those of the same analysis run first in a freshly reset process.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "core/command_line.hpp"
#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/configuration_work.hpp"
#include "core/modules/likelihood_work.hpp"
#include "core/modules/pairwise_work.hpp"
#include "core/modules/variables.hpp"
#include "core/random_numbers.hpp"
#include "program/main_program.hpp"
#include "support/pauses.hpp"
#include "support/run_stage.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using testing_support::read_text;
using testing_support::RecordedPauses;
using testing_support::TempWorkDir;
using testing_support::write_text;

std::string case_input(const std::string& name) {
  return read_text(std::string(KINRAD_TESTS_DIR) + "/e2e/cases/" + name + "/input/kinrad2.dat");
}

struct Outcome {
  int status = 0;
  std::string screen;
  std::string datacopy;
};

// Runs the whole sequence on `project` in the current working directory.
Outcome analyse(const std::string& project) {
  write_text("kinrad2.dat", project);
  set_command_line({"VER:0"});
  Outcome o;
  const testing_support::StageOutcome stage = testing_support::run_stage([] { run_sequence(); });
  o.status = stage.status;
  o.screen = stage.screen;
  o.datacopy = read_text("myout.data");
  return o;
}

TEST(SecondAnalysis, ResetLeavesNoStateOfTheFirst) {
  RecordedPauses pauses;
  TempWorkDir dir("second_analysis_state");
  reset_all_modules();
  analyse(case_input("small_project_runs_to_the_end"));
  // The first analysis used the caches, the work arrays and the random streams.
  ASSERT_GT(variables.transrate_version, 0u);
  ASSERT_EQ(command_argument_count(), 1);
  random_stream_state.iy = 12345;
  random_stream_state.gasdev_kept = true;
  // The phase scratch as a longer analysis leaves it.
  configuration_work.family.famloc.assign(5, 1);
  configuration_work.tables.famcount.assign(5, 1);
  configuration_work.pair_score.count.assign(5, 1);
  pairwise_work.clone_log.m1.assign(5, 1);
  likelihood_work.layer_kind.errors = true;

  reset_all_modules();
  EXPECT_EQ(variables.transrate_version, 0u);
  EXPECT_FALSE(dyadprbvariables.dyad_tables.built);
  EXPECT_EQ(dyadprbvariables.dyad_tables.locus, 0);
  EXPECT_TRUE(variables.single_memo1.empty());
  EXPECT_TRUE(variables.single_memo2.empty());
  EXPECT_TRUE(variables.parent_marks.empty());
  EXPECT_EQ(command_argument_count(), 0);
  EXPECT_EQ(random_stream_state.iy, -1);
  EXPECT_FALSE(random_stream_state.gasdev_kept);
  EXPECT_EQ(random_stream_state.irbit1_seed, 234533u);
  EXPECT_FALSE(variables.obsallelefre.allocated());
  EXPECT_TRUE(configuration_work.family.famloc.empty());
  EXPECT_TRUE(configuration_work.tables.famcount.empty());
  EXPECT_TRUE(configuration_work.pair_score.count.empty());
  EXPECT_TRUE(pairwise_work.clone_log.m1.empty());
  EXPECT_FALSE(likelihood_work.layer_kind.errors);
}

TEST(SecondAnalysis, GivesTheOutputsOfAFirstAnalysis) {
  RecordedPauses pauses;
  std::string project = case_input("small_project_runs_to_the_end");
  // A first analysis of another sample size and run count.
  const std::string other = case_input("changed_data_renews_copy");
  Outcome alone;
  {
    TempWorkDir dir("second_analysis_alone");
    reset_all_modules();
    alone = analyse(project);
  }
  Outcome second;
  {
    TempWorkDir first_dir("second_analysis_first");
    reset_all_modules();
    const Outcome first = analyse(other);
    ASSERT_EQ(first.status, 0) << first.screen;
  }
  {
    TempWorkDir dir("second_analysis_second");
    reset_all_modules();
    second = analyse(project);
  }
  ASSERT_EQ(alone.status, 0) << alone.screen;
  EXPECT_EQ(second.status, alone.status);
  // The search's monitor lines show dates, times and processor minutes.
  const auto unclocked = [](const std::string& screen) {
    std::string s =
        std::regex_replace(screen, std::regex(R"(D=\d\d/\d\d/\d{4} T=\d\d/\d\d/\d\d)"), "D=<date>");
    return std::regex_replace(s, std::regex(R"(TotalRunningTime\(Min\)=\S+)"), "<minutes>");
  };
  EXPECT_EQ(unclocked(second.screen), unclocked(alone.screen));
  EXPECT_EQ(second.datacopy, alone.datacopy);
  EXPECT_FALSE(alone.datacopy.empty());
}

}  // namespace
}  // namespace kinrad
