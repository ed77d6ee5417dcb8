#pragma once
#include "core/kinds.hpp"

namespace kinrad {

// Reads the allele-frequency checkpoint; status 0 only when it was read whole and accepted.
// The frequencies go into obsallelefre unless `store` is false, when only the checks, the
// status and the round count: the run sequence reads the round again after the per-locus
// tables were built from the frequencies in force, which must then stay as they are.
void readmidresult4(int4& status, int4& round, bool store = true);

}  // namespace kinrad
