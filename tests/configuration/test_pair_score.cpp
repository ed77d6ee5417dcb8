// The pairwise score of a configuration and its change under a move. Expected values come from
// a brute-force reference (pair_score_fixture.hpp) that sums every offspring pair and every
// offspring-candidate pair from the definitions, from direct sums over the groups a move
// touches, or from hand derivations stated beside each case.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "configuration/configuration.hpp"
#include "configuration/pair_score_fixture.hpp"
#include "core/modules.hpp"
#include "pairwise/pairwise.hpp"

namespace kinrad::test {
namespace {

const Species kSpecies[] = {
    {"two sexes", 2, 0, 0, 0, 0},
    {"two sexes, sex 1 monogamous", 2, 0, 0, 1, 0},
    {"two sexes, sex 2 monogamous", 2, 0, 0, 0, 1},
    {"two sexes, both monogamous", 2, 0, 0, 1, 1},
    {"haplodiploid", 2, 0, 1, 0, 0},
    {"haplodiploid, both monogamous", 2, 0, 1, 1, 1},
    {"one pool with selfing", 1, 1, 0, 0, 0},
    {"one pool without selfing", 1, 0, 0, 0, 0},
};

void random_state(std::mt19937& rng, const Species& sp, int4 n, int4 nc1, int4 nc2,
                  bool impossible = false, int4 kparents = 0) {
  setup_species(sp, n, nc1, nc2);
  fill_tables(rng, impossible);
  // One pool: enough parents that random pairs still leave several clusters.
  const int4 k = kparents > 0 ? kparents : (sp.numsex == 1 ? n : std::max(2, n / 3));
  random_configuration(rng, k, k, sp.numsex == 1 && sp.selfing == 1 ? 0.3 : 0.0);
  if (sp.numsex == 1 && sp.selfing == 0) {
    // No selfed offspring where the species cannot self.
    auto& v = variables;
    std::vector<int4> a, b;
    for (int4 i = 1; i <= n; ++i) {
      a.push_back(v.crindivloc(i, 1));
      b.push_back(v.crindivloc(i, 2) == v.crindivloc(i, 1) ? v.crindivloc(i, 1) % k + 1
                                                           : v.crindivloc(i, 2));
    }
    set_configuration(a, b);
  }
  random_parents(rng);
  setinitcluster();
}

TEST(PairScore, FindSibTypeCodes) {
  // Codes by hand from the code table: one pool (x, y unordered, equal ids selfed), two sexes.
  reset_all_modules();
  struct Row {
    int4 numsex, haplo, x, y, u, w, code;
  };
  const Row rows[] = {{1, 0, 3, 3, 3, 3, 1}, {1, 0, 3, 3, 4, 4, 2},  {1, 0, 3, 3, 5, 3, 3},
                      {1, 0, 3, 3, 4, 5, 4}, {1, 0, 3, 4, 4, 4, 5},  {1, 0, 3, 4, 5, 5, 6},
                      {1, 0, 3, 4, 4, 3, 7}, {1, 0, 3, 4, 5, 3, 8},  {1, 0, 3, 4, 3, 5, 8},
                      {1, 0, 3, 4, 5, 6, 9}, {2, 0, 3, 4, 3, 4, 7},  {2, 0, 3, 4, 3, 5, 8},
                      {2, 0, 3, 4, 5, 4, 8}, {2, 1, 3, 4, 5, 4, 10}, {2, 0, 3, 4, 4, 3, 9}};
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.x << r.y << " vs " << r.u << r.w);
    variables.numsex = r.numsex;
    variables.haplodiploid = r.haplo;
    const int4 a[4] = {r.x, r.y, 1, 1};
    const int4 b[4] = {r.u, r.w, 1, 1};
    int4 types[2] = {0, 0};
    findsibtype(1, types, a, b, 1);
    EXPECT_EQ(types[0], r.code);
    // Two states: the second state (1, 1) against (1, 1) shares everything.
    findsibtype(2, types, a, b, 1);
    EXPECT_EQ(types[0], r.code);
    EXPECT_EQ(types[1], r.numsex == 1 ? 1 : 7);
  }
}

