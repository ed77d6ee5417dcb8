#pragma once
// The genotype model as the other phases use it: the per-analysis and per-locus set-up, the
// observation tables, genotype-class frequencies, single-individual and dyad probabilities
// and the inbreeding estimate.
#include <span>

#include "core/kinds.hpp"

namespace kinrad {

// Per-analysis set-up of the loci firstlocus..lastlocus (mode 1: all loci, mode 2: one locus).
void initialfsprob(int4 mode, int4 firstlocus, int4 lastlocus);

// Fills transrate (and, in a haplodiploid species, transratehaploid) of the loci
// locfrom..locto from their current dropout and other-error rates. Loci of at most one
// allele are left as they are.
void phenotypegivengenotype(int4 locfrom, int4 locto);

// Refills locus2gtypefre for the positions first..last of locus2 from the current allele
// frequencies and inbreeding, with l2lb(1) := first. A first position below 1 leaves the
// table with no filled column (so (0, 0) discards it); every user then refills the position
// it needs.
void computegtypefre(int4 first, int4 last);

// x[0..k-1] (k = obsnumallele(locus)) holds expected allele counts on entry; the genotyped
// candidates that the best configuration does not use as parents are added, and x is turned
// into frequencies (one extra count per allele when the total is below 30).
void recomputeallelefre(int4 locus, std::span<real8> x);

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

// P(observed a1/a2 and b1/b2 at the locus | delta), typing errors included; b2 < 1 marks a
// haploid second member. flag 0 computes the dyad's tables afresh; any other flag reuses the
// tables of the previous call, so that one dyad is scored under several relationships cheaply
// (the tables are rebuilt anyway when that call was for another dyad or locus, or the
// frequencies or observation tables have changed since). A locus of fewer than 2 alleles gives
// 1. Not re-entrant: it keeps its tables and afr between calls.
real8 prbpdyad(int4 a1, int4 a2, int4 b1, int4 b2, std::span<const real8, 9> delta, int4 locus,
               int4 flag);

// F receives the estimate, in [-0.99, 0.99], or 0 when every marker is dominant or the data
// carry no information on it.
void initialinbcoe(real8& F);

}  // namespace kinrad
