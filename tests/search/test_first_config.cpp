// The initial configuration built from the known relationships, and the Ewens prior of the
// sibship sizes, against cases worked out by hand (the derivation is beside each case).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/modules.hpp"
#include "search/search_internal.hpp"

namespace kinrad::test {
namespace {

struct Sample {
  int4 numsex = 2;
  int4 mono1 = 0, mono2 = 0;
  std::vector<int4> ks1, ks2;    // known sibships
  std::vector<int4> par1, par2;  // known parents (0 none)
  std::vector<int1> ploid;       // empty: all diploid
  int4 ncand1 = 5, ncand2 = 5;
};

void setup(const Sample& s) {
  reset_all_modules();
  auto& v = variables;
  const int4 n = static_cast<int4>(s.ks1.size());
  v.smplsize = n;
  v.numsex = s.numsex;
  v.monogamy(1) = s.mono1;
  v.monogamy(2) = s.mono2;
  v.numcandidate(1) = s.ncand1;
  v.numcandidate(2) = s.ncand2;
  v.knownsibship.allocate(Dim(n), Dim(2));
  v.indivparent.allocate(Dim(n), Dim(2));
  v.offploid.allocate(Dim(n));
  v.crindivloc.allocate(Dim(n), Dim(3));
  v.inferparent.allocate(Dim(n), Dim(2));
  annealvariables.selectedprntidxq3.allocate(Dim(100));
  v.kdxtgt.allocate(Dim(100));
  v.smplsizedh(1) = v.smplsizedh(2) = 0;
  for (int4 i = 1; i <= n; ++i) {
    const auto k = static_cast<std::size_t>(i - 1);
    v.knownsibship(i, 1) = s.ks1[k];
    v.knownsibship(i, 2) = s.ks2[k];
    if (s.ks1[k] != 0) v.anyknownsibshipq(1) = 1;
    if (s.ks2[k] != 0) v.anyknownsibshipq(2) = 1;
    v.indivparent(i, 1) = s.par1.empty() ? 0 : s.par1[k];
    v.indivparent(i, 2) = s.par2.empty() ? 0 : s.par2[k];
    v.offploid(i) = s.ploid.empty() ? 2 : s.ploid[k];
    ++v.smplsizedh(v.offploid(i));
    for (int4 c = 1; c <= 2; ++c)
      if (v.indivparent(i, c) > 0) ++v.numknownprnt(c);
  }
}

std::vector<int4> column(int4 c) {
  std::vector<int4> r;
  for (int4 i = 1; i <= variables.smplsize; ++i) r.push_back(variables.crindivloc(i, c));
  return r;
}
std::vector<int4> parents(int4 c) {
  std::vector<int4> r;
  for (int4 i = 1; i <= variables.smplsize; ++i) r.push_back(variables.inferparent(i, c));
  return r;
}

// Mothers monogamous with known maternal sibships {1, 3} and {4, 5}: the paternal families
// merge along them. Offspring 1 opens the fresh value 2147483647 (shared with 3), offspring 4
// the next, 2147483646 (shared with 5), which offspring 6 already holds as its known paternal
// sibship: 4, 5 and 6 therefore share a father. Paternal ids by first appearance: 1 2 1 3 3 3;
// maternal: the known sibships 1 2 1 3 3 and offspring 6 alone, 4.
TEST(FirstConfig, MonogamousMothersMergeFathersWithFreshValues) {
  setup({2, 0, 1, {0, 0, 0, 0, 0, 2147483646}, {7, 0, 7, 9, 9, 0}, {}, {}, {}});
  FStatic<int4, 1, 4> na{};
  firstconfig(na);
  EXPECT_EQ(column(1), (std::vector<int4>{1, 2, 1, 3, 3, 3}));
  EXPECT_EQ(column(2), (std::vector<int4>{1, 2, 1, 3, 3, 4}));
  EXPECT_EQ(variables.crnumfamily(1), 3);
  EXPECT_EQ(variables.crnumfamily(2), 4);
}

// Fathers monogamous: the maternal families merge along the paternal families just built.
// Paternal families from the known sibships: 1 1 2 3 3. Maternal group values 0 3 3 0 0:
// offspring 1 takes 3 from its partner 2; offspring 4 opens a fresh value shared with 5.
TEST(FirstConfig, MonogamousFathersMergeMothersThroughPaternalFamilies) {
  setup({2, 1, 0, {5, 5, 0, 6, 6}, {0, 3, 3, 0, 0}, {}, {}, {}});
  FStatic<int4, 1, 4> na{};
  firstconfig(na);
  EXPECT_EQ(column(1), (std::vector<int4>{1, 1, 2, 3, 3}));
  EXPECT_EQ(column(2), (std::vector<int4>{1, 1, 1, 2, 2}));
}

// Haplodiploid: maternal sibships {1, 2, 3} and {4, 5}; offspring 2 is the only diploid one.
// Haploid 1 and 3 take diploid 2's father (2); haploid 4 keeps its own (4), haploid 5 takes the
// earlier haploid 4's. Paternal ids 2 2 2 4 4 renumber to 1 1 1 2 2.
TEST(FirstConfig, HaploidOffspringAlignWithTheirMothersDiploidOffspring) {
  setup({2, 0, 0, {0, 0, 0, 0, 0}, {4, 4, 4, 8, 8}, {}, {}, {1, 2, 1, 1, 1}});
  FStatic<int4, 1, 4> na{};
  firstconfig(na);
  EXPECT_EQ(column(1), (std::vector<int4>{1, 1, 1, 2, 2}));
  EXPECT_EQ(column(2), (std::vector<int4>{1, 1, 1, 2, 2}));
  EXPECT_EQ(variables.crnumfamily(1), 2);
  EXPECT_EQ(variables.crnumfamily(2), 2);
}

// One parent pool: candidate 3 is offspring 1's known role-1 parent and offspring 2's known
// role-2 parent; offspring 3 shares offspring 2's known maternal sibship without that known
// parent. Role 1: 1..5; role 2 continues at 6: 6 7 7 8 9. Candidate 3's role-2 family 7 (both
// 2 and 3) takes its role-1 id 1, the ids above 7 drop by one: 6 1 1 7 8; crnumfamily 8.
// Offspring 3 gets candidate 3 as its inferred role-2 parent; offspring 2 keeps it as known.
TEST(FirstConfig, OneParentPoolJoinsTheRolesOfAParentKnownInBoth) {
  setup({1, 0, 0, {0, 0, 0, 0, 0}, {0, 5, 5, 0, 0}, {3, 0, 0, 0, 0}, {0, 3, 0, 0, 0}, {}, 5, 5});
  FStatic<int4, 1, 4> na{};
  firstconfig(na);
  EXPECT_EQ(column(1), (std::vector<int4>{1, 2, 3, 4, 5}));
  EXPECT_EQ(column(2), (std::vector<int4>{6, 1, 1, 7, 8}));
  EXPECT_EQ(variables.crnumfamily(1), 8);
  EXPECT_EQ(variables.crnumfamily(2), 8);
  EXPECT_EQ(parents(1), (std::vector<int4>{0, 0, 0, 0, 0}));
  EXPECT_EQ(parents(2), (std::vector<int4>{0, 0, 3, 0, 0}));
}

// Known parents spread to their families: father 2 of family {1, 2, 3} reaches diploid 2 but
// not haploid 3; mother 4 of family {4, 5} reaches haploid 5. Haploid 5 takes diploid 4's
// father. Counts: one distinct father and one distinct mother, one offspring each.
TEST(FirstConfig, KnownParentsSpreadToTheirFamilies) {
  setup({2,
         0,
         0,
         {-1, -1, -1, 0, 0},
         {0, 0, 0, -2, -2},
         {2, 0, 0, 0, 0},
         {0, 0, 0, 4, 0},
         {2, 2, 1, 2, 1},
         3,
         5});
  FStatic<int4, 1, 4> na{};
  firstconfig(na);
  EXPECT_EQ(column(1), (std::vector<int4>{1, 1, 1, 2, 2}));
  EXPECT_EQ(column(2), (std::vector<int4>{1, 2, 3, 4, 4}));
  EXPECT_EQ(parents(1), (std::vector<int4>{0, 2, 0, 0, 0}));
  EXPECT_EQ(parents(2), (std::vector<int4>{0, 0, 0, 0, 4}));
  EXPECT_EQ(na(1), 1);
  EXPECT_EQ(na(2), 1);
  EXPECT_EQ(na(3), 1);
  EXPECT_EQ(na(4), 1);
}

void setup_ewens(int4 numsex, int4 diploids) {
  reset_all_modules();
  auto& v = variables;
  v.numsex = numsex;
  v.smplsizedh(2) = diploids;
  v.ewenpriorfac(1) = 0.5;
  v.ewenpriorfac(2) = 2.0;
  v.logewenconst(1) = 1.0;
  v.logewenconst(2) = -3.0;
  v.logewentheta(1) = 0.7;
  v.logewentheta(2) = 0.2;
  v.logk.allocate(Dim(10));
  v.factorial.allocate(Dim(0, 10));
  for (int4 k = 1; k <= 10; ++k) {
    v.logk(k) = std::log(static_cast<real8>(k));
    v.factorial(k) = v.factorial(k - 1) + v.logk(k);
  }
  v.sibshipsizedist.allocate(Dim(0, 10), Dim(2));
  v.sibshipsizedist(1, 1) = 3;
  v.sibshipsizedist(2, 1) = 1;
  v.sibshipsizedist(1, 2) = 4;
}

// Sex 1: 0.5 (1 + 0.7 x 3 - ln 3! + (0.7 - ln 2) x 1 - ln 1!); sex 2: 2 (-3 + 0.2 x 4 - ln 4!).
TEST(NewEwenPrior, TwoSexesByHand) {
  setup_ewens(2, 5);
  FStatic<int2, 1, 2> classes{};
  classes(1) = 2;
  classes(2) = 1;
  const real8 s1 = 0.5 * (1.0 + 0.7 * 3 - std::log(6.0) + (0.7 - std::log(2.0)) * 1);
  const real8 s2 = 2.0 * (-3.0 + 0.2 * 4 - std::log(24.0));
  EXPECT_NEAR(newewenprior(classes), s1 + s2, 1e-12);
  // A sex without size classes contributes its constant term only.
  classes(2) = 0;
  EXPECT_NEAR(newewenprior(classes), s1 + 2.0 * -3.0, 1e-12);
}

// Without diploid offspring the paternal sex is left out; with one parent pool nothing is left.
TEST(NewEwenPrior, NoDiploidOffspring) {
  setup_ewens(2, 0);
  FStatic<int2, 1, 2> classes{};
  classes(1) = 2;
  classes(2) = 1;
  EXPECT_NEAR(newewenprior(classes), 2.0 * (-3.0 + 0.2 * 4 - std::log(24.0)), 1e-12);
  setup_ewens(1, 0);
  EXPECT_EQ(newewenprior(classes), 0.0);
}

}  // namespace
}  // namespace kinrad::test
