#pragma once
#include "core/kinds.hpp"

namespace kinrad {

// Writes all final result files.
void output();

}  // namespace kinrad
