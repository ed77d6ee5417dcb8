#pragma once
#include "core/kinds.hpp"

namespace kinrad {

// Reads and validates the project input file.
void readdata();

}  // namespace kinrad
