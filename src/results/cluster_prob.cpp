// Cluster probabilities: each cluster of the best configuration gets the weighted share of
// archived configurations that hold exactly its members with exactly its sibships (and, in one
// parent pool, the same selfed members). A record weighs exp(L - best L); cluster and family
// numbers never need to agree, only membership and partition.
//
// The archive is walked once. Per record one histogram of the compared column tells for every
// cluster at once whether the record holds exactly its members (all carry one value, and no
// other offspring carries it); only then are the sibships compared. Weights are added to each
// cluster in list order, as a walk per cluster would add them.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/modules/variables.hpp"
#include "results/results_internal.hpp"

namespace kinrad {

namespace {

using u16 = std::uint16_t;

// The record's column that plays the role of the cluster. Records regrouped across generations
// carry their grouped clusters, which are compared whatever the mating system.
const FArray<u16, 1>& compared_column(const Config& r) {
  const auto& v = variables;
  if (v.unknowngen == 1 && r.clust.allocated()) return r.clust;
  if (v.anymonogamy == 0 || v.numsex == 1) return r.clust;
  if (v.monogamy(1) == 1 && v.monogamy(2) != 1) return r.fam2;
  return r.fam1;
}

// Work tables of one call.
struct ClusterLists {
  std::vector<int4> order;    // cluster numbers in order of first offspring
  FArray<int4, 1> start;      // (0:top+1) members of cluster c at members[start(c)..start(c + 1))
  std::vector<int4> members;  // offspring, ascending within each cluster
};

void list_clusters(ClusterLists& l, int4 top) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  l.start.allocate(Dim(0, top + 1));
  for (int4 i = 1; i <= n; ++i) ++l.start(v.btindivloc(i, 3) + 1);
  for (int4 c = 1; c <= top + 1; ++c) l.start(c) += l.start(c - 1);
  l.members.assign(static_cast<std::size_t>(n), 0);
  // The next free place of each cluster's members.
  FArray<int4, 1> fill(Dim(0, top));
  for (int4 c = 0; c <= top; ++c) fill(c) = l.start(c);
  l.order.clear();
  for (int4 i = 1; i <= n; ++i) {
    const int4 c = v.btindivloc(i, 3);
    if (fill(c) == l.start(c)) l.order.push_back(c);
    l.members[static_cast<std::size_t>(fill(c)++)] = i;
  }
}

// True when the members split alike in column k of a and b: equal values in a exactly where
// equal values in b. With haploid offspring the paternal column counts diploid members only.
bool same_column_partition(const FArray<int4, 2>& a, const FArray<int4, 2>& b, const int4* list,
                           int4 m, int4 k, std::vector<std::pair<int4, int4>>& pairs) {
  const auto& v = variables;
  const bool diploid_only = k == 1 && v.smplsizedh(1) > 0;
  bool identical = true;
  for (int4 t = 1; t <= m && identical; ++t) identical = a(t, k) == b(t, k);
  if (identical) return true;
  for (int pass = 0; pass < 2; ++pass) {
    const auto& x = pass == 0 ? a : b;
    const auto& y = pass == 0 ? b : a;
    pairs.clear();
    for (int4 t = 1; t <= m; ++t)
      if (!diploid_only || v.offploid(list[t - 1]) == 2) pairs.emplace_back(x(t, k), y(t, k));
    std::sort(pairs.begin(), pairs.end());
    for (std::size_t j = 1; j < pairs.size(); ++j)
      if (pairs[j].first == pairs[j - 1].first && pairs[j].second != pairs[j - 1].second)
        return false;
  }
  return true;
}

// Whether record r holds cluster c with the same sibships (and selfing pattern).
bool holds(const Config& r, const FArray<u16, 1>& col, const std::vector<int4>& count,
           const int4* list, int4 m, FArray<int4, 2>& a, FArray<int4, 2>& b,
           std::vector<std::pair<int4, int4>>& pairs) {
  const auto& v = variables;
  const u16 value = col(list[0]);
  if (count[value] != m) return false;
  for (int4 t = 1; t < m; ++t)
    if (col(list[t]) != value) return false;
  const bool fam2 = r.fam2.allocated();
  for (int4 t = 0; t < m; ++t) {
    const int4 o = list[t];
    a(t + 1, 1) = v.btindivloc(o, 1);
    a(t + 1, 2) = v.btindivloc(o, 2);
    b(t + 1, 1) = r.fam1(o);
    // Both sexes monogamous: the maternal family is the paternal one.
    b(t + 1, 2) = fam2 ? r.fam2(o) : r.fam1(o);
  }
  int4 diff = 0;
  if (v.numsex == 1) {
    noneqtselfing(a, b, m, diff);
    if (diff != 0) return false;
  }
  noneqtcluster(a, b, m, list, diff);
  if (diff != 0) return false;
  // The full-sib comparison alone would take a cluster whose half sibs are paternal in one
  // configuration and maternal in the other for the same cluster: each compared column must
  // also split the members alike.
  for (int4 k = v.chkidx1; k <= v.chkidx2; ++k)
    if (!same_column_partition(a, b, list, m, k, pairs)) return false;
  return true;
}

}  // namespace

void findfamilyprob(FArray<real8, 1>& prob) {
  auto& v = variables;
  const int4 n = v.smplsize;
  int4 top = 0;
  for (int4 i = 1; i <= n; ++i) top = std::max(top, v.btindivloc(i, 3));
  ClusterLists l;
  list_clusters(l, top);
  for (int4 c : l.order) prob(c) = 0.0;
  FArray<int4, 2> a(Dim(std::max(n, 1)), Dim(2));
  FArray<int4, 2> b(Dim(std::max(n, 1)), Dim(2));
  std::vector<int4> count(65536, 0);
  std::vector<std::pair<int4, int4>> pairs;
  real8 sum = 0.0;
  for (Config* r = v.confighead; r != nullptr; r = r->next) {
    v.configptr = r;
    const real8 w = std::exp(r->logl - v.btloglikelihood);
    sum += w;
    const FArray<u16, 1>& col = compared_column(*r);
    if (!col.allocated()) continue;
    for (int4 i = 1; i <= n; ++i) ++count[col(i)];
    for (int4 c : l.order) {
      const int4 m = l.start(c + 1) - l.start(c);
      if (holds(*r, col, count, &l.members[static_cast<std::size_t>(l.start(c))], m, a, b, pairs))
        prob(c) += w;
    }
    for (int4 i = 1; i <= n; ++i) count[col(i)] = 0;
  }
  v.configptr = nullptr;
  const real8 scale = 1.0 / sum;
  for (int4 c : l.order) prob(c) *= scale;
}

}  // namespace kinrad
