// The family builders against a naive oracle written here: the cluster is the connected
// component of the seed's father found by union-find, parents and families are numbered by
// first appearance with maps, and member lists are collected row by row.
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

using testing_support::scratch_marks_clear;

struct Picture {
  int4 np1 = 0, np2 = 0, nfam = 0, nmember = 0, maxfam = 0, mates1 = 0, mates2 = 0;
  std::vector<std::vector<int4>> members;       // per family
  std::vector<std::pair<int4, int4>> parents;   // per family (local)
  std::vector<int4> ids1, ids2;                 // per local parent: family id
  std::vector<int4> jdx1, jdx2;                 // one pool only
  std::map<int4, std::vector<int4>> clusterid;  // offspring -> (i, j, f)
};

Picture picture_of_program() {
  const auto& w = configuration_work.family;
  Picture p;
  p.np1 = w.nparent(1);
  p.np2 = w.nparent(2);
  p.nfam = w.numberfsfamily;
  p.nmember = w.nmember;
  p.maxfam = w.maxfamsize;
  p.mates1 = w.maxnumpartner(1);
  p.mates2 = w.maxnumpartner(2);
  for (int4 f = 1; f <= p.nfam; ++f) {
    std::vector<int4> list;
    for (int4 t = w.famloc[f] + 1; t <= w.famloc[f + 1]; ++t) list.push_back(w.member[t]);
    p.members.push_back(list);
    p.parents.emplace_back(w.famparent1[f], w.famparent2[f]);
  }
  for (int4 k = 1; k <= p.np1; ++k) p.ids1.push_back(w.parentfam1[k]);
  for (int4 k = 1; k <= p.np2; ++k) p.ids2.push_back(w.parentfam2[k]);
  if (variables.numsex == 1) {
    const int4 m = std::max(p.np1, p.np2);
    for (int4 k = 1; k <= m; ++k) {
      p.jdx1.push_back(w.parentjdx1[k]);
      p.jdx2.push_back(w.parentjdx2[k]);
    }
  }
  return p;
}

struct Window {
  std::vector<int4> col1, col2, off;  // per window row (from 0)
  std::vector<int4> order;            // visiting order: window rows (from 1)
};

