#pragma once
#include "core/kinds.hpp"

namespace kinrad {

// Per-analysis set-up of the loci firstlocus..lastlocus (mode 1: all loci, mode 2: one locus).
void initialfsprob(int4 mode, int4 firstlocus, int4 lastlocus);

}  // namespace kinrad
