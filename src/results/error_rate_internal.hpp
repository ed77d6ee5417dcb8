#pragma once
// The per-locus error-rate estimation of the result phase: its objective (the negative log
// likelihood of one locus over the clusters of the best configuration and the unassigned
// candidates), the direction-set minimiser that fits it inside a box, and the estimation step
// that `output` runs last.
#include <functional>

#include "core/farray.hpp"
#include "core/kinds.hpp"

namespace kinrad {

// A point of the minimiser: entries 1..n are used (n at most 50, the size of the line state).
using PowellPoint = FStatic<real8, 1, 50>;
// The function the minimiser drives. Production passes loglerrorrate; tests pass synthetic
// functions.
using PowellObjective = std::function<real8(const PowellPoint&)>;

// --- The objective -----------------------------------------------------------------------------

// The objective at the trial rates x(1..numerrorrate) for the locus and kind of
// locerrrateupdate: 1e100 outside rangeerrorrate (nothing changed); otherwise the rates of the
// locus are set, its tables rebuilt, and the result is min(|S - loglerrorrateconst|, 1e100) with
// S = sum of x - ln L(every cluster 1..crnumfamily(3) of the cluster tables) - sum of ln P(every
// typed candidate with unassignedcnd > 0).
real8 loglerrorrate(const PowellPoint& x);
// One parent pool: fills parentjdx for cluster c (just made current by familybuild0) with the
// links between the two roles of one individual: parentjdx(i, 1) = k and parentjdx(k, 2) = i
// when role-1 parent i and role-2 parent k are one individual; every other entry 0.
void setmonoprnt(int4 c);

// --- The direction-set minimiser ---------------------------------------------------------------

// Minimises func from p along the columns of xi (n x n used, leading dimension np), directions
// tried 1..n when order is 0 and n..1 otherwise, to the relative tolerance ftol. Returns the
// minimum in p and fret, the updated directions in xi and the iterations made in iter. Stops
// the program after 200 iterations without convergence.
void powell(int4 order, PowellPoint& p, FArray<real8, 2>& xi, int4 n, int4 np, real8 ftol,
            int4& iter, real8& fret, const PowellObjective& func);
// Minimises func along xi(1..n) from p inside rangeerrorrate: xi becomes the step taken, p
// moves by it and fret is the value there.
void linmin(PowellPoint& p, PowellPoint& xi, int4 n, real8& fret, const PowellObjective& func);
// func at the point of step t along the line state.
real8 f1dim(real8 t, const PowellObjective& func);

// --- The estimation ----------------------------------------------------------------------------

// The eight results of one locus, in this order: dropout estimate, lower bound, upper bound,
// start value, then the same four for the other-error rate.
using ErrorRateEntries = FStatic<real8, 1, 8>;

// The estimation kind of locus l from its input rates: 0 when it is not estimated, else 1
// (dropout only), 2 (other error only) or 3 (both).
int4 errorratekind(int4 l);
// Estimates the rates of locus l (of kind `kind` >= 1) with upper box limit hi by minimising
// func, whose entries are already initialised to the input rates; fills the estimates and
// bounds. `progress` is the spinner counter.
void errorratelocus(int4 l, int4 kind, real8 hi, ErrorRateEntries& entries,
                    const PowellObjective& func, int4& progress);
// The preparation that always runs at this point of the result phase: releases locus2logl and
// copies the best configuration into the current one; with ERR > 0 numbers and measures its
// clusters and builds the cluster tables. Returns whether the estimation is to run (ERR > 0 and,
// under the pairwise-score method, no cluster scoring below -1e100).
bool errorrateprepare();
// The set-up of the estimation: points inferparentprt at the best parents, marks the
// unassigned candidates (a candidate of one parent pool once, in column 1) and turns the
// sibship-size scaling off. Returns the upper limit of every rate (0.5 when some cluster has
// more than 200 parents of one sex, else 1).
real8 errorratesetup();
// The error-rate step of the result phase: prepares the current configuration and the cluster
// tables from the best configuration, writes ".ErrorRate" with its header and, with ERR > 0
// (and, under the pairwise-score method, no impossible cluster), estimates every locus and
// writes the file again with its rows.
void errorrateestimate();

}  // namespace kinrad
