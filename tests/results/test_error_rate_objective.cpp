// The error-rate objective against the brute-force reference: on acyclic clusters of a best
// configuration (two sexes; one parent pool with a parent in both roles; haplodiploid; two-allele
// and dominant loci), with candidates assigned, unassigned and untyped, its value is
// sum(x) - sum over clusters of the enumerated ln L at the locus - sum of ln P of the unassigned
// typed candidates, at the trial rates. Plus its box, level and cache cases, and setmonoprnt.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "core/modules/annealvariables.hpp"
#include "core/modules/setgetgtype.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "likelihood/oracle.hpp"
#include "model/model.hpp"
#include "results/error_rate_best.hpp"
#include "results/error_rate_internal.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using oracle::Cluster;
using oracle::Genotype;
using oracle::Parent;
using G = std::vector<Genotype>;

// A codominant locus of 3 alleles, one of 2 alleles, a dominant one; all with both error kinds.
std::vector<oracle::Locus> loci() {
  return {{false, 3, {}, 0.05, 0.02}, {false, 2, {}, 0.03, 0.01}, {true, 2, {}, 0.02, 0.01}};
}

Parent cand(int k, G g) {
  Parent p;
  p.candidate = k;
  p.genotype = std::move(g);
  return p;
}

const G untyped = {{0, 0}, {0, 0}, {0, 0}};

// One test cluster: the oracle cluster (assigned parents first, then the unassigned
// candidates), how many parents of each role are assigned, its number of clusters and the
// unassigned typed candidates as (sex, number).
struct Case {
  std::string name;
  Cluster c;
  size_t nf = 0, nm = 0;
  int4 nclusters = 0;
  std::vector<std::array<int4, 2>> unassigned;
};

// Two sexes: {F1, F2, M1} and {F3, M2}; candidate father 1 and mother 1 assigned, fathers 2
// (typed) and 3 (untyped) and mothers 2 and 3 (typed, mother 3 with father 2's genotype)
// unassigned.
Case two_sexes(int precision) {
  Case k;
  k.name = "two sexes, precision " + std::to_string(precision);
  Cluster& c = k.c;
  c.likelihoodprecision = precision;
  c.loci = loci();
  c.fathers = {cand(1, {{1, 2}, {1, 1}, {1, 0}}), Parent{}, Parent{},
               cand(2, {{2, 3}, {1, 2}, {2, 0}}), cand(3, untyped)};
  c.mothers = {Parent{}, cand(1, {{3, 3}, {2, 2}, {1, 0}}), cand(2, {{1, 3}, {1, 2}, {1, 0}}),
               cand(3, {{2, 3}, {1, 2}, {2, 0}})};
  c.families = {{1, 1, {1, 2, 3}}, {2, 1, {4, 5}}, {3, 2, {6, 7}}};
  c.offspring = {{{1, 2}, {1, 2}, {1, 0}}, {{2, 3}, {1, 1}, {1, 0}}, {{1, 1}, {1, 2}, {2, 0}},
                 {{2, 2}, {2, 2}, {1, 0}}, {{1, 3}, {1, 2}, {1, 0}}, {{3, 3}, {2, 2}, {2, 0}},
                 {{1, 3}, {1, 2}, {1, 0}}};
  c.offploid.assign(7, 2);
  k.nf = 3;
  k.nm = 2;
  k.nclusters = 2;
  k.unassigned = {{1, 2}, {2, 2}, {2, 3}};
  return k;
}

// The same families without any candidate: only the clusters count.
Case no_candidates() {
  Case k = two_sexes(3);
  k.name = "no candidates";
  for (auto* list : {&k.c.fathers, &k.c.mothers}) {
    for (Parent& p : *list) p = Parent{};
  }
  k.c.fathers.resize(3);
  k.c.mothers.resize(2);
  k.unassigned.clear();
  return k;
}

// One parent pool: P1 (candidate 1) is father of family 1 and mother of family 2; P3
// (candidate 2) is the mother of family 1 only; candidates 3 and 4 (one genotype) are
// unassigned. Each counts once.
Case one_pool() {
  Case k;
  k.name = "one parent pool";
  Cluster& c = k.c;
  c.numsex = 1;
  c.loci = loci();
  const G p1 = {{1, 2}, {1, 2}, {1, 0}};
  c.fathers = {cand(1, p1), Parent{}, cand(3, {{2, 3}, {2, 2}, {2, 0}}),
               cand(4, {{2, 3}, {2, 2}, {2, 0}})};
  c.mothers = {cand(2, {{3, 3}, {1, 1}, {1, 0}}), cand(1, p1)};
  c.same = {{1, 2}};
  c.families = {{1, 1, {1, 2}}, {2, 2, {3, 4, 5}}};
  c.offspring = {{{1, 3}, {1, 2}, {1, 0}},
                 {{2, 3}, {1, 1}, {2, 0}},
                 {{1, 1}, {1, 2}, {1, 0}},
                 {{2, 3}, {2, 2}, {1, 0}},
                 {{1, 2}, {1, 2}, {2, 0}}};
  c.offploid.assign(5, 2);
  k.nf = 2;
  k.nm = 2;
  k.nclusters = 1;
  k.unassigned = {{1, 3}, {1, 4}};
  return k;
}

