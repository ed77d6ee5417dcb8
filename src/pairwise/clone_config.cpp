// Greedy search for the best partition of a group of full sibs into clones: starting from all
// members distinct, each pass tries every merge of two clusters and keeps the best partition.
#include <algorithm>
#include <cmath>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/simuvariables.hpp"
#include "core/modules/variables.hpp"
#include "core/variables_routines.hpp"
#include "pairwise/clone_internal.hpp"
#include "pairwise/clones.hpp"

namespace kinrad {

namespace {

// Summed relatedness over all pairs of the k members loaded in secondg.
real8 pair_sum(int4 k) {
  Simuvariables& sv = simuvariables;
  const int4 numloci = variables.numloci;
  real8 sum = 0.0;
  for (int4 i = 2; i <= k; ++i) {
    for (int4 l = 1; l <= numloci; ++l) {
      sv.firstg(1, l) = sv.secondg(1, l, i);
      sv.firstg(2, l) = sv.secondg(2, l, i);
    }
    for (int4 j = 1; j < i; ++j) sum += r_li_lynch(j);
  }
  return sum;
}

// The sum of r over the member pairs across A (positions 1..na) and B (positions na+1..u) of
// the members loaded in secondg, each member of A in turn in firstg.
real8 cross_sum(int4 na, int4 u) {
  Simuvariables& sv = simuvariables;
  const int4 numloci = variables.numloci;
  real8 sum = 0.0;
  for (int4 i = 1; i <= na; ++i) {
    for (int4 l = 1; l <= numloci; ++l) {
      sv.firstg(1, l) = sv.secondg(1, l, i);
      sv.firstg(2, l) = sv.secondg(2, l, i);
    }
    for (int4 j = na + 1; j <= u; ++j) sum += r_li_lynch(j);
  }
  return sum;
}

void ensure_firstg() {
  Simuvariables& sv = simuvariables;
  const int4 numloci = variables.numloci;
  if (!sv.firstg.allocated() || sv.firstg.size(2) != numloci)
    sv.firstg.allocate(Dim(2), Dim(numloci));
}

}  // namespace

void fsconfig(int4& counter, const int4 parents[2], int4 n, const int4* members, int4* outmembers,
              int4* outb, int4& nclones, real8& prob) {
  const Variables& v = variables;
  ensure_firstg();
  const std::size_t un = static_cast<std::size_t>(n);
  // Current clusters: members in cluster order and cumulative boundaries.
  std::vector<int4> cur(members, members + n);
  std::vector<int4> curb(un + 1);
  for (int4 k = 0; k <= n; ++k) curb[static_cast<std::size_t>(k)] = k;
  int4 nc = n;
  // Best partition so far.
  std::vector<int4> best(cur);
  std::vector<int4> bestb(curb);
  int4 bestnc = n;
  real8 lbest = 0.0;
  clone_detail::fsconfiglog_pruned(n, cur.data(), parents, nc, curb.data(), lbest, -1e300, true);
  // The log likelihoods of the partitions scored, at most 999 of them.
  std::vector<real8> list{lbest};
  list.reserve(999);
  const int4 noparent[2] = {0, 0};
  std::vector<real8> within(un);
  std::vector<int4> unionm(un);
  std::vector<int4> cand(un);
  std::vector<int4> candb(un + 1);

  while (nc > 1) {
    // Relatedness summed within each cluster.
    for (int4 k = 0; k < nc; ++k) {
      const int4 from = curb[static_cast<std::size_t>(k)];
      const int4 size = curb[static_cast<std::size_t>(k) + 1] - from;
      within[static_cast<std::size_t>(k)] = 0.0;
      if (size < 2) continue;
      setsecondg(&cur[static_cast<std::size_t>(from)], size);
      within[static_cast<std::size_t>(k)] = pair_sum(size);
    }
    bool improved = false;
    for (int4 a = 0; a < nc - 1; ++a) {
      for (int4 bb = a + 1; bb < nc; ++bb) {
        if (v.displayq == 1) writeprogress(counter, 10);
        const int4 fa = curb[static_cast<std::size_t>(a)];
        const int4 sa = curb[static_cast<std::size_t>(a) + 1] - fa;
        const int4 fb = curb[static_cast<std::size_t>(bb)];
        const int4 sb = curb[static_cast<std::size_t>(bb) + 1] - fb;
        const int4 u = sa + sb;
        std::copy_n(&cur[static_cast<std::size_t>(fa)], sa, unionm.begin());
        std::copy_n(&cur[static_cast<std::size_t>(fb)], sb, unionm.begin() + sa);
        setsecondg(unionm.data(), u);
        const real8 r = within[static_cast<std::size_t>(a)] + within[static_cast<std::size_t>(bb)] +
                        cross_sum(sa, u);
        // Mean relatedness of the merged cluster below 0.35: no clone.
        if (0.35 * u * (u - 1) / 2.0 > r) continue;
        const int4 one[2] = {0, u};
        real8 l1 = 0.0;
        clone_detail::fsconfiglog_pruned(u, unionm.data(), noparent, 1, one, l1, lbest - 10.0,
                                         true);
        if (lbest - 10.0 > l1) continue;
        const int4 two[3] = {0, sa, u};
        real8 l2 = 0.0;
        clone_detail::fsconfiglog_pruned(u, unionm.data(), noparent, 2, two, l2, l1 - 10.0, true);
        if (l2 > l1 + 2.0) continue;
        // The candidate: A and B merged first, then the other clusters in their order.
        std::copy_n(unionm.begin(), u, cand.begin());
        candb[0] = 0;
        candb[1] = u;
        int4 pos = u;
        int4 k = 1;
        for (int4 x = 0; x < nc; ++x) {
          if (x == a || x == bb) continue;
          const int4 from = curb[static_cast<std::size_t>(x)];
          const int4 to = curb[static_cast<std::size_t>(x) + 1];
          for (int4 y = from; y < to; ++y)
            cand[static_cast<std::size_t>(pos++)] = cur[static_cast<std::size_t>(y)];
          candb[static_cast<std::size_t>(++k)] = pos;
        }
        real8 lc = 0.0;
        clone_detail::fsconfiglog_pruned(n, cand.data(), parents, nc - 1, candb.data(), lc,
                                         lbest - 10.0, true);
        if (lc > lbest - 10.0) {
          if (list.size() < 999) {
            list.push_back(lc);
          } else {
            auto low = std::min_element(list.begin(), list.end());
            if (lc > *low) *low = lc;
          }
        }
        if (lc >= lbest) {
          lbest = lc;
          best.assign(cand.begin(), cand.begin() + n);
          bestb.assign(candb.begin(), candb.begin() + nc);
          bestnc = nc - 1;
          improved = true;
        }
      }
    }
    if (!improved) break;
    // The clusters of the next pass are the clones of the best partition.
    nc = bestnc;
    cur = best;
    std::copy(bestb.begin(), bestb.end(), curb.begin());
  }

  std::copy(best.begin(), best.end(), outmembers);
  std::copy(bestb.begin(), bestb.begin() + bestnc + 1, outb);
  nclones = bestnc;
  real8 denom = 0.0;
  for (real8 x : list) denom += std::exp(x - lbest);
  prob = 1.0 / denom;
}

}  // namespace kinrad
