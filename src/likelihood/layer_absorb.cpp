// Pair and single absorption inside a layer of the layer peeling. No pair tables are made yet:
// the layer recursion's conditioning alone is exact, so both steps leave the layer as it is.
#include "core/modules/likelihoodvar.hpp"
#include "likelihood/layer_peel_internal.hpp"

namespace kinrad {

void prune(int4 layer) {
  static_cast<void>(layer);
}

void chknewfsprob(int4 layer, int4& skip) {
  static_cast<void>(layer);
  skip = 0;
}

}  // namespace kinrad
