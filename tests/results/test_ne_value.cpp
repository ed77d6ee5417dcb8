// Ne from sib-pair counts and the saturating conversion to an int4 size. Every expected value
// is worked out by hand from the pair rate x (Ne = nint(1/x)); the one-sex polynomials were
// evaluated by hand at t = 1/6 and t = 0.9/1.9 - 0.9.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "results/ne_internal.hpp"

namespace kinrad {
namespace {

struct NeRow {
  std::string name;
  int4 n, numsex, haplodiploid;
  int4 s1, s2;
  real8 alpha;
  int4 e;
  int4 expected;
};

TEST(NeValue, TableByHand) {
  const NeRow rows[] = {
      // One sex, n = 10 (P = 45), S = 9: B = 9/4/45 = 0.05.
      {"one sex, a' = 0", 10, 1, 0, 9, 0, 0.0, 0, 20},
      {"one sex, a' = -2 (alpha -0.5): x = 0.5 B", 10, 1, 0, 9, 0, -0.5, 0, 40},
      // a' = 2/3: 1.05 - 1/3 + 6/36 - 5/216 - 15/1296 = 0.848611; x = 0.0424306.
      {"one sex, a' in (0.5, 0.9]", 10, 1, 0, 9, 0, 0.5, 0, 24},
      // a' = 1.8/1.9, t = 0.0473684: 0.5 - t - 35t^2 + 300t^3 - 200t^4 = 0.404978.
      {"one sex, a' above 0.9", 10, 1, 0, 9, 0, 0.9, 0, 49},
      // Two sexes, diploid: x = (3 alpha + 1)/4 * 18/45.
      {"diploid, alpha 0", 10, 2, 0, 9, 9, 0.0, 0, 10},
      {"diploid, alpha 0.2", 10, 2, 0, 9, 9, 0.2, 0, 6},
      // Haplodiploid: x = ((3 alpha + 1) S2 + 2 S1) / (9 P).
      {"haplodiploid, alpha 0: 27/405", 10, 2, 1, 9, 9, 0.0, 0, 15},
      {"haplodiploid, alpha 0.1: 29.7/405", 10, 2, 1, 9, 9, 0.1, 0, 14},
      {"no sib pairs", 10, 2, 0, 0, 0, 0.0, 0, 2147483647},
      {"no sib pairs, one sex", 10, 1, 0, 0, 0, 0.3, 0, 2147483647},
      // 3 alpha + 1 = -2: a negative rate.
      {"negative rate", 10, 2, 0, 9, 9, -1.0, 0, 2147483647},
      // One pair among 32767 offspring: x = 0.25/536821761 = 4.65704e-10, just above 2^-31.
      {"rate just above 2^-31", 32767, 1, 0, 1, 0, 0.0, 0, 2147287044},
      // One paternal pair in a haplodiploid species: x = 2/(9P) = 4.139e-10, below 2^-31.
      {"rate below 2^-31", 32767, 2, 1, 1, 0, 0.0, 0, 2147483647},
      // E leaves 5 - 4 = 1 offspring: no pair can be formed.
      {"one offspring left", 5, 2, 0, 3, 3, 0.0, 4, 2147483647},
      {"no offspring left", 5, 2, 0, 3, 3, 0.0, 5, 2147483647},
      // E leaves 2 offspring, P = 1: x = 0.25 * 2 = 0.5.
      {"two offspring left", 6, 2, 0, 1, 1, 0.0, 4, 2},
  };
  for (const NeRow& r : rows) {
    SCOPED_TRACE(r.name);
    reset_all_modules();
    variables.smplsize = r.n;
    variables.numsex = r.numsex;
    variables.haplodiploid = r.haplodiploid;
    EXPECT_EQ(nevalue({r.s1, r.s2}, r.alpha, r.e), r.expected);
  }
  reset_all_modules();
}

TEST(NeValue, NintSaturatesAtTheInfiniteSize) {
  struct Row {
    real8 x;
    int4 expected;
  };
  const Row rows[] = {
      {2.5, 3},
      {-2.5, -3},
      {2.4999, 2},
      {0.0, 0},
      {2147483646.5, 2147483647},
      {2147483647.0, 2147483647},
      {2147483647.4, 2147483647},
      {2147483647.5, 2147483647},
      {3e9, 2147483647},
      {1e300, 2147483647},
      {std::numeric_limits<real8>::infinity(), 2147483647},
      {std::numeric_limits<real8>::quiet_NaN(), 2147483647},
      {-2147483648.0, -2147483647 - 1},
      {-1e300, -2147483647 - 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.x);
    EXPECT_EQ(ne_nint(r.x), r.expected);
  }
}

}  // namespace
}  // namespace kinrad
