#pragma once
// Clone inference: replicate typings of one individual inside the full-sib families of the
// best configuration. The result phase calls findclone (under raised typing-error rates) and,
// per error-prone locus, inferclonegtype; the other routines serve them and are offered for
// their own use.
#include "core/kinds.hpp"

namespace kinrad {

// simuvariables.secondg := the alleles of members[0..k-1] at every locus of at least two
// alleles (reallocated when its third extent is not k).
void setsecondg(const int4* members, int4 k);

// Relatedness of the individual in simuvariables.firstg and individual j of secondg: the
// genotype similarity index corrected for the chance similarity of unrelated individuals
// (lynchwgt).
real8 r_li_lynch(int4 j);

// prob := the probability that offspring i has no clone anywhere in the sample (1 for a
// haploid). Every other diploid offspring is scored with i as the focal member.
void singlecloneprb(int4 i, real8& prob);

// Gives the members of every clone (variables.cloneconfig) one common list of inferred
// genotype alternatives at the locus.
void inferclonegtype(int4 locus);

// logl := the log likelihood of the n members' genotypes when the c clones given by the
// member order and the boundaries b[0..c] (clone k holds positions b[k-1]+1..b[k]) share one
// true genotype each and are full sibs of the two parents (candidate numbers; 0 unsampled).
// Returns the partial sum as soon as it is at or below bound; -1e300 when impossible.
void fsconfiglog(int4 n, const int4* members, const int4 parents[2], int4 c, const int4* b,
                 real8& logl, real8 bound);

// Greedy search for the best partition of n members of one full-sib family into clones:
// outmembers and outb[0..nclones] receive it, prob its probability among the partitions
// scored. counter is the caller's progress counter.
void fsconfig(int4& counter, const int4 parents[2], int4 n, const int4* members, int4* outmembers,
              int4* outb, int4& nclones, real8& prob);

// Clone inference over nf full-sib families: famprob their probabilities, start (1-based) and
// size their places in members. Fills variables.cloneconfig and writes fname + ".BestClone".
void findclone(int4 nf, const real8* famprob, const int4* start, const int4* size,
               const int4* members);

}  // namespace kinrad
