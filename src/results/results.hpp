#pragma once
// Results and estimates as the run sequence calls them.
#include "core/kinds.hpp"

namespace kinrad {

// Writes all final result files.
void output();

// Effective population size from the archived configurations.
void sibne();

}  // namespace kinrad