TEST(PairScore, GroupAccumulatorSingleCodes) {
  // Codes 2, 4, 6, 9: nb x (first group's singles) + na x (second group's), by hand.
  std::mt19937 rng(5);
  setup_species(kSpecies[6], 6, 0, 0);
  fill_tables(rng);
  const auto& v = variables;
  const int4 a[2] = {1, 2}, b[3] = {3, 4, 5};
  struct Row {
    int4 code;
    bool sa, sb;
  };
  for (const Row& r :
       {Row{2, true, true}, Row{4, true, false}, Row{6, false, true}, Row{9, false, false}}) {
    SCOPED_TRACE(r.code);
    double expect = 0.0;
    for (int4 i : a)
      for (int4 j : b)
        expect += (r.sa ? v.indivloglself(i) : v.indivlogl(i)) +
                  (r.sb ? v.indivloglself(j) : v.indivlogl(j));
    real8 got = 0.0;
    calculateoffpairlogl(got, 2, a, 3, b, r.code);
    expect_close(got, expect, "closed form");
  }
  // Code 3 (first group selfed) reads (selfed, outbred) = (a, b); code 5 reads (b, a).
  real8 got3 = 0.0, got5 = 0.0;
  calculateoffpairlogl(got3, 2, a, 3, b, 3);
  calculateoffpairlogl(got5, 2, a, 3, b, 5);
  double e3 = 0.0, e5 = 0.0;
  for (int4 i : a)
    for (int4 j : b) {
      e3 += prbselfoutpair(i, j);
      e5 += prbselfoutpair(j, i);
    }
  expect_close(got3, e3, "code 3");
  expect_close(got5, e5, "code 5");
}

TEST(PairScore, GroupAccumulatorTableCodes) {
  // Codes 1, 7, 8, 10 over two groups of unsorted offspring that share a member (a pair of one
  // offspring with itself adds 0), in both loop orientations (first group smaller and larger),
  // for the full-sib table with full sibs or half sibs in its lower triangle and without a
  // half-sib table. Expected: a plain double sum over the pairs of dense n x n tables unpacked
  // here by walking each triangle in its storage order (rows of the larger offspring: j = 2..n,
  // i = 1..j-1; rows of the smaller: i = 1..n-1, j = i+1..n), independent of the offset
  // formulas the code uses.
  const int4 n = 9;
  std::mt19937 rng(17);
  setup_species(kSpecies[0], n, 0, 0);
  fill_tables(rng);
  auto& v = variables;
  using Dense = std::vector<std::vector<double>>;
  const auto by_larger = [&](const FArray<real4, 1>& t) {
    Dense d(n + 1, std::vector<double>(n + 1, 0.0));
    index_t k = 0;
    for (int4 j = 2; j <= n; ++j)
      for (int4 i = 1; i < j; ++i, ++k) d[i][j] = d[j][i] = t(k);
    return d;
  };
  Dense hs(n + 1, std::vector<double>(n + 1, 0.0));
  {
    index_t k = 0;
    for (int4 i = 1; i < n; ++i)
      for (int4 j = i + 1; j <= n; ++j, ++k) hs[i][j] = hs[j][i] = v.prbhstri(k);
  }
  const Dense fs = by_larger(v.prbfstri), ss = by_larger(v.prbsstri), mh = by_larger(v.prbmhsibtri);
  const Dense zero(n + 1, std::vector<double>(n + 1, 0.0));
  // Full-sib table with half sibs below: (i, j) reads full sibs for i < j, half sibs for i > j.
  Dense mixed = fs;
  for (int4 i = 1; i <= n; ++i)
    for (int4 j = 1; j < i; ++j) mixed[i][j] = hs[i][j];
  const std::vector<int4> small = {9, 4, 1}, large = {2, 7, 4, 5, 8};
  struct Row {
    const char* name;
    int4 code, lower;
    bool halfsibs;
    const Dense* table;
  };
  const Row rows[] = {{"selfed sibs", 1, 1, true, &ss},
                      {"full sibs", 7, 1, true, &fs},
                      {"full sibs, half sibs below", 7, 2, true, &mixed},
                      {"half sibs", 8, 1, true, &hs},
                      {"half sibs never computed", 8, 1, false, &zero},
                      {"maternal half sibs", 10, 1, true, &mh}};
  FArray<real4, 1> parked;
  for (const Row& r : rows)
    for (int4 order = 0; order < 2; ++order) {
      SCOPED_TRACE(testing::Message()
                   << r.name << (order == 0 ? ", small first" : ", large first"));
      v.prbfspairlower = r.lower;
      if (!r.halfsibs) parked = std::move(v.prbhstri);
      const std::vector<int4>& a = order == 0 ? small : large;
      const std::vector<int4>& b = order == 0 ? large : small;
      double expect = 0.0;
      for (int4 i : a)
        for (int4 j : b) expect += i == j ? 0.0 : (*r.table)[i][j];
      real8 got = 1.5;  // added to
      calculateoffpairlogl(got, static_cast<int4>(a.size()), a.data(), static_cast<int4>(b.size()),
                           b.data(), r.code);
      expect_close(got - 1.5, expect, "table code");
      if (!r.halfsibs) v.prbhstri = std::move(parked);
    }
  v.prbfspairlower = 1;
}

