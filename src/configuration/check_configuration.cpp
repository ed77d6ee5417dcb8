// Whether a proposal of the search respects the user's constraints (mating limits, monogamy,
// selfing, known and excluded sibships and parents, parent conflicts, candidates who are also
// offspring or listed in both sexes) before it is scored; a proposal equal to the current
// configuration is admitted only with the temperature's probability. This file holds the
// driver and the tests of the mating system and the pedigree.
#include <algorithm>

#include "configuration/check_configuration_internal.hpp"
#include "configuration/configuration.hpp"
#include "core/modules.hpp"

namespace kinrad {

namespace check_detail {

// The mates of a destination parent of a move inside a cluster do not exceed the maximum.
bool max_matings_ok(int4 knownsibside, int4 movekind) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  if (v.maxmatings(1) >= n && v.maxmatings(2) >= n) return true;
  if (av.movingtype > 1 || av.hostfamily(3) > v.crnumfamily(3)) return true;
  const int4 rows = av.numindiv(2);
  int4 nmarked = 0;
  // Distinct families of sex t, marked in selectedindivq; keys in kdxtgt.
  const auto mark = [&](int4 f) {
    if (f < 1 || *v.selectedindivq(f).p) return;
    v.selectedindivq(f).p = &v.truetgt;
    v.kdxtgt(++nmarked) = f;
  };
  const auto clear = [&] {
    for (int4 k = 1; k <= nmarked; ++k) v.selectedindivq(v.kdxtgt(k)).p = &v.falsetgt;
    nmarked = 0;
  };
  for (int4 s = 1; s <= 2; ++s) {
    const int4 h = av.hostfamily(s);
    if (h > v.crnumfamily(s) || v.monogamy(s) != 0 || rows < v.maxmatings(s)) continue;
    const int4 t = 3 - s;
    for (int4 r = 1; r <= rows; ++r)
      if (av.indivloc2(r, s) == h) mark(av.indivloc2(r, t));
    const bool over = nmarked > v.maxmatings(s);
    clear();
    if (over) return false;
  }
  if (movekind == 1 && knownsibside >= 1) {
    const int4 t = 3 - knownsibside;
    const int4 h = av.hostfamily(t);
    if (v.monogamy(t) == 0 && h >= 1) {
      for (int4 r = 1; r <= rows; ++r)
        if (av.indivloc2(r, t) == h) mark(av.indivloc2(r, knownsibside));
      // The destination parent's present mates in the cluster, from the side-1 structure.
      const int4 np1 = av.nparent1(1);
      const int4 nf = av.numberfsfamily1;
      const int4 base = (t - 1) * np1;
      for (int4 pos = 1; pos <= av.nparent1(t); ++pos) {
        if (av.parentidx1(base + pos) != h) continue;
        const int4 j = base + pos;
        const int4 first = av.locpartner1(j);
        const int4 other = knownsibside == 1 ? 0 : np1;
        for (int4 q = 1; q <= av.numpartner1(pos, t); ++q) {
          const int4 f = av.partner1(first + q);
          const int4 mate = av.familyidx1((knownsibside - 1) * nf + f);
          mark(av.parentidx1(other + mate));
        }
        break;
      }
      const bool over = nmarked > v.maxmatings(t);
      clear();
      if (over) return false;
    }
  }
  return true;
}

// Selfing and monogamy among the moving offspring of a one-pool species.
bool monoecious_rows_ok() {
  auto& v = variables;
  auto& av = annealvariables;
  if (av.movingtype > 1 || v.numsex != 1) return true;
  const int4 rows = av.numindiv(2);
  if (v.allowinbreeding == 0)
    for (int4 r = 1; r <= rows; ++r)
      if (av.indivloc2(r, 1) == av.indivloc2(r, 2)) return false;
  if (v.allmonogamy != 0) {
    // Two parent pairs that share exactly one parent.
    for (int4 i = 2; i <= rows; ++i) {
      const int4 a = av.indivloc2(i, 1), b = av.indivloc2(i, 2);
      if (a == b) continue;
      for (int4 j = 1; j < i; ++j) {
        const int4 c = av.indivloc2(j, 1), d = av.indivloc2(j, 2);
        if ((a == c) + (a == d) + (b == c) + (b == d) == 1) return false;
      }
    }
  }
  const bool canself = v.numsex == v.allowinbreeding;
  MarkList mates{av.selectedprntidxq1, v.kdxtgt};
  for (int4 s = 1; s <= 2; ++s) {
    if (v.monogamy(s) == 0) continue;
    for (int4 r = 1; r <= rows; ++r) {
      const int4 f = av.indivloc2(r, s), g = av.indivloc2(r, 3 - s);
      if (canself && f == g) continue;
      if (av.selectedprntidxq1(f) == 0) {
        mates.set(f, g);
      } else if (av.selectedprntidxq1(f) != g) {
        mates.clear();
        return false;
      }
    }
    mates.clear();
  }
  return true;
}

// Candidates listed in both sexes, and candidates who are offspring: no parent of its own
// parent or of its own grandparent.
bool cross_listed_ok(Restore& restore) {
  auto& v = variables;
  auto& av = annealvariables;
  if (v.allcandidate < 1) return true;
  const int4 n1 = av.numindivparentage(1), n2 = av.numindivparentage(2);
  if (n1 <= 0 && n2 <= 0) return true;
  if (v.numcndinothersex(1) + v.numcndinothersex(2) <= 0 &&
      v.numcndinoffspring(1) + v.numcndinoffspring(2) <= 0)
    return true;
  const int4 s0 = n1 > 0 ? 1 : 2;
  const int4 s1 = n2 > 0 ? 2 : 1;
  for (int4 s = s0; s <= s1; ++s)
    for (int4 k = 1; k <= av.numindivparentage(s); ++k) {
      const int4 x = av.indivparentage(k, s);
      av.indivloc3(x, s) = av.inferparentage(k, s, 2);
      restore.negate(x, s);
    }
  bool ok = true;
  for (int4 s = s0; s <= s1 && ok; ++s) {
    if (v.numcndinothersex(s) <= 0 && v.numcndinoffspring(s) <= 0) continue;
    const int4 t = 3 - s;
    for (int4 k = 1; k <= av.numindivparentage(s) && ok; ++k) {
      const int4 c = av.inferparentage(k, s, 2);
      if (c <= 0) continue;
      const int4 x = av.indivparentage(k, s);
      if (v.numsex == 2 && v.cndinothersex(c, s) >= 1) {
        const int4 cp = v.cndinothersex(c, s);
        for (int4 j = 1; j <= av.numindivparentage(t); ++j)
          if (av.inferparentage(j, t, 2) == cp) ok = false;
        if (av.unassignedcnd(cp, t) < 1) ok = false;
        if (!ok) break;
      }
      const int4 o = v.cndinoffspring(c, s);
      if (o <= 0) continue;
      for (int4 u = 1; u <= 2 && ok; ++u) {
        const int4 y = v.offspringincnd(x, u);
        if (y < 1) continue;
        int4 p = 0;
        if (v.crindivloc(o, u) < 0 && av.indivloc3(o, u) != 0) {
          p = av.indivloc3(o, u);
        } else {
          p = std::max(v.inferparent(o, u), v.indivparent(o, u));
        }
        if (p <= 0) continue;
        if (p == y) ok = false;  // x would be a parent of its own parent
        const int4 z = v.cndinoffspring(p, u);
        if (z > 0 && v.inferparent(z, u) == y) ok = false;  // or of its own grandparent
      }
    }
  }
  restore.undo();
  return ok;
}

// An offspring whose parent is an offspring does not share its other parent with it.
bool parent_not_sib_ok() {
  auto& v = variables;
  auto& av = annealvariables;
  if (v.unknowngen != 1) return true;
  MarkList map{av.selectedprntidxq1, v.kdxtgt};
  for (int4 s = 1; s <= 2; ++s) {
    const int4 t = 3 - s;
    const int4 ns = av.numindivparentage(s);
    if (av.movingtype == 2) {
      for (int4 k = 1; k <= ns; ++k) {
        const int4 c = av.inferparentage(k, s, 2);
        if (c <= 0) continue;
        const int4 o = v.cndinoffspring(c, s);
        if (o <= 0) continue;
        const int4 x = av.indivparentage(k, s);
        if (v.crindivloc(x, t) == v.crindivloc(o, t)) return false;
      }
      continue;
    }
    // The sex-s parent after the move of a row: its proposed candidate when positive, else its
    // present one; staying rows keep theirs.
    for (int4 k = 1; k <= ns; ++k) map.set(av.indivparentage(k, s), k);
    const auto parent_of = [&](int4 list, const Row& r) {
      const int4 o = r.offspring();
      if (list == 3) {
        const int4 k = av.selectedprntidxq1(o);
        if (k > 0 && av.inferparentage(k, s, 2) > 0) return av.inferparentage(k, s, 2);
      }
      return v.inferparent(o, s);
    };
    // Parents are gathered before the map is reused for the families of the other part.
    const int4 n3 = listed(3), n2 = listed(2);
    int4* par3 = v.ldxtgt.data();  // list-3 parents, then list-2 parents after them
    for (int4 k = 1; k <= n3; ++k) par3[k - 1] = parent_of(3, list_row(3, k));
    for (int4 k = 1; k <= n2; ++k) par3[n3 + k - 1] = parent_of(2, list_row(2, k));
    map.clear();
    // Pass 1: staying rows against moving rows; pass 2: moving rows against staying rows.
    for (int4 pass = 1; pass <= 2; ++pass) {
      const int4 own = pass == 1 ? 2 : 3, other = pass == 1 ? 3 : 2;
      const int4 nown = listed(own), nother = listed(other);
      const int4* par = own == 3 ? par3 : par3 + n3;
      int4 first = 0;
      for (int4 k = 1; k <= nown && first == 0; ++k)
        if (par[k - 1] > 0) first = k;
      if (first == 0 || nother == 0) continue;
      for (int4 k = 1; k <= nother; ++k) {
        const Row r = list_row(other, k);
        map.set(r.offspring(), r.family(t));
      }
      bool ok = true;
      for (int4 k = first; k <= nown && ok; ++k) {
        const int4 p = par[k - 1];
        if (p <= 0) continue;
        const int4 o = v.cndinoffspring(p, s);
        if (o <= 0) continue;
        const int4 f = av.selectedprntidxq1(o);
        if (f != 0 && f == list_row(own, k).family(t)) ok = false;
      }
      map.clear();
      if (!ok) return false;
    }
  }
  return true;
}

// No individual becomes its own ancestor. The parent-offspring table holds the proposal's
// entries while the ancestry is walked upward from the offspring of the table's list and from
// every changed offspring; each offspring is walked once (marks 1 on the path, 2 done), and a
// walk that meets an offspring on its own path has found a loop of any length.
bool no_pedigree_loop(Restore& restore) {
  auto& v = variables;
  auto& av = annealvariables;
  if (!v.poassign.allocated()) return true;
  if (av.numindivparentage(1) < 1 && av.numindivparentage(2) < 1) return true;
  auto& mark = av.selectedprntidxq2;
  int4 nchanged = 0;
  for (int4 s = 1; s <= 2; ++s)
    for (int4 k = 1; k <= av.numindivparentage(s); ++k) {
      const int4 x = av.indivparentage(k, s);
      const int4 c = std::max(v.indivparent(x, s), av.inferparentage(k, s, 2));
      restore.set_poassign(s, x, c > 0 ? v.cndinoffspring(c, s) : c);
      if (av.selectedprntidxq1(x) == 0) {
        av.selectedprntidxq1(x) = 1;
        v.kdxtgt(++nchanged) = x;
      }
    }
  bool loop = false;
  int4 nvisited = 0;  // offspring marked, listed in ldxtgt
  // Depth-first walk with an explicit stack of (offspring, next parent slot) in indivloc3.
  const auto walk = [&](int4 start) {
    if (mark(start) != 0) return;
    int4 depth = 0;
    const auto push = [&](int4 x) {
      mark(x) = 1;
      v.ldxtgt(++nvisited) = x;
      ++depth;
      av.indivloc3(depth, 1) = x;
      av.indivloc3(depth, 2) = 1;
    };
    push(start);
    while (depth > 0 && !loop) {
      const int4 x = av.indivloc3(depth, 1);
      const int4 slot = av.indivloc3(depth, 2);
      if (slot > 2) {
        mark(x) = 2;
        --depth;
        continue;
      }
      av.indivloc3(depth, 2) = slot + 1;
      const int4 a = v.poassign(slot, x);
      if (a <= 0) continue;
      if (mark(a) == 1) {
        loop = true;
      } else if (mark(a) == 0) {
        push(a);
      }
    }
  };
  const int4 nlist = v.npoassign.allocated() ? v.npoassign(0) : 0;
  for (int4 k = 1; k <= nlist && !loop; ++k) walk(v.npoassign(k));
  for (int4 k = 1; k <= nchanged && !loop; ++k) {
    const int4 x = v.kdxtgt(k);
    if (v.poassign(1, x) > 0 || v.poassign(2, x) > 0) walk(x);
  }
  for (int4 k = 1; k <= nvisited; ++k) mark(v.ldxtgt(k)) = 0;
  for (int4 k = 1; k <= nchanged; ++k) av.selectedprntidxq1(v.kdxtgt(k)) = 0;
  restore.undo();
  return !loop;
}

}  // namespace check_detail

