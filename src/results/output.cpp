#include "results/results.hpp"

namespace kinrad {

// No result files yet.
void output() {}

}  // namespace kinrad
