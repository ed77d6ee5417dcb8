// Validity checks of a proposal: one tiny fixture per constraint with a proposal that breaks it
// and one that keeps it (the expected verdicts follow from the constraint, read by hand, and the
// independent validator of check_fixture.hpp agrees on every case that is a constraint of the
// data), the equality path (its one draw and its admission frequency), and the state the test
// must leave as it found it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "check_fixture.hpp"
#include "configuration/configuration.hpp"
#include "core/random_numbers.hpp"
#include "support/ran2_state.hpp"

namespace kinrad::test {
namespace {

using testing_support::build_individual_move;
using testing_support::IndividualMove;
using Parents = std::map<std::pair<int4, int4>, int4>;

using testing_support::start_stream;

// An individual move; a destination cluster of 0 means a new cluster (its id one above the
// clusters in use). Returns the kind of destination.
int4 move(int4 o, std::vector<int4> sibs, int4 d1, int4 d2, int4 cluster) {
  const int4 kind = build_individual_move(IndividualMove{o, std::move(sibs), d1, d2, cluster});
  if (cluster == 0) annealvariables.hostfamily(3) = variables.crnumfamily(3) + 1;
  annealvariables.numindivparentage(1) = 0;
  annealvariables.numindivparentage(2) = 0;
  return kind;
}

struct Verdict {
  int4 configok;
  int4 refusal;
  std::string validator;
};

// Builds a proposal, checks it, and asks the validator about it.
Verdict judge(const std::function<int4()>& proposal) {
  const int4 kind = proposal();
  const Snapshot before = Snapshot::take();
  const int4 ok = run_check(kind);
  Verdict v{ok, annealvariables.checkrefusal, validate_proposal()};
  EXPECT_TRUE(scratch_clear());
  if (annealvariables.equalconfig == 0) {
    EXPECT_TRUE(Snapshot::take() == before);
  }
  return v;
}

struct MatrixCase {
  const char* name;
  std::function<void()> fixture;
  std::function<int4()> violating;
  std::function<int4()> respecting;
  int4 refusing_test;
  bool data_constraint;  // the validator sees the violation (not a rule of the search alone)
};

// Offspring that are candidates: offspring i is father candidate i for i in `who`.
void offspring_fathers(const std::vector<int4>& who) {
  for (int4 i : who) variables.cndinoffspring(i, 1) = i;
}

std::vector<MatrixCase> matrix() {
  std::vector<MatrixCase> cases;
  // Father 1 has mothers 1 and 2, father 2 mothers 3 and 2: one cluster.
  const auto four = [] { setup_check({}, {1, 1, 2, 2}, {1, 2, 3, 2}); };
  cases.push_back({"maximum matings",
                   [four] {
                     four();
                     variables.maxmatings(1) = 2;
                     finish_constraints();
                   },
                   // Father 1 would have mothers 1, 2 and 3.
                   [] { return move(3, {}, 1, 3, 1); }, [] { return move(3, {}, 1, 1, 1); }, 1,
                   true});
  // One parent pool: parents 1, 2, 3 in one cluster.
  cases.push_back({"selfing without inbreeding",
                   [] {
                     setup_check({1, 0}, {1, 1, 2}, {2, 3, 3});
                     finish_constraints();
                   },
                   [] { return move(3, {}, 2, 2, 1); }, [] { return move(3, {}, 1, 2, 1); }, 2,
                   true});
  cases.push_back({"monoecious share exactly one",
                   [] {
                     setup_check({1, 0, 1, 1}, {1, 1, 3}, {2, 2, 4});
                     finish_constraints();
                   },
                   [] {
                     // Two moving offspring with parent pairs (3, 4) and (3, 5).
                     const int4 kind = move(1, {2}, 3, 4, 1);
                     annealvariables.indivloc2(2, 2) = 5;
                     return kind;
                   },
                   [] { return move(1, {2}, 5, 6, 1); }, 2, true});
  // Father candidate 1 is also mother candidate 1.
  const auto crosslisted = [] {
    setup_check({2, 0, 0, 0, 3, 3}, {1, 1, 2}, {1, 1, 2});
    variables.cndinothersex(1, 1) = 1;
    variables.cndinothersex(1, 2) = 1;
    finish_constraints();
  };
  cases.push_back({"other-sex listing assigned",
                   [crosslisted] {
                     crosslisted();
                     set_parents({{{2, 2}, 1}});
                   },
                   [] {
                     const int4 kind = move(1, {}, 3, 1, 1);
                     propose_parents({{{1, 3}, 1}});
                     return kind;
                   },
                   [] {
                     const int4 kind = move(1, {}, 3, 1, 1);
                     propose_parents({{{1, 3}, 2}});
                     return kind;
                   },
                   3, true});
  cases.push_back({"other-sex listing proposed",
                   [crosslisted] {
                     crosslisted();
                     set_parents({});
                   },
                   [] {
                     const int4 kind = move(1, {}, 3, 3, 1);
                     propose_parents({{{1, 3}, 1}, {{2, 3}, 1}});
                     return kind;
                   },
                   [] {
                     const int4 kind = move(1, {}, 3, 3, 1);
                     propose_parents({{{1, 3}, 1}, {{2, 3}, 2}});
                     return kind;
                   },
                   3, true});
  // Offspring 1 and 2 are father candidates 1 and 2; offspring 2 is the father of offspring 1.
  cases.push_back({"own parent",
                   [] {
                     setup_check({2, 0, 0, 0, 3, 0}, {1, 2}, {1, 2});
                     offspring_fathers({1, 2});
                     finish_constraints();
                     set_parents({{{1, 1}, 2}});
                   },
                   [] {
                     const int4 kind = move(2, {}, 3, 2, 2);
                     propose_parents({{{1, 3}, 1}});
                     return kind;
                   },
                   [] {
                     const int4 kind = move(2, {}, 3, 2, 2);
                     propose_parents({{{1, 3}, 3}});
                     return kind;
                   },
                   3, true});
  // Offspring 2 fathers offspring 1, offspring 3 fathers offspring 2.
  cases.push_back({"own grandparent",
                   [] {
                     setup_check({2, 0, 0, 0, 4, 0}, {1, 2, 3}, {1, 2, 3});
                     offspring_fathers({1, 2, 3});
                     finish_constraints();
                     set_parents({{{1, 1}, 2}, {{1, 2}, 3}});
                   },
                   [] {
                     const int4 kind = move(3, {}, 4, 3, 3);
                     propose_parents({{{1, 4}, 1}});
                     return kind;
                   },
                   [] {
                     const int4 kind = move(3, {}, 4, 3, 3);
                     propose_parents({{{1, 4}, 4}});
                     return kind;
                   },
                   3, true});
  // Offspring i + 1 fathers offspring i for i = 1..3; offspring 1 proposed as father of 4
  // closes a loop of four generations, which only the walk through the whole ancestry sees.
  cases.push_back({"four-generation loop",
                   [] {
                     setup_check({2, 0, 0, 0, 5, 0}, {1, 2, 3, 4}, {1, 2, 3, 4});
                     offspring_fathers({1, 2, 3, 4});
                     finish_constraints();
                     set_parents({{{1, 1}, 2}, {{1, 2}, 3}, {{1, 3}, 4}});
                   },
                   [] {
                     const int4 kind = move(4, {}, 5, 4, 4);
                     propose_parents({{{1, 5}, 1}});
                     return kind;
                   },
                   [] {
                     const int4 kind = move(4, {}, 5, 4, 4);
                     propose_parents({{{1, 5}, 5}});
                     return kind;
                   },
                   5, true});
  // Offspring 1 and 2 form known paternal sibship 1.
  cases.push_back({"known sibship split",
                   [] {
                     setup_check({}, {1, 1, 1}, {1, 1, 2});
                     variables.knownsibship(1, 1) = 1;
                     variables.knownsibship(2, 1) = 1;
                     finish_constraints();
                   },
                   [] { return move(1, {}, 2, 1, 1); }, [] { return move(1, {}, 1, 2, 1); }, 6,
                   true});
  cases.push_back({"known sibship left behind in the former cluster",
                   [] {
                     setup_check({}, {1, 1, 1}, {1, 1, 2});
                     variables.knownsibship(1, 1) = 1;
                     variables.knownsibship(2, 1) = 1;
                     finish_constraints();
                   },
                   [] { return move(1, {}, 2, 3, 0); }, [] { return move(3, {}, 2, 3, 0); }, 6,
                   true});
  cases.push_back({"negative ids in one family",
                   [] {
                     setup_check({}, {1, 2}, {1, 1});
                     variables.knownsibship(1, 1) = -1;
                     variables.knownsibship(2, 1) = -2;
                     finish_constraints();
                   },
                   // Offspring 2 alone under a new mother: its id stays apart from offspring 1's.
                   [] { return move(1, {}, 2, 1, 1); }, [] { return move(2, {}, 3, 2, 1); }, 6,
                   true});
  // Different positive ids may share a family: the same move is admitted.
  cases.push_back({"positive ids in one family",
                   [] {
                     setup_check({}, {1, 1, 2}, {1, 1, 1});
                     variables.knownsibship(1, 1) = 1;
                     variables.knownsibship(2, 1) = 1;
                     variables.knownsibship(3, 1) = 2;
                     finish_constraints();
                   },
                   // Offspring 1 leaving its known sibship 1 is the violation; offspring 3 taking
                   // sibship 2 into the paternal family of sibship 1 is allowed.
                   [] { return move(1, {}, 2, 1, 1); }, [] { return move(3, {}, 1, 1, 1); }, 6,
                   true});
  // Offspring 1 has known father candidate 1.
  cases.push_back({"known parent replaced",
                   [] {
                     setup_check({2, 0, 0, 0, 3, 0}, {1, 1, 1}, {1, 2, 2});
                     variables.indivparent(1, 1) = 1;
                     finish_constraints();
                     set_parents({{{1, 1}, 1}});
                   },
                   [] {
                     const int4 kind = move(2, {}, 1, 1, 1);
                     propose_parents({{{1, 1}, 2}});
                     return kind;
                   },
                   [] {
                     const int4 kind = move(2, {}, 1, 1, 1);
                     propose_parents({});
                     return kind;
                   },
                   7, true});
  // Offspring 1 and 2 may not share a mother; sharing a father is allowed.
  cases.push_back({"excluded sibship of sex 2",
                   [] {
                     setup_check({}, {1, 2, 2}, {1, 2, 1});
                     exclude_sibs(1, 2, 2);
                     finish_constraints();
                   },
                   [] { return move(2, {}, 2, 1, 1); }, [] { return move(2, {}, 1, 2, 1); }, 8,
                   true});
  cases.push_back({"parent conflict, listed offspring",
                   [] {
                     setup_check({}, {1, 2, 1}, {1, 2, 2});
                     set_conflict(1, 1, 1, false, {2});
                     set_conflict(2, 1, 2, false, {1});
                     finish_constraints();
                   },
                   [] { return move(2, {}, 1, 2, 1); }, [] { return move(2, {}, 3, 1, 1); }, 9,
                   true});
  cases.push_back({"parent conflict, only the listed allowed",
                   [] {
                     setup_check({}, {1, 2, 3}, {1, 1, 1});
                     set_conflict(2, 1, 1, true, {3});
                     set_conflict(1, 1, 2, false, {2});
                     finish_constraints();
                   },
                   [] { return move(2, {}, 1, 1, 1); }, [] { return move(2, {}, 3, 1, 1); }, 9,
                   true});
  // Offspring 1 leaves its full sib 2 for a new father 3 whose candidate is proposed.
  const auto excluded = [](int4 count, std::vector<int4> list) {
    return [count, list] {
      setup_check({2, 0, 0, 0, 3, 0}, {1, 1, 2}, {1, 1, 1});
      set_excluded_parents(1, 1, count, list);
      finish_constraints();
    };
  };
  const auto propose_father = [](int4 c) {
    return [c] {
      const int4 kind = move(1, {}, 3, 1, 1);
      propose_parents({{{1, 3}, c}});
      return kind;
    };
  };
  cases.push_back({"excluded parents, all", excluded(3, {1, 2, 3}), propose_father(2),
                   propose_father(0), 10, true});
  cases.push_back({"excluded parents, listed", excluded(1, {2}), propose_father(2),
                   propose_father(3), 10, true});
  cases.push_back({"excluded parents, only the listed allowed", excluded(-1, {3}),
                   propose_father(2), propose_father(3), 10, true});
  cases.push_back({"excluded parents, none", excluded(0, {}), nullptr, propose_father(2), 0, true});
  // Haploid offspring 2 and 4 (placeholder fathers 1 and 2) of mothers 1 and 2.
  cases.push_back({"haploid placement",
                   [] {
                     setup_check({}, {1, 1, 2, 2, 1}, {1, 1, 2, 2, 2});
                     variables.offploid(2) = 1;
                     variables.offploid(4) = 1;
                     variables.haplodiploid = 1;
                     finish_constraints();
                   },
                   // Mother 2 would carry two placeholder fathers.
                   [] { return move(2, {}, 3, 2, 1); }, [] { return move(2, {}, 2, 2, 1); }, 11,
                   false});
  cases.push_back({"whole family into a new cluster",
                   [] {
                     setup_check({}, {1, 1}, {1, 1});
                     finish_constraints();
                   },
                   [] { return move(1, {2}, 2, 2, 0); }, [] { return move(1, {}, 2, 2, 0); }, 12,
                   false});
  return cases;
}

TEST(CheckConfiguration, ConstraintMatrix) {
  for (const MatrixCase& c : matrix()) {
    SCOPED_TRACE(c.name);
    if (c.violating) {
      c.fixture();
      const Verdict bad = judge(c.violating);
      EXPECT_EQ(bad.configok, 0);
      EXPECT_EQ(bad.refusal, c.refusing_test);
      if (c.data_constraint) {
        EXPECT_NE(bad.validator, "");
      }
    }
    c.fixture();
    const Verdict good = judge(c.respecting);
    EXPECT_EQ(good.configok, 1);
    EXPECT_EQ(good.refusal, 0);
    EXPECT_EQ(good.validator, "");
  }
}

// With both mating limits at the sample size no count is made: the move that gives father 1 a
// third mate is admitted.
TEST(CheckConfiguration, UnconstrainedMatingsAreNotCounted) {
  setup_check({}, {1, 1, 2, 2}, {1, 2, 3, 2});
  finish_constraints();
  EXPECT_EQ(judge([] { return move(3, {}, 1, 3, 1); }).configok, 1);
}

// The mates a destination father would have when the move honours a known maternal sibship:
// those of the side-1 structure (mothers 1 and 2) and the one the moving offspring brings.
TEST(CheckConfiguration, MatingLimitCountsTheClusterMatesOfTheHonouredSide) {
  setup_check({}, {1, 1, 2, 2}, {1, 2, 3, 2});
  variables.maxmatings(1) = 2;
  variables.maxmatings(2) = 2;
  finish_constraints();
  // One moving row: the first count is not made (1 row < 2), the second finds mothers 1, 2, 3.
  build_individual_move(IndividualMove{3, {}, 1, 3, 1});
  annealvariables.numindiv(2) = 1;
  annealvariables.numindivparentage(1) = annealvariables.numindivparentage(2) = 0;
  EXPECT_EQ(run_check(1, 2), 0);
  EXPECT_EQ(annealvariables.checkrefusal, 1);
  EXPECT_TRUE(scratch_clear());
}

TEST(CheckConfiguration, SelfingIsAdmittedWithInbreeding) {
  setup_check({1, 1}, {1, 1, 2}, {2, 3, 3});
  finish_constraints();
  EXPECT_EQ(judge([] { return move(3, {}, 2, 2, 1); }).configok, 1);
}

// In a two-sex species the per-column monogamy map is not made: two moving rows whose fathers
// differ but whose mother is the same pass step 2 whatever monogamy holds.
TEST(CheckConfiguration, ColumnMonogamyMapOnlyForOnePool) {
  setup_check({2, 0, 0, 1}, {1, 1, 2}, {1, 1, 2});
  finish_constraints();
  move(1, {2}, 3, 3, 1);
  annealvariables.indivloc2(2, 1) = 4;
  EXPECT_EQ(run_check(1), 1);
}

// When the whole sample is one known paternal sibship, every offspring keeps the one father.
TEST(CheckConfiguration, WholeSampleSibshipKeepsItsFather) {
  setup_check({}, {1, 1, 1}, {1, 1, 2});
  for (int4 o = 1; o <= 3; ++o) variables.knownsibship(o, 1) = 1;
  finish_constraints();
  move(1, {}, 2, 1, 1);
  EXPECT_EQ(run_check(1, 1, 1), 0);
  EXPECT_EQ(annealvariables.checkrefusal, 6);
  move(1, {}, 1, 2, 1);
  EXPECT_EQ(run_check(1, 1, 1), 1);
  EXPECT_TRUE(scratch_clear());
}

// One parent pool: parent id 1 acts in both roles (father of offspring 1, mother of offspring
// 2), with candidate 1 as its parent and as offspring 2's known mother.
void pool_with_known_parents(bool knownfather) {
  setup_check({1, 0, 0, 0, 3, 3}, {1, 3, 2}, {2, 1, 3});
  if (knownfather) variables.indivparent(1, 1) = 1;
  variables.indivparent(2, 2) = 1;
  finish_constraints();
  set_parents({{{1, 1}, 1}, {{2, 1}, 1}});
}

// A known parent binds its family id in both roles: offspring 1 (known father 1) taking a new
// paternal id while offspring 2 (known mother 1) keeps id 1 would split the individual.
TEST(CheckConfiguration, OnePoolKnownParentBindsBothRoles) {
  pool_with_known_parents(true);
  Verdict bad = judge([] { return move(1, {}, 4, 2, 1); });
  EXPECT_EQ(bad.configok, 0);
  EXPECT_EQ(bad.refusal, 11);
  EXPECT_NE(bad.validator, "");
  pool_with_known_parents(true);
  Verdict good = judge([] { return move(1, {}, 1, 4, 1); });
  EXPECT_EQ(good.configok, 1);
  EXPECT_EQ(good.validator, "");
}

// One parent per family id across both roles: proposing candidate 2 for id 1 as a father while
// id 1 is offspring 2's mother (candidate 1) refuses.
TEST(CheckConfiguration, OnePoolOneParentPerFamilyId) {
  pool_with_known_parents(false);
  Verdict bad = judge([] {
    const int4 kind = move(1, {}, 1, 4, 1);
    propose_parents({{{1, 1}, 2}});
    return kind;
  });
  EXPECT_EQ(bad.configok, 0);
  EXPECT_EQ(bad.refusal, 11);
  EXPECT_NE(bad.validator, "");
  pool_with_known_parents(false);
  Verdict good = judge([] { return move(1, {}, 1, 4, 1); });
  EXPECT_EQ(good.configok, 1);
  EXPECT_EQ(good.validator, "");
}

// Haploid placement. Haploid offspring carry a paternal placeholder id: the id of a diploid
// family of their mother, or one id of their own that no diploid row and no other mother's
// haploid offspring use. Expected verdicts read from that rule by hand.
TEST(CheckConfiguration, HaploidPlacementTable) {
  struct Case {
    const char* name;
    bool diploids;  // the cluster of the first fixture, else a cluster of haploid offspring
    int4 o, d1, d2;
    int4 configok;
  };
  const Case cases[] = {
      {"second placeholder for one mother", true, 2, 3, 2, 0},
      {"own placeholder and mother", true, 4, 3, 3, 1},
      {"placeholder of a diploid father", true, 4, 1, 3, 0},
      {"mother with diploid offspring", true, 2, 3, 1, 0},
      {"into a diploid family of the mother", true, 2, 2, 2, 1},
      {"two haploid mothers, one placeholder", false, 2, 1, 2, 0},
      {"two haploid mothers, two placeholders", false, 2, 2, 2, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.diploids) {
      // Diploid 1 (1, 1), 3 (2, 2), 5 (1, 2); haploid 2 (1, 1), 4 (2, 2).
      setup_check({}, {1, 1, 2, 2, 1}, {1, 1, 2, 2, 2});
      variables.offploid(2) = 1;
      variables.offploid(4) = 1;
    } else {
      setup_check({}, {1, 1}, {1, 1});
      variables.offploid(1) = 1;
      variables.offploid(2) = 1;
    }
    variables.haplodiploid = 1;
    finish_constraints();
    const int4 o = c.o, d1 = c.d1, d2 = c.d2;
    const Verdict verdict = judge([o, d1, d2] { return move(o, {}, d1, d2, 1); });
    EXPECT_EQ(verdict.configok, c.configok);
    EXPECT_EQ(verdict.refusal, c.configok == 1 ? 0 : 11);
  }
}

// ---------------------------------------------------------------------------------------------
// The equality path.

// Offspring 1 (father candidate 1) moves to a new father: the grouping is the same, and the one
// proposed entry keeps its parent, so the proposal equals the current configuration.
void equal_fixture(int4 priortype, int4 haplodiploid) {
  setup_check({2, 0, 0, 0, 2, 0}, {1, 2}, {1, 1});
  variables.priortype = priortype;
  variables.haplodiploid = haplodiploid;
  finish_constraints();
  set_parents({{{1, 1}, 1}});
}

void equal_proposal() {
  auto& av = annealvariables;
  move(1, {}, 3, 1, 1);
  av.numindivparentage(1) = 1;
  av.indivparentage(1, 1) = 1;
  av.inferparentage(1, 1, 1) = 1;
  av.inferparentage(1, 1, 2) = 1;
}

// The draws made by one call: the stream after the call is compared with fresh copies of it
// advanced by 0, 1 and 2 draws.
int draws_of_one_call(int4& configok) {
  start_stream(4711);
  configok = run_check(1);
  const real8 next = ran2();
  for (int k = 0; k <= 2; ++k) {
    start_stream(4711);
    for (int j = 0; j < k; ++j) ran2();
    if (ran2() == next) return k;
  }
  return -1;
}

TEST(CheckConfiguration, EqualProposalDrawsOnceAndSwapsTheSexes) {
  equal_fixture(0, 0);
  auto& av = annealvariables;
  const int4 c = variables.crindivloc(1, 3);
  const int4 p1 = av.clustersize(1, c), p2 = av.clustersize(2, c);
  const int4 m1 = av.clustersize(5, c), m2 = av.clustersize(6, c);
  equal_proposal();
  av.rate = 1.0;  // every draw is below 1
  int4 ok = -1;
  EXPECT_EQ(draws_of_one_call(ok), 1);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(av.equalconfig, 1);
  EXPECT_EQ(av.lastfamilyid(1), 0);
  EXPECT_EQ(av.clustersize(1, c), p2);
  EXPECT_EQ(av.clustersize(2, c), p1);
  EXPECT_EQ(av.clustersize(5, c), m2);
  EXPECT_EQ(av.clustersize(6, c), m1);
  EXPECT_TRUE(scratch_clear());
}

TEST(CheckConfiguration, NoEqualityDrawWithASibshipPriorOrHaploidy) {
  struct Row {
    const char* name;
    int4 priortype, haplodiploid;
  };
  for (const Row& r : {Row{"sibship prior", 1, 0}, Row{"haplodiploid", 0, 1}}) {
    SCOPED_TRACE(r.name);
    equal_fixture(r.priortype, r.haplodiploid);
    equal_proposal();
    annealvariables.rate = 1e-9;
    int4 ok = -1;
    EXPECT_EQ(draws_of_one_call(ok), 0);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(annealvariables.equalconfig, 0);
  }
}

// Over 10^4 seeded calls at rate 0.3 an equal proposal is admitted about 3000 times (binomial,
// 4 standard deviations); a proposal that changes a parent is admitted without a draw.
TEST(CheckConfiguration, EqualProposalAdmittedWithTheTemperaturesChance) {
  equal_fixture(0, 0);
  auto& av = annealvariables;
  av.rate = 0.3;
  start_stream(99);
  const int calls = 10000;
  int admitted = 0;
  const Snapshot before = Snapshot::take();
  for (int k = 0; k < calls; ++k) {
    equal_proposal();
    const int4 c = variables.crindivloc(1, 3);
    if (run_check(1) == 1) {
      ++admitted;
      ASSERT_EQ(av.equalconfig, 1);
      std::swap(av.clustersize(1, c), av.clustersize(2, c));
      std::swap(av.clustersize(5, c), av.clustersize(6, c));
    } else {
      ASSERT_EQ(av.checkrefusal, 12);
    }
  }
  EXPECT_TRUE(Snapshot::take() == before);
  const double mean = calls * 0.3, sd = std::sqrt(calls * 0.3 * 0.7);
  EXPECT_NEAR(admitted, mean, 4 * sd);

  equal_proposal();
  av.inferparentage(1, 1, 2) = 2;
  int4 ok = -1;
  EXPECT_EQ(draws_of_one_call(ok), 0);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(av.equalconfig, 0);
}

// Without parent proposals, a move that leaves the grouping of the touched offspring as it is
// refuses ("nothing changes"); the same move with a changed grouping is admitted.
TEST(CheckConfiguration, NothingChangesRefuses) {
  setup_check({}, {1, 2}, {1, 1});
  finish_constraints();
  EXPECT_EQ(judge([] { return move(1, {}, 3, 1, 1); }).refusal, 12);
  EXPECT_EQ(judge([] { return move(1, {}, 2, 1, 1); }).configok, 1);
}

// ---------------------------------------------------------------------------------------------
// Soundness over random proposals: every proposal the test admits is a valid configuration for
// the validator, and every call leaves the state as it found it. Refusals of valid proposals
// are counted per refusing test and reported (the search's own rules refuse some on purpose).

struct Soundness {
  int admitted = 0, refused = 0, invalid_admitted = 0;
  std::map<int4, int> refused_by;     // refusing test -> count
  std::map<int4, int> valid_refused;  // refusing test -> count
  std::map<std::string, int> invalid_refused;
  std::string first_fault;
};

// A random configuration and constraints that it keeps: known parents, known sibships of both
// signs, excluded sibships, parent conflicts, excluded parents, offspring who are candidates and
// a candidate listed in both sexes, and a mating limit that the present fathers just meet.
bool constrained_dioecious(std::mt19937& rng) {
  const int4 n = 30, nc = 12;
  setup_check({2, 0, 0, 0, nc, nc}, std::vector<int4>(n, 1), std::vector<int4>(n, 1));
  auto& v = variables;
  random_contiguous_configuration(rng, 9, 8);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const auto pick = [&](int4 lo, int4 hi) {
    return std::uniform_int_distribution<int4>(lo, hi)(rng);
  };
  for (int4 c = 1; c <= 4; ++c) v.cndinoffspring(c, 1) = c;
  for (int4 c = 1; c <= 2; ++c) v.cndinoffspring(c, 2) = 4 + c;
  v.cndinothersex(11, 1) = 11;
  v.cndinothersex(11, 2) = 11;
  // Parents: distinct candidates for about half of the families of each sex.
  Parents parents;
  for (int4 s = 1; s <= 2; ++s) {
    std::vector<int4> pool(nc);
    std::iota(pool.begin(), pool.end(), 1);
    std::shuffle(pool.begin(), pool.end(), rng);
    std::size_t next = 0;
    for (int4 f = 1; f <= v.crnumfamily(s) && next < pool.size(); ++f)
      if (u(rng) < 0.5) parents[{s, f}] = pool[next++];
  }
  // Known father: every member of one family with a sampled father.
  for (const auto& [key, c] : parents)
    if (key.first == 1 && v.cndinoffspring(c, 1) == 0) {
      for (int4 o = 1; o <= n; ++o)
        if (v.crindivloc(o, 1) == key.second && u(rng) < 0.7) v.indivparent(o, 1) = c;
      break;
    }
  // Known sibships: positive ids for subsets of two paternal families, negative ids for
  // subsets of two maternal families.
  for (int4 id = 1; id <= 2; ++id) {
    const int4 f1 = pick(1, v.crnumfamily(1)), f2 = pick(1, v.crnumfamily(2));
    for (int4 o = 1; o <= n; ++o) {
      if (v.crindivloc(o, 1) == f1 && u(rng) < 0.7) v.knownsibship(o, 1) = id;
      if (v.crindivloc(o, 2) == f2 && u(rng) < 0.7) v.knownsibship(o, 2) = -id;
    }
  }
  // Excluded sibships and symmetric parent conflicts between offspring of different families.
  std::map<int4, std::vector<int4>> conflicts;
  for (int k = 0; k < 12; ++k) {
    const int4 a = pick(1, n), b = pick(1, n), s = pick(1, 2);
    if (a == b || v.crindivloc(a, s) == v.crindivloc(b, s)) continue;
    if (k % 2 == 0) {
      exclude_sibs(a, b, s);
    } else if (s == 1) {
      conflicts[a].push_back(b);
      conflicts[b].push_back(a);
    }
  }
  for (auto& [o, list] : conflicts) {
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
    set_conflict(o, 1, o, false, list);
  }
  // Excluded parents of a few offspring without a known parent, keeping their present ones.
  for (int k = 0; k < 6; ++k) {
    const int4 o = pick(1, n), s = pick(1, 2);
    if (v.indivparent(o, s) > 0) continue;
    const auto it = parents.find({s, v.crindivloc(o, s)});
    const int4 present = it == parents.end() ? 0 : it->second;
    std::vector<int4> list;
    if (k % 2 == 0) {
      for (int4 c = 1; c <= nc; ++c)
        if (c != present && u(rng) < 0.3) list.push_back(c);
      set_excluded_parents(o, s, static_cast<int4>(list.size()), list);
    } else {
      for (int4 c = 1; c <= nc; ++c)
        if (c == present || u(rng) < 0.3) list.push_back(c);
      set_excluded_parents(o, s, -static_cast<int4>(list.size()), list);
    }
  }
  // The fathers' mating limit: the most mates a father has now.
  std::map<int4, std::set<int4>> mates;
  for (int4 o = 1; o <= n; ++o) mates[v.crindivloc(o, 1)].insert(v.crindivloc(o, 2));
  v.maxmatings(1) = 1;
  for (const auto& [f, m] : mates) v.maxmatings(1) = std::max<int4>(v.maxmatings(1), m.size());
  finish_constraints();
  set_parents(parents);
  annealvariables.numindiv(1) = annealvariables.numindiv(2) = 0;
  annealvariables.numindivparentage(1) = annealvariables.numindivparentage(2) = 0;
  return validate_proposal().empty();
}

// One parent pool without selfing: known sibships, excluded sibships and parent conflicts.
bool constrained_monoecious(std::mt19937& rng) {
  const int4 n = 30;
  setup_check({1, 0}, std::vector<int4>(n, 1), std::vector<int4>(n, 2));
  auto& v = variables;
  random_contiguous_configuration(rng, 10, 10);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const auto pick = [&](int4 lo, int4 hi) {
    return std::uniform_int_distribution<int4>(lo, hi)(rng);
  };
  for (int4 id = 1; id <= 2; ++id) {
    const int4 o1 = pick(1, n), o2 = pick(1, n);
    for (int4 o = 1; o <= n; ++o) {
      if (v.crindivloc(o, 1) == v.crindivloc(o1, 1) && u(rng) < 0.7) v.knownsibship(o, 1) = id;
      if (v.crindivloc(o, 2) == v.crindivloc(o2, 2) && u(rng) < 0.7) v.knownsibship(o, 2) = -id;
    }
  }
  for (int k = 0; k < 8; ++k) {
    const int4 a = pick(1, n), b = pick(1, n), s = pick(1, 2);
    if (a != b && v.crindivloc(a, s) != v.crindivloc(b, s)) exclude_sibs(a, b, s);
  }
  finish_constraints();
  set_parents({});
  annealvariables.numindiv(1) = annealvariables.numindiv(2) = 0;
  return validate_proposal().empty();
}

// A random individual move of the kind the move choice hands on: inside the own cluster to a
// pair of its parents or new ones (not the own family), or to a new cluster; parents chosen per
// proposed family as the parentage proposal does (a known parent of a member binds the family;
// otherwise the present parent, none, or a free candidate or a parent of the touched cluster).
int4 random_proposal(std::mt19937& rng) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const auto pick = [&](int4 lo, int4 hi) {
    return std::uniform_int_distribution<int4>(lo, hi)(rng);
  };
  const bool two = v.numsex == 2;
  for (;;) {
    const int4 o = pick(1, n);
    const int4 own = v.crindivloc(o, 3);
    std::vector<int4> sibs;
    for (int4 m = 1; m <= n; ++m)
      if (m != o && v.crindivloc(m, 1) == v.crindivloc(o, 1) &&
          v.crindivloc(m, 2) == v.crindivloc(o, 2) && u(rng) < 0.3)
        sibs.push_back(m);
    const int4 new1 = v.crnumfamily(1) + 1;
    const int4 new2 = two ? v.crnumfamily(2) + 1 : new1 + 1;
    if (two && v.allcandidate > 0 && u(rng) < 0.2) {
      // A family move: the sex-s family of o gets another parent (a free candidate or none)
      // for all its offspring; one with a known parent is never proposed (its parentage
      // proposal refuses it).
      const int4 s = pick(1, 2);
      const int4 f = v.crindivloc(o, s);
      bool known = false;
      for (int4 m = 1; m <= n; ++m)
        known = known || (v.crindivloc(m, s) == f && v.indivparent(m, s) > 0);
      if (known) continue;
      std::vector<int4> usable{0};
      for (int4 c = 1; c <= v.numcandidate(s); ++c)
        if (av.unassignedcnd(c, s) >= 1 && v.knownprntq(c, s) == 0) usable.push_back(c);
      const int4 c =
          usable[static_cast<std::size_t>(pick(0, static_cast<int4>(usable.size()) - 1))];
      if (c == v.inferparent(o, s)) continue;
      testing_support::build_family_move(o, v.crindivloc(o, 1), v.crindivloc(o, 2));
      av.numindivparentage(1) = av.numindivparentage(2) = 0;
      for (int4 m = 1; m <= n; ++m)
        if (v.crindivloc(m, s) == f) {
          const int4 k = ++av.numindivparentage(s);
          av.indivparentage(k, s) = m;
          av.inferparentage(k, s, 1) = v.inferparent(m, s);
          av.inferparentage(k, s, 2) = c;
        }
      return 0;
    }
    int4 kind = 0;
    if (u(rng) < 0.7) {
      std::vector<int4> ids1{new1}, ids2{new2};
      for (int4 m = 1; m <= n; ++m)
        if (v.crindivloc(m, 3) == own) {
          ids1.push_back(v.crindivloc(m, 1));
          ids2.push_back(v.crindivloc(m, 2));
          if (!two) {
            ids1.push_back(v.crindivloc(m, 2));
            ids2.push_back(v.crindivloc(m, 1));
          }
        }
      const int4 d1 = ids1[static_cast<std::size_t>(pick(0, static_cast<int4>(ids1.size()) - 1))];
      const int4 d2 = ids2[static_cast<std::size_t>(pick(0, static_cast<int4>(ids2.size()) - 1))];
      if (d1 == v.crindivloc(o, 1) && d2 == v.crindivloc(o, 2)) continue;
      kind = move(o, sibs, d1, d2, own);
    } else {
      kind = move(o, sibs, new1, new2, 0);
    }
    if (v.allcandidate == 0) return kind;
    // Parents of the proposed families.
    std::set<int4> touched[3];
    for (const auto& row : proposal_rows())
      for (int4 s = 1; s <= 2; ++s)
        if (v.inferparent2(row[0], s) > 0) touched[s].insert(v.inferparent2(row[0], s));
    Parents chosen;
    std::set<std::pair<int4, int4>> decided;
    for (const auto& row : proposal_rows())
      for (int4 s = 1; s <= 2; ++s) {
        const std::pair<int4, int4> key{s, row[static_cast<std::size_t>(s)]};
        if (v.indivparent(row[0], s) > 0 && !chosen.count(key)) {
          chosen[key] = v.indivparent(row[0], s);
          continue;
        }
        if (!decided.insert(key).second || u(rng) >= 0.2) continue;
        // A new family gets no present parent of the cluster: the proposal draws it among the
        // free candidates.
        const bool fresh = key.second > v.crnumfamily(s);
        std::vector<int4> usable{0};
        for (int4 c = 1; c <= v.numcandidate(s); ++c)
          if ((av.unassignedcnd(c, s) >= 1 && v.knownprntq(c, s) == 0) ||
              (!fresh && touched[s].count(c)))
            usable.push_back(c);
        chosen[key] =
            usable[static_cast<std::size_t>(pick(0, static_cast<int4>(usable.size()) - 1))];
      }
    // A known parent binds its family even when another member was met first.
    for (const auto& row : proposal_rows())
      for (int4 s = 1; s <= 2; ++s)
        if (v.indivparent(row[0], s) > 0) {
          const std::pair<int4, int4> key{s, row[static_cast<std::size_t>(s)]};
          const int4 c = chosen[key];
          if (c <= 0 || v.knownprntq(c, s) == 0) chosen[key] = v.indivparent(row[0], s);
        }
    propose_parents(chosen);
    return kind;
  }
}

Soundness run_soundness(const std::function<bool(std::mt19937&)>& fixture, unsigned seed,
                        int proposals) {
  Soundness out;
  std::mt19937 rng(seed);
  while (!fixture(rng)) {
  }
  auto& av = annealvariables;
  av.rate = 1.0;
  start_stream(11);
  for (int k = 0; k < proposals; ++k) {
    const int4 kind = random_proposal(rng);
    if (av.movingtype <= 1) familybuild0(variables.crindivloc(av.moveindiv, 3), 1);
    const Snapshot before = Snapshot::take();
    int4 ok = -1;
    checkconfiguration(ok, 0, kind, 0);
    const std::string fault = validate_proposal();
    if (av.equalconfig == 1) {
      const int4 c = av.hostfamily(3);
      std::swap(av.clustersize(1, c), av.clustersize(2, c));
      std::swap(av.clustersize(5, c), av.clustersize(6, c));
    }
    if (!(Snapshot::take() == before) || !scratch_clear()) {
      ADD_FAILURE() << "state not restored after proposal " << k << " (test " << av.checkrefusal
                    << ")";
      return out;
    }
    if (ok == 1) {
      ++out.admitted;
      if (!fault.empty()) {
        ++out.invalid_admitted;
        if (out.first_fault.empty()) out.first_fault = fault + " at proposal " + std::to_string(k);
      }
    } else {
      ++out.refused;
      ++out.refused_by[av.checkrefusal];
      if (fault.empty()) {
        ++out.valid_refused[av.checkrefusal];
      } else {
        ++out.invalid_refused[fault];
      }
    }
  }
  return out;
}

void report(const char* name, const Soundness& r) {
  std::string text = std::string(name) + ": admitted " + std::to_string(r.admitted) + ", refused " +
                     std::to_string(r.refused) + " (by test";
  for (const auto& [t, c] : r.refused_by) text += " " + std::to_string(t) + ":" + std::to_string(c);
  text += "); valid proposals refused by test";
  for (const auto& [t, c] : r.valid_refused)
    text += " " + std::to_string(t) + ":" + std::to_string(c);
  text += "; invalid refused";
  for (const auto& [f, c] : r.invalid_refused) text += " [" + f + "]:" + std::to_string(c);
  std::printf("%s\n", text.c_str());
  ::testing::Test::RecordProperty(name, text);
}

TEST(CheckConfiguration, AdmittedProposalsAreValidTwoSexes) {
  const Soundness r = run_soundness(constrained_dioecious, 2026, 10000);
  report("two sexes", r);
  EXPECT_EQ(r.invalid_admitted, 0) << r.first_fault;
  EXPECT_GT(r.admitted, 1000);
  EXPECT_FALSE(r.invalid_refused.empty());
}

TEST(CheckConfiguration, AdmittedProposalsAreValidOnePool) {
  const Soundness r = run_soundness(constrained_monoecious, 77, 10000);
  report("one parent pool", r);
  EXPECT_EQ(r.invalid_admitted, 0) << r.first_fault;
  EXPECT_GT(r.admitted, 1000);
  EXPECT_FALSE(r.invalid_refused.empty());
}

}  // namespace
}  // namespace kinrad::test
