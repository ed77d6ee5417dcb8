#pragma once
// Module state for the validity tests of a proposal: a sample with every constraint table
// allocated and neutral (no known or excluded relationships, unconstrained matings), helpers
// that set the constraints of one fixture, the parents of a configuration and the change lists
// of a proposal (the parents a family keeps or gets, the same for all its offspring, as the
// parentage proposal makes them), a snapshot of everything the test must leave as it found it,
// and an independent validator of a proposed configuration.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "configuration/configuration.hpp"
#include "configuration_fixture.hpp"
#include "core/modules.hpp"
#include "support/proposal_builder.hpp"

namespace kinrad::test {

struct CheckShape {
  int4 numsex = 2;
  int4 allowinbreeding = 0;
  int4 mono1 = 0;
  int4 mono2 = 0;
  int4 ncand1 = 0;
  int4 ncand2 = 0;
};

// The sample: families fam1/fam2 per offspring (1-based ids), every constraint neutral.
inline void setup_check(const CheckShape& cs, const std::vector<int4>& fam1,
                        const std::vector<int4>& fam2) {
  const int4 n = static_cast<int4>(fam1.size());
  setup_sample(SampleShape{n, cs.numsex, cs.mono1, cs.mono2, cs.ncand1, cs.ncand2});
  auto& v = variables;
  auto& av = annealvariables;
  v.allowinbreeding = cs.allowinbreeding;
  v.allcandidate = cs.ncand1 + cs.ncand2;
  v.maxmatings(1) = n;
  v.maxmatings(2) = n;
  const int4 c = std::max({cs.ncand1, cs.ncand2, 1});
  testing_support::allocate_move_tables(n);
  av.indivloc12(1) = av.indivloc1.view();
  av.indivloc12(2) = av.indivloc2.view();
  av.indivparentage.allocate(Dim(n), Dim(2));
  av.inferparentage.allocate(Dim(n), Dim(2), Dim(2));
  av.unassignedcnd.allocate(Dim(c), Dim(2));
  av.unassignedcnd.fill(1);
  v.indivparent.allocate(Dim(n), Dim(2));
  v.indivparent.fill(-1);  // no known parent, as the reader stores it
  v.inferparent2.allocate(Dim(n), Dim(2));
  v.knownprntq.allocate(Dim(c), Dim(2));
  v.knownsibship.allocate(Dim(n), Dim(2));
  v.cndinothersex.allocate(Dim(c), Dim(2));
  v.cndinoffspring.allocate(Dim(c), Dim(2));
  v.offspringincnd.allocate(Dim(n), Dim(2));
  v.offploid.allocate(Dim(n));
  v.offploid.fill(2);
  v.smplsizedh(1) = 0;
  v.smplsizedh(2) = n;
  const int4 m = static_cast<int4>(av.selectedprntidxq1.size());
  v.selectedindivq.allocate(Dim(m));
  for (auto& e : v.selectedindivq) e.p = &v.falsetgt;
  av.knownsibshipq.allocate(Dim(0, 1));
  for (auto& e : av.knownsibshipq) e.p = &v.falsetgt;
  set_configuration(fam1, fam2);
  setinitcluster();
}

// A random configuration (configuration_fixture.hpp) with its family ids renumbered 1, 2, ...
// per sex (one pool: over both columns), so that crnumfamily(s) + 1 is a new family.
inline void random_contiguous_configuration(std::mt19937& rng, int4 k1, int4 k2) {
  auto& v = variables;
  const int4 n = v.smplsize;
  random_configuration(rng, k1, k2);
  std::map<int4, int4> ids[3];
  std::vector<int4> a(static_cast<std::size_t>(n)), b(static_cast<std::size_t>(n));
  for (int4 o = 1; o <= n; ++o)
    for (int4 s = 1; s <= 2; ++s) {
      std::map<int4, int4>& m = ids[v.numsex == 1 ? 1 : s];
      const int4 f = v.crindivloc(o, s);
      if (!m.count(f)) m.emplace(f, static_cast<int4>(m.size()) + 1);
      (s == 1 ? a : b)[static_cast<std::size_t>(o - 1)] = m[f];
    }
  set_configuration(a, b);
  if (v.numsex == 1) {
    v.crnumfamily(1) = static_cast<int4>(ids[1].size());
    v.crnumfamily(2) = v.crnumfamily(1);
  }
  setinitcluster();
}

// The flags and tables derived from the constraints set by hand (known sibships, known
// parents, offspring who are candidates, haploid offspring).
inline void finish_constraints() {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  int4 lo = 0, hi = 0;
  for (int4 s = 1; s <= 2; ++s) {
    v.anyknownsibshipq(s) = 0;
    v.numknownprnt(s) = 0;
    v.numknownprnt(s + 2) = 0;
    std::set<int4> known;
    for (int4 i = 1; i <= n; ++i) {
      const int4 k = v.knownsibship(i, s);
      if (k != 0) v.anyknownsibshipq(s) = 1;
      lo = std::min(lo, k);
      hi = std::max(hi, k);
      if (v.indivparent(i, s) > 0) {
        known.insert(v.indivparent(i, s));
        ++v.numknownprnt(s + 2);
        v.knownprntq(v.indivparent(i, s), s) = 1;
      }
    }
    v.numknownprnt(s) = static_cast<int4>(known.size());
    v.anyknownprntq(s) = known.empty() ? 0 : 1;
  }
  av.knownsibshipq.allocate(Dim(lo, hi + 1));
  for (auto& e : av.knownsibshipq) e.p = &v.falsetgt;
  v.smplsizedh(1) = 0;
  for (int4 i = 1; i <= n; ++i)
    if (v.offploid(i) == 1) ++v.smplsizedh(1);
  v.smplsizedh(2) = n - v.smplsizedh(1);
  v.numcndinoffspring(1) = v.numcndinoffspring(2) = 0;
  v.unknowngen = 0;
  for (int4 s = 1; s <= 2; ++s)
    for (int4 c = 1; c <= v.numcandidate(s); ++c)
      if (v.cndinoffspring(c, s) > 0) {
        ++v.numcndinoffspring(s);
        v.offspringincnd(v.cndinoffspring(c, s), s) = c;
        v.unknowngen = 1;
      }
  v.numcndinothersex(1) = v.numcndinothersex(2) = 0;
  for (int4 s = 1; s <= 2; ++s)
    for (int4 c = 1; c <= v.numcandidate(s); ++c)
      if (v.cndinothersex(c, s) > 0) ++v.numcndinothersex(s);
  if (v.unknowngen == 1 && !v.poassign.allocated()) {
    v.poassign.allocate(Dim(2), Dim(n));
    v.npoassign.allocate(Dim(0, n));
  }
}

// Makes offspring a and b an excluded pair of sex s.
inline void exclude_sibs(int4 a, int4 b, int4 s) {
  auto& v = variables;
  const int4 n = v.smplsize;
  if (!v.excludedsib.allocated()) {
    v.excludedsib.allocate(Dim(n), Dim(2));
    v.excludedsibshipq.allocate(Dim(n));
  }
  const int4 lo = std::min(a, b), hi = std::max(a, b);
  FArray<int4, 1>& words = v.excludedsib(hi, s).a;
  if (!words.allocated()) words.allocate(Dim(0, (hi - 1) / 32));
  words((lo - 1) / 32) = static_cast<int4>(static_cast<std::uint32_t>(words((lo - 1) / 32)) |
                                           (std::uint32_t{1} << ((lo - 1) % 32)));
  v.excludedsibshipq(a) = 1;
  v.excludedsibshipq(b) = 1;
  v.anyexcludedsibshipq(s) = 1;
}

// Offspring o of sex s: a conflict list (count > 0: those it must not share the family with;
// count < 0: the only ones it may share it with), stored in row `row`.
inline void set_conflict(int4 o, int4 s, int4 row, bool allowonly, std::vector<int4> list) {
  auto& v = variables;
  const int4 n = v.smplsize;
  if (!v.prntconflict.allocated()) {
    v.prntconflict.allocate(Dim(n), Dim(2));
    v.prntconflictid.allocate(Dim(n), Dim(2));
  }
  std::sort(list.begin(), list.end());
  const int4 len = static_cast<int4>(list.size());
  v.prntconflict(o, s).count = allowonly ? -len : len;
  FArray<int4, 1>& dest = v.prntconflict(row, s).list;
  dest.allocate(Dim(len));
  for (int4 k = 1; k <= len; ++k) dest(k) = list[static_cast<std::size_t>(k - 1)];
  v.prntconflictid(o, s) = static_cast<int2>(row);
  v.anyprntconflictq(s) = 1;
}

// Offspring o of sex s: an exclusion list of candidates (count as stored).
inline void set_excluded_parents(int4 o, int4 s, int4 count, std::vector<int4> list) {
  auto& v = variables;
  const int4 n = v.smplsize;
  if (!v.excludedparent.allocated()) v.excludedparent.allocate(Dim(n), Dim(2));
  std::sort(list.begin(), list.end());
  Excludedlist& e = v.excludedparent(o, s);
  e.count = count;
  e.list.allocate(Dim(static_cast<index_t>(list.size())));
  for (std::size_t k = 0; k < list.size(); ++k) e.list(static_cast<index_t>(k) + 1) = list[k];
  v.anyexcludedparentq(s) = 1;
}

// The parents of the configuration: parent(s, family id) for every family (0 unsampled; a
// known parent of a member takes precedence), with inferparent, inferparent2, unassignedcnd
// and the parent-offspring table that follow from it.
inline void set_parents(const std::map<std::pair<int4, int4>, int4>& parent) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  av.unassignedcnd.fill(1);
  for (int4 o = 1; o <= n; ++o)
    for (int4 s = 1; s <= 2; ++s) {
      const auto it = parent.find({s, v.crindivloc(o, s)});
      const int4 p = it == parent.end() ? 0 : it->second;
      v.inferparent(o, s) = p;
      v.inferparent2(o, s) = std::max(p, v.indivparent(o, s));
      if (v.inferparent2(o, s) > 0) av.unassignedcnd(v.inferparent2(o, s), s) = 0;
    }
  if (v.poassign.allocated()) {
    v.npoassign(0) = 0;
    for (int4 o = 1; o <= n; ++o) {
      bool any = false;
      for (int4 s = 1; s <= 2; ++s) {
        const int4 p = v.inferparent2(o, s);
        v.poassign(s, o) = p > 0 ? v.cndinoffspring(p, s) : 0;
        any = any || v.poassign(s, o) > 0;
      }
      if (any) v.npoassign(++v.npoassign(0)) = o;
    }
  }
}

