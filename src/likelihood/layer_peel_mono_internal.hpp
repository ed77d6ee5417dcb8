#pragma once
// The layer stage of the locus likelihood for one-sex clusters: what the simple peeling leaves of
// a monoecious mating graph with cycles, summed exactly by conditioning individuals (both roles
// of one individual at once) layer by layer.
#include "core/kinds.hpp"

namespace kinrad {

// Called after the simple peeling when families remain, at any kind of locus; logl receives the
// locus log likelihood of the cluster (the constant, the trees closed by the simple peeling and the
// remaining graph), -1e300 when the locus is impossible.
void layer_stage_mono(int4 locus, real8& logl);

}  // namespace kinrad
