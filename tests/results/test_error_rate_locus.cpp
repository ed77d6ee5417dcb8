// The per-locus estimation against an independent transcription of its steps
// (tests/results/generators/error_rate_reference.py) on scripted objectives with the same ran2
// stream: estimates, levels, bounds, evaluation counts and the number of starts. The two-rate
// profile bounds and the kind table by hand.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "core/random_numbers.hpp"
#include "results/error_rate_fixture.hpp"
#include "results/error_rate_internal.hpp"

namespace kinrad {
namespace {

struct LocusCase {
  std::string name;
  int4 kind;
  real8 hi;
  real8 drop;
  real8 other;
  real8 drift;
  int4 seed;
  std::function<real8(const PowellPoint&)> g;
};

// The generator's cases, as it lists them.
std::vector<LocusCase> locus_cases() {
  return {
      {"two_rates", 3, 1.0, 0.07, 0.02, 0.0, -1234, test::g_two},
      {"two_rates_half", 3, 0.5, 0.07, 0.02, 0.0, -987, test::g_two},
      {"dropout_only", 1, 1.0, 0.07, 0.0, 0.0, -1234, test::g_one},
      {"other_only", 2, 1.0, 0.0, 0.02, 0.0, -555, test::g_other},
      {"corner", 3, 1.0, 0.07, 0.02, 0.0, -1234, test::g_corner},
      {"snap_two", 3, 1.0, 0.07, 0.02, 0.0, -42, test::g_snap},
      {"snap_one", 1, 1.0, 0.07, 0.0, 0.0, -42, test::g_snap_one},
      {"drift", 1, 1.0, 0.07, 0.0, 0.001, -1234, test::g_one},
  };
}

// Number of ran2 draws that take the stream from `seed` to the state left in variables (the
// two generators and the last output identify it).
int4 draws_since(int4 seed) {
  auto& v = variables;
  const int4 idum3 = v.idum3, idum2 = v.idum2, iy = v.idumiy;
  v.idum3 = seed;
  int4 k = 0;
  while (!(v.idum3 == idum3 && v.idum2 == idum2 && v.idumiy == iy) && k < 100000) {
    ran2();
    ++k;
  }
  return k;
}

class ErrorRateLocus : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_all_modules();
    variables.displayq = 0;
  }
};

TEST_F(ErrorRateLocus, MatchesTheTranscriptionOnScriptedObjectives) {
  const auto ref = test::read_reference("error_rate_reference.txt");
  for (const LocusCase& c : locus_cases()) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(ref.count(c.name));
    const auto& r = ref.at(c.name);
    ASSERT_EQ(r.size(), 11u);
    auto& v = variables;
    v.idum3 = c.seed;
    ErrorRateEntries e{};
    for (int4 k = 1; k <= 4; ++k) {
      e(k) = c.drop;
      e(k + 4) = c.other;
    }
    test::BoxedObjective f{c.g, c.drift};
    int4 progress = 0;
    errorratelocus(3, c.kind, c.hi, e, std::ref(f), progress);
    const int4 n = c.kind == 3 ? 2 : 1;
    EXPECT_EQ(draws_since(c.seed), 2 * n * std::stoi(r[0])) << "starts";
    EXPECT_EQ(f.count, std::stoi(r[1]));
    EXPECT_NEAR(v.loglerrorrateconst, std::stod(r[2]), 1e-12);
    for (int4 k = 1; k <= 8; ++k) {
      SCOPED_TRACE(k);
      EXPECT_NEAR(e(k), std::stod(r[static_cast<size_t>(2 + k)]), 1e-12);
    }
    EXPECT_EQ(v.locerrrateupdate(1), 3);
    EXPECT_EQ(v.locerrrateupdate(2), c.kind);
    EXPECT_EQ(v.numerrorrate, n);
  }
}

// What the table shows, stated by hand for the cases named after it.
TEST_F(ErrorRateLocus, ReferenceCasesShowTheirPoint) {
  const auto ref = test::read_reference("error_rate_reference.txt");
  // The second start agrees with the first: exactly two starts.
  EXPECT_EQ(ref.at("two_rates")[0], "2");
  // Both estimates below 0.0001: lower bounds 0 without a search.
  EXPECT_EQ(std::stod(ref.at("corner")[3 + 1]), 0.0);
  EXPECT_EQ(std::stod(ref.at("corner")[3 + 5]), 0.0);
  // A bound close to its estimate stays where it was found, for two rates as for one.
  EXPECT_GT(std::stod(ref.at("snap_two")[3 + 1]), 0.049);
  EXPECT_LT(std::stod(ref.at("snap_two")[3 + 2]), 0.051);
  EXPECT_GT(std::stod(ref.at("snap_one")[3 + 1]), 0.049);
  EXPECT_LT(std::stod(ref.at("snap_one")[3 + 2]), 0.051);
  // Starts that never agree: 20 of them, and the level two units above the best value (the
  // drift makes every later start worse, so the best is near the first start's 100).
  EXPECT_EQ(ref.at("drift")[0], "20");
  EXPECT_LT(std::stod(ref.at("drift")[2]), 102.1);
}

