// Full-sib tables of families with several observed genotypes at loci with typing errors,
// against the brute-force product over classes of the one-offspring probabilities raised to
// the class weights (fs_error_fixture.hpp). The table holds each pair's value divided by
// exp(the amount added to the running constant), up to the single-precision exponent.
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

// A random family of nclass distinct observed genotypes over k alleles.
ErrorFamily random_family(std::mt19937& rng, int4 k, int4 hd, real8 d, real8 e, int4 nclass,
                          bool scaled) {
  ErrorFamily f;
  f.k = k;
  f.hd = hd;
  f.d = d;
  f.e = e;
  const auto gl = test::genotype_list(k);
  std::vector<Gt> all(gl.begin(), gl.end());
  std::shuffle(all.begin(), all.end(), rng);
  std::uniform_int_distribution<int4> cnt(1, 6);
  for (int4 c = 0; c < nclass; ++c) {
    f.classes.push_back(all[static_cast<std::size_t>(c)]);
    const int4 n = cnt(rng);
    f.counts.push_back(n);
    f.weights.push_back(scaled ? 0.37 + 0.61 * n : static_cast<real8>(n));
  }
  return f;
}

// Checks a table-mode result against the brute force. Returns the number of pairs kept.
int4 check_table(const ErrorFamily& f, real8 added) {
  const Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  const test::PairList pl = test::pair_list(f.k, f.hd);
  const int4 ng = f.k * (f.k + 1) / 2;
  const int4 dim = lv.fsprobdim(1);
  const real8 thr = -1842.07 - v.maxfsibsize;
  std::vector<real8> brute(pl.pairs.size());
  real8 top = 0.0;
  for (std::size_t p = 0; p < pl.pairs.size(); ++p) {
    brute[p] = test::family_value(f, pl.pairs[p]);
    top = std::max(top, brute[p]);
  }
  // Each class's best one-offspring value, for the mask bound.
  std::vector<real8> best1(f.classes.size(), 0.0);
  for (std::size_t c = 0; c < f.classes.size(); ++c)
    for (const auto& pr : pl.pairs) best1[c] = std::max(best1[c], test::one_offspring(f, c, pr));
  int4 kept = 0;
  for (std::size_t p = 0; p < pl.pairs.size(); ++p) {
    const auto [r, c] = pl.cell[p];
    const bool inside = f.hd == 1 ? c <= dim : (r <= dim && c <= dim);
    real8 t = inside ? lv.fsprob(r, c) : 0.0;
    // Floors of a haploid-father table stand for "dropped".
    if (f.hd == 1 && (t == 1e-100 || t == 1e-20)) t = 0.0;
    if (t > 0.0) {
      ++kept;
      EXPECT_NEAR(t * std::exp(added) / brute[p], 1.0, 5e-6) << "pair " << p;
      if (f.hd == 0) {
        EXPECT_EQ(lv.fsprob(c, r), lv.fsprob(r, c));
      }
      continue;
    }
    // Dropped: either far below the best pair, or hopeless for one class by the mask rule.
    bool masked = false;
    for (std::size_t k = 0; k < f.classes.size(); ++k) {
      if (test::one_offspring(f, k, pl.pairs[p]) <
          std::exp(thr / (100.0 * f.weights[k])) * best1[k] * (1.0 + 1e-9))
        masked = true;
    }
    EXPECT_TRUE(masked || brute[p] <= std::exp(-22.9) * top * (1.0 + 1e-6))
        << "pair " << p << " brute " << brute[p] / top;
  }
  (void)ng;
  return kept;
}

