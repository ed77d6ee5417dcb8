#include "core/clock.hpp"

#include <chrono>
#include <cstdio>
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
  if (clock_hooks.pause != nullptr) {
    clock_hooks.pause(n);
    return;
  }
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

void pause_seconds(int4 n) {
  if (n <= 0) return;
  if (clock_hooks.pause != nullptr) {
    clock_hooks.pause(n);
    return;
  }
  std::this_thread::sleep_for(std::chrono::seconds(n));
}

DateTimeStamp date_time_stamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) %
                  std::chrono::milliseconds(1000);
  std::tm tm{};
  localtime_r(&t, &tm);
  char date[16];
  char time[16];
  std::snprintf(date, sizeof date, "%04d%02d%02d", (tm.tm_year + 1900) % 10000,
                (tm.tm_mon + 1) % 100, tm.tm_mday % 100);
  std::snprintf(time, sizeof time, "%02d%02d%02d.%03d", tm.tm_hour % 100, tm.tm_min % 100,
                tm.tm_sec % 100, static_cast<int>(ms.count()) % 1000);
  return DateTimeStamp{date, time};
}

real8 processor_time() {
  if (clock_hooks.processor != nullptr) return clock_hooks.processor();
  const std::clock_t c = std::clock();
  return c == static_cast<std::clock_t>(-1) ? -1.0 : static_cast<real8>(c) / CLOCKS_PER_SEC;
}

}  // namespace kinrad
