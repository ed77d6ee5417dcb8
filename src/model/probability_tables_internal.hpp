#pragma once
// Per-block probability tables of the loci: observation blocks, the normalised parent-offspring
// tables of the codominant blocks, the dominant family tables, the locus scale factors, the
// observation tables of multi-allele loci with typing errors and the selfing tables.
#include "core/kinds.hpp"

namespace kinrad {

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

}  // namespace kinrad
