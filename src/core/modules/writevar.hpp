#pragma once
// The module `writevar`.
#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"
#include "core/record_types.hpp"

namespace kinrad {

// Allele labels and frequencies as text.
struct Writevar {
  // calleleid(i): allele label i as text (-1:largest label, unallocated above 9999);
  // cfre(i): the frequency i/10000 as text (0:10000).
  FArray<FString<4>, 1> calleleid{};
  FArray<FString<5>, 1> cfre{};
};

constinit inline Writevar writevar{};

}  // namespace kinrad
