#pragma once
// Module state for the pairwise-score tests: dense dyad tables with distinct random values
// (written straight into the table storage the pairwise accessors read), a brute-force
// reference score summed pair by pair from the definitions, and random complete proposals:
// the move tables of an individual move with every offspring whose pairs the move can change
// (the moving offspring in list 3, the members left behind in list 1 or 2, the members of a
// destination cluster in list 2), or a family move, with parent-change lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "configuration/configuration.hpp"
#include "configuration/configuration_fixture.hpp"
#include "core/modules.hpp"
#include "pairwise/pairwise.hpp"

namespace kinrad::test {

struct Species {
  const char* name = "";
  int4 numsex = 2;
  int4 selfing = 0;  // one parent pool that can self
  int4 haplo = 0;    // haplodiploid with haploid offspring
  int4 mono1 = 0;
  int4 mono2 = 0;
};

// Tables of n offspring and nc1 / nc2 candidates. Single terms lie in [-30, -10] and every pair
// value is the two single terms plus a distinct offset in [-2, 2], so that, as for real dyad
// likelihoods, a pair value never exceeds either single term.
inline void fill_tables(std::mt19937& rng, bool impossible = false) {
  auto& v = variables;
  const int4 n = v.smplsize;
  std::uniform_real_distribution<double> u(0.0, 1.0);
  v.indivlogl.allocate(Dim(n));
  v.indivloglself.allocate(Dim(n));
  for (int4 i = 1; i <= n; ++i) {
    v.indivlogl(i) = -10.0 - 20.0 * u(rng);
    v.indivloglself(i) = v.indivlogl(i) - 0.5 - u(rng);
  }
  const index_t tri = static_cast<index_t>(n) * (n - 1) / 2;
  for (FArray<real4, 1>* t : {&v.prbfstri, &v.prbhstri, &v.prbmhsibtri, &v.prbsstri})
    t->allocate(Dim(0, tri - 1));
  v.prbhspairq = 1;
  v.prbfspairlower = 1;
  const auto pairval = [&](int4 i, int4 j) {
    return static_cast<real4>(v.indivlogl(i) + v.indivlogl(j) - 2.0 + 4.0 * u(rng));
  };
  for (int4 j = 2; j <= n; ++j)
    for (int4 i = 1; i < j; ++i) {
      v.prbfstri(tri_by_larger(i, j)) = pairval(i, j);
      v.prbhstri(tri_by_smaller(i, j, n)) = pairval(i, j);
      v.prbmhsibtri(tri_by_larger(i, j)) = pairval(i, j);
      v.prbsstri(tri_by_larger(i, j)) = pairval(i, j);
    }
  if (impossible) {
    // A few impossible full-sib pairs.
    for (int4 k = 0; k < std::max(1, n / 8); ++k) {
      std::uniform_int_distribution<int4> d(1, n);
      int4 i = d(rng), j = d(rng);
      if (i == j) continue;
      if (i > j) std::swap(i, j);
      v.prbfstri(tri_by_larger(i, j)) = -1e38f;
    }
  }
  v.prbselfoutpair.allocate(Dim(n), Dim(n));
  for (int4 i = 1; i <= n; ++i)
    for (int4 j = 1; j <= n; ++j)
      if (i != j) v.prbselfoutpair(i, j) = pairval(i, j);
  const int4 nc1 = v.numcandidate(1), nc2 = v.numcandidate(2);
  v.allcandidate = nc1 + nc2;
  v.candidatelogl.allocate(Dim(std::max({nc1, nc2, 1})), Dim(2));
  for (int4 s = 1; s <= 2; ++s) {
    v.sumcndlogl(s) = 0.0;
    for (int4 c = 1; c <= v.numcandidate(s); ++c) {
      v.candidatelogl(c, s) = -10.0 - 20.0 * u(rng);
      v.sumcndlogl(s) += v.candidatelogl(c, s);
    }
  }
  if (nc1 + nc2 > 0) {
    v.prbpopairtgt.allocate(Dim(nc1 + nc2), Dim(n));
    for (int4 i = 1; i <= n; ++i)
      for (int4 c = 1; c <= nc1 + nc2; ++c) {
        const int4 s = c <= nc1 ? 1 : 2;
        const int4 cc = c <= nc1 ? c : c - nc1;
        const int4 cs = v.numsex == 1 ? 1 : s;
        v.prbpopairtgt(c, i) =
            static_cast<real4>(v.indivlogl(i) + v.candidatelogl(cc, cs) - 2.0 + 4.0 * u(rng));
      }
  }
}

// Sample state of one species: n offspring (a third haploid in a haplodiploid one), the
// configuration tables, the move tables and the cluster lists.
inline void setup_species(const Species& sp, int4 n, int4 nc1, int4 nc2) {
  SampleShape shape;
  shape.n = n;
  shape.numsex = sp.numsex;
  shape.mono1 = sp.mono1;
  shape.mono2 = sp.mono2;
  shape.ncand1 = nc1;
  shape.ncand2 = sp.numsex == 1 ? nc1 : nc2;  // one pool: the same candidates in both roles
  setup_sample(shape);
  auto& v = variables;
  auto& av = annealvariables;
  v.allowinbreeding = sp.selfing;
  v.haplodiploid = sp.haplo;
  v.offploid.allocate(Dim(n));
  v.smplsizedh(1) = 0;
  v.smplsizedh(2) = 0;
  for (int4 i = 1; i <= n; ++i) {
    v.offploid(i) = static_cast<int1>(sp.haplo == 1 && i % 3 == 0 ? 1 : 2);
    ++v.smplsizedh(v.offploid(i) == 1 ? 1 : 2);
  }
  v.indivparent.allocate(Dim(n), Dim(2));
  v.indivparent.fill(-1);
  v.inferparent2.allocate(Dim(n), Dim(2));
  av.indivloc3.allocate(Dim(n), Dim(4));
  av.indivlocidx.allocate(Dim(n), Dim(3));
  av.numindivlocidx.allocate(Dim(3));
  av.indivparentage.allocate(Dim(n), Dim(2));
  av.inferparentage.allocate(Dim(n), Dim(2), Dim(2));
  v.numloci = 1;
  v.fulllikelihoodmethodq = 0;
  v.pairwiseoptionq = 1;
}

// Random parents for the configuration in crindivloc: each offspring's family shares one
// assigned candidate (or none) per sex; inferparent2 holds the same.
inline void random_parents(std::mt19937& rng) {
  auto& v = variables;
  const int4 n = v.smplsize;
  const int4 roles = 2;
  for (int4 s = 1; s <= roles; ++s) {
    const int4 cs = v.numsex == 1 ? 1 : s;
    const int4 nc = v.numcandidate(cs);
    std::map<int4, int4> byfamily;
    std::uniform_int_distribution<int4> d(0, nc);
    for (int4 i = 1; i <= n; ++i) {
      int4 p = 0;
      if (nc > 0) {
        auto it = byfamily.find(v.crindivloc(i, s));
        if (it == byfamily.end()) it = byfamily.emplace(v.crindivloc(i, s), d(rng)).first;
        p = it->second;
      }
      if (v.numsex == 2 && s == 1 && v.haplodiploid == 1 && v.offploid(i) != 2) p = 0;
      v.inferparent(i, s) = p;
      v.inferparent2(i, s) = p;
    }
  }
}

// Cluster ids of a configuration: connected components of the parents (fathers 1..K, mothers
// K + 1..2K; one pool 1..K), numbered by first offspring.
inline void number_clusters(FArray<int4, 2>& loc) {
  auto& v = variables;
  const int4 n = v.smplsize;
  int4 k = 0;
  for (int4 i = 1; i <= n; ++i) k = std::max({k, loc(i, 1), loc(i, 2)});
  const bool pool = v.numsex == 1;
  UnionFind uf(static_cast<std::size_t>(2 * k + 2));
  for (int4 i = 1; i <= n; ++i) uf.join(loc(i, 1), loc(i, 2) + (pool ? 0 : k));
  std::map<int4, int4> label;
  for (int4 i = 1; i <= n; ++i) {
    const int4 root = uf.find(loc(i, 1));
    if (!label.count(root)) label[root] = static_cast<int4>(label.size()) + 1;
    loc(i, 3) = label[root];
  }
}

// ---- Brute-force reference ----

// Pair contribution of offspring i and j under the species' rules, written from the
// definitions: shared parents counted as sets, the single terms of unrelated pairs.
inline double reference_pair(const FArray<int4, 2>& loc, int4 i, int4 j) {
  auto& v = variables;
  const double ili = v.indivlogl(i), ilj = v.indivlogl(j);
  if (v.numsex == 2) {
    const bool m1 = loc(i, 1) == loc(j, 1), m2 = loc(i, 2) == loc(j, 2);
    const bool di = v.offploid(i) == 2, dj = v.offploid(j) == 2;
    if (v.haplodiploid == 1 && (!di || !dj)) {
      if (!m2) return ili + ilj;
      return (!di && !dj) ? prbfspair(i, j) : prbmhsibpair(i, j);
    }
    if (m1 && m2) return prbfspair(i, j);
    if (m1) return prbhspair(i, j);
    if (m2) return v.haplodiploid == 1 ? prbmhsibpair(i, j) : prbhspair(i, j);
    return ili + ilj;
  }
  const std::set<int4> pi{loc(i, 1), loc(i, 2)}, pj{loc(j, 1), loc(j, 2)};
  const bool si = pi.size() == 1, sj = pj.size() == 1;
  int4 shared = 0;
  for (int4 x : pi) shared += static_cast<int4>(pj.count(x));
  const double sli = v.indivloglself(i), slj = v.indivloglself(j);
  if (si && sj) return shared == 1 ? prbsspair(i, j) : sli + slj;
  // The selfed sib is the first index of prbselfoutpair.
  if (si) return shared == 1 ? prbselfoutpair(i, j) : sli + ilj;
  if (sj) return shared == 1 ? prbselfoutpair(j, i) : ili + slj;
  if (shared == 2) return prbfspair(i, j);
  if (shared == 1) return prbhspair(i, j);
  return ili + ilj;
}

// The whole score: every offspring pair, and per sex (one pool: per role) every offspring with
// every candidate: the parent-offspring value for its parent (its own assigned candidate, or
// the known parent of some member of its family), candidatelogl + the offspring's single term
// otherwise.
inline double reference_score(const FArray<int4, 2>& loc, const FArray<int4, 2>& parent) {
  auto& v = variables;
  const int4 n = v.smplsize;
  double sum = 0.0;
  for (int4 i = 1; i <= n; ++i)
    for (int4 j = i + 1; j <= n; ++j) sum += reference_pair(loc, i, j);
  const bool pool = v.numsex == 1;
  for (int4 s = 1; s <= 2; ++s) {
    const int4 cs = pool ? 1 : s;
    if (v.numcandidate(cs) < 1) continue;
    for (int4 i = 1; i <= n; ++i) {
      if (!pool && s == 1 && v.haplodiploid == 1 && v.offploid(i) != 2) continue;
      int4 p = parent(i, s);
      for (int4 j = 1; j <= n; ++j)
        if (v.indivparent(j, s) > 0 && loc(j, s) == loc(i, s)) p = v.indivparent(j, s);
      const bool selfed = pool && loc(i, 1) == loc(i, 2);
      const double t = selfed ? v.indivloglself(i) : v.indivlogl(i);
      for (int4 c = 1; c <= v.numcandidate(cs); ++c) {
        if (c == p) {
          sum += prbpopair(i, pool ? (selfed ? 2 : 1) : s, c);
        } else {
          sum += v.candidatelogl(c, cs) + t;
        }
      }
    }
  }
  return sum;
}

inline double crrt_of(FArray<int4, 2>& loc, FArray<int4, 2>& parent) {
  variables.indivlocprt = loc.view();
  variables.inferparentprt = parent.view();
  real8 x = 0.0;
  calculatecrrtpairlogl(x);
  return x;
}

inline void expect_close(double a, double b, const char* what) {
  EXPECT_LE(std::fabs(a - b), 1e-9 * std::max({std::fabs(a), std::fabs(b), 1.0}))
      << what << ": " << a << " vs " << b;
}

// ---- Random complete proposals ----

struct Proposal {
  int4 kind = 0;  // 1 own cluster, 2 another cluster, 3 a new cluster; 0 family move
  bool one_family =
      false;            // leaves a one-family cluster and joins a one-family cluster or a new one
  int4 entries = 0;     // rows of the three lists
  FArray<int4, 2> loc;  // the proposed configuration (clusters numbered)
  FArray<int4, 2> parent;  // and its assigned candidates
};

// Change-list entries for offspring o: each role with candidates, with chance p, a new random
// parent (0 = an unsampled one); haploid offspring have no sex-1 parent.
inline void random_parent_changes(std::mt19937& rng, const std::vector<int4>& offspring, double p,
                                  Proposal& pr) {
  auto& v = variables;
  auto& av = annealvariables;
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int4 s = 1; s <= 2; ++s) {
    const int4 cs = v.numsex == 1 ? 1 : s;
    const int4 nc = v.numcandidate(cs);
    if (nc < 1) continue;
    std::uniform_int_distribution<int4> d(0, nc);
    for (int4 o : offspring) {
      if (v.numsex == 2 && s == 1 && v.haplodiploid == 1 && v.offploid(o) != 2) continue;
      if (u(rng) >= p) continue;
      const int4 k = ++av.numindivparentage(s);
      av.indivparentage(k, s) = o;
      av.inferparentage(k, s, 1) = v.inferparent(o, s);
      av.inferparentage(k, s, 2) = d(rng);
      pr.parent(o, s) = av.inferparentage(k, s, 2);
    }
  }
}

