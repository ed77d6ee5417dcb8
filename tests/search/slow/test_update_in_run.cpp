// In-run updating through the program's sequence on the example project (full likelihood,
// updating on), under the self-check after every move. The moves are replaced by a body that
// reports a new best (of an unchanged configuration) every other iteration, which is what the
// update's call sites count.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/command_line.hpp"
#include "core/modules.hpp"
#include "core/modules/search_seams.hpp"
#include "program/main_program.hpp"
#include "search/search_internal.hpp"
#include "search/update_fixture.hpp"
#include "support/pauses.hpp"
#include "support/run_stage.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::test {
namespace {

using testing_support::read_text;
using testing_support::RecordedPauses;
using testing_support::run_stage;
using testing_support::StageOutcome;
using testing_support::TempWorkDir;
using testing_support::write_text;

std::size_t occurrences(const std::string& s, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
  return n;
}

TEST(UpdateInRun, ExampleProjectUpdatesUnderTheSelfCheck) {
  RecordedPauses pauses;
  TempWorkDir dir("update_in_run");
  reset_all_modules();
  write_text("kinrad2.dat", read_text(std::string(KINRAD_TESTS_DIR) + "/../examples/kinrad2.dat"));
  int8 calls = 0;
  int4 temperatureends = 0, checkpointsseen = 0;
  bool pending = false;
  search_seams.on_rule = [&](const RuleEvent& e) {
    if (e.end != RuleEnd::end_temperature) return;
    ++temperatureends;
    // The end of the temperature follows: its update writes the state checkpoint.
    std::filesystem::remove("myout.MidResult2");
    std::filesystem::remove("kinrad2_example.MidResult2");
    pending = true;
  };
  search_seams.body = [&](RunState& rs) {
    if (pending) {
      pending = false;
      if (std::filesystem::exists("kinrad2_example.MidResult2")) ++checkpointsseen;
    }
    count_scored(rs);
    if (++calls % 2 == 0) {
      count_new_best(rs, 3.0, true);
      update_after_new_best(rs);
    }
    return calls >= 2600 ? MoveOutcome::end_run : MoveOutcome::completed;
  };
  set_command_line({"VER:0", "CKM:2", "ARC:1"});
  const StageOutcome o = run_stage([] { run_sequence(); });
  const std::string& screen = o.screen;
  search_seams = SearchSeams{};
  ASSERT_FALSE(o.stopped) << o.errorfile << screen.substr(0, 4000);
  EXPECT_EQ(variables.updateallelefre, 1);
  // 2600 iterations, a new best (gain 3) at every even one. Temperature 1 ends by the first rule
  // (nothing accepted) at iteration 1001 after 500 new bests, short of its interval (101 x 5 =
  // 505): one update at its end. Temperature 2 (interval 51 x 5 = 255) updates at its 255th,
  // 510th and 765th new best (iterations 1510, 2020, 2530) and does not end.
  EXPECT_EQ(temperatureends, 1);
  EXPECT_EQ(checkpointsseen, 1);
  const std::size_t updates = occurrences(screen, "Updating allele frequency...");
  EXPECT_EQ(updates, 4u) << screen.substr(0, 4000);
  EXPECT_EQ(occurrences(screen, "Updating likelihood..."), updates);
  // Starting frequencies are kept apart from the updated ones.
  bool moved = false;
  for (int4 l = 1; l <= variables.numloci; ++l)
    for (int4 a = 1; a <= variables.obsnumallele(l); ++a)
      moved = moved || variables.obsallelefre(l).a(a) != variables.obsallelefre0(a, l);
  EXPECT_TRUE(moved);
}

}  // namespace
}  // namespace kinrad::test
