#pragma once
// Joint genotype probabilities of two individuals (a dyad) whose relationship is given by
// Jacquard's nine condensed identity coefficients, delta[0] = Δ1 .. delta[8] = Δ9.
#include <span>

#include "core/kinds.hpp"

namespace kinrad {

// P(true a1/a2 and b1/b2) with the allele frequencies dyadprbvariables.afr; each genotype has
// its first allele at most its second; b2 < 1 makes the second individual haploid (allele b1).
real8 prbgdyad(int4 a1, int4 a2, int4 b1, int4 b2, std::span<const real8, 9> delta);

// P(observed a1/a2 and b1/b2 at the locus | delta), typing errors included; b2 < 1 marks a
// haploid second member. flag 0 computes the dyad's tables afresh; any other flag reuses the
// tables of the previous call, so that one dyad is scored under several relationships cheaply
// (the tables are rebuilt anyway when that call was for another dyad or locus, or the
// frequencies or observation tables have changed since). A locus of fewer than 2 alleles gives
// 1. Not re-entrant: it keeps its tables and afr between calls.
real8 prbpdyad(int4 a1, int4 a2, int4 b1, int4 b2, std::span<const real8, 9> delta, int4 locus,
               int4 flag);

}  // namespace kinrad
