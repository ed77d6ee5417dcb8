#include "core/clock.hpp"

#include <chrono>
#include <ctime>
#include <thread>

#include "core/clock_state.hpp"

namespace kinrad {

namespace {

// Wraps a 64-bit count to 32 bits the way two's-complement arithmetic does, so the value
// stays the one a 32-bit counter gives after weeks of running, without overflow.
int4 wrap32(int8 v) {
  return static_cast<int4>(static_cast<std::uint32_t>(v));
}

// The part of the current wall-clock second already gone.
std::chrono::nanoseconds into_current_second() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
      now - std::chrono::floor<std::chrono::seconds>(now));
}

// Waits until the wall clock has passed n more whole-second marks, measured on the monotonic
// clock, so that a change of the system time or of daylight saving cannot cut the pause short
// or stretch it.
void wait_whole_seconds(int4 n) {
  if (n <= 0) return;
  const auto start = std::chrono::steady_clock::now();
  const auto delay = std::chrono::seconds(n) - into_current_second();
  std::this_thread::sleep_until(start + delay);
}

}  // namespace

int4 walltime_of(WallClockState& state, int4 hour, int4 minute, int4 second, int4 millisecond,
                 int4 mode) {
  if (hour < state.lasthour) ++state.daycount;
  state.lasthour = hour;
  const int8 t = (static_cast<int8>(state.daycount) * 24 + hour) * 3600 + minute * 60 + second;
  return mode == 1 ? wrap32(t * 1000 + millisecond) : wrap32(t);
}

int4 walltime(int4 mode) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t secs = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&secs, &local);
  const auto since_epoch = now.time_since_epoch();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      since_epoch - std::chrono::floor<std::chrono::seconds>(since_epoch));
  return walltime_of(wall_clock_state, local.tm_hour, local.tm_min, local.tm_sec,
                     static_cast<int4>(ms.count()), mode);
}

void sleeping(int4 n) {
  walltime(0);  // keeps the day counter current, as every reading does
  wait_whole_seconds(n);
}

void pause_until_second_changes() {
  walltime(0);
  wait_whole_seconds(1);
}

}  // namespace kinrad
