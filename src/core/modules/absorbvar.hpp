#pragma once
// The module `absorbvar`.
#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"
#include "core/record_types.hpp"

namespace kinrad {

// Work arrays of the pair absorption.
struct Absorbvar {
  // Genotype index holders and value triples of the absorption routines.
  FStatic<Element, 1, 3> gtypeidx{};
  FStatic<Element, 1, 3> gtypejdx{};
  FStatic<Element, 1, 3> gtypekdx{};
  FStatic<Element, 1, 3> gtypeldx{};
  FStatic<Element, 1, 3> gtypemdx{};
  FStatic<Element, 1, 3> gtypendx{};
  FStatic<real8, 1, 3> xx{};
  FStatic<real8, 1, 3> zz{};
};

constinit inline Absorbvar absorbvar{};

}  // namespace kinrad
