#pragma once
// The packed genotype store: one column of 16-bit words per locus, aimed at by
// setgetgtype.locusgtypeptr. Read in the likelihood engine's inner loops, so both routines are
// inline and branch only on the layout.
#include "core/kinds.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"

namespace kinrad {

// Words a column of n individuals needs at a locus of nallele alleles.
constexpr index_t packed_column_words(index_t n, int4 nallele) {
  return nallele <= 2 ? (n + 7) / 8 : n;
}

// Stores the ordered allele pair (first <= second, 0 missing) of individual i.
inline void setgtype(const int1 alleles[2], int4 i, int4 nallele) {
  const FView<int2, 1>& col = setgetgtype.locusgtypeptr;
  if (nallele > 2) {
    col(i) = variables.genotypeid2(alleles[0], alleles[1]);
    return;
  }
  const uint16_t code =
      alleles[1] > alleles[0] ? 3u : static_cast<uint16_t>(static_cast<uint8_t>(alleles[0]) & 3u);
  const int4 w = (i - 1) / 8 + 1;
  const int shift = 2 * ((i - 1) % 8);
  uint16_t word = static_cast<uint16_t>(col(w));
  word = static_cast<uint16_t>((word & ~(3u << shift)) | (code << shift));
  col(w) = static_cast<int2>(word);
}

// The genotype number of individual i at the current column.
inline void getgtype(int2& g, int4 i, int4 nallele) {
  const FView<int2, 1>& col = setgetgtype.locusgtypeptr;
  if (nallele > 2) {
    g = col(i);
    return;
  }
  const uint16_t word = static_cast<uint16_t>(col((i - 1) / 8 + 1));
  g = static_cast<int2>((word >> (2 * ((i - 1) % 8))) & 3u);
  if (g == variables.l23g(1)) g = variables.l23g(2);
}

}  // namespace kinrad
