#pragma once
// The row-by-row numbering of unordered genotypes: over k alleles, 1/1 = 1, 1/2 = 2, ...,
// 1/k = k, 2/2 = k + 1, ..., k/k = k(k + 1)/2. The per-locus probability tables and the
// posterior genotype tables are laid out in this order.
#include "core/kinds.hpp"

namespace kinrad {

// Number of the genotype a/b (either order) over k alleles.
constexpr int4 pair_number(int4 a, int4 b, int4 k) {
  if (a > b) {
    const int4 t = a;
    a = b;
    b = t;
  }
  return (a - 1) * k - (a - 1) * (a - 2) / 2 + (b - a + 1);
}

// Number of genotypes over k alleles.
constexpr int4 genotype_count(int4 k) {
  return k * (k + 1) / 2;
}

}  // namespace kinrad
