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
  // Per part, over its listed rows (order does not matter, so nothing is sorted): the
  // haploid father id of each mother (selectedprntidxq1, keys in kdxtgt), mothers whose pair a
  // diploid row repeats (selectedprntidxq3 = 1), and bits of selectedprntidxq2 (keys in
  // ldxtgt): 1 a diploid father id, 2 a diploid mother id, 4 the father id of an unmatched
  // haploid pair.
  auto& father = av.selectedprntidxq1;
  auto& matched = av.selectedprntidxq3;
  auto& bits = av.selectedprntidxq2;
  int4 nmother = 0, nbits = 0;
  const auto set_bit = [&](int4 id, int4 bit) {
    if (bits(id) == 0) v.ldxtgt(++nbits) = id;
    bits(id) = static_cast<int1>(bits(id) | bit);
  };
  const auto clear = [&] {
    for (int4 k = 1; k <= nmother; ++k) {
      father(v.kdxtgt(k)) = 0;
      matched(v.kdxtgt(k)) = 0;
    }
    for (int4 k = 1; k <= nbits; ++k) bits(v.ldxtgt(k)) = 0;
    nmother = nbits = 0;
  };
  for (int4 part = 1; part <= 2; ++part) {
    const int4 l0 = part == 1 ? 1 : 2, l1 = part == 1 ? 1 : 3;
    bool ok = true;
    // Each mother's haploid offspring carry one paternal id.
    for (int4 l = l0; l <= l1 && ok; ++l)
      for (int4 k = 1; k <= listed(l) && ok; ++k) {
        const Row row = list_row(l, k);
        if (v.offploid(row.offspring()) != 1) continue;
        const int4 a = row.family(1), b = row.family(2);
        if (father(b) == 0) {
          father(b) = a;
          v.kdxtgt(++nmother) = b;
        } else if (father(b) != a) {
          ok = false;
        }
      }
    // The diploid rows: their ids, and the haploid pairs they repeat.
    for (int4 l = l0; l <= l1 && ok; ++l)
      for (int4 k = 1; k <= listed(l); ++k) {
        const Row row = list_row(l, k);
        if (v.offploid(row.offspring()) == 1) continue;
        const int4 a = row.family(1), b = row.family(2);
        set_bit(a, 1);
        set_bit(b, 2);
        if (father(b) == a) matched(b) = 1;
      }
    // An unmatched pair shares neither id with a diploid row, and no other unmatched pair has
    // its father (mothers are distinct already, so sharing both ids would make one pair).
    for (int4 k = 1; k <= nmother && ok; ++k) {
      const int4 b = v.kdxtgt(k);
      if (matched(b) != 0) continue;
      const int4 a = father(b);
      if ((bits(a) & 1) != 0 || (bits(b) & 2) != 0 || (bits(a) & 4) != 0) ok = false;
      set_bit(a, 4);
    }
    clear();
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
