// Stand-ins for the stages of a move that are not built yet: the choice and the proposal
// admit everything and change nothing, the verdict counts one scored, rejected proposal.
#include "search/search_internal.hpp"

namespace kinrad {

bool choose_move(RunState& /*rs*/) { return true; }
bool build_proposal(RunState& /*rs*/) { return true; }
void undo_proposal(RunState& /*rs*/) {}
MoveOutcome decide_move(RunState& rs) {
  count_scored(rs);
  undo_proposal(rs);
  return MoveOutcome::completed;
}

}  // namespace kinrad
