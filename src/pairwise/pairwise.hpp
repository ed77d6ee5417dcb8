#pragma once
// What the pairwise analysis offers the other subsystems: the routine that builds the dyad
// log-likelihood tables (their accessors are in core/modules/dyad_tables.hpp, below every phase
// that reads them), and the pairwise step itself.
#include <cstddef>
#include <span>

#include "core/kinds.hpp"
#include "core/modules/dyad_tables.hpp"
#include "core/modules/variables.hpp"
#include "pairwise/clones.hpp"

namespace kinrad {

// The whole pairwise step; writes the pairwise-step marker file when it completes.
void pairrelation();

// True when the pairwise-step marker file (midfilename(5)) holds a whole record of the step:
// five values (the start temperature and the four log priors) ended by a line end. A missing,
// cut or overwritten marker is false: the step has to run again.
bool pairwise_marker_whole();

// Log likelihood (prior term included) of a trial family with unsampled parents except the
// known parents its members carry: with `second` empty, the members of `first` as one
// full-sib family; otherwise two groups that share the sex-2 parent and have different sex-1
// parents (split 1, nparent (2, 1)) or share the sex-1 parent (split 2, nparent (1, 2)). Two
// members naming different known parents of one parent, or the same known parent for the two
// different parents, make it -1e300. bound as for the family likelihood driver. Uses the
// trial frame of the pairwise step (setfamilystruc(smplsize, 2) the first time); leaves the
// family structure of this family and the members' inferparent rows at 0.
real8 trialgroups(std::span<const int4> first, std::span<const int4> second, int4 split,
                  real8 bound);

// Reads the pairwise clustering back for the search.
void setcluster();

// Builds every dyad log-likelihood table the analysis uses (mode 1: the per-analysis set-up).
void calculatepairprob(int4 mode);

// Ranks the candidate parents of each offspring by parent-offspring dyad likelihood and keeps
// the best ones.
void setgetbestcnd();

// ---- Parentage thresholds by simulation ----
// Fills the rows of simuvariables.threshold, threshold2 (diploid offspring, offploidy 2) or
// thresholdh (haploid offspring, offploidy 1) for each sex with candidates, by simulating
// 10000 replicate families. The tables must be allocated (2, 10); the dyad memos must be
// allocated by allocate_delta_memos first. Offspring 1 and the first candidate of each sex
// serve as the simulated individuals' slots and are restored before it returns.
void determinedeltavalue(int4 offploidy);
// Allocates the simulation's two-allele dyad memos (dyadlogl0 only when some offspring have
// a known parent), and frees them.
void allocate_delta_memos();
void free_delta_memos();

}  // namespace kinrad
