#pragma once
// The pairwise analysis as the other phases use it.
#include "core/kinds.hpp"

namespace kinrad {

// The whole pairwise step; writes the pairwise-step marker file when it completes.
void pairrelation();

// Reads the pairwise clustering back for the search.
void setcluster();

// Builds every dyad log-likelihood table the analysis uses (mode 1: the per-analysis set-up).
void calculatepairprob(int4 mode);

// Ranks the candidate parents of each offspring by parent-offspring dyad likelihood and keeps
// the best ones.
void setgetbestcnd();

}  // namespace kinrad
