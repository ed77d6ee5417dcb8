#pragma once
#include "core/kinds.hpp"

namespace kinrad {

// Data preprocessing: known relationships, allele order and counts, starting frequencies.
void dataprocess();

}  // namespace kinrad
