#pragma once
// The move of one iteration in three stages, each handing its result to the next through a
// record the run holds:
//   choose_move     what moves and where (MoveChoice; the module variables movingtype,
//                   moveindiv, movefamily, hostfamily, numindiv);
//   build_proposal  the rows of the proposed configuration in the move tables, its parents, its
//                   validity and everything the acceptance test compares (Proposal);
//   decide_move     scoring and acceptance, then the accepted proposal applied to the current
//                   configuration or the refused one undone (Verdict).
// A stage that returns false sends the iteration back to a new choice (a retry).
#include <vector>

#include "core/farray.hpp"
#include "core/kinds.hpp"

namespace kinrad {

struct RunState;
enum class MoveOutcome;

// The choice of one move. movingtype, moveindiv, movefamily, hostfamily and numindiv live in
// module annealvariables; the rest of the choice is here.
struct MoveChoice {
  int4 movekind = 0;    // 1 own cluster, 2 another existing cluster, 3 a new cluster; 0 family move
  int4 familyside = 0;  // family move: the parent side (1, 2) that changes
  int4 owncluster = 0;  // cluster id of moveindiv
  FStatic<int4, 1, 3> movepos{};       // own family's local index; its father's, mother's position
  FStatic<int4, 1, 2> hostfamilyid{};  // destination parents' positions (nparent + 1: new)
  int4 fssize = 0;                     // size of moveindiv's full-sib family
  int4 fspos = 0;                      // moveindiv's place in that family's member list
  FStatic<int4, 1, 2> hssize{};        // its paternal and maternal half-sib families in the cluster
  int4 ownclustersize = 0;
  int4 hostclustersize = 0;  // another existing cluster: its size; else 0
  int4 halfsibjoin = 0;      // 1: join the other cluster as a half sib
  int4 knownsibside = 0;     // the side of moveindiv's known sibship the move honours (0: none)
  FStatic<int4, 1, 2> carrycount{};
  // The moving (part 2, holds moveindiv) and staying (part 1) members of moveindiv's full-sib
  // family, in member-list order; kept allocated from proposal to proposal.
  std::vector<int4> moving{}, staying{};
};

// The proposed configuration as the acceptance test compares it with the current one (whose
// counts, candidate term and prior the run holds in its checkpoint state).
struct Proposal {
  std::vector<int4> movelist{};  // moveindiv's full-sib family; a member that moves is negated
  FStatic<int4, 1, 2> leavers{};
  real8 oldclusterlogl = 0.0;  // current log likelihood of the touched clusters
  real8 newcndlogl = 0.0;
  real8 newlogprior = 0.0;
  real8 newsibsizeprior = 0.0;
  FStatic<int4, 1, 2> newnumfamily{};
  int4 newnumselfer = 0;
  FStatic<int4, 1, 4> newnumassign{};
  int4 restside = 0;  // 0, or the side whose window the scoring completes with the own cluster
  int4 parentok = 0, configok = 0;
  FStatic<int4, 1, 3> familymove{};  // family move: (current parent, proposed parent, sex)
  // Eligible candidates of a family move, kept across iterations (entry 0 = -1: not built).
  int4 listlen = 0;
  FArray<int4, 2> eligible{};
};

// The scoring of a proposal and what applying it needs.
struct Verdict {
  int4 acceptq = 0;
  real8 thresholdlogl = 0.0;
  real8 drawlogu = 0.0;
  real8 oldpairlogl = 0.0, newpairlogl = 0.0;
  real8 selfterm = 0.0;
};

// The three stages.
bool choose_move(RunState& rs);
bool build_proposal(RunState& rs);
// Puts back everything an admitted proposal changed (for one that is not accepted).
void undo_proposal(RunState& rs);
// Scores the admitted proposal, then applies or undoes it; completed, or end_run when the
// applied move ends the run.
MoveOutcome decide_move(RunState& rs);

// The in-run allele-frequency update a new best may call for: called after the best copy is
// stored, for a new best that differs from the previous best; it counts the new best towards
// the update interval (full likelihood) and runs the update when one is due.
void update_after_new_best(RunState& rs);

// The iteration body of the program: the three stages, a retry when a stage refuses.
MoveOutcome move_body(RunState& rs);

}  // namespace kinrad
