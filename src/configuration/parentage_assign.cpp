// Candidate parents proposed for the families a move touches, and whether the proposal keeps
// every known parent and mating rule it can check here.
#include <algorithm>
#include <cmath>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "core/random_numbers.hpp"

namespace kinrad {

namespace {

// One row of the move tables: list 1 rows live in indivloc1, lists 2 and 3 in indivloc2.
struct MoveRow {
  FArray<int4, 2>* table;
  int4 row;
  int4 offspring() const { return (*table)(row, 4); }
  int4 family(int4 s) const { return (*table)(row, s); }
};

MoveRow move_row(int4 list, int4 k) {
  auto& av = annealvariables;
  const int4 r = av.indivlocidx(k, list);
  return MoveRow{list == 1 ? &av.indivloc1 : &av.indivloc2, r};
}

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

// Keeps, in order, the sex-s entries for which keep(k) holds.
template <class Keep>
void compact_entries(int4 s, Keep keep) {
  auto& av = annealvariables;
  int4 m = 0;
  const int4 n = av.numindivparentage(s);
  for (int4 k = 1; k <= n; ++k) {
    if (!keep(k)) continue;
    ++m;
    if (m != k) {
      av.indivparentage(m, s) = av.indivparentage(k, s);
      av.inferparentage(m, s, 1) = av.inferparentage(k, s, 1);
      av.inferparentage(m, s, 2) = av.inferparentage(k, s, 2);
      av.parentagefamily(m, s) = av.parentagefamily(k, s);
    }
  }
  av.numindivparentage(s) = m;
}

// The sex-s entry of offspring o (0: none).
int4 entry_of(int4 s, int4 o) {
  const auto& av = annealvariables;
  for (int4 k = 1; k <= av.numindivparentage(s); ++k)
    if (av.indivparentage(k, s) == o) return k;
  return 0;
}

// Candidates of sex s; with one parent pool both roles draw from the pool.
int4 ncand(int4 s) {
  return variables.numsex == 1 ? variables.numcandidate(1) : variables.numcandidate(s);
}

int4 uniform_draw(int4 n) {
  return static_cast<int4>(std::floor(static_cast<real8>(n) * ran2() + 1.0));
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

bool selfing_in_play() {
  return variables.allowinbreeding == variables.numsex;
}

int4 nrows(int4 list) {
  return annealvariables.numindivlocidx(list);
}

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

}  // namespace

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
    reserve_entries(sizes(3) + sizes(4));
    if (!individual_move(numassign, movekind)) result = 0;
  } else if (av.movingtype == 2) {
    reserve_entries(sizes(3));
    if (!family_move(familymove, movepos, eligible, numunassigned)) result = 0;
  }
}

}  // namespace kinrad
