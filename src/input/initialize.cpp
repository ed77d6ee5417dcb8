#include "input/initialize.hpp"

namespace kinrad {

// No derived tables yet.
void initialize() {}

}  // namespace kinrad
