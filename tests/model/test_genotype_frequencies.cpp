// Genotype-class tables of the two-allele loci and the re-estimation of allele frequencies.
// Expected values: class frequencies by hand; joint rows from the observation model (prbg_p
// with the effective rate, tested on its own) times the class frequency, and their sums over
// the observed classes, which must give back the class frequency; frequencies by hand.
#include <gtest/gtest.h>

#include <vector>

#include "model/model.hpp"
#include "model_fixture.hpp"

namespace kinrad {
namespace {

using test::Genotype;
using test::ModelTest;

// Locus 1: codominant with errors, p = (0.3, 0.7); locus 2: three alleles (not a two-allele
// locus); locus 3: dominant with errors, p = (0.4, 0.6).
class GenotypeFrequencies : public ModelTest {
 protected:
  void setup(int4 haplodiploid, int4 candidates) {
    variables.haplodiploid = haplodiploid;
    variables.allcandidate = candidates;
    test::setup_loci({{2, false, 0.1, 0.05, {0.3, 0.7}},
                      {3, false, 0.0, 0.0, {0.2, 0.3, 0.5}},
                      {2, true, 0.05, 0.1, {0.4, 0.6}}});
    // As the per-locus set-up lays the table out: 3 class rows, 3 x 3 joint rows with
    // candidates (codominant and dominant loci mixed), then the haploid rows.
    const int4 base = candidates > 0 ? 12 : 3;
    variables.l2lb(2) = base;
    variables.locus2gtypefre.allocate(Dim(base + (haplodiploid == 0 ? 0
                                                  : candidates > 0  ? 6
                                                                    : 2)),
                                      Dim(0, 0));
  }
  real8 at(int4 row, int4 column) const { return variables.locus2gtypefre(row, column); }
};

TEST_F(GenotypeFrequencies, ClassRowsAndJointRows) {
  struct Row {
    real8 F;
    real8 classes[3];  // locus 1
  };
  const Row rows[] = {{0.0, {0.09, 0.42, 0.49}}, {0.2, {0.132, 0.336, 0.532}}};
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "F " << r.F);
    reset_all_modules();
    setup(0, 2);
    variables.inbreeding = r.F;
    computegtypefre(1, 2);
    ASSERT_EQ(variables.locus2gtypefre.lbound(2), 0);
    ASSERT_EQ(variables.locus2gtypefre.ubound(2), 1);
    EXPECT_EQ(variables.l2lb(1), 1);
    for (int4 c = 0; c < 3; ++c) EXPECT_NEAR(at(c + 1, 0), r.classes[c], 1e-15);
    const int4 truth[3][2] = {{1, 1}, {1, 2}, {2, 2}};
    const real8 e1 = errscale(2, 0.05), e3 = errscale(2, 0.1);
    const real8 p3 = 0.4, q3 = 0.6;
    const real8 dominant[3] = {((1 - r.F) * p3 + r.F) * p3, 2 * (1 - r.F) * p3 * q3,
                               ((1 - r.F) * q3 + r.F) * q3};
    for (int4 t = 0; t < 3; ++t) {
      real8 sum1 = 0.0, sum3 = 0.0;
      for (int4 g = 1; g <= 3; ++g) {
        const real8 y =
            prbg_p(truth[g - 1][0], truth[g - 1][1], truth[t][0], truth[t][1], 2, 0.1, e1, 0);
        EXPECT_NEAR(at(3 * g + t + 1, 0), y * r.classes[t], 1e-15) << g << " " << t;
        sum1 += at(3 * g + t + 1, 0);
      }
      for (int4 g = 1; g <= 2; ++g) {
        const real8 y = prbg_p(g, 0, truth[t][0], truth[t][1], 2, 0.05, e3, 0);
        EXPECT_NEAR(at(3 * g + t + 1, 1), y * dominant[t], 1e-15) << g << " " << t;
        sum3 += at(3 * g + t + 1, 1);
      }
      EXPECT_NEAR(sum1, r.classes[t], 1e-15);
      EXPECT_NEAR(sum3, dominant[t], 1e-15);
      EXPECT_NEAR(at(t + 1, 1), dominant[t], 1e-15);
    }
  }
}

