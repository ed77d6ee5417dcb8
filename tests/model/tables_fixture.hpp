#pragma once
// Helpers of the per-block table tests: the list of loci of more than two alleles, and the
// probability of an observed offspring genotype given its parents by summing over the
// Mendelian transmissions with the class formulas (prbg_p), independent of the tables.
#include <algorithm>
#include <utility>
#include <vector>

#include "core/modules/variables.hpp"
#include "model/model.hpp"

namespace kinrad::test {

inline void set_locus3() {
  Variables& v = variables;
  int4 n3 = 0;
  for (int4 l = 1; l <= v.numloci; ++l)
    if (v.obsnumallele(l) > 2) ++n3;
  v.locus3.allocate(Dim(0, n3));
  v.locus3loc.allocate(Dim(v.numloci));
  for (int4 l = 1; l <= v.numloci; ++l) {
    if (v.obsnumallele(l) <= 2) continue;
    v.locus3(++v.locus3(0)) = l;
    v.locus3loc(l) = v.locus3(0);
  }
}

// Genotypes of k alleles in row-by-row order (1/1, 1/2, ..., k/k).
inline std::vector<std::pair<int4, int4>> genotype_list(int4 k) {
  std::vector<std::pair<int4, int4>> g;
  for (int4 a = 1; a <= k; ++a)
    for (int4 b = a; b <= k; ++b) g.emplace_back(a, b);
  return g;
}

// P(observed o1/o2 | true a/b) at locus l by the class formulas.
inline real8 observe(int4 o1, int4 o2, int4 a, int4 b, int4 l) {
  const Variables& v = variables;
  const int4 k = v.obsnumallele(l);
  return prbg_p(o1, o2, std::min(a, b), std::max(a, b), k, v.droprate(l),
                errscale(k, v.othererrorrate(l)), 0);
}

// P(one offspring observed o1/o2 | father genotype f, mother genotype m); a haploid father
// is given as (a, 0).
inline real8 offspring_given_parents(int4 o1, int4 o2, std::pair<int4, int4> f,
                                     std::pair<int4, int4> m, int4 l) {
  real8 s = 0.0;
  if (f.second == 0) {
    for (int4 y : {m.first, m.second}) s += 0.5 * observe(o1, o2, f.first, y, l);
    return s;
  }
  for (int4 x : {f.first, f.second})
    for (int4 y : {m.first, m.second}) s += 0.25 * observe(o1, o2, x, y, l);
  return s;
}

}  // namespace kinrad::test
