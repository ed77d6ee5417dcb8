#include "program/prepare_analysis.hpp"

#include "core/modules/variables.hpp"
#include "core/stop_signal.hpp"
#include "input/input.hpp"
#include "model/model.hpp"
#include "pairwise/pairwise.hpp"
#include "program/main_program.hpp"

namespace kinrad {

void analysis_tables() {
  const Variables& v = variables;
  initialfsprob(1, 1, v.numloci);
  // The dyad tables are built from the restarted frequencies initialfsprob left in force.
  calculatepairprob(1);
  setgetbestcnd();
  if (v.numsex == 1 && v.allowinbreeding == 1) calculateprbgtopself(1, v.numloci);
}

void prepare_analysis(const PrepareOptions& options) {
  auto phase = [&](const char* name, void (*step)()) {
    // A stop by signal names the phase it came in.
    stop_signal.routine = name;
    stop_if_signalled();
    if (options.named_phases)
      run_phase(name, step);
    else
      step();
  };
  phase("ReadData", readdata);
  if (options.quiet) variables.displayq = 0;
  phase("Initialize", initialize);
  phase("DataProcess", dataprocess);
  if (options.check_data && variables.threadid == 0) phase("CheckData", checkdata);
  if (options.tables) phase("InitialFSProb", analysis_tables);
}

}  // namespace kinrad
