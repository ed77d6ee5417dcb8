// Observation blocks and the codominant block tables. Expected values: block numbers by hand
// from the sharing rule; table values by summing the Mendelian transmissions of every parental
// pair with the class formulas (tables_fixture.hpp), normalised by the largest such value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "core/modules/variables.hpp"
#include "model/model.hpp"
#include "model_fixture.hpp"
#include "tables_fixture.hpp"

namespace kinrad {
namespace {

using test::LocusSpec;
using test::ModelTest;
class BlockTables : public ModelTest {};

std::vector<real8> uniform(int4 k) {
  return std::vector<real8>(static_cast<std::size_t>(k), 1.0 / k);
}

struct BlockCase {
  std::string name;
  std::vector<LocusSpec> loci;
  std::vector<int4> codominant;  // codominantloci(1..n)
  std::vector<int4> dominant;    // dominantloci(1..n)
  int4 nb;
  int4 nd;
};

TEST_F(BlockTables, BlockNumbering) {
  const std::vector<BlockCase> cases = {
      {"error-free 2 and 5 alleles share",
       {{2, false, 0, 0, uniform(2)}, {5, false, 0, 0, uniform(5)}},
       {1, 1},
       {0, 0},
       1,
       0},
      {"0.01 and 0.0100005 share",
       {{3, false, 0, 0.01, uniform(3)}, {3, false, 0, 0.0100005, uniform(3)}},
       {1, 1},
       {0, 0},
       1,
       0},
      {"0.01 and 0.0102 do not",
       {{3, false, 0, 0.01, uniform(3)}, {3, false, 0, 0.0102, uniform(3)}},
       {1, 2},
       {0, 0},
       2,
       0},
      {"dropout within 1e-6 shares, beyond does not",
       {{3, false, 0.02, 0.01, uniform(3)},
        {3, false, 0.0200009, 0.01, uniform(3)},
        {3, false, 0.021, 0.01, uniform(3)}},
       {1, 1, 2},
       {0, 0, 0},
       2,
       0},
      {"equal rates, different allele numbers",
       {{3, false, 0, 0.01, uniform(3)}, {4, false, 0, 0.01, uniform(4)}},
       {1, 2},
       {0, 0},
       2,
       0},
      {"dominant and codominant never share",
       {{2, false, 0, 0, uniform(2)},
        {2, true, 0, 0, uniform(2)},
        {2, true, 0, 0, uniform(2)},
        {2, false, 0, 0, uniform(2)}},
       {1, 0, 0, 1},
       {0, 1, 1, 0},
       1,
       1},
      {"one-allele codominant locus has no block",
       {{1, false, 0, 0, {1.0}}, {3, false, 0, 0.01, uniform(3)}, {3, false, 0, 0.01, uniform(3)}},
       {0, 1, 1},
       {0, 0, 0},
       1,
       0},
      {"first matching earlier locus gives the block",
       {{3, false, 0, 0.01, uniform(3)},
        {3, false, 0, 0.02, uniform(3)},
        {2, true, 0.01, 0.01, uniform(2)},
        {3, false, 0, 0.0200001, uniform(3)},
        {2, true, 0.01, 0.01, uniform(2)}},
       {1, 2, 0, 2, 0},
       {0, 0, 1, 0, 1},
       2,
       1},
  };
  for (const BlockCase& c : cases) {
    SCOPED_TRACE(c.name);
    reset_all_modules();
    test::setup_loci(c.loci);
    build_block_tables(1, 1, variables.numloci);
    for (int4 l = 1; l <= variables.numloci; ++l) {
      EXPECT_EQ(variables.codominantloci(l), c.codominant[static_cast<std::size_t>(l - 1)]) << l;
      EXPECT_EQ(variables.dominantloci(l), c.dominant[static_cast<std::size_t>(l - 1)]) << l;
    }
    EXPECT_EQ(variables.codominantloci(0), c.nb);
    EXPECT_EQ(variables.dominantloci(0), c.nd);
    EXPECT_EQ(variables.transratetgt.size(), 7 * c.nb + 3 * c.nd);
  }
}

TEST_F(BlockTables, BlockLociShareOneObservationTable) {
  test::setup_loci({{3, false, 0, 0.01, uniform(3)},
                    {3, false, 0, 0.0100005, uniform(3)},
                    {1, false, 0, 0, {1.0}},
                    {2, true, 0, 0, uniform(2)}});
  build_block_tables(1, 1, 4);
  EXPECT_EQ(variables.transrate(1).a.data(), variables.transrate(2).a.data());
  EXPECT_FALSE(variables.transrate(3).a.associated());
  EXPECT_EQ(variables.transrate(4).a.size(), 3);
  EXPECT_EQ(variables.locusdom(0), 1);
  EXPECT_EQ(variables.locusdom(1), 4);
}

// For every allele number 2..8 and both ploidy cases: each offspring genotype's category of
// each parental pair points at the block entry that equals the normalised probability.
void check_categories(int4 hd) {
  Variables& v = variables;
  std::vector<LocusSpec> loci;
  for (int4 k = 2; k <= 8; ++k) loci.push_back({k, false, 0.04, 0.03, uniform(k)});
  v.haplodiploid = hd;
  test::setup_loci(loci);
  build_block_tables(1, 1, v.numloci);
  index_t base = 0;
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int4 k = v.obsnumallele(l);
    SCOPED_TRACE("alleles " + std::to_string(k));
    const int4 b = v.codominantloci(l);
    ASSERT_EQ(b, l);
    const auto gl = test::genotype_list(k);
    const int4 g = static_cast<int4>(gl.size());
    // Parental pairs in the order of the category tables.
    std::vector<std::pair<std::pair<int4, int4>, std::pair<int4, int4>>> pairs;
    if (hd == 0) {
      for (int4 f = 0; f < g; ++f)
        for (int4 m = f; m < g; ++m)
          pairs.push_back({gl[static_cast<std::size_t>(f)], gl[static_cast<std::size_t>(m)]});
    } else {
      for (int4 a = 1; a <= k; ++a)
        for (int4 m = 0; m < g; ++m) pairs.push_back({{a, 0}, gl[static_cast<std::size_t>(m)]});
    }
    // Offspring genotypes: homozygotes, then heterozygotes in lexicographic order.
    std::vector<std::pair<int4, int4>> offspring;
    for (int4 a = 1; a <= k; ++a) offspring.emplace_back(a, a);
    for (int4 a = 1; a <= k; ++a)
      for (int4 c = a + 1; c <= k; ++c) offspring.emplace_back(a, c);
    for (std::size_t s = 0; s < offspring.size(); ++s) {
      const auto [o1, o2] = offspring[s];
      const bool het = o1 != o2;
      const index_t entry = base + static_cast<index_t>(s) + 1;
      const FView<int1, 1>& idx = v.dadmumoffprbidx(entry).a;
      ASSERT_EQ(idx.size(), static_cast<index_t>(pairs.size()));
      std::vector<real8> p(pairs.size());
      real8 mx = 0.0;
      for (std::size_t q = 0; q < pairs.size(); ++q) {
        p[q] = test::offspring_given_parents(o1, o2, pairs[q].first, pairs[q].second, l);
        mx = std::max(mx, p[q]);
      }
      EXPECT_NEAR(v.fsprobconst1(het ? 2 : 1, b), std::log(mx), 1e-12);
      const int4 worst = het ? (hd == 0 ? 10 : 8) : 6 - hd;
      const int4 part = het ? 6 - hd : 0;
      for (std::size_t q = 0; q < pairs.size(); ++q) {
        const int4 cat = idx(static_cast<index_t>(q + 1));
        const real8 stored = v.dadmumoffprb(v.dadmumoffprbloc(b) + part + cat);
        EXPECT_NEAR(stored, 100.0 * std::log(p[q] / mx), 1e-9)
            << "offspring " << s << " pair " << q;
        const index_t w = static_cast<index_t>(q / 32) + 1;
        const std::uint32_t bit = std::uint32_t{1} << (q % 32);
        const bool jbit = (static_cast<std::uint32_t>(v.dadmumoffprbjdx(entry).a(w)) & bit) != 0;
        const bool kbit = (static_cast<std::uint32_t>(v.dadmumoffprbkdx(entry).a(w)) & bit) != 0;
        EXPECT_EQ(jbit, cat == worst) << q;
        EXPECT_EQ(kbit, cat >= worst - 1) << q;
      }
      const index_t words = (static_cast<index_t>(pairs.size()) + 31) / 32;
      EXPECT_EQ(v.dadmumoffprbjdx(entry).a.size(), words);
      EXPECT_EQ(v.dadmumoffprbkdx(entry).a.size(), words);
    }
    base += g;
  }
  EXPECT_EQ(v.dadmumoffprbidx.size(), base);
}

TEST_F(BlockTables, CategoriesPointAtNormalisedProbabilitiesDiploid) {
  check_categories(0);
}
TEST_F(BlockTables, CategoriesPointAtNormalisedProbabilitiesHaplodiploid) {
  check_categories(1);
}

TEST_F(BlockTables, TwoAlleleHeterozygoteHasFixedCategories) {
  for (int4 hd = 0; hd <= 1; ++hd) {
    SCOPED_TRACE(hd);
    reset_all_modules();
    variables.haplodiploid = hd;
    test::setup_loci({{2, false, 0.01, 0.01, uniform(2)}});
    build_block_tables(1, 1, 1);
    const FView<int1, 1>& idx = variables.dadmumoffprbidx(3).a;
    const int1 expected[6] = {1, 2, 3, static_cast<int1>(2 + hd), 2, 1};
    for (int4 p = 1; p <= 6; ++p) EXPECT_EQ(idx(p), expected[p - 1]) << p;
  }
}

TEST_F(BlockTables, BlockEntryCountsAndImpossibleEntries) {
  struct Row {
    int4 hd;
    int4 k;
    index_t entries;
  };
  for (const Row& r : {Row{0, 2, 9}, Row{1, 2, 8}, Row{0, 3, 16}, Row{1, 3, 13}, Row{0, 5, 16}}) {
    SCOPED_TRACE(std::to_string(r.hd) + " " + std::to_string(r.k));
    reset_all_modules();
    variables.haplodiploid = r.hd;
    test::setup_loci({{r.k, false, 0.0, 0.0, uniform(r.k)}});
    build_block_tables(1, 1, 1);
    EXPECT_EQ(variables.dadmumoffprb.size(), r.entries);
    EXPECT_EQ(variables.dadmumoffprbloc(1), 0);
    // Error-free: a homozygous offspring 1/1 cannot come from a father 2/2 (or allele 2).
    const int4 cat = r.hd == 0 ? 6 : 5;
    EXPECT_EQ(variables.dadmumoffprb(cat), -9.999999680285692e37);
    EXPECT_EQ(variables.dadmumoffprb(1), 0.0);
  }
}

TEST_F(BlockTables, ClassTablesAndCacheMarks) {
  test::setup_loci({{2, false, 0.02, 0.01, {0.4, 0.6}}, {3, false, 0.02, 0.01, uniform(3)}});
  build_block_tables(1, 1, 2);
  const Variables& v = variables;
  for (int4 b = 1; b <= 2; ++b) {
    for (int4 s = 2; s <= 5; ++s) {
      EXPECT_EQ(v.probgtypehom2(1, 1, s, b), -1.0);
      EXPECT_EQ(v.probgtypehom3(1, 1, s, b), -1.0);
      EXPECT_EQ(v.probgtypehet2(1, 1, s, b), -1.0);
      EXPECT_EQ(v.probgtypehet3(1, 1, s, b), -1.0);
    }
  }
  // Block 2 (three alleles): slab 1 of the 1/1 table over the pooled genotypes 1/1, 1/2, 2/2
  // and of the 1/2 table over the six genotypes of three alleles, both normalised.
  const auto g2 = test::genotype_list(2);
  const auto g3 = test::genotype_list(3);
  real8 mh = 0.0;
  real8 mt = 0.0;
  for (auto f : g2)
    for (auto m : g2) mh = std::max(mh, test::offspring_given_parents(1, 1, f, m, 2));
  for (auto f : g3)
    for (auto m : g3) mt = std::max(mt, test::offspring_given_parents(1, 2, f, m, 2));
  for (int4 f = 1; f <= 3; ++f) {
    for (int4 m = 1; m <= 3; ++m) {
      const real8 x = test::offspring_given_parents(1, 1, g2[f - 1], g2[m - 1], 2) / mh;
      EXPECT_NEAR(v.probgtypehom3(f, m, 1, 2), x, 1e-14);
      EXPECT_EQ(v.probgtypehom2(f, m, 1, 2), v.probgtypehom3(4 - f, 4 - m, 1, 2));
    }
  }
  for (int4 f = 1; f <= 6; ++f)
    for (int4 m = 1; m <= 6; ++m)
      EXPECT_NEAR(v.probgtypehet3(f, m, 1, 2),
                  test::offspring_given_parents(1, 2, g3[f - 1], g3[m - 1], 2) / mt, 1e-14);
  // Without loci of 9 or more alleles the log tables stay unallocated.
  EXPECT_FALSE(v.probgivengtypehom.allocated());
  EXPECT_FALSE(v.probgivengtypehet.allocated());
}

TEST_F(BlockTables, LogTablesOfManyAlleleLoci) {
  test::setup_loci({{9, false, 0.02, 0.01, uniform(9)}});
  build_block_tables(1, 1, 1);
  const Variables& v = variables;
  ASSERT_TRUE(v.probgivengtypehom.allocated());
  const auto g2 = test::genotype_list(2);
  const auto g3 = test::genotype_list(3);
  for (int4 a = 1; a <= 2; ++a)
    for (int4 b = 1; b <= 2; ++b)
      for (int4 m = 1; m <= 3; ++m) {
        const int4 f = a == b ? (a == 1 ? 1 : 3) : 2;
        EXPECT_NEAR(v.probgivengtypehom(a, b, m, 1), std::log(v.probgtypehom3(f, m, 1, 1)), 1e-13);
      }
  for (int4 a = 1; a <= 3; ++a)
    for (int4 b = 1; b <= 3; ++b)
      for (int4 m = 1; m <= 6; ++m) {
        int4 f = 0;
        for (std::size_t i = 0; i < g3.size(); ++i)
          if (g3[i] == std::make_pair(std::min(a, b), std::max(a, b))) f = static_cast<int4>(i) + 1;
        EXPECT_NEAR(v.probgivengtypehet(a, b, m, 1), std::log(v.probgtypehet3(f, m, 1, 1)), 1e-13);
      }
  (void)g2;
}

TEST_F(BlockTables, CompatibilityMasks) {
  test::setup_loci({{3, false, 0, 0, uniform(3)}, {2, true, 0, 0, uniform(2)}});
  build_block_tables(1, 1, 2);
  const Variables& v = variables;
  ASSERT_EQ(v.equirowsave.size(), 9);
  EXPECT_EQ(static_cast<std::uint16_t>(v.equirowsave(4)), 0xf400);
  EXPECT_EQ(static_cast<std::uint16_t>(v.equirowsave1(7)), 0xc000);
  ASSERT_EQ(v.equirowsavedom.size(), 4);
  EXPECT_EQ(static_cast<std::uint16_t>(v.equirowsavedom(1)), 0xe000);
  EXPECT_FALSE(v.equicolsavedom.allocated());
}

TEST_F(BlockTables, ModeTwoRebuildsOneLocusAsBlockOne) {
  Variables& v = variables;
  test::setup_loci({{3, false, 0.0, 0.01, uniform(3)},
                    {3, false, 0.0, 0.01, uniform(3)},
                    {4, false, 0.0, 0.02, uniform(4)}});
  build_block_tables(1, 1, 3);
  ASSERT_EQ(v.codominantloci(2), 1);
  const std::vector<real8> shared(v.transrate(1).a.data(), v.transrate(1).a.data() + 7);
  v.othererrorrate(2) = 0.05;
  build_block_tables(2, 2, 2);
  EXPECT_EQ(v.codominantloci(0), 1);
  EXPECT_EQ(v.codominantloci(2), 1);
  EXPECT_EQ(v.codominantloci(3), 2);  // outside the range: left as it was
  EXPECT_EQ(v.fsprobconst1.ubound(2), 1);
  EXPECT_EQ(v.dadmumoffprb.size(), 16);
  // The locus under estimation has its own table at its trial rate; its block partner keeps
  // the shared one.
  EXPECT_NE(v.transrate(2).a.data(), v.transrate(1).a.data());
  for (int4 c = 1; c <= 7; ++c)
    EXPECT_EQ(v.transrate(1).a(c), shared[static_cast<std::size_t>(c - 1)]);
  EXPECT_NEAR(v.transrate(2).a(5), test::observe(1, 1, 1, 1, 2), 1e-15);
  // The rebuilt block follows the new rate.
  const auto g3 = test::genotype_list(3);
  real8 mt = 0.0;
  for (auto f : g3)
    for (auto m : g3) mt = std::max(mt, test::offspring_given_parents(1, 2, f, m, 2));
  EXPECT_NEAR(v.fsprobconst1(2, 1), std::log(mt), 1e-12);
#ifdef KINRAD_BOUNDS_CHECK
  EXPECT_DEATH((void)v.fsprobconst1(1, 2), "outside");
#endif
}

}  // namespace
}  // namespace kinrad