// Haplodiploid: haploid fathers, diploid daughters. The unassigned father 2 (haploid 3) and
// mother 2 (3/3) share a genotype number: their probabilities differ.
Case haplodiploid() {
  Case k;
  k.name = "haplodiploid";
  Cluster& c = k.c;
  c.haplodiploid = true;
  c.loci = loci();
  c.fathers = {cand(1, {{2, 0}, {1, 0}, {1, 0}}), Parent{}, cand(2, {{3, 0}, {2, 0}, {2, 0}})};
  c.mothers = {cand(1, {{1, 3}, {1, 2}, {1, 0}}), Parent{}, cand(2, {{3, 3}, {2, 2}, {2, 0}})};
  c.families = {{1, 1, {1, 2}}, {2, 2, {3, 4}}};
  c.offspring = {{{1, 2}, {1, 1}, {1, 0}},
                 {{2, 3}, {1, 2}, {1, 0}},
                 {{1, 2}, {2, 2}, {2, 0}},
                 {{3, 3}, {1, 2}, {1, 0}}};
  c.offploid.assign(4, 2);
  k.nf = 2;
  k.nm = 2;
  k.nclusters = 2;
  k.unassigned = {{1, 2}, {2, 2}};
  return k;
}

// Sum of ln P of the listed candidates' genotypes at locus l under the current tables.
double candidates_term(const std::vector<std::array<int4, 2>>& list, int4 l) {
  auto& v = variables;
  double sum = 0.0;
  for (const auto& [s, j] : list) {
    setgetgtype.locusgtypeptr = v.cndgtype2(l).a;
    int2 g = 0;
    getgtype(g, (s - 1) * v.numcandidate(1) + j, v.obsnumallele(l));
    if (g <= 0) continue;
    const int4 a[2] = {v.genotypeid(1, g), v.genotypeid(2, g)};
    real8 p = 0.0;
    probsinglegtype(v.inbreeding, v.ploidy(s), l, a, p);
    sum += std::log(p);
  }
  return sum;
}

// Sets the locus, kind, box [0, 1] and level 0 of the objective.
void aim(int4 l, int4 kind) {
  auto& v = variables;
  v.locerrrateupdate(1) = l;
  v.locerrrateupdate(2) = kind;
  v.numerrorrate = kind == 3 ? 2 : 1;
  for (int4 i = 1; i <= 2; ++i) {
    v.rangeerrorrate(1, i) = 0.0;
    v.rangeerrorrate(2, i) = 1.0;
  }
  v.loglerrorrateconst = 0.0;
}

PowellPoint point(real8 a, real8 b = 0.0) {
  PowellPoint x{};
  x(1) = a;
  x(2) = b;
  return x;
}

class ErrorRateObjective : public ::testing::Test {
 protected:
  void SetUp() override { reset_all_modules(); }
  void TearDown() override { reset_all_modules(); }
  testing_support::TempWorkDir dir{"error_rate_objective"};
};

