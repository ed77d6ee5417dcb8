// Candidate parents proposed for the families a move touches, and whether the proposal keeps
// every known parent and mating rule it can check here.
//
// The individual move runs in stages over the change lists: proposals per sex
// (parentage_proposals.cpp), the binding of known parents and the carrying of the proposed
// parents to the rest of the touched families (parentage_carry.cpp), and the checks the lists
// must pass (parentage_checks.cpp). The family move gives a whole family one new parent
// (parentage_family_move.cpp). The change lists and the candidate draws both share are in
// parentage_entries.cpp.
#include <algorithm>

#include "configuration/configuration.hpp"
#include "configuration/parentage_assign_internal.hpp"
#include "core/modules.hpp"

namespace kinrad::parentage_detail {

// The individual move: proposals per sex, the binding of known parents, and the parents
// carried to the rest of the touched families. false: rejected.
bool individual_move(const FStatic<int4, 1, 4>& numassign, int4 movekind) {
  auto& v = variables;
  auto& av = annealvariables;
  // Roles: one per sex, and both roles with one parent pool.
  const int4 numsex = v.numsex == 1 ? 2 : v.numsex;
  FStatic<int4, 1, 2> flag{};
  for (int4 s = 1; s <= numsex; ++s) {
    if (v.numknownprnt(s) <= 0) continue;
    if (v.indivparent(av.moveindiv, s) >= 1) flag(s) = 1;
    for (int4 list = 1; list <= 3 && flag(s) == 0; ++list)
      for (int4 k = 1; k <= nrows(list); ++k)
        if (v.indivparent(move_row(list, k).offspring(), s) >= 1) {
          flag(s) = 1;
          break;
        }
  }
  FStatic<int4, 1, 2> ran{};
  FStatic<int4, 1, 2> moved{};  // some moved offspring changes its family of that sex
  for (int4 s = 1; s <= numsex; ++s)
    for (int4 k = 1; k <= nrows(3) && moved(s) == 0; ++k) {
      const MoveRow row = move_row(3, k);
      if (row.family(s) != v.crindivloc(row.offspring(), s)) moved(s) = 1;
    }
  bool reparented = false;
  const bool anyassigned = numassign(1) > 0 || numassign(2) > 0;
  for (int4 s = 1; s <= numsex; ++s) {
    if (ncand(s) < 1 || v.sibshipdone(s) != 0) continue;
    // A known parent whose family changes members changes their parent even when no entry
    // is proposed (it lives in indivparent, and its family's other members must take it or
    // lose it), so its parents are carried even without any assigned candidate.
    const bool knownmoves = v.anyknownprntq(s) != 0 && flag(s) != 0 && moved(s) != 0;
    if (!anyassigned && !knownmoves) continue;
    ran(s) = 1;
    if (anyassigned) {
      // A destination whose sampled parent is taken away changes its members' parent even
      // when no moved offspring's own parent changes, so the carrying below must still run.
      if (propose_sex(s, movekind)) reparented = true;
      if (s == 1) haploid_father(movekind);
    }
    if (knownmoves) {
      if (!bind_known_parents(s)) return false;
      reparented = true;
    }
  }
  if (selfing_in_play())
    for (int4 r = 1; r <= 2; ++r)
      if (v.anyknownprntq(r) != 0 && flag(r) != 0 && moved(r) != 0 && !bind_across_roles(r))
        return false;
  if (v.allowinbreeding == 1 && selfing_in_play()) selfed_agreement();
  if (av.numindivparentage(1) == 0 && av.numindivparentage(2) == 0 && !reparented) return true;
  for (int4 s = 1; s <= numsex; ++s)
    compact_entries(s, [&](int4 k) { return v.indivparent(av.indivparentage(k, s), s) < 1; });
  for (int4 s = 1; s <= numsex; ++s)
    if (ran(s) != 0 && !carry_parents(s)) return false;
  if (v.numsex == 1 && !carry_across_roles()) return false;
  if (v.allowinbreeding == 1 && selfing_in_play()) selfed_agreement();
  for (int4 s = 1; s <= numsex; ++s)
    compact_entries(
        s, [&](int4 k) { return av.inferparentage(k, s, 1) != av.inferparentage(k, s, 2); });
  if (v.smplsizedh(1) >= 1 && av.numindivparentage(1) > 0 && !haploid_adjustment()) return false;
  if (v.numsex == 1) return (ran(1) == 0 && ran(2) == 0) || one_parent_per_family(1, 2);
  for (int4 s = 1; s <= numsex; ++s)
    if (ran(s) != 0 && !one_parent_per_family(s, s)) return false;
  return true;
}

}  // namespace kinrad::parentage_detail

namespace kinrad {

void parentageassign(FStatic<int4, 1, 4>& sizes, FStatic<int4, 1, 4>& numassign, int4& movekind,
                     int4& movepos, FStatic<int4, 1, 3>& familymove, int4& listlen,
                     FArray<int4, 2>& eligible, int4& knownsibside,
                     FStatic<int4, 1, 2>& numunassigned, int4& result) {
  auto& v = variables;
  auto& av = annealvariables;
  (void)listlen;
  (void)knownsibside;
  // A proposal that changes no parent must not inherit the last one's changes.
  av.numindivparentage.fill(0);
  result = 1;
  if (v.allcandidate < 1) return;
  if (av.movingtype == 1) {
    if (av.numindivlocidx(3) < 1) return;
    parentage_detail::reserve_entries(sizes(3) + sizes(4));
    if (!parentage_detail::individual_move(numassign, movekind)) result = 0;
  } else if (av.movingtype == 2) {
    parentage_detail::reserve_entries(sizes(3));
    if (!parentage_detail::family_move(familymove, movepos, eligible, numunassigned)) result = 0;
  }
}

}  // namespace kinrad
