// Encoding and decoding of archived configurations, the partition signature and the
// parent-pair comparison. Expected values are derived by hand from the record's rules or by an
// independent computation in the test (64-bit sums, maps).
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "configuration/configuration.hpp"
#include "configuration_fixture.hpp"

namespace kinrad::test {
namespace {

struct MatingCase {
  const char* name;
  int4 mono1, mono2;
};
constexpr MatingCase kMatings[] = {
    {"no monogamy", 0, 0}, {"sex 1", 1, 0}, {"sex 2", 0, 1}, {"both", 1, 1}};

// Number of offspring (of 8) with a candidate parent, and the form the record must use.
struct DensityCase {
  const char* name;
  int4 k;
  int form;  // 0 absent, 1 sparse, 2 dense
};
constexpr DensityCase kDensities[] = {
    {"none", 0, 0}, {"k < n/2", 3, 1}, {"k = n/2", 4, 2}, {"k > n/2", 6, 2}};

constexpr int4 kN = 8;

// Frees the record the last newconfig made (the archive, which would own it, is not in play).
void free_record() {
  variables.deleteconfig = variables.configptr;
  variables.configptr = nullptr;
  deallocateconfig();
}

class ConfigRoundTrip : public ::testing::Test {
 protected:
  void TearDown() override { reset_all_modules(); }
};

TEST_F(ConfigRoundTrip, EncodeThenDecodeGivesTheColumnsBack) {
  for (int4 numsex : {2, 1}) {
    for (const auto& mating : kMatings) {
      for (const auto& density : kDensities) {
        SCOPED_TRACE(std::string(numsex == 2 ? "dioecious, " : "monoecious, ") + mating.name +
                     ", " + density.name);
        setup_sample({kN, numsex, mating.mono1, mating.mono2, 70000, 70000});
        auto& v = variables;
        const bool dmono = numsex == 2 && mating.mono1 == 1 && mating.mono2 == 1;
        // Columns 1 and 2 carry the extreme ids 0 and 65535 except where column 1 is the
        // cluster label of the signature (both sexes monogamous, two sexes).
        const int4 c1[kN] = {dmono ? 1 : 0, 1, 2, 2, dmono ? 3 : 65535, 3, 4, 4};
        const int4 c2[kN] = {65535, 0, 7, 7, 9, 9, 11, 11};
        const int4 c3[kN] = {1, 2, 3, 3, 4, 4, 1, 2};
        for (int4 i = 1; i <= kN; ++i) {
          v.crindivloc(i, 1) = c1[i - 1];
          v.crindivloc(i, 2) = c2[i - 1];
          v.crindivloc(i, 3) = c3[i - 1];
        }
        // Candidates on offspring 2, 4, 6, ... (the first k of them, wrapping to the odd
        // ones), with the extreme candidate number 65535 on the first.
        const int4 who[6] = {2, 4, 6, 8, 1, 3};
        for (int4 j = 0; j < density.k; ++j) {
          v.inferparent(who[j], 1) = j == 0 ? 65535 : 100 + j;
          v.inferparent(who[j], 2) = 200 + j;
        }
        v.indivlocprt = v.crindivloc.view();
        v.inferparentprt = v.inferparent.view();
        real8 score = -12.5;
        v.loglikelihoodprt = &score;
        newconfig(4);
        Config& c = *v.configptr;
        EXPECT_EQ(c.nclust, 4);
        EXPECT_EQ(c.logl, -12.5);
        for (const auto* parents : {&c.dad, &c.mum}) {
          if (density.form == 0) {
            EXPECT_FALSE(parents->allocated());
          } else {
            ASSERT_TRUE(parents->allocated());
            EXPECT_EQ(parents->size(2), density.form == 2 ? 1 : 2);
            EXPECT_EQ(parents->size(1), density.form == 2 ? kN : density.k);
          }
        }
        const bool all_columns = mating.mono1 == 0 && mating.mono2 == 0;
        EXPECT_EQ(c.fam2.allocated(), numsex == 1 || !dmono);
        EXPECT_EQ(c.clust.allocated(), numsex == 1 || all_columns);

        for (int4 i = 1; i <= kN; ++i)
          for (int4 k = 1; k <= 3; ++k) v.offtgt(i, k) = -7;
        v.crrtconfig = &c;
        real8 logl = 0.0;
        convertconfig(1, logl);
        EXPECT_EQ(logl, -12.5);
        for (int4 i = 1; i <= kN; ++i) {
          SCOPED_TRACE("offspring " + std::to_string(i));
          EXPECT_EQ(v.offtgt(i, 1), c1[i - 1]);
          // By hand from the rules: every column is kept with two free sexes or one pool;
          // a monogamous father's mate family is his cluster; a monogamous mother's father's
          // family is hers; under double monogamy column 1 stands for all three.
          int4 want2 = c2[i - 1];
          int4 want3 = c3[i - 1];
          if (numsex == 2 && !all_columns) {
            if (dmono) {
              want2 = c1[i - 1];
              want3 = c1[i - 1];
            } else {
              want3 = mating.mono1 == 1 ? c2[i - 1] : c1[i - 1];
            }
          }
          EXPECT_EQ(v.offtgt(i, 2), want2);
          EXPECT_EQ(v.offtgt(i, 3), want3);
          EXPECT_EQ(v.prnttgt(i, 1), v.inferparent(i, 1));
          EXPECT_EQ(v.prnttgt(i, 2), v.inferparent(i, 2));
        }
        free_record();
      }
    }
  }
}

TEST_F(ConfigRoundTrip, ModeTwoLeavesClusterColumnAndSexWithoutCandidates) {
  for (const auto& mating : kMatings) {
    SCOPED_TRACE(mating.name);
    setup_sample({kN, 2, mating.mono1, mating.mono2, 5, 0});
    auto& v = variables;
    for (int4 i = 1; i <= kN; ++i) {
      v.crindivloc(i, 1) = (i + 1) / 2;
      v.crindivloc(i, 2) = (i + 1) / 2 + 10;
      v.crindivloc(i, 3) = (i + 1) / 2;
      v.inferparent(i, 1) = i % 3 == 0 ? 2 : 0;
    }
    v.indivlocprt = v.crindivloc.view();
    v.inferparentprt = v.inferparent.view();
    real8 score = -1.0;
    v.loglikelihoodprt = &score;
    newconfig(4);
    EXPECT_FALSE(v.configptr->mum.allocated());
    for (int4 i = 1; i <= kN; ++i) {
      for (int4 k = 1; k <= 3; ++k) v.offtgt(i, k) = -7;
      v.prnttgt(i, 1) = -7;
      v.prnttgt(i, 2) = -7;
    }
    v.crrtconfig = v.configptr;
    real8 logl = 0.0;
    convertconfig(2, logl);
    const bool dmono = mating.mono1 == 1 && mating.mono2 == 1;
    for (int4 i = 1; i <= kN; ++i) {
      EXPECT_EQ(v.offtgt(i, 1), (i + 1) / 2);
      EXPECT_EQ(v.offtgt(i, 2), dmono ? -7 : (i + 1) / 2 + 10);
      EXPECT_EQ(v.offtgt(i, 3), -7);
      EXPECT_EQ(v.prnttgt(i, 1), i % 3 == 0 ? 2 : 0);
      EXPECT_EQ(v.prnttgt(i, 2), -7);
    }
    free_record();
  }
}

TEST(ConfigRecord, DeallocateNullsTheReference) {
  setup_sample({4, 2, 0, 0, 0, 0});
  auto& v = variables;
  for (int4 i = 1; i <= 4; ++i)
    for (int4 k = 1; k <= 3; ++k) v.crindivloc(i, k) = 1;
  v.indivlocprt = v.crindivloc.view();
  v.inferparentprt = v.inferparent.view();
  real8 score = 0.0;
  v.loglikelihoodprt = &score;
  newconfig(1);
  v.deleteconfig = v.configptr;
  deallocateconfig();
  EXPECT_EQ(v.deleteconfig, nullptr);
  reset_all_modules();
}

// Signature by an independent computation: ranks by first appearance in a map, the sum in 64
// bits reduced modulo 2^32.
int4 reference_signature(const std::vector<int4>& labels) {
  std::map<int4, int8> rank;
  int8 sum = 0;
  int8 r = 0;
  for (std::size_t k = 0; k < labels.size(); ++k) {
    const int8 i = static_cast<int8>(k) + 1;
    if (!rank.count(labels[k])) rank[labels[k]] = static_cast<int8>(rank.size()) + 1;
    r = rank[labels[k]];
    sum += (i % 2 == 1) ? i * r : -i * r;
  }
  sum -= r;
  return static_cast<int4>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(sum)));
}