// True when every parent pair is hopeless for at least one class by the mask rule: its
// one-offspring value is below exp(thr / (100 w)) times the class's best one.
bool every_pair_hopeless(const ErrorFamily& f) {
  const real8 thr = -1842.07 - variables.maxfsibsize;
  const test::PairList pl = test::pair_list(f.k, f.hd);
  std::vector<real8> best1(f.classes.size(), 0.0);
  for (std::size_t c = 0; c < f.classes.size(); ++c)
    for (const auto& pr : pl.pairs) best1[c] = std::max(best1[c], test::one_offspring(f, c, pr));
  for (const auto& pr : pl.pairs) {
    bool hopeless = false;
    for (std::size_t c = 0; c < f.classes.size(); ++c)
      if (test::one_offspring(f, c, pr) < std::exp(thr / (100.0 * f.weights[c])) * best1[c])
        hopeless = true;
    if (!hopeless) return false;
  }
  return true;
}

TEST_F(FsErrorTest, TableModeAgreesWithBruteForce) {
  // Expected values: brute-force products (fs_error_fixture.hpp).
  std::mt19937 rng(20261210);
  const real8 drops[] = {0.0, 0.01, 0.05};
  const real8 errs[] = {0.0, 0.005, 0.05};
  int4 cases = 0;
  for (int4 hd = 0; hd <= 1; ++hd) {
    for (real8 d : drops) {
      for (real8 e : errs) {
        if (d == 0.0 && e == 0.0) continue;
        for (int4 k = 2; k <= 8; ++k) {
          for (int4 rep = 0; rep < 2; ++rep) {
            const int4 maxc = std::min(5, k * (k + 1) / 2);
            const int4 nclass = 2 + static_cast<int4>(rng() % static_cast<unsigned>(maxc - 1));
            const ErrorFamily f = random_family(rng, k, hd, d, e, nclass, rep == 1);
            SCOPED_TRACE("hd " + std::to_string(hd) + " d " + std::to_string(d) + " e " +
                         std::to_string(e) + " k " + std::to_string(k) + " classes " +
                         std::to_string(nclass) + " scaled " + std::to_string(rep));
            test::set_up_family(f);
            int4 status = -5;
            real8 logl = 99.0;
            fsprobcompute2(test::fs2_call(f), status, logl);
            // With any typing error every pair can produce every family.
            if (status != 0) {
              // Only a family every pair of which the masks drop has no table.
              EXPECT_TRUE(every_pair_hopeless(f));
              continue;
            }
            EXPECT_EQ(logl, 99.0);  // written only for a one-family cluster
            EXPECT_GT(check_table(f, likelihoodvar.loglikehoodconst), 0);
            ++cases;
          }
        }
      }
    }
  }
  EXPECT_GT(cases, 100);
}

TEST_F(FsErrorTest, FamilyWithoutPossiblePairLeavesTableUntouched) {
  // Twenty offspring each of 1/2, 3/4 and 5/6 need six parental alleles; every pair lacks both
  // alleles of some class and is dropped (checked by brute force below).
  for (int4 hd = 0; hd <= 1; ++hd) {
    SCOPED_TRACE(hd);
    ErrorFamily f{6, hd, 0.05, 0.0, {{1, 2}, {3, 4}, {5, 6}}, {20, 20, 20}, {20.0, 20.0, 20.0}};
    test::set_up_family(f);
    ASSERT_TRUE(every_pair_hopeless(f));
    int4 status = 0;
    real8 logl = 0.0;
    fsprobcompute2(test::fs2_call(f), status, logl);
    EXPECT_EQ(status, 1);
    for (index_t c = 1; c <= likelihoodvar.fsprob.ubound(2); ++c)
      for (index_t r = 1; r <= likelihoodvar.fsprob.ubound(1); ++r)
        ASSERT_EQ(likelihoodvar.fsprob(r, c), 7.0);
  }
}

