#pragma once
// What the family likelihood engine offers the other subsystems: the family structure of the
// family to be scored, the trial frame, the family work state and the per-locus set-up.
#include <span>

#include "core/farray.hpp"
#include "core/kinds.hpp"
#include "core/modules/variables.hpp"

namespace kinrad {

// Member list of the full-sib family of sex-1 parent p1 and sex-2 parent p2 (empty when the
// pair has none).
inline FView<int2, 1> familystructure(int4 p1, int4 p2) {
  const int4 k = variables.familystructure_index(p1, p2);
  if (k < 1) return FView<int2, 1>{};
  return variables.familymember(k).a;
}

// Replaces the member list of the pair (p1, p2); an empty span leaves the pair without
// members. nchild is not touched: callers set it too.
void setfamilymembers(int4 p1, int4 p2, std::span<const int4> members);

// Empty frame of np parents per sex for trial families; clears the parent assignments of the
// first noff offspring (noff > 0) and aims inferparentprt at inferparent.
void setfamilystruc(int4 noff, int4 np);

// Builds the family work state of the family structure in module state. status 0, or 5014
// when the peeling's parent table cannot be allocated. numberfsfamily: the number of full-sib
// families when the caller knows it, else below 1. locus 0 prepares for all loci, k for locus
// k only. selfq 1 runs the selfing-generation estimate.
void preparevariable(int4& status, int2 numberfsfamily, int4 locus, int4 selfq);

// Sizes the per-locus work arrays of familyloglvar for the family in hand.
void setfamilyloglvar();

// Selfing generations behind every selfed full-sib family of the family in hand: each selfing
// parent's inbreeding coefficient prntinbcoe (both roles); other parents keep theirs. Also
// caches the two-allele code counts of selfed families of more than 9 members (ng2self).
void selfinggen_est();

// Natural log likelihood of the family in hand at one locus (its work state prepared for all
// loci or for this one): the probability of the observed genotypes of its offspring and typed
// candidate parents, summed over every genotype of every parent; -1e300 when they cannot occur.
void familylocuslogl(int4 locus, int4 numallele, int4 numgenotype, real8& logl);

// Posterior genotypes of the family in hand at one locus (its work state prepared for the
// locus): each parent's by rerunning familylocuslogl with its genotype fixed, then, with
// prntflag non-zero, stored into estprntgtype/estprntgtypeprb and the offspring's into
// estchildgtype/estchildgtypeprb; with countflag non-zero allelecount(1..numallele) receives
// the parents' posterior allele counts. flag2 1 lets a one-offspring family use prntglogl. The
// fixed-genotype controls are left set; the next preparevariable clears them.
void genotypeinference(int4 locus, int4 countflag, int4 prntflag, std::span<real8> allelecount,
                       int4 numallele, int4 flag2);

// The family likelihood and its Mendelian checks.
//
// familylikelihood: natural log likelihood of the family structure in module state: the
// sibship-size prior term plus the sum of the locus log likelihoods; -1e300 when a check or a
// size limit rules the family out, or a partial sum below bound when the sum stopped early.
// checkflag 1 runs the genotype checks; skipcheck non-zero skips locussort; famsize >= 0
// prepares the work state first (1 or 2 also tries the stored values of one- and two-offspring
// families), -1 uses the work state already prepared for this family.
void familylikelihood(real8& logl, real8 bound, int4 checkflag, int4 skipcheck, int4 famsize);
// Value of a one- or two-offspring family (famsize) from per-individual values and the dyad
// tables, without the prior term: flag 1 when logl was set, 0 when the full computation must run.
void usepairwiselogl(int4& flag, real8& logl, int4 famsize);
// Sibship-size prior term of the family in hand (its work state prepared).
real8 family_prior_term();
// How every caller reads a family likelihood against the bound it passed.
inline bool rejected(real8 logl, real8 bound) {
  return logl < bound || logl <= -1e300;
}
// ok 0 when a full-sib family at an error-free codominant locus shows more alleles or
// homozygotes than two parents can give; fills fsfamilygtype (distinct genotypes and counts).
void locussort(int4& ok, int4 skipcheck);
// ok 0 when an offspring shows the band of an error-free dominant locus that both its known
// parents lack.
void genotypecheckpdom(int4& ok);
// ok 0 when the offspring of a parent with several full-sib families cannot share one parental
// genotype; n the room of the heterozygote list, min(2 maxobsnumallele - 3, numchild).
void genotypecheck(int4& ok, int4 n);
// ok 0 when an offspring genotype cannot come from its family's assigned candidate parents;
// vote 1 checks only this process's share of the loci.
void genotypecheckp(int4& ok, int4 vote);
// ok 0 when a selfed family or the outcrossed families of its parent contradict one genotype.
void selfingcheck(int4& ok);

// Unpacked copy of the offspring genotypes at two-allele loci (indivgtype1).
void setgtype2();

}  // namespace kinrad
