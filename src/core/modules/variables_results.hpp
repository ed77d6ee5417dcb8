#pragma once
// Part of the module `variables`: what the result phase allocates and the inference routines
// fill (inferred offspring genotypes, clone numbers).

#include "core/farray.hpp"
#include "core/kinds.hpp"

namespace kinrad {

struct VariablesResults {
  // Inferred genotype alternatives of each offspring at the locus being written, most probable
  // first: (2, numestgenotype, offspring) allele numbers (a haploid's allele in both places,
  // 0 0 for an empty slot) and (numestgenotype, offspring) probabilities.
  FArray<int1, 3> estchildgtype{};
  FArray<real4, 2> estchildgtypeprb{};
  // Per offspring: its clone number in the best configuration, 0 before clone inference.
  FArray<int4, 1> cloneconfig{};
};

}  // namespace kinrad
