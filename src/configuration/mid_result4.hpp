#pragma once
#include "core/kinds.hpp"

namespace kinrad {

// Reads the allele-frequency checkpoint; status 0 only when it was read whole and accepted.
void readmidresult4(int4& status, int4& round);

}  // namespace kinrad
