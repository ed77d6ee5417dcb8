#pragma once
// The typing-error model: the probability that a true genotype is observed as a given one,
// under allelic dropout (rate d) and other typing errors (rate e) at a locus. The sharing class
// of a true and an observed genotype decides the probability; the per-locus tables that
// prbgtop and prbgtophaploid read are filled by phenotypegivengenotype.
#include "core/kinds.hpp"
#include "core/modules/variables.hpp"

namespace kinrad {

// Sharing class of observed o1/o2 given true t1/t2 (first allele at most the second):
// 1 het seen as itself, 2 het seen as a homozygote of one of its alleles, 3 het seen as a het
// with exactly one of its alleles, 4 homozygote of an allele not in the truth, 5 hom seen as
// itself, 6 hom seen as a het containing its allele, 7 het sharing nothing with the truth.
// A second observed allele below 1 (a band phenotype) gives the dominant genotype number
// t1 + t2 - 1.
inline int4 configgtop(int4 t1, int4 t2, int4 o1, int4 o2) {
  if (o2 < 1) return t1 + t2 - 1;
  if (t1 == t2) {
    if (o1 == o2) return o1 == t1 ? 5 : 4;
    return (o1 == t1 || o2 == t1) ? 6 : 7;
  }
  if (o1 == o2) return (o1 == t1 || o1 == t2) ? 2 : 4;
  const int4 shared =
      static_cast<int4>(o1 == t1 || o1 == t2) + static_cast<int4>(o2 == t1 || o2 == t2);
  return shared == 2 ? 1 : (shared == 1 ? 3 : 7);
}

// Effective other-error rate of a locus with k alleles. The weight w exceeds 1 at k = 2, so
// the linear weight is negative there; that is intended and not clamped.
real8 errscale(int4 k, real8 e);

// P(observed o1/o2 | true t1/t2) at a locus of k alleles with dropout d and other-error rate e
// (callers pass the errscale value). cls 0 lets the class be computed; any other value is used
// as the class. A second allele below 1 marks a haploid genotype or a band phenotype.
real8 prbg_p(int4 o1, int4 o2, int4 t1, int4 t2, int4 k, real8 d, real8 e, int4 cls);

// Tabulated P(observed o(0)/o(1) | true t1/t2) at a locus. A dominant locus tabulates the
// chance of the band (phenotype 1) per true genotype; any other phenotype is its complement.
inline real8 prbgtop(int4 t1, int4 t2, const int4 o[2], int4 locus) {
  const FView<real8, 1>& t = variables.transrate(locus).a;
  if (variables.dominantmarker(locus) != 0) {
    const real8 x = t(t1 + t2 - 1);
    return o[0] == 1 ? x : 1.0 - x;
  }
  return t(configgtop(t1, t2, o[0], o[1]));
}

// Tabulated P(observed allele b | true allele a) of a haploid individual at a locus.
inline real8 prbgtophaploid(int4 a, int4 b, int4 locus) {
  return a == b ? variables.transratehaploid(1, locus) : variables.transratehaploid(2, locus);
}

}  // namespace kinrad
