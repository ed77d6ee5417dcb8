#include <algorithm>
#include <cmath>
#include <iostream>
#include <span>
#include <vector>

#include "core/brent.hpp"
#include "core/format_write.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "core/variables_routines.hpp"
#include "model/inbreeding_estimate_internal.hpp"
#include "model/model.hpp"

namespace kinrad {

namespace {

// Allele counts of one codominant locus over the typed diploid individuals: copies C(a),
// expected true homozygotes H(a), current frequencies p(a) and the number of individuals N.
struct LocusCounts {
  std::vector<real8> c;
  std::vector<real8> h;
  std::vector<real8> p;
  real8 n = 0.0;
};

// Adds the diploid individuals 1..count of one packed column (offset: their position before
// the first) to the counts of locus l.
void count_column(LocusCounts& lc, int4 l, const FView<int2, 1>& col, int4 offset, int4 count,
                  const std::vector<bool>* diploid) {
  const Variables& v = variables;
  const int4 k = v.obsnumallele(l);
  const real8 d = v.droprate(l);
  setgetgtype.locusgtypeptr = col;
  for (int4 i = 1; i <= count; ++i) {
    if (diploid != nullptr && !(*diploid)[static_cast<std::size_t>(i - 1)]) continue;
    int2 g = 0;
    getgtype(g, offset + i, k);
    if (g < 1) continue;
    const int4 a = v.genotypeid(1, g);
    const int4 b = v.genotypeid(2, g);
    if (a < 1 || b < 1) continue;
    if (a != b) {
      lc.c[static_cast<std::size_t>(a - 1)] += 1.0;
      lc.c[static_cast<std::size_t>(b - 1)] += 1.0;
      continue;
    }
    // An observed homozygote is a true one with weight w; otherwise it is a heterozygote
    // whose other allele dropped out, shared evenly among the other alleles.
    real8 w = 1.0;
    if (d >= 0.0001) {
      const real8 p = v.obsallelefre(l).a(a);
      w = p / (2.0 * (1.0 - p) * d / (1.0 + d) + p);
    }
    lc.h[static_cast<std::size_t>(a - 1)] += w;
    for (int4 x = 1; x <= k; ++x)
      lc.c[static_cast<std::size_t>(x - 1)] += x == a ? 1.0 + w : (1.0 - w) / (k - 1);
  }
}

}  // namespace

real8 inbfunc(real8 F) {
  const Variables& v = variables;
  const real8 f = std::max(F, 0.0);
  real8 value = 0.0;
  if (v.smplsize > 0) {
    std::vector<real8> logl(static_cast<std::size_t>(v.smplsize));
    singleindivlikelihood(f, v.smplsize, 0, logl);
    for (int4 i = 1; i <= v.smplsize; ++i) {
      if (v.offploid.allocated() && v.offploid(i) == 1) continue;
      value -= logl[static_cast<std::size_t>(i - 1)];
      if (value >= 1e300) return value;
    }
  }
  for (int4 s = 1; s <= 2; ++s) {
    const int4 n = v.numcandidate(s);
    if (n < 1 || v.ploidy(s) == 1) continue;
    std::vector<real8> logl(static_cast<std::size_t>(n));
    singleindivlikelihood(f, n, s, logl);
    for (real8 x : logl) {
      value -= x;
      if (value >= 1e300) return value;
    }
  }
  return value;
}

void initialinbcoe(real8& F) {
  const Variables& v = variables;
  F = 0.0;
  if (v.alldommarkers == 1) return;
  if (v.displayq == 1) {
    fwrite(std::cout, "(A)", "Estimating initial inbreeding coefficient...");
    std::cout.flush();
  }

  std::vector<bool> diploidoffspring(static_cast<std::size_t>(std::max(v.smplsize, 0)));
  for (int4 i = 1; i <= v.smplsize; ++i)
    diploidoffspring[static_cast<std::size_t>(i - 1)] =
        !(v.offploid.allocated() && v.offploid(i) == 1);

  std::vector<LocusCounts> loci;
  real8 excess = 0.0;  // observed minus expected homozygotes
  real8 room = 0.0;    // individuals minus expected homozygotes
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int4 k = v.obsnumallele(l);
    if (v.dominantmarker(l) == 1 || k < 2) continue;
    LocusCounts lc;
    lc.c.assign(static_cast<std::size_t>(k), 0.0);
    lc.h.assign(static_cast<std::size_t>(k), 0.0);
    if (v.smplsize > 0) count_column(lc, l, v.indivgtype2(l).a, 0, v.smplsize, &diploidoffspring);
    int4 offset = 0;
    for (int4 s = 1; s <= 2; ++s) {
      if (v.numcandidate(s) > 0 && v.ploidy(s) != 1)
        count_column(lc, l, v.cndgtype2(l).a, offset, v.numcandidate(s), nullptr);
      offset += v.numcandidate(s);
    }
    real8 sumc = 0.0;
    real8 sumh = 0.0;
    for (int4 a = 0; a < k; ++a) {
      sumc += lc.c[static_cast<std::size_t>(a)];
      sumh += lc.h[static_cast<std::size_t>(a)];
    }
    lc.n = sumc / 2.0;
    // A locus without a typed diploid individual says nothing about F.
    if (lc.n <= 0.0) continue;
    lc.p.resize(static_cast<std::size_t>(k));
    real8 sq = 0.0;
    for (int4 a = 0; a < k; ++a) {
      const real8 p = lc.c[static_cast<std::size_t>(a)] / (2.0 * lc.n);
      lc.p[static_cast<std::size_t>(a)] = p;
      sq += p * p;
    }
    const real8 e = lc.n * sq;
    excess += sumh - e;
    room += lc.n - e;
    loci.push_back(std::move(lc));
  }
  if (room <= 1e-300) return;
  const real8 f0 = excess / room;

