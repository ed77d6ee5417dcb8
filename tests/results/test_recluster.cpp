// Cluster regrouping across generations. The oracle is the literal merging of member lists pass
// by pass (kinds 1 and 2 alternating until a pass joins nothing, then numbering by first
// offspring), written here independently of the union-find in the program; the small cases are
// worked out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "results/results_internal.hpp"
#include "support/archive_builder.hpp"

namespace kinrad {
namespace {

using namespace testing_support;

// The literal passes over column 3 of loc (n rows), parents par, known parents known.
std::vector<int4> literal_recluster(std::vector<int4> col3, const std::vector<int4>& par1,
                                    const std::vector<int4>& par2,
                                    int& passes_with_joins_of_kind2) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  int4 k = *std::max_element(col3.begin(), col3.end());
  std::vector<std::vector<int4>> list(static_cast<std::size_t>(k) + 1);
  for (int4 i = 1; i <= n; ++i) list[static_cast<std::size_t>(col3[i - 1])].push_back(i);
  auto P = [&](int4 i, int4 s) {
    int4 p = s == 1 ? par1[i - 1] : par2[i - 1];
    if (v.numknownprnt(s) > 0) p = std::max(p, v.indivparent(i, s));
    return p;
  };
  int kind = 1;
  passes_with_joins_of_kind2 = 0;
  for (;;) {
    std::vector<std::size_t> snapshot;
    for (const auto& l : list) snapshot.push_back(l.size());
    for (int4 c = 1; c <= k; ++c) {
      if (list[static_cast<std::size_t>(c)].empty()) continue;
      bool joined = false;
      for (std::size_t mi = 0; mi < list[static_cast<std::size_t>(c)].size() && !joined; ++mi) {
        const int4 m = list[static_cast<std::size_t>(c)][mi];
        for (int4 s = 1; s <= 2 && !joined; ++s) {
          int4 t = 0;
          if (kind == 1) {
            t = v.offspringincnd(m, s);
          } else {
            const int4 p = P(m, s);
            t = p < 1 ? 0 : v.cndinoffspring(p, s);
          }
          if (t < 1) continue;
          for (int4 d = 1; d <= k && !joined; ++d) {
            if (d == c || list[static_cast<std::size_t>(d)].empty()) continue;
            for (int4 m2 : list[static_cast<std::size_t>(d)]) {
              const bool link = kind == 1 ? P(m2, s) == t : m2 == t;
              if (!link) continue;
              auto joint = list[static_cast<std::size_t>(c)];
              for (int4 x : list[static_cast<std::size_t>(d)]) joint.push_back(x);
              list[static_cast<std::size_t>(std::max(c, d))].clear();
              list[static_cast<std::size_t>(std::min(c, d))] = joint;
              joined = true;
              break;
            }
          }
        }
      }
    }
    bool changed = false;
    for (std::size_t c = 0; c < list.size(); ++c)
      if (list[c].size() != snapshot[c]) changed = true;
    if (!changed) break;
    if (kind == 2) ++passes_with_joins_of_kind2;
    kind = 3 - kind;
  }
  for (int4 c = 1; c <= k; ++c)
    for (int4 m : list[static_cast<std::size_t>(c)]) col3[m - 1] = -c;
  int4 g = 0;
  for (int4 i = 1; i <= n; ++i) {
    if (col3[i - 1] > 0) continue;
    const int4 val = col3[i - 1];
    ++g;
    for (int4 j = i; j <= n; ++j)
      if (col3[j - 1] == val) col3[j - 1] = g;
  }
  return col3;
}

// Runs recluster on the configuration (cluster column col3, parents par1/par2).
std::vector<int4> run_recluster(const std::vector<int4>& col3, const std::vector<int4>& par1,
                                const std::vector<int4>& par2) {
  auto& v = variables;
  const int4 n = v.smplsize;
  FArray<int4, 2> loc(Dim(n), Dim(3)), par(Dim(n), Dim(2));
  for (int4 i = 1; i <= n; ++i) {
    loc(i, 3) = col3[i - 1];
    par(i, 1) = par1[i - 1];
    par(i, 2) = par2[i - 1];
  }
  v.indivlocprt = loc.view();
  v.inferparentprt = par.view();
  recluster();
  std::vector<int4> out;
  for (int4 i = 1; i <= n; ++i) out.push_back(loc(i, 3));
  v.indivlocprt = {};
  v.inferparentprt = {};
  return out;
}

TEST(Recluster, NoLinksOnlyRenumbers) {
  archive_sample({.n = 4, .ncand1 = 2, .ncand2 = 2});
  EXPECT_EQ(run_recluster({5, 2, 5, 9}, {0, 0, 0, 0}, {0, 0, 0, 0}),
            (std::vector<int4>{1, 2, 1, 3}));
}

TEST(Recluster, ChainJoinsThreeClustersInEveryOrder) {
  // Offspring a (cluster A) is father 1 of offspring b1 (cluster B); offspring b2 (cluster B)
  // is mother 1 of offspring c (cluster C); offspring d stands alone. Every labelling of the
  // three clusters ends with a, b1, b2, c in group 1 and d in group 2.
  std::vector<int4> ids = {1, 2, 3};
  do {
    SCOPED_TRACE(::testing::PrintToString(ids));
    archive_sample({.n = 5, .ncand1 = 1, .ncand2 = 1});
    cross_list(1, 1, 1);  // offspring 1 = a
    cross_list(3, 2, 1);  // offspring 3 = b2
    // Offspring: 1 a, 2 b1, 3 b2, 4 c, 5 d.
    const std::vector<int4> col3 = {ids[0], ids[1], ids[1], ids[2], 4};
    EXPECT_EQ(run_recluster(col3, {0, 1, 0, 0, 0}, {0, 0, 0, 1, 0}),
              (std::vector<int4>{1, 1, 1, 1, 2}));
  } while (std::next_permutation(ids.begin(), ids.end()));
}

TEST(Recluster, LinkInsideOneClusterChangesNothing) {
  archive_sample({.n = 3, .ncand1 = 1});
  cross_list(1, 1, 1);
  EXPECT_EQ(run_recluster({2, 2, 1}, {0, 1, 0}, {0, 0, 0}), (std::vector<int4>{1, 1, 2}));
}

TEST(Recluster, KnownParentLinksClusters) {
  archive_sample({.n = 3, .ncand1 = 1});
  cross_list(1, 1, 1);
  known_parent(3, 1, 1);  // left unsampled by the configuration
  EXPECT_EQ(run_recluster({1, 2, 3}, {0, 0, 0}, {0, 0, 0}), (std::vector<int4>{1, 2, 1}));
}

TEST(Recluster, UnionFindEqualsTheLiteralPasses) {
  std::mt19937 rng(20261210);
  int kind2_joins = 0;
  for (int trial = 0; trial < 500; ++trial) {
    SCOPED_TRACE(trial);
    std::uniform_int_distribution<int4> size(2, 30);
    const int4 n = size(rng);
    const int4 nc = std::uniform_int_distribution<int4>(1, 8)(rng);
    archive_sample({.n = n, .ncand1 = nc, .ncand2 = nc});
    // Cross-list a random subset of candidates with distinct offspring.
    std::vector<int4> offspring(static_cast<std::size_t>(n));
    std::iota(offspring.begin(), offspring.end(), 1);
    std::shuffle(offspring.begin(), offspring.end(), rng);
    std::size_t next = 0;
    for (int4 s = 1; s <= 2; ++s)
      for (int4 j = 1; j <= nc && next < offspring.size(); ++j)
        if (rng() % 2 == 0) cross_list(offspring[next++], s, j);
    std::uniform_int_distribution<int4> cl(1, std::max(1, n / 2));
    std::uniform_int_distribution<int4> pa(0, nc);
    std::vector<int4> col3(static_cast<std::size_t>(n)), p1(col3.size()), p2(col3.size());
    for (int4 i = 0; i < n; ++i) {
      col3[static_cast<std::size_t>(i)] = cl(rng);
      p1[static_cast<std::size_t>(i)] = rng() % 3 == 0 ? pa(rng) : 0;
      p2[static_cast<std::size_t>(i)] = rng() % 3 == 0 ? pa(rng) : 0;
    }
    if (trial % 4 == 0)
      for (int4 i = 1; i <= n; ++i)
        if (rng() % 5 == 0) known_parent(i, 1 + static_cast<int4>(rng() % 2), pa(rng) % nc + 1);
    int k2 = 0;
    const auto expected = literal_recluster(col3, p1, p2, k2);
    kind2_joins += k2;
    EXPECT_EQ(run_recluster(col3, p1, p2), expected);
  }
  // Both kinds of pass joined clusters somewhere in the set.
  EXPECT_GT(kind2_joins, 0);
}

}  // namespace
}  // namespace kinrad
