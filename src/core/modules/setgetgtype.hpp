#pragma once
// The module `setgetgtype`.
#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"
#include "core/record_types.hpp"

namespace kinrad {

// Current packed genotype column: loci of at most two alleles hold 2-bit codes, eight
// individuals a word; other loci one genotype number a word.
struct Setgetgtype {
  FView<int2, 1> locusgtypeptr{};
};

constinit inline Setgetgtype setgetgtype{};

}  // namespace kinrad
