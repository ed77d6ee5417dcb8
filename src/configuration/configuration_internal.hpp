#pragma once
// Helpers shared by the family builders and the cluster tables.
#include <algorithm>
#include <cstddef>
#include <new>
#include <vector>

#include "core/error_stop.hpp"
#include "core/kinds.hpp"
#include "core/modules/configuration_work.hpp"
#include "core/modules/variables.hpp"

namespace kinrad {

// Grows a buffer to hold indices 0..n; the contents of a grown buffer are not kept. A buffer
// that grows takes at once the size of the largest need of the sample (twice its size: the
// rows, families and parents of any cluster fit), so that the search, which builds clusters of
// every size in turn, stops allocating once each buffer has been used. A failed allocation
// stops through the memory flag, naming the family builder.
template <class T>
void fit(std::vector<T>& buf, index_t n) {
  const auto need = static_cast<std::size_t>(n < 0 ? 1 : n + 1);
  if (buf.size() >= need) return;
  const auto run = 2 * static_cast<std::size_t>(std::max<index_t>(variables.smplsize, 0)) + 2;
  try {
    buf.resize(std::max(need, run));
  } catch (const std::bad_alloc&) {
    stoponerror(0, "FamilyBuild");
  }
}

// Grows a module array to cover lo..hi; the contents of a grown array are not kept. As with
// fit, a growing array takes at once the largest extent of the sample (its users index
// offspring, families and parents of one cluster).
template <class T>
void grow_array(FArray<T, 1>& a, index_t lo, index_t hi) {
  if (a.allocated() && a.lbound(1) <= lo && a.ubound(1) >= hi) return;
  const index_t run = 2 * static_cast<index_t>(std::max<index_t>(variables.smplsize, 0)) + 2;
  if (!a.try_allocate(Dim(lo, std::max({hi, lo, run})))) stoponerror(0, "FamilyBuild");
}

// Numbers the distinct pairs (a[j], b[j]), j = 1..m (a in 1..na, b in 1..nb), 1, 2, ... in
// order of first appearance: fam[j] receives the pair's number; mates1[i] and mates2[k] (zeroed
// over 1..na and 1..nb here) count the pairs of each first and second member. Returns the
// number of pairs. Linear in m + na + nb whatever the shape.
int4 number_pairs(int4 m, const std::vector<int4>& a, const std::vector<int4>& b, int4 na, int4 nb,
                  std::vector<int4>& fam, std::vector<int4>& mates1, std::vector<int4>& mates2);

// Hands the picture in configuration_work.family to the family structure of the likelihood engine:
// parent counts, mate counts and family member lists; with wantstructure also the size and
// member list of every parent pair (with_sizes: the sizes alone); in one parent pool, unless
// told otherwise, parentjdx.
void publish_family_structure(int4 wantstructure, bool with_parentjdx = true,
                              bool with_sizes = false);

// Debug builds: the scratch marks shared by the move routines are all 0 when a routine of the
// configuration model returns.
void check_scratch_marks_clear();
// Drop the kept groupings of cluster members by family: every one, the one of slot c, or the
// one that lists offspring i. Every write to a slot's member list calls the second, every write
// to an offspring's local family index the third.
void family_groups_changed();
void family_group_slot_changed(int4 c);
void family_group_member_changed(int4 i);

}  // namespace kinrad
