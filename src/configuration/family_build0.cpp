#include <algorithm>
#include <cassert>

#include "configuration/configuration.hpp"
#include "configuration/configuration_internal.hpp"
#include "core/modules/annealvariables.hpp"
#include "core/modules/configuration_work.hpp"
#include "core/modules/variables.hpp"

namespace kinrad {

namespace {

// The record of slot c in the grouped-members pool, or nullptr when none is current.
const int4* group_record(int4 c) {
  const auto& w = configuration_work.family;
  const auto u = static_cast<std::size_t>(c);
  if (u >= w.groupgen.size() || w.groupgen[u] != w.groupgeneration) return nullptr;
  return w.grouppool.data() + w.groupoff[u];
}

// Keeps the grouping just built for slot c. The store is taken at its full size before the
// search (size_family_groups); when the pool is full the records are dropped and it fills again.
template <class Count, class List>
void keep_group(int4 c, int4 n, int4 nfam, const Count& count, const List& list) {
  auto& w = configuration_work.family;
  if (w.grouppool.empty() || w.groupgen.size() <= static_cast<std::size_t>(c)) size_family_groups();
  if (w.groupgen.size() <= static_cast<std::size_t>(c)) return;
  const auto need = static_cast<std::size_t>(n + nfam + 2);
  if (w.groupused + need > w.grouppool.size()) {
    if (need > w.grouppool.size()) return;
    family_groups_changed();
  }
  const auto u = static_cast<std::size_t>(c);
  w.groupgen[u] = w.groupgeneration;
  w.groupoff[u] = static_cast<int4>(w.groupused);
  int4* r = w.grouppool.data() + w.groupused;
  w.groupused += need;
  r[0] = n;
  r[1] = nfam;
  for (int4 f = 1; f <= nfam; ++f) r[1 + f] = count(f);
  for (int4 t = 1; t <= n; ++t) {
    r[1 + nfam + t] = list(t);
    w.groupslot[static_cast<std::size_t>(list(t))] = c;
  }
}

// Members of slot c grouped by full-sib family (family f after position loc(f)), keeping the
// order of the cluster's member list within a family. The moves ask for the same clusters again
// and again between changes of the configuration, so a grouping once built is kept and copied
// back (Debug builds rebuild it and check the copy).
template <class Count, class Loc, class List>
void group_members(int4 c, int4 nfam, Count& count, Loc& loc, List& list) {
  auto& v = variables;
  auto& w = configuration_work.family;
  const auto& id = annealvariables.indivclusterid;
  const auto& members = v.indivcluster(c);
  const auto n = static_cast<int4>(members.size());
  const int4* kept = group_record(c);
#ifdef NDEBUG
  if (kept != nullptr && kept[0] == n && kept[1] == nfam) {
    loc(0) = 0;
    int4 sum = 0;
    for (int4 f = 1; f <= nfam; ++f) {
      count(f) = kept[1 + f];
      loc(f) = static_cast<typename std::decay_t<decltype(loc(f))>>(sum);
      sum += kept[1 + f];
    }
    const int4* m = kept + 2 + nfam;
    for (int4 t = 1; t <= n; ++t) list(t) = static_cast<int2>(m[t - 1]);
    return;
  }
#endif
  for (int4 f = 1; f <= nfam; ++f) count(f) = 0;
  for (int4 t = 1; t <= n; ++t) ++count(id(members(t), 3));
  fit(w.fill, nfam);
  loc(0) = 0;
  int4 sum = 0;
  for (int4 f = 1; f <= nfam; ++f) {
    loc(f) = static_cast<typename std::decay_t<decltype(loc(f))>>(sum);
    w.fill[f] = sum;
    sum += count(f);
  }
  for (int4 t = 1; t <= n; ++t) {
    const int4 i = members(t);
    list(++w.fill[id(i, 3)]) = static_cast<int2>(i);
  }
#ifndef NDEBUG
  if (kept != nullptr) {
    assert(kept[0] == n && kept[1] == nfam);
    for (int4 f = 1; f <= nfam; ++f) assert(kept[1 + f] == count(f));
    for (int4 t = 1; t <= n; ++t) assert(kept[1 + nfam + t] == list(t));
    return;
  }
#endif
  keep_group(c, n, nfam, count, list);
}

// A cluster with one parent of each sex: one family holding every member.
template <class Count, class Loc, class List>
void one_family(int4 c, Count& count, Loc& loc, List& list) {
  const auto& members = variables.indivcluster(c);
  const auto n = static_cast<int4>(members.size());
  count(1) = n;
  loc(0) = 0;
  loc(1) = 0;
  for (int4 t = 1; t <= n; ++t) list(t) = members(t);
}

void build_side1(int4 id, int4 c) {
  auto& v = variables;
  auto& av = annealvariables;
  const auto& members = v.indivcluster(c);
  const auto n = static_cast<int4>(members.size());
  const int4 first = members(1);
  const int4 p1 = av.clustersize(1, id);
  const int4 p2 = av.clustersize(2, id);
  grow_array(av.familymember1, 1, n);
  if (p1 + p2 < 3 || !v.indivcluster1.allocated()) {
    av.numberfsfamily1 = 1;
    av.nparent1(1) = 1;
    av.nparent1(2) = 1;
    grow_array(av.numfamilymember1, 1, 1);
    grow_array(av.sibloc1, 0, 1);
    one_family(c, av.numfamilymember1, av.sibloc1, av.familymember1);
    if (av.numpartner1.size(1) < 1) av.numpartner1.allocate(Dim(1), Dim(2));
    av.numpartner1(1, 1) = 1;
    av.numpartner1(1, 2) = 1;
    av.partner1 = FView<int4, 1>(av.partner1tgt.data(), {Dim(1, 2)});
    av.locpartner1 = FView<int4, 1>(av.locpartner1tgt.data(), {Dim(1, 2)});
    av.familyidx1 = FView<int4, 1>(av.familyidx1tgt.data(), {Dim(1, 2)});
    grow_array(av.parentidx1, 1, 2);
    grow_array(v.parentchd, 1, 2);
    grow_array(av.lparent1, 1, 2);
    av.parentidx1(1) = v.crindivloc(first, 1);
    av.parentidx1(2) = v.crindivloc(first, 2);
    v.parentchd(1) = first;
    v.parentchd(2) = first;
    const bool selfer = v.numsex == 1 && av.parentidx1(1) == av.parentidx1(2);
    av.lparent1(1) = selfer ? 2 : 0;
    av.lparent1(2) = selfer ? 1 : 0;
    return;
  }
  const auto nfam = static_cast<int4>(v.indivcluster1(c).size());
  const int4 np = p1 + p2;
  av.numberfsfamily1 = nfam;
  av.nparent1(1) = p1;
  av.nparent1(2) = p2;
  grow_array(av.numfamilymember1, 1, nfam);
  grow_array(av.sibloc1, 0, nfam);
  group_members(c, nfam, av.numfamilymember1, av.sibloc1, av.familymember1);
  // Mates of each parent: the family blocks of the cluster tables.
  const auto& blk = v.indivclustern(c);
  const auto& fams = v.indivclusterm(c);
  const auto& par = v.indivclusterf(c);
  if (av.numpartner1.size(1) < std::max(p1, p2))
    av.numpartner1.allocate(Dim(std::max(p1, p2)), Dim(2));
  for (int4 k = 1; k <= p1; ++k) av.numpartner1(k, 1) = blk(k + 1) - blk(k);
  for (int4 k = 1; k <= p2; ++k) av.numpartner1(k, 2) = blk(p1 + k + 1) - blk(p1 + k);
  grow_array(av.partner1_store, 1, 2 * nfam);
  grow_array(av.locpartner1_store, 1, np + 1);
  grow_array(av.familyidx1_store, 1, 2 * nfam);
  for (int4 x = 1; x <= 2 * nfam; ++x) av.partner1_store(x) = fams(x);
  for (int4 x = 1; x <= np + 1; ++x) av.locpartner1_store(x) = blk(x);
  for (int4 f = 1; f <= nfam; ++f) {
    av.familyidx1_store(f) = par(f, 1);
    av.familyidx1_store(nfam + f) = par(f, 2);
  }
  av.partner1 = window(av.partner1_store, 1, 2 * nfam);
  av.locpartner1 = window(av.locpartner1_store, 1, np + 1);
  av.familyidx1 = window(av.familyidx1_store, 1, 2 * nfam);
  // Parents' family ids and one offspring of each: the first member of its first family.
  grow_array(av.parentidx1, 1, np);
  grow_array(v.parentchd, 1, np);
  grow_array(av.lparent1, 1, np);
  for (int4 f = 1; f <= nfam; ++f) {
    const int4 i = v.indivcluster1(c)(f);
    av.parentidx1(par(f, 1)) = v.crindivloc(i, 1);
    av.parentidx1(p1 + par(f, 2)) = v.crindivloc(i, 2);
  }
  // Where each parent id stands, so that a move finds the families of the parents it touches
  // through their partner lists rather than by testing every family of the cluster.
  auto& w = configuration_work.family;
  int4 topid = 1;
  for (int4 j = 1; j <= np; ++j) topid = std::max(topid, av.parentidx1(j));
  fit(w.side1pos1, topid);
  fit(w.side1pos2, topid);
  for (int4 j = 1; j <= np; ++j) {
    const int4 pid = std::max(av.parentidx1(j), 0);
    (j <= p1 ? w.side1pos1 : w.side1pos2)[static_cast<std::size_t>(pid)] = j <= p1 ? j : j - p1;
  }
  for (int4 j = 1; j <= np; ++j) {
    v.parentchd(j) = v.indivcluster1(c)(fams(blk(j) + 1));
    av.lparent1(j) = 0;
  }
  if (v.numsex == 1) {
    const auto& link = v.indivclusterj(c);
    for (int4 k = 1; k <= p1; ++k) av.lparent1(k) = link(k) != 0 ? p1 + link(k) : 0;
    for (int4 j = 1; j <= p2; ++j) av.lparent1(p1 + j) = link(p1 + j);
  }
}

void build_side2(int4 id, int4 c) {
  auto& v = variables;
  auto& av = annealvariables;
  const auto& members = v.indivcluster(c);
  const auto n = static_cast<int4>(members.size());
  const int4 first = members(1);
  const int4 p1 = av.clustersize(1, id);
  const int4 p2 = av.clustersize(2, id);
  grow_array(av.familymember2, 1, n);
  if (p1 + p2 < 3 || !v.indivcluster1.allocated()) {
    av.numberfsfamily2 = 1;
    av.nparent2(1) = 1;
    av.nparent2(2) = 1;
    grow_array(av.numfamilymember2, 1, 1);
    grow_array(av.familymemberloc2, 0, 1);
    one_family(c, av.numfamilymember2, av.familymemberloc2, av.familymember2);
    grow_array(av.parentidx2, 1, 2);
    av.parentidx2(1) = v.crindivloc(first, 1);
    av.parentidx2(2) = v.crindivloc(first, 2);
    av.familyidx2(1, 1) = 1;
    av.familyidx2(1, 2) = 1;
    return;
  }
  const auto nfam = static_cast<int4>(v.indivcluster1(c).size());
  av.numberfsfamily2 = nfam;
  av.nparent2(1) = p1;
  av.nparent2(2) = p2;
  grow_array(av.numfamilymember2, 1, nfam);
  grow_array(av.familymemberloc2, 0, nfam);
  group_members(c, nfam, av.numfamilymember2, av.familymemberloc2, av.familymember2);
  grow_array(av.parentidx2, 1, p1 + p2);
  const auto& par = v.indivclusterf(c);
  for (int4 f = 1; f <= nfam; ++f) {
    const int4 i = v.indivcluster1(c)(f);
    av.parentidx2(par(f, 1)) = v.crindivloc(i, 1);
    av.parentidx2(p1 + par(f, 2)) = v.crindivloc(i, 2);
    av.familyidx2(f, 1) = par(f, 1);
    av.familyidx2(f, 2) = par(f, 2);
  }
}

// The family structure of the engine for cluster `id` in slot c, from the member list and the
// members' local indices.
void build_engine_structure(int4 id, int4 c) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& w = configuration_work.family;
  const auto& members = v.indivcluster(c);
  const auto n = static_cast<int4>(members.size());
  const bool tiny = av.clustersizet(id) < 2;
  int4 nfam = 1;
  if (!tiny)
    for (int4 t = 1; t <= n; ++t) nfam = std::max(nfam, av.indivclusterid(members(t), 3));
  w.nparent(1) = tiny ? 1 : av.clustersize(1, id);
  w.nparent(2) = tiny ? 1 : av.clustersize(2, id);
  w.maxnumpartner(1) = tiny ? 1 : av.clustersize(5, id);
  w.maxnumpartner(2) = tiny ? 1 : av.clustersize(6, id);
  fit(w.famparent1, nfam);
  fit(w.famparent2, nfam);
  fit(w.famloc, nfam + 1);
  fit(w.fill, nfam + 1);
  fit(w.member, n);
  std::fill_n(w.fill.begin(), nfam + 2, 0);
  for (int4 t = 1; t <= n; ++t) {
    const int4 i = members(t);
    const int4 f = tiny ? 1 : av.indivclusterid(i, 3);
    if (w.fill[f] == 0) {
      w.famparent1[f] = tiny ? 1 : av.indivclusterid(i, 1);
      w.famparent2[f] = tiny ? 1 : av.indivclusterid(i, 2);
    }
    ++w.fill[f];
  }
  int4 largest = 0;
  w.famloc[1] = 0;
  for (int4 f = 1; f <= nfam; ++f) {
    largest = std::max(largest, w.fill[f]);
    w.famloc[f + 1] = w.famloc[f] + w.fill[f];
    w.fill[f] = w.famloc[f];
  }
  for (int4 t = 1; t <= n; ++t) {
    const int4 i = members(t);
    w.member[++w.fill[tiny ? 1 : av.indivclusterid(i, 3)]] = static_cast<int2>(i);
  }
  w.numberfsfamily = nfam;
  w.nmember = n;
  w.maxfamsize = largest;
  publish_family_structure(1, false);
}

}  // namespace

