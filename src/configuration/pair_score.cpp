// The pairwise score of a whole configuration: every pair of offspring contributes the dyad log
// likelihood of the relationship the configuration gives them, every offspring-candidate pair
// that of parent and offspring when the candidate is assigned, of two unrelated individuals
// otherwise. Tables are single precision; every sum is taken in double precision.
#include <algorithm>

#include "configuration/configuration.hpp"
#include "configuration/configuration_internal.hpp"
#include "configuration/pair_score_internal.hpp"
#include "core/modules.hpp"
#include "core/modules/configuration_work.hpp"
#include "pairwise/pairwise.hpp"

namespace kinrad {

int4 pair_code_pool(int4 x, int4 y, int4 u, int4 w) {
  if (x == y) {
    if (u == w) return u == x ? 1 : 2;
    return (u == x || w == x) ? 3 : 4;
  }
  const int4 s = (u == x || u == y) ? 1 : 0;
  if (u == w) return 6 - s;
  return (w == x || w == y) ? 8 - s : 9 - s;
}

int4 pair_code_two(int4 x, int4 y, int4 u, int4 w) {
  const bool e1 = x == u;
  const bool e2 = y == w;
  if (e1 && e2) return 7;
  if (e1) return 8;
  if (e2) return variables.haplodiploid == 1 ? 10 : 8;
  return 9;
}

void findsibtype(int4 n, int4* types, const int4* a, const int4* b, int4 m) {
  const bool pool = variables.numsex == 1;
  for (int4 r = 0; r < m; ++r)
    for (int4 t = 0; t < n; ++t) {
      const int4* br = b + 2 * (n * r + t);
      const int4 x = a[2 * t], y = a[2 * t + 1];
      types[n * r + t] =
          pool ? pair_code_pool(x, y, br[0], br[1]) : pair_code_two(x, y, br[0], br[1]);
    }
}

namespace {

// Readers of one packed dyad triangle with one member x of the pair fixed: row(y) answers as
// the table's accessor does for (x, y) (first) or (y, x) (second), with the per-pair choice of
// table and orientation taken once per fixed member. Values are the same single-precision
// entries the accessors read.

// A symmetric triangle in rows of the larger offspring (full sibs with a symmetric lower half,
// maternal half sibs, selfed sibs): the partners below x are one contiguous slice.
struct ByLargerRow {
  const real4* t;
  int4 x;
  index_t below;  // entry of the pair (y, x) for y < x is t[below + y]
  real8 operator()(int4 y) const {
    if (y < x) return t[below + y];
    if (y > x) return t[tri_by_larger(x, y)];
    return 0.0;
  }
};

ByLargerRow by_larger_row(const FArray<real4, 1>& tri, int4 x) {
  return {tri.data(), x, tri_by_larger(1, x) - 1};
}

// The half-sib triangle in rows of the smaller offspring: the partners above x are one slice;
// 0 where the half sibs were never computed (as the accessor answers).
struct BySmallerRow {
  const real4* t;
  int4 x, n;
  index_t above;  // entry of the pair (x, y) for y > x is t[above + y]
  real8 operator()(int4 y) const {
    if (t == nullptr || y == x) return 0.0;
    if (y > x) return t[above + y];
    return t[tri_by_smaller(y, x, n)];
  }
};

BySmallerRow by_smaller_row(int4 x) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  if (!v.prbhstri.allocated()) return {nullptr, x, n, 0};
  return {v.prbhstri.data(), x, n, tri_by_smaller(x, x + 1, n) - (x + 1)};
}

// The full-sib table with half sibs in its lower triangle: (i, j) reads full sibs for i < j
// and half sibs (j, i) for i > j, so the fixed member's place in the pair matters.
struct FullSibMixedRow {
  ByLargerRow fs;
  BySmallerRow hs;
  bool xfirst;
  real8 operator()(int4 y) const {
    const int4 x = fs.x;
    if (y == x) return 0.0;
    // Pair (i, j) = (x, y) or (y, x); i < j reads full sibs, else half sibs of (j, i).
    const bool upper = xfirst ? x < y : y < x;
    return upper ? fs(y) : hs(y);
  }
};

// Sum of a table code over the na x nb pairs, the outer loop over the rows' group and each
// pair's value read with its row member fixed; row(x, xfirst) gives the reader of member x
// taking the first (xfirst) or second place of the pair.
template <class MakeRow>
real8 block_sum(bool rows_from_b, int4 na, const int4* lista, int4 nb, const int4* listb,
                MakeRow row) {
  real8 sum = 0.0;
  if (rows_from_b) {
    for (int4 j = 0; j < nb; ++j) {
      const auto read = row(listb[j], false);
      for (int4 i = 0; i < na; ++i) sum += read(lista[i]);
    }
  } else {
    for (int4 i = 0; i < na; ++i) {
      const auto read = row(lista[i], true);
      for (int4 j = 0; j < nb; ++j) sum += read(listb[j]);
    }
  }
  return sum;
}

// Sum of a table code over the pairs, a the member of the first group in each pair.
real8 table_sum(int4 code, bool rows_from_b, int4 na, const int4* lista, int4 nb,
                const int4* listb) {
  const auto& v = variables;
  switch (code) {
    case 1:
      return block_sum(rows_from_b, na, lista, nb, listb,
                       [&](int4 x, bool) { return by_larger_row(v.prbsstri, x); });
    case 3:  // a selfed, b outbred
      return block_sum(rows_from_b, na, lista, nb, listb, [](int4 x, bool xfirst) {
        return [x, xfirst](int4 y) -> real8 {
          return xfirst ? prbselfoutpair(x, y) : prbselfoutpair(y, x);
        };
      });
    case 5:  // a outbred, b selfed
      return block_sum(rows_from_b, na, lista, nb, listb, [](int4 x, bool xfirst) {
        return [x, xfirst](int4 y) -> real8 {
          return xfirst ? prbselfoutpair(y, x) : prbselfoutpair(x, y);
        };
      });
    case 7:
      if (v.prbfspairlower == 2)
        return block_sum(rows_from_b, na, lista, nb, listb, [&](int4 x, bool xfirst) {
          return FullSibMixedRow{by_larger_row(v.prbfstri, x), by_smaller_row(x), xfirst};
        });
      return block_sum(rows_from_b, na, lista, nb, listb,
                       [&](int4 x, bool) { return by_larger_row(v.prbfstri, x); });
    case 8:
      return block_sum(rows_from_b, na, lista, nb, listb,
                       [](int4 x, bool) { return by_smaller_row(x); });
    case 10:
      return block_sum(rows_from_b, na, lista, nb, listb,
                       [&](int4 x, bool) { return by_larger_row(v.prbmhsibtri, x); });
    default:
      return 0.0;
  }
}

// The single terms of the first (first) and second (second) member under the codes of pairs
// that share no parent: 2 both selfed, 4 first selfed, 6 second selfed, 9 neither.
bool single_codes(int4 code, bool& selfa, bool& selfb) {
  switch (code) {
    case 2:
      selfa = selfb = true;
      return true;
    case 4:
      selfa = true;
      selfb = false;
      return true;
    case 6:
      selfa = false;
      selfb = true;
      return true;
    case 9:
      selfa = selfb = false;
      return true;
    default:
      return false;
  }
}

}  // namespace

