// The verdict stage applied to hand-built proposals: random individual moves (inside the own
// cluster, to another cluster, to a new cluster) written by the test proposal builder are
// scored without likelihood (neither pairwise path nor full likelihood), accepted and applied.
// The applied configuration is compared with the proposed configuration built explicitly in
// the test (the partition of offspring into paternal and maternal families and into clusters,
// recounted by union-find), and the cluster tables with the plain recount of
// tests/support/cluster_consistency.hpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "configuration/configuration.hpp"
#include "configuration/configuration_fixture.hpp"
#include "core/command_line.hpp"
#include "core/error_stop.hpp"
#include "core/modules/search_seams.hpp"
#include "core/modules/search_work.hpp"
#include "core/random_numbers.hpp"
#include "input/input.hpp"
#include "likelihood/likelihood.hpp"
#include "pairwise/pairwise.hpp"
#include "program/prepare_analysis.hpp"
#include "search/move_stages.hpp"
#include "search/move_verdict_internal.hpp"
#include "search/search.hpp"
#include "search/search_internal.hpp"
#include "support/cluster_consistency.hpp"
#include "support/one_search.hpp"
#include "support/prepare.hpp"
#include "support/proposal_builder.hpp"
#include "support/ran2_state.hpp"

namespace kinrad::test {
namespace {

using testing_support::Ran2State;

// Family ids relabelled 1, 2, ... by first appearance (per sex; one id space for one pool).
void dense_configuration(std::mt19937& rng, int4 k1, int4 k2) {
  auto& v = variables;
  random_configuration(rng, k1, k2, 0.2);
  const int4 n = v.smplsize;
  std::vector<int4> a(static_cast<std::size_t>(n)), b(static_cast<std::size_t>(n));
  std::map<int4, int4> m1, m2;
  auto& mb = v.numsex == 1 ? m1 : m2;
  for (int4 i = 1; i <= n; ++i) {
    const int4 x = v.crindivloc(i, 1), y = v.crindivloc(i, 2);
    if (!m1.count(x)) m1[x] = static_cast<int4>(m1.size()) + 1;
    a[static_cast<std::size_t>(i - 1)] = m1[x];
    if (!mb.count(y)) mb[y] = static_cast<int4>(mb.size()) + 1;
    b[static_cast<std::size_t>(i - 1)] = mb[y];
  }
  set_configuration(a, b);
  if (v.numsex == 1) {
    const int4 top = std::max(v.crnumfamily(1), v.crnumfamily(2));
    std::set<int4> ids;
    for (int4 i = 1; i <= n; ++i) {
      ids.insert(v.crindivloc(i, 1));
      ids.insert(v.crindivloc(i, 2));
    }
    v.crnumfamily(1) = v.crnumfamily(2) = static_cast<int4>(ids.size());
    (void)top;
  }
}

// Connected components of the configuration in crindivloc-like columns a, b (union-find).
std::vector<int4> components(const std::vector<int4>& a, const std::vector<int4>& b, bool pool) {
  const auto n = a.size();
  int4 k = 0;
  for (std::size_t i = 0; i < n; ++i) k = std::max({k, a[i], b[i]});
  UnionFind uf(static_cast<std::size_t>(2 * k + 2));
  for (std::size_t i = 0; i < n; ++i) uf.join(a[i], b[i] + (pool ? 0 : k));
  std::vector<int4> comp(n);
  for (std::size_t i = 0; i < n; ++i) comp[i] = uf.find(a[i]);
  return comp;
}

// x and y group the offspring alike (a bijection between their labels).
bool same_grouping(const std::vector<int4>& x, const std::vector<int4>& y) {
  std::map<int4, int4> f, g;
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (f.count(x[i]) && f[x[i]] != y[i]) return false;
    if (g.count(y[i]) && g[y[i]] != x[i]) return false;
    f[x[i]] = y[i];
    g[y[i]] = x[i];
  }
  return true;
}

struct Species {
  const char* name;
  int4 numsex;
  int4 k1, k2;
};

class VerdictApply : public ::testing::TestWithParam<Species> {};

TEST_P(VerdictApply, AcceptedMovesLeaveTheProposedConfigurationAndConsistentTables) {
  const Species sp = GetParam();
  auto& v = variables;
  auto& av = annealvariables;
  std::mt19937 rng(20261210u + static_cast<unsigned>(sp.numsex));
  const int4 n = 24;
  setup_sample({n, sp.numsex, 0, 0, 0, 0});
  v.allowinbreeding = sp.numsex == 1 ? 1 : 0;
  dense_configuration(rng, sp.k1, sp.k2);
  testing_support::allocate_move_tables(n);
  av.indivloc12(1) = av.indivloc1.view();
  av.indivloc12(2) = av.indivloc2.view();
  v.logk.allocate(Dim(n));
  for (int4 k = 1; k <= n; ++k) v.logk(k) = std::log(static_cast<real8>(k));
  setinitcluster();
  v.selectedfamily.allocate(Dim(n));
  v.crfamilylogl.allocate(Dim(n));
  v.btindivloc.allocate(Dim(n), Dim(3));
  v.btinferparent.allocate(Dim(n), Dim(2));
  av.lastfamilyid = {};
  v.fulllikelihoodmethodq = 0;
  v.quicksearchq = 0;
  v.priortype = 0;
  v.crloglikelihood = -100.0;
  v.btloglikelihood = 1e10;  // no new best: the best copy is not this test's business
  RunState rs;
  rs.cp.moveweight.allocate(Dim(n), Dim(2));
  rs.cp.itr = 1;
  rs.sched.nfaillmt2 = 1e12;
  ASSERT_EQ(testing_support::check_cluster_tables(), "");

  const bool pool = sp.numsex == 1;
  std::uniform_int_distribution<int4> pick(1, n);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::map<int4, int4> kinds;  // moves per destination kind (4: own cluster emptied, 5: equal)
  for (int step = 0; step < 400; ++step) {
    SCOPED_TRACE(step);
    const int4 o = pick(rng);
    const int4 own = v.crindivloc(o, 3);
    // The destination: a family of an offspring j (own cluster or another), or a new one.
    const int4 j = pick(rng);
    int4 d1 = 0, d2 = 0, dest = 0;
    const double w = u(rng);
    if (w < 0.2) {
      d1 = v.crnumfamily(1) + 1;
      d2 = pool ? d1 + 1 : v.crnumfamily(2) + 1;
      dest = 0;
    } else if (w < 0.35 && v.crindivloc(j, 3) == own) {
      // Own cluster with a new parent of one sex.
      d1 = v.crindivloc(j, 1);
      d2 = pool ? v.crnumfamily(1) + 1 : v.crnumfamily(2) + 1;
      dest = own;
    } else {
      d1 = v.crindivloc(j, 1);
      d2 = v.crindivloc(j, 2);
      dest = v.crindivloc(j, 3);
    }
    // Now and then the proposal equal to the current configuration, admitted as such.
    const bool equal = w > 0.9;
    if (equal) {
      d1 = v.crindivloc(o, 1);
      d2 = v.crindivloc(o, 2);
      dest = own;
    } else if (d1 == v.crindivloc(o, 1) && d2 == v.crindivloc(o, 2)) {
      continue;
    }
    std::vector<int4> sibs;
    for (int4 x = 1; x <= n; ++x)
      if (x != o && v.crindivloc(x, 1) == v.crindivloc(o, 1) &&
          v.crindivloc(x, 2) == v.crindivloc(o, 2) && u(rng) < 0.3)
        sibs.push_back(x);
    // The proposed configuration, built explicitly.
    std::vector<int4> pa(static_cast<std::size_t>(n)), pb(static_cast<std::size_t>(n));
    for (int4 i = 1; i <= n; ++i) {
      pa[static_cast<std::size_t>(i - 1)] = v.crindivloc(i, 1);
      pb[static_cast<std::size_t>(i - 1)] = v.crindivloc(i, 2);
    }
    pa[static_cast<std::size_t>(o - 1)] = d1;
    pb[static_cast<std::size_t>(o - 1)] = d2;
    for (int4 s : sibs) {
      pa[static_cast<std::size_t>(s - 1)] = d1;
      pb[static_cast<std::size_t>(s - 1)] = d2;
    }
    testing_support::IndividualMove mv;
    mv.offspring = o;
    mv.sibs = sibs;
    mv.dest1 = d1;
    mv.dest2 = d2;
    mv.destcluster = dest;
    mv.search_rows = true;
    const int4 kind = testing_support::build_individual_move(mv);
    if (kind == 3) av.hostfamily(3) = v.crnumfamily(3) + 1;
    std::set<int4> f1(pa.begin(), pa.end()), f2(pb.begin(), pb.end());
    if (pool) {
      f1.insert(pb.begin(), pb.end());
      f2 = f1;
    }
    rs.choice.movekind = kind;
    rs.choice.owncluster = own;
    rs.choice.ownclustersize = av.clustersizet(own);
    rs.choice.hostclustersize = kind == 2 ? av.clustersizet(dest) : 0;
    rs.proposal.restside = 0;
    rs.proposal.newnumfamily(1) = static_cast<int4>(f1.size());
    rs.proposal.newnumfamily(2) = static_cast<int4>(f2.size());
    av.equalconfig = equal ? 1 : 0;
    familybuild0(own, 1);
    if (kind == 2) familybuild0(dest, 2);
    // The search's shared tallies as other routines leave them: not cleared.
    for (auto* t : {&search_work.count1, &search_work.count2, &search_work.pool,
                    &search_work.newlabel, &search_work.order})
      t->assign(static_cast<std::size_t>(4 * n), 7);

    ASSERT_EQ(decide_move(rs), MoveOutcome::completed);
    ASSERT_EQ(rs.verdict.acceptq, 1);
    if (equal) {
      // One cluster, kept whole under its id.
      EXPECT_EQ(rs.verdict.nclusters, 1);
      EXPECT_EQ(rs.verdict.sideclusters(2), 1);
      ++kinds[5];
    }
    ++kinds[kind];
    if (rs.verdict.ownemptied != 0) ++kinds[4];

    std::vector<int4> ca(static_cast<std::size_t>(n)), cb(static_cast<std::size_t>(n)),
        cc(static_cast<std::size_t>(n));
    for (int4 i = 1; i <= n; ++i) {
      ca[static_cast<std::size_t>(i - 1)] = v.crindivloc(i, 1);
      cb[static_cast<std::size_t>(i - 1)] = v.crindivloc(i, 2);
      cc[static_cast<std::size_t>(i - 1)] = v.crindivloc(i, 3);
    }
    if (pool) {
      // One id space: the pair of columns must map through one bijection.
      std::vector<int4> x(pa), y(ca);
      x.insert(x.end(), pb.begin(), pb.end());
      y.insert(y.end(), cb.begin(), cb.end());
      EXPECT_TRUE(same_grouping(x, y));
    } else {
      EXPECT_TRUE(same_grouping(pa, ca));
      EXPECT_TRUE(same_grouping(pb, cb));
    }
    EXPECT_TRUE(same_grouping(components(pa, pb, pool), cc));
    // Dense ids: families 1..crnumfamily(s), clusters 1..crnumfamily(3).
    std::set<int4> g1(ca.begin(), ca.end()), g2(cb.begin(), cb.end()), g3(cc.begin(), cc.end());
    if (pool) {
      g1.insert(cb.begin(), cb.end());
      g2 = g1;
    }
    EXPECT_EQ(v.crnumfamily(1), static_cast<int4>(g1.size()));
    EXPECT_EQ(*g1.rbegin(), static_cast<int4>(g1.size()));
    EXPECT_EQ(v.crnumfamily(2), static_cast<int4>(g2.size()));
    EXPECT_EQ(*g2.rbegin(), static_cast<int4>(g2.size()));
    EXPECT_EQ(v.crnumfamily(1), rs.proposal.newnumfamily(1));
    EXPECT_EQ(v.crnumfamily(3), static_cast<int4>(g3.size()));
    EXPECT_EQ(*g3.rbegin(), static_cast<int4>(g3.size()));
    EXPECT_EQ(testing_support::check_cluster_tables(), "");
    EXPECT_TRUE(testing_support::scratch_marks_clear());
    // The measures of every cluster against a plain recount.
    std::map<int4, std::vector<int4>> members;
    for (int4 i = 1; i <= n; ++i) members[v.crindivloc(i, 3)].push_back(i);
    for (const auto& [id, list] : members) {
      std::vector<int4> got;
      for (int4 r = 1; r <= 6; ++r) got.push_back(av.clustersize(r, id));
      const int4 gott = av.clustersizet(id);
      count_cluster(list, id);
      for (int4 r = 1; r <= 6; ++r)
        EXPECT_EQ(got[static_cast<std::size_t>(r - 1)], av.clustersize(r, id)) << "cluster " << id;
      EXPECT_EQ(gott, av.clustersizet(id));
    }
    if (HasFailure()) return;
  }
  // Every kind of destination was exercised, and clusters were emptied.
  for (int4 k = 1; k <= 5; ++k) EXPECT_GT(kinds[k], 0) << "kind " << k;
}

// n offspring typed at three error-free codominant loci with alleles 1 and 2 drawn at random:
// two heterozygous parents can have offspring of every genotype, so every configuration has a
// likelihood.
testing_support::ProjectFile random_project(std::mt19937& rng, int n) {
  testing_support::ProjectFile p;
  p.loci = 3;
  p.markertypes = "0 0 0";
  p.droprates = "0 0 0";
  p.otherrates = "0 0 0";
  std::uniform_int_distribution<int> allele(1, 2);
  for (int i = 1; i <= n; ++i) {
    std::string r = "O" + std::to_string(i);
    for (int k = 0; k < 6; ++k) r += " " + std::to_string(allele(rng));
    p.offspring.push_back(r);
  }
  return p;
}

// True when the families of columns a, b join their parents without a cycle (a forest).
bool no_cycle(const std::vector<int4>& a, const std::vector<int4>& b) {
  int4 k = 0;
  for (std::size_t i = 0; i < a.size(); ++i) k = std::max({k, a[i], b[i]});
  UnionFind uf(static_cast<std::size_t>(2 * k + 2));
  std::set<std::pair<int4, int4>> pairs;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!pairs.insert({a[i], b[i]}).second) continue;
    if (uf.find(a[i]) == uf.find(b[i] + k)) return false;
    uf.join(a[i], b[i] + k);
  }
  return true;
}

