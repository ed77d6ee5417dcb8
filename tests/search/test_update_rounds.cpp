// Allele-frequency rounds through the program's sequence (pairwise score with updating on): the
// rounds loop, the shortened schedules of rounds 1 to 4, the allele-frequency checkpoint after
// each round, the empty archive at each round's start, and the resume at the stored round. The
// moves are replaced by a body that records the call and reports one new best.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/command_line.hpp"
#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/search_seams.hpp"
#include "model/model.hpp"
#include "program/main_program.hpp"
#include "search/search_internal.hpp"
#include "support/archive_builder.hpp"
#include "support/module_reset.hpp"
#include "support/pauses.hpp"
#include "support/run_stage.hpp"
#include "support/temp_dir.hpp"
#include "update_fixture.hpp"

namespace kinrad::test {
namespace {

using testing_support::read_text;
using testing_support::RecordedPauses;
using testing_support::run_stage;
using testing_support::StageOutcome;
using testing_support::TempWorkDir;
using testing_support::write_text;

struct HooksOff {
  HooksOff() { search_seams = SearchSeams{}; }
  ~HooksOff() { search_seams = SearchSeams{}; }
};

testing_support::ProjectFile rounds_project() {
  testing_support::ProjectFile p = update_project();
  p.method = "0";
  p.update = "1";
  p.droprates = "0.02@";
  p.otherrates = "0.02@";
  // 20 offspring: a base length above 40, which the early rounds divide by 5.
  const char* g[8] = {"1 2 1 2 1 1", "2 2 2 2 2 3", "1 1 1 2 3 3", "1 2 1 1 1 2",
                      "2 2 1 2 2 2", "1 2 2 2 1 3", "1 1 1 1 2 3", "1 2 1 2 3 3"};
  for (int k = 0; k < 8; ++k) p.offspring.push_back("O" + std::to_string(k + 13) + " " + g[k]);
  return p;
}

// One whole analysis in the working directory, under the search seams set before the call.
StageOutcome analyse() {
  testing_support::reset_all_modules_but_search_seams();
  set_command_line({"VER:0"});
  return run_stage([] { run_sequence(); });
}

// The round stored in the allele-frequency checkpoint (0 when there is none).
int4 stored_round() {
  if (!std::filesystem::exists("myout.MidResult4")) return 0;
  int4 status = 0, round = 0;
  readmidresult4(status, round, false);
  return status == 0 ? round : -1;
}

// What the body saw at the first move of each call.
struct CallSeen {
  int4 b = 0;
  int4 storedround = 0;
  int4 archived = 0;
  bool headisbest = false;
  std::vector<real8> fre;
};

struct RoundsBody {
  std::vector<CallSeen> calls;
  bool spread = true;  // make each round's best score differ by more than the 0.01 test
  MoveOutcome operator()(RunState& rs) {
    auto& v = variables;
    CallSeen c;
    c.b = rs.sched.b;
    c.storedround = stored_round();
    c.archived = testing_support::archive_length();
    c.headisbest = v.confighead != nullptr && v.confighead->logl == v.btloglikelihood;
    for (int4 l = 1; l <= v.numloci; ++l)
      for (int4 a = 1; a <= v.obsnumallele(l); ++a) c.fre.push_back(v.obsallelefre(l).a(a));
    calls.push_back(c);
    count_new_best(rs, 1.0, true);
    if (spread) v.btloglikelihood = -100.0 * std::pow(2.0, static_cast<real8>(calls.size()));
    return MoveOutcome::end_run;
  }
};

TEST(UpdateRounds, FiveRoundsWithShortSchedulesAndACheckpointEach) {
  RecordedPauses pauses;
  TempWorkDir dir("update_rounds");
  HooksOff hooks;
  write_text("kinrad2.dat", rounds_project().text());
  RoundsBody body;
  search_seams.body = std::ref(body);
  const StageOutcome o = analyse();
  ASSERT_FALSE(o.stopped) << o.errorfile;
  ASSERT_EQ(body.calls.size(), 5u);
  // Rounds 1 to 4 run a fifth of the base length of round 5 (integer division).
  for (std::size_t k = 0; k < 4; ++k) EXPECT_EQ(body.calls[k].b, body.calls[4].b / 5) << k;
  for (std::size_t k = 0; k < 5; ++k) {
    SCOPED_TRACE(k + 1);
    // The checkpoint written at the end of round k holds round k + 1.
    EXPECT_EQ(body.calls[k].storedround, k == 0 ? 0 : static_cast<int4>(k + 1));
    // Each round starts with its own first best alone in the archive.
    EXPECT_EQ(body.calls[k].archived, 1);
    EXPECT_TRUE(body.calls[k].headisbest);
    // Each round runs under the frequencies the previous one estimated.
    if (k > 0) {
      EXPECT_NE(body.calls[k].fre, body.calls[k - 1].fre);
    }
  }
  EXPECT_EQ(stored_round(), 6);
}

TEST(UpdateRounds, EndByTheOnePercentTest) {
  RecordedPauses pauses;
  TempWorkDir dir("update_rounds_converged");
  HooksOff hooks;
  write_text("kinrad2.dat", rounds_project().text());
  RoundsBody body;
  body.spread = false;
  search_seams.body = std::ref(body);
  const StageOutcome o = analyse();
  ASSERT_FALSE(o.stopped) << o.errorfile;
  // Round 2 starts from the same initial configuration: its score moved by less than 1 %.
  ASSERT_EQ(body.calls.size(), 2u);
  EXPECT_EQ(stored_round(), 3);
}

// An analysis stopped in the middle of round 3, after the round's checkpoint, starts again at
// round 3 under the round-3 frequencies, frees the archive and re-archives the restored best.
TEST(UpdateRounds, ResumeAtTheStoredRound) {
  RecordedPauses pauses;
  TempWorkDir dir("update_rounds_resume");
  HooksOff hooks;
  write_text("kinrad2.dat", rounds_project().text());
  RoundsBody body;
  int4 call = 0;
  real8 round3fre = 0.0;
  search_seams.checkpoint_at = 1;
  search_seams.body = [&](RunState& rs) {
    ++call;
    if (call == 3) {
      // Round 3: the checkpoint of its first iteration is on disk; one more best is archived
      // so that the restore's freeing shows, then the analysis is abandoned.
      round3fre = variables.obsallelefre(3).a(1);
      EXPECT_EQ(stored_round(), 3);
      if (rs.cp.numiterate == 1) return MoveOutcome::completed;
    }
    if (call > 3) {
      WindowSave keep;
      variables.indivlocprt = variables.crindivloc.view();
      variables.inferparentprt = variables.inferparent.view();
      real8 other = variables.btloglikelihood - 1.0;
      variables.loglikelihoodprt = &other;
      archiveconfigadd(3, variables.crnumfamily(3));
      rs.cp.archivechanged = 1;
      savemidresult(rs.cp);
      stop_silently();
    }
    return body(rs);
  };
  const StageOutcome first = analyse();
  ASSERT_TRUE(first.stopped);
  ASSERT_EQ(stored_round(), 3);

  // The second analysis: rounds 3 to 5.
  search_seams = SearchSeams{};
  RoundsBody again;
  int4 archived_at_restore = -1;
  bool headisbest = false;
  real8 fre_at_restore = 0.0;
  bool firstcall = true;
  search_seams.body = [&](RunState& rs) {
    if (firstcall) {
      firstcall = false;
      archived_at_restore = testing_support::archive_length();
      headisbest = variables.confighead != nullptr &&
                   variables.confighead->logl == variables.btloglikelihood;
      fre_at_restore = variables.obsallelefre(3).a(1);
    }
    return again(rs);
  };
  const StageOutcome second = analyse();
  ASSERT_FALSE(second.stopped) << second.errorfile;
  EXPECT_EQ(again.calls.size(), 3u);  // rounds 3, 4 and 5
  EXPECT_EQ(archived_at_restore, 1);
  EXPECT_TRUE(headisbest);
  EXPECT_EQ(fre_at_restore, round3fre);
  EXPECT_EQ(stored_round(), 6);
}

// Stopped between rounds 2 and 3 (the frequency checkpoint already names round 3, the state
// checkpoint is round 2's final state): the restart continues that state as round 3.
TEST(UpdateRounds, StoppedBetweenRoundsContinuesTheStateAsTheNextRound) {
  RecordedPauses pauses;
  TempWorkDir dir("update_rounds_between");
  HooksOff hooks;
  write_text("kinrad2.dat", rounds_project().text());
  RoundsBody body;
  search_seams.body = [&](RunState& rs) {
    if (body.calls.size() == 2) stop_silently();
    return body(rs);
  };
  ASSERT_TRUE(analyse().stopped);
  ASSERT_EQ(stored_round(), 3);

  search_seams = SearchSeams{};
  RoundsBody again;
  int4 restorestatus = -1;
  real8 restoredbest = 0.0;
  search_seams.body = [&](RunState& rs) {
    if (again.calls.empty()) {
      restorestatus = rs.restorestatus;
      restoredbest = variables.btloglikelihood;
    }
    return again(rs);
  };
  const StageOutcome second = analyse();
  ASSERT_FALSE(second.stopped) << second.errorfile;
  EXPECT_EQ(again.calls.size(), 3u);  // rounds 3, 4 and 5
  EXPECT_EQ(restorestatus, 0);
  // Round 2's final best, as the body of round 2 left it (-100 x 2^2).
  EXPECT_EQ(restoredbest, -400.0);
  EXPECT_EQ(again.calls[0].archived, 1);
  EXPECT_TRUE(again.calls[0].headisbest);
}

}  // namespace
}  // namespace kinrad::test
