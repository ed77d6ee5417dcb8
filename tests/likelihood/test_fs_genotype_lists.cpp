// The list of parental genotypes a trimmed table still uses: for a large family whose table
// keeps few genotypes, fsgtypeidx(0, f) holds their number u and either the genotypes
// themselves (u up to 9) or a bit set with the first and last (u of 10 or more). Expected
// values: the genotypes with a non-zero entry in the written table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <string>

#include "fs_error_fixture.hpp"

namespace kinrad {
namespace {

using test::ErrorFamily;
using test::FsErrorTest;
using test::Gt;

// Checks the list against the table; returns u, or 0 when no list was made.
int4 check_list(int4 ng) {
  const Likelihoodvar& lv = likelihoodvar;
  const int4 dim = lv.fsprobdim(1);
  const int4 u = lv.fsgtypeidx(0, 1);
  if (u == 0) return 0;
  std::set<int4> want;
  for (int4 a = 1; a <= dim; ++a)
    for (int4 b = 1; b <= dim; ++b)
      if (lv.fsprob(a, b) > 0.0) want.insert(a);
  EXPECT_EQ(static_cast<int4>(want.size()), u);
  EXPECT_LT(std::max(2 * u, 10), ng);  // only when it pays
  std::set<int4> got;
  if (u <= 9) {
    for (int4 i = 1; i <= u; ++i) {
      got.insert(lv.fsgtypeidx(i, 1));
      if (i > 1) {
        EXPECT_LT(lv.fsgtypeidx(i - 1, 1), lv.fsgtypeidx(i, 1));
      }
    }
  } else {
    for (int4 g = 1; g <= ng; ++g) {
      const uint32_t word = static_cast<uint32_t>(lv.fsgtypejdx((g - 1) / 32 + 1, 1));
      if ((word >> ((g - 1) % 32)) & 1u) got.insert(g);
    }
    EXPECT_EQ(lv.fsgtypeidx(1, 1), *want.begin());
    EXPECT_EQ(lv.fsgtypeidx(2, 1), *want.rbegin());
  }
  EXPECT_EQ(got, want);
  return u;
}

TEST_F(FsErrorTest, TrimmedTablesListTheGenotypesInUse) {
  // Large families dominated by one or two genotypes at 6 to 12 alleles, through both the
  // multi-genotype routine (up to 8 alleles) and the many-allele routine.
  std::mt19937 rng(5150);
  bool list = false, bits = false;
  for (int4 rep = 0; rep < 200; ++rep) {
    const int4 k = 6 + static_cast<int4>(rng() % 7u);
    const int4 ng = k * (k + 1) / 2;
    ErrorFamily f{k, 0, 0.01, 0.002, {}, {}, {}};
    const int4 a = 1 + static_cast<int4>(rng() % static_cast<unsigned>(k - 1));
    const int4 b = a + 1 + static_cast<int4>(rng() % static_cast<unsigned>(k - a));
    f.classes = {{a, b}, {1 + static_cast<int4>(rng() % static_cast<unsigned>(k)), 0}};
    f.classes[1].second = f.classes[1].first;  // a homozygote
    const int4 big = 10 + static_cast<int4>(rng() % 30u);
    const int4 small = 1 + static_cast<int4>(rng() % 8u);
    f.counts = {big, small};
    f.weights = {static_cast<real8>(big), static_cast<real8>(small)};
    SCOPED_TRACE("k " + std::to_string(k) + " rep " + std::to_string(rep));
    test::set_up_family(f);
    variables.anymonogamy = 1;
    likelihoodvar.fsgtypejdx.allocate(Dim((ng * ng + 31) / 32), Dim(1));
    int4 status = 1;
    real8 logl = 0.0;
    if (k <= 8) {
      fsprobcompute2(test::fs2_call(f), status, logl);
    } else {
      variables.numfsgenotype.allocate(Dim(2), Dim(1));
      variables.numfsgenotype(1, 1) = 1;
      variables.numfsgenotype(2, 1) = 1;
      fsprobcompute3(1, 1, ng, k, 2, status, 0.012);
    }
    if (status != 0) continue;
    const int4 u = check_list(ng);
    if (u >= 1 && u <= 9) list = true;
    if (u >= 10) bits = true;
  }
  EXPECT_TRUE(list);
  EXPECT_TRUE(bits);
}

}  // namespace
}  // namespace kinrad
