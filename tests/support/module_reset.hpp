#pragma once
// The fixture of tests that touch module state: every module (and the phase scratch, random
// streams and command line) is reset before and after each test, so no test sees another's.
#include <gtest/gtest.h>

#include <utility>

#include "core/modules.hpp"
#include "core/modules/search_seams.hpp"

namespace kinrad::testing_support {

// The reset at the start of a whole analysis (or of the sequence up to one search) that a test
// runs under the search seams it has set: every module is reset, and the seams are put back
// after the reset, as the test meant them for this run.
inline void reset_all_modules_but_search_seams() {
  SearchSeams seams = std::move(search_seams);
  reset_all_modules();
  search_seams = std::move(seams);
}

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
