#include "program/main_program.hpp"

#include <cmath>
#include <csignal>
#include <iostream>
#include <new>

#include "configuration/configuration.hpp"
#include "core/clock.hpp"
#include "core/command_line.hpp"
#include "core/error_stop.hpp"
#include "core/format_write.hpp"
#include "core/modules/variables.hpp"
#include "core/screen.hpp"
#include "core/stem_lock.hpp"
#include "core/stop_signal.hpp"
#include "input/input.hpp"
#include "likelihood/likelihood.hpp"
#include "model/model.hpp"
#include "pairwise/pairwise.hpp"
#include "program/merge_file.hpp"
#include "program/prepare_analysis.hpp"
#include "program/run_archive.hpp"
#include "results/results.hpp"
#include "search/search.hpp"

namespace kinrad {

void initializethreads() {
  variables.threadid = 0;
  variables.numthreads = 1;
  for (auto& line : variables.errmsg) line = "";
  variables.fname.clear();
}

void run_loop(int4 round0, int4& firstq, const RunLoopCalls& calls) {
  real8 roundlogl[6] = {0, 0, 0, 0, 0, 0};  // indexed by round 1..5
  for (variables.krun = 1; variables.krun <= variables.numrun; ++variables.krun) {
    calls.anneal(firstq, round0);
    roundlogl[round0] = variables.btloglikelihood;
    for (int4 r = round0 + 1;; ++r) {
      if (firstq == -1) return;
      firstq = 0;
      if (r > 5) break;
      calls.anneal(firstq, r);
      roundlogl[r] = variables.btloglikelihood;
      const real8 a = roundlogl[r];
      const real8 b = roundlogl[r - 1];
      // Two zero values give a NaN, which fails the test: the rounds go on.
      if (std::fabs(a - b) / (std::fabs(a) + std::fabs(b)) < 0.01) {
        firstq = -1;
        return;
      }
    }
    if (variables.numrun > 1 && variables.threadid == 0) calls.savearchive(variables.krun);
  }
}

void run_phase(std::string_view name, const std::function<void()>& phase) {
  try {
    phase();
  } catch (const std::bad_alloc&) {
    stoponerror(0, name);
  }
}

// The phase a stop by signal names, and a poll of the signal between phases.
void enter_phase(std::string_view routine) {
  stop_signal.routine = routine;
  stop_if_signalled();
}

void run_sequence() {
  initializethreads();
  getcommands();
  if (variables.showversion == 1 && variables.displayq == 1) displayversion();
  prepare_analysis();

  // The pairwise step writes its marker file when it completes; with a whole marker present it
  // is skipped whatever the restart option says. A marker that cannot be read whole (cut
  // short, overwritten) counts as missing: the step runs again and rewrites it.
  enter_phase("PairRelation");
  if (!pairwise_marker_whole()) pairrelation();
  if (variables.smplsize > 49) setcluster();
  enter_phase("ANNEAL");

  int4 round0 = 5;
  if (variables.updateallelefre == 2) {
    int4 status = 0;
    int4 storedround = 0;
    // Only the stored round: the frequencies in force are those every table was built from.
    readmidresult4(status, storedround, false);
    if (status != 0) {
      round0 = 1;
    } else {
      round0 = storedround;
      if (round0 > 5) stop_silently();
    }
  }

  if (variables.locus2.allocated() && variables.locus2(0) > 2 * variables.numthreads) setgtype2();

  int4 firstq = 1;
  variables.krun = 1;
  variables.bestlogl = -1e300;
  run_loop(round0, firstq,
           RunLoopCalls{[](int4& fq, int4 round) { anneal(fq, round); },
                        [](int4 krun) { savearchive(krun); }});

  enter_phase("Output");
  selectrun(firstq);
  output();
  if (variables.numthreads > 1) mergefile(0, 3);
  enter_phase("SibNe");
  if (variables.threadid == 0) sibne();
  // A signal after the last poll of the estimate still ends the analysis as a stop.
  stop_if_signalled();
  // A failure message of an earlier analysis of this stem no longer describes its files.
  if (variables.threadid == 0) remove_stale_error_file(variables.fname, stem_lock.since);
  screen_write("(/2A)", "Output to file : ", variables.fname);
}

int kinrad2p_main(int argc, const char* const* argv) {
#ifdef SIGXFSZ
  // A file-size limit makes the write fail, which the writers report, instead of killing the
  // process without a word and leaving its temporary files.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  install_stop_signals();
  set_command_line(argc, argv);
  int status = 0;
  try {
    run_sequence();
  } catch (const ProgramStop& stop) {
    status = report_program_stop(stop);
  } catch (const std::bad_alloc&) {
    // An allocation outside the phases that name themselves.
    status = report_program_stop(ProgramStop(ProgramStop::Kind::error, 0, "Kinrad2p"));
  }
  release_output_stem();
  std::cout.flush();
  // Stopped by SIGINT or SIGTERM: the stop is reported and the lock released; the process now
  // ends by that signal.
  end_by_stop_signal();
  return status;
}

}  // namespace kinrad
