#pragma once
// Probabilities of one individual's observed genotypes as a random member of a population
// with inbreeding coefficient F, typing errors included.
#include <span>

#include "core/kinds.hpp"

namespace kinrad {

// prob := P(observed g(0)/g(1)) at the locus for an individual of the given ploidy (2 diploid,
// anything else haploid, whose first allele counts; at a dominant locus g(0) is the
// phenotype). A locus of at most one allele, or a missing genotype (g(0) < 1), gives 1. F is
// used as given.
void probsinglegtype(real8 F, int4 ploidy, int4 locus, const int4 g[2], real8& prob);

// logl[i - 1] := the natural log of the probability of individual i's genotypes summed over
// all loci, for i = 1..n of one kind: 0 the offspring, 1 or 2 the candidates of that sex.
// A negative F is used as 0. logl must hold at least n values.
void singleindivlikelihood(real8 F, int4 n, int4 kind, std::span<real8> logl);

// candidatelogl(:, s) and its sum sumcndlogl(s) for each sex s with candidates, at max(F, 0).
void singleparentlikelihood(real8 F);

}  // namespace kinrad
