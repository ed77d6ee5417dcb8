// The move choice driven by scripted deviates on small hand-made clusters (each row: the
// fixture, the deviates, the hand-over worked out by hand from the rules of the choice, and the
// number of draws), then its statistics and invariants on the real stream.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <future>
#include <set>
#include <string>
#include <vector>

#include "choice_fixture.hpp"

namespace kinrad::test {
namespace {

struct Expect {
  int4 ok = 1;  // 1 hand-over, 0 retry
  int4 draws = 0;
  int4 movingtype = 1, familyside = 0, moveindiv = 1, movekind = 0;
  std::vector<int4> hostfamily{};    // (1:3), empty: not checked
  std::vector<int4> hostfamilyid{};  // (1:2), empty: not checked
  std::vector<int4> moving{}, staying{};
  int4 knownsibside = -1;  // -1: not checked
  std::vector<int4> hssize{};
};

void check(ChoiceFixture& f, bool ok, const Expect& e) {
  const auto& av = annealvariables;
  const auto& ch = f.rs.choice;
  EXPECT_EQ(ok ? 1 : 0, e.ok);
  EXPECT_EQ(Script::calls, e.draws);
  EXPECT_EQ(av.moveindiv, e.moveindiv);
  EXPECT_EQ(av.movingtype, e.movingtype);
  if (!e.ok) return;
  EXPECT_EQ(ch.familyside, e.familyside);
  EXPECT_EQ(ch.movekind, e.movekind);
  if (!e.hostfamily.empty()) {
    EXPECT_EQ((std::vector<int4>{av.hostfamily(1), av.hostfamily(2), av.hostfamily(3)}),
              e.hostfamily);
  }
  if (!e.hostfamilyid.empty()) {
    EXPECT_EQ((std::vector<int4>{ch.hostfamilyid(1), ch.hostfamilyid(2)}), e.hostfamilyid);
  }
  if (!e.moving.empty() || !e.staying.empty()) {
    EXPECT_EQ(ch.moving, e.moving);
    EXPECT_EQ(ch.staying, e.staying);
  }
  if (e.knownsibside >= 0) {
    EXPECT_EQ(ch.knownsibside, e.knownsibside);
  }
  if (!e.hssize.empty()) {
    EXPECT_EQ((std::vector<int4>{ch.hssize(1), ch.hssize(2)}), e.hssize);
  }
}

// Three offspring in one cluster: (father, mother) = (1, 1), (1, 2), (2, 2).
ChoiceSample three_families() {
  ChoiceSample s;
  s.fam1 = {1, 1, 2};
  s.fam2 = {1, 2, 2};
  return s;
}

TEST(MoveChoiceBranches, FamilyMoveKindAndSide) {
  SourceOff off;
  struct Row {
    const char* name;
    real8 sideprob;
    bool knownfather, haploid;
    std::vector<real8> u;
    Expect e;
  };
  // fammovethreshold x = 0.85 and rate 1: a family move when u >= 0.85 + 0.5 x 0.15 = 0.925.
  // Offspring 1 (u = 0.0) is taken at once (weights 1000/1000). Its father has two offspring
  // in the cluster, its mother one.
  const std::vector<Row> rows = {
      {"side drawn: 0.5 > 0.3 gives side 1",
       0.5,
       false,
       false,
       {0.95, 0.3, 0.0, 0.5},
       {1, 4, 2, 1, 1, 0, {1, 1, 1}, {1, 1}, {}, {}, 0, {2, 1}}},
      {"side drawn: 0.5 > 0.7 fails, side 2",
       0.5,
       false,
       false,
       {0.95, 0.7, 0.0, 0.5},
       {1, 4, 2, 2, 1, 0, {1, 1, 1}, {}, {}, {}, 0, {2, 1}}},
      {"sideprob -1.0: side 2 without a draw",
       -1.0,
       false,
       false,
       {0.95, 0.0, 0.5},
       {1, 3, 2, 2, 1, 0}},
      {"sideprob 2.0: side 1 without a draw",
       2.0,
       false,
       false,
       {0.95, 0.0, 0.5},
       {1, 3, 2, 1, 1, 0}},
      {"known father on side 1: retry",
       0.5,
       true,
       false,
       {0.95, 0.3, 0.0, 0.5},
       {0, 4, 2, 1, 1, 0}},
      {"haploid offspring: side 2", 0.5, false, true, {0.95, 0.3, 0.0, 0.5}, {1, 4, 2, 2, 1, 0}},
      {"u = 0.924 just below the bar: individual move",
       0.5,
       false,
       false,
       {0.924, 0.0, 0.5},
       {-1, 0, 1, 0, 1, 0}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ChoiceFixture f;
    f.build(three_families());
    f.rs.sched.fammovethreshold = 0.85;
    f.rs.sched.sideprob = r.sideprob;
    if (r.knownfather) variables.indivparent(1, 1) = 3;
    if (r.haploid) {
      variables.haplodiploid = 1;
      f.set_ploidy(1, 1);
    }
    Script::set(r.u);
    if (r.e.ok < 0) {
      // Only the kind of move is looked at: the first three draws.
      Script::set(r.u, 0.99);
      choose_move(f.rs);
      EXPECT_EQ(annealvariables.movingtype, 1);
      continue;
    }
    const bool ok = choose_move(f.rs);
    check(f, ok, r.e);
    if (ok) {
      EXPECT_EQ(annealvariables.numindiv(1), 0);
      EXPECT_EQ(annealvariables.numindiv(2), 0);
    }
  }
}

// One parent pool with selfing, two offspring of the outcrossed pair (1, 2): a cluster of one
// full-sib family. Draws: offspring 1 (0.0, 0.5); own cluster since (1 - 0.95) x 0.8 = 0.04 >
// 0.01; outcrossed and fssize 2: u = 0.7 >= 0.5 keeps parent k = lround(0.5) + 1 = 2 with a
// new mate on side 1 (crnumfamily(1) + 1 = 3); the whole-family flag (0.25 x 0 + 0.25) / 2 =
// 0.125 > 0.9 fails; the split at a locus needs u <= 0.5 / 1.5: 0.9 fails, it moves alone.
TEST(MoveChoiceBranches, HalfRoundsAwayFromZeroInTheSideDraw) {
  SourceOff off;
  ChoiceFixture f;
  ChoiceSample s;
  s.numsex = 1;
  s.inbreeding = 1;
  s.fam1 = {1, 1};
  s.fam2 = {2, 2};
  f.build(s);
  Script::set({0.0, 0.5, 0.01, 0.7, 0.5, 0.9, 0.9});
  const bool ok = choose_move(f.rs);
  Expect e;
  e.draws = 7;
  e.movekind = 1;
  e.hostfamily = {3, 2, 1};
  e.hostfamilyid = {1, 1};
  e.moving = {1};
  e.staying = {2};
  check(f, ok, e);
  EXPECT_EQ(f.rs.choice.moveset, 1);
}

// Two offspring of one family whose paternal and maternal known sibships the whole cluster
// shares: the destination search fails before any draw of its own. Draws: offspring (2), the
// own-cluster test (1), the honoured side lround(0.3 + 1.0) = 1 (1).
TEST(MoveChoiceBranches, PreCheckFailsWithoutADraw) {
  SourceOff off;
  ChoiceFixture f;
  ChoiceSample s;
  s.fam1 = {1, 1};
  s.fam2 = {1, 1};
  f.build(s);
  f.set_known_sibships({5, 5}, {7, 7});
  Script::set({0.0, 0.5, 0.01, 0.3});
  const bool ok = choose_move(f.rs);
  Expect e;
  e.ok = 0;
  e.draws = 4;
  e.movekind = 1;
  check(f, ok, e);
  EXPECT_EQ(f.rs.choice.knownsibside, 1);
  EXPECT_EQ(f.rs.choice.movepos(2), -1);
}

struct DirectSearch {
  ChoiceFixture f;
  FStatic<int4, 1, 3> crrtpos{};
  void at(int4 mi) {
    auto& av = annealvariables;
    av.moveindiv = mi;
    av.movefamily(1) = variables.crindivloc(mi, 1);
    av.movefamily(2) = variables.crindivloc(mi, 2);
    familybuild0(variables.crindivloc(mi, 3), 1);
    crrtpos(1) = av.indivclusterid(mi, 3);
    crrtpos(2) = av.indivclusterid(mi, 1);
    crrtpos(3) = av.indivclusterid(mi, 2);
    if (av.numberfsfamily1 == 1) crrtpos(1) = crrtpos(2) = crrtpos(3) = 1;
    prepare_choice(f.rs);
  }
};

// One father and one mother, no known sibships: with every deviate 0.5 each attempt keeps the
// current pair (0.1 x 1 / 2 = 0.05 > 0.5 fails, position int(0.5 + 1) = 1, two draws per sex):
// 99 attempts of 4 draws, then failure.
TEST(DestinationSearch, OneParentEachGivesNinetyNineRetries) {
  SourceOff off;
  DirectSearch d;
  ChoiceSample s;
  s.fam1 = {1, 1, 1};
  s.fam2 = {1, 1, 1};
  d.f.build(s);
  d.at(1);
  Script::set({}, 0.5);
  findhostfamilyid(d.f.rs, 1, d.crrtpos);
  EXPECT_EQ(d.crrtpos(2), -1);
  EXPECT_EQ(Script::calls, 396);
}

// One father, three mothers; offspring 1 in family (1, 1). Draws per sex: the new-parent test
// (0.9) and the position (0.5): father 1 stays, mother int(3 x 0.5 + 1) = 2. The mother changes
// (c = 2): with 9 candidates there is no redirect and no draw; with 10 and a list of two the
// redirect draws 0.99 > 80 / (80 + ln 3) = 0.98646 and 0.3 <= 0.6 takes slot 1, candidate 7,
// assigned to the first member of family 3 (mother 3).
TEST(DestinationSearch, BestCandidateRedirect) {
  SourceOff off;
  struct Row {
    const char* name;
    int4 ncand2;
    int4 nb;
    int4 draws;
    int4 mother;
  };
  const std::vector<Row> rows = {{"nine candidates: no redirect", 9, 2, 4, 2},
                                 {"no list: no redirect", 10, 0, 4, 2},
                                 {"list of two: redirect to candidate 7", 10, 2, 6, 3}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    DirectSearch d;
    ChoiceSample s;
    s.fam1 = {1, 1, 1};
    s.fam2 = {1, 2, 3};
    s.ncand2 = r.ncand2;
    d.f.build(s);
    auto& v = variables;
    v.numbestcnd(1, 2) = static_cast<int1>(r.nb);
    v.bestcnd(1, 6) = 7;
    v.bestcnd(1, 7) = 8;
    v.prbbestcnd(1, 6) = 0.6;
    v.prbbestcnd(1, 7) = 1.00000001;
    v.inferparent2(3, 2) = 7;
    d.at(1);
    Script::set({0.9, 0.5, 0.9, 0.5, 0.99, 0.3});
    findhostfamilyid(d.f.rs, 1, d.crrtpos);
    EXPECT_EQ(d.crrtpos(2), 1);
    EXPECT_EQ(Script::calls, r.draws);
    EXPECT_EQ(d.f.rs.choice.hostfamilyid(1), 1);
    EXPECT_EQ(d.f.rs.choice.hostfamilyid(2), r.mother);
    EXPECT_EQ(annealvariables.hostfamily(2), r.mother);
  }
}

// A list whose only reachable slot is the current parent: the redirect gives up after 100
// redraws (101 draws after the threshold draw) and the destination stays.
TEST(DestinationSearch, RedirectIsBounded) {
  SourceOff off;
  DirectSearch d;
  ChoiceSample s;
  s.fam1 = {1, 1, 1};
  s.fam2 = {1, 2, 3};
  s.ncand2 = 10;
  d.f.build(s);
  auto& v = variables;
  v.numbestcnd(1, 2) = 2;
  v.bestcnd(1, 6) = 7;
  v.bestcnd(1, 7) = 8;
  v.prbbestcnd(1, 6) = 1.00000001;
  v.prbbestcnd(1, 7) = 1.00000001;
  v.inferparent2(1, 2) = 7;
  d.at(1);
  // 8 is never reached: slot 1 (7, the current mother) is always the first with u <= prb.
  v.bestcnd(1, 7) = 7;
  Script::set({0.9, 0.5, 0.9, 0.5, 0.99}, 0.3);
  findhostfamilyid(d.f.rs, 1, d.crrtpos);
  EXPECT_EQ(d.crrtpos(2), 1);
  EXPECT_EQ(Script::calls, 5 + 101);
  EXPECT_EQ(d.f.rs.choice.hostfamilyid(2), 2);
}

// Haplodiploid: a haploid offspring never receives a new mother, and its father comes from a
// family of that mother.
TEST(DestinationSearch, HaploidOffspringKeepExistingMothers) {
  SourceOff off;
  DirectSearch d;
  ChoiceSample s;
  s.haplo = 1;
  s.fam1 = {1, 2, 1, 3, 2, 3};
  s.fam2 = {1, 1, 2, 2, 3, 3};
  d.f.build(s);
  for (int4 i : {1, 3, 5}) d.f.set_ploidy(i, 1);
  auto& v = variables;
  d.at(1);
  for (int4 k = 0; k < 2000; ++k) {
    FStatic<int4, 1, 3> pos = d.crrtpos;
    findhostfamilyid(d.f.rs, 1, pos);
    if (pos(2) < 0) continue;
    const int4 hf1 = annealvariables.hostfamily(1), hf2 = annealvariables.hostfamily(2);
    ASSERT_LE(hf2, v.crnumfamily(2));
    bool pair = false;
    for (int4 i = 1; i <= v.smplsize; ++i)
      pair |= v.crindivloc(i, 1) == hf1 && v.crindivloc(i, 2) == hf2;
    EXPECT_TRUE(pair) << hf1 << " " << hf2;
  }
}

// One parent pool without selfing, another cluster of the families (2, 3), (3, 4), (4, 2),
// (4, 5): role-1 positions 2, 3, 4 -> 1, 2, 3; role-2 positions 3, 4, 2, 5 -> 1, 2, 3, 4.
// Attempt 1 draws role 1 at int(3 x 0.5 + 1) = 2 (id 3) and role 2 at int(4 x 0.6 + 1) = 3
// (id 2): (3, 2) mirrors the family (2, 3) and is retried. Attempt 2 draws (3, 5) (int(4 x 0.8
// + 1) = 4), whose mirror is no family; the role exchange (chance 0.1) is not drawn with 0.5.
TEST(DestinationSearch, OnePoolRetriesAMirroredFamilyInMode2) {
  SourceOff off;
  DirectSearch d;
  ChoiceSample s;
  s.numsex = 1;
  s.fam1 = {1, 2, 3, 4, 4};
  s.fam2 = {9, 3, 4, 2, 5};
  d.f.build(s);
  auto& v = variables;
  auto& av = annealvariables;
  d.at(1);
  familybuild0(v.crindivloc(2, 3), 2);
  Script::set({0.9, 0.5, 0.9, 0.6, 0.9, 0.5, 0.9, 0.8, 0.5});
  findhostfamilyid(d.f.rs, 2, d.crrtpos);
  EXPECT_EQ(d.crrtpos(2), 1);
  EXPECT_EQ(Script::calls, 9);
  EXPECT_EQ(av.hostfamily(1), 3);
  EXPECT_EQ(av.hostfamily(2), 5);
  EXPECT_EQ(d.f.rs.choice.hostfamilyid(1), 2);
  EXPECT_EQ(d.f.rs.choice.hostfamilyid(2), 4);
}

// One parent pool that can self, the first role monogamous, a move to another cluster of two
// full-sib families (3, 4) and (5, 4): the rule for one monogamous sex draws the destination
// family number v = int(0.5 x 2 x 1.5 + 1) = 2, then one draw whose value it does not use,
// then p = 0.2 > 0.9 fails: the destination is family (5, 4) itself. Draws: offspring (2), own
// cluster 0.9 > 0.04 fails, cluster int(5 x 0.3 + 1) = 2 (2), the family (1), the unused one
// (1), p (1), the orientation test 0.2 (1).
TEST(MoveChoiceBranches, UnusedDrawIsStillDrawn) {
  SourceOff off;
  for (real8 unused : {0.01, 0.99}) {
    SCOPED_TRACE(unused);
    ChoiceFixture f;
    ChoiceSample s;
    s.numsex = 1;
    s.inbreeding = 1;
    s.mono1 = 1;
    s.fam1 = {1, 3, 5};
    s.fam2 = {2, 4, 4};
    f.build(s);
    Script::set({0.0, 0.5, 0.9, 0.3, 0.5, unused, 0.9, 0.2});
    const bool ok = choose_move(f.rs);
    Expect e;
    e.draws = 8;
    e.movekind = 2;
    e.hostfamily = {5, 4, 2};
    e.hostfamilyid = {2, 1};
    e.moving = {1};
    e.staying = {};
    check(f, ok, e);
  }
}

// Two fathers, two mothers; offspring 1 in family (1, 1), its father with three offspring, its
// mother with two. Draws: offspring (2); own cluster (1 - 0.95 / sqrt 3) x 0.8 = 0.361 > 0.1
// (1); the split (0.05f + 0.5) x 1.1f = 0.605 > 0.01 (1); side lround(0.5) + 1 = 2 (1); no
// locus, 0.7 > 0.99 fails (1): type 0 marks every member of mother 1's families, offspring 1
// and 3. Side 2 is then honoured without a draw. Destination search (4): father int(2 x 0.9 +
// 1) = 2, mother int(2 x 0.2 + 1) = 1: family (2, 1). The new parent for a diploid: 0.92 > u.
TEST(MoveChoiceBranches, TemporarySplitAndNewParent) {
  SourceOff off;
  struct Row {
    const char* name;
    real8 u12;
    std::vector<int4> hostfamily, hostfamilyid;
  };
  // With 0.5 the new parent goes on side 1 (the known maternal sibship, now the split's).
  const std::vector<Row> rows = {{"no new parent", 0.95, {2, 1, 1}, {2, 1}},
                                 {"new father", 0.5, {3, 1, 1}, {3, 1}}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ChoiceFixture f;
    ChoiceSample s;
    s.fam1 = {1, 1, 2, 1};
    s.fam2 = {1, 2, 1, 2};
    f.build(s);
    Script::set({0.0, 0.5, 0.1, 0.01, 0.5, 0.99, 0.9, 0.9, 0.9, 0.2, r.u12});
    const bool ok = choose_move(f.rs);
    Expect e;
    e.draws = 11;
    e.movekind = 1;
    e.hostfamily = r.hostfamily;
    e.hostfamilyid = r.hostfamilyid;
    e.knownsibside = 2;
    e.moving = {1};
    e.hssize = {3, 2};
    check(f, ok, e);
    auto& v = variables;
    EXPECT_EQ(f.rs.splitside, 2);
    EXPECT_EQ(v.setknownsibindiv(0, 2), 2);
    EXPECT_EQ(v.setknownsibindiv(1, 2), 1);
    EXPECT_EQ(v.setknownsibindiv(2, 2), 3);
    EXPECT_EQ(v.knownsibship(1, 2), 1);
    EXPECT_EQ(v.knownsibship(3, 2), 1);
    EXPECT_EQ(v.knownsibship(2, 2), 0);
    // The next proposal clears the marks first.
    Script::set({0.0, 0.5}, 0.99);
    choose_move(f.rs);
    EXPECT_EQ(v.knownsibship(1, 2), 0);
    EXPECT_EQ(v.knownsibship(3, 2), 0);
  }
}

// --- The real stream -------------------------------------------------------------------------

constexpr int4 kDraws = 20000;

// Binomial share within 4 standard deviations.
void expect_share(int8 hits, int8 n, real8 p) {
  const real8 sd = std::sqrt(p * (1.0 - p) / static_cast<real8>(n));
  EXPECT_NEAR(static_cast<real8>(hits) / static_cast<real8>(n), p, 4.0 * sd);
}

ChoiceSample singletons(int4 n) {
  ChoiceSample s;
  for (int4 i = 1; i <= n; ++i) {
    s.fam1.push_back(i);
    s.fam2.push_back(i);
  }
  return s;
}

// Ten clusters of one offspring: the own-cluster test keeps the own cluster with chance
// (1 - 0.95 / sqrt 1) x withinfactor = 0.05 withinfactor; otherwise k = lround(max(1, 2) / 1)
// = 2 and the index int(13 u + 1), capped at 11, is a new cluster with chance 3/13 and the
// own cluster with chance 1/13.
TEST(MoveChoiceStatistics, DestinationShares) {
  SourceOff off;
  for (real8 wf : {0.0, 1.00001}) {
    SCOPED_TRACE(wf);
    ChoiceFixture f;
    f.build(singletons(10));
    f.rs.cp.withinfactor = wf;
    int8 fresh = 0, own = 0;
    for (int4 k = 0; k < kDraws; ++k) {
      choose_move(f.rs);
      ASSERT_EQ(annealvariables.movingtype, 1);
      fresh += f.rs.choice.movekind == 3;
      own += f.rs.choice.movekind == 1;
    }
    // The drawn index may also fall on the own cluster (1 of 13).
    const real8 stay = 0.05 * wf;
    expect_share(own, kDraws, stay + (1.0 - stay) / 13.0);
    expect_share(fresh, kDraws, (1.0 - stay) * 3.0 / 13.0);
  }
}

TEST(MoveChoiceStatistics, FamilyMoveSides) {
  SourceOff off;
  for (real8 sp : {-1.0, 2.0, 0.3}) {
    SCOPED_TRACE(sp);
    ChoiceFixture f;
    f.build(three_families());
    f.rs.sched.fammovethreshold = 0.5;
    f.rs.sched.sideprob = sp;
    int8 fam = 0, side1 = 0;
    for (int4 k = 0; k < kDraws; ++k) {
      choose_move(f.rs);
      if (annealvariables.movingtype != 2) continue;
      ++fam;
      side1 += f.rs.choice.familyside == 1;
    }
    // x = 0.5, rate 1: a family move when u >= 0.75.
    expect_share(fam, kDraws, 0.25);
    if (sp < 0.0)
      EXPECT_EQ(side1, 0);
    else if (sp > 1.0)
      EXPECT_EQ(side1, fam);
    else
      expect_share(side1, fam, sp);
  }
}

// With weights (1000, 1000) the offspring is the first one drawn: int(u x n + 1) of the first
// deviate of the stream (read from a copy of it).
TEST(MoveChoiceStatistics, EqualWeightsTakeTheFirstDraw) {
  SourceOff off;
  ChoiceFixture f;
  f.build(singletons(10));
  for (int4 k = 0; k < 200; ++k) {
    const auto stream = testing_support::Ran2State::save();
    const real8 u1 = ran2();
    stream.restore();
    choose_move(f.rs);
    EXPECT_EQ(annealvariables.moveindiv, static_cast<int4>(u1 * 10 + 1.0));
  }
}

// Temporary splits over many proposals: the marks equal the lists, a retry keeps them, the
// next proposal clears them and knownsibship is as before.
TEST(MoveChoiceStatistics, TemporarySplitMarksAreUndone) {
  SourceOff off;
  ChoiceFixture f;
  ChoiceSample s;
  s.fam1 = {1, 1, 2, 1, 2, 2, 3, 3};
  s.fam2 = {1, 2, 1, 2, 1, 3, 3, 2};
  f.build(s);
  f.set_known_sibships({0, 0, 0, 0, 0, 0, 0, 9}, {0, 0, 0, 0, 0, 0, 0, 0});
  auto& v = variables;
  const int4 n = v.smplsize;
  std::vector<int4> before;
  for (int4 i = 1; i <= n; ++i)
    for (int4 sx = 1; sx <= 2; ++sx) before.push_back(v.knownsibship(i, sx));
  int4 splits = 0;
  for (int4 k = 0; k < kDraws; ++k) {
    const bool ok = choose_move(f.rs);
    if (f.rs.splitside == 0) continue;
    ++splits;
    std::vector<int4> now = before;
    for (int4 sx = 1; sx <= 2; ++sx)
      for (int4 t = 1; t <= v.setknownsibindiv(0, sx); ++t) {
        const int4 m = v.setknownsibindiv(t, sx);
        EXPECT_EQ(v.knownsibship(m, sx), f.rs.choice.tempsibid);
        now[static_cast<std::size_t>(2 * (m - 1) + sx - 1)] = f.rs.choice.tempsibid;
      }
    for (int4 i = 1; i <= n; ++i)
      for (int4 sx = 1; sx <= 2; ++sx)
        ASSERT_EQ(v.knownsibship(i, sx), now[static_cast<std::size_t>(2 * (i - 1) + sx - 1)]);
    (void)ok;
    // The next proposal's first steps clear them (a retry leaves them until then).
    resetknownsib(f.rs.splitside);
    for (int4 i = 1; i <= n; ++i)
      for (int4 sx = 1; sx <= 2; ++sx)
        ASSERT_EQ(v.knownsibship(i, sx), before[static_cast<std::size_t>(2 * (i - 1) + sx - 1)]);
  }
  EXPECT_GT(splits, 0);
}

// --- findlocus ------------------------------------------------------------------------------

// Offspring 1 typed at one dominant two-allele locus only (two dominant loci, two of four
// alleles): domlociprb = 2 / (2 x 2 + 2) = 1/3, and the search ends at locus 1.
TEST(FindLocus, OneDominantLocusEnds) {
  SourceOff off;
  ChoiceFixture f;
  ChoiceSample s = singletons(3);
  s.twoallele = 2;
  s.dominant = true;
  s.loci = 2;
  f.build(s);
  for (int4 l = 3; l <= 4; ++l) ChoiceFixture::genotype(1, l) = 0;
  ChoiceFixture::set_two_allele(1, 1, 1, 1);
  annealvariables.moveindiv = 1;
  for (int4 k = 0; k < 100; ++k) {
    int4 partner = 0, locus = 0;
    int2 g = 0;
    findlocus(f.rs, 1, 0, partner, g, locus);
    EXPECT_EQ(locus, 1);
    EXPECT_EQ(g, 1);
    EXPECT_EQ(partner, 0);
  }
  EXPECT_DOUBLE_EQ(run_memos.domlociprb, 2.0 / 6.0);
}

// A partner of equal genotype stops at once: the partner is the single member of the
// destination family (no draw), then one locus draw.
TEST(FindLocus, EqualPartnerGenotypeStopsAtOnce) {
  SourceOff off;
  ChoiceFixture f;
  ChoiceSample s;
  s.fam1 = {1, 1, 1};
  s.fam2 = {1, 1, 2};
  f.build(s);
  auto& av = annealvariables;
  av.moveindiv = 1;
  familybuild0(1, 1);
  av.hostfamily(1) = 1;
  av.hostfamily(2) = 2;
  av.hostfamily(3) = 1;
  Script::set({0.5});
  int4 partner = 1, locus = 0;
  int2 g = 0;
  findlocus(f.rs, 1, 0, partner, g, locus);
  EXPECT_EQ(partner, 3);
  EXPECT_EQ(locus, 2);
  EXPECT_EQ(g, gnum(1, 2));
  EXPECT_EQ(Script::calls, 1);
}

// An offspring typed at no locus: proposals go on (under a timeout), and it never splits its
// family at a locus.
TEST(FindLocus, UntypedOffspringDoesNotHang) {
  SourceOff off;
  ChoiceFixture f;
  ChoiceSample s;
  s.fam1 = {1, 1, 1, 1, 2, 2, 1, 2};
  s.fam2 = {1, 1, 1, 2, 2, 1, 2, 3};
  f.build(s);
  for (int4 l = 1; l <= 3; ++l) ChoiceFixture::genotype(1, l) = 0;
  auto run = std::async(std::launch::async, [&] {
    int4 alone = 0;
    for (int4 k = 0; k < kDraws; ++k) {
      if (!choose_move(f.rs)) continue;
      if (annealvariables.moveindiv == 1 && annealvariables.movingtype == 1) {
        EXPECT_NE(f.rs.choice.moveset, 4);
        EXPECT_EQ(f.rs.choice.splittype, 0);
        ++alone;
      }
    }
    return alone;
  });
  ASSERT_EQ(run.wait_for(std::chrono::seconds(25)), std::future_status::ready)
      << "the choice hangs on an untyped offspring";
  EXPECT_GT(run.get(), 0);
}

}  // namespace
}  // namespace kinrad::test
