// Selfing tables. Expected values: a selfing parent a/b transmits a/a, a/b, b/b with chances
// 1/4, 1/2, 1/4; each is observed with the class formulas (allele 4 or 3 stands for one the
// offspring lacks); rows are divided by their kind's largest value. Error-free rows by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/modules/variables.hpp"
#include "model/model.hpp"
#include "model_fixture.hpp"
#include "tables_fixture.hpp"

namespace kinrad {
namespace {

using test::ModelTest;
class SelfingTables : public ModelTest {};

real8 selfed(int4 o1, int4 o2, int4 t1, int4 t2, int4 l) {
  return 0.25 * test::observe(o1, o2, t1, t1, l) + 0.5 * test::observe(o1, o2, t1, t2, l) +
         0.25 * test::observe(o1, o2, t2, t2, l);
}

void monoecious(const std::vector<test::LocusSpec>& loci) {
  variables.numsex = 1;
  variables.allowinbreeding = 1;
  test::setup_loci(loci);
  build_block_tables(1, 1, variables.numloci);
}

TEST_F(SelfingTables, SelfingTablesWithoutErrors) {
  monoecious({{3, false, 0.0, 0.0, {0.2, 0.3, 0.5}}});
  calculateprbgtopself(1, 1);
  const Variables& v = variables;
  const real8 rows[7] = {1, 0.25, 0, 1, 0, 0, 0};
  for (int4 r = 1; r <= 7; ++r) EXPECT_EQ(v.prbgtopself(1).a(r), rows[r - 1]) << r;
  EXPECT_EQ(v.prbgtopselfconst(1).a(1), 0.0);
  EXPECT_EQ(v.prbgtopselfconst(1).a(2), std::log(0.5));
}

TEST_F(SelfingTables, SelfingTablesWithErrors) {
  // Locus 1: four alleles; locus 2: two alleles (rows 6 and 7 unused); locus 3: dominant.
  monoecious({{4, false, 0.04, 0.03, {0.25, 0.25, 0.25, 0.25}},
              {2, false, 0.02, 0.05, {0.4, 0.6}},
              {2, true, 0.02, 0.05, {0.4, 0.6}}});
  calculateprbgtopself(1, 3);
  const Variables& v = variables;
  ASSERT_EQ(v.prbgtopself.size(), 3);
  // Codominant rows: offspring 1/1 from parents 1/1, 1/4, 4/4; offspring 1/2 from 1/2, 1/1,
  // 1/4, 4/4 (at two alleles allele 2 takes the place of allele 4 in rows 2 and 3).
  for (int4 l = 1; l <= 2; ++l) {
    SCOPED_TRACE(l);
    const int4 x = l == 1 ? 4 : 2;
    std::vector<real8> raw = {selfed(1, 1, 1, 1, l), selfed(1, 1, 1, x, l), selfed(1, 1, x, x, l),
                              selfed(1, 2, 1, 2, l), selfed(1, 2, 1, 1, l)};
    if (l == 1) {
      raw.push_back(selfed(1, 2, 1, 4, l));
      raw.push_back(selfed(1, 2, 4, 4, l));
    }
    const real8 m1 = std::max({raw[0], raw[1], raw[2]});
    real8 m2 = 0.0;
    for (std::size_t r = 3; r < raw.size(); ++r) m2 = std::max(m2, raw[r]);
    const int4 k = v.codominantloci(l);
    for (std::size_t r = 0; r < raw.size(); ++r)
      EXPECT_NEAR(v.prbgtopself(k).a(static_cast<index_t>(r + 1)), raw[r] / (r < 3 ? m1 : m2),
                  1e-14)
          << r;
    if (l == 2) {
      EXPECT_EQ(v.prbgtopself(k).a(6), 0.0);
      EXPECT_EQ(v.prbgtopself(k).a(7), 0.0);
    }
    EXPECT_NEAR(v.prbgtopselfconst(k).a(1), std::log(m1), 1e-14);
    EXPECT_NEAR(v.prbgtopselfconst(k).a(2), std::log(m2), 1e-14);
  }
  // Dominant rows: band chance of the selfed offspring of 1/1, 1/2, 2/2, then the no-band
  // chance of 2/2, 1/2, 1/1.
  auto bandself = [&](int4 phen, int4 t1, int4 t2) {
    auto b = [&](int4 a, int4 c) {
      const real8 y = prbg_p(1, 0, std::min(a, c), std::max(a, c), 2, 0.02, errscale(2, 0.05), 0);
      return phen == 1 ? y : 1.0 - y;
    };
    return 0.25 * b(t1, t1) + 0.5 * b(t1, t2) + 0.25 * b(t2, t2);
  };
  const real8 raw[6] = {bandself(1, 1, 1), bandself(1, 1, 2), bandself(1, 2, 2),
                        bandself(2, 2, 2), bandself(2, 1, 2), bandself(2, 1, 1)};
  const real8 m1 = std::max({raw[0], raw[1], raw[2]});
  const real8 m2 = std::max({raw[3], raw[4], raw[5]});
  const int4 k = v.codominantloci(0) + v.dominantloci(3);
  EXPECT_EQ(k, 3);
  for (int4 r = 0; r < 6; ++r)
    EXPECT_NEAR(v.prbgtopself(k).a(r + 1), raw[r] / (r < 3 ? m1 : m2), 1e-14) << r;
  EXPECT_NEAR(v.prbgtopselfconst(k).a(2), std::log(m2), 1e-14);
}

TEST_F(SelfingTables, SelfingEntryOfOneParent) {
  monoecious({{3, false, 0.04, 0.03, {0.2, 0.3, 0.5}}});
  const int4 t[2] = {1, 2};
  const int4 o[2] = {2, 2};
  real8 p = 0.0;
  prntselfedoffprob(p, t, o, 1);
  EXPECT_NEAR(p, selfed(2, 2, 1, 2, 1), 1e-15);
  const int4 h[2] = {3, 3};
  prntselfedoffprob(p, h, o, 1);
  EXPECT_NEAR(p, test::observe(2, 2, 3, 3, 1), 1e-15);
}

TEST_F(SelfingTables, SelfingRecomputationUsesTheSpareBlock) {
  monoecious({{3, false, 0.04, 0.03, {0.2, 0.3, 0.5}},
              {3, false, 0.04, 0.03, {0.3, 0.3, 0.4}},
              {4, false, 0.01, 0.02, {0.25, 0.25, 0.25, 0.25}}});
  calculateprbgtopself(1, 3);
  Variables& v = variables;
  ASSERT_EQ(v.prbgtopself.size(), 2);
  const std::vector<real8> before(v.prbgtopselftgt.begin(), v.prbgtopselftgt.begin() + 14);
  const std::vector<real8> cbefore(v.prbgtopselfconsttgt.begin(),
                                   v.prbgtopselfconsttgt.begin() + 4);
  v.othererrorrate(3) = 0.08;
  build_block_tables(2, 3, 3);
  calculateprbgtopself(3, 3);
  for (std::size_t i = 0; i < before.size(); ++i)
    EXPECT_EQ(v.prbgtopselftgt(static_cast<index_t>(i + 1)), before[i]) << i;
  for (std::size_t i = 0; i < cbefore.size(); ++i)
    EXPECT_EQ(v.prbgtopselfconsttgt(static_cast<index_t>(i + 1)), cbefore[i]) << i;
  // The locus is block 1 now, and its holder reads the spare block with the new rates.
  ASSERT_EQ(v.codominantloci(3), 1);
  EXPECT_EQ(v.prbgtopself(1).a.data(), &v.prbgtopselftgt(15));
  const real8 m1 = std::max({selfed(1, 1, 1, 1, 3), selfed(1, 1, 1, 4, 3), selfed(1, 1, 4, 4, 3)});
  EXPECT_NEAR(v.prbgtopself(1).a(2), selfed(1, 1, 1, 4, 3) / m1, 1e-14);
}

TEST_F(SelfingTables, DioeciousSpeciesHasNoSelfingTables) {
  variables.numsex = 2;
  test::setup_loci({{3, false, 0.04, 0.03, {0.2, 0.3, 0.5}}});
  build_block_tables(1, 1, 1);
  calculateprbgtopself(1, 1);
  EXPECT_FALSE(variables.prbgtopself.allocated());
}

}  // namespace
}  // namespace kinrad
