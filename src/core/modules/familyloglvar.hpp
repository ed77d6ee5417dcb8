#pragma once
// The module `familyloglvar`.
#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"
#include "core/record_types.hpp"

namespace kinrad {

// Per-locus work arrays of the family log likelihood.
struct Familyloglvar {};

constinit inline Familyloglvar familyloglvar{};

}  // namespace kinrad
