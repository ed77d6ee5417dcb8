// Brent's minimiser on functions whose minima are known in closed form.
#include <gtest/gtest.h>

#include <cmath>

#include "core/brent.hpp"

namespace kinrad {
namespace {

TEST(Brent, FindsTheMinimumOfAParabolaFromTheTriplet015) {
  int evaluations = 0;
  real8 xmin = -1.0;
  const real8 fmin = brent(
      0.0, 1.0, 5.0,
      [&](real8 x) {
        ++evaluations;
        return (x - 2.0) * (x - 2.0);
      },
      1e-8, xmin);
  EXPECT_NEAR(xmin, 2.0, 1e-7);
  EXPECT_LE(fmin, 1e-14);
  EXPECT_EQ(fmin, (xmin - 2.0) * (xmin - 2.0));  // the value returned is f(xmin)
  EXPECT_LT(evaluations, 30);
}

TEST(Brent, HandlesTheTripletInEitherOrderAndNonParabolicFunctions) {
  struct Case {
    const char* name;
    real8 ax, bx, cx;
    real8 (*f)(real8);
    real8 xstar;  // the minimum, derived by hand
  };
  const Case cases[] = {
      // exp(x) - 3x has its minimum where exp(x) = 3
      {"exp(x)-3x", 0.0, 1.0, 2.0, [](real8 x) { return std::exp(x) - 3.0 * x; }, std::log(3.0)},
      {"exp(x)-3x reversed", 2.0, 1.0, 0.0, [](real8 x) { return std::exp(x) - 3.0 * x; },
       std::log(3.0)},
      // |x - 0.3|^1.5 + 1: no parabola fits it well near the minimum
      {"|x-0.3|^1.5", -1.0, 0.0, 4.0,
       [](real8 x) { return std::pow(std::fabs(x - 0.3), 1.5) + 1.0; }, 0.3},
      // -cos(x) on (-1, 0.5, 3): minimum at 0
      {"-cos", -1.0, 0.5, 3.0, [](real8 x) { return -std::cos(x); }, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    real8 xmin = 1e9;
    const real8 fmin = brent(c.ax, c.bx, c.cx, c.f, 1e-8, xmin);
    EXPECT_NEAR(xmin, c.xstar, 1e-6);
    EXPECT_EQ(fmin, c.f(xmin));
    EXPECT_LE(fmin, c.f(c.xstar) + 1e-12);
  }
}

TEST(Brent, StopsAfterOneHundredIterationsWithTheBestPointSoFar) {
  // Near x = 1e12 neighbouring doubles are 1.2e-4 apart, so the bracket never shrinks below
  // the 4e-10 that tol 0 asks for: the stopping test cannot hold, and all 100 iterations run.
  int evaluations = 0;
  real8 xmin = 0.0;
  auto f = [&](real8 x) {
    ++evaluations;
    return std::fabs(x - 1e12);
  };
  const real8 fmin = brent(0.0, 9e11, 3e12, f, 0.0, xmin);
  EXPECT_EQ(evaluations, 101);  // one at the start and one per iteration
  EXPECT_EQ(fmin, std::fabs(xmin - 1e12));
  EXPECT_LT(fmin, 1e11);  // better than the middle point of the triplet
}

}  // namespace
}  // namespace kinrad
