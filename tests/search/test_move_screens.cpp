// The screens of the full-likelihood methods on hand-built proposals. The oracle of `screen`
// scores the clusters the move's rows form, for the current and the proposed families, through
// the initial-configuration scoring of a whole configuration in which every offspring outside
// the rows is a family of its own (so only the rows' clusters carry their structure).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/modules/search_work.hpp"
#include "search/move_verdict_internal.hpp"
#include "search/search_internal.hpp"
#include "support/cluster_consistency.hpp"
#include "support/prepare.hpp"
#include "support/proposal_builder.hpp"

namespace kinrad::test {
namespace {

using testing_support::ProjectFile;

ProjectFile random_project(std::mt19937& rng, int n, int alleles) {
  ProjectFile p;
  p.loci = 3;
  p.markertypes = "0 0 0";
  p.droprates = "0 0 0";
  p.otherrates = "0.01 0.01 0.01";
  std::uniform_int_distribution<int> allele(1, alleles);
  for (int i = 1; i <= n; ++i) {
    std::string r = "O" + std::to_string(i);
    for (int k = 0; k < 6; ++k) r += " " + std::to_string(allele(rng));
    p.offspring.push_back(r);
  }
  return p;
}

struct Row {
  int4 o, a, b;
};

// The summed log likelihood of the clusters that the rows form, each row's offspring carrying
// the given families and every other offspring a family of its own.
real8 rows_logl(const std::vector<Row>& rows) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  auto saveloc = v.crindivloc.copy();
  auto savelogl = v.crfamilylogl.copy();
  auto savesize = av.clustersize.copy();
  auto savesizet = av.clustersizet.copy();
  const auto savenum = v.crnumfamily;
  std::map<int4, int4> m1, m2;
  std::vector<char> inrows(static_cast<std::size_t>(n) + 1, 0);
  for (const Row& r : rows) {
    inrows[static_cast<std::size_t>(r.o)] = 1;
    if (!m1.count(r.a)) m1[r.a] = static_cast<int4>(m1.size()) + 1;
    if (!m2.count(r.b)) m2[r.b] = static_cast<int4>(m2.size()) + 1;
    v.crindivloc(r.o, 1) = m1[r.a];
    v.crindivloc(r.o, 2) = m2[r.b];
  }
  int4 k1 = static_cast<int4>(m1.size()), k2 = static_cast<int4>(m2.size());
  for (int4 i = 1; i <= n; ++i)
    if (!inrows[static_cast<std::size_t>(i)]) {
      v.crindivloc(i, 1) = ++k1;
      v.crindivloc(i, 2) = ++k2;
    }
  FStatic<int2, 1, 2> hs{};
  setinitconfiglogl(1, hs);
  std::set<int4> clusters;
  for (const Row& r : rows) clusters.insert(v.crindivloc(r.o, 3));
  real8 sum = 0.0;
  for (int4 c : clusters) sum += v.crfamilylogl(c);
  v.crindivloc = std::move(saveloc);
  v.crfamilylogl = std::move(savelogl);
  av.clustersize = std::move(savesize);
  av.clustersizet = std::move(savesizet);
  v.crnumfamily = savenum;
  return sum;
}

TEST(MoveScreens, CutoffMovesByTheCurrentMinusTheProposedValueOfTheRowsClusters) {
  testing_support::TempWorkDir dir{"move_screens"};
  std::mt19937 rng(5150);
  const int4 n = 16;
  ASSERT_TRUE(testing_support::prepare(random_project(rng, n, 2)));
  auto& v = variables;
  auto& av = annealvariables;
  v.displayq = 0;
  std::uniform_int_distribution<int4> fam(1, 4);
  for (int4 i = 1; i <= n; ++i) {
    // Fathers 1..4 each with one mother of their own: clusters without loops.
    const int4 f = fam(rng);
    v.crindivloc(i, 1) = f;
    v.crindivloc(i, 2) = f;
    v.inferparent(i, 1) = v.inferparent(i, 2) = 0;
  }
  {
    std::set<int4> ids;
    for (int4 i = 1; i <= n; ++i) ids.insert(v.crindivloc(i, 1));
    // Dense ids.
    std::map<int4, int4> m;
    for (int4 x : ids) m[x] = static_cast<int4>(m.size()) + 1;
    for (int4 i = 1; i <= n; ++i) v.crindivloc(i, 1) = v.crindivloc(i, 2) = m[v.crindivloc(i, 1)];
    v.crnumfamily(1) = v.crnumfamily(2) = static_cast<int4>(ids.size());
  }
  FStatic<int2, 1, 2> hs{};
  setinitconfiglogl(1, hs);
  testing_support::allocate_move_tables(n);
  av.indivloc12(1) = av.indivloc1.view();
  av.indivloc12(2) = av.indivloc2.view();
  setinitcluster();
  av.numindivparentage = {};
  RunState rs;
  std::uniform_int_distribution<int4> pick(1, n);
  int checked = 0;
  for (int trial = 0; trial < 40; ++trial) {
    SCOPED_TRACE(trial);
    const int4 o = pick(rng);
    const int4 j = pick(rng);
    testing_support::IndividualMove mv;
    mv.offspring = o;
    mv.dest1 = v.crindivloc(j, 1);
    mv.dest2 = trial % 3 == 0 ? v.crnumfamily(2) + 1 : v.crindivloc(j, 2);
    mv.destcluster = v.crindivloc(j, 3);
    mv.search_rows = true;
    if (mv.dest1 == v.crindivloc(o, 1) && mv.dest2 == v.crindivloc(o, 2)) continue;
    testing_support::build_individual_move(mv);
    std::vector<Row> cur, prop;
    for (int4 k = 1; k <= 2; ++k)
      for (int4 t = 1; t <= av.numindiv(k); ++t) {
        const int4 x = av.indivloc12(k)(t, 4);
        cur.push_back({x, v.crindivloc(x, 1), v.crindivloc(x, 2)});
        prop.push_back({x, av.indivloc12(k)(t, 1), av.indivloc12(k)(t, 2)});
      }
    // Independent values first (their scoring reuses the move tables), then the rows again.
    const real8 lcur = rows_logl(cur);
    const real8 lprop = rows_logl(prop);
    testing_support::build_individual_move(mv);
    for (int istart = 1; istart <= 2; ++istart) {
      search_work.istart = istart;
      // No stop fires: a cut-off far below, and far below zero after both variants.
      real8 cutoff = -1e4;
      screen(rs, cutoff, av.numindiv(1) + av.numindiv(2), 1, av.numindivlocidx(3));
      EXPECT_NEAR(cutoff, -1e4 + lcur - lprop, 1e-7) << "istart " << istart;
      EXPECT_TRUE(testing_support::scratch_marks_clear());
      for (int4 i = 1; i <= n; ++i) EXPECT_FALSE(*v.selectedindivq(i).p);
    }
    ++checked;
    if (HasFailure()) return;
  }
  EXPECT_GT(checked, 20);
  search_work.istart = -1;
}

TEST(MoveScreens, TheProposalIsScoredFirstWhenALocusHasMoreThanTwoAllelesWithoutErrors) {
  auto& v = variables;
  struct Case {
    int4 alleles;
    real8 rate;
    int4 want;
  };
  // Expected by the rule: 2 only for a locus of more than 2 alleles with an other-error rate
  // below 1e-8.
  for (const Case c : {Case{2, 0.0, 1}, Case{3, 0.0, 2}, Case{3, 1e-3, 1}, Case{5, 1e-9, 2}}) {
    SCOPED_TRACE(c.alleles);
    reset_all_modules();
    v.numloci = 2;
    v.obsnumallele.allocate(Dim(2));
    v.othererrorrate.allocate(Dim(2));
    v.obsnumallele(1) = 2;
    v.othererrorrate(1) = 0.0;
    v.obsnumallele(2) = c.alleles;
    v.othererrorrate(2) = c.rate;
    EXPECT_EQ(screen_start(), c.want);
    // Fixed at the first call.
    v.obsnumallele(2) = 2;
    EXPECT_EQ(screen_start(), c.want);
  }
  reset_all_modules();
}

TEST(MoveScreens, FamilyMoveScreenIsInertWithoutAParentChangeOfTheMovingOffspring) {
  reset_all_modules();
  auto& av = annealvariables;
  av.indivparentage.allocate(Dim(4), Dim(2));
  av.moveindiv = 3;
  av.numindivparentage(1) = 1;
  av.indivparentage(1, 1) = 2;  // another offspring's parent changes
  RunState rs;
  real8 cutoff = -2.5;
  screen2(rs, cutoff, 1, 1, 1);
  EXPECT_EQ(cutoff, -2.5);
}

TEST(MoveScreens, FamilySizeLimitIsTheLargestProposedFamilyAndNeverLowers) {
  auto& v = variables;
  auto& av = annealvariables;
  reset_all_modules();
  v.smplsize = 10;
  v.numsex = 2;
  testing_support::allocate_move_tables(10);
  av.selectedprntidxq1.allocate(Dim(100));
  av.clustersize.allocate(Dim(6), Dim(10));
  av.clustersize(3, 2) = 4;
  av.hostfamily(3) = 2;
  // Rows of lists 2 and 3 with proposed families (1,1) x3, (1,2) x2, (2,1) x1.
  const std::vector<std::pair<int4, int4>> fams{{1, 1}, {1, 2}, {1, 1}, {2, 1}, {1, 2}, {1, 1}};
  for (std::size_t t = 0; t < fams.size(); ++t) {
    const auto r = static_cast<int4>(t) + 1;
    av.indivloc2(r, 1) = fams[t].first;
    av.indivloc2(r, 2) = fams[t].second;
    av.indivloc2(r, 4) = r;
  }
  av.numindivlocidx(2) = 2;
  av.indivlocidx(1, 2) = 1;
  av.indivlocidx(2, 2) = 2;
  av.numindivlocidx(3) = 4;
  for (int4 t = 1; t <= 4; ++t) av.indivlocidx(t, 3) = t + 2;
  struct Case {
    int4 start, flag, want;
  };
  // By hand: the largest family among the 6 rows is (1,1) with 3; the host's largest is 4.
  for (const Case c : {Case{1, 0, 3}, Case{1, 1, 4}, Case{5, 0, 5}, Case{9, 1, 9}, Case{2, 0, 3}}) {
    SCOPED_TRACE(c.start);
    int4 limit = c.start;
    findfamilysizelimit(limit, c.flag);
    EXPECT_EQ(limit, c.want);
    EXPECT_GE(limit, c.start);
  }
  // With a monogamous sex the families are told apart by the sex-1 id alone: (1, *) x5.
  v.anymonogamy = 1;
  v.monogamy(1) = 1;
  int4 limit = 1;
  findfamilysizelimit(limit, 0);
  EXPECT_EQ(limit, 5);
  reset_all_modules();
}

}  // namespace
}  // namespace kinrad::test
