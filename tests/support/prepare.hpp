#pragma once
// Data as the program prepares it: the real reader, initialisation and data preparation (and,
// unless asked not to, the per-analysis set-up) run on a project file in the current working
// directory.
#include <gtest/gtest.h>

#include <string>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "input/input.hpp"
#include "model/model.hpp"
#include "program/prepare_analysis.hpp"
#include "support/project_file.hpp"
#include "support/run_stage.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::testing_support {

// Returns false (after a test failure showing the error file) when the program stopped.
inline bool prepare(const std::string& project, bool setup = true) {
  reset_all_modules();
  write_text("kinrad2.dat", project);
  const StageOutcome o = run_stage([setup] {
    prepare_analysis({.quiet = true, .check_data = false, .tables = setup, .named_phases = false});
  });
  if (o.stopped) ADD_FAILURE() << o.errorfile;
  return !o.stopped;
}

inline bool prepare(const ProjectFile& project, bool setup = true) {
  return prepare(project.text(), setup);
}

}  // namespace kinrad::testing_support
