// The family move: the whole sex-s family of moveindiv takes one new parent, drawn among the
// eligible candidates (or the unsampled parent), and the entries of every member of the
// parent's families; with one parent pool the same id in the other role follows.
#include <algorithm>

#include "configuration/parentage_assign_internal.hpp"
#include "core/modules.hpp"
#include "core/random_numbers.hpp"

namespace kinrad::parentage_detail {

namespace {

// Links the entries of the two roles that belong to one offspring (offspring marked with
// their role-1 entry in selectedprntidxq1, cleared afterwards).
void link_roles() {
  auto& av = annealvariables;
  const int4 n1 = av.numindivparentage(1);
  const int4 n2 = av.numindivparentage(2);
  const int4 need = std::max(n1, n2);
  if (need > 0 && (av.indivloc3.ubound(1) < need || av.indivloc3.ubound(2) < 2))
    av.indivloc3.allocate(Dim(std::max<int4>(need, static_cast<int4>(av.indivloc3.ubound(1)))),
                          Dim(std::max<int4>(4, static_cast<int4>(av.indivloc3.ubound(2)))));
  for (int4 k = 1; k <= n1; ++k) {
    av.indivloc3(k, 1) = 0;
    av.selectedprntidxq1(av.indivparentage(k, 1)) = k;
  }
  for (int4 k = 1; k <= n2; ++k) {
    const int4 j = av.selectedprntidxq1(av.indivparentage(k, 2));
    av.indivloc3(k, 2) = j;
    if (j > 0) av.indivloc3(j, 1) = k;
  }
  for (int4 k = 1; k <= n1; ++k) av.selectedprntidxq1(av.indivparentage(k, 1)) = 0;
}

// A candidate of sex s for a family move from the eligible list (entry 0 the count).
int4 eligible_draw(const FArray<int4, 2>& eligible, int4 s) {
  return eligible(uniform_draw(eligible(0, s)), s);
}

// True when the side-1 family tables describe the cluster of moveindiv and local full-sib
// family `movepos` holds it, as the move choice leaves them for every move. Fixtures that
// write the move tables by hand may not build them; their members are then found by a scan of
// the configuration (the same offspring, in offspring order).
bool tables_describe_family(int4 movepos) {
  const auto& v = variables;
  const auto& av = annealvariables;
  const int4 mi = av.moveindiv;
  if (av.lastfamilyid(1) != v.crindivloc(mi, 3) || av.lastfamilyid(1) < 1) return false;
  if (movepos < 1 || movepos > av.numberfsfamily1) return false;
  const int4 at = av.sibloc1(movepos);
  for (int4 t = 1; t <= av.numfamilymember1(movepos); ++t)
    if (av.familymember1(at + t) == mi) return true;
  return false;
}

// Visits the members of every full-sib family of the parent at position pos of sex s in the
// side-1 tables: the families in partner-list order, members ascending.
template <class Visit>
void for_partner_members(int4 s, int4 pos, Visit visit) {
  const auto& av = annealvariables;
  const int4 j = (s - 1) * av.nparent1(1) + pos;
  for (int4 t = 1; t <= av.numpartner1(pos, s); ++t) {
    const int4 f = av.partner1(av.locpartner1(j) + t);
    const int4 at = av.sibloc1(f);
    for (int4 m = 1; m <= av.numfamilymember1(f); ++m) visit(av.familymember1(at + m));
  }
}

}  // namespace

// The family move: the whole sex-s family of moveindiv takes one new parent (or the
// unsampled one). false: rejected.
bool family_move(FStatic<int4, 1, 3>& familymove, int4 movepos, FArray<int4, 2>& eligible,
                 const FStatic<int4, 1, 2>& numunassigned) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  const int4 s = familymove(3);
  const int4 r = 3 - s;
  const int4 mi = av.moveindiv;
  const int4 fam = v.crindivloc(mi, s);
  const bool pool = v.numsex == 1;
  const bool selfing = selfing_in_play();
  const int4 old = v.inferparent(mi, s);
  int4 newp = -1;  // -1: still to be drawn
  if (old > 0) {
    if (pool && v.anyknownprntq(r) != 0) {
      if (v.knownprntq(old, r) > 0) return false;
      for (int4 o = 1; o <= n; ++o)
        if (v.crindivloc(o, s) == fam && v.crindivloc(o, r) == v.crindivloc(mi, r) &&
            v.indivparent(o, r) >= 1)
          return false;
    }
    if (ran2() >= 0.99) newp = 0;
  }
  if (newp < 0) {
    if (numunassigned(s) == 0) return false;
    const int4 nc = v.numcandidate(s);
    if (nc > 9 && v.numbestcnd(mi, s) == 0) return false;
    if (eligible(0, s) == -1) {
      int4 count = 0;
      for (int4 c = 1; c <= nc; ++c) {
        bool ok = true;
        for (int4 t = pool ? 1 : s; t <= (pool ? 2 : s); ++t)
          if (v.knownprntq(c, t) > 0 || av.unassignedcnd(c, t) < 1) ok = false;
        if (ok) eligible(++count, s) = c;
      }
      eligible(0, s) = count;
    }
    const int4 count = eligible(0, s);
    if (count == 0) return false;
    if (count == 1) {
      newp = eligible(1, s);
    } else if (nc <= 9) {
      newp = eligible_draw(eligible, s);
    } else {
      const int4 k = v.numbestcnd(mi, s);
      bool fromlist = true;
      if (k == 5) {
        const real8 u = ran2();
        fromlist = u <= static_cast<real8>(v.prbbestcnd1(mi, s)) || u < 0.0001;
      }
      if (!fromlist) {
        newp = eligible_draw(eligible, s);
      } else {
        const int4 base = (s - 1) * 5;
        int4 c = v.bestcnd(mi, base + 1);
        if (k > 1) {
          const real8 u = ran2();
          for (int4 j = 1; j <= k; ++j)
            if (u <= v.prbbestcnd(mi, base + j)) {
              c = v.bestcnd(mi, base + j);
              break;
            }
        }
        newp = usable(c, s) ? c : eligible_draw(eligible, s);
      }
    }
  }
  familymove(1) = old;
  familymove(2) = newp;
  if (tables_describe_family(movepos)) {
    // Every full-sib family of the moved parent, in the order of its partner list.
    const int4 nf = av.numberfsfamily1;
    for_partner_members(s, av.familyidx1((s - 1) * nf + movepos),
                        [&](int4 o) { add_entry(s, o, old, newp, fam); });
    if (pool && v.sibshipdone(s) == 0) {
      // The same pool id as a parent of the other role, when it is one in this cluster.
      const int4 off = r == 1 ? 0 : av.nparent1(1);
      for (int4 k = 1; k <= av.nparent1(r); ++k)
        if (av.parentidx1(off + k) == fam) {
          for_partner_members(r, k, [&](int4 o) {
            if (v.indivparent(o, r) < 1) add_entry(r, o, old, newp, fam);
          });
          break;
        }
    }
  } else {
    for (int4 o = 1; o <= n; ++o)
      if (v.crindivloc(o, s) == fam) add_entry(s, o, old, newp, fam);
    if (pool && v.sibshipdone(s) == 0)
      for (int4 o = 1; o <= n; ++o)
        if (v.crindivloc(o, r) == fam && v.indivparent(o, r) < 1) add_entry(r, o, old, newp, fam);
  }
  if (newp != old) av.numindivparentage(3) = 1;
  // With selfing in play the two roles' entries of one offspring are linked: column t of
  // indivloc3 holds, for the role-t entry k, the index of the other role's entry (0: none).
  if (selfing) link_roles();
  // No parent may replace a known one: neither a sampled candidate nor the unsampled parent,
  // which would leave the known parent's offspring alone with it in a family whose other
  // members lose it. A selfed offspring keeps one parent in both roles.
  for (int4 t = 1; t <= 2; ++t) {
    if (v.numknownprnt(t) == 0 && !selfing) continue;
    const int4 u = 3 - t;
    for (int4 k = 1; k <= av.numindivparentage(t); ++k) {
      const int4 np = av.inferparentage(k, t, 2);
      const int4 o = av.indivparentage(k, t);
      if (v.indivparent(o, t) > 0 && np != v.indivparent(o, t)) return false;
      if (np <= 0) continue;
      if (!selfing || v.crindivloc(o, 1) != v.crindivloc(o, 2)) continue;
      const int4 j = av.indivloc3(k, t);
      const int4 p = j > 0 ? av.inferparentage(j, u, 2) : v.inferparent(o, u);
      if (np != std::max(p, v.indivparent(o, u))) return false;
    }
  }
  if (av.numindivparentage(1) == 0 && av.numindivparentage(2) == 0 && av.numindivparentage(3) == 0)
    return true;
  for (int4 t = 1; t <= (pool ? 2 : v.numsex); ++t)
    compact_entries(t, [&](int4 k) {
      return v.indivparent(av.indivparentage(k, t), t) < 1 &&
             av.inferparentage(k, t, 1) != av.inferparentage(k, t, 2);
    });
  if (v.smplsizedh(1) >= 1 && av.numindivparentage(1) > 0) return haploid_adjustment();
  return true;
}

}  // namespace kinrad::parentage_detail
