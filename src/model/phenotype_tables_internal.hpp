#pragma once
// The per-locus observation tables read by prbgtop and prbgtophaploid.
#include <cstdint>

#include "core/kinds.hpp"

namespace kinrad {

// Storage of one observation table per locus (7 classes, 3 at a dominant locus), used until
// loci share the tables of their observation block; every transrate view gets its own block.
void allocate_transrate_per_locus();

// Gives the loci locfrom..locto observation tables of their own (7 values per locus, kept in
// transrate_own_tgt), so that refilling them leaves the other loci of their blocks alone.
void give_own_transrate(int4 locfrom, int4 locto);

// Changes whenever any observation table is rewritten or re-aimed, so that results memoised
// from the tables can tell they are stale.
std::uint64_t transrate_version();

}  // namespace kinrad
