#pragma once
// The family likelihood engine as the other phases use it.
#include "core/kinds.hpp"

namespace kinrad {

// Unpacked copy of the offspring genotypes at two-allele loci.
void setgtype2();

}  // namespace kinrad
