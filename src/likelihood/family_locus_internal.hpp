#pragma once
// Shared by the two halves of the per-locus family set-up: the offspring genotype code at a
// locus of more than two alleles, the allele marks, and each full-sib family's genotype table
// and allele list.
#include "core/kinds.hpp"
#include "core/modules/familyloglvar.hpp"
#include "core/modules/setgetgtype.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"

namespace kinrad {

// Genotype number of offspring m at a locus of more than two alleles.
inline int4 multi_code(int4 m, int4 locus) {
  setgetgtype.locusgtypeptr = variables.indivgtype2(locus).a;
  int2 g = 0;
  getgtype(g, m, 3);
  return g;
}

// Clears the allele marks of alleles 1..k (after a list outgrew its room, when the marked
// alleles are no longer all written down).
inline void clear_marks(int4 k) {
  for (int4 x = 1; x <= k; ++x) familyloglvar.alleleprt(x) = 0;
}

// Family f's genotype table (fsgtype, numfsgtype from clusterfamilyloc(f) + 1), its allele list
// (allelefs from locallelefs(f) + 1, the pooled allele 0 last where the family does not show
// every allele) and its table size fsprobdim(f), at a locus of more than two alleles; false
// when the family shows more alleles than its parents can carry (the locus is impossible).
bool multiallele_family(int4 f, int4 locus, int4 numallele, int4 errorclass, bool othererrors);

}  // namespace kinrad
