#pragma once
// The module `simuvariables`.
#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"
#include "core/record_types.hpp"

namespace kinrad {

// Pairwise-step and threshold-simulation state.
struct Simuvariables {
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
  // Two-allele loci: (partner code, hypothesis, position) log dyad probabilities of the
  // current focal offspring, 1.0 when not yet computed; and (code, position) log probabilities
  // of a single genotype (codes 1, 2 the homozygotes, 3 the heterozygote).
  FArray<real8, 3> dyadlogl2{};
  FArray<real8, 2> dyadlogl0{};
};

constinit inline Simuvariables simuvariables{};

}  // namespace kinrad
