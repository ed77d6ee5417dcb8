#pragma once
// The module `dyadprbvariables`.
#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"
#include "core/record_types.hpp"

namespace kinrad {

// Allele frequencies of the current locus for the dyad probabilities.
struct Dyadprbvariables {
  // Dyad probabilities: frequencies of the pair's alleles at the current locus in the pair's
  // own coding (at most four observed alleles and one pooled allele).
  FStatic<real8, 1, 5> afr{};
};

constinit inline Dyadprbvariables dyadprbvariables{};

}  // namespace kinrad
