// The end of an admitted proposal: kept by the applier (commit_proposal) or put back when it is
// not accepted (undo_proposal); either clears the family marks the proposal's rows left on the
// own cluster.
#include <cstdlib>

#include "core/modules.hpp"
#include "search/search_internal.hpp"

namespace kinrad {

void release_family_marks(RunState& /*rs*/) {
  auto& v = variables;
  const auto& av = annealvariables;
  for (int4 f = 1; f <= av.numberfsfamily1; ++f) v.selectedfamily(f) = 0;
}

void commit_proposal(RunState& rs) {
  const auto& v = variables;
  const auto& av = annealvariables;
  Proposal& pr = rs.proposal;
  if (!pr.pending) return;
  pr.pending = false;
  pr.cndchange.clear();
  if (av.movingtype == 1) release_family_marks(rs);
  if (!pr.eligible.allocated()) return;
  const bool any = av.numindivparentage(1) > 0 || av.numindivparentage(2) > 0;
  for (int4 s = 1; s <= 2; ++s)
    if (av.numindivparentage(s) > 0 || (v.numsex == 1 && any)) pr.eligible(0, s) = -1;
}

void undo_proposal(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  Proposal& pr = rs.proposal;
  if (!pr.pending) return;
  pr.pending = false;
  if (pr.parentswritten)
    for (int4 s = 2; s >= 1; --s)
      for (int4 k = av.numindivparentage(s); k >= 1; --k)
        v.inferparent(av.indivparentage(k, s), s) = av.inferparentage(k, s, 1);
  for (auto it = pr.cndchange.rbegin(); it != pr.cndchange.rend(); ++it) {
    const int4 s = (*it)[0], c = (*it)[1];
    av.unassignedcnd(std::abs(c), s) = c > 0 ? 1 : 0;
  }
  pr.cndchange.clear();
  rs.numunassigned[0] = pr.numunassigned0[0];
  rs.numunassigned[1] = pr.numunassigned0[1];
  rs.numunassigned[2] = pr.numunassigned0[2];
  if (v.priortype == 1 && av.movingtype == 1) {
    const bool dmono = v.numsex == 2 && v.allmonogamy != 0;
    const int4 lastsex = dmono ? 1 : v.numsex;
    for (int4 s = 1; s <= lastsex; ++s)
      for (int4 k = 1; k <= pr.nchange(s); ++k)
        v.sibshipsizedist(v.sibsize(1, k, s), s) += v.sibsize(2, k, s);
    if (dmono)
      for (int4 k = 1; k <= pr.nchange(1); ++k) {
        const int4 z = v.sibsize(1, k, 1);
        v.sibshipsizedist(z, 2) = v.sibshipsizedist(z, 1);
      }
  }
  if (av.movingtype == 1) release_family_marks(rs);
}

}  // namespace kinrad