void calculateoffpairlogl(real8& logl, int4 na, const int4* lista, int4 nb, const int4* listb,
                          int4 code) {
  const auto& v = variables;
  bool selfa = false, selfb = false;
  if (single_codes(code, selfa, selfb)) {
    real8 sa = 0.0, sb = 0.0;
    for (int4 i = 0; i < na; ++i) sa += selfa ? v.indivloglself(lista[i]) : v.indivlogl(lista[i]);
    for (int4 i = 0; i < nb; ++i) sb += selfb ? v.indivloglself(listb[i]) : v.indivlogl(listb[i]);
    logl += nb * sa + na * sb;
    return;
  }
  if (code != 1 && code != 3 && code != 5 && code != 7 && code != 8 && code != 10) return;
  // Rows from the smaller group (the second when na >= nb); codes 3 and 5 keep their order.
  const bool rows_from_b = code == 3 || (code != 5 && na >= nb);
  logl += table_sum(code, rows_from_b, na, lista, nb, listb);
}

void known_parent_families(int4 col, int4 nrow, FView<int4, 2> loc, std::vector<int4>& knownof,
                           int4& maxid) {
  const auto& v = variables;
  maxid = 0;
  for (int4 i = 1; i <= nrow; ++i) maxid = std::max(maxid, loc(i, col));
  fit(knownof, maxid + 1);
  for (int4 i = 1; i <= nrow; ++i) {
    const int4 kp = v.indivparent(i, col);
    const int4 f = loc(i, col);
    if (kp > 0 && f > 0) knownof[static_cast<std::size_t>(f)] = kp;
  }
}

