#pragma once
// The module `simuvariables`.
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
};

constinit inline Simuvariables simuvariables{};

}  // namespace kinrad