// The oracle of one build over a window.
Picture oracle(const Window& win, int4 seed, bool takeall, bool onefamily, bool wantid) {
  const auto& v = variables;
  const bool pool = v.numsex == 1;
  const bool dmono = v.numsex == 2 && v.allmonogamy == 1;
  const auto nrow = static_cast<int4>(win.order.size());
  auto row = [&](int4 j) {
    return static_cast<std::size_t>(win.order[static_cast<std::size_t>(j)] - 1);
  };
  std::vector<int4> pos;  // member positions in visiting order
  if (onefamily) {
    for (int4 j = 0; j < nrow; ++j) pos.push_back(j);
  } else if (dmono) {
    const int4 f = seed > 0 ? seed : win.col1[row(0)];
    for (int4 j = 0; j < nrow; ++j)
      if (win.col1[row(j)] == f) pos.push_back(j);
  } else if (seed == 0 || takeall) {
    for (int4 j = 0; j < nrow; ++j) pos.push_back(j);
  } else {
    const int4 shift = 1000;
    UnionFind uf(2 * shift + 2);
    for (int4 j = 0; j < nrow; ++j)
      uf.join(win.col1[row(j)], win.col2[row(j)] + (pool ? 0 : shift));
    for (int4 j = 0; j < nrow; ++j)
      if (uf.find(win.col1[row(j)]) == uf.find(seed)) pos.push_back(j);
  }
  Picture p;
  std::map<int4, int4> l1, l2;
  std::map<std::pair<int4, int4>, int4> fam;
  std::map<int4, std::set<int4>> m1, m2;
  for (int4 j : pos) {
    const std::size_t r = row(j);
    const int4 a = win.col1[r];
    const int4 b = win.col2[r];
    if (onefamily) {
      l1.emplace(a, 1);
      l2.emplace(b, 1);
    }
    if (!l1.count(a)) {
      l1[a] = static_cast<int4>(l1.size()) + 1;
      p.ids1.push_back(a);
    }
    if (!l2.count(b) && !(dmono && !l2.empty())) {
      l2[b] = static_cast<int4>(l2.size()) + 1;
      p.ids2.push_back(b);
    }
    const int4 i = onefamily ? 1 : l1[a];
    const int4 k = (onefamily || dmono) ? 1 : l2[b];
    if (!fam.count({i, k})) {
      fam[{i, k}] = static_cast<int4>(fam.size()) + 1;
      p.members.emplace_back();
      p.parents.emplace_back(i, k);
    }
    const int4 f = fam[{i, k}];
    p.members[static_cast<std::size_t>(f - 1)].push_back(win.off[r]);
    m1[i].insert(k);
    m2[k].insert(i);
    if (wantid) p.clusterid[win.off[r]] = {i, k, f};
  }
  if (onefamily) {
    p.ids1 = {win.col1[row(0)]};
    p.ids2 = {win.col2[row(0)]};
    if (v.allmonogamy != 1) std::sort(p.members[0].begin(), p.members[0].end());
  }
  p.np1 = static_cast<int4>(p.ids1.size());
  p.np2 = static_cast<int4>(p.ids2.size());
  p.nfam = static_cast<int4>(p.members.size());
  p.nmember = static_cast<int4>(pos.size());
  for (const auto& list : p.members) p.maxfam = std::max(p.maxfam, static_cast<int4>(list.size()));
  for (const auto& [k, s] : m1) p.mates1 = std::max(p.mates1, static_cast<int4>(s.size()));
  for (const auto& [k, s] : m2) p.mates2 = std::max(p.mates2, static_cast<int4>(s.size()));
  if (pool) {
    const int4 m = std::max(p.np1, p.np2);
    p.jdx1.assign(static_cast<std::size_t>(m), 0);
    p.jdx2.assign(static_cast<std::size_t>(m), 0);
    for (int4 a = 0; a < p.np1; ++a) {
      const int4 id = p.ids1[static_cast<std::size_t>(a)];
      for (int4 b = 0; b < p.np2; ++b)
        if (p.ids2[static_cast<std::size_t>(b)] == id) {
          p.jdx1[static_cast<std::size_t>(a)] = b + 1;
          p.jdx2[static_cast<std::size_t>(b)] = a + 1;
        }
    }
  }
  return p;
}

void expect_same(const Picture& got, const Picture& want) {
  EXPECT_EQ(got.nmember, want.nmember);
  EXPECT_EQ(got.np1, want.np1);
  EXPECT_EQ(got.np2, want.np2);
  EXPECT_EQ(got.nfam, want.nfam);
  EXPECT_EQ(got.maxfam, want.maxfam);
  EXPECT_EQ(got.mates1, want.mates1);
  EXPECT_EQ(got.mates2, want.mates2);
  EXPECT_EQ(got.ids1, want.ids1);
  EXPECT_EQ(got.ids2, want.ids2);
  EXPECT_EQ(got.parents, want.parents);
  EXPECT_EQ(got.members, want.members);
  EXPECT_EQ(got.jdx1, want.jdx1);
  EXPECT_EQ(got.jdx2, want.jdx2);
}

