// The cluster tables after the initial build and after random sequences of removals and
// registrations, compared with a recount from crindivloc (tests/support/cluster_consistency).
// The hand-worked cases give their expected lists in full.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "configuration/configuration.hpp"
#include "configuration_fixture.hpp"
#include "core/modules/work_growth.hpp"
#include "support/cluster_consistency.hpp"

namespace kinrad::test {
namespace {

using testing_support::check_cluster_tables;
using testing_support::recount_cluster;
using testing_support::RecountedCluster;
using testing_support::scratch_marks_clear;

std::vector<int4> list_of(const FArray<int2, 1>& a) {
  std::vector<int4> out;
  for (index_t t = 1; t <= a.size(); ++t) out.push_back(a(t));
  return out;
}
std::vector<int4> list_of(const FArray<int4, 1>& a) {
  std::vector<int4> out;
  for (index_t t = 1; t <= a.size(); ++t) out.push_back(a(t));
  return out;
}

TEST(ClusterTables, OneOffspringCluster) {
  setup_sample({3, 2, 0, 0, 0, 0});
  set_configuration({1, 2, 2}, {1, 2, 3});
  setinitcluster();
  const auto& v = variables;
  ASSERT_EQ(v.crnumfamily(3), 2);
  EXPECT_EQ(list_of(v.indivcluster(1)), (std::vector<int4>{1}));
  EXPECT_TRUE(v.indivcluster2(1).allocated());
  EXPECT_EQ(v.indivcluster2(1).size(), 0);
  EXPECT_EQ(list_of(v.indivclustern(1)), (std::vector<int4>{0, 1, 2}));
  EXPECT_EQ(list_of(v.indivclusterm(1)), (std::vector<int4>{1, 1}));
  // Cluster 2: father 2 with mothers 2 and 3: offsets (0, 2, 3, 4), blocks (1 2 | 1 | 2).
  EXPECT_EQ(list_of(v.indivclustern(2)), (std::vector<int4>{0, 2, 3, 4}));
  EXPECT_EQ(list_of(v.indivclusterm(2)), (std::vector<int4>{1, 2, 1, 2}));
  EXPECT_EQ(v.indivclusterindex(1), 1);
  EXPECT_EQ(v.indivclusterindex(2), 2);
  EXPECT_EQ(check_cluster_tables(), "");
  EXPECT_TRUE(scratch_marks_clear());
}

TEST(ClusterTables, SelfingParentLinkedBothWays) {
  setup_sample({4, 1, 0, 0, 0, 0});
  // One pool: A = 1 selfs (offspring 1), A x B (offspring 2), B x A (offspring 3).
  set_configuration({1, 1, 2, 5}, {1, 2, 1, 6});
  setinitcluster();
  const auto& v = variables;
  ASSERT_EQ(v.crnumfamily(3), 2);
  // Role 1: A = 1, B = 2; role 2: A = 1, B = 2; so A links 1 <-> 1 and B 2 <-> 2.
  EXPECT_EQ(list_of(v.indivclusterj(1)), (std::vector<int4>{1, 2, 1, 2}));
  // Cluster 2: 5 x 6, no parent in both roles.
  EXPECT_EQ(list_of(v.indivclusterj(2)), (std::vector<int4>{0, 0}));
  EXPECT_EQ(check_cluster_tables(), "");
  EXPECT_TRUE(scratch_marks_clear());
}

TEST(ClusterTables, RemovingLastAndOtherSlots) {
  setup_sample({6, 2, 0, 0, 0, 0});
  set_configuration({1, 1, 2, 3, 3, 3}, {1, 1, 2, 3, 4, 4});
  setinitcluster();
  auto& v = variables;
  ASSERT_EQ(v.crnumfamily(3), 3);
  // The last slot is freed without copying; it keeps its storage for the next registration.
  replacecluster(3, 3);
  EXPECT_EQ(v.indivclusteridx(3), -1);
  EXPECT_TRUE(v.indivcluster(3).allocated());
  EXPECT_EQ(list_of(v.indivcluster(1)), (std::vector<int4>{1, 2}));
  // Slot 1 by id: slot 2 (the last used) moves into it, and the freed slot 2 takes the storage
  // of slot 1 (exchanged, not freed).
  replacecluster(1, 0);
  EXPECT_EQ(list_of(v.indivcluster(1)), (std::vector<int4>{3}));
  EXPECT_EQ(v.indivclusteridx(1), 3);
  EXPECT_EQ(v.indivclusteridx(2), -1);
  EXPECT_EQ(list_of(v.indivcluster(2)), (std::vector<int4>{1, 2}));
  EXPECT_TRUE(v.indivcluster1(2).allocated());
  // What no caller does: an id no slot carries, a free slot, every slot free.
  EXPECT_THROW(replacecluster(3, 0), std::logic_error);
  EXPECT_THROW(replacecluster(2, 2), std::logic_error);
  replacecluster(2, 1);
  EXPECT_THROW(replacecluster(2, 0), std::logic_error);
  EXPECT_THROW(replacecluster(2, 1), std::logic_error);
}

// A random move applied to crindivloc, then to the tables the way the search applies an
// accepted move: the touched clusters are removed, their offspring regrouped into clusters,
// and each new cluster is registered in the next free slot.
struct MoveSimulator {
  std::mt19937& rng;
  int variant;  // 0: addcluster, 1: addcluster2, 2: a mix