// The rows of the proposal: (offspring, proposed sex-1 and sex-2 families) of every row of
// indivloc1 and indivloc2 in use.
inline std::vector<std::array<int4, 3>> proposal_rows() {
  const auto& av = annealvariables;
  std::vector<std::array<int4, 3>> rows;
  for (int4 r = 1; r <= av.numindiv(1); ++r)
    rows.push_back({av.indivloc1(r, 4), av.indivloc1(r, 1), av.indivloc1(r, 2)});
  for (int4 r = 1; r <= av.numindiv(2); ++r)
    rows.push_back({av.indivloc2(r, 4), av.indivloc2(r, 1), av.indivloc2(r, 2)});
  return rows;
}

// Change lists of the proposal in the tables: every offspring of a row gets the parent its
// proposed family has: `chosen` (s, family) when given, else the parent the family has now
// (0 for a new family); one entry per offspring whose parent changes.
inline void propose_parents(const std::map<std::pair<int4, int4>, int4>& chosen) {
  auto& v = variables;
  auto& av = annealvariables;
  av.numindivparentage(1) = av.numindivparentage(2) = 0;
  std::map<std::pair<int4, int4>, int4> present;
  for (int4 o = 1; o <= v.smplsize; ++o)
    for (int4 s = 1; s <= 2; ++s) present[{s, v.crindivloc(o, s)}] = v.inferparent2(o, s);
  for (const auto& row : proposal_rows())
    for (int4 s = 1; s <= 2; ++s) {
      const int4 o = row[0];
      const int4 f = row[static_cast<std::size_t>(s)];
      int4 p = 0;
      if (auto it = chosen.find({s, f}); it != chosen.end()) {
        p = it->second;
      } else if (auto jt = present.find({s, f}); jt != present.end()) {
        p = jt->second;
      }
      if (v.indivparent(o, s) > 0 && p == v.indivparent(o, s)) continue;
      if (p == v.inferparent(o, s)) continue;
      const int4 k = ++av.numindivparentage(s);
      av.indivparentage(k, s) = o;
      av.inferparentage(k, s, 1) = v.inferparent(o, s);
      av.inferparentage(k, s, 2) = p;
    }
}

