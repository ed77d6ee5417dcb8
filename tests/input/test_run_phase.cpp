// A phase of the analysis whose allocation fails stops through the error stop with the memory
// flag, naming the phase; the expected error file is written by hand from the error stop's
// rules (the memory line in place of the error lines, then the closing line).
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "program/main_program.hpp"
#include "support/expect_stop.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

TEST(RunPhase, FailedAllocationIsAMemoryStopNamingThePhase) {
  testing_support::TempWorkDir dir{"run_phase"};
  reset_all_modules();
  variables.fname = "myout";
  variables.displayq = 0;
  // What a failed allocation throws (an unused allocation may be optimised away, so the
  // failure is raised directly).
  EXPECT_EQ(
      testing_support::expect_stop([] { run_phase("ReadData", [] { throw std::bad_alloc(); }); },
                                   "ReadData", {.flag = 0, .report = true}),
      1);
  EXPECT_EQ(testing_support::read_text("Kinrad2.ErrorMessage"),
            "Program stopped due to insufficient memory!\n"
            "Program stopped in subroutine ReadData, dataset = myout.\n");
}

TEST(RunPhase, OtherOutcomesPassThrough) {
  reset_all_modules();
  int calls = 0;
  run_phase("Initialize", [&] { ++calls; });
  EXPECT_EQ(calls, 1);
  testing_support::expect_stop(
      [] { run_phase("DataProcess", [] { stopondataerror("a data error"); }); }, "StopOnDataError",
      {.flag = 1});
}

}  // namespace
}  // namespace kinrad
