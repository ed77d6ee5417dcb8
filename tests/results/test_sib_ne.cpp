// The ".Ne" file of whole archives against a plain transcription of the estimate written here,
// which replays the same ran1, gasdev and poidev streams from the same state. The transcription
// takes the archive's classes of pair counts as worked out by hand for each case (with their
// log likelihoods), computes Ne from the pair rates itself, finds the class of a draw by a
// linear search, derives the Poisson(2) family-size table from its definition, and sorts with
// std::sort. The non-random alpha and the heterozygote block come from alfaestimate and
// heterozygoteexcess, which have tests of their own. The stream position after the estimate is
// compared as well: the next ran1 value must agree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/random_numbers.hpp"
#include "core/replacing_file.hpp"
#include "results/ne_fixture.hpp"
#include "results/ne_internal.hpp"
#include "results/results.hpp"
#include "support/run_stage.hpp"

namespace kinrad::netest {
namespace {

struct PairClass {
  int4 s1, s2, e;
  double w;
};

constexpr int4 infinite = 2147483647;

int4 plain_nint(double x) {
  if (!(x < 2147483647.5)) return infinite;
  return static_cast<int4>(x < 0 ? -std::floor(-x + 0.5) : std::floor(x + 0.5));
}

// Ne from the pair counts: the inverse of the pair rate of the species.
int4 plain_ne(int4 s1, int4 s2, double alpha, int4 e) {
  const auto& v = variables;
  if (s1 == 0 && s2 == 0) return infinite;
  const int4 n = v.smplsize - e;
  const double p = n * 0.5 * (n - 1);
  if (p <= 0) return infinite;
  const double s = static_cast<double>(s1) + s2;
  double x;
  if (v.numsex == 1) {
    const double ap = 2 * alpha / (alpha + 1);
    if (ap <= 0.5) {
      x = (alpha + 1) * 0.25 * s / p;
    } else if (ap <= 0.9) {
      const double t = ap - 0.5;
      x = (1.05 - 2 * t + 6 * t * t - 5 * t * t * t - 15 * t * t * t * t) * (s * 0.25 / p);
    } else {
      const double t = ap - 0.9;
      x = (0.5 - t - 35 * t * t + 300 * t * t * t - 200 * t * t * t * t) * (s * 0.25 / p);
    }
  } else if (v.haplodiploid == 1) {
    x = ((3 * alpha + 1) * s2 + 2.0 * s1) / (9 * p);
  } else {
    x = (3 * alpha + 1) * 0.25 * s / p;
  }
  if (x <= std::ldexp(1.0, -31)) return infinite;
  return plain_nint(1 / x);
}

// P(K <= k) of a Poisson(2) variable, written to 8 decimals as the table holds it; 1.01 at 12.
std::vector<double> poisson2_table() {
  std::vector<double> cdf;
  double term = std::exp(-2.0), sum = 0;
  for (int k = 0; k <= 11; ++k) {
    sum += term;
    term *= 2.0 / (k + 1);
    char text[32];
    std::snprintf(text, sizeof text, "%.8f", sum);
    cdf.push_back(std::strtod(text, nullptr));
  }
  cdf.push_back(1.01);
  return cdf;
}

struct Interval {
  int4 low = 0, high = 0;
  int infinite_replicates = 0;
};

Interval plain_sampling(int4 ne, float sd) {
  Interval out;
  if (ne > 2147483600) {
    out.low = 1;
    out.high = infinite;
    return out;
  }
  static const std::vector<double> cdf = poisson2_table();
  const float mean = 0.5f / static_cast<float>(ne);
  std::vector<double> values;
  for (int r = 0; r < 1000; ++r) {
    const float x = gasdev() * sd + mean;
    double value = infinite;
    if (x > 1e-8f) {
      const long long n = plain_nint(0.5f / x);
      long long t = 0, q = 0;
      while (t < n) {
        const double u = ran1();
        long long k = 0;
        while (!(cdf[static_cast<std::size_t>(k)] > u)) ++k;
        if (k == 0) continue;
        t += k;
        q += k * (k - 1) / 2;
      }
      if (q > 0) value = 2.0 / ((2.0 / ((t - 1.0) * t)) * static_cast<double>(q));
    }
    if (value >= infinite) ++out.infinite_replicates;
    values.push_back(value);
  }
  std::sort(values.begin(), values.end());
  out.low = plain_nint(values[24]);
  out.high = plain_nint(values[974]);
  return out;
}

struct Method {
  double alpha;
  int4 ne;
  double sum = 0, square = 0;
  Interval ci{};
};

std::string dashes() {
  return std::string(100, '-');
}

std::string i14(const char* label, int4 x) {
  char text[64];
  std::snprintf(text, sizeof text, "%s%14d\n", label, x);
  return text;
}

// The expected file, replaying the streams as they stand.
std::string plain_ne_file(const std::vector<PairClass>& classes, const PairClass& best,
                          std::vector<Interval>* intervals = nullptr) {
  const auto& v = variables;
  double alpha2 = 0.0;
  if (v.smplsizedh(2) > 0) {
    FArray<int4, 2> counts;
    alfaestimate(alpha2, counts);
  }
  Method m[2] = {{0.0, plain_ne(best.s1, best.s2, 0.0, best.e)},
                 {alpha2, plain_ne(best.s1, best.s2, alpha2, best.e)}};
  double total = 0;
  for (const auto& c : classes) total += c.w;
  std::vector<float> cum;
  double running = 0;
  for (std::size_t k = 0; k < classes.size(); ++k) {
    running += classes[k].w * (1 / total);
    cum.push_back(k + 1 == classes.size() ? 1.0001f : static_cast<float>(running));
  }
  for (int r = 0; r < 1000; ++r) {
    std::size_t k = 0;
    if (classes.size() > 1) {
      const float u = ran1();
      while (!(cum[k] > u)) ++k;
    }
    const PairClass& c = classes[k];
    const int4 q1 = plain_nint(poidev(static_cast<float>(c.s1)));
    const int4 q2 = plain_nint(poidev(static_cast<float>(c.s2)));
    for (Method& x : m) {
      const float rate = 0.5f / static_cast<float>(plain_ne(q1, q2, x.alpha, c.e));
      x.sum += rate;
      x.square += static_cast<double>(rate * rate);
    }
  }
  for (Method& x : m) {
    const double f = static_cast<double>(0.001f);
    const double mean = x.sum * f, msq = x.square * f;
    x.ci = plain_sampling(x.ne, std::sqrt(static_cast<float>(std::fabs(msq - mean * mean))));
    if (intervals) intervals->push_back(x.ci);
  }
  const std::string head = v.fulllikelihoodmethodq == 1
                               ? "Estimates by Kinrad full likelihood method"
                               : "Estimates by Kinrad pair-likelihood score method";
  const std::string titles[2] = {head + " : Assuming random mating",
                                 head + " : Assuming nonrandom mating"};
  std::string text;
  for (int k = 0; k < 2; ++k) {
    char alpha[64];
    std::snprintf(alpha, sizeof alpha, "Alpha   =%14.2f\n", m[k].alpha);
    text += dashes() + "\n" + titles[k] + "\n" + dashes() + "\n" + alpha;
    text +=
        i14("Ne      =", m[k].ne) + i14("CI95(L) =", m[k].ci.low) + i14("CI95(U) =", m[k].ci.high);
  }
  text += "\n" + dashes() + "\nEstimates by heterozygote excess method\n" + dashes() + "\n";
  int4 ne = 0;
  std::array<int4, 2> ci{};
  heterozygoteexcess(ne, ci);
  text += i14("Ne(Het) =", ne) + i14("CI95(L) =", ci[0]) + i14("CI95(U) =", ci[1]);
  return text;
}

// Saved stream positions: ran1's seed in `variables` and the private states of the deviates.
struct Streams {
  int4 idum;
  RandomStreamState state;
  static Streams save() { return {variables.idum, random_stream_state}; }
  void restore() const {
    variables.idum = idum;
    random_stream_state = state;
  }
};

class SibNeTest : public NeTest {
 protected:
  // Runs the estimate and the transcription from one stream state and compares the files and
  // the next ran1 value; returns the expected text.
  std::string check(const std::vector<PairClass>& classes,
                    std::vector<Interval>* intervals = nullptr) {
    // Some draws already made, so the streams do not start from their seed.
    variables.idum = -4711;
    random_stream_state = RandomStreamState{};
    for (int k = 0; k < 3; ++k) (void)gasdev();
    const Streams start = Streams::save();
    sibne();
    const float next = ran1();
    const std::string got = testing_support::read_text("myout.Ne");
    start.restore();
    PairClass best = classes.front();
    const std::string want = plain_ne_file(classes, best, intervals);
    EXPECT_EQ(got, want);
    EXPECT_EQ(ran1(), next);
    return want;
  }
};

// Two sexes, 8 diploid offspring, three codominant loci.
Project diploid8() {
  Project p;
  p.loci = 3;
  p.markertypes = "0 0 0";
  p.droprates = "0 0 0";
  p.otherrates = "0 0 0";
  p.offspring = {"O1 1 2 1 3 2 2", "O2 1 1 1 1 1 2", "O3 2 2 3 3 1 2", "O4 1 3 1 2 2 2",
                 "O5 2 3 2 3 1 1", "O6 1 2 2 2 1 2", "O7 3 3 1 3 2 2", "O8 1 2 2 3 1 2"};
  return p;
}

// The classes of pair counts below are worked out by hand: S1 sums k(k-1)/2 over the paternal
// families, S2 over the maternal ones; P = 28 pairs of 8 offspring.

TEST_F(SibNeTest, OneConfigurationUsesOneClassWithoutDraws) {
  ASSERT_TRUE(load(diploid8()));
  // Fathers 3 + 3 + 2 (3 + 3 + 1 pairs), mothers 3 + 2 + 1 + 2 (3 + 1 + 0 + 1): Ne_random =
  // nint(28 / 3) = 9.
  archive({1, 1, 1, 2, 2, 2, 3, 3}, {1, 1, 1, 2, 2, 3, 4, 4}, -100.0);
  const std::string want = check({{7, 5, 0, 1.0}});
  EXPECT_NE(want.find("Ne      =             9\n"), std::string::npos);
}

TEST_F(SibNeTest, ClassesByWeightWithTwoAndThreeConfigurations) {
  ASSERT_TRUE(load(diploid8()));
  archive({1, 1, 1, 2, 2, 2, 3, 3}, {1, 1, 1, 2, 2, 3, 4, 4}, -100.0);
  // Fathers 4 + 2 + 2: S1 = 6 + 1 + 1 = 8.
  archive({1, 1, 1, 1, 2, 2, 3, 3}, {1, 1, 1, 2, 2, 3, 4, 4}, -100.5);
  check({{7, 5, 0, 1.0}, {8, 5, 0, std::exp(-0.5)}});
  // A third record of the first class, relabelled: its weight joins class 1.
  archive({2, 2, 2, 1, 1, 1, 3, 3}, {4, 4, 4, 2, 2, 3, 1, 1}, -101.0);
  check({{7, 5, 0, 1.0 + std::exp(-1.0)}, {8, 5, 0, std::exp(-0.5)}});
}

TEST_F(SibNeTest, NoSibPairsGiveTheInfiniteSizeWithoutSampling) {
  ASSERT_TRUE(load(diploid8()));
  archive({1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 4, 5, 6, 7, 8}, -100.0);
  const std::string want = check({{0, 0, 0, 1.0}});
  EXPECT_NE(want.find("Ne      =    2147483647\nCI95(L) =             1\n"
                      "CI95(U) =    2147483647\n"),
            std::string::npos);
}

TEST_F(SibNeTest, ManyInfiniteReplicatesLeaveTheUpperBoundInfinite) {
  ASSERT_TRUE(load(diploid8()));
  // One paternal pair and nothing else: Ne = nint(28 / 0.25) = 112; a Poisson(1) draw of 0
  // pairs (about 37% of the replicates) gives an infinite replicate.
  archive({1, 1, 2, 3, 4, 5, 6, 7}, {1, 2, 3, 4, 5, 6, 7, 8}, -100.0);
  std::vector<Interval> intervals;
  check({{1, 0, 0, 1.0}}, &intervals);
  ASSERT_EQ(intervals.size(), 2u);
  EXPECT_GT(intervals[0].infinite_replicates, 25);
  EXPECT_EQ(intervals[0].high, infinite);
}

TEST_F(SibNeTest, OneSexCountsSelfedSibsFourTimes) {
  Project p = diploid8();
  p.sexes = "1";
  p.offspring.resize(6);
  ASSERT_TRUE(load(p));
  // (1,2), (1,2), (2,1): three outbred full-sib pairs, 2 each; (3,3), (3,3): a selfed pair, 4;
  // (4,5) alone. S1 = 10, P = 15: Ne_random = nint(6) = 6.
  archive({1, 1, 2, 3, 3, 4}, {2, 2, 1, 3, 3, 5}, -50.0);
  archive({1, 1, 2, 3, 4, 4}, {2, 2, 1, 3, 3, 5}, -51.0);
  // Second record: (1,2) (1,2) (2,1): 6; (3,3) (4,3): 2; (4,3) (4,5): 1. S1 = 9.
  const std::string want = check({{10, 0, 0, 1.0}, {9, 0, 0, std::exp(-1.0)}});
  EXPECT_NE(want.find("Ne      =             6\n"), std::string::npos);
}

TEST_F(SibNeTest, WithoutDiploidOffspringBothMethodsUseAlphaZero) {
  // Haplodiploid, six haploid offspring: both sexes become monogamous, so the archive keeps one
  // family column and decoding repeats it as the maternal one. Maternal families 3 + 2 + 1:
  // hh = 4 pairs of Phh = 15; R = (4/15.01 * 15.01^2) / (0.01^2 + 15.01^2 + 0.01^2) = 0.266488,
  // S2 = nint(4 R 15) = 16, S1 = 0: Ne = nint(135 / 16) = 8 under both methods.
  Project p;
  p.loci = 2;
  p.haplodiploid = "1";
  p.markertypes = "0 0";
  p.droprates = "0 0";
  p.otherrates = "0 0";
  p.offspring = {"O1 1 -99 2 -99", "O2 2 -99 2 -99", "O3 1 -99 1 -99",
                 "O4 3 -99 2 -99", "O5 1 -99 1 -99", "O6 2 -99 1 -99"};
  ASSERT_TRUE(load(p));
  ASSERT_EQ(variables.smplsizedh(2), 0);
  ASSERT_EQ(variables.allmonogamy, 1);
  archive({1, 1, 1, 2, 2, 3}, {1, 1, 1, 2, 2, 3}, -30.0);
  const std::string want = check({{0, 16, 0, 1.0}});
  const std::string block = "Alpha   =          0.00\nNe      =             8\n";
  const auto first = want.find(block);
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(want.find(block, first + 1), std::string::npos);
}

TEST_F(SibNeTest, ScreenLineAndAnEmptyArchive) {
  ASSERT_TRUE(load(diploid8()));
  // Nothing archived: nothing to estimate, no file.
  sibne();
  EXPECT_FALSE(std::filesystem::exists("myout.Ne"));
  archive({1, 1, 1, 2, 2, 2, 3, 3}, {1, 1, 1, 2, 2, 3, 4, 4}, -100.0);
  variables.displayq = 1;
  testing::internal::CaptureStdout();
  sibne();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Estimating Ne by sibship frequencies...\n");
  EXPECT_TRUE(std::filesystem::exists("myout.Ne"));
}

TEST_F(SibNeTest, UnwritableFileStopsWithItsName) {
  ASSERT_TRUE(load(diploid8()));
  archive({1, 1, 1, 2, 2, 2, 3, 3}, {1, 1, 1, 2, 2, 3, 4, 4}, -100.0);
  // A directory stands where the file goes: the rename over it fails.
  std::filesystem::create_directory("myout.Ne");
  const testing_support::StageOutcome o = testing_support::run_stage([] { sibne(); });
  EXPECT_TRUE(o.stopped);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.errorfile.rfind("Failed writing myout.Ne\n", 0), 0u) << o.errorfile;
  EXPECT_NE(o.errorfile.find("Program stopped in subroutine sibne, dataset = myout."),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(replacing_temporary("myout.Ne")));
}

}  // namespace
}  // namespace kinrad::netest