TEST_F(GenotypeFrequencies, HaploidRows) {
  setup(1, 2);
  computegtypefre(1, 1);
  const real8 e = errscale(2, 0.05), u = e / 2;
  const real8 expected[6] = {0.3, 0.7, (1 - e + u) * 0.3, u * 0.7, u * 0.3, (1 - e + u) * 0.7};
  for (int4 r = 0; r < 6; ++r) EXPECT_NEAR(at(13 + r, 0), expected[r], 1e-15) << 13 + r;
  // Without candidates the table has two haploid rows after the three class rows.
  reset_all_modules();
  setup(1, 0);
  computegtypefre(1, 2);
  ASSERT_EQ(variables.locus2gtypefre.size(1), 5);
  EXPECT_EQ(at(4, 0), 0.3);
  EXPECT_NEAR(at(5, 0), 0.7, 1e-15);
  EXPECT_EQ(at(4, 1), 0.4);
  EXPECT_NEAR(at(5, 1), 0.6, 1e-15);
}

TEST_F(GenotypeFrequencies, NegativeInbreedingKeepsHomozygotesAtZero) {
  setup(0, 0);
  variables.obsallelefre(1).a(1) = 0.1;
  variables.obsallelefre(1).a(2) = 0.9;
  variables.inbreeding = -0.5;
  computegtypefre(1, 1);
  // (1.5 0.1 - 0.5) 0.1 < 0; 2 1.5 0.1 0.9 = 0.27 (above 2pq = 0.18); (1.5 0.9 - 0.5) 0.9.
  EXPECT_EQ(at(1, 0), 0.0);
  EXPECT_NEAR(at(2, 0), 0.27, 1e-15);
  EXPECT_NEAR(at(3, 0), 0.765, 1e-15);
}

TEST_F(GenotypeFrequencies, RangesAndTheDiscardedTable) {
  setup(0, 2);
  computegtypefre(1, 2);
  computegtypefre(0, 0);  // no filled column: every position lies outside the table
  EXPECT_EQ(variables.l2lb(1), 0);
  EXPECT_EQ(variables.locus2gtypefre.ubound(2), 0);
  EXPECT_EQ(variables.locus2gtypefre.size(1), 12);
  for (int4 r = 1; r <= 12; ++r) EXPECT_EQ(at(r, 0), 0.0);
  computegtypefre(2, 2);  // position 2 alone, in column 0
  EXPECT_EQ(variables.l2lb(1), 2);
  EXPECT_EQ(variables.locus2gtypefre.ubound(2), 0);
  EXPECT_NEAR(at(1, 0), 0.16, 1e-15);
  EXPECT_NEAR(at(3, 0), 0.36, 1e-15);
}

TEST_F(GenotypeFrequencies, ReestimatedFrequenciesFromCounts) {
  test::setup_loci({{3, false, 0.0, 0.0, {0.2, 0.3, 0.5}}});
  struct Row {
    std::vector<real8> counts, expected;
  };
  const Row rows[] = {
      {{10, 9, 10}, {11.0 / 32, 10.0 / 32, 11.0 / 32}},  // 29 copies: one added per allele
      {{10, 10, 10}, {1.0 / 3, 1.0 / 3, 1.0 / 3}},       // 30 copies: plain proportions
      {{0, 0, 0}, {1.0 / 3, 1.0 / 3, 1.0 / 3}},
      {{6, 24, 0}, {0.2, 0.8, 0.0}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.counts[0] + r.counts[1] + r.counts[2]);
    std::vector<real8> x = r.counts;
    recomputeallelefre(1, x);
    for (int a = 0; a < 3; ++a)
      EXPECT_NEAR(x[static_cast<std::size_t>(a)], r.expected[static_cast<std::size_t>(a)], 1e-15);
  }
}

// Candidates: fathers 1/2, (2/2, the father of offspring 1), (missing); mothers (3/3, the
// mother of offspring 2), 3/3 at the codominant locus; at the dominant locus fathers show
// phenotypes 1, 1, 2 and mothers 2, 1.
class CandidateCounts : public ModelTest {
 protected:
  void SetUp() override {
    ModelTest::SetUp();
    test::setup_loci({{3, false, 0.0, 0.0, {0.2, 0.3, 0.5}}, {2, true, 0.0, 0.0, {0.4, 0.6}}});
    variables.numcandidate(1) = 3;
    variables.numcandidate(2) = 2;
    variables.allcandidate = 5;
    variables.numsex = 2;
    variables.ploidy(1) = 2;
    variables.ploidy(2) = 2;
    test::pack(
        variables.cndgtype2, variables.cndgtype2tgt,
        {{{1, 2}, {2, 2}, {0, 0}, {3, 3}, {3, 3}}, {{1, 0}, {1, 0}, {2, 0}, {2, 0}, {1, 0}}});
    variables.btinferparent.allocate(Dim(2), Dim(2));
    variables.btinferparent(1, 1) = 2;
    variables.btinferparent(2, 2) = 1;
  }
};

