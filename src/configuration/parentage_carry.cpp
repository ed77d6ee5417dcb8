// The binding of known parents of the moved offspring to their families, and the carrying of
// the proposed parents to every member of the families the move touches.
#include <algorithm>

#include "configuration/parentage_assign_internal.hpp"
#include "core/modules.hpp"

namespace kinrad::parentage_detail {

// Known parents of sex s of the moved offspring are bound to the family their first moved
// offspring goes to; offspring of the move that keep such a parent but go elsewhere lose it.
// false: two different known parents bound for one family.
bool bind_known_parents(int4 s) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n3 = nrows(3);
  bool ok = true;
  // Known parent -> bound family id (selectedprntidxq1 over candidates), and family id ->
  // known parent (selectedprntidxq3) to catch two known parents bound for one family.
  for (int4 k = 1; k <= n3 && ok; ++k) {
    const MoveRow row = move_row(3, k);
    const int4 kp = v.indivparent(row.offspring(), s);
    if (kp < 1 || av.selectedprntidxq1(kp) != 0) continue;
    const int4 d = row.family(s);
    if (av.selectedprntidxq3(d) != 0 && av.selectedprntidxq3(d) != kp) ok = false;
    av.selectedprntidxq1(kp) = d;
    av.selectedprntidxq3(d) = kp;
  }
  if (ok) {
    for (int4 k = 1; k <= av.numindivparentage(s); ++k)
      av.selectedprntidxq2(av.indivparentage(k, s)) = 1;
    for (int4 list = 1; list <= 2; ++list)
      for (int4 k = 1; k <= nrows(list); ++k) {
        const MoveRow row = move_row(list, k);
        const int4 o = row.offspring();
        const int4 p = v.inferparent(o, s);
        if (p < 1 || av.selectedprntidxq1(p) == 0) continue;
        if (row.family(s) == av.selectedprntidxq1(p) || av.selectedprntidxq2(o) != 0) continue;
        av.selectedprntidxq2(o) = 1;
        add_entry(s, o, p, 0, row.family(s));
      }
    for (int4 k = 1; k <= av.numindivparentage(s); ++k)
      av.selectedprntidxq2(av.indivparentage(k, s)) = 0;
  }
  for (int4 k = 1; k <= n3; ++k) {
    const MoveRow row = move_row(3, k);
    const int4 kp = v.indivparent(row.offspring(), s);
    if (kp >= 1) av.selectedprntidxq1(kp) = 0;
    av.selectedprntidxq3(row.family(s)) = 0;
  }
  return ok;
}

// With selfing in play a family id names one parent in both roles: the known parent kp of
// role r of a moved offspring binds its proposed role-r family (the first binding holds), and
// every moved offspring that has that family in the other role without an entry there takes
// kp, unless its own known parent of that role differs (false: rejected).
bool bind_across_roles(int4 r) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 t = 3 - r;
  const int4 n3 = nrows(3);
  for (int4 k = 1; k <= n3; ++k) {
    const MoveRow row = move_row(3, k);
    const int4 kp = v.indivparent(row.offspring(), r);
    if (kp >= 1 && av.selectedprntidxq1(row.family(r)) == 0)
      av.selectedprntidxq1(row.family(r)) = kp;
  }
  bool ok = true;
  for (int4 k = 1; k <= n3 && ok; ++k) {
    const MoveRow row = move_row(3, k);
    const int4 o = row.offspring();
    const int4 kp = av.selectedprntidxq1(row.family(t));
    if (kp == 0 || entry_of(t, o) > 0) continue;
    const int4 own = v.indivparent(o, t);
    if (own < 1) {
      if (v.inferparent(o, t) != kp) add_entry(t, o, v.inferparent(o, t), kp, row.family(t));
    } else if (own != kp) {
      ok = false;
    }
  }
  for (int4 k = 1; k <= n3; ++k) av.selectedprntidxq1(move_row(3, k).family(r)) = 0;
  return ok;
}

