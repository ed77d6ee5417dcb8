#pragma once
// Module state for the configuration-model tests: a sample of n offspring with the species and
// mating flags, the run state that the per-analysis and search set-ups allocate (the search's
// work arrays through its own routine), and configurations whose clusters and cluster sizes are
// recounted here by union-find (independently of the program).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "core/modules.hpp"
#include "search/search_internal.hpp"

namespace kinrad::test {

struct SampleShape {
  int4 n = 10;
  int4 numsex = 2;
  int4 mono1 = 0;
  int4 mono2 = 0;
  int4 ncand1 = 0;
  int4 ncand2 = 0;
};

// The state the per-analysis set-up leaves for the configuration model, sized as it sizes it.
inline void setup_sample(const SampleShape& s) {
  reset_all_modules();
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = s.n;
  v.smplsize = n;
  v.numsex = s.numsex;
  v.monogamy(1) = s.mono1;
  v.monogamy(2) = s.mono2;
  v.anymonogamy = (s.mono1 == 1 || s.mono2 == 1) ? 1 : 0;
  v.allmonogamy = (s.mono1 == 1 && s.mono2 == 1) ? 1 : 0;
  v.numcandidate(1) = s.ncand1;
  v.numcandidate(2) = s.ncand2;
  // The search's own allocation of its work arrays (move and cluster tables) and targets.
  allocate_work_arrays();
  const int4 big = std::max(std::max(n, 100) + (3 - v.numsex) * n, 100);
  av.selectedprntidxq1.allocate(Dim(big));
  av.selectedprntidxq2.allocate(Dim(big));
  av.selectedprntidxq3.allocate(Dim(big));
  v.kdxtgt.allocate(Dim(big));
  v.ldxtgt.allocate(Dim(big));
  v.number1tgt.allocate(Dim(n));
  for (int4 i = 1; i <= n; ++i) v.number1tgt(i) = i;
  v.indivorder = v.number1tgt.view();
}

// Union-find over parent nodes: fathers 1..K, mothers K + 1..2K (one parent pool: 1..K).
struct UnionFind {
  std::vector<int4> up;
  explicit UnionFind(std::size_t size) : up(size) { std::iota(up.begin(), up.end(), 0); }
  int4 find(int4 x) {
    while (up[static_cast<std::size_t>(x)] != x)
      x = up[static_cast<std::size_t>(x)] =
          up[static_cast<std::size_t>(up[static_cast<std::size_t>(x)])];
    return x;
  }
  void join(int4 a, int4 b) { up[static_cast<std::size_t>(find(a))] = find(b); }
};

// Statistics of one cluster, recounted from the parent pairs of its members.
inline void count_cluster(const std::vector<int4>& members, int4 id) {
  auto& v = variables;
  auto& av = annealvariables;
  std::set<int4> p1, p2;
  std::map<std::pair<int4, int4>, int4> fam;
  for (int4 i : members) {
    p1.insert(v.crindivloc(i, 1));
    p2.insert(v.crindivloc(i, 2));
    ++fam[{v.crindivloc(i, 1), v.crindivloc(i, 2)}];
  }
  std::map<int4, int4> mates1, mates2;
  int4 largest = 0;
  for (const auto& [pair, size] : fam) {
    ++mates1[pair.first];
    ++mates2[pair.second];
    largest = std::max(largest, size);
  }
  int4 most1 = 0, most2 = 0;
  for (const auto& [k, c] : mates1) most1 = std::max(most1, c);
  for (const auto& [k, c] : mates2) most2 = std::max(most2, c);
  av.clustersize(1, id) = static_cast<int4>(p1.size());
  av.clustersize(2, id) = static_cast<int4>(p2.size());
  av.clustersize(3, id) = largest;
  av.clustersize(4, id) = static_cast<int4>(fam.size());
  av.clustersize(5, id) = most1;
  av.clustersize(6, id) = most2;
  av.clustersizet(id) = static_cast<int4>(members.size());
}

// Sets crindivloc columns 1 and 2, numbers the clusters 1, 2, ... by their first offspring
// (the connected components of parents joined by offspring; one paternal family each under
// double monogamy) and fills crnumfamily, clustersize and clustersizet.
inline void set_configuration(const std::vector<int4>& fam1, const std::vector<int4>& fam2) {
  auto& v = variables;
  const int4 n = v.smplsize;
  int4 k = 0;
  for (int4 i = 1; i <= n; ++i) {
    v.crindivloc(i, 1) = fam1[static_cast<std::size_t>(i - 1)];
    v.crindivloc(i, 2) = fam2[static_cast<std::size_t>(i - 1)];
    k = std::max({k, v.crindivloc(i, 1), v.crindivloc(i, 2)});
  }
  const bool pool = v.numsex == 1;
  const bool dmono = v.numsex == 2 && v.allmonogamy == 1;
  UnionFind uf(static_cast<std::size_t>(2 * k + 2));
  for (int4 i = 1; i <= n; ++i)
    if (!dmono) uf.join(v.crindivloc(i, 1), v.crindivloc(i, 2) + (pool ? 0 : k));
  std::map<int4, int4> label;
  std::map<int4, std::vector<int4>> members;
  for (int4 i = 1; i <= n; ++i) {
    const int4 root = uf.find(v.crindivloc(i, 1));
    if (!label.count(root)) label[root] = static_cast<int4>(label.size()) + 1;
    v.crindivloc(i, 3) = label[root];
    members[label[root]].push_back(i);
  }
  std::set<int4> ids1, ids2;
  for (int4 i = 1; i <= n; ++i) {
    ids1.insert(v.crindivloc(i, 1));
    ids2.insert(v.crindivloc(i, 2));
  }
  v.crnumfamily(1) = static_cast<int4>(ids1.size());
  v.crnumfamily(2) = static_cast<int4>(ids2.size());
  v.crnumfamily(3) = static_cast<int4>(label.size());
  for (const auto& [id, list] : members) count_cluster(list, id);
}

// A random configuration of n offspring over k1 fathers and k2 mothers (one pool: k1 parents,
// selfing with chance pself). A monogamous sex gives each of its parents one fixed mate.
inline void random_configuration(std::mt19937& rng, int4 k1, int4 k2, double pself = 0.0) {
  auto& v = variables;
  const int4 n = v.smplsize;
  std::vector<int4> a(static_cast<std::size_t>(n)), b(static_cast<std::size_t>(n));
  std::uniform_int_distribution<int4> d1(1, k1), d2(1, k2);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<int4> mate1(static_cast<std::size_t>(k1) + 1),
      mate2(static_cast<std::size_t>(k2) + 1);
  for (auto& x : mate1) x = d2(rng);
  for (auto& x : mate2) x = d1(rng);
  const bool two = v.numsex == 2;
  for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
    int4 x = d1(rng);
    int4 y = 0;
    if (!two) {
      y = u(rng) < pself ? x : d1(rng);
    } else if (v.monogamy(1) == 1 && v.monogamy(2) == 1) {
      y = x;
    } else if (v.monogamy(1) == 1) {
      y = mate1[static_cast<std::size_t>(x)];
    } else if (v.monogamy(2) == 1) {
      y = d2(rng);
      x = mate2[static_cast<std::size_t>(y)];
    } else {
      y = d2(rng);
    }
    a[i] = x;
    b[i] = y;
  }
  set_configuration(a, b);
}

}  // namespace kinrad::test
