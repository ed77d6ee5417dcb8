#pragma once
// The check of one proposal of the search against an independent recount: the proposal is
// built (build_proposal) for the move in hand, the proposed configuration is built explicitly
// (current families with the list-3 rows applied, current parents with the change lists
// applied) and counted afresh by the configuration model's whole-configuration routines; the
// rows are checked (each offspring once, rows outside list 3 at their present ids, list 3 the
// moving offspring, moved full-sib families held whole), the admitted proposal is judged by the
// independent validator, and its undo must leave the state bit-identical.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "search/proposal_fixture.hpp"

namespace kinrad::test {

struct ProposalTally {
  int proposals = 0, admitted = 0, parentchanges = 0, honoured = 0;
  std::set<int4> kinds;
  std::map<std::string, int> invalid;
};

// Builds one proposal for the move in hand (m describes it) and checks it against the recount;
// undoes it and checks that nothing is left behind.
inline void check_proposal(RunState& rs, const HandMove& m, ProposalTally& tally) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  const StateSnapshot before = StateSnapshot::take(rs);
  const std::vector<int4> fam0 = current_families();
  const std::vector<int4> par0 = current_parents();
  ++tally.proposals;
  const int4 w2 = rs.cp.moveweight(m.offspring, 2);
  if (!build_proposal(rs)) {
    EXPECT_TRUE(StateSnapshot::take(rs) == before) << "a refused proposal changed the state";
    EXPECT_EQ(rs.cp.moveweight(m.offspring, 2), w2);
    return;
  }
  ++tally.admitted;
  tally.kinds.insert(m.type == 2 ? 0 : rs.choice.movekind);
  if (m.knownsibside > 0) ++tally.honoured;
  EXPECT_EQ(rs.cp.moveweight(m.offspring, 2), w2 + 1);
  const Proposal& pr = rs.proposal;

  // Rows: each offspring at most once; rows outside list 3 hold the present ids.
  std::vector<int4> seen(static_cast<std::size_t>(n) + 1, 0);
  std::vector<int4> fam = fam0;
  std::vector<int4> in3(static_cast<std::size_t>(n) + 1, 0);
  for (int4 k = 1; k <= av.numindivlocidx(3); ++k) {
    const int4 r = av.indivlocidx(k, 3);
    const int4 o = av.indivloc2(r, 4);
    in3[static_cast<std::size_t>(o)] = 1;
    fam[static_cast<std::size_t>(o - 1)] = av.indivloc2(r, 1);
    fam[static_cast<std::size_t>(n + o - 1)] = av.indivloc2(r, 2);
  }
  for (int4 r = 1; r <= av.numindiv(2); ++r) {
    const int4 o = av.indivloc2(r, 4);
    ASSERT_EQ(seen[static_cast<std::size_t>(o)]++, 0) << "offspring " << o << " in two rows";
    if (!in3[static_cast<std::size_t>(o)]) {
      EXPECT_EQ(av.indivloc2(r, 1), v.crindivloc(o, 1));
      EXPECT_EQ(av.indivloc2(r, 2), v.crindivloc(o, 2));
    }
  }
  for (int4 r = 1; r <= av.numindiv(1); ++r) {
    const int4 o = av.indivloc1(r, 4);
    ASSERT_EQ(seen[static_cast<std::size_t>(o)]++, 0) << "offspring " << o << " in two rows";
    EXPECT_EQ(av.indivloc1(r, 1), v.crindivloc(o, 1));
    EXPECT_EQ(av.indivloc1(r, 2), v.crindivloc(o, 2));
  }
  // List 3 is the moving offspring: the negated entries of movelist (individual moves).
  if (m.type == 1) {
    int4 nmoving = 0;
    for (int4 x : pr.movelist)
      if (x < 0) {
        ++nmoving;
        EXPECT_EQ(in3[static_cast<std::size_t>(-x)], 1) << "mover " << -x << " not in list 3";
      }
    // A half-sib join also moves the own cluster's families of the replaced parent.
    if (rs.choice.knownsibside == 0 && m.halfsibjoin == 0) {
      EXPECT_EQ(av.numindivlocidx(3), nmoving);
    }
    // Moving rows keep or change their ids; a half-sib join also carries, unchanged, the
    // relatives that come along with the kept parent.
    for (int4 k = 1; k <= av.numindivlocidx(3) && rs.choice.halfsibjoin == 0; ++k) {
      const int4 r = av.indivlocidx(k, 3);
      const int4 o = av.indivloc2(r, 4);
      const bool changes =
          av.indivloc2(r, 1) != v.crindivloc(o, 1) || av.indivloc2(r, 2) != v.crindivloc(o, 2);
      const bool mover = std::find(pr.movelist.begin(), pr.movelist.end(), -o) != pr.movelist.end();
      EXPECT_TRUE(mover || changes)
          << "list-3 row of " << o << " neither moves nor changes; kind " << rs.choice.movekind
          << " halfsibjoin " << rs.choice.halfsibjoin << " knownsibside " << rs.choice.knownsibside
          << " moveindiv " << m.offspring << " from (" << av.movefamily(1) << ","
          << av.movefamily(2) << ") to (" << av.hostfamily(1) << "," << av.hostfamily(2) << ","
          << av.hostfamily(3) << ") row (" << av.indivloc2(r, 1) << "," << av.indivloc2(r, 2)
          << ") ks (" << v.knownsibship(o, 1) << "," << v.knownsibship(o, 2) << ") mover ks ("
          << v.knownsibship(m.offspring, 1) << "," << v.knownsibship(m.offspring, 2) << ")";
    }
    EXPECT_EQ(in3[static_cast<std::size_t>(m.offspring)], 1);
  }
  // Every touched family is held whole: an offspring sharing a present family id with a row
  // (of the touched clusters) is itself a row, unless only the scoring's completion adds it.
  if (m.type == 1 && pr.restside == 0)
    for (int4 s = 1; s <= 2; ++s)
      for (int4 k = 1; k <= av.numindivlocidx(3); ++k) {
        const int4 o = av.indivloc2(av.indivlocidx(k, 3), 4);
        for (int4 q = 1; q <= n; ++q)
          if (v.crindivloc(q, s) == v.crindivloc(o, s) &&
              v.crindivloc(q, 3 - s) == v.crindivloc(o, 3 - s)) {
            EXPECT_EQ(seen[static_cast<std::size_t>(q)], 1) << "full sib " << q << " of " << o;
          }
      }