// The family structure the likelihood engine reads: counts, member lists and, when asked for,
// the size and list of every parent pair.
void expect_engine_structure(const Picture& want, bool pairs) {
  const auto& v = variables;
  EXPECT_EQ(v.nparent(1), want.np1);
  EXPECT_EQ(v.nparent(2), want.np2);
  EXPECT_EQ(v.numberfsfamily, want.nfam);
  EXPECT_EQ(v.maxnumpartner(1), want.mates1);
  EXPECT_EQ(v.maxnumpartner(2), want.mates2);
  for (int4 f = 1; f <= want.nfam; ++f) {
    const auto& list = v.familymember(f).a;
    std::vector<int4> got;
    for (index_t t = 1; t <= list.size(); ++t) got.push_back(list(t));
    EXPECT_EQ(got, want.members[static_cast<std::size_t>(f - 1)]);
  }
  if (!pairs) return;
  int4 cells = 0;
  for (int4 i = 1; i <= want.np1; ++i)
    for (int4 k = 1; k <= want.np2; ++k) cells += v.nchild(i, k) > 0 ? 1 : 0;
  EXPECT_EQ(cells, want.nfam);
  for (int4 f = 1; f <= want.nfam; ++f) {
    const auto [i, k] = want.parents[static_cast<std::size_t>(f - 1)];
    const auto& members = want.members[static_cast<std::size_t>(f - 1)];
    EXPECT_EQ(v.nchild(i, k), static_cast<int4>(members.size()));
    const FView<int2, 1> list = familystructure(i, k);
    std::vector<int4> got;
    for (index_t t = 1; t <= list.size(); ++t) got.push_back(list(t));
    EXPECT_EQ(got, members);
  }
  if (v.numsex == 1) {
    for (std::size_t k = 0; k < want.jdx1.size(); ++k) {
      EXPECT_EQ(v.parentjdx(static_cast<index_t>(k) + 1, 1), want.jdx1[k]);
      EXPECT_EQ(v.parentjdx(static_cast<index_t>(k) + 1, 2), want.jdx2[k]);
    }
  }
}

// Puts a window into the move table indivloc1 (column 4 the offspring) and aims the views.
void load_window(const Window& win, FArray<int4, 1>& order) {
  auto& v = variables;
  auto& av = annealvariables;
  const auto nrow = static_cast<int4>(win.col1.size());
  for (int4 r = 1; r <= nrow; ++r) {
    av.indivloc1(r, 1) = win.col1[static_cast<std::size_t>(r - 1)];
    av.indivloc1(r, 2) = win.col2[static_cast<std::size_t>(r - 1)];
    av.indivloc1(r, 3) = 0;
    av.indivloc1(r, 4) = win.off[static_cast<std::size_t>(r - 1)];
  }
  order.allocate(Dim(static_cast<index_t>(win.order.size())));
  for (std::size_t j = 0; j < win.order.size(); ++j)
    order(static_cast<index_t>(j) + 1) = win.order[j];
  v.indivlocprt = av.indivloc1.view();
  v.indivorder = order.view();
}

std::map<int4, std::vector<int4>> program_cluster_ids(const Window& win) {
  std::map<int4, std::vector<int4>> ids;
  const auto& id = annealvariables.indivclusterid;
  for (int4 i : win.off)
    if (id(i, 1) != 0) ids[i] = {id(i, 1), id(i, 2), id(i, 3)};
  return ids;
}

TEST(FamilyBuild, ThreeFamiliesOfTwoFathersAndTwoMothers) {
  // Fathers a = 11, b = 12; mothers x = 21 (twice) and y = 22: a x, b x, b y.
  setup_sample({6, 2, 0, 0, 0, 0});
  Window win{{11, 12, 12}, {21, 21, 22}, {4, 5, 6}, {1, 2, 3}};
  FArray<int4, 1> order;
  load_window(win, order);
  int4 nmember = 0, maxfamsize = 0;
  familybuild(11, 3, 1, nmember, maxfamsize, 0, 1, 0, 0);
  const Picture p = picture_of_program();
  EXPECT_EQ(nmember, 3);
  EXPECT_EQ(maxfamsize, 1);
  EXPECT_EQ(p.nfam, 3);
  EXPECT_EQ(p.np1, 2);
  EXPECT_EQ(p.np2, 2);
  EXPECT_EQ(p.ids1, (std::vector<int4>{11, 12}));
  EXPECT_EQ(p.ids2, (std::vector<int4>{21, 22}));
  EXPECT_EQ(p.mates1, 2);
  EXPECT_EQ(p.mates2, 2);
  EXPECT_EQ(p.parents, (std::vector<std::pair<int4, int4>>{{1, 1}, {2, 1}, {2, 2}}));
  EXPECT_EQ(program_cluster_ids(win),
            (std::map<int4, std::vector<int4>>{{4, {1, 1, 1}}, {5, {2, 1, 2}}, {6, {2, 2, 3}}}));
  EXPECT_TRUE(scratch_marks_clear());
}

