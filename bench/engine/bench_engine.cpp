// Family set-up costs of the likelihood engine, one core: preparing the work state of a family
// (done for every family the search scores) and the per-locus set-up (once per family and
// locus). Run a Release build: build/release/bench/bench_engine.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "engine/cluster_generator.hpp"
#include "likelihood/full_sib_internal.hpp"
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

// Locus log likelihood of a simulated cluster at locus 1, called again and again.
void run_locus_logl(benchmark::State& state, const bench::SimSpec& s) {
  const std::string dir = bench::simulate_cluster(s);
  const int4 k = variables.obsnumallele(1);
  const int4 ng = variables.genotypenum(k);
  for (auto _ : state) {
    real8 logl = 0.0;
    familylocuslogl(1, k, ng, logl);
    benchmark::DoNotOptimize(logl);
  }
  state.SetItemsProcessed(state.iterations());
  std::filesystem::remove_all(dir);
}

// One full-sib family of 10 offspring, both parents unsampled, error-free 8-allele locus.
void BM_FamilyLocusLogL_FullSib8(benchmark::State& state) {
  bench::SimSpec s;
  run_locus_logl(state, s);
}
BENCHMARK(BM_FamilyLocusLogL_FullSib8);

// The same family at an error-free 2-allele locus.
void BM_FamilyLocusLogL_FullSib2(benchmark::State& state) {
  bench::SimSpec s;
  s.alleles = 2;
  run_locus_logl(state, s);
}
BENCHMARK(BM_FamilyLocusLogL_FullSib2);

// The same family at an 8-allele locus with dropout 0.02 and other errors 0.01.
void BM_FamilyLocusLogL_FullSib8Errors(benchmark::State& state) {
  bench::SimSpec s;
  s.droprate = 0.02;
  s.otherrate = 0.01;
  run_locus_logl(state, s);
  state.counters["locuserror"] = variables.locuserror(1);
  state.counters["familyalleles"] = likelihoodvar.numallelefs(1);
}
BENCHMARK(BM_FamilyLocusLogL_FullSib8Errors);

// A half-sib star: one father, five mothers, two offspring each, error-free 8-allele locus.
void BM_FamilyLocusLogL_Star8(benchmark::State& state) {
  bench::SimSpec s;
  s.mothers = 5;
  s.offspring_per_family = 2;
  run_locus_logl(state, s);
}
BENCHMARK(BM_FamilyLocusLogL_Star8);

