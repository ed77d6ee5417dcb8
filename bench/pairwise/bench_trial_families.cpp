// Times the trial families of the pairwise step (pairs and offspring scored through the family
// likelihood driver): bench_trial_families [offspring] [loci] [families]. Each family is
// scored once with the frame emptied in place, as the step does, and once with the whole
// frame made anew before it (which also clears every offspring's parent row), as before.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "core/modules.hpp"
#include "input/input.hpp"
#include "likelihood/likelihood.hpp"
#include "model/model.hpp"
#include "pairwise/pairwise_internal.hpp"
#include "program/prepare_analysis.hpp"
#include "simulated_sample.hpp"

namespace {

using namespace kinrad;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  bench::SampleParameters p;
  p.offspring = argc > 1 ? std::atoi(argv[1]) : 1000;
  p.loci = argc > 2 ? std::atoi(argv[2]) : 200;
  const int families = argc > 3 ? std::atoi(argv[3]) : 20000;
  p.method = 1;
  const bench::ScratchProject scratch("trial_families", p);
  std::cout.setstate(std::ios::failbit);  // the program's own screen lines
  prepare_analysis({.quiet = true, .check_data = false, .named_phases = false});
  computegtypefre(0, 0);
  std::cout.clear();
  const int n = variables.smplsize;
  // Offspring with candidate 1 as their father: the full-sib trial family of neighbours.
  for (int i = 1; i <= n; i += 2) variables.indivparent(i, 1) = 1;
  double sink = 0.0;
  for (int remake = 0; remake <= 1; ++remake) {
    setfamilystruc(n, 2);
    const auto t0 = Clock::now();
    for (int k = 0; k < families; ++k) {
      const int i = 1 + (k % (n - 1));
      if (remake) setfamilystruc(n, 2);
      sink += trialfamily(Trial::fullsibs, i, i + 1, 0, -1e300);
    }
    const double t = seconds(t0);
    std::printf("%s: %d families in %.3f s (%.1f us each)\n",
                remake ? "frame made anew per family" : "frame emptied in place", families, t,
                1e6 * t / families);
  }
  std::printf("(checksum %.6g)\n", sink);
  return 0;
}
