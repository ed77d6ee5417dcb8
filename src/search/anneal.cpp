// One annealing call: the set-up (run_setup.cpp: a restore from the checkpoints or a fresh start
// with the initial configuration, its score, the best copy and the first archive entry, the
// schedule), the temperature loop and the wrap-up with the final checkpoint.
//
// Only the first call of an analysis may restore. A restore keeps the restored configuration,
// scores, best copy and counters; it recomputes only what follows from them (unassigned
// candidates, cluster tables, the parent-offspring lists).
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <span>
#include <string>

#include "configuration/configuration.hpp"
#include "core/clock.hpp"
#include "core/error_stop.hpp"
#include "core/format_write.hpp"
#include "core/modules.hpp"
#include "core/modules/search_work.hpp"
#include "core/screen.hpp"
#include "core/variables_routines.hpp"
#include "model/model.hpp"
#include "search/move_verdict_internal.hpp"
#include "search/search.hpp"
#include "search/search_internal.hpp"
#include "search/update_internal.hpp"

namespace kinrad {

namespace {

void final_checkpoint(RunState& rs) {
  if (variables.threadid == 0) savemidresult(rs.cp);
}

void wrap_up(RunState& rs, int4 iround) {
  auto& v = variables;
  if (v.displayq == 1) fwrite(std::cout, "(A)", "");
  update_at_round_end(rs, iround);
  final_checkpoint(rs);
  if (rs.splitside > 0) resetknownsib(rs.splitside);
  if (v.threadid == 0 && rs.crshown.numfs != -1) writemidresult(rs);
  v.timespent(1) += v.timespent(2);
}

}  // namespace

void anneal(int4& firstq, int4 iround) {
  auto& v = variables;
  RunState rs;
  prepare_call(rs, iround);
  bool fresh = true;
  if (firstq == 1 && v.restart == 1) {
    bool cutshort = false;
    fresh = !restore(rs, firstq, cutshort);
    if (cutshort) return;
  }
  if (fresh) fresh_start(rs, firstq);
  score_start(rs, fresh);

  if (configuration_fixed()) {
    {
      WindowSave keep;
      v.indivlocprt = v.btindivloc.view();
      v.inferparentprt = v.btinferparent.view();
      v.loglikelihoodprt = &v.btloglikelihood;
      archiveconfigadd(1, v.crnumfamily(3));
    }
    rs.cp.archivechanged = 1;
    final_checkpoint(rs);
    return;
  }
  if (fresh) startparavalues(rs);
  if (v.krun == 1 && v.threadid == 0 && !std::filesystem::exists(progress_log_name()))
    write_progress_log_header();
  finish_setup(rs, iround, fresh);

  if (!temperature_loop(rs, iround)) {
    // The guard: no valid move from the initial configuration. The temporary sibship marks of
    // a refused move go, as at the end of every run.
    final_checkpoint(rs);
    if (rs.splitside > 0) resetknownsib(rs.splitside);
    return;
  }
  wrap_up(rs, iround);
}

}  // namespace kinrad
