// The selfing-generation estimate of selfing parents, its two-allele count cache, and the
// impossible and floored genotypes of the selfed absorption.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "core/modules.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/oracle.hpp"
#include "support/module_reset.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using oracle::Cluster;
using oracle::Genotype;

// A lone selfing individual (untyped unless given) with the offspring given per locus, plus
// unrelated filler individuals.
Cluster lone_selfer(std::vector<oracle::Locus> loci, std::vector<std::vector<Genotype>> kids,
                    double F) {
  Cluster c;
  c.numsex = 1;
  c.allowinbreeding = true;
  c.inbreeding = F;
  c.loci = std::move(loci);
  c.fathers.resize(1);
  c.mothers.resize(1);
  c.same = {{1, 1}};
  c.offspring = std::move(kids);
  c.offploid.assign(c.offspring.size(), 2);
  oracle::Family f{1, 1, {}};
  for (size_t i = 0; i < c.offspring.size(); ++i) f.members.push_back(static_cast<int>(i + 1));
  c.families = {f};
  return c;
}

// The 2-bit code of offspring m at two-allele locus l, read from the packed column.
int code_of(int4 m, int4 l) {
  const FView<int2, 1>& col = variables.indivgtype2(l).a;
  const uint16_t w = static_cast<uint16_t>(col((m - 1) / 8 + 1));
  return (w >> (2 * ((m - 1) % 8))) & 3u;
}

// The estimate written out from its definition, each factor's log taken on its own (so no
// product can underflow): L(t) = t ln s + H ln x + sum over homozygous offspring and loci of
// ln(p x + 1 - x), p = f (1 - r) + r; the grid stops 10 below the best or at 50; G is the
// weighted mean of 1 - 0.5^(t - 1). Codominant two-allele loci only.
double reference_G(const Cluster& c, double F) {
  const Variables& v = variables;
  const double s = 2 * F / (1 + F);
  const double lns = s < 1e-30 ? std::log(1e-30) : std::log(s);
  std::vector<double> L(51);
  double best = -1e300, thr = 0.0;
  int T = 50;
  for (int t = 1; t <= 50; ++t) {
    const double x = std::pow(0.5, t);
    double lt = t * lns;
    double H = 0.0;
    for (int4 l = 1; l <= v.numloci; ++l) {
      for (int m : c.families[0].members) {
        const int g = code_of(m, l);
        if (g == 3) H += 1;
        if (g == 1 || g == 2) {
          const double p = v.obsallelefre(l).a(g) * (1 - v.droprate(l)) + v.droprate(l);
          lt += std::log(p * x + 1 - x);
        }
      }
    }
    if (H > 0) lt += H * std::log(x);
    L[static_cast<size_t>(t)] = lt;
    if (lt > best) {
      best = lt;
      thr = lt - 10;
    } else if (lt < thr) {
      T = t;
      break;
    }
  }
  double num = 0, den = 0;
  for (int t = 1; t <= T; ++t) {
    const double w = std::exp(L[static_cast<size_t>(t)] - best);
    num += w * (1 - std::pow(0.5, t - 1));
    den += w;
  }
  return num > 1e-300 ? num / den : 0.0;
}

std::vector<oracle::Locus> snps(int n, double drop) {
  return std::vector<oracle::Locus>(static_cast<size_t>(n), oracle::Locus{false, 2, {}, drop, 0.0});
}

class SelfingGenerations : public testing_support::ModuleReset {
 protected:
  testing_support::TempWorkDir dir{"selfing_generations"};
};

// F = 0: ln s is the floor ln 1e-30, an all-missing family has L(t) = t ln s, the grid stops at
// t = 2 and G = 0.5 w(2) / (1 + w(2)) with w(2) = 1e-30 (by hand).
TEST_F(SelfingGenerations, AllMissingFamilyOfAnOutbredPopulation) {
  // Typed only at a third locus that shows one allele in the whole sample, which no estimate
  // counts (an individual typed nowhere is not read).
  std::vector<std::vector<Genotype>> kids(3, {{0, 0}, {0, 0}, {1, 1}});
  Cluster c = lone_selfer(snps(3, 0.0), kids, 0.0);
  c.filler = {{{1, 2}, {1, 2}, {1, 1}}};
  const oracle::Built b = oracle::build(c);
  ASSERT_TRUE(b.ok) << b.error;
  ASSERT_EQ(variables.obsnumallele(3), 1);
  selfinggen_est();
  const double G = likelihoodvar.prntinbcoe(1, 1);
  EXPECT_NEAR(G, 0.5e-30 / (1 + 1e-30), 1e-40);
  EXPECT_EQ(likelihoodvar.prntinbcoe(1, 2), G);
}