void calculatecrrtpairlogl(real8& logl) {
  const auto& v = variables;
  auto& w = configuration_work.pair_score;
  const int4 n = v.smplsize;
  const FView<int4, 2> loc = variables.indivlocprt;
  const bool pool = v.numsex == 1;
  const bool haplo = v.haplodiploid == 1;
  logl = 0.0;

  // Offspring by cluster, ascending within each (a counting sort on column 3).
  int4 nclust = 0;
  for (int4 i = 1; i <= n; ++i) nclust = std::max(nclust, loc(i, 3));
  fit(w.count, nclust + 1);
  fit(w.order, n);
  std::fill(w.count.begin(), w.count.begin() + nclust + 2, 0);
  for (int4 i = 1; i <= n; ++i) ++w.count[static_cast<std::size_t>(loc(i, 3))];
  int4 run = 0;
  for (int4 c = 0; c <= nclust; ++c) {
    const int4 k = w.count[static_cast<std::size_t>(c)];
    w.count[static_cast<std::size_t>(c)] = run;
    run += k;
  }
  w.count[static_cast<std::size_t>(nclust) + 1] = run;
  for (int4 i = 1; i <= n; ++i)
    w.order[static_cast<std::size_t>(w.count[static_cast<std::size_t>(loc(i, 3))]++)] = i;
  // count[c] now ends cluster c; cluster c starts at count[c - 1] (0 for c = 0).
  if (pool) {
    fit(w.counter, n);
    fit(w.lo, n);
    fit(w.hi, n);
    for (int4 i = 1; i <= n; ++i) {
      w.lo[static_cast<std::size_t>(i)] = std::min(loc(i, 1), loc(i, 2));
      w.hi[static_cast<std::size_t>(i)] = std::max(loc(i, 1), loc(i, 2));
    }
  }
  const auto il = [&](int4 i) { return v.indivlogl(i); };
  const auto selfed = [&](int4 i) { return pool && loc(i, 1) == loc(i, 2); };
  const auto single = [&](int4 i) { return selfed(i) ? v.indivloglself(i) : v.indivlogl(i); };

  for (int4 c = 0; c <= nclust; ++c) {
    const int4 first = c == 0 ? 0 : w.count[static_cast<std::size_t>(c) - 1];
    const int4 last = w.count[static_cast<std::size_t>(c)];
    const int4 k = last - first;
    if (k == 0) continue;
    const int4* m = w.order.data() + first;
    real8 s = 0.0;
    for (int4 j = 0; j < k; ++j) s += single(m[j]);
    if (!pool) {
      for (int4 j = 1; j < k; ++j) {
        const int4 i = m[j];
        int4 unrelated = 0;
        real8 sum = 0.0;
        for (int4 l = 0; l < j; ++l) {
          const int4 b = m[l];
          const bool e1 = loc(b, 1) == loc(i, 1);
          const bool e2 = loc(b, 2) == loc(i, 2);
          const bool dip = !haplo || (v.offploid(i) == 2 && v.offploid(b) == 2);
          if (dip) {
            if (e1 && e2) {
              sum += prbfspair(b, i);
            } else if (e1) {
              sum += prbhspair(b, i);
            } else if (e2) {
              sum += haplo ? prbmhsibpair(b, i) : prbhspair(b, i);
            } else {
              sum += il(b);
              ++unrelated;
            }
          } else if (e2) {
            // A haploid offspring has no father of its own: the mother alone decides.
            const bool both = v.offploid(i) != 2 && v.offploid(b) != 2;
            sum += both ? prbfspair(b, i) : prbmhsibpair(b, i);
          } else {
            sum += il(b);
            ++unrelated;
          }
        }
        logl += sum + unrelated * il(i);
      }
    } else {
      for (int4 j = 0; j < k; ++j) w.counter[static_cast<std::size_t>(m[j])] = k - 1;
      for (int4 j = 1; j < k; ++j) {
        const int4 i = m[j];
        const auto ui = static_cast<std::size_t>(i);
        for (int4 l = 0; l < j; ++l) {
          const int4 b = m[l];
          const auto ub = static_cast<std::size_t>(b);
          int4 code = 0;
          const bool si = w.lo[ui] == w.hi[ui];
          const bool sb = w.lo[ub] == w.hi[ub];
          if (w.lo[ub] > w.hi[ui] || w.lo[ui] > w.hi[ub]) {
            code = si ? (sb ? 2 : 4) : (sb ? 6 : 9);
          } else {
            code = pair_code_pool(loc(i, 1), loc(i, 2), loc(b, 1), loc(b, 2));
          }
          if (code == 9) continue;
          calculateoffpairlogl(logl, 1, &i, 1, &b, code);
          --w.counter[ui];
          --w.counter[ub];
        }
      }
    }
    logl += static_cast<real8>(n - k) * s;
  }
  if (pool) {
    real8 sum = 0.0;
    for (int4 i = 1; i <= n; ++i) {
      sum += w.counter[static_cast<std::size_t>(i)] * il(i);
      w.counter[static_cast<std::size_t>(i)] = 0;
    }
    logl += sum;
  }

  // Parent-offspring pairs, per sex (one parent pool: per role, the pool's candidates).
  const int4 nroles = pool ? 2 : v.numsex;
  for (int4 s = 1; s <= nroles; ++s) {
    const int4 cs = pool ? 1 : s;
    const int4 nc = v.numcandidate(cs);
    if (nc < 1) continue;
    const bool known = v.numknownprnt(s) > 0;
    int4 maxid = 0;
    if (known) known_parent_families(s, n, loc, w.knownof, maxid);
    real8 sum = 0.0, singles = 0.0;
    for (int4 i = 1; i <= n; ++i) {
      if (!pool && s == 1 && haplo && v.offploid(i) != 2) continue;
      const bool si = selfed(i);
      const real8 t = si ? v.indivloglself(i) : v.indivlogl(i);
      singles += t;
      sum += v.sumcndlogl(cs);
      int4 p = v.inferparentprt(i, s);
      if (known) {
        const int4 f = loc(i, s);
        if (f > 0 && w.knownof[static_cast<std::size_t>(f)] > 0)
          p = w.knownof[static_cast<std::size_t>(f)];
      }
      if (p > 0) sum += prbpopair(i, pool ? (si ? 2 : 1) : s, p) - v.candidatelogl(p, cs) - t;
    }
    logl += sum + nc * singles;
    if (known) std::fill(w.knownof.begin(), w.knownof.begin() + maxid + 1, 0);
  }
}

