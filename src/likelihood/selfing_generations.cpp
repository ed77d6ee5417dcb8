// Selfing generations behind each selfed full-sib family of the family in hand, by likelihood
// over the selfed offspring's homozygosity, turned into the selfing parent's inbreeding
// coefficient; and the cache of two-allele code counts of large selfed families.
#include <algorithm>
#include <array>
#include <cmath>

#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/work_arrays_internal.hpp"

namespace kinrad {

namespace {

// ln(1e-30): the selfing-rate prior never goes below it, so an outbred population still
// allows a selfed family.
constexpr real8 kLogMinSelfRate = -69.07755278982137;
// A running product below this is moved into its log before it can underflow.
constexpr real8 kProductFloor = 1e-280;
constexpr int4 kMaxGenerations = 50;

bool selfed(int4 f) {
  const Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  if (v.numsex != 1 || !v.parentjdx.allocated()) return false;
  const int4 p1 = lv.clusterfamily(1, f);
  return p1 >= 1 && v.parentjdx(p1, 1) == lv.clusterfamily(2, f);
}

// The 2-bit code (0 missing, 1, 2, 3) of listed member i at a two-allele locus.
int4 member_code(int4 i, const FView<int2, 1>& col) {
  const Likelihoodvar& lv = likelihoodvar;
  const uint16_t word = static_cast<uint16_t>(col(lv.familyindivll(1, i)));
  return (word >> lv.familyindivll(2, i)) & 3u;
}

}  // namespace

void selfinggen_est() {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 nfs = v.numfsibship;
  const int4 n2 = v.locus2.allocated() ? v.locus2(0) : 0;
  const int4 n3 = v.locus3.allocated() ? v.locus3(0) : 0;

  // The cache of code counts of selfed families of more than 9 members.
  if (n2 > 0) {
    engine::grow(lv.ng2selfidx, Dim(std::max(nfs, 1)));
    int4 count = 0;
    for (int4 f = 1; f <= nfs; ++f) {
      lv.ng2selfidx(f) = 0;
      if (lv.clusterfamilysize(f) > 9 && selfed(f)) lv.ng2selfidx(f) = ++count;
    }
    lv.ng2selfnum = count;
    if (count >= 1) engine::grow(lv.ng2self, std::array<Dim, 3>{Dim(3), Dim(count), Dim(n2)});
  }

  const real8 F = v.inbreeding;
  const real8 s = 2.0 * F / (1.0 + F);
  const real8 lns = s < 1e-30 ? kLogMinSelfRate : std::log(s);
  const int4 maxn = std::max(v.maxfsibsize, 1);
  engine::grow(lv.selfentryp, Dim(std::max(2 * n2 + n3 * maxn, 1)));
  engine::grow(lv.selfentryn, Dim(lv.selfentryp.ubound(1)));
  engine::grow(lv.selfprod, Dim(maxn));
  engine::grow(lv.selflog, Dim(maxn));
  engine::grow(lv.selfcounts, Dim(0, maxn));

  for (int4 i = 1; i <= v.nparent(1); ++i) {
    const int4 j = v.parentjdx.allocated() ? v.parentjdx(i, 1) : 0;
    if (j <= 0 || v.nchild(i, j) <= 0) continue;
    const int4 f = lv.fsibid(i, j);
    if (f < 1 || f > nfs) continue;
    const int4 first = v.familyindivloc(f - 1) + 1;
    const int4 last = v.familyindivloc(f);

    // Entries (p, n) and the heterozygote count H.
    int4 ne = 0;
    real8 H = 0.0;
    auto entry = [&](real8 p, int4 n) {
      ++ne;
      lv.selfentryp(ne) = p;
      lv.selfentryn(ne) = n;
    };
    for (int4 k = 1; k <= n2; ++k) {
      const int4 l = v.locus2(k);
      const int4 d = v.dominantmarker(l);
      const real8 r = v.droprate(l);
      const FView<real8, 1>& fr = v.obsallelefre(l).a;
      const FView<int2, 1>& col = v.indivgtype2(l).a;
      int4 cnt[4] = {0, 0, 0, 0};
      for (int4 m = first; m <= last; ++m) ++cnt[member_code(m, col)];
      if (lv.ng2selfnum > 0 && lv.ng2selfidx(f) > 0)
        for (int4 c = 1; c <= 3; ++c)
          lv.ng2self(c, lv.ng2selfidx(f), k) = static_cast<int2>(cnt[c]);
      for (int4 c = 1; c <= 2; ++c) {
        if (cnt[c] == 0) continue;
        // Code 1 at a dominant locus (the band shown) gets 1 + f2 (1 - r): its factor never
        // falls below 1.
        const real8 p = c != d ? fr(c) * (1.0 - r) + r : fr(2) * (1.0 - r) + 1.0;
        entry(p, cnt[c]);
      }
      if (d == 0) H += cnt[3];
    }
    for (int4 k = 1; k <= n3; ++k) {
      const int4 l = v.locus3(k);
      const real8 r = v.droprate(l);
      const FView<real8, 1>& fr = v.obsallelefre(l).a;
      setgetgtype.locusgtypeptr = v.indivgtype2(l).a;
      FArray<int2, 1>& tally = variables.indexgtype;  // zero between uses
      int4 nd = 0;
      for (int4 m = first; m <= last; ++m) {
        int2 g = 0;
        getgtype(g, lv.familyindiv(m), 3);
        if (g <= 0) continue;
        if (g > v.maxobsnumallele) {
          H += 1.0;
          continue;
        }
        if (tally(g)++ == 0) lv.selfcounts(++nd) = g;  // distinct homozygotes
      }
      for (int4 x = 1; x <= nd; ++x) {
        const int4 g = lv.selfcounts(x);
        const int4 a = v.genotypeid(1, g);
        entry(fr(a) * (1.0 - r) + r, tally(g));
        tally(g) = 0;
      }
    }

    // The distinct count values in use.
    int4 nc = 0;
    for (int4 e = 1; e <= ne; ++e) {
      const int4 n = lv.selfentryn(e);
      if (lv.selflog(n) != -1.0) {
        lv.selflog(n) = -1.0;  // marks n as listed
        lv.selfcounts(++nc) = n;
      }
    }
    for (int4 x = 1; x <= nc; ++x) lv.selflog(lv.selfcounts(x)) = 0.0;

    // The grid over t, cut off 10 log units below the best value.
    std::array<real8, kMaxGenerations + 1> L{};
    real8 best = -1e300, threshold = 0.0;
    int4 T = kMaxGenerations;
    for (int4 t = 1; t <= kMaxGenerations; ++t) {
      const real8 x = std::ldexp(1.0, -t);
      for (int4 c = 1; c <= nc; ++c) {
        lv.selfprod(lv.selfcounts(c)) = 1.0;
        lv.selflog(lv.selfcounts(c)) = 0.0;
      }
      bool zero = false;
      for (int4 e = 1; e <= ne; ++e) {
        const int4 n = lv.selfentryn(e);
        real8& pr = lv.selfprod(n);
        pr *= lv.selfentryp(e) * x + 1.0 - x;
        if (pr < kProductFloor) {
          if (pr <= 0.0) {
            zero = true;
            break;
          }
          lv.selflog(n) += std::log(pr);
          pr = 1.0;
        }
      }
      real8 lt = t * lns;
      if (H > 0.0) lt += H * std::log(x);
      if (zero) {
        lt = -1e300;
      } else {
        for (int4 c = 1; c <= nc; ++c) {
          const int4 n = lv.selfcounts(c);
          lt += n * (lv.selflog(n) + std::log(lv.selfprod(n)));
        }
      }
      L[static_cast<size_t>(t)] = lt;
      if (lt > best) {
        best = lt;
        threshold = lt - 10.0;
      } else if (lt < threshold) {
        T = t;
        break;
      }
    }
    for (int4 c = 1; c <= nc; ++c) lv.selflog(lv.selfcounts(c)) = 0.0;

    real8 num = 0.0, den = 0.0;
    for (int4 t = 1; t <= T; ++t) {
      const real8 w = std::exp(L[static_cast<size_t>(t)] - best);
      num += w * (1.0 - std::ldexp(1.0, -(t - 1)));
      den += w;
    }
    const real8 G = num > 1e-300 ? num / den : 0.0;
    lv.prntinbcoe(i, 1) = G;
    lv.prntinbcoe(j, 2) = G;
  }
}

}  // namespace kinrad
