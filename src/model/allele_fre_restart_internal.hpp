#pragma once
// Allele frequencies taken back from the state checkpoint of an earlier run on the same data.
#include "core/kinds.hpp"

namespace kinrad {

// Reads the allele frequencies of the state checkpoint (the stem followed by ".MidResult2")
// into obsallelefre, all loci at once and only when the whole file passes its checks: the
// same sample size, every value finite and not below -0.001 (single precision) and at most
// 1.05 per locus in sum. Anything else leaves the frequencies as they were, silently.
void readallelefre();

}  // namespace kinrad
