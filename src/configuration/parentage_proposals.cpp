// The proposals of the individual move: per sex, one new parent for each destination family
// of the moved offspring, taken from the family's present parent or drawn among the candidates,
// and the father a diploid offspring may take along into a family of haploid offspring.
#include <algorithm>
#include <cmath>

#include "configuration/parentage_assign_internal.hpp"
#include "core/modules.hpp"
#include "core/random_numbers.hpp"

namespace kinrad::parentage_detail {

namespace {

// The present parent of sex s recorded for family id d, from its present members: through the
// family tables of the cluster that holds d when the move choice left them (the own cluster
// for a move inside it, the destination cluster for a move into another one), otherwise by a
// scan of the configuration.
int4 recorded_in_role(int4 d, int4 s, int4 movekind) {
  const auto& v = variables;
  const auto& av = annealvariables;
  const int4 own = v.crindivloc(av.moveindiv, 3);
  int4 p = -1;
  if (movekind == 1 && av.lastfamilyid(1) == own && own >= 1) {
    const int4 off = s == 1 ? 0 : av.nparent1(1);
    for (int4 k = 1; k <= av.nparent1(s) && p < 0; ++k)
      if (av.parentidx1(off + k) == d) {
        const int4 j = off + k;
        p = 0;
        for (int4 t = 1; t <= av.numpartner1(k, s) && p == 0; ++t) {
          const int4 f = av.partner1(av.locpartner1(j) + t);
          const int4 at = av.sibloc1(f);
          for (int4 m = 1; m <= av.numfamilymember1(f) && p == 0; ++m)
            p = std::max(v.inferparent2(av.familymember1(at + m), s), 0);
        }
      }
  } else if (movekind == 2 && av.lastfamilyid(2) == av.hostfamily(3) && av.hostfamily(3) >= 1) {
    const int4 off = s == 1 ? 0 : av.nparent2(1);
    for (int4 k = 1; k <= av.nparent2(s) && p < 0; ++k)
      if (av.parentidx2(off + k) == d) {
        p = 0;
        for (int4 f = 1; f <= av.numberfsfamily2 && p == 0; ++f) {
          if (av.familyidx2(f, s) != k) continue;
          const int4 at = av.familymemberloc2(f);
          for (int4 m = 1; m <= av.numfamilymember2(f) && p == 0; ++m)
            p = std::max(v.inferparent2(av.familymember2(at + m), s), 0);
        }
      }
  }
  if (p >= 0) return p;
  for (int4 o = 1; o <= v.smplsize; ++o)
    if (v.crindivloc(o, s) == d && v.inferparent2(o, s) > 0) return v.inferparent2(o, s);
  return 0;
}

// The same for the destination family: with one parent pool a family id names one parent in
// both roles, so an id that has no parent recorded in role s may have one through the
// offspring that hold it in the other role. Missing that, a moved offspring joined such a
// family with no parent while its members of the other role kept theirs.
int4 recorded_parent(int4 d, int4 s, int4 movekind) {
  const int4 p = recorded_in_role(d, s, movekind);
  if (p > 0 || variables.numsex != 1) return p;
  return recorded_in_role(d, 3 - s, movekind);
}

}  // namespace

// Proposals of sex s for the moved offspring (list 3) whose sex-s family changes; one decision
// per destination family, shared by every moved offspring bound there. true: some existing
// destination family gets a parent other than its present one, so its present members must be
// reached by the carrying even when no moved offspring's own parent changes (a destination
// taken from its parent, or one given the parent a moved offspring brings along).
bool propose_sex(int4 s, int4 movekind) {
  bool reparented = false;
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n3 = nrows(3);
  for (int4 k = 1; k <= n3; ++k) {
    const MoveRow row = move_row(3, k);
    const int4 o = row.offspring();
    const int4 d = row.family(s);
    if (d == v.crindivloc(o, s)) continue;
    if (av.selectedprntidxq1(d) == 0) {
      int4 newp = 0;
      int4 present = 0;    // the destination's present parent
      bool drawn = false;  // newp is a freshly drawn candidate
      if (d > v.crnumfamily(s)) {
        if (ran2() < 0.1) {
          const int4 c = draw_candidate(o, s);
          if (usable(c, s)) newp = c;
          drawn = newp > 0;
        }
      } else {
        present = recorded_parent(d, s, movekind);
        int4 p = present;
        const int4 q = v.inferparent(o, s);
        if (p == 0) {
          for (int4 j = 1; j <= n3; ++j) {
            const MoveRow other = move_row(3, j);
            const int4 o2 = other.offspring();
            if (o2 == o || other.family(s) != d) continue;
            if (v.inferparent(o2, s) > 0 && v.inferparent(o2, s) != q) {
              p = v.inferparent(o2, s);
              break;
            }
          }
        }
        const real8 threshold = q >= 1 ? 0.11 : 0.01;
        const real8 u = ran2();
        if (u >= threshold) {
          newp = p;
        } else if (p > 0) {
          newp = 0;
          reparented = true;
        } else if (q >= 1 && ran2() > 0.75) {
          newp = q;
        } else {
          const int4 c = draw_candidate(o, s);
          if (usable(c, s)) newp = c;
          drawn = newp > 0;
        }
      }
      // One parent pool: a moved offspring proposed selfed already has the role-1 parent of
      // this same family id; a different candidate drawn for role 2 is settled by a fair
      // coin (rounded half away from zero): 1 keeps the earlier parent, 0 gives the new one
      // to both roles.
      if (drawn && s == 2 && v.numsex == 1 && row.family(1) == d) {
        const int4 k1 = entry_of(1, o);
        if (k1 > 0 && av.inferparentage(k1, 1, 2) != newp) {
          const int4 earlier = av.inferparentage(k1, 1, 2);
          if (std::lround(ran2()) == 1) {
            newp = earlier;
          } else {
            for (int4 j = 1; j <= av.numindivparentage(1); ++j)
              if (av.parentagefamily(j, 1) == d) av.inferparentage(j, 1, 2) = newp;
          }
        }
      }
      if (d <= v.crnumfamily(s) && newp != present) reparented = true;
      av.selectedprntidxq1(d) = newp + 1;
      if (newp > 0) v.selectedprntq(newp) = 1;
    }
    const int4 newp = av.selectedprntidxq1(d) - 1;
    if (newp == v.inferparent(o, s)) continue;
    if (selfing_in_play() && row.family(1) == row.family(2)) {
      const int4 kp = v.indivparent(o, 3 - s);
      if (kp >= 1 && newp != kp) continue;
    }
    add_entry(s, o, v.inferparent(o, s), newp, d);
  }
  for (int4 k = 1; k <= n3; ++k) {
    const int4 d = move_row(3, k).family(s);
    if (av.selectedprntidxq1(d) > 1) v.selectedprntq(av.selectedprntidxq1(d) - 1) = 0;
    av.selectedprntidxq1(d) = 0;
  }
  return reparented;
}

// A diploid offspring moving into another existing cluster leaves its father f behind. When
// f then has only haploid offspring left in the source and the destination family holds only
// haploid offspring (no father of its own to keep), f may follow the offspring (one draw,
// ran2() <= 0.5): the moved offspring keep f, the offspring left with f lose him and the
// destination's offspring take him.
void haploid_father(int4 movekind) {
  auto& v = variables;
  auto& av = annealvariables;
  if (v.smplsizedh(1) <= 0 || movekind != 2 || v.offploid(av.moveindiv) != 2) return;
  int4 f = 0;
  for (int4 k = 1; k <= av.numindivparentage(1) && f == 0; ++k)
    if (v.offploid(av.indivparentage(k, 1)) == 2 && av.inferparentage(k, 1, 1) > 0)
      f = av.inferparentage(k, 1, 1);
  if (f == 0) return;
  const int4 own = v.crindivloc(av.moveindiv, 3);
  const int4 host = av.hostfamily(1);
  if (host > v.crnumfamily(1)) return;  // a new family has no offspring to look at
  const int4 n = v.smplsize;
  for (int4 k = 1; k <= nrows(3); ++k) av.selectedprntidxq2(move_row(3, k).offspring()) = 1;
  bool stays = false;   // a diploid offspring left in the source keeps f
  bool onlyhap = true;  // every offspring of the destination family is haploid
  int4 ndest = 0;
  for (int4 o = 1; o <= n; ++o) {
    if (av.selectedprntidxq2(o) != 0) continue;
    if (v.crindivloc(o, 3) == own && v.inferparent(o, 1) == f && v.offploid(o) == 2) stays = true;
    if (v.crindivloc(o, 1) == host) {
      ++ndest;
      if (v.offploid(o) == 2) onlyhap = false;
    }
  }
  if (!stays && onlyhap && ndest > 0 && ran2() <= 0.5) {
    for (int4 k = 1; k <= av.numindivparentage(1); ++k)
      if (av.inferparentage(k, 1, 1) == f && av.parentagefamily(k, 1) == host)
        av.inferparentage(k, 1, 2) = f;
    for (int4 o = 1; o <= n; ++o) {
      if (av.selectedprntidxq2(o) != 0) continue;
      if (v.crindivloc(o, 3) == own && v.inferparent(o, 1) == f)
        add_entry(1, o, f, 0, v.crindivloc(o, 1));
      else if (v.crindivloc(o, 1) == host && v.inferparent(o, 1) != f)
        add_entry(1, o, v.inferparent(o, 1), f, host);
    }
  }
  for (int4 k = 1; k <= nrows(3); ++k) av.selectedprntidxq2(move_row(3, k).offspring()) = 0;
}

}  // namespace kinrad::parentage_detail
