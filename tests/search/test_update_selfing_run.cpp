// In-run updating through the program's sequence on a small sample of one parent pool with
// selfing (full likelihood, updating on), under the self-check after every move. The moves are
// replaced by a body that reports a new best (of an unchanged configuration) every other
// iteration.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/command_line.hpp"
#include "core/modules.hpp"
#include "core/modules/search_seams.hpp"
#include "program/main_program.hpp"
#include "search/search_internal.hpp"
#include "support/pauses.hpp"
#include "support/run_stage.hpp"
#include "support/temp_dir.hpp"
#include "update_fixture.hpp"

namespace kinrad::test {
namespace {

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

// One parent pool with selfing, updating on: the end of a temperature also refreshes the
// inbreeding coefficient (two passes when it moved), all under the self-check.
TEST(UpdateInRun, SelfingSampleRefreshesInbreedingUnderTheSelfCheck) {
  RecordedPauses pauses;
  TempWorkDir dir("update_in_run_selfing");
  reset_all_modules();
  testing_support::ProjectFile p = update_project("1", "1");
  p.update = "1";
  p.droprates = "0.02@";
  p.otherrates = "0.02@";
  write_text("kinrad2.dat", p.text());
  int8 calls = 0;
  int4 temperatureends = 0;
  real8 inbreeding_at_end = -1.0, inbreeding_after = -1.0, inbreeding_refreshed = -1.0;
  bool pending = false;
  search_seams.on_rule = [&](const RuleEvent& e) {
    if (e.end != RuleEnd::end_temperature) return;
    ++temperatureends;
    // The refresh that follows: halfway from the value in force to s / (2 - s), s the selfing
    // rate of the best configuration.
    const auto& v = variables;
    int4 selfed = 0;
    for (int4 i = 1; i <= v.smplsize; ++i)
      if (v.btindivloc(i, 1) == v.btindivloc(i, 2)) ++selfed;
    const real8 s = std::min(static_cast<real8>(selfed) / v.smplsize, 0.99);
    inbreeding_at_end = v.inbreeding;
    inbreeding_refreshed = 0.5 * (s / (2.0 - s) + v.inbreeding);
    pending = true;
  };
  search_seams.body = [&](RunState& rs) {
    if (pending) {
      pending = false;
      inbreeding_after = variables.inbreeding;
    }
    count_scored(rs);
    if (++calls % 2 == 0) {
      count_new_best(rs, 3.0, true);
      update_after_new_best(rs);
    }
    return calls >= 2600 ? MoveOutcome::end_run : MoveOutcome::completed;
  };
  set_command_line({"VER:0", "CKM:2"});
  const StageOutcome o = run_stage([] { run_sequence(); });
  search_seams = SearchSeams{};
  ASSERT_FALSE(o.stopped) << o.errorfile << o.screen.substr(0, 4000);
  EXPECT_EQ(variables.updateallelefre, 1);
  EXPECT_GE(temperatureends, 1);
  EXPECT_GE(occurrences(o.screen, "Updating allele frequency..."), 2u);
  // Refreshed, or put back when the first pass was refused (the second pass, under the old
  // value, is accepted): the value after is one of the two.
  EXPECT_TRUE(inbreeding_after == inbreeding_refreshed || inbreeding_after == inbreeding_at_end)
      << inbreeding_after << " " << inbreeding_refreshed << " " << inbreeding_at_end;
}

}  // namespace
}  // namespace kinrad::test