// Heterozygous offspring at every locus: each costs ln x, so t = 1 wins by far and G is 0 for
// every purpose; homozygous offspring at many loci with F near 1 run the grid to t = 50 and G
// is near 1. Both against the definition.
TEST_F(SelfingGenerations, HeterozygousAndHomozygousFamilies) {
  std::mt19937 r(5);
  for (int hom = 0; hom <= 1; ++hom) {
    SCOPED_TRACE(hom);
    reset_all_modules();
    std::vector<std::vector<Genotype>> kids(10, std::vector<Genotype>(40));
    for (auto& k : kids)
      for (auto& g : k) g = hom ? (r() % 2 ? Genotype{1, 1} : Genotype{2, 2}) : Genotype{1, 2};
    const double F = hom ? 0.99 : 0.1;
    Cluster c = lone_selfer(snps(40, 0.02), kids, F);
    c.filler = {std::vector<Genotype>(40, Genotype{1, 2})};
    ASSERT_TRUE(oracle::build(c).ok);
    selfinggen_est();
    const double G = likelihoodvar.prntinbcoe(1, 1);
    const double ref = reference_G(c, F);
    EXPECT_NEAR(G, ref, 1e-12 * std::max(1.0, ref));
    if (hom) {
      EXPECT_GT(G, 0.97);
    } else {
      EXPECT_LT(G, 1e-30);
    }
  }
}

// 3,000 two-allele loci: the product of one count value's factors (each at least 0.5) falls
// far below the smallest double, yet its log is kept in pieces and G stays near 1.
TEST_F(SelfingGenerations, ThousandsOfLociDoNotUnderflow) {
  std::mt19937 r(11);
  const int n = 3000;
  std::vector<std::vector<Genotype>> kids(10, std::vector<Genotype>(n));
  for (auto& k : kids)
    for (auto& g : k) g = r() % 2 ? Genotype{1, 1} : Genotype{2, 2};
  Cluster c = lone_selfer(snps(n, 0.0), kids, 0.9);
  c.filler = {std::vector<Genotype>(n, Genotype{1, 2})};
  ASSERT_TRUE(oracle::build(c).ok);
  selfinggen_est();
  const double G = likelihoodvar.prntinbcoe(1, 1);
  EXPECT_GT(G, 0.99);
  EXPECT_NEAR(G, reference_G(c, 0.9), 1e-9);
}

// Selfed families of 9 and 10 members: only the larger is cached, and its cached counts are the
// counts of its members' codes at each two-allele locus.
TEST_F(SelfingGenerations, CountCacheOfLargeSelfedFamilies) {
  std::mt19937 r(3);
  for (int size : {9, 10}) {
    SCOPED_TRACE(size);
    reset_all_modules();
    std::vector<std::vector<Genotype>> kids(static_cast<size_t>(size), std::vector<Genotype>(4));
    const Genotype gs[4] = {{1, 1}, {1, 2}, {2, 2}, {0, 0}};
    for (auto& k : kids)
      for (auto& g : k) g = gs[r() % 4];
    Cluster c = lone_selfer(snps(4, 0.0), kids, 0.2);
    c.filler = {std::vector<Genotype>(4, Genotype{1, 2})};
    ASSERT_TRUE(oracle::build(c).ok);
    selfinggen_est();
    const Likelihoodvar& lv = likelihoodvar;
    ASSERT_EQ(lv.ng2selfidx(1), size == 10 ? 1 : 0);
    EXPECT_EQ(lv.ng2selfnum, size == 10 ? 1 : 0);
    if (size != 10) continue;
    for (int4 k = 1; k <= variables.locus2(0); ++k) {
      const int4 l = variables.locus2(k);
      int direct[4] = {0, 0, 0, 0};
      for (int m : c.families[0].members) ++direct[code_of(m, l)];
      for (int x = 1; x <= 3; ++x) EXPECT_EQ(lv.ng2self(x, 1, k), direct[x]) << k << " " << x;
    }
    // The locus likelihood reads the cache and still equals the oracle's.
    oracle::exact_mode();
    for (int4 l = 1; l <= variables.numloci; ++l) {
      real8 logl = 0;
      familylocuslogl(l, 2, 3, logl);
      EXPECT_NEAR(logl, oracle::locus_logl(c, l), oracle::tolerance(logl, 0, 1));
    }
  }
}

