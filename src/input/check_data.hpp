#pragma once
#include "core/kinds.hpp"

namespace kinrad {

// Compares the data with the copy kept under the stem and renews the copy when they differ.
void checkdata();

}  // namespace kinrad