TEST(PairScore, WholeScoreMatchesBruteForce) {
  std::mt19937 rng(11);
  for (const Species& sp : kSpecies) {
    for (const int4 nc : {0, 4}) {
      for (const bool known : {false, true}) {
        if (known && nc == 0) continue;
        SCOPED_TRACE(testing::Message() << sp.name << ", candidates " << nc << ", known " << known);
        for (int rep = 0; rep < 15; ++rep) {
          random_state(rng, sp, 13 + rep % 7, nc, nc + 1);
          auto& v = variables;
          if (known) {
            // Known parents of a few offspring; a known parent lives only in indivparent.
            std::uniform_int_distribution<int4> d(1, v.smplsize);
            for (int4 s = 1; s <= 2; ++s) {
              const int4 cs = v.numsex == 1 ? 1 : s;
              const int4 i = d(rng);
              if (v.numsex == 2 && s == 1 && v.haplodiploid == 1 && v.offploid(i) != 2) continue;
              v.indivparent(i, s) = 1 + (i + s) % v.numcandidate(cs);
              v.inferparent(i, s) = 0;
              v.numknownprnt(s) = 1;
            }
          }
          const double ref = reference_score(v.crindivloc, v.inferparent);
          expect_close(crrt_of(v.crindivloc, v.inferparent), ref, "score");
        }
      }
    }
  }
}

TEST(PairScore, SelfedOutbredOrientation) {
  // Two offspring of one parent pool in one cluster, no candidates: the score is the one pair
  // value, read with the selfed offspring first, whichever offspring it is.
  std::mt19937 rng(3);
  for (const bool first_selfed : {true, false}) {
    SCOPED_TRACE(first_selfed);
    setup_species(kSpecies[6], 2, 0, 0);
    fill_tables(rng);
    if (first_selfed) {
      set_configuration({1, 1}, {1, 2});
    } else {
      set_configuration({1, 2}, {2, 2});
    }
    auto& v = variables;
    const double expect = first_selfed ? prbselfoutpair(1, 2) : prbselfoutpair(2, 1);
    ASSERT_NE(prbselfoutpair(1, 2), prbselfoutpair(2, 1));
    expect_close(crrt_of(v.crindivloc, v.inferparent), expect, "pair");
  }
}

