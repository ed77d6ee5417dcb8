// The greedy search for the clone partition of a full-sib group.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/modules/simuvariables.hpp"
#include "pairwise/clone_fixture.hpp"
#include "pairwise/clone_internal.hpp"
#include "pairwise/clones.hpp"

namespace kinrad::test {
namespace {

struct Result {
  std::vector<int4> members;
  std::vector<int4> bounds;
  int4 nclones = 0;
  real8 prob = 0.0;
};

Result run_fsconfig(const std::vector<int4>& members, int4 father = 0, int4 mother = 0) {
  clone_detail::set_lynch_weights();
  const int4 n = static_cast<int4>(members.size());
  Result r;
  r.members.assign(members.size(), 0);
  r.bounds.assign(members.size() + 1, -1);
  int4 counter = 0;
  const int4 parents[2] = {father, mother};
  fsconfig(counter, parents, n, members.data(), r.members.data(), r.bounds.data(), r.nclones,
           r.prob);
  r.bounds.resize(static_cast<std::size_t>(r.nclones) + 1);
  return r;
}

// Ten loci of five equally common alleles with typing errors.
std::vector<LocusSpec> ten_loci() {
  return std::vector<LocusSpec>(10, {5, false, 0.01, 0.01, {0.2, 0.2, 0.2, 0.2, 0.2}});
}

TEST_F(CloneTest, IdenticalMembersMerge) {
  CloneData d;
  d.loci = ten_loci();
  for (int l = 0; l < 10; ++l) {
    const Genotype g{l % 5 + 1, (l + 2) % 5 + 1 > l % 5 + 1 ? (l + 2) % 5 + 1 : l % 5 + 1};
    d.off.push_back({g, g});
  }
  setup_clone_data(d);
  const Result r = run_fsconfig({1, 2});
  EXPECT_EQ(r.nclones, 1);
  EXPECT_EQ(r.bounds, (std::vector<int4>{0, 2}));
  EXPECT_EQ(r.members, (std::vector<int4>{1, 2}));
  // Two partitions were scored; the merged one is far more likely.
  EXPECT_GT(r.prob, 0.99);
  EXPECT_LE(r.prob, 1.0);
}

// Members sharing no allele at any locus: every mean r is below 0.35, so no merge is scored
// and the all-distinct partition is returned with probability 1.
TEST_F(CloneTest, UnrelatedMembersStayDistinct) {
  CloneData d;
  d.loci = ten_loci();
  for (int l = 0; l < 10; ++l) d.off.push_back({{1, 2}, {3, 4}, {5, 5}});
  setup_clone_data(d);
  const Result r = run_fsconfig({3, 1, 2});
  EXPECT_EQ(r.nclones, 3);
  EXPECT_EQ(r.members, (std::vector<int4>{3, 1, 2}));
  EXPECT_EQ(r.bounds, (std::vector<int4>{0, 1, 2, 3}));
  EXPECT_EQ(r.prob, 1.0);
}

// Three typings of one individual and two of its full sibs (parents 1/2 and 3/4 at twelve
// loci of six alleles): the replicates form one clone, the sibs stay apart.
TEST_F(CloneTest, ReplicatesMergeSibsDoNot) {
  CloneData d;
  d.loci = std::vector<LocusSpec>(12, {6, false, 0.01, 0.01, {0.2, 0.2, 0.2, 0.2, 0.1, 0.1}});
  for (int l = 1; l <= 12; ++l) {
    const Genotype rep{1, 3};
    const Genotype sib1 = l % 2 == 1 ? Genotype{1, 4} : Genotype{2, 4};
    const Genotype sib2 = l % 3 == 0 ? Genotype{1, 4} : Genotype{2, 3};
    d.off.push_back({rep, sib1, rep, sib2, rep});
  }
  // One typing error in the second replicate (offspring 3) at locus 5, so offspring 1 and 5
  // are the closest pair and merge first.
  d.off[4][2] = {3, 3};
  setup_clone_data(d);
  const Result r = run_fsconfig({1, 2, 3, 4, 5});
  ASSERT_EQ(r.nclones, 3);
  // The merged clone comes first, then the other clusters in their order.
  EXPECT_EQ(r.bounds, (std::vector<int4>{0, 3, 4, 5}));
  EXPECT_EQ(r.members, (std::vector<int4>{1, 5, 3, 2, 4}));
  EXPECT_GT(r.prob, 0.9);
}

// With sampled parents the same replicates merge; a sampled parent typed at every locus
// enters each partition's likelihood.
TEST_F(CloneTest, ReplicatesMergeWithSampledParents) {
  CloneData d;
  d.loci = std::vector<LocusSpec>(8, {4, false, 0.01, 0.01, {0.25, 0.25, 0.25, 0.25}});
  for (int l = 1; l <= 8; ++l) d.off.push_back({{1, 3}, {2, 4}, {1, 3}});
  d.fathers = 1;
  d.mothers = 1;
  d.cnd.assign(8, {{1, 2}, {3, 4}});
  setup_clone_data(d);
  const Result r = run_fsconfig({1, 2, 3}, 1, 1);
  ASSERT_EQ(r.nclones, 2);
  EXPECT_EQ(r.members, (std::vector<int4>{1, 3, 2}));
}

// Four sibs showing five alleles at an error-free locus: every partition of the whole group
// is impossible (-1e300), so a merge ties with the best. The screens on the merged pair alone
// decide: members 1 and 2, alike everywhere, merge (one clone is likelier than two for them);
// every other pair differs at the error-free locus, so its one-clone likelihood is -1e300 and
// its two-clone likelihood better by more than 2. Nothing else enters the list: prob is 1.
TEST_F(CloneTest, ImpossibleFamilyMergesOnlyLikelyPairs) {
  CloneData d;
  d.loci = ten_loci();
  d.loci.push_back({5, false, 0.0, 0.0, {0.2, 0.2, 0.2, 0.2, 0.2}});
  for (int l = 0; l < 10; ++l) d.off.push_back({{1, 2}, {1, 2}, {1, 2}, {1, 2}});
  d.off.push_back({{1, 2}, {1, 2}, {3, 4}, {5, 5}});
  setup_clone_data(d);
  const Result r = run_fsconfig({1, 2, 3, 4});
  EXPECT_EQ(r.nclones, 3);
  EXPECT_EQ(r.members, (std::vector<int4>{1, 2, 3, 4}));
  EXPECT_EQ(r.bounds, (std::vector<int4>{0, 2, 3, 4}));
  EXPECT_EQ(r.prob, 1.0);
}

// A locus whose scaled probability overflows (here frequencies summing to 2, so the sum over
// parental pairs exceeds the largest double) adds 0, the limit of a probability of 1, rather
// than an infinite log likelihood.
TEST_F(CloneTest, OverflowingLocusAddsNothing) {
  CloneData d;
  d.loci = {{2, false, 0.0, 0.0, {1.0, 1.0}}};
  d.off = {{{1, 2}}};
  setup_clone_data(d);
  const int4 m[1] = {1};
  const int4 parents[2] = {0, 0};
  const int4 b[2] = {0, 1};
  real8 logl = -5.0;
  fsconfiglog(1, m, parents, 1, b, logl, -1e300);
  EXPECT_TRUE(std::isfinite(logl));
  EXPECT_NEAR(logl, 0.0, 1e-12);
}

}  // namespace
}  // namespace kinrad::test
