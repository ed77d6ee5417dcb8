#pragma once
// The module `simuvariables`.
#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"
#include "core/record_types.hpp"

namespace kinrad {

// Pairwise-step and threshold-simulation state.
struct Simuvariables {};

constinit inline Simuvariables simuvariables{};

}  // namespace kinrad
