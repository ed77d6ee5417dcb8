// Times the parent proposal of individual moves on large samples: clusters of 20 offspring
// (two fathers and two mothers, four full-sib families of five), half of the families with a
// sampled parent, 3000 candidates per sex drawn through best-candidate lists of three. Moves go
// to a family of the own cluster or of another one, with the family tables of the two
// clusters built as the move choice leaves them. The time per proposal must not grow with the
// sample; for comparison the same proposals are timed with no family tables (the destination's
// parent then found by a scan of every offspring).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "configuration/configuration.hpp"
#include "configuration/configuration_fixture.hpp"
#include "core/modules.hpp"
#include "core/random_numbers.hpp"
#include "support/proposal_builder.hpp"

namespace {

using namespace kinrad;

constexpr int4 kCand = 3000;

void setup(int4 n) {
  test::setup_sample(test::SampleShape{n, 2, 0, 0, kCand, kCand});
  auto& v = variables;
  auto& av = annealvariables;
  v.allcandidate = 2 * kCand;
  v.indivparent.allocate(Dim(n), Dim(2));
  v.inferparent2.allocate(Dim(n), Dim(2));
  v.knownprntq.allocate(Dim(kCand), Dim(2));
  av.unassignedcnd.allocate(Dim(kCand), Dim(2));
  av.unassignedcnd.fill(1);
  v.selectedprntq.allocate(Dim(0, kCand));
  v.numbestcnd.allocate(Dim(n), Dim(2));
  v.bestcnd.allocate(Dim(n), Dim(10));
  v.prbbestcnd.allocate(Dim(n), Dim(10));
  v.prbbestcnd1.allocate(Dim(n), Dim(2));
  v.offploid.allocate(Dim(n));
  v.offploid.fill(2);
  v.smplsizedh(2) = n;
  testing_support::allocate_move_tables(n);
  std::vector<int4> a(static_cast<std::size_t>(n)), b(static_cast<std::size_t>(n));
  for (int4 i = 0; i < n; ++i) {
    const int4 c = i / 20, f = (i % 20) / 5;  // cluster, full-sib family within it
    a[static_cast<std::size_t>(i)] = 2 * c + 1 + f / 2;
    b[static_cast<std::size_t>(i)] = 2 * c + 1 + f % 2;
  }
  test::set_configuration(a, b);
  setinitcluster();
  std::mt19937 rng(1);
  for (int4 s = 1; s <= 2; ++s) {
    std::vector<int4> parent(static_cast<std::size_t>(v.crnumfamily(s)) + 1, 0);
    int4 next = 1;
    for (auto& p : parent)
      if (rng() % 2 && next <= kCand) p = next++;
    for (int4 o = 1; o <= n; ++o) {
      const int4 p = parent[static_cast<std::size_t>(v.crindivloc(o, s))];
      v.inferparent(o, s) = v.inferparent2(o, s) = p;
      if (p > 0) av.unassignedcnd(p, s) = 0;
    }
  }
  for (int4 o = 1; o <= n; ++o)
    for (int4 s = 1; s <= 2; ++s) {
      v.numbestcnd(o, s) = 3;
      for (int4 j = 1; j <= 3; ++j) {
        v.bestcnd(o, (s - 1) * 5 + j) = static_cast<int2>(rng() % kCand + 1);
        v.prbbestcnd(o, (s - 1) * 5 + j) = j == 3 ? 1.00000001 : 0.3 * j;
      }
    }
}

// Median of five passes of `proposals` proposals, in microseconds per proposal.
double time_proposals(int4 n, int4 proposals, bool tables) {
  auto& v = variables;
  auto& av = annealvariables;
  std::vector<double> us;
  for (int pass = 0; pass < 5; ++pass) {
    std::mt19937 rng(7);
    v.idum3 = -11;
    double spent = 0.0;
    for (int4 t = 0; t < proposals; ++t) {
      const int4 o = static_cast<int4>(rng() % static_cast<unsigned>(n)) + 1;
      const int4 other = rng() % 2 ? o : static_cast<int4>(rng() % static_cast<unsigned>(n)) + 1;
      // A random family of the cluster of `other`: one of its two fathers and two mothers.
      const int4 c = (other - 1) / 20;
      testing_support::IndividualMove m{o,
                                        {},
                                        2 * c + 1 + static_cast<int4>(rng() % 2),
                                        2 * c + 1 + static_cast<int4>(rng() % 2),
                                        v.crindivloc(other, 3)};
      m.search_rows = true;
      if (m.dest1 == v.crindivloc(o, 1) && m.dest2 == v.crindivloc(o, 2)) continue;
      int4 kind = testing_support::build_individual_move(m);
      if (tables) {
        familybuild0(v.crindivloc(o, 3), 1);
        if (kind == 2) familybuild0(m.destcluster, 2);
      } else {
        av.lastfamilyid(1) = av.lastfamilyid(2) = 0;
      }
      FStatic<int4, 1, 4> sizes{};
      sizes(3) = av.numindiv(2);
      sizes(4) = av.numindiv(1);
      FStatic<int4, 1, 4> numassign{};
      numassign(1) = 1;
      int4 movepos = 1, listlen = kCand + 1, knownsibside = 0, result = 0;
      FStatic<int4, 1, 3> familymove{};
      FArray<int4, 2> eligible;
      FStatic<int4, 1, 2> numunassigned{};
      const auto t0 = std::chrono::steady_clock::now();
      parentageassign(sizes, numassign, kind, movepos, familymove, listlen, eligible, knownsibside,
                      numunassigned, result);
      const auto t1 = std::chrono::steady_clock::now();
      spent += std::chrono::duration<double, std::micro>(t1 - t0).count();
    }
    us.push_back(spent / proposals);
  }
  std::sort(us.begin(), us.end());
  return us[2];
}

}  // namespace

int main() {
  std::printf("%8s %22s %22s\n", "offspring", "us/proposal (tables)", "us/proposal (scan)");
  for (int4 n : {2000, 5000, 10000, 20000}) {
    setup(n);
    const double a = time_proposals(n, 20000, true);
    const double b = time_proposals(n, 20000, false);
    std::printf("%8d %22.3f %22.3f\n", n, a, b);
  }
  return 0;
}
