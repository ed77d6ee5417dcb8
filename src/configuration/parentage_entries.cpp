// The change lists of a parentage proposal and the draws of candidate parents.
#include <algorithm>
#include <cmath>

#include "configuration/parentage_assign_internal.hpp"
#include "core/modules.hpp"
#include "core/random_numbers.hpp"

namespace kinrad::parentage_detail {

// Grows the change lists to hold n entries per sex; they are never shrunk, so a run reuses them.
void reserve_entries(int4 n) {
  auto& av = annealvariables;
  n = std::max(n, 1);
  if (av.indivparentage.allocated() && av.indivparentage.ubound(1) >= n) return;
  const int4 old =
      av.indivparentage.allocated() ? static_cast<int4>(av.indivparentage.ubound(1)) : 0;
  const int4 m = std::max(n, 2 * old);
  // Entries of a proposal are written before this call or not at all, so nothing is kept.
  av.indivparentage.allocate(Dim(m), Dim(2));
  av.inferparentage.allocate(Dim(m), Dim(2), Dim(2));
  av.parentagefamily.allocate(Dim(m), Dim(2));
}

void add_entry(int4 s, int4 o, int4 oldp, int4 newp, int4 family) {
  auto& av = annealvariables;
  const int4 k = ++av.numindivparentage(s);
  if (k > av.indivparentage.ubound(1)) {
    // Rare: more changes than offspring the caller said the move touches. Keep what is there.
    const int4 m = 2 * k;
    FArray<int4, 2> a;
    FArray<int4, 3> b;
    FArray<int4, 2> c;
    a.allocate(Dim(m), Dim(2));
    b.allocate(Dim(m), Dim(2), Dim(2));
    c.allocate(Dim(m), Dim(2));
    for (int4 t = 1; t <= 2; ++t)
      for (int4 j = 1; j < k; ++j) {
        a(j, t) = av.indivparentage(j, t);
        b(j, t, 1) = av.inferparentage(j, t, 1);
        b(j, t, 2) = av.inferparentage(j, t, 2);
        c(j, t) = av.parentagefamily(j, t);
      }
    av.indivparentage = std::move(a);
    av.inferparentage = std::move(b);
    av.parentagefamily = std::move(c);
  }
  av.indivparentage(k, s) = o;
  av.inferparentage(k, s, 1) = oldp;
  av.inferparentage(k, s, 2) = newp;
  av.parentagefamily(k, s) = family;
}

// A candidate of sex s for offspring o: uniform among few candidates, otherwise from the
// offspring's list of best candidates (0: none drawn).
int4 draw_candidate(int4 o, int4 s) {
  const auto& v = variables;
  const int4 nc = ncand(s);
  if (nc <= 9) return uniform_draw(nc);
  const int4 k = v.numbestcnd(o, s);
  if (k == 0) return 0;
  if (k == 5) {
    const real8 u = ran2();
    // A full list may miss the parent; prbbestcnd1 is the chance it does not.
    if (!(u <= static_cast<real8>(v.prbbestcnd1(o, s)) || u < 0.0001)) return uniform_draw(nc);
  }
  const int4 base = (s - 1) * 5;
  if (k == 1) return v.bestcnd(o, base + 1);
  const real8 u = ran2();
  for (int4 j = 1; j <= k; ++j)
    if (u <= v.prbbestcnd(o, base + j)) return v.bestcnd(o, base + j);
  return v.bestcnd(o, base + 1);
}

// Free to become a parent: no known parent, a parent of no family, and not yet proposed for
// another group of this move (marked in selectedprntq).
bool usable(int4 c, int4 s) {
  const auto& v = variables;
  const auto& av = annealvariables;
  if (c < 1) return false;
  const int4 r0 = v.numsex == 1 ? 1 : s;
  const int4 r1 = v.numsex == 1 ? 2 : s;
  for (int4 r = r0; r <= r1; ++r)
    if (av.unassignedcnd(c, r) < 1 || v.knownprntq(c, r) > 0) return false;
  return v.selectedprntq(c) == 0;
}

}  // namespace kinrad::parentage_detail
