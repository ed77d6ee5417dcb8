// Stand-ins for the stages of a move that are not built yet: the choice and the proposal
// admit everything and change nothing.
#include "search/search_internal.hpp"

namespace kinrad {

bool choose_move(RunState& /*rs*/) { return true; }
bool build_proposal(RunState& /*rs*/) { return true; }
void undo_proposal(RunState& /*rs*/) {}
void update_after_new_best(RunState& /*rs*/) {}

}  // namespace kinrad
