// The initial configuration of a fresh run, built from the known relationships.
//
// The initial configuration gives every offspring its own family unless the data tie it to
// others: offspring of one known sibship share a family, and through a monogamous other sex the
// known sibships of that sex merge the families of this one. Haploid offspring take the paternal
// family of a diploid offspring of their mother.
#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "search/search_internal.hpp"

namespace kinrad {

namespace {

// Merges the group values of sex s through the known sibships of the monogamous other sex o:
// offspring that must share a mate share a family of sex s.
void merge_through_monogamous_sex(int4 s, std::vector<int4>& group) {
  auto& v = variables;
  const int4 n = v.smplsize;
  const int4 o = 3 - s;
  // Partners of an offspring: the others of its known sibship of sex o (s = 1), or of its
  // paternal family just built (s = 2). Members listed per key in offspring order.
  auto key = [&](int4 i) { return s == 1 ? v.knownsibship(i, o) : v.crindivloc(i, 1); };
  std::map<int4, std::vector<int4>> members;
  for (int4 i = 1; i <= n; ++i) members[key(i)].push_back(i);
  int4 fresh = 2147483647;
  for (int4 i = 1; i <= n; ++i) {
    if (v.knownsibship(i, o) == 0) continue;
    const std::vector<int4>& part = members[key(i)];
    int4 found = 0;
    for (int4 j : part)
      if (j != i && group[static_cast<std::size_t>(j)] != 0) {
        found = j;
        break;
      }
    int4& gi = group[static_cast<std::size_t>(i)];
    if (found != 0) {
      const int4 gj = group[static_cast<std::size_t>(found)];
      if (gi == 0) {
        gi = gj;
      } else {
        const int4 old = gi;
        for (int4 x = 1; x <= n; ++x)
          if (group[static_cast<std::size_t>(x)] == old) group[static_cast<std::size_t>(x)] = gj;
      }
    } else if (gi == 0) {
      gi = fresh--;
    }
    for (int4 j : part)
      if (j != i && group[static_cast<std::size_t>(j)] == 0)
        group[static_cast<std::size_t>(j)] = gi;
  }
}

// Numbers the families of column s in order of first appearance; equal non-zero group values
// share a family.
void number_families(int4 s, const std::vector<int4>& group) {
  auto& v = variables;
  const int4 n = v.smplsize;
  std::map<int4, int4> famof;
  for (int4 i = 1; i <= n; ++i) {
    const int4 g = group[static_cast<std::size_t>(i)];
    if (g != 0) {
      const auto it = famof.find(g);
      if (it != famof.end()) {
        v.crindivloc(i, s) = it->second;
        continue;
      }
    }
    v.crindivloc(i, s) = ++v.crnumfamily(s);
    if (g != 0) famof[g] = v.crnumfamily(s);
  }
}

// Haploid offspring take the paternal family of a diploid offspring of their mother (else of
// the first earlier haploid one); the paternal ids are then renumbered by first appearance.
void align_haploid_fathers() {
  auto& v = variables;
  const int4 n = v.smplsize;
  if (v.smplsizedh(1) <= 0 || v.crnumfamily(2) >= n) return;
  std::map<int4, int4> firstdiploid, firsthaploid;
  for (int4 i = 1; i <= n; ++i) {
    const int4 m = v.crindivloc(i, 2);
    if (v.offploid(i) == 2) firstdiploid.emplace(m, i);
  }
  for (int4 h = 1; h <= n; ++h) {
    if (v.offploid(h) != 1) continue;
    const int4 m = v.crindivloc(h, 2);
    const auto d = firstdiploid.find(m);
    if (d != firstdiploid.end()) {
      v.crindivloc(h, 1) = v.crindivloc(d->second, 1);
      continue;
    }
    const auto e = firsthaploid.find(m);
    if (e != firsthaploid.end())
      v.crindivloc(h, 1) = v.crindivloc(e->second, 1);
    else
      firsthaploid.emplace(m, h);
  }
  std::map<int4, int4> newid;
  int4 k = 0;
  for (int4 i = 1; i <= n; ++i) {
    const auto [it, added] = newid.emplace(v.crindivloc(i, 1), k + 1);
    if (added) ++k;
    v.crindivloc(i, 1) = it->second;
  }
  v.crnumfamily(1) = k;
}

// The distinct known parents of column c in order of first appearance, each with the family id
// (in that column) of the first offspring that has it.
std::vector<std::pair<int4, int4>> known_parent_families(int4 c) {
  auto& v = variables;
  std::vector<std::pair<int4, int4>> list;
  std::map<int4, bool> seen;
  for (int4 i = 1; i <= v.smplsize; ++i) {
    const int4 p = v.indivparent(i, c);
    if (p <= 0 || seen.count(p)) continue;
    seen[p] = true;
    list.emplace_back(p, v.crindivloc(i, c));
  }
  return list;
}

// One parent pool: a candidate known as a parent in both roles gets one family. Its whole role-2
// family takes its role-1 id, and the ids above the freed one close the gap.
void join_roles_of_known_parents() {
  auto& v = variables;
  const int4 n = v.smplsize;
  if (v.numknownprnt(1) > 0 && v.numknownprnt(2) > 0) {
    auto role1 = known_parent_families(1);
    auto role2 = known_parent_families(2);
    for (std::size_t k = 0; k < role2.size(); ++k) {
      const int4 p = role2[k].first;
      const int4 f2 = role2[k].second;
      const auto it =
          std::find_if(role1.begin(), role1.end(), [p](const auto& e) { return e.first == p; });
      if (it == role1.end()) continue;
      const int4 f1 = it->second;
      if (f1 == f2) continue;
      for (int4 i = 1; i <= n; ++i)
        if (v.crindivloc(i, 2) == f2) v.crindivloc(i, 2) = f1;
      for (int4 c = 1; c <= 2; ++c)
        for (int4 i = 1; i <= n; ++i)
          if (v.crindivloc(i, c) > f2) --v.crindivloc(i, c);
      for (auto& e : role1)
        if (e.second > f2) --e.second;
      for (auto& e : role2)
        if (e.second > f2) --e.second;
    }
    int4 top = 0;
    for (int4 c = 1; c <= 2; ++c)
      for (int4 i = 1; i <= n; ++i) top = std::max(top, v.crindivloc(i, c));
    v.crnumfamily(2) = top;
  }
  v.crnumfamily(1) = v.crnumfamily(2);
}

// Known parents become the inferred parents of the other members of their families.
void spread_known_parents() {
  auto& v = variables;
  const int4 n = v.smplsize;
  for (int4 c = 1; c <= 2; ++c) {
    const bool diploid_only = c == 1 || v.numsex == 1;
    for (const auto& [p, f] : known_parent_families(c))
      for (int4 i = 1; i <= n; ++i) {
        if (v.crindivloc(i, c) != f || v.indivparent(i, c) > 0) continue;
        if (diploid_only && v.offploid(i) != 2) continue;
        v.inferparent(i, c) = p;
      }
  }
}

}  // namespace

void firstconfig(FStatic<int4, 1, 4>& curnumassign) {
  auto& v = variables;
  const int4 n = v.smplsize;
  std::vector<int4> group(static_cast<std::size_t>(n) + 1, 0);
  const bool anyknown = v.anyknownsibshipq(1) != 0 || v.anyknownsibshipq(2) != 0;
  for (int4 s = 1; s <= 2; ++s) {
    const int4 o = 3 - s;
    for (int4 i = 1; i <= n; ++i) v.crindivloc(i, s) = 0;
    v.crnumfamily(s) = s > v.numsex ? v.crnumfamily(1) : 0;
    for (int4 i = 1; i <= n; ++i)
      group[static_cast<std::size_t>(i)] = anyknown ? v.knownsibship(i, s) : 0;
    if (v.monogamy(o) != 0 && v.anyknownsibshipq(o) != 0) merge_through_monogamous_sex(s, group);
    number_families(s, group);
  }
  align_haploid_fathers();
  if (v.numsex == 1) join_roles_of_known_parents();
  v.inferparent.fill(0);
  curnumassign.fill(0);
  if (v.numknownprnt(1) > 0 || v.numknownprnt(2) > 0) {
    spread_known_parents();
    v.inferparentprt = v.inferparent.view();
    findassignment(curnumassign);
  }
}

}  // namespace kinrad
