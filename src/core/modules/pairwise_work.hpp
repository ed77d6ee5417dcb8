#pragma once
// Scratch of the pairwise phase: grow-only buffers kept from call to call so that no call
// allocates once the largest case has been seen. Not design state; reset_all_modules resets
// it with the modules. Included only by its users.

#include <vector>

#include "core/kinds.hpp"

namespace kinrad {

// The clone-partition log likelihood's work of one locus. These are lists, not arrays of the
// design: indexed from 0, built by clear() and push_back() into the capacity an earlier call
// left (no allocation once the largest case has been seen), so they stay std::vector.
struct CloneLogWork {
  // Per member: the observed alleles at the locus.
  std::vector<int4> m1, m2;
  // Clone entries: distinct observed genotypes (flat, from start), multiplicity, order.
  std::vector<int4> start, nobs, mult, single, order;
  std::vector<int4> o1, o2, oc;
  // Allele list: allele numbers (0 the pooled rest), frequencies, weights.
  std::vector<int4> allele;
  std::vector<real8> freq, weight;
  std::vector<int4> tmp;
  std::vector<int4> sortedallele;
  std::vector<real8> sortedweight;
  // Per parent: genotypes as allele-list positions (y < 0 haploid), weights, skip marks.
  std::vector<int4> gx[2], gy[2];
  std::vector<real8> gw[2];
  std::vector<char> gskip[2];
  // q(t, entry): the entry's observations given true genotype (or allele) t of the list.
  std::vector<real8> q;
};

// The pairwise phase's scratch, one object.
struct PairwiseWork {
  CloneLogWork clone_log{};
};

inline PairwiseWork pairwise_work{};

}  // namespace kinrad
