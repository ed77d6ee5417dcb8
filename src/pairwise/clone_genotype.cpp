// One common set of inferred genotype alternatives for the members of each clone: the
// members' own alternatives are pooled and weighed by all the clone's observed genotypes.
#include <algorithm>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "core/sorting.hpp"
#include "model/model.hpp"
#include "pairwise/clones.hpp"

namespace kinrad {

void inferclonegtype(int4 locus) {
  Variables& v = variables;
  const int4 n = v.smplsize;
  const int4 na = v.obsnumallele(locus);
  const int4 nest = v.numestgenotype;
  setgetgtype.locusgtypeptr = v.indivgtype2(locus).a;

  // Members of every clone in index order: offspring bucketed by clone number.
  int4 maxclone = 0;
  for (int4 i = 1; i <= n; ++i) maxclone = std::max(maxclone, v.cloneconfig(i));
  std::vector<int4> first(static_cast<std::size_t>(maxclone) + 2, 0);
  for (int4 i = 1; i <= n; ++i)
    if (v.cloneconfig(i) > 0) ++first[static_cast<std::size_t>(v.cloneconfig(i)) + 1];
  for (std::size_t c = 1; c < first.size(); ++c) first[c] += first[c - 1];
  std::vector<int4> bucket(static_cast<std::size_t>(first.back()));
  {
    std::vector<int4> fill(first.begin(), first.end() - 1);
    for (int4 i = 1; i <= n; ++i)
      if (v.cloneconfig(i) > 0)
        bucket[static_cast<std::size_t>(fill[static_cast<std::size_t>(v.cloneconfig(i))]++)] = i;
  }

  std::vector<int4> c1, c2;      // candidate true genotypes
  std::vector<real8> cw;         // and their weights
  std::vector<int4> o1, o2, oc;  // distinct observed genotypes and counts
  std::vector<real8> key;
  std::vector<int4> order;
  // Offspring without a clone number (0) belong to no clone; members already done carry
  // their number negated until the end.
  for (int4 i = 1; i <= n; ++i) {
    const int4 clone = v.cloneconfig(i);
    if (clone <= 0) continue;
    const int4* mem = &bucket[static_cast<std::size_t>(first[static_cast<std::size_t>(clone)])];
    const int4 k =
        first[static_cast<std::size_t>(clone) + 1] - first[static_cast<std::size_t>(clone)];
    for (int4 x = 0; x < k; ++x) v.cloneconfig(mem[x]) = -clone;
    if (k < 2) continue;

    c1.clear();
    c2.clear();
    cw.clear();
    for (int4 x = 0; x < k; ++x) {
      for (int4 a = 1; a <= nest; ++a) {
        const real8 p = v.estchildgtypeprb(a, mem[x]);
        if (!(p > 0.01)) continue;
        const int4 g1 = v.estchildgtype(1, a, mem[x]);
        const int4 g2 = v.estchildgtype(2, a, mem[x]);
        std::size_t y = 0;
        while (y < c1.size() && !(std::min(c1[y], c2[y]) == std::min(g1, g2) &&
                                  std::max(c1[y], c2[y]) == std::max(g1, g2)))
          ++y;
        if (y == c1.size()) {
          c1.push_back(g1);
          c2.push_back(g2);
          cw.push_back(0.0);
        }
        cw[y] += p;
      }
    }
    o1.clear();
    o2.clear();
    oc.clear();
    int4 typed = 0;
    for (int4 x = 0; x < k; ++x) {
      int2 g = 0;
      getgtype(g, mem[x], na);
      if (g == 0) continue;
      ++typed;
      const int4 a1 = v.genotypeid(1, g);
      const int4 a2 = v.genotypeid(2, g);
      std::size_t y = 0;
      while (y < o1.size() && !(o1[y] == a1 && o2[y] == a2)) ++y;
      if (y == o1.size()) {
        o1.push_back(a1);
        o2.push_back(a2);
        oc.push_back(0);
      }
      ++oc[y];
    }
    // Nothing to combine: no typed member, or every member typed alike.
    if (typed == 0 || (typed == k && o1.size() == 1)) continue;
    if (c1.empty()) continue;

    const bool haploid = v.offploid(mem[0]) == 1;
    real8 total = 0.0;
    for (std::size_t y = 0; y < c1.size(); ++y) {
      real8 w = cw[y];
      for (std::size_t o = 0; o < o1.size(); ++o) {
        const int4 ob[2] = {o1[o], o2[o]};
        const real8 pr =
            haploid ? prbgtophaploid(c1[y], ob[0], locus) : prbgtop(c1[y], c2[y], ob, locus);
        for (int4 r = 0; r < oc[o]; ++r) w *= pr;
      }
      cw[y] = w;
      total += w;
    }
    // No candidate explains the observations: the members keep their own alternatives.
    if (!(total > 0.0)) continue;
    const int4 nc = static_cast<int4>(c1.size());
    key.resize(c1.size());
    order.resize(c1.size());
    for (std::size_t y = 0; y < c1.size(); ++y) {
      cw[y] /= total;
      key[y] = -cw[y];
    }
    indexx(nc, key.data(), order.data());
    const int4 nwrite = std::min(nest, nc);
    for (int4 x = 0; x < k; ++x) {
      const int4 j = mem[x];
      bool ended = false;
      for (int4 a = 1; a <= nest; ++a) {
        const std::size_t y =
            a <= nwrite ? static_cast<std::size_t>(order[static_cast<std::size_t>(a - 1)] - 1) : 0;
        if (a > nwrite || cw[y] < 1e-5) ended = true;
        if (ended) {
          // Slots after the clone's alternatives are emptied: stale alternatives of the
          // member's own inference would not describe the clone.
          v.estchildgtypeprb(a, j) = 0.0f;
          v.estchildgtype(1, a, j) = 0;
          v.estchildgtype(2, a, j) = 0;
          continue;
        }
        v.estchildgtypeprb(a, j) = static_cast<real4>(cw[y]);
        v.estchildgtype(1, a, j) = static_cast<int1>(c1[y]);
        v.estchildgtype(2, a, j) = static_cast<int1>(c2[y]);
      }
    }
  }
  for (int4 i = 1; i <= n; ++i)
    if (v.cloneconfig(i) < 0) v.cloneconfig(i) = -v.cloneconfig(i);
}

}  // namespace kinrad
