// An independent replay of the parent-side moves: a plain re-implementation of the caller's
// conditions and of both moves' draws, decisions and renumbering, on its own copy of the
// configuration (plain vectors, parents and families found by scanning the offspring) and its
// own copy of the search stream, compared after every attempt with the program's run state:
// the stream, the decision, every family id, the counts, the score and the stored cluster
// values. The oracle scores a cluster by handing its rows, in ascending offspring order, to the
// configuration model and the likelihood engine (tested on their own), and computes the prior
// itself from the sibship sizes it counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "likelihood/likelihood.hpp"
#include "parent_side_fixture.hpp"
#include "support/cluster_consistency.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::test {
namespace {

using testing_support::check_cluster_tables;
using testing_support::TempWorkDir;

struct Oracle {
  int n = 0;
  std::vector<int4> f1, f2, cl;  // per offspring, from element 1
  int4 nfam1 = 0, nfam2 = 0;
  std::map<int4, real8> logl;  // per cluster id
  real8 total = 0.0, prior = 0.0;
  Ran2State stream;
  real8 temperature = 1.0, equalaccept = 1.0, rate = 1.0;
  int last = 0;  // the move the last attempt applied: 1 reversal, 2 change of father

  real8 u() { return stream.draw(); }

  std::vector<int4> members(int4 c) const {
    std::vector<int4> m;
    for (int i = 1; i <= n; ++i)
      if (cl[static_cast<std::size_t>(i)] == c) m.push_back(i);
    return m;
  }
  // Distinct values of column a over the members, by first appearance.
  static std::vector<int4> distinct(const std::vector<int4>& col, const std::vector<int4>& m) {
    std::vector<int4> out;
    for (int i : m)
      if (std::find(out.begin(), out.end(), col[static_cast<std::size_t>(i)]) == out.end())
        out.push_back(col[static_cast<std::size_t>(i)]);
    return out;
  }
  static int4 place(const std::vector<int4>& list, int4 x) {
    return static_cast<int4>(std::find(list.begin(), list.end(), x) - list.begin());
  }

  // The Ewens sibship prior from the family sizes (every offspring counts for its father).
  real8 prior_of() const {
    const auto& v = variables;
    if (v.priortype != 1) return 0.0;
    real8 p = 0.0;
    for (int s = 1; s <= 2; ++s) {
      if (s == 1 && v.smplsizedh(2) == 0) continue;
      const auto& col = s == 1 ? f1 : f2;
      std::map<int4, int4> size;
      for (int i = 1; i <= n; ++i) ++size[col[static_cast<std::size_t>(i)]];
      std::map<int4, int4> d;
      for (const auto& [id, k] : size) ++d[k];
      real8 e = 0.0;
      for (const auto& [k, dk] : d) e += dk * (v.logewentheta(s) - v.logk(k)) - v.factorial(dk);
      p += v.ewenpriorfac(s) * (v.logewenconst(s) + e);
    }
    return p;
  }

  // The cluster's likelihood with the given columns, rows in ascending offspring order.
  real8 cluster_logl(const std::vector<int4>& m, const std::vector<int4>& a,
                     const std::vector<int4>& b) const {
    auto& v = variables;
    auto& av = annealvariables;
    const auto k = static_cast<int4>(m.size());
    for (int4 t = 1; t <= k; ++t) {
      const int4 i = m[static_cast<std::size_t>(t - 1)];
      av.indivloc3(t, 1) = a[static_cast<std::size_t>(i)];
      av.indivloc3(t, 2) = b[static_cast<std::size_t>(i)];
      av.indivloc3(t, 3) = 1;
      av.indivloc3(t, 4) = i;
    }
    WindowSave keep;
    v.indivlocprt = av.indivloc3.view();
    v.indivorder = window(v.number1tgt, 1, k);
    int4 nmember = 0, maxfam = 0;
    familybuild(0, k, 1, nmember, maxfam, 1, 0, 0, 0);
    real8 x = 0.0;
    familylikelihood(x, -1e300, 1, 0, k);
    return x;
  }

  // The pairwise score of the configuration with the given columns.
  real8 pair_score(const std::vector<int4>& a, const std::vector<int4>& b) const {
    auto& v = variables;
    FArray<int4, 2> table(Dim(n), Dim(3));
    for (int i = 1; i <= n; ++i) {
      const auto x = static_cast<std::size_t>(i);
      table(i, 1) = a[x];
      table(i, 2) = b[x];
      table(i, 3) = cl[x];
    }
    WindowSave keep;
    v.indivlocprt = table.view();
    v.inferparentprt = v.inferparent.view();
    real8 x = 0.0;
    calculatecrrtpairlogl(x);
    return x;
  }

