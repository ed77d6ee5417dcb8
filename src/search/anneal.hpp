#pragma once
#include "core/kinds.hpp"

namespace kinrad {

// One annealing run, or one allele-frequency round of a run.
void anneal(int4& firstq, int4 round);

}  // namespace kinrad
