#include "configuration/pairwise_score_internal.hpp"
#include "core/error_stop.hpp"
#include "core/modules/variables.hpp"

namespace kinrad {

real8 pairwise_configuration_score() {
  if (&calculatecrrtpairlogl == nullptr) {
    variables.errmsg(1) = "The pairwise score of a configuration is not part of this build.";
    stoponerror(1, "CalculateCrrtPairLogL");
  }
  real8 logl = 0.0;
  calculatecrrtpairlogl(logl);
  return logl;
}

}  // namespace kinrad
