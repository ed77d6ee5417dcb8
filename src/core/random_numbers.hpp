#pragma once
// The two uniform streams and the deviates drawn from them. The search stream (ran2) keeps its
// whole state in module `variables`, so that checkpoints save and restore it; the simulation
// stream (ran1) and the deviates built on it keep theirs in random_stream_state.
#include <cstdint>

#include "core/kinds.hpp"

namespace kinrad {

// Private states of ran1, gasdev, poidev and irbit1, at their start-up values.
struct RandomStreamState {
  // ran1: the xorshift word, the multiplicative generator (negative: not started) and the
  // scale to (0, 1).
  std::uint32_t ix = 0;
  int4 iy = -1;
  real4 am = 0.0f;
  // gasdev: the second deviate of the last pair, kept for the next call.
  bool gasdev_kept = false;
  real4 gasdev_deviate = 0.0f;
  // poidev: the previous mean and the values derived from it, and which method derived them.
  real4 poidev_oldm = -1.0f;
  bool poidev_rejection = false;
  real4 poidev_g = 0.0f;
  real4 poidev_sq = 0.0f;
  real4 poidev_alxm = 0.0f;
  // irbit1: the shift register.
  std::uint32_t irbit1_seed = 234533;
};

constinit inline RandomStreamState random_stream_state{};

// Search stream: uniform in (0, 0.99999988]. A negative variables.idum3 starts it afresh.
real8 ran2();
// Simulation stream, seeded by variables.idum: uniform in (0, 1), single precision.
real4 ran1();
// Standard normal deviate from ran1.
real4 gasdev();
// Poisson deviate of mean xm from ran1, a whole number.
real4 poidev(real4 xm);
// A random bit, 0 or 1.
int4 irbit1();
// ln Gamma(x) for x > 0.
real8 gammln(real8 x);

}  // namespace kinrad