TEST(PairScore, SingletonsClosedForm) {
  // Every offspring its own cluster, no assigned parents: (n - 1) x sum(il) plus, per sex,
  // n x sumcndlogl(s) + numcandidate(s) x sum(il).
  std::mt19937 rng(7);
  const int4 n = 9;
  setup_species(kSpecies[0], n, 3, 5);
  fill_tables(rng);
  std::vector<int4> f(static_cast<std::size_t>(n));
  for (int4 i = 0; i < n; ++i) f[static_cast<std::size_t>(i)] = i + 1;
  set_configuration(f, f);
  auto& v = variables;
  double il = 0.0;
  for (int4 i = 1; i <= n; ++i) il += v.indivlogl(i);
  const double expect = (n - 1) * il + n * v.sumcndlogl(1) + 3 * il + n * v.sumcndlogl(2) + 5 * il;
  expect_close(crrt_of(v.crindivloc, v.inferparent), expect, "singletons");
}

TEST(PairScore, RowSumsFlagImpossiblePairs) {
  // prbpairsum by hand: the sum of each row's possible values, negated for a row with an
  // impossible value.
  std::mt19937 rng(9);
  setup_species(kSpecies[0], 12, 0, 0);
  fill_tables(rng, true);
  setsumsibprb();
  const auto& v = variables;
  for (int4 i = 1; i <= v.smplsize; ++i) {
    double sum = 0.0;
    bool bad = false;
    for (int4 j = 1; j <= v.smplsize; ++j) {
      if (j == i) continue;
      const real4 x = prbfspair(j, i);
      if (x < -1e30f) {
        bad = true;
      } else {
        sum += x;
      }
    }
    SCOPED_TRACE(i);
    expect_close(v.prbpairsum(i), bad ? -sum : sum, "row sum");
    EXPECT_EQ(v.prbpairsum(i) >= 0.0, bad);
  }
}

TEST(PairScore, ReduceErrAcct) {
  std::mt19937 rng(13);
  random_state(rng, kSpecies[0], 15, 4, 5);
  auto& v = variables;
  real8 out = 7.0;
  reduceerracct(out, 2.5);
  EXPECT_EQ(out, 7.0);
  expect_close(v.crloglikelihood, reference_score(v.crindivloc, v.inferparent) + 2.5, "pairwise");
  // Full likelihood: candidates unassigned and not known, summed by hand.
  v.fulllikelihoodmethodq = 1;
  auto& av = annealvariables;
  av.unassignedcnd.allocate(Dim(5), Dim(2));
  av.unassignedcnd(1, 1) = 1;
  av.unassignedcnd(3, 1) = 1;
  av.unassignedcnd(2, 2) = 1;
  av.unassignedcnd(4, 2) = 1;
  v.knownprntq.allocate(Dim(5), Dim(2));
  v.knownprntq(4, 2) = 1;
  reduceerracct(out, 0.0);
  expect_close(out, v.candidatelogl(1, 1) + v.candidatelogl(3, 1) + v.candidatelogl(2, 2),
               "candidate term");
}

// The master invariant: the change the scoring step builds equals the change of the whole
// score, for random proposals in every species and mating variant.
TEST(PairScoreChange, MasterInvariant) {
  std::mt19937 rng(17);
  for (const Species& sp : kSpecies) {
    for (const int4 nc : {0, 3}) {
      SCOPED_TRACE(testing::Message() << sp.name << ", candidates " << nc);
      int4 kinds[4] = {0, 0, 0, 0};
      int4 onefamily = 0;
      for (int rep = 0; rep < 400; ++rep) {
        random_state(rng, sp, 10 + rep % 15, nc, nc + 2);
        auto& v = variables;
        Proposal pr;
        if (nc > 0 && rep % 5 == 0) {
          random_family_move(rng, pr);
        } else {
          random_individual_move(rng, pr);
        }
        ++kinds[pr.kind];
        if (pr.one_family && v.smplsizedh(1) == 0) ++onefamily;
        const double before = crrt_of(v.crindivloc, v.inferparent);
        const double after = crrt_of(pr.loc, pr.parent);
        const double change = score_change(pr);
        SCOPED_TRACE(testing::Message() << "rep " << rep << " kind " << pr.kind);
        EXPECT_LE(std::fabs(change - (after - before)), 1e-9 * std::max(std::fabs(before), 1.0))
            << change << " vs " << after - before;
      }
      for (int4 k = 1; k <= 3; ++k) EXPECT_GT(kinds[k], 0) << "kind " << k;
      if (sp.numsex == 2 && sp.haplo == 0 && sp.mono1 == 1 && sp.mono2 == 1) {
        EXPECT_GT(onefamily, 0);
      }
    }
  }
}

