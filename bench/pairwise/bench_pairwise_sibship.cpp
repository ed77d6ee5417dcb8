// Times the sibship phase of the pairwise step in dyad mode with the focal tables, and the
// best-candidate lists: bench_pairwise_sibship [offspring] [loci] [alleles] [candidates per
// sex]. The phase is compared with the plain focal loop it is built on: the tables of each
// row's first offspring, and one full-sib look-up sum per pair without early stops.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "input/input.hpp"
#include "model/model.hpp"
#include "pairwise/pairwise.hpp"
#include "pairwise/pairwise_internal.hpp"
#include "program/prepare_analysis.hpp"
#include "simulated_sample.hpp"

namespace {

using namespace kinrad;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

double baseline(real8& checksum) {
  const int4 n = variables.smplsize;
  const auto t0 = Clock::now();
  setindivgtype3();
  allocate_focal_dyad_tables();
  for (int4 i = 1; i < n; ++i) {
    setdyadlogl(i);
    for (int4 j = i + 1; j <= n; ++j) {
      simuvariables.setsimoffgtype = 0;
      real8 logl = 0.0;
      compute_dyad_logl(1, j, logl, -1e300);
      checksum += logl;
    }
  }
  return seconds(t0);
}

}  // namespace

int main(int argc, char** argv) {
  bench::SampleParameters p;
  p.offspring = argc > 1 ? std::atoi(argv[1]) : 1000;
  p.loci = argc > 2 ? std::atoi(argv[2]) : 200;
  p.alleles = argc > 3 ? std::atoi(argv[3]) : 2;
  p.candidates = argc > 4 ? std::atoi(argv[4]) : 200;
  p.method = 1;

  const bench::ScratchProject scratch("sibship", p);
  std::cout.setstate(std::ios::failbit);  // the program's own screen lines
  // The set-up builds the best-candidate lists once; they are timed again below.
  prepare_analysis({.quiet = true, .check_data = false, .named_phases = false});
  variables.pairwiseoptionq = 0;
  std::cout.clear();

  if (variables.locus2(0) > 0) computegtypefre(0, 0);
  std::vector<real8> single(static_cast<std::size_t>(variables.smplsize));
  singleindivlikelihood(0.0, variables.smplsize, 0, single);

  real8 checksum = 0.0;
  const double base = baseline(checksum);

  real8 sum = 0.0, weight = 0.0;
  auto t0 = Clock::now();
  pairwise_sibship(single, sum, weight);
  const double phase = seconds(t0);

  // The lists from the program's own parent-offspring vectors, without a cache.
  std::filesystem::remove("bench.BestPrntCND");
  t0 = Clock::now();
  setgetbestcnd();
  const double lists = seconds(t0);

  std::printf("offspring %d, loci %d, alleles %d, candidates per sex %d\n", p.offspring, p.loci,
              p.alleles, p.candidates);
  std::printf("sibship phase (focal tables) %.3f s, plain focal loop %.3f s (ratio %.2f)\n", phase,
              base, phase / base);
  std::printf("best-candidate lists %.3f s\n", lists);
  std::printf("checksums %g %g %g\n", checksum, sum, weight);
  return 0;
}
