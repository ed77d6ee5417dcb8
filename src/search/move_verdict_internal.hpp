#pragma once
// The pieces of the verdict stage that its files share: the scoring of a proposal, the windows
// of the two sides completed with the untouched rest of the clusters, the clusters of one side
// rebuilt, and the application of an accepted proposal.
#include <algorithm>
#include <cstddef>
#include <vector>

#include "core/kinds.hpp"
#include "core/modules.hpp"

namespace kinrad {

struct RunState;

// Grows a work vector of the verdict to hold n elements. A growing vector takes at once the
// size of the run's largest need (no count of rows, clusters or family ids of a move exceeds
// twice the sample), so that the iterations of a warm run never grow it again.
template <class T>
void grow_verdict_work(std::vector<T>& buf, std::size_t n) {
  if (buf.size() < n)
    buf.resize(std::max(n, 2 * static_cast<std::size_t>(std::max(variables.smplsize, 0)) + 2));
}

// Scores the admitted proposal in hand and decides it (rs.verdict.acceptq), with the counters
// of a scored proposal; applies nothing.
void score_proposal(RunState& rs);

// Completes the rows of the two sides so that they hold every offspring of the clusters the
// move touches: the moving offspring's cluster (on side `restside`, else on side 1 for a move
// out of it, side 2 for a move inside it) and the destination cluster (side 2); column 3 of
// the side rows gets the side's cluster id.
void complete_move_windows(RunState& rs);

// The clusters of side `side` built from its rows in offspring order; the first keeps the
// side's cluster id, each further one takes ++nextid. With `score` each is scored against the
// falling bound; false when one fails it.
bool build_side_clusters(RunState& rs, int4 side, int4& nextid, bool score);

// The screens of the full-likelihood methods: the bound b of the proposal, moved by the
// current minus the proposed value of the touched clusters as the move's rows form them;
// false when the proposal is refused (b >= 0). screen and screen2 move `cutoff` for an
// individual and a family move; findfamilysizelimit never lowers `sizelimit`.
bool screen_proposal(RunState& rs);
int4 screen_start();
void screen(RunState& rs, real8& cutoff, int4 nrow, int4 sizelimit, int4 destsize);
void screen2(RunState& rs, real8& cutoff, int4 hostpos1, int4 hostpos2, int4 sizelimit);
void findfamilysizelimit(int4& sizelimit, int4 flag);

// Writes the accepted proposal into the current configuration, its score, the best copy and
// the archive; true when the run must end (a flat run, or returns to the best).
bool apply_accepted(RunState& rs);

}  // namespace kinrad