// Two rates: each bound is the rate's profile bound, the furthest value of the rate at which
// the least objective over the other rate is within 2 of the optimum, derived by hand for
// quadratic and linear objectives of optimum 100 (level L = the level the step set):
//   g_two  = 100 + 2000 a^2 + 5000 b^2 + 300 a b (a = x1 - 0.05, b = x2 - 0.01): the other
//            rate's best is b = -0.03 a, so the profile of x1 is 100 + (2000 - 4.5) a^2; the
//            best a = -0.075 b gives x2 the profile 100 + (5000 - 11.25) b^2, which at x2 = 0
//            is still below L: the lower bound is the box limit 0;
//   g_snap = 100 + 1e7 a^2 + 5000 b^2: separable, 0.05 +- sqrt((L - 100) / 1e7) and
//            0.01 + sqrt((L - 100) / 5000), lower bound 0;
//   k (40 x1 + 60 x2) + 100 (estimates 0): the other rate's best is 0, so the upper bounds are
//            (L - 100) / (40 k) and (L - 100) / (60 k): more information (a larger k) moves
//            them down in proportion, as it does not for a search that stops at its start.
TEST_F(ErrorRateLocus, TwoRateBoundsAreProfileBounds) {
  struct Case {
    std::string name;
    real8 hi;
    std::function<real8(const PowellPoint&)> g;
    std::function<std::array<real8, 4>(real8)> bounds;  // from the rise d = L - 100
  };
  auto corner = [](real8 k) {
    return [k](const PowellPoint& x) { return 100.0 + k * (40.0 * x(1) + 60.0 * x(2)); };
  };
  auto corner_bounds = [](real8 k) {
    return [k](real8 d) { return std::array<real8, 4>{0.0, d / (40.0 * k), 0.0, d / (60.0 * k)}; };
  };
  const std::vector<Case> cases = {
      {"two", 1.0, test::g_two,
       [](real8 d) {
         const real8 a = std::sqrt(d / 1995.5), b = std::sqrt(d / 4988.75);
         return std::array<real8, 4>{0.05 - a, 0.05 + a, 0.0, 0.01 + b};
       }},
      {"two_half", 0.5, test::g_two,
       [](real8 d) {
         const real8 a = std::sqrt(d / 1995.5), b = std::sqrt(d / 4988.75);
         return std::array<real8, 4>{0.05 - a, 0.05 + a, 0.0, 0.01 + b};
       }},
      {"snap", 1.0, test::g_snap,
       [](real8 d) {
         const real8 a = std::sqrt(d / 1e7), b = std::sqrt(d / 5000.0);
         return std::array<real8, 4>{0.05 - a, 0.05 + a, 0.0, 0.01 + b};
       }},
      {"corner", 1.0, corner(1.0), corner_bounds(1.0)},
      {"corner_informative", 1.0, corner(4.0), corner_bounds(4.0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto& v = variables;
    v.idum3 = -1234;
    ErrorRateEntries e{};
    for (int4 k = 1; k <= 4; ++k) {
      e(k) = 0.07;
      e(k + 4) = 0.02;
    }
    test::BoxedObjective f{c.g, 0.0};
    int4 progress = 0;
    errorratelocus(1, 3, c.hi, e, std::ref(f), progress);
    const std::array<real8, 4> want = c.bounds(v.loglerrorrateconst - 100.0);
    EXPECT_NEAR(e(2), want[0], 2e-6);
    EXPECT_NEAR(e(3), want[1], 2e-6);
    EXPECT_NEAR(e(6), want[2], 2e-6);
    EXPECT_NEAR(e(7), want[3], 2e-6);
    // The start values stay the input rates.
    EXPECT_EQ(e(4), 0.07);
    EXPECT_EQ(e(8), 0.02);
  }
}

// The kind of a locus from its input rates (thresholds 1e-8), by hand.
TEST_F(ErrorRateLocus, KindTable) {
  struct Row {
    real8 d, e;
    int1 dominant;
    int4 kind;
  };
  const Row rows[] = {
      {0.05, 0.01, 0, 3}, {0.05, 0.01, 1, 2}, {0.05, 0.0, 0, 1},  {0.05, 9e-9, 1, 0},
      {0.0, 0.01, 0, 2},  {0.0, 0.01, 1, 2},  {9e-9, 9e-9, 0, 0}, {1e-8, 1e-8, 0, 3},
  };
  auto& v = variables;
  v.droprate.allocate(Dim(1));
  v.othererrorrate.allocate(Dim(1));
  v.dominantmarker.allocate(Dim(1));
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.d << " " << r.e << " " << int(r.dominant));
    v.droprate(1) = r.d;
    v.othererrorrate(1) = r.e;
    v.dominantmarker(1) = r.dominant;
    EXPECT_EQ(errorratekind(1), r.kind);
  }
}

}  // namespace
}  // namespace kinrad
