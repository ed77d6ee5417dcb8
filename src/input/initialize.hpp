#pragma once
#include "core/kinds.hpp"

namespace kinrad {

// Derived tables, run state and checkpoint names.
void initialize();

}  // namespace kinrad
