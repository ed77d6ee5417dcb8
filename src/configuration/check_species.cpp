// Tests of a proposal by species (one parent pool; two sexes with haploid offspring) and the
// final decision with the equality path.
#include <algorithm>

#include "configuration/check_configuration_internal.hpp"
#include "core/modules.hpp"
#include "core/random_numbers.hpp"

namespace kinrad::check_detail {

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

namespace {

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

}  // namespace

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

}  // namespace kinrad::check_detail
