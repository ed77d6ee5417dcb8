// Full-sib tables of families whose offspring all show one genotype, at loci with typing
// errors: powers of the one-offspring class tables, cached per count. Expected values: the
// brute-force one-offspring probability of every parent pair (fs_error_fixture.hpp) raised to
// the class weight, times exp(weight x the class type's constant the caller adds).
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "fs_error_fixture.hpp"

namespace kinrad {
namespace {

using test::ErrorFamily;
using test::FsErrorTest;

struct OneClassCase {
  std::string name;
  int4 k;  // locus alleles = family alleles
  int4 o1, o2;
};

// The family's table entry (row r, column c) wherever the routine left it.
real8 entry(int4 r, int4 c) {
  const Likelihoodvar& lv = likelihoodvar;
  if (lv.fsprobptr.allocated() && lv.fsprobptr(1).a.associated()) return lv.fsprobptr(1).a(r, c);
  return lv.fsprob(r, c);
}

void set_one_class(const OneClassCase& row, int4 hd, int4 n, real8 w, real8 d, real8 e) {
  ErrorFamily f{row.k, hd, d, e, {{row.o1, row.o2}}, {n}, {w}};
  test::set_up_family(f);
  variables.fsprobloc(2) = 6;
  likelihoodvar.fsprobptr.allocate(Dim(1));
  likelihoodvar.fsprobidx.allocate(Dim(1));
}

void call21(int4 k, int4 hd, real8 e, std::array<real8, 2>& acc) {
  const int4 ng = k * (k + 1) / 2;
  fsprobcompute21(1, 1, ng, hd == 1 ? k : ng, k, k, e >= 1e-8 ? 1 : 0, acc);
}

void check_against_brute(const OneClassCase& row, int4 hd, real8 w, real8 d, real8 e,
                         const std::array<real8, 2>& acc) {
  const bool het = row.o1 != row.o2;
  EXPECT_EQ(acc[het ? 1 : 0], w);
  EXPECT_EQ(acc[het ? 0 : 1], 0.0);
  const real8 cst = w * variables.fsprobconst1(het ? 2 : 1, 1);
  ErrorFamily f{row.k, hd, d, e, {{row.o1, row.o2}}, {1}, {w}};
  const test::PairList pl = test::pair_list(row.k, hd);
  for (std::size_t p = 0; p < pl.pairs.size(); ++p) {
    const auto [r, c] = pl.cell[p];
    const real8 brute = test::family_value(f, pl.pairs[p]);
    const real8 t = entry(r, c) * std::exp(cst);
    if (brute < 1e-280) continue;
    EXPECT_NEAR(t / brute, 1.0, 1e-12) << "pair " << p;
    if (hd == 0) {
      EXPECT_EQ(entry(c, r), entry(r, c));
    }
  }
}

const std::vector<OneClassCase> kCases = {
    {"homozygote of allele 1", 2, 1, 1},
    {"homozygote of allele 2 at two alleles", 2, 2, 2},
    {"heterozygote at two alleles", 2, 1, 2},
    {"heterozygote with three family alleles", 3, 1, 2},
};

TEST_F(FsErrorTest, OneGenotypeFamiliesAgreeWithBruteForce) {
  for (int4 hd = 0; hd <= 1; ++hd) {
    for (const OneClassCase& row : kCases) {
      for (int4 n = 1; n <= 7; ++n) {
        for (int4 scaled = 0; scaled <= 1; ++scaled) {
          for (int4 ptr = 0; ptr <= 1; ++ptr) {
            // Scaled sizes shrink a count as a power of it, so one offspring keeps weight 1.
            const real8 w = scaled ? std::pow(n, 0.9) : static_cast<real8>(n);
            SCOPED_TRACE(row.name + " hd " + std::to_string(hd) + " n " + std::to_string(n) +
                         " scaled " + std::to_string(scaled) + " pointer " + std::to_string(ptr));
            set_one_class(row, hd, n, w, 0.02, 0.01);
            likelihoodvar.fsprobidx(1) = static_cast<int1>(ptr ? -1 : 0);
            std::array<real8, 2> acc{0.0, 0.0};
            call21(row.k, hd, 0.01, acc);
            // Only counts up to five are served from a slab by reference.
            EXPECT_EQ(likelihoodvar.fsprobptr(1).a.associated(), ptr == 1 && n <= 5);
            check_against_brute(row, hd, w, 0.02, 0.01, acc);
          }
        }
      }
    }
  }
}

TEST_F(FsErrorTest, SecondFamilyOfOneCountReusesTheSlab) {
  // The first family of three offspring fills slab 3; a mark written into the slab survives
  // the second family of the same count and weight, so the slab was not recomputed.
  set_one_class(kCases[0], 0, 3, 3.0, 0.02, 0.01);
  likelihoodvar.fsprobidx(1) = -1;
  std::array<real8, 2> acc{0.0, 0.0};
  call21(2, 0, 0.01, acc);
  ASSERT_TRUE(likelihoodvar.fsprobptr(1).a.associated());
  const real8 h = variables.probgtypehom3(2, 2, 1, 1);
  EXPECT_NEAR(variables.probgtypehom3(2, 2, 3, 1), h * h * h, 1e-15);
  variables.probgtypehom3(2, 2, 3, 1) = 0.125;
  likelihoodvar.fsprobptr(1).a = {};
  call21(2, 0, 0.01, acc);
  EXPECT_EQ(likelihoodvar.fsprobptr(1).a(2, 2), 0.125);
  EXPECT_EQ(acc[0], 6.0);
  // A third family of that count whose weight differs (another locus of the block) refills it.
  variables.numfsgtypescaled(1) = 2.5;
  likelihoodvar.fsprobptr(1).a = {};
  call21(2, 0, 0.01, acc);
  EXPECT_NEAR(likelihoodvar.fsprobptr(1).a(2, 2), std::pow(h, 2.5), 1e-15);
}

TEST_F(FsErrorTest, SixOffspringWithIntegralWeightTakeTheIntegerPower) {
  // x^6 by repeated squaring is x^2 * (x^2)^2, computed here in that order.
  set_one_class(kCases[2], 0, 6, 6.0, 0.02, 0.01);
  std::array<real8, 2> acc{0.0, 0.0};
  call21(2, 0, 0.01, acc);
  for (int4 c = 1; c <= 3; ++c) {
    for (int4 r = 1; r <= 3; ++r) {
      const real8 x = variables.probgtypehet2(std::max(r, c), std::min(r, c), 1, 1);
      const real8 x2 = x * x;
      EXPECT_EQ(likelihoodvar.fsprob(r, c), x2 * (x2 * x2)) << r << " " << c;
    }
  }
}

TEST_F(FsErrorTest, HeterozygoteOfThreeAllelesWithoutOtherErrorsUsesFiveGenotypes) {
  for (real8 e : {0.0, 0.01}) {
    SCOPED_TRACE(e);
    set_one_class(kCases[3], 0, 2, 2.0, 0.02, e);
    std::array<real8, 2> acc{0.0, 0.0};
    call21(3, 0, e, acc);
    EXPECT_EQ(likelihoodvar.fsprobdim(1), e == 0.0 ? 5 : 6);
  }
}

}  // namespace
}  // namespace kinrad