TEST(PairScoreChange, HaploidClassesInOffspringOrder) {
  // Many small clusters, so that the sample exceeds ten times the rows of a move and the
  // classes of the haploid scorer are ordered by an index sort.
  std::mt19937 rng(41);
  int4 sorted = 0;
  for (int rep = 0; rep < 300; ++rep) {
    random_state(rng, kSpecies[rep % 2 == 0 ? 4 : 5], 60, 3, 2, false, 45);
    auto& v = variables;
    const auto& av = annealvariables;
    Proposal pr;
    random_individual_move(rng, pr);
    if (v.smplsize > 10 * (av.numindiv(1) + av.numindiv(2))) ++sorted;
    const double before = crrt_of(v.crindivloc, v.inferparent);
    const double after = crrt_of(pr.loc, pr.parent);
    SCOPED_TRACE(rep);
    expect_close(score_change(pr), after - before, "change");
  }
  EXPECT_GT(sorted, 50);
}

TEST(PairScoreChange, HaploidKnownParentsFollowTheirFamily) {
  // Two offspring with different known parents of sex s in different families; no assigned
  // candidates of that sex, so every parent term of sex s comes from the known-parent rule:
  // an offspring has the known parent of its family in each state.
  std::mt19937 rng(43);
  int4 tried = 0;
  for (int rep = 0; rep < 600; ++rep) {
    const int4 s = 1 + rep % 2;
    random_state(rng, kSpecies[4], 12 + rep % 10, 3, 4);
    auto& v = variables;
    auto& av = annealvariables;
    const int4 n = v.smplsize;
    for (int4 i = 1; i <= n; ++i) v.inferparent(i, s) = v.inferparent2(i, s) = 0;
    std::uniform_int_distribution<int4> d(1, n);
    const int4 x1 = d(rng), x2 = d(rng);
    if (v.crindivloc(x1, s) == v.crindivloc(x2, s)) continue;
    if (s == 1 && (v.offploid(x1) != 2 || v.offploid(x2) != 2)) continue;
    v.indivparent(x1, s) = 1;
    v.indivparent(x2, s) = 2;
    v.numknownprnt(s) = 2;
    Proposal pr;
    random_individual_move(rng, pr);
    // Parent changes of the other sex only.
    av.numindivparentage(s) = 0;
    for (int4 i = 1; i <= n; ++i) pr.parent(i, s) = 0;
    // Two known parents in one family cannot be proposed.
    if (pr.loc(x1, s) == pr.loc(x2, s)) continue;
    ++tried;
    const double before = crrt_of(v.crindivloc, v.inferparent);
    const double after = crrt_of(pr.loc, pr.parent);
    SCOPED_TRACE(testing::Message() << "rep " << rep << " sex " << s);
    expect_close(score_change(pr), after - before, "change");
  }
  EXPECT_GT(tried, 200);
}

