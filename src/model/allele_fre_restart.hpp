#pragma once
// Allele frequencies taken back from the state checkpoint of an earlier run on the same data.
#include <span>

#include "core/kinds.hpp"
#include "core/record_reader.hpp"

namespace kinrad {

// Reads the allele frequencies of the state checkpoint (the stem followed by ".MidResult2")
// into obsallelefre, all loci at once and only when the whole file passes its checks: the
// same sample size, every value finite and not below -0.001 (single precision) and at most
// 1.05 per locus in sum. Anything else leaves the frequencies as they were, silently.
void readallelefre();

// The checks both checkpoint readers make on one locus's frequencies.
bool restart_frequencies_acceptable(std::span<const real8> p);

// Reads one list of obsnumallele(l) frequencies per locus from `in` and, only when every list
// was read and passes its checks (and `store` is true), stores them all in obsallelefre; false
// leaves them unchanged.
bool readlocusfrequencies(RecordReader& in, bool store = true);

}  // namespace kinrad
