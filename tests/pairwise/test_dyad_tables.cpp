// Every entry of every dyad table against a direct double-precision sum over the loci (the
// oracle of dyad_sample.hpp), and the tables' symmetry, normalisation and orientation.
#include <cmath>
#include <map>
#include <string>

#include "pairwise/dyad_sample.hpp"

namespace kinrad::pairtest {
namespace {

std::string at(int type, int i, int j) {
  return "type " + std::to_string(type) + " (" + std::to_string(i) + ", " + std::to_string(j) + ")";
}

// Compares every table the set-up built with the oracle. Entries that the haploid rules of a
// haplodiploid species fix are checked against those rules; the ones scored as trial families
// by the likelihood engine are passed over.
void checkalltables() {
  const Variables& v = variables;
  const int n = v.smplsize;
  auto hap = [&](int i) { return v.offploid(i) == 1; };
  const bool hd = v.smplsizedh(1) > 0;
  ASSERT_TRUE(prbfspair_allocated());
  for (int i = 2; i <= n; ++i)
    for (int j = 1; j < i; ++j) {
      // Full sibs: A = j, B = i.
      if (!(hd && hap(i) && hap(j))) {
        if (hd && hap(i) != hap(j))
          EXPECT_EQ(prbfspair(j, i), -1e38f) << at(1, j, i);
        else
          expect_entry(prbfspair(j, i), dyadoracle(deltaof(1), j, 0, i, 2), at(1, j, i));
      }
      if (v.prbhstri.allocated() && !(v.haplodiploid == 1 && v.monogamy(1) == 1)) {
        const real4 hs = v.prbfspairlower == 2 ? prbfspair(i, j) : prbhspair(i, j);
        if (hd && (hap(i) || hap(j)))
          EXPECT_EQ(hs, -1e38f) << at(2, i, j);
        else
          expect_entry(hs, dyadoracle(deltaof(2), i, 0, j, 2), at(2, i, j));
      }
      if (prbmhsibpair_allocated()) {
        if (hap(i) && hap(j))
          EXPECT_EQ(prbmhsibpair(j, i), -1e38f) << at(3, j, i);
        else if (!(hd && hap(i) != hap(j)))
          expect_entry(prbmhsibpair(j, i), dyadoracle(deltaof(3), j, 0, i, 2), at(3, j, i));
      }
      if (prbsspair_allocated())
        expect_entry(prbsspair(j, i), dyadoracle(deltaof(5), j, 0, i, 2), at(5, j, i));
    }
  if (prbselfoutpair_allocated())
    for (int i = 1; i <= n; ++i)
      for (int j = 1; j <= n; ++j)
        expect_entry(prbselfoutpair(j, i), dyadoracle(deltaof(4), j, 0, i, 2), at(4, j, i));
  if (prbpopair_allocated()) {
    for (int s = 1; s <= v.numsex; ++s)
      for (int i = 1; i <= n; ++i)
        for (int c = 1; c <= v.numcandidate(s); ++c) {
          if (s == 1 && hd && hap(i)) {
            EXPECT_EQ(prbpopair(i, 1, c), -1e38f);
            continue;
          }
          if (s == 2 && hd && hap(i)) continue;
          expect_entry(prbpopair(i, s, c), dyadoracle(deltaof(6 + s), i, s, c, v.ploidy(s)),
                       at(6 + s, i, c));
        }
    if (v.numsex == 1)
      for (int i = 1; i <= n; ++i)
        for (int c = 1; c <= v.numcandidate(2); ++c)
          expect_entry(prbpopair(i, 2, c), dyadoracle(deltaof(6), i, 2, c, 2), at(6, i, c));
  }
}

struct OracleCase {
  const char* name;
  SampleSpec spec;
};

TEST_F(PairTest, EveryEntryEqualsTheDirectSumOverLoci) {
  SampleSpec dio;
  dio.dominant = {2};
  SampleSpec dio0 = dio;
  dio0.error = 0.0;
  dio0.seed = 2;
  SampleSpec mono;
  mono.sexes = "1";
  mono.inbreeding = "1";
  mono.alleles = {2, 2, 4, 7};
  mono.fathers = mono.mothers = 3;
  mono.seed = 3;
  SampleSpec hd;
  hd.haplodiploid = "1";
  hd.haploid = 0.3;
  hd.alleles = {2, 3, 6, 2, 9};
  hd.fathers = 0;
  hd.seed = 4;
  SampleSpec hd0 = hd;
  hd0.error = 0.0;
  hd0.seed = 5;
  SampleSpec odd;  // an odd number of polymorphic loci, every marker dominant but one
  odd.alleles = {2, 2, 2};
  odd.dominant = {1, 3};
  odd.missing = 0.3;
  odd.seed = 6;
  const OracleCase cases[] = {{"dioecious, errors", dio},        {"dioecious, error-free", dio0},
                              {"monoecious, selfing", mono},     {"haplodiploid, errors", hd},
                              {"haplodiploid, error-free", hd0}, {"odd loci, dominant", odd}};
  for (const OracleCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(prepare(projectof(c.spec).text()));
    checkalltables();
  }
}

TEST_F(PairTest, ImpossiblePairsHoldTheSinglePrecisionMarker) {
  // Error-free loci of many alleles: parent-offspring pairs sharing no allele are impossible.
  SampleSpec s;
  s.alleles = {12, 12, 12};
  s.error = 0.0;
  s.missing = 0.0;
  ASSERT_TRUE(prepare(projectof(s).text()));
  int impossible = 0;
  for (int i = 1; i <= variables.smplsize; ++i)
    for (int c = 1; c <= variables.numcandidate(1); ++c)
      if (prbpopair(i, 1, c) <= -1e30f) {
        ++impossible;
        EXPECT_EQ(static_cast<double>(prbpopair(i, 1, c)), -9.999999680285692e37);
      }
  EXPECT_GT(impossible, 0);
}

TEST_F(PairTest, SibTablesAreSymmetricThroughTheirAccessors) {
  SampleSpec s;
  s.sexes = "1";
  s.inbreeding = "1";
  ASSERT_TRUE(prepare(projectof(s).text()));
  const int n = variables.smplsize;
  bool asymmetric = false;
  for (int i = 1; i <= n; ++i) {
    EXPECT_EQ(prbfspair(i, i), 0.0f);
    EXPECT_EQ(prbhspair(i, i), 0.0f);
    for (int j = 1; j <= n; ++j) {
      EXPECT_EQ(prbfspair(i, j), prbfspair(j, i));
      EXPECT_EQ(prbhspair(i, j), prbhspair(j, i));
      EXPECT_EQ(prbsspair(i, j), prbsspair(j, i));
      if (prbselfoutpair(i, j) != prbselfoutpair(j, i)) asymmetric = true;
    }
  }
  // The ordered table: the first index is the selfed sib (checked entry by entry against the
  // oracle with A = the first index in EveryEntryEqualsTheDirectSumOverLoci).
  EXPECT_TRUE(asymmetric);
}

TEST_F(PairTest, FullLikelihoodAloneKeepsHalfSibsInTheLowerTriangle) {
  SampleSpec s;
  s.method = "1";
  s.alleles = {2, 2, 2, 2, 2, 2};  // two-allele loci and 10 x loci >= n: tables are built
  s.n = 12;
  ASSERT_TRUE(prepare(projectof(s).text()));
  ASSERT_TRUE(prbfspair_allocated());
  EXPECT_FALSE(prbhspair_allocated());
  EXPECT_FALSE(prbpopair_allocated());
  for (int i = 2; i <= 12; ++i)
    for (int j = 1; j < i; ++j) {
      expect_entry(prbfspair(j, i), dyadoracle(deltaof(1), j, 0, i, 2), at(1, j, i));
      expect_entry(prbfspair(i, j), dyadoracle(deltaof(2), i, 0, j, 2), at(2, i, j));
    }
}

TEST_F(PairTest, AllMonogamousSamplesHaveFullSibsInBothTriangles) {
  SampleSpec s;
  s.matings = "1 1";
  s.n = 12;
  ASSERT_TRUE(prepare(projectof(s).text()));
  ASSERT_EQ(variables.allmonogamy, 1);
  EXPECT_FALSE(variables.prbhstri.allocated());
  EXPECT_FALSE(prbhspair_allocated());
  for (int i = 2; i <= 12; ++i)
    for (int j = 1; j < i; ++j) EXPECT_EQ(prbfspair(i, j), prbfspair(j, i));
}

TEST_F(PairTest, UnrelatedCoefficientsGiveTheSumOfSingleLogLikelihoods) {
  SampleSpec s;
  s.n = 15;
  ASSERT_TRUE(prepare(projectof(s).text()));
  Variables& v = variables;
  std::vector<real8> single(static_cast<std::size_t>(v.smplsize));
  singleindivlikelihood(0.0, v.smplsize, 0, single);
  v.prbfstri.fill(0.0f);
  const std::array<real8, 9> unrelated{0, 0, 0, 0, 0, 0, 0, 0, 1};
  compute_dyad_locus2_logl(0, 1, unrelated, 2);
  for (int i = 2; i <= v.smplsize; ++i)
    for (int j = 1; j < i; ++j) {
      const real8 want =
          single[static_cast<std::size_t>(i - 1)] + single[static_cast<std::size_t>(j - 1)];
      EXPECT_NEAR(prbfspair(j, i), want, 1e-5 * std::fabs(want) + 1e-5) << j << " " << i;
    }
}

// One locus, two individuals of every observed genotype (and of every candidate genotype):
// the ordered class pairs of a table cover every pair of observations once, so the
// probabilities of each type sum to 1.
TEST_F(PairTest, ClassTablesAreNormalised) {
  const char* genotypes[] = {"101 101", "101 102", "101 103", "102 102", "102 103", "103 103"};
  readtest::ProjectFile p;
  p.loci = 1;
  p.sexes = "1";
  p.inbreeding = "1";
  p.method = "2";
  p.droprates = "0.02";
  p.otherrates = "0.03";
  int id = 0;
  for (const char* g : genotypes)
    for (int k = 0; k < 2; ++k) p.offspring.push_back("O" + std::to_string(++id) + " " + g);
  id = 0;
  for (const char* g : genotypes) p.fathers.push_back("P" + std::to_string(++id) + " " + g);
  p.mothers = p.fathers;
  ASSERT_TRUE(prepare(p.text()));
  // Offspring 2k - 1 and 2k carry genotype k; candidate k carries genotype k.
  auto total = [&](auto entry) {
    double sum = 0.0;
    for (int a = 1; a <= 6; ++a)
      for (int b = 1; b <= 6; ++b) sum += std::exp(static_cast<double>(entry(a, b)));
    return sum;
  };
  // Pairs of distinct offspring of genotypes a and b: (2a - 1, 2b).
  EXPECT_NEAR(total([](int a, int b) { return prbfspair(2 * a - 1, 2 * b); }), 1.0, 1e-5);
  EXPECT_NEAR(total([](int a, int b) { return prbhspair(2 * a - 1, 2 * b); }), 1.0, 1e-5);
  EXPECT_NEAR(total([](int a, int b) { return prbsspair(2 * a - 1, 2 * b); }), 1.0, 1e-5);
  EXPECT_NEAR(total([](int a, int b) { return prbselfoutpair(2 * a - 1, 2 * b); }), 1.0, 1e-5);
  EXPECT_NEAR(total([](int a, int b) { return prbpopair(2 * a, 1, b); }), 1.0, 1e-5);
  EXPECT_NEAR(total([](int a, int b) { return prbpopair(2 * a, 2, b); }), 1.0, 1e-5);
}

}  // namespace
}  // namespace kinrad::pairtest

