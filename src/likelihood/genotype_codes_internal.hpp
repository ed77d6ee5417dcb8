#pragma once
// Observed genotypes as the compatibility checks read them: one genotype number per individual
// (0 missing, a <= maxobsnumallele the homozygote a/a, larger numbers heterozygotes). At
// two-allele loci the 2-bit codes 1, 2 and 3 stand for 1/1, 2/2 and 1/2, whose numbers are 1, 2
// and maxobsnumallele + 1.
#include <cstdint>

#include "core/kinds.hpp"
#include "core/modules/variables.hpp"

namespace kinrad::checks {

// The 2-bit code of entry i of a packed two-allele column.
inline int4 packed_code(const FView<int2, 1>& col, int4 i) {
  const auto word = static_cast<uint16_t>(col((i - 1) / 8 + 1));
  return (word >> (2 * ((i - 1) % 8))) & 3u;
}

// The 2-bit code of offspring m at two-allele locus l, from the unpacked copy when it covers
// the locus's position in the two-allele list.
inline int4 offspring_code2(int4 m, int4 l) {
  const Variables& v = variables;
  if (v.indivgtype1.allocated()) {
    const int4 pos = v.locus2loc(l);
    if (pos >= v.indivgtype1.lbound(2) && pos <= v.indivgtype1.ubound(2))
      return v.indivgtype1(m, pos);
  }
  return packed_code(v.indivgtype2(l).a, m);
}

// Genotype number of a 2-bit code.
inline int4 code_genotype(int4 c) {
  return c == 3 ? variables.maxobsnumallele + 1 : c;
}

// Genotype number of offspring m at locus l of nallele alleles.
inline int4 offspring_genotype(int4 m, int4 l, int4 nallele) {
  if (nallele <= 2) return code_genotype(offspring_code2(m, l));
  return variables.indivgtype2(l).a(m);
}

// While the parentage simulation scores trios, its simulated candidates (cndgtype3, one
// column per sex) stand in for the packed candidate columns: entry k is then the sex-2
// candidate when k lies beyond the sex-1 candidates.
inline int4 simulated_candidate(int4 k, int4 l) {
  const Variables& v = variables;
  return v.cndgtype3(l, k > v.numcandidate(1) ? 2 : 1);
}

// The 2-bit code of candidate column entry k at two-allele locus l.
inline int4 candidate_code2(int4 k, int4 l) {
  if (variables.cndgtype3.allocated()) {
    const int4 g = simulated_candidate(k, l);
    return g > 3 ? 3 : g;
  }
  return packed_code(variables.cndgtype2(l).a, k);
}

// Genotype number of candidate column entry k (sex-2 candidates after the sex-1 ones).
inline int4 candidate_genotype(int4 k, int4 l, int4 nallele) {
  if (variables.cndgtype3.allocated()) {
    const int4 g = simulated_candidate(k, l);
    return nallele <= 2 && g == 3 ? code_genotype(3) : g;
  }
  const FView<int2, 1>& col = variables.cndgtype2(l).a;
  if (nallele <= 2) return code_genotype(packed_code(col, k));
  return col(k);
}

inline bool homozygote(int4 g) {
  return g <= variables.maxobsnumallele;
}

}  // namespace kinrad::checks
