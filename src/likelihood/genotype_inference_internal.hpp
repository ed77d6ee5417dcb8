#pragma once
// What the posterior genotypes of a family share between the parents' side
// (genotype_inference.cpp) and the offspring's side (offspring_inference.cpp): the locus facts of
// one call with its views of the grow-only scratch in likelihoodvar, and the small decoders.
#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include "core/genotype_number.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/setgetgtype.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "core/sorting.hpp"
#include "likelihood/likelihood.hpp"
#include "model/model.hpp"

namespace kinrad::inference_detail {

constexpr real8 kImpossible = -1e300;
// The 4-byte real nearest to 1e-37: the smallest posterior a kept genotype is given, so that it
// survives the conversion to a 4-byte result.
constexpr real8 kFloor = 9.99999991097579e-38;

template <class T>
inline void fit(std::vector<T>& v, std::size_t n) {
  if (v.size() < n) v.resize(n);
}

// Observed alleles of genotype number g (0 missing) at a locus of k alleles: a haploid
// genotype has its allele first and 0 second, so does a dominant phenotype.
inline void decode(int2 g, int4 k, bool dominant, bool haploid, int4 out[2]) {
  out[0] = out[1] = 0;
  if (g <= 0) return;
  if (dominant) {
    out[0] = g;
    return;
  }
  if (k <= 2) {
    if (g == 1 || g == 2) {
      out[0] = g;
      out[1] = haploid ? 0 : g;
    } else {
      out[0] = 1;
      out[1] = haploid ? 0 : 2;
    }
    return;
  }
  out[0] = variables.genotypeid(1, g);
  out[1] = haploid ? 0 : variables.genotypeid(2, g);
}

inline void offspring_genotype(int4 o, int4 locus, int4 out[2]) {
  const Variables& v = variables;
  setgetgtype.locusgtypeptr = v.indivgtype2(locus).a;
  int2 g = 0;
  const int4 k = v.obsnumallele(locus);
  getgtype(g, o, k);
  decode(g, k, v.dominantmarker(locus) != 0, v.offploid(o) == 1, out);
}

// The allele pair (a <= b) of diploid genotype number g at a locus of n alleles.
inline void diploid_alleles(int4 g, int4 n, int4& a, int4& b) {
  a = 1;
  int4 r = g;
  while (r > n - a + 1) {
    r -= n - a + 1;
    ++a;
  }
  b = a + r - 1;
}

// Stores the first places of the posterior w(1..ng) by decreasing value; alleles(g) gives the
// pair of genotype g. Places beyond ng get probability 0 and alleles 0.
template <class Alleles, class Put>
void store_sorted(const real8* w, int4 ng, int4* idx, real8* keys, Alleles alleles, Put put) {
  for (int4 g = 1; g <= ng; ++g) keys[g] = -w[g];
  indexx(ng, keys + 1, idx + 1);
  const int4 ne = variables.numestgenotype;
  for (int4 k = 1; k <= ne; ++k) {
    if (k > ng) {
      put(k, 0.0f, 0, 0);
      continue;
    }
    const int4 g = idx[k];
    int4 a = 0, b = 0;
    if (w[g] > 1e-5) alleles(g, a, b);
    put(k, static_cast<real4>(w[g]), a, b);
  }
}

// The parent number of a parent in the configuration: the family number of its offspring.
inline int4 parent_number(int4 s, int4 i) {
  const Variables& v = variables;
  int4 fallback = 0;
  for (int4 m = 1; m <= v.nparent(3 - s); ++m) {
    const int4 p1 = s == 1 ? i : m, p2 = s == 1 ? m : i;
    if (v.nchild(p1, p2) <= 0) continue;
    const FView<int2, 1> members = familystructure(p1, p2);
    for (int4 x = 1; x <= v.nchild(p1, p2); ++x) {
      const int4 o = members(x);
      const int4 num = v.indivlocprt(o, s);
      if (num >= 1 && (s == 2 || v.offploid(o) != 1)) return num;
      if (num >= 1 && fallback == 0) fallback = num;
    }
  }
  return fallback;
}

// One call's locus facts and views of the grow-only scratch in likelihoodvar.
struct Inference {
  int4 locus = 0;
  int4 countflag = 0;
  int4 prntflag = 0;
  int4 flag2 = 0;
  std::span<real8> allelecount;
  int4 n = 0;     // alleles of the locus
  int4 np1 = 0;   // parents of sex 1
  int4 nall = 0;  // parents of both sexes
  bool dominant = false;
  bool errorfree = false;
  bool selfing = false;
  int4 ngd = 0;  // diploid genotypes of the locus
  const FView<real8, 1>* p = nullptr;
  std::size_t nn = 0;
  real8* q = nullptr;          // q[g], g from 1: population prior
  real8* L = nullptr;          // n x n log likelihoods with the parent fixed
  int4* obs = nullptr;         // obs[2 j], obs[2 j + 1]; allele 1 <= 0 untyped
  int1* data = nullptr;        // data[j]: some offspring of joint parent j is typed
  int1* diploidoff = nullptr;  // diploidoff[j]: joint parent j has a diploid offspring
  int1* kept = nullptr;
  int4* gathered = nullptr;
  int4 key = 0;  // single-offspring cache key (0: no cache)
  bool exchangeable = false;
  bool joint_parents = false;  // the offspring posteriors come from the parents' joint posterior

