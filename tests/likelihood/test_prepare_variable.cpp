// The family work state built from a family structure. Every expected value is read off the
// drawn family by hand: family numbers follow sex-1 parents and then their mates in ascending
// order, pairs without offspring are numbered after the families in a walk over sex-2 parents
// outside and sex-1 parents inside.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "likelihood/family_frame.hpp"
#include "model/model.hpp"
#include "support/module_reset.hpp"

namespace kinrad {
namespace {

using frametest::frame;
using frametest::mates_of;
using frametest::members_of;
using frametest::prepare;
using frametest::sample;
using V = std::vector<int4>;

class PrepareVariable : public testing_support::ModuleReset {};

TEST_F(PrepareVariable, OneFatherThreeMothersWhateverTheCallerSays) {
  for (int2 given : {int2{0}, int2{1}, int2{7}}) {
    SCOPED_TRACE(given);
    reset_all_modules();
    sample(6);
    frame(1, 3, {{1, 1, {1, 2}}, {1, 2, {3}}, {1, 3, {4, 5, 6}}});
    variables.maxnumpartner(1) = 9;  // ignored when a sex has a single parent
    ASSERT_EQ(prepare(given), 0);
    EXPECT_EQ(variables.numfsibship, 3);
    EXPECT_EQ(likelihoodvar.maxnummate, 3);
    EXPECT_EQ(variables.nallparent, 4);
    EXPECT_EQ(variables.npstartloc1(2), 1);
    EXPECT_EQ(variables.numchild, 6);
    for (int4 q = 1; q <= 3; ++q) {
      EXPECT_EQ(likelihoodvar.fsibid(1, q), q);
      EXPECT_EQ(likelihoodvar.clusterfamily(1, q), 1);
      EXPECT_EQ(likelihoodvar.clusterfamily(2, q), q);
      EXPECT_EQ(likelihoodvar.hsib2(1 + q), 1);
    }
    EXPECT_EQ(members_of(1), (V{1, 2}));
    EXPECT_EQ(members_of(2), (V{3}));
    EXPECT_EQ(members_of(3), (V{4, 5, 6}));
    EXPECT_EQ(mates_of(1), (V{1, 2, 3}));
    EXPECT_EQ(likelihoodvar.hsib2(1), 3);
    EXPECT_EQ(variables.maxfsibsize, 3);
    EXPECT_EQ(variables.hsfamilysize(1), 6);
    // The father has three families, each mother one: every family can be absorbed into its
    // mother's side.
    for (int4 f = 1; f <= 3; ++f) EXPECT_EQ(likelihoodvar.fsprobidx(f), -1);
    EXPECT_EQ(variables.genotypefreshortcut, 0);
  }
}

TEST_F(PrepareVariable, TwoByTwoWithAPairWithoutOffspring) {
  sample(4);
  frame(2, 2, {{1, 1, {1}}, {1, 2, {2}}, {2, 1, {3, 4}}});
  ASSERT_EQ(prepare(), 0);
  EXPECT_EQ(variables.numfsibship, 3);
  EXPECT_EQ(likelihoodvar.maxnummate, 2);
  EXPECT_EQ(likelihoodvar.fsibid(1, 1), 1);
  EXPECT_EQ(likelihoodvar.fsibid(1, 2), 2);
  EXPECT_EQ(likelihoodvar.fsibid(2, 1), 3);
  EXPECT_EQ(likelihoodvar.fsibid(2, 2), 4);  // above numfsibship
  EXPECT_EQ(mates_of(1), (V{1, 2}));
  EXPECT_EQ(mates_of(2), (V{1}));
  EXPECT_EQ(mates_of(3), (V{1, 2}));  // mother 1
  EXPECT_EQ(mates_of(4), (V{1}));     // mother 2
  EXPECT_EQ(members_of(3), (V{3, 4}));
  EXPECT_EQ(likelihoodvar.numlayer, 2147483647);
  // Family 1: father 1 and mother 1 both have two families; families 2 and 3 each have a parent
  // with only that family.
  EXPECT_EQ(likelihoodvar.fsprobidx(1), 0);
  EXPECT_EQ(likelihoodvar.fsprobidx(2), -1);
  EXPECT_EQ(likelihoodvar.fsprobidx(3), -1);
  EXPECT_EQ(likelihoodvar.nabsorb(1), -1);
}

TEST_F(PrepareVariable, MonoeciousReciprocalPairsFormOneFamily) {
  // Individuals A and B are parents 1 and 2 in both roles; A x B has offspring 1 and 2, B x A
  // offspring 3.
  sample(3);
  variables.numsex = 1;
  frame(2, 2, {{1, 2, {1, 2}}, {2, 1, {3}}});
  variables.parentjdx(1, 1) = 1;
  variables.parentjdx(2, 1) = 2;
  variables.parentjdx(1, 2) = 1;
  variables.parentjdx(2, 2) = 2;
  ASSERT_EQ(prepare(), 0);
  EXPECT_EQ(variables.numfsibship, 2);
  EXPECT_EQ(members_of(1), (V{1, 2, 3}));
  EXPECT_EQ(members_of(2), (V{}));
  EXPECT_EQ(likelihoodvar.clusterfamilysize(2), 0);
  EXPECT_EQ(likelihoodvar.fsibid(2, 1), 2);
  EXPECT_EQ(likelihoodvar.fsibid(1, 1), 3);  // selfing pairs without offspring
  EXPECT_EQ(likelihoodvar.fsibid(2, 2), 4);
  EXPECT_EQ(likelihoodvar.selfprnt(0), 2);
  EXPECT_EQ(likelihoodvar.selfprnt(1), 1);
  EXPECT_EQ(likelihoodvar.selfprnt(2), 2);
  EXPECT_EQ(variables.maxfsibsize, 3);
}

TEST_F(PrepareVariable, MonoeciousKnownParentIsSharedByBothRoles) {
  sample(2);
  variables.numsex = 1;
  variables.allcandidate = 3;
  variables.numcandidate(1) = 3;
  variables.numcandidate(2) = 3;
  frame(2, 2, {{1, 2, {1}}, {2, 1, {2}}});
  variables.parentjdx(1, 1) = 1;
  variables.parentjdx(2, 1) = 2;
  variables.parentjdx(1, 2) = 1;
  variables.parentjdx(2, 2) = 2;
  variables.inferparent.allocate(Dim(2), Dim(2));
  variables.inferparent(1, 2) = 3;  // B as the mother of offspring 1 is candidate 3
  variables.inferparentprt = variables.inferparent.view();
  ASSERT_EQ(prepare(), 0);
  // Sex-2 role of B (joint parent 4) from the assignment; B's sex-1 role takes it over.
  EXPECT_EQ(likelihoodvar.knownprt(4), 3);
  EXPECT_EQ(likelihoodvar.knownprt(2), 3);
  EXPECT_EQ(likelihoodvar.knownprt(1), 0);
  EXPECT_EQ(likelihoodvar.knownprt(3), 0);
  EXPECT_EQ(variables.anyknownprtq(1), 1);
  EXPECT_EQ(variables.anyknownprtq(2), 1);
  EXPECT_EQ(variables.anyknownprtq(3), 1);
}

TEST_F(PrepareVariable, HaplodiploidFatherOfSonsOnlyLosesHisCandidate) {
  // Offspring 1 and 5 are daughters, 2, 3 and 4 sons. Father 2 has only sons.
  sample(5, {2, 3, 4});
  variables.haplodiploid = 1;
  variables.allcandidate = 9;
  variables.numcandidate(1) = 9;
  frame(2, 2, {{1, 1, {1, 2}}, {2, 1, {3}}, {2, 2, {4}}, {1, 2, {5}}});
  variables.inferparent.allocate(Dim(5), Dim(2));
  for (int4 i = 1; i <= 5; ++i) variables.inferparent(i, 1) = 7;
  variables.inferparentprt = variables.inferparent.view();
  ASSERT_EQ(prepare(), 0);
  EXPECT_EQ(variables.numchild, 2);
  EXPECT_EQ(variables.numchildh, 3);
  EXPECT_EQ(likelihoodvar.knownprt(1), 7);
  EXPECT_EQ(likelihoodvar.knownprt(2), 0);
  // Families: (1,1) = 1, (1,2) = 2, (2,1) = 3, (2,2) = 4; only daughters are listed.
  EXPECT_EQ(members_of(1), (V{1}));
  EXPECT_EQ(members_of(2), (V{5}));
  EXPECT_EQ(members_of(3), (V{}));
  EXPECT_EQ(members_of(4), (V{}));
  // Sons grouped by mother: mother 1 has 2 and 3, mother 2 has 4.
  EXPECT_EQ(variables.familyindivloch(0), 0);
  EXPECT_EQ(variables.familyindivloch(1), 2);
  EXPECT_EQ(variables.familyindivloch(2), 3);
  EXPECT_EQ(variables.familyindivh(1), 2);
  EXPECT_EQ(variables.familyindivh(2), 3);
  EXPECT_EQ(variables.familyindivh(3), 4);
  EXPECT_EQ(variables.maxfsibsizeh, 2);
  EXPECT_EQ(variables.genotypefreshortcut, 0);
}

TEST_F(PrepareVariable, KnownParentSources) {
  struct Row {
    const char* name;
    int4 assigned;      // inferparent(first member, 1)
    int4 input;         // indivparent(first member, 1), -1 none
    bool tablemissing;  // indivparent not allocated at all
    int4 expected;
  };
  const Row rows[] = {
      {"assigned candidate", 2, 4, false, 2},
      {"known from the input", 0, 4, false, 4},
      {"neither", 0, -1, false, 0},
      {"no table of known parents", 0, 0, true, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    reset_all_modules();
    sample(2);
    variables.allcandidate = 5;
    variables.numcandidate(1) = 5;
    frame(1, 1, {{1, 1, {1, 2}}});
    variables.inferparent.allocate(Dim(2), Dim(2));
    variables.inferparent(1, 1) = r.assigned;
    variables.inferparentprt = variables.inferparent.view();
    if (!r.tablemissing) {
      variables.indivparent.allocate(Dim(2), Dim(2));
      variables.indivparent.fill(-1);
      variables.indivparent(1, 1) = r.input;
      variables.numknownprnt(1) = r.input > 0 ? 1 : 0;
    }
    ASSERT_EQ(prepare(), 0);
    EXPECT_EQ(likelihoodvar.knownprt(1), r.expected);
    EXPECT_EQ(likelihoodvar.knownprt(2), 0);
    EXPECT_EQ(variables.anyknownprtq(2), r.expected > 0 ? 1 : 0);
    EXPECT_EQ(variables.anyknownprtq(3), 0);
    // One parent per sex in a diploid species: the shortcut knows whether a parent is known.
    EXPECT_EQ(variables.genotypefreshortcut, r.expected > 0 ? 2 : 1);
  }
}

// A haplodiploid family whose first member is a son: its father comes from the first daughter,
// her assigned candidate first, else her known father from the input (known parents are never
// written into the assignments). Whichever member leads, the family's father is the same.
TEST_F(PrepareVariable, HaplodiploidFatherFromTheFirstDaughter) {
  struct Row {
    const char* name;
    int4 son;       // the haploid member
    int4 assigned;  // inferparent(daughter, 1)
    int4 input;     // indivparent(daughter, 1), -1 none
    int4 expected;
  };
  const Row rows[] = {
      {"son first, daughter's known father", 1, 0, 4, 4},
      {"daughter first, her known father", 2, 0, 4, 4},
      {"son first, daughter's assigned candidate wins", 1, 3, 4, 3},
      {"son first, nothing known", 1, 0, -1, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    reset_all_modules();
    sample(2, {r.son});
    const int4 daughter = 3 - r.son;
    variables.haplodiploid = 1;
    variables.allcandidate = 5;
    variables.numcandidate(1) = 5;
    frame(1, 1, {{1, 1, {1, 2}}});
    variables.inferparent.allocate(Dim(2), Dim(2));
    variables.inferparent(daughter, 1) = r.assigned;
    variables.inferparentprt = variables.inferparent.view();
    variables.indivparent.allocate(Dim(2), Dim(2));
    variables.indivparent.fill(-1);
    variables.indivparent(daughter, 1) = r.input;
    variables.numknownprnt(1) = r.input > 0 ? 1 : 0;
    ASSERT_EQ(prepare(), 0);
    EXPECT_EQ(likelihoodvar.knownprt(1), r.expected);
  }
}

// Effective family sizes: with scaling off the table is k itself; with scaling on, for a mean
// two-allele other-error rate e = 0.05 and scale2const = 8, w = (4e)^2 + 4e = 0.24 and
// t = w + (1.01 - 0.0625 x 8)(1 - w) = 0.6276, scale2(k) = (2 - 2^t)/ln 2 x ln k + k^t.
TEST_F(PrepareVariable, EffectiveFamilySizes) {
  for (int4 scaled : {0, 1}) {
    SCOPED_TRACE(scaled);
    reset_all_modules();
    sample(3);
    variables.fsscaleq = scaled;
    variables.numloci = 1;
    variables.locus2.allocate(Dim(0, 1));
    variables.locus2(0) = 1;
    variables.locus2(1) = 1;
    variables.othererrorrate.allocate(Dim(1));
    variables.othererrorrate(1) = 0.05;
    variables.scale2const = 8.0;
    variables.logk.allocate(Dim(1000));
    for (int4 k = 1; k <= 1000; ++k) variables.logk(k) = std::log(static_cast<double>(k));
    variables.scale2.allocate(Dim(0, 0));
    likelihoodvar.familyindivll.allocate(Dim(3), Dim(1));
    frame(1, 1, {{1, 1, {1, 2, 3}}});
    ASSERT_EQ(prepare(), 0);
    ASSERT_GE(variables.scale2.ubound(1), 6);
    ASSERT_GE(variables.power2.ubound(1), 6);
    const double t = 0.24 + (1.01 - 0.5) * 0.76;
    const double c = (2.0 - std::pow(2.0, t)) / std::log(2.0);
    for (int4 k = 0; k <= 6; ++k) {
      const double s = scaled == 0 ? k : (k == 0 ? 0.0 : c * std::log(double(k)) + std::pow(k, t));
      EXPECT_NEAR(variables.scale2(k), s, 1e-14) << k;
      EXPECT_NEAR(variables.power2(k), std::pow(0.5, s), 1e-14) << k;
    }
    // The member codes: offspring 3 sits in word 1 at shift 4, family 1.
    EXPECT_EQ(likelihoodvar.familyindivll(1, 3), 1);
    EXPECT_EQ(likelihoodvar.familyindivll(2, 3), 4);
    EXPECT_EQ(likelihoodvar.familyindivll(3, 3), 1);
  }
}

TEST_F(PrepareVariable, MemberCodePositionsAtWordEnds) {
  sample(17);
  variables.locus2.allocate(Dim(0, 1));
  variables.locus2(0) = 1;
  variables.scale2.allocate(Dim(0, 0));
  variables.logk.allocate(Dim(100));
  likelihoodvar.familyindivll.allocate(Dim(3), Dim(1));
  frame(1, 1, {{1, 1, {8, 9, 16, 17}}});
  ASSERT_EQ(prepare(), 0);
  // Offspring 8 is the last of word 1 (shift 14), 9 the first of word 2, 16 the last of word 2.
  const int4 word[] = {1, 2, 2, 3};
  const int4 shift[] = {14, 0, 14, 0};
  for (int4 i = 1; i <= 4; ++i) {
    EXPECT_EQ(likelihoodvar.familyindivll(1, i), word[i - 1]) << i;
    EXPECT_EQ(likelihoodvar.familyindivll(2, i), shift[i - 1]) << i;
  }
}

// A smaller family prepared after a larger one has the same work state, within the family's
// extent, as the same family prepared in a fresh process.
TEST_F(PrepareVariable, SmallerFamilyAfterLargerLeavesNoTrace) {
  auto small = [] { frame(2, 1, {{1, 1, {2}}, {2, 1, {1, 3}}}); };
  sample(12);
  small();
  ASSERT_EQ(prepare(), 0);
  auto snap = [] {
    std::vector<int4> s;
    const Variables& v = variables;
    const Likelihoodvar& lv = likelihoodvar;
    for (int4 x : {v.numfsibship, v.nallparent, v.maxnumparent, v.numchild, v.numchildh,
                   v.maxfsibsize, lv.maxnummate, v.genotypefreshortcut, v.anyknownprtq(1)})
      s.push_back(x);
    for (int4 f = 1; f <= v.numfsibship; ++f) {
      s.push_back(lv.clusterfamily(1, f));
      s.push_back(lv.clusterfamily(2, f));
      s.push_back(lv.clusterfamilysize(f));
      s.push_back(lv.fsprobidx(f));
      s.push_back(lv.clusterfamilyloc(f + 1));
      s.push_back(lv.locallelefs(f));
      for (int4 m : members_of(f)) s.push_back(m);
    }
    for (int4 p = 1; p <= v.nallparent; ++p) {
      s.push_back(lv.hsib2(p));
      s.push_back(lv.knownprt(p));
      s.push_back(v.hsfamilysize(p));
      for (int4 m : mates_of(p)) s.push_back(m);
    }
    for (int4 p1 = 1; p1 <= v.nparent(1); ++p1)
      for (int4 p2 = 1; p2 <= v.nparent(2); ++p2) s.push_back(lv.fsibid(p1, p2));
    return s;
  };
  const std::vector<int4> fresh = snap();
  frame(
      4, 3,
      {{1, 1, {1, 2}}, {2, 2, {3, 4, 5}}, {3, 3, {6}}, {4, 1, {7, 8, 9, 10, 11, 12}}, {1, 3, {}}});
  ASSERT_EQ(prepare(), 0);
  EXPECT_EQ(variables.numfsibship, 4);
  small();
  ASSERT_EQ(prepare(), 0);
  EXPECT_EQ(snap(), fresh);
}

TEST_F(PrepareVariable, MemberListsCanBeReplaced) {
  sample(6);
  frame(2, 2, {{1, 1, {1}}, {2, 2, {2, 3}}});
  setfamilymembers(1, 1, std::vector<int4>{4, 5, 6});
  setfamilymembers(2, 2, std::vector<int4>{1});
  setfamilymembers(1, 2, std::vector<int4>{2, 3});
  auto list = [](int4 p1, int4 p2) {
    std::vector<int4> r;
    const FView<int2, 1> l = familystructure(p1, p2);
    for (index_t i = 1; i <= l.size(); ++i) r.push_back(l(i));
    return r;
  };
  EXPECT_EQ(list(1, 1), (V{4, 5, 6}));
  EXPECT_EQ(list(2, 2), (V{1}));
  EXPECT_EQ(list(1, 2), (V{2, 3}));
  EXPECT_EQ(list(2, 1), (V{}));
  // Many replacements keep every list intact while the store is compacted.
  for (int4 r = 0; r < 200; ++r) {
    setfamilymembers(2, 1, std::vector<int4>(static_cast<size_t>(r % 6 + 1), r % 6 + 1));
    setfamilymembers(2, 1, std::vector<int4>{});
  }
  EXPECT_EQ(list(1, 1), (V{4, 5, 6}));
  EXPECT_EQ(list(1, 2), (V{2, 3}));
}

}  // namespace
}  // namespace kinrad
