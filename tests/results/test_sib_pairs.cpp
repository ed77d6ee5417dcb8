// Sib-pair counts of one decoded configuration against a plain transcription over all pairs of
// offspring (O(n^2), written here), on random configurations of every species case, and small
// cases by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "results/ne_internal.hpp"

namespace kinrad {
namespace {

struct Species {
  std::string name;
  int4 numsex = 2;
  int4 haplodiploid = 0;
  int4 haploids = 0;  // haploid offspring (every k-th one)
  bool mono1 = false;
  bool mono2 = false;
  double pself = 0.0;  // one sex: chance of a selfed offspring
};

// The sample of n offspring with the species flags; candidates of both sexes (nc each), of
// which the first half are also offspring.
void set_sample(const Species& s, int4 n, int4 nc) {
  reset_all_modules();
  auto& v = variables;
  v.smplsize = n;
  v.numsex = s.numsex;
  v.haplodiploid = s.haplodiploid;
  v.monogamy(1) = s.mono1 ? 1 : 0;
  v.monogamy(2) = s.mono2 ? 1 : 0;
  v.allmonogamy = s.mono1 && s.mono2 ? 1 : 0;
  v.anymonogamy = s.mono1 || s.mono2 ? 1 : 0;
  v.offploid.allocate(Dim(n));
  v.smplsizedh(1) = 0;
  v.smplsizedh(2) = 0;
  for (int4 i = 1; i <= n; ++i) {
    const bool haploid = s.haploids > 0 && i <= s.haploids;
    v.offploid(i) = haploid ? 1 : 2;
    ++v.smplsizedh(haploid ? 1 : 2);
  }
  v.numcandidate(1) = nc;
  v.numcandidate(2) = nc;
  v.cndinoffspring.allocate(Dim(std::max(nc, 1)), Dim(2));
  for (int4 s2 = 1; s2 <= 2; ++s2) {
    v.numcndinoffspring(s2) = 0;
    for (int4 c = 1; c <= nc / 2; ++c) {
      v.cndinoffspring(c, s2) = c + (s2 - 1) * (nc / 2);
      ++v.numcndinoffspring(s2);
    }
  }
  v.offtgt.allocate(Dim(n), Dim(3));
  v.prnttgt.allocate(Dim(n), Dim(2));
}

// The sexes the two-sex count tallies: sex 1 alone for a diploid species with both sexes
// monogamous.
std::array<bool, 2> counted_sexes() {
  const auto& v = variables;
  return {true, !(v.allmonogamy == 1 && v.haplodiploid == 0 && v.numsex == 2)};
}

std::array<bool, 2> x_flags() {
  const auto& v = variables;
  return {v.numcandidate(1) > 0 && v.numcndinoffspring(1) > 0,
          v.numcandidate(2) > 0 && v.numcndinoffspring(2) > 0};
}

int4 round_half_away(double x) {
  return static_cast<int4>(x < 0 ? -std::floor(-x + 0.5) : std::floor(x + 0.5));
}

// Every pair of offspring compared in turn.
SibPairCounts naive_counts() {
  const auto& v = variables;
  const int4 n = v.smplsize;
  const auto counted = counted_sexes();
  const auto x = x_flags();
  SibPairCounts out;
  for (int4 s = 1; s <= 2; ++s) {
    if (!x[s - 1]) continue;
    std::set<int4> seen;
    for (int4 i = 1; i <= n; ++i) {
      const int4 c = v.prnttgt(i, s);
      if (c > 0 && v.cndinoffspring(c, s) > 0) seen.insert(c);
    }
    out.e += static_cast<int4>(seen.size());
  }
  auto col = [&](int4 i, int4 c) { return v.offtgt(i, c); };
  if (v.smplsizedh(1) > 0) {
    long long pp = 0, mm = 0, hh = 0, hd = 0;
    for (int4 i = 1; i <= n; ++i) {
      for (int4 j = i + 1; j <= n; ++j) {
        const bool di = v.offploid(i) == 2, dj = v.offploid(j) == 2;
        if (di && dj) {
          if (col(i, 1) == col(j, 1)) ++pp;
          if (col(i, 2) == col(j, 2)) ++mm;
        } else if (col(i, 2) == col(j, 2)) {
          if (!di && !dj)
            ++hh;
          else
            ++hd;
        }
      }
    }
    const double P = n * (n - 1.0) / 2, d = v.smplsizedh(2), h = v.smplsizedh(1);
    const double Pd = d * (d - 1) / 2, Phh = h * (h - 1) / 2, Phd = d * h;
    out.s1 = Pd == 0 ? 0 : round_half_away(pp * P / Pd);
    const double a = Pd + 0.01, b = Phd + 0.01, c = Phh + 0.01;
    const double R =
        (hh / c * (c * c) + hd / b * (b * b) + mm / a * (a * a)) / (a * a + c * c + b * b);
    out.s2 = h == 1 ? round_half_away(4 * R / 3 * P) : round_half_away(4 * R * P);
  } else if (v.numsex == 2) {
    long long s[2] = {0, 0};
    for (int4 sex = 1; sex <= 2; ++sex) {
      if (!counted[sex - 1]) continue;
      for (int4 i = 1; i <= n; ++i)
        for (int4 j = i + 1; j <= n; ++j)
          if (col(i, sex) == col(j, sex)) ++s[sex - 1];
    }
    if (v.haplodiploid == 1) s[1] *= 4;
    if (!counted[1]) s[1] = s[0];
    out.s1 = static_cast<int4>(s[0]);
    out.s2 = static_cast<int4>(s[1]);
  } else {
    long long s = 0;
    for (int4 k = 1; k <= n; ++k)
      for (int4 j = k + 1; j <= n; ++j)
        for (int4 a = 1; a <= 2; ++a)
          for (int4 b = 1; b <= 2; ++b)
            if (col(k, a) == col(j, b)) ++s;
    out.s1 = static_cast<int4>(s);
  }
  return out;
}

// A random decoded configuration: families drawn from 1..k per column, as the mating system
// allows them; parents drawn from the candidates or none.
void random_configuration(std::mt19937& rng, const Species& s, int4 k, int4 nc) {
  auto& v = variables;
  std::uniform_int_distribution<int4> fam(1, k);
  std::uniform_int_distribution<int4> cand(0, nc);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<int4> mate(static_cast<std::size_t>(k) + 1);
  for (auto& m : mate) m = fam(rng);
  for (int4 i = 1; i <= v.smplsize; ++i) {
    const int4 a = fam(rng);
    int4 b = fam(rng);
    if (s.numsex == 1 && u(rng) < s.pself) b = a;
    if (s.numsex == 2 && s.mono1 && s.mono2) b = a;
    if (s.numsex == 2 && s.mono1 && !s.mono2) b = mate[static_cast<std::size_t>(a)];
    // A haploid offspring has no father; its paternal column must not be read.
    v.offtgt(i, 1) = v.offploid(i) == 1 ? 0 : a;
    v.offtgt(i, 2) = b;
    v.offtgt(i, 3) = 1;
    v.prnttgt(i, 1) = cand(rng);
    v.prnttgt(i, 2) = cand(rng);
  }
}

TEST(SibPairs, EqualThePairwiseTranscriptionOnRandomConfigurations) {
  const Species cases[] = {
      {"diploid, polygamous", 2, 0, 0, false, false, 0.0},
      {"diploid, father monogamous", 2, 0, 0, true, false, 0.0},
      {"diploid, double monogamy", 2, 0, 0, true, true, 0.0},
      {"haplodiploid without haploid offspring", 2, 1, 0, false, false, 0.0},
      {"haplodiploid, one haploid offspring", 2, 1, 1, false, false, 0.0},
      {"haplodiploid, many haploid offspring", 2, 1, 17, false, false, 0.0},
      {"haplodiploid, one diploid offspring", 2, 1, 39, false, false, 0.0},
      {"haplodiploid, both sexes monogamous", 2, 1, 5, true, true, 0.0},
      {"one sex, outbred", 1, 0, 0, false, false, 0.0},
      {"one sex, with selfed families", 1, 0, 0, false, false, 0.3},
  };
  std::mt19937 rng(20261210);
  for (const Species& s : cases) {
    for (const int4 k : {1, 3, 12, 60}) {
      SCOPED_TRACE(s.name + ", families " + std::to_string(k));
      set_sample(s, 40, 6);
      SibPairWork work;
      sibpair_prepare(work);
      for (int trial = 0; trial < 5; ++trial) {
        random_configuration(rng, s, k, 6);
        const SibPairCounts want = naive_counts();
        const SibPairCounts got = sibpair_count(work, counted_sexes(), x_flags());
        EXPECT_EQ(got.s1, want.s1);
        EXPECT_EQ(got.s2, want.s2);
        EXPECT_EQ(got.e, want.e);
      }
    }
  }
  reset_all_modules();
}

TEST(SibPairs, SmallCasesByHand) {
  // Two sexes, 5 offspring: fathers 1 1 1 2 2 (3 + 1 pairs), mothers 1 1 2 2 2 (1 + 3 pairs).
  set_sample({"diploid"}, 5, 0);
  auto& v = variables;
  const int4 f[] = {1, 1, 1, 2, 2}, m[] = {1, 1, 2, 2, 2};
  for (int4 i = 1; i <= 5; ++i) {
    v.offtgt(i, 1) = f[i - 1];
    v.offtgt(i, 2) = m[i - 1];
  }
  SibPairWork work;
  sibpair_prepare(work);
  EXPECT_EQ(sibpair_count(work, {true, true}, {false, false}), (SibPairCounts{4, 4, 0}));
  // Only sex 1 counted: S2 repeats S1.
  EXPECT_EQ(sibpair_count(work, {true, false}, {false, false}), (SibPairCounts{4, 4, 0}));
  // One sex, 3 offspring: (1,2), (1,2), (3,3): the outbred full sibs count 2; the selfed one
  // shares nothing.
  set_sample({"one sex", 1}, 3, 0);
  v.offtgt(1, 1) = 1, v.offtgt(1, 2) = 2;
  v.offtgt(2, 1) = 2, v.offtgt(2, 2) = 1;
  v.offtgt(3, 1) = 3, v.offtgt(3, 2) = 3;
  sibpair_prepare(work);
  EXPECT_EQ(sibpair_count(work, {true, true}, {false, false}).s1, 2);
  // Two selfed full sibs (3,3) and (3,3) count 4; offspring 1 (1,3) adds 2 + 2 with them.
  v.offtgt(1, 1) = 1, v.offtgt(1, 2) = 3;
  v.offtgt(2, 1) = 3, v.offtgt(2, 2) = 3;
  EXPECT_EQ(sibpair_count(work, {true, true}, {false, false}).s1, 8);
  reset_all_modules();
}

TEST(SibPairs, AnOffspringThatIsACandidateOfBothSexesCountsOncePerSex) {
  set_sample({"diploid"}, 4, 2);
  auto& v = variables;
  // Candidate 1 of each sex is the same individual as an offspring; candidate 2 is not.
  v.cndinoffspring(1, 1) = 3;
  v.cndinoffspring(1, 2) = 3;
  v.cndinoffspring(2, 1) = 0;
  v.cndinoffspring(2, 2) = 0;
  v.numcndinoffspring(1) = 1;
  v.numcndinoffspring(2) = 1;
  const int4 dad[] = {1, 1, 0, 2}, mum[] = {1, 0, 1, 2};
  for (int4 i = 1; i <= 4; ++i) {
    v.offtgt(i, 1) = i;
    v.offtgt(i, 2) = i;
    v.prnttgt(i, 1) = dad[i - 1];
    v.prnttgt(i, 2) = mum[i - 1];
  }
  SibPairWork work;
  sibpair_prepare(work);
  EXPECT_EQ(sibpair_count(work, {true, true}, {true, true}).e, 2);
  // A sex whose flag is off is not counted.
  EXPECT_EQ(sibpair_count(work, {true, true}, {true, false}).e, 1);
  // The marks are cleared between configurations.
  EXPECT_EQ(sibpair_count(work, {true, true}, {true, true}).e, 2);
  reset_all_modules();
}

}  // namespace
}  // namespace kinrad
