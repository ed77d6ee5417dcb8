// Where a run updates the allele frequencies: on an interval of new best configurations, at the
// end of a temperature (with the inbreeding refresh of a selfing species), and at the end of an
// allele-frequency round.
#include <algorithm>
#include <cmath>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "search/search_internal.hpp"
#include "search/update_internal.hpp"

namespace kinrad {

void update_after_new_best(RunState& rs) {
  auto& v = variables;
  auto& cp = rs.cp;
  if (v.fulllikelihoodmethodq == 0) return;
  ++cp.updatecount;
  if (v.updateallelefre != 1) return;
  // Fewer updates at later temperatures and with fewer loci; single precision as designed.
  const real4 loci = static_cast<real4>(std::max(v.numloci23 / 2, 5));
  const int4 interval =
      static_cast<int4>(std::lroundf((100.0f / static_cast<real4>(cp.tmr) + 1.0f) * loci));
  if (interval <= 0 || cp.updatecount % interval != 0) return;
  if (!(0.7 * static_cast<real8>(cp.itr) > static_cast<real8>(cp.nsucc))) return;
  int4 ipass = 1;
  const UpdateOutcome o =
      update(cp.oldcndlogl, cp.oldlogprior, v.btconfigprior, ipass, 1, 1, rs.archiveon());
  if (o.archivechanged) cp.archivechanged = 1;
}

void update_at_temperature_end(RunState& rs) {
  auto& v = variables;
  auto& cp = rs.cp;
  // Under the pairwise score the dyad tables and the running score stay as the set-up made
  // them: no update at the end of a temperature.
  if (v.fulllikelihoodmethodq == 0) return;
  if (!(cp.updatecount > 0 && rs.successrate <= 0.7)) return;
  cp.updatecount = 0;
  const real8 old = v.inbreeding;
  int4 npass = v.updateallelefre;
  if (v.numsex == v.allowinbreeding) {
    int4 selfed = 0;
    for (int4 i = 1; i <= v.smplsize; ++i)
      if (v.btindivloc(i, 1) == v.btindivloc(i, 2)) ++selfed;
    const real8 s = std::min(static_cast<real8>(selfed) / v.smplsize, 0.99);
    v.inbreeding = 0.5 * (s / (2.0 - s) + old);
    if (std::fabs(old - v.inbreeding) > 1e-10) npass = 2;
  }
  for (int4 k = 1; k <= npass; ++k) {
    int4 ipass = k;
    const UpdateOutcome o =
        update(cp.oldcndlogl, cp.oldlogprior, v.btconfigprior, ipass, npass, 1, 1);
    if (o.archivechanged) cp.archivechanged = 1;
    if (ipass == 0) {
      v.inbreeding = old;
      continue;
    }
    if (v.threadid == 0) savemidresult(cp);
    if (v.priortype == 1) {
      WindowSave keep;
      v.indivlocprt = FView<int4, 2>(&v.crindivloc(1, 1), {Dim(v.smplsize), Dim(2)});
      FStatic<int4, 1, 2> nfam{};
      nfam(1) = v.crnumfamily(1);
      nfam(2) = v.crnumfamily(2);
      sibshipsize(nfam, 1);
      rs.oldsibsizeprior = newewenprior(cp.numsizeclass);
    }
    break;
  }
}

void update_at_round_end(RunState& rs, int4 iround) {
  auto& v = variables;
  if (v.updateallelefre != 2) return;
  if (v.btnumfamily(1) == 1 && v.btnumfamily(2) == 1 && iround == 1) {
    // One family of each sex tells nothing about the population: the round starts over from the
    // starting frequencies.
    for (int4 l = 1; l <= v.numloci; ++l)
      for (int4 a = 1; a <= v.obsnumallele(l); ++a) v.obsallelefre(l).a(a) = v.obsallelefre0(a, l);
    return;
  }
  // Re-estimated when the run found a configuration of its own (the count of updates is kept
  // under the full likelihood only, and rounds run under the pairwise score).
  if (rs.cp.newbestcount <= 0) return;
  real8 cand = 0.0;
  int4 ipass = 1;
  update(cand, 0.0, 0.0, ipass, 1, iround, 1);
}

}  // namespace kinrad