TEST_F(ErrorRateObjective, MatchesTheEnumeration) {
  struct Trial {
    int4 l, kind;
    real8 x1, x2;
  };
  // Every kind on the codominant locus, dropout and other error on the two-allele locus, the
  // other-error rate on the dominant locus.
  const Trial trials[] = {{1, 3, 0.031, 0.017}, {1, 1, 0.2, 0.0},   {1, 2, 0.004, 0.0},
                          {2, 1, 0.08, 0.0},    {2, 3, 0.01, 0.05}, {3, 2, 0.03, 0.0}};
  std::vector<Case> cases = {two_sexes(0), two_sexes(3), no_candidates(), one_pool(),
                             haplodiploid()};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    ASSERT_TRUE(test::build_best(k.c, k.nclusters));
    ASSERT_TRUE(errorrateprepare());
    EXPECT_EQ(variables.crnumfamily(3), k.nclusters);
    EXPECT_EQ(errorratesetup(), 1.0);
    const Cluster assigned = test::assigned_part(k.c, k.nf, k.nm);
    for (const Trial& t : trials) {
      SCOPED_TRACE(testing::Message() << "locus " << t.l << " kind " << t.kind);
      aim(t.l, t.kind);
      const real8 got = loglerrorrate(point(t.x1, t.x2));
      const double sumx = t.kind == 3 ? t.x1 + t.x2 : t.x1;
      const double ref =
          sumx - oracle::locus_logl(assigned, t.l) - candidates_term(k.unassigned, t.l);
      // The engine's tables of codominant loci with typing errors go through single-precision
      // exponents: the reference's allowance for them, 1e-5 per family (the values found here
      // differ by a few 1e-8); dominant loci are exact.
      const bool single = variables.dominantmarker(t.l) == 0;
      const int families = single ? static_cast<int>(k.c.families.size()) : 0;
      EXPECT_NEAR(got, ref, oracle::tolerance(ref, 0, families));
      // The rates of the locus hold the trial point.
      if (t.kind != 2) {
        EXPECT_EQ(variables.droprate(t.l), t.x1);
      } else {
        EXPECT_EQ(variables.othererrorrate(t.l), t.x1);
      }
      if (t.kind == 3) {
        EXPECT_EQ(variables.othererrorrate(t.l), t.x2);
      }
      // The genotype-index work table is all zero again.
      for (index_t g = variables.indexgtype.lbound(1); g <= variables.indexgtype.ubound(1); ++g)
        ASSERT_EQ(variables.indexgtype(g), 0);
    }
  }
}

// The value at a point does not depend on the points tried before it (a table filled under
// earlier rates and kept would make it so): every locus and kind, each point evaluated first,
// after another point, and again.
TEST_F(ErrorRateObjective, ValueDoesNotDependOnEarlierPoints) {
  for (const Case& k : {one_pool(), haplodiploid(), two_sexes(3)}) {
    SCOPED_TRACE(k.name);
    for (int4 l = 1; l <= 3; ++l) {
      SCOPED_TRACE(l);
      const int4 kind = l == 3 ? 2 : 3;
      ASSERT_TRUE(test::build_best(k.c, k.nclusters));
      ASSERT_TRUE(errorrateprepare());
      errorratesetup();
      aim(l, kind);
      const real8 first = loglerrorrate(point(0.01, 0.05));
      const real8 other = loglerrorrate(point(0.08, 0.01));
      EXPECT_EQ(loglerrorrate(point(0.01, 0.05)), first);
      EXPECT_EQ(loglerrorrate(point(0.08, 0.01)), other);
    }
  }
}

// The candidate cache: a diploid species computes the genotype shared by an unassigned father
// and an unassigned mother once (father 2 and mother 3 are both 2/3 at locus 1; with mother 2,
// two probabilities); a haplodiploid species empties the cache between haploid fathers and
// diploid mothers (father 2 is haploid 3, mother 2 is 3/3: two probabilities).
TEST_F(ErrorRateObjective, CandidateCacheBySpecies) {
  struct Row {
    Case k;
    int4 fills;
  };
  for (const Row& row : {Row{two_sexes(3), 2}, Row{haplodiploid(), 2}}) {
    SCOPED_TRACE(row.k.name);
    ASSERT_TRUE(test::build_best(row.k.c, row.k.nclusters));
    ASSERT_TRUE(errorrateprepare());
    errorratesetup();
    aim(1, 3);
    loglerrorrate(point(0.02, 0.02));
    EXPECT_EQ(variables.error_rate_work.cachefills, row.fills);
  }
}

// Outside the box: 1e100 at once, the rates and the locus's tables as they were.
TEST_F(ErrorRateObjective, OutsideTheBoxChangesNothing) {
  const Case k = two_sexes(3);
  ASSERT_TRUE(test::build_best(k.c, k.nclusters));
  ASSERT_TRUE(errorrateprepare());
  errorratesetup();
  auto& v = variables;
  aim(1, 3);
  v.rangeerrorrate(2, 2) = 0.1;
  const real8 d = v.droprate(1), e = v.othererrorrate(1);
  const int4 obs[2] = {1, 2};
  const real8 before = prbgtop(1, 3, obs, 1);
  for (const PowellPoint& x : {point(-1e-12, 0.01), point(0.01, 0.1000001), point(1.5, 0.0)}) {
    EXPECT_EQ(loglerrorrate(x), 1e100);
    EXPECT_EQ(v.droprate(1), d);
    EXPECT_EQ(v.othererrorrate(1), e);
    EXPECT_EQ(prbgtop(1, 3, obs, 1), before);
  }
}

