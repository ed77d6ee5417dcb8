#pragma once
// The annealing search as the other phases use it.
#include "core/kinds.hpp"

namespace kinrad {

// One annealing run, or one allele-frequency round of a run.
void anneal(int4& firstq, int4 round);

// Aims the side-1 family tables' windows of a cluster with fewer than three parents at their
// defaults: one father and one mother (locpartner1tgt = (0, 1)) sharing one family
// (familyidx1tgt and partner1tgt = (1, 1)).
void set_default_move_targets();

}  // namespace kinrad