TEST(PairScoreChange, NoChangeAddsNothing) {
  // Every moved offspring keeps its family pair: nothing is summed in either state.
  std::mt19937 rng(19);
  for (const Species& sp : {kSpecies[0], kSpecies[4], kSpecies[6]}) {
    SCOPED_TRACE(sp.name);
    random_state(rng, sp, 14, 0, 0);
    auto& v = variables;
    auto& av = annealvariables;
    Proposal pr;
    random_individual_move(rng, pr, 0.0);
    for (int4 k = 1; k <= av.numindivlocidx(3); ++k) {
      const int4 r = av.indivlocidx(k, 3);
      av.indivloc2(r, 1) = v.crindivloc(av.indivloc2(r, 4), 1);
      av.indivloc2(r, 2) = v.crindivloc(av.indivloc2(r, 4), 2);
    }
    real8 out[2] = {0.0, 0.0};
    if (sp.haplo == 1) {
      calculatedhpairlogl(out, av.numindiv(1) + av.numindiv(2));
    } else {
      calculatepairlogl2(out, pr.entries);
    }
    EXPECT_EQ(out[0], 0.0);
    EXPECT_EQ(out[1], 0.0);
  }
}

TEST(PairScoreChange, ParentToUnsampled) {
  // A family move taking candidate c away (new parent 0): out(1) gains prbpopair(o, s)(c) -
  // il(o) - candidatelogl(c, s) for each offspring; out(2) stays as it was.
  std::mt19937 rng(23);
  random_state(rng, kSpecies[0], 10, 3, 4);
  auto& v = variables;
  auto& av = annealvariables;
  Proposal pr;
  start_proposal(pr);
  av.movingtype = 2;
  av.numindivparentage(2) = 2;
  av.indivparentage(1, 2) = 4;
  av.indivparentage(2, 2) = 7;
  for (int4 k = 1; k <= 2; ++k) {
    av.inferparentage(k, 2, 1) = 3;
    av.inferparentage(k, 2, 2) = 0;
  }
  real8 out[2] = {1.5, -2.5};
  calculatepopairlogl(out);
  const double expect = 1.5 + (prbpopair(4, 2, 3) - v.indivlogl(4) - v.candidatelogl(3, 2)) +
                        (prbpopair(7, 2, 3) - v.indivlogl(7) - v.candidatelogl(3, 2));
  expect_close(out[0], expect, "out(1)");
  EXPECT_EQ(out[1], -2.5);
}

// ---- The monogamous scorer ----

// Offspring 1..a form the moving offspring's family (the first o of them move), a + 1..a + b
// the family they join (b = 0: a new cluster), the rest singletons.
void one_family_move(const Species& sp, int4 n, int4 a, int4 o, int4 b, std::mt19937& rng,
                     bool impossible) {
  setup_species(sp, n, 0, 0);
  fill_tables(rng, impossible);
  std::vector<int4> f1(static_cast<std::size_t>(n)), f2(static_cast<std::size_t>(n));
  for (int4 i = 1; i <= n; ++i) {
    const int4 fam = i <= a ? 1 : (i <= a + b ? 2 : i);
    f1[static_cast<std::size_t>(i - 1)] = fam;
    f2[static_cast<std::size_t>(i - 1)] = fam;
  }
  set_configuration(f1, f2);
  setinitcluster();
  auto& v = variables;
  auto& av = annealvariables;
  Proposal pr;
  start_proposal(pr);
  av.movingtype = 1;
  av.moveindiv = 1;
  const int4 dest = b > 0 ? 2 : n + 1;
  int4 r2 = 0;
  for (int4 i = 1; i <= o; ++i) {
    ++r2;
    av.indivloc2(r2, 1) = dest;
    av.indivloc2(r2, 2) = dest;
    av.indivloc2(r2, 4) = i;
    av.indivlocidx(++av.numindivlocidx(3), 3) = r2;
  }
  for (int4 i = a + 1; i <= a + b; ++i) {
    ++r2;
    av.indivloc2(r2, 1) = 2;
    av.indivloc2(r2, 2) = 2;
    av.indivloc2(r2, 4) = i;
    av.indivlocidx(++av.numindivlocidx(2), 2) = r2;
  }
  for (int4 i = o + 1; i <= a; ++i) {
    const int4 r = ++av.numindiv(1);
    av.indivloc1(r, 1) = 1;
    av.indivloc1(r, 2) = 1;
    av.indivloc1(r, 4) = i;
    av.indivlocidx(++av.numindivlocidx(1), 1) = r;
  }
  av.numindiv(2) = r2;
  (void)v;
}

