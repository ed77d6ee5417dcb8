// The archive walk of the result phase up to its dyad steps: ".ConfigArchive" and the parent
// pairs, family-size distribution and selfer summaries for 5,000 offspring in 500 full-sib
// families (one cluster each), 200 candidates per sex assigned to the first families, and an
// archive of the truth and 999 perturbed copies. Times the whole call, the walk without its
// file (decode, known parents, tallies) and reports the size and write rate of
// ".ConfigArchive". Run a Release build on one core: taskset -c 2 ./bench_archive_config_write
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "results/archive_internal.hpp"
#include "results/results_internal.hpp"
#include "truth_archive.hpp"

namespace {

using namespace kinrad;

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main() {
  const int n = 5000;
  const int cand = 200;
  bench::TruePedigree truth;
  for (int i = 0; i < n; ++i) {
    const int c = i / 10 + 1;
    truth.father.push_back(c);
    truth.mother.push_back(c);
    truth.fathercandidate.push_back(c <= cand ? c : 0);
    truth.mothercandidate.push_back(c <= cand ? c : 0);
  }
  testing_support::archive_sample({.n = n, .ncand1 = cand, .ncand2 = cand});
  auto& v = variables;
  v.fname = "bench_archive";
  v.displayq = 0;
  bench::load_truth_archive(truth, 999, 20, -50000.0);

  auto t0 = std::chrono::steady_clock::now();
  archiveconfigwrite();
  const double whole = seconds_since(t0);

  // The same walk without the archive file: decode, known parents, weights, tallies.
  t0 = std::chrono::steady_clock::now();
  ArchiveTallies t;
  archive_tallies_setup(t);
  v.indivorder = v.number1tgt.view();
  v.inferparentprt = v.prnttgt.view();
  for (Config* c = v.confighead; c != nullptr; c = c->next) {
    real8 logl = 0.0;
    decode_archived(c, logl);
    mergeparentage();
    archive_tally(t, std::exp(logl - v.btloglikelihood));
  }
  const double tallies = seconds_since(t0);

  const auto bytes = std::filesystem::file_size("bench_archive.ConfigArchive");
  std::printf("n = %d in 500 clusters, %d records, %d candidates per sex\n", n,
              testing_support::archive_length(), cand);
  std::printf("archiveconfigwrite up to the dyad steps: %.3f s\n", whole);
  std::printf("walk without the archive file (decode, spread, tallies): %.3f s\n", tallies);
  std::printf(".ConfigArchive: %.1f MB, %.0f MB/s over the rest of the call\n", bytes / 1e6,
              bytes / 1e6 / std::max(whole - tallies, 1e-9));
  for (const char* s : {".ConfigArchive", ".ParentPair", ".Distribution"})
    std::filesystem::remove(std::string("bench_archive") + s);
  return 0;
}