// Everything checkconfiguration must leave as it was, compared bit for bit.
struct Snapshot {
  std::vector<int4> crindivloc, poassign, inferparent2, q1, q3, kdx, ldx;
  std::vector<int1> q2;
  std::vector<bool> knownsibq, selindiv;
  std::vector<int4> clustersize;
  static Snapshot take() {
    const auto& v = variables;
    const auto& av = annealvariables;
    Snapshot s;
    s.crindivloc.assign(v.crindivloc.begin(), v.crindivloc.end());
    if (v.poassign.allocated()) s.poassign.assign(v.poassign.begin(), v.poassign.end());
    s.inferparent2.assign(v.inferparent2.begin(), v.inferparent2.end());
    s.q1.assign(av.selectedprntidxq1.begin(), av.selectedprntidxq1.end());
    s.q2.assign(av.selectedprntidxq2.begin(), av.selectedprntidxq2.end());
    s.q3.assign(av.selectedprntidxq3.begin(), av.selectedprntidxq3.end());
    for (const auto& e : av.knownsibshipq) s.knownsibq.push_back(e.p == &v.truetgt || *e.p);
    for (const auto& e : v.selectedindivq) s.selindiv.push_back(e.p != &v.falsetgt);
    s.clustersize.assign(av.clustersize.begin(), av.clustersize.end());
    return s;
  }
  bool operator==(const Snapshot&) const = default;
};

