#pragma once
// Test support: recounts the cluster tables of the current configuration from crindivloc alone
// (plain maps and sets, no code of the program) and reports every table that differs. An
// empty report means the tables agree with the recount.
#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/modules.hpp"

namespace kinrad::testing_support {

// The structure of one cluster recounted from crindivloc: parents by first appearance over
// `order` (the offspring in the order the cluster's member list holds them).
struct RecountedCluster {
  std::map<int4, int4> local1, local2;         // family id -> local index, per sex (role)
  std::map<std::pair<int4, int4>, int4> fam;   // (local1, local2) -> family local index
  std::vector<std::vector<int4>> members;      // per family (from 1), in list order
  std::vector<std::pair<int4, int4>> parents;  // per family (from 1): (local1, local2)
  std::vector<int4> first_ids1, first_ids2;    // per local parent (from 1): family id
};

inline RecountedCluster recount_cluster(const std::vector<int4>& order) {
  const auto& loc = variables.crindivloc;
  RecountedCluster r;
  r.members.emplace_back();
  r.parents.emplace_back();
  r.first_ids1.push_back(0);
  r.first_ids2.push_back(0);
  for (int4 i : order) {
    const int4 a = loc(i, 1), b = loc(i, 2);
    if (!r.local1.count(a)) {
      r.local1[a] = static_cast<int4>(r.local1.size()) + 1;
      r.first_ids1.push_back(a);
    }
    if (!r.local2.count(b)) {
      r.local2[b] = static_cast<int4>(r.local2.size()) + 1;
      r.first_ids2.push_back(b);
    }
    const std::pair<int4, int4> key{r.local1[a], r.local2[b]};
    if (!r.fam.count(key)) {
      r.fam[key] = static_cast<int4>(r.fam.size()) + 1;
      r.members.emplace_back();
      r.parents.push_back(key);
    }
    r.members[static_cast<std::size_t>(r.fam[key])].push_back(i);
  }
  return r;
}

// Compares every used slot's lists, the id-to-slot index, the per-offspring local indices and
// the free slots with a recount. With check_order, the local numbering must also be the one of
// first appearance over each slot's member list (true after setinitcluster and addcluster).
inline std::string check_cluster_tables(bool check_order = true) {
  const auto& v = variables;
  const auto& av = annealvariables;
  const int4 n = v.smplsize;
  const int4 nslot = v.crnumfamily(3);
  std::ostringstream err;
  std::map<int4, std::vector<int4>> by_id;  // cluster id -> offspring ascending
  for (int4 i = 1; i <= n; ++i) by_id[v.crindivloc(i, 3)].push_back(i);
  std::set<int4> ids_seen;
  const bool lists = v.indivcluster1.allocated();
  for (int4 c = 1; c <= nslot; ++c) {
    if (v.indivclusteridx(c) == -1) {
      err << "slot " << c << " below crnumfamily(3) is free\n";
      continue;
    }
    const auto& list = v.indivcluster(c);
    std::vector<int4> order;
    for (index_t t = 1; t <= list.size(); ++t) order.push_back(list(t));
    if (order.empty()) {
      err << "slot " << c << " has no members\n";
      continue;
    }
    const int4 id = v.crindivloc(order[0], 3);
    ids_seen.insert(id);
    if (v.indivclusteridx(c) != order[0]) err << "indivclusteridx(" << c << ") not first member\n";
    if (v.indivclusterindex(id) != c) err << "indivclusterindex(" << id << ") != " << c << "\n";
    std::vector<int4> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    if (sorted != by_id[id]) err << "slot " << c << " members differ from cluster " << id << "\n";
    if (av.clustersizet(id) != static_cast<int4>(order.size()))
      err << "clustersizet(" << id << ")\n";
    const RecountedCluster r = recount_cluster(order);
    const auto p1 = static_cast<int4>(r.local1.size());
    const auto p2 = static_cast<int4>(r.local2.size());
    const auto nf = static_cast<int4>(r.fam.size());
    // Local indices: one per parent id and per pair, equal to the recount's when numbered by
    // first appearance, otherwise a consistent relabelling.
    std::map<int4, int4> got1, got2;
    std::map<std::pair<int4, int4>, int4> gotf;
    bool ids_ok = true;
    for (int4 i : order) {
      const int4 l1 = av.indivclusterid(i, 1), l2 = av.indivclusterid(i, 2);
      const int4 f = av.indivclusterid(i, 3);
      const int4 a = v.crindivloc(i, 1), b = v.crindivloc(i, 2);
      if (got1.count(a) && got1[a] != l1) ids_ok = false;
      if (got2.count(b) && got2[b] != l2) ids_ok = false;
      got1[a] = l1;
      got2[b] = l2;
      const std::pair<int4, int4> key{l1, l2};
      if (gotf.count(key) && gotf[key] != f) ids_ok = false;
      gotf[key] = f;
      if (check_order && (l1 != r.local1.at(a) || l2 != r.local2.at(b) ||
                          f != r.fam.at({r.local1.at(a), r.local2.at(b)})))
        ids_ok = false;
    }
    if (!ids_ok) err << "slot " << c << ": indivclusterid inconsistent\n";
    if (!lists) continue;
    const int4 np = p1 + p2;
    const auto& first = v.indivcluster1(c);
    const auto& rest = v.indivcluster2(c);
    if (first.size() != nf) {
      err << "slot " << c << ": indivcluster1 holds " << first.size() << " not " << nf << "\n";
      continue;
    }
    std::vector<int4> expected_rest;
    for (int4 i : order) {
      const auto& fm = r.members[static_cast<std::size_t>(
          r.fam.at({r.local1.at(v.crindivloc(i, 1)), r.local2.at(v.crindivloc(i, 2))}))];
      if (fm.front() != i) expected_rest.push_back(i);
    }
    std::vector<int4> got_rest;
    for (index_t t = 1; t <= rest.size(); ++t) got_rest.push_back(rest(t));
    if (got_rest != expected_rest) err << "slot " << c << ": indivcluster2\n";
    // Families by local index, from the members' own indices.
    std::vector<int4> fam_first(static_cast<std::size_t>(nf) + 1, 0);
    std::vector<std::pair<int4, int4>> fam_par(static_cast<std::size_t>(nf) + 1);
    for (int4 i : order) {
      const int4 f = av.indivclusterid(i, 3);
      if (f < 1 || f > nf) {
        err << "slot " << c << ": family index out of range\n";
        return err.str();
      }
      if (fam_first[static_cast<std::size_t>(f)] == 0) {
        fam_first[static_cast<std::size_t>(f)] = i;
        fam_par[static_cast<std::size_t>(f)] = {av.indivclusterid(i, 1), av.indivclusterid(i, 2)};
      }
    }
    for (int4 f = 1; f <= nf; ++f) {
      if (first(f) != fam_first[static_cast<std::size_t>(f)])
        err << "slot " << c << ": indivcluster1(" << f << ")\n";
      if (v.indivclusterf(c)(f, 1) != fam_par[static_cast<std::size_t>(f)].first ||
          v.indivclusterf(c)(f, 2) != fam_par[static_cast<std::size_t>(f)].second)
        err << "slot " << c << ": indivclusterf(" << f << ")\n";
    }
    // Offsets and blocks of each parent's families.
    const auto& off = v.indivclustern(c);
    const auto& blk = v.indivclusterm(c);
    if (off.size() != np + 1 || blk.size() != 2 * nf) {
      err << "slot " << c << ": indivclustern/indivclusterm sizes\n";
      continue;
    }
    int4 expect_off = 0;
    for (int4 k = 1; k <= np; ++k) {
      const int s = k <= p1 ? 1 : 2;
      const int4 lk = k <= p1 ? k : k - p1;
      std::vector<int4> fams;
      for (int4 f = 1; f <= nf; ++f) {
        const auto& pr = fam_par[static_cast<std::size_t>(f)];
        if ((s == 1 ? pr.first : pr.second) == lk) fams.push_back(f);
      }
      if (off(k) != expect_off) err << "slot " << c << ": indivclustern(" << k << ")\n";
      for (std::size_t x = 0; x < fams.size(); ++x)
        if (off(k) + static_cast<int4>(x) + 1 > blk.size() ||
            blk(off(k) + static_cast<int4>(x) + 1) != fams[x])
          err << "slot " << c << ": indivclusterm block of parent " << k << "\n";
      expect_off += static_cast<int4>(fams.size());
    }
    if (off(np + 1) != expect_off) err << "slot " << c << ": indivclustern(P + 1)\n";
    if (v.numsex == 1) {
      const auto& link = v.indivclusterj(c);
      // Local index of each family id per role, from the members' own indices.
      std::map<int4, int4> role1, role2;
      for (int4 i : order) {
        role1[v.crindivloc(i, 1)] = av.indivclusterid(i, 1);
        role2[v.crindivloc(i, 2)] = av.indivclusterid(i, 2);
      }
      if (link.size() != np) {
        err << "slot " << c << ": indivclusterj size\n";
        continue;
      }
      for (const auto& [idv, r1] : role1) {
        const int4 want = role2.count(idv) ? role2[idv] : 0;
        if (link(r1) != want) err << "slot " << c << ": indivclusterj(" << r1 << ")\n";
      }
      for (const auto& [idv, r2] : role2) {
        const int4 want = role1.count(idv) ? role1[idv] : 0;
        if (link(p1 + r2) != want) err << "slot " << c << ": indivclusterj(p1 + " << r2 << ")\n";
      }
    }
  }
  if (ids_seen.size() != by_id.size()) err << "not every cluster id has a slot\n";
  for (index_t c = nslot + 1; c <= v.indivclusteridx.ubound(1); ++c)
    if (v.indivclusteridx(c) != -1) err << "slot " << c << " above crnumfamily(3) in use\n";
  return err.str();
}

// Compares the family structure the likelihood engine reads (nparent, nchild, the member list
// of every parent pair) with the full-sib families of cluster `id` recounted from crindivloc;
// families are compared as sets of offspring keyed by their parents' family ids.
inline std::string check_family_structure(int4 id) {
  const auto& v = variables;
  std::ostringstream err;
  using Families = std::map<std::pair<int4, int4>, std::set<int4>>;
  Families want;
  std::set<int4> ids1, ids2;
  for (int4 i = 1; i <= v.smplsize; ++i) {
    if (v.crindivloc(i, 3) != id) continue;
    want[{v.crindivloc(i, 1), v.crindivloc(i, 2)}].insert(i);
    ids1.insert(v.crindivloc(i, 1));
    ids2.insert(v.crindivloc(i, 2));
  }
  if (v.nparent(1) != static_cast<int4>(ids1.size()) ||
      v.nparent(2) != static_cast<int4>(ids2.size()))
    err << "nparent (" << v.nparent(1) << ", " << v.nparent(2) << ") of cluster " << id << "\n";
  Families got;
  for (int4 p1 = 1; p1 <= v.nparent(1); ++p1)
    for (int4 p2 = 1; p2 <= v.nparent(2); ++p2) {
      const int4 size = v.nchild(p1, p2);
      const int4 k = v.familystructure_index(p1, p2);
      if (size == 0 && k == 0) continue;
      if (k < 1 || v.familymember(k).a.size() != size) {
        err << "pair (" << p1 << ", " << p2 << "): size and list differ\n";
        continue;
      }
      std::set<int4> members;
      for (index_t t = 1; t <= size; ++t) members.insert(v.familymember(k).a(t));
      const int4 first = *members.begin();
      got[{v.crindivloc(first, 1), v.crindivloc(first, 2)}] = members;
    }
  if (got != want) err << "families of cluster " << id << " differ from the recount\n";
  return err.str();
}

// The scratch marks that every routine of the configuration model leaves all 0.
inline bool scratch_marks_clear() {
  const auto& av = annealvariables;
  for (const auto x : av.selectedprntidxq1)
    if (x != 0) return false;
  for (const auto x : av.selectedprntidxq2)
    if (x != 0) return false;
  for (const auto x : av.selectedprntidxq3)
    if (x != 0) return false;
  return true;
}

}  // namespace kinrad::testing_support