// Full likelihood (method 1) with the bounds out of play: every accepted move leaves, for every
// cluster id, crfamilylogl equal to updatefamilylogl's value of that cluster of the applied
// configuration, and the cluster tables consistent.
TEST(VerdictFullLikelihood, RebuiltClustersScoreAsARescoringOfTheProposedConfiguration) {
  testing_support::TempWorkDir dir{"verdict_full"};
  std::mt19937 rng(777001);
  const int4 n = 14;
  ASSERT_TRUE(testing_support::prepare(random_project(rng, n)));
  auto& v = variables;
  auto& av = annealvariables;
  v.displayq = 0;
  // A loop-free start: fathers and mothers drawn until the families form a forest.
  std::vector<int4> a(static_cast<std::size_t>(n)), b(static_cast<std::size_t>(n));
  std::uniform_int_distribution<int4> fam(1, 5);
  do {
    for (auto& x : a) x = fam(rng);
    for (auto& x : b) x = fam(rng);
  } while (!no_cycle(a, b));
  {
    std::map<int4, int4> m1, m2;
    for (int4 i = 1; i <= n; ++i) {
      auto& x = a[static_cast<std::size_t>(i - 1)];
      auto& y = b[static_cast<std::size_t>(i - 1)];
      if (!m1.count(x)) m1[x] = static_cast<int4>(m1.size()) + 1;
      if (!m2.count(y)) m2[y] = static_cast<int4>(m2.size()) + 1;
      x = m1[x];
      y = m2[y];
      v.crindivloc(i, 1) = x;
      v.crindivloc(i, 2) = y;
      v.inferparent(i, 1) = v.inferparent(i, 2) = 0;
    }
    v.crnumfamily(1) = static_cast<int4>(m1.size());
    v.crnumfamily(2) = static_cast<int4>(m2.size());
  }
  FStatic<int2, 1, 2> hs{};
  setinitconfiglogl(1, hs);
  testing_support::allocate_move_tables(n);
  av.indivloc12(1) = av.indivloc1.view();
  av.indivloc12(2) = av.indivloc2.view();
  setinitcluster();
  if (!v.selectedfamily.allocated()) v.selectedfamily.allocate(Dim(n));
  av.lastfamilyid = {};
  v.fulllikelihoodmethodq = 1;
  v.quicksearchq = 0;
  v.priortype = 0;
  v.btloglikelihood = 1e300;
  v.crloglikelihood = 0.0;
  for (int4 c = 1; c <= v.crnumfamily(3); ++c) v.crloglikelihood += v.crfamilylogl(c);
  RunState rs;
  rs.cp.moveweight.allocate(Dim(n), Dim(2));
  rs.cp.itr = 1;
  rs.cp.temperature = 1.0;
  rs.drawfloor = 0.001;
  rs.coolfactor = 1.0;
  rs.sched.nfaillmt2 = 1e12;
  std::uniform_int_distribution<int4> pick(1, n);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  int accepted = 0;
  for (int step = 0; step < 150; ++step) {
    SCOPED_TRACE(step);
    const int4 o = pick(rng);
    const int4 own = v.crindivloc(o, 3);
    const int4 j = pick(rng);
    int4 d1 = v.crindivloc(j, 1), d2 = v.crindivloc(j, 2), dest = v.crindivloc(j, 3);
    if (u(rng) < 0.25) {
      d1 = v.crnumfamily(1) + 1;
      d2 = v.crnumfamily(2) + 1;
      dest = 0;
    }
    if (d1 == v.crindivloc(o, 1) && d2 == v.crindivloc(o, 2)) continue;
    std::vector<int4> pa(static_cast<std::size_t>(n)), pb(static_cast<std::size_t>(n));
    for (int4 i = 1; i <= n; ++i) {
      pa[static_cast<std::size_t>(i - 1)] = v.crindivloc(i, 1);
      pb[static_cast<std::size_t>(i - 1)] = v.crindivloc(i, 2);
    }
    pa[static_cast<std::size_t>(o - 1)] = d1;
    pb[static_cast<std::size_t>(o - 1)] = d2;
    if (!no_cycle(pa, pb)) continue;
    testing_support::IndividualMove mv;
    mv.offspring = o;
    mv.dest1 = d1;
    mv.dest2 = d2;
    mv.destcluster = dest;
    mv.search_rows = true;
    const int4 kind = testing_support::build_individual_move(mv);
    if (kind == 3) av.hostfamily(3) = v.crnumfamily(3) + 1;
    std::set<int4> f1(pa.begin(), pa.end()), f2(pb.begin(), pb.end());
    rs.choice.movekind = kind;
    rs.choice.owncluster = own;
    rs.choice.ownclustersize = av.clustersizet(own);
    rs.choice.hostclustersize = kind == 2 ? av.clustersizet(dest) : 0;
    rs.proposal.restside = 0;
    rs.proposal.newnumfamily(1) = static_cast<int4>(f1.size());
    rs.proposal.newnumfamily(2) = static_cast<int4>(f2.size());
    rs.proposal.oldclusterlogl = v.crfamilylogl(own) + (kind == 2 ? v.crfamilylogl(dest) : 0.0);
    // Mostly the bound far below any cluster; now and then far above every cluster, so that
    // the first rebuilt cluster fails it and the proposal is refused.
    const bool refuse = u(rng) < 0.2;
    rs.proposal.newlogprior = rs.cp.oldlogprior + (refuse ? -1e6 : 1e6);
    rs.proposal.newcndlogl = 0.0;
    av.equalconfig = 0;
    familybuild0(own, 1);
    if (kind == 2) familybuild0(dest, 2);
    std::vector<int4> before;
    for (int4 i = 1; i <= n; ++i)
      for (int4 c = 1; c <= 3; ++c) before.push_back(v.crindivloc(i, c));
    const real8 scorebefore = v.crloglikelihood;
    const int8 scored = rs.cp.nfail1;
    try {
      ASSERT_EQ(decide_move(rs), MoveOutcome::completed);
    } catch (const ProgramStop& stop) {
      FAIL() << stop.name() << ": " << v.errmsg(1).trimmed();
    }
    EXPECT_EQ(rs.cp.nfail1, scored + 1);
    if (refuse) {
      // Refused at the first cluster: one cluster built, nothing applied.
      EXPECT_EQ(rs.verdict.acceptq, 0);
      EXPECT_EQ(rs.verdict.nclusters, 1);
      std::vector<int4> after;
      for (int4 i = 1; i <= n; ++i)
        for (int4 c = 1; c <= 3; ++c) after.push_back(v.crindivloc(i, c));
      EXPECT_EQ(before, after);
      EXPECT_EQ(v.crloglikelihood, scorebefore);
      EXPECT_EQ(testing_support::check_cluster_tables(), "");
      if (HasFailure()) return;
      continue;
    }
    ASSERT_EQ(rs.verdict.acceptq, 1);
    ++accepted;
    ASSERT_EQ(testing_support::check_cluster_tables(), "");
    // Every cluster's stored value against a rescoring of the applied configuration.
    const int4 nclust = v.crnumfamily(3);
    std::vector<real8> fresh(static_cast<std::size_t>(nclust));
    {
      WindowScope keep(v.indivlocprt, v.crindivloc.view());
      updatefamilylogl(fresh.data(), nclust);
    }
    for (int4 c = 1; c <= nclust; ++c)
      EXPECT_NEAR(v.crfamilylogl(c), fresh[static_cast<std::size_t>(c - 1)],
                  1e-9 * std::fabs(fresh[static_cast<std::size_t>(c - 1)]))
          << "cluster " << c;
    // The incremental score: the sum of the clusters plus the prior.
    real8 total = 0.0;
    for (real8 x : fresh) total += x;
    EXPECT_NEAR(v.crloglikelihood - rs.cp.oldlogprior, total, 1e-6);
    if (HasFailure()) return;
  }
  EXPECT_GT(accepted, 50);
}

