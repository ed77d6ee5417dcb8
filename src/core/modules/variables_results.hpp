#pragma once
// Part of the module `variables`: what the result phase allocates and the inference routines
// fill (inferred offspring genotypes, clone numbers).

#include <vector>

#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"

namespace kinrad {

// Scratch of the result phase's preparation (grow-only; contents meaningless between calls).
struct ResultsWork {
  FArray<int4, 1> up;        // (0:k) union-find links over cluster ids
  FArray<int4, 1> label;     // (0:k) new number per id, 0 not yet numbered
  FArray<int4, 1> first;     // (0:ncand) first offspring per candidate
  FArray<int4, 1> winner;    // (0:top) known parent per family id
  std::vector<int4> listed;  // offspring or family ids in a list
};

struct VariablesResults {
  // Inferred genotype alternatives of each offspring at the locus being written, most probable
  // first: (2, numestgenotype, offspring) allele numbers (a haploid's allele in both places,
  // 0 0 for an empty slot) and (numestgenotype, offspring) probabilities.
  FArray<int1, 3> estchildgtype{};
  FArray<real4, 2> estchildgtypeprb{};
  // Inferred genotype alternatives of each parent at the locus being written, by its sex and
  // its family number in the configuration: (2, numestgenotype, parent, 2) allele numbers (a
  // haploid's allele first, 0 second; 0 0 for an empty slot) and (numestgenotype, parent, 2)
  // probabilities, best first.
  FArray<int1, 4> estprntgtype{};
  FArray<real4, 3> estprntgtypeprb{};
  // (1:2, 1:2, 1:3) log likelihood of a one-offspring family's parent fixed at a/b, by the
  // offspring's genotype number at a two-allele locus; an entry above 0.5 is not yet computed.
  FArray<real8, 3> prntglogl{};
  // Per offspring: its clone number in the best configuration, 0 before clone inference.
  FArray<int4, 1> cloneconfig{};
  // (n, 2): the printed names of the father and mother of every offspring in the best
  // configuration, right-adjusted; allocated by the result writer.
  FArray<FString<20>, 2> bestparentid{};
  // (maxobsnumallele, numloci): the allele frequencies re-estimated from the inferred parents
  // of the best configuration, written to ".AlleleFreq"; allocated by the genotype inference
  // when the population frequencies are not given.
  FArray<real8, 2> updatedallelefre{};
  ResultsWork results_work{};
};

}  // namespace kinrad