// Direct sums: over o in O, [sum over D of fs(d, o) - il(d) - il(o)] - [the same over S].
double direct_change(int4 a, int4 o, int4 b) {
  const auto& v = variables;
  double sum = 0.0;
  for (int4 x = 1; x <= o; ++x) {
    for (int4 d = a + 1; d <= a + b; ++d)
      sum += static_cast<double>(prbfspair(d, x)) - v.indivlogl(d) - v.indivlogl(x);
    for (int4 s = o + 1; s <= a; ++s)
      sum -= static_cast<double>(prbfspair(s, x)) - v.indivlogl(s) - v.indivlogl(x);
  }
  return sum;
}

TEST(PairScoreChange, MonogamousComplementCases) {
  // n = 20 (half: 10). Each row forces one group above half the sample.
  struct Row {
    const char* what;
    int4 mono;  // both sexes monogamous
    int4 a, o, b;
  };
  const Row rows[] = {
      {"S large, not monogamous", 0, 13, 2, 3},
      {"S large, monogamous", 1, 13, 2, 3},
      {"O large, monogamous", 1, 13, 12, 3},
      {"D large, one moving, monogamous", 1, 3, 1, 12},
      {"S large, one moving, monogamous", 1, 13, 1, 3},
      {"no complement, several moving, monogamous", 1, 6, 3, 4},
      {"no complement, new cluster, monogamous", 1, 6, 3, 0},
      {"no complement, not monogamous", 0, 6, 3, 4},
      {"no complement, new cluster, not monogamous", 0, 6, 2, 0},
  };
  std::mt19937 rng(29);
  for (const Row& r : rows) {
    for (const bool impossible : {false, true}) {
      for (int rep = 0; rep < 5; ++rep) {
        SCOPED_TRACE(testing::Message() << r.what << ", impossible " << impossible);
        Species sp = kSpecies[0];
        sp.mono1 = sp.mono2 = r.mono;
        one_family_move(sp, 20, r.a, r.o, r.b, rng, false);
        if (impossible) {
          // Moving offspring 1 gets an impossible full-sib pair with a member of the large
          // group: of D when D is large, else of S (O large: the pair is read from S's side).
          const int4 other = r.a <= 10 && r.b > 10 ? r.a + 1 : r.o + 1;
          variables.prbfstri(tri_by_larger(1, other)) = -1e38f;
          // And offspring 2 one with a singleton of another cluster, outside every group.
          variables.prbfstri(tri_by_larger(2, 20)) = -1e38f;
        }
        real8 out[2] = {0.0, 0.0};
        calculatepairloglmonogamy(out, -HUGE_VAL);
        const double expect = direct_change(r.a, r.o, r.b);
        EXPECT_LE(std::fabs((out[1] - out[0]) - expect), 1e-9 * std::max(std::fabs(expect), 1.0))
            << out[1] - out[0] << " vs " << expect;
        if (impossible) {
          EXPECT_GT(std::fabs(expect), 1e37);
        }
      }
    }
  }
}

