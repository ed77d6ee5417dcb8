#pragma once
// Genotype-set reduction: before the layer peeling, each parent still in the family graph has
// its genotypes weighed by its prior and by what its own remaining full-sib families say, and
// only the genotypes of non-negligible weight are kept, heaviest first.
#include "core/kinds.hpp"

namespace kinrad {

// The graph it reads: likelihoodvar.parentprt(0, s) parents of role s (joint parent numbers from
// row 1), each parent's remaining families in layer state 0 (layernummate(p, 0), layermate(., p,
// 0)) and its prior in crrtgenotypefre. Writes parentsum, parentslot, selectedpnum, idxselectedp
// (positions in the parent's genotype list) and maxselectedp. logl: -1e300 on entry; 0 when
// every parent keeps a genotype, else it stays -1e300 (the family is impossible at the locus).
// Before a first call selectedpnum is cleared (reduce_clear); a second call weighs every parent
// against its mates' kept genotypes and re-selects a parent left with one genotype from its
// existing weights. In a species with one parent pool the parent acting in both roles is weighed
// once, over the families of both roles, and its role-2 column copies the role-1 one.
void reducengenotype(int4 locus, int4 err, int4 numallele, real8& logl);

// Sizes the reduction's arrays for the family in hand and clears selectedpnum.
void reduce_clear();

}  // namespace kinrad
