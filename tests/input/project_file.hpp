#pragma once
// The reader tests: a project file (the shared builder) read in a fresh working directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "input/input.hpp"
#include "support/module_reset.hpp"
#include "support/project_file.hpp"
#include "support/run_stage.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::readtest {

using testing_support::dataerror;
using testing_support::ProjectFile;
using testing_support::routinestop;

class ReaderTest : public testing_support::ModuleReset {
 protected:
  // Runs the reader on `text` as kinrad2.dat; returns the exit status of the stop (0 when the
  // reader returned normally) and keeps the error file's text and the screen output.
  int run(const std::string& text) {
    reset_all_modules();
    std::filesystem::remove("Kinrad2.ErrorMessage");
    testing_support::write_text("kinrad2.dat", text);
    const testing_support::StageOutcome o = testing_support::run_stage([] { readdata(); });
    screen = o.screen;
    errorfile = o.errorfile;
    return o.status;
  }
  int run(const ProjectFile& p) { return run(p.text()); }

  testing_support::TempWorkDir dir{"reader_items"};
  std::string errorfile;
  std::string screen;
};

}  // namespace kinrad::readtest