  // Parents: the current ones with the change lists applied, already in inferparent.
  std::vector<int4> par = par0;
  for (int4 s = 1; s <= 2; ++s)
    for (int4 k = 1; k <= av.numindivparentage(s); ++k) {
      const int4 o = av.indivparentage(k, s);
      EXPECT_EQ(par[static_cast<std::size_t>((s - 1) * n + o - 1)], av.inferparentage(k, s, 1));
      par[static_cast<std::size_t>((s - 1) * n + o - 1)] = av.inferparentage(k, s, 2);
    }
  EXPECT_EQ(current_parents(), par);
  if (par != par0) ++tally.parentchanges;
  const std::vector<int4> dist(v.sibshipsizedist.begin(), v.sibshipsizedist.end());

  // Soundness: the independent validator's verdict on the admitted proposal, tallied by the
  // constraint it finds broken (moves chosen by hand need not respect what the move choice
  // ensures, and the parent proposal may leave a family with two parents; see the report).
  const std::string fault = validate_proposal();
  if (!fault.empty()) ++tally.invalid[fault];
  const Recount want = recount(fam, par);
  EXPECT_EQ(pr.newnumfamily(1), want.numfamily(1));
  EXPECT_EQ(pr.newnumfamily(2), want.numfamily(2));
  for (int4 k = 1; k <= 4; ++k) EXPECT_EQ(pr.newnumassign(k), want.numassign(k)) << k;
  if (v.numsex == v.allowinbreeding) {
    EXPECT_EQ(pr.newnumselfer, want.numselfer);
  }
  const auto close = [](real8 a, real8 b) {
    return std::abs(a - b) <= 1e-9 * std::max({1.0, std::abs(a), std::abs(b)});
  };
  // The candidate term changes by what the recount says (the run keeps the term only under
  // the full likelihood; under the pairwise score it starts from 0).
  const real8 cndchange = want.cndlogl - recount(fam0, par0).cndlogl;
  EXPECT_TRUE(close(pr.newcndlogl - rs.cp.oldcndlogl, cndchange))
      << pr.newcndlogl - rs.cp.oldcndlogl << " " << cndchange;
  EXPECT_TRUE(close(pr.newlogprior, want.logprior)) << pr.newlogprior << " " << want.logprior;
  if (v.priortype == 1) {
    EXPECT_EQ(dist, want.sibdist);
  }
  // The clusters' current log likelihood.
  real8 oldl = 0.0;
  if (v.fulllikelihoodmethodq != 0) {
    oldl = v.crfamilylogl(rs.choice.owncluster);
    if (m.type == 1 && rs.choice.movekind == 2) oldl += v.crfamilylogl(m.destcluster);
  }
  EXPECT_EQ(pr.oldclusterlogl, oldl);

  undo_proposal(rs);
  EXPECT_TRUE(StateSnapshot::take(rs) == before) << "the undo left something behind";
}

// The move the search's own choice left in hand, described as a hand-made move.
inline HandMove move_in_hand(const RunState& rs) {
  const auto& av = annealvariables;
  HandMove m;
  m.type = av.movingtype;
  m.offspring = av.moveindiv;
  m.dest1 = av.hostfamily(1);
  m.dest2 = av.hostfamily(2);
  m.destcluster = av.hostfamily(3);
  m.familyside = rs.choice.familyside;
  m.halfsibjoin = rs.choice.halfsibjoin;
  m.knownsibside = rs.choice.knownsibside;
  m.moving = rs.choice.moving;
  return m;
}

}  // namespace kinrad::test
