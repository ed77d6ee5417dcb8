// Re-estimation of the dropout and other-error rates of every locus by maximum likelihood given
// the best configuration, with approximate 95% bounds where the negative log likelihood has
// risen by two units. The point estimate is the best of up to 20 short direction-set runs from
// random points near 0 (they stop as soon as two runs agree within 0.01). A single rate's bounds
// are where the objective has risen to the optimum plus 2 below and above the estimate; with
// two rates each rate's bound is that of its profile (the other rate at its best for every value
// of the first). Results go to ".ErrorRate", which first holds its header alone and then the
// header with one row per locus.
#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>

#include "configuration/configuration.hpp"
#include "core/brent.hpp"
#include "core/fixed_string.hpp"
#include "core/modules/annealvariables.hpp"
#include "core/modules/variables.hpp"
#include "core/random_numbers.hpp"
#include "core/replacing_file.hpp"
#include "core/screen.hpp"
#include "core/variables_routines.hpp"
#include "results/error_rate_internal.hpp"

namespace kinrad {

namespace {

constexpr std::string_view header =
    "MarkerID,StartDropRate,DropRateEst,DropRateCI95LB,DropRateCI95UB,StartOtherErrorRate,"
    "OtherErrorRateEst,OtherErrorRateCI95LB,OtherErrorRateCI95UB";

constexpr int4 max_starts = 20;

// The entry of the estimate of the i-th rate being estimated (the lower bound, upper bound and
// start value follow it).
int4 estimate_entry(int4 kind, int4 i) {
  return (kind == 2 || i == 2) ? 5 : 1;
}

// Sets the directions to a diagonal matrix of n x n.
void diagonal_directions(FArray<real8, 2>& xi, int4 n, real8 d) {
  for (int4 j = 1; j <= n; ++j)
    for (int4 i = 1; i <= n; ++i) xi(i, j) = i == j ? d : 0.0;
}

// Up to 20 minimisations from random points near 0 (draws: x(1), direction 1, x(2), ...).
// Returns the best point and value; `last` is the value of the last start and `agreed` tells
// whether the starts stopped because it agreed with the best within 0.01.
void point_estimate(int4 n, const PowellObjective& func, PowellPoint& best_x, real8& best,
                    real8& last, bool& agreed) {
  FArray<real8, 2> xi{Dim(n), Dim(n)};
  PowellPoint x;
  best = 1e300;
  agreed = false;
  for (int4 s = 1; s <= max_starts; ++s) {
    for (int4 i = 1; i <= n; ++i) {
      x(i) = ran2() * 5e-6;
      for (int4 j = 1; j <= n; ++j) xi(j, i) = 0.0;
      xi(i, i) = ran2() * 1e-4;
    }
    int4 iter = 0;
    powell(s % 2, x, xi, n, n, 1e-5, iter, last, func);
    if (std::fabs(last - best) < 0.01) {
      agreed = true;
      return;
    }
    if (last < best) {
      best = last;
      best_x = x;
    }
  }
}

// The profile of rate i at t: the least objective over the other rate (anywhere in [0, hi])
// with rate i held at t. `y` is the other rate's start and returns its best value. A start at
// the lower limit from which the objective rises stays there after two evaluations.
real8 profile_value(int4 i, real8 t, real8 hi, real8& y, PowellPoint& x,
                    const PowellObjective& func) {
  constexpr real8 step = 1e-4;
  const int4 o = 3 - i;
  x(i) = t;
  auto at = [&](real8 u) {
    x(o) = u;
    return func(x);
  };
  real8 start = std::min(std::max(y, 0.0), hi);
  if (start <= step) {
    const real8 f0 = at(0.0);
    if (at(step) >= f0) {
      y = 0.0;
      return f0;
    }
    start = step;
  }
  real8 best = start;
  const real8 f = brent(0.0, start, hi, at, 1e-4, best);
  y = best;
  return f;
}

// The value of rate i between its estimate e and `limit` at which its profile has risen to
// `level` (the objective measured from 0); the limit when the profile stays below the level
// all the way, e when it starts above it. `y` is the other rate's estimate. Brent's zero
// finder to 1e-6, ample for bounds printed with four decimals.
real8 profile_bound(int4 i, real8 e, real8 limit, real8 level, real8 hi, real8 y,
                    const PowellObjective& func) {
  constexpr real8 xtol = 1e-6;
  constexpr real8 eps = 2.220446049250313e-16;
  if (limit == e) return limit;
  PowellPoint x;
  auto g = [&](real8 t) { return profile_value(i, t, hi, y, x, func) - level; };
  real8 a = e, b = limit;
  real8 fa = g(a);
  if (fa >= 0.0) return e;
  real8 fb = g(b);
  if (fb <= 0.0) return limit;
  real8 c = b, fc = fb, d = b - a, step = d;
  for (int4 iter = 1; iter <= 100; ++iter) {
    if ((fb > 0.0) == (fc > 0.0)) {
      c = a;
      fc = fa;
      d = step = b - a;
    }
    if (std::fabs(fc) < std::fabs(fb)) {
      a = b;
      b = c;
      c = a;
      fa = fb;
      fb = fc;
      fc = fa;
    }
    const real8 tol1 = 2.0 * eps * std::fabs(b) + 0.5 * xtol;
    const real8 xm = 0.5 * (c - b);
    if (std::fabs(xm) <= tol1 || fb == 0.0) return b;
    if (std::fabs(step) >= tol1 && std::fabs(fa) > std::fabs(fb)) {
      // Inverse quadratic interpolation, or the secant when only two points are distinct.
      const real8 s = fb / fa;
      real8 p = 0.0, q = 0.0;
      if (a == c) {
        p = 2.0 * xm * s;
        q = 1.0 - s;
      } else {
        const real8 qa = fa / fc, r = fb / fc;
        p = s * (2.0 * xm * qa * (qa - r) - (b - a) * (r - 1.0));
        q = (qa - 1.0) * (r - 1.0) * (s - 1.0);
      }
      if (p > 0.0) q = -q;
      p = std::fabs(p);
      if (2.0 * p < std::min(3.0 * xm * q - std::fabs(tol1 * q), std::fabs(step * q))) {
        step = d;
        d = p / q;
      } else {
        d = step = xm;
      }
    } else {
      d = step = xm;
    }
    a = b;
    fa = fb;
    b += std::fabs(d) > tol1 ? d : (xm >= 0.0 ? tol1 : -tol1);
    fb = g(b);
  }
  return b;
}

// One bound (b = 1 lower, 2 upper) of every estimated rate, from the estimates in entries.
// One rate: the point of the box beyond the estimate where the objective is two units above
// its optimum. Two rates: each rate's profile bound, the furthest value of that rate at which
// the least objective over the other rate is within two units of the optimum. (Seeking that
// level over both rates at once would stop anywhere on the two-dimensional contour, so the
// bounds would depend on where the search began.)
void find_bound(int4 b, int4 kind, int4 n, real8 hi, ErrorRateEntries& entries,
                const PowellObjective& func) {
  auto& v = variables;
  auto& box = v.rangeerrorrate;
  if (b == 1 && entries(1) < 0.0001 && entries(5) < 0.0001) {
    for (int4 i = 1; i <= n; ++i) entries(estimate_entry(kind, i) + 1) = 0.0;
    return;
  }
  if (n == 2) {
    const real8 level = v.loglerrorrateconst;
    for (int4 i = 1; i <= 2; ++i) {
      box(1, i) = 0.0;
      box(2, i) = hi;
    }
    // The profiles are the objective itself, measured from 0.
    v.loglerrorrateconst = 0.0;
    for (int4 i = 1; i <= 2; ++i) {
      const real8 e = entries(estimate_entry(kind, i));
      const real8 other = entries(estimate_entry(kind, 3 - i));
      entries(estimate_entry(kind, i) + b) =
          profile_bound(i, e, b == 1 ? 0.0 : hi, level, hi, other, func);
    }
    v.loglerrorrateconst = level;
    return;
  }
  const real8 est = entries(estimate_entry(kind, 1));
  if (b == 1) {
    box(2, 1) = est;
  } else {
    box(1, 1) = est;
    box(2, 1) = hi;
  }
  if (box(1, 1) < 0.0) box(1, 1) = 0.0;
  FArray<real8, 2> xi{Dim(1), Dim(1)};
  PowellPoint x;
  real8 f = 0.0;
  x(1) = 0.99 * box(1, 1) + 0.01 * box(2, 1);
  diagonal_directions(xi, 1, 0.01);
  int4 iter = 0;
  powell(0, x, xi, 1, 1, 1e-4, iter, f, func);
  entries(estimate_entry(kind, 1) + b) = x(1);
}

// The upper limit of every rate: 0.5 when some cluster has more than 200 parents of one sex.
real8 upper_limit() {
  const auto& v = variables;
  const auto& av = annealvariables;
  int4 most = 0;
  for (int4 c = 1; c <= v.crnumfamily(3); ++c)
    most = std::max({most, av.clustersize(1, c), av.clustersize(2, c)});
  return most > 200 ? 0.5 : 1.0;
}

// unassignedcnd: 1 for a candidate that is neither assigned by the best configuration nor a
// known parent. With one parent pool a candidate is one individual in both columns and is
// counted once, in column 1.
void mark_unassigned_candidates() {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  if (v.numsex == 1) {
    const int4 nc = v.numcandidate(1);
    if (nc < 1) return;
    for (int4 j = 1; j <= nc; ++j) {
      av.unassignedcnd(j, 1) = 1;
      if (v.numcandidate(2) >= j) av.unassignedcnd(j, 2) = 0;
    }
    for (int4 i = 1; i <= n; ++i)
      for (int4 s = 1; s <= 2; ++s)
        if (v.btinferparent(i, s) > 0) av.unassignedcnd(v.btinferparent(i, s), 1) = 0;
    for (int4 j = 1; j <= nc; ++j)
      for (int4 s = 1; s <= 2; ++s)
        if (j <= v.knownprntq.ubound(1) && v.knownprntq(j, s) > 0) av.unassignedcnd(j, 1) = 0;
    return;
  }
  for (int4 s = 1; s <= 2; ++s) {
    if (v.numcandidate(s) < 1) continue;
    for (int4 j = 1; j <= v.numcandidate(s); ++j) av.unassignedcnd(j, s) = 1;
    for (int4 i = 1; i <= n; ++i)
      if (v.btinferparent(i, s) > 0) av.unassignedcnd(v.btinferparent(i, s), s) = 0;
    for (int4 j = 1; j <= v.numcandidate(s); ++j)
      if (v.knownprntq(j, s) > 0) av.unassignedcnd(j, s) = 0;
  }
}

}  // namespace

bool errorrateprepare() {
  auto& v = variables;
  if (v.locus2logl.allocated()) v.locus2logl.deallocate();
  for (int4 i = 1; i <= v.smplsize; ++i) {
    v.crindivloc(i, 1) = v.btindivloc(i, 1);
    v.crindivloc(i, 2) = v.btindivloc(i, 2);
    v.inferparent(i, 1) = v.btinferparent(i, 1);
    v.inferparent(i, 2) = v.btinferparent(i, 2);
  }
  for (int4 k = 1; k <= 3; ++k) v.crnumfamily(k) = v.btnumfamily(k);
  if (v.errestimate <= 0) return false;
  FStatic<int2, 1, 2> hsmax{};
  setinitconfiglogl(v.fulllikelihoodmethodq + 1, hsmax);
  setinitcluster();
  if (v.fulllikelihoodmethodq == 0)
    for (int4 c = 1; c <= v.crnumfamily(3); ++c)
      if (v.crfamilylogl(c) < -1e100) return false;
  return true;
}

namespace {

// The row of locus l: the marker and the start, estimate, lower and upper bound of the dropout
// rate and then of the other-error rate.
std::string result_row(int4 l, const FArray<real8, 2>& table) {
  std::string row = adjustl(variables.markerid(l).view());
  row = std::string(trim(row));
  static constexpr int4 order[8] = {4, 1, 2, 3, 8, 5, 6, 7};
  for (int4 k : order) {
    row += ',';
    row += rtoc(table(k, l), "(F8.4)");
  }
  return row;
}

// Writes ".ErrorRate": the header, then the rows of the loci marked in `rows` (none when the
// table is not allocated).
void write_error_rate_file(const FArray<real8, 2>& table, const FArray<int1, 1>& rows) {
  const auto& v = variables;
  if (v.threadid != 0) return;
  ReplacingFile out(v.fname + ".ErrorRate", WriteFailure{"Output"});
  out.write("(A)", header);
  if (rows.allocated()) {
    for (int4 l = 1; l <= v.numloci; ++l)
      if (rows(l) != 0) out.write("(A)", result_row(l, table));
  }
  out.commit();
}

}  // namespace

int4 errorratekind(int4 l) {
  const auto& v = variables;
  const bool drop = v.droprate(l) >= 1e-8;
  const bool other = v.othererrorrate(l) >= 1e-8;
  const bool dominant = v.dominantmarker(l) == 1;
  if (drop && other) return dominant ? 2 : 3;
  if (drop) return dominant ? 0 : 1;
  if (other) return 2;
  return 0;
}

void errorratelocus(int4 l, int4 kind, real8 hi, ErrorRateEntries& entries,
                    const PowellObjective& func, int4& progress) {
  auto& v = variables;
  v.locerrrateupdate(1) = l;
  v.locerrrateupdate(2) = kind;
  if (v.displayq == 1) writeprogress(progress, 10);
  const int4 n = kind == 3 ? 2 : 1;
  v.loglerrorrateconst = 0.0;
  v.numerrorrate = n;
  for (int4 i = 1; i <= n; ++i) {
    v.rangeerrorrate(1, i) = 0.0;
    v.rangeerrorrate(2, i) = hi;
  }
  PowellPoint best_x{};
  real8 best = 0.0;
  real8 last = 0.0;
  bool agreed = false;
  point_estimate(n, func, best_x, best, last, agreed);
  for (int4 i = 1; i <= n; ++i) entries(estimate_entry(kind, i)) = best_x(i);
  // Without agreement the last start may lie far above the optimum: the bounds aim at two
  // units above the best value found.
  v.loglerrorrateconst = (agreed ? last : best) + 2.0;
  find_bound(1, kind, n, hi, entries, func);
  find_bound(2, kind, n, hi, entries, func);
}

real8 errorratesetup() {
  auto& v = variables;
  const real8 hi = upper_limit();
  v.inferparentprt = v.btinferparent.view();
  mark_unassigned_candidates();
  // No sibship-size scaling from here on (not restored: nothing later scores families).
  v.fsscaleq = 0;
  return hi;
}

void errorrateestimate() {
  auto& v = variables;
  const bool run = errorrateprepare();
  screen_write("(/A)", "Estimating genotyping error rates...");
  write_error_rate_file(FArray<real8, 2>(), FArray<int1, 1>());
  if (!run) return;

  const real8 hi = errorratesetup();
  int4 progress = 0;
  const int4 nl = v.numloci;
  FArray<real8, 2> table{Dim(8), Dim(nl)};
  FArray<int1, 1> rows{Dim(nl)};
  const PowellObjective objective = [](const PowellPoint& x) { return loglerrorrate(x); };
  for (int4 l = 1; l <= nl; ++l) {
    ErrorRateEntries entries{};
    for (int4 k = 1; k <= 4; ++k) {
      entries(k) = v.droprate(l);
      entries(k + 4) = v.othererrorrate(l);
    }
    if (v.obsnumallele(l) >= 2) {
      const int4 kind = errorratekind(l);
      if (kind > 0) errorratelocus(l, kind, hi, entries, objective, progress);
      // The rows follow the input rates: the rates of the locus now hold the last point the
      // upper-bound search tried.
      rows(l) = (entries(4) >= 1e-8 || entries(8) >= 1e-8) ? 1 : 0;
    }
    for (int4 k = 1; k <= 8; ++k) table(k, l) = entries(k);
  }
  if (progress > 9) screen_write("(A)", "\r  Done for all loci.");
  write_error_rate_file(table, rows);
  if (v.showq == 1 && v.threadid == 0) screen_write("(A)", v.blkln.sub(1, 16));
}

}  // namespace kinrad
