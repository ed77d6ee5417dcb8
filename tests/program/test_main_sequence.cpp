// The whole run sequence in-process on a small project whose allele frequencies are updated in
// rounds (pairwise-score method with updating on). The stored round of the allele-frequency
// checkpoint decides: above 5 the program stops at once with status 0 and no message;
// otherwise the sequence runs on to the closing line.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/command_line.hpp"
#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "program/main_program.hpp"
#include "support/run_stage.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using testing_support::read_text;
using testing_support::TempWorkDir;
using testing_support::write_text;

std::string roundsproject() {
  std::string text = read_text(std::string(KINRAD_TESTS_DIR) +
                               "/e2e/cases/small_project_runs_to_the_end/input/kinrad2.dat");
  auto set = [&](const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
  };
  set("0                 ! update allele frequencies", "1 ! update allele frequencies");
  set("1                 ! method", "0 ! method");
  return text;
}

// Runs the sequence; returns the exit status and the screen text.
int runprogram(std::string& screen) {
  reset_all_modules();
  set_command_line({"VER:0"});
  const testing_support::StageOutcome o = testing_support::run_stage([] { run_sequence(); });
  screen = o.screen;
  return o.status;
}

TEST(MainSequence, StoredRoundDecidesBetweenSilentStopAndARun) {
  struct Row {
    const char* round;
    bool stops;
  };
  const Row rows[] = {{"6", true}, {"9", true}, {"5", false}, {"3", false}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.round);
    TempWorkDir dir{"main_sequence"};
    write_text("kinrad2.dat", roundsproject());
    std::string screen;
    // The first analysis writes the data copy, so that the checkpoint of the second one is
    // kept as belonging to the same data.
    ASSERT_EQ(runprogram(screen), 0);
    ASSERT_EQ(variables.updateallelefre, 2);
    write_text("myout.MidResult4", std::string("0.5 0.5\n0.5 0.5\n0.5 0.5\n") + r.round + "\n");
    EXPECT_EQ(runprogram(screen), 0);
    EXPECT_FALSE(std::filesystem::exists("Kinrad2.ErrorMessage"));
    EXPECT_EQ(screen.find("Output to file : myout") != std::string::npos, !r.stops) << screen;
  }
}

}  // namespace
}  // namespace kinrad
