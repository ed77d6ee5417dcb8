// Full-sib tables at error-free loci against Mendel's rules worked out directly: for every pair
// of parent genotypes over the locus's full allele set, the table entry of their classes times
// exp(the amount taken out) equals the product over the family's distinct offspring genotypes
// of P(genotype | parents) raised to its (scaled) count, computed here by enumerating the four
// (diploid) or two (haploid father) ways an offspring receives its alleles.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/full_sib_internal.hpp"
#include "likelihood/likelihood_internal.hpp"
#include "likelihood/oracle.hpp"
#include "likelihood/work_arrays_internal.hpp"
#include "support/module_reset.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using oracle::Cluster;
using oracle::Genotype;

struct Row {
  const char* name;
  int nallele;                      // alleles of the locus
  std::vector<Genotype> genotypes;  // distinct offspring genotypes (labels)
  int shared_at_one = 0;            // shared table expected when every count is 1
};

Cluster family_of(const Row& row, const std::vector<int>& counts, bool haplo, int fsscaleq) {
  Cluster c;
  c.haplodiploid = haplo;
  c.fsscaleq = fsscaleq;
  c.loci = {{false, row.nallele, {}, 0.0, 0.0}};
  c.fathers.resize(1);
  c.mothers.resize(1);
  c.families = {{1, 1, {}}};
  for (size_t g = 0; g < row.genotypes.size(); ++g) {
    for (int k = 0; k < counts[g]; ++k) {
      c.offspring.push_back({row.genotypes[g]});
      c.offploid.push_back(2);
      c.families[0].members.push_back(static_cast<int>(c.offspring.size()));
    }
  }
  // Every allele of the locus shows in the sample; at least 15 offspring for count scaling.
  for (int a = 1; a <= row.nallele; a += 2)
    c.filler.push_back({Genotype{a, std::min(a + 1, row.nallele)}});
  while (c.offspring.size() + c.filler.size() < 16) c.filler.push_back({Genotype{1, 2}});
  return c;
}

// Probability that one offspring of parents f (father; f[1] = 0 haploid) and m shows the
// genotype (x, y), by enumeration of the transmissions.
double mendel(const std::array<int, 2>& f, const std::array<int, 2>& m, int x, int y) {
  double p = 0.0;
  const int nf = f[1] == 0 ? 1 : 2;
  for (int i = 0; i < nf; ++i)
    for (int j = 0; j < 2; ++j) {
      const int a = f[static_cast<size_t>(i)], b = m[static_cast<size_t>(j)];
      if ((a == x && b == y) || (a == y && b == x)) p += 1.0 / (2 * nf);
    }
  return p;
}

