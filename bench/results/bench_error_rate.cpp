// The error-rate estimation on a simulated sample with its true pedigree as the best
// configuration: n = 1,000 offspring in 100 full-sib families of unsampled parents, 20 loci of
// 10 alleles, both rates estimated at every locus. Reports the total time, the objective
// evaluations per locus (those inside the box, which run the likelihood of every cluster, and
// all calls) and the time per evaluation. Run on one core of a Release build:
//   taskset -c 2 build/release/bench/bench_error_rate
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "results/error_rate_best.hpp"
#include "results/error_rate_internal.hpp"
#include "results/error_rate_simulation.hpp"
#include "support/temp_dir.hpp"

int main() {
  using namespace kinrad;
  testing_support::TempWorkDir dir{"bench_error_rate"};
  const auto sample = test::simulated_families({100, 10, 20, 10, 0.05, 0.01, 7u});
  if (!test::build_best(sample, 100)) return 1;
  auto& v = variables;
  v.fulllikelihoodmethodq = 1;
  v.displayq = 0;
  const auto t0 = std::chrono::steady_clock::now();
  if (!errorrateprepare()) return 1;
  const real8 hi = errorratesetup();
  long inside = 0, calls = 0;
  const PowellObjective counted = [&](const PowellPoint& x) {
    ++calls;
    const real8 f = loglerrorrate(x);
    if (f < 1e100) ++inside;
    return f;
  };
  std::vector<long> per_locus, per_locus_calls;
  double sumdrop = 0.0, sumother = 0.0;
  int4 progress = 0;
  for (int4 l = 1; l <= v.numloci; ++l) {
    ErrorRateEntries e{};
    for (int4 k = 1; k <= 4; ++k) {
      e(k) = v.droprate(l);
      e(k + 4) = v.othererrorrate(l);
    }
    const long before = inside, before_calls = calls;
    errorratelocus(l, errorratekind(l), hi, e, counted, progress);
    per_locus.push_back(inside - before);
    per_locus_calls.push_back(calls - before_calls);
    sumdrop += e(1);
    sumother += e(5);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  auto median = [](std::vector<long> x) {
    std::sort(x.begin(), x.end());
    return x.size() % 2 ? double(x[x.size() / 2])
                        : 0.5 * double(x[x.size() / 2 - 1] + x[x.size() / 2]);
  };
  std::printf("loci %d, offspring %d, families 100, alleles 10\n", v.numloci, v.smplsize);
  std::printf("total %.2f s\n", seconds);
  std::printf(
      "evaluations inside the box per locus: median %.1f, max %ld (all calls: median "
      "%.1f, max %ld)\n",
      median(per_locus), *std::max_element(per_locus.begin(), per_locus.end()),
      median(per_locus_calls), *std::max_element(per_locus_calls.begin(), per_locus_calls.end()));
  std::printf("time per evaluation inside the box: %.3f ms\n", 1e3 * seconds / double(inside));
  std::printf("mean estimates: dropout %.4f, other error %.4f\n", sumdrop / v.numloci,
              sumother / v.numloci);
  return 0;
}
