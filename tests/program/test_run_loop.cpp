// The run loop with its allele-frequency rounds, driven by a scripted search. Expected call
// sequences are worked out by hand from the loop's rules: each run starts at round0, the
// rounds go on to 5, and two successive rounds of one run whose best log likelihoods differ by
// less than 0.01 of the sum of their absolute values end the whole loop at once.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "program/main_program.hpp"
#include "support/module_reset.hpp"

namespace kinrad {
namespace {

struct ScriptedSearch {
  explicit ScriptedSearch(std::vector<real8> values, int cutat = 0)
      : logl(std::move(values)), cutshortatcall(cutat) {}
  std::vector<real8> logl;  // btloglikelihood left by call k (the last value repeats)
  int cutshortatcall = 0;   // call number (1-based) that sets firstq to -1; 0: none
  std::vector<std::pair<int4, int4>> calls;  // (firstq, round) seen by each call
  std::vector<int4> archived;                // runs whose archive was copied

  RunLoopCalls hooks() {
    return RunLoopCalls{[this](int4& firstq, int4 round) {
                          calls.emplace_back(firstq, round);
                          const std::size_t k = calls.size() - 1;
                          variables.btloglikelihood =
                              logl.empty() ? -1e300 : logl[std::min(k, logl.size() - 1)];
                          if (cutshortatcall == static_cast<int>(calls.size())) firstq = -1;
                        },
                        [this](int4 krun) { archived.push_back(krun); }};
  }
};

using Calls = std::vector<std::pair<int4, int4>>;

class RunLoop : public testing_support::ModuleReset {};

TEST_F(RunLoop, WithoutRoundsEveryRunMakesOneCallAtRoundFive) {
  variables.numrun = 3;
  ScriptedSearch s{{-10.0}};
  int4 firstq = 1;
  run_loop(5, firstq, s.hooks());
  EXPECT_EQ(s.calls, (Calls{{1, 5}, {0, 5}, {0, 5}}));
  EXPECT_EQ(s.archived, (std::vector<int4>{1, 2, 3}));
  EXPECT_EQ(firstq, 0);
}

TEST_F(RunLoop, OneRunMakesNoArchiveCopy) {
  variables.numrun = 1;
  ScriptedSearch s{{-10.0}};
  int4 firstq = 1;
  run_loop(5, firstq, s.hooks());
  EXPECT_EQ(s.calls, (Calls{{1, 5}}));
  EXPECT_TRUE(s.archived.empty());
  EXPECT_EQ(firstq, 0);
}

TEST_F(RunLoop, SettledRoundsEndAllRunsWithoutArchiveCopy) {
  // Rounds 1 to 3: |-50 - -100| / 150 = 0.33 goes on; |-49.9 - -50| / 99.9 = 0.001 stops,
  // although a second run remains.
  variables.numrun = 2;
  ScriptedSearch s{{-100.0, -50.0, -49.9}};
  int4 firstq = 1;
  run_loop(1, firstq, s.hooks());
  EXPECT_EQ(s.calls, (Calls{{1, 1}, {0, 2}, {0, 3}}));
  EXPECT_TRUE(s.archived.empty());
  EXPECT_EQ(firstq, -1);
}

TEST_F(RunLoop, RelativeChangeThreshold) {
  struct Row {
    real8 a, b;
    bool stops;
  };
  // 0.5 / 199.5 = 0.0025 stops; 3 / 197 = 0.0152 goes on; 1 / 199 = 0.00503 stops;
  // 2.1 / 197.9 = 0.0106 goes on.
  const Row rows[] = {
      {-100.0, -99.5, true}, {-100.0, -97.0, false}, {-100.0, -99.0, true}, {-100.0, -97.9, false}};
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.a << " " << r.b);
    reset_all_modules();
    variables.numrun = 1;
    // Round 4 and 5 only: the test is made once, between them.
    ScriptedSearch s{{r.a, r.b}};
    int4 firstq = 1;
    run_loop(4, firstq, s.hooks());
    EXPECT_EQ(s.calls, (Calls{{1, 4}, {0, 5}}));
    EXPECT_EQ(firstq, r.stops ? -1 : 0);
  }
}

TEST_F(RunLoop, TwoZeroValuesContinueTheRounds) {
  variables.numrun = 2;
  ScriptedSearch s{{0.0}};
  int4 firstq = 1;
  run_loop(1, firstq, s.hooks());
  EXPECT_EQ(
      s.calls,
      (Calls{{1, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}}));
  EXPECT_EQ(s.archived, (std::vector<int4>{1, 2}));
}

TEST_F(RunLoop, ResumedRoundStartsEveryRun) {
  // Values far apart so that no round settles.
  variables.numrun = 2;
  ScriptedSearch s{{-100.0, -200.0, -400.0, -800.0, -1600.0, -3200.0}};
  int4 firstq = 1;
  run_loop(3, firstq, s.hooks());
  EXPECT_EQ(s.calls, (Calls{{1, 3}, {0, 4}, {0, 5}, {0, 3}, {0, 4}, {0, 5}}));
  EXPECT_EQ(s.archived, (std::vector<int4>{1, 2}));
}

TEST_F(RunLoop, SearchThatCutsShortEndsTheLoopAtOnce) {
  variables.numrun = 3;
  ScriptedSearch s{{-10.0}, 1};
  int4 firstq = 1;
  run_loop(5, firstq, s.hooks());
  EXPECT_EQ(s.calls, (Calls{{1, 5}}));
  EXPECT_TRUE(s.archived.empty());
  EXPECT_EQ(firstq, -1);
}

TEST_F(RunLoop, CutShortInTheSecondRunKeepsTheFirstCopy) {
  variables.numrun = 3;
  ScriptedSearch s{{-10.0}, 2};
  int4 firstq = 1;
  run_loop(5, firstq, s.hooks());
  EXPECT_EQ(s.calls, (Calls{{1, 5}, {0, 5}}));
  EXPECT_EQ(s.archived, (std::vector<int4>{1}));
  EXPECT_EQ(firstq, -1);
}

}  // namespace
}  // namespace kinrad
