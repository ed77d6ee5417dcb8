// The non-random-mating parameter alpha: minus the log likelihood of the genotype counts and the
// grid search over it, against a plain restatement of both written here, on random count
// tables of codominant, dominant and monomorphic loci; and the genotype counts of a prepared
// haplodiploid project, tallied by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "results/ne_fixture.hpp"
#include "results/ne_internal.hpp"

namespace kinrad::netest {
namespace {

// Loci: allele numbers, dominant flags, frequencies.
struct Loci {
  std::vector<int4> k;
  std::vector<int> dominant;
  std::vector<std::vector<double>> p;
};

double plain_log(double x) {
  return x <= 1e-300 ? -1e300 : std::log(x);
}

// Minus the log likelihood, as the model states it.
double plain_alfaprob(double a, const Loci& loci, const FArray<int4, 2>& counts) {
  double l = 0;
  for (std::size_t j = 0; j < loci.k.size(); ++j) {
    const int4 loc = static_cast<int4>(j) + 1;
    const int4 k = loci.k[j];
    if (k <= 1) continue;
    const auto& p = loci.p[j];
    if (loci.dominant[j]) {
      if (counts(1, loc) > 0) l += counts(1, loc) * plain_log(p[1] * (1 - a) + 1.0);
      if (l <= -1e300) return -l;
      if (counts(2, loc) > 0) l += counts(2, loc) * plain_log(p[1] * (1 - a) + a);
      if (l <= -1e300) return -l;
      continue;
    }
    for (int4 g = 1; g <= k; ++g) {
      if (counts(g, loc) > 0) l += counts(g, loc) * plain_log(a + (1 - a) * p[g - 1]);
      if (l <= -1e300) return -l;
    }
    if (counts(k + 1, loc) > 0) l += counts(k + 1, loc) * plain_log(1 - a);
    if (l <= -1e300) return -l;
  }
  return -l;
}

double plain_grid(double entry, const Loci& loci, const FArray<int4, 2>& counts) {
  double best = 1e300, alpha = entry;
  for (int i = -100; i <= 100; ++i) {
    const double f = plain_alfaprob(i * 0.01, loci, counts);
    if (f < best) {
      best = f;
      alpha = i * 0.01;
    }
    if (i > 0 && f > 1e250) break;
  }
  return alpha;
}

// Puts the loci into module `variables`.
void set_loci(const Loci& loci) {
  auto& v = variables;
  const auto n = static_cast<int4>(loci.k.size());
  v.numloci = n;
  v.obsnumallele.allocate(Dim(n));
  v.dominantmarker.allocate(Dim(n));
  v.obsallelefre.allocate(Dim(n));
  int4 total = 0;
  v.maxobsnumallele = 1;
  for (int4 l = 1; l <= n; ++l) {
    v.obsnumallele(l) = loci.k[static_cast<std::size_t>(l - 1)];
    v.dominantmarker(l) = static_cast<int1>(loci.dominant[static_cast<std::size_t>(l - 1)]);
    total += std::max(v.obsnumallele(l), 2);
    v.maxobsnumallele = std::max(v.maxobsnumallele, v.obsnumallele(l));
  }
  v.obsallelefretgt.allocate(Dim(total));
  int4 at = 1;
  for (int4 l = 1; l <= n; ++l) {
    const int4 w = std::max(v.obsnumallele(l), 2);
    v.obsallelefre(l).a = window(v.obsallelefretgt, at, w);
    for (int4 a = 1; a <= w; ++a) {
      const auto& p = loci.p[static_cast<std::size_t>(l - 1)];
      v.obsallelefre(l).a(a) =
          a <= static_cast<int4>(p.size()) ? p[static_cast<std::size_t>(a - 1)] : 0.0;
    }
    at += w;
  }
}

TEST(AlfaEstimate, ProbabilityAndGridEqualThePlainStatementOnRandomTables) {
  std::mt19937 rng(53125);
  std::uniform_int_distribution<int4> nalleles(1, 6);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int trial = 0; trial < 60; ++trial) {
    SCOPED_TRACE(trial);
    reset_all_modules();
    Loci loci;
    const int nl = 1 + trial % 5;
    for (int j = 0; j < nl; ++j) {
      const bool dom = u(rng) < 0.3;
      const int4 k = dom ? 2 : nalleles(rng);
      std::vector<double> p(static_cast<std::size_t>(k));
      double s = 0;
      for (auto& x : p) s += (x = 0.05 + u(rng));
      for (auto& x : p) x /= s;
      loci.k.push_back(k);
      loci.dominant.push_back(dom ? 1 : 0);
      loci.p.push_back(p);
    }
    set_loci(loci);
    FArray<int4, 2> counts(Dim(variables.maxobsnumallele + 1), Dim(nl));
    // Some tables without heterozygotes (alpha 1 is then possible and may win), some with few
    // homozygotes, zeros everywhere.
    const bool homozygotes_only = trial % 7 == 3;
    for (int l = 1; l <= nl; ++l)
      for (int4 g = 1; g <= variables.maxobsnumallele + 1; ++g) {
        const bool het_row = g == loci.k[static_cast<std::size_t>(l - 1)] + 1;
        counts(g, l) = (homozygotes_only && het_row) || u(rng) < 0.3
                           ? 0
                           : static_cast<int4>(u(rng) * (het_row ? 40 : 12));
      }
    for (int i = -100; i <= 100; i += 7) {
      const double a = i * 0.01;
      const double want = plain_alfaprob(a, loci, counts);
      const double got = alfaprob(a, counts);
      if (want >= 1e250)
        EXPECT_EQ(got, want);
      else
        EXPECT_NEAR(got, want, 1e-12 * (1 + std::fabs(want)));
    }
    real8 alpha = 0.0;
    alfagrid(alpha, counts);
    EXPECT_EQ(alpha, plain_grid(0.0, loci, counts));
  }
  reset_all_modules();
}

TEST(AlfaEstimate, HomozygotesOnlyChooseAlphaOneAndHeterozygotesRuleItOut) {
  reset_all_modules();
  const Loci loci{{3}, {0}, {{0.2, 0.3, 0.5}}};
  set_loci(loci);
  FArray<int4, 2> counts(Dim(4), Dim(1));
  counts(1, 1) = 2;
  counts(2, 1) = 3;
  counts(3, 1) = 5;
  // Every homozygote is certain at alpha 1: f = 0, below every other point.
  real8 alpha = 0.0;
  alfagrid(alpha, counts);
  EXPECT_EQ(alpha, 1.0);
  // One heterozygote: log(1 - 1) is impossible, f(1) = 1e300.
  counts(4, 1) = 1;
  EXPECT_EQ(alfaprob(1.0, counts), 1e300);
  alfagrid(alpha, counts);
  EXPECT_LT(alpha, 1.0);
  EXPECT_EQ(alpha, plain_grid(0.0, loci, counts));
  // No locus with two alleles: every point gives 0 and the first, -1, wins.
  const Loci mono{{1}, {0}, {{1.0}}};
  set_loci(mono);
  alfagrid(alpha, counts);
  EXPECT_EQ(alpha, -1.0);
  reset_all_modules();
}

using AlfaProject = NeTest;

TEST_F(AlfaProject, CountsTheDiploidOffspringOnly) {
  // Haplodiploid, two codominant loci of alleles 1 and 2. O4 is haploid and not counted; O5 is
  // untyped at locus 1.
  //   locus 1: O1 1/2 (het), O2 1/1, O3 2/2 -> homozygotes 1, 1; heterozygotes 1;
  //   locus 2: O1 1/1, O2 2/2, O3 1/2, O5 1/2 -> homozygotes 1, 1; heterozygotes 2.
  Project p;
  p.haplodiploid = "1";
  p.markertypes = "0 0";
  p.droprates = "0 0";
  p.otherrates = "0 0";
  p.offspring = {"O1 1 2 1 1", "O2 1 1 2 2", "O3 2 2 1 2", "O4 1 -99 2 -99", "O5 0 0 1 2"};
  ASSERT_TRUE(load(p));
  ASSERT_EQ(variables.smplsizedh(1), 1);
  real8 alpha = 0.0;
  FArray<int4, 2> counts;
  alfaestimate(alpha, counts);
  EXPECT_EQ(counts(1, 1), 1);
  EXPECT_EQ(counts(2, 1), 1);
  EXPECT_EQ(counts(3, 1), 1);
  EXPECT_EQ(counts(1, 2), 1);
  EXPECT_EQ(counts(2, 2), 1);
  EXPECT_EQ(counts(3, 2), 2);
  Loci loci{{2, 2}, {0, 0}, {}};
  for (int4 l = 1; l <= 2; ++l)
    loci.p.push_back({variables.obsallelefre(l).a(1), variables.obsallelefre(l).a(2)});
  EXPECT_EQ(alpha, plain_grid(0.0, loci, counts));
}

}  // namespace
}  // namespace kinrad::netest