  bool reversal() {
    const auto& v = variables;
    const int4 c = cl[static_cast<std::size_t>(static_cast<int4>(n * u() + 1.0))];
    const std::vector<int4> m = members(c);
    if (m.size() < 2) return false;
    const auto k1 = static_cast<int4>(distinct(f1, m).size());
    const auto k2 = static_cast<int4>(distinct(f2, m).size());
    if (k1 == 1 && k2 == 1) return false;
    if (!(u() <= static_cast<real8>(std::sqrt(1.0f / (static_cast<float>(k1) * k2))))) return false;
    // The renumbered configuration: rows stably sorted by the ids of the sex with more
    // parents; each sex's distinct ids by first appearance, the shorter list extended with new
    // ids; each offspring's new id of one sex is the entry of that sex's list at the place of
    // its old id of the other sex; the freed ids closed up.
    std::vector<int4> rows = m;
    const int bsex = k1 > k2 ? 1 : 2;
    if (k1 != k2) {
      const auto& key = bsex == 1 ? f1 : f2;
      std::stable_sort(rows.begin(), rows.end(), [&](int4 x, int4 y) {
        return key[static_cast<std::size_t>(x)] < key[static_cast<std::size_t>(y)];
      });
    }
    std::vector<int4> l1 = distinct(f1, rows), l2 = distinct(f2, rows);
    const std::vector<int4> old1 = l1, old2 = l2;
    for (int4 x = k1 + 1; x <= k2; ++x) l1.push_back(nfam1 + x - k1);
    for (int4 x = k2 + 1; x <= k1; ++x) l2.push_back(nfam2 + x - k2);
    std::vector<int4> g1 = f1, g2 = f2;
    for (int i : m) {
      const auto x = static_cast<std::size_t>(i);
      g1[x] = l1[static_cast<std::size_t>(place(old2, f2[x]))];
      g2[x] = l2[static_cast<std::size_t>(place(old1, f1[x]))];
    }
    int4 n1 = nfam1, n2 = nfam2;
    if (k1 != k2) {
      const int4 kb = std::max(k1, k2), ko = std::min(k1, k2);
      const auto& lb = bsex == 1 ? l1 : l2;
      const std::vector<int4> freed(lb.begin() + ko, lb.begin() + kb);
      auto& col = bsex == 1 ? g1 : g2;
      for (int i = 1; i <= n; ++i) {
        int4& x = col[static_cast<std::size_t>(i)];
        x -= static_cast<int4>(
            std::count_if(freed.begin(), freed.end(), [x](int4 y) { return y <= x; }));
      }
      (bsex == 1 ? n1 : n2) -= kb - ko;
      (bsex == 1 ? n2 : n1) += kb - ko;
    }
    const bool full = v.fulllikelihoodmethodq != 0;
    const bool haplo = v.haplodiploid == 1;
    bool scored = false;
    real8 oldl = 0.0, newl = 0.0;
    if (full && ((k1 > 2 && k2 > 2) || haplo)) {
      oldl = logl[c];
      newl = cluster_logl(m, f2, f1);
      scored = true;
    } else if (!full && haplo) {
      oldl = pair_score(f1, f2);
      newl = pair_score(g1, g2);
      scored = true;
    }
    if (!scored || std::fabs(newl - oldl) < 1e-20) {
      if (u() > equalaccept) return false;
    } else if (newl < oldl) {
      if (std::log(u()) * temperature + oldl > newl) return false;
    }
    // Mating limits: a parent's mates are the distinct parents of the other sex it has
    // offspring with.
    const int4 lim1 = v.maxmatings(1), lim2 = v.maxmatings(2);
    if (lim1 != lim2 && (lim1 < n || lim2 < n)) {
      for (int s = 1; s <= 2; ++s) {
        const auto& own = s == 1 ? f1 : f2;
        const auto& other = s == 1 ? f2 : f1;
        for (int4 p : distinct(own, m)) {
          std::vector<int4> mine;
          for (int i : m)
            if (own[static_cast<std::size_t>(i)] == p) mine.push_back(i);
          if (static_cast<int4>(distinct(other, mine).size()) > v.maxmatings(3 - s)) return false;
        }
      }
    }
    nfam1 = n1;
    nfam2 = n2;
    f1 = g1;
    f2 = g2;
    const real8 newprior = prior_of();
    total += (newprior + newl) - (oldl + prior);
    prior = newprior;
    if (scored && full) logl[c] = newl;
    return true;
  }

