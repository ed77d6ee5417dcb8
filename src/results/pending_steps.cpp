// Steps of the result writer that their own files build; until then each does nothing, so that
// `output` keeps its order and its module state around them.
#include "results/results_internal.hpp"

namespace kinrad {

void archiveconfigwrite() {}
void infer_genotypes_and_frequencies() {}
void write_allele_frequencies() {}

}  // namespace kinrad
