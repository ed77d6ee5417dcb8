// The threshold rule on synthetic replicate tables. Expected positions come from working the
// rule by hand on tables whose shares are constant or known in closed form, and from a direct
// transcription of the rule (stable sort of distinct DELTAs, shares counted afresh at every
// position, window means by definition) for a table with a changing share.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/simuvariables.hpp"
#include "pairwise/delta_simulation_internal.hpp"

namespace kinrad {
namespace {

struct Table {
  std::vector<real8> delta;
  std::vector<int1> istrue;
};

std::vector<real8> run_rule(const Table& t, int4 sex = 1) {
  FArray<real8, 2> thresh(Dim(2), Dim(10));
  determinethreshold(sex, static_cast<int4>(t.delta.size()), t.delta.data(), t.istrue.data(),
                     thresh);
  std::vector<real8> out;
  for (int4 m = 1; m <= 10; ++m) out.push_back(thresh(sex, m));
  return out;
}

// The rule written out directly: n positions of distinct DELTAs.
std::vector<real8> transcribed_rule(const Table& t) {
  const std::size_t n = t.delta.size();
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return t.delta[a] < t.delta[b]; });
  std::vector<double> share(n + 1), smooth(n + 1);
  for (std::size_t i = 1; i <= n; ++i) {
    int c = 0;
    for (std::size_t j = i; j <= n; ++j) c += t.istrue[order[j - 1]];
    share[i] = double(c) / double(n + 1 - i);
  }
  for (std::size_t i = 1; i <= n; ++i) {
    const std::size_t lo = i > 10 ? i - 10 : 1;
    const std::size_t hi = std::min(i + 10, n);
    double s = 0;
    for (std::size_t j = lo; j <= hi; ++j) s += share[j];
    smooth[i] = s / double(hi - lo + 1);
  }
  std::vector<real8> out;
  std::size_t pos = 1;
  for (int level = 95; level >= 50; level -= 5) {
    const double p = level * 0.01;
    if (p > smooth[n]) {
      pos = n;
    } else {
      for (std::size_t i = n; i >= 1; --i)
        if (smooth[i] <= p) {
          pos = i;
          break;
        }
    }
    out.push_back(t.delta[order[pos - 1]]);
  }
  return out;
}

void expect_non_increasing(const std::vector<real8>& th) {
  for (std::size_t m = 1; m < th.size(); ++m) EXPECT_LE(th[m], th[m - 1]) << "level " << m + 1;
}

// DELTA values 1..n in a scrambled order (k * 37 mod n is a permutation for n prime to 37).
Table scrambled(int n) {
  Table t;
  for (int i = 0; i < n; ++i) t.delta.push_back(1.0 + (i * 37) % n);
  t.istrue.assign(static_cast<std::size_t>(n), 0);
  return t;
}

TEST(DetermineThreshold, EveryReplicateCorrectGivesTheSmallestDeltaAtEveryLevel) {
  // Share and smoothed share are 1 everywhere: no position has a share at or below any level,
  // so the first level takes position 1 and the others keep it.
  Table t = scrambled(100);
  t.istrue.assign(100, 1);
  const auto th = run_rule(t);
  for (int m = 0; m < 10; ++m) EXPECT_EQ(th[static_cast<std::size_t>(m)], 1.0) << m + 1;
}

TEST(DetermineThreshold, NoCorrectReplicateGivesTheLargestDeltaAtEveryLevel) {
  // Smoothed share 0 at the top: every level lies above it, position n.
  const Table t = scrambled(100);
  const auto th = run_rule(t, 2);
  for (int m = 0; m < 10; ++m) EXPECT_EQ(th[static_cast<std::size_t>(m)], 100.0) << m + 1;
}

TEST(DetermineThreshold, TopReplicateWrongKeepsEveryLevelAtTheTop) {
  // Only the largest DELTA is wrong: share(i) = (n - i)/(n + 1 - i). At the top the window
  // holds the 11 positions n-10..n: (10/11 + 9/10 + ... + 1/2 + 0)/11 = 0.7255, the smallest
  // smoothed share anywhere (lower windows hold shares closer to 1). Levels 95..75 lie above
  // it (position n); levels 70..50 find no position at or below them and keep position n.
  Table t = scrambled(101);
  for (std::size_t i = 0; i < t.delta.size(); ++i) t.istrue[i] = t.delta[i] < 101.0 ? 1 : 0;
  const auto th = run_rule(t);
  for (int m = 0; m < 10; ++m) EXPECT_EQ(th[static_cast<std::size_t>(m)], 101.0) << m + 1;
}

TEST(DetermineThreshold, BottomWindowAndChangingShareFollowTheRule) {
  // Correct exactly above DELTA 60 of 1..100, and a table whose correct share rises with
  // DELTA in steps: both against the transcription of the rule, and both monotone.
  struct Case {
    std::string name;
    Table table;
  };
  std::vector<Case> cases;
  {
    Table t = scrambled(100);
    for (std::size_t i = 0; i < t.delta.size(); ++i) t.istrue[i] = t.delta[i] > 60.0 ? 1 : 0;
    cases.push_back({"step at 60", t});
  }
  {
    Table t = scrambled(211);
    // Correct when (DELTA mod 10) < DELTA / 21: none at the bottom, nearly all at the top.
    for (std::size_t i = 0; i < t.delta.size(); ++i) {
      const int d = static_cast<int>(t.delta[i]);
      t.istrue[i] = (d % 10) < d / 21 ? 1 : 0;
    }
    cases.push_back({"rising share", t});
  }
  {
    // Only the 12 smallest DELTAs correct: the bottom window's shares decide.
    Table t = scrambled(30);
    for (std::size_t i = 0; i < t.delta.size(); ++i) t.istrue[i] = t.delta[i] <= 12.0 ? 1 : 0;
    cases.push_back({"correct at the bottom", t});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto th = run_rule(c.table);
    EXPECT_EQ(th, transcribed_rule(c.table));
    if (c.name != "correct at the bottom") expect_non_increasing(th);
  }
}

TEST(DetermineThreshold, LeavesTheOtherRowAndTheInputsAlone) {
  Table t = scrambled(50);
  for (std::size_t i = 0; i < t.delta.size(); ++i) t.istrue[i] = t.delta[i] > 25.0 ? 1 : 0;
  const Table before = t;
  FArray<real8, 2> thresh(Dim(2), Dim(10));
  thresh.fill(-7.0);
  determinethreshold(2, 50, t.delta.data(), t.istrue.data(), thresh);
  for (int4 m = 1; m <= 10; ++m) EXPECT_EQ(thresh(1, m), -7.0);
  EXPECT_EQ(t.delta, before.delta);
  EXPECT_EQ(t.istrue, before.istrue);
}

}  // namespace
}  // namespace kinrad