  std::vector<int4> members_of(int4 id) {
    std::vector<int4> out;
    for (int4 i = 1; i <= variables.smplsize; ++i)
      if (variables.crindivloc(i, 3) == id) out.push_back(i);
    return out;
  }

  void step() {
    auto& v = variables;
    const int4 n = v.smplsize;
    const bool pool = v.numsex == 1;
    const bool dmono = v.numsex == 2 && v.allmonogamy == 1;
    std::uniform_int_distribution<int4> pick(1, n);
    const int4 i = pick(rng);
    const int4 j = pick(rng);
    const int4 old_a = v.crindivloc(i, 3);
    const int4 old_b = v.crindivloc(j, 3);
    // Offspring i takes offspring j's parents, or a fresh parent of one sex.
    const int4 fresh = n / 2 + 1;  // above the ids of the random configuration
    std::uniform_int_distribution<int4> kind(0, 3);
    switch (kind(rng)) {
      case 0:
        v.crindivloc(i, 1) = v.crindivloc(j, 1);
        v.crindivloc(i, 2) = v.crindivloc(j, 2);
        break;
      case 1:
        v.crindivloc(i, 1) = fresh + static_cast<int4>(rng() % 5);
        if (dmono) v.crindivloc(i, 2) = v.crindivloc(i, 1);
        break;
      case 2:
        v.crindivloc(i, 2) = pool ? v.crindivloc(i, 1) : fresh + static_cast<int4>(rng() % 5);
        if (dmono) v.crindivloc(i, 2) = v.crindivloc(i, 1);
        break;
      default:
        v.crindivloc(i, 1) = v.crindivloc(j, 1);
        if (dmono) v.crindivloc(i, 2) = v.crindivloc(i, 1);
        break;
    }
    std::vector<int4> touched{old_a};
    if (old_b != old_a) touched.push_back(old_b);
    apply(touched);
  }