inline void start_proposal(Proposal& pr) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  pr.loc.allocate(Dim(n), Dim(3));
  pr.parent.allocate(Dim(n), Dim(2));
  for (int4 i = 1; i <= n; ++i) {
    for (int4 c = 1; c <= 3; ++c) pr.loc(i, c) = v.crindivloc(i, c);
    for (int4 s = 1; s <= 2; ++s) pr.parent(i, s) = v.inferparent(i, s);
  }
  for (int4 k = 1; k <= 3; ++k) av.numindivlocidx(k) = 0;
  av.numindivparentage(1) = av.numindivparentage(2) = av.numindivparentage(3) = 0;
  av.numindiv(1) = av.numindiv(2) = 0;
}

// A family move: one full-sib family changes its assigned candidate of one role.
inline void random_family_move(std::mt19937& rng, Proposal& pr) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  start_proposal(pr);
  pr.kind = 0;
  av.movingtype = 2;
  std::uniform_int_distribution<int4> d(1, n);
  const int4 o = d(rng);
  av.moveindiv = o;
  std::vector<int4> fam;
  for (int4 i = 1; i <= n; ++i)
    if (v.crindivloc(i, 1) == v.crindivloc(o, 1) && v.crindivloc(i, 2) == v.crindivloc(o, 2))
      fam.push_back(i);
  random_parent_changes(rng, fam, 1.0, pr);
}

