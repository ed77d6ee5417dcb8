#pragma once
// The parentage-threshold simulation inside the pairwise folder: the simulated-genotype
// tables and draws, the parent-offspring and trio scorers, and the seam through which the
// trio scorer reaches the family likelihood engine.
#include "core/farray.hpp"
#include "core/kinds.hpp"
#include "core/modules/pairwise_seams.hpp"
#include "likelihood/likelihood.hpp"

namespace kinrad {

// Allocates the per-call arrays of the simulation for the current sample: the simulated
// genotypes (simoffgtype, simoffgtype2, simprntgtype, simcndgtype), the offsets of the
// parent-offspring memo (podyadloc, one per locus of locus3) and the memo podyadlogl3 itself
// (all -1, not yet computed), left out above 10^6 entries; released when the call ends.
void allocate_simulation_state();

// Builds the simulation's population tables from the current module state and frames trial
// family 1 (offspring 1 with one parent of each sex). The per-call arrays of the simulation
// are allocated by allocate_simulation_state first.
void inisimuvariables();

// Draws one multilocus genotype into gtype, (2, numloci) column-major: mode 1 a true parent
// of the population, 2 the observation model applied to the genotype given, 3 an unrelated
// candidate as observed. In mode 3 with data of at most two alleles per locus (diploid), the
// observed genotype is drawn directly and its log likelihood is added to logl.
void simugenotype(int4 mode, int4 ploidy, int1* gtype, real8& logl);

// The natural log of the probability of the observed genotype gtype, (2, numloci), of a
// random individual of the given ploidy, from the simulation's tables.
real8 simulated_single_logl(const int1* gtype, int4 ploidy);

// Parent-offspring log likelihood of the simulated offspring with a parent of the given sex:
// mode > 0 the candidate's genotype from cndgtype3 (or the packed column of candidate mode),
// mode <= 0 from simcndgtype. Returns bound once the result cannot exceed it.
void compute_podyad_logl(int4 mode, int4 sex, real8& logl, real8 bound, int4 offploidy);

// Log likelihood of the trial family of offspring 1 and the candidates 1 of both sexes,
// scored through the family likelihood engine; stops below bound.
void pairwisefamilylikelihood(real8& logl, real8 bound, int4 checkflag, int4 sex);

// The engine routines the trio scorer calls are reached through trio_engine_calls
// (core/modules/pairwise_seams.hpp), where tests may put stand-ins.

// Number of candidates simulated per replicate for sex s: the sampled candidates scaled up to
// all potential parents of the sex, at most 10000; 0 without candidates.
int4 simulated_candidates(int4 s);

// Threshold rule: thresh(sex, m) for m = 1 (95 %) .. 10 (50 %) from n replicates of
// (delta, istrue), numbered from 1.
void determinethreshold(int4 sex, int4 n, const real8* delta, const int1* istrue,
                        FArray<real8, 2>& thresh);

}  // namespace kinrad
