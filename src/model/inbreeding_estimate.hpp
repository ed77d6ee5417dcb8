#pragma once
// The population's inbreeding coefficient from the homozygote excess of the sampled diploid
// individuals at the codominant loci, allowing for allelic dropout.
#include "core/kinds.hpp"

namespace kinrad {

// F receives the estimate, in [-0.99, 0.99], or 0 when every marker is dominant or the data
// carry no information on it.
void initialinbcoe(real8& F);

// Minus the log likelihood, at inbreeding max(F, 0), of every diploid offspring and of the
// candidates of each diploid sex as unrelated members of the population; it stops adding once
// the running value reaches 1e300.
real8 inbfunc(real8 F);

}  // namespace kinrad
