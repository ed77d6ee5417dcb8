// The family likelihood as the search calls it for every proposal: famsize 0 (the work state is
// prepared on each call) and checkflag 1, full bound. One core; run a Release build:
// build/release/bench/bench_family_likelihood. Items per second are evaluations per second;
// the per-locus time is the reported time divided by the number of loci.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "core/modules/variables.hpp"
#include "engine/cluster_generator.hpp"
#include "likelihood/likelihood.hpp"

namespace kinrad {
namespace {

void run_family_likelihood(benchmark::State& state, const bench::SimSpec& s) {
  const std::string dir = bench::simulate_cluster(s);
  real8 logl = 0.0;
  for (auto _ : state) {
    familylikelihood(logl, -1e300, 1, 0, 0);
    benchmark::DoNotOptimize(logl);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["logl"] = logl;  // a finite value: the cluster was scored, not rejected
  state.counters["loci"] = s.loci;
  std::filesystem::remove_all(dir);
}

// One full-sib family of 10 offspring, both parents unsampled, 10 error-free 8-allele loci.
void BM_FamilyLikelihood_FullSib_10x8(benchmark::State& state) {
  bench::SimSpec s;
  s.loci = 10;
  run_family_likelihood(state, s);
}
BENCHMARK(BM_FamilyLikelihood_FullSib_10x8);

// The same family at 10 8-allele loci with dropout 0.02 and other errors 0.01.
void BM_FamilyLikelihood_FullSib_10x8_Errors(benchmark::State& state) {
  bench::SimSpec s;
  s.loci = 10;
  s.droprate = 0.02;
  s.otherrate = 0.01;
  run_family_likelihood(state, s);
}
BENCHMARK(BM_FamilyLikelihood_FullSib_10x8_Errors);

// The same family at 200 two-allele loci with errors.
void BM_FamilyLikelihood_FullSib_200x2_Errors(benchmark::State& state) {
  bench::SimSpec s;
  s.loci = 200;
  s.alleles = 2;
  s.droprate = 0.02;
  s.otherrate = 0.01;
  run_family_likelihood(state, s);
}
BENCHMARK(BM_FamilyLikelihood_FullSib_200x2_Errors);

// A half-sib star: one father, five mothers, two offspring each, 10 error-prone 8-allele loci.
void BM_FamilyLikelihood_Star_10x8_Errors(benchmark::State& state) {
  bench::SimSpec s;
  s.mothers = 5;
  s.offspring_per_family = 2;
  s.loci = 10;
  s.droprate = 0.02;
  s.otherrate = 0.01;
  run_family_likelihood(state, s);
}
BENCHMARK(BM_FamilyLikelihood_Star_10x8_Errors);

// The same star at 10 error-free 8-allele loci.
void BM_FamilyLikelihood_Star_10x8(benchmark::State& state) {
  bench::SimSpec s;
  s.mothers = 5;
  s.offspring_per_family = 2;
  s.loci = 10;
  run_family_likelihood(state, s);
}
BENCHMARK(BM_FamilyLikelihood_Star_10x8);

// A cycle of two fathers and two mothers (four families of three offspring, parents unsampled):
// the layer stage. 10 error-free 6-allele loci.
void BM_FamilyLikelihood_Cycle2x2_10x6(benchmark::State& state) {
  bench::SimSpec s;
  s.fathers = 2;
  s.mothers = 2;
  s.offspring_per_family = 3;
  s.loci = 10;
  s.alleles = 6;
  run_family_likelihood(state, s);
}
BENCHMARK(BM_FamilyLikelihood_Cycle2x2_10x6);

// The same cycle at 10 8-allele loci with dropout 0.02 and other errors 0.01.
void BM_FamilyLikelihood_Cycle2x2_10x8_Errors(benchmark::State& state) {
  bench::SimSpec s;
  s.fathers = 2;
  s.mothers = 2;
  s.offspring_per_family = 3;
  s.loci = 10;
  s.droprate = 0.02;
  s.otherrate = 0.01;
  run_family_likelihood(state, s);
}
BENCHMARK(BM_FamilyLikelihood_Cycle2x2_10x8_Errors);

// Three fathers and three mothers, all nine pairs families of two, 10 error-free 6-allele loci
// (conditioning alone, without pair absorption).
void BM_FamilyLikelihood_Complete3x3_10x6(benchmark::State& state) {
  bench::SimSpec s;
  s.fathers = 3;
  s.mothers = 3;
  s.offspring_per_family = 2;
  s.loci = 10;
  s.alleles = 6;
  run_family_likelihood(state, s);
}
BENCHMARK(BM_FamilyLikelihood_Complete3x3_10x6);

// A chain of diamonds: 20 spine fathers; between spine fathers i and i + 1 two mothers mated
// with both when i is odd, one mother when i is even. Families of two offspring, 10 two-allele
// loci with dropout 0.02 and other errors 0.01.
void BM_FamilyLikelihood_Diamonds20_10x2_Errors(benchmark::State& state) {
  bench::SimSpec s;
  s.fathers = 20;
  s.mothers = 0;
  for (int i = 1; i < 20; ++i) {
    for (int k = 0; k < (i % 2 == 1 ? 2 : 1); ++k) {
      ++s.mothers;
      s.pairs.push_back({i, s.mothers});
      s.pairs.push_back({i + 1, s.mothers});
    }
  }
  s.offspring_per_family = 2;
  s.loci = 10;
  s.alleles = 2;
  s.droprate = 0.02;
  s.otherrate = 0.01;
  run_family_likelihood(state, s);
}
BENCHMARK(BM_FamilyLikelihood_Diamonds20_10x2_Errors);

}  // namespace
}  // namespace kinrad

BENCHMARK_MAIN();
