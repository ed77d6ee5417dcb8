#pragma once
// Values computed once from the data of an analysis and kept for the rest of it: named here so
// that reset_all_modules clears them with the modules. Not design state. Included only by its
// users.
#include "core/kinds.hpp"

namespace kinrad {

struct RunMemos {
  // The chance that a dominant locus drawn by the move choice's locus picker is kept: the
  // dominant share of the loci weighted one against two for codominant ones; -1.0 not yet
  // computed (the first draw computes it).
  real8 domlociprb = -1.0;
};

constinit inline RunMemos run_memos{};

}  // namespace kinrad