// Runs the table routine in table mode for family 1 and checks the table; returns the amount
// taken out of the constant.
double check_table(bool twoallele, int expected_shared) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 k = v.obsnumallele(1);
  real8 logl = 0.0;
  familylocus_setup(1, k, v.genotypenum(k), logl);
  EXPECT_EQ(logl, 0.0);
  // Table mode: neither whole-family mode (one pair of parents) nor the first group of the
  // absorb list.
  v.purefsshortcut = 0;
  const int4 maxnumparent = v.maxnumparent;
  v.maxnumparent = 2;
  lv.mabsorb(1) = 0;
  engine::grow(lv.flagsnp, Dim(1));
  lv.flagsnp(1) = 0;
  const real8 before = lv.loglikehoodconst;
  const int4 ngt = v.numfsgenotype(1, 1) + v.numfsgenotype(2, 1);
  if (twoallele) {
    const int2 n2[2] = {v.numfsgenotype(1, 1), v.numfsgenotype(2, 1)};
    fsprobcomputesnp(1, n2, 1, 0);
  } else {
    bool complete = false;
    fsprobcompute1(1, lv.numallelefs(1), ngt, logl, 1, 0, complete);
    EXPECT_FALSE(complete);
  }
  v.maxnumparent = maxnumparent;
  const double taken = before - lv.loglikehoodconst;
  const bool haplo = v.haplodiploid == 1;
  const int cols = lv.fsprobdim(1);
  const int naf = twoallele ? 2 : lv.numallelefs(1);
  const int rows = haplo ? naf : cols;
  const int shared = lv.fsprobidx(1) >= 1 ? lv.fsprobidx(1) : 0;
  EXPECT_EQ(shared, expected_shared);
  auto entry = [&](int r, int c) {
    if (shared > 0) return v.fsprobdomnoerr(shared).a(r, c);
    return lv.fsprob(r, v.fsprobloc(1) + c);
  };
  // Class of an allele in the family's list (the pooled allele 0 stands for the others).
  auto pos = [&](int a) {
    if (twoallele) return a;
    int pooled = 0;
    for (int i = 1; i <= naf; ++i) {
      const int x = lv.allelefs(lv.locallelefs(1) + i);
      if (x == a) return i;
      if (x == 0) pooled = i;
    }
    return pooled;
  };
  auto cls = [&](const std::array<int, 2>& g) {
    if (g[1] == 0) return pos(g[0]);
    const int x = std::min(pos(g[0]), pos(g[1])), y = std::max(pos(g[0]), pos(g[1]));
    return x < 1 ? 0 : pairnumber(x, y, naf);
  };
  std::vector<std::array<int, 2>> fathers, mothers;
  for (int a = 1; a <= k; ++a) {
    if (haplo) fathers.push_back({a, 0});
    for (int b = a; b <= k; ++b) {
      mothers.push_back({a, b});
      if (!haplo) fathers.push_back({a, b});
    }
  }
  std::vector<bool> rowused(static_cast<size_t>(rows + 1)), colused(static_cast<size_t>(cols + 1));
  const int4 at0 = lv.clusterfamilyloc(1);
  // Two-allele tables take ln 2 out as 0.69314718 (5.6e-10 short) per offspring.
  double rel = 1e-12;
  if (twoallele)
    for (int g = 1; g <= ngt; ++g) rel += 6e-10 * v.numfsgtypescaled(at0 + g);
  for (const auto& f : fathers) {
    for (const auto& m : mothers) {
      double expect = 1.0;
      for (int g = 1; g <= ngt; ++g) {
        const double p = mendel(f, m, v.fsgtype(1, at0 + g), v.fsgtype(2, at0 + g));
        expect *= p > 0.0 ? std::pow(p, v.numfsgtypescaled(at0 + g)) : 0.0;
      }
      const int r = cls(f), c = cls(m);
      SCOPED_TRACE("parents " + std::to_string(f[0]) + "/" + std::to_string(f[1]) + " x " +
                   std::to_string(m[0]) + "/" + std::to_string(m[1]));
      if (r < 1 || r > rows || c < 1 || c > cols) {
        EXPECT_EQ(expect, 0.0);
        continue;
      }
      const double got = entry(r, c);
      if (expect == 0.0) {
        EXPECT_EQ(got, 0.0);
      } else {
        EXPECT_NEAR(got * std::exp(-taken), expect, rel * expect);
        rowused[static_cast<size_t>(r)] = true;
        colused[static_cast<size_t>(c)] = true;
      }
    }
  }
  // The masks are the sets of rows and columns with a non-zero entry.
  auto mask_of = [](const std::vector<bool>& used) {
    uint16_t m = 0;
    for (size_t c = 1; c < used.size(); ++c)
      if (used[c]) m |= static_cast<uint16_t>(0x8000u >> (c - 1));
    return m;
  };
  EXPECT_EQ(static_cast<uint16_t>(v.equirowcol(1, 1)), mask_of(haplo ? rowused : colused));
  if (haplo) {
    EXPECT_EQ(static_cast<uint16_t>(v.equirowcol(1, 2)), mask_of(colused));
  }
  return taken;
}

class FullSibTables : public testing_support::ModuleReset {};

void run_rows(const std::vector<Row>& rows, bool haplo) {
  const std::vector<std::vector<int>> patterns = {{1, 1, 1, 1}, {2, 3, 4, 5}, {6, 5, 4, 1}};
  for (const Row& row : rows) {
    for (int scale = 0; scale <= 1; ++scale) {
      for (size_t pi = 0; pi < patterns.size(); ++pi) {
        SCOPED_TRACE(std::string(row.name) + " fsscaleq " + std::to_string(scale) + " counts " +
                     std::to_string(pi));
        reset_all_modules();
        testing_support::TempWorkDir dir{"fs_tables"};
        const Cluster c = family_of(row, patterns[pi], haplo, scale);
        const oracle::Built b = oracle::build(c);
        ASSERT_TRUE(b.ok) << b.error;
        oracle::exact_mode();
        check_table(row.nallele == 2, pi == 0 ? row.shared_at_one : 0);
      }
    }
  }
}

