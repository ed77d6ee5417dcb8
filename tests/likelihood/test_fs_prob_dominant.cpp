// Full-sib tables at dominant loci. Expected values: for every parent pair, P(band)^s(B) x
// P(no band)^s(Z) with P from Mendel's transmissions of the band allele 1 and the null allele 2
// through the tabulated observation model (error loci), or Mendel alone (error-free loci);
// s the scaled sizes. The table times exp(the family constant) must equal it.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/fs_prob_error_internal.hpp"
#include "model/model.hpp"
#include "model/model_fixture.hpp"
#include "support/module_reset.hpp"

namespace kinrad {
namespace {

class FsDominant : public testing_support::ModuleReset {};

// Genotypes 1 = 1/1 (two band alleles), 2 = 1/2, 3 = 2/2; haploid fathers 1 = band, 2 = null.
const int4 kAllele[4][2] = {{0, 0}, {1, 1}, {1, 2}, {2, 2}};

// P(band) of one offspring of father row r and mother column c; obs(x, y) the probability of
// the band given true alleles x, y.
template <class Obs>
real8 band_probability(int4 hd, int4 r, int4 c, Obs obs) {
  real8 s = 0.0;
  if (hd == 1) {
    for (int4 y : kAllele[c]) s += 0.5 * obs(r, y);
    return s;
  }
  for (int4 x : kAllele[r])
    for (int4 y : kAllele[c]) s += 0.25 * obs(x, y);
  return s;
}

// Sets up one family, block 1, with fsprob room for it and the size tables up to n.
void set_up(int4 hd, bool error, int4 n, real8 d = 0.0, real8 e = 0.0) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  v.haplodiploid = hd;
  setscale2(n);
  if (error) {
    test::setup_loci({{2, true, d, e, {0.5, 0.5}}});
    build_block_tables(1, 1, 1);
  }
  v.fsprobloc.allocate(Dim(2));
  v.fsprobloc(2) = 3;
  lv.fsprob.allocate(Dim(3), Dim(3));
  lv.fsprob.fill(7.0);
  lv.loglikehoodconst = 0.0;
}

real8 table(int4 r, int4 c) {
  return likelihoodvar.fsprob(r, c);
}

TEST_F(FsDominant, ErrorFreeClosedFormsAgreeWithMendel) {
  struct Row {
    int4 hd, b, z;
    real8 shrink;  // scaled size k^shrink
  };
  // (3, 3): s1 <= 1.71 s2; (6, 2) and (12, 7): s1 above 1.71 s2; single kinds; scaled sizes.
  const std::vector<Row> rows = {{0, 3, 3, 1.0}, {0, 6, 2, 1.0}, {0, 12, 7, 1.0}, {0, 6, 2, 0.8},
                                 {0, 4, 0, 1.0}, {0, 0, 5, 1.0}, {0, 4, 0, 0.8},  {1, 3, 3, 1.0},
                                 {1, 4, 0, 0.8}, {1, 0, 5, 1.0}, {1, 9, 2, 0.9}};
  for (const Row& row : rows) {
    SCOPED_TRACE("hd " + std::to_string(row.hd) + " B " + std::to_string(row.b) + " Z " +
                 std::to_string(row.z) + " shrink " + std::to_string(row.shrink));
    set_up(row.hd, false, 20);
    Variables& v = variables;
    v.logk.allocate(Dim(20));
    for (int4 k = 1; k <= 20; ++k) v.logk(k) = std::log(static_cast<real8>(k));
    v.power2.allocate(Dim(0, 20));
    v.power3.allocate(Dim(0, 20));
    for (int4 k = 0; k <= 20; ++k) {
      v.scale2(k) = std::pow(static_cast<real8>(k), row.shrink);
      v.power2(k) = std::pow(0.5, v.scale2(k));
      v.power3(k) = std::pow(0.75, v.scale2(k));
    }
    real8 cst = 99.0;
    fsprobcomputedom(0, 1, 1, row.b, row.z, cst);
    EXPECT_EQ(likelihoodvar.loglikehoodconst, row.b > 0 && row.z > 0 ? cst : 0.0);
    const real8 s1 = v.scale2(row.b);
    const real8 s2 = v.scale2(row.z);
    auto mendel = [](int4 x, int4 y) { return (x == 1 || y == 1) ? 1.0 : 0.0; };
    int4 ones = 0;
    for (int4 c = 1; c <= 3; ++c) {
      for (int4 r = 1; r <= 3 - row.hd; ++r) {
        const real8 p = band_probability(row.hd, r, c, mendel);
        const real8 want = std::pow(p, s1) * std::pow(1.0 - p, s2);
        EXPECT_NEAR(table(r, c) * std::exp(cst), want, 1e-12 * std::max(want, 1e-300))
            << r << " " << c;
        if (table(r, c) == 1.0) ++ones;
      }
    }
    EXPECT_GE(ones, 1);  // the largest entry is 1
    if (row.hd == 0 && row.b > 0 && row.z > 0) {
      EXPECT_EQ(table(3, 3), 0.0);
      EXPECT_NE(table(2, 2) == 1.0, table(2, 3) == 1.0);
    }
  }
}

// Brute-force value of a family of nb band and nz no-band offspring at the error locus.
real8 brute_dominant(int4 hd, int4 r, int4 c, real8 sb, real8 sz) {
  auto band = [](int4 x, int4 y) {
    const int4 o[2] = {1, 0};
    return prbgtop(std::min(x, y), std::max(x, y), o, 1);
  };
  const real8 p = band_probability(hd, r, c, band);
  return std::pow(p, sb) * std::pow(1.0 - p, sz);
}

TEST_F(FsDominant, ErrorLocusTablesAgreeWithBruteForce) {
  struct Row {
    int4 b, z;
    bool normalised;  // largest entry 1
  };
  // (20, 20) looked up; (21, 1) from the one-offspring entries and normalised; (21, 0) a plain
  // power of the band entries; (0, 30) a plain power of the no-band entries.
  const std::vector<Row> rows = {{20, 20, true}, {3, 0, true},   {21, 1, true},
                                 {21, 0, false}, {0, 30, false}, {40, 25, true}};
  for (int4 hd = 0; hd <= 1; ++hd) {
    for (const Row& row : rows) {
      SCOPED_TRACE("hd " + std::to_string(hd) + " B " + std::to_string(row.b) + " Z " +
                   std::to_string(row.z));
      set_up(hd, true, 100, 0.02, 0.05);
      real8 cst = 0.0;
      fsprobcomputedom(1, 1, 1, row.b, row.z, cst);
      EXPECT_EQ(likelihoodvar.loglikehoodconst, cst);
      real8 top = 0.0;
      for (int4 c = 1; c <= 3; ++c) {
        for (int4 r = 1; r <= 3 - hd; ++r) {
          const real8 want = brute_dominant(hd, r, c, row.b, row.z);
          EXPECT_NEAR(table(r, c) * std::exp(cst) / want, 1.0, 1e-12) << r << " " << c;
          top = std::max(top, table(r, c));
          if (hd == 0) {
            EXPECT_EQ(table(r, c), table(c, r));
          }
        }
      }
      if (row.normalised) {
        EXPECT_NEAR(top, 1.0, 1e-15);
      }
    }
  }
}

TEST_F(FsDominant, UnderflowingProductIsComputedInLogs) {
  // 2000 offspring of each kind: every direct product falls below 1e-300.
  for (int4 hd = 0; hd <= 1; ++hd) {
    SCOPED_TRACE(hd);
    set_up(hd, true, 2000, 0.02, 0.05);
    real8 cst = 0.0;
    fsprobcomputedom(1, 1, 1, 2000, 2000, cst);
    real8 top = 0.0;
    for (int4 c = 1; c <= 3; ++c) {
      for (int4 r = 1; r <= 3 - hd; ++r) {
        auto band = [](int4 x, int4 y) {
          const int4 o[2] = {1, 0};
          return prbgtop(std::min(x, y), std::max(x, y), o, 1);
        };
        const real8 p = band_probability(hd, r, c, band);
        const real8 want = 2000.0 * std::log(p) + 2000.0 * std::log(1.0 - p);
        if (table(r, c) == 0.0) {
          EXPECT_LT(want - cst, -700.0) << r << " " << c;  // beyond double's range
          continue;
        }
        EXPECT_NEAR(std::log(table(r, c)) + cst, want, 1e-10 * std::abs(want)) << r << " " << c;
        top = std::max(top, table(r, c));
      }
    }
    EXPECT_EQ(top, 1.0);
  }
}

}  // namespace
}  // namespace kinrad
