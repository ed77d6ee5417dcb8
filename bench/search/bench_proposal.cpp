// Times one proposal of the search: the rows, the parent proposal, the validity test, the
// candidate term, the counts and the log prior (build_proposal), with its undo, on samples of
// growing size whose clusters keep one size (20 offspring, two fathers and two mothers), so
// that the touched rows stay the same: the mean must not grow with the sample. Target: at most
// 3 us per proposal. Moves are chosen by hand (as the move choice hands them on) outside the
// timed part: inside the own cluster, to another cluster, to a new cluster, family moves.
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "search/proposal_fixture.hpp"

namespace {

using namespace kinrad;
using namespace kinrad::test;

void clustered_sample(int4 n, std::mt19937& rng) {
  PropShape ps;
  ps.n = n;
  ps.ncand = 50;
  ps.k1 = 2;
  ps.k2 = 2;
  setup_proposal_sample(ps, rng);
  auto& v = variables;
  // Clusters of 20: fathers 2c - 1, 2c and mothers 2c - 1, 2c of cluster c, the first four
  // offspring covering the four pairs.
  std::vector<int4> a, b;
  for (int4 o = 1; o <= n; ++o) {
    const int4 c = (o - 1) / 20;
    const int4 j = (o - 1) % 20;
    const int4 pair = j < 4 ? j : static_cast<int4>(rng() % 4);
    a.push_back(2 * c + 1 + pair % 2);
    b.push_back(2 * c + 1 + pair / 2);
  }
  set_configuration(a, b);
  setinitcluster();
  // Candidates: the first families of each sex hold one; best-candidate lists of two.
  std::map<std::pair<int4, int4>, int4> parent;
  for (int4 s = 1; s <= 2; ++s)
    for (int4 f = 1; f <= std::min(v.crnumfamily(s), 30); ++f) parent[{s, f}] = f;
  set_parents(parent);
  for (int4 o = 1; o <= n; ++o)
    for (int4 s = 1; s <= 2; ++s) {
      v.numbestcnd(o, s) = 2;
      v.bestcnd(o, (s - 1) * 5 + 1) = static_cast<int4>(rng() % 50) + 1;
      v.bestcnd(o, (s - 1) * 5 + 2) = static_cast<int4>(rng() % 50) + 1;
      v.prbbestcnd(o, (s - 1) * 5 + 1) = 0.5f;
      v.prbbestcnd(o, (s - 1) * 5 + 2) = 1.0f;
    }
}

HandMove draw_move(std::mt19937& rng) {
  const auto& v = variables;
  HandMove m;
  m.offspring = static_cast<int4>(rng() % v.smplsize) + 1;
  const int4 own = v.crindivloc(m.offspring, 3);
  const int4 c0 = (m.offspring - 1) / 20;
  const int r = static_cast<int>(rng() % 10);
  if (r < 2) {
    m.type = 2;
    m.familyside = 1 + static_cast<int4>(rng() % 2);
  } else if (r < 6) {
    m.destcluster = own;
    m.dest1 = 2 * c0 + 1 + static_cast<int4>(rng() % 2);
    m.dest2 = rng() % 4 == 0 ? v.crnumfamily(2) + 1 : 2 * c0 + 1 + static_cast<int4>(rng() % 2);
  } else if (r < 9) {
    int4 c1 = static_cast<int4>(rng() % (v.smplsize / 20));
    if (c1 == c0) c1 = (c1 + 1) % (v.smplsize / 20);
    m.destcluster = v.crindivloc(20 * c1 + 1, 3);
    m.dest1 = 2 * c1 + 1 + static_cast<int4>(rng() % 2);
    m.dest2 = 2 * c1 + 1 + static_cast<int4>(rng() % 2);
  } else {
    m.destcluster = v.crnumfamily(3) + 1;
    m.dest1 = v.crnumfamily(1) + 1;
    m.dest2 = v.crnumfamily(2) + 1;
  }
  return m;
}

}  // namespace

int main() {
  for (const int4 n : {1000, 10000, 30000}) {
    std::mt19937 rng(7);
    clustered_sample(n, rng);
    variables.idum3 = -11;
    RunState rs;
    derive_run_state(rs);
    const int trials = 200000;
    double total = 0.0;
    int admitted = 0;
    for (int t = 0; t < trials; ++t) {
      const HandMove m = draw_move(rng);
      choose_by_hand(rs, m);
      const auto t0 = std::chrono::steady_clock::now();
      const bool ok = build_proposal(rs);
      if (ok) undo_proposal(rs);
      const auto t1 = std::chrono::steady_clock::now();
      total += std::chrono::duration<double, std::micro>(t1 - t0).count();
      admitted += ok ? 1 : 0;
    }
    std::printf("n = %6d: %.3f us per proposal (build and undo), %d of %d admitted\n", n,
                total / trials, admitted, trials);
  }
  return 0;
}
