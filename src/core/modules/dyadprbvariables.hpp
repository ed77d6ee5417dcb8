#pragma once
// The module `dyadprbvariables`.
#include <cstdint>

#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"
#include "core/record_types.hpp"

namespace kinrad {

// At most four observed alleles plus one pooled allele, so at most 15 true genotypes.
constexpr int4 kDyadMaxAllele = 5;
constexpr int4 kDyadMaxGenotype = kDyadMaxAllele * (kDyadMaxAllele + 1) / 2;

// The work of one dyad at one locus, kept for the calls that score the same dyad again; built
// false marks tables not built since the last reset.
struct DyadTables {
  bool built = false;
  // What the tables were built from.
  int4 locus = 0;
  int4 input[4] = {0, 0, 0, 0};
  std::uint64_t version = 0;
  int4 numorig = 0;                    // observed alleles that carry their own frequency
  int4 orig[kDyadMaxAllele + 1] = {};  // locus allele number of each recoded allele
  // The tables.
  bool trivial = false;  // fewer than 2 alleles: probability 1
  bool haploid = false;
  int4 numallele = 0;  // K
  int4 numgenotype = 0;
  int4 gi[kDyadMaxGenotype] = {};  // true genotypes (gi, gj), gi <= gj, row by row
  int4 gj[kDyadMaxGenotype] = {};
  int4 offset[kDyadMaxAllele + 1] = {};  // genotype (i, j), i <= j, is entry offset[i] + j
  real8 y1[kDyadMaxGenotype] = {};       // P(first member's observation | true genotype)
  real8 y2[kDyadMaxGenotype] = {};       // the same for the second; per allele when haploid
};

// Allele frequencies of the current locus for the dyad probabilities.
struct Dyadprbvariables {
  // Dyad probabilities: frequencies of the pair's alleles at the current locus in the pair's
  // own coding (at most four observed alleles and one pooled allele).
  FStatic<real8, 1, 5> afr{};
  // The last dyad scored, reused while the same dyad is scored again.
  DyadTables dyad_tables{};
};

constinit inline Dyadprbvariables dyadprbvariables{};

}  // namespace kinrad
