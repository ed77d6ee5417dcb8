// The archive of configurations: the score window, insertion order, the size limit and pruning
// with expected values worked out by hand; the duplicate and equality tests against a
// brute-force comparer written here, which compares every pair of offspring (same family or
// not) in the two configurations.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "configuration/configuration.hpp"
#include "configuration_fixture.hpp"

namespace kinrad::test {
namespace {

int4 archive_size() {
  int4 k = 0;
  for (const Config* p = variables.confighead; p != nullptr; p = p->next) ++k;
  return k;
}

std::vector<real8> archive_scores() {
  std::vector<real8> s;
  for (const Config* p = variables.confighead; p != nullptr; p = p->next) s.push_back(p->logl);
  return s;
}

// Aims the views at the current configuration with the given score.
void aim_current(real8 score) {
  auto& v = variables;
  v.crloglikelihood = score;
  v.indivlocprt = v.crindivloc.view();
  v.inferparentprt = v.inferparent.view();
  v.loglikelihoodprt = &v.crloglikelihood;
}

// A sample of n offspring, dioecious unless told, with the partition columns the set-up of a
// run chooses for the mating system.
void archive_sample(int4 n, int4 numsex = 2, int4 mono1 = 0, int4 mono2 = 0, int4 ncand = 0,
                    int4 haploids = 0) {
  setup_sample({n, numsex, mono1, mono2, ncand, ncand});
  auto& v = variables;
  v.allcandidate = 2 * ncand;
  v.fulllikelihoodmethodq = 1;
  v.allowinbreeding = numsex == 1 ? 1 : 0;
  v.chkidx1 = mono1 != 0 ? 1 : mono2 + 1;
  v.chkidx2 = mono1 != 0 ? 1 : 2;
  v.offploid.allocate(Dim(n));
  v.offploid.fill(2);
  for (int4 i = 1; i <= haploids; ++i) v.offploid(2 * i) = 1;  // every second offspring
  v.smplsizedh(1) = haploids;
  v.smplsizedh(2) = n - haploids;
  v.haplodiploid = haploids > 0 ? 1 : 0;
}

// Families (1, 1): 1 2 3; (2, 1): 4; (2, 2): 5 6 (one cluster), and (3, 3): 7 8.
void small_configuration() {
  set_configuration({1, 1, 1, 2, 2, 2, 3, 3}, {1, 1, 1, 1, 2, 2, 3, 3});
}

// The same partition under other ids: fathers 1->3, 2->1, 3->2; mothers 1->2, 2->3, 3->1.
void small_configuration_relabelled() {
  set_configuration({3, 3, 3, 1, 1, 1, 2, 2}, {2, 2, 2, 2, 3, 3, 1, 1});
}

// Offspring 3 moved from family (1, 1) to family (2, 2).
void small_configuration_moved() {
  set_configuration({1, 1, 2, 2, 2, 2, 3, 3}, {1, 1, 2, 1, 2, 2, 3, 3});
}

struct WindowRow {
  std::string name;
  int4 numsex, priortype, method;
  real8 score, archived_at;
  bool refused;
};

// tol = 1e-5 |L|, capped at 10 (full likelihood) or 0.1 (pairwise), at least 5 priortype + 0.5
// in one parent pool; an equal configuration strictly inside (L - tol, L + tol) is refused.
TEST(ArchiveConfigAdd, ToleranceWindow) {
  const std::vector<WindowRow> rows = {
      {"L -5000: tol 0.05, inside", 2, 0, 1, -5000.0, -5000.049, true},
      {"L -5000: tol 0.05, outside", 2, 0, 1, -5000.0, -5000.051, false},
      {"L -5000: tol 0.05, above inside", 2, 0, 1, -5000.0, -4999.951, true},
      {"full-likelihood cap 10", 2, 0, 1, -2e6, -2e6 - 9.9, true},
      {"full-likelihood cap 10, outside", 2, 0, 1, -2e6, -2e6 - 10.1, false},
      {"pairwise cap 0.1, inside", 2, 0, 0, -50000.0, -50000.09, true},
      {"pairwise cap 0.1, outside", 2, 0, 0, -50000.0, -50000.11, false},
      {"monoecious priortype 2: 10.5, inside", 1, 2, 1, -5000.0, -5010.4, true},
      {"monoecious priortype 2: 10.5, outside", 1, 2, 1, -5000.0, -5010.6, false},
      {"positive score: tol 0.05, inside", 2, 0, 1, 5000.0, 5000.04, true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    archive_sample(8, r.numsex);
    auto& v = variables;
    v.priortype = r.priortype;
    v.fulllikelihoodmethodq = r.method;
    small_configuration();
    aim_current(r.archived_at);
    ASSERT_TRUE(archiveconfigadd(1, v.crnumfamily(3)));
    aim_current(r.score);
    EXPECT_EQ(archiveconfigadd(1, v.crnumfamily(3)), !r.refused);
    EXPECT_EQ(archive_size(), r.refused ? 1 : 2);
  }
}

TEST(ArchiveConfigAdd, OrderAndEqualScores) {
  archive_sample(8);
  auto& v = variables;
  small_configuration();
  aim_current(-100.0);
  ASSERT_TRUE(archiveconfigadd(1, v.crnumfamily(3)));
  const Config* first = v.confighead;
  // A different configuration of the same score goes in front of it.
  small_configuration_moved();
  aim_current(-100.0);
  ASSERT_TRUE(archiveconfigadd(1, v.crnumfamily(3)));
  EXPECT_NE(v.confighead, first);
  EXPECT_EQ(v.confighead->next, first);
  EXPECT_EQ(v.configtail, first);
  // Mode 3 takes records without a test: lower, middle, equal to a middle one, higher.
  for (real8 s : {-300.0, -200.0, -200.0, -50.0}) {
    aim_current(s);
    ASSERT_TRUE(archiveconfigadd(3, v.crnumfamily(3)));
  }
  EXPECT_EQ(archive_scores(), (std::vector<real8>{-50, -100, -100, -200, -200, -300}));
  EXPECT_EQ(v.configtail->logl, -300.0);
  EXPECT_EQ(v.configtail->next, nullptr);
}

TEST(ArchiveConfigAdd, SizeLimit) {
  for (int4 mode : {1, 2, 3}) {
    for (bool lowest : {true, false}) {
      SCOPED_TRACE("mode " + std::to_string(mode) + (lowest ? " new lowest" : " new highest"));
      archive_sample(8);
      auto& v = variables;
      small_configuration();
      // Scores 1 apart: never inside one another's window (0.01 at most here).
      for (int4 k = 0; k < 1000; ++k) {
        aim_current(-1000.0 - k);
        ASSERT_TRUE(archiveconfigadd(3, v.crnumfamily(3)));
      }
      aim_current(lowest ? -5000.0 : -10.0);
      const bool kept = archiveconfigadd(mode, v.crnumfamily(3));
      if (mode == 3) {
        EXPECT_TRUE(kept);
        EXPECT_EQ(archive_size(), 1001);
        continue;
      }
      EXPECT_EQ(kept, !lowest);
      EXPECT_EQ(archive_size(), 1000);
      EXPECT_EQ(v.confighead->logl, lowest ? -1000.0 : -10.0);
      EXPECT_EQ(v.configtail->logl, lowest ? -1999.0 : -1998.0);
      EXPECT_EQ(v.configtail->next, nullptr);
    }
  }
}

TEST(ArchiveConfigRemove, FloorAndEmptying) {
  archive_sample(8);
  auto& v = variables;
  small_configuration();
  for (real8 s : {-10.0, -20.0, -30.0, -40.0}) {
    aim_current(s);
    archiveconfigadd(3, v.crnumfamily(3));
  }
  v.minloglikelihood = -45.0;  // every record at or above: nothing happens
  archiveconfigremove();
  EXPECT_EQ(archive_size(), 4);
  v.minloglikelihood = -30.0;  // the record at the floor stays
  archiveconfigremove();
  EXPECT_EQ(archive_scores(), (std::vector<real8>{-10, -20, -30}));
  EXPECT_EQ(v.configtail->logl, -30.0);
  v.minloglikelihood = -5.0;  // even the head is below: the list empties
  archiveconfigremove();
  EXPECT_EQ(v.confighead, nullptr);
  EXPECT_EQ(v.configtail, nullptr);
  // Later insertions start a new list.
  aim_current(-7.0);
  EXPECT_TRUE(archiveconfigadd(1, v.crnumfamily(3)));
  EXPECT_EQ(v.confighead, v.configtail);
  archiveconfigremove();
  EXPECT_EQ(archive_size(), 0);
  archiveconfigremove();  // on an empty list
  aim_current(-7.0);
  archiveconfigadd(1, v.crnumfamily(3));
  archiveconfigadd(3, v.crnumfamily(3));
  archiveconfigremoveall();
  EXPECT_EQ(v.confighead, nullptr);
  EXPECT_EQ(v.configtail, nullptr);
}

// ----- Duplicate and equality tests against the brute-force comparer -------------------------

struct Conf {
  std::vector<int4> c1, c2, c3, p1, p2;  // indexed from 0
};

Conf capture() {
  const auto& v = variables;
  Conf c;
  for (int4 i = 1; i <= v.smplsize; ++i) {
    c.c1.push_back(v.crindivloc(i, 1));
    c.c2.push_back(v.crindivloc(i, 2));
    c.c3.push_back(v.crindivloc(i, 3));
    c.p1.push_back(v.inferparent(i, 1));
    c.p2.push_back(v.inferparent(i, 2));
  }
  return c;
}

void install(const Conf& c) {
  auto& v = variables;
  set_configuration(c.c1, c.c2);  // clusters and their sizes recounted
  for (int4 i = 1; i <= v.smplsize; ++i) {
    const auto k = static_cast<std::size_t>(i - 1);
    v.inferparent(i, 1) = c.p1[k];
    v.inferparent(i, 2) = c.p2[k];
  }
}

// The cluster member lists of the current configuration, in offspring order.
void list_clusters() {
  auto& v = variables;
  for (int4 c = 1; c <= v.crnumfamily(3); ++c) {
    v.indivcluster(c).allocate(Dim(annealvariables.clustersizet(c)));
    int4 t = 0;
    for (int4 i = 1; i <= v.smplsize; ++i)
      if (v.crindivloc(i, 3) == c) v.indivcluster(c)(++t) = static_cast<int2>(i);
  }
}

// Equal labels stand for equal groups in both: every pair of offspring is checked.
template <class K>
bool same_groups(const std::vector<K>& a, const std::vector<K>& b) {
  for (std::size_t i = 0; i < a.size(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if ((a[i] == a[j]) != (b[i] == b[j])) return false;
  return true;
}

// The brute-force comparer: the same clusters; the same groupings in the columns the mating
// system leaves open (a haploid offspring without a diploid full sib has no paternal family of
// its own, only one per mother); in one parent pool the same unordered parent pairs and selfed
// offspring; the same assigned parents (unordered in one pool; haploid fathers not counted
// under double monogamy).
bool comparer(const Conf& x, const Conf& y) {
  const auto& v = variables;
  const std::size_t n = x.c1.size();
  if (!same_groups(x.c3, y.c3)) return false;
  const bool pool = v.numsex == 1;
  const bool dmono = !pool && v.allmonogamy == 1;
  auto fathers = [&](const Conf& c) {
    std::vector<int4> f = c.c1;
    if (v.chkidx1 == v.chkidx2) return f;
    for (std::size_t i = 0; i < n; ++i) {
      if (v.offploid(static_cast<index_t>(i + 1)) == 2) continue;
      bool matched = false;
      for (std::size_t j = 0; j < n; ++j)
        if (v.offploid(static_cast<index_t>(j + 1)) == 2 && c.c1[j] == c.c1[i] &&
            c.c2[j] == c.c2[i])
          matched = true;
      if (!matched) f[i] = -c.c2[i];
    }
    return f;
  };
  if (pool) {
    std::vector<std::pair<int4, int4>> a, b;
    for (std::size_t i = 0; i < n; ++i) {
      a.emplace_back(std::minmax(x.c1[i], x.c2[i]));
      b.emplace_back(std::minmax(y.c1[i], y.c2[i]));
      if ((x.c1[i] == x.c2[i]) != (y.c1[i] == y.c2[i])) return false;
      if (std::minmax(x.p1[i], x.p2[i]) != std::minmax(y.p1[i], y.p2[i])) return false;
    }
    return same_groups(a, b);
  }
  if (dmono) {
    if (!same_groups(x.c1, y.c1)) return false;
  } else {
    if (v.chkidx1 == 1 && !same_groups(fathers(x), fathers(y))) return false;
    if (v.chkidx2 == 2 && !same_groups(x.c2, y.c2)) return false;
  }
  for (std::size_t i = 0; i < n; ++i) {
    const bool haploid = v.offploid(static_cast<index_t>(i + 1)) != 2;
    if (!(dmono && haploid && v.smplsizedh(1) > 0) && x.p1[i] != y.p1[i]) return false;
    if (x.p2[i] != y.p2[i]) return false;
  }
  return true;
}

// Family ids of a column made dense (1..K) keeping their order, as the search keeps them: a
// relabelling, so partitions stay as they are. One parent pool numbers both columns together.
void compact(Conf& c) {
  const bool pool = variables.numsex == 1;
  auto renumber = [](std::vector<std::vector<int4>*> cols) {
    std::vector<int4> ids;
    for (auto* col : cols) ids.insert(ids.end(), col->begin(), col->end());
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    for (auto* col : cols)
      for (auto& x : *col)
        x = static_cast<int4>(std::lower_bound(ids.begin(), ids.end(), x) - ids.begin()) + 1;
  };
  if (pool) {
    renumber({&c.c1, &c.c2});
  } else {
    renumber({&c.c1});
    renumber({&c.c2});
  }
}

struct Variant {
  std::string name;
  int4 numsex, mono1, mono2, haploids;
};

// Random configurations R; C is R under relabelled ids (equal), R with one offspring moved
// into another existing full-sib family, or R with one family's assigned parent changed. The
// changed offspring always shares its cluster in C with some other offspring.
TEST(ArchiveEquality, AgainstBruteForce) {
  const std::vector<Variant> variants = {
      {"dioecious", 2, 0, 0, 0},
      {"dioecious haploids", 2, 0, 0, 5},
      {"fathers monogamous", 2, 1, 0, 0},
      {"mothers monogamous", 2, 0, 1, 0},
      {"double monogamy", 2, 1, 1, 0},
      {"double monogamy haploids", 2, 1, 1, 4},
      {"mothers monogamous haploids", 2, 0, 1, 5},
      {"one pool with selfing", 1, 0, 0, 0},
  };
  std::mt19937 rng(99);
  int4 negatives = 0;
  for (const auto& var : variants) {
    for (int4 trial = 0; trial < 30; ++trial) {
      for (int4 kind = 0; kind < 3; ++kind) {
        SCOPED_TRACE(var.name + " trial " + std::to_string(trial) + " kind " +
                     std::to_string(kind));
        const int4 n = 24;
        archive_sample(n, var.numsex, var.mono1, var.mono2, 3, var.haploids);
        auto& v = variables;
        random_configuration(rng, 7, 6, 0.15);
        // Parents by family id: each id of a column has one candidate (0 = none).
        std::uniform_int_distribution<int4> cand(0, 3);
        std::vector<int4> by1(40), by2(40);
        for (auto& x : by1) x = cand(rng);
        for (auto& x : by2) x = cand(rng);
        if (var.numsex == 1) by2 = by1;
        for (int4 i = 1; i <= n; ++i) {
          v.inferparent(i, 1) = by1[static_cast<std::size_t>(v.crindivloc(i, 1))];
          v.inferparent(i, 2) = by2[static_cast<std::size_t>(v.crindivloc(i, 2))];
        }
        Conf r0 = capture();
        compact(r0);
        install(r0);
        const Conf r = capture();
        Conf c = r;
        if (kind == 0) {
          // Permutations of the ids in use, so that they stay dense.
          int4 k1 = *std::max_element(c.c1.begin(), c.c1.end());
          int4 k2 = *std::max_element(c.c2.begin(), c.c2.end());
          if (var.numsex == 1) k1 = k2 = std::max(k1, k2);
          std::vector<int4> q1(static_cast<std::size_t>(k1) + 1),
              q2(static_cast<std::size_t>(k2) + 1);
          std::iota(q1.begin(), q1.end(), 0);
          std::iota(q2.begin(), q2.end(), 0);
          std::shuffle(q1.begin() + 1, q1.end(), rng);
          std::shuffle(q2.begin() + 1, q2.end(), rng);
          if (var.numsex == 1) q2 = q1;
          for (std::size_t i = 0; i < c.c1.size(); ++i) {
            c.c1[i] = q1[static_cast<std::size_t>(c.c1[i])];
            c.c2[i] = q2[static_cast<std::size_t>(c.c2[i])];
            // In one pool the two parents of an offspring may trade places.
            if (var.numsex == 1 && trial % 2 == 1 && rng() % 2 == 0) {
              std::swap(c.c1[i], c.c2[i]);
              std::swap(c.p1[i], c.p2[i]);
            }
          }
        } else {
          // Another existing full-sib family (or, for a parent change, the offspring's own)
          // whose cluster has at least two members after the change.
          std::uniform_int_distribution<int4> pick(0, n - 1);
          bool done = false;
          for (int4 attempt = 0; attempt < 200 && !done; ++attempt) {
            const auto o = static_cast<std::size_t>(pick(rng));
            const auto d = static_cast<std::size_t>(pick(rng));
            if (kind == 1) {
              if (c.c1[d] == c.c1[o] && c.c2[d] == c.c2[o]) continue;
              c.c1[o] = c.c1[d];
              c.c2[o] = c.c2[d];
              c.p1[o] = c.p1[d];
              c.p2[o] = c.p2[d];
              done = true;
            } else {
              int4 size = 0;
              for (std::size_t j = 0; j < c.c1.size(); ++j)
                if (r.c3[j] == r.c3[o]) ++size;
              if (size < 2) continue;
              const int4 s =
                  var.numsex == 2 && var.haploids > 0 ? 2 : 1 + static_cast<int4>(rng() % 2);
              auto& col = s == 1 ? c.c1 : c.c2;
              auto& par = s == 1 ? c.p1 : c.p2;
              const int4 id = col[o];
              const int4 now = par[o];
              for (std::size_t j = 0; j < c.c1.size(); ++j) {
                // The parent of family id `id` (both roles in one pool).
                if (col[j] == id) par[j] = (now + 1) % 4;
                if (var.numsex == 1 && (s == 1 ? c.c2 : c.c1)[j] == id)
                  (s == 1 ? c.p2 : c.p1)[j] = (now + 1) % 4;
              }
              done = true;
            }
          }
          if (!done) continue;
        }
        compact(c);
        install(c);
        const Conf cc = capture();  // clusters renumbered for C
        const bool equal = comparer(cc, r);
        if (kind == 0) {
          EXPECT_TRUE(equal) << "the comparer itself";
        }
        if (!equal) ++negatives;
        const int4 nclust = v.crnumfamily(3);

        for (int4 mode : {1, 2}) {
          SCOPED_TRACE("mode " + std::to_string(mode));
          archiveconfigremoveall();
          install(r);
          aim_current(-1000.0);
          ASSERT_TRUE(archiveconfigadd(1, v.crnumfamily(3)));
          install(c);
          list_clusters();
          annealvariables.numindiv(2) = 0;
          aim_current(-1000.0 + 1e-4);
          EXPECT_EQ(archiveconfigadd(mode, nclust), !equal);
        }

        // equalconfigtest: the best configuration is R, the current one C.
        install(r);
        v.btindivloc.allocate(Dim(n), Dim(3));
        for (int4 i = 1; i <= n; ++i)
          for (int4 k = 1; k <= 3; ++k) v.btindivloc(i, k) = v.crindivloc(i, k);
        v.btinferparent.allocate(Dim(n), Dim(2));
        for (int4 i = 1; i <= n; ++i)
          for (int4 s = 1; s <= 2; ++s) v.btinferparent(i, s) = v.inferparent(i, s);
        for (int4 k = 1; k <= 3; ++k) v.btnumfamily(k) = v.crnumfamily(k);
        v.btloglikelihood = -1000.0;
        install(c);
        list_clusters();
        v.crloglikelihood = -1000.0;
        int4 eq = -1;
        equalconfigtest(eq);
        // The run compares its current and best configurations column by column first: in one
        // parent pool, parents that traded columns count as another configuration there.
        if (!(var.numsex == 1 && trial % 2 == 1)) {
          EXPECT_EQ(eq, equal ? 1 : 0);
        }
      }
    }
  }
  EXPECT_GT(negatives, 100);
}

// The moved-offspring test of mode 2 with a hand-set move table: offspring 1 and 3 moved,
// offspring 1 the drawn one.
TEST(ArchiveEquality, MovedOffspringOfAMove) {
  struct Row {
    std::string name;
    void (*record)();
    bool duplicate;
  };
  const std::vector<Row> rows = {
      {"relabelled record", small_configuration_relabelled, true},
      {"record with offspring 3 elsewhere", small_configuration_moved, false},
      {"the same ids", small_configuration, true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    archive_sample(8);
    auto& v = variables;
    auto& av = annealvariables;
    r.record();
    aim_current(-50.0);
    ASSERT_TRUE(archiveconfigadd(1, v.crnumfamily(3)));
    small_configuration();
    list_clusters();
    av.numindiv(2) = 2;
    av.indivloc2(1, 4) = 1;
    av.indivloc2(2, 4) = 3;
    av.moveindiv = 1;
    aim_current(-50.0);
    EXPECT_EQ(archiveconfigadd(2, v.crnumfamily(3)), !r.duplicate);
  }
}

// Large groups: n at the sample size, both columns differing, ids near the 16-bit limit of
// the sample; relabelled pairs agree, one changed pair does not.
TEST(NoneqtCluster, LargeGroupBothColumns) {
  const int4 n = 32760;
  archive_sample(n);
  std::mt19937 rng(5);
  std::uniform_int_distribution<int4> id(1, n);
  FArray<int4, 2> a(Dim(n), Dim(2)), b(Dim(n), Dim(2));
  std::vector<int4> q1(static_cast<std::size_t>(n) + 1), q2(static_cast<std::size_t>(n) + 1);
  std::iota(q1.begin(), q1.end(), 0);
  std::iota(q2.begin(), q2.end(), 0);
  std::shuffle(q1.begin() + 1, q1.end(), rng);
  std::shuffle(q2.begin() + 1, q2.end(), rng);
  std::vector<int4> members(static_cast<std::size_t>(n));
  for (int4 i = 1; i <= n; ++i) {
    members[static_cast<std::size_t>(i - 1)] = i;
    a(i, 1) = id(rng) % 200 + 1;
    a(i, 2) = id(rng);
    b(i, 1) = q1[static_cast<std::size_t>(a(i, 1))];
    b(i, 2) = q2[static_cast<std::size_t>(a(i, 2))];
  }
  int4 diff = -1;
  noneqtcluster(a, b, n, members.data(), diff);
  EXPECT_EQ(diff, 0);
  // Offspring 7 joins the full-sib family of offspring 8 in b only.
  b(7, 1) = b(8, 1);
  b(7, 2) = b(8, 2);
  if (!(a(7, 1) == a(8, 1) && a(7, 2) == a(8, 2))) {
    noneqtcluster(a, b, n, members.data(), diff);
    EXPECT_EQ(diff, 1);
  }
}

TEST(NoneqtSelfing, SelfedRows) {
  FArray<int4, 2> a(Dim(3), Dim(2)), b(Dim(3), Dim(2));
  const int4 av[] = {1, 2, 3, 4, 5, 5}, bv[] = {7, 7, 3, 9, 2, 2};
  for (int4 i = 0; i < 3; ++i) {
    a(i + 1, 1) = av[2 * i];
    a(i + 1, 2) = av[2 * i + 1];
    b(i + 1, 1) = bv[2 * i];
    b(i + 1, 2) = bv[2 * i + 1];
  }
  int4 diff = -1;
  // Row 1 selfed only in b.
  noneqtselfing(a, b, 3, diff);
  EXPECT_EQ(diff, 1);
  b(1, 2) = 8;
  noneqtselfing(a, b, 3, diff);
  EXPECT_EQ(diff, 0);
}

}  // namespace
}  // namespace kinrad::test
