// The genotype and allele-frequency inference on a simulated sample with its true pedigree as
// the best configuration: n = 5,000 offspring in 500 full-sib families of unsampled parents
// (one cluster each), 20 loci of 10 alleles with both typing-error rates. Reports the time of
// the whole step, the number of posterior computations (one per cluster and locus) and the
// rate at which the three genotype files are written. Run on one core of a Release build:
//   taskset -c 2 build/release/bench/bench_genotype_inference
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "results/error_rate_best.hpp"
#include "results/error_rate_simulation.hpp"
#include "results/results_internal.hpp"
#include "support/temp_dir.hpp"

int main() {
  using namespace kinrad;
  testing_support::TempWorkDir dir{"bench_genotype_inference"};
  const int4 families = 500;
  const auto sample = test::simulated_families({families, 10, 20, 10, 0.05, 0.01, 7u});
  if (!test::build_best(sample, families)) return 1;
  auto& v = variables;
  for (int4 i = 1; i <= v.smplsize; ++i) v.btindivloc(i, 3) = v.btindivloc(i, 1);
  v.bestparentid.allocate(Dim(v.smplsize), Dim(2));
  for (int4 i = 1; i <= v.smplsize; ++i) {
    v.bestparentid(i, 1) = "*" + std::to_string(v.btindivloc(i, 1));
    v.bestparentid(i, 2) = "#" + std::to_string(v.btindivloc(i, 2));
  }
  v.fulllikelihoodmethodq = 1;
  v.allelefreest = 1;
  v.displayq = 0;
  v.fname = "bench";
  v.prec1 = 0.01;
  v.prec3 = 0.001;
  const auto t0 = std::chrono::steady_clock::now();
  infer_genotypes_and_frequencies();
  write_allele_frequencies();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  double bytes = 0.0;
  for (const char* f : {"bench.OffGenotype", "bench.DadGenotype", "bench.MumGenotype"})
    bytes += static_cast<double>(std::filesystem::file_size(f));
  long calls = 0;
  for (int4 l = 1; l <= v.numloci; ++l)
    if (v.obsnumallele(l) > 1) calls += families;
  std::printf("offspring %d, clusters %d, loci %d, alleles 10\n", v.smplsize, families, v.numloci);
  std::printf("whole step %.2f s, %ld posterior computations (%.3f ms each)\n", seconds, calls,
              1e3 * seconds / double(calls));
  int4 errorloci = 0;
  for (int4 l = 1; l <= v.numloci; ++l) errorloci += v.locuserror(l) != 0 ? 1 : 0;
  std::printf("loci with typing errors %d\n", errorloci);
  std::printf("genotype files %.1f MB, %.1f MB/s over the whole step\n", bytes / 1e6,
              bytes / 1e6 / seconds);
  return 0;
}