namespace kinrad::pairtest {
namespace {

// Haplodiploid species with monogamous fathers: no half sibs are computed, and both the
// symmetric half-sib table and the lower triangle of the full-sib table read 0.
TEST_F(PairTest, UncomputedHalfSibsReadZero) {
  SampleSpec s;
  s.n = 10;
  s.haplodiploid = "1";
  s.haploid = 0.2;
  s.fathers = 0;
  s.matings = "1 0";
  for (const char* method : {"2", "1"}) {
    SCOPED_TRACE(method);
    s.method = method;
    s.alleles = {2, 2, 2};
    ASSERT_TRUE(prepare(projectof(s).text()));
    ASSERT_EQ(variables.monogamy(1), 1);
    ASSERT_EQ(variables.allmonogamy, 0);
    ASSERT_TRUE(prbfspair_allocated());
    EXPECT_FALSE(variables.prbhstri.allocated());
    EXPECT_EQ(prbhspair_allocated(), std::string(method) == "2");
    for (int i = 2; i <= 10; ++i)
      for (int j = 1; j < i; ++j) {
        EXPECT_EQ(prbhspair(i, j), 0.0f);
        if (std::string(method) == "1") {
          EXPECT_EQ(prbfspair(i, j), 0.0f);
        }
      }
  }
}

}  // namespace
}  // namespace kinrad::pairtest
