#pragma once
// Joint genotype probabilities of two individuals (a dyad) whose relationship is given by
// Jacquard's nine condensed identity coefficients, delta[0] = Δ1 .. delta[8] = Δ9.
#include <span>

#include "core/kinds.hpp"

namespace kinrad {

// P(true a1/a2 and b1/b2) with the allele frequencies dyadprbvariables.afr; each genotype has
// its first allele at most its second; b2 < 1 makes the second individual haploid (allele b1).
real8 prbgdyad(int4 a1, int4 a2, int4 b1, int4 b2, std::span<const real8, 9> delta);

}  // namespace kinrad
