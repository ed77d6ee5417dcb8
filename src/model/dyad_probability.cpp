#include <cstdint>
#include <utility>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "model/model.hpp"
#include "model/phenotype_tables_internal.hpp"

namespace kinrad {

namespace {

int4 pair_index(const DyadTables& t, int4 i, int4 j) {
  return i <= j ? t.offset[i] + j : t.offset[j] + i;
}

// True when the tables of the last call describe this dyad at this locus under the current
// frequencies and observation tables.
bool tables_current(int4 a1, int4 a2, int4 b1, int4 b2, int4 locus) {
  const DyadTables& t = dyadprbvariables.dyad_tables;
  if (!t.built || t.locus != locus || t.input[0] != a1 || t.input[1] != a2 || t.input[2] != b1 ||
      t.input[3] != b2 || t.version != transrate_version()) {
    return false;
  }
  if (t.trivial) return true;
  const FView<real8, 1>& p = variables.obsallelefre(locus).a;
  const FStatic<real8, 1, 5>& afr = dyadprbvariables.afr;
  for (int4 x = 1; x <= t.numorig; ++x) {
    if (afr(x) != p(t.orig[x])) return false;
  }
  return true;
}

void build_tables(int4 a1, int4 a2, int4 b1, int4 b2, int4 locus) {
  const Variables& v = variables;
  DyadTables& t = dyadprbvariables.dyad_tables;
  FStatic<real8, 1, 5>& afr = dyadprbvariables.afr;
  t.built = true;
  t.locus = locus;
  t.input[0] = a1;
  t.input[1] = a2;
  t.input[2] = b1;
  t.input[3] = b2;
  t.version = transrate_version();
  const int4 k = v.obsnumallele(locus);
  t.trivial = k < 2;
  t.numorig = 0;
  if (t.trivial) return;
  t.haploid = b2 < 1;
  const bool dominant = v.dominantmarker(locus) != 0;
  const FView<real8, 1>& p = v.obsallelefre(locus).a;
  int4 o1[2] = {a1, a2};
  int4 o2[2] = {b1, b2};
  if (k < 3) {
    t.numallele = 2;
    t.numorig = 2;
    t.orig[1] = 1;
    t.orig[2] = 2;
    afr(1) = p(1);
    afr(2) = p(2);
    if (dominant) {  // the observations are phenotypes
      o1[1] = 0;
      o2[1] = 0;
    }
  } else {
    // Number the dyad's distinct alleles in order of first appearance; the locus's other
    // alleles, which neither member shows, behave alike and are pooled into one.
    int4* const alleles[4] = {&o1[0], &o1[1], &o2[0], &o2[1]};
    int4 n = 0;
    for (int4* a : alleles) {
      if (*a < 1) continue;
      int4 code = 0;
      for (int4 x = 1; x <= n; ++x) {
        if (t.orig[x] == *a) code = x;
      }
      if (code == 0) {
        code = ++n;
        t.orig[code] = *a;
      }
      *a = code;
    }
    t.numorig = n;
    real8 sum = 0.0;
    for (int4 x = 1; x <= n; ++x) {
      afr(x) = p(t.orig[x]);
      sum += afr(x);
    }
    t.numallele = n;
    if (n < k) {
      t.numallele = n + 1;
      const real8 rest = 1.0 - sum;
      afr(n + 1) = rest > 0.0 ? rest : 0.0;
    }
    // Recoding may leave a pair out of order.
    if (o1[0] > o1[1]) std::swap(o1[0], o1[1]);
    if (!t.haploid && o2[0] > o2[1]) std::swap(o2[0], o2[1]);
  }
  const int4 kk = t.numallele;
  int4 g = 0;
  for (int4 i = 1; i <= kk; ++i) {
    t.offset[i] = g - i;
    for (int4 j = i; j <= kk; ++j) {
      t.gi[g] = i;
      t.gj[g] = j;
      ++g;
    }
  }
  t.numgenotype = g;
  const FView<real8, 1>& tr = v.transrate(locus).a;
  for (int4 x = 0; x < g; ++x) {
    const int4 i = t.gi[x];
    const int4 j = t.gj[x];
    real8 y = tr(configgtop(i, j, o1[0], o1[1]));
    if (dominant && o1[0] != 1) y = 1.0 - y;
    t.y1[x] = y;
    if (!t.haploid) {
      y = tr(configgtop(i, j, o2[0], o2[1]));
      if (dominant && o2[0] != 1) y = 1.0 - y;
      t.y2[x] = y;
    }
  }
  if (t.haploid) {
    // A haploid is typed as its own allele unless an other error strikes; the raw rate is
    // used here, without the effective-rate scaling of the diploid tables.
    const real8 e = v.othererrorrate(locus);
    const real8 u = e / static_cast<real8>(k);
    for (int4 x = 1; x <= kk; ++x) t.y2[x] = x == o2[0] ? 1.0 - e + u : u;
  }
}

}  // namespace

real8 prbgdyad(int4 a1, int4 a2, int4 b1, int4 b2, std::span<const real8, 9> delta) {
  const FStatic<real8, 1, 5>& p = dyadprbvariables.afr;
  const real8 d1 = delta[0], d2 = delta[1], d3 = delta[2], d4 = delta[3], d5 = delta[4];
  const real8 d6 = delta[5], d7 = delta[6], d8 = delta[7], d9 = delta[8];
  if (b2 < 1) {
    const real8 pb = p(b1);
    if (a1 == a2) {
      const real8 pi = p(a1);
      if (b1 == a1) return pi * (d1 + (d2 + d8) * pi + d9 * pi * pi);
      return pi * pb * (d2 + d9 * pi);
    }
    const real8 pi = p(a1);
    const real8 pj = p(a2);
    if (b1 == a1 || b1 == a2) return pi * pj * (d8 + 2.0 * d9 * pb);
    return 2.0 * d9 * pi * pj * pb;
  }
  if (a1 == a2) {
    const real8 pi = p(a1);
    if (b1 == b2) {
      if (b1 == a1) {
        return pi * (d1 + (d2 + d3 + d5 + d7) * pi + (d4 + d6 + d8) * pi * pi + d9 * pi * pi * pi);
      }
      const real8 pk = p(b1);
      return pi * pk * (d2 + d4 * pk + d6 * pi + d9 * pi * pk);
    }
    if (b1 == a1 || b2 == a1) {
      const real8 pk = p(b1 == a1 ? b2 : b1);
      return pi * pk * (d3 + (2.0 * d4 + d8) * pi + 2.0 * d9 * pi * pi);
    }
    return 2.0 * pi * p(b1) * p(b2) * (d4 + d9 * pi);
  }
  const real8 pi = p(a1);
  const real8 pj = p(a2);
  if (b1 == b2) {
    const real8 px = p(b1);
    if (b1 == a1 || b1 == a2) return pi * pj * (d5 + (2.0 * d6 + d8) * px + 2.0 * d9 * px * px);
    return 2.0 * pi * pj * px * (d6 + d9 * px);
  }
  const bool b1shared = b1 == a1 || b1 == a2;
  const bool b2shared = b2 == a1 || b2 == a2;
  if (b1shared && b2shared) return pi * pj * (2.0 * d7 + d8 * (pi + pj) + 4.0 * d9 * pi * pj);
  if (b1shared) return pi * pj * p(b2) * (d8 + 4.0 * d9 * p(b1));
  if (b2shared) return pi * pj * p(b1) * (d8 + 4.0 * d9 * p(b2));
  return 4.0 * d9 * pi * pj * p(b1) * p(b2);
}

real8 prbpdyad(int4 a1, int4 a2, int4 b1, int4 b2, std::span<const real8, 9> delta, int4 locus,
               int4 flag) {
  if (flag == 0 || !tables_current(a1, a2, b1, b2, locus)) build_tables(a1, a2, b1, b2, locus);
  const DyadTables& t = dyadprbvariables.dyad_tables;
  if (t.trivial) return 1.0;
  const FStatic<real8, 1, 5>& p = dyadprbvariables.afr;
  const int4 kk = t.numallele;
  const int4 ng = t.numgenotype;
  const real8 d7 = delta[6], d8 = delta[7], d9 = delta[8];
  real8 sum = 0.0;
  if (!t.haploid) {
    if (d8 > 0.999999) {
      // Exactly one allele shared by descent: the first member's genotype is drawn from the
      // population, the second gets one of its alleles (one half each) and one more allele
      // from the population. h(a): the second's observation given allele a and a random one.
      real8 h[kDyadMaxAllele + 1] = {};
      for (int4 a = 1; a <= kk; ++a) {
        real8 s = 0.0;
        for (int4 x = 1; x <= kk; ++x) s += p(x) * t.y2[pair_index(t, a, x)];
        h[a] = s;
      }
      for (int4 x = 0; x < ng; ++x) {
        const int4 i = t.gi[x];
        const int4 j = t.gj[x];
        const real8 hw = i == j ? p(i) * p(i) : 2.0 * p(i) * p(j);
        sum += hw * t.y1[x] * 0.5 * (h[i] + h[j]);
      }
    } else if (d7 + d8 + d9 > 0.999999) {
      // No identity within either member: identical true genotypes in closed form, the rest
      // (absent for clones) through the general table.
      const bool clone = d7 > 0.999999;
      for (int4 x = 0; x < ng; ++x) {
        const int4 i = t.gi[x];
        const int4 j = t.gj[x];
        const real8 pi = p(i);
        const real8 pj = p(j);
        const real8 same = i == j ? pi * pi * ((d9 * pi + d8) * pi + d7)
                                  : pi * pj * ((pi + pj) * d8 + 2.0 * d7 + 4.0 * pi * pj * d9);
        real8 s = same * t.y2[x];
        if (!clone) {
          for (int4 z = 0; z < ng; ++z) {
            if (z != x) s += prbgdyad(i, j, t.gi[z], t.gj[z], delta) * t.y2[z];
          }
        }
        sum += s * t.y1[x];
      }
    } else {
      for (int4 x = 0; x < ng; ++x) {
        real8 s = 0.0;
        for (int4 z = 0; z < ng; ++z) {
          s += prbgdyad(t.gi[x], t.gj[x], t.gi[z], t.gj[z], delta) * t.y2[z];
        }
        sum += s * t.y1[x];
      }
    }
    return sum;
  }
  if (d8 >= 0.999999) {
    // The haploid carries one of the first member's alleles.
    for (int4 x = 0; x < ng; ++x) {
      const int4 i = t.gi[x];
      const int4 j = t.gj[x];
      sum += i == j ? p(i) * p(i) * t.y1[x] * t.y2[i] : p(i) * p(j) * (t.y2[i] + t.y2[j]) * t.y1[x];
    }
    return sum;
  }
  const real8 d2 = delta[1];
  for (int4 x = 0; x < ng; ++x) {
    const int4 i = t.gi[x];
    const int4 j = t.gj[x];
    // An allele outside the first member's genotype enters only through its frequency, so its
    // joint probability is one factor times that frequency.
    const real8 outside = i == j ? p(i) * (d2 + d9 * p(i)) : 2.0 * d9 * p(i) * p(j);
    real8 s = 0.0;
    real8 rest = 0.0;
    for (int4 b = 1; b <= kk; ++b) {
      if (b == i || b == j) {
        s += prbgdyad(i, j, b, 0, delta) * t.y2[b];
      } else {
        rest += p(b) * t.y2[b];
      }
    }
    sum += (s + outside * rest) * t.y1[x];
  }
  return sum;
}

}  // namespace kinrad
