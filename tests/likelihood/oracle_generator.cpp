// Seeded random family clusters for the oracle: a shape of parents and full-sib families,
// genotypes simulated down the pedigree, observation errors, missing data and sampled parents.
#include <algorithm>
#include <cmath>
#include <random>
#include <set>

#include "likelihood/oracle.hpp"

namespace kinrad::oracle {

namespace {

using Rng = std::mt19937;

int uniform(Rng& r, int lo, int hi) {
  return std::uniform_int_distribution<int>(lo, hi)(r);
}
double uniform(Rng& r, double lo, double hi) {
  return std::uniform_real_distribution<double>(lo, hi)(r);
}
bool chance(Rng& r, double p) {
  return uniform(r, 0.0, 1.0) < p;
}

int draw_allele(Rng& r, const std::vector<double>& f) {
  double u = uniform(r, 0.0, 1.0);
  for (size_t a = 0; a < f.size(); ++a) {
    u -= f[a];
    if (u < 0.0) return static_cast<int>(a + 1);
  }
  return static_cast<int>(f.size());
}

// Families of a shape as (father, mother) pairs with their parent counts.
struct Graph {
  int nf = 1;
  int nm = 1;
  std::vector<std::array<int, 2>> pairs;
};

Graph shape_graph(Rng& r, Shape s) {
  Graph g;
  auto all = [&](int nf, int nm) {
    g.nf = nf;
    g.nm = nm;
    for (int i = 1; i <= nf; ++i)
      for (int j = 1; j <= nm; ++j) g.pairs.push_back({i, j});
  };
  switch (s) {
    case Shape::one_family:
      all(1, 1);
      break;
    case Shape::star: {
      const int n = uniform(r, 2, 4);
      if (chance(r, 0.5))
        all(1, n);
      else
        all(n, 1);
      break;
    }
    case Shape::chain: {
      // f1-m1, f2-m1, f2-m2, f3-m2, ...
      const int n = uniform(r, 3, 5);
      g.nf = 0;
      g.nm = 0;
      for (int k = 0; k < n; ++k) {
        const int f = (k + 1) / 2 + 1;
        const int m = k / 2 + 1;
        g.pairs.push_back({f, m});
        g.nf = std::max(g.nf, f);
        g.nm = std::max(g.nm, m);
      }
      break;
    }
    case Shape::tree: {
      g.pairs.push_back({1, 1});
      const int n = uniform(r, 2, 5);
      while (static_cast<int>(g.pairs.size()) < n) {
        if (chance(r, 0.5)) {
          ++g.nf;
          g.pairs.push_back({g.nf, uniform(r, 1, g.nm)});
        } else {
          ++g.nm;
          g.pairs.push_back({uniform(r, 1, g.nf), g.nm});
        }
      }
      break;
    }
    case Shape::cycle2x2:
      all(2, 2);
      break;
    case Shape::cycle2x3:
      all(2, 3);
      break;
    case Shape::cycle3x3:
      all(3, 3);
      break;
    case Shape::ladder:
      g.nf = 3;
      g.nm = 3;
      g.pairs = {{1, 1}, {1, 2}, {2, 1}, {2, 2}, {2, 3}, {3, 2}, {3, 3}};
      break;
    case Shape::two_cycles:
      g.nf = 3;
      g.nm = 4;
      g.pairs = {{1, 1}, {1, 2}, {2, 1}, {2, 2}, {1, 3}, {1, 4}, {3, 3}, {3, 4}};
      break;
    case Shape::random_graph: {
      const int total = uniform(r, 2, 7);
      g.nf = uniform(r, 1, total - 1);
      g.nm = total - g.nf;
      // A spanning tree first (every parent has a family), then extra pairs.
      std::set<std::array<int, 2>> set;
      set.insert({1, 1});
      int f = 1, m = 1;
      while (f < g.nf || m < g.nm) {
        if (f < g.nf && (m == g.nm || chance(r, 0.5))) {
          ++f;
          set.insert({f, uniform(r, 1, m)});
        } else {
          ++m;
          set.insert({uniform(r, 1, f), m});
        }
      }
      const int extra = uniform(r, 0, 3);
      for (int k = 0; k < extra; ++k) set.insert({uniform(r, 1, g.nf), uniform(r, 1, g.nm)});
      g.pairs.assign(set.begin(), set.end());
      break;
    }
  }
  return g;
}

}  // namespace

Cluster random_cluster(std::uint32_t seed, const Options& o) {
  Rng r(seed);
  Cluster c;
  c.fsscaleq = o.fsscaleq;
  switch (o.species) {
    case Species::diploid:
      break;
    case Species::inbred:
      c.allowinbreeding = true;
      c.inbreeding = uniform(r, 0.05, 0.3);
      break;
    case Species::haplodiploid:
      c.haplodiploid = true;
      break;
    case Species::monoecious:
      c.numsex = 1;
      break;
    case Species::selfing:
      c.numsex = 1;
      c.allowinbreeding = true;
      c.inbreeding = uniform(r, 0.05, 0.3);
      break;
  }
  Graph g;
  if (o.pairs.empty()) {
    g = shape_graph(r, o.shape);
  } else {
    g.nf = 0;
    g.nm = 0;
    g.pairs = o.pairs;
    for (const auto& p : g.pairs) {
      g.nf = std::max(g.nf, p[0]);
      g.nm = std::max(g.nm, p[1]);
    }
  }
  c.fathers.resize(static_cast<size_t>(g.nf));
  c.mothers.resize(static_cast<size_t>(g.nm));
  for (const auto& p : g.pairs) c.families.push_back({p[0], p[1], {}});
  if (c.numsex == 1 && !o.same.empty()) {
    c.same = o.same;
  } else if (c.numsex == 1) {
    // Individuals acting in both roles: in a selfing species one pair becomes a selfed
    // family; otherwise a father and a mother without a common family may be one individual.
    std::set<int> usedf, usedm;
    if (o.species == Species::selfing) {
      const auto& p = g.pairs[static_cast<size_t>(uniform(r, 0, int(g.pairs.size()) - 1))];
      c.same.push_back(p);
      usedf.insert(p[0]);
      usedm.insert(p[1]);
    }
    for (int i = 1; i <= g.nf; ++i) {
      for (int j = 1; j <= g.nm; ++j) {
        if (usedf.count(i) || usedm.count(j) || !chance(r, 0.3)) continue;
        bool family = false;
        for (const auto& p : g.pairs) family = family || (p[0] == i && p[1] == j);
        if (family) continue;
        c.same.push_back({i, j});
        usedf.insert(i);
        usedm.insert(j);
      }
    }
  }
  // Individuals, and a cap on alleles that keeps the enumeration below about 10^6.
  const int nind = g.nf + g.nm - static_cast<int>(c.same.size());
  int kmax = 2;
  while (true) {
    const double k1 = kmax + 1;
    if (std::pow(k1 * (k1 + 1) / 2, nind) > 1e6) break;
    ++kmax;
    if (kmax >= 12) break;
  }
  for (int l = 0; l < o.loci; ++l) {
    Locus x;
    switch (o.markers) {
      case Markers::snp_free:
        x.nallele = 2;
        break;
      case Markers::multi_free:
        x.nallele = uniform(r, 3, 6);
        break;
      case Markers::snp_error:
        x.nallele = 2;
        break;
      case Markers::multi_error:
        x.nallele = uniform(r, 3, 8);
        break;
      case Markers::many_error:
        x.nallele = uniform(r, 9, 12);
        break;
      case Markers::dominant_free:
      case Markers::dominant_error:
        x.dominant = true;
        x.nallele = 2;
        break;
    }
    x.nallele = std::min(x.nallele, std::max(kmax, 2));
    const bool errors = o.markers == Markers::snp_error || o.markers == Markers::multi_error ||
                        o.markers == Markers::many_error || o.markers == Markers::dominant_error;
    if (errors) {
      x.droprate = uniform(r, 0.0, 0.1);
      x.otherrate = uniform(r, 0.001, 0.05);
    }
    double sum = 0.0;
    for (int a = 0; a < x.nallele; ++a) {
      x.freq.push_back(uniform(r, 0.2, 1.0));
      sum += x.freq.back();
    }
    for (double& f : x.freq) f /= sum;
    c.loci.push_back(x);
  }
  // True genotypes of the parents: one per individual.
  const size_t nl = c.loci.size();
  auto parent_truth = [&](bool haploid) {
    std::vector<Genotype> t(nl);
    for (size_t l = 0; l < nl; ++l) {
      const auto& f = c.loci[l].freq;
      int a = draw_allele(r, f);
      int b = haploid ? 0 : draw_allele(r, f);
      if (!haploid && c.allowinbreeding && chance(r, c.inbreeding)) b = a;
      if (b != 0 && a > b) std::swap(a, b);
      t[l] = {a, b};
    }
    return t;
  };
  std::vector<std::vector<Genotype>> ft(c.fathers.size()), mt(c.mothers.size());
  for (auto& t : ft) t = parent_truth(c.haplodiploid);
  for (auto& t : mt) t = parent_truth(false);
  for (const auto& s : c.same)
    mt[static_cast<size_t>(s[1] - 1)] = ft[static_cast<size_t>(s[0] - 1)];
  // Observation of a true genotype.
  auto observe = [&](const Genotype& t, size_t l, double missing) -> Genotype {
    const Locus& x = c.loci[l];
    if (chance(r, missing)) return {0, 0};
    if (x.dominant) {
      int phen = (t[0] == 1 || t[1] == 1) ? 1 : 2;
      if (x.droprate + x.otherrate > 0 && chance(r, x.otherrate + x.droprate)) phen = 3 - phen;
      return {phen, 0};
    }
    Genotype seen = t;
    if (seen[1] != 0 && seen[0] != seen[1] && chance(r, x.droprate)) seen[1] = seen[0];
    for (size_t i = 0; i < (seen[1] == 0 ? 1u : 2u); ++i)
      if (x.otherrate > 0 && chance(r, x.otherrate)) seen[i] = uniform(r, 1, x.nallele);
    if (seen[1] != 0 && seen[0] > seen[1]) std::swap(seen[0], seen[1]);
    return seen;
  };
  // Offspring down the pedigree.
  int bigfamily = o.big_family ? uniform(r, 0, static_cast<int>(c.families.size()) - 1) : -1;
  for (size_t fi = 0; fi < c.families.size(); ++fi) {
    Family& f = c.families[fi];
    const int n =
        static_cast<int>(fi) == bigfamily ? uniform(r, 100, 150) : uniform(r, 1, o.max_family);
    for (int k = 0; k < n; ++k) {
      const bool son = c.haplodiploid && chance(r, 0.3);
      std::vector<Genotype> obs(nl), truth(nl);
      bool typed = false;
      for (size_t l = 0; l < nl; ++l) {
        const Genotype& gf = ft[static_cast<size_t>(f.father - 1)][l];
        const Genotype& gm = mt[static_cast<size_t>(f.mother - 1)][l];
        const int am = gm[static_cast<size_t>(uniform(r, 0, 1))];
        Genotype t;
        if (son) {
          t = {am, 0};
        } else {
          const int af = gf[1] == 0 ? gf[0] : gf[static_cast<size_t>(uniform(r, 0, 1))];
          t = {std::min(af, am), std::max(af, am)};
        }
        truth[l] = t;
        obs[l] = observe(t, l, o.missing);
        typed = typed || obs[l][0] > 0;
      }
      if (!typed) obs[0] = observe(truth[0], 0, 0.0);
      c.offspring.push_back(obs);
      c.offploid.push_back(son ? 1 : 2);
      f.members.push_back(static_cast<int>(c.offspring.size()));
    }
  }
  if (o.mendel_errors) {
    // One diploid offspring shows an allele its parents cannot have given.
    for (size_t i = 0; i < c.offspring.size(); ++i) {
      if (c.offploid[i] != 2 || c.loci[0].dominant || c.offspring[i][0][0] == 0) continue;
      Genotype& x = c.offspring[i][0];
      x[1] = x[1] % c.loci[0].nallele + 1;
      if (x[0] > x[1]) std::swap(x[0], x[1]);
      break;
    }
  }
  // Sampled parents.
  const int nsampled = std::min(o.sampled_parents, nind);
  std::vector<std::array<int, 2>> roles;
  for (int i = 1; i <= g.nf; ++i) roles.push_back({1, i});
  for (int j = 1; j <= g.nm; ++j) {
    bool merged = false;
    for (const auto& s : c.same) merged = merged || s[1] == j;
    if (!merged) roles.push_back({2, j});
  }
  std::shuffle(roles.begin(), roles.end(), r);
  int next[3] = {0, 0, 0};
  for (int k = 0; k < nsampled; ++k) {
    const auto role = roles[static_cast<size_t>(k)];
    const int sexkey = c.numsex == 1 ? 1 : role[0];
    Parent& p = role[0] == 1 ? c.fathers[static_cast<size_t>(role[1] - 1)]
                             : c.mothers[static_cast<size_t>(role[1] - 1)];
    const auto& truth =
        role[0] == 1 ? ft[static_cast<size_t>(role[1] - 1)] : mt[static_cast<size_t>(role[1] - 1)];
    p.candidate = ++next[sexkey];
    p.known = chance(r, 0.5);
    for (size_t l = 0; l < nl; ++l) p.genotype.push_back(observe(truth[l], l, o.missing));
    if (c.numsex == 1 && role[0] == 1) {
      for (const auto& s : c.same)
        if (s[0] == role[1]) c.mothers[static_cast<size_t>(s[1] - 1)] = p;
    }
  }
  // Family-size scaling needs 15 or more offspring in the sample.
  if (c.fsscaleq == 1) {
    while (c.offspring.size() + c.filler.size() < 15) {
      std::vector<Genotype> x(nl);
      for (size_t l = 0; l < nl; ++l) x[l] = observe(parent_truth(false)[l], l, 0.0);
      c.filler.push_back(x);
    }
  }
  // Every locus must show two alleles somewhere in the sample, or the program has nothing to
  // analyse there (and stops when no locus varies).
  for (size_t l = 0; l < nl; ++l) {
    std::set<int> shown;
    auto look = [&](const std::vector<Genotype>& gt) {
      if (l >= gt.size()) return;
      for (int a : gt[l])
        if (a > 0) shown.insert(a);
    };
    for (const auto& gt : c.offspring) look(gt);
    for (const auto& gt : c.filler) look(gt);
    if (shown.size() >= 2) continue;
    std::vector<Genotype> x(nl, Genotype{0, 0});
    if (c.loci[l].dominant) {
      x[l] = {1, 0};
      c.filler.push_back(x);
      x[l] = {2, 0};
    } else {
      x[l] = {1, 2};
    }
    c.filler.push_back(x);
  }
  return c;
}

}  // namespace kinrad::oracle
