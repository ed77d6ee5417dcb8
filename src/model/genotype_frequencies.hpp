#pragma once
// Population-side tables of the genotype model: genotype-class probabilities of the
// two-allele loci and the re-estimation of one locus's allele frequencies.
#include <span>

#include "core/kinds.hpp"

namespace kinrad {

// Refills locus2gtypefre for the positions first..last of locus2 from the current allele
// frequencies and inbreeding, with l2lb(1) := first. A first position below 1 leaves the
// table with no filled column (so (0, 0) discards it); every user then refills the position
// it needs.
void computegtypefre(int4 first, int4 last);

// x[0..k-1] (k = obsnumallele(locus)) holds expected allele counts on entry; the genotyped
// candidates that the best configuration does not use as parents are added, and x is turned
// into frequencies (one extra count per allele when the total is below 30).
void recomputeallelefre(int4 locus, std::span<real8> x);

}  // namespace kinrad
