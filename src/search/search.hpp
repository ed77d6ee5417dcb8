#pragma once
// The annealing search as the other phases use it.
#include "core/kinds.hpp"

namespace kinrad {

// One annealing run, or one allele-frequency round of a run.
void anneal(int4& firstq, int4 round);

}  // namespace kinrad
