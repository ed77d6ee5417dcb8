#pragma once
// The configuration model as the other phases use it: the checkpoint formats it owns.
#include <span>

#include "core/kinds.hpp"
#include "core/record_reader.hpp"

namespace kinrad {

// Reads the allele-frequency checkpoint; status 0 only when it was read whole and accepted.
void readmidresult4(int4& status, int4& round);

// The checks both checkpoint readers make on one locus's frequencies.
bool restart_frequencies_acceptable(std::span<const real8> p);

// Reads one list of obsnumallele(l) frequencies per locus from `in` and, only when every list
// was read and passes its checks, stores them all in obsallelefre; false leaves them unchanged.
bool read_locus_frequencies(RecordReader& in);

}  // namespace kinrad
