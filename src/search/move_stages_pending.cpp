// Stand-ins for the stages of a move that are not built yet: the verdict counts one scored,
// rejected proposal.
#include "search/search_internal.hpp"

namespace kinrad {

MoveOutcome decide_move(RunState& rs) {
  count_scored(rs);
  undo_proposal(rs);
  return MoveOutcome::completed;
}
void update_after_new_best(RunState& /*rs*/) {}

}  // namespace kinrad