// A full-likelihood sample of random offspring in the configuration of paternal families
// `fathers` and maternal families `mothers` (ids 1, 2, ... in each sex), scored and clustered.
void fixed_sample(RunState& rs, const std::vector<int4>& fathers,
                  const std::vector<int4>& mothers) {
  std::mt19937 rng(99);
  const auto n = static_cast<int4>(fathers.size());
  ASSERT_TRUE(testing_support::prepare(random_project(rng, n)));
  auto& v = variables;
  auto& av = annealvariables;
  v.displayq = 0;
  for (int4 i = 1; i <= n; ++i) {
    v.crindivloc(i, 1) = fathers[static_cast<std::size_t>(i - 1)];
    v.crindivloc(i, 2) = mothers[static_cast<std::size_t>(i - 1)];
    v.inferparent(i, 1) = v.inferparent(i, 2) = 0;
  }
  v.crnumfamily(1) = *std::max_element(fathers.begin(), fathers.end());
  v.crnumfamily(2) = *std::max_element(mothers.begin(), mothers.end());
  FStatic<int2, 1, 2> hs{};
  setinitconfiglogl(1, hs);
  testing_support::allocate_move_tables(n);
  av.indivloc12(1) = av.indivloc1.view();
  av.indivloc12(2) = av.indivloc2.view();
  setinitcluster();
  if (!v.selectedfamily.allocated()) v.selectedfamily.allocate(Dim(n));
  av.lastfamilyid = {};
  v.fulllikelihoodmethodq = 1;
  v.quicksearchq = 0;
  v.priortype = 0;
  v.btloglikelihood = 1e300;
  v.crloglikelihood = 0.0;
  for (int4 c = 1; c <= v.crnumfamily(3); ++c) v.crloglikelihood += v.crfamilylogl(c);
  rs.cp.moveweight.allocate(Dim(n), Dim(2));
  rs.cp.itr = 1;
  rs.cp.temperature = 1.0;
  rs.drawfloor = 0.001;
  rs.sched.nfaillmt2 = 1e12;
  v.idum3 = -4321;
}

