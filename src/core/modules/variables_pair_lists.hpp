#pragma once
// Part of the module `variables`: what the pairwise analysis hands the search for its
// proposals: the pair clusters of the offspring and the short lists of best candidate parents.

#include "core/farray.hpp"
#include "core/kinds.hpp"
#include "core/record_types.hpp"

namespace kinrad {

struct VariablesPairLists {
  // Per offspring, the offspring it was paired with as a sib or clone (empty: no cluster);
  // each list is a window into pairclustertgt.
  FArray<I2bdim1, 1> paircluster{};
  FArray<int2, 1> pairclustertgt{};
  // Best candidate parents of each offspring, slots 1..5 fathers and 6..10 mothers: candidate
  // numbers, cumulative probabilities in rank order (the last listed slot holds 1.00000001 so
  // that a uniform draw always finds a slot), the number listed per sex (0 no list), and the
  // probability that a proposal draws from a full list rather than from all candidates.
  FArray<int2, 2> bestcnd{};
  FArray<real8, 2> prbbestcnd{};
  FArray<int1, 2> numbestcnd{};
  FArray<real4, 2> prbbestcnd1{};
};

}  // namespace kinrad
