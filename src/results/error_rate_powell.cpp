// Direction-set minimisation without derivatives inside a box: each iteration minimises along
// every direction of the set in turn, then, when the extrapolated point still improves and the
// curvature test allows, replaces the direction of largest decrease by the overall step. Line
// searches are bracketed by the box so that every point they try is admissible; points outside
// it cost the objective nothing and score 1e100.
#include <cassert>
#include <cmath>

#include "core/brent.hpp"
#include "core/error_stop.hpp"
#include "core/modules/variables.hpp"
#include "results/error_rate_internal.hpp"

namespace kinrad {

namespace {

constexpr int4 itmax = 200;
constexpr real8 tiny = 1e-25;

// Copies column i of xi into d.
void take_column(const FArray<real8, 2>& xi, int4 i, int4 n, PowellPoint& d) {
  for (int4 j = 1; j <= n; ++j) d(j) = xi(j, i);
}

// The step bounds [a, b] that keep p + t xi inside the box in every dimension whose direction
// component is not negligible; false when no component counts.
bool step_bounds(const PowellPoint& p, const PowellPoint& xi, int4 n, real8& a, real8& b) {
  const auto& box = variables.rangeerrorrate;
  a = -1e100;
  b = 1e100;
  bool counted = false;
  for (int4 j = 1; j <= n; ++j) {
    if (!(xi(j) > 1e-10 || xi(j) < -1e-10)) continue;
    counted = true;
    const real8 lo = box(1, j);
    const real8 hi = box(2, j);
    const real8 from = (xi(j) > 0.0 ? lo : hi) - p(j);
    const real8 to = (xi(j) > 0.0 ? hi : lo) - p(j);
    const real8 ta = from / xi(j);
    const real8 tb = to / xi(j);
    if (ta > a) a = ta;
    if (tb < b) b = tb;
  }
  return counted;
}

}  // namespace

real8 f1dim(real8 t, const PowellObjective& func) {
  const auto& lc = variables.f1com;
  PowellPoint xt;
  for (int4 j = 1; j <= lc.ncom; ++j) xt(j) = lc.pcom(j) + t * lc.xicom(j);
  return func(xt);
}

void linmin(PowellPoint& p, PowellPoint& xi, int4 n, real8& fret, const PowellObjective& func) {
  assert(n >= 1 && n <= 50);
  auto& lc = variables.f1com;
  lc.ncom = n;
  for (int4 j = 1; j <= n; ++j) {
    lc.pcom(j) = p(j);
    lc.xicom(j) = xi(j);
  }
  real8 a = 0.0;
  real8 b = 0.0;
  real8 s = 0.0;
  // The midpoint when both ends lie on one side of the current point; otherwise the point
  // itself, which lies inside the interval.
  if (step_bounds(p, xi, n, a, b) && (a > 0.0) == (b > 0.0)) s = (a + b) / 2.0;
  real8 t = 0.0;
  fret = brent(
      a, s, b, [&func](real8 x) { return f1dim(x, func); }, 0.0001, t);
  for (int4 j = 1; j <= n; ++j) {
    xi(j) *= t;
    p(j) += xi(j);
  }
}

void powell(int4 order, PowellPoint& p, FArray<real8, 2>& xi, int4 n, int4 np, real8 ftol,
            int4& iter, real8& fret, const PowellObjective& func) {
  assert(n >= 1 && n <= np && n <= 50);
  (void)np;
  PowellPoint pt;   // the point at the start of the iteration
  PowellPoint ptt;  // the extrapolated point
  PowellPoint xit;  // the direction handed to the line search
  fret = func(p);
  for (int4 j = 1; j <= n; ++j) pt(j) = p(j);
  iter = 0;
  for (;;) {
    ++iter;
    const real8 fp = fret;
    int4 ibig = 0;
    real8 del = 0.0;
    for (int4 k = 1; k <= n; ++k) {
      const int4 i = order == 0 ? k : n + 1 - k;
      take_column(xi, i, n, xit);
      const real8 before = fret;
      linmin(p, xit, n, fret, func);
      if (before - fret > del) {
        del = before - fret;
        ibig = i;
      }
    }
    if (2.0 * (fp - fret) <= ftol * (std::fabs(fp) + std::fabs(fret)) + tiny) return;
    if (iter == itmax) stoponerror(1, "powell exceeding maximum iterations");
    for (int4 j = 1; j <= n; ++j) {
      ptt(j) = 2.0 * p(j) - pt(j);
      xit(j) = p(j) - pt(j);
      pt(j) = p(j);
    }
    const real8 fptt = func(ptt);
    if (fptt >= fp) continue;
    const real8 rise = fp - fret - del;
    const real8 gap = fp - fptt;
    const real8 t = 2.0 * (fp - 2.0 * fret + fptt) * (rise * rise) - del * (gap * gap);
    if (t >= 0.0) continue;
    linmin(p, xit, n, fret, func);
    // A total decrease implies a largest single one: ibig is set here.
    for (int4 j = 1; j <= n; ++j) {
      xi(j, ibig) = xi(j, n);
      xi(j, n) = xit(j);
    }
  }
}

}  // namespace kinrad
