#pragma once
// Full-sib families of unsampled parents with their observed genotypes, drawn under the
// program's observation model: a heterozygote shows one of its alleles as a homozygote with
// probability 2d/(1 + d); then each allele is replaced, with probability errscale(k, e), by one
// drawn uniformly from the k alleles. Allele frequencies are uniform weights, none below about
// 2% for 8 alleles. Used by the slow estimation test and the benchmark.
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "likelihood/oracle.hpp"

namespace kinrad::test {

struct SimulatedFamilies {
  int families = 30;
  int size = 10;
  int loci = 20;
  int alleles = 8;
  double drop = 0.05;
  double other = 0.01;
  unsigned seed = 1;
};

inline oracle::Cluster simulated_families(const SimulatedFamilies& p) {
  using oracle::Genotype;
  std::mt19937 rng(p.seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<std::vector<double>> freq(static_cast<size_t>(p.loci));
  for (auto& f : freq) {
    double sum = 0.0;
    for (int a = 0; a < p.alleles; ++a) f.push_back(0.2 + u(rng));
    for (double x : f) sum += x;
    for (double& x : f) x /= sum;
  }
  auto draw = [&](int l) {
    double r = u(rng);
    for (int a = 0; a < p.alleles; ++a) {
      r -= freq[static_cast<size_t>(l)][static_cast<size_t>(a)];
      if (r < 0.0) return a + 1;
    }
    return p.alleles;
  };
  // The other-error rate as the model applies it to k alleles.
  const double w = std::sqrt(2.25 / p.alleles);
  const double e = (1.0 - w) * p.other + w * (1.0 - std::exp(-p.other));
  auto observe = [&](Genotype t) {
    if (t[0] != t[1] && u(rng) < 2.0 * p.drop / (1.0 + p.drop))
      t[0] = t[1] = u(rng) < 0.5 ? t[0] : t[1];
    for (int i = 0; i < 2; ++i)
      if (u(rng) < e) t[static_cast<size_t>(i)] = 1 + static_cast<int>(u(rng) * p.alleles);
    if (t[0] > t[1]) std::swap(t[0], t[1]);
    return t;
  };
  oracle::Cluster c;
  for (int l = 0; l < p.loci; ++l) c.loci.push_back({false, p.alleles, {}, p.drop, p.other});
  for (int f = 1; f <= p.families; ++f) {
    c.fathers.push_back(oracle::Parent{});
    c.mothers.push_back(oracle::Parent{});
    std::vector<Genotype> dad, mum;
    for (int l = 0; l < p.loci; ++l) {
      dad.push_back({draw(l), draw(l)});
      mum.push_back({draw(l), draw(l)});
    }
    oracle::Family fam{f, f, {}};
    for (int k = 0; k < p.size; ++k) {
      std::vector<Genotype> g;
      for (int l = 0; l < p.loci; ++l) {
        const Genotype& a = dad[static_cast<size_t>(l)];
        const Genotype& b = mum[static_cast<size_t>(l)];
        g.push_back(observe({a[u(rng) < 0.5 ? 0 : 1], b[u(rng) < 0.5 ? 0 : 1]}));
      }
      c.offspring.push_back(g);
      fam.members.push_back(static_cast<int>(c.offspring.size()));
    }
    c.families.push_back(fam);
  }
  c.offploid.assign(c.offspring.size(), 2);
  return c;
}

}  // namespace kinrad::test
