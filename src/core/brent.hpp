#pragma once
// Brent's one-dimensional minimiser: parabolic interpolation guarded by golden-section steps.
#include <functional>

#include "core/kinds.hpp"

namespace kinrad {

// Minimises f from the bracketing triplet ax, bx, cx (bx between ax and cx, f(bx) below f(ax)
// and f(cx)) to the fractional precision tol. Returns the minimum value and sets xmin to its
// abscissa; after 100 iterations it returns the best point found so far.
real8 brent(real8 ax, real8 bx, real8 cx, const std::function<real8(real8)>& f, real8 tol,
            real8& xmin);

}  // namespace kinrad
