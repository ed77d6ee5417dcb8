// Times the effective-size estimate: the whole of sibne on a one-sex sample of 20,000
// offspring with an archive of 1,000 configurations (targets: at most 2 s, the interval
// sampling aside), and the interval sampling alone at Ne = 10^4 (both methods: two calls, at
// most 1 s) and at Ne = 10^6 (about 10^9 ran1 draws, reported only).
// Run from a scratch directory: it writes "bench_sib_ne.Ne" there.
#include <chrono>
#include <cstdio>
#include <random>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "core/random_numbers.hpp"
#include "results/ne_internal.hpp"
#include "results/results.hpp"

namespace {

using namespace kinrad;

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// One sex, n offspring in random families of about 4, `records` archived configurations that
// each move a few hundred offspring of the first.
void setup_archive(int4 n, int4 records) {
  reset_all_modules();
  auto& v = variables;
  v.smplsize = n;
  v.numsex = 1;
  v.fname = "bench_sib_ne";
  v.fulllikelihoodmethodq = 1;
  v.offploid.allocate(Dim(n));
  v.offploid.fill(2);
  v.smplsizedh(2) = n;
  v.offtgt.allocate(Dim(n), Dim(3));
  v.prnttgt.allocate(Dim(n), Dim(2));
  v.crindivloc.allocate(Dim(n), Dim(3));
  v.inferparent.allocate(Dim(n), Dim(2));
  std::mt19937 rng(7);
  const int4 parents = n / 2;
  std::uniform_int_distribution<int4> parent(1, parents);
  std::uniform_int_distribution<int4> who(1, n);
  for (int4 i = 1; i <= n; ++i) {
    v.crindivloc(i, 1) = parent(rng);
    v.crindivloc(i, 2) = parent(rng);
    v.crindivloc(i, 3) = 1;
  }
  v.indivlocprt = v.crindivloc.view();
  v.inferparentprt = v.inferparent.view();
  v.loglikelihoodprt = &v.crloglikelihood;
  for (int4 r = 0; r < records; ++r) {
    v.crloglikelihood = -1000.0 - 0.01 * r;
    archiveconfigadd(3, 1);
    for (int k = 0; k < 300; ++k) v.crindivloc(who(rng), 1 + k % 2) = parent(rng);
  }
}

}  // namespace

int main() {
  setup_archive(20000, 1000);
  variables.idum = -1;
  auto t0 = std::chrono::steady_clock::now();
  sibne();
  std::printf("sibne, one sex, n = 20000, 1000 records: %.3f s\n", seconds_since(t0));
  archiveconfigremoveall();

  for (const int4 ne : {10000, 1000000}) {
    std::array<int4, 2> ci{};
    // The spread of 0.5/Ne a resampling of a few thousand sib pairs gives: about 5%.
    const real4 sd = 0.05f * 0.5f / static_cast<real4>(ne);
    t0 = std::chrono::steady_clock::now();
    geneticsampling(ne, sd, ci);
    geneticsampling(ne, sd, ci);
    std::printf("interval sampling at Ne = %d, both methods: %.3f s (last interval %d..%d)\n", ne,
                seconds_since(t0), ci[0], ci[1]);
  }
  return 0;
}