  int4 joint(int4 s, int4 i) const { return variables.npstartloc1(s) + i; }
  int4 ng_of(int4 s) const { return variables.ploidy(s) == 1 ? n : ngd; }
  real8& Lat(int4 a, int4 b) const {
    return L[static_cast<std::size_t>(a - 1) * static_cast<std::size_t>(n) +
             static_cast<std::size_t>(b - 1)];
  }
  // Posterior of joint parent j: post(j)[g], g from 1.
  real8* post(int4 j) const {
    return likelihoodvar.infer_post.data() +
           static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(ngd + 1);
  }
  real8* trans(int4 j) const {
    return likelihoodvar.infer_trans.data() +
           static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(n);
  }
  bool is_gathered(int4 a, int4 ngath) const {
    for (int4 x = 0; x < ngath; ++x)
      if (gathered[x] == a) return true;
    return false;
  }

  void grow_scratch();
  void parent_observations();
  void single_offspring_key();
  void population_priors();
  real8 evaluate(int4 a, int4 b) const;
  void store_parent(int4 s, int4 i, const real8* w, int4 ng) const;
  void count_parent(int4 s, const real8* w, real8 weight) const;
  void untyped_offspring_posterior(int4 j, bool haploid, real8* w, int4 ng) const;
  void haploid_posterior(real8* w) const;
  int4 gather_alleles(int4 s, int4 i, int4 j, int4& r) const;
  void gathered_likelihoods(int4 ngath) const;
  void spread_to_ungathered(int4 ngath, int4 r) const;
  void diploid_posterior(int4 s, int4 i, int4 j, real8* w) const;
  void normalise_kept(real8* w, int4 ng) const;
  void parent_posteriors();
  void parent_transmissions() const;
  void put_child(int4 o, const real8* w, int4 ng, bool haploid) const;
  void put_exact(int4 o, int4 a, int4 b) const;
  int4 earlier_twin(const FView<int2, 1>& members, int4 m, int4 o, const int4 og[2]) const;
  void offspring_prior(int4 p1, int4 p2, bool haploid, bool selfed, real8* prior) const;
  void offspring_posterior(int4 o, const int4 og[2], bool haploid, const real8* prior) const;
  void offspring_family(int4 p1, int4 p2, real8* priord, real8* priorh);
  void lone_family_prior(const FView<int2, 1>& members, int4 nc, real8* prior) const;
  void offspring_posteriors();
};

}  // namespace kinrad::inference_detail
