#pragma once
// Runs one stage of the program as the main program would: the screen output is captured and
// an error stop is caught and reported (without the pause), leaving its exit status and the
// text of the error file "Kinrad2.ErrorMessage" it wrote. Files already in the working
// directory, an old error file among them, are left alone.
#include <gtest/gtest.h>

#include <string>

#include "core/error_stop.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::testing_support {

struct StageOutcome {
  int status = 0;         // 0 when the stage returned normally
  bool stopped = false;   // an error stop or a silent stop ended the stage
  std::string screen;     // everything written to standard output
  std::string errorfile;  // the text of the error file an error stop wrote, else empty
};

template <class Stage>
StageOutcome run_stage(Stage&& stage) {
  StageOutcome o;
  bool error_stop = false;
  testing::internal::CaptureStdout();
  try {
    stage();
  } catch (const ProgramStop& stop) {
    o.stopped = true;
    error_stop = stop.kind() == ProgramStop::Kind::error;
    o.status = report_program_stop(stop, 0);
  }
  o.screen = testing::internal::GetCapturedStdout();
  if (error_stop) o.errorfile = read_text("Kinrad2.ErrorMessage");
  return o;
}

}  // namespace kinrad::testing_support
