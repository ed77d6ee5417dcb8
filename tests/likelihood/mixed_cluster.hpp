#pragma once
// Random clusters with loci of several kinds in one project: the family graph of a seeded
// oracle cluster, with new error-free loci (more than two alleles, codominant two-allele,
// dominant) whose genotypes are simulated down the pedigree, and optional Mendel errors
// written into offspring and candidate genotypes afterwards.
#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "likelihood/oracle.hpp"

namespace kinrad::testing_mixed {

enum class Kind { multi, snp, dominant };

inline int draw(std::mt19937& r, const std::vector<double>& f) {
  std::discrete_distribution<int> d(f.begin(), f.end());
  return d(r) + 1;
}

// Replaces the loci of c by error-free loci of the given kinds and simulates every genotype.
// missing: rate of untyped offspring and candidate loci.
inline void resimulate(oracle::Cluster& c, const std::vector<Kind>& kinds, std::mt19937& r,
                       int multi_alleles, double missing) {
  using oracle::Genotype;
  std::uniform_real_distribution<double> u(0.0, 1.0);
  c.loci.clear();
  for (Kind k : kinds) {
    oracle::Locus x;
    x.dominant = k == Kind::dominant;
    x.nallele = k == Kind::multi ? multi_alleles : 2;
    double sum = 0.0;
    for (int a = 0; a < x.nallele; ++a) {
      x.freq.push_back(0.2 + u(r));
      sum += x.freq.back();
    }
    for (double& f : x.freq) f /= sum;
    c.loci.push_back(x);
  }
  const size_t nl = kinds.size();
  auto truth = [&](bool haploid) {
    std::vector<Genotype> t(nl);
    for (size_t l = 0; l < nl; ++l) {
      int a = draw(r, c.loci[l].freq);
      int b = haploid ? 0 : draw(r, c.loci[l].freq);
      if (!haploid && c.allowinbreeding && u(r) < c.inbreeding) b = a;
      if (b != 0 && a > b) std::swap(a, b);
      t[l] = {a, b};
    }
    return t;
  };
  auto observe = [&](const Genotype& t, size_t l, double miss) -> Genotype {
    if (u(r) < miss) return {0, 0};
    if (c.loci[l].dominant) return {(t[0] == 1 || t[1] == 1) ? 1 : 2, 0};
    return t;
  };
  std::vector<std::vector<Genotype>> ft(c.fathers.size()), mt(c.mothers.size());
  for (auto& t : ft) t = truth(c.haplodiploid);
  for (auto& t : mt) t = truth(false);
  for (const auto& s : c.same)
    mt[static_cast<size_t>(s[1] - 1)] = ft[static_cast<size_t>(s[0] - 1)];
  for (const oracle::Family& f : c.families) {
    for (int m : f.members) {
      const bool son = c.offploid[static_cast<size_t>(m - 1)] == 1;
      std::vector<Genotype> obs(nl), tr(nl);
      bool typed = false;
      for (size_t l = 0; l < nl; ++l) {
        const Genotype& gf = ft[static_cast<size_t>(f.father - 1)][l];
        const Genotype& gm = mt[static_cast<size_t>(f.mother - 1)][l];
        const int am = gm[static_cast<size_t>(r() % 2)];
        Genotype t;
        if (son) {
          t = {am, 0};
        } else {
          const int af = gf[1] == 0 ? gf[0] : gf[static_cast<size_t>(r() % 2)];
          t = {std::min(af, am), std::max(af, am)};
        }
        tr[l] = t;
        obs[l] = observe(t, l, missing);
        typed = typed || obs[l][0] > 0;
      }
      if (!typed) obs[0] = observe(tr[0], 0, 0.0);  // every offspring typed somewhere
      c.offspring[static_cast<size_t>(m - 1)] = obs;
    }
  }
  auto sample = [&](std::vector<oracle::Parent>& ps, const std::vector<std::vector<Genotype>>& t) {
    for (size_t i = 0; i < ps.size(); ++i) {
      if (ps[i].candidate <= 0) continue;
      ps[i].genotype.clear();
      for (size_t l = 0; l < nl; ++l) ps[i].genotype.push_back(observe(t[i][l], l, missing));
    }
  };
  sample(c.fathers, ft);
  sample(c.mothers, mt);
  for (const auto& s : c.same)
    if (c.fathers[static_cast<size_t>(s[0] - 1)].candidate > 0)
      c.mothers[static_cast<size_t>(s[1] - 1)] = c.fathers[static_cast<size_t>(s[0] - 1)];
  // Unrelated filler offspring so that every locus shows all of its alleles in the sample.
  c.filler.clear();
  const size_t keep = c.fsscaleq == 1 && c.offspring.size() < 15 ? 15 - c.offspring.size() : 0;
  for (size_t k = 0; k < keep; ++k) {
    std::vector<Genotype> x(nl);
    for (size_t l = 0; l < nl; ++l) x[l] = observe(truth(false)[l], l, 0.0);
    c.filler.push_back(x);
  }
  for (size_t l = 0; l < nl; ++l) {
    const int na = c.loci[l].nallele;
    for (int a = 1; a <= na; a += 2) {
      std::vector<Genotype> x(nl, Genotype{0, 0});
      if (c.loci[l].dominant)
        x[l] = {a == 1 ? 1 : 2, 0};
      else
        x[l] = {a, std::min(a + 1, na)};
      c.filler.push_back(x);
      if (c.loci[l].dominant) {
        x[l] = {2, 0};
        c.filler.push_back(x);
        break;
      }
    }
  }
}

// One Mendel error or more: a typed offspring or candidate genotype replaced by a random one
// at a random locus (a dominant phenotype flipped).
inline void inject_errors(oracle::Cluster& c, std::mt19937& r, int count) {
  const size_t nl = c.loci.size();
  for (int e = 0; e < count; ++e) {
    const size_t l = r() % nl;
    const int na = c.loci[l].nallele;
    oracle::Genotype* g = nullptr;
    bool haploid = false;
    if (r() % 4 == 0) {
      std::vector<std::pair<oracle::Parent*, bool>> cands;
      for (auto& p : c.fathers)
        if (p.candidate > 0) cands.push_back({&p, c.haplodiploid});
      for (auto& p : c.mothers)
        if (p.candidate > 0) cands.push_back({&p, false});
      if (!cands.empty()) {
        auto [p, h] = cands[r() % cands.size()];
        g = &p->genotype[l];
        haploid = h;
      }
    }
    if (g == nullptr) {
      const size_t i = r() % c.offspring.size();
      g = &c.offspring[i][l];
      haploid = c.offploid[i] == 1;
    }
    if ((*g)[0] == 0) continue;
    if (c.loci[l].dominant) {
      (*g)[0] = 3 - (*g)[0];
    } else if (haploid) {
      (*g)[0] = static_cast<int>(r() % static_cast<unsigned>(na)) + 1;
    } else {
      int a = static_cast<int>(r() % static_cast<unsigned>(na)) + 1;
      int b = static_cast<int>(r() % static_cast<unsigned>(na)) + 1;
      *g = {std::min(a, b), std::max(a, b)};
    }
  }
  // A candidate shared by both roles of one individual keeps one genotype.
  for (const auto& s : c.same)
    if (c.fathers[static_cast<size_t>(s[0] - 1)].candidate > 0)
      c.mothers[static_cast<size_t>(s[1] - 1)] = c.fathers[static_cast<size_t>(s[0] - 1)];
}

}  // namespace kinrad::testing_mixed
