// Proposals from the search's own move choice on the soak matrix's simulated samples: inside
// a real annealing call (the run's set-up, the choice's tables), every admitted proposal is
// recounted from the proposed configuration built explicitly and undone (proposal_check.hpp);
// the admitted proposals that the independent validator finds invalid and the refusals are
// tallied and printed. The iteration body of the test takes the place of the scoring, so the
// configuration stays the run's initial one.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "configuration/soak/soak_matrix.hpp"
#include "core/modules.hpp"
#include "core/modules/search_seams.hpp"
#include "search/proposal_check.hpp"
#include "search/search.hpp"
#include "support/prepare.hpp"
#include "support/run_stage.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::test {
namespace {

using testing_support::run_stage;
using testing_support::StageOutcome;
using testing_support::TempWorkDir;

struct HooksOff {
  HooksOff() { search_seams = SearchSeams{}; }
  ~HooksOff() { search_seams = SearchSeams{}; }
};

// Drives `target` admitted proposals of the real choice through the check; returns the tally.
ProposalTally soak(const DataSet& d, int target) {
  Truth truth;
  const testing_support::ProjectFile p = simulate(d, truth);
  ProposalTally tally;
  if (!testing_support::prepare(p)) return tally;
  HooksOff hooks;
  int choices = 0;
  search_seams.body = [&](RunState& rs) {
    if (!choose_move(rs)) return MoveOutcome::refused;
    ++choices;
    const int4 type = annealvariables.movingtype;
    if (type != 1 && type != 2) return MoveOutcome::end_run;  // no choice to check
    check_proposal(rs, move_in_hand(rs), tally);
    count_scored(rs);
    if (::testing::Test::HasFailure() || tally.admitted >= target) return MoveOutcome::end_run;
    return MoveOutcome::completed;
  };
  const StageOutcome o = run_stage([] {
    int4 firstq = 1;
    variables.krun = 1;
    anneal(firstq, 5);
  });
  EXPECT_FALSE(o.stopped) << o.errorfile;
  // The checks ran inside the stage, whose screen output holds their messages.
  if (::testing::Test::HasFailure())
    ADD_FAILURE() << "inside the run:\n" << o.screen.substr(0, 6000);
  std::printf("%s: %d choices, %d proposals built, %d admitted\n", d.name, choices, tally.proposals,
              tally.admitted);
  for (const auto& [fault, count] : tally.invalid)
    std::printf("  admitted but invalid for the validator (%s): %d\n", fault.c_str(), count);
  return tally;
}

class ProposalSoak : public ::testing::TestWithParam<DataSet> {
 protected:
  TempWorkDir dir_{"proposal_soak"};
  void TearDown() override { reset_all_modules(); }
};

class ProposalSoakSlow : public ProposalSoak {};

TEST_P(ProposalSoak, RealChoicesMatchTheRecount) {
  const ProposalTally t = soak(GetParam(), 1000);
  if (t.proposals == 0) GTEST_SKIP() << "the move choice proposes nothing yet";
  EXPECT_GE(t.admitted, 1000);
}

TEST_P(ProposalSoakSlow, TenThousandRealChoicesMatchTheRecount) {
  const ProposalTally t = soak(GetParam(), 10000);
  if (t.proposals == 0) GTEST_SKIP() << "the move choice proposes nothing yet";
  EXPECT_GE(t.admitted, 10000);
}

INSTANTIATE_TEST_SUITE_P(Samples, ProposalSoak, ::testing::ValuesIn(matrix()),
                         [](const ::testing::TestParamInfo<DataSet>& row) {
                           return std::string(row.param.name);
                         });
INSTANTIATE_TEST_SUITE_P(Samples, ProposalSoakSlow, ::testing::ValuesIn(matrix()),
                         [](const ::testing::TestParamInfo<DataSet>& row) {
                           return std::string(row.param.name);
                         });

}  // namespace
}  // namespace kinrad::test