// Every family type of the diploid tables at loci of three or more alleles; a locus of 6
// alleles leaves a pooled allele, loci of 3 and 4 alleles do not.
TEST_F(FullSibTables, DiploidTypesMatchMendel) {
  const std::vector<Row> rows = {
      {"pooled aa", 6, {{1, 1}}, 3},
      {"pooled ab", 6, {{1, 2}}, 1},
      {"pooled ab aa", 6, {{1, 2}, {1, 1}}},
      {"pooled aa bb", 6, {{1, 1}, {2, 2}}},
      {"pooled ab aa bb", 6, {{1, 2}, {1, 1}, {2, 2}}},
      {"pooled aa ab ac bc", 6, {{1, 1}, {1, 2}, {1, 3}, {2, 3}}},
      {"pooled aa bc", 6, {{1, 1}, {2, 3}}},
      {"pooled ab ac", 6, {{1, 2}, {1, 3}}, 2},
      {"pooled ab ac bc", 6, {{1, 2}, {1, 3}, {2, 3}}},
      {"pooled ab cd", 6, {{1, 2}, {3, 4}}},
      {"pooled ab ac bd cd", 6, {{1, 2}, {1, 3}, {2, 4}, {3, 4}}},
      {"pooled ab ac bd", 6, {{1, 2}, {1, 3}, {2, 4}}},
      {"full aa ab ac", 3, {{1, 1}, {1, 2}, {1, 3}}},
      {"full ab ac", 3, {{1, 2}, {1, 3}}},
      {"full ab ac bc", 3, {{1, 2}, {1, 3}, {2, 3}}},
      {"full ab cd", 4, {{1, 2}, {3, 4}}},
      {"full ab ac bd cd", 4, {{1, 2}, {1, 3}, {2, 4}, {3, 4}}},
      {"incompatible aa bb cc", 6, {{1, 1}, {2, 2}, {3, 3}}},
  };
  run_rows(rows, false);
}

TEST_F(FullSibTables, HaplodiploidTypesMatchMendel) {
  const std::vector<Row> rows = {
      {"pooled ab ac", 6, {{1, 2}, {1, 3}}}, {"pooled ab", 6, {{1, 2}}},
      {"pooled ab aa", 6, {{1, 2}, {1, 1}}}, {"pooled aa", 6, {{1, 1}}},
      {"full ab ac", 3, {{1, 2}, {1, 3}}},
  };
  run_rows(rows, true);
}

// The six diploid and four haplodiploid rows of the two-allele tables, and daughters showing
// both homozygotes, which no parent pair gives.
TEST_F(FullSibTables, TwoAlleleTypesMatchMendel) {
  const std::vector<Row> rows = {
      {"11", 2, {{1, 1}}},
      {"22", 2, {{2, 2}}},
      {"12 11", 2, {{1, 2}, {1, 1}}},
      {"12 22", 2, {{1, 2}, {2, 2}}},
      {"11 22", 2, {{1, 1}, {2, 2}}},
      {"12 11 22", 2, {{1, 2}, {1, 1}, {2, 2}}},
      {"12", 2, {{1, 2}}},
  };
  run_rows(rows, false);
  run_rows(rows, true);
}

// Offspring 12 and 11 take (N12 + N11) x 0.69314718 out, the single-precision ln 2.
TEST_F(FullSibTables, TwoAlleleHeterozygoteAndHomozygoteTakeSinglePrecisionLn2) {
  testing_support::TempWorkDir dir{"fs_tables"};
  const Row row{"12 11", 2, {{1, 2}, {1, 1}}};
  const Cluster c = family_of(row, {3, 2}, false, 0);
  ASSERT_TRUE(oracle::build(c).ok);
  oracle::exact_mode();
  const double taken = check_table(true, 0);
  EXPECT_NEAR(taken, 5 * 0.69314718, 1e-15);
}

}  // namespace
}  // namespace kinrad
