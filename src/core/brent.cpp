#include "core/brent.hpp"

#include <cmath>

namespace kinrad {

namespace {

// Fortran's sign(a, b): |a| with the sign of b, +|a| when b is 0.
real8 sign_of(real8 a, real8 b) {
  return b >= 0.0 ? std::fabs(a) : -std::fabs(a);
}

// Abscissae closer than this are the same point.
bool same(real8 a, real8 b) {
  return std::fabs(a - b) < 1e-300;
}

}  // namespace

real8 brent(real8 ax, real8 bx, real8 cx, const std::function<real8(real8)>& f, real8 tol,
            real8& xmin) {
  constexpr int4 ITMAX = 100;
  constexpr real8 CGOLD = 0.381966;
  constexpr real8 ZEPS = 1e-10;

  real8 a = ax < cx ? ax : cx;
  real8 b = ax > cx ? ax : cx;
  real8 v = bx;
  real8 w = v;
  real8 x = v;
  real8 e = 0.0;  // the step before last
  real8 d = 0.0;
  real8 fx = f(x);
  real8 fv = fx;
  real8 fw = fx;
  for (int4 iter = 1; iter <= ITMAX; ++iter) {
    const real8 xm = 0.5 * (a + b);
    const real8 tol1 = tol * std::fabs(x) + ZEPS;
    const real8 tol2 = 2.0 * tol1;
    if (std::fabs(x - xm) <= tol2 - 0.5 * (b - a)) {
      xmin = x;
      return fx;
    }
    bool golden = true;
    if (std::fabs(e) > tol1) {
      const real8 r = (x - w) * (fx - fv);
      real8 q = (x - v) * (fx - fw);
      real8 p = (x - v) * q - (x - w) * r;
      q = 2.0 * (q - r);
      if (q > 0.0) p = -p;
      q = std::fabs(q);
      const real8 etemp = e;
      e = d;
      // The parabola is trusted only for a step inside (a, b) smaller than half the step
      // before last.
      if (std::fabs(p) < std::fabs(0.5 * q * etemp) && p > q * (a - x) && p < q * (b - x)) {
        d = p / q;
        const real8 u = x + d;
        if (u - a < tol2 || b - u < tol2) d = sign_of(tol1, xm - x);
        golden = false;
      }
    }
    if (golden) {
      e = x >= xm ? a - x : b - x;
      d = CGOLD * e;
    }
    const real8 u = std::fabs(d) >= tol1 ? x + d : x + sign_of(tol1, d);
    const real8 fu = f(u);
    if (fu <= fx) {
      if (u >= x) {
        a = x;
      } else {
        b = x;
      }
      v = w;
      fv = fw;
      w = x;
      fw = fx;
      x = u;
      fx = fu;
    } else {
      if (u < x) {
        a = u;
      } else {
        b = u;
      }
      if (fu <= fw || same(w, x)) {
        v = w;
        fv = fw;
        w = u;
        fw = fu;
      } else if (fu <= fv || same(v, x) || same(v, w)) {
        v = u;
        fv = fu;
      }
    }
  }
  xmin = x;
  return fx;
}

}  // namespace kinrad
