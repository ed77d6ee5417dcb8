#pragma once
// The module `simuvariables`.
#include <vector>

#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"
#include "core/record_types.hpp"

namespace kinrad {

// Pairwise-step and threshold-simulation state.
struct Simuvariables {
  // Sides of excluded sibships: (offspring, first:last side), 1 when the offspring has an
  // excluded-sibship set on that side. Built on first use and kept.
  FArray<int1, 2> sibexc{};

  // Focal-offspring tables of the pairwise sib decisions. ntype relationships: 1 full sibs,
  // 2 paternal half sibs, 3 maternal half sibs (haplodiploid species).
  int4 ntype = 0;
  // (locus3 position, offspring): genotype index over the triangle of allele pairs, 0 missing.
  FArray<int2, 2> indivgtype3{};
  // Per locus3 position k3 and type t the pair log likelihoods by the partner's genotype
  // index 0..G (0: partner missing), at dyadlogl(dyadloglloc(k3) + (t - 1)(G + 1) + g).
  FArray<real8, 1> dyadlogl{};
  FArray<index_t, 1> dyadloglloc{};
  // Two-allele memo tables, shared by phases that never run at the same time and each
  // (re)allocate them in their own shape: the pairwise sib decisions use (locus2 position,
  // partner code 1..3, type) and (locus2 position, type) for a missing partner; clone inference
  // uses (partner code, hypothesis, position) for the current focal, 1.0 when not yet computed,
  // and (code, position) for a single genotype (codes 1, 2 the homozygotes, 3 the heterozygote).
  // Each phase frees them when it ends.
  FArray<real8, 3> dyadlogl2{};
  FArray<real8, 2> dyadlogl0{};
  // (2, locus): the focal alleles each locus's tables were built for, -99 none; and the
  // focal's ploidy, which the tables depend on as well.
  FArray<int1, 2> dyadgtype{};
  FArray<int1, 1> dyadgtypeploidy{};
  // The partner's 2-bit codes at the locus2 positions, read once per pair (flag 0: not yet).
  FArray<int1, 1> simoffgtype{};
  int4 setsimoffgtype = 0;
  // Clone log likelihood per locus2 position and partner code 0..3 for the current focal;
  // 1.0 marks a value not computed yet. The focal's cached alleles per locus (-99 none) and
  // ploidy.
  FArray<real8, 2> clonedyadll{};
  FArray<int4, 2> clonegtype{};
  int4 cloneploidy = -99;
  // Focal tables of loci of more than two alleles already built in this phase, by locus3
  // position, focal ploidy and focal genotype index: a focal genotype met again copies its
  // tables instead of rebuilding them. focalmemoq marks the slots filled; unallocated when
  // the memo would be too large.
  FArray<real8, 1> focalmemo{};
  FArray<index_t, 1> focalmemoloc{};
  FArray<int1, 1> focalmemoq{};

  // Clone inference: relatedness of offspring pairs and the single-clone probabilities.
  FArray<real8, 1> lynchwgt{};  // per locus: expected similarity of two unrelated
  FArray<int1, 2> firstg{};     // (2, locus): alleles of the first individual, 0 untyped
  FArray<int1, 3> secondg{};    // (2, locus, k): alleles of k second individuals
  // Per locus of more than two alleles (locus3 position): offset of its genotype block in
  // podyadlogl3, whose three hypotheses (clone, full sibs, half sibs) follow one another, T
  // entries each; a value above 0.1 marks an entry not yet computed. Left unallocated when
  // the three blocks would exceed 6,000,000 doubles.
  FArray<int4, 1> podyadloc{};
  FArray<real8, 1> podyadlogl3{};

