// Known relationships as starting values of the dyad tables, and the paths that build no
// tables or stop.
#include <string>

#include "pairwise/dyad_sample.hpp"
#include "program/prepare_analysis.hpp"
#include "support/expect_stop.hpp"

namespace kinrad::pairtest {
namespace {

SampleSpec base(int n) {
  SampleSpec s;
  s.n = n;
  s.alleles = {2, 2, 2, 2};
  s.missing = 0.0;
  return s;
}

TEST_F(PairTest, ExcludedSibshipsOnBothSidesOrOneSide) {
  readtest::ProjectFile p = projectof(base(6));
  // O2 and O1 are not paternal sibs; O4 and O3 neither paternal nor maternal sibs.
  p.excludedpaternalsibships = "2\nO2 1 O1\nO4 1 O3";
  p.excludedmaternalsibships = "1\nO4 1 O3";
  ASSERT_TRUE(prepare(p.text()));
  // Both sides: neither full nor half sibs.
  EXPECT_EQ(prbfspair(3, 4), -1e38f);
  EXPECT_EQ(prbhspair(3, 4), -1e38f);
  // One side: not full sibs; the half-sib value is computed from 0.
  EXPECT_EQ(prbfspair(1, 2), -1e38f);
  expect_entry(prbhspair(1, 2), dyadoracle(deltaof(2), 2, 0, 1, 2), "half sibs (1, 2)");
  // Other pairs are computed from 0.
  expect_entry(prbfspair(1, 3), dyadoracle(deltaof(1), 1, 0, 3, 2), "full sibs (1, 3)");
}

TEST_F(PairTest, OneParentPoolComparesKnownParentsAsUnorderedPairs) {
  SampleSpec s = base(4);
  s.sexes = "1";
  s.fathers = s.mothers = 8;
  s.error = 0.05;
  readtest::ProjectFile p = projectof(s);
  // Known parents: O1 (P5, P7), O2 (P7, P5), O3 (P5, P8); O4 none.
  p.knownpaternity = "3 4\nO1 P5\nO2 P7\nO3 P5";
  p.knownmaternity = "3 4\nO1 P7\nO2 P5\nO3 P8";
  // Candidates of one pool carry the same identifiers in both roles.
  for (auto& m : p.mothers) m[0] = 'P';
  for (auto& f : p.fathers) f[0] = 'P';
  ASSERT_TRUE(prepare(p.text()));
  expect_entry(prbfspair(1, 2), dyadoracle(deltaof(1), 1, 0, 2, 2), "(5, 7) and (7, 5)");
  EXPECT_EQ(prbfspair(1, 3), -1e38f);  // (5, 7) and (5, 8)
  EXPECT_EQ(prbfspair(2, 3), -1e38f);  // (7, 5) and (5, 8)
  expect_entry(prbfspair(1, 4), dyadoracle(deltaof(1), 1, 0, 4, 2), "(5, 7) and unknown");
}

TEST_F(PairTest, AKnownFatherRulesOutEveryOtherCandidate) {
  SampleSpec s = base(3);
  s.fathers = 5;
  s.error = 0.05;
  readtest::ProjectFile p = projectof(s);
  p.knownpaternity = "1 4\nO2 M4";
  ASSERT_TRUE(prepare(p.text()));
  for (int c = 1; c <= 5; ++c) {
    SCOPED_TRACE(c);
    if (c == 4)
      expect_entry(prbpopair(2, 1, c), dyadoracle(deltaof(7), 2, 1, c, 2), "known father");
    else
      EXPECT_EQ(prbpopair(2, 1, c), -1e38f);
    // Other offspring and the mothers are not constrained.
    expect_entry(prbpopair(1, 1, c), dyadoracle(deltaof(7), 1, 1, c, 2), "offspring 1");
  }
  // The known parents are restored afterwards.
  EXPECT_EQ(variables.indivparent(2, 1), 4);
}

TEST_F(PairTest, FullLikelihoodAloneBuildsNothingWhereTablesCannotServe) {
  struct Row {
    const char* what;
    SampleSpec spec;
  };
  SampleSpec mono = base(6);
  mono.method = "1";
  mono.sexes = "1";
  SampleSpec inbred = base(6);
  inbred.method = "1";
  inbred.inbreeding = "1";
  SampleSpec many = base(6);
  many.method = "1";
  many.alleles = {2, 3};
  SampleSpec large = base(41);  // 10 x 4 loci < 41 offspring
  large.method = "1";
  for (const Row& r : {Row{"monoecious", mono}, Row{"inbreeding", inbred},
                       Row{"three alleles", many}, Row{"more than 10 per locus", large}}) {
    SCOPED_TRACE(r.what);
    ASSERT_TRUE(prepare(projectof(r.spec).text()));
    EXPECT_FALSE(prbfspair_allocated());
    EXPECT_FALSE(prbhspair_allocated());
    EXPECT_FALSE(prbpopair_allocated());
    EXPECT_FALSE(std::filesystem::exists("myout.FSDyadLogL"));
  }
}

TEST_F(PairTest, TablesBeyondTheMemoryLimitFallBackOrStop) {
  SampleSpec s = base(20);
  // Full likelihood with the pairwise option: it goes on without tables.
  ASSERT_TRUE(prepare(projectof(s).text(), false));
  variables.dyadtablememorylimit = 1000;
  testing::internal::CaptureStdout();
  analysis_tables();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(variables.pairwiseoptionq, 0);
  EXPECT_EQ(variables.quicksearchq, 0);
  EXPECT_FALSE(prbfspair_allocated());
  EXPECT_FALSE(prbpopair_allocated());

  // Pairwise score alone: the run stops.
  s.method = "0";
  ASSERT_TRUE(prepare(projectof(s).text(), false));
  variables.dyadtablememorylimit = 1000;
  std::filesystem::remove("Kinrad2.ErrorMessage");
  testing::internal::CaptureStdout();
  const int status = testing_support::expect_stop([] { analysis_tables(); }, "CalculatePairProb",
                                                  {.report = true});
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(status, 1);
  EXPECT_EQ(testing_support::read_text("Kinrad2.ErrorMessage"),
            readtest::routinestop("Too many offspring. Out of memory!", "CalculatePairProb"));
}

TEST_F(PairTest, TableBytesCountEveryTableOfTheFirstCall) {
  SampleSpec s = base(20);
  s.fathers = 3;
  s.mothers = 5;
  ASSERT_TRUE(prepare(projectof(s).text(), false));
  variables.pairwiseoptionq = 1;
  // Full and half sibs: 2 x 190 values; parents: 8 x 20 values; 4 bytes each.
  EXPECT_EQ(dyad_table_bytes(), (2 * 190 + 8 * 20) * 4);
}

}  // namespace
}  // namespace kinrad::pairtest
