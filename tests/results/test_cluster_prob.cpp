// Cluster probabilities over the archive. The small cases are worked out by hand (weights
// exp(L - best L) chosen so that the shares are simple fractions); the brute-force cases compare
// with an independent computation over canonical clusters: for every record, each of its
// clusters as (member set, paternal partition, maternal partition, selfed members), compared as
// sets of sets, so that no id of either configuration matters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "results/results_internal.hpp"
#include "support/archive_builder.hpp"
#include "support/prepare.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using namespace testing_support;

std::vector<real8> probabilities() {
  const auto& v = variables;
  int4 top = 0;
  for (int4 i = 1; i <= v.smplsize; ++i) top = std::max(top, v.btindivloc(i, 3));
  FArray<real8, 1> prob{Dim(top)};
  findfamilyprob(prob);
  EXPECT_EQ(v.configptr, nullptr);
  return std::vector<real8>(prob.data(), prob.data() + top);
}

TEST(FindFamilyProb, OneRecordGivesOneEverywhere) {
  archive_sample({.n = 5});
  set_archive({{-3.0, {1, 1, 2, 3, 3}, {1, 2, 2, 3, 3}}});
  EXPECT_EQ(probabilities(), (std::vector<real8>{1.0, 1.0}));
}

TEST(FindFamilyProb, SharesOverTheArchive) {
  // Best: clusters {1,2,3} (father 1 with mothers 1, 2) and {4,5}. Record 2 (weight 1/2) holds
  // {1,2,3} with the same sibships under other ids and assigns another candidate; record 3
  // (weight 1/4) holds {1,2,3} split into other sibships and {4,5} alike. So cluster 1 gets
  // (1 + 1/2) / (7/4) = 6/7 and cluster 2 (1 + 1/4) / (7/4) = 5/7.
  archive_sample({.n = 5, .ncand1 = 2});
  const real8 l = -10.0;
  set_archive({{l, {1, 1, 1, 2, 2}, {1, 1, 2, 3, 3}, {}, {1, 1, 1, 0, 0}},
               {l + std::log(0.5), {2, 2, 2, 1, 3}, {3, 3, 1, 2, 2}, {}, {2, 2, 2, 0, 0}},
               {l + std::log(0.25), {1, 1, 2, 3, 3}, {1, 1, 1, 2, 2}}});
  const auto p = probabilities();
  EXPECT_NEAR(p[0], 6.0 / 7.0, 1e-15);
  EXPECT_NEAR(p[1], 5.0 / 7.0, 1e-15);
}

TEST(FindFamilyProb, AClusterOnlyTheBestHoldsGetsOneOverTheSum) {
  archive_sample({.n = 3});
  set_archive({{-1.0, {1, 1, 2}, {1, 1, 2}}, {-1.0 + std::log(3.0), {1, 1, 1}, {1, 1, 1}}});
  // The second record scores higher than the best configuration: its weight is 3.
  const auto p = probabilities();
  EXPECT_NEAR(p[0], 1.0 / 4.0, 1e-15);
  EXPECT_NEAR(p[1], 1.0 / 4.0, 1e-15);
}

TEST(FindFamilyProb, OnePoolSelfingMustAgree) {
  // Offspring 1 is selfed (families 1/1) in the best configuration and outcrossed in the
  // second record, which has the same sibships otherwise: it adds nothing.
  archive_sample({.n = 3, .numsex = 1});
  set_archive({{-1.0, {1, 1, 2}, {1, 3, 3}}, {-1.0 + std::log(0.5), {2, 2, 4}, {1, 3, 3}}});
  const auto p = probabilities();
  EXPECT_NEAR(p[0], 1.0 / 1.5, 1e-15);
}

TEST(FindFamilyProb, ComparedColumnUnderMonogamy) {
  struct Row {
    const char* name;
    int4 mono1, mono2;
  };
  // Best: offspring {1,2} one family, {3} another, {4} a third. The second record (weight 1)
  // joins 3 and 4 in one family of the compared column, and keeps {1,2}.
  for (const Row r : {Row{"sex 1 monogamous", 1, 0}, Row{"sex 2 monogamous", 0, 1},
                      Row{"both monogamous", 1, 1}}) {
    SCOPED_TRACE(r.name);
    archive_sample({.n = 4, .mono1 = r.mono1, .mono2 = r.mono2});
    set_archive({{-1.0, {1, 1, 2, 3}, {1, 1, 2, 3}}, {-1.0, {1, 1, 2, 2}, {1, 1, 2, 2}}});
    const auto p = probabilities();
    EXPECT_NEAR(p[0], 1.0, 1e-15);
    EXPECT_NEAR(p[1], 0.5, 1e-15);
    EXPECT_NEAR(p[2], 0.5, 1e-15);
  }
}

