#pragma once
// A call that must end in the error stop: expect_stop(f, "Routine") runs f, fails the test when
// it returns normally or stops in another routine, and returns the stop's exit status (-1 when
// there was no stop). The error lines stay in the modules for the caller to check.
//
// expect_stop(f, "Routine", {.flag = 0, .report = true}) also checks the stop's flag (0: the
// insufficient-memory report) and, with report, writes what the program shows on the stop (the
// error file "Kinrad2.ErrorMessage" in the working directory and the screen lines, without the
// pause) and returns the status report_program_stop gives.
#include <gtest/gtest.h>

#include <optional>
#include <string_view>

#include "core/error_stop.hpp"
#include "core/kinds.hpp"

namespace kinrad::testing_support {

struct StopCheck {
  std::optional<int4> flag{};  // the stop's flag, when the test cares
  bool report = false;         // write the error file and screen lines as main does
};

template <class F>
int expect_stop(F&& f, std::string_view routine, StopCheck check = {}) {
  try {
    f();
  } catch (const ProgramStop& stop) {
    EXPECT_EQ(stop.name(), routine);
    if (check.flag) {
      EXPECT_EQ(stop.flag(), *check.flag);
    }
    return check.report ? report_program_stop(stop, 0) : stop.status();
  }
  ADD_FAILURE() << "no error stop; expected one in " << routine;
  return -1;
}

}  // namespace kinrad::testing_support
