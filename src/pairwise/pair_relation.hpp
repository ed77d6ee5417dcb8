#pragma once
#include "core/kinds.hpp"

namespace kinrad {

// The whole pairwise step; writes the pairwise-step marker file when it completes.
void pairrelation();
// Reads the pairwise clustering back for the search.
void setcluster();

}  // namespace kinrad