void reduceerracct(real8& out, real8 add) {
  auto& v = variables;
  const auto& av = annealvariables;
  if (v.fulllikelihoodmethodq == 0) {
    v.indivlocprt = v.crindivloc.view();
    v.inferparentprt = v.inferparent.view();
    real8 logl = 0.0;
    calculatecrrtpairlogl(logl);
    v.crloglikelihood = logl + add;
    return;
  }
  out = 0.0;
  if (v.numsex == 1) {
    for (int4 c = 1; c <= v.numcandidate(1); ++c)
      if (av.unassignedcnd(c, 1) == 1 && av.unassignedcnd(c, 2) == 1 &&
          v.knownprntq(c, 1) + v.knownprntq(c, 2) < 1)
        out += v.candidatelogl(c, 1);
    return;
  }
  for (int4 s = 1; s <= v.numsex; ++s)
    for (int4 c = 1; c <= v.numcandidate(s); ++c)
      if (av.unassignedcnd(c, s) >= 1 && v.knownprntq(c, s) <= 0) out += v.candidatelogl(c, s);
}

void setsumsibprb() {
  auto& v = variables;
  auto& w = configuration_work.pair_score;
  const int4 n = v.smplsize;
  if (!v.prbpairsum.try_allocate(Dim(n))) stoponerror(0, "FamilyBuild");
  fit(w.mark, n);
  for (int4 i = 2; i <= n; ++i)
    for (int4 j = 1; j < i; ++j) {
      const real4 x = prbfspair(j, i);
      if (x < -1e30f) {
        w.mark[static_cast<std::size_t>(i)] = 1;
        w.mark[static_cast<std::size_t>(j)] = 1;
      } else {
        v.prbpairsum(i) += x;
        v.prbpairsum(j) += x;
      }
    }
  for (int4 i = 1; i <= n; ++i)
    if (w.mark[static_cast<std::size_t>(i)] != 0) {
      w.mark[static_cast<std::size_t>(i)] = 0;
      v.prbpairsum(i) = -v.prbpairsum(i);
    }
}

}  // namespace kinrad