// 12 offspring in which offspring 1 is a cluster of its own (1, 1); the others in families
// (2..4, 2..4) along a chain.
void singleton_sample(RunState& rs) {
  std::vector<int4> f;
  for (int4 i = 1; i <= 12; ++i) f.push_back(i == 1 ? 1 : 2 + (i % 3));
  fixed_sample(rs, f, f);
}

// A tie (the proposal scores as the current configuration) is accepted with chance coolfactor
// for an individual move and rate for a family move. Each verdict is replayed from a copy of
// the search stream: u redrawn until above drawfloor, then the tie draw r, refused when
// r > the factor; the stream must stand where the replay leaves it.
TEST(VerdictFullLikelihood, TiesAreAcceptedWithTheCoolingFactorOrTheRate) {
  testing_support::TempWorkDir dir{"verdict_ties"};
  RunState rs;
  singleton_sample(rs);
  if (HasFatalFailure()) return;
  auto& v = variables;
  auto& av = annealvariables;
  rs.coolfactor = 0.3;
  av.rate = 0.6;
  const int trials = 4000;
  for (int family = 0; family <= 1; ++family) {
    SCOPED_TRACE(family ? "family move" : "individual move");
    int accepted = 0;
    for (int t = 0; t < trials; ++t) {
      // The singleton offspring: to a new cluster of new parents (individual move), or its
      // family moved without any change of parent (family move).
      const int4 own = v.crindivloc(1, 3);
      if (family == 0) {
        testing_support::IndividualMove mv;
        mv.offspring = 1;
        mv.dest1 = v.crnumfamily(1) + 1;
        mv.dest2 = v.crnumfamily(2) + 1;
        mv.destcluster = 0;
        mv.search_rows = true;
        testing_support::build_individual_move(mv);
        av.hostfamily(3) = v.crnumfamily(3) + 1;
        rs.choice.movekind = 3;
      } else {
        testing_support::build_family_move(1, v.crindivloc(1, 1), v.crindivloc(1, 2));
        rs.choice.movekind = 0;
      }
      rs.choice.owncluster = own;
      rs.choice.ownclustersize = av.clustersizet(own);
      rs.choice.hostclustersize = 0;
      rs.proposal.restside = 0;
      rs.proposal.newnumfamily(1) = v.crnumfamily(1);
      rs.proposal.newnumfamily(2) = v.crnumfamily(2);
      rs.proposal.oldclusterlogl = v.crfamilylogl(own);
      rs.proposal.newlogprior = rs.cp.oldlogprior;
      rs.proposal.newcndlogl = rs.cp.oldcndlogl;
      av.equalconfig = 0;
      familybuild0(own, 1);
      const Ran2State before = Ran2State::save();
      decide_move(rs);
      const Ran2State after = Ran2State::save();
      // The replay.
      before.restore();
      real8 u = ran2();
      while (!(u > rs.drawfloor)) u = ran2();
      const real8 r = ran2();
      const int4 want = r > (family ? av.rate : rs.coolfactor) ? 0 : 1;
      ASSERT_EQ(rs.verdict.acceptq, want) << "trial " << t;
      const real8 next = ran2();
      after.restore();
      ASSERT_EQ(ran2(), next) << "trial " << t << ": the verdict drew another number of times";
      accepted += want;
    }
    // Binomial within 4 standard deviations of trials x factor.
    const double p = family ? av.rate : rs.coolfactor;
    EXPECT_NEAR(accepted, trials * p, 4.0 * std::sqrt(trials * p * (1.0 - p)));
    EXPECT_EQ(testing_support::check_cluster_tables(), "");
  }
}