TEST(FamilyBuild, LateNeighbourAndLoneFather) {
  setup_sample({8, 2, 0, 0, 0, 0});
  // Row order: (c, z) is met before anything links it; (b, z) links it later through z.
  // Father d has his own mother and stays out of the cluster of a.
  Window win{
      {13, 11, 14, 11, 12, 12}, {23, 21, 24, 22, 22, 23}, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}};
  FArray<int4, 1> order;
  load_window(win, order);
  int4 nmember = 0, maxfamsize = 0;
  familybuild(11, 6, 1, nmember, maxfamsize, 0, 0, 0, 0);
  EXPECT_EQ(nmember, 5);
  expect_same(picture_of_program(), oracle(win, 11, false, false, false));
  familybuild(14, 6, 1, nmember, maxfamsize, 0, 0, 0, 0);
  EXPECT_EQ(nmember, 1);
  const Picture p = picture_of_program();
  EXPECT_EQ(p.np1, 1);
  EXPECT_EQ(p.np2, 1);
  EXPECT_EQ(p.nfam, 1);
  EXPECT_EQ(p.mates1, 1);
  EXPECT_EQ(p.mates2, 1);
}

TEST(FamilyBuild, FatherWithOneMateAndMonoeciousSelfer) {
  setup_sample({8, 1, 0, 0, 0, 0});
  // One pool: 5 selfs twice, 5 x 6 once, 7 x 5 once: 5 is role-1 parent 1 and role-2 parent 1.
  Window win{{5, 5, 5, 7}, {5, 6, 5, 5}, {8, 7, 6, 5}, {1, 2, 3, 4}};
  FArray<int4, 1> order;
  load_window(win, order);
  int4 nmember = 0, maxfamsize = 0;
  familybuild(5, 4, 1, nmember, maxfamsize, 0, 0, 0, 0);
  const Picture p = picture_of_program();
  EXPECT_EQ(nmember, 4);
  EXPECT_EQ(maxfamsize, 2);
  EXPECT_EQ(p.ids1, (std::vector<int4>{5, 7}));
  EXPECT_EQ(p.ids2, (std::vector<int4>{5, 6}));
  EXPECT_EQ(p.jdx1, (std::vector<int4>{1, 0}));
  EXPECT_EQ(p.jdx2, (std::vector<int4>{1, 0}));
  EXPECT_EQ(p.members, (std::vector<std::vector<int4>>{{8, 6}, {7}, {5}}));
}

TEST(FamilyBuild, SingleRowWindow) {
  setup_sample({3, 2, 0, 0, 0, 0});
  Window win{{4}, {9}, {2}, {1}};
  FArray<int4, 1> order;
  load_window(win, order);
  int4 nmember = 0, maxfamsize = 0;
  familybuild(4, 1, 1, nmember, maxfamsize, 0, 0, 0, 0);
  const Picture p = picture_of_program();
  EXPECT_EQ(nmember, 1);
  EXPECT_EQ(maxfamsize, 1);
  EXPECT_EQ(p.np1, 1);
  EXPECT_EQ(p.np2, 1);
  EXPECT_EQ(p.nfam, 1);
  EXPECT_EQ(p.mates1, 1);
  EXPECT_EQ(p.mates2, 1);
}

struct BuildCase {
  const char* name;
  int4 numsex, mono1, mono2;
  bool seed0, takeall, onefamily;
  double pself;
};

