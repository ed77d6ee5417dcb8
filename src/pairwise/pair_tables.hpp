#pragma once
// Dyad likelihood tables of the sample and the best candidate parents of each offspring,
// built at the end of the per-analysis set-up from the current allele frequencies.
#include "core/kinds.hpp"

namespace kinrad {

// Builds every dyad log-likelihood table the analysis uses (mode 1: the per-analysis set-up).
void calculatepairprob(int4 mode);

// Ranks the candidate parents of each offspring by parent-offspring dyad likelihood and keeps
// the best ones.
void setgetbestcnd();

}  // namespace kinrad