// An individual move of a random offspring and some of its full sibs: to the family of another
// offspring, to a half-sib place beside one, to a selfed place (one pool with selfing) or to a
// new cluster.
inline void random_individual_move(std::mt19937& rng, Proposal& pr, double pchange = 0.5) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  start_proposal(pr);
  av.movingtype = 1;
  std::uniform_int_distribution<int4> d(1, n);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const bool pool = v.numsex == 1;
  const bool dmono = v.numsex == 2 && v.allmonogamy == 1;
  const int4 o = d(rng);
  av.moveindiv = o;
  const int4 own = v.crindivloc(o, 3);
  std::vector<int4> movers{o};
  std::vector<bool> moving(static_cast<std::size_t>(n) + 1, false);
  moving[static_cast<std::size_t>(o)] = true;
  for (int4 i = 1; i <= n; ++i)
    if (i != o && v.crindivloc(i, 1) == v.crindivloc(o, 1) &&
        v.crindivloc(i, 2) == v.crindivloc(o, 2) && u(rng) < 0.4) {
      movers.push_back(i);
      moving[static_cast<std::size_t>(i)] = true;
    }
  int4 k1 = 0, k2 = 0;
  for (int4 i = 1; i <= n; ++i) {
    k1 = std::max(k1, v.crindivloc(i, 1));
    k2 = std::max(k2, v.crindivloc(i, 2));
  }
  if (pool) k1 = k2 = std::max(k1, k2);
  int4 j = d(rng);
  while (moving[static_cast<std::size_t>(j)] && static_cast<int4>(movers.size()) < n) j = d(rng);
  int4 d1 = 0, d2 = 0;
  const double r = u(rng);
  if (r < 0.4) {
    d1 = v.crindivloc(j, 1);
    d2 = v.crindivloc(j, 2);
  } else if (r < 0.65 && !dmono) {
    if (u(rng) < 0.5) {
      d1 = v.crindivloc(j, 1);
      d2 = pool ? k1 + 1 : k2 + 1;
    } else {
      d1 = pool ? k1 + 1 : k1 + 1;
      d2 = v.crindivloc(j, 2);
    }
  } else if (r < 0.8 && pool && v.allowinbreeding == 1) {
    d1 = d2 = u(rng) < 0.5 ? v.crindivloc(j, 1) : k1 + 1;
  } else {
    d1 = k1 + 1;
    d2 = pool ? (v.allowinbreeding == 1 && u(rng) < 0.3 ? k1 + 1 : k1 + 2) : k2 + 1;
  }
  // The cluster the destination joins: the one holding a staying offspring with a destination
  // id (of the same role with two sexes).
  int4 dest = 0;
  for (int4 i = 1; i <= n; ++i) {
    if (moving[static_cast<std::size_t>(i)]) continue;
    const int4 a = v.crindivloc(i, 1), b = v.crindivloc(i, 2);
    const bool hit = pool ? (a == d1 || a == d2 || b == d1 || b == d2) : (a == d1 || b == d2);
    if (hit) dest = v.crindivloc(i, 3);
  }
  pr.kind = dest == own ? 1 : (dest == 0 ? 3 : 2);
  for (int4 m : movers) {
    pr.loc(m, 1) = d1;
    pr.loc(m, 2) = d2;
  }
  number_clusters(pr.loc);
  int4 r2 = 0, r1 = 0;
  const auto row2 = [&](int4 i, int4 f1, int4 f2, int4 list) {
    ++r2;
    av.indivloc2(r2, 1) = f1;
    av.indivloc2(r2, 2) = f2;
    av.indivloc2(r2, 3) = 0;
    av.indivloc2(r2, 4) = i;
    av.indivlocidx(++av.numindivlocidx(list), list) = r2;
  };
  for (int4 m : movers) row2(m, d1, d2, 3);
  std::vector<int4> stay, host;
  for (int4 i = 1; i <= n; ++i) {
    if (moving[static_cast<std::size_t>(i)]) continue;
    if (v.crindivloc(i, 3) == own) stay.push_back(i);
    if (pr.kind == 2 && v.crindivloc(i, 3) == dest) host.push_back(i);
  }
  // Family order half of the time, so that equal rows follow each other.
  const auto by_family = [&](std::vector<int4>& list) {
    if (u(rng) < 0.5)
      std::stable_sort(list.begin(), list.end(), [&](int4 a, int4 b) {
        return std::pair(v.crindivloc(a, 1), v.crindivloc(a, 2)) <
               std::pair(v.crindivloc(b, 1), v.crindivloc(b, 2));
      });
  };
  by_family(stay);
  by_family(host);
  if (pr.kind == 1) {
    for (int4 i : stay) row2(i, v.crindivloc(i, 1), v.crindivloc(i, 2), 2);
  } else {
    for (int4 i : host) row2(i, v.crindivloc(i, 1), v.crindivloc(i, 2), 2);
    for (int4 i : stay) {
      ++r1;
      av.indivloc1(r1, 1) = v.crindivloc(i, 1);
      av.indivloc1(r1, 2) = v.crindivloc(i, 2);
      av.indivloc1(r1, 3) = 0;
      av.indivloc1(r1, 4) = i;
      av.indivlocidx(++av.numindivlocidx(1), 1) = r1;
    }
  }
  av.numindiv(1) = r1;
  av.numindiv(2) = r2;
  pr.entries = r1 + r2;
  // The own cluster is one full-sib family, and the destination one too (or a new cluster).
  bool onefam = true;
  for (int4 i : stay)
    onefam = onefam && v.crindivloc(i, 1) == v.crindivloc(o, 1) &&
             v.crindivloc(i, 2) == v.crindivloc(o, 2);
  for (int4 i : host) onefam = onefam && v.crindivloc(i, 1) == d1 && v.crindivloc(i, 2) == d2;
  pr.one_family = onefam && pr.kind != 1 && !pool;
  std::vector<int4> rows = movers;
  if (u(rng) < 0.3) rows.insert(rows.end(), stay.begin(), stay.end());
  random_parent_changes(rng, rows, pchange, pr);
}

// The scoring step's combination for the move in hand: out[1] - out[0] with the selfing
// correction, from the routine that applies.
inline double score_change(const Proposal& pr, real8 bound = -HUGE_VAL) {
  auto& v = variables;
  auto& av = annealvariables;
  real8 out[2] = {0.0, 0.0};
  if (v.smplsizedh(1) > 0) {
    calculatedhpairlogl(out, av.numindiv(1) + av.numindiv(2));
    return out[1] - out[0];
  }
  if (v.allcandidate > 0) calculatepopairlogl(out);
  if (pr.kind == 0) return out[1] - out[0];
  real8 self = 0.0;
  if (v.numsex == v.allowinbreeding) {
    logl_change_self(self);
    self *= v.smplsize - pr.entries + 2 * v.numcandidate(1);
  }
  if (pr.one_family) {
    calculatepairloglmonogamy(out, bound);
  } else {
    calculatepairlogl2(out, pr.entries);
  }
  return out[1] - out[0] - self;
}

}  // namespace kinrad::test
