// Whether a proposal of the search respects the user's constraints (mating limits, monogamy,
// selfing, known and excluded sibships and parents, parent conflicts, candidates who are also
// offspring or listed in both sexes) before it is scored; a proposal equal to the current
// configuration is admitted only with the temperature's probability.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "core/random_numbers.hpp"

namespace kinrad {

namespace {

// One row of the move tables: list 1 rows live in indivloc1 (the part that stays behind in
// the former cluster), lists 2 and 3 in indivloc2.
struct Row {
  const FArray<int4, 2>* table;
  int4 row;
  int4 offspring() const { return (*table)(row, 4); }
  int4 family(int4 s) const { return (*table)(row, s); }
};

Row list_row(int4 list, int4 k) {
  const auto& av = annealvariables;
  return Row{list == 1 ? &av.indivloc1 : &av.indivloc2, av.indivlocidx(k, list)};
}

int4 listed(int4 list) {
  return annealvariables.numindivlocidx(list);
}

// Entries that a test overwrites while it runs: the negated family ids, the saved
// parent-offspring entries and the written parents. The destructor puts them back in reverse
// order, so no refusal path can leave the configuration changed.
class Restore {
 public:
  Restore() { annealvariables.checkundo.clear(); }
  Restore(const Restore&) = delete;
  Restore& operator=(const Restore&) = delete;
  ~Restore() { undo(); }

  // Marks the sex-s family of offspring x as changing (family ids are positive).
  void negate(int4 x, int4 s) {
    int4& f = variables.crindivloc(x, s);
    if (f <= 0) return;
    log().push_back({kSign, x, s, f});
    f = -f;
  }
  void set_poassign(int4 s, int4 x, int4 value) {
    int4& e = variables.poassign(s, x);
    log().push_back({kPoassign, x, s, e});
    e = value;
  }
  void set_parent(int4 x, int4 s, int4 value) {
    int4& e = variables.inferparent2(x, s);
    log().push_back({kParent, x, s, e});
    e = value;
  }
  // Puts everything back now; the log is empty afterwards.
  void undo() {
    auto& v = variables;
    auto& entries = log();
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
      switch (it->what) {
        case kSign:
          v.crindivloc(it->i, it->s) = it->old;
          break;
        case kPoassign:
          v.poassign(it->s, it->i) = it->old;
          break;
        default:
          v.inferparent2(it->i, it->s) = it->old;
          break;
      }
    }
    entries.clear();
  }

