// Tests of a proposal against the known and excluded relationships of the data: known
// sibships, known parents and the parent of each family, excluded sibships, parent conflicts
// and excluded parents.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "configuration/check_configuration_internal.hpp"
#include "core/modules.hpp"

namespace kinrad::check_detail {

namespace {

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

}  // namespace

// Known sibships stay whole and apart.
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

// Known parents are kept, and every touched family has one parent who has one family.
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

// Offspring of an excluded sibship do not meet in one family.
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

// Offspring whose known parents conflict with an exclusion do not meet in one family.
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

}  // namespace kinrad::check_detail
