#include "configuration/configuration.hpp"
#include "configuration/pairwise_score_internal.hpp"

namespace kinrad {

real8 pairwise_configuration_score() {
  real8 logl = 0.0;
  calculatecrrtpairlogl(logl);
  return logl;
}

}  // namespace kinrad
