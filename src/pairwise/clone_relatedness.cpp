// Pair relatedness of offspring from their genotypes (a similarity index corrected for chance
// similarity), and the per-locus weights and locus order of the clone inference.
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/simuvariables.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "core/sorting.hpp"
#include "pairwise/clone_internal.hpp"
#include "pairwise/clones.hpp"

namespace kinrad {

namespace clone_detail {

void offspring_alleles(int4 locus, int4 i, int4& a1, int4& a2) {
  const Variables& v = variables;
  const int4 na = v.obsnumallele(locus);
  int2 g = 0;
  const int4 k2 = na == 2 && v.locus2loc.allocated() ? v.locus2loc(locus) : 0;
  if (k2 > 0 && v.indivgtype1.allocated() && k2 >= v.indivgtype1.lbound(2) &&
      k2 <= v.indivgtype1.ubound(2)) {
    g = v.indivgtype1(i, k2);
    if (g == v.l23g(1)) g = v.l23g(2);
  } else {
    setgetgtype.locusgtypeptr = v.indivgtype2(locus).a;
    getgtype(g, i, na);
  }
  a1 = v.genotypeid(1, g);
  a2 = v.genotypeid(2, g);
}

void set_lynch_weights() {
  const Variables& v = variables;
  Simuvariables& sv = simuvariables;
  sv.lynchwgt.allocate(Dim(v.numloci));
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int4 k = v.obsnumallele(l);
    if (k <= 1) continue;
    const FView<real8, 1>& p = v.obsallelefre(l).a;
    if (v.dominantmarker(l) == 1) {
      const real8 p2 = p(2) * p(2);
      sv.lynchwgt(l) = p2 - p2 * p2;
    } else {
      real8 s2 = 0.0;
      real8 s3 = 0.0;
      for (int4 a = 1; a <= k; ++a) {
        s2 += p(a) * p(a);
        s3 += p(a) * p(a) * p(a);
      }
      sv.lynchwgt(l) = 2.0 * s2 - s3;
    }
  }
}

void set_clone_locus_order() {
  Variables& v = variables;
  const int4 n = v.numloci;
  std::vector<real8> key(static_cast<std::size_t>(n > 0 ? n : 1));
  for (int4 l = 1; l <= n; ++l) {
    const int4 k = v.obsnumallele(l);
    const real8 e = v.locuserror(l) != 0 ? 1.0 : 0.0;
    real8& x = key[static_cast<std::size_t>(l - 1)];
    if (k < 1) {
      x = (2.0 * e - 1.0) * 100000.0 + 9999900.0;
      continue;
    }
    real8 hom = 0.0;
    const FView<real8, 1>& p = v.obsallelefre(l).a;
    for (int4 a = 1; a <= k; ++a) hom += p(a) * p(a);
    // Heterozygosity in whole percent, rounded half away from zero.
    const real8 h = std::round(100.0 * (1.0 - hom));
    x = (2.0 * e - 1.0) * 100000.0 - h;
    if (k <= 2) x += 10000000.0;
  }
  v.locusorder.allocate(Dim(n > 0 ? n : 0));
  if (n > 0) indexx(n, key.data(), &v.locusorder(1));
}

}  // namespace clone_detail

void setsecondg(const int4* members, int4 k) {
  const Variables& v = variables;
  Simuvariables& sv = simuvariables;
  if (!sv.secondg.allocated() || sv.secondg.size(3) != k || sv.secondg.size(2) != v.numloci)
    sv.secondg.allocate(Dim(2), Dim(v.numloci), Dim(k));
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int4 na = v.obsnumallele(l);
    if (na < 2) continue;
    setgetgtype.locusgtypeptr = v.indivgtype2(l).a;
    for (int4 j = 1; j <= k; ++j) {
      int2 g = 0;
      getgtype(g, members[j - 1], na);
      sv.secondg(1, l, j) = v.genotypeid(1, g);
      sv.secondg(2, l, j) = v.genotypeid(2, g);
    }
  }
}

real8 r_li_lynch(int4 j) {
  const Variables& v = variables;
  const Simuvariables& sv = simuvariables;
  real8 sums = 0.0;  // summed similarity over the codominant loci
  real8 w = 0.0;
  real8 wd = 0.0;
  int4 nc = 0;
  int4 nallele = 0;
  int4 nd = 0;
  int4 dmis = 0;
  for (int4 l = 1; l <= v.numloci; ++l) {
    if (v.obsnumallele(l) <= 1) continue;
    int4 a1 = sv.firstg(1, l);
    int4 b1 = sv.secondg(1, l, j);
    if (a1 < 1 || b1 < 1) continue;
    if (v.dominantmarker(l) == 1) {
      ++nd;
      if (a1 != b1) ++dmis;
      wd += sv.lynchwgt(l);
      continue;
    }
    int4 a2 = sv.firstg(2, l);
    int4 b2 = sv.secondg(2, l, j);
    if (a1 > a2) std::swap(a1, a2);
    if (b1 > b2) std::swap(b1, b2);
    real8 sim = 0.0;
    if (a1 == b1 && a2 == b2) {
      sim = 1.0;
    } else if (a1 == a2 && b1 != b2) {
      if (a1 == b1 || a1 == b2) sim = 0.75;
    } else if (b1 == b2 && a1 != a2) {
      if (b1 == a1 || b1 == a2) sim = 0.75;
    } else if (a1 != a2 && b1 != b2) {
      if (a1 == b1 || a1 == b2 || a2 == b1 || a2 == b2) sim = 0.5;
    }
    sums += sim;
    ++nc;
    w += sv.lynchwgt(l);
    nallele += v.obsnumallele(l);
  }
  // Dominant part: 1 - D / (2 Wd); with no chance similarity to correct for (Wd of 0, only
  // at loci whose null allele has frequency 0 or 1) the loci carry no information.
  const real8 rd = wd > 1e-12 ? 1.0 - static_cast<real8>(dmis) / (2.0 * wd) : 0.0;
  if (nallele == 0) return nd == 0 ? 0.0 : rd;
  const real8 denom = static_cast<real8>(nc) - w;
  // Every common locus fully expected to look alike by chance: no information.
  const real8 rc = std::fabs(denom) < 1e-12 ? 0.0 : (sums - w) / denom;
  if (nd == 0) return rc;
  return (static_cast<real8>(nd) * rd + static_cast<real8>(nallele) * rc) /
         static_cast<real8>(nallele + nd);
}

}  // namespace kinrad
