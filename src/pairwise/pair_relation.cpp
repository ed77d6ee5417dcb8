#include "pairwise/pairwise.hpp"

namespace kinrad {

// No pairwise step yet.
void pairrelation() {}

}  // namespace kinrad
