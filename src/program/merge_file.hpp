#pragma once
#include "core/kinds.hpp"

namespace kinrad {

// Merges the per-process part files.
void mergefile(int4 mode, int4 nfile);

}  // namespace kinrad
