#pragma once
// A simulated sample of full-sib families for the clone inference: unsampled parents drawn
// from the allele frequencies, offspring by Mendelian transmission, replicate typings of
// chosen offspring planted as extra members of their family, typing errors and missing
// genotypes added afterwards. Deterministic for a given seed.
#include <cstdint>
#include <random>
#include <vector>

#include "pairwise/clone_fixture.hpp"

namespace kinrad::test {

struct SimulatedSample {
  CloneData data;
  std::vector<int4> famstart;  // 1-based start of each family in `members`
  std::vector<int4> famsize;
  std::vector<int4> members;
  std::vector<std::pair<int4, int4>> replicates;  // (original, replicate) offspring numbers
};

// famsizes: members per family before planting; replicatefams: families (1-based) that get
// one replicate of their first member as an extra last member. numloci loci of `nallele`
// alleles with frequencies falling linearly; rates d = e = rate; each genotype gets an error
// with probability errorprob and is missing with probability missprob.
inline SimulatedSample simulate_sample(const std::vector<int>& famsizes,
                                       const std::vector<int>& replicatefams, int numloci,
                                       int nallele, real8 rate, real8 errorprob, real8 missprob,
                                       std::uint32_t seed) {
  std::mt19937 rng(seed);
  auto uniform = [&]() { return (static_cast<real8>(rng()) + 0.5) / 4294967296.0; };
  std::vector<real8> p(static_cast<std::size_t>(nallele));
  real8 total = 0.0;
  for (int a = 0; a < nallele; ++a) total += nallele - a;
  for (int a = 0; a < nallele; ++a) p[static_cast<std::size_t>(a)] = (nallele - a) / total;
  auto draw = [&]() {
    real8 u = uniform();
    for (int a = 0; a < nallele; ++a) {
      u -= p[static_cast<std::size_t>(a)];
      if (u <= 0.0) return a + 1;
    }
    return nallele;
  };
  SimulatedSample s;
  s.data.loci.assign(static_cast<std::size_t>(numloci), {nallele, false, rate, rate, p});
  s.data.off.assign(static_cast<std::size_t>(numloci), {});
  int4 next = 0;
  for (std::size_t f = 0; f < famsizes.size(); ++f) {
    std::vector<Genotype> dad(static_cast<std::size_t>(numloci));
    std::vector<Genotype> mum(static_cast<std::size_t>(numloci));
    for (int l = 0; l < numloci; ++l) {
      dad[static_cast<std::size_t>(l)] = {draw(), draw()};
      mum[static_cast<std::size_t>(l)] = {draw(), draw()};
    }
    bool planted = false;
    for (int r : replicatefams)
      if (r == static_cast<int>(f) + 1) planted = true;
    const int size = famsizes[f] + (planted ? 1 : 0);
    s.famstart.push_back(next + 1);
    s.famsize.push_back(size);
    for (int k = 0; k < size; ++k) {
      ++next;
      s.members.push_back(next);
      const bool replicate = planted && k == size - 1;
      if (replicate) s.replicates.push_back({next - size + 1, next});
      for (int l = 0; l < numloci; ++l) {
        auto& col = s.data.off[static_cast<std::size_t>(l)];
        Genotype g;
        if (replicate) {
          g = col[static_cast<std::size_t>(next - size)];  // the true genotype of the first
        } else {
          const Genotype& a = dad[static_cast<std::size_t>(l)];
          const Genotype& b = mum[static_cast<std::size_t>(l)];
          g = {rng() % 2 == 0 ? a.first : a.second, rng() % 2 == 0 ? b.first : b.second};
        }
        if (g.first > g.second) std::swap(g.first, g.second);
        col.push_back(g);
      }
    }
  }
  // Typing errors and missing genotypes, after the replicates were copied.
  for (auto& col : s.data.off) {
    for (Genotype& g : col) {
      if (uniform() < errorprob) {
        g.first = static_cast<int>(rng() % static_cast<std::uint32_t>(nallele)) + 1;
        if (g.first > g.second) std::swap(g.first, g.second);
      }
      if (uniform() < missprob) g = {0, 0};
    }
  }
  return s;
}

}  // namespace kinrad::test
