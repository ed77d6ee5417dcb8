// Full-sib family probabilities from the archive alone (likelihood corrections switched off),
// the selfing rate and the clone step. The brute-force cases compare with an independent tally
// over canonical full-sib families: each record's offspring grouped into sets by their
// (father id, mother id) pair (unordered in one parent pool, the mother alone for a haploid
// son); a family counts inclusively when one set holds all its members, exclusively when a set
// equals it. Hand cases say where their numbers come from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "core/modules.hpp"
#include "results/fs_family_prob_internal.hpp"
#include "results/results_internal.hpp"
#include "support/archive_builder.hpp"

namespace kinrad {
namespace {

using namespace testing_support;

struct Result {
  std::vector<real8> inc, exc;
  std::array<real8, 3> self{-1.0, -1.0, -1.0};
};

// The probabilities with the corrections off, families in order of their smallest member.
Result shares() {
  const int4 n = variables.smplsize;
  FArray<real8, 1> inc{Dim(n)}, exc{Dim(n)};
  Result r;
  set_fsfamily_corrections(false);
  findfsfamilyprob(inc, exc, n, r.self);
  set_fsfamily_corrections(true);
  EXPECT_EQ(variables.configptr, nullptr);
  r.inc.assign(inc.data(), inc.data() + n);
  r.exc.assign(exc.data(), exc.data() + n);
  return r;
}

using Family = std::set<int4>;

// The canonical full-sib families of one configuration.
std::vector<Family> canonical(const std::vector<int4>& f1, const std::vector<int4>& f2) {
  const auto& v = variables;
  std::map<std::pair<int4, int4>, Family> groups;
  for (int4 i = 1; i <= v.smplsize; ++i) {
    const auto k = static_cast<std::size_t>(i - 1);
    std::pair<int4, int4> id{f1[k], f2[k]};
    if (v.numsex == 1 && id.first > id.second) std::swap(id.first, id.second);
    if (v.numsex == 2 && v.offploid(i) == 1) id.first = 0;
    groups[id].insert(i);
  }
  std::vector<Family> out;
  for (auto& [id, g] : groups) out.push_back(g);
  // In order of smallest member.
  std::sort(out.begin(), out.end(),
            [](const Family& a, const Family& b) { return *a.begin() < *b.begin(); });
  return out;
}

void expect_brute_force(const std::vector<ArchiveRecord>& records) {
  set_archive(records);
  const Result got = shares();
  const std::vector<Family> best = canonical(records[0].fam1, records[0].fam2);
  std::vector<real8> inc(best.size(), 0.0), exc(best.size(), 0.0);
  real8 total = 0.0;
  for (const auto& r : records) {
    const real8 w = std::exp(r.logl - records[0].logl);
    total += w;
    const auto fams = canonical(r.fam1, r.fam2);
    for (std::size_t j = 0; j < best.size(); ++j)
      for (const Family& g : fams) {
        if (std::includes(g.begin(), g.end(), best[j].begin(), best[j].end())) inc[j] += w;
        if (g == best[j]) exc[j] += w;
      }
  }
  for (std::size_t j = 0; j < best.size(); ++j) {
    SCOPED_TRACE(j);
    EXPECT_NEAR(got.inc[j], inc[j] / total, 1e-12);
    EXPECT_NEAR(got.exc[j], exc[j] / total, 1e-12);
  }
}

// Each record of `all` in turn as the best, the rest after it, with random scores.
void every_record_as_best(std::vector<ArchiveRecord> all, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<real8> u(-14.0, -8.0);
  for (auto& r : all) r.logl = u(rng);
  for (std::size_t b = 0; b < all.size(); b += 7) {
    SCOPED_TRACE(b);
    std::vector<ArchiveRecord> records = all;
    std::swap(records[0], records[b]);
    expect_brute_force(records);
  }
}

TEST(FsFamilyShares, BruteForceTwoSexesFourOffspring) {
  archive_sample({.n = 4});
  const auto all = enumerate_configurations([] { return 0.0; });
  ASSERT_EQ(all.size(), 225u);
  every_record_as_best(all, 11);
}

TEST(FsFamilyShares, BruteForceHaploidSonsFourOffspring) {
  // Offspring 2 and 4 are haploid sons: the father id the search records for them is free, so
  // sons of one mother placed under different fathers are still one family.
  archive_sample({.n = 4});
  variables.haplodiploid = 1;
  variables.offploid(2) = 1;
  variables.offploid(4) = 1;
  const auto all = enumerate_configurations([] { return 0.0; });
  every_record_as_best(all, 12);
}

TEST(FsFamilyShares, BruteForceOnePoolThreeOffspringWithSelfing) {
  archive_sample({.n = 3, .numsex = 1});
  variables.allowinbreeding = 1;
  std::vector<ArchiveRecord> all;
  for (const auto& p1 : all_partitions(3))
    for (const auto& p2 : all_partitions(3))
      for (int shift : {0, 3}) {
        ArchiveRecord r;
        r.fam1 = p1;
        r.fam2 = p2;
        for (auto& x : r.fam2) x += shift;
        r.clust = clusters_of(r.fam1, r.fam2);
        all.push_back(r);
      }
  every_record_as_best(all, 13);
}

TEST(FsFamilyShares, OneRecordGivesOneAndAFamilyOfOneIsCertain) {
  archive_sample({.n = 5});
  set_archive({{-7.0, {1, 1, 2, 2, 3}, {1, 1, 1, 2, 3}}});
  const Result r = shares();
  // Families {1,2}, {3}, {4}, {5}: the only record holds each exactly.
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(r.inc[static_cast<std::size_t>(k)], 1.0);
    EXPECT_EQ(r.exc[static_cast<std::size_t>(k)], 1.0);
  }
  // A family of one stays certain whatever the archive holds.
  set_archive({{-7.0, {1, 1, 2, 2, 3}, {1, 1, 1, 2, 3}}, {-7.5, {1, 1, 1, 1, 1}, {1, 1, 1, 1, 1}}});
  const Result s = shares();
  EXPECT_DOUBLE_EQ(s.inc[1], 1.0);
  EXPECT_DOUBLE_EQ(s.inc[2], 1.0);
  // The family {1,2}: inclusive in both records, exclusive only in the first.
  const real8 w = std::exp(-0.5);
  EXPECT_DOUBLE_EQ(s.inc[0], 1.0);
  EXPECT_NEAR(s.exc[0], 1.0 / (1.0 + w), 1e-15);
}

TEST(FsFamilyShares, OnePoolRecordWithExchangedSlotsCounts) {
  archive_sample({.n = 3, .numsex = 1});
  // The best has {1,2} of parents (1, 2); the second record (weight 1) names them (2, 1).
  set_archive({{-3.0, {1, 1, 3}, {2, 2, 4}}, {-3.0, {2, 2, 3}, {1, 1, 4}}});
  const Result r = shares();
  EXPECT_DOUBLE_EQ(r.inc[0], 1.0);
  EXPECT_DOUBLE_EQ(r.exc[0], 1.0);
}

// Selfing rate from a three-record archive (weights 1, 1/2, 1/4; W = 7/4) of 4 offspring whose
// records have 2, 0 and 4 selfed offspring: shares p(2) = 4/7, p(4) = 1/7 (p(0) is left out of
// the moments), mean 8/7 + 4/7 = 12/7, second moment 16/7 + 16/7 = 32/7, variance
// 32/7 - 144/49 = 80/49; r = 2/4; sd = sqrt(2 * 1/2 + 80/49) = sqrt(129/49); the bounds
// 2 -/+ 2 sd fall outside 0..4 and are clipped.
TEST(FsFamilyShares, SelfingRateAndClippedBounds) {
  archive_sample({.n = 4, .numsex = 1});
  variables.allowinbreeding = 1;
  set_archive({{-5.0, {1, 2, 3, 3}, {1, 2, 4, 5}},
               {-5.0 + std::log(0.5), {1, 1, 2, 2}, {3, 3, 4, 4}},
               {-5.0 + std::log(0.25), {1, 1, 2, 3}, {1, 1, 2, 3}}});
  const Result r = shares();
  EXPECT_DOUBLE_EQ(r.self[0], 0.5);
  EXPECT_EQ(r.self[1], 0.0);
  EXPECT_EQ(r.self[2], 1.0);
  ASSERT_GT(std::sqrt(129.0 / 49.0), 1.0);  // 2 sd > 2: both bounds clip
}

// One record with 5 of 10 offspring selfed: variance 0, sd = sqrt(5 * 1/2); bounds
// (5 -/+ 2 sqrt(2.5)) / 10, neither clipped.
TEST(FsFamilyShares, SelfingRateOfOneRecord) {
  archive_sample({.n = 10, .numsex = 1});
  variables.allowinbreeding = 1;
  set_archive({{-5.0, {1, 1, 2, 2, 3, 4, 5, 6, 7, 8}, {1, 1, 2, 2, 3, 9, 9, 9, 9, 9}}});
  const Result r = shares();
  const real8 sd = std::sqrt(2.5);
  EXPECT_DOUBLE_EQ(r.self[0], 0.5);
  EXPECT_NEAR(r.self[1], (5.0 - 2.0 * sd) / 10.0, 1e-15);
  EXPECT_NEAR(r.self[2], (5.0 + 2.0 * sd) / 10.0, 1e-15);
}

TEST(FsFamilyShares, TwoSexesLeaveTheSelfingRateAlone) {
  archive_sample({.n = 3});
  set_archive({{-5.0, {1, 1, 2}, {1, 1, 2}}});
  EXPECT_EQ(shares().self, (std::array<real8, 3>{-1.0, -1.0, -1.0}));
}

// An empty archive weighs nothing: every family gets 0 and the selfing rate stays unset.
TEST(FsFamilyShares, EmptyArchiveGivesZeroAndNoSelfingRate) {
  archive_sample({.n = 3, .numsex = 1});
  set_archive({{-1.0, {1, 1, 2}, {3, 3, 4}}});
  archiveconfigremoveall();
  ASSERT_EQ(variables.confighead, nullptr);
  const Result r = shares();
  EXPECT_EQ(r.inc[0], 0.0);
  EXPECT_EQ(r.exc[1], 0.0);
  EXPECT_EQ(r.self, (std::array<real8, 3>{-1.0, -1.0, -1.0}));
}

// The clone step raises both rates by g = (number of polymorphic loci)^0.05, capped at 0.5,
// hands findclone the inclusive probabilities in key order, and restores the rates bit for bit.
TEST(FsFamilyShares, CloneStepRaisesAndRestoresTheRates) {
  archive_sample({.n = 4});
  auto& v = variables;
  v.allowclone = 1;
  v.numloci = 3;
  v.locus3.allocate(Dim(0, 2));
  v.locus3(0) = 2;
  v.locus3(1) = 1;
  v.locus3(2) = 2;
  v.locus2.allocate(Dim(0, 1));
  v.locus2(0) = 1;
  v.locus2(1) = 3;
  v.droprate.allocate(Dim(3));
  v.othererrorrate.allocate(Dim(3));
  const std::array<real8, 3> drop{0.01, 0.6, 0.123456789};
  const std::array<real8, 3> other{0.5, 0.02, 0.3};
  for (int4 l = 1; l <= 3; ++l) {
    v.droprate(l) = drop[static_cast<std::size_t>(l - 1)];
    v.othererrorrate(l) = other[static_cast<std::size_t>(l - 1)];
  }
  // Best {1,3}, {2}, {4}; record 2 (weight 1) splits {1,3}: its inclusive share is 1/2. Keys
  // put the family with father 1 first ({1,3}), then {2} (father 2), then {4} (father 3).
  set_archive({{-2.0, {1, 2, 1, 3}, {1, 1, 1, 2}}, {-2.0, {1, 2, 3, 3}, {1, 1, 1, 2}}});
  const real8 g = std::pow(3.0, 0.05);
  bool called = false;
  set_findclone_seam(
      [&](int4 nf, const real8* prob, const int4* start, const int4* size, const int4* members) {
        called = true;
        EXPECT_EQ(v.droprate(1), std::min(0.01 * g, 0.5));
        EXPECT_EQ(v.droprate(2), 0.5);
        EXPECT_EQ(v.othererrorrate(1), 0.5);
        EXPECT_EQ(v.othererrorrate(3), std::min(0.3 * g, 0.5));
        ASSERT_EQ(nf, 3);
        EXPECT_DOUBLE_EQ(prob[0], 0.5);
        EXPECT_DOUBLE_EQ(prob[1], 1.0);
        EXPECT_DOUBLE_EQ(prob[2], 1.0);
        EXPECT_EQ(start[0], 1);
        EXPECT_EQ(size[0], 2);
        EXPECT_EQ(members[start[2] - 1], 4);
      });
  // No observation tables to rebuild in this sample: the rebuild sees loci without alleles.
  v.obsnumallele.allocate(Dim(3));
  shares();
  set_findclone_seam({});
  EXPECT_TRUE(called);
  for (int4 l = 1; l <= 3; ++l) {
    EXPECT_EQ(v.droprate(l), drop[static_cast<std::size_t>(l - 1)]);
    EXPECT_EQ(v.othererrorrate(l), other[static_cast<std::size_t>(l - 1)]);
  }
}

}  // namespace
}  // namespace kinrad