TEST_F(CandidateCounts, UnusedCandidatesAddTheirAlleles) {
  // Fathers 1 (1/2) and mother 2 (3/3) add: counts (20, 5, 3) + (1, 1, 2) = (21, 6, 5), 32.
  std::vector<real8> x = {20, 5, 3};
  recomputeallelefre(1, x);
  EXPECT_NEAR(x[0], 21.0 / 32, 1e-15);
  EXPECT_NEAR(x[1], 6.0 / 32, 1e-15);
  EXPECT_NEAR(x[2], 5.0 / 32, 1e-15);
  // Dominant: father 1 (band) adds 2/(1 + q) and 2q/(1 + q) with q = 0.6, father 3 (no band)
  // adds 2 to allele 2, mother 2 (band) as father 1; total 20 + 6 = 26 < 30.
  x = {10, 10};
  recomputeallelefre(2, x);
  const real8 a1 = 10 + 2 * (2 / 1.6), a2 = 10 + 2 + 2 * (1.2 / 1.6);
  EXPECT_NEAR(x[0], (a1 + 1) / 28, 1e-15);
  EXPECT_NEAR(x[1], (a2 + 1) / 28, 1e-15);
}

TEST_F(CandidateCounts, KnownParentsAddNothing) {
  // Mother 2 (3/3) is offspring 1's known mother: its family's counts hold its alleles already,
  // so only father 1 (1/2) is left to add; -1 (no known parent) marks nobody.
  variables.indivparent.allocate(Dim(2), Dim(2));
  variables.indivparent.fill(-1);
  variables.indivparent(1, 2) = 2;
  std::vector<real8> x = {20, 5, 3};
  recomputeallelefre(1, x);
  // (20, 5, 3) + (1, 1, 0) = (21, 6, 3), 30 copies: plain proportions.
  EXPECT_NEAR(x[0], 21.0 / 30, 1e-15);
  EXPECT_NEAR(x[1], 6.0 / 30, 1e-15);
  EXPECT_NEAR(x[2], 3.0 / 30, 1e-15);
}

TEST_F(CandidateCounts, HaploidFathersAddOneAllele) {
  variables.haplodiploid = 1;
  variables.ploidy(1) = 1;
  // Father 1 typed 1/2 counts its first allele only; at the dominant locus father 1 adds one
  // copy of allele 1 and father 3 one of allele 2; mother 2 still adds expected copies.
  std::vector<real8> x = {20, 5, 3};
  recomputeallelefre(1, x);
  // Total 20 + 5 + 3 + 1 + 2 = 31.
  EXPECT_NEAR(x[0], 21.0 / 31, 1e-15);
  EXPECT_NEAR(x[1], 5.0 / 31, 1e-15);
  EXPECT_NEAR(x[2], 5.0 / 31, 1e-15);
  x = {10, 10};
  recomputeallelefre(2, x);
  const real8 a1 = 10 + 1 + 2 / 1.6, a2 = 10 + 1 + 1.2 / 1.6;
  EXPECT_NEAR(x[0], (a1 + 1) / (a1 + a2 + 2), 1e-15);
  EXPECT_NEAR(x[1], (a2 + 1) / (a1 + a2 + 2), 1e-15);
}

TEST_F(CandidateCounts, OneParentPoolLooksInBothColumns) {
  variables.numsex = 1;
  variables.numcandidate(2) = 0;
  variables.allcandidate = 3;
  // Candidate 2 is offspring 1's first parent and candidate 1 offspring 2's second: only
  // candidate 3, untyped, is left, so nothing is added.
  variables.btinferparent(2, 2) = 1;
  std::vector<real8> x = {20, 6, 4};
  recomputeallelefre(1, x);
  EXPECT_NEAR(x[0], 20.0 / 30, 1e-15);
  EXPECT_NEAR(x[1], 6.0 / 30, 1e-15);
  EXPECT_NEAR(x[2], 4.0 / 30, 1e-15);
}

}  // namespace
}  // namespace kinrad