int4 signature_of(const std::vector<int4>& labels, int4 nclust, int4 numsex = 2, int4 allmono = 0) {
  const auto n = static_cast<int4>(labels.size());
  setup_sample({n, numsex, allmono, allmono, 0, 0});
  auto& v = variables;
  for (int4 i = 1; i <= n; ++i) {
    v.crindivloc(i, 1) = allmono ? labels[static_cast<std::size_t>(i - 1)] : 1;
    v.crindivloc(i, 3) = allmono ? 1 : labels[static_cast<std::size_t>(i - 1)];
  }
  v.indivlocprt = v.crindivloc.view();
  return charactervalue(nclust);
}

TEST(Signature, WorkedExamples) {
  // (5, 5, 2): ranks 1, 1, 2: 1 - 2 + 6 - 2 = 3; (4, 9): 1 - 4 - 2 = -5.
  EXPECT_EQ(signature_of({5, 5, 2}, 5), 3);
  EXPECT_EQ(signature_of({1, 1, 7}, 7), 3);
  EXPECT_EQ(signature_of({4, 9}, 9), -5);
  // Under double monogamy in two sexes the labels are column 1.
  EXPECT_EQ(signature_of({4, 9}, 9, 2, 1), -5);
}

TEST(Signature, InvariantUnderRelabelling) {
  std::mt19937 rng(17);
  const int4 n = 200;
  const int4 nclust = 30;
  std::vector<int4> labels(n);
  std::uniform_int_distribution<int4> d(1, nclust);
  for (auto& x : labels) x = d(rng);
  const int4 base = signature_of(labels, nclust);
  EXPECT_EQ(base, reference_signature(labels));
  std::vector<int4> perm(nclust + 1);
  for (int round = 0; round < 1000; ++round) {
    for (int4 k = 0; k <= nclust; ++k) perm[static_cast<std::size_t>(k)] = k;
    std::shuffle(perm.begin() + 1, perm.end(), rng);
    std::vector<int4> relabelled(n);
    for (int4 i = 0; i < n; ++i)
      relabelled[static_cast<std::size_t>(i)] = perm[static_cast<std::size_t>(labels[i])];
    ASSERT_EQ(signature_of(relabelled, nclust), base) << "round " << round;
  }
  reset_all_modules();
}

