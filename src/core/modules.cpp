#include "core/modules.hpp"

#include "core/clock_state.hpp"
#include "core/command_line.hpp"
#include "core/config_record.hpp"
#include "core/modules/configuration_work.hpp"
#include "core/modules/likelihood_seams.hpp"
#include "core/modules/likelihood_work.hpp"
#include "core/modules/pairwise_seams.hpp"
#include "core/modules/pairwise_work.hpp"
#include "core/modules/results_seams.hpp"
#include "core/modules/run_memos.hpp"
#include "core/modules/search_seams.hpp"
#include "core/modules/search_work.hpp"
#include "core/modules/variables.hpp"
#include "core/modules/work_growth.hpp"
#include "core/random_numbers.hpp"
#include "core/stem_lock.hpp"

namespace kinrad {

void reset_all_modules() {
  // The archive list owns its records; the module's references to them only point.
  for (Config* p = variables.confighead; p != nullptr;) {
    Config* next = p->next;
    delete p;
    p = next;
  }
  variables = Variables{};
  setgetgtype = Setgetgtype{};
  likelihoodvar = Likelihoodvar{};
  familyloglvar = Familyloglvar{};
  absorbvar = Absorbvar{};
  annealvariables = Annealvariables{};
  simuvariables = Simuvariables{};
  writevar = Writevar{};
  dyadprbvariables = Dyadprbvariables{};
  // Phase scratch: grow-only buffers, released so that a second analysis starts as the first.
  configuration_work = ConfigurationWork{};
  likelihood_work = LikelihoodWork{};
  pairwise_work = PairwiseWork{};
  search_work = SearchWork{};
  work_growth = WorkGrowth{};
  // Memos of the data of one analysis, and the phases' test seams.
  run_memos = RunMemos{};
  likelihood_seams = LikelihoodSeams{};
  trio_engine_calls = TrioEngineCalls{};
  results_seams = ResultsSeams{};
  search_seams = SearchSeams{};
  // State kept outside the modules: the random streams, the command line, the day count of the
  // wall clock and the lock of the output stem. The clock's pause and processor-time hooks are
  // not reset: they belong to the test harness, which sets them around whole analyses. Nor is
  // the record of a stop signal (core/stop_signal): it belongs to the process, written by the
  // handler at any moment; a reset would drop a request that arrived between two analyses, and
  // the main program ends by the recorded signal once the stop is reported.
  random_stream_state = RandomStreamState{};
  command_line = CommandLine{};
  wall_clock_state = WallClockState{};
  release_output_stem();
}

}  // namespace kinrad
