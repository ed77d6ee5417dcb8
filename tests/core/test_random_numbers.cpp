// The random streams against tables from an independent implementation written from the
// generators' definitions (tools/random_tables/random_tables.f90, run once with gfortran).
// The tables hold bit patterns, so the comparisons are exact.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "core/random_numbers.hpp"

namespace kinrad {
namespace {

class RandomNumbers : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_all_modules();
    random_stream_state = RandomStreamState{};
  }
};

// The data lines of a table, comments dropped.
std::vector<std::string> table_lines(const std::string& name) {
  std::ifstream in(std::string(KINRAD_TEST_DATA_DIR) + "/" + name);
  EXPECT_TRUE(in.good()) << name;
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line))
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  return lines;
}

real8 as_real8(const std::string& s) {
  return std::bit_cast<real8>(std::stoll(s));
}
real4 as_real4(const std::string& s) {
  return std::bit_cast<real4>(static_cast<int4>(std::stol(s)));
}
int4 after_label(const std::string& s) {
  return static_cast<int4>(std::stol(s.substr(4)));
}

std::vector<int4> ints(const std::string& s) {
  std::istringstream in(s);
  std::vector<int4> v;
  long x = 0;
  while (in >> x) v.push_back(static_cast<int4>(x));
  return v;
}

void start_ran2(int4 seed) {
  variables.idum3 = seed;
  variables.idum2 = 123456789;
  variables.idumiy = 0;
  variables.idumiv.fill(0);
}

TEST_F(RandomNumbers, Ran2MatchesTheReferenceSequencesAndStates) {
  const auto lines = table_lines("random_ran2.txt");
  std::size_t p = 0;
  int blocks = 0;
  while (p < lines.size()) {
    ASSERT_EQ(lines[p].substr(0, 4), "seed");
    const int4 seed = after_label(lines[p++]);
    SCOPED_TRACE("seed " + std::to_string(seed));
    start_ran2(seed);
    for (int i = 0; i < 60; ++i) {
      const real8 expected = as_real8(lines[p++]);
      const real8 got = ran2();
      ASSERT_EQ(got, expected) << "draw " << i + 1;
      EXPECT_GT(got, 0.0);
      EXPECT_LT(got, 1.0);
    }
    const auto state = ints(lines[p++]);
    ASSERT_EQ(state.size(), 3u);
    EXPECT_EQ(variables.idum3, state[0]);
    EXPECT_EQ(variables.idum2, state[1]);
    EXPECT_EQ(variables.idumiy, state[2]);
    std::vector<int4> table;
    for (int r = 0; r < 4; ++r)
      for (int4 v : ints(lines[p++])) table.push_back(v);
    ASSERT_EQ(table.size(), 32u);
    for (int4 j = 1; j <= 32; ++j) EXPECT_EQ(variables.idumiv(j), table[j - 1]) << j;
    ++blocks;
  }
  // -12345, -1, -7, -2147483647, 0 and -2147483648 (whose magnitude wraps; the seed becomes 1)
  EXPECT_EQ(blocks, 6);
}

TEST_F(RandomNumbers, Ran2SaveAndRestoreOfItsFourVariablesContinuesTheSequence) {
  start_ran2(-2024);
  for (int i = 0; i < 37; ++i) ran2();
  const int4 idum3 = variables.idum3;
  const int4 idum2 = variables.idum2;
  const int4 idumiy = variables.idumiy;
  const auto idumiv = variables.idumiv;
  std::vector<real8> ahead;
  for (int i = 0; i < 100; ++i) ahead.push_back(ran2());

  // A fresh program state, then the checkpointed values put back.
  reset_all_modules();
  variables.idum3 = idum3;
  variables.idum2 = idum2;
  variables.idumiy = idumiy;
  variables.idumiv = idumiv;
  for (int i = 0; i < 100; ++i) ASSERT_EQ(ran2(), ahead[static_cast<std::size_t>(i)]) << i;
}

TEST_F(RandomNumbers, Ran1MatchesTheReferenceSequences) {
  const auto lines = table_lines("random_ran1.txt");
  std::size_t p = 0;
  int blocks = 0;
  while (p < lines.size()) {
    ASSERT_EQ(lines[p].substr(0, 4), "seed");
    const int4 seed = after_label(lines[p++]);
    SCOPED_TRACE("seed " + std::to_string(seed));
    random_stream_state = RandomStreamState{};
    variables.idum = seed;
    for (int i = 0; i < 60; ++i) {
      const real4 expected = as_real4(lines[p++]);
      const real4 got = ran1();
      ASSERT_EQ(std::bit_cast<std::uint32_t>(got), std::bit_cast<std::uint32_t>(expected))
          << "draw " << i + 1;
      EXPECT_GT(got, 0.0f);
      EXPECT_LT(got, 1.0f);
    }
    EXPECT_EQ(variables.idum, static_cast<int4>(std::stol(lines[p++])));
    ++blocks;
  }
  // -12345, -1, -12350, 0, 77 (a positive seed starts from its magnitude too) and -2147483648
  EXPECT_EQ(blocks, 6);
}

