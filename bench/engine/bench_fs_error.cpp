// Full-sib tables at loci with typing errors and at dominant loci, one family per call, one
// core. The family and its block tables are set up once in module state with the test
// fixtures; each iteration recomputes the table as a scoring step would. Run a Release build:
// taskset -c 2 build/release/bench/bench_fs_error.
#include <benchmark/benchmark.h>

#include <array>

#include "likelihood/fs_error_fixture.hpp"

namespace kinrad {
namespace {

using test::ErrorFamily;

// Table mode at a 6-allele locus, four observed genotypes.
void BM_FsProbCompute2(benchmark::State& state) {
  const ErrorFamily f{
      6, 0, 0.02, 0.01, {{1, 2}, {1, 3}, {2, 4}, {3, 5}}, {3, 2, 2, 1}, {3.0, 2.0, 2.0, 1.0}};
  test::set_up_family(f);
  const Fs2Call call = test::fs2_call(f);
  for (auto _ : state) {
    likelihoodvar.loglikehoodconst = 0.0;
    likelihoodvar.fsprobdim(1) = static_cast<int2>(call.ng);
    int4 status = 0;
    real8 logl = 0.0;
    fsprobcompute2(call, status, logl);
    benchmark::DoNotOptimize(status);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FsProbCompute2);

// Three offspring of one heterozygous genotype at two alleles, served from a filled slab.
void BM_FsProbCompute21Slab(benchmark::State& state) {
  const ErrorFamily f{2, 0, 0.02, 0.01, {{1, 2}}, {3}, {3.0}};
  test::set_up_family(f);
  likelihoodvar.fsprobptr.allocate(Dim(1));
  likelihoodvar.fsprobidx.allocate(Dim(1));
  likelihoodvar.fsprobidx(1) = -1;
  for (auto _ : state) {
    std::array<real8, 2> acc{0.0, 0.0};
    likelihoodvar.fsprobptr(1).a = {};
    fsprobcompute21(1, 1, 3, 3, 2, 2, 1, acc);
    benchmark::DoNotOptimize(acc);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FsProbCompute21Slab);

// A dominant family of 7 band and 4 no-band offspring at an error locus: a table look-up.
void BM_FsProbComputeDom(benchmark::State& state) {
  reset_all_modules();
  test::setup_loci({{2, true, 0.02, 0.05, {0.5, 0.5}}});
  build_block_tables(1, 1, 1);
  variables.fsprobloc.allocate(Dim(2));
  likelihoodvar.fsprob.allocate(Dim(3), Dim(3));
  for (auto _ : state) {
    real8 cst = 0.0;
    fsprobcomputedom(1, 1, 1, 7, 4, cst);
    benchmark::DoNotOptimize(cst);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FsProbComputeDom);

// A 10-allele family of 20 offspring in six observed genotypes.
void BM_FsProbCompute3(benchmark::State& state) {
  const ErrorFamily f{10,
                      0,
                      0.02,
                      0.01,
                      {{1, 2}, {1, 3}, {2, 4}, {3, 4}, {5, 6}, {1, 1}},
                      {6, 4, 4, 3, 1, 2},
                      {6.0, 4.0, 4.0, 3.0, 1.0, 2.0}};
  test::set_up_family(f);
  variables.numfsgenotype.allocate(Dim(2), Dim(1));
  variables.numfsgenotype(1, 1) = 5;
  variables.numfsgenotype(2, 1) = 1;
  for (auto _ : state) {
    likelihoodvar.loglikehoodconst = 0.0;
    int4 fail = 0;
    fsprobcompute3(1, 1, 55, 10, 6, fail, 0.03);
    benchmark::DoNotOptimize(fail);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FsProbCompute3);

}  // namespace
}  // namespace kinrad

BENCHMARK_MAIN();
