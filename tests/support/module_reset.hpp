#pragma once
// The fixture of tests that touch module state: every module (and the phase scratch, random
// streams and command line) is reset before and after each test, so no test sees another's.
#include <gtest/gtest.h>

#include "core/modules.hpp"

namespace kinrad::testing_support {

class ModuleReset : public ::testing::Test {
 protected:
  void SetUp() override { reset_all_modules(); }
  void TearDown() override { reset_all_modules(); }
};

// The same for a parameterised test.
template <class Param>
class ModuleResetWithParam : public ::testing::TestWithParam<Param> {
 protected:
  void SetUp() override { reset_all_modules(); }
  void TearDown() override { reset_all_modules(); }
};

}  // namespace kinrad::testing_support