  // Alternates between F and the allele frequencies of the non-inbred share of the
  // homozygotes.
  real8 f = f0;
  bool converged = false;
  int4 counter = 0;
  const int4 m = static_cast<int4>(loci.size());
  for (int4 it = 1; it <= 10000 && !converged; ++it) {
    real8 sumf = 0.0;
    for (LocusCounts& lc : loci) {
      const std::size_t k = lc.c.size();
      std::vector<real8> adjusted(k);
      real8 total = 0.0;
      real8 sumz = 0.0;
      for (std::size_t a = 0; a < k; ++a) {
        const real8 denom = (1.0 - f) * lc.p[a] + f;
        const real8 z = lc.h[a] > 0.0 && denom != 0.0 ? lc.h[a] * f / denom : 0.0;
        sumz += z;
        adjusted[a] = lc.c[a] - z;
        total += adjusted[a];
      }
      if (total > 0.0)
        for (std::size_t a = 0; a < k; ++a) lc.p[a] = adjusted[a] / total;
      sumf += sumz / lc.n;
      if (v.displayq == 1) writeprogress(counter, 1000000);
    }
    const real8 fnew = sumf / m;
    if (std::fabs(fnew - f) <= 0.001 * std::fabs(fnew) || std::fabs(fnew - f) <= 1e-20)
      converged = true;
    f = fnew;
  }
  if (v.displayq == 1 && counter > 999999) {
    fwrite(std::cout, "(A)", v.igui == 1 ? "" : "\r  ");
    std::cout.flush();
  }
  // Without convergence the moment estimate stands.
  F = converged ? f : f0;

  if (inbfunc(F) >= 1e300) {
    real8 xmin = 0.0;
    const real8 best = brent(-F, 0.0, F, inbfunc, 0.001, xmin);
    F = best >= 1e300 ? 0.0 : std::clamp(xmin, -0.99, 0.99);
  } else {
    F = std::clamp(F, -0.99, 0.99);
  }
}

}  // namespace kinrad
