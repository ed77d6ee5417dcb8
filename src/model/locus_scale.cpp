// Locus scale factors of the family likelihood and the effective family-size table.
#include <algorithm>
#include <cmath>
#include <vector>

#include "core/modules/variables.hpp"
#include "model/model.hpp"

namespace kinrad {

void locusscale() {
  Variables& v = variables;
  const int4 n = v.locus3.allocated() ? v.locus3(0) : 0;
  // Recomputed on a second call rather than refused: the factors then follow the current
  // frequencies and rates.
  v.scaleloc.deallocate();
  v.scaleloc.allocate(Dim(n));
  // Information content of every locus of at least two alleles.
  real8 binfo = 0.0;
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int4 k = v.obsnumallele(l);
    if (k <= 1) continue;
    real8 s = 0.0;
    for (int4 a = 1; a <= k; ++a) s += v.obsallelefre(l).a(a) * v.obsallelefre(l).a(a);
    const real8 x = 1.0 / s + 1.0;
    binfo += x;
    if (k != 2 && v.locus3loc(l) > 0) v.scaleloc(v.locus3loc(l)) = x;
  }
  // Work sums per codominant block; sized by the largest block number in use, which after a
  // single-locus rebuild may exceed the current block count.
  int4 nb = v.codominantloci.allocated() ? v.codominantloci(0) : 0;
  for (int4 j = 1; j <= n; ++j) nb = std::max(nb, v.codominantloci(v.locus3(j)));
  std::vector<real8> count(static_cast<std::size_t>(nb) + 1, 0.0);
  std::vector<real8> sum(static_cast<std::size_t>(nb) + 1, 0.0);
  for (int4 j = 1; j <= n; ++j) {
    const int4 l = v.locus3(j);
    const int4 k = v.obsnumallele(l);
    const real8 e = v.othererrorrate(l);
    const real8 d = v.droprate(l);
    const real8 x = v.scaleloc(j);
    real8 factor;
    if (e > 0.1 * k) {
      factor = 1.001;
    } else {
      const real8 r = std::min(0.25 * d + e, 1.0);
      const real8 c =
          0.95 - 0.2 * (2 - v.numsex) + 0.05 / std::pow(x, 1.5) - 0.1 * std::exp(-5.0 / (x * x));
      factor = (c + 0.15 / std::sqrt(binfo)) * (1.0 - r) + r;
      if (factor > 1.0) factor = 1.01 - 0.05 * std::exp(-2.0 / std::pow(binfo, 0.125));
    }
    v.scaleloc(j) = factor;
    const int4 b = v.codominantloci(l);
    if (b > 0) {
      count[static_cast<std::size_t>(b)] += 1.0;
      sum[static_cast<std::size_t>(b)] += factor;
    }
  }
  for (int4 b = 1; b <= nb; ++b)
    if (count[static_cast<std::size_t>(b)] > 0.5)
      sum[static_cast<std::size_t>(b)] /= count[static_cast<std::size_t>(b)];
  for (int4 j = 1; j <= n; ++j) {
    const int4 b = v.codominantloci(v.locus3(j));
    if (b > 0) v.scaleloc(j) = sum[static_cast<std::size_t>(b)];
  }
}

void setscale2(int4 n) {
  Variables& v = variables;
  if (v.scale2.allocated() && v.scale2.ubound(1) >= n) return;
  v.scale2.deallocate();
  v.scale2.allocate(Dim(0, n));
  if (v.fsscaleq == 1) {
    if (v.scale2_weight < 0.0) {
      // Mean other-error rate of the two-allele loci; without such loci the mean is undefined
      // and the weight is 1, which leaves family sizes unscaled.
      const int4 n2 = v.locus2.allocated() ? v.locus2(0) : 0;
      real8 w = 1.0;
      if (n2 > 0) {
        real8 s = 0.0;
        for (int4 j = 1; j <= n2; ++j) s += v.othererrorrate(v.locus2(j));
        const real8 r = s / n2;
        if (r <= 0.2) w = std::min(16.0 * r * r + 4.0 * r, 1.0);
      }
      v.scale2_weight = w;
    }
    const real8 w = v.scale2_weight;
    const real8 t = w + (1.01 - 0.0625 * v.scale2const) * (1.0 - w);
    if (t < 0.9999999999999999) {
      // ln k from the log table where it reaches, else computed the same way.
      auto lnk = [&](int4 k) {
        return v.logk.allocated() && k >= v.logk.lbound(1) && k <= v.logk.ubound(1)
                   ? v.logk(k)
                   : std::log(static_cast<real8>(k));
      };
      const real8 c = (2.0 - std::pow(2.0, t)) / lnk(2);
      v.scale2(0) = 0.0;
      for (int4 k = 1; k <= n; ++k) v.scale2(k) = c * lnk(k) + std::pow(static_cast<real8>(k), t);
      return;
    }
  }
  for (int4 k = 0; k <= n; ++k) v.scale2(k) = k;
}

}  // namespace kinrad