// Carries the proposed parents of sex s to every member of the touched families.
bool carry_parents(int4 s) {
  bool kept = true;
  auto& v = variables;
  auto& av = annealvariables;
  const bool skiphaploid = s == 1 && v.smplsizedh(1) > 0;
  const auto passed_over = [&](const MoveRow& row) {
    const int4 o = row.offspring();
    if (skiphaploid && v.offploid(o) != 2) return true;
    return false;
  };
  for (int4 k = 1; k <= av.numindivparentage(s); ++k) {
    av.selectedprntidxq2(av.indivparentage(k, s)) = 1;
    const int4 d = av.parentagefamily(k, s);
    if (av.selectedprntidxq1(d) == 0) av.selectedprntidxq1(d) = av.inferparentage(k, s, 2) + 1;
  }
  int4 before = -1;
  for (int4 list = 3; list >= 1; --list)
    for (int4 k = 1; k <= nrows(list); ++k) {
      const MoveRow row = move_row(list, k);
      if (passed_over(row)) continue;
      const int4 d = row.family(s);
      const int4 o = row.offspring();
      if (d != before && av.selectedprntidxq2(o) == 0 && av.selectedprntidxq1(d) <= 1)
        av.selectedprntidxq1(d) = v.inferparent2(o, s) + 1;
      before = d;
    }
  for (int4 list = 3; list >= 1; --list)
    for (int4 k = 1; k <= nrows(list); ++k) {
      const MoveRow row = move_row(list, k);
      const int4 o = row.offspring();
      if (av.selectedprntidxq2(o) != 0 || passed_over(row)) continue;
      if (selfing_in_play() && row.family(1) == row.family(2) && v.indivparent(o, 3 - s) >= 1)
        continue;
      const int4 d = row.family(s);
      if (av.selectedprntidxq1(d) == 0) continue;
      const int4 p = av.selectedprntidxq1(d) - 1;
      // An offspring with a known parent holds it in indivparent alone (inferparent stays 0):
      // a family that keeps that parent leaves it as it is, and one given any other parent
      // would replace a known parent, which is refused.
      const int4 kp = v.indivparent(o, s);
      if (kp >= 1) {
        if (p != kp) kept = false;
        continue;
      }
      if (p == v.inferparent(o, s)) continue;
      av.selectedprntidxq2(o) = 1;
      add_entry(s, o, v.inferparent(o, s), p, d);
    }
  for (int4 list = 1; list <= 3; ++list)
    for (int4 k = 1; k <= nrows(list); ++k) {
      const MoveRow row = move_row(list, k);
      av.selectedprntidxq1(row.family(s)) = 0;
      av.selectedprntidxq2(row.offspring()) = 0;
    }
  for (int4 k = 1; k <= av.numindivparentage(s); ++k) {
    av.selectedprntidxq1(av.parentagefamily(k, s)) = 0;
    av.selectedprntidxq2(av.indivparentage(k, s)) = 0;
  }
  return kept;
}

// One parent pool: a family id names one parent in both roles, so a parent proposed through
// one role reaches the offspring that have that family in the other role.
bool carry_across_roles() {
  bool kept = true;
  auto& v = variables;
  auto& av = annealvariables;
  for (int4 r = 1; r <= 2; ++r) {
    const int4 o2 = 3 - r;
    for (int4 k = 1; k <= av.numindivparentage(o2); ++k) {
      const int4 d = av.parentagefamily(k, o2);
      if (av.selectedprntidxq1(d) == 0) av.selectedprntidxq1(d) = av.inferparentage(k, o2, 2) + 1;
    }
    for (int4 k = 1; k <= av.numindivparentage(r); ++k)
      av.selectedprntidxq2(av.indivparentage(k, r)) = 1;
    for (int4 list = 3; list >= 1; --list)
      for (int4 k = 1; k <= nrows(list); ++k) {
        const MoveRow row = move_row(list, k);
        const int4 o = row.offspring();
        const int4 d = row.family(r);
        if (av.selectedprntidxq2(o) != 0 || av.selectedprntidxq1(d) == 0) continue;
        const int4 p = av.selectedprntidxq1(d) - 1;
        const int4 kp = v.indivparent(o, r);
        if (kp >= 1) {
          if (p != kp) kept = false;
          continue;
        }
        if (p == v.inferparent(o, r)) continue;
        av.selectedprntidxq2(o) = 1;
        add_entry(r, o, v.inferparent(o, r), p, d);
      }
    for (int4 k = 1; k <= av.numindivparentage(r); ++k)
      av.selectedprntidxq2(av.indivparentage(k, r)) = 0;
    for (int4 k = 1; k <= av.numindivparentage(o2); ++k)
      av.selectedprntidxq1(av.parentagefamily(k, o2)) = 0;
  }
  return kept;
}

}  // namespace kinrad::parentage_detail