TEST(PairScoreChange, EarlyStopsKeepTheVerdict) {
  // With a finite bound the routine may stop early; the verdict out(2) - out(1) < B must be
  // the verdict of the complete sums (bound -infinity).
  std::mt19937 rng(31);
  struct Row {
    int4 mono, a, o, b;
  };
  const Row rows[] = {{0, 6, 3, 5}, {0, 8, 4, 2}, {1, 9, 4, 2}, {1, 7, 2, 1}, {1, 9, 3, 0}};
  int4 stopped = 0;
  for (const Row& r : rows) {
    for (int rep = 0; rep < 60; ++rep) {
      SCOPED_TRACE(testing::Message() << r.mono << " " << r.a << " " << r.o << " " << r.b);
      Species sp = kSpecies[0];
      sp.mono1 = sp.mono2 = r.mono;
      one_family_move(sp, 24, r.a, r.o, r.b, rng, false);
      real8 full[2] = {0.0, 0.0};
      calculatepairloglmonogamy(full, -HUGE_VAL);
      const double change = full[1] - full[0];
      std::uniform_real_distribution<double> u(-1.0, 1.0);
      // Bounds around the change, and far below and above it.
      for (const double bound :
           {change + 5.0 * u(rng), change - 1500.0, change + 1500.0, change + 0.01}) {
        real8 out[2] = {0.0, 0.0};
        calculatepairloglmonogamy(out, bound);
        if (out[0] != full[0] || out[1] != full[1]) ++stopped;
        EXPECT_EQ(out[1] - out[0] < bound, change < bound) << bound << " " << change;
      }
    }
  }
  EXPECT_GT(stopped, 0);
}

TEST(PairScoreChange, MendelianScreenRefusesBeforeSumming) {
  // One four-allele error-free locus; the joined family would show three homozygote types,
  // which one full-sib family cannot (two parents carry at most two homozygote types).
  std::mt19937 rng(37);
  one_family_move(kSpecies[0], 12, 3, 2, 3, rng, false);
  auto& v = variables;
  v.numloci = 1;
  v.maxobsnumallele = 4;
  v.obsnumallele.allocate(Dim(1));
  v.obsnumallele(1) = 4;
  v.numhomozygotemax = 2;
  v.numallelemax = 4;
  v.locuscodomnoerror.allocate(Dim(0, 1));
  v.locuscodomnoerror(0) = 1;
  v.locuscodomnoerror(1) = 1;
  v.locuscodomnoerrorloc(1) = 0;
  v.locuscodomnoerrorloc(3) = 1;
  v.passlocusq.allocate(Dim(1));
  v.locus3loc.allocate(Dim(1));
  // Genotype numbers: homozygote a/a is a (1..4), heterozygotes 5..10.
  v.genotypeid.allocate(Dim(2), Dim(0, 10));
  int4 g = 4;
  for (int4 a = 1; a <= 4; ++a) {
    v.genotypeid(1, a) = static_cast<int1>(a);
    v.genotypeid(2, a) = static_cast<int1>(a);
    for (int4 b = a + 1; b <= 4; ++b) {
      ++g;
      v.genotypeid(1, g) = static_cast<int1>(a);
      v.genotypeid(2, g) = static_cast<int1>(b);
    }
  }
  v.indexgtype.allocate(Dim(0, 10));
  FArray<int2, 1> column;
  column.allocate(Dim(v.smplsize));
  for (int4 i = 1; i <= v.smplsize; ++i) column(i) = 5;  // 1/2 everywhere
  v.indivgtype2.allocate(Dim(1));
  v.indivgtype2(1).a = column.view();
  // Moving offspring 1, 2 (1/1, 2/2) join family 4..6 (3/3 in offspring 4): nL x nO = 6 > 2.
  column(1) = 1;
  column(2) = 2;
  column(4) = 3;
  real8 out[2] = {-3.0, -4.0};
  calculatepairloglmonogamy(out, -HUGE_VAL);
  EXPECT_EQ(out[1], -1e300);
  EXPECT_EQ(out[0], -3.0);  // nothing summed
  // Without the third homozygote the family passes and the sums follow.
  column(4) = 5;
  out[0] = 0.0;
  out[1] = 0.0;
  calculatepairloglmonogamy(out, -HUGE_VAL);
  EXPECT_LE(std::fabs((out[1] - out[0]) - direct_change(3, 2, 3)), 1e-9 * 1e3);
  for (index_t k = 0; k <= 10; ++k) EXPECT_EQ(v.indexgtype(k), 0);
  column.deallocate();
}

}  // namespace
}  // namespace kinrad::test
