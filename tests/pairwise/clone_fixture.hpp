#pragma once
// Module state for the clone-inference tests: loci, offspring and candidate genotypes set up
// directly as data preparation and the per-locus set-up leave them, and an independent
// brute-force likelihood of a clone partition of full sibs.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/simuvariables.hpp"
#include "core/modules/variables.hpp"
#include "model/model.hpp"
#include "model/model_fixture.hpp"
#include "model/tables_fixture.hpp"
#include "support/module_reset.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::test {

struct CloneData {
  std::vector<LocusSpec> loci;
  std::vector<std::vector<Genotype>> off;  // [locus][offspring]
  std::vector<int> ploid;                  // per offspring; empty: all diploid
  std::vector<std::vector<Genotype>> cnd;  // [locus][candidate]: fathers, then mothers
  int fathers = 0;
  int mothers = 0;
  int haplodiploid = 0;
};

inline void setup_clone_data(const CloneData& d) {
  Variables& v = variables;
  v.haplodiploid = d.haplodiploid;
  v.ploidy(1) = d.haplodiploid == 1 ? 1 : 2;
  v.ploidy(2) = 2;
  setup_loci(d.loci);
  set_locus3();
  const int4 n = static_cast<int4>(d.off.empty() ? 0 : d.off[0].size());
  v.smplsize = n;
  v.offploid.allocate(Dim(n));
  v.offspringid.allocate(Dim(n));
  for (int4 i = 1; i <= n; ++i) {
    v.offploid(i) =
        static_cast<int1>(d.ploid.empty() ? 2 : d.ploid[static_cast<std::size_t>(i - 1)]);
    v.offspringid(i) = "Off" + std::to_string(i);
  }
  pack(v.indivgtype2, v.indivgtype2tgt, d.off);
  v.numcandidate(1) = d.fathers;
  v.numcandidate(2) = d.mothers;
  if (!d.cnd.empty()) pack(v.cndgtype2, v.cndgtype2tgt, d.cnd);
  v.btinferparent.allocate(Dim(n), Dim(2));
  v.indivparent.allocate(Dim(n), Dim(2));
  v.locusorder.allocate(Dim(v.numloci));
  for (int4 l = 1; l <= v.numloci; ++l) v.locusorder(l) = l;
  v.displayq = 0;
}

// P(observed o | true t) of a diploid (or a band phenotype at a dominant locus) by the class
// formulas, independent of the tabulated observation model.
inline real8 obs_diploid(int4 o1, int4 o2, int4 t1, int4 t2, int4 l) {
  const Variables& v = variables;
  if (v.dominantmarker(l) == 1) {
    const int4 k = v.obsnumallele(l);
    const real8 band = prbg_p(1, 0, std::min(t1, t2), std::max(t1, t2), k, v.droprate(l),
                              errscale(k, v.othererrorrate(l)), 0);
    return o1 == 1 ? band : 1.0 - band;
  }
  return observe(o1, o2, t1, t2, l);
}

// P(observed allele o | true allele t) of a haploid: an other error turns the allele into any
// of the k alleles at random.
inline real8 obs_haploid(int4 o, int4 t, int4 l) {
  const Variables& v = variables;
  const int4 k = v.obsnumallele(l);
  const real8 e = errscale(k, v.othererrorrate(l));
  return (o == t ? 1.0 - e : 0.0) + e / k;
}

// Brute force: the natural log of the probability of the members' observed genotypes when
// clone c holds part[c] (offspring numbers), summed over all true genotypes of both parents
// over all alleles of the locus and over every clone's true genotype, no pruning. gparents:
// observed genotypes of the parents per locus ((0, 0) unsampled or untyped). keep, when
// given, restricts the diploid parental genotypes (a, b) summed over.
inline real8 brute_partition_logl(const std::vector<std::vector<int>>& part,
                                  const std::vector<std::vector<Genotype>>& off,
                                  const std::vector<std::pair<Genotype, Genotype>>& gparents,
                                  const std::function<bool(int4, int4)>& keep = nullptr) {
  const Variables& v = variables;
  real8 total = 0.0;
  const bool haploidoff = v.offploid(part[0][0]) == 1;
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int4 k = v.obsnumallele(l);
    if (k < 2) continue;
    const FView<real8, 1>& p = v.obsallelefre(l).a;
    const auto& col = off[static_cast<std::size_t>(l - 1)];
    bool anytyped = false;
    for (const auto& c : part)
      for (int i : c)
        if (col[static_cast<std::size_t>(i - 1)].first > 0) anytyped = true;
    if (!anytyped) continue;
    const bool softexp = v.haplodiploid == 1 && v.dominantmarker(l) == 1;
    // A parent's genotypes: (a, b) with a <= b, or (a, 0) for a haploid, with their weights.
    auto parent_list = [&](int sex, Genotype obs) {
      std::vector<std::pair<Genotype, real8>> g;
      const bool hap = v.ploidy(sex) == 1;
      for (int4 a = 1; a <= k; ++a) {
        if (hap) {
          real8 w = p(a);
          if (obs.first > 0) w *= obs_haploid(obs.first, a, l);
          g.push_back({{a, 0}, w});
          continue;
        }
        for (int4 b = a; b <= k; ++b) {
          if (keep && !keep(a, b)) continue;
          real8 w = a == b ? p(a) * p(a) : 2.0 * p(a) * p(b);
          if (obs.first > 0) w *= obs_diploid(obs.first, obs.second, a, b, l);
          g.push_back({{a, b}, w});
        }
      }
      return g;
    };
    const auto fl = parent_list(1, gparents[static_cast<std::size_t>(l - 1)].first);
    const auto ml = parent_list(2, gparents[static_cast<std::size_t>(l - 1)].second);
    real8 x = 0.0;
    for (const auto& [fg, fw] : fl) {
      for (const auto& [mg, mw] : ml) {
        real8 prod = fw * mw;
        for (const auto& c : part) {
          // The clone's distinct observations and their counts.
          std::vector<std::pair<Genotype, int>> obs;
          for (int i : c) {
            const Genotype g = col[static_cast<std::size_t>(i - 1)];
            if (g.first < 1) continue;
            bool found = false;
            for (auto& [og, cnt] : obs)
              if (og == g) {
                ++cnt;
                found = true;
              }
            if (!found) obs.push_back({g, 1});
          }
          if (obs.empty()) continue;
          auto given = [&](int4 t1, int4 t2) {
            real8 q = 1.0;
            for (const auto& [og, cnt] : obs) {
              const real8 pr = haploidoff ? obs_haploid(og.first, t1, l)
                                          : obs_diploid(og.first, og.second, t1, t2, l);
              const real8 ex = softexp && cnt > 1 ? std::pow(cnt, 0.75) : cnt;
              q *= std::pow(pr, ex);
            }
            return q;
          };
          real8 s = 0.0;
          if (haploidoff) {
            for (int4 y : {mg.first, mg.second}) s += 0.5 * given(y, 0);
          } else {
            std::vector<int4> fa = {fg.first};
            if (fg.second > 0) fa.push_back(fg.second);
            for (int4 xa : fa)
              for (int4 y : {mg.first, mg.second})
                s += given(xa, y) / static_cast<real8>(2 * fa.size());
          }
          prod *= s;
        }
        x += prod;
      }
    }
    total += x > 0.0 ? std::log(x) : -1e300;
  }
  return total;
}

class CloneTest : public testing_support::ModuleReset {};

}  // namespace kinrad::test
