// The pairwise method's verdicts on random individual moves written by the pair-score test
// fixture (which also builds the proposed configuration explicitly): each verdict is replayed
// from a copy of the search stream against the change of calculatecrrtpairlogl between the
// explicit proposed and current configurations, and every accepted move leaves the score equal
// to a fresh pairwise score, the proposed partition and consistent cluster tables.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "configuration/configuration.hpp"
#include "configuration/pair_score_fixture.hpp"
#include "core/random_numbers.hpp"
#include "search/move_stages.hpp"
#include "search/search_internal.hpp"
#include "support/cluster_consistency.hpp"

namespace kinrad::test {
namespace {

struct StreamCopy {
  int4 idum2, idumiy, idum3;
  decltype(variables.idumiv) iv;
  static StreamCopy save() {
    const auto& v = variables;
    return {v.idum2, v.idumiy, v.idum3, v.idumiv};
  }
  void restore() const {
    auto& v = variables;
    v.idum2 = idum2;
    v.idumiy = idumiy;
    v.idum3 = idum3;
    v.idumiv = iv;
  }
};

// Family ids of the configuration renumbered densely (per sex, one space for one pool).
void make_dense() {
  auto& v = variables;
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
  if (v.numsex == 1) v.crnumfamily(1) = v.crnumfamily(2) = static_cast<int4>(m1.size());
}

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

class PairwiseVerdict : public ::testing::TestWithParam<Species> {};

TEST_P(PairwiseVerdict, VerdictsReplayAndAcceptedMovesKeepTheScoreExact) {
  const Species sp = GetParam();
  std::mt19937 rng(8080 + static_cast<unsigned>(sp.numsex));
  const int4 n = 20;
  setup_species(sp, n, 0, 0);
  fill_tables(rng);
  auto& v = variables;
  auto& av = annealvariables;
  random_configuration(rng, 5, 5, sp.selfing == 1 ? 0.2 : 0.0);
  make_dense();
  for (int4 i = 1; i <= n; ++i) v.inferparent(i, 1) = v.inferparent(i, 2) = 0;
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
  v.quicksearchq = 1;
  v.fulllikelihoodmethodq = 0;
  v.priortype = 0;
  v.idum3 = -777;
  {
    WindowScope keep1(v.indivlocprt, v.crindivloc.view());
    WindowScope keep2(v.inferparentprt, v.inferparent.view());
    calculatecrrtpairlogl(v.crloglikelihood);
  }
  v.btloglikelihood = 1e300;
  RunState rs;
  rs.cp.moveweight.allocate(Dim(n), Dim(2));
  rs.cp.itr = 1;
  rs.cp.temperature = 2.0;
  rs.coolfactor = 0.5;
  rs.sched.nfaillmt2 = 1e12;
  const bool pool = v.numsex == 1;
  int accepted = 0, refused = 0;
  for (int step = 0; step < 300; ++step) {
    SCOPED_TRACE(step);
    Proposal pr;
    random_individual_move(rng, pr, 0.0);
    if (pr.kind == 2 && av.numindivlocidx(2) == 0) continue;
    const int4 o = av.moveindiv;
    const int4 own = v.crindivloc(o, 3);
    av.hostfamily(1) = pr.loc(o, 1);
    av.hostfamily(2) = pr.loc(o, 2);
    int4 dest = own;
    if (pr.kind == 2) dest = v.crindivloc(av.indivloc2(av.indivlocidx(1, 2), 4), 3);
    if (pr.kind == 3) dest = v.crnumfamily(3) + 1;
    av.hostfamily(3) = dest;
    std::set<int4> f1, f2;
    for (int4 i = 1; i <= n; ++i) {
      f1.insert(pr.loc(i, 1));
      (pool ? f1 : f2).insert(pr.loc(i, 2));
    }
    if (pool) f2 = f1;
    rs.choice.movekind = pr.kind;
    rs.choice.owncluster = own;
    rs.choice.ownclustersize = av.clustersizet(own);
    rs.choice.hostclustersize = pr.kind == 2 ? av.clustersizet(dest) : 0;
    rs.proposal.restside = 0;
    rs.proposal.newnumfamily(1) = static_cast<int4>(f1.size());
    rs.proposal.newnumfamily(2) = static_cast<int4>(f2.size());
    rs.proposal.newlogprior = 0.0;
    av.equalconfig = 0;
    familybuild0(own, 1);
    if (pr.kind == 2) familybuild0(dest, 2);
    // The change of the pairwise score, from the two configurations in full.
    FArray<int4, 2> cur(Dim(n), Dim(3));
    for (int4 i = 1; i <= n; ++i)
      for (int4 c = 1; c <= 3; ++c) cur(i, c) = v.crindivloc(i, c);
    real8 x = 0.0;
    {
      WindowScope keep1(v.indivlocprt);
      WindowScope keep2(v.inferparentprt);
      x = crrt_of(pr.loc, pr.parent) - crrt_of(cur, pr.parent);
    }
    const StreamCopy before = StreamCopy::save();
    ASSERT_EQ(decide_move(rs), MoveOutcome::completed);
    const StreamCopy after = StreamCopy::save();
    // The replay: the floor, the random term at the temperature, the tie draw.
    before.restore();
    std::set<int4> c1, c2;
    for (int4 i = 1; i <= n; ++i) {
      c1.insert(cur(i, 1));
      (pool ? c1 : c2).insert(cur(i, 2));
    }
    if (pool) c2 = c1;
    const real8 f = static_cast<int4>(c1.size() + c2.size()) >
                            rs.proposal.newnumfamily(1) + rs.proposal.newnumfamily(2)
                        ? 0.05
                        : 0.0;
    real8 u = ran2();
    while (!(u > f)) u = ran2();
    const real8 c = std::log(u) * rs.cp.temperature;
    int4 want = c > x ? 0 : 1;
    if (want == 1 && std::fabs(x) < 1e-6 && ran2() > rs.coolfactor) want = 0;
    ASSERT_EQ(rs.verdict.acceptq, want) << "x " << x << " c " << c;
    const real8 next = ran2();
    after.restore();
    ASSERT_EQ(ran2(), next) << "the verdict drew another number of times";
    after.restore();
    if (want == 0) {
      ++refused;
      continue;
    }
    ++accepted;
    real8 fresh = 0.0;
    {
      WindowScope keep1(v.indivlocprt, v.crindivloc.view());
      WindowScope keep2(v.inferparentprt, v.inferparent.view());
      calculatecrrtpairlogl(fresh);
    }
    EXPECT_NEAR(v.crloglikelihood, fresh, 1e-6 * std::max(1.0, std::fabs(fresh)));
    std::vector<int4> pa, ca, pb, cb, pc, cc;
    for (int4 i = 1; i <= n; ++i) {
      pa.push_back(pr.loc(i, 1));
      pb.push_back(pr.loc(i, 2));
      pc.push_back(pr.loc(i, 3));
      ca.push_back(v.crindivloc(i, 1));
      cb.push_back(v.crindivloc(i, 2));
      cc.push_back(v.crindivloc(i, 3));
    }
    if (pool) {
      pa.insert(pa.end(), pb.begin(), pb.end());
      ca.insert(ca.end(), cb.begin(), cb.end());
      EXPECT_TRUE(same_grouping(pa, ca));
    } else {
      EXPECT_TRUE(same_grouping(pa, ca));
      EXPECT_TRUE(same_grouping(pb, cb));
    }
    EXPECT_TRUE(same_grouping(pc, cc));
    EXPECT_EQ(testing_support::check_cluster_tables(), "");
    if (HasFailure()) return;
  }
  EXPECT_GT(accepted, 20);
  EXPECT_GT(refused, 20);
}

INSTANTIATE_TEST_SUITE_P(Species, PairwiseVerdict,
                         ::testing::Values(Species{"two_sexes", 2, 0, 0, 0, 0},
                                           Species{"one_pool_selfing", 1, 1, 0, 0, 0}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace kinrad::test