  bool swapdadid() {
    const auto& v = variables;
    const int4 c = cl[static_cast<std::size_t>(static_cast<int4>(n * u() + 1.0))];
    const std::vector<int4> m = members(c);
    const std::vector<int4> fathers = distinct(f1, m), mothers = distinct(f2, m);
    if (fathers.size() < 2) return false;
    const int4 mother = mothers[static_cast<std::size_t>(
        static_cast<int4>(static_cast<real8>(mothers.size()) * u() + 1.0) - 1)];
    std::vector<int4> listed;
    int4 a = 0;
    for (int4 f : fathers) {
      std::vector<int4> fam;
      for (int i : m)
        if (f1[static_cast<std::size_t>(i)] == f && f2[static_cast<std::size_t>(i)] == mother)
          fam.push_back(i);
      if (fam.empty()) continue;
      listed.push_back(f);
      if (a == 0 && std::any_of(fam.begin(), fam.end(), [&](int i) { return v.offploid(i) == 1; }))
        a = f;
    }
    if (listed.size() < 2 || a == 0) return false;
    int4 b = a;
    while (b == a)
      b = listed[static_cast<std::size_t>(
          static_cast<int4>(static_cast<real8>(listed.size()) * u() + 1.0) - 1)];
    const std::vector<int4> keep1 = f1;
    for (int i : m)
      if (f1[static_cast<std::size_t>(i)] == a && f2[static_cast<std::size_t>(i)] == mother &&
          v.offploid(i) == 1)
        f1[static_cast<std::size_t>(i)] = b;
    const real8 newprior = prior_of();
    real8 oldl = 0.0, newl = 0.0;
    if (v.fulllikelihoodmethodq != 0) {
      oldl = logl[c];
      newl = fathers.size() > 2 && mothers.size() > 2 ? cluster_logl(m, f1, f2) : oldl;
    }
    const real8 oldt = prior + oldl, newt = newprior + newl;
    bool accept = newt >= oldt - 1e-8;
    if (!accept) {
      const real8 x = u();
      accept = x <= 1e-300 || std::log(x) * temperature + oldt <= newt;
    }
    if (!accept) {
      f1 = keep1;
      return false;
    }
    // Decided on new = old for a small cluster; what is kept is the applied cluster's own
    // value.
    if (v.fulllikelihoodmethodq != 0) newl = cluster_logl(m, f1, f2);
    total += newprior + newl - oldt;
    prior = newprior;
    if (v.fulllikelihoodmethodq != 0) logl[c] = newl;
    return true;
  }