TEST(FindFamilyProb, GroupedClustersUnderMonogamyGetTheirShare) {
  // Sex 1 monogamous; offspring 3 is candidate father 1 of offspring 1: the best
  // configuration's families {1,2} and {3} are one group after the regrouping, which every
  // record then carries as its cluster column.
  archive_sample({.n = 4, .mono1 = 1, .ncand1 = 1});
  cross_list(3, 1, 1);
  set_archive({{-1.0, {1, 1, 2, 3}, {1, 1, 2, 3}, {}, {1, 1, 0, 0}},
               {-1.0, {1, 1, 2, 3}, {1, 1, 2, 3}, {}, {0, 0, 0, 0}}});
  FArray<int4, 2> known = variables.indivparent.copy();
  regroup_archive(known, true);
  variables.indivlocprt = variables.btindivloc.view();
  variables.inferparentprt = variables.btinferparent.view();
  recluster();
  ASSERT_EQ(variables.btindivloc(3, 3), 1);
  const auto p = probabilities();
  // Record 2 (no link) keeps {1,2}, {3} apart: the joined cluster has weight 1 of 2.
  EXPECT_NEAR(p[0], 0.5, 1e-15);
  EXPECT_NEAR(p[1], 1.0, 1e-15);
}

// --- Brute force -----------------------------------------------------------------------------

using Partition = std::set<std::set<int4>>;
struct CanonicalCluster {
  std::set<int4> members;
  Partition paternal, maternal;
  std::set<int4> selfed;
  bool operator<(const CanonicalCluster& o) const {
    return std::tie(members, paternal, maternal, selfed) <
           std::tie(o.members, o.paternal, o.maternal, o.selfed);
  }
};

// The clusters of one configuration in canonical form. The paternal partition is compared only
// when sex 1 is not monogamous alone, the maternal one likewise (the compared columns).
std::set<CanonicalCluster> canonical(const ArchiveRecord& r) {
  const auto& v = variables;
  std::map<int4, CanonicalCluster> byc;
  std::map<std::pair<int4, int4>, std::set<int4>> pat, mat;
  for (int4 i = 1; i <= v.smplsize; ++i) {
    const auto k = static_cast<std::size_t>(i - 1);
    auto& c = byc[r.clust[k]];
    c.members.insert(i);
    pat[{r.clust[k], r.fam1[k]}].insert(i);
    mat[{r.clust[k], r.fam2[k]}].insert(i);
    if (v.numsex == 1 && r.fam1[k] == r.fam2[k]) c.selfed.insert(i);
  }
  for (const auto& [key, s] : pat)
    if (v.chkidx1 == 1) byc[key.first].paternal.insert(s);
  for (const auto& [key, s] : mat)
    if (v.chkidx2 == 2) byc[key.first].maternal.insert(s);
  std::set<CanonicalCluster> out;
  for (const auto& [c, cc] : byc) out.insert(cc);
  return out;
}

void brute_force_case(const std::vector<ArchiveRecord>& all) {
  // The archive sorted by score; each record in turn stands as the best configuration.
  const auto records = by_descending_score(all);
  set_archive(records);
  std::vector<std::set<CanonicalCluster>> canon;
  for (const auto& r : records) canon.push_back(canonical(r));
  for (std::size_t b = 0; b < records.size(); b += 7) {
    SCOPED_TRACE(b);
    set_best(records[b]);
    const auto p = probabilities();
    for (const CanonicalCluster& c : canonical(records[b])) {
      real8 hold = 0.0, sum = 0.0;
      for (std::size_t k = 0; k < records.size(); ++k) {
        const real8 w = std::exp(records[k].logl - records[b].logl);
        sum += w;
        if (canon[k].count(c)) hold += w;
      }
      const int4 id = records[b].clust[static_cast<std::size_t>(*c.members.begin() - 1)];
      EXPECT_NEAR(p[static_cast<std::size_t>(id - 1)], hold / sum, 1e-12);
    }
  }
}

TEST(FindFamilyProb, BruteForceTwoSexesFourOffspring) {
  // Four offspring typed at three error-free loci of two alleles (every configuration
  // possible), read and prepared by the program; every configuration scored as the search
  // scores it.
  TempWorkDir dir("brute_force_prob");
  ProjectFile project;
  project.loci = 3;
  project.markertypes = "0 0 0";
  project.droprates = "0 0 0";
  project.otherrates = "0 0 0";
  project.offspring = {"O1 1 2 1 1 2 2", "O2 1 1 1 2 2 2", "O3 2 2 1 2 1 2", "O4 1 2 2 2 1 1"};
  ASSERT_TRUE(prepare(project));
  const auto all = enumerate_configurations();
  ASSERT_EQ(all.size(), 225u);
  for (const auto& r : all) ASSERT_GT(r.logl, -1e300);
  brute_force_case(all);
}

TEST(FindFamilyProb, BruteForceOnePoolThreeOffspringWithSelfing) {
  archive_sample({.n = 3, .numsex = 1});
  variables.allowinbreeding = 1;
  std::mt19937 rng(47);
  std::uniform_real_distribution<real8> u(-12.0, -8.0);
  // Every pair of parent-pool partitions, with the maternal ids either following the paternal
  // ones or reusing them (selfed offspring where both ids agree).
  std::vector<ArchiveRecord> all;
  for (const auto& p1 : all_partitions(3))
    for (const auto& p2 : all_partitions(3))
      for (int shift : {0, 3}) {
        ArchiveRecord r;
        r.fam1 = p1;
        r.fam2 = p2;
        for (auto& x : r.fam2) x += shift;
        r.clust = clusters_of(r.fam1, r.fam2);
        r.logl = u(rng);
        all.push_back(r);
      }
  brute_force_case(all);
}

}  // namespace
}  // namespace kinrad
