// The trial frame for families scored outside a configuration, and trial families of any size:
// one full-sib group, or two groups that share the parent of one sex and have different
// parents of the other. Every parent carries the known parent of any member attached to it, so
// that a known parent held only by a later member is not lost (the engine itself reads the
// known parent of a family's first member); two members naming different known parents in one
// role make the family impossible.
#include <algorithm>
#include <array>
#include <span>

#include "core/modules.hpp"
#include "likelihood/likelihood.hpp"
#include "pairwise/pairwise.hpp"
#include "pairwise/pairwise_internal.hpp"

namespace kinrad {

// The trial frame of one and two parents per sex, made once (setfamilystruc) and then only
// emptied for each trial family: clearing every offspring's parent row per family would cost
// a pass over the sample each time.
void trialframe() {
  Variables& v = variables;
  const bool ready =
      v.inferparent.allocated() && v.inferparent.ubound(1) >= v.smplsize && v.nchild.allocated() &&
      v.nchild.ubound(1) == 2 && v.nchild.ubound(2) == 2 && v.familystructure_index.allocated() &&
      v.familystructure_index.ubound(1) == 2 && v.familystructure_index.ubound(2) == 2 &&
      (v.numsex != 1 || (v.parentjdx.allocated() && v.parentjdx.ubound(1) >= 5));
  if (!ready) {
    setfamilystruc(v.smplsize, 2);
    return;
  }
  v.inferparentprt = v.inferparent.view();
  v.nparent(1) = 2;
  v.nparent(2) = 2;
  v.familystructure_index.fill(0);
  if (v.numsex == 1) v.parentjdx.fill(0);
  v.familymember_count = 0;
  v.familymemtgt_used = 0;
}

real8 trialgroups(std::span<const int4> first, std::span<const int4> second, int4 split,
                  real8 bound) {
  Variables& v = variables;
  const bool two = !second.empty();
  // Parent slots of the groups: group g has father fa[g] and mother mo[g].
  const std::array<int4, 2> fa{1, two && split == 1 ? 2 : 1};
  const std::array<int4, 2> mo{1, two && split == 2 ? 2 : 1};
  const std::array<std::span<const int4>, 2> groups{first, second};

  trialframe();
  v.nparent(1) = fa[1];
  v.nparent(2) = mo[1];
  v.nchild.fill(0);

  const bool parents = v.indivparent.allocated();
  auto known = [&](int4 m, int4 s) {
    if (!parents || (s == 1 && v.offploid(m) == 1)) return 0;
    return std::max(v.indivparent(m, s), 0);
  };
  std::array<std::array<int4, 2>, 2> candidate{};  // (slot of the parent, sex)
  for (int4 g = 0; g < 2; ++g)
    for (const int4 m : groups[static_cast<std::size_t>(g)])
      for (int4 s = 1; s <= 2; ++s) {
        const int4 k = known(m, s);
        if (k == 0) continue;
        const int4 p = s == 1 ? fa[static_cast<std::size_t>(g)] : mo[static_cast<std::size_t>(g)];
        int4& c = candidate[static_cast<std::size_t>(p - 1)][static_cast<std::size_t>(s - 1)];
        if (c != 0 && c != k) return -1e300;
        c = k;
      }
  // Half sibs have different parents in the role they do not share.
  if (fa[1] == 2 && candidate[0][0] != 0 && candidate[0][0] == candidate[1][0]) return -1e300;
  if (mo[1] == 2 && candidate[0][1] != 0 && candidate[0][1] == candidate[1][1]) return -1e300;
  // One parent pool: a candidate in both roles is one selfing individual.
  if (v.numsex == 1) {
    for (int4 f = 1; f <= fa[1]; ++f)
      for (int4 m = 1; m <= mo[1]; ++m) {
        const int4 c = candidate[static_cast<std::size_t>(f - 1)][0];
        if (c == 0 || c != candidate[static_cast<std::size_t>(m - 1)][1]) continue;
        if (v.allowinbreeding != 1) return -1e300;
        v.parentjdx(f, 1) = m;
        v.parentjdx(m, 2) = f;
      }
  }
  for (int4 g = 0; g < 2; ++g) {
    const auto gi = static_cast<std::size_t>(g);
    const auto list = groups[gi];
    if (list.empty()) continue;
    for (const int4 m : list) {
      v.inferparent(m, 1) =
          v.offploid(m) == 1 ? 0 : candidate[static_cast<std::size_t>(fa[gi] - 1)][0];
      v.inferparent(m, 2) = candidate[static_cast<std::size_t>(mo[gi] - 1)][1];
    }
    v.nchild(fa[gi], mo[gi]) = static_cast<int2>(list.size());
    setfamilymembers(fa[gi], mo[gi], list);
  }

  real8 logl = 0.0;
  familylikelihood(logl, bound, 1, 0, 0);
  for (const auto& list : groups)
    for (const int4 m : list) v.inferparent(m, 1) = v.inferparent(m, 2) = 0;
  if (v.numsex == 1)
    for (int4 p = 1; p <= 2; ++p) v.parentjdx(p, 1) = v.parentjdx(p, 2) = 0;
  return logl;
}

}  // namespace kinrad