TEST(Signature, LargestSampleWrapsLikeA64BitSumModulo2To32) {
  const int4 n = 32767;
  // Odd offspring each open a new group and even ones share group 1, so the odd terms grow
  // like i^2 / 2 and the sum passes 2^32 many times; the other case keeps every offspring apart.
  for (bool odd_apart : {true, false}) {
    SCOPED_TRACE(odd_apart ? "odd offspring apart" : "all apart");
    std::vector<int4> labels(n);
    for (int4 i = 1; i <= n; ++i)
      labels[static_cast<std::size_t>(i - 1)] =
          odd_apart ? (i % 2 == 1 ? (i + 1) / 2 + 1 : 1) : n + 1 - i;
    const int4 nclust = odd_apart ? (n + 1) / 2 + 1 : n;
    EXPECT_EQ(signature_of(labels, nclust), reference_signature(labels));
  }
  reset_all_modules();
}

TEST(DiffInferParent, PairsCompareUnordered) {
  struct Row {
    int4 a1, a2, b1, b2, diff;
  };
  const Row rows[] = {
      {3, 5, 5, 3, 0}, {3, 5, 3, 5, 0}, {0, 5, 5, 0, 0}, {0, 0, 0, 0, 0},
      {0, 0, 0, 5, 1}, {0, 5, 0, 0, 1}, {3, 5, 3, 6, 1}, {3, 5, 5, 5, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.a1) + "," + std::to_string(r.a2) + " / " + std::to_string(r.b1) +
                 "," + std::to_string(r.b2));
    FArray<int4, 2> a(Dim(2), Dim(2)), b(Dim(2), Dim(2));
    // Row 1 equal in both, row 2 the case.
    a(1, 1) = b(1, 2) = 7;
    a(1, 2) = b(1, 1) = 8;
    a(2, 1) = r.a1;
    a(2, 2) = r.a2;
    b(2, 1) = r.b1;
    b(2, 2) = r.b2;
    int4 diff = -1;
    diffinferprnt(a, b, 2, diff);
    EXPECT_EQ(diff, r.diff);
    diffinferprnt(a, b, 1, diff);  // only the equal first row
    EXPECT_EQ(diff, 0);
  }
}

}  // namespace
}  // namespace kinrad::test
