#pragma once
// The count of re-creations of the work arrays that grow with the largest family the search
// has scored (the likelihood engine's arrays and the parent-pair tables of the family
// structure). Their extents are products of a cluster's parent and family counts, which the
// sample bounds only by its size squared, so they are not sized up front: each grows, at least
// doubling a dimension that outgrows it, when a family larger in that dimension than any
// before arrives. Counting the growths lets a warm search be checked to allocate nothing
// else. Not design state; reset_all_modules resets it. Included only by its users.
#include "core/kinds.hpp"

namespace kinrad {

struct WorkGrowth {
  int8 count = 0;  // re-creations since the last reset
  // Storage taken for a cluster slot's table because neither the slot nor any free slot held
  // storage that suits the cluster it receives.
  int8 slots = 0;
};

inline WorkGrowth work_growth{};

}  // namespace kinrad
