// Best candidate parents: the ranking of hand-made scores, the cache records, reading the
// cache back, and the whole routine on a prepared sample against a direct ranking.
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "pairwise/dyad_sample.hpp"
#include "support/expect_stop.hpp"

namespace kinrad::pairtest {
namespace {

// Lists for n offspring; a sex qualifies with more than nine candidates.
void makelists(int n, int fathers, int mothers) {
  Variables& v = variables;
  v.smplsize = n;
  v.numcandidate(1) = fathers;
  v.numcandidate(2) = mothers;
  v.bestcnd.allocate(Dim(n), Dim(10));
  v.prbbestcnd.allocate(Dim(n), Dim(10));
  v.numbestcnd.allocate(Dim(n), Dim(2));
  v.prbbestcnd1.allocate(Dim(n), Dim(2));
}

void setlist(int i, int s, std::vector<int> cand, std::vector<double> cum, float p1) {
  Variables& v = variables;
  const int base = s == 1 ? 1 : 6;
  v.numbestcnd(i, s) = static_cast<int1>(cand.size());
  for (std::size_t k = 0; k < cand.size(); ++k) {
    v.bestcnd(i, base + static_cast<int>(k)) = static_cast<int2>(cand[k]);
    v.prbbestcnd(i, base + static_cast<int>(k)) = cum[k];
  }
  v.prbbestcnd1(i, s) = p1;
}

std::string record(int i, int s) {
  std::string out;
  appendbestcndrecord(out, i, s);
  return out;
}

// Expected records written out by hand from the record layout: ES18.10 of 0.8123456789 is
// 8.1234567890E-01, of the stored 1.00000001 is 1.0000000100E+00, of 0.25 is 2.5000000000E-01;
// the fifth slot is F4.1 of 1.0 trimmed.
TEST_F(PairTest, BestCandidateRecordsAreExact) {
  makelists(3, 12, 0);
  setlist(1, 1, {}, {}, 0.0f);
  setlist(2, 1, {14, 3}, {0.8123456789, 1.00000001}, 0.25f);
  setlist(3, 1, {1, 2, 3, 4, 5}, {0.5, 0.75, 0.875, 0.9375, 1.00000001}, 0.5f);
  EXPECT_EQ(record(1, 1), "0\n");
  EXPECT_EQ(record(2, 1), "2,14,8.1234567890E-01,3,1.0000000100E+00,2.5000000000E-01\n");
  EXPECT_EQ(record(3, 1),
            "5,1,5.0000000000E-01,2,7.5000000000E-01,3,8.7500000000E-01,4,9.3750000000E-01,5,"
            "1.0,5.0000000000E-01\n");
}

TEST_F(PairTest, BestCandidateCacheRoundTrip) {
  makelists(3, 14, 15);
  setlist(1, 1, {}, {}, 0.0f);
  setlist(2, 1, {14, 3}, {0.8123456789, 1.00000001}, 0.25f);
  setlist(3, 1, {1, 2, 3, 4, 5}, {0.5, 0.75, 0.875, 0.9375, 1.00000001}, 0.5f);
  setlist(1, 2, {15}, {1.00000001}, 0.125f);
  setlist(2, 2, {}, {}, 0.0f);
  setlist(3, 2, {7, 9, 2}, {0.4, 0.7, 1.00000001}, 0.375f);
  std::string text;
  for (int s = 1; s <= 2; ++s)
    for (int i = 1; i <= 3; ++i) text += record(i, s);
  testing_support::write_text("cache.txt", text);

  Variables& v = variables;
  const FArray<int2, 2> cnd = v.bestcnd.copy();
  const FArray<real8, 2> prb = v.prbbestcnd.copy();
  const FArray<int1, 2> num = v.numbestcnd.copy();
  const FArray<real4, 2> p1 = v.prbbestcnd1.copy();
  v.bestcnd.fill(0);
  v.prbbestcnd.fill(0.0);
  v.numbestcnd.fill(9);
  v.prbbestcnd1.fill(0.0f);
  int4 ok = 0;
  getbestcnd("cache.txt", ok);
  ASSERT_EQ(ok, 1);
  for (int s = 1; s <= 2; ++s)
    for (int i = 1; i <= 3; ++i) {
      SCOPED_TRACE("offspring " + std::to_string(i) + " sex " + std::to_string(s));
      EXPECT_EQ(v.numbestcnd(i, s), num(i, s));
      EXPECT_EQ(v.prbbestcnd1(i, s), p1(i, s));  // ES18.10 holds a single-precision value
      const int base = s == 1 ? 1 : 6;
      for (int k = 0; k < num(i, s); ++k) {
        EXPECT_EQ(v.bestcnd(i, base + k), cnd(i, base + k));
        // Slot 5 is written as 1.0; the others to ten decimals of the stored value.
        const double want = k == 4 ? 1.0 : prb(i, base + k);
        EXPECT_NEAR(v.prbbestcnd(i, base + k), want, 1e-10 * want);
      }
    }
  EXPECT_EQ(v.prbbestcnd(3, 5), 1.0);
}

// Damaged caches: every one must give ok = 0 without harm.
TEST_F(PairTest, DamagedBestCandidateCacheIsRejected) {
  const std::string good1 = "2,14,8.1234567890E-01,3,1.0000000100E+00,2.5000000000E-01\n";
  struct Row {
    const char* what;
    std::string text;
  };
  const std::vector<Row> rows = {
      {"cut short (two of three records)", "0\n" + good1},
      {"last record cut inside", "0\n" + good1 + "2,14,8.1E-01,3\n"},
      {"count of 7", "0\n" + good1 + "7,1,0.1,2,0.2,3,0.3,4,0.4,5,0.5,6,0.6,7,1.0,0.5\n"},
      {"negative count", "0\n" + good1 + "-1\n"},
      {"candidate 0", "0\n" + good1 + "1,0,1.00000001,0.5\n"},
      {"candidate above the count", "0\n" + good1 + "1,13,1.00000001,0.5\n"},
      {"decreasing cumulative values", "0\n" + good1 + "2,1,0.9,2,0.5,0.5\n"},
      {"not a number", "0\n" + good1 + "1,1,NaN,0.5\n"},
      {"text instead of a count", "0\n" + good1 + "x\n"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    reset_all_modules();
    makelists(3, 12, 0);
    testing_support::write_text("cache.txt", r.text);
    int4 ok = 1;
    getbestcnd("cache.txt", ok);
    EXPECT_EQ(ok, 0);
  }
  int4 ok = 1;
  getbestcnd("no-such-file", ok);
  EXPECT_EQ(ok, 0);
}

struct Ranked {
  std::vector<int> cand;
  std::vector<double> cum;
  float p1 = 0.0f;
};

Ranked rank(std::vector<float> score, int s = 1) {
  rankbestcnd(1, s, score);
  const Variables& v = variables;
  Ranked r;
  const int base = s == 1 ? 1 : 6;
  for (int k = 0; k < v.numbestcnd(1, s); ++k) {
    r.cand.push_back(v.bestcnd(1, base + k));
    r.cum.push_back(v.prbbestcnd(1, base + k));
  }
  r.p1 = v.prbbestcnd1(1, s);
  return r;
}

// Weights are exp of the score less the best score, in single precision; the cumulative
// values are double sums of those weights over the five listed ones.
TEST_F(PairTest, RankingKeepsTheFirstOfEqualWeights) {
  makelists(1, 12, 12);
  const Ranked r = rank({0.0f, -1.0f, -1.0f, -2.0f, -3.0f, -3.0f});
  // Candidates 2 and 3 tie, 5 and 6 tie for the fifth slot: the lower number goes first and 6
  // stays out.
  ASSERT_EQ(r.cand, (std::vector<int>{1, 2, 3, 4, 5}));
  const double w1 = std::exp(-1.0f), w2 = std::exp(-2.0f), w3 = std::exp(-3.0f);
  const double s5 = 1.0 + w1 + w1 + w2 + w3;
  EXPECT_DOUBLE_EQ(r.cum[0], 1.0 / s5);
  EXPECT_DOUBLE_EQ(r.cum[1], (1.0 + w1) / s5);
  EXPECT_DOUBLE_EQ(r.cum[2], (1.0 + 2 * w1) / s5);
  EXPECT_DOUBLE_EQ(r.cum[3], (1.0 + 2 * w1 + w2) / s5);
  EXPECT_EQ(r.cum[4], 1.00000001);
  EXPECT_FLOAT_EQ(r.p1, static_cast<float>(0.5 * s5 / (s5 + w3)));
}

TEST_F(PairTest, RankingStopsAtNegligibleWeights) {
  makelists(1, 12, 12);
  // exp(-30) is 9.4e-14 of the first weight: below 1e-8, so one entry only.
  Ranked r = rank({0.0f, -30.0f, -1e38f, -40.0f});
  ASSERT_EQ(r.cand, (std::vector<int>{1}));
  EXPECT_EQ(r.cum[0], 1.00000001);
  EXPECT_FLOAT_EQ(r.p1, static_cast<float>(0.5 * (1.0 + std::exp(-30.0f)) /
                                           (1.0 + std::exp(-30.0f) + std::exp(-40.0f))));
  // The best candidate need not be the first; an all-impossible offspring gets no list.
  r = rank({-5.0f, -2.0f});
  EXPECT_EQ(r.cand, (std::vector<int>{2, 1}));
  r = rank({-1e38f, -1e38f, -1e38f}, 2);
  EXPECT_TRUE(r.cand.empty());
  EXPECT_EQ(variables.numbestcnd(1, 2), 0);
}

TEST_F(PairTest, OneParentPoolSharesADominantWeight) {
  makelists(1, 12, 12);
  variables.numsex = 1;
  // Weights 1, 1/3, 1/3: shares 0.6, 0.2, 0.2 of S5; the first two share 0.8, so 0.4 each.
  const float third = std::log(1.0f / 3.0f);
  Ranked r = rank({0.0f, third, third});
  ASSERT_EQ(r.cand, (std::vector<int>{1, 2, 3}));
  EXPECT_NEAR(r.cum[0], 0.4, 1e-6);
  EXPECT_NEAR(r.cum[1], 0.8, 1e-6);
  EXPECT_EQ(r.cum[2], 1.00000001);
  // Two sexes: no sharing.
  variables.numsex = 2;
  r = rank({0.0f, third, third});
  EXPECT_NEAR(r.cum[0], 0.6, 1e-6);
}

// The whole routine on a sample with 12 mothers and 4 fathers: only mother lists, each with
// the candidate that a direct double-precision ranking puts first.
void checkmotherlists(const std::string& method) {
  SampleSpec spec;
  spec.n = 30;
  spec.fathers = 4;
  spec.mothers = 12;
  spec.method = method;
  readtest::ProjectFile p = projectof(spec);
  p.knownmaternity = "1 1\nO5 F3";
  ASSERT_TRUE(prepare(p.text()));
  const Variables& v = variables;
  ASSERT_TRUE(v.bestcnd.allocated());
  EXPECT_EQ(v.bestcnd.lbound(2), 1);  // slots of both sexes, those of fathers unused
  EXPECT_EQ(v.bestcnd.ubound(2), 10);
  std::ifstream f("myout.BestPrntCND");
  std::vector<std::string> lines;
  for (std::string line; std::getline(f, line);) lines.push_back(line);
  EXPECT_EQ(static_cast<int>(lines.size()), v.smplsize);
  for (int i = 1; i <= v.smplsize; ++i) {
    SCOPED_TRACE("offspring " + std::to_string(i));
    EXPECT_EQ(v.numbestcnd(i, 1), 0);
    if (i == 5) {
      EXPECT_EQ(v.numbestcnd(i, 2), 0);  // known mother
      EXPECT_EQ(lines[4], "0");
      continue;
    }
    int top = 0;
    double topscore = -1e300, second = -1e300;
    for (int c = 1; c <= 12; ++c) {
      const Oracle o = dyadoracle(deltaof(8), i, 2, c, v.ploidy(2));
      const double sc = o.impossible ? -1e300 : o.value - v.candidatelogl(c, 2);
      if (sc > topscore) {
        second = topscore;
        topscore = sc;
        top = c;
      } else if (sc > second) {
        second = sc;
      }
    }
    ASSERT_GE(v.numbestcnd(i, 2), 1);
    if (topscore - second > 1e-3) {
      EXPECT_EQ(v.bestcnd(i, 6), top);
    }
    EXPECT_EQ(v.prbbestcnd(i, 5 + v.numbestcnd(i, 2)), 1.00000001);
  }
}

TEST_F(PairTest, MotherListsFromOwnVectors) {
  checkmotherlists("1");
  EXPECT_FALSE(prbpopair_allocated());  // its own vectors are freed again
}

TEST_F(PairTest, MotherListsFromTheDyadTables) {
  checkmotherlists("2");
}

// A second analysis of the same data reads the cache; one with a damaged cache recomputes
// and rewrites it.
TEST_F(PairTest, BestCandidateCacheIsReadAndRewritten) {
  SampleSpec spec;
  spec.n = 20;
  spec.fathers = 11;
  spec.mothers = 10;
  spec.method = "1";
  const std::string text = projectof(spec).text();
  ASSERT_TRUE(prepare(text));
  const std::string first = testing_support::read_text("myout.BestPrntCND");
  const FArray<int2, 2> cnd = variables.bestcnd.copy();
  const FArray<int1, 2> num = variables.numbestcnd.copy();

  // Mark the cache so that reading it (not recomputing) shows: offspring 1 gets no father list.
  std::string marked = first;
  marked.replace(0, marked.find('\n'), "0");
  testing_support::write_text("myout.BestPrntCND", marked);
  ASSERT_TRUE(prepare(text, true, true));
  EXPECT_EQ(variables.numbestcnd(1, 1), 0);
  EXPECT_EQ(testing_support::read_text("myout.BestPrntCND"), marked);

  // Cut short: recomputed, the same lists, the same file.
  testing_support::write_text("myout.BestPrntCND", first.substr(0, first.size() / 2));
  ASSERT_TRUE(prepare(text, true, true));
  EXPECT_EQ(testing_support::read_text("myout.BestPrntCND"), first);
  for (int i = 1; i <= 20; ++i)
    for (int s = 1; s <= 2; ++s) {
      EXPECT_EQ(variables.numbestcnd(i, s), num(i, s));
      const int base = s == 1 ? 1 : 6;
      for (int k = 0; k < num(i, s); ++k)
        EXPECT_EQ(variables.bestcnd(i, base + k), cnd(i, base + k));
    }
}

// Vectors of its own where some are already allocated: the memory stop.
TEST_F(PairTest, OwnVectorsAlreadyAllocatedStop) {
  SampleSpec spec;
  spec.n = 12;
  spec.fathers = 10;
  spec.mothers = 2;
  spec.method = "1";
  ASSERT_TRUE(prepare(projectof(spec).text()));
  ASSERT_EQ(variables.pairwiseoptionq, 0);
  std::filesystem::remove("myout.BestPrntCND");
  variables.prbpopairtgt.allocate(Dim(12), Dim(12));
  testing_support::expect_stop([] { setgetbestcnd(); }, "SetGetBestCnd", {.flag = 0});
}

TEST_F(PairTest, NoListsForNineCandidatesOrFewer) {
  SampleSpec spec;
  spec.n = 12;
  spec.fathers = 9;
  spec.mothers = 9;
  ASSERT_TRUE(prepare(projectof(spec).text()));
  EXPECT_FALSE(variables.bestcnd.allocated());
  EXPECT_FALSE(std::filesystem::exists("myout.BestPrntCND"));
}

}  // namespace
}  // namespace kinrad::pairtest
