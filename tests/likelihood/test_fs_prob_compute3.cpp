// Full-sib tables of families of more than eight alleles at loci with typing errors, against
// the brute-force product over the observed genotypes of the one-offspring probabilities raised
// to their scaled counts (fs_error_fixture.hpp). Entries times exp(the amount added to the
// running constant) must equal it; pairs left at zero must be far below the best pair or have
// been screened out as carrying neither allele of an observed genotype.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "fs_error_fixture.hpp"

namespace kinrad {
namespace {

using test::ErrorFamily;
using test::FsErrorTest;
using test::Gt;

// Heterozygous classes first, then homozygous ones, as the family set-up lists them.
void set_up_many(const ErrorFamily& f) {
  test::set_up_family(f);
  int4 het = 0;
  for (const Gt& g : f.classes) het += g.first != g.second ? 1 : 0;
  variables.numfsgenotype.allocate(Dim(2), Dim(1));
  variables.numfsgenotype(1, 1) = static_cast<int2>(het);
  variables.numfsgenotype(2, 1) = static_cast<int2>(static_cast<int4>(f.classes.size()) - het);
}

ErrorFamily random_many(std::mt19937& rng, int4 k, int4 hd, real8 d, real8 e, int4 nclass) {
  ErrorFamily f{k, hd, d, e, {}, {}, {}};
  const auto gl = test::genotype_list(k);
  std::vector<Gt> all(gl.begin(), gl.end());
  std::shuffle(all.begin(), all.end(), rng);
  std::vector<Gt> het;
  std::vector<Gt> hom;
  for (int4 c = 0; c < nclass; ++c) {
    const Gt g = all[static_cast<std::size_t>(c)];
    (g.first != g.second ? het : hom).push_back(g);
  }
  std::uniform_int_distribution<int4> cnt(1, 6);
  for (const auto* list : {&het, &hom})
    for (const Gt& g : *list) {
      f.classes.push_back(g);
      const int4 n = cnt(rng);
      f.counts.push_back(n);
      f.weights.push_back(static_cast<real8>(n));
    }
  return f;
}

bool carries(const Gt& parent, const Gt& offspring) {
  return parent.first == offspring.first || parent.first == offspring.second ||
         parent.second == offspring.first || parent.second == offspring.second;
}

void check_many(const ErrorFamily& f) {
  const Likelihoodvar& lv = likelihoodvar;
  const test::PairList pl = test::pair_list(f.k, f.hd);
  const auto gl = test::genotype_list(f.k);
  real8 ncount = 0.0;
  for (real8 w : f.weights) ncount += w;
  const real8 floor = -15.0 - std::sqrt(ncount * (f.d + f.e));
  std::vector<real8> brute(pl.pairs.size());
  real8 top = 0.0;
  for (std::size_t p = 0; p < pl.pairs.size(); ++p) {
    brute[p] = test::family_value(f, pl.pairs[p]);
    top = std::max(top, brute[p]);
  }
  const int4 dim = lv.fsprobdim(1);
  int4 nonzero = 0;
  for (std::size_t p = 0; p < pl.pairs.size(); ++p) {
    const auto [r, c] = pl.cell[p];
    const bool inside = f.hd == 1 ? c <= dim : (r <= dim && c <= dim);
    const real8 t = inside ? lv.fsprob(r, c) : 0.0;
    if (t > 0.0) {
      ++nonzero;
      EXPECT_NEAR(t * std::exp(lv.loglikehoodconst) / brute[p], 1.0, 1e-12) << "pair " << p;
      continue;
    }
    if (brute[p] <= std::exp(floor) * top * (1.0 + 1e-9)) continue;
    if (f.hd == 1) {
      // Haploid fathers: rows beyond the kept mothers are far below the best pair, and a
      // father carrying neither allele of a frequent genotype can be dropped.
      bool dropped = c > dim && brute[p] <= std::exp(-30.0) * top * (1.0 + 1e-9);
      for (const Gt& g : f.classes)
        if (r != g.first && r != g.second) dropped = true;
      EXPECT_TRUE(dropped) << "pair " << p;
      continue;
    }
    // Screened: the smaller genotype of the pair carries neither allele of some genotype.
    const Gt smaller = gl[static_cast<std::size_t>(std::min(r, c) - 1)];
    bool screened = false;
    for (const Gt& g : f.classes)
      if (!carries(smaller, g)) screened = true;
    EXPECT_TRUE(screened) << "pair " << p << " brute " << brute[p] / top;
  }
  if (nonzero == 0) {
    // Only haploid fathers may all be ruled out, each lacking some observed genotype's alleles.
    EXPECT_EQ(f.hd, 1);
    for (int4 a = 1; a <= f.k; ++a) {
      bool lacks = false;
      for (const Gt& g : f.classes)
        if (a != g.first && a != g.second) lacks = true;
      EXPECT_TRUE(lacks) << a;
    }
  }
}

TEST_F(FsErrorTest, ManyAlleleTablesAgreeWithBruteForce) {
  std::mt19937 rng(912);
  const std::vector<std::pair<real8, real8>> rates = {{0.01, 0.0}, {0.05, 0.0},   {0.0, 0.005},
                                                      {0.0, 0.05}, {0.01, 0.005}, {0.05, 0.05}};
  int4 checked = 0;
  for (int4 hd = 0; hd <= 1; ++hd) {
    for (const auto& [d, e] : rates) {
      for (int4 k = 9; k <= 12; ++k) {
        for (int4 monogamy = 0; monogamy <= 1; ++monogamy) {
          const int4 nclass = 2 + static_cast<int4>(rng() % 5u);
          const ErrorFamily f = random_many(rng, k, hd, d, e, nclass);
          SCOPED_TRACE("hd " + std::to_string(hd) + " d " + std::to_string(d) + " e " +
                       std::to_string(e) + " k " + std::to_string(k) + " classes " +
                       std::to_string(nclass));
          set_up_many(f);
          variables.anymonogamy = monogamy;
          const int4 g = k * (k + 1) / 2;
          int4 fail = -1;
          fsprobcompute3(1, 1, g, k, nclass, fail, d + e);
          // Dropout alone cannot produce some families at all (three heterozygotes without a
          // shared allele); then no table is required.
          real8 top = 0.0;
          for (const auto& pr : test::pair_list(k, hd).pairs)
            top = std::max(top, test::family_value(f, pr));
          if (top == 0.0) continue;
          if (fail == 1) {
            // The screening may rule out every genotype; each must then lack both alleles of
            // some observed genotype.
            for (const Gt& pg : test::genotype_list(k)) {
              bool lacks = false;
              for (const Gt& og : f.classes)
                if (!carries(pg, og)) lacks = true;
              EXPECT_TRUE(lacks) << pg.first << "/" << pg.second;
            }
            continue;
          }
          check_many(f);
          ++checked;
        }
      }
    }
  }
  EXPECT_GT(checked, 60);
}

TEST_F(FsErrorTest, FrequentHeterozygoteExcludesNonCarriers) {
  // Thirty offspring 1/2 and two 3/4 at ten alleles, no monogamy: every parental genotype
  // without allele 1 or 2 is screened out, so the table ends at the last carrier, 2/10, which
  // is genotype 10 + 9 = 19 of 55.
  ErrorFamily f{10, 0, 0.01, 0.005, {{1, 2}, {3, 4}}, {30, 2}, {30.0, 2.0}};
  set_up_many(f);
  variables.anymonogamy = 0;
  int4 fail = -1;
  fsprobcompute3(1, 1, 55, 10, 2, fail, 0.015);
  ASSERT_EQ(fail, 0);
  EXPECT_EQ(likelihoodvar.fsprobdim(1), 19);
  const auto gl = test::genotype_list(10);
  for (int4 i = 1; i <= 19; ++i) {
    const Gt gi = gl[static_cast<std::size_t>(i - 1)];
    if (gi.first <= 2 || gi.second <= 2) continue;
    // A non-carrier keeps only pairs with a smaller carrier partner.
    for (int4 j = i; j <= 19; ++j) EXPECT_EQ(likelihoodvar.fsprob(i, j), 0.0) << i << " " << j;
  }
  check_many(f);
}

}  // namespace
}  // namespace kinrad
