// Regrouping of clusters in a sample that spans generations: an offspring that is also a
// candidate and stands as the (assigned or known) parent of an offspring of another cluster
// joins the two clusters, and the groups are then numbered 1..G by their lowest offspring.
//
// The groups are the connected components of the clusters under the parent link, so one
// union-find pass over the links (offspring m2, sex s) -> the offspring that is candidate
// P(m2, s) gives them directly, in O(n) per configuration. Merging the member lists pass by
// pass until no pass joins anything reaches the same components at O(n^2) per configuration,
// which the archive (up to a thousand records) cannot afford.
#include <algorithm>

#include "core/modules/variables.hpp"
#include "results/results_internal.hpp"

namespace kinrad {

namespace {

int4 root(FArray<int4, 1>& up, int4 x) {
  while (up(x) != x) {
    auto& u = up(x);
    u = up(u);
    x = u;
  }
  return x;
}

// The parent of sex s that links offspring i: the inferred one, or the known one when it is
// larger (a known parent takes the place of an unsampled one).
int4 linking_parent(int4 i, int4 s) {
  const auto& v = variables;
  int4 p = v.inferparentprt(i, s);
  if (v.numknownprnt(s) > 0 && v.indivparent.allocated()) p = std::max(p, v.indivparent(i, s));
  return p;
}

}  // namespace

void recluster() {
  auto& v = variables;
  auto& w = v.results_work;
  const int4 n = v.smplsize;
  const auto& loc = v.indivlocprt;
  int4 k = 0;
  for (int4 i = 1; i <= n; ++i) k = std::max(k, loc(i, 3));
  w.up.reshape(Dim(0, k));
  for (int4 c = 0; c <= k; ++c) w.up(c) = c;

  for (int4 s = 1; s <= 2; ++s) {
    if (v.numcndinoffspring(s) < 1 || !v.cndinoffspring.allocated()) continue;
    const int4 top = static_cast<int4>(v.cndinoffspring.ubound(1));
    for (int4 m2 = 1; m2 <= n; ++m2) {
      const int4 p = linking_parent(m2, s);
      if (p < 1 || p > top) continue;
      const int4 t = v.cndinoffspring(p, s);
      if (t < 1) continue;
      const int4 a = root(w.up, loc(m2, 3));
      const int4 b = root(w.up, loc(t, 3));
      // The smaller slot keeps the group, as the joined member list does.
      if (a < b) {
        w.up(b) = a;
      } else if (b < a) {
        w.up(a) = b;
      }
    }
  }

  w.label.reshape(Dim(0, k));
  int4 g = 0;
  for (int4 i = 1; i <= n; ++i) {
    auto& l = w.label(root(w.up, loc(i, 3)));
    if (l == 0) l = ++g;
    loc(i, 3) = l;
  }
}

}  // namespace kinrad
