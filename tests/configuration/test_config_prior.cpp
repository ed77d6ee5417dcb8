// The prior of a configuration. Expected values of the one-sex prior come from a short Python
// computation written from the formulas alone (lgamma for log k!), quoted per row; the counts
// are recounted by hand or by sets and maps here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "configuration/configuration.hpp"
#include "configuration_fixture.hpp"

namespace kinrad::test {
namespace {

// Constants of the prior set-up chosen for the tests: log prior per candidate used (-0.7,
// -0.9) and per family without one (-0.2, -0.1); sampled-parent proportions 0.3 and 0.4;
// weights 0.8 and 0.6; one known father with two offspring.
void set_prior_constants() {
  auto& v = variables;
  const int4 n = v.smplsize;
  v.factorial.allocate(Dim(0, 2 * n + 2));
  v.logk.allocate(Dim(2 * n + 2));
  for (int4 k = 1; k <= 2 * n + 2; ++k) {
    v.logk(k) = std::log(static_cast<real8>(k));
    v.factorial(k) = v.factorial(k - 1) + v.logk(k);
  }
  v.logprior.allocate(Dim(2), Dim(2));
  v.logprior(1, 1) = -0.7;
  v.logprior(2, 1) = -0.2;
  v.logprior(1, 2) = -0.9;
  v.logprior(2, 2) = -0.1;
  v.prntlogprb.allocate(Dim(2), Dim(2));
  v.prntlogprb(1, 1) = std::log(0.3);
  v.prntlogprb(2, 1) = std::log(0.7);
  v.prntlogprb(1, 2) = std::log(0.4);
  v.prntlogprb(2, 2) = std::log(0.6);
  v.prntweight(1) = 0.8;
  v.prntweight(2) = 0.6;
  v.numknownprnt(1) = 1;
  v.numknownprnt(3) = 2;
  v.smplsizedh(2) = n;
  v.fulllikelihoodmethodq = 1;
  v.sibshipsizedist.allocate(Dim(0, (3 - v.numsex) * n), Dim(v.numsex));
  v.offploid.allocate(Dim(n));
  v.offploid.fill(2);
}

struct PriorRow {
  std::string name;
  int4 numsex, inbreeding, priortype, method, haploid, ncand2;
  int4 sex, a, m, nfam, nsize, nself;
  real8 expected;
};

TEST(PriorValue, HandTable) {
  const std::vector<PriorRow> rows = {
      // Python "A": candidate and binomial terms and the m > 0 term with c = 0.1.
      {"full likelihood sex 1", 2, 0, 0, 1, 0, 3, 1, 2, 3, 5, 0, 0, -6.7196507487609241},
      // Python "B".
      {"full likelihood sex 2", 2, 0, 0, 1, 0, 3, 2, 1, 2, 4, 0, 0, -3.9085076090781783},
      {"no candidates of the sex", 2, 0, 0, 1, 0, 0, 2, 0, 0, 4, 0, 0, 0.0},
      // Python "C": N = 6 diploid offspring of 10.
      {"haplodiploid N", 2, 0, 0, 1, 4, 3, 1, 2, 3, 5, 0, 0, -8.5684266227836723},
      // Python "D": c = 0.5 under the pairwise score; "Dm0": no term for m = 0.
      {"pairwise m > 0", 2, 0, 0, 0, 0, 3, 1, 2, 3, 5, 0, 0, -9.1824362524544707},
      {"pairwise m = 0", 2, 0, 0, 0, 0, 3, 1, 2, 0, 5, 0, 0, -5.4486527861011291},
      // Python "E1", "E2": halved, the selfing term (n = 10, k = 2) for sex 1 only.
      {"monoecious selfing sex 1", 1, 1, 0, 1, 0, 3, 1, 2, 3, 5, 0, 2, -5.2129177572898984},
      {"monoecious selfing sex 2", 1, 1, 0, 1, 0, 3, 2, 1, 2, 4, 0, 2, -1.9542538045390891},
      // Python "F": Ewens term over sizes 1..3 with (d1, d2, d3) = (2, 0, 1).
      {"Ewens term", 2, 0, 2, 1, 0, 3, 2, 1, 2, 4, 3, 0, -4.0549512458809733},
      // priortype 0: the same row without the sibship term is "B".
      {"priortype 0", 2, 0, 0, 1, 0, 3, 2, 1, 2, 4, 3, 0, -3.9085076090781783},
      // Python "G": sex 1 without diploid offspring: no binomial and no sibship term.
      {"no diploid offspring", 2, 0, 2, 1, 10, 3, 1, 2, 0, 5, 3, 0, -4.2849066497879997},
      // In one parent pool the second sex has no sibship term: "E2" again.
      {"monoecious sex 2 sibship", 1, 1, 2, 1, 0, 3, 2, 1, 2, 4, 3, 2, -1.9542538045390891},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    setup_sample({10, r.numsex, 0, 0, 4, r.ncand2});
    set_prior_constants();
    auto& v = variables;
    v.allowinbreeding = r.inbreeding;
    v.priortype = r.priortype;
    v.fulllikelihoodmethodq = r.method;
    v.smplsizedh(1) = r.haploid;
    v.smplsizedh(2) = 10 - r.haploid;
    if (r.haploid == 10) v.numknownprnt(3) = 0;
    v.ewenpriorfac(2) = 0.5;
    v.logewenconst(2) = -1.25;
    v.logewentheta(2) = std::log(2.5);
    v.ewenpriorfac(1) = 0.5;
    v.logewenconst(1) = -1.25;
    v.logewentheta(1) = std::log(2.5);
    for (int4 s = 1; s <= v.numsex; ++s) {
      v.sibshipsizedist(1, s) = 2;
      v.sibshipsizedist(3, s) = 1;
      v.sibshipsizedist(4, s) = 5;  // beyond nsize: never summed
    }
    EXPECT_NEAR(priorvalue(r.sex, {r.a, r.m}, r.nfam, r.nsize, r.nself), r.expected,
                1e-12 * std::max(1.0, std::abs(r.expected)));
  }
}

// sibshipsize against counts made by hand.
struct SibRow {
  std::string name;
  int4 numsex, mono, mode;
  std::vector<int4> col1, col2;
  std::vector<int4> ploidy;  // empty: all diploid
  std::vector<int4> nfam;
  std::vector<std::vector<int4>> dist;  // per sex: sizes 0, 1, 2, ...
};

TEST(SibshipSize, EdgeCases) {
  const std::vector<SibRow> rows = {
      // Ids 2 and 4 of sex 1 have no members: two families of size 0.
      {"empty ids in size 0",
       2,
       0,
       2,
       {1, 1, 3, 3, 3},
       {1, 2, 2, 2, 2},
       {},
       {4, 2},
       {{2, 0, 1, 1}, {0, 1, 0, 0, 1}}},
      // Two haploid offspring (1 and 4): ids 1..4 + 2 extra; only diploid 2, 3, 5 count.
      {"haplodiploid diploid only",
       2,
       0,
       2,
       {1, 1, 3, 3, 3},
       {1, 2, 2, 2, 2},
       {1, 2, 2, 1, 2},
       {4, 2},
       {{4, 1, 1}, {0, 1, 0, 0, 1}}},
      // Mode 1 counts every offspring, over the same extended range.
      {"haplodiploid mode 1",
       2,
       0,
       1,
       {1, 1, 3, 3, 3},
       {1, 2, 2, 2, 2},
       {1, 2, 2, 1, 2},
       {4, 2},
       {{4, 0, 1, 1}, {0, 1, 0, 0, 1}}},
      // No diploid offspring: every one of the 3 + 5 paternal ids is empty.
      {"no diploid offspring",
       2,
       0,
       2,
       {1, 1, 3, 3, 3},
       {1, 2, 2, 2, 2},
       {1, 1, 1, 1, 1},
       {3, 2},
       {{8}, {0, 1, 0, 0, 1}}},
      // One parent pool: both columns into one count: ids 1, 2, 3 have 4, 3 and 3.
      {"monoecious", 1, 0, 1, {1, 1, 2, 3, 1}, {2, 3, 2, 3, 1}, {}, {3, 3}, {{0, 0, 0, 2, 1}}},
      // Both sexes monogamous: sex 1 counted (sizes 2, 1, 0, 2) and copied; column 2 is
      // never read (it holds ids beyond the range).
      {"double monogamy",
       2,
       1,
       1,
       {1, 1, 2, 4, 4},
       {9, 9, 9, 9, 9},
       {},
       {4, 4},
       {{1, 1, 2}, {1, 1, 2}}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    const int4 n = 5;
    setup_sample({n, r.numsex, r.mono, r.mono, 0, 0});
    set_prior_constants();
    auto& v = variables;
    int4 hap = 0;
    for (int4 i = 1; i <= n; ++i) {
      v.crindivloc(i, 1) = r.col1[static_cast<std::size_t>(i - 1)];
      v.crindivloc(i, 2) = r.col2[static_cast<std::size_t>(i - 1)];
      v.offploid(i) =
          static_cast<int1>(r.ploidy.empty() ? 2 : r.ploidy[static_cast<std::size_t>(i - 1)]);
      if (v.offploid(i) == 1) ++hap;
    }
    v.smplsizedh(1) = hap;
    v.smplsizedh(2) = n - hap;
    v.sibshipsizedist.fill(77);  // stale counts must all be overwritten
    v.indivlocprt = v.crindivloc.view();
    FStatic<int4, 1, 2> nfam{};
    nfam(1) = r.nfam[0];
    nfam(2) = r.nfam[1];
    sibshipsize(nfam, r.mode);
    for (int4 s = 1; s <= r.numsex; ++s) {
      const auto& want = r.dist[static_cast<std::size_t>(s - 1)];
      for (index_t k = 0; k <= v.sibshipsizedist.ubound(1); ++k) {
        const int4 e =
            k < static_cast<index_t>(want.size()) ? want[static_cast<std::size_t>(k)] : 0;
        EXPECT_EQ(v.sibshipsizedist(k, s), e) << "sex " << s << " size " << k;
      }
    }
  }
}

TEST(HalfSibSize, TwoSexesAndOnePool) {
  setup_sample({10, 2, 0, 0, 0, 0});
  auto& v = variables;
  // Fathers' rows sum to 3 and 5, mothers' columns to 1, 3 and 4.
  v.nparent(1) = 2;
  v.nparent(2) = 3;
  v.nchild.allocate(Dim(2), Dim(3));
  v.nchild(1, 1) = 1;
  v.nchild(1, 2) = 2;
  v.nchild(2, 2) = 1;
  v.nchild(2, 3) = 4;
  FStatic<int2, 1, 2> hs{}, run{};
  run(1) = 7;
  run(2) = 2;
  halfsibsize(hs, run);
  EXPECT_EQ(hs(1), 5);
  EXPECT_EQ(hs(2), 4);
  EXPECT_EQ(run(1), 7);
  EXPECT_EQ(run(2), 4);

  // One pool: role-1 parent 1 is role-2 parent 2. Its family is row 1 (3 + 1) plus column 2
  // (1 + 0) = 5; role-1 parent 2: 4; role-2 parent 1 (in one role only): column 1 = 7.
  setup_sample({10, 1, 0, 0, 0, 0});
  v.nparent(1) = 2;
  v.nparent(2) = 2;
  v.nchild.allocate(Dim(2), Dim(2));
  v.nchild(1, 1) = 3;
  v.nchild(1, 2) = 1;
  v.nchild(2, 1) = 4;
  v.parentjdx.allocate(Dim(2), Dim(2));
  v.parentjdx(1, 1) = 2;
  v.parentjdx(2, 2) = 1;
  FStatic<int2, 1, 2> hs2{}, run2{};
  halfsibsize(hs2, run2);
  EXPECT_EQ(hs2(1), 7);
  EXPECT_EQ(hs2(2), 7);

  // A row and a column of 35,000 + 5,000 offspring pass 16 bits: the maximum saturates
  // instead of wrapping to a negative size.
  v.nchild(1, 1) = 30000;
  v.nchild(1, 2) = 5000;
  v.nchild(2, 1) = 0;
  FStatic<int2, 1, 2> hs3{}, run3{};
  halfsibsize(hs3, run3);
  EXPECT_EQ(hs3(1), 32767);
  EXPECT_EQ(run3(2), 32767);
}

TEST(FindAssignment, CountsDistinctCandidatesAndOffspring) {
  setup_sample({6, 2, 0, 0, 5, 0});
  auto& v = variables;
  // Fathers 3, 3, 0, 5, 3, 1: three distinct candidates over five offspring; no mothers.
  const int4 dads[] = {3, 3, 0, 5, 3, 1};
  for (int4 i = 1; i <= 6; ++i) {
    v.inferparent(i, 1) = dads[i - 1];
    v.inferparent(i, 2) = 2;  // ignored: sex 2 has no candidates
  }
  v.inferparentprt = v.inferparent.view();
  FStatic<int4, 1, 4> na{};
  findassignment(na);
  EXPECT_EQ(na(1), 3);
  EXPECT_EQ(na(2), 0);
  EXPECT_EQ(na(3), 5);
  EXPECT_EQ(na(4), 0);
  for (index_t k = 1; k <= annealvariables.selectedprntidxq3.ubound(1); ++k)
    ASSERT_EQ(annealvariables.selectedprntidxq3(k), 0);
}

// configurationprior is the sum of the two one-sex priors of independently recounted inputs,
// and does not change when the family ids of a sex are permuted.
TEST(ConfigurationPrior, SumOfPartsAndInvariantUnderRelabelling) {
  std::mt19937 rng(2718);
  for (int4 numsex : {2, 1}) {
    for (int4 trial = 0; trial < 20; ++trial) {
      SCOPED_TRACE("numsex " + std::to_string(numsex) + " trial " + std::to_string(trial));
      const int4 n = 30;
      setup_sample({n, numsex, 0, 0, 6, numsex == 2 ? 4 : 6});
      set_prior_constants();
      auto& v = variables;
      v.allowinbreeding = numsex == 1 ? 1 : 0;
      v.priortype = 1;
      v.numknownprnt(1) = 0;
      v.numknownprnt(3) = 0;
      for (int4 s = 1; s <= 2; ++s) {
        v.ewenpriorfac(s) = 0.7;
        v.logewenconst(s) = -2.0;
        v.logewentheta(s) = std::log(1.5);
      }
      random_configuration(rng, 8, 7, 0.2);
      std::uniform_int_distribution<int4> pick(0, 6);
      for (int4 i = 1; i <= n; ++i)
        for (int4 s = 1; s <= 2; ++s) v.inferparent(i, s) = std::min(pick(rng), v.numcandidate(s));
      // Members of one family share their parent.
      for (int4 i = 1; i <= n; ++i)
        for (int4 j = 1; j < i; ++j)
          for (int4 s = 1; s <= 2; ++s)
            if (v.crindivloc(j, s) == v.crindivloc(i, s)) v.inferparent(i, s) = v.inferparent(j, s);
      v.indivlocprt = v.crindivloc.view();
      v.inferparentprt = v.inferparent.view();

      // Independent inputs.
      std::set<int4> d1, d2;
      int4 m1 = 0, m2 = 0, f1 = 0, f2 = 0, nself = 0;
      for (int4 i = 1; i <= n; ++i) {
        if (v.inferparent(i, 1) > 0) d1.insert(v.inferparent(i, 1)), ++m1;
        if (v.inferparent(i, 2) > 0) d2.insert(v.inferparent(i, 2)), ++m2;
        f1 = std::max(f1, v.crindivloc(i, 1));
        f2 = std::max(f2, v.crindivloc(i, 2));
        if (numsex == 1 && v.crindivloc(i, 1) == v.crindivloc(i, 2)) ++nself;
      }
      if (numsex == 1) f1 = f2 = std::max(f1, f2);
      FStatic<int4, 1, 2> nfam{}, nsize{};
      nfam(1) = f1;
      nfam(2) = f2;
      nsize(1) = nsize(2) = (3 - numsex) * n;
      FStatic<int4, 1, 4> na{};
      real8 lp = 0.0;
      configurationprior(na, lp, nsize, nfam);
      EXPECT_EQ(na(1), static_cast<int4>(d1.size()));
      EXPECT_EQ(na(2), static_cast<int4>(d2.size()));
      EXPECT_EQ(na(3), m1);
      EXPECT_EQ(na(4), m2);
      // The sibship distribution recounted with maps.
      std::map<int4, int4> sz;
      for (int4 i = 1; i <= n; ++i) {
        ++sz[v.crindivloc(i, 1)];
        if (numsex == 1) ++sz[v.crindivloc(i, 2)];
      }
      std::map<int4, int4> dist;
      for (int4 id = 1; id <= f1; ++id) ++dist[sz.count(id) ? sz[id] : 0];
      for (const auto& [k, d] : dist) EXPECT_EQ(v.sibshipsizedist(k, 1), d) << "size " << k;
      const real8 parts = priorvalue(1, {na(1), na(3)}, f1, nsize(1), nself) +
                          priorvalue(2, {na(2), na(4)}, f2, nsize(2), nself);
      EXPECT_DOUBLE_EQ(lp, parts);

      // Permute the ids 1..f of each column (one permutation for a single pool).
      std::vector<int4> p1(static_cast<std::size_t>(f1) + 1), p2(static_cast<std::size_t>(f2) + 1);
      std::iota(p1.begin(), p1.end(), 0);
      std::iota(p2.begin(), p2.end(), 0);
      std::shuffle(p1.begin() + 1, p1.end(), rng);
      std::shuffle(p2.begin() + 1, p2.end(), rng);
      if (numsex == 1) p2 = p1;
      for (int4 i = 1; i <= n; ++i) {
        v.crindivloc(i, 1) = p1[static_cast<std::size_t>(v.crindivloc(i, 1))];
        v.crindivloc(i, 2) = p2[static_cast<std::size_t>(v.crindivloc(i, 2))];
      }
      real8 lp2 = 0.0;
      configurationprior(na, lp2, nsize, nfam);
      EXPECT_NEAR(lp2, lp, 1e-12 * std::abs(lp));
    }
  }
}

}  // namespace
}  // namespace kinrad::test
