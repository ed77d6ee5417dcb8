// Times the whole pairwise step (threshold simulation, sibship and parentage phases, start
// temperature and log priors, marker file) on a simulated sample: bench_pairwise_step
// [offspring] [loci] [candidates per sex] [error rate] [method] [haplodiploid]. SNP loci,
// candidates sampled with probability 0.5, no known relationships. Reports the wall time of the
// per-analysis set-up (which builds the dyad tables, haploid sons' entries through trial families)
// and of pairrelation after it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "core/modules.hpp"
#include "input/input.hpp"
#include "model/model.hpp"
#include "pairwise/pairwise.hpp"
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
  p.candidates = argc > 3 ? std::atoi(argv[3]) : 100;
  p.error = argc > 4 ? std::atof(argv[4]) : 0.0;
  p.method = argc > 5 ? std::atoi(argv[5]) : 1;
  p.haplodiploid = argc > 6 ? std::atoi(argv[6]) : 0;
  p.alleles = 2;
  const bench::ScratchProject scratch("pairwise_step", p);
  std::cout.setstate(std::ios::failbit);  // the program's own screen lines
  prepare_analysis({.quiet = true, .check_data = false, .tables = false, .named_phases = false});
  const auto s0 = Clock::now();
  analysis_tables();
  const double setup = seconds(s0);
  std::cout.clear();
  const auto t0 = Clock::now();
  pairrelation();
  const double t = seconds(t0);
  std::printf(
      "pairwise step: %d offspring (%d haploid), %d SNP loci, %d candidates per sex (sampled "
      "%.2f), error rate %g, method %d\n  set-up (dyad tables) %.3f s, pairwise step %.3f s\n",
      p.offspring, variables.smplsizedh(1), p.loci, p.candidates, variables.propprntsampled(1),
      p.error, p.method, setup, t);
  return 0;
}
