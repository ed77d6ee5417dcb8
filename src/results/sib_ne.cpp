#include "results/sib_ne.hpp"

namespace kinrad {

// No estimate yet.
void sibne() {}

}  // namespace kinrad
