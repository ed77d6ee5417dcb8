// The iteration body of the program: choice, proposal, verdict.
#include "search/search_internal.hpp"

namespace kinrad {

MoveOutcome move_body(RunState& rs) {
  if (!choose_move(rs)) return MoveOutcome::refused;
  if (!build_proposal(rs)) return MoveOutcome::refused;
  return decide_move(rs);
}

}  // namespace kinrad
