#include <cmath>
#include <utility>
#include <vector>

#include "core/genotype_number.hpp"
#include "core/modules/variables.hpp"
#include "model/model.hpp"

namespace kinrad {

namespace {

// One factor (sum of the offspring terms) raised to its count, multiplied into the running
// product; false ends the product (a zero factor zeroes it, a tiny product keeps its value).
inline bool multiply_factor(real8& p, real8 s, int4 count) {
  const real8 f = count == 1 ? s : std::pow(s, static_cast<real8>(count));
  if (f < 1e-300) {
    p = 0.0;
    return false;
  }
  p *= f;
  return p >= 1e-300;
}

}  // namespace

void computeprob(int4 locus, const int4* phen, int4 n, const int4* allele, int4 k, real8* table,
                 int4 ld, int4 ng, int4 symflag, real8& logmax) {
  const Variables& v = variables;
  const int4 hd = v.haplodiploid;
  const int4 g = genotype_count(k);
  // q[(genotype - 1) + g * m]: P(observation m | true genotype) of one offspring.
  std::vector<real8> q(static_cast<std::size_t>(g) * static_cast<std::size_t>(n > 0 ? n : 1));
  for (int4 a = 1; a <= k; ++a) {
    for (int4 b = a; b <= k; ++b) {
      const int4 gn = pair_number(a, b, k);
      for (int4 m = 0; m < n; ++m) {
        const int4 o[2] = {phen[3 * m], phen[3 * m + 1]};
        q[static_cast<std::size_t>(gn - 1 + g * m)] =
            prbgtop(allele[a - 1], allele[b - 1], o, locus);
      }
    }
  }
  // With dropout but no other errors, a haploid father's three-allele table would hold exact
  // zeros that the typed data cannot rule out; a small floor keeps those pairs possible.
  if (hd == 1 && k == 3 && v.droprate(locus) > 1e-300 && v.othererrorrate(locus) < 1e-300) {
    for (real8& x : q)
      if (x < 1e-300) x = 1e-6;
  }
  const real8 mendel = hd == 0 ? 0.25 : 0.5;
  for (real8& x : q) x *= mendel;
  auto qv = [&](int4 a, int4 b, int4 m) {
    return q[static_cast<std::size_t>(pair_number(a, b, k) - 1 + g * m)];
  };
  auto at = [&](int4 r, int4 c) -> real8& {
    return table[static_cast<std::size_t>((r - 1) + static_cast<index_t>(c - 1) * ld)];
  };

  real8 x = -1.0;
  if (hd == 0) {
    for (int4 u = 1; u <= k; ++u) {
      for (int4 vv = u; vv <= k; ++vv) {
        const int4 f = pair_number(u, vv, k);
        for (int4 w = 1; w <= k; ++w) {
          for (int4 z = w; z <= k; ++z) {
            const int4 mo = pair_number(w, z, k);
            if (mo < f) continue;
            real8 p = 1.0;
            for (int4 m = 0; m < n; ++m) {
              const real8 s = qv(u, w, m) + qv(u, z, m) + qv(vv, w, m) + qv(vv, z, m);
              if (!multiply_factor(p, s, phen[3 * m + 2])) break;
            }
            at(f, mo) = p;
            if (p > x) x = p;
          }
        }
      }
    }
  } else {
    for (int4 u = 1; u <= k; ++u) {
      for (int4 w = 1; w <= k; ++w) {
        for (int4 z = w; z <= k; ++z) {
          const int4 mo = pair_number(w, z, k);
          real8 p = 1.0;
          for (int4 m = 0; m < n; ++m) {
            const real8 s = qv(u, w, m) + qv(u, z, m);
            if (!multiply_factor(p, s, phen[3 * m + 2])) break;
          }
          at(u, mo) = p;
          if (p > x) x = p;
        }
      }
    }
  }
  // A table without any possible pair cannot be normalised; it stays zero and its constant
  // marks it impossible.
  if (x <= 0.0) {
    logmax = -1e300;
    return;
  }
  logmax = std::log(x);
  const int4 rows = hd == 0 ? g : k;
  for (int4 r = 1; r <= rows; ++r)
    for (int4 c = hd == 0 ? r : 1; c <= ng; ++c) at(r, c) /= x;
  if (symflag != 0 && hd == 0) {
    for (int4 r = 1; r <= g; ++r)
      for (int4 c = 1; c < r; ++c) at(r, c) = at(c, r);
  }
}

void copyprob(int4 k, int4 m, real8* out, int4 ld, int4 nrow, real8* in) {
  const int4 g = genotype_count(k);
  if (g < 2) return;
  auto inv = [&](int4 r, int4 c) -> real8& {
    return in[static_cast<std::size_t>((r - 1) + static_cast<index_t>(c - 1) * ld)];
  };
  auto outv = [&](int4 a, int4 b, int4 c) -> real8& {
    return out[static_cast<std::size_t>((a - 1) + static_cast<index_t>(b - 1) * k +
                                        static_cast<index_t>(c - 1) * k * m)];
  };
  auto ln = [](real8 x) { return x <= 1e-300 ? -1e300 : std::log(x); };
  if (variables.haplodiploid == 0) {
    for (int4 r = 1; r <= nrow; ++r)
      for (int4 c = 1; c < r; ++c) inv(r, c) = inv(c, r);
    for (int4 a = 1; a <= k; ++a) {
      for (int4 b = a; b <= k; ++b) {
        const int4 gn = pair_number(a, b, k);
        for (int4 c = 1; c <= g; ++c) {
          const real8 y = ln(inv(gn, c));
          outv(a, b, c) = y;
          outv(b, a, c) = y;
        }
      }
    }
  } else {
    for (int4 a = 1; a <= k; ++a)
      for (int4 c = 1; c <= g; ++c) outv(a, 1, c) = ln(inv(a, c));
  }
}

void computeprobdominant(int4 locus, int4 phen, real8* out) {
  const int4 o[2] = {phen, 0};
  // p[a + b - 1]: chance of the phenotype given true genotype a/b of the alleles 1 and 2.
  const real8 p[3] = {prbgtop(1, 1, o, locus), prbgtop(1, 2, o, locus), prbgtop(2, 2, o, locus)};
  auto child = [&](int4 a, int4 b) { return p[a + b - 2]; };
  static constexpr int4 geno[3][2] = {{1, 1}, {1, 2}, {2, 2}};
  int4 c = 0;
  if (variables.haplodiploid == 0) {
    for (int4 f = 0; f < 3; ++f) {
      for (int4 mo = f; mo < 3; ++mo) {
        real8 s = 0.0;
        for (int4 i = 0; i < 2; ++i)
          for (int4 j = 0; j < 2; ++j) s += child(geno[f][i], geno[mo][j]);
        out[c++] = 0.25 * s;
      }
    }
  } else {
    for (int4 a = 1; a <= 2; ++a) {
      for (int4 mo = 0; mo < 3; ++mo)
        out[c++] = 0.5 * (child(a, geno[mo][0]) + child(a, geno[mo][1]));
    }
  }
}

}  // namespace kinrad
