// Clone inference on a simulated sample: n offspring in full-sib families of 20 (one replicate
// planted in every tenth family), 20 loci of 10 alleles. Reports the time of findclone and the
// growth of the peak resident memory it causes, and fails when that growth reaches a tenth of
// what one single-precision value per offspring pair would take.
//
// Usage: bench_clone_inference [offspring, default 5000]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "pairwise/clone_simulation.hpp"
#include "pairwise/clones.hpp"

namespace {

long peak_kib() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kinrad;
  using namespace kinrad::test;
  const int n = argc > 1 ? std::atoi(argv[1]) : 5000;
  const int fams = n / 20;
  std::vector<int> sizes(static_cast<std::size_t>(fams), 20);
  std::vector<int> planted;
  for (int f = 1; f <= fams; f += 10) planted.push_back(f);
  // Replicates add one member to their families; trim them back to n offspring in all.
  for (std::size_t k = 0; k < planted.size(); ++k)
    sizes[static_cast<std::size_t>(planted[k] - 1)] = 19;
  reset_all_modules();
  SimulatedSample s = simulate_sample(sizes, planted, 20, 10, 0.01, 0.01, 0.02, 11);
  setup_clone_data(s.data);
  variables.fname = "bench_clone";
  const std::vector<real8> famprob(s.famsize.size(), 1.0);
  const long before = peak_kib();
  const auto t0 = std::chrono::steady_clock::now();
  findclone(static_cast<int4>(s.famsize.size()), famprob.data(), s.famstart.data(),
            s.famsize.data(), s.members.data());
  const auto t1 = std::chrono::steady_clock::now();
  const long after = peak_kib();
  const double seconds = std::chrono::duration<double>(t1 - t0).count();
  const double pairkib = 4.0 * variables.smplsize * (variables.smplsize - 1.0) / 2.0 / 1024.0;
  std::printf(
      "offspring %d, families %zu: findclone %.3f s, peak memory growth %ld KiB "
      "(one float per pair would be %.0f KiB)\n",
      variables.smplsize, s.famsize.size(), seconds, after - before, pairkib);
  std::remove("bench_clone.BestClone");
  return static_cast<double>(after - before) < 0.1 * pairkib ? 0 : 1;
}
