#pragma once
// The in-run update of the allele frequencies and of everything scored with them: the
// re-estimation from the best configuration, the refresh of the tables under the frequencies
// and the inbreeding coefficient in force, the guard against a harmful update, and the
// rescoring of the current and best configurations and of the archive.
#include "core/kinds.hpp"

namespace kinrad {

struct RunState;

// What one call of update did besides its arguments.
struct UpdateOutcome {
  bool archivechanged = false;  // the archive was rescored (and may hold other records)
  int4 innerpasses = 0;         // refresh-and-guard passes made
  bool restored = false;        // the frequencies were set back to their values before the call
};

// crcndlogl: the current configuration's candidate term (recomputed); crlogprior, bestprior: the
// log priors of the current and best configurations; ipass of npass: this call's place in the
// caller's series (set to 0 when the update was refused and another pass follows); iround: the
// allele-frequency round (the checkpoint of the frequencies records iround + 1); pairq: refresh
// the dyad tables at the end.
UpdateOutcome update(real8& crcndlogl, real8 crlogprior, real8 bestprior, int4& ipass, int4 npass,
                     int4 iround, int4 pairq);

// The run's uses of update besides the new best (update_after_new_best, move_stages.hpp).
// The end of a temperature (after the error-rate refresh): the inbreeding refresh of a selfing
// species and the update passes, then the checkpoint and the sibship-prior recount.
void update_at_temperature_end(RunState& rs);
// The wrap-up of a run with allele-frequency rounds.
void update_at_round_end(RunState& rs, int4 iround);

}  // namespace kinrad
