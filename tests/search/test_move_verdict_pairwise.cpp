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
#include "support/ran2_state.hpp"

namespace kinrad::test {
namespace {

using testing_support::Ran2State;

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

// Side 1 of cluster `id` as the move code reads it, against the configuration: every family a
// run of members ascending that share one parent pair, no two families one pair, and together
// the cluster's members. The build may copy back a grouping it kept from an earlier build, so
// this is asked after accepted moves changed the cluster tables.
std::string side1_against_configuration(int4 id) {
  const auto& v = variables;
  const auto& av = annealvariables;
  std::set<int4> want, got;
  for (int4 i = 1; i <= v.smplsize; ++i)
    if (v.crindivloc(i, 3) == id) want.insert(i);
  std::set<std::pair<int4, int4>> pairs;
  for (int4 f = 1; f <= av.numberfsfamily1; ++f) {
    const int4 at = av.sibloc1(f), size = av.numfamilymember1(f);
    if (size < 1) return "family " + std::to_string(f) + " is empty";
    const int4 first = av.familymember1(at + 1);
    const std::pair<int4, int4> pp{v.crindivloc(first, 1), v.crindivloc(first, 2)};
    if (!pairs.insert(pp).second) return "two families share a parent pair";
    for (int4 t = 1; t <= size; ++t) {
      const int4 o = av.familymember1(at + t);
      if (t > 1 && o <= av.familymember1(at + t - 1)) return "members not ascending";
      if (v.crindivloc(o, 1) != pp.first || v.crindivloc(o, 2) != pp.second)
        return "offspring " + std::to_string(o) + " in another family";
      got.insert(o);
    }
  }
  return got == want ? "" : "the members are not the cluster's";
}

// A pairwise-method sample of 20 offspring with random dyad tables, a dense random
// configuration and its cluster tables; the run state for the verdicts.
void pairwise_sample(const Species& sp, std::mt19937& rng, RunState& rs) {
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
  v.chkidx1 = 1;
  v.chkidx2 = 2;
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
  rs.cp.moveweight.allocate(Dim(n), Dim(2));
  rs.cp.itr = 1;
  rs.cp.temperature = 2.0;
  rs.coolfactor = 0.5;
  rs.sched.nfaillmt2 = 1e12;
}

// The choice and proposal fields of a random individual move written by the fixture; false
// when the fixture's move has no usable destination.
bool hand_over(Proposal& pr, RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  const bool pool = v.numsex == 1;
  if (pr.kind == 2 && av.numindivlocidx(2) == 0) return false;
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
  return true;
}

class PairwiseVerdict : public ::testing::TestWithParam<Species> {};

TEST_P(PairwiseVerdict, VerdictsReplayAndAcceptedMovesKeepTheScoreExact) {
  const Species sp = GetParam();
  std::mt19937 rng(8080 + static_cast<unsigned>(sp.numsex));
  const int4 n = 20;
  RunState rs;
  pairwise_sample(sp, rng, rs);
  auto& v = variables;
  const bool pool = v.numsex == 1;
  int accepted = 0, refused = 0;
  for (int step = 0; step < 300; ++step) {
    SCOPED_TRACE(step);
    Proposal pr;
    random_individual_move(rng, pr, 0.0);
    if (!hand_over(pr, rs)) continue;
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
    const Ran2State before = Ran2State::save();
    ASSERT_EQ(decide_move(rs), MoveOutcome::completed);
    const Ran2State after = Ran2State::save();
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
    for (int4 id = 1; id <= v.crnumfamily(3); ++id) {
      annealvariables.lastfamilyid = {};
      familybuild0(id, 1);
      EXPECT_EQ(side1_against_configuration(id), "") << "cluster " << id;
    }
    annealvariables.lastfamilyid = {};
    if (HasFailure()) return;
  }
  EXPECT_GT(accepted, 20);
  EXPECT_GT(refused, 20);
}

// The archive's records, head first.
int4 archive_count() {
  int4 k = 0;
  for (const Config* r = variables.confighead; r != nullptr; r = r->next) ++k;
  return k;
}

// The best copy and the archive through accepted moves, against a model kept in the test:
// before the last round only new overall bests enter the archive; in the last round (with the
// archive on) every accepted configuration is in the archive afterwards (offered again, it is
// refused as a duplicate); a new best equal to the previous best only raises maxsamegain; the
// first new best with a new configuration sets rate to 1; the archive head decodes to the best
// copy when this run holds the overall best.
TEST(PairwiseVerdictBest, BestCopyAndArchiveFollowTheAcceptedMoves) {
  std::mt19937 rng(4242);
  RunState rs;
  pairwise_sample(Species{"two_sexes", 2, 0, 0, 0, 0}, rng, rs);
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  archiveconfigremoveall();
  v.btloglikelihood = v.crloglikelihood;
  v.bestlogl = v.crloglikelihood;
  v.minloglikelihood = v.bestlogl - 10.0;
  for (int4 i = 1; i <= n; ++i)
    for (int4 c = 1; c <= 3; ++c) v.btindivloc(i, c) = v.crindivloc(i, c);
  v.btnumfamily = v.crnumfamily;
  rs.cp.temperature = 3.0;
  av.rate = 0.4;
  int newbests = 0, samebests = 0, overall = 0, lastround = 0;
  for (int step = 0; step < 600; ++step) {
    SCOPED_TRACE(step);
    rs.iround = step < 300 ? 4 : 5;
    rs.archiveon() = rs.iround == 5 ? 1 : 0;
    Proposal pr;
    random_individual_move(rng, pr, 0.0);
    if (!hand_over(pr, rs)) continue;
    std::vector<int4> best_before;
    for (int4 i = 1; i <= n; ++i)
      for (int4 c = 1; c <= 3; ++c) best_before.push_back(v.btindivloc(i, c));
    const real8 bt = v.btloglikelihood;
    const real8 bestlogl = v.bestlogl;
    const int4 count = archive_count();
    const int8 nb = rs.cp.newbestcount;
    const real8 same = rs.maxsamegain;
    decide_move(rs);
    if (rs.verdict.acceptq != 1) continue;
    const real8 cr = v.crloglikelihood;
    if (cr > bt + 1e-8) {
      EXPECT_EQ(v.btloglikelihood, cr);
      // Whether the new best is the previous best's configuration, by partition.
      std::vector<int4> a1, a2, a3, b1, b2, b3;
      for (int4 i = 1; i <= n; ++i) {
        a1.push_back(best_before[static_cast<std::size_t>(3 * (i - 1))]);
        a2.push_back(best_before[static_cast<std::size_t>(3 * (i - 1) + 1)]);
        a3.push_back(best_before[static_cast<std::size_t>(3 * (i - 1) + 2)]);
        b1.push_back(v.crindivloc(i, 1));
        b2.push_back(v.crindivloc(i, 2));
        b3.push_back(v.crindivloc(i, 3));
        for (int4 c = 1; c <= 3; ++c) EXPECT_EQ(v.btindivloc(i, c), v.crindivloc(i, c));
      }
      const bool equal = same_grouping(a1, b1) && same_grouping(a2, b2) && same_grouping(a3, b3);
      if (equal) {
        ++samebests;
        EXPECT_EQ(rs.cp.newbestcount, nb);
        EXPECT_EQ(rs.maxsamegain, std::max(same, cr - bt));
      } else {
        ++newbests;
        EXPECT_EQ(rs.cp.newbestcount, nb + 1);
        if (nb == 0) {
          EXPECT_EQ(av.rate, 1.0);
        }
      }
    } else {
      EXPECT_EQ(v.btloglikelihood, bt);
    }
    if (v.btloglikelihood > bestlogl + 1e-8) {
      ++overall;
      EXPECT_EQ(v.bestlogl, v.btloglikelihood);
      EXPECT_EQ(v.minloglikelihood, v.bestlogl - 10.0);
      // The head is the best copy.
      ASSERT_NE(v.confighead, nullptr);
      v.crrtconfig = v.confighead;
      real8 logl = 0.0;
      convertconfig(1, logl);
      EXPECT_EQ(logl, v.btloglikelihood);
      std::vector<int4> h1, h2, b1, b2;
      for (int4 i = 1; i <= n; ++i) {
        h1.push_back(v.offtgt(i, 1));
        h2.push_back(v.offtgt(i, 2));
        b1.push_back(v.btindivloc(i, 1));
        b2.push_back(v.btindivloc(i, 2));
      }
      EXPECT_TRUE(same_grouping(h1, b1) && same_grouping(h2, b2));
    } else if (rs.iround == 4) {
      EXPECT_EQ(archive_count(), count) << "only overall bests enter before the last round";
    }
    if (rs.iround == 5 && cr > v.minloglikelihood) {
      ++lastround;
      WindowScope keep1(v.indivlocprt, v.crindivloc.view());
      WindowScope keep2(v.inferparentprt, v.inferparent.view());
      WindowScope keep3(v.loglikelihoodprt, &v.crloglikelihood);
      EXPECT_FALSE(archiveconfigadd(2, v.crnumfamily(3)))
          << "the accepted configuration is archived";
    }
    if (HasFailure()) return;
  }
  EXPECT_GT(newbests, 3);
  EXPECT_GT(overall, 3);
  EXPECT_GT(lastround, 20);
  archiveconfigremoveall();
}

INSTANTIATE_TEST_SUITE_P(Species, PairwiseVerdict,
                         ::testing::Values(Species{"two_sexes", 2, 0, 0, 0, 0},
                                           Species{"one_pool_selfing", 1, 1, 0, 0, 0}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace kinrad::test