TEST(FamilyBuild, RandomWindowsAgreeWithTheOracle) {
  const BuildCase cases[] = {
      {"dioecious walk", 2, 0, 0, false, false, false, 0.0},
      {"monoecious walk with selfing", 1, 0, 0, false, false, false, 0.3},
      {"double monogamy", 2, 1, 1, false, false, false, 0.0},
      {"double monogamy, seed 0", 2, 1, 1, true, false, false, 0.0},
      {"father monogamous", 2, 1, 0, false, false, false, 0.0},
      {"seed 0", 2, 0, 0, true, false, false, 0.0},
      {"monoecious seed 0", 1, 0, 0, true, false, false, 0.2},
      {"takeall", 2, 0, 0, false, true, false, 0.0},
      {"onefamily", 2, 0, 0, false, false, true, 0.0},
      {"onefamily, monoecious selfed", 1, 0, 0, false, false, true, 1.0},
      {"onefamily, double monogamy", 2, 1, 1, false, false, true, 0.0},
  };
  std::mt19937 rng(2024);
  const int4 n = 60;
  for (const BuildCase& bc : cases) {
    for (int round = 0; round < 150; ++round) {
      SCOPED_TRACE(std::string(bc.name) + ", round " + std::to_string(round));
      setup_sample({n, bc.numsex, bc.mono1, bc.mono2, 0, 0});
      const int4 nrow = std::uniform_int_distribution<int4>(1, n)(rng);
      const int4 k = std::uniform_int_distribution<int4>(1, std::max(2, nrow / 2))(rng);
      std::uniform_int_distribution<int4> pid(1, k);
      std::uniform_real_distribution<double> u(0.0, 1.0);
      Window win;
      std::vector<int4> offs(static_cast<std::size_t>(n));
      for (int4 i = 0; i < n; ++i) offs[static_cast<std::size_t>(i)] = i + 1;
      std::shuffle(offs.begin(), offs.end(), rng);
      const int4 fa = pid(rng),
                 mo = bc.numsex == 1 ? (u(rng) < bc.pself ? fa : pid(rng)) : pid(rng);
      for (int4 r = 0; r < nrow; ++r) {
        int4 a = pid(rng);
        int4 b = bc.numsex == 1 && u(rng) < bc.pself ? a : pid(rng);
        if (bc.mono1 == 1) b = a;  // one mate per father
        if (bc.onefamily) {
          a = fa;
          b = mo;
        }
        win.col1.push_back(a);
        win.col2.push_back(b);
        win.off.push_back(offs[static_cast<std::size_t>(r)]);
      }
      for (int4 r = 1; r <= nrow; ++r) win.order.push_back(r);
      std::shuffle(win.order.begin(), win.order.end(), rng);
      FArray<int4, 1> order;
      load_window(win, order);
      const int4 seed = bc.seed0 ? 0
                                 : win.col1[static_cast<std::size_t>(
                                       std::uniform_int_distribution<int4>(0, nrow - 1)(rng))];
      const bool wantid = round % 3 == 0;
      const bool wantstructure = round % 3 == 1;
      int4 nmember = -1, maxfamsize = -1;
      familybuild(seed, nrow, 1, nmember, maxfamsize, wantstructure ? 1 : 0, wantid ? 1 : 0,
                  bc.onefamily ? 1 : 0, bc.takeall ? 1 : 0);
      const Picture want = oracle(win, seed, bc.takeall, bc.onefamily, wantid);
      Picture got = picture_of_program();
      EXPECT_EQ(nmember, want.nmember);
      EXPECT_EQ(maxfamsize, want.maxfam);
      expect_same(got, want);
      if (wantid) {
        EXPECT_EQ(program_cluster_ids(win), want.clusterid);
      }
      expect_engine_structure(want, wantstructure);
      ASSERT_TRUE(scratch_marks_clear());
    }
  }
  reset_all_modules();
}

