#include "results/output.hpp"

namespace kinrad {

// No result files yet.
void output() {}

}  // namespace kinrad