inline bool scratch_clear() {
  const auto& v = variables;
  const auto& av = annealvariables;
  for (auto x : av.selectedprntidxq1)
    if (x != 0) return false;
  for (auto x : av.selectedprntidxq2)
    if (x != 0) return false;
  for (auto x : av.selectedprntidxq3)
    if (x != 0) return false;
  for (const auto& e : av.knownsibshipq)
    if (e.p != &v.falsetgt) return false;
  for (const auto& e : v.selectedindivq)
    if (e.p != &v.falsetgt) return false;
  return true;
}

// Runs the test on the proposal in the tables; the side-1 structure of the moving offspring's
// cluster is built first, as the move choice leaves it.
inline int4 run_check(int4 movekind, int4 knownsibside = 0, int1 wholesibshipsex = 0) {
  auto& av = annealvariables;
  if (av.movingtype <= 1) familybuild0(variables.crindivloc(av.moveindiv, 3), 1);
  int4 configok = -1;
  checkconfiguration(configok, knownsibside, movekind, wholesibshipsex);
  return configok;
}

// ---------------------------------------------------------------------------------------------
// The validator: builds the proposed configuration (families and parents of every offspring)
// and checks it against the constraints of the data and the mating system, written from the
// constraints themselves. It returns the first constraint broken, or "" when none is.
inline std::string validate_proposal() {
  const auto& v = variables;
  const auto& av = annealvariables;
  const int4 n = v.smplsize;
  const bool two = v.numsex == 2;
  // Proposed families.
  std::vector<std::array<int4, 3>> fam(static_cast<std::size_t>(n) + 1);
  for (int4 o = 1; o <= n; ++o) fam[o] = {o, v.crindivloc(o, 1), v.crindivloc(o, 2)};
  for (const auto& row : proposal_rows()) fam[static_cast<std::size_t>(row[0])] = row;
  // Proposed assigned parents, and the parent each offspring has (known or assigned).
  std::vector<std::array<int4, 3>> assigned(static_cast<std::size_t>(n) + 1);
  for (int4 o = 1; o <= n; ++o) assigned[o] = {0, v.inferparent(o, 1), v.inferparent(o, 2)};
  for (int4 s = 1; s <= 2; ++s)
    for (int4 k = 1; k <= av.numindivparentage(s); ++k)
      assigned[static_cast<std::size_t>(av.indivparentage(k, s))][static_cast<std::size_t>(s)] =
          av.inferparentage(k, s, 2);
  const auto par = [&](int4 o, int4 s) {
    return std::max(v.indivparent(o, s), assigned[static_cast<std::size_t>(o)][s]);
  };
  const auto F = [&](int4 o, int4 s) { return fam[static_cast<std::size_t>(o)][s]; };
  const bool haplo = v.smplsizedh(1) > 0;

  for (int4 o = 1; o <= n; ++o) {
    if (!two && v.allowinbreeding == 0 && F(o, 1) == F(o, 2)) return "selfing";
    for (int4 s = 1; s <= 2; ++s) {
      const int4 k = v.indivparent(o, s);
      const int4 a = assigned[static_cast<std::size_t>(o)][s];
      if (k > 0 && a > 0 && a != k) return "known parent replaced";
      if (a > 0 && v.excludedparent.allocated() && k <= 0) {
        const Excludedlist& e = v.excludedparent(o, s);
        const bool in = std::find(e.list.begin(), e.list.end(), a) != e.list.end();
        if (e.count == v.numcandidate(s) && e.count != 0) return "excluded parent (all)";
        if (e.count > 0 && in) return "excluded parent";
        if (e.count < 0 && !in) return "parent not among the allowed";
      }
    }
  }
  // One parent per family (one pool: per parent id across both roles), one family per parent.
  std::map<std::pair<int4, int4>, int4> famparent;  // (sex or 0 for one pool, id) -> parent + 1
  std::map<std::pair<int4, int4>, int4> parentfam;  // (sex, candidate) -> family id
  for (int4 o = 1; o <= n; ++o)
    for (int4 s = 1; s <= 2; ++s) {
      if (two && s == 1 && haplo && v.offploid(o) == 1) continue;
      const int4 f = F(o, s);
      const int4 p = par(o, s);
      const std::pair<int4, int4> key{two ? s : 0, f};
      auto [it, fresh] = famparent.emplace(key, p + 1);
      if (!fresh && it->second != p + 1) return "family with two parents";
      if (p > 0) {
        auto [jt, fresh2] = parentfam.emplace(std::pair<int4, int4>{two ? s : 0, p}, f);
        if (!fresh2 && jt->second != f) return "parent of two families";
      }
    }
  // A candidate of both sexes is a parent in one sex only.
  if (two)
    for (const auto& [key, f] : parentfam) {
      const int4 s = key.first, c = key.second;
      const int4 other = v.cndinothersex(c, s);
      if (other > 0 && parentfam.count({3 - s, other})) return "parent in both sexes";
    }
  // No one is its own ancestor.
  {
    std::vector<int4> state(static_cast<std::size_t>(n) + 1, 0);
    std::function<bool(int4)> cyclic = [&](int4 o) {
      state[static_cast<std::size_t>(o)] = 1;
      for (int4 s = 1; s <= 2; ++s) {
        const int4 p = par(o, s);
        const int4 a = p > 0 ? v.cndinoffspring(p, s) : 0;
        if (a <= 0) continue;
        if (state[static_cast<std::size_t>(a)] == 1) return true;
        if (state[static_cast<std::size_t>(a)] == 0 && cyclic(a)) return true;
      }
      state[static_cast<std::size_t>(o)] = 2;
      return false;
    };
    for (int4 o = 1; o <= n; ++o)
      if (state[static_cast<std::size_t>(o)] == 0 && cyclic(o)) return "pedigree loop";
  }
  // Known sibships: one family per id; different negative ids in different families.
  for (int4 s = 1; s <= 2; ++s) {
    if (v.anyknownsibshipq(s) == 0) continue;
    std::map<int4, int4> idfam;
    std::map<int4, int4> famneg;
    for (int4 o = 1; o <= n; ++o) {
      const int4 k = v.knownsibship(o, s);
      if (k == 0) continue;
      auto [it, fresh] = idfam.emplace(k, F(o, s));
      if (!fresh && it->second != F(o, s)) return "known sibship split";
      if (k < 0) {
        auto [jt, fresh2] = famneg.emplace(F(o, s), k);
        if (!fresh2 && jt->second != k) return "two negative sibship ids in one family";
      }
    }
  }
  // Pairs in one family: excluded sibships and parent conflicts.
  for (int4 s = 1; s <= 2; ++s)
    for (int4 a = 1; a <= n; ++a)
      for (int4 b = a + 1; b <= n; ++b) {
        if (F(a, s) != F(b, s)) continue;
        if (v.excludedsib.allocated() && v.excludedsib(b, s).a.allocated()) {
          const FArray<int4, 1>& w = v.excludedsib(b, s).a;
          const index_t word = (a - 1) / 32;
          if (word <= w.ubound(1) &&
              (static_cast<std::uint32_t>(w(word)) >> ((a - 1) % 32) & 1u) != 0)
            return "excluded sibship";
        }
        if (v.prntconflict.allocated())
          for (const auto& [x, y] : {std::pair{a, b}, std::pair{b, a}}) {
            const int4 count = v.prntconflict(x, s).count;
            if (count == 0) continue;
            const FArray<int4, 1>& l = v.prntconflict(v.prntconflictid(x, s), s).list;
            const bool in = std::find(l.begin(), l.end(), y) != l.end();
            if (count > 0 ? in : !in) return "parent conflict";
          }
      }
  // Mating limits: distinct mates per parent of a sex.
  if (two)
    for (int4 s = 1; s <= 2; ++s) {
      std::map<int4, std::set<int4>> mates;
      for (int4 o = 1; o <= n; ++o) mates[F(o, s)].insert(F(o, 3 - s));
      for (const auto& [f, m] : mates) {
        if (static_cast<int4>(m.size()) > v.maxmatings(s)) return "too many mates";
        if (v.monogamy(s) != 0 && m.size() > 1) return "monogamy";
      }
    }
  // One parent pool: a monogamous role has one mate per parent id; with every mating
  // monogamous each individual has one mate in either role. Selfed offspring name no mate
  // when the species can self.
  if (!two) {
    const bool canself = v.numsex == v.allowinbreeding;
    std::map<std::pair<int4, int4>, std::set<int4>> rolemates;
    std::map<int4, std::set<int4>> mates;
    for (int4 o = 1; o <= n; ++o) {
      const int4 a = F(o, 1), b = F(o, 2);
      if (canself && a == b) continue;
      rolemates[{1, a}].insert(b);
      rolemates[{2, b}].insert(a);
      mates[a].insert(b);
      mates[b].insert(a);
    }
    for (const auto& [key, m] : rolemates)
      if (v.monogamy(key.first) != 0 && m.size() > 1) return "monogamy of a role";
    if (v.allmonogamy != 0)
      for (const auto& [f, m] : mates)
        if (m.size() > 1) return "monogamy";
  }
  return "";
}

}  // namespace kinrad::test
