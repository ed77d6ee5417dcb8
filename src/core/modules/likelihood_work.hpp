#pragma once
// Scratch of the likelihood engine that outlives one call: the state one routine leaves for the
// routines it calls back. Not design state; reset_all_modules resets it with the modules.
// Included only by its users.

#include <array>
#include <cstdint>

#include "core/farray.hpp"
#include "core/kinds.hpp"

namespace kinrad {

// What kind of locus the tables belong to.
struct LocusKind {
  bool twoallele = false;  // parents' positions are the table classes (also dominant loci)
  bool dominant = false;
  bool errors = false;  // codominant with typing errors
};

// Scratch of the error-locus routines: grown to the largest family seen and reused, never
// freed per call. Contents are meaningless between calls.
struct FsErrorScratch {
  FArray<int4, 1> allelemap{};  // (0:127) allele code -> local index
  FArray<uint32_t, 1> mask{};   // (nword)
  FArray<int4, 1> keep{};       // retained pairs, 0-based pair numbers
  FArray<real8, 1> sum{};       // (E) weighted category sums, 100 x ln
  FArray<real8, 1> scaled{};    // (10) class weight x category values
  FArray<real8, 1> da{};        // (ng) absorbed or first parent gathered on local genotypes
  FArray<real8, 1> qb{};        // (ng) receiving or second parent
  FArray<int1, 1> used{};       // (ng) genotypes in use by a trimmed table
  FArray<int1, 1> excluded{};   // (G) parental genotypes ruled out by the screening
  FArray<int4, 1> rowstart{};   // (G) start of each kept row in the packed triangle, -1 none
  FArray<real8, 1> tri{};       // packed rows of the kept genotypes over partners i..D
  FArray<int4, 1> order{};      // offspring genotypes of a kind by decreasing count
  FArray<real8, 1> negcount{};
  FArray<int1, 1> code{};      // (n) allele code relative to the offspring genotype in hand
  FArray<int1, 2> gtallele{};  // (2, G) alleles of each parental genotype
  FArray<int1, 1> cls{};       // (G) class of each parental genotype for the genotype in hand
  FArray<real8, 2> hapl{};     // (G, n) haploid fathers: mother genotype by father allele
  std::array<int4, 64> ctype{};
  std::array<int4, 64> cslot{};
  std::array<real8, 64> cweight{};
};

// Weight with which each cache slab 2..5 of the class tables was filled, per table (1 hom2,
// 2 hom3, 3 het2, 4 het3) and block; a slab is refilled when a family's weight differs.
struct FsSlabWeights {
  FArray<real8, 3> w{};  // (4, 2:5, blocks)
};

// The likelihood engine's scratch, one object.
struct LikelihoodWork {
  // The kind of locus of the layer run in hand, for the absorption routines' table reads.
  LocusKind layer_kind{};
  // The error-locus routines' scratch and the fill weights of their cache slabs.
  FsErrorScratch fs_error{};
  FsSlabWeights fs_slab{};
};

inline LikelihoodWork likelihood_work{};

}  // namespace kinrad