  // The tables after a change of the parents of the members of the clusters `touched` (ids).
  void apply(const std::vector<int4>& touched) {
    auto& v = variables;
    auto& av = annealvariables;
    const int4 n = v.smplsize;
    const bool pool = v.numsex == 1;
    const bool dmono = v.numsex == 2 && v.allmonogamy == 1;
    // Remove the touched clusters (by id), as the caller does one after the other.
    std::vector<int4> rows;
    for (int4 id : touched)
      for (int4 m : members_of(id)) rows.push_back(m);
    std::sort(rows.begin(), rows.end());
    for (int4 id : touched) replacecluster(id, 0);
    int4 used = v.crnumfamily(3) - static_cast<int4>(touched.size());
    // Regroup the touched offspring: components of parents joined by offspring.
    const int4 shift = 2 * n;
    UnionFind uf(static_cast<std::size_t>(2 * shift + 2));
    for (int4 m : rows)
      if (!dmono) uf.join(v.crindivloc(m, 1), v.crindivloc(m, 2) + (pool ? 0 : shift));
    std::map<int4, std::vector<int4>> groups;
    std::vector<int4> root_order;
    for (int4 m : rows) {
      const int4 root = uf.find(v.crindivloc(m, 1));
      if (!groups.count(root)) root_order.push_back(root);
      groups[root].push_back(m);
    }
    // Ids: the touched ones first, then the smallest ids no cluster uses.
    std::set<int4> in_use;
    for (int4 x = 1; x <= n; ++x)
      if (std::find(rows.begin(), rows.end(), x) == rows.end()) in_use.insert(v.crindivloc(x, 3));
    std::vector<int4> ids = touched;
    for (int4 id = 1; ids.size() < root_order.size(); ++id)
      if (!in_use.count(id) && std::find(ids.begin(), ids.end(), id) == ids.end())
        ids.push_back(id);
    // One window holding every regrouped row, column 3 the new id; each registration picks
    // its own rows out of it.
    std::vector<int4> window_rows;
    int4 r = 0;
    for (std::size_t g = 0; g < root_order.size(); ++g) {
      const int4 id = ids[g];
      for (int4 m : groups[root_order[g]]) {
        v.crindivloc(m, 3) = id;
        ++r;
        av.indivloc2(r, 1) = v.crindivloc(m, 1);
        av.indivloc2(r, 2) = v.crindivloc(m, 2);
        av.indivloc2(r, 3) = id;
        av.indivloc2(r, 4) = m;
        window_rows.push_back(r);
      }
      count_cluster(groups[root_order[g]], id);
    }
    v.indivlocprt = av.indivloc2.view();
    for (std::size_t g = 0; g < root_order.size(); ++g) {
      const int4 id = ids[g];
      const auto& group = groups[root_order[g]];
      const int4 slot = ++used;
      const auto size = static_cast<int4>(group.size());
      const int how = variant == 2 ? static_cast<int>(rng() % 2) : variant;
      if (dmono) {
        std::vector<int4> own;
        for (int4 row : window_rows)
          if (av.indivloc2(row, 3) == id) own.push_back(row);
        addcluster1(slot, size, size, own.data());
      } else if (how == 0) {
        addcluster(slot, &av.clustersize(1, id), size, static_cast<int4>(window_rows.size()),
                   window_rows.data(), id);
      } else {
        // The local indices as a family builder leaves them: first appearance in row order.
        const RecountedCluster rc = recount_cluster(group);
        for (int4 m : group) {
          const int4 l1 = rc.local1.at(v.crindivloc(m, 1));
          const int4 l2 = rc.local2.at(v.crindivloc(m, 2));
          av.indivclusterid(m, 1) = l1;
          av.indivclusterid(m, 2) = l2;
          av.indivclusterid(m, 3) = rc.fam.at({l1, l2});
        }
        addcluster2(slot, &av.clustersize(1, id), size, static_cast<int4>(window_rows.size()),
                    window_rows.data(), id);
      }
    }
    v.crnumfamily(3) = used;
    setindivclusterindex();
  }
};

// Clusters far above the 64 entries a slot table starts with, split and joined again: one
// full-sib family of 70 (beside ten families of three) becomes 70 one-offspring clusters and
// is rebuilt, again and again. A
// slot's storage that does not suit the cluster it receives is exchanged with a free slot's
// that does, so once both shapes have been met no registration allocates slot storage (each
// slot alone would reallocate at every split and every join).
TEST(ClusterTables, LargeClusterSplitAndJoinedReusesSlotStorage) {
  const int4 n = 100;
  setup_sample({n, 2, 0, 0, 0, 0});
  std::vector<int4> f1(n), f2(n);
  // Offspring 1..70 in family 1, 71..100 in ten families of three (ids 2..11).
  for (int4 i = 0; i < n; ++i) {
    f1[static_cast<std::size_t>(i)] = i < 70 ? 1 : 2 + (i - 70) / 3;
    f2[static_cast<std::size_t>(i)] = i < 70 ? 1 : 2 + (i - 70) / 3;
  }
  set_configuration(f1, f2);
  setinitcluster();
  auto& v = variables;
  std::mt19937 rng(1);
  MoveSimulator sim{rng, 0};
  const auto split = [&] {
    // Offspring 1 keeps id 1; the others take ids 12..80.
    for (int4 i = 2; i <= 70; ++i) {
      v.crindivloc(i, 1) = 10 + i;
      v.crindivloc(i, 2) = 10 + i;
    }
    sim.apply({v.crindivloc(1, 3)});
  };
  const auto join = [&] {
    std::set<int4> ids;
    for (int4 i = 1; i <= 70; ++i) {
      ids.insert(v.crindivloc(i, 3));
      v.crindivloc(i, 1) = 1;
      v.crindivloc(i, 2) = 1;
    }
    sim.apply(std::vector<int4>(ids.begin(), ids.end()));
  };
  split();
  join();
  ASSERT_EQ(check_cluster_tables(), "");
  const int8 before = work_growth.slots;
  for (int4 cycle = 0; cycle < 3; ++cycle) {
    split();
    ASSERT_EQ(v.crnumfamily(3), 80);
    ASSERT_EQ(check_cluster_tables(), "");
    join();
    ASSERT_EQ(v.crnumfamily(3), 11);
    ASSERT_EQ(check_cluster_tables(), "");
  }
  EXPECT_EQ(work_growth.slots - before, 0);
}

struct SpeciesCase {
  const char* name;
  int4 numsex, mono1, mono2;
  double pself;
};

TEST(ClusterTables, RandomMoveSequencesMatchARecount) {
  const SpeciesCase cases[] = {
      {"dioecious", 2, 0, 0, 0.0},
      {"monoecious with selfing", 1, 0, 0, 0.3},
      {"fathers monogamous", 2, 1, 0, 0.0},
      {"double monogamy", 2, 1, 1, 0.0},
  };
  std::mt19937 rng(99);
  for (const SpeciesCase& sc : cases) {
    for (int variant = 0; variant < 3; ++variant) {
      for (int run = 0; run < 8; ++run) {
        SCOPED_TRACE(std::string(sc.name) + ", variant " + std::to_string(variant) + ", run " +
                     std::to_string(run));
        const int4 n = 12 + static_cast<int4>(rng() % 40);
        setup_sample({n, sc.numsex, sc.mono1, sc.mono2, 0, 0});
        random_configuration(rng, std::max(2, n / 4), std::max(2, n / 5), sc.pself);
        setinitcluster();
        ASSERT_EQ(check_cluster_tables(), "");
        ASSERT_TRUE(scratch_marks_clear());
        // Right after the initial build, members are in offspring order and ids are slots.
        for (int4 c = 1; c <= variables.crnumfamily(3); ++c) {
          const auto list = list_of(variables.indivcluster(c));
          ASSERT_TRUE(std::is_sorted(list.begin(), list.end()));
          ASSERT_EQ(variables.indivclusterindex(c), c);
        }
        MoveSimulator sim{rng, variant};
        for (int step = 0; step < 40; ++step) {
          SCOPED_TRACE("step " + std::to_string(step));
          sim.step();
          ASSERT_EQ(check_cluster_tables(), "");
          ASSERT_TRUE(scratch_marks_clear());
        }
      }
    }
  }
  reset_all_modules();
}

}  // namespace
}  // namespace kinrad::test

namespace kinrad::test {
namespace {

// The recount must notice a damaged table, or its silence would prove nothing.
TEST(ClusterConsistency, ReportsDamagedTables) {
  setup_sample({6, 2, 0, 0, 0, 0});
  set_configuration({1, 1, 2, 2, 3, 3}, {1, 2, 2, 1, 3, 3});
  setinitcluster();
  ASSERT_EQ(check_cluster_tables(), "");
  auto& v = variables;
  std::swap(v.indivclusterm(1)(1), v.indivclusterm(1)(2));
  EXPECT_NE(check_cluster_tables(), "");
  std::swap(v.indivclusterm(1)(1), v.indivclusterm(1)(2));
  v.indivclusterindex(2) = 1;
  EXPECT_NE(check_cluster_tables(), "");
  v.indivclusterindex(2) = 2;
  annealvariables.indivclusterid(6, 3) = 2;
  EXPECT_NE(check_cluster_tables(), "");
  reset_all_modules();
}

}  // namespace
}  // namespace kinrad::test
