// Dominant family tables. Expected values: for families of up to four offspring a brute-force
// sum over every assignment of true genotypes to the offspring (Mendel times the band chance of
// the class formulas); larger families from the one-offspring sums raised to the counts.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "core/modules/variables.hpp"
#include "model/model.hpp"
#include "model_fixture.hpp"

namespace kinrad {
namespace {

using test::ModelTest;
class DominantTables : public ModelTest {};

// Parental pairs in table order: diploid fathers over unordered pairs, haploid fathers
// (second allele 0) by allele and mother genotype.
std::vector<std::array<int4, 4>> dominant_pairs(int4 hd) {
  if (hd == 0)
    return {{1, 1, 1, 1}, {1, 1, 1, 2}, {1, 1, 2, 2}, {1, 2, 1, 2}, {1, 2, 2, 2}, {2, 2, 2, 2}};
  return {{1, 0, 1, 1}, {1, 0, 1, 2}, {1, 0, 2, 2}, {2, 0, 1, 1}, {2, 0, 1, 2}, {2, 0, 2, 2}};
}

real8 band(int4 phen, int4 a, int4 b, int4 l) {
  const Variables& v = variables;
  const real8 x = prbg_p(1, 0, std::min(a, b), std::max(a, b), 2, v.droprate(l),
                         errscale(2, v.othererrorrate(l)), 0);
  return phen == 1 ? x : 1.0 - x;
}

// Sum over every assignment of transmitted alleles to a family of i band and j no-band
// offspring.
real8 brute_family(const std::array<int4, 4>& pr, int4 i, int4 j, int4 l) {
  std::vector<int4> phen;
  for (int4 n = 0; n < i; ++n) phen.push_back(1);
  for (int4 n = 0; n < j; ++n) phen.push_back(2);
  const bool haploid = pr[1] == 0;
  std::function<real8(std::size_t)> rec = [&](std::size_t n) -> real8 {
    if (n == phen.size()) return 1.0;
    real8 s = 0.0;
    for (int4 x = 0; x < (haploid ? 1 : 2); ++x)
      for (int4 y = 2; y < 4; ++y)
        s += (haploid ? 0.5 : 0.25) *
             band(phen[n], pr[static_cast<std::size_t>(x)], pr[static_cast<std::size_t>(y)], l) *
             rec(n + 1);
    return s;
  };
  return rec(0);
}

void check_dominant(int4 hd, real8 d, real8 e) {
  reset_all_modules();
  variables.haplodiploid = hd;
  test::setup_loci({{3, false, 0.0, 0.01, {0.2, 0.3, 0.5}}, {2, true, d, e, {0.5, 0.5}}});
  build_block_tables(1, 1, 2);
  const Variables& v = variables;
  ASSERT_EQ(v.dominantloci(2), 1);
  ASSERT_TRUE(v.scale2.allocated());
  ASSERT_GE(v.scale2.ubound(1), 20);
  const auto pairs = dominant_pairs(hd);
  for (int4 j = 0; j <= 20; ++j) {
    for (int4 i = 0; i <= 20; ++i) {
      std::vector<real8> raw(6);
      real8 mx = 0.0;
      for (std::size_t c = 0; c < 6; ++c) {
        raw[c] = i + j <= 4 ? brute_family(pairs[c], i, j, 2)
                            : std::pow(brute_family(pairs[c], 1, 0, 2), i) *
                                  std::pow(brute_family(pairs[c], 0, 1, 2), j);
        mx = std::max(mx, raw[c]);
      }
      const real8 cst = v.domprobgivengtypeconst(i, j, 1);
      if (mx > 0.999) {
        EXPECT_EQ(cst, 0.0) << i << " " << j;
      } else {
        EXPECT_NEAR(cst, std::log(mx), 1e-9 * (1.0 + std::abs(std::log(mx)))) << i << " " << j;
      }
      const real8 scale = mx > 0.999 ? 1.0 : mx;
      for (std::size_t c = 0; c < 6; ++c)
        EXPECT_NEAR(v.domprobgivengtype(static_cast<index_t>(c + 1), i, j, 1), raw[c] / scale, 1e-9)
            << c << " " << i << " " << j;
    }
  }
  for (int4 c = 1; c <= 6; ++c) {
    for (int4 ph = 1; ph <= 2; ++ph) {
      const real8 x = v.domprobgivengtype(c, ph == 1 ? 1 : 0, ph == 1 ? 0 : 1, 1);
      EXPECT_EQ(v.domprobgivengtypelog(c, ph, 1), x <= 1e-300 ? -1e300 : std::log(x));
    }
  }
}

TEST_F(DominantTables, DominantTablesAgainstBruteForce) {
  struct Row {
    int4 hd;
    real8 d;
    real8 e;
  };
  for (const Row& r :
       {Row{0, 0.05, 0.03}, Row{1, 0.05, 0.03}, Row{0, 0.0, 0.0}, Row{1, 0.0, 0.0}}) {
    SCOPED_TRACE(std::to_string(r.hd) + " " + std::to_string(r.d));
    check_dominant(r.hd, r.d, r.e);
  }
}

TEST_F(DominantTables, DominantTablesFollowScaledFamilySizes) {
  // Both two-allele loci have other-error rate 0.01, the mean that sets the exponent weight.
  test::setup_loci({{2, false, 0.0, 0.01, {0.5, 0.5}}, {2, true, 0.02, 0.01, {0.5, 0.5}}});
  variables.fsscaleq = 1;
  variables.scale2const = 0.5;
  build_block_tables(1, 1, 2);
  const Variables& v = variables;
  // scale2(3) = 2.978056640034662 and scale2(2) = 2 from the tempered formula.
  const auto pairs = dominant_pairs(0);
  std::vector<real8> raw(6);
  real8 mx = 0.0;
  for (std::size_t c = 0; c < 6; ++c) {
    raw[c] = std::pow(brute_family(pairs[c], 1, 0, 2), 2.978056640034662) *
             std::pow(brute_family(pairs[c], 0, 1, 2), 2.0);
    mx = std::max(mx, raw[c]);
  }
  EXPECT_NEAR(v.domprobgivengtypeconst(3, 2, 1), std::log(mx), 1e-9);
  for (std::size_t c = 0; c < 6; ++c)
    EXPECT_NEAR(v.domprobgivengtype(static_cast<index_t>(c + 1), 3, 2, 1), raw[c] / mx, 1e-9);
}

}  // namespace
}  // namespace kinrad
