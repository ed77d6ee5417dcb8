// The dyad steps that close the archive files under option DYD: the sib dyad probabilities
// from the archive weights and the parent-offspring dyad probabilities. They write nothing
// until they are built.
#include "results/archive_internal.hpp"

namespace kinrad {

void sib_dyad_probabilities(const FArray<real8, 1>&, real8) {}
void parent_offspring_dyad_probabilities() {}

}  // namespace kinrad