TEST_F(FsErrorTest, TwoAlleleDiploidTableExponentiatesEveryPair) {
  // At two alleles no mask applies and every entry below the usual cut-off is still
  // exponentiated: eight offspring 1/1 and eight 2/2 put the (1/1, 1/1) pair far below the best
  // one. Expected values: brute-force products.
  ErrorFamily f{2, 0, 0.01, 0.001, {{1, 1}, {2, 2}}, {8, 8}, {8.0, 8.0}};
  test::set_up_family(f);
  int4 status = 1;
  real8 logl = 0.0;
  fsprobcompute2(test::fs2_call(f), status, logl);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(likelihoodvar.fsprobdim(1), 3);
  const test::PairList pl = test::pair_list(2, 0);
  real8 top = 0.0;
  for (const auto& pr : pl.pairs) top = std::max(top, test::family_value(f, pr));
  bool below = false;
  for (std::size_t p = 0; p < pl.pairs.size(); ++p) {
    const auto [r, c] = pl.cell[p];
    const real8 brute = test::family_value(f, pl.pairs[p]);
    const real8 t = likelihoodvar.fsprob(r, c);
    const real8 rel = std::log(brute / top);
    if (rel < -23.0 && rel > -100.0) below = true;
    if (rel < -100.0) {
      EXPECT_EQ(t, 0.0) << p;  // beyond single precision's exponent range
      continue;
    }
    // The single-precision exponent of a large d carries an error of about |d| 6e-10 in ln.
    EXPECT_NEAR(std::log(t) + likelihoodvar.loglikehoodconst, std::log(brute), 1e-4) << p;
  }
  EXPECT_TRUE(below);
}

TEST_F(FsErrorTest, WholeFamilyModeSumsOverBothParents) {
  // One-family cluster: L = sum over pairs of table x f(a) f(b) (twice for a != b), with f the
  // parents' common prior (purefsshortcut 1) or their own distributions (2).
  std::mt19937 rng(77);
  for (int4 mode = 1; mode <= 2; ++mode) {
    for (int4 k : {3, 5}) {
      SCOPED_TRACE("mode " + std::to_string(mode) + " k " + std::to_string(k));
      const ErrorFamily f = random_family(rng, k, 0, 0.02, 0.01, 3, false);
      test::set_up_family(f);
      const int4 ng = k * (k + 1) / 2;
      Likelihoodvar& lv = likelihoodvar;
      variables.purefsshortcut = mode;
      lv.crrtgenotypefre.allocate(Dim(2 * ng));
      std::uniform_real_distribution<real8> u(0.05, 1.0);
      for (int4 i = 1; i <= 2 * ng; ++i) lv.crrtgenotypefre(i) = u(rng);
      lv.hsprobloc.allocate(Dim(3));
      lv.hsprobloc(1) = 0;
      lv.hsprobloc(2) = ng;
      lv.hsprobloc(3) = 2 * ng;
      lv.hsprobdim.allocate(Dim(2));
      lv.hsprobdim(1) = lv.hsprobdim(2) = static_cast<int2>(ng);
      lv.idxloc.allocate(Dim(0, 2));
      lv.idxloc(0) = 0;
      lv.idxloc(1) = ng;
      lv.idxtgt.allocate(Dim(2 * ng));
      // The parents' genotype lists run backwards over the family's genotypes.
      for (int4 i = 1; i <= ng; ++i) lv.idxtgt(i) = lv.idxtgt(ng + i) = ng + 1 - i;
      const auto gl = test::genotype_list(k);
      real8 want = 0.0;
      for (int4 a = 1; a <= ng; ++a) {
        for (int4 b = 1; b <= ng; ++b) {
          const real8 fa = mode == 1 ? lv.crrtgenotypefre(a) : lv.crrtgenotypefre(ng + 1 - a);
          const real8 fb = mode == 1 ? lv.crrtgenotypefre(b) : lv.crrtgenotypefre(2 * ng + 1 - b);
          want += test::family_value(f, {gl[static_cast<std::size_t>(a - 1)],
                                         gl[static_cast<std::size_t>(b - 1)]}) *
                  fa * fb;
        }
      }
      int4 status = 1;
      real8 logl = 0.0;
      fsprobcompute2(test::fs2_call(f), status, logl);
      ASSERT_EQ(status, 0);
      EXPECT_NEAR(logl, std::log(want), 1e-5);
    }
  }
}

