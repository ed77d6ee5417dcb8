// Time to build the parent-conflict lists of a simulated sample in which some offspring have a
// known parent and others exclude a few candidates, for both sexes.
//
//   bench_parent_conflicts [offspring [candidates [known-percent [exclusions [repeats]]]]]
//
// Defaults: 32767 offspring, 1000 candidates per sex, 50 % of the offspring with a known parent
// of each sex, the others with 5 excluded candidates of that sex, 3 repeats. Prints the best
// and the mean wall-clock time of one build (memory estimate included).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "core/system_memory.hpp"
#include "input/parent_conflicts_internal.hpp"

namespace {

using namespace kinrad;

void simulate(int4 n, int4 nc, int known, int4 m, unsigned seed) {
  reset_all_modules();
  auto& v = variables;
  v.smplsize = n;
  v.numcandidate(1) = nc;
  v.numcandidate(2) = nc;
  v.indivparent.allocate(Dim(n), Dim(2));
  v.indivparent.fill(-1);
  v.excludedparent.allocate(Dim(n), Dim(2));
  std::mt19937 rng(seed);
  auto draw = [&] { return 1 + static_cast<int4>(rng() % static_cast<unsigned>(nc)); };
  std::vector<int4> list;
  for (int k = 1; k <= 2; ++k)
    for (int4 i = 1; i <= n; ++i) {
      if (static_cast<int>(rng() % 100) < known) {
        v.indivparent(i, k) = draw();
        continue;
      }
      list.clear();
      while (static_cast<int4>(list.size()) < std::min(m, nc)) {
        const int4 p = draw();
        if (std::find(list.begin(), list.end(), p) == list.end()) list.push_back(p);
      }
      std::sort(list.begin(), list.end());
      Excludedlist& e = v.excludedparent(i, k);
      e.count = static_cast<int4>(list.size());
      e.list.allocate(Dim(e.count));
      std::copy(list.begin(), list.end(), e.list.data());
    }
}

}  // namespace

int main(int argc, char** argv) {
  auto arg = [&](int k, long fallback) { return argc > k ? std::atol(argv[k]) : fallback; };
  const auto n = static_cast<int4>(arg(1, 32767));
  const auto nc = static_cast<int4>(arg(2, 1000));
  const auto known = static_cast<int>(arg(3, 50));
  const auto m = static_cast<int4>(arg(4, 5));
  const auto repeats = static_cast<int>(arg(5, 3));
  if (n < 1 || n > 32767 || nc < 1 || known < 0 || known > 100 || m < 1 || repeats < 1) {
    std::fprintf(stderr, "usage: %s [offspring [candidates [known%% [exclusions [repeats]]]]]\n",
                 argv[0]);
    return 2;
  }
  double best = 1e300;
  double total = 0.0;
  long long entries = 0;
  for (int r = 0; r < repeats; ++r) {
    simulate(n, nc, known, m, 12345u + static_cast<unsigned>(r));
    const auto start = std::chrono::steady_clock::now();
    build_parent_conflicts(physical_memory_bytes());
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
    total += took.count();
    entries = 0;
    for (int k = 1; k <= 2; ++k)
      if (variables.anyprntconflictq(k) == 1)
        for (int4 i = 1; i <= n; ++i) entries += std::abs(variables.prntconflict(i, k).count);
  }
  std::printf(
      "parent-conflict lists: %d offspring, %d candidates per sex, %d%% known, %d exclusions per "
      "line: best %.3f s, mean %.3f s over %d builds (%lld list entries)\n",
      n, nc, known, m, best, total / repeats, repeats, entries);
  return 0;
}