TEST(FamilyBuild, OffspringFromTheVisitingOrderOutsideMode1) {
  // Mode 0 reads the configuration itself: row r is offspring r.
  setup_sample({5, 2, 0, 0, 0, 0});
  auto& v = variables;
  const int4 c1[5] = {1, 2, 1, 3, 2}, c2[5] = {1, 1, 2, 3, 2};
  for (int4 i = 1; i <= 5; ++i) {
    v.crindivloc(i, 1) = c1[i - 1];
    v.crindivloc(i, 2) = c2[i - 1];
  }
  v.indivlocprt = v.crindivloc.view();
  FArray<int4, 1> order(Dim(5));
  const int4 ord[5] = {5, 4, 3, 2, 1};
  for (int4 j = 1; j <= 5; ++j) order(j) = ord[j - 1];
  v.indivorder = order.view();
  int4 nmember = 0, maxfamsize = 0;
  familybuild(2, 5, 0, nmember, maxfamsize, 0, 0, 0, 0);
  const Picture p = picture_of_program();
  // Visiting 5 (2,2), 3 (1,2), 2 (2,1), 1 (1,1); offspring 4 (3,3) stays out.
  EXPECT_EQ(nmember, 4);
  EXPECT_EQ(p.ids1, (std::vector<int4>{2, 1}));
  EXPECT_EQ(p.ids2, (std::vector<int4>{2, 1}));
  EXPECT_EQ(p.members, (std::vector<std::vector<int4>>{{5}, {3}, {2}, {1}}));
}

TEST(FamilyBuild, SmallerClusterAfterALargerOneInTheSameState) {
  setup_sample({40, 2, 0, 0, 0, 0});
  std::mt19937 rng(3);
  std::uniform_int_distribution<int4> pid(1, 6);
  for (int4 nrow : {40, 3, 25, 1, 12}) {
    SCOPED_TRACE(nrow);
    Window win;
    for (int4 r = 1; r <= nrow; ++r) {
      win.col1.push_back(pid(rng));
      win.col2.push_back(pid(rng));
      win.off.push_back(r);
      win.order.push_back(r);
    }
    FArray<int4, 1> order;
    load_window(win, order);
    int4 nmember = 0, maxfamsize = 0;
    familybuild(win.col1[0], nrow, 1, nmember, maxfamsize, 1, 0, 0, 0);
    expect_engine_structure(oracle(win, win.col1[0], false, false, false), true);
  }
  reset_all_modules();
}

TEST(FamilyBuild1, OneParentAndItsMates) {
  setup_sample({8, 2, 0, 0, 0, 0});
  // Mother 30 with fathers 12, 11, 12; mother 31 with father 11 (not hers).
  Window win{{12, 11, 11, 12}, {30, 30, 31, 30}, {7, 6, 5, 4}, {1, 2, 3, 4}};
  FArray<int4, 1> order;
  load_window(win, order);
  int4 nmember = 0;
  familybuild1(nmember, 2, 0, 1, 4, 30);
  const Picture p = picture_of_program();
  EXPECT_EQ(nmember, 3);
  EXPECT_EQ(p.np1, 2);
  EXPECT_EQ(p.np2, 1);
  EXPECT_EQ(p.nfam, 2);
  EXPECT_EQ(p.mates1, 1);
  EXPECT_EQ(p.mates2, 2);
  EXPECT_EQ(p.ids1, (std::vector<int4>{12, 11}));
  EXPECT_EQ(p.ids2, (std::vector<int4>{30}));
  EXPECT_EQ(p.members, (std::vector<std::vector<int4>>{{7, 4}, {6}}));
  EXPECT_EQ(program_cluster_ids(win),
            (std::map<int4, std::vector<int4>>{{7, {1, 1, 1}}, {6, {2, 1, 2}}, {4, {1, 1, 1}}}));
  familybuild1(nmember, 1, 0, 0, 4, 0);  // every row, seen from the fathers' side
  EXPECT_EQ(nmember, 4);
  // With the structure: father 11's two families (mothers 30 and 31), by hand.
  familybuild1(nmember, 1, 1, 0, 4, 11);
  EXPECT_EQ(nmember, 2);
  const auto& v = variables;
  EXPECT_EQ(v.nparent(1), 1);
  EXPECT_EQ(v.nparent(2), 2);
  EXPECT_EQ(v.nchild(1, 1), 1);
  EXPECT_EQ(v.nchild(1, 2), 1);
  EXPECT_EQ(familystructure(1, 1)(1), 6);
  EXPECT_EQ(familystructure(1, 2)(1), 5);
  EXPECT_TRUE(scratch_marks_clear());
}

}  // namespace
}  // namespace kinrad::test