TEST_F(FsErrorTest, AbsorptionEqualsTableFollowedBySummingOut) {
  // The father is summed out into the mother: her new vector times exp(constant) must equal
  // her old vector times the sum over his genotypes of table x his prior.
  std::mt19937 rng(4242);
  for (int4 k : {3, 4, 6}) {
    SCOPED_TRACE(k);
    const ErrorFamily f = random_family(rng, k, 0, 0.05, 0.005, 4, true);
    const int4 ng = k * (k + 1) / 2;
    // Table mode first.
    test::set_up_family(f);
    int4 status = 1;
    real8 logl = 0.0;
    fsprobcompute2(test::fs2_call(f), status, logl);
    ASSERT_EQ(status, 0);
    const int4 dim = likelihoodvar.fsprobdim(1);
    std::vector<real8> table(static_cast<std::size_t>(ng * ng), 0.0);
    for (int4 c = 1; c <= dim; ++c)
      for (int4 r = 1; r <= dim; ++r)
        table[static_cast<std::size_t>((r - 1) + (c - 1) * ng)] = likelihoodvar.fsprob(r, c);
    const real8 tconst = likelihoodvar.loglikehoodconst;

    // Then absorption mode on the same family.
    test::set_up_family(f);
    Likelihoodvar& lv = likelihoodvar;
    lv.mabsorb(1) = 1;
    lv.iabsorb.allocate(Dim(2), Dim(1));
    lv.iabsorb(1, 1) = 1;  // the father is summed out
    lv.iabsorb(2, 1) = 2;  // into the mother
    lv.crrtgenotypefre.allocate(Dim(2 * ng));
    std::uniform_real_distribution<real8> u(0.05, 1.0);
    for (int4 i = 1; i <= 2 * ng; ++i) lv.crrtgenotypefre(i) = u(rng) * 1e-60;
    std::vector<real8> father(static_cast<std::size_t>(ng));
    std::vector<real8> mother(static_cast<std::size_t>(ng));
    for (int4 i = 0; i < ng; ++i) {
      father[static_cast<std::size_t>(i)] = lv.crrtgenotypefre(i + 1);
      mother[static_cast<std::size_t>(i)] = lv.crrtgenotypefre(ng + i + 1);
    }
    lv.hsprobloc.allocate(Dim(3));
    lv.hsprobloc(1) = 0;
    lv.hsprobloc(2) = ng;
    lv.hsprobloc(3) = 2 * ng;
    lv.hsprobdim.allocate(Dim(2));
    lv.hsprobdim(1) = lv.hsprobdim(2) = static_cast<int2>(ng);
    lv.idxloc.allocate(Dim(0, 2));
    lv.idxloc(0) = 0;
    lv.idxloc(1) = ng;
    lv.idxtgt.allocate(Dim(2 * ng));
    for (int4 i = 1; i <= ng; ++i) lv.idxtgt(i) = lv.idxtgt(ng + i) = i;
    variables.numsex = 2;
    fsprobcompute2(test::fs2_call(f), status, logl);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(lv.fsprobdim(1), 0);
    const int4 nb = lv.hsprobdim(2);
    for (int4 y = 1; y <= ng; ++y) {
      real8 q = 0.0;
      for (int4 x = 1; x <= ng; ++x)
        q += table[static_cast<std::size_t>((x - 1) + (y - 1) * ng)] *
             father[static_cast<std::size_t>(x - 1)];
      const real8 want = mother[static_cast<std::size_t>(y - 1)] * q * std::exp(tconst);
      const real8 got = y <= nb ? lv.crrtgenotypefre(ng + y) * std::exp(lv.loglikehoodconst) : 0.0;
      if (want == 0.0) {
        EXPECT_TRUE(got == 0.0 || y > nb) << y;
      } else {
        EXPECT_NEAR(got / want, 1.0, 1e-12) << y;
      }
    }
    // The tiny priors were rescaled into range.
    EXPECT_LT(lv.loglikehoodconst, tconst - 100.0);
  }
}

}  // namespace
}  // namespace kinrad
