#pragma once
// Part of the module `variables`: the state of the per-locus error-rate estimation (the locus
// and kind under estimation, the admissible box and the reference level of the objective), the
// line state shared by the line minimiser and its one-dimensional view of the objective, and
// the candidate-genotype cache of the objective.

#include "core/farray.hpp"
#include "core/kinds.hpp"

namespace kinrad {

// The box of the rates being estimated: (1, i) the lower and (2, i) the upper limit of rate i.
struct ErrorRateBox {
  FStatic<real8, 1, 4> a{};
  constexpr real8& operator()(int4 bound, int4 rate) { return a(bound + 2 * (rate - 1)); }
  constexpr const real8& operator()(int4 bound, int4 rate) const {
    return a(bound + 2 * (rate - 1));
  }
};

// The line of the current line search: base point, direction and dimension (at most 50).
struct F1com {
  FStatic<real8, 1, 50> pcom{};
  FStatic<real8, 1, 50> xicom{};
  int4 ncom = 0;
};

// Grow-only buffers of the error-rate objective: one cached log probability per candidate
// genotype met in a call, and the genotypes cached (to empty indexgtype again).
struct ErrorRateWork {
  FArray<real8, 1> cachelogp{};
  FArray<int4, 1> cachedgtype{};
  int4 cachefills = 0;  // probabilities computed by the last call (what the cache saved shows)
};

struct VariablesErrorRate {
  // (1) the locus being estimated; (2) the kind: 1 dropout only, 2 other error only, 3 both.
  FStatic<int4, 1, 2> locerrrateupdate{};
  int4 numerrorrate = 0;  // rates estimated: 1 for kinds 1 and 2, 2 for kind 3
  ErrorRateBox rangeerrorrate{};
  real8 loglerrorrateconst = 0.0;  // level subtracted from the objective (0: plain minimum)
  F1com f1com{};
  ErrorRateWork error_rate_work{};
};

}  // namespace kinrad