// A typed selfing parent a/b at an error-free locus of 3 alleles: its homozygote entries are 0.
// With 120 selfed offspring all c/c no genotype can produce the family: impossible (as written
// the floor 1e-16 and the missing impossibility test for 100 or more offspring gave a finite
// value). With a possible family its homozygote entries stay 0 after the absorption.
TEST_F(SelfingGenerations, ImpossibleGenotypesStayImpossible) {
  for (int possible = 0; possible <= 1; ++possible) {
    SCOPED_TRACE(possible);
    reset_all_modules();
    std::vector<std::vector<Genotype>> kids(120, std::vector<Genotype>(1, Genotype{3, 3}));
    if (possible) {
      for (size_t i = 0; i < kids.size(); ++i)
        kids[i][0] = i % 4 == 0 ? Genotype{1, 1} : (i % 4 == 3 ? Genotype{2, 2} : Genotype{1, 2});
    }
    Cluster c = lone_selfer({oracle::Locus{false, 3, {}, 0.0, 0.0}}, kids, 0.1);
    c.fathers[0].candidate = 1;
    c.fathers[0].genotype = {{1, 2}};
    c.mothers[0] = c.fathers[0];
    c.filler = {{{3, 3}}};
    ASSERT_TRUE(oracle::build(c).ok);
    oracle::exact_mode();
    const Likelihoodvar& lv = likelihoodvar;
    real8 logl = 0;
    familylocuslogl(1, 3, 6, logl);
    const real8* P = &lv.crrtgenotypefre(lv.hsprobloc(1) + 1);
    ASSERT_EQ(lv.hsprobdim(1), 3);  // a/a, a/b, b/b of the typed parent
    if (!possible) {
      EXPECT_EQ(logl, -1e300);
      continue;
    }
    EXPECT_EQ(P[0], 0.0);
    EXPECT_GT(P[1], 0.0);
    EXPECT_EQ(P[2], 0.0);
    EXPECT_NEAR(logl, oracle::locus_logl(c, 1), oracle::tolerance(logl, 0, 1));
  }
}

// An untyped selfing parent at a 3-allele locus with errors and 119 a/a and one a/b offspring:
// genotype c/c (the pooled allele twice, last in the list) can give them only through errors,
// far more than 2300 (in units of 0.01 ln) below the best, and gets exactly 1e-16.
TEST_F(SelfingGenerations, FarBelowTheBestGetsTheFloor) {
  std::vector<std::vector<Genotype>> kids(120, std::vector<Genotype>(1, Genotype{1, 1}));
  kids[0][0] = {1, 2};
  Cluster c = lone_selfer({oracle::Locus{false, 3, {}, 0.01, 0.01}}, kids, 0.1);
  c.filler = {{{3, 3}}};
  ASSERT_TRUE(oracle::build(c).ok);
  oracle::exact_mode();
  const Likelihoodvar& lv = likelihoodvar;
  real8 logl = 0;
  familylocuslogl(1, 3, 6, logl);
  ASSERT_EQ(lv.hsprobdim(1), 6);
  ASSERT_EQ(lv.allelehs(lv.allelehsloc(1) + 3), 0);  // the pooled allele
  EXPECT_EQ(lv.crrtgenotypefre(lv.hsprobloc(1) + 6), 1e-16);
  EXPECT_GT(logl, -1e300);
}

}  // namespace
}  // namespace kinrad
