#include <cmath>

#include "model/model.hpp"

namespace kinrad {

real8 errscale(int4 k, real8 e) {
  const real8 w = std::sqrt(2.25 / static_cast<real8>(k));
  return (1.0 - w) * e + w * (1.0 - std::exp(-e));
}

real8 prbg_p(int4 o1, int4 o2, int4 t1, int4 t2, int4 k, real8 d, real8 e, int4 cls) {
  const real8 u = e / static_cast<real8>(k);
  if (t2 < 1) {
    // A haploid truth: its own allele is kept with probability 1 - e, and every allele
    // (its own included) is typed by error with probability e/k. A diploid observation of a
    // haploid truth is never asked for; it is given the chance of one erroneous allele.
    if (o2 < 1) return o1 == t1 ? u + (1.0 - e) : u;
    return u;
  }
  if (o2 < 1) {
    // Band phenotype of a diploid truth: the formulas give the chance of phenotype 1.
    const int4 c = cls == 0 ? t1 + t2 - 1 : cls;
    real8 x;
    switch (c) {
      case 1:
        x = (e / (1.0 + d) + 1.0 - u) * (1.0 - u);
        break;
      case 2:
        x = (e * u + 1.0 - e) / (1.0 + d) + (1.0 - u) * u;
        break;
      case 3:
        x = ((1.0 - u) / (1.0 + d) + 0.25 * e) * e;
        break;
      default:
        x = u;
        break;
    }
    return o1 == 1 ? x : 1.0 - x;
  }
  const int4 c = cls == 0 ? configgtop(t1, t2, o1, o2) : cls;
  const real8 kk = static_cast<real8>(k);
  switch (c) {
    case 1: {
      const real8 s = 1.0 - e + u;
      return (s * s + u * u) * (1.0 - d) / (1.0 + d);
    }
    case 2:
      return ((1.0 - d) * u * u * (1.0 - kk) + d + (1.0 + d - d * kk) * u) / (1.0 + d);
    case 3:
      return (1.0 - d) * (1.0 - e + 2.0 * u) * u / (1.0 + d);
    case 4:
      return u * ((1.0 - u) * 2.0 * d / (1.0 + d) + u);
    case 5:
      return ((1.0 - 1.0 / kk) * e * 2.0 * d / (1.0 + d) + 1.0 - e + u) * (1.0 - e + u);
    case 6:
      return (2.0 - 2.0 * d) * (1.0 - e + u) * u / (1.0 + d);
    case 7:
      return u * u * (2.0 - 2.0 * d) / (1.0 + d);
    default:
      return u;
  }
}

}  // namespace kinrad
