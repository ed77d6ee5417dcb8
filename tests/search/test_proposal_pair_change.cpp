// The pairwise score change of the configuration model (parent terms and offspring pairs of an
// individual move) over the rows the search writes, against the whole pairwise score of the
// proposed configuration less that of the current one: the rows hold every pair whose relation
// the move changes. Moves chosen by hand, moves to another existing cluster included; dense
// random dyad tables (pair_score_fixture.hpp).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "configuration/pair_score_fixture.hpp"
#include "search/proposal_fixture.hpp"

namespace kinrad::test {
namespace {

// A move of the kinds the choice makes (two sexes): inside the own cluster, to a family or a
// half-sib family of another cluster, or to a new cluster; travellers drawn by the building step.
bool hand_move(std::mt19937& rng, HandMove& m) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  m = HandMove{};
  m.offspring = std::uniform_int_distribution<int4>(1, n)(rng);
  const int4 own = v.crindivloc(m.offspring, 3);
  std::vector<int4> c1, c2;
  const int4 r = static_cast<int4>(rng() % 3);
  int4 dest = own;
  if (r == 1 && v.crnumfamily(3) > 1) {
    while (dest == own) dest = std::uniform_int_distribution<int4>(1, v.crnumfamily(3))(rng);
  } else if (r == 2) {
    m.destcluster = v.crnumfamily(3) + 1;
    m.dest1 = v.crnumfamily(1) + 1;
    m.dest2 = v.crnumfamily(2) + 1;
    return true;
  }
  for (int4 o = 1; o <= n; ++o)
    if (v.crindivloc(o, 3) == dest) {
      c1.push_back(v.crindivloc(o, 1));
      c2.push_back(v.crindivloc(o, 2));
    }
  m.destcluster = dest;
  m.dest1 = rng() % 4 == 0 ? v.crnumfamily(1) + 1 : c1[rng() % c1.size()];
  m.dest2 = c2[rng() % c2.size()];
  return !(m.dest1 == v.crindivloc(m.offspring, 1) && m.dest2 == v.crindivloc(m.offspring, 2));
}

TEST(ProposalPairChange, SearchRowsGiveTheWholeScoreChange) {
  std::mt19937 rng(515);
  int compared = 0;
  std::set<int4> kinds;
  for (int start = 0; start < 40; ++start) {
    PropShape ps;
    ps.n = 16;
    ps.ncand = 3;
    setup_proposal_sample(ps, rng);
    auto& v = variables;
    auto& av = annealvariables;
    v.numloci = 1;
    v.pairwiseoptionq = 1;
    fill_tables(rng);
    RunState rs;
    derive_run_state(rs);
    for (int k = 0; k < 30; ++k) {
      HandMove m;
      if (!hand_move(rng, m)) continue;
      choose_by_hand(rs, m);
      FArray<int4, 2> loc0, par0;
      loc0.allocate(Dim(v.smplsize), Dim(3));
      par0.allocate(Dim(v.smplsize), Dim(2));
      for (int4 o = 1; o <= v.smplsize; ++o) {
        for (int4 c = 1; c <= 3; ++c) loc0(o, c) = v.crindivloc(o, c);
        for (int4 s = 1; s <= 2; ++s) par0(o, s) = v.inferparent(o, s);
      }
      if (!build_proposal(rs)) continue;
      // The proposed configuration: the list-3 rows applied, the proposed parents (already in
      // inferparent), clusters numbered afresh.
      FArray<int4, 2> loc1, par1;
      loc1.allocate(Dim(v.smplsize), Dim(3));
      par1.allocate(Dim(v.smplsize), Dim(2));
      for (int4 o = 1; o <= v.smplsize; ++o) {
        for (int4 c = 1; c <= 3; ++c) loc1(o, c) = loc0(o, c);
        for (int4 s = 1; s <= 2; ++s) par1(o, s) = v.inferparent(o, s);
      }
      for (int4 j = 1; j <= av.numindivlocidx(3); ++j) {
        const int4 r = av.indivlocidx(j, 3);
        loc1(av.indivloc2(r, 4), 1) = av.indivloc2(r, 1);
        loc1(av.indivloc2(r, 4), 2) = av.indivloc2(r, 2);
      }
      number_clusters(loc1);
      // The change as the scoring computes it, with inferparent holding the proposed parents
      // as the admitted proposal leaves it.
      real8 out[2] = {0.0, 0.0};
      calculatepopairlogl(out);
      calculatepairlogl2(out, av.numindiv(1) + av.numindiv(2));
      const real8 change = out[1] - out[0];
      const auto saveloc = v.indivlocprt;
      const auto savepar = v.inferparentprt;
      const real8 want = crrt_of(loc1, par1) - crrt_of(loc0, par0);
      v.indivlocprt = saveloc;
      v.inferparentprt = savepar;
      SCOPED_TRACE("start " + std::to_string(start) + " move " + std::to_string(k) + " kind " +
                   std::to_string(rs.choice.movekind));
      expect_close(change, want, "score change");
      kinds.insert(rs.choice.movekind);
      ++compared;
      undo_proposal(rs);
      if (HasFailure()) return;
    }
  }
  EXPECT_GT(compared, 200);
  EXPECT_EQ(kinds.size(), 3u);
}

}  // namespace
}  // namespace kinrad::test
