// Sibship-size changes of random proposals against a recount of the proposed configuration,
// built explicitly here: the changed distribution, the undo and the largest sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "configuration/configuration.hpp"
#include "configuration_fixture.hpp"
#include "support/proposal_builder.hpp"

namespace kinrad::test {
namespace {

using Dist = std::map<int4, int4>;  // size (>= 1) -> number of families

// Family sizes of sex s counted from a table of family ids: per column in two sexes, both
// columns into one count with one parent pool (a selfed offspring counts twice).
Dist count_sizes(const std::vector<std::array<int4, 2>>& fam, int4 s) {
  std::map<int4, int4> size;
  for (const auto& f : fam) {
    if (variables.numsex == 1) {
      ++size[f[0]];
      ++size[f[1]];
    } else {
      ++size[f[static_cast<std::size_t>(s - 1)]];
    }
  }
  Dist d;
  for (const auto& [id, z] : size) ++d[z];
  return d;
}

int4 largest(const Dist& d) {
  return d.empty() ? 0 : d.rbegin()->first;
}

struct Shape {
  const char* name;
  int4 numsex;
  int4 mono;  // both sexes monogamous
  double pself;
  bool searchrows = false;    // rows of the touched families only, as the search writes them
  bool othercluster = false;  // destination in another existing cluster when there is one
};

TEST(NewSibDist, RandomProposalsMatchARecountAndUndoExactly) {
  const std::vector<Shape> shapes = {
      {"two sexes", 2, 0, 0.0},
      {"one parent pool", 1, 0, 0.3},
      {"double monogamy", 2, 1, 0.0},
      {"two sexes, rows of the touched families", 2, 0, 0.0, true},
      {"one parent pool, rows of the touched families", 1, 0, 0.3, true},
      {"two sexes, rows of the touched families, another cluster", 2, 0, 0.0, true, true},
      {"one parent pool, rows of the touched families, another cluster", 1, 0, 0.3, true, true}};
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    std::mt19937 rng(12345);
    for (int4 trial = 0; trial < 300; ++trial) {
      const int4 n = 12;
      setup_sample(SampleShape{n, shape.numsex, shape.mono, shape.mono, 0, 0});
      auto& v = variables;
      auto& av = annealvariables;
      testing_support::allocate_move_tables(n);
      v.sibsize.allocate(Dim(2), Dim((3 - shape.numsex) * n), Dim(shape.numsex));
      v.sibshipsizedist.allocate(Dim(0, (3 - shape.numsex) * n), Dim(shape.numsex));
      random_configuration(rng, 4, 4, shape.pself);
      // The moving offspring, some of its full sibs, and a destination: inside its own
      // cluster (an existing or a new family per sex) or a new cluster.
      std::uniform_int_distribution<int4> pick(1, n);
      const int4 o = pick(rng);
      testing_support::IndividualMove m;
      m.offspring = o;
      m.search_rows = shape.searchrows;
      for (int4 j = 1; j <= n; ++j)
        if (j != o && v.crindivloc(j, 1) == v.crindivloc(o, 1) &&
            v.crindivloc(j, 2) == v.crindivloc(o, 2) && rng() % 2 == 0)
          m.sibs.push_back(j);
      // Family ids of the random configuration need not be contiguous: a new id lies above
      // every id in use.
      int4 maxid1 = 0, maxid2 = 0;
      for (int4 j = 1; j <= n; ++j) {
        maxid1 = std::max(maxid1, v.crindivloc(j, 1));
        maxid2 = std::max(maxid2, v.crindivloc(j, 2));
      }
      // Rows of the touched families only: moves inside the own cluster, where those rows
      // hold every member of each family whose size the move changes.
      const bool newcluster = shape.mono == 1 || (rng() % 3 == 0 && !shape.searchrows) ||
                              (shape.othercluster && rng() % 4 == 0);
      const bool other = shape.othercluster && !newcluster && v.crnumfamily(3) > 1;
      if (other) {
        // The destination cluster's parents, or a fresh one on one side.
        int4 c2 = v.crindivloc(o, 3);
        while (c2 == v.crindivloc(o, 3)) c2 = static_cast<int4>(rng() % v.crnumfamily(3)) + 1;
        std::vector<int4> ids1, ids2;
        for (int4 j = 1; j <= n; ++j)
          if (v.crindivloc(j, 3) == c2) {
            ids1.push_back(v.crindivloc(j, 1));
            ids2.push_back(v.crindivloc(j, 2));
          }
        if (shape.numsex == 1) ids1.insert(ids1.end(), ids2.begin(), ids2.end()), ids2 = ids1;
        const int4 fresh = std::max(maxid1, maxid2) + 1;
        m.dest1 = ids1[rng() % ids1.size()];
        m.dest2 = rng() % 4 == 0 ? fresh : ids2[rng() % ids2.size()];
        m.destcluster = c2;
      } else if (newcluster) {
        m.dest1 = maxid1 + 1;
        m.dest2 = maxid2 + 1;
        if (shape.numsex == 1) m.dest1 = m.dest2 = std::max(maxid1, maxid2) + 1;
        m.destcluster = 0;
      } else {
        std::vector<int4> ids1, ids2;
        for (int4 j = 1; j <= n; ++j)
          if (v.crindivloc(j, 3) == v.crindivloc(o, 3)) {
            ids1.push_back(v.crindivloc(j, 1));
            ids2.push_back(v.crindivloc(j, 2));
          }
        if (shape.numsex == 1) ids1.insert(ids1.end(), ids2.begin(), ids2.end()), ids2 = ids1;
        const int4 fresh = std::max(maxid1, maxid2) + 1;
        m.dest1 = rng() % 4 == 0 ? fresh : ids1[rng() % ids1.size()];
        m.dest2 = rng() % 4 == 0 ? fresh + 1 : ids2[rng() % ids2.size()];
        m.destcluster = v.crindivloc(o, 3);
      }
      testing_support::build_individual_move(m);

      // The proposed configuration, built explicitly.
      std::vector<std::array<int4, 2>> now, next;
      for (int4 j = 1; j <= n; ++j) now.push_back({v.crindivloc(j, 1), v.crindivloc(j, 2)});
      next = now;
      next[static_cast<std::size_t>(o - 1)] = {m.dest1, m.dest2};
      for (int4 j : m.sibs) next[static_cast<std::size_t>(j - 1)] = {m.dest1, m.dest2};

      FStatic<int2, 1, 2> nchange{};
      FStatic<int2, 1, 4> maxsize{};
      std::vector<Dist> before, after;
      for (int4 s = 1; s <= shape.numsex; ++s) {
        before.push_back(count_sizes(now, s));
        after.push_back(count_sizes(next, s));
        for (const auto& [z, c] : before.back()) v.sibshipsizedist(z, s) = c;
        maxsize(s) = static_cast<int2>(largest(before.back()));
      }
      // Under double monogamy a family is its cluster: the sizes of the own cluster, the only
      // one the move to a new cluster changes.
      FStatic<int4, 1, 2> own{};
      own(1) = av.clustersizet(v.crindivloc(o, 3));
      newsibdist(nchange, maxsize, other ? 2 : 3, own);

      for (int4 s = 1; s <= shape.numsex; ++s) {
        const Dist& b = before[static_cast<std::size_t>(s - 1)];
        const Dist& a = after[static_cast<std::size_t>(s - 1)];
        for (int4 z = 1; z <= v.sibshipsizedist.ubound(1); ++z) {
          const int4 want = a.count(z) ? a.at(z) : 0;
          ASSERT_EQ(v.sibshipsizedist(z, s), want)
              << "trial " << trial << " sex " << s << " size " << z;
        }
        EXPECT_EQ(maxsize(s + 2), std::max(largest(b), largest(a)));
        // The undo: the same rows added back.
        for (int4 k = 1; k <= nchange(s); ++k)
          v.sibshipsizedist(v.sibsize(1, k, s), s) += v.sibsize(2, k, s);
        for (int4 z = 1; z <= v.sibshipsizedist.ubound(1); ++z) {
          const int4 want = b.count(z) ? b.at(z) : 0;
          ASSERT_EQ(v.sibshipsizedist(z, s), want) << "undo, trial " << trial << " sex " << s;
        }
      }
      for (auto x : av.selectedprntidxq1) ASSERT_EQ(x, 0);
      for (auto x : av.selectedprntidxq2) ASSERT_EQ(x, 0);
      for (auto x : av.selectedprntidxq3) ASSERT_EQ(x, 0);
    }
  }
}

// Haplodiploid. First case, one cluster with mother family 1: paternal families 1 = {1, 2} and
// 2 = {3, 4, 5}, offspring 2, 4 and 5 haploid. Haploid offspring 2 moves into paternal
// family 2, and the move tables hold only the rows of offspring 2 (moving) and 4 (staying),
// as when the search lists a part of the cluster. The members of the paternal families of
// the joined and the left father (1, 3, 5) are added, so the changes equal a recount of the
// whole configuration: before sizes {2, 3}, after {1, 4} (by hand); the maternal family keeps
// its size 5.
TEST(NewSibDist, HaploidOffspringJoiningAFatherBringTheWholeFamiliesIn) {
  struct Case {
    const char* name;
    int4 movekind;
    std::vector<int4> fam2;                 // maternal family ids
    int4 mother;                            // the proposed maternal id of the moving row
    std::vector<std::array<int4, 2>> next;  // the proposed configuration, by hand
  };
  const std::vector<Case> cases = {
      // One cluster, mother 1: the sizes by hand are those of the comment above.
      {"own cluster", 1, {1, 1, 1, 1, 1}, 1, {{1, 1}, {2, 1}, {2, 1}, {2, 1}, {2, 1}}},
      // Two clusters: offspring 1-2 (father 1, mother 1) and 3-5 (father 2, mother 2). Haploid
      // offspring 2 moves to (2, 2) in the other cluster and row 4 of the destination is
      // written as staying. Side 2 brings 3 and 5 (father 2), side 1 brings 1 (the father it
      // leaves): by hand fathers and mothers both go from sizes {2, 3} to {1, 4}.
      {"another cluster", 2, {1, 1, 2, 2, 2}, 2, {{1, 1}, {2, 2}, {2, 2}, {2, 2}, {2, 2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int4 n = 5;
    setup_sample(SampleShape{n, 2, 0, 0, 0, 0});
    auto& v = variables;
    auto& av = annealvariables;
    testing_support::allocate_move_tables(n);
    v.sibsize.allocate(Dim(2), Dim(2 * n), Dim(2));
    v.sibshipsizedist.allocate(Dim(0, 2 * n), Dim(2));
    v.offploid.allocate(Dim(n));
    v.offploid.fill(2);
    for (int4 o : {2, 4, 5}) v.offploid(o) = 1;
    v.haplodiploid = 1;
    v.smplsizedh(1) = 3;
    v.smplsizedh(2) = 2;
    set_configuration({1, 1, 2, 2, 2}, c.fam2);
    setinitcluster();
    familybuild0(v.crindivloc(2, 3), 1);
    if (c.movekind == 2) familybuild0(v.crindivloc(4, 3), 2);
    av.movingtype = 1;
    const auto row = [&](int4 r, int4 o, int4 list) {
      av.indivloc2(r, 1) = 2;
      av.indivloc2(r, 2) = c.mother;
      av.indivloc2(r, 4) = o;
      av.indivlocidx(++av.numindivlocidx(list), list) = r;
    };
    for (int4 l = 1; l <= 3; ++l) av.numindivlocidx(l) = 0;
    row(1, 2, 3);
    row(2, 4, 2);
    av.numindiv(1) = 0;
    av.numindiv(2) = 2;
    std::vector<std::array<int4, 2>> now;
    for (int4 o = 1; o <= n; ++o) now.push_back({v.crindivloc(o, 1), v.crindivloc(o, 2)});
    FStatic<int2, 1, 4> maxsize{};
    for (int4 s = 1; s <= 2; ++s) {
      const Dist b = count_sizes(now, s);
      for (const auto& [z, k] : b) v.sibshipsizedist(z, s) = k;
      maxsize(s) = static_cast<int2>(largest(b));
    }
    FStatic<int2, 1, 2> nchange{};
    FStatic<int4, 1, 2> own{};
    own(1) = av.clustersizet(v.crindivloc(2, 3));
    newsibdist(nchange, maxsize, c.movekind, own);
    for (int4 s = 1; s <= 2; ++s) {
      SCOPED_TRACE(s);
      const Dist a = count_sizes(c.next, s);
      for (int4 z = 1; z <= 2 * n; ++z)
        EXPECT_EQ(v.sibshipsizedist(z, s), a.count(z) ? a.at(z) : 0) << z;
      EXPECT_EQ(maxsize(s + 2), std::max(largest(count_sizes(now, s)), largest(a)));
    }
    for (auto x : av.selectedprntidxq1) ASSERT_EQ(x, 0);
    for (auto x : av.selectedprntidxq2) ASSERT_EQ(x, 0);
    for (auto x : av.selectedprntidxq3) ASSERT_EQ(x, 0);
  }
}

TEST(NewSibDist, FamilyMoveKeepsTheSizes) {
  setup_sample(SampleShape{4, 2, 0, 0, 0, 0});
  annealvariables.movingtype = 2;
  FStatic<int2, 1, 2> nchange{};
  FStatic<int2, 1, 4> maxsize{};
  maxsize(1) = 3;
  maxsize(2) = 2;
  FStatic<int4, 1, 2> own{};
  newsibdist(nchange, maxsize, 0, own);
  EXPECT_EQ(nchange(1), 0);
  EXPECT_EQ(nchange(2), 0);
  EXPECT_EQ(maxsize(3), 3);
  EXPECT_EQ(maxsize(4), 2);
}

}  // namespace
}  // namespace kinrad::test
