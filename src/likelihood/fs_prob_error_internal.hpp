#pragma once
// Full-sib probability tables of families at loci with typing errors and at dominant loci: the
// engine's routines between the per-locus set-up and the peeling. Every table is normalised so
// that its largest entry is about 1; what the normalisation took out goes into the running
// constant likelihoodvar.loglikehoodconst (natural log).
#include <array>
#include <cstdint>

#include "core/farray.hpp"
#include "core/kinds.hpp"
#include "core/modules/likelihood_work.hpp"

namespace kinrad {

// One call of fsprobcompute2: the family, the sizes of its genotype space and of the
// category vectors it reads.
struct Fs2Call {
  int4 bk = 0;         // observation block of the locus (codominantloci(locus))
  int4 fam = 0;        // family in the cluster's family arrays
  int4 ng = 0;         // family genotypes (the caller's fsprobdim(fam))
  int4 nfirst = 0;     // values of a pair's first component: ng, or na for haploid fathers
  int4 na = 0;         // family allele list length (2 to 8)
  int4 nclass = 0;     // distinct observed offspring genotypes, at least 2
  int4 k = 0;          // allele-count slot of the category vectors: (na^3 - na - 6) / 6
  int4 npair = 0;      // parent pairs E (length of the slot's category vectors)
  int4 numallele = 0;  // alleles of the locus
  int4 pos = 0;        // the family's position in the absorb list
  int4 noabsorb = 0;   // nonzero: an earlier family already holds a table and mothers are many
  int4 nword = 0;      // 32-bit words of a mask over the parent pairs
};

// Families of at most 8 alleles with at least two distinct observed genotypes at a codominant
// locus with typing errors. status: 1 when no parent pair can produce the offspring (nothing
// written), else 0. logl is written only when the cluster is this one family
// (purefsshortcut >= 1): the locus log likelihood, -1e300 + constant when impossible.
void fsprobcompute2(const Fs2Call& call, int4& status, real8& logl);

// Families of at most 8 alleles whose typed offspring all show one genotype. rows: first-
// component count (ng, or the allele count for haploid fathers); othererror: 1 when the
// locus's other-error rate is at least 1e-8. wsum(0) and wsum(1) accumulate the class weights of
// homozygous and heterozygous classes; the caller adds them times fsprobconst1(1..2, bk).
void fsprobcompute21(int4 bk, int4 fam, int4 ng, int4 rows, int4 na, int4 numallele,
                     int4 othererror, std::array<real8, 2>& wsum);

// Dominant loci: the 3 x 3 (haploid fathers 2 x 3) table of a family of nband offspring with
// the band and nnone without. errorflag: locuserror(locus); bk: dominantloci(locus). The
// family's log constant is written to constlogl and added to loglikehoodconst.
void fsprobcomputedom(int4 errorflag, int4 bk, int4 fam, int4 nband, int4 nnone, real8& constlogl);

// The scratch of the error-locus routines is likelihood_work.fs_error
// (core/modules/likelihood_work.hpp).

// A large trimmed family lists the genotypes 1..top it still uses (marked in
// likelihood_work.fs_error.used), so the peeling can skip the rest: nothing when at least half of
// limit genotypes (or 10) are in use; up to 9 by number in fsgtypeidx, more as a bit set in
// fsgtypejdx with the first and last in fsgtypeidx.
void list_used_genotypes(int4 fam, int4 limit, int4 top);

// Families of more than 8 alleles at a codominant locus with typing errors. dim: fsprobdim(fam)
// (mother genotypes for haploid fathers); n: numallelefs(fam); ngt: distinct observed
// genotypes, heterozygotes first; e: dropout plus other-error rate. fail: 1 when no parental
// genotype survives (nothing written), else 0.
void fsprobcompute3(int4 locus, int4 fam, int4 dim, int4 n, int4 ngt, int4& fail, real8 e);

// The fill weights of the class tables' cache slabs are likelihood_work.fs_slab.

// The full-sib table of family f (entry i of the absorb list) at a locus with typing errors or
// at a dominant locus, as the locus likelihood asks for it. wsum accumulates the one-genotype
// families' class weights; othertable notes a table made by a routine other than the
// multi-genotype one. Returns false when the locus is finished: logl then holds its result
// (-1e300 when impossible).
bool error_locus_table(int4 locus, int4 numallele, int4 i, int4 f, std::array<real8, 2>& wsum,
                       bool& othertable, real8& logl);

// Pair index of allele count na: (1:2, 1:E) of the pair components, built on first use.
const FView<int2, 2>& prbindex_of(int4 na);

}  // namespace kinrad
