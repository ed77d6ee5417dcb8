// Peeling of families whose tables come from the routines of loci with typing errors and of
// dominant loci: tables filled here by hand, the result compared with the direct double sum
// over the two parents' vectors of weight x table entry x weight (one family, father into
// mother). Dominant error-free closed forms are compared with Mendel's phenotype
// probabilities: with no band (phenotype 2) only from 2/2, whose probability from parents
// 1/2 x 1/2 is 1/4, from 1/2 x 2/2 is 1/2 and from 2/2 x 2/2 is 1.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "core/modules.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/full_sib_internal.hpp"
#include "likelihood/likelihood_internal.hpp"
#include "likelihood/oracle.hpp"
#include "support/module_reset.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using oracle::Cluster;
using oracle::Genotype;

class PeelOtherTables : public testing_support::ModuleReset {
 protected:
  testing_support::TempWorkDir dir{"peel_tables"};
};

Cluster one_family(const oracle::Locus& locus, const std::vector<Genotype>& members) {
  Cluster c;
  c.loci = {locus};
  c.fathers.resize(1);
  c.mothers.resize(1);
  c.families = {{1, 1, {}}};
  for (const Genotype& g : members) {
    c.offspring.push_back({g});
    c.offploid.push_back(2);
    c.families[0].members.push_back(static_cast<int>(c.offspring.size()));
  }
  c.filler = {{locus.dominant ? Genotype{1, 0} : Genotype{1, 2}},
              {locus.dominant ? Genotype{2, 0} : Genotype{2, 3}}};
  return c;
}

// Sets the locus up, builds the absorb list and returns the direct sum with the entry function
// e(i, k) over the father's entry i and the mother's entry k (from 0), in logs with the
// constant; then runs peel and returns its value in got.
double direct_then_peel(int errorflag, const std::function<double(int, int)>& e, double& got) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 k = v.obsnumallele(1);
  real8 logl = 0.0;
  familylocus_setup(1, k, v.genotypenum(k), logl);
  EXPECT_EQ(logl, 0.0);
  findabsorbfamily();
  EXPECT_EQ(lv.mabsorb(1), 1);
  const int4 fa = 1, mo = v.npstartloc1(2) + 1;
  double s = 0.0;
  for (int i = 0; i < lv.hsprobdim(fa); ++i)
    for (int j = 0; j < lv.hsprobdim(mo); ++j)
      s += lv.crrtgenotypefre(lv.hsprobloc(fa) + i + 1) * e(i, j) *
           lv.crrtgenotypefre(lv.hsprobloc(mo) + j + 1);
  const double expect = std::log(s) + lv.loglikehoodconst;
  got = 0.0;
  peel(1, k, v.genotypenum(k), errorflag, got);
  return expect;
}

// A symmetric table with distinct entries.
double entry(int x, int y) {
  const int a = std::min(x, y), b = std::max(x, y);
  return 0.01 + 0.1 * a + 0.013 * b * b;
}

TEST_F(PeelOtherTables, CodominantWithErrorsEveryClassList) {
  const Cluster c =
      one_family({false, 4, {}, 0.02, 0.02}, {{1, 2}, {1, 3}, {2, 3}, {1, 1}, {3, 4}});
  ASSERT_TRUE(oracle::build(c).ok);
  oracle::exact_mode();
  for (int mode = 0; mode < 3; ++mode) {
    SCOPED_TRACE(mode);
    Likelihoodvar& lv = likelihoodvar;
    Variables& v = variables;
    const int4 k = v.obsnumallele(1);
    real8 logl = 0.0;
    familylocus_setup(1, k, v.genotypenum(k), logl);
    const int G = v.genotypenum(lv.numallelefs(1));
    // The classes summed over: all (mode 0), the list 1, 3, 4 (mode 1), receiving classes 2
    // and 5 by bits with absorbed classes 2 to 4 (mode 2).
    auto used_x = [&](int x) {
      return mode == 0 || (mode == 1 ? (x == 1 || x == 3 || x == 4) : (x >= 2 && x <= 4));
    };
    auto used_y = [&](int y) {
      return mode == 0 || (mode == 1 ? (y == 1 || y == 3 || y == 4) : (y == 2 || y == 5));
    };
    auto fill = [&] {
      lv.fsprobdim(1) = static_cast<int2>(G);
      for (int x = 1; x <= G; ++x)
        for (int y = 1; y <= G; ++y) lv.fsprob(x, v.fsprobloc(1) + y) = entry(x, y);
      lv.fsprobidx(1) = -1;
      if (mode == 0) lv.fsgtypeidx(0, 1) = 0;
      if (mode == 1) {
        lv.fsgtypeidx(0, 1) = 3;
        lv.fsgtypeidx(1, 1) = 1;
        lv.fsgtypeidx(2, 1) = 3;
        lv.fsgtypeidx(3, 1) = 4;
      }
      if (mode == 2) {
        lv.fsgtypeidx(0, 1) = 10;
        lv.fsgtypeidx(1, 1) = 2;
        lv.fsgtypeidx(2, 1) = 4;
        lv.fsgtypejdx(1, 1) = (1 << 1) | (1 << 4);
      }
    };
    const int4* fcls = &lv.idxtgt(lv.idxloc(0) + 1);
    const int4* mcls = &lv.idxtgt(lv.idxloc(1) + 1);
    auto e = [&](int i, int j) {
      const int x = fcls[i], y = mcls[j];
      if (x < 1 || y < 1 || !used_x(x) || !used_y(y)) return 0.0;
      return entry(x, y);
    };
    // The table and the class lists are per-locus state: set up the locus again, then fill.
    double got = 0.0;
    familylocus_setup(1, k, v.genotypenum(k), logl);
    findabsorbfamily();
    fill();
    const int4 fa = 1, mo = v.npstartloc1(2) + 1;
    double s = 0.0;
    for (int i = 0; i < lv.hsprobdim(fa); ++i)
      for (int j = 0; j < lv.hsprobdim(mo); ++j)
        s += lv.crrtgenotypefre(lv.hsprobloc(fa) + i + 1) * e(i, j) *
             lv.crrtgenotypefre(lv.hsprobloc(mo) + j + 1);
    const double expect = std::log(s) + lv.loglikehoodconst;
    peel(1, k, v.genotypenum(k), 1, got);
    EXPECT_NEAR(got, expect, 1e-12 * std::abs(expect));
  }
}

