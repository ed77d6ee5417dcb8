// Cluster probabilities at n = 20,000 with 2,000 clusters (one father with two mothers, ten
// offspring each) over 1,000 records (the configuration and 999 copies with 20 offspring
// moved each).
// Run a Release build on one core: taskset -c 2 ./bench_cluster_prob
#include <chrono>
#include <cstdio>

#include "results/results_internal.hpp"
#include "truth_archive.hpp"

int main() {
  using namespace kinrad;
  const int n = 20000;
  bench::TruePedigree t;
  for (int i = 0; i < n; ++i) {
    const int c = i / 10;
    t.father.push_back(c + 1);
    t.mother.push_back(2 * c + 1 + (i % 10) / 5);
    t.fathercandidate.push_back(0);
    t.mothercandidate.push_back(0);
  }
  testing_support::archive_sample({.n = n});
  bench::load_truth_archive(t, 999, 20, -80000.0);
  FArray<real8, 1> prob(Dim(variables.btnumfamily(3)));
  const auto t0 = std::chrono::steady_clock::now();
  findfamilyprob(prob);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("findfamilyprob: %d clusters, %d records of %d offspring: %.3f s (prob(1) = %.4f)\n",
              variables.btnumfamily(3), testing_support::archive_length(), n, s, prob(1));
  return 0;
}
