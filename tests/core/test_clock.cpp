// The wall clock: readings of the time of day are fed in directly, so the day counter can be
// taken across midnight; expected values are the arithmetic of hours, minutes and seconds.
// The stamps are checked for their shape (digits and the point at fixed places), the pauses
// through the test hook, which records the lengths asked for.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <string>

#include "core/clock.hpp"
#include "core/clock_state.hpp"
#include "support/pauses.hpp"

namespace kinrad {
namespace {

TEST(Clock, WalltimeCountsOnAcrossMidnight) {
  WallClockState state;
  struct Reading {
    int4 hour, minute, second, ms, mode, expected;
  };
  const Reading readings[] = {
      {23, 59, 58, 250, 0, 86398},
      {23, 59, 59, 999, 1, 86399999},
      {0, 0, 1, 5, 0, 86401},  // after midnight: day 1
      {0, 0, 1, 5, 1, 86401005},
      {13, 30, 0, 0, 0, 86400 + 48600},
      {2, 0, 0, 0, 0, 2 * 86400 + 7200},  // a later hour below the previous one: day 2
      {2, 0, 0, 0, 2, 2 * 86400 + 7200},  // any mode but 1 gives seconds
  };
  for (const auto& r : readings) {
    SCOPED_TRACE(std::to_string(r.hour) + ":" + std::to_string(r.minute));
    EXPECT_EQ(walltime_of(state, r.hour, r.minute, r.second, r.ms, r.mode), r.expected);
  }
  EXPECT_EQ(state.daycount, 2);
}

TEST(Clock, WalltimeMillisecondsWrapAsThirtyTwoBitsAfterWeeks) {
  // Day 25 at 0:00: 2160000 s; times 1000 is 2160000000, above 2147483647, so the value
  // wraps to 2160000000 - 4294967296.
  WallClockState state{25, 0};
  EXPECT_EQ(walltime_of(state, 0, 0, 0, 0, 0), 2160000);
  EXPECT_EQ(walltime_of(state, 0, 0, 0, 0, 1), static_cast<int4>(2160000000LL - 4294967296LL));
}

TEST(Clock, PauseUntilTheSecondChangesEndsInTheNextSecond) {
  const int4 t0 = walltime(0);
  pause_until_second_changes();
  const int4 t1 = walltime(0);
  EXPECT_GT(t1, t0);
}

TEST(Clock, PausesGoThroughTheHookWithoutWaiting) {
  const auto start = std::chrono::steady_clock::now();
  {
    testing_support::RecordedPauses pauses;
    sleeping(2);
    pause_until_second_changes();
    pause_seconds(2);
    pause_seconds(0);  // no pause at all
    EXPECT_EQ(pauses.lengths(), (std::vector<int4>{2, 1, 2}));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_EQ(clock_hooks.pause, nullptr);
}

TEST(Clock, DateAndTimeStampsHaveTheirFixedShape) {
  const DateTimeStamp s = date_time_stamp();
  ASSERT_EQ(s.date.size(), 8u);
  ASSERT_EQ(s.time.size(), 10u);
  for (char c : s.date) EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c))) << s.date;
  for (std::size_t k = 0; k < s.time.size(); ++k)
    EXPECT_TRUE(k == 6 ? s.time[k] == '.' : std::isdigit(static_cast<unsigned char>(s.time[k])))
        << s.time;
  EXPECT_GE(s.date.substr(0, 4), "2024");
}

TEST(Clock, ProcessorTimeGrowsWithWork) {
  const real8 t0 = processor_time();
  volatile real8 x = 0;
  while (processor_time() - t0 < 0.01) x = x + 1;
  EXPECT_GE(processor_time() - t0, 0.01);
  EXPECT_GE(t0, 0.0);
}

}  // namespace
}  // namespace kinrad
