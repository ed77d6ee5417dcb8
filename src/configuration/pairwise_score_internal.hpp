#pragma once
// The pairwise score of the current configuration, for the routines that recompute a whole
// configuration's score (the restore and the self-check) under the pairwise-score method.
#include "core/kinds.hpp"

namespace kinrad {

// Sum of the dyad log likelihoods of the configuration seen through indivlocprt and
// inferparentprt. Declared weak: builds without the pairwise scorer link, and reaching it
// there is an internal error.
[[gnu::weak]] void calculatecrrtpairlogl(real8& logl);

// calculatecrrtpairlogl's value; an internal error stop when the scorer is not linked in.
real8 pairwise_configuration_score();

}  // namespace kinrad