 private:
  static constexpr int4 kSign = 1, kPoassign = 2, kParent = 3;
  static std::vector<Annealvariables::CheckUndo>& log() { return annealvariables.checkundo; }
};

// A list of keys whose marks in a scratch array are cleared together. The keys live in a
// reused buffer of the module, so nothing is allocated per proposal.
struct MarkList {
  FArray<int4, 1>& marks;
  FArray<int4, 1>& keys;
  int4 n = 0;
  void set(int4 key, int4 value) {
    if (marks(key) == 0) keys(++n) = key;
    marks(key) = value;
  }
  void clear() {
    for (int4 k = 1; k <= n; ++k) marks(keys(k)) = 0;
    n = 0;
  }
};

// Whether the bit of the lower of offspring a and b is set in the sex-s excluded-sibship set
// of the higher one.
bool excluded_sibs(int4 a, int4 b, int4 s) {
  const auto& v = variables;
  const int4 lo = std::min(a, b);
  const int4 hi = std::max(a, b);
  const FArray<int4, 1>& words = v.excludedsib(hi, s).a;
  if (!words.allocated()) return false;
  const index_t w = (lo - 1) / 32;
  if (w < words.lbound(1) || w > words.ubound(1)) return false;
  const std::uint32_t bit = std::uint32_t{1} << ((lo - 1) % 32);
  return (static_cast<std::uint32_t>(words(w)) & bit) != 0;
}

// Whether x is among the first m entries of an ascending list.
bool in_list(const FArray<int4, 1>& list, int4 m, int4 x) {
  if (m <= 0 || !list.allocated()) return false;
  const int4* first = list.data();
  const int4* last = first + std::min<index_t>(m, list.size());
  return std::binary_search(first, last, x);
}

// 1. The mates of a destination parent of a move inside a cluster do not exceed the maximum.
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

// 2. Selfing and monogamy among the moving offspring of a one-pool species.
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

// 3. Candidates listed in both sexes, and candidates who are offspring: no parent of its own
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

// 4. An offspring whose parent is an offspring does not share its other parent with it.
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

// 5. No individual becomes its own ancestor. The parent-offspring table holds the proposal's
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

// 6. Known sibships stay whole and apart.
bool known_sibships_ok(int1 wholesibshipsex) {
  auto& v = variables;
  auto& av = annealvariables;
  if (av.movingtype > 1) return true;
  for (int4 s = 1; s <= 2; ++s) {
    if (v.anyknownsibshipq(s) == 0) continue;
    if (wholesibshipsex == s) {
      const int4 f = av.indivloc2(1, s);
      for (int4 r = 2; r <= av.numindiv(2); ++r)
        if (av.indivloc2(r, s) != f) return false;
      for (int4 r = 1; r <= av.numindiv(1); ++r)
        if (av.indivloc1(r, s) != f) return false;
      continue;
    }
    // Ids left behind in the former cluster.
    int4 nflag = 0;
    for (int4 k = 1; k <= listed(1); ++k) {
      const int4 id = v.knownsibship(list_row(1, k).offspring(), s);
      if (id == 0 || *av.knownsibshipq(id).p) continue;
      av.knownsibshipq(id).p = &v.truetgt;
      av.indivloc3(++nflag, 1) = id;
    }
    int4 nfam = 0;  // families given an id in either map, listed in kdxtgt
    bool ok = true;
    const int4 n3 = listed(3), n2 = listed(2);
    for (int4 i = 1; i <= n3 && ok; ++i) {
      const Row r = list_row(3, i);
      const int4 k = v.knownsibship(r.offspring(), s);
      if (k == 0) continue;
      if (*av.knownsibshipq(k).p) {
        ok = false;  // split from members that stay behind
        break;
      }
      const int4 f = r.family(s);
      auto& map = k > 0 ? av.selectedprntidxq1 : av.selectedprntidxq3;
      if (map(f) == k) continue;
      if (av.selectedprntidxq1(f) == 0 && av.selectedprntidxq3(f) == 0) v.kdxtgt(++nfam) = f;
      map(f) = k;
      const auto compare = [&](const Row& q) {
        const int4 k2 = v.knownsibship(q.offspring(), s);
        if (q.family(s) == f) {
          if (k2 != k && k < 0 && k2 < 0) ok = false;
        } else if (k2 == k) {
          ok = false;
        }
      };
      for (int4 j = i + 1; j <= n3 && ok; ++j) compare(list_row(3, j));
      for (int4 j = 1; j <= n2 && ok; ++j) compare(list_row(2, j));
    }
    for (int4 k = 1; k <= nfam; ++k) {
      av.selectedprntidxq1(v.kdxtgt(k)) = 0;
      av.selectedprntidxq3(v.kdxtgt(k)) = 0;
    }
    for (int4 k = 1; k <= nflag; ++k) av.knownsibshipq(av.indivloc3(k, 1)).p = &v.falsetgt;
    if (!ok) return false;
  }
  return true;
}

// 7. Known parents are kept, and every touched family has one parent who has one family.
bool known_parents_ok(Restore& restore) {
  auto& v = variables;
  auto& av = annealvariables;
  if (av.movingtype > 1) return true;
  for (int4 s = 1; s <= 2; ++s) {
    if (v.numknownprnt(s) <= 0) continue;
    for (int4 k = 1; k <= av.numindivparentage(s); ++k)
      if (v.indivparent(av.indivparentage(k, s), s) > 0 && av.inferparentage(k, s, 2) > 0)
        return false;
  }
  if (v.allcandidate < 1) return true;
  if (v.numknownprnt(1) + v.numknownprnt(2) + v.smplsizedh(1) + av.numindivparentage(1) +
          av.numindivparentage(2) <=
      0)
    return true;
  MarkList fammap{av.selectedprntidxq1, v.kdxtgt};
  MarkList parmap{av.selectedprntidxq3, v.ldxtgt};
  for (int4 s = 1; s <= 2; ++s) {
    if (v.numcandidate(s) <= 0) continue;
    const int4 K = s == 1 ? v.numknownprnt(1) + v.smplsizedh(1) : v.numknownprnt(2);
    const int4 ns = av.numindivparentage(s);
    if (K + ns == 0) continue;
    const bool single = v.monogamy(3 - s) != 0 && v.numknownprnt(s) < 1 && v.smplsizedh(1) == 0;
    const int4 nwrite = single ? std::min(ns, 1) : ns;
    for (int4 k = 1; k <= nwrite; ++k)
      restore.set_parent(av.indivparentage(k, s), s, av.inferparentage(k, s, 2));
    bool ok = true;
    const auto visit = [&](const FArray<int4, 2>& table, int4 row) {
      const int4 o = table(row, 4);
      const int4 f = table(row, s);
      const int4 p = v.inferparent2(o, s);
      if (s == 1 && v.smplsizedh(1) > 0 && v.offploid(o) == 1) return;
      if (p == 0 && K == 0) return;
      if (av.selectedprntidxq1(f) == 0) {
        fammap.set(f, p + 1);
      } else if (av.selectedprntidxq1(f) != p + 1) {
        ok = false;
        return;
      }
      if (p > 0) {
        if (av.selectedprntidxq3(p) == 0) {
          parmap.set(p, f);
        } else if (av.selectedprntidxq3(p) != f) {
          ok = false;
        }
      }
    };
    for (int4 part = 2; part >= 1 && ok; --part) {
      const int4 rows = av.numindiv(part);
      if (rows <= 0) continue;
      const FArray<int4, 2>& table = part == 1 ? av.indivloc1 : av.indivloc2;
      const int4 nlisted = part == 2 ? listed(2) + listed(3) : listed(1);
      if (single || (part == 1 && v.smplsizedh(1) == 0 && v.monogamy(3 - s) % 2 == 1)) {
        visit(table, 1);
      } else if (ns == 0 && rows > 5 * nlisted) {
        const int4 l0 = part == 2 ? 2 : 1, l1 = part == 2 ? 3 : 1;
        for (int4 l = l0; l <= l1 && ok; ++l)
          for (int4 k = 1; k <= listed(l) && ok; ++k) visit(table, av.indivlocidx(k, l));
      } else {
        for (int4 r = 1; r <= rows && ok; ++r) visit(table, r);
      }
    }
    fammap.clear();
    parmap.clear();
    restore.undo();
    if (!ok) return false;
  }
  return true;
}

// 8. Offspring of an excluded sibship do not meet in one family.
bool excluded_sibships_ok() {
  auto& v = variables;
  auto& av = annealvariables;
  if (av.movingtype > 1 || listed(2) <= 0 || !v.excludedsib.allocated()) return true;
  for (int4 s = 1; s <= 2; ++s) {
    if (v.anyexcludedsibshipq(s) == 0) continue;
    for (int4 i = 1; i <= listed(3); ++i) {
      const Row r = list_row(3, i);
      const int4 x = r.offspring();
      if (v.excludedsibshipq(x) <= 0) continue;
      for (int4 j = 1; j <= listed(2); ++j) {
        const Row q = list_row(2, j);
        if (q.family(s) == r.family(s) && excluded_sibs(x, q.offspring(), s)) return false;
      }
    }
  }
  return true;
}

// 9. Offspring whose known parents conflict with an exclusion do not meet in one family.
bool parent_conflicts_ok() {
  auto& v = variables;
  auto& av = annealvariables;
  if (av.movingtype > 1 || listed(2) <= 0 || !v.prntconflict.allocated()) return true;
  for (int4 s = 1; s <= 2; ++s) {
    if (v.anyprntconflictq(s) == 0) continue;
    int4 npairs = 0;  // (signed conflict id, family) pairs tested, in indivloc3 columns 1 and 2
    for (int4 i = 1; i <= listed(3); ++i) {
      const Row r = list_row(3, i);
      const int4 x = r.offspring();
      const int4 count = v.prntconflict(x, s).count;
      if (count == 0) continue;
      const int4 id = v.prntconflictid(x, s);
      // The sign is part of the key: two offspring may hold the same stored list, one as the
      // offspring it conflicts with and one as the only offspring it allows.
      const int4 key = count > 0 ? id : -id;
      const int4 f = r.family(s);
      bool seen = false;
      for (int4 k = 1; k <= npairs && !seen; ++k)
        seen = av.indivloc3(k, 1) == key && av.indivloc3(k, 2) == f;
      if (seen) continue;
      ++npairs;
      av.indivloc3(npairs, 1) = key;
      av.indivloc3(npairs, 2) = f;
      const FArray<int4, 1>& list = v.prntconflict(id, s).list;
      const int4 m = count > 0 ? count : -count;
      for (int4 j = 1; j <= listed(2); ++j) {
        const Row q = list_row(2, j);
        if (q.family(s) != f) continue;
        const bool found = in_list(list, m, q.offspring());
        if (count > 0 ? found : !found) return false;
      }
    }
  }
  return true;
}

// 10. Excluded parents are not proposed.
bool excluded_parents_ok() {
  auto& v = variables;
  auto& av = annealvariables;
  if (!v.excludedparent.allocated()) return true;
  for (int4 s = 1; s <= 2; ++s) {
    if (v.numcandidate(s) <= 0 || v.anyexcludedparentq(s) == 0) continue;
    for (int4 k = 1; k <= av.numindivparentage(s); ++k) {
      const int4 c = av.inferparentage(k, s, 2);
      if (c == 0) continue;
      const Excludedlist& e = v.excludedparent(av.indivparentage(k, s), s);
      if (e.count == 0) continue;
      if (e.count == v.numcandidate(s)) return false;
      const bool found = in_list(e.list, std::abs(e.count), c);
      if (e.count > 0 ? found : !found) return false;
    }
  }
  return true;
}

// 11, one parent pool: known parents bind a role, monogamy of the moving rows, one parent per
// family id across both roles.
bool monoecious_species_ok() {
  auto& v = variables;
  auto& av = annealvariables;
  if (v.numknownprnt(1) >= 1 && v.numknownprnt(2) >= 1) {
    for (int4 r = 2; r >= 1; --r) {
      const int4 q = 3 - r;
      for (int4 i = 1; i <= listed(3); ++i) {
        const Row row = list_row(3, i);
        const int4 o = row.offspring();
        const int4 kp = v.indivparent(o, q);
        const int4 F = row.family(q);
        if (kp <= 0 || F == v.crindivloc(o, q)) continue;
        for (int4 j = 1; j <= av.numindiv(2); ++j)
          if (j != row.row && v.indivparent(av.indivloc2(j, 4), r) == kp && av.indivloc2(j, r) != F)
            return false;
        for (int4 j = 1; j <= av.numindiv(1); ++j)
          if (v.indivparent(av.indivloc1(j, 4), r) == kp && av.indivloc1(j, r) != F) return false;
      }
    }
  }
  if (listed(3) > 1) {
    const Row first = list_row(3, 1);
    for (int4 i = 2; i <= listed(3); ++i) {
      const Row row = list_row(3, i);
      if (v.monogamy(2) != 0 && row.family(1) != first.family(1)) return false;
      if (v.monogamy(1) != 0 && row.family(2) != first.family(2)) return false;
    }
  }
  const bool known = v.anyknownprntq(1) != 0 || v.anyknownprntq(2) != 0;
  if (!known && av.numindivparentage(1) == 0 && av.numindivparentage(2) == 0) return true;
  MarkList fammap{av.selectedprntidxq1, v.kdxtgt};
  MarkList entry{av.selectedprntidxq3, v.ldxtgt};
  bool ok = true;
  for (int4 u = 1; u <= 2 && ok; ++u) {
    for (int4 k = 1; k <= av.numindivparentage(u); ++k) entry.set(av.indivparentage(k, u), k);
    for (int4 l = known ? 2 : 3; l <= 3 && ok; ++l)
      for (int4 i = 1; i <= listed(l) && ok; ++i) {
        const Row row = list_row(l, i);
        const int4 o = row.offspring();
        const int4 k = av.selectedprntidxq3(o);
        const int4 assigned = k > 0 ? av.inferparentage(k, u, 2) : v.inferparent(o, u);
        const int4 p = std::max(v.indivparent(o, u), assigned);
        const int4 f = row.family(u);
        if (av.selectedprntidxq1(f) == 0) {
          fammap.set(f, p + 1);
        } else if (av.selectedprntidxq1(f) != p + 1) {
          ok = false;
        }
      }
    entry.clear();
  }
  fammap.clear();
  return ok;
}

// 11, two sexes with haploid offspring: something changes, and haploid offspring carry the
// paternal id that places them with their mother.
bool haploid_rows_ok() {
  auto& v = variables;
  auto& av = annealvariables;
  if (av.numindivparentage(1) == 0 && av.numindivparentage(2) == 0) {
    bool change = false;
    for (int4 i = 1; i <= listed(3) && !change; ++i) {
      const Row row = list_row(3, i);
      const int4 o = row.offspring();
      change = row.family(2) != v.crindivloc(o, 2) ||
               (v.offploid(o) != 1 && row.family(1) != v.crindivloc(o, 1));
    }
    if (!change) return false;
  }
  MarkList father{av.selectedprntidxq1, v.kdxtgt};
  for (int4 part = 1; part <= 2; ++part) {
    // Distinct (ploidy, father, mother) rows of the part in indivloc3 columns 1..3, haploid
    // rows first.
    int4 m = 0;
    const auto add = [&](int4 list) {
      for (int4 k = 1; k <= listed(list); ++k) {
        const Row row = list_row(list, k);
        ++m;
        av.indivloc3(m, 1) = v.offploid(row.offspring()) == 1 ? 1 : 2;
        av.indivloc3(m, 2) = row.family(1);
        av.indivloc3(m, 3) = row.family(2);
      }
    };
    if (part == 1) {
      add(1);
    } else {
      add(2);
      add(3);
    }
    if (m == 0) continue;
    // Insertion sort of the few rows; indivloc3 column 4 holds the order.
    for (int4 k = 1; k <= m; ++k) av.indivloc3(k, 4) = k;
    const auto less = [&](int4 a, int4 b) {
      for (int4 c = 1; c <= 3; ++c)
        if (av.indivloc3(a, c) != av.indivloc3(b, c))
          return av.indivloc3(a, c) < av.indivloc3(b, c);
      return false;
    };
    for (int4 k = 2; k <= m; ++k) {
      const int4 key = av.indivloc3(k, 4);
      int4 j = k - 1;
      while (j >= 1 && less(key, av.indivloc3(j, 4))) {
        av.indivloc3(j + 1, 4) = av.indivloc3(j, 4);
        --j;
      }
      av.indivloc3(j + 1, 4) = key;
    }
    const auto at = [&](int4 k, int4 c) { return av.indivloc3(av.indivloc3(k, 4), c); };
    int4 d = 0;  // distinct rows kept, their order in kept positions of column 4
    for (int4 k = 1; k <= m; ++k) {
      if (d > 0 && at(k, 1) == at(d, 1) && at(k, 2) == at(d, 2) && at(k, 3) == at(d, 3)) continue;
      av.indivloc3(++d, 4) = av.indivloc3(k, 4);
    }
    int4 nh = 0;
    while (nh < d && at(nh + 1, 1) == 1) ++nh;
    bool ok = true;
    for (int4 k = 1; k <= nh && ok; ++k) {
      const int4 a = at(k, 2), b = at(k, 3);
      if (av.selectedprntidxq1(b) == 0) {
        father.set(b, a);
      } else if (av.selectedprntidxq1(b) != a) {
        ok = false;
      }
    }
    father.clear();
    // Unmatched haploid pairs: their ids appear in no diploid row, and two of them share
    // both ids or neither.
    for (int4 k = 1; k <= nh && ok; ++k) {
      const int4 a = at(k, 2), b = at(k, 3);
      bool matched = false;
      for (int4 j = nh + 1; j <= d && !matched; ++j) matched = at(j, 2) == a && at(j, 3) == b;
      if (matched) continue;
      for (int4 j = nh + 1; j <= d && ok; ++j)
        if (at(j, 2) == a || at(j, 3) == b) ok = false;
      for (int4 j = 1; j < k && ok; ++j) {
        const int4 a2 = at(j, 2), b2 = at(j, 3);
        bool matched2 = false;
        for (int4 q = nh + 1; q <= d && !matched2; ++q) matched2 = at(q, 2) == a2 && at(q, 3) == b2;
        if (!matched2 && ((a == a2) != (b == b2))) ok = false;
      }
    }
    if (!ok) return false;
  }
  return true;
}

// Whether every moving row shares with every staying and later moving row as many families
// in the proposal as it does now (the grouping of the touched offspring is unchanged).
bool sharing_unchanged() {
  const auto& v = variables;
  const int4 n3 = listed(3), n2 = listed(2);
  int4 prev[4] = {0, 0, 0, 0};
  for (int4 i = 1; i <= n3; ++i) {
    const Row r = list_row(3, i);
    const int4 o = r.offspring();
    const int4 cur[4] = {v.crindivloc(o, 1), v.crindivloc(o, 2), r.family(1), r.family(2)};
    if (i > 1 && std::equal(cur, cur + 4, prev)) continue;
    std::copy(cur, cur + 4, prev);
    const auto same = [&](const Row& q) {
      const int4 o2 = q.offspring();
      const int4 now = (v.crindivloc(o2, 1) == cur[0]) + (v.crindivloc(o2, 2) == cur[1]);
      const int4 then = (q.family(1) == cur[2]) + (q.family(2) == cur[3]);
      return now == then;
    };
    for (int4 j = 1; j <= n2; ++j)
      if (!same(list_row(2, j))) return false;
    for (int4 j = i + 1; j <= n3; ++j)
      if (!same(list_row(3, j))) return false;
  }
  return true;
}

// Whether the offspring with known parents keep, against the other list, the grouping they
// have now.
bool known_parent_grouping_unchanged() {
  const auto& v = variables;
  for (int4 s = 1; s <= 2; ++s) {
    if (v.numknownprnt(s) <= 0) continue;
    for (int4 l = 2; l <= 3; ++l) {
      const int4 other = 5 - l;
      for (int4 i = 1; i <= listed(l); ++i) {
        const Row r = list_row(l, i);
        const int4 o = r.offspring();
        if (v.indivparent(o, s) <= 0) continue;
        for (int4 j = 1; j <= listed(other); ++j) {
          const Row q = list_row(other, j);
          const int4 o2 = q.offspring();
          if ((q.family(s) == r.family(s)) != (v.crindivloc(o2, s) == v.crindivloc(o, s)))
            return false;
        }
      }
    }
  }
  return true;
}

// 12. The final decision for an offspring move of a two-sex species.
int4 final_decision(int4 movekind) {
  auto& v = variables;
  auto& av = annealvariables;
  av.equalconfig = 0;
  if (v.numsex == 1 || av.movingtype > 1) return 1;
  if (movekind != 1) return av.numindiv(1) == 0 && av.hostfamily(3) > v.crnumfamily(3) ? 0 : 1;
  const bool noparents = av.numindivparentage(1) == 0 && av.numindivparentage(2) == 0;
  if (noparents) return sharing_unchanged() ? 0 : 1;
  if (v.haplodiploid != 0 || v.priortype != 0) return 1;
  if (!sharing_unchanged() || !known_parent_grouping_unchanged()) return 1;
  for (int4 s = 1; s <= 2; ++s)
    for (int4 k = 1; k <= av.numindivparentage(s); ++k)
      if (av.inferparentage(k, s, 2) != av.inferparentage(k, s, 1)) return 1;
  // The proposal is the current configuration: admitted with the temperature's chance, as the
  // exchange of the destination cluster's two sexes.
  if (ran2() >= av.rate) return 0;
  av.equalconfig = 1;
  av.lastfamilyid(1) = 0;
  const int4 c = av.hostfamily(3);
  std::swap(av.clustersize(1, c), av.clustersize(2, c));
  std::swap(av.clustersize(5, c), av.clustersize(6, c));
  return 1;
}

}  // namespace

void checkconfiguration(int4& configok, int4 knownsibside, int4 movekind, int1 wholesibshipsex) {
  auto& v = variables;
  auto& av = annealvariables;
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
