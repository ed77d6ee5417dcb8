// The packed genotype store. Word and bit positions are worked out by hand from the layout:
// individual i in word (i-1)/8 + 1 at bits 2((i-1) mod 8) and the next one.
#include <gtest/gtest.h>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "support/module_reset.hpp"

namespace kinrad {
namespace {

class PackedGenotypes : public testing_support::ModuleReset {
 protected:
  void aim(FArray<int2, 1>& column) { setgetgtype.locusgtypeptr = column.view(); }
};

TEST_F(PackedGenotypes, TwoBitLayoutSharesWordsWithoutDisturbingNeighbours) {
  EXPECT_EQ(packed_column_words(17, 2), 3);
  EXPECT_EQ(packed_column_words(16, 1), 2);
  EXPECT_EQ(packed_column_words(17, 3), 17);
  FArray<int2, 1> column(3);
  aim(column);
  const int1 het[2] = {1, 2}, hom1[2] = {1, 1}, hom2[2] = {2, 2}, missing[2] = {0, 0};
  setgtype(hom2, 1, 2);  // bits 0-1 = 2
  setgtype(het, 8, 2);   // bits 14-15 = 3
  setgtype(hom1, 9, 2);  // word 2, bits 0-1 = 1
  EXPECT_EQ(static_cast<uint16_t>(column(1)), 0xC002u);
  EXPECT_EQ(column(2), 1);
  for (int4 i = 2; i <= 7; ++i) setgtype(het, i, 2);
  setgtype(missing, 5, 2);  // clears bits 8-9 only
  EXPECT_EQ(static_cast<uint16_t>(column(1)), 0xFCFEu);
  const int2 expected[10] = {0, 2, 3, 3, 3, 0, 3, 3, 3, 1};
  for (int4 i = 1; i <= 9; ++i) {
    int2 g = -1;
    getgtype(g, i, 2);
    EXPECT_EQ(g, expected[i]) << i;
  }
  setgtype(hom1, 17, 2);  // word 3
  EXPECT_EQ(column(3), 1);
}

TEST_F(PackedGenotypes, HeterozygoteCodeReadsBackThroughL23g) {
  FArray<int2, 1> column(1);
  aim(column);
  variables.l23g(1) = 3;
  variables.l23g(2) = 7;  // the number of genotype 1/2 when loci of three alleles exist
  const int1 het[2] = {1, 2}, hom1[2] = {1, 1}, hom2[2] = {2, 2};
  setgtype(het, 1, 2);
  setgtype(hom1, 2, 2);
  setgtype(hom2, 3, 2);
  int2 g = 0;
  getgtype(g, 1, 2);
  EXPECT_EQ(g, 7);
  getgtype(g, 2, 2);
  EXPECT_EQ(g, 1);
  getgtype(g, 3, 2);
  EXPECT_EQ(g, 2);
}

TEST_F(PackedGenotypes, MultiAlleleColumnsHoldGenotypeNumbers) {
  // Three alleles: homozygotes 1..3, then 1/2 = 4, 1/3 = 5, 2/3 = 6.
  variables.genotypeid2.allocate({0, 3}, {0, 3});
  int2 next = 1;
  for (int a = 1; a <= 3; ++a) variables.genotypeid2(a, a) = next++;
  for (int a = 1; a <= 3; ++a)
    for (int b = a + 1; b <= 3; ++b) variables.genotypeid2(a, b) = next++;
  FArray<int2, 1> column(4);
  aim(column);
  const int1 pairs[4][2] = {{2, 3}, {0, 0}, {3, 3}, {1, 2}};
  for (int4 i = 1; i <= 4; ++i) setgtype(pairs[i - 1], i, 3);
  const int2 expected[4] = {6, 0, 3, 4};
  for (int4 i = 1; i <= 4; ++i) {
    int2 g = -1;
    getgtype(g, i, 3);
    EXPECT_EQ(g, expected[i - 1]);
  }
}

}  // namespace
}  // namespace kinrad
