// The full-sib family probabilities on a simulated sample with its true pedigree as the best
// configuration and 999 perturbed copies (20 offspring moved each) as the rest of the archive:
// n = 2,000 offspring in 200 full-sib families of unsampled parents, 20 loci of 10 alleles,
// both typing-error rates 0.01; then both sexes monogamous at n = 1,000, where every outsider
// is scored joined to every family. Reports the time and the likelihood evaluations. Run on one
// core of a Release build:
//   taskset -c 2 build/release/bench/bench_fs_family_prob
#include <chrono>
#include <cstdio>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "results/error_rate_best.hpp"
#include "results/error_rate_simulation.hpp"
#include "results/fs_family_prob_internal.hpp"
#include "support/temp_dir.hpp"
#include "truth_archive.hpp"

namespace {

using namespace kinrad;

bool run(int families, bool monogamous) {
  const auto sample = test::simulated_families({families, 10, 20, 10, 0.01, 0.01, 11u});
  if (!test::build_best(sample, families)) return false;
  auto& v = variables;
  v.displayq = 0;
  const int4 n = v.smplsize;
  if (!v.offtgt.allocated()) v.offtgt.allocate(Dim(n), Dim(3));
  if (!v.prnttgt.allocated()) v.prnttgt.allocate(Dim(n), Dim(2));
  if (monogamous) {
    v.monogamy(1) = v.monogamy(2) = 1;
    v.anymonogamy = v.allmonogamy = 1;
  }
  bench::TruePedigree t;
  for (int4 i = 1; i <= n; ++i) {
    t.father.push_back(v.btindivloc(i, 1));
    t.mother.push_back(v.btindivloc(i, 2));
    t.fathercandidate.push_back(0);
    t.mothercandidate.push_back(0);
  }
  bench::load_truth_archive(t, 999, 20, -50000.0);
  FArray<real8, 1> inc{Dim(n)}, exc{Dim(n)};
  std::array<real8, 3> self{};
  const auto t0 = std::chrono::steady_clock::now();
  const FsFamilyCounts c = findfsfamilyprob_counted(inc, exc, self);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf(
      "n %d, %d families%s, %d records: %.2f s; splits %lld, half-sib separate %lld, joins %lld, "
      "screened %lld; Prob(Inc.)(1) %.4f, Prob(Exc.)(1) %.4f\n",
      n, families, monogamous ? " (both sexes monogamous)" : "", testing_support::archive_length(),
      s, static_cast<long long>(c.splits), static_cast<long long>(c.separate),
      static_cast<long long>(c.joins), static_cast<long long>(c.screened), inc(1), exc(1));
  return true;
}

}  // namespace

int main() {
  testing_support::TempWorkDir dir{"bench_fs_family_prob"};
  if (!run(200, false)) return 1;
  if (!run(100, true)) return 1;
  return 0;
}
