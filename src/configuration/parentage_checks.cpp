// The checks a proposal's change lists pass before it is scored: haploid offspring without a
// father, one parent per family and one family per parent, and one parent of a selfed offspring.
#include <algorithm>

#include "configuration/parentage_assign_internal.hpp"
#include "core/modules.hpp"

namespace kinrad::parentage_detail {

// Haploid offspring have no father: their sex-1 entries go, and a father left with only
// haploid offspring behind loses them too.
bool haploid_adjustment() {
  bool kept = true;
  auto& v = variables;
  auto& av = annealvariables;
  compact_entries(1, [&](int4 k) { return v.offploid(av.indivparentage(k, 1)) == 2; });
  for (int4 k = 1; k <= av.numindivparentage(1); ++k)
    av.inferparentage(k, 1, 1) = v.inferparent(av.indivparentage(k, 1), 1);
  const int4 n = av.numindivparentage(1);
  for (int4 k = 1; k <= n; ++k) {
    const int4 f = av.inferparentage(k, 1, 1);
    const int4 g = av.inferparentage(k, 1, 2);
    bool first = true;
    for (int4 j = 1; j < k && first; ++j)
      if (av.inferparentage(j, 1, 1) == f && av.inferparentage(j, 1, 2) == g) first = false;
    if (!first || f < 1 || av.numindiv(1) <= 0) continue;
    int4 nhap = 0, ndip = 0;
    for (int4 r = 1; r <= av.numindiv(1); ++r) {
      const int4 o = av.indivloc1(r, 4);
      if (v.inferparent(o, 1) != f) continue;
      if (v.offploid(o) == 2)
        ++ndip;
      else
        ++nhap;
    }
    if (nhap < 1 || ndip > 0) continue;
    for (int4 r = 1; r <= av.numindiv(1); ++r) {
      const int4 o = av.indivloc1(r, 4);
      if (v.inferparent(o, 1) != f) continue;
      if (v.indivparent(o, 1) >= 1) kept = false;
      add_entry(1, o, f, 0, av.indivloc1(r, 1));
    }
  }
  return kept;
}

// The configuration the proposal leaves must give every family of the touched rows one parent
// and every sampled parent one family, per sex; with one parent pool a family id names one
// parent in both roles, so roles r0..r1 = 1..2 are taken together. The proposals can break
// this: a moved offspring that brings its parent along into a family without a sampled parent
// takes that parent away from no one, so the sibs it leaves behind keep the same parent in
// their own family. Such a proposal is refused. Parents after the move: an entry's new parent,
// else the recorded one (inferparent2, known parents included). Haploid offspring have no
// sex-1 parent.
bool one_parent_per_family(int4 r0, int4 r1) {
  const auto& v = variables;
  auto& av = annealvariables;
  const auto skipped = [&](int4 s, int4 o) {
    return s == 1 && v.smplsizedh(1) > 0 && v.offploid(o) != 2;
  };
  // The parent of offspring o in role s after the move; its entry found through the marks
  // selectedprntidxq3, set for role s while that role is visited.
  const auto after = [&](int4 s, int4 o) {
    const int4 k = av.selectedprntidxq3(o);
    return std::max(k > 0 ? av.inferparentage(k, s, 2) : v.inferparent2(o, s), 0);
  };
  const auto mark_entries = [&](int4 s, int4 value) {
    for (int4 k = 1; k <= av.numindivparentage(s); ++k)
      av.selectedprntidxq3(av.indivparentage(k, s)) = value > 0 ? k : 0;
  };
  // Pass 1: family id -> parent + 1 in selectedprntidxq1. Pass 2: sampled parent -> family id
  // in the same marks (pass 1 has cleared them).
  bool ok = true;
  for (int4 pass = 1; pass <= 2 && ok; ++pass) {
    for (int4 s = r0; s <= r1; ++s) {
      mark_entries(s, 1);
      for (int4 list = 1; list <= 3 && ok; ++list)
        for (int4 k = 1; k <= nrows(list) && ok; ++k) {
          const MoveRow row = move_row(list, k);
          const int4 o = row.offspring();
          if (skipped(s, o)) continue;
          const int4 d = row.family(s), p = after(s, o);
          if (pass == 2 && p == 0) continue;
          const int4 key = pass == 1 ? d : p;
          const int4 value = pass == 1 ? p + 1 : d;
          int4& mark = av.selectedprntidxq1(key);
          if (mark == 0) mark = value;
          if (mark != value) ok = false;
        }
      mark_entries(s, 0);
    }
    for (int4 s = r0; s <= r1; ++s) {
      mark_entries(s, 1);
      for (int4 list = 1; list <= 3; ++list)
        for (int4 k = 1; k <= nrows(list); ++k) {
          const MoveRow row = move_row(list, k);
          const int4 key = pass == 1 ? row.family(s) : after(s, row.offspring());
          if (key > 0) av.selectedprntidxq1(key) = 0;
        }
      mark_entries(s, 0);
    }
  }
  return ok;
}

// With selfing in play, a moved offspring proposed as selfed ends with one parent in both
// roles: a known parent of either role, else the role-1 parent it is proposed. A role with a
// known parent needs no entry (the known parent is its parent). Run after the proposals and
// again after the parents are carried, which may map the family otherwise in one role.
void selfed_agreement() {
  auto& v = variables;
  auto& av = annealvariables;
  const auto find = [&](int4 r, int4 o) {
    for (int4 k = 1; k <= av.numindivparentage(r); ++k)
      if (av.indivparentage(k, r) == o) return k;
    return 0;
  };
  for (int4 k = 1; k <= nrows(3); ++k) {
    const MoveRow row = move_row(3, k);
    if (row.family(1) != row.family(2)) continue;
    const int4 o = row.offspring();
    const int4 e1 = find(1, o);
    int4 target = e1 > 0 ? av.inferparentage(e1, 1, 2) : v.inferparent(o, 1);
    if (v.indivparent(o, 2) >= 1) target = v.indivparent(o, 2);
    if (v.indivparent(o, 1) >= 1) target = v.indivparent(o, 1);
    for (int4 r = 1; r <= 2; ++r) {
      if (v.indivparent(o, r) >= 1) continue;
      const int4 e = find(r, o);
      const int4 now = e > 0 ? av.inferparentage(e, r, 2) : v.inferparent(o, r);
      if (now == target) continue;
      if (e > 0)
        av.inferparentage(e, r, 2) = target;
      else
        add_entry(r, o, v.inferparent(o, r), target, row.family(r));
    }
  }
}

}  // namespace kinrad::parentage_detail
