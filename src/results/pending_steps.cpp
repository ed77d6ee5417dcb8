// Steps of the result writer that their own files build; until then each does nothing, so that
// `output` keeps its order and its module state around them.
#include "results/results_internal.hpp"

namespace kinrad {

void findfsfamilyprob(FArray<real8, 1>&, FArray<real8, 1>&, int4, std::array<real8, 3>&) {}
void write_inbreeding(const std::array<real8, 3>&) {}
void infer_genotypes_and_frequencies() {}
void write_allele_frequencies() {}

}  // namespace kinrad