// Level 0 gives |S|; a set level gives the distance of S from it.
TEST_F(ErrorRateObjective, DistanceFromTheLevel) {
  const Case k = two_sexes(3);
  ASSERT_TRUE(test::build_best(k.c, k.nclusters));
  ASSERT_TRUE(errorrateprepare());
  errorratesetup();
  aim(1, 3);
  const real8 s = loglerrorrate(point(0.03, 0.02));
  ASSERT_GT(s, 0.0);  // a negative log likelihood of this size is positive
  variables.loglerrorrateconst = s + 5.0;
  EXPECT_NEAR(loglerrorrate(point(0.03, 0.02)), 5.0, 1e-9);
  variables.loglerrorrateconst = s - 3.0;
  EXPECT_NEAR(loglerrorrate(point(0.03, 0.02)), 3.0, 1e-9);
}

// One parent pool: the unassigned marks count each candidate once, and a candidate assigned in
// the second role only (candidate 2) is assigned.
TEST_F(ErrorRateObjective, OnePoolMarksEachCandidateOnce) {
  const Case k = one_pool();
  ASSERT_TRUE(test::build_best(k.c, k.nclusters));
  ASSERT_TRUE(errorrateprepare());
  errorratesetup();
  const auto& av = annealvariables;
  EXPECT_EQ(av.unassignedcnd(1, 1), 0);
  EXPECT_EQ(av.unassignedcnd(2, 1), 0);
  EXPECT_EQ(av.unassignedcnd(3, 1), 1);
  EXPECT_EQ(av.unassignedcnd(4, 1), 1);
  for (index_t j = 1; j <= av.unassignedcnd.ubound(1); ++j) EXPECT_EQ(av.unassignedcnd(j, 2), 0);
}

// setmonoprnt on the pool's cluster: parent P1 is linked both ways between its role-1 and its
// role-2 index, every other entry is 0 and the marks are clear after.
TEST_F(ErrorRateObjective, SetmonoprntLinksBothRoles) {
  const Case k = one_pool();
  ASSERT_TRUE(test::build_best(k.c, k.nclusters));
  ASSERT_TRUE(errorrateprepare());
  auto& v = variables;
  const auto& av = annealvariables;
  familybuild0(1, 0);
  setmonoprnt(1);
  // Offspring 1 has P1 as its role-1 parent, offspring 3 as its role-2 parent.
  const int4 i = av.indivclusterid(1, 1);
  const int4 kk = av.indivclusterid(3, 2);
  for (int4 r = 1; r <= v.nparent(1); ++r) EXPECT_EQ(v.parentjdx(r, 1), r == i ? kk : 0);
  for (int4 r = 1; r <= v.nparent(2); ++r) EXPECT_EQ(v.parentjdx(r, 2), r == kk ? i : 0);
  for (index_t m = 1; m <= av.selectedprntidxq3.ubound(1); ++m)
    ASSERT_EQ(av.selectedprntidxq3(m), 0);
}

// A selfer: one individual as both parents of its family is linked to itself; a cluster
// without a parent in both roles leaves parentjdx all zero.
TEST_F(ErrorRateObjective, SetmonoprntSelferAndNoLink) {
  Case k;
  Cluster& c = k.c;
  c.numsex = 1;
  c.allowinbreeding = true;
  c.loci = loci();
  c.fathers = {Parent{}, Parent{}};
  c.mothers = {Parent{}, Parent{}};
  c.same = {{1, 1}};
  c.families = {{1, 1, {1, 2}}, {2, 2, {3, 4}}};
  c.offspring = {{{1, 3}, {1, 2}, {1, 0}},
                 {{1, 1}, {1, 1}, {2, 0}},
                 {{2, 3}, {1, 2}, {1, 0}},
                 {{2, 2}, {2, 2}, {1, 0}}};
  c.offploid.assign(4, 2);
  ASSERT_TRUE(test::build_best(c, 2));
  ASSERT_TRUE(errorrateprepare());
  auto& v = variables;
  const auto& av = annealvariables;
  // Cluster 1: the selfer.
  familybuild0(1, 0);
  setmonoprnt(1);
  ASSERT_EQ(v.nparent(1), 1);
  ASSERT_EQ(v.nparent(2), 1);
  EXPECT_EQ(v.parentjdx(1, 1), 1);
  EXPECT_EQ(v.parentjdx(1, 2), 1);
  // Cluster 2: parents 2 and 3 are two individuals.
  familybuild0(2, 0);
  setmonoprnt(2);
  for (int4 s = 1; s <= 2; ++s)
    for (int4 r = 1; r <= v.nparent(s); ++r) EXPECT_EQ(v.parentjdx(r, s), 0);
  for (index_t m = 1; m <= av.selectedprntidxq3.ubound(1); ++m)
    ASSERT_EQ(av.selectedprntidxq3(m), 0);
}

}  // namespace
}  // namespace kinrad