  // ---- Parentage thresholds from simulated families ----
  // (sex, level): the DELTA (natural-log units) a best candidate parent must lead the
  // runner-up by, level m standing for 100 - 5m % confidence. threshold: diploid offspring,
  // other parent not known; threshold2: diploid offspring whose other parent is known;
  // thresholdh: haploid offspring. Allocated (2, 10) and zeroed by the pairwise step.
  FArray<real8, 2> threshold{};
  FArray<real8, 2> threshold2{};
  FArray<real8, 2> thresholdh{};
  // Everything the simulation works with, apart from the other pairwise phases' tables of the
  // same names.
  struct DeltaSimulation {
    // Dyad probabilities (not logs) by pair index 0..9 + 2 haplodiploid of the 2-bit codes and
    // two-allele position: dyadlogl2(:, :, 1) for simulated candidates, dyadlogl0 for the
    // known parent; -1.0 marks an entry not computed. Allocated and freed by the pairwise
    // step; valid across replicates since an entry depends on the two codes only.
    FArray<real8, 3> dyadlogl2{};
    FArray<real8, 2> dyadlogl0{};
    // Per call: the simulated offspring (2, locus) with its code per locus as the engine
    // reads it, the true parents (2, locus, sex) and the candidate being scored (2, locus).
    FArray<int1, 2> simoffgtype{};
    FArray<int2, 1> simoffgtype2{};
    FArray<int1, 3> simprntgtype{};
    FArray<int1, 2> simcndgtype{};
    // Dyad probability per candidate genotype at the multi-allelic loci for the current
    // offspring, block of locus3 position k from podyadloc(k) + 1; -1.0 not computed.
    // Left unallocated when all blocks together exceed 1,000,000 entries.
    FArray<int4, 1> podyadloc{};
    FArray<real8, 1> podyadlogl3{};
    // Population tables: (2, two-allele position) the Hardy-Weinberg cumulative classes
    // p1^2 and 1 - p2^2; per multi-allelic position the start of its running allele sums in
    // cumallelefre3 (last entry 2.0); (3, two-allele position) cumulative observed genotype
    // shares by code 1/1, 2/2, 1/2 (only when no locus has more than two alleles).
    FArray<real4, 2> cumulativeallelefre2{};
    FArray<int4, 1> locfre3{};
    FArray<real4, 1> cumallelefre3{};
    FArray<real4, 2> cumgtypefre{};
    // Loci with missing data, dropout and other errors (element 0 the count) and the running
    // sums of their rates; lociflag(k) 1 when the listed rates of kind k are all equal.
    FArray<int4, 1> missingloci{};
    FArray<real4, 1> missingrate{};
    FArray<int4, 1> droperrorloci{};
    FArray<real4, 1> cumdroprate{};
    FArray<int4, 1> othererrorloci{};
    FArray<real4, 1> cumotherrate{};
    FStatic<int4, 1, 2> lociflag{};
    // ln P(observed genotype) of a random individual, -1e300 when impossible: (code 1..3,
    // ploidy, two-allele position); per multi-allelic position and ploidy a window of genotype
    // positions (diploid, into locus3logltgt2) or alleles (haploid, into locus3logltgt1).
    FArray<real8, 3> indiv1locus2logl{};
    FArray<Dpdim1, 2> indiv1locus3logl{};
    FArray<real8, 1> locus3logltgt1{};
    FArray<real8, 1> locus3logltgt2{};
    // Trio log likelihood per candidate genotype for the current offspring and known parent,
    // 1.0 not computed: (code 1..3, two-allele position), and per multi-allelic position a
    // window of G + 2 entries into locuslogl3tgt (G + 1, G + 2 the two pooled entries).
    FArray<real8, 2> locuslogl2{};
    FArray<Dpdim1, 1> locuslogl3{};
    FArray<real8, 1> locuslogl3tgt{};
    // The replicates of the last sex simulated: DELTA and whether the best candidate was the
    // true parent, (1:10000) for the pairwise and the trio statistic, and how many replicates
    // were simulated before the rest were filled. Kept until the next simulation.
    std::vector<real8> deltarep{};
    std::vector<int1> istruerep{};
    std::vector<real8> deltarep2{};
    std::vector<int1> istruerep2{};
    int4 replicatesrun = 0;
    // Work of the missing-data draws: the draws and their ascending order.
    FArray<real8, 1> missingdraw{};
    FArray<int4, 1> missingorder{};
  };
  DeltaSimulation delta{};
};

constinit inline Simuvariables simuvariables{};

}  // namespace kinrad