// Every locus of a simulated cluster, one evaluation per iteration (the sum over the loci).
void run_all_loci(benchmark::State& state, const bench::SimSpec& s) {
  const std::string dir = bench::simulate_cluster(s);
  for (auto _ : state) {
    real8 total = 0.0;
    for (int4 l = 1; l <= variables.numloci; ++l) {
      const int4 k = variables.obsnumallele(l);
      if (k < 2) continue;
      real8 logl = 0.0;
      familylocuslogl(l, k, variables.genotypenum(k), logl);
      total += logl;
    }
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(state.iterations());
  std::filesystem::remove_all(dir);
}

// A cycle of two fathers and two mothers, four families of three offspring, 10 error-free
// 6-allele loci: the smallest cluster the layer stage finishes.
void BM_Cycle2x2_10Loci6(benchmark::State& state) {
  bench::SimSpec s;
  s.fathers = 2;
  s.mothers = 2;
  s.offspring_per_family = 3;
  s.loci = 10;
  s.alleles = 6;
  run_all_loci(state, s);
}
BENCHMARK(BM_Cycle2x2_10Loci6);

// Posterior genotypes with counting and storing (parents and offspring) for the 2x2 cycle,
// families of three, at one error-free 8-allele locus; reports the familylocuslogl
// evaluations per call.
void BM_GenotypeInference_Cycle2x2(benchmark::State& state) {
  bench::SimSpec s;
  s.fathers = 2;
  s.mothers = 2;
  s.offspring_per_family = 3;
  s.loci = 1;
  s.alleles = 8;
  const std::string dir = bench::simulate_cluster(s);
  Variables& v = variables;
  const int4 k = v.obsnumallele(1);
  const int4 ne = v.numestgenotype;
  v.estprntgtype.allocate(Dim(2), Dim(ne), Dim(2), Dim(2));
  v.estprntgtypeprb.allocate(Dim(ne), Dim(2), Dim(2));
  v.estchildgtype.allocate(Dim(2), Dim(ne), Dim(v.smplsize));
  v.estchildgtypeprb.allocate(Dim(ne), Dim(v.smplsize));
  v.prntglogl.allocate(Dim(2), Dim(2), Dim(3));
  v.prntglogl.fill(1.0);
  FArray<int4, 2> config(Dim(v.smplsize), Dim(3));
  for (int4 p1 = 1; p1 <= 2; ++p1) {
    for (int4 p2 = 1; p2 <= 2; ++p2) {
      const FView<int2, 1> m = familystructure(p1, p2);
      for (int4 i = 1; i <= v.nchild(p1, p2); ++i) {
        config(m(i), 1) = p1;
        config(m(i), 2) = p2;
      }
    }
  }
  v.indivlocprt = config.view();
  std::vector<real8> counts(static_cast<size_t>(k));
  double evaluations = 0.0;
  for (auto _ : state) {
    int4 status = 0;
    preparevariable(status, 0, 1, 0);
    genotypeinference(1, 1, 1, counts, k, 1);
    evaluations += likelihoodvar.inferg2 + 1;
    benchmark::DoNotOptimize(counts.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["evaluations_per_call"] =
      evaluations / static_cast<double>(std::max<int64_t>(state.iterations(), 1));
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_GenotypeInference_Cycle2x2);

// Three fathers and three mothers, all nine pairs families of two, 10 error-free 6-allele loci.
void BM_Complete3x3_10Loci6(benchmark::State& state) {
  bench::SimSpec s;
  s.fathers = 3;
  s.mothers = 3;
  s.offspring_per_family = 2;
  s.loci = 10;
  s.alleles = 6;
  run_all_loci(state, s);
}
BENCHMARK(BM_Complete3x3_10Loci6);

// The full-sib table of the 10-offspring family in table mode (the family is not in the
// first group of the absorb list), 8-allele and 2-allele loci.
void BM_FsProbCompute1_Table(benchmark::State& state) {
  bench::SimSpec s;
  const std::string dir = bench::simulate_cluster(s);
  const int4 k = variables.obsnumallele(1);
  real8 logl = 0.0;
  familylocuslogl(1, k, variables.genotypenum(k), logl);
  familylocus_setup(1, k, variables.genotypenum(k), logl);
  variables.purefsshortcut = 0;
  likelihoodvar.mabsorb(1) = 0;
  const int4 na = likelihoodvar.numallelefs(1);
  const int4 ngt = variables.numfsgenotype(1, 1) + variables.numfsgenotype(2, 1);
  for (auto _ : state) {
    bool complete = false;
    fsprobcompute1(1, na, ngt, logl, 1, 0, complete);
    benchmark::DoNotOptimize(likelihoodvar.fsprob(1, 1));
  }
  state.SetItemsProcessed(state.iterations());
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_FsProbCompute1_Table);

void BM_FsProbComputeSnp_Table(benchmark::State& state) {
  bench::SimSpec s;
  s.alleles = 2;
  const std::string dir = bench::simulate_cluster(s);
  real8 logl = 0.0;
  familylocuslogl(1, 2, 3, logl);
  familylocus_setup(1, 2, 3, logl);
  likelihoodvar.mabsorb(1) = 0;
  likelihoodvar.flagsnp(1) = 0;
  const int2 ngt[2] = {variables.numfsgenotype(1, 1), variables.numfsgenotype(2, 1)};
  for (auto _ : state) {
    fsprobcomputesnp(1, ngt, 1, 0);
    benchmark::DoNotOptimize(likelihoodvar.fsprob(1, 1));
  }
  state.SetItemsProcessed(state.iterations());
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_FsProbComputeSnp_Table);

}  // namespace
}  // namespace kinrad

BENCHMARK_MAIN();
