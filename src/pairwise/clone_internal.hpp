#pragma once
// Shared pieces of the clone inference routines.
#include <vector>

#include "core/kinds.hpp"

namespace kinrad::clone_detail {

// The two allele numbers of offspring i at the locus (0 0 untyped), read from the unpacked
// two-allele copy when it covers the locus, else from the packed column.
void offspring_alleles(int4 locus, int4 i, int4& a1, int4& a2);

// simuvariables.lynchwgt for every locus of more than one allele, from the current allele
// frequencies.
void set_lynch_weights();

// variables.locusorder: loci of more than two alleles first, error-free before error-prone,
// each group by falling heterozygosity; then the loci of at most two alleles the same way.
void set_clone_locus_order();

// fsconfiglog with its approximations switchable: the pruning of unlikely parental pairs and
// the skip rule for parental genotypes of rarely seen alleles (on in the program; off gives
// the exact sum over parental genotypes).
void fsconfiglog_pruned(int4 n, const int4* members, const int4 parents[2], int4 c, const int4* b,
                        real8& logl, real8 bound, bool prune);

// The single-clone probabilities of the offspring flagged in single[1..smplsize] (others are
// left alone) into prob[1..smplsize]: every pair of a flagged offspring with a diploid
// offspring is scored once, the lower-numbered member as the focal, and each flagged
// offspring keeps its largest pair value. counter advances once per flagged offspring
// (display on) with the given step.
void single_clone_sweep(const std::vector<char>& single, std::vector<real8>& prob, int4& counter,
                        int4 step);

// Frees the scratch storage that fsconfiglog keeps from call to call.
void release_config_scratch();

}  // namespace kinrad::clone_detail
