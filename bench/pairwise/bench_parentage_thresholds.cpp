// Times the parentage-threshold simulation of a simulated sample: bench_parentage_thresholds
// [loci] [candidates per sex] [error rate]. Diploid offspring, candidates sampled with
// probability 0.5 (so twice as many candidates are simulated per replicate), SNP loci. Reports
// the wall time of determinedeltavalue(2) without known parents, and with known mothers, when
// the fathers' trio statistic is gathered through the family likelihood engine.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "core/modules.hpp"
#include "core/modules/simuvariables.hpp"
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

double run(bool knownmothers) {
  Simuvariables& sv = simuvariables;
  sv.threshold.allocate(Dim(2), Dim(10));
  sv.threshold2.allocate(Dim(2), Dim(10));
  if (knownmothers) {
    // Offspring with a known mother: the fathers' replicates score trios as well.
    variables.numknownprnt(2) = 1;
    variables.numknownprnt(4) = 1;
  }
  allocate_delta_memos();
  const auto t0 = Clock::now();
  determinedeltavalue(2);
  const double t = seconds(t0);
  free_delta_memos();
  std::printf("  %-28s %8.3f s   95%% DELTA fathers %.3f mothers %.3f",
              knownmothers ? "known mothers (trio):" : "no known parents:", t, sv.threshold(1, 1),
              sv.threshold(2, 1));
  if (knownmothers) std::printf("   trio fathers %.3f", sv.threshold2(1, 1));
  std::printf("\n");
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  bench::SampleParameters p;
  p.offspring = 50;
  p.loci = argc > 1 ? std::atoi(argv[1]) : 200;
  p.candidates = argc > 2 ? std::atoi(argv[2]) : 100;
  p.error = argc > 3 ? std::atof(argv[3]) : 0.0;
  p.alleles = 2;
  p.method = 1;
  const bench::ScratchProject scratch("thresholds", p);
  std::cout.setstate(std::ios::failbit);  // the program's own screen lines
  prepare_analysis({.quiet = true, .check_data = false, .named_phases = false});
  variables.propprntsampled(1) = variables.propprntsampled(2) = 0.5;
  std::cout.clear();
  std::printf("parentage thresholds: %d SNP loci, %d candidates per sex, error rate %g\n", p.loci,
              p.candidates, p.error);
  const double plain = run(false);
  double trio = 0.0;
  if (p.error == 0.0) {
    trio = run(true);
    std::printf("  trio / plain: %.2f\n", trio / plain);
  }
  return 0;
}
