// The picture of one cluster built from the cluster tables: the move-side tables (sides 1 and
// 2) against a recount from crindivloc, and the engine's structure (side 0) against the
// structure familybuild gathers from the configuration itself, families compared as sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "configuration/configuration.hpp"
#include "configuration_fixture.hpp"
#include "core/modules/configuration_work.hpp"
#include "likelihood/likelihood.hpp"
#include "support/cluster_consistency.hpp"

namespace kinrad::test {
namespace {

using testing_support::check_family_structure;
using testing_support::recount_cluster;
using testing_support::RecountedCluster;
using testing_support::scratch_marks_clear;

using Families = std::map<std::pair<int4, int4>, std::set<int4>>;  // parent ids -> members

// The engine's structure as families keyed by their parents' family ids.
Families engine_families() {
  const auto& v = variables;
  Families out;
  for (int4 i = 1; i <= v.nparent(1); ++i)
    for (int4 k = 1; k <= v.nparent(2); ++k) {
      if (v.nchild(i, k) == 0) continue;
      const FView<int2, 1> list = familystructure(i, k);
      EXPECT_EQ(list.size(), v.nchild(i, k));
      std::set<int4> members;
      for (index_t t = 1; t <= list.size(); ++t) members.insert(list(t));
      const int4 first = *members.begin();
      out[{v.crindivloc(first, 1), v.crindivloc(first, 2)}] = members;
    }
  return out;
}

struct SideView {
  int4 nfam = 0, np1 = 0, np2 = 0;
  std::vector<std::vector<int4>> members;
  std::vector<int4> parentidx;                   // joint positions
  std::vector<std::pair<int4, int4>> familyidx;  // per family
};

// The recount: families and parents numbered by first appearance over the cluster's member
// list (ascending offspring, as setinitcluster leaves it), members ascending.
SideView recount_side(int4 id) {
  std::vector<int4> order;
  for (int4 i = 1; i <= variables.smplsize; ++i)
    if (variables.crindivloc(i, 3) == id) order.push_back(i);
  const RecountedCluster r = recount_cluster(order);
  SideView s;
  s.np1 = static_cast<int4>(r.local1.size());
  s.np2 = static_cast<int4>(r.local2.size());
  s.nfam = static_cast<int4>(r.fam.size());
  if (s.np1 + s.np2 < 3) s.np1 = s.np2 = 1;
  for (int4 f = 1; f <= s.nfam; ++f) {
    s.members.push_back(r.members[static_cast<std::size_t>(f)]);
    s.familyidx.push_back(r.parents[static_cast<std::size_t>(f)]);
  }
  for (int4 k = 1; k <= s.np1; ++k)
    s.parentidx.push_back(r.first_ids1[static_cast<std::size_t>(k)]);
  for (int4 k = 1; k <= s.np2; ++k)
    s.parentidx.push_back(r.first_ids2[static_cast<std::size_t>(k)]);
  return s;
}

SideView program_side1() {
  const auto& av = annealvariables;
  SideView s;
  s.nfam = av.numberfsfamily1;
  s.np1 = av.nparent1(1);
  s.np2 = av.nparent1(2);
  for (int4 f = 1; f <= s.nfam; ++f) {
    std::vector<int4> list;
    for (int4 t = 1; t <= av.numfamilymember1(f); ++t)
      list.push_back(av.familymember1(av.sibloc1(f) + t));
    s.members.push_back(list);
    s.familyidx.emplace_back(av.familyidx1(f), av.familyidx1(s.nfam + f));
  }
  for (int4 j = 1; j <= s.np1 + s.np2; ++j) s.parentidx.push_back(av.parentidx1(j));
  return s;
}

SideView program_side2() {
  const auto& av = annealvariables;
  SideView s;
  s.nfam = av.numberfsfamily2;
  s.np1 = av.nparent2(1);
  s.np2 = av.nparent2(2);
  for (int4 f = 1; f <= s.nfam; ++f) {
    std::vector<int4> list;
    for (int4 t = 1; t <= av.numfamilymember2(f); ++t)
      list.push_back(av.familymember2(av.familymemberloc2(f) + t));
    s.members.push_back(list);
    s.familyidx.emplace_back(av.familyidx2(f, 1), av.familyidx2(f, 2));
  }
  for (int4 j = 1; j <= s.np1 + s.np2; ++j) s.parentidx.push_back(av.parentidx2(j));
  return s;
}

void expect_side(const SideView& got, const SideView& want) {
  EXPECT_EQ(got.nfam, want.nfam);
  EXPECT_EQ(got.np1, want.np1);
  EXPECT_EQ(got.np2, want.np2);
  EXPECT_EQ(got.members, want.members);
  EXPECT_EQ(got.familyidx, want.familyidx);
  EXPECT_EQ(got.parentidx, want.parentidx);
}

// Mates, their blocks, one offspring per parent and the role links of side 1, recounted.
void expect_side1_partners(const SideView& want) {
  const auto& v = variables;
  const auto& av = annealvariables;
  const int4 np1 = want.np1;
  for (int4 j = 1; j <= want.np1 + want.np2; ++j) {
    const int s = j <= np1 ? 1 : 2;
    const int4 k = j <= np1 ? j : j - np1;
    std::vector<int4> fams;
    for (int4 f = 1; f <= want.nfam; ++f) {
      const auto& pr = want.familyidx[static_cast<std::size_t>(f - 1)];
      if ((s == 1 ? pr.first : pr.second) == k) fams.push_back(f);
    }
    ASSERT_EQ(av.numpartner1(k, s), static_cast<int4>(fams.size())) << "parent " << j;
    for (std::size_t x = 0; x < fams.size(); ++x)
      EXPECT_EQ(av.partner1(av.locpartner1(j) + static_cast<int4>(x) + 1), fams[x]);
    EXPECT_EQ(v.parentchd(j), want.members[static_cast<std::size_t>(fams[0] - 1)][0]);
    // The same individual in the other role.
    int4 other = 0;
    if (v.numsex == 1) {
      const int4 id = want.parentidx[static_cast<std::size_t>(j - 1)];
      const int4 from = s == 1 ? np1 + 1 : 1;
      const int4 to = s == 1 ? want.np1 + want.np2 : np1;
      for (int4 q = from; q <= to; ++q)
        if (want.parentidx[static_cast<std::size_t>(q - 1)] == id) other = q;
    }
    EXPECT_EQ(av.lparent1(j), other) << "parent " << j;
  }
}

// The parent positions of side 1 against crindivloc: every parent id of the cluster's members
// is found at a position whose entry of parentidx1 names it, and an id of another cluster's
// member is not (its entry, left from an earlier build, no longer matches parentidx1).
void expect_side1_positions(int4 id) {
  const auto& v = variables;
  const auto& av = annealvariables;
  const auto& w = configuration_work.family;
  if (av.numberfsfamily1 < 2) return;  // one family: the move reads its two ids directly
  const auto found = [&](int4 s, int4 pid) {
    const auto& pos = s == 1 ? w.side1pos1 : w.side1pos2;
    if (pid < 1 || static_cast<std::size_t>(pid) >= pos.size()) return false;
    const int4 k = pos[static_cast<std::size_t>(pid)];
    return k >= 1 && k <= av.nparent1(s) && av.parentidx1((s - 1) * av.nparent1(1) + k) == pid;
  };
  for (int4 i = 1; i <= v.smplsize; ++i)
    for (int4 s = 1; s <= 2; ++s) {
      SCOPED_TRACE("offspring " + std::to_string(i) + ", sex " + std::to_string(s));
      EXPECT_EQ(found(s, v.crindivloc(i, s)), v.crindivloc(i, 3) == id);
    }
}

struct SpeciesCase {
  const char* name;
  int4 numsex, mono1, mono2;
  double pself;
};

TEST(FamilyBuild0, SidesMatchARecountAndSideZeroMatchesFamilyBuild) {
  const SpeciesCase cases[] = {
      {"dioecious", 2, 0, 0, 0.0},
      {"monoecious with selfing", 1, 0, 0, 0.3},
      {"mothers monogamous", 2, 0, 1, 0.0},
      {"double monogamy", 2, 1, 1, 0.0},
  };
  std::mt19937 rng(7);
  for (const SpeciesCase& sc : cases) {
    for (int run = 0; run < 12; ++run) {
      SCOPED_TRACE(std::string(sc.name) + ", run " + std::to_string(run));
      const int4 n = 5 + static_cast<int4>(rng() % 50);
      setup_sample({n, sc.numsex, sc.mono1, sc.mono2, 0, 0});
      random_configuration(rng, std::max(2, n / 4), std::max(2, n / 5), sc.pself);
      setinitcluster();
      auto& v = variables;
      auto& av = annealvariables;
      for (int4 id = 1; id <= v.crnumfamily(3); ++id) {
        SCOPED_TRACE("cluster " + std::to_string(id));
        const SideView want = recount_side(id);
        familybuild0(id, 1);
        EXPECT_EQ(av.focalclusteridx(1), v.indivclusterindex(id));
        expect_side(program_side1(), want);
        expect_side1_partners(want);
        expect_side1_positions(id);
        familybuild0(id, 2);
        expect_side(program_side2(), want);
        ASSERT_TRUE(scratch_marks_clear());

        familybuild0(id, 0);
        EXPECT_EQ(check_family_structure(id), "");
        const Families from_tables = engine_families();
        const int4 np1 = v.nparent(1), np2 = v.nparent(2);
        // The same cluster gathered by familybuild from the configuration itself.
        v.indivlocprt = v.crindivloc.view();
        v.indivorder = v.number1tgt.view();
        int4 first = 0;
        for (int4 i = v.smplsize; i >= 1; --i)
          if (v.crindivloc(i, 3) == id) first = i;
        int4 nmember = 0, maxfamsize = 0;
        familybuild(v.crindivloc(first, 1), v.smplsize, 0, nmember, maxfamsize, 1, 0, 0, 0);
        EXPECT_EQ(nmember, av.clustersizet(id));
        EXPECT_EQ(np1, v.nparent(1));
        EXPECT_EQ(np2, v.nparent(2));
        EXPECT_EQ(from_tables, engine_families());
        EXPECT_EQ(check_family_structure(id), "");
        ASSERT_TRUE(scratch_marks_clear());
      }
    }
  }
  reset_all_modules();
}

TEST(FamilyBuild0, RepeatedCallForTheSameClusterChangesNothing) {
  setup_sample({8, 2, 0, 0, 0, 0});
  set_configuration({1, 1, 2, 2, 3, 3, 3, 4}, {1, 2, 2, 1, 3, 4, 4, 5});
  setinitcluster();
  auto& av = annealvariables;
  for (int4 side : {1, 2}) {
    SCOPED_TRACE(side);
    familybuild0(1, side);
    EXPECT_EQ(av.lastfamilyid(side), 1);
    EXPECT_EQ(av.focalclusteridx(side), 1);
    auto& list = side == 1 ? av.familymember1 : av.familymember2;
    const int2 kept = list(1);
    list(1) = -5;  // a rebuild would overwrite it
    familybuild0(1, side);
    EXPECT_EQ(av.focalclusteridx(side), 0);
    EXPECT_EQ(list(1), -5);
    list(1) = kept;
    familybuild0(2, side);
    EXPECT_EQ(av.focalclusteridx(side), 2);
    EXPECT_EQ(av.lastfamilyid(side), 2);
  }
  reset_all_modules();
}

TEST(FamilyBuild0, RecountNoticesADamagedStructure) {
  setup_sample({6, 2, 0, 0, 0, 0});
  set_configuration({1, 1, 2, 2, 3, 3}, {1, 2, 2, 1, 3, 3});
  setinitcluster();
  familybuild0(1, 0);
  ASSERT_EQ(check_family_structure(1), "");
  EXPECT_NE(check_family_structure(2), "");  // another cluster's families
  variables.nchild(1, 2) = 0;
  variables.familystructure_index(1, 2) = 0;
  EXPECT_NE(check_family_structure(1), "");
  reset_all_modules();
}

TEST(FamilyBuild0, SmallClustersAreSetUpDirectly) {
  // One selfing parent of one pool (offspring 1, 2) and a one-offspring cluster (3).
  setup_sample({3, 1, 0, 0, 0, 0});
  set_configuration({4, 4, 6}, {4, 4, 7});
  setinitcluster();
  auto& v = variables;
  auto& av = annealvariables;
  familybuild0(1, 1);
  EXPECT_EQ(av.numberfsfamily1, 1);
  EXPECT_EQ(av.nparent1(1), 1);
  EXPECT_EQ(av.nparent1(2), 1);
  EXPECT_EQ(av.partner1.data(), av.partner1tgt.data());
  EXPECT_EQ(av.locpartner1(2), 1);
  EXPECT_EQ(av.lparent1(1), 2);
  EXPECT_EQ(av.lparent1(2), 1);
  familybuild0(2, 0);
  EXPECT_EQ(v.nparent(1), 1);
  EXPECT_EQ(v.nparent(2), 1);
  EXPECT_EQ(v.nchild(1, 1), 1);
  ASSERT_EQ(familystructure(1, 1).size(), 1);
  EXPECT_EQ(familystructure(1, 1)(1), 3);
  reset_all_modules();
}

}  // namespace
}  // namespace kinrad::test
