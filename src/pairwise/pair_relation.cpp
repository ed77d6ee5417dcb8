#include "pairwise/pair_relation.hpp"

namespace kinrad {

// No pairwise step yet.
void pairrelation() {}
void setcluster() {}

}  // namespace kinrad