TEST_F(RandomNumbers, Ran1RestartsWhenTheSeedIsSetNegativeAgain) {
  variables.idum = -99;
  const real4 first = ran1();
  ran1();
  variables.idum = -99;
  EXPECT_EQ(ran1(), first);
}

TEST_F(RandomNumbers, GasdevMatchesTheReferenceDeviatesInPairs) {
  const auto lines = table_lines("random_gasdev.txt");
  ASSERT_EQ(lines.size(), 40u);
  variables.idum = -12345;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const real4 got = gasdev();
    ASSERT_EQ(std::bit_cast<std::uint32_t>(got), std::bit_cast<std::uint32_t>(as_real4(lines[i])))
        << "deviate " << i + 1;
  }
}

TEST_F(RandomNumbers, PoidevMatchesTheReferenceDeviatesOfBothMethods) {
  // Means 0.5 (twice: the cache is reused), 3.25, 11.5 by the direct method; 12 (twice), 40
  // and 250 by rejection; the stream runs on from mean to mean.
  const auto lines = table_lines("random_poidev.txt");
  variables.idum = -4711;
  std::size_t p = 0;
  int blocks = 0;
  while (p + 1 < lines.size()) {
    ASSERT_EQ(lines[p].substr(0, 4), "mean");
    const real4 xm = std::bit_cast<real4>(after_label(lines[p++]));
    SCOPED_TRACE("mean " + std::to_string(xm));
    for (int i = 0; i < 25; ++i) {
      const real4 got = poidev(xm);
      EXPECT_EQ(got, std::trunc(got));
      ASSERT_EQ(got, static_cast<real4>(std::stol(lines[p++]))) << "deviate " << i + 1;
    }
    ++blocks;
  }
  EXPECT_EQ(blocks, 8);
  // The stream stands where the reference left it.
  EXPECT_EQ(std::bit_cast<std::uint32_t>(ran1()), std::bit_cast<std::uint32_t>(as_real4(lines[p])));
}

TEST_F(RandomNumbers, PoidevDoesNotShareCachedValuesAcrossTheMethodBoundary) {
  // 11.9999995 and 12 lie closer than the cache tolerance, yet the first uses the direct
  // method and the second the rejection method: the second must draw as from a fresh cache.
  const real4 below = std::nextafter(12.0f, 0.0f);
  variables.idum = -31;
  poidev(below);
  const RandomStreamState after_first = random_stream_state;
  const int4 idum = variables.idum;
  const real4 got = poidev(12.0f);

  random_stream_state = after_first;
  variables.idum = idum;
  random_stream_state.poidev_oldm = -1.0f;  // nothing cached
  EXPECT_EQ(got, poidev(12.0f));
}

TEST_F(RandomNumbers, Irbit1MatchesTheReferenceBits) {
  const auto lines = table_lines("random_irbit1.txt");
  ASSERT_EQ(lines.size(), 5u);
  // The first bit by hand: 234533 = 111001010000100101 in binary; bits 17, 4, 1, 0 are
  // 1, 0, 0, 1, whose XOR is 0.
  std::string bits;
  for (int r = 0; r < 4; ++r) bits += lines[static_cast<std::size_t>(r)];
  ASSERT_EQ(bits.size(), 200u);
  EXPECT_EQ(bits[0], '0');
  for (std::size_t i = 0; i < bits.size(); ++i)
    ASSERT_EQ(irbit1(), bits[i] - '0') << "bit " << i + 1;
  EXPECT_EQ(static_cast<int4>(random_stream_state.irbit1_seed),
            static_cast<int4>(std::stol(lines[4])));
}

TEST_F(RandomNumbers, GammlnMatchesTheReferenceAndKnownValues) {
  const auto lines = table_lines("random_gammln.txt");
  for (const auto& line : lines) {
    std::istringstream s(line);
    std::string x, g;
    s >> x >> g;
    SCOPED_TRACE(line);
    EXPECT_EQ(gammln(as_real8(x)), as_real8(g));
  }
  // ln Gamma(1) = ln Gamma(2) = 0, ln Gamma(0.5) = ln sqrt(pi), ln Gamma(10) = ln 9!, to the
  // accuracy of the approximation.
  EXPECT_NEAR(gammln(1.0), 0.0, 1e-10);
  EXPECT_NEAR(gammln(2.0), 0.0, 1e-10);
  EXPECT_NEAR(gammln(0.5), 0.5 * std::log(3.14159265358979323846), 1e-10);
  EXPECT_NEAR(gammln(10.0), std::log(362880.0), 1e-9);
}

}  // namespace
}  // namespace kinrad
