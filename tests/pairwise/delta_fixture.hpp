#pragma once
// Samples prepared by the real reader and set-up, with the parentage simulation's per-call
// arrays allocated and its tables built, for the simulated-genotype and scorer tests.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/simuvariables.hpp"
#include "core/random_numbers.hpp"
#include "pairwise/delta_simulation_internal.hpp"
#include "pairwise/dyad_sample.hpp"
#include "pairwise/pairwise.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::pairtest {

// The simulation's per-call arrays as determinedeltavalue allocates them, the dyad memos, and
// the tables.
inline void start_simulation() {
  allocate_simulation_state();
  allocate_delta_memos();
  inisimuvariables();
}

// A genotype buffer (2, numloci) as simugenotype takes it.
struct Genotype {
  std::vector<int1> g;
  explicit Genotype(int4 nl) : g(2 * static_cast<std::size_t>(nl), 0) {}
  int1& at(int4 place, int4 l) { return g[2 * static_cast<std::size_t>(l - 1) + place - 1]; }
  void set(int4 l, int4 a, int4 b) {
    at(1, l) = static_cast<int1>(a);
    at(2, l) = static_cast<int1>(b);
  }
  int1* data() { return g.data(); }
};

// The next value of the simulation stream, without advancing it.
inline real4 peek_ran1() {
  const RandomStreamState s = random_stream_state;
  const int4 idum = variables.idum;
  const real4 u = ran1();
  random_stream_state = s;
  variables.idum = idum;
  return u;
}

// |observed - expected| within z binomial standard deviations of n trials.
inline void expect_binomial(int64_t count, int64_t n, double p, const std::string& what,
                            double z = 5.0) {
  const double mean = double(n) * p;
  const double sd = std::sqrt(double(n) * p * (1.0 - p));
  EXPECT_LE(std::fabs(double(count) - mean), z * sd + 1e-9)
      << what << ": " << count << " of " << n << ", expected share " << p;
}

}  // namespace kinrad::pairtest