// One parent pool with selfing: an offspring counts in the families of both its parents, a
// selfed one twice in its one family, so a family can outgrow the rows a move holds. Offspring
// 1 (1,1) and 4 (1,3) form one cluster, 2 and 3, both (2,2), another. Sizes by hand: family 1
// has 3 (offspring 1 twice, 4 once), family 2 has 4, family 3 has 1. Offspring 1 moves alone to
// (2,2): family 1 keeps 1, family 2 grows to 6, family 3 keeps 1, with four rows in the move.
// The largest sibship size in use after the move is 6, and the distribution {1: 2, 6: 1}.
TEST(VerdictApplyPrior, LargestSibshipSizeFollowsAPoolFamilyGrownPastTheRows) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = 4;
  setup_sample({n, 1, 0, 0, 0, 0});
  v.allowinbreeding = 1;
  set_configuration({1, 2, 2, 1}, {1, 2, 2, 3});
  v.crnumfamily(1) = v.crnumfamily(2) = 3;
  testing_support::allocate_move_tables(n);
  av.indivloc12(1) = av.indivloc1.view();
  av.indivloc12(2) = av.indivloc2.view();
  v.logk.allocate(Dim(n));
  for (int4 k = 1; k <= n; ++k) v.logk(k) = std::log(static_cast<real8>(k));
  setinitcluster();
  v.selectedfamily.allocate(Dim(n));
  v.crfamilylogl.allocate(Dim(n));
  v.btindivloc.allocate(Dim(n), Dim(3));
  v.btinferparent.allocate(Dim(n), Dim(2));
  av.lastfamilyid = {};
  v.fulllikelihoodmethodq = 0;
  v.quicksearchq = 0;
  v.priortype = 1;
  v.sibshipsizedist.allocate(Dim(0, 2 * n), Dim(1));
  v.sibsize.allocate(Dim(2), Dim(2 * n), Dim(1));
  v.sibshipsizedist(1, 1) = 1;
  v.sibshipsizedist(3, 1) = 1;
  v.sibshipsizedist(4, 1) = 1;
  v.crloglikelihood = -100.0;
  v.btloglikelihood = 1e10;
  RunState rs;
  rs.cp.moveweight.allocate(Dim(n), Dim(2));
  rs.cp.itr = 1;
  rs.sched.nfaillmt2 = 1e12;
  rs.cp.numsizeclass(1) = 4;
  rs.cp.curnumselfer = 3;
  const int4 own = v.crindivloc(1, 3), dest = v.crindivloc(2, 3);
  ASSERT_NE(own, dest);

  testing_support::IndividualMove mv;
  mv.offspring = 1;
  mv.dest1 = 2;
  mv.dest2 = 2;
  mv.destcluster = dest;
  mv.search_rows = true;
  const int4 kind = testing_support::build_individual_move(mv);
  ASSERT_EQ(kind, 2);
  rs.choice.movekind = kind;
  rs.choice.owncluster = own;
  rs.choice.ownclustersize = av.clustersizet(own);
  rs.choice.hostclustersize = av.clustersizet(dest);
  rs.proposal.restside = 0;
  rs.proposal.newnumfamily(1) = rs.proposal.newnumfamily(2) = 3;
  av.equalconfig = 0;
  familybuild0(own, 1);
  familybuild0(dest, 2);
  Proposal& pr = rs.proposal;
  pr.maxsize(1) = rs.cp.numsizeclass(1);
  FStatic<int4, 1, 2> sizes{};
  sizes(1) = rs.choice.ownclustersize;
  sizes(2) = rs.choice.hostclustersize;
  newsibdist(pr.nchange, pr.maxsize, kind, sizes);

  ASSERT_EQ(decide_move(rs), MoveOutcome::completed);
  ASSERT_EQ(rs.verdict.acceptq, 1);
  EXPECT_EQ(rs.cp.numsizeclass(1), 6);
  for (int4 z = 0; z <= 2 * n; ++z)
    EXPECT_EQ(v.sibshipsizedist(z, 1), z == 1 ? 2 : z == 6 ? 1 : 0) << "size " << z;
  EXPECT_EQ(rs.cp.curnumselfer, 3);
  EXPECT_EQ(v.crindivloc(1, 1), v.crindivloc(2, 1));
  EXPECT_EQ(v.crindivloc(1, 2), v.crindivloc(2, 2));
}

