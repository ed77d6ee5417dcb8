// The family likelihood of one-sex clusters as the search calls it for every proposal: famsize 0
// (the work state prepared on each call, the checks, the selfing-generation estimate) and full
// bound. One core; run a Release build: build/release/bench/bench_one_sex. Items per second are
// evaluations per second.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "core/modules/variables.hpp"
#include "engine/one_sex_cluster.hpp"
#include "likelihood/likelihood.hpp"

namespace kinrad {
namespace {

void run(benchmark::State& state, const bench::OneSexSpec& s) {
  const std::string dir = bench::simulate_one_sex_cluster(s);
  real8 first = 0.0;
  familylikelihood(first, -1e300, 1, 0, 0);
  if (first <= -1e300) state.SkipWithError("the simulated cluster is rejected");
  for (auto _ : state) {
    real8 logl = 0.0;
    familylikelihood(logl, -1e300, 1, 0, 0);
    benchmark::DoNotOptimize(logl);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["loci"] = s.loci;
  std::filesystem::remove_all(dir);
}

// A lone selfing individual with 10 selfed offspring at 200 two-allele loci with errors.
void BM_LoneSelfer_10_200x2_Errors(benchmark::State& state) {
  bench::OneSexSpec s;
  s.individuals = 1;
  s.families = {{1, 1}};
  s.offspring_per_family = 10;
  s.loci = 200;
  s.alleles = 2;
  s.droprate = 0.02;
  s.otherrate = 0.01;
  s.selfing = true;
  s.inbreeding = 0.1;
  run(state, s);
}
BENCHMARK(BM_LoneSelfer_10_200x2_Errors);

// The triangle A x B, B x C, C x A (each individual in both roles), three offspring per family,
// 10 error-free 6-allele loci.
void BM_Triangle_3_10x6(benchmark::State& state) {
  bench::OneSexSpec s;
  s.individuals = 3;
  s.families = {{1, 2}, {2, 3}, {3, 1}};
  s.offspring_per_family = 3;
  s.loci = 10;
  s.alleles = 6;
  run(state, s);
}
BENCHMARK(BM_Triangle_3_10x6);

// The triangle with a selfed family of A (five offspring) in a selfing species.
void BM_TriangleWithSelfer_3_10x6(benchmark::State& state) {
  bench::OneSexSpec s;
  s.individuals = 3;
  s.families = {{1, 2}, {2, 3}, {3, 1}, {1, 1}};
  s.offspring_per_family = 3;
  s.loci = 10;
  s.alleles = 6;
  s.selfing = true;
  s.inbreeding = 0.1;
  run(state, s);
}
BENCHMARK(BM_TriangleWithSelfer_3_10x6);

// Two triangles joined by three more families (six individuals, each in both roles, nine
// families of three offspring) at 10 8-allele loci with dropout 0.02 and other errors 0.01: a
// cluster whose layers condition several individuals.
void BM_Prism_6_10x8_Errors(benchmark::State& state) {
  bench::OneSexSpec s;
  s.individuals = 6;
  s.families = {{1, 2}, {2, 3}, {3, 1}, {4, 5}, {5, 6}, {6, 4}, {1, 4}, {2, 5}, {3, 6}};
  s.offspring_per_family = 3;
  s.loci = 10;
  s.alleles = 8;
  s.droprate = 0.02;
  s.otherrate = 0.01;
  run(state, s);
}
BENCHMARK(BM_Prism_6_10x8_Errors);

}  // namespace
}  // namespace kinrad

BENCHMARK_MAIN();
