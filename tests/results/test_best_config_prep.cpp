// The canonical form of the best configuration and of the archive: one-pool ordering of parent
// families, cluster numbering by first offspring, spreading of known parents, full-sib keys and
// the regrouping of archived records. Expected columns are worked out by hand from the rules
// (each case says how); the 64-bit key is checked against the formula in int64 arithmetic.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "results/results_internal.hpp"
#include "support/archive_builder.hpp"

namespace kinrad {
namespace {

using namespace testing_support;

std::vector<int4> best_column(int4 k) {
  std::vector<int4> out;
  for (int4 i = 1; i <= variables.smplsize; ++i) out.push_back(variables.btindivloc(i, k));
  return out;
}
std::vector<int4> best_parents(int4 s) {
  std::vector<int4> out;
  for (int4 i = 1; i <= variables.smplsize; ++i) out.push_back(variables.btinferparent(i, s));
  return out;
}
std::vector<int4> known_column(int4 s) {
  std::vector<int4> out;
  for (int4 i = 1; i <= variables.smplsize; ++i) out.push_back(variables.indivparent(i, s));
  return out;
}

// One pool, candidates: offspring 1 has families 7/3 and parents 5/2; offspring 2 families 7/3
// and equal parents 4/4; offspring 3 already ordered (2/9 with 1/6).
void one_pool_case() {
  archive_sample({.n = 3, .numsex = 1, .ncand1 = 6, .ncand2 = 6});
  set_archive({{-5.0, {7, 7, 2}, {3, 3, 9}, {1, 1, 2}, {5, 4, 1}, {2, 4, 6}}});
}

TEST(OnePoolNormalisation, SmallerFamilyFirstAndParentsAlike) {
  one_pool_case();
  normalise_one_pool();
  EXPECT_EQ(best_column(1), (std::vector<int4>{3, 3, 2}));
  EXPECT_EQ(best_column(2), (std::vector<int4>{7, 7, 9}));
  // Parents 5/2 swap with their families; equal parents stay (only the ids swap).
  EXPECT_EQ(best_parents(1), (std::vector<int4>{2, 4, 1}));
  EXPECT_EQ(best_parents(2), (std::vector<int4>{5, 4, 6}));
  const auto recs = archive_records();
  EXPECT_EQ(recs[0].fam1, (std::vector<int4>{3, 3, 2}));
  EXPECT_EQ(recs[0].fam2, (std::vector<int4>{7, 7, 9}));
  EXPECT_EQ(recs[0].dad, (std::vector<int4>{2, 4, 1}));
  EXPECT_EQ(recs[0].mum, (std::vector<int4>{5, 4, 6}));
}

TEST(OnePoolNormalisation, ConstrainedOffspringAreUntouched) {
  struct Row {
    const char* name;
    void (*constrain)();
  };
  const Row rows[] = {
      {"known sibship",
       [] {
         variables.anyknownsibshipq(2) = 1;
         variables.knownsibship(1, 2) = 4;
       }},
      {"excluded parent",
       [] {
         auto& v = variables;
         v.anyexcludedparentq(1) = 1;
         v.excludedparent.allocate(Dim(v.smplsize), Dim(2));
         v.excludedparent(1, 2).count = -1;  // a list of allowed candidates counts too
       }},
      {"excluded sibship",
       [] {
         auto& v = variables;
         v.anyexcludedsibshipq(1) = 1;
         v.excludedsib.allocate(Dim(v.smplsize), Dim(2));
         v.excludedsib(1, 1).a.allocate(Dim(1));
       }},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    one_pool_case();
    r.constrain();
    normalise_one_pool();
    // Offspring 1 keeps 7/3 and 5/2; offspring 2 is still normalised.
    EXPECT_EQ(best_column(1), (std::vector<int4>{7, 3, 2}));
    EXPECT_EQ(best_parents(1), (std::vector<int4>{5, 4, 1}));
    const auto recs = archive_records();
    EXPECT_EQ(recs[0].fam1, (std::vector<int4>{7, 3, 2}));
    EXPECT_EQ(recs[0].dad, (std::vector<int4>{5, 4, 1}));
  }
  // An excluded-sibship list of a sex whose flag is off does not constrain.
  one_pool_case();
  variables.excludedsib.allocate(Dim(3), Dim(2));
  variables.excludedsib(1, 2).a.allocate(Dim(1));
  variables.anyexcludedsibshipq(1) = 1;
  normalise_one_pool();
  EXPECT_EQ(best_column(1), (std::vector<int4>{3, 3, 2}));
}

TEST(OnePoolNormalisation, SparseAndAbsentParentColumnsBecomeDense) {
  // Ten offspring, one with a father: the record keeps fathers sparse and mothers absent.
  archive_sample({.n = 10, .numsex = 1, .ncand1 = 4, .ncand2 = 4});
  std::vector<int4> f1(10, 1), f2(10, 2), dad(10, 0);
  f1[3] = 5;  // offspring 4: families 5/2, father 3
  dad[3] = 3;
  set_archive({{-1.0, f1, f2, {}, dad, {}}});
  ASSERT_EQ(variables.confighead->dad.size(2), 2);  // sparse as stored
  ASSERT_FALSE(variables.confighead->mum.allocated());
  normalise_one_pool();
  const Config& c = *variables.confighead;
  ASSERT_EQ(c.dad.size(1), 10);
  ASSERT_EQ(c.dad.size(2), 1);
  ASSERT_EQ(c.mum.size(1), 10);
  // Offspring 4 had 5 > 2: families and parents (3 / 0) swapped.
  EXPECT_EQ(c.fam1(4), 2);
  EXPECT_EQ(c.fam2(4), 5);
  EXPECT_EQ(c.dad(4, 1), 0);
  EXPECT_EQ(c.mum(4, 1), 3);
  for (int4 i : {1, 2, 3, 5, 10}) EXPECT_EQ(c.dad(i, 1), 0) << i;
}

TEST(ClusterRenumbering, ByFirstOffspring) {
  archive_sample({.n = 5});
  set_archive({{-1.0, {1, 2, 3, 4, 5}, {1, 2, 3, 4, 5}, {4, 4, 2, 9, 2}}});
  renumber_best_clusters();
  EXPECT_EQ(best_column(3), (std::vector<int4>{1, 1, 2, 3, 2}));
}

TEST(MergeParentage, KnownFatherSpreadsOverHisSibship) {
  archive_sample({.n = 7, .ncand1 = 3, .ncand2 = 2});
  // Paternal sibship 2 holds offspring 2..6; offspring 4 has known father 3.
  set_archive({{-1.0, {1, 2, 2, 2, 2, 2, 3}, {1, 2, 3, 3, 4, 4, 5}}});
  known_parent(4, 1, 3);
  variables.indivlocprt = variables.btindivloc.view();
  mergeparentage();
  EXPECT_EQ(known_column(1), (std::vector<int4>{0, 3, 3, 3, 3, 3, 0}));
  EXPECT_EQ(known_column(2), (std::vector<int4>(7, 0)));
}

TEST(MergeParentage, AFlagWithoutEntriesChangesNothing) {
  archive_sample({.n = 4, .ncand1 = 3});
  set_archive({{-1.0, {1, 1, 2, 2}, {1, 1, 2, 2}}});
  variables.knownprntq(2, 1) = 1;
  variables.anyknownprntq(1) = 1;
  variables.numknownprnt(1) = 1;
  variables.indivlocprt = variables.btindivloc.view();
  mergeparentage();
  EXPECT_EQ(known_column(1), (std::vector<int4>(4, 0)));
}

TEST(MergeParentage, TwoKnownFathersInOneFamilyLargerHolds) {
  archive_sample({.n = 4, .ncand1 = 5});
  set_archive({{-1.0, {1, 1, 1, 2}, {1, 1, 2, 3}}});
  known_parent(1, 1, 4);
  known_parent(2, 1, 2);
  variables.indivlocprt = variables.btindivloc.view();
  mergeparentage();
  EXPECT_EQ(known_column(1), (std::vector<int4>{4, 4, 4, 0}));
}

TEST(MergeParentage, OnePoolParentSpreadsOverBothColumns) {
  archive_sample({.n = 5, .numsex = 1, .ncand1 = 3, .ncand2 = 3});
  // Family id 2 appears in column 2 (offspring 1, 2) and column 1 (offspring 4). Offspring 2's
  // known parent of column 2 is candidate 3.
  set_archive({{-1.0, {1, 1, 3, 2, 4}, {2, 2, 5, 5, 5}}});
  known_parent(2, 2, 3);
  variables.indivlocprt = variables.btindivloc.view();
  mergeparentage();
  EXPECT_EQ(known_column(1), (std::vector<int4>{0, 0, 0, 3, 0}));
  EXPECT_EQ(known_column(2), (std::vector<int4>{3, 3, 0, 0, 0}));
}

TEST(MergeParentage, OnePoolFirstFoundHolds) {
  archive_sample({.n = 3, .numsex = 1, .ncand1 = 3, .ncand2 = 3});
  // Id 4: column 1 of offspring 3 (known 1) and column 2 of offspring 1 (known 2). Column 1 is
  // searched first, so candidate 1 holds for id 4 in both columns.
  set_archive({{-1.0, {1, 2, 4}, {4, 3, 5}}});
  known_parent(3, 1, 1);
  known_parent(1, 2, 2);
  variables.indivlocprt = variables.btindivloc.view();
  mergeparentage();
  EXPECT_EQ(known_column(1), (std::vector<int4>{0, 0, 1}));
  EXPECT_EQ(known_column(2), (std::vector<int4>{1, 0, 0}));
}

TEST(FindFsFamilyId, SixtyFourBitKeysAtTheLargestSample) {
  const int4 n = 32767;
  archive_sample({.n = n, .numsex = 1});
  FArray<int4, 2> p(Dim(n), Dim(2));
  for (int4 i = 1; i <= n; ++i) {
    p(i, 1) = 2 * n - (i % 7);
    p(i, 2) = 2 * n - 3 - (i % 5);
  }
  std::vector<int8> key(static_cast<std::size_t>(n));
  findfsfamilyid(p.view(), key.data());
  for (int4 i = 1; i <= n; i += 997) {
    const std::int64_t a = p(i, 1), b = p(i, 2);
    const std::int64_t ref = std::min(a, b) * (2 * std::int64_t{n}) + std::max(a, b);
    EXPECT_EQ(key[static_cast<std::size_t>(i - 1)], ref) << i;
  }
  // Two sexes: a haploid is keyed by its mother's family alone.
  variables.numsex = 2;
  variables.offploid(3) = 1;
  findfsfamilyid(p.view(), key.data());
  EXPECT_EQ(key[2], p(3, 2));
  EXPECT_EQ(key[3], std::int64_t{p(4, 1)} * 2 * n + p(4, 2));
}

TEST(RegroupArchive, UnknowngenZeroKeepsClusterColumns) {
  archive_sample({.n = 4, .ncand1 = 2});
  set_archive({{-1.0, {1, 1, 2, 2}, {1, 1, 2, 2}, {7, 7, 3, 3}}});
  // The result writer regroups only with unknowngen 1; without it nothing touches the records.
  EXPECT_EQ(archive_records()[0].clust, (std::vector<int4>{7, 7, 3, 3}));
}

TEST(RegroupArchive, RecordsGetTheGroupedColumn) {
  // Offspring 3 is candidate father 1, the assigned father of offspring 1: clusters 1 and 2
  // join. The second record lacks a cluster column (sex 1 monogamous) and gets one.
  archive_sample({.n = 4, .mono1 = 1, .ncand1 = 2});
  cross_list(3, 1, 1);
  set_archive({{-1.0, {1, 1, 2, 3}, {1, 1, 2, 3}, {}, {1, 1, 0, 0}, {}},
               {-2.0, {1, 2, 3, 4}, {1, 2, 3, 4}, {}, {0, 0, 0, 0}, {}}});
  ASSERT_FALSE(variables.confighead->clust.allocated());
  FArray<int4, 2> known = variables.indivparent.copy();
  regroup_archive(known, true);
  const auto recs = archive_records();
  std::vector<int4> c0, c1;
  for (int4 i = 1; i <= 4; ++i) {
    c0.push_back(variables.confighead->clust(i));
    c1.push_back(variables.confighead->next->clust(i));
  }
  EXPECT_EQ(c0, (std::vector<int4>{1, 1, 1, 2}));
  EXPECT_EQ(c1, (std::vector<int4>{1, 2, 3, 4}));
  // The decoder of the results reads the stored column back; plain decoding would rebuild it
  // from the maternal families under paternal monogamy.
  real8 logl = 0.0;
  decode_archived(variables.confighead, logl);
  EXPECT_EQ(variables.offtgt(3, 3), 1);
  EXPECT_EQ(logl, -1.0);
}

}  // namespace
}  // namespace kinrad
