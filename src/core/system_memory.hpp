#pragma once
// What the machine offers: used to refuse tables that cannot fit before they are allocated.
#include "core/kinds.hpp"

namespace kinrad {

// Physical memory of the machine in bytes; the largest int8 when it cannot be found.
int8 physical_memory_bytes();

}  // namespace kinrad
