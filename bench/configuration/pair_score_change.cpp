// Times the change of the pairwise score under random individual moves against one whole
// score, on a simulated configuration of n offspring (default 5000) in clusters of at most 20
// offspring (1 to 3 fathers and mothers each), two sexes, 100 candidates per sex, dense dyad
// tables of random values. Each move takes one offspring (with each full sib at chance 0.3) to
// a family of another cluster, beside a family of another cluster as a half sib, to another
// family of its own cluster or to a new cluster; each moving offspring changes its parent of
// each sex at chance 0.5. Only the scoring calls are timed (parent terms and offspring pairs,
// as the scoring step calls them); the move tables are built outside the clock.
// Usage: bench_pair_score_change [n] [moves]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "pairwise/pairwise.hpp"

namespace {

using namespace kinrad;
using Clock = std::chrono::steady_clock;

struct Sample {
  std::vector<std::vector<int4>> members;  // per cluster (from 1)
  int4 nfather = 0, nmother = 0;
};

Sample setup(int4 n, int4 nc, std::mt19937& rng) {
  reset_all_modules();
  auto& v = variables;
  auto& av = annealvariables;
  std::uniform_real_distribution<double> u(0.0, 1.0);
  v.smplsize = n;
  v.numsex = 2;
  v.numcandidate(1) = v.numcandidate(2) = nc;
  v.allcandidate = 2 * nc;
  v.crindivloc.allocate(Dim(n), Dim(3));
  v.inferparent.allocate(Dim(n), Dim(2));
  v.inferparent2.allocate(Dim(n), Dim(2));
  v.offploid.allocate(Dim(n));
  v.offploid.fill(2);
  av.indivloc1.allocate(Dim(n), Dim(4));
  av.indivloc2.allocate(Dim(n), Dim(4));
  av.indivlocidx.allocate(Dim(n), Dim(3));
  av.numindivlocidx.allocate(Dim(3));
  av.indivparentage.allocate(Dim(n), Dim(2));
  av.inferparentage.allocate(Dim(n), Dim(2), Dim(2));
  v.indivlogl.allocate(Dim(n));
  for (int4 i = 1; i <= n; ++i) v.indivlogl(i) = -10.0 - 20.0 * u(rng);
  const index_t tri = static_cast<index_t>(n) * (n - 1) / 2;
  v.prbfstri.allocate(Dim(0, tri - 1));
  v.prbhstri.allocate(Dim(0, tri - 1));
  v.prbhspairq = 1;
  for (index_t k = 0; k < tri; ++k) {
    v.prbfstri(k) = static_cast<real4>(-40.0 - 20.0 * u(rng));
    v.prbhstri(k) = static_cast<real4>(-40.0 - 20.0 * u(rng));
  }
  v.candidatelogl.allocate(Dim(nc), Dim(2));
  v.prbpopairtgt.allocate(Dim(2 * nc), Dim(n));
  for (int4 s = 1; s <= 2; ++s)
    for (int4 c = 1; c <= nc; ++c) {
      v.candidatelogl(c, s) = -10.0 - 20.0 * u(rng);
      v.sumcndlogl(s) += v.candidatelogl(c, s);
    }
  for (index_t k = 1; k <= 2 * nc; ++k)
    for (int4 i = 1; i <= n; ++i) v.prbpopairtgt(k, i) = static_cast<real4>(-30.0 - 20.0 * u(rng));

  Sample smp;
  smp.members.emplace_back();
  std::uniform_int_distribution<int4> size(1, 20), parents(1, 3);
  for (int4 first = 1; first <= n;) {
    const int4 k = std::min(size(rng), n - first + 1);
    const int4 f = parents(rng), m = parents(rng);
    const int4 id = static_cast<int4>(smp.members.size());
    smp.members.emplace_back();
    std::uniform_int_distribution<int4> df(1, f), dm(1, m);
    for (int4 i = first; i < first + k; ++i) {
      v.crindivloc(i, 1) = smp.nfather + df(rng);
      v.crindivloc(i, 2) = smp.nmother + dm(rng);
      v.crindivloc(i, 3) = id;
      smp.members.back().push_back(i);
    }
    smp.nfather += f;
    smp.nmother += m;
    first += k;
  }
  v.crnumfamily(1) = smp.nfather;
  v.crnumfamily(2) = smp.nmother;
  v.crnumfamily(3) = static_cast<int4>(smp.members.size()) - 1;
  std::uniform_int_distribution<int4> dc(0, nc);
  for (int4 i = 1; i <= n; ++i)
    for (int4 s = 1; s <= 2; ++s) v.inferparent(i, s) = v.inferparent2(i, s) = dc(rng);
  return smp;
}

// Writes the move tables of one random individual move; returns the rows of the three lists.
int4 random_move(const Sample& smp, std::mt19937& rng) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  std::uniform_int_distribution<int4> d(1, n);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const int4 o = d(rng);
  const int4 own = v.crindivloc(o, 3);
  const auto& ownm = smp.members[static_cast<std::size_t>(own)];
  std::vector<int4> movers{o}, stay;
  for (int4 i : ownm) {
    if (i == o) continue;
    if (v.crindivloc(i, 1) == v.crindivloc(o, 1) && v.crindivloc(i, 2) == v.crindivloc(o, 2) &&
        u(rng) < 0.3) {
      movers.push_back(i);
    } else {
      stay.push_back(i);
    }
  }
  int4 j = d(rng);
  while (v.crindivloc(j, 3) == own) j = d(rng);
  int4 d1 = 0, d2 = 0, dest = 0;
  const double r = u(rng);
  if (r < 0.4) {
    d1 = v.crindivloc(j, 1);
    d2 = v.crindivloc(j, 2);
    dest = v.crindivloc(j, 3);
  } else if (r < 0.6) {
    d1 = v.crindivloc(j, 1);
    d2 = smp.nmother + 1;
    dest = v.crindivloc(j, 3);
  } else if (r < 0.8 && !stay.empty()) {
    const int4 k = stay[static_cast<std::size_t>(u(rng) * static_cast<double>(stay.size()))];
    d1 = v.crindivloc(k, 1);
    d2 = v.crindivloc(k, 2);
    dest = own;
  } else {
    d1 = smp.nfather + 1;
    d2 = smp.nmother + 1;
  }
  for (int4 l = 1; l <= 3; ++l) av.numindivlocidx(l) = 0;
  int4 r1 = 0, r2 = 0;
  const auto row = [&](FArray<int4, 2>& t, int4& nr, int4 i, int4 f1, int4 f2, int4 list) {
    ++nr;
    t(nr, 1) = f1;
    t(nr, 2) = f2;
    t(nr, 4) = i;
    av.indivlocidx(++av.numindivlocidx(list), list) = nr;
  };
  for (int4 i : movers) row(av.indivloc2, r2, i, d1, d2, 3);
  if (dest == own) {
    for (int4 i : stay) row(av.indivloc2, r2, i, v.crindivloc(i, 1), v.crindivloc(i, 2), 2);
  } else {
    if (dest > 0)
      for (int4 i : smp.members[static_cast<std::size_t>(dest)])
        row(av.indivloc2, r2, i, v.crindivloc(i, 1), v.crindivloc(i, 2), 2);
    for (int4 i : stay) row(av.indivloc1, r1, i, v.crindivloc(i, 1), v.crindivloc(i, 2), 1);
  }
  av.numindiv(1) = r1;
  av.numindiv(2) = r2;
  std::uniform_int_distribution<int4> dc(0, v.numcandidate(1));
  for (int4 s = 1; s <= 2; ++s) {
    av.numindivparentage(s) = 0;
    for (int4 i : movers) {
      if (u(rng) >= 0.5) continue;
      const int4 k = ++av.numindivparentage(s);
      av.indivparentage(k, s) = i;
      av.inferparentage(k, s, 1) = v.inferparent(i, s);
      av.inferparentage(k, s, 2) = dc(rng);
    }
  }
  return r1 + r2;
}

}  // namespace

