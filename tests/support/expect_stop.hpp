#pragma once
// A call that must end in the error stop: expect_stop(f, "Routine") runs f, fails the test when
// it returns normally or stops in another routine, and returns the stop's exit status (-1 when
// there was no stop). The error lines stay in the modules for the caller to check.
#include <gtest/gtest.h>

#include <string_view>

#include "core/error_stop.hpp"

namespace kinrad::testing_support {

template <class F>
int expect_stop(F&& f, std::string_view routine) {
  try {
    f();
  } catch (const ProgramStop& stop) {
    EXPECT_EQ(stop.name(), routine);
    return stop.status();
  }
  ADD_FAILURE() << "no error stop; expected one in " << routine;
  return -1;
}

}  // namespace kinrad::testing_support
