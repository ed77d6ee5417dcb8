#pragma once
// The selfing rate from identity disequilibrium, which the ".Inbreeding" file reports.
#include "core/kinds.hpp"

namespace kinrad {

// s: the selfing rate from the excess of heterozygosity shared across loci within offspring,
// over the codominant loci of at least 2 alleles where some but not all typed offspring are
// heterozygous; -1 when fewer than 2 such loci exist or the offspring give no comparison.
// Reads smplsize, numloci, dominantmarker, obsnumallele, maxobsnumallele and indivgtype2.
void identity(real8& s);

}  // namespace kinrad