void checkconfiguration(int4& configok, int4 knownsibside, int4 movekind, int1 wholesibshipsex) {
  auto& v = variables;
  auto& av = annealvariables;
  using namespace check_detail;
  Restore restore;
  configok = 0;
  const auto refuse = [&](int4 test) { av.checkrefusal = test; };
  const bool individual = av.movingtype <= 1;
  if (!max_matings_ok(knownsibside, movekind)) return refuse(1);
  if (!monoecious_rows_ok()) return refuse(2);
  if (!cross_listed_ok(restore)) return refuse(3);
  if (!parent_not_sib_ok()) return refuse(4);
  if (!no_pedigree_loop(restore)) return refuse(5);
  if (!known_sibships_ok(wholesibshipsex)) return refuse(6);
  if (!known_parents_ok(restore)) return refuse(7);
  if (!excluded_sibships_ok()) return refuse(8);
  if (!parent_conflicts_ok()) return refuse(9);
  if (!excluded_parents_ok()) return refuse(10);
  if (individual && v.numsex == 1 && !monoecious_species_ok()) return refuse(11);
  if (individual && v.numsex == 2 && v.smplsizedh(1) > 0 && !haploid_rows_ok()) return refuse(11);
  configok = final_decision(movekind);
  av.checkrefusal = configok == 1 ? 0 : 12;
}

}  // namespace kinrad
