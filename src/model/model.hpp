#pragma once
// The genotype model as the other phases use it: the per-analysis and per-locus set-up, the
// observation tables, genotype-class frequencies, single-individual and dyad probabilities
// and the inbreeding estimate; the typing-error model and the per-block probability tables the
// likelihood engine and the pairwise analysis read.
#include <span>

#include "core/kinds.hpp"
#include "core/modules/variables.hpp"

namespace kinrad {

class RecordReader;

// Per-analysis set-up of the loci firstlocus..lastlocus (mode 1: all loci, mode 2: one locus).
// In mode 1 the conductor builds the dyad tables and the selfing tables next (analysis_tables).
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

// --- The typing-error model: the probability that a true genotype is observed as a given
// one, under allelic dropout (rate d) and other typing errors (rate e) at a locus. The sharing
// class of a true and an observed genotype decides the probability; the per-locus tables that
// prbgtop and prbgtophaploid read are filled by phenotypegivengenotype.

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

// --- Joint genotype probabilities of two individuals (a dyad) whose relationship is given by
// the nine condensed identity coefficients, delta[0] = delta1 .. delta[8] = delta9.

// P(true a1/a2 and b1/b2) with the allele frequencies dyadprbvariables.afr; each genotype has
// its first allele at most its second; b2 < 1 makes the second individual haploid (allele b1).
real8 prbgdyad(int4 a1, int4 a2, int4 b1, int4 b2, std::span<const real8, 9> delta);

// --- Per-block probability tables of the loci: observation blocks, the normalised
// parent-offspring tables of the codominant blocks, the dominant family tables, the locus scale
// factors, the observation tables of multi-allele loci with typing errors and the selfing
// tables.

// The table steps of the per-locus set-up for loci locfrom..locto: mode 1 builds every table for
// all loci once per analysis; mode 2 rebuilds the block tables of one locus whose error rates
// changed (that locus becomes block 1 and the tables hold one block).
void build_block_tables(int4 mode, int4 locfrom, int4 locto);

// Normalised probabilities of n observed offspring genotypes (column j of phen: the two
// alleles and the count, 3 x n, column-major) given each parental pair over the k alleles
// allele[0..k-1]. table is column-major with leading dimension ld (g(k), or k when fathers are
// haploid) and ng = g(k) columns; rows are fathers, columns mothers. logmax receives ln of the
// largest entry, by which every written entry is divided. symflag != 0 mirrors the upper
// triangle into the lower one.
void computeprob(int4 locus, const int4* phen, int4 n, const int4* allele, int4 k, real8* table,
                 int4 ld, int4 ng, int4 symflag, real8& logmax);

// Log table of three indices from a table of computeprob: out(a, a', c) = ln in(a/a', c)
// (out is k x m x g(k), column-major), or out(a, 1, c) = ln in(a, c) for haploid fathers.
void copyprob(int4 k, int4 m, real8* out, int4 ld, int4 nrow, real8* in);

// The six values of one dominant family column: P(phenotype phen of one offspring | parental
// pair) at a dominant locus.
void computeprobdominant(int4 locus, int4 phen, real8* out);

// Per-locus scale factors of the loci of more than two alleles, averaged over each block.
void locusscale();

// Observation tables of the error-prone loci of more than two alleles in locfrom..locto.
void initialprbgtop(int4 locfrom, int4 locto);

// Selfing tables of the loci locfrom..locto (monoecious species only).
void calculateprbgtopself(int4 locfrom, int4 locto);

// P(offspring observed o | its selfing parent's true genotype t1/t2).
void prntselfedoffprob(real8& prob, const int4 t[2], const int4 o[2], int4 locus);

// Makes the effective family-size table scale2 reach index n.
void setscale2(int4 n);

// --- The allele-frequency checkpoint ----------------------------------------------------------

// Reads the allele-frequency checkpoint; status 0 only when it was read whole and accepted.
// The frequencies go into obsallelefre unless `store` is false, when only the checks, the
// status and the round count: the run sequence reads the round again after the per-locus
// tables were built from the frequencies in force, which must then stay as they are.
void readmidresult4(int4& status, int4& round, bool store = true);

// The checks both checkpoint readers make on one locus's frequencies.
bool restart_frequencies_acceptable(std::span<const real8> p);

// Reads one list of obsnumallele(l) frequencies per locus from `in` and, only when every list
// was read and passes its checks (and `store` is true), stores them all in obsallelefre; false
// leaves them unchanged.
bool read_locus_frequencies(RecordReader& in, bool store = true);

}  // namespace kinrad
