// Family set-up costs of the likelihood engine, one core: preparing the work state of a family
// (done for every family the search scores) and the per-locus set-up (once per family and
// locus). Run a Release build: build/release/bench/bench_engine.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "core/modules/variables.hpp"
#include "engine/cluster_generator.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/likelihood_internal.hpp"

namespace kinrad {
namespace {

// One father, one mother and 10 offspring.
void BM_PrepareVariable(benchmark::State& state) {
  bench::SimSpec s;
  const std::string dir = bench::simulate_cluster(s);
  for (auto _ : state) {
    int4 status = 0;
    preparevariable(status, 0, 0, 0);
    benchmark::DoNotOptimize(status);
  }
  state.SetItemsProcessed(state.iterations());
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_PrepareVariable);

// The same family at one error-free locus of 8 alleles.
void BM_FamilyLocusSetup(benchmark::State& state) {
  bench::SimSpec s;
  const std::string dir = bench::simulate_cluster(s);
  const int4 k = variables.obsnumallele(1);
  for (auto _ : state) {
    real8 logl = 0.0;
    familylocus_setup(1, k, variables.genotypenum(k), logl);
    benchmark::DoNotOptimize(logl);
  }
  state.SetItemsProcessed(state.iterations());
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_FamilyLocusSetup);

// A larger cluster: 3 fathers x 3 mothers, 6 offspring per pair, 8 alleles.
void BM_PrepareAndSetUpCluster(benchmark::State& state) {
  bench::SimSpec s;
  s.fathers = 3;
  s.mothers = 3;
  s.offspring_per_family = 6;
  const std::string dir = bench::simulate_cluster(s);
  const int4 k = variables.obsnumallele(1);
  for (auto _ : state) {
    int4 status = 0;
    preparevariable(status, 0, 0, 0);
    real8 logl = 0.0;
    familylocus_setup(1, k, variables.genotypenum(k), logl);
    benchmark::DoNotOptimize(logl);
  }
  state.SetItemsProcessed(state.iterations());
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_PrepareAndSetUpCluster);

}  // namespace
}  // namespace kinrad

BENCHMARK_MAIN();
