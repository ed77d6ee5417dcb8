#pragma once
#include "core/kinds.hpp"

namespace kinrad {

// Effective population size from the archived configurations.
void sibne();

}  // namespace kinrad
