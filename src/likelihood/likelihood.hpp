#pragma once
// What the family likelihood engine offers the other subsystems: the family structure of the
// family to be scored, the trial frame, the family work state and the per-locus set-up.
#include <span>

#include "core/farray.hpp"
#include "core/kinds.hpp"
#include "core/modules/variables.hpp"

namespace kinrad {

// Member list of the full-sib family of sex-1 parent p1 and sex-2 parent p2 (empty when the
// pair has none).
inline FView<int2, 1> familystructure(int4 p1, int4 p2) {
  const int4 k = variables.familystructure_index(p1, p2);
  if (k < 1) return FView<int2, 1>{};
  return variables.familymember(k).a;
}

// Replaces the member list of the pair (p1, p2); an empty span leaves the pair without
// members. nchild is not touched: callers set it too.
void setfamilymembers(int4 p1, int4 p2, std::span<const int4> members);

// Empty frame of np parents per sex for trial families; clears the parent assignments of the
// first noff offspring (noff > 0) and aims inferparentprt at inferparent.
void setfamilystruc(int4 noff, int4 np);

// Builds the family work state of the family structure in module state. status 0, or 5014
// when the peeling's parent table cannot be allocated. numberfsfamily: the number of full-sib
// families when the caller knows it, else below 1. locus 0 prepares for all loci, k for locus
// k only. selfq 1 runs the selfing-generation estimate.
void preparevariable(int4& status, int2 numberfsfamily, int4 locus, int4 selfq);

// Sizes the per-locus work arrays of familyloglvar for the family in hand.
void setfamilyloglvar();

// Selfing generations of the parents (prntinbcoe); for now every parent keeps the population
// inbreeding coefficient.
void selfinggen_est();

// Natural log likelihood of the family in hand at one locus (its work state prepared for all
// loci or for this one): the probability of the observed genotypes of its offspring and typed
// candidate parents, summed over every genotype of every parent; -1e300 when they cannot occur.
void familylocuslogl(int4 locus, int4 numallele, int4 numgenotype, real8& logl);

// Unpacked copy of the offspring genotypes at two-allele loci (indivgtype1).
void setgtype2();

}  // namespace kinrad
