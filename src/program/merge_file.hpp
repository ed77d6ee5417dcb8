#pragma once
#include "core/kinds.hpp"

namespace kinrad {

// Merges the per-process part files of entries first..last of the merge table (0-2 the
// genotype files, 3 the allele frequencies, 4-8 the pairwise files) into their targets: one
// process, number (last - first + 1) mod numthreads, does all of them. Does nothing with one
// process.
void mergefile(int4 first, int4 last);

}  // namespace kinrad