void size_family_groups() {
  const auto& v = variables;
  auto& w = configuration_work.family;
  // A sample has at most one cluster per offspring; the slot table may hold a few more. The
  // records of every cluster of a sample (members, families and two counts each) fit into the
  // pool at once.
  const auto slots =
      static_cast<std::size_t>(std::max<index_t>(v.indivcluster.size(), v.smplsize)) + 2;
  const auto n = static_cast<std::size_t>(std::max(v.smplsize, 1));
  if (w.groupgen.size() < slots) {
    w.groupgen.assign(slots, 0);
    w.groupoff.assign(slots, 0);
  }
  if (w.groupslot.size() < n + 1) w.groupslot.assign(n + 1, 0);
  if (w.grouppool.size() < 4 * n + 2 * slots) w.grouppool.resize(4 * n + 2 * slots);
  family_groups_changed();
}

void family_groups_changed() {
  auto& w = configuration_work.family;
  ++w.groupgeneration;
  w.groupused = 0;
}

void family_group_slot_changed(int4 c) {
  auto& w = configuration_work.family;
  const auto u = static_cast<std::size_t>(c);
  if (u < w.groupgen.size()) w.groupgen[u] = 0;
}

void family_group_member_changed(int4 i) {
  const auto& w = configuration_work.family;
  const auto u = static_cast<std::size_t>(i);
  if (u < w.groupslot.size()) family_group_slot_changed(w.groupslot[u]);
}

void familybuild0(int4 clusterid, int4 side) {
  auto& v = variables;
  auto& av = annealvariables;
  if (side == 1 || side == 2) {
    if (clusterid == av.lastfamilyid(side)) {
      av.focalclusteridx(side) = 0;
      return;
    }
    av.lastfamilyid(side) = clusterid;
    const int4 c = v.indivclusterindex(clusterid);
    av.focalclusteridx(side) = c;
    if (side == 1)
      build_side1(clusterid, c);
    else
      build_side2(clusterid, c);
  } else {
    build_engine_structure(clusterid, v.indivclusterindex(clusterid));
  }
  check_scratch_marks_clear();
}

}  // namespace kinrad