  // The caller's conditions, the reversal first.
  bool moves(int8 iterate, int8 newbest) {
    const auto& v = variables;
    int4 nclust = 0;
    for (int i = 1; i <= n; ++i) nclust = std::max(nclust, cl[static_cast<std::size_t>(i)]);
    last = 0;
    if (nclust > 1 && v.converseq != 0 && newbest > 0 && iterate % 100 == 0 && reversal()) {
      last = 1;
      return true;
    }
    if (v.smplsizedh(1) > 0 && v.anymonogamy == 0 && iterate % 100 == 0 && rate > u() &&
        swapdadid()) {
      last = 2;
      return true;
    }
    return false;
  }
};

Oracle oracle_of(const RunState& rs) {
  const auto& v = variables;
  Oracle o;
  o.n = v.smplsize;
  o.f1.assign(static_cast<std::size_t>(o.n) + 1, 0);
  o.f2 = o.cl = o.f1;
  for (int i = 1; i <= o.n; ++i) {
    o.f1[static_cast<std::size_t>(i)] = v.crindivloc(i, 1);
    o.f2[static_cast<std::size_t>(i)] = v.crindivloc(i, 2);
    o.cl[static_cast<std::size_t>(i)] = v.crindivloc(i, 3);
  }
  o.nfam1 = v.crnumfamily(1);
  o.nfam2 = v.crnumfamily(2);
  for (int4 c = 1; c <= v.crnumfamily(3); ++c) o.logl[c] = v.crfamilylogl(c);
  o.total = v.crloglikelihood;
  o.prior = rs.cp.oldlogprior;
  o.stream = Ran2State::save();
  o.temperature = rs.cp.temperature;
  o.equalaccept = rs.coolfactor;
  o.rate = annealvariables.rate;
  return o;
}

struct ReplayCase {
  const char* name;
  SimSample sample;
  int4 lim1, lim2;  // mating limits (0: none)
  real8 temperature, equalaccept, rate;
};

void replay(const ReplayCase& rc, int attempts) {
  SCOPED_TRACE(rc.name);
  TempWorkDir dir("parent_side_replay");
  SimTruth t;
  ASSERT_TRUE(testing_support::prepare(simulate(rc.sample, t)));
  std::vector<int4> f1, f2;
  truth_configuration(t, f1, f2);
  int kept_rev = 0, kept_swap = 0;
  const auto outcome = with_run([&](RunState& rs) {
    auto& v = variables;
    install(rs, f1, f2);
    if (rc.lim1 > 0) {
      v.maxmatings(1) = rc.lim1;
      v.maxmatings(2) = rc.lim2;
    }
    rs.cp.temperature = rc.temperature;
    rs.coolfactor = rc.equalaccept;
    annealvariables.rate = rc.rate;
    rs.cp.newbestcount = 1;
    // The oracle's initial stored values are the program's own initial scores.
    Oracle o = oracle_of(rs);
    ASSERT_NEAR(o.prior, o.prior_of(), 1e-9);
    for (int k = 1; k <= attempts; ++k) {
      rs.cp.numiterate = 100 * static_cast<int8>(k);
      const bool want = o.moves(rs.cp.numiterate, 1);
      parent_side_moves(rs);
      const bool got = rs.sidemoveok != 0;
      ASSERT_EQ(got, want) << "attempt " << k;
      ASSERT_TRUE(o.stream == Ran2State::save()) << "attempt " << k;
      for (int4 i = 1; i <= o.n; ++i) {
        const auto x = static_cast<std::size_t>(i);
        ASSERT_EQ(v.crindivloc(i, 1), o.f1[x]) << "attempt " << k << " offspring " << i;
        ASSERT_EQ(v.crindivloc(i, 2), o.f2[x]) << "attempt " << k << " offspring " << i;
        ASSERT_EQ(v.crindivloc(i, 3), o.cl[x]) << "attempt " << k << " offspring " << i;
      }
      ASSERT_EQ(v.crnumfamily(1), o.nfam1) << "attempt " << k;
      ASSERT_EQ(v.crnumfamily(2), o.nfam2) << "attempt " << k;
      ASSERT_NEAR(v.crloglikelihood, o.total, 1e-7 * (1.0 + std::fabs(o.total))) << "attempt " << k;
      ASSERT_NEAR(rs.cp.oldlogprior, o.prior, 1e-8 * (1.0 + std::fabs(o.prior))) << "attempt " << k;
      for (const auto& [c, x] : o.logl) ASSERT_NEAR(v.crfamilylogl(c), x, 1e-9) << "cluster " << c;
      if (got) ++(o.last == 1 ? kept_rev : kept_swap);
      if (k % 250 == 0) {
        ASSERT_EQ(check_cluster_tables(), "") << "attempt " << k;
        self_check(rs);
      }
    }
  });
  EXPECT_FALSE(outcome.stopped) << outcome.screen << outcome.errorfile;
  // Both moves were applied (the reversal always; the change of father where haploid
  // offspring exist).
  EXPECT_GT(kept_rev, 0);
  if (rc.sample.haplo) {
    EXPECT_GT(kept_swap, 0);
  }
}

const ReplayCase kCases[] = {
    {"haplodiploid, full likelihood, sibship prior",
     {.haplo = true, .n = 30, .loci = 8, .seed = 21, .prior = "1 2 2", .method = "1"},
     0,
     0,
     40.0,
     0.6,
     0.7},
    {"two sexes, full likelihood, mating limit",
     {.haplo = false, .n = 30, .loci = 8, .seed = 22, .prior = "0", .method = "1"},
     2,
     30,
     2.0,
     0.6,
     0.7},
    {"two sexes, full likelihood, sibship prior",
     {.haplo = false, .n = 30, .loci = 8, .seed = 23, .prior = "1 2 2", .method = "1"},
     0,
     0,
     2.0,
     0.6,
     0.7},
    {"haplodiploid, pairwise score",
     {.haplo = true, .n = 30, .loci = 8, .seed = 24, .prior = "0", .method = "0"},
     0,
     0,
     40.0,
     0.6,
     0.7},
};

// A thousand attempts per sample in the ordinary pass, ten thousand in the slow one.
TEST(ParentSideReplay, HaplodiploidFullLikelihood) {
  replay(kCases[0], 1000);
}
TEST(ParentSideReplay, TwoSexesMatingLimit) {
  replay(kCases[1], 1000);
}
TEST(ParentSideReplay, TwoSexesSibshipPrior) {
  replay(kCases[2], 1000);
}
TEST(ParentSideReplay, HaplodiploidPairwise) {
  replay(kCases[3], 1000);
}

TEST(ParentSideReplaySlow, TenThousandAttempts) {
  for (const auto& rc : kCases) replay(rc, 10000);
}

}  // namespace
}  // namespace kinrad::test