// The falling bound under the full likelihood. A chain cluster of five offspring, fathers
// 1 1 2 2 3 and mothers 1 2 2 3 3, loses its middle offspring (father 2, mother 2) to a new
// cluster of new parents: the proposal creates three clusters, {3} on the destination side and
// {1, 2}, {4, 5} on the side of what remains. A scripted cluster scorer records the bound of
// each call and returns the bound plus the case's margin: the first cluster whose value is at
// or below its bound (margin <= 0) refuses the proposal, and no further cluster is built or
// scored. Expected bounds: the first is the acceptance bound of the test, the current value of
// the cluster plus log(u) x temperature (priors and candidate terms unchanged, no known
// sibships), u replayed from a copy of the search stream (drawn until above drawfloor); each
// next one is the previous bound less the previous cluster's value. (Margins that do not rise
// from call to call keep every scripted value but the first at or below 0.)
TEST(VerdictFullLikelihood, AClusterAtOrBelowItsFallingBoundStopsTheProposal) {
  testing_support::TempWorkDir dir{"verdict_bounds"};
  RunState rs;
  fixed_sample(rs, {1, 1, 2, 2, 3, 4, 4, 5}, {1, 2, 2, 3, 3, 4, 4, 5});
  if (HasFatalFailure()) return;
  auto& v = variables;
  auto& av = annealvariables;
  rs.cp.temperature = 3.0;
  rs.coolfactor = 1.0;
  struct Case {
    const char* name;
    std::vector<real8> margins;  // per call
    int calls;
    int4 acceptq;
  };
  const std::vector<Case> cases = {{"all three pass", {2.0, 1.0, 0.5}, 3, 1},
                                   {"the first fails below", {-2.0, 1.0, 1.0}, 1, 0},
                                   {"the first ties its bound", {0.0, 1.0, 1.0}, 1, 0},
                                   {"the second fails", {1.0, -0.5, 1.0}, 2, 0},
                                   {"the last ties its bound", {1.0, 1.0, 0.0}, 3, 0}};
  struct Call {
    real8 bound;
    int4 side, size;
    real8 logl;
  };
  std::vector<Call> calls;
  const Case* now = nullptr;
  search_seams = SearchSeams{};
  search_seams.cluster_logl = [&](real8& logl, real8 bound, int4 side, int4 size) {
    const std::size_t k = calls.size();
    logl = bound + (k < now->margins.size() ? now->margins[k] : 1.0);
    calls.push_back({bound, side, size, logl});
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    now = &c;
    calls.clear();
    const int4 own = v.crindivloc(3, 3);
    testing_support::IndividualMove mv;
    mv.offspring = 3;
    mv.dest1 = v.crnumfamily(1) + 1;
    mv.dest2 = v.crnumfamily(2) + 1;
    mv.destcluster = 0;
    mv.search_rows = true;
    ASSERT_EQ(testing_support::build_individual_move(mv), 3);
    av.hostfamily(3) = v.crnumfamily(3) + 1;
    rs.choice.movekind = 3;
    rs.choice.owncluster = own;
    rs.choice.ownclustersize = av.clustersizet(own);
    rs.choice.hostclustersize = 0;
    rs.proposal.restside = 0;
    rs.proposal.newnumfamily(1) = v.crnumfamily(1) + 1;
    rs.proposal.newnumfamily(2) = v.crnumfamily(2) + 1;
    rs.proposal.oldclusterlogl = v.crfamilylogl(own);
    rs.proposal.newlogprior = rs.cp.oldlogprior;
    rs.proposal.newcndlogl = rs.cp.oldcndlogl;
    av.equalconfig = 0;
    familybuild0(own, 1);
    const Ran2State before = Ran2State::save();
    score_proposal(rs);
    const Ran2State after = Ran2State::save();
    undo_proposal(rs);
    // The replay of the random term.
    before.restore();
    real8 u = ran2();
    while (!(u > rs.drawfloor)) u = ran2();
    const real8 next = ran2();
    after.restore();
    ASSERT_EQ(ran2(), next) << "the verdict drew another number of times";
    real8 bound = rs.proposal.oldclusterlogl + std::log(u) * rs.cp.temperature;
    ASSERT_EQ(static_cast<int>(calls.size()), c.calls);
    EXPECT_EQ(rs.verdict.nclusters, c.calls) << "clusters built";
    EXPECT_EQ(rs.verdict.acceptq, c.acceptq);
    for (std::size_t k = 0; k < calls.size(); ++k) {
      EXPECT_NEAR(calls[k].bound, bound, 1e-9 * std::fabs(bound)) << "call " << k;
      bound -= calls[k].logl;
    }
    // Destination side first (one new cluster of offspring 3), then two clusters of two.
    const std::vector<std::pair<int4, int4>> shape = {{2, 1}, {1, 2}, {1, 2}};
    for (std::size_t k = 0; k < calls.size(); ++k)
      EXPECT_EQ(std::make_pair(calls[k].side, calls[k].size), shape[k]) << "call " << k;
    EXPECT_EQ(testing_support::check_cluster_tables(), "");
  }
  search_seams = SearchSeams{};
}

