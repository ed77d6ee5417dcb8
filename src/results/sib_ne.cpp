#include "results/results.hpp"

namespace kinrad {

// No estimate yet.
void sibne() {}

}  // namespace kinrad
