#pragma once
#include "core/kinds.hpp"

namespace kinrad {

// Unpacked copy of the offspring genotypes at two-allele loci.
void setgtype2();

}  // namespace kinrad