// Error-free dominant families by their phenotype counts (fsscaleq 0: counts unscaled).
TEST_F(PeelOtherTables, DominantErrorFreeClosedForms) {
  struct Row {
    const char* name;
    int bands, blanks;
  };
  const Row rows[] = {{"band only", 3, 0}, {"no band only", 0, 2}, {"both", 2, 3}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    reset_all_modules();
    testing_support::TempWorkDir d{"peel_dom"};
    std::vector<Genotype> members;
    for (int i = 0; i < row.bands; ++i) members.push_back({1, 0});
    for (int i = 0; i < row.blanks; ++i) members.push_back({2, 0});
    const Cluster c = one_family({true, 2, {}, 0.0, 0.0}, members);
    ASSERT_TRUE(oracle::build(c).ok);
    oracle::exact_mode();
    // P(no band | genotypes x, y of 1/1, 1/2, 2/2), by the transmissions.
    auto p2 = [](int x, int y) {
      const double q[3] = {0.0, 0.5, 1.0};  // chance to pass allele 2
      return q[x] * q[y];
    };
    auto e = [&](int i, int j) {
      const double b = p2(i, j);
      return std::pow(1.0 - b, row.bands) * std::pow(b, row.blanks);
    };
    Variables& v = variables;
    Likelihoodvar& lv = likelihoodvar;
    real8 logl = 0.0;
    familylocus_setup(1, 2, 3, logl);
    findabsorbfamily();
    // The family's own table where both phenotypes show.
    for (int x = 1; x <= 3; ++x)
      for (int y = 1; y <= 3; ++y) lv.fsprob(x, v.fsprobloc(1) + y) = e(x - 1, y - 1);
    lv.fsprobdim(1) = 3;
    lv.fsprobidx(1) = -1;
    const int4 fa = 1, mo = v.npstartloc1(2) + 1;
    double s = 0.0;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        s += lv.crrtgenotypefre(lv.hsprobloc(fa) + i + 1) * e(i, j) *
             lv.crrtgenotypefre(lv.hsprobloc(mo) + j + 1);
    const double expect = std::log(s) + lv.loglikehoodconst;
    double got = 0.0;
    peel(1, 2, 3, 0, got);
    EXPECT_NEAR(got, expect, 1e-12 * std::max(1.0, std::abs(expect)));
  }
}

// Dominant locus with errors and small counts: the shared tables of the block and their
// constant.
TEST_F(PeelOtherTables, DominantWithErrorsSharedTables) {
  const Cluster c = one_family({true, 2, {}, 0.05, 0.03}, {{1, 0}, {1, 0}, {2, 0}});
  ASSERT_TRUE(oracle::build(c).ok);
  oracle::exact_mode();
  const Variables& v = variables;
  const int b = v.dominantloci(1);
  const int c1 = 2, c2 = 1;
  auto e = [&](int i, int j) {
    const int x = std::min(i, j) + 1, y = std::max(i, j) + 1;
    const int k = x == 1 ? y : (x == 2 ? 2 + y : 6);
    return v.domprobgivengtype(k, c1, c2, b) * std::exp(v.domprobgivengtypeconst(c1, c2, b));
  };
  double got = 0.0;
  const double expect = direct_then_peel(1, e, got);
  EXPECT_NEAR(got, expect, 1e-12 * std::max(1.0, std::abs(expect)));
}

}  // namespace
}  // namespace kinrad
