#pragma once
// A real raised to an integer power the way the compiled Fortran of the design does it: by
// repeated squaring, multiplying the running result by the current square for each set bit of
// the exponent from the lowest up. std::pow rounds once and can differ in the last bits, and the
// precision thresholds of the likelihood engine must be those bits.
#include <cstdint>

#include "core/kinds.hpp"

namespace kinrad {

constexpr real8 real_integer_power(real8 x, int4 n) {
  real8 result = 1.0;
  if (n == 0) return result;
  // The exponent's magnitude as unsigned, so that the most negative int4 does not overflow.
  std::uint32_t u = n < 0 ? 0u - static_cast<std::uint32_t>(n) : static_cast<std::uint32_t>(n);
  if (n < 0) x = 1.0 / x;
  for (;;) {
    if (u & 1u) result *= x;
    u >>= 1;
    if (u == 0) break;
    x *= x;
  }
  return result;
}

}  // namespace kinrad
