// The two dyad steps on a simulated sample with its true pedigree as the best configuration and
// 999 perturbed copies (20 offspring moved each) as the rest of the archive: n = 5,000
// offspring in 500 full-sib families, 20 loci of 10 alleles, both typing-error rates 0.01.
// The first 200 fathers and mothers are candidates (genotypes of a member of their family)
// assigned in the best configuration. Reports the time of each step, the peak resident memory
// after each, the lines written and the likelihood evaluations per group of the
// parent-offspring step. Run on one core of a Release build:
//   taskset -c 2 build/release/bench/bench_dyad_probabilities
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "model/model.hpp"
#include "results/archive_internal.hpp"
#include "results/dyad_internal.hpp"
#include "results/error_rate_best.hpp"
#include "results/error_rate_simulation.hpp"
#include "support/temp_dir.hpp"
#include "truth_archive.hpp"

namespace {

using namespace kinrad;

long peak_mib() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024;
}

long lines(const std::string& name) {
  std::ifstream in(name);
  long k = 0;
  for (std::string l; std::getline(in, l);) ++k;
  return k - 1;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main() {
  testing_support::TempWorkDir dir{"bench_dyad_probabilities"};
  const int families = 500, candidates = 200;
  auto sample = test::simulated_families({families, 10, 20, 10, 0.01, 0.01, 17u});
  for (int f = 1; f <= candidates; ++f) {
    const auto& members = sample.families[static_cast<std::size_t>(f - 1)].members;
    auto& fa = sample.fathers[static_cast<std::size_t>(f - 1)];
    auto& mo = sample.mothers[static_cast<std::size_t>(f - 1)];
    fa.candidate = f;
    fa.genotype = sample.offspring[static_cast<std::size_t>(members[0] - 1)];
    mo.candidate = f;
    mo.genotype = sample.offspring[static_cast<std::size_t>(members[1] - 1)];
  }
  if (!test::build_best(sample, families)) return 1;
  auto& v = variables;
  v.displayq = 0;
  v.fname = "bench";
  const int4 n = v.smplsize;
  if (!v.offtgt.allocated()) v.offtgt.allocate(Dim(n), Dim(3));
  if (!v.prnttgt.allocated()) v.prnttgt.allocate(Dim(n), Dim(2));
  singleparentlikelihood(v.inbreeding);
  bench::TruePedigree t;
  for (int4 i = 1; i <= n; ++i) {
    t.father.push_back(v.btindivloc(i, 1));
    t.mother.push_back(v.btindivloc(i, 2));
    t.fathercandidate.push_back(v.btinferparent(i, 1));
    t.mothercandidate.push_back(v.btinferparent(i, 2));
  }
  bench::load_truth_archive(t, 999, 20, -50000.0);
  const int4 records = testing_support::archive_length();
  FArray<real8, 1> weight{Dim(records)};
  real8 wsum = 0.0;
  int4 k = 0;
  for (const Config* c = v.confighead; c != nullptr; c = c->next) {
    weight(++k) = std::exp(c->logl - v.btloglikelihood);
    wsum += weight(k);
  }
  std::printf("n %d, %d families, 20 loci of 10 alleles, %d records; peak before %ld MiB\n", n,
              families, records, peak_mib());

  auto t0 = std::chrono::steady_clock::now();
  sib_dyad_probabilities(weight, wsum);
  std::printf("sib dyads: %.2f s, peak %ld MiB, %ld full-sib and %ld half-sib lines\n",
              seconds_since(t0), peak_mib(), lines("bench.FullSibDyad"),
              lines("bench.HalfSibDyad"));

  t0 = std::chrono::steady_clock::now();
  const ParentDyadCounts c = parent_offspring_dyad_counted();
  const double s = seconds_since(t0);
  std::printf("parent-offspring dyads (%d candidates per sex): %.2f s, peak %ld MiB\n", candidates,
              s, peak_mib());
  for (int sex = 0; sex < 2; ++sex)
    std::printf("  sex %d: %lld groups, %lld likelihood evaluations (%.2f per group)\n", sex + 1,
                static_cast<long long>(c.groups[static_cast<std::size_t>(sex)]),
                static_cast<long long>(c.evaluations[static_cast<std::size_t>(sex)]),
                static_cast<double>(c.evaluations[static_cast<std::size_t>(sex)]) /
                    std::max<long long>(1, c.groups[static_cast<std::size_t>(sex)]));
  return 0;
}
