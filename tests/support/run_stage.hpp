#pragma once
// Runs one stage of the program as the main program would: the screen output is captured and
// an error stop is caught and reported (without the pause), leaving its exit status and the
// error file "Kinrad2.ErrorMessage" of the working directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/error_stop.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::testing_support {

struct StageOutcome {
  int status = 0;         // 0 when the stage returned normally
  bool stopped = false;   // an error stop or a silent stop ended the stage
  std::string screen;     // everything written to standard output
  std::string errorfile;  // the error file's text, empty when none was written
};

template <class Stage>
StageOutcome run_stage(Stage&& stage) {
  std::error_code ec;
  std::filesystem::remove("Kinrad2.ErrorMessage", ec);
  StageOutcome o;
  testing::internal::CaptureStdout();
  try {
    stage();
  } catch (const ProgramStop& stop) {
    o.stopped = true;
    o.status = report_program_stop(stop, 0);
  }
  o.screen = testing::internal::GetCapturedStdout();
  o.errorfile = read_text("Kinrad2.ErrorMessage");
  return o;
}

}  // namespace kinrad::testing_support