// The full-likelihood verdicts of a real run replayed (slow: a whole preparation of the
// example and 2000 iterations). The shipped example project (60
// offspring, 10 loci, 8 candidates of each sex; its known sibships left out, allele frequencies
// not updated) is searched under method 1; for every proposal the scoring reaches, the inputs
// of the acceptance test are recorded (the priors, the candidate terms and the current value of
// the touched clusters, the temperature, drawfloor, coolfactor, rate, the value of each cluster
// the scorer builds, in order, or the family move's new value and known-sibship count; the
// known-sibship entries of an individual move, which known parents create, are counted from its
// rows), and a plain replay of the test
// decides the proposal from a copy of the search stream: the random term drawn until above
// drawfloor, the bound falling by each cluster's value, a cluster at or below its bound ending
// the proposal (so that the code must have scored exactly the clusters up to it), the tie draw
// against coolfactor (individual moves) or rate (family moves). Same verdict, same number of
// draws. Proposals that go through the screens of large clusters (their own draw and bound)
// and proposals found equal to the current configuration are not replayed.
TEST(VerdictReplaySlow, FullLikelihoodVerdictsOfARealRunReplayFromTheStream) {
  testing_support::TempWorkDir dir{"verdict_replay"};
  {
    std::istringstream in(
        testing_support::read_text(std::string(KINRAD_TESTS_DIR) + "/../examples/kinrad2.dat"));
    std::string out;
    int k = 0;
    for (std::string line; std::getline(in, line);) {
      ++k;
      if (k == 6 || k == 20) line = k == 6 ? "0" : "1";
      if (line.find("! Known paternal sibships") != std::string::npos ||
          line.find("! Known maternal sibships") != std::string::npos) {
        out += "0\n";
        std::getline(in, line);
        ++k;
        continue;
      }
      out += line + "\n";
    }
    testing_support::write_text("kinrad2.dat", out);
  }
  struct Call {
    real8 bound, logl;
  };
  std::vector<Call> calls;
  int replayed[3] = {0, 0, 0};  // individual, family, accepted
  int skipped = 0;
  // What the replay found, reported after the run (the run's screen output is captured).
  std::vector<std::string> problems;
  const auto check = [&](bool ok, const std::string& what) {
    if (!ok && problems.size() < 20) problems.push_back(what);
  };
  search_seams = SearchSeams{};
  search_seams.cluster_logl = [&](real8& logl, real8 bound, int4 side, int4 size) {
    familylikelihood(logl, bound, side - 1, 0, size);
    calls.push_back({bound, logl});
  };
  const int8 limit = 2000;
  search_seams.body = [&](RunState& rs) {
    auto& v = variables;
    auto& av = annealvariables;
    if (rs.cp.numiterate > limit) return MoveOutcome::end_run;
    if (!choose_move(rs)) return MoveOutcome::refused;
    if (!build_proposal(rs)) return MoveOutcome::refused;
    // The inputs of the test.
    const int4 kind = av.movingtype;
    const real8 oldprior = rs.cp.oldlogprior, newprior = rs.proposal.newlogprior;
    const real8 oldcnd = rs.cp.oldcndlogl, newcnd = rs.proposal.newcndlogl;
    const real8 oldclust = rs.proposal.oldclusterlogl;
    const real8 temp = rs.cp.temperature, floor = rs.drawfloor, cool = rs.coolfactor;
    const real8 rate = av.rate;
    const bool equal = av.equalconfig == 1;
    const auto product = [](int4 a, int4 b) { return std::min(a, b) > 1 ? a * b : 0; };
    int4 kk = product(av.nparent1(1), av.nparent1(2));
    if (rs.choice.hostclustersize > 0) kk = std::max(kk, product(av.nparent2(1), av.nparent2(2)));
    const int4 m = kind == 1 ? av.numindiv(1) + av.numindiv(2) : 0;
    const bool screened = !equal && v.anymonogamy == 0 && (3 - v.numsex) * kk > 30 &&
                          2 * m < rs.choice.ownclustersize + rs.choice.hostclustersize;
    calls.clear();
    const Ran2State before = Ran2State::save();
    score_proposal(rs);
    const Ran2State after = Ran2State::save();
    if (screened || equal || (kind != 1 && kind != 2)) {
      ++skipped;
    } else {
      before.restore();
      real8 u = ran2();
      while (!(u > floor)) u = ran2();
      // Known-sibship entries among the rows of the move (individual move: counted here over
      // the rows the scoring completed; family move: the count the scoring made is an input).
      real8 known = 0.0;
      real8 size = rs.choice.ownclustersize;
      if (kind == 1) {
        size = av.numindiv(1) + av.numindiv(2);
        for (int4 side = 1; side <= 2; ++side)
          for (int4 r = 1; r <= av.numindiv(side); ++r)
            for (int4 sex = 1; sex <= 2; ++sex)
              if (v.anyknownsibshipq(sex) != 0 &&
                  v.knownsibship(av.indivloc12(side)(r, 4), sex) != 0)
                known += 1.0;
      } else {
        known = rs.verdict.knownsibcount;
      }
      const real8 drawlogu = std::log(u) * temp * (1.0 - 0.5 * rate * known / size);
      real8 bound = (oldprior - newprior) + (oldcnd - newcnd) + oldclust + drawlogu;
      int4 accept = 1;
      if (kind == 1) {
        std::size_t used = 0;
        for (const Call& c : calls) {
          ++used;
          check(std::fabs(c.bound - bound) <= 1e-9 * std::fabs(bound) + 1e-9,
                "iteration " + std::to_string(rs.cp.numiterate) + ": bound " +
                    std::to_string(c.bound) + ", replayed " + std::to_string(bound));
          if (bound >= c.logl) {
            accept = 0;
            break;
          }
          bound -= c.logl;
        }
        check(used == calls.size() && used > 0, "iteration " + std::to_string(rs.cp.numiterate) +
                                                    ": " + std::to_string(calls.size()) +
                                                    " clusters scored, the replay used " +
                                                    std::to_string(used));
        if (accept == 1 && std::fabs(bound - drawlogu) < 1e-6 && ran2() > cool) accept = 0;
      } else {
        const real8 logl = rs.verdict.familylogl;
        if (bound >= logl) accept = 0;
        if (accept == 1 &&
            std::fabs((newprior + newcnd + logl) - (oldprior + oldcnd + oldclust)) < 1e-6 &&
            ran2() > rate)
          accept = 0;
      }
      check(rs.verdict.acceptq == accept, "iteration " + std::to_string(rs.cp.numiterate) +
                                              ": verdict " + std::to_string(rs.verdict.acceptq) +
                                              ", replayed " + std::to_string(accept));
      const real8 next = ran2();
      after.restore();
      check(ran2() == next, "iteration " + std::to_string(rs.cp.numiterate) +
                                ": the verdict drew another number of times");
      after.restore();
      ++replayed[kind - 1];
      replayed[2] += accept;
    }
    // The rest of the verdict stage as the program runs it.
    if (rs.verdict.acceptq != 1) {
      undo_proposal(rs);
      return MoveOutcome::completed;
    }
    commit_proposal(rs);
    return apply_accepted(rs) ? MoveOutcome::end_run : MoveOutcome::completed;
  };
  const testing_support::StageOutcome o =
      testing_support::run_one_search({"VER:0", "RND:97531", "ARC:0"});
  search_seams = SearchSeams{};
  ASSERT_FALSE(o.stopped) << o.errorfile;
  for (const std::string& p : problems) ADD_FAILURE() << p;
  // Both kinds of move replayed in numbers, some accepted, some refused.
  EXPECT_GT(replayed[0], 500);
  EXPECT_GT(replayed[1], 20);
  EXPECT_GT(replayed[2], 20);
  EXPECT_LT(replayed[2], replayed[0] + replayed[1]);
  RecordProperty("skipped", skipped);
}

INSTANTIATE_TEST_SUITE_P(Species, VerdictApply,
                         ::testing::Values(Species{"two_sexes", 2, 5, 6},
                                           Species{"one_pool", 1, 7, 7}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace kinrad::test
