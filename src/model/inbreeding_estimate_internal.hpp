#pragma once
// The population's inbreeding coefficient from the homozygote excess of the sampled diploid
// individuals at the codominant loci, allowing for allelic dropout.
#include "core/kinds.hpp"

namespace kinrad {

// Minus the log likelihood, at inbreeding max(F, 0), of every diploid offspring and of the
// candidates of each diploid sex as unrelated members of the population; it stops adding once
// the running value reaches 1e300.
real8 inbfunc(real8 F);

}  // namespace kinrad
