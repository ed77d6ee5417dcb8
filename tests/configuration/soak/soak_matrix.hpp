#pragma once
// The samples of the soak matrix: small simulated projects that together cover every species
// (dioecious, one parent pool with and without selfing, haplodiploid), mating system, kind of
// known or excluded relationship, number of candidates per sex (none, up to nine, more than
// nine), sibship prior and method. Shared by the soak tests of the configuration model and of
// the search.
#include <algorithm>
#include <array>
#include <map>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/project_file.hpp"

namespace kinrad::test {

using testing_support::ProjectFile;

enum class Species { dioecious, pool, selfing, haplodiploid };

// Relationships written into the sample (bit set).
enum : unsigned {
  kKnownSibs = 1,
  kExclSibs = 2,
  kKnownParents = 4,
  kExclParents = 8,
  kOffspringCands = 16,
};

struct DataSet {
  const char* name;
  Species species;
  const char* matings;
  unsigned relations;
  int cand1;  // candidates of sex 1 (one pool: of the pool), before an offspring who is one
  int cand2;
  const char* prior;
  const char* method;
  int n;
  int loci;
  unsigned seed;
};

// A covering set: every species, mating system, relationship, candidate count class (0, <= 9,
// > 9), prior (0 none, 1 weak, 2 medium) and method (0 pairwise, 1 full, 2 combined) appears.
inline void PrintTo(const DataSet& d, std::ostream* os) {
  *os << d.name;
}

inline const std::vector<DataSet>& matrix() {
  static const std::vector<DataSet> m = {
      {"dioecious_polygamous_plain", Species::dioecious, "0 0", 0, 0, 0, "0", "1", 30, 10, 101},
      {"dioecious_monogamous_fathers_known_sibs", Species::dioecious, "1 0", kKnownSibs, 4, 4,
       "1 2 2", "2", 40, 8, 102},
      {"dioecious_monogamous_mothers_excluded_sibs", Species::dioecious, "0 1", kExclSibs, 12, 5,
       "2 3 3", "0", 36, 9, 103},
      {"dioecious_monogamous_known_parents", Species::dioecious, "1 1", kKnownParents, 5, 12, "0",
       "1", 24, 12, 104},
      {"dioecious_excluded_parents", Species::dioecious, "0 0", kExclParents, 12, 12, "1 2 2", "1",
       30, 10, 105},
      {"dioecious_offspring_candidates", Species::dioecious, "0 0", kOffspringCands, 6, 6, "0", "0",
       30, 10, 106},
      {"pool_known_sibs", Species::pool, "0 0", kKnownSibs, 0, 0, "2 3 3", "1", 20, 10, 107},
      {"selfing_excluded_sibs", Species::selfing, "0 0", kExclSibs, 4, 4, "0", "2", 20, 11, 108},
      {"selfing_many_candidates_pairwise", Species::selfing, "0 0", kExclParents, 11, 11, "1 2 2",
       "0", 40, 8, 109},
      {"haplodiploid_known_parents", Species::haplodiploid, "0 0", kKnownParents | kKnownSibs, 4, 4,
       "0", "1", 30, 10, 110},
      {"haplodiploid_monogamous_mothers_pairwise", Species::haplodiploid, "0 1",
       kExclParents | kExclSibs, 10, 10, "2 3 3", "0", 60, 8, 111},
  };
  return m;
}

// ---------------------------------------------------------------------------------------------
// The simulated sample: founders from unequal allele frequencies, full-sib families of parent
// pairs that keep the mating system, error-free genotypes (the declared error rates are small
// and positive, so that random configurations are never impossible).

struct Truth {
  std::vector<int> father, mother;  // parent index per offspring (0-based), -1 none
  std::vector<bool> haploid;
};

using Genotype = std::vector<std::array<int, 2>>;  // per locus; second allele -99: haploid

inline ProjectFile simulate(const DataSet& d, Truth& t) {
  std::mt19937 rng(d.seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const bool pool = d.species == Species::pool || d.species == Species::selfing;
  const bool haplo = d.species == Species::haplodiploid;
  std::vector<std::vector<double>> freq(static_cast<std::size_t>(d.loci));
  for (auto& f : freq) {
    const int k = pick(4, 7);
    double sum = 0.0;
    for (int a = 0; a < k; ++a) {
      f.push_back(0.2 + u(rng));
      sum += f.back();
    }
    for (double& x : f) x /= sum;
  }
  const auto allele = [&](int l) {
    const auto& f = freq[static_cast<std::size_t>(l)];
    double r = u(rng);
    for (std::size_t a = 0; a < f.size(); ++a) {
      if (r < f[a]) return static_cast<int>(a) + 1;
      r -= f[a];
    }
    return static_cast<int>(f.size());
  };
  const auto founder = [&](bool haploid) {
    Genotype g(static_cast<std::size_t>(d.loci));
    for (int l = 0; l < d.loci; ++l)
      g[static_cast<std::size_t>(l)] = {allele(l), haploid ? -99 : allele(l)};
    return g;
  };
  // Parents: fathers then mothers (one pool: one list).
  const int nf = std::max(3, d.n / 6), nm = pool ? 0 : std::max(3, d.n / 6);
  std::vector<Genotype> fathers, mothers;
  for (int k = 0; k < nf; ++k) fathers.push_back(founder(haplo));
  for (int k = 0; k < nm; ++k) mothers.push_back(founder(false));
  // Mating pairs that keep the mating system.
  std::vector<std::pair<int, int>> pairs;
  const bool mono1 = d.matings[0] == '1', mono2 = d.matings[2] == '1';
  if (pool) {
    for (int k = 0; k < nf; ++k) {
      int a = pick(0, nf - 1), b = pick(0, nf - 1);
      if (d.species == Species::pool)
        while (b == a) b = pick(0, nf - 1);
      pairs.emplace_back(a, b);
    }
  } else if (mono1 && mono2) {
    for (int k = 0; k < std::min(nf, nm); ++k) pairs.emplace_back(k, k);
  } else if (mono1) {
    for (int k = 0; k < nf; ++k) pairs.emplace_back(k, pick(0, nm - 1));
  } else if (mono2) {
    for (int k = 0; k < nm; ++k) pairs.emplace_back(pick(0, nf - 1), k);
  } else {
    for (int k = 0; k < nf + nm; ++k) pairs.emplace_back(pick(0, nf - 1), pick(0, nm - 1));
  }
  const auto gamete = [&](const Genotype& g, int l) {
    const auto& x = g[static_cast<std::size_t>(l)];
    return x[1] == -99 || u(rng) < 0.5 ? x[0] : x[1];
  };
  std::vector<Genotype> offspring;
  for (int i = 0; i < d.n; ++i) {
    const auto [a, b] =
        pairs[static_cast<std::size_t>(pick(0, static_cast<int>(pairs.size()) - 1))];
    const Genotype& pa = fathers[static_cast<std::size_t>(a)];
    const Genotype& pb =
        pool ? fathers[static_cast<std::size_t>(b)] : mothers[static_cast<std::size_t>(b)];
    const bool son = haplo && u(rng) < 0.3;
    Genotype g(static_cast<std::size_t>(d.loci));
    for (int l = 0; l < d.loci; ++l)
      g[static_cast<std::size_t>(l)] = son ? std::array<int, 2>{gamete(pb, l), -99}
                                           : std::array<int, 2>{gamete(pa, l), gamete(pb, l)};
    offspring.push_back(g);
    t.father.push_back(son ? -1 : a);
    t.mother.push_back(b);
    t.haploid.push_back(son);
  }
  const auto text = [](const std::string& id, const Genotype& g) {
    std::string s = id;
    for (const auto& x : g) s += " " + std::to_string(x[0]) + " " + std::to_string(x[1]);
    return s;
  };
  const auto haploid_text = [](const std::string& id, const Genotype& g) {
    std::string s = id;
    for (const auto& x : g) s += " " + std::to_string(x[0]);
    return s;
  };
  ProjectFile p;
  p.loci = d.loci;
  p.markerids.clear();
  for (int l = 1; l <= d.loci; ++l) p.markerids += (l > 1 ? " L" : "L") + std::to_string(l);
  p.markertypes = "0@";
  p.droprates = "0.01@";
  p.otherrates = "0.01@";
  p.sexes = pool ? "1" : "2";
  p.inbreeding = d.species == Species::selfing ? "1" : "0";
  p.haplodiploid = haplo ? "1" : "0";
  p.matings = d.matings;
  p.prior = d.prior;
  p.method = d.method;
  const auto oid = [](int i) { return "O" + std::to_string(i + 1); };
  for (int i = 0; i < d.n; ++i)
    p.offspring.push_back(text(oid(i), offspring[static_cast<std::size_t>(i)]));
  // Candidates: some true parents (the first ones), then unrelated founders.
  const auto cands = [&](int count, std::vector<Genotype>& parents, bool haploid,
                         const std::string& prefix, std::vector<int>& who) {
    std::vector<std::string> lines;
    for (int k = 0; k < count; ++k) {
      const bool real = k < static_cast<int>(parents.size()) / 2 + 1 && k < count / 2 + 1;
      const Genotype g = real ? parents[static_cast<std::size_t>(k)] : founder(haploid);
      who.push_back(real ? k : -1);
      lines.push_back(prefix + std::to_string(k + 1) + " " +
                      (haploid ? haploid_text("", g).substr(1) : text("", g).substr(1)));
    }
    return lines;
  };
  std::vector<int> who1, who2;
  p.fathers = cands(d.cand1, fathers, haplo, pool ? "C" : "F", who1);
  if (pool) {
    p.mothers = p.fathers;
    who2 = who1;
  } else {
    p.mothers = cands(d.cand2, mothers, false, "M", who2);
  }
  // An offspring who is a candidate (diploid, so that it can be a mother): the last one.
  if (d.relations & kOffspringCands) {
    int o = d.n - 1;
    while (t.haploid[static_cast<std::size_t>(o)]) --o;
    const std::string line = text(oid(o), offspring[static_cast<std::size_t>(o)]);
    p.mothers.push_back(line);
    if (pool) p.fathers.push_back(line);
  }
  const auto true_cand = [&](const std::vector<int>& who, int parent) {
    for (std::size_t k = 0; k < who.size(); ++k)
      if (who[k] == parent && parent >= 0) return static_cast<int>(k) + 1;
    return 0;
  };
  const std::string cp1 = pool ? "C" : "F", cp2 = pool ? "C" : "M";
  std::set<int> with_known_parent;  // an offspring is in a known sibship or has a known parent
  if (d.relations & kKnownParents) {
    // Known fathers of up to three offspring, known mothers of up to three.
    std::vector<std::string> l1, l2;
    for (int i = 0; i < d.n; ++i) {
      const int c1 = t.haploid[static_cast<std::size_t>(i)]
                         ? 0
                         : true_cand(who1, t.father[static_cast<std::size_t>(i)]);
      const int c2 = true_cand(who2, t.mother[static_cast<std::size_t>(i)]);
      if (c1 > 0 && l1.size() < 3 && i % 2 == 0) {
        l1.push_back(oid(i) + " " + cp1 + std::to_string(c1));
        with_known_parent.insert(i);
      }
      if (c2 > 0 && l2.size() < 3 && i % 2 == 1) {
        l2.push_back(oid(i) + " " + cp2 + std::to_string(c2));
        with_known_parent.insert(i);
      }
    }
    p.knownpaternity = std::to_string(l1.size()) + " 0";
    for (const auto& l : l1) p.knownpaternity += "\n" + l;
    p.knownmaternity = std::to_string(l2.size()) + " 0";
    for (const auto& l : l2) p.knownmaternity += "\n" + l;
  }
  if (d.relations & kKnownSibs) {
    // One known sibship per sex: up to four members of the largest true family of that sex.
    for (int s = 1; s <= (pool ? 1 : 2); ++s) {
      std::map<int, std::vector<int>> fam;
      for (int i = 0; i < d.n; ++i) {
        if (t.haploid[static_cast<std::size_t>(i)] || with_known_parent.count(i)) continue;
        fam[s == 1 ? t.father[static_cast<std::size_t>(i)] : t.mother[static_cast<std::size_t>(i)]]
            .push_back(i);
      }
      std::vector<int> best;
      for (const auto& [k, m] : fam)
        if (m.size() > best.size()) best = m;
      if (best.size() < 2) continue;
      best.resize(std::min<std::size_t>(best.size(), 4));
      std::string line = "1\n" + std::to_string(best.size());
      for (int i : best) line += " " + oid(i);
      (s == 1 ? p.paternalsibships : p.maternalsibships) = line;
    }
  }
  if (d.relations & kExclSibs) {
    // Offspring 1 and 2 each exclude up to three offspring of other true families of a sex.
    for (int s = 1; s <= 2; ++s) {
      std::vector<std::string> lines;
      for (int i = 0; i < 2; ++i) {
        std::vector<int> others;
        const auto par = [&](int j) {
          if (pool)
            return std::make_pair(t.father[static_cast<std::size_t>(j)],
                                  t.mother[static_cast<std::size_t>(j)]);
          return std::make_pair(s == 1 ? t.father[static_cast<std::size_t>(j)]
                                       : t.mother[static_cast<std::size_t>(j)],
                                0);
        };
        for (int j = 0; j < d.n && others.size() < 3; ++j) {
          if (j == i || (s == 1 && (t.haploid[static_cast<std::size_t>(i)] ||
                                    t.haploid[static_cast<std::size_t>(j)])))
            continue;
          const auto a = par(i), b = par(j);
          const bool related = pool ? (a.first == b.first || a.first == b.second ||
                                       a.second == b.first || a.second == b.second)
                                    : a.first == b.first;
          if (!related) others.push_back(j);
        }
        if (others.empty()) continue;
        std::string line = oid(i) + " " + std::to_string(others.size());
        for (int j : others) line += " " + oid(j);
        lines.push_back(line);
      }
      std::string block = std::to_string(lines.size());
      for (const auto& l : lines) block += "\n" + l;
      (s == 1 ? p.excludedpaternalsibships : p.excludedmaternalsibships) = block;
    }
  }
  if (d.relations & kExclParents) {
    // Offspring 3 to 5 exclude up to two candidates that are not their parents, per sex.
    for (int s = 1; s <= 2; ++s) {
      const int count = s == 1 ? d.cand1 : (pool ? d.cand1 : d.cand2);
      const std::vector<int>& who = s == 1 ? who1 : who2;
      std::vector<std::string> lines;
      for (int i = 2; i < 5 && i < d.n && count > 0; ++i) {
        if (s == 1 && t.haploid[static_cast<std::size_t>(i)]) continue;
        std::vector<int> ex;
        for (int c = 1; c <= count && ex.size() < 2; ++c) {
          const int parent = who[static_cast<std::size_t>(c - 1)];
          const bool mine = parent >= 0 && (parent == t.father[static_cast<std::size_t>(i)] ||
                                            parent == t.mother[static_cast<std::size_t>(i)]);
          if (!mine && (c + i) % 3 == 0) ex.push_back(c);
        }
        if (ex.empty()) continue;
        std::string line = oid(i) + " " + std::to_string(ex.size());
        for (int c : ex) line += " " + (s == 1 ? cp1 : cp2) + std::to_string(c);
        lines.push_back(line);
      }
      std::string block = std::to_string(lines.size());
      for (const auto& l : lines) block += "\n" + l;
      (s == 1 ? p.excludedpaternity : p.excludedmaternity) = block;
    }
  }
  return p;
}

}  // namespace kinrad::test