int main(int argc, char** argv) {
  const int4 n = argc > 1 ? std::atoi(argv[1]) : 5000;
  const int4 moves = argc > 2 ? std::atoi(argv[2]) : 10000;
  std::mt19937 rng(2026);
  const Sample smp = setup(n, 100, rng);
  auto& v = variables;
  v.indivlocprt = v.crindivloc.view();
  v.inferparentprt = v.inferparent.view();
  const int reps = 50;
  real8 whole = 0.0;
  const auto t0 = Clock::now();
  for (int k = 0; k < reps; ++k) calculatecrrtpairlogl(whole);
  const double whole_us =
      std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / reps;
  double change_us = 0.0, rows = 0.0, check = 0.0;
  for (int4 m = 0; m < moves; ++m) {
    const int4 nrow = random_move(smp, rng);
    rows += nrow;
    real8 out[2] = {0.0, 0.0};
    const auto t1 = Clock::now();
    calculatepopairlogl(out);
    calculatepairlogl2(out, nrow);
    change_us += std::chrono::duration<double, std::micro>(Clock::now() - t1).count();
    check += out[1] - out[0];
  }
  change_us /= moves;
  long long pairs = 0;
  for (const auto& m : smp.members) pairs += static_cast<long long>(m.size() * (m.size() - 1) / 2);
  std::printf("n = %d, clusters %d, %lld offspring pairs within clusters, score %.6e\n", n,
              v.crnumfamily(3), pairs, whole);
  std::printf("whole score: %.2f us per call (mean of %d)\n", whole_us, reps);
  std::printf("score change: %.3f us per move (mean of %d moves, %.1f rows each; sum %.3e)\n",
              change_us, moves, rows / moves, check);
  std::printf("ratio whole / change: %.0f\n", whole_us / change_us);
  return 0;
}
