#pragma once
// The pairwise score of the current configuration, for the routines that recompute a whole
// configuration's score (the restore and the self-check) under the pairwise-score method.
#include "core/kinds.hpp"

namespace kinrad {

// calculatecrrtpairlogl's value for the configuration seen through indivlocprt and
// inferparentprt.
real8 pairwise_configuration_score();

}  // namespace kinrad
