// Simulated genotypes for the parentage thresholds: population tables built once per
// simulation run, and draws of true parents, of the observation model and of unrelated
// candidates. Every draw is a table look-up; typing-error and missing-data events are drawn
// as Poisson counts over the whole genome and then placed on loci, so an individual costs
// time in proportion to its events, not to the number of loci.
#include <algorithm>
#include <cmath>
#include <span>

#include "core/modules/setgetgtype.hpp"
#include "core/modules/simuvariables.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "core/random_numbers.hpp"
#include "core/sorting.hpp"
#include "likelihood/likelihood.hpp"
#include "model/model.hpp"
#include "pairwise/delta_simulation_internal.hpp"

namespace kinrad {

namespace {

constexpr real8 kImpossible = -1e300;

real8 log_or_impossible(real8 p) {
  return p <= 1e-300 ? kImpossible : std::log(p);
}

// nint of a single-precision value: halves away from zero.
int4 nint4(real4 x) {
  return static_cast<int4>(std::lround(x));
}

// Position of the diploid genotype a <= b among 1/1, 1/2, ..., 1/n, 2/2, ... of n alleles.
int4 pair_position(int4 a, int4 b, int4 n) {
  return b - ((a - 1 - 2 * n) * a) / 2 - n;
}

// A cumulative list of the listed rates (element 0 of `loci` the count): running sums in
// double precision stored in single precision, and the flag that all rates equal the first.
void cumulate(const FArray<int4, 1>& loci, const FArray<real8, 1>& rate, FArray<real4, 1>& cum,
              int4& equal) {
  const int4 n = loci(0);
  cum.allocate(Dim(std::max(n, 1)));
  real8 sum = 0.0;
  equal = 1;
  for (int4 k = 1; k <= n; ++k) {
    const real8 r = rate(loci(k));
    sum += r;
    cum(k) = static_cast<real4>(sum);
    if (std::fabs(r - rate(loci(1))) > 1e-9) equal = 0;
  }
}

// The locus of one error event: uniformly over the listed loci when their rates are equal,
// else in proportion to the rates (u scaled to the total, the interval found by bisection).
int4 event_locus(const FArray<int4, 1>& loci, const FArray<real4, 1>& cum, int4 equal,
                 real4 total) {
  const int4 count = loci(0);
  const real4 u = ran1();
  if (equal == 1) {
    const int4 k = static_cast<int4>(std::floor(u * static_cast<real4>(count) + 1.0f));
    return loci(std::min(k, count));
  }
  int4 j = 0;
  locate(cum.data(), count, u * total, j);
  return loci(std::min(j + 1, count));
}

// A fair choice between the two allele places: 1 or 2.
int4 fair_place() {
  return nint4(ran1()) + 1;
}

void sort_pair(int1* g) {
  if (g[0] > g[1]) std::swap(g[0], g[1]);
}

}  // namespace

void inisimuvariables() {
  Variables& v = variables;
  Simuvariables::DeltaSimulation& d = simuvariables.delta;
  const int4 nl = v.numloci;
  const int4 n2 = v.locus2.allocated() ? v.locus2(0) : 0;
  const int4 n3 = v.locus3.allocated() ? v.locus3(0) : 0;
  const int4 nind = v.smplsize + v.allcandidate;
  const bool twoallele_only = v.maxobsnumallele < 3;

  d.cumulativeallelefre2.allocate(Dim(2), Dim(std::max(n2, 1)));
  d.locfre3.allocate(Dim(std::max(n3, 1)));
  index_t total3 = 0;
  for (int4 k = 1; k <= n3; ++k) {
    d.locfre3(k) = static_cast<int4>(total3);
    total3 += v.obsnumallele(v.locus3(k));
  }
  d.cumallelefre3.allocate(Dim(std::max<index_t>(total3, 1)));
  d.cumgtypefre.deallocate();
  if (twoallele_only) d.cumgtypefre.allocate(Dim(3), Dim(std::max(n2, 1)));

  FArray<real8, 1> missing(Dim(std::max(nl, 1)));
  for (int4 l = 1; l <= nl; ++l) {
    const int4 n = v.obsnumallele(l);
    if (n <= 1) continue;
    int4 nmiss = 0;
    if (n == 2) {
      const int4 pos = v.locus2loc(l);
      const real8 p1 = v.obsallelefre(l).a(1);
      const real8 p2 = v.obsallelefre(l).a(2);
      d.cumulativeallelefre2(1, pos) = static_cast<real4>(p1 * p1);
      d.cumulativeallelefre2(2, pos) = static_cast<real4>(1.0 - p2 * p2);
      // Observed genotype classes of the diploid individuals, counted only where the data
      // have no locus of more than two alleles (the direct draw exists only there).
      int4 count[4] = {0, 0, 0, 0};
      setgetgtype.locusgtypeptr = v.indivgtype2(l).a;
      for (int4 i = 1; i <= v.smplsize; ++i) {
        int2 g = 0;
        getgtype(g, i, n);
        if (g == 0) ++nmiss;
        if (twoallele_only && v.offploid(i) > 1) ++count[std::min<int4>(g, 3)];
      }
      setgetgtype.locusgtypeptr = v.cndgtype2(l).a;
      for (int4 c = 1; c <= v.allcandidate; ++c) {
        int2 g = 0;
        getgtype(g, c, n);
        if (g == 0) ++nmiss;
        if (twoallele_only && c > v.haplodiploid * v.numcandidate(1)) ++count[std::min<int4>(g, 3)];
      }
      if (twoallele_only) {
        const real8 all = static_cast<real8>(count[0]) + count[1] + count[2] + count[3];
        if (all > 1e-30) {
          real8 cum = 0.0;
          for (int4 c = 1; c <= 3; ++c) {
            cum += count[c] / all;
            d.cumgtypefre(c, pos) = static_cast<real4>(cum);
          }
        }
      }
    } else {
      const int4 k = v.locus3loc(l);
      real8 cum = 0.0;
      for (int4 a = 1; a < n; ++a) {
        cum += v.obsallelefre(l).a(a);
        d.cumallelefre3(d.locfre3(k) + a) = static_cast<real4>(cum);
      }
      // Beyond every uniform draw, so that the search always finds an allele.
      d.cumallelefre3(d.locfre3(k) + n) = 2.0f;
      const FView<int2, 1>& off = v.indivgtype2(l).a;
      const FView<int2, 1>& cnd = v.cndgtype2(l).a;
      for (int4 i = 1; i <= v.smplsize; ++i) nmiss += off(i) == 0 ? 1 : 0;
      for (int4 c = 1; c <= v.allcandidate; ++c) nmiss += cnd(c) == 0 ? 1 : 0;
    }
    missing(l) = nind > 0 ? static_cast<real8>(nmiss) / nind : 0.0;
  }

  // Locus lists of the missing-data, dropout and other-error events with their running sums.
  d.missingloci.allocate(Dim(0, std::max(nl, 1)));
  d.droperrorloci.allocate(Dim(0, std::max(nl, 1)));
  d.othererrorloci.allocate(Dim(0, std::max(nl, 1)));
  for (int4 l = 1; l <= nl; ++l) {
    if (missing(l) > 1e-10) d.missingloci(++d.missingloci(0)) = l;
    if (v.droprate(l) > 1e-10) d.droperrorloci(++d.droperrorloci(0)) = l;
    if (v.othererrorrate(l) > 1e-10) d.othererrorloci(++d.othererrorloci(0)) = l;
  }
  cumulate(d.droperrorloci, v.droprate, d.cumdroprate, d.lociflag(1));
  cumulate(d.othererrorloci, v.othererrorrate, d.cumotherrate, d.lociflag(2));
  int4 unused = 0;
  cumulate(d.missingloci, missing, d.missingrate, unused);

  // ln P(observed genotype) of a random individual, without inbreeding.
  const bool haploids = v.haplodiploid == 1;
  d.indiv1locus2logl.allocate(Dim(3), Dim(2), Dim(std::max(n2, 1)));
  for (int4 pos = 1; pos <= n2; ++pos) {
    const int4 l = v.locus2(pos);
    static constexpr int4 alleles[4][2] = {{0, 0}, {1, 1}, {2, 2}, {1, 2}};
    for (int4 c = 1; c <= 3; ++c) {
      real8 p = 0.0;
      probsinglegtype(0.0, 2, l, alleles[c], p);
      d.indiv1locus2logl(c, 2, pos) = log_or_impossible(p);
      if (haploids && c <= 2) {
        probsinglegtype(0.0, 1, l, alleles[c], p);
        d.indiv1locus2logl(c, 1, pos) = log_or_impossible(p);
      }
    }
  }
  index_t size2 = 0;
  index_t size1 = 0;
  for (int4 k = 1; k <= n3; ++k) {
    const int4 n = v.obsnumallele(v.locus3(k));
    size2 += static_cast<index_t>(n) * (n + 1) / 2;
    size1 += n;
  }
  d.locus3logltgt2.allocate(Dim(std::max<index_t>(size2, 1)));
  d.locus3logltgt1.allocate(Dim(std::max<index_t>(haploids ? size1 : 0, 1)));
  d.indiv1locus3logl.allocate(Dim(std::max(n3, 1)), Dim(2));
  index_t at2 = 1;
  index_t at1 = 1;
  for (int4 k = 1; k <= n3; ++k) {
    const int4 l = v.locus3(k);
    const int4 n = v.obsnumallele(l);
    FView<real8, 1> dip = window(d.locus3logltgt2, at2, static_cast<index_t>(n) * (n + 1) / 2);
    at2 += dip.size();
    d.indiv1locus3logl(k, 2).a = dip;
    for (int4 a = 1; a <= n; ++a)
      for (int4 b = a; b <= n; ++b) {
        const int4 g[2] = {a, b};
        real8 p = 0.0;
        probsinglegtype(0.0, 2, l, g, p);
        dip(pair_position(a, b, n)) = log_or_impossible(p);
      }
    if (!haploids) continue;
    FView<real8, 1> hap = window(d.locus3logltgt1, at1, n);
    at1 += n;
    d.indiv1locus3logl(k, 1).a = hap;
    for (int4 a = 1; a <= n; ++a) {
      const int4 g[2] = {a, a};
      real8 p = 0.0;
      probsinglegtype(0.0, 1, l, g, p);
      hap(a) = log_or_impossible(p);
    }
  }

  // Trio memo tables, needed only where some offspring have a known parent.
  d.locuslogl2.deallocate();
  d.locuslogl3.deallocate();
  d.locuslogl3tgt.deallocate();
  if (v.numknownprnt(1) > 0 || v.numknownprnt(2) > 0) {
    d.locuslogl2.allocate(Dim(3), Dim(std::max(n2, 1)));
    index_t size = 0;
    for (int4 k = 1; k <= n3; ++k) size += v.genotypenum(v.obsnumallele(v.locus3(k))) + 2;
    d.locuslogl3tgt.allocate(Dim(std::max<index_t>(size, 1)));
    d.locuslogl3.allocate(Dim(std::max(n3, 1)));
    index_t at = 1;
    for (int4 k = 1; k <= n3; ++k) {
      const index_t g = v.genotypenum(v.obsnumallele(v.locus3(k))) + 2;
      d.locuslogl3(k).a = window(d.locuslogl3tgt, at, g);
      at += g;
    }
  }

  d.missingdraw.allocate(Dim(16));
  d.missingorder.allocate(Dim(16));

  // The simulated family: offspring 1 with its two assigned parents.
  setfamilystruc(1, 1);
  static constexpr int4 only_offspring_1[1] = {1};
  setfamilymembers(1, 1, std::span<const int4>(only_offspring_1, 1));
  v.nchild(1, 1) = 1;
}

real8 simulated_single_logl(const int1* gtype, int4 ploidy) {
  const Variables& v = variables;
  const Simuvariables::DeltaSimulation& d = simuvariables.delta;
  real8 logl = 0.0;
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int4 n = v.obsnumallele(l);
    const int4 a = gtype[2 * (l - 1)];
    const int4 b = gtype[2 * (l - 1) + 1];
    if (n <= 1 || a <= 0) continue;
    if (n == 2) {
      const int4 code = ploidy == 2 && a != b ? 3 : a;
      logl += d.indiv1locus2logl(code, ploidy == 2 ? 2 : 1, v.locus2loc(l));
    } else {
      const int4 k = v.locus3loc(l);
      logl += ploidy == 2 ? d.indiv1locus3logl(k, 2).a(pair_position(a, b, n))
                          : d.indiv1locus3logl(k, 1).a(a);
    }
  }
  return logl;
}

void simugenotype(int4 mode, int4 ploidy, int1* gtype, real8& logl) {
  const Variables& v = variables;
  Simuvariables::DeltaSimulation& d = simuvariables.delta;
  const int4 nl = v.numloci;
  auto g = [gtype](int4 place, int4 l) -> int1& { return gtype[2 * (l - 1) + place - 1]; };
  auto set = [&g](int4 l, int4 a, int4 b) {
    g(1, l) = static_cast<int1>(a);
    g(2, l) = static_cast<int1>(b);
  };

  // Observed genotypes straight from the observed genotype shares, which already contain
  // typing errors and missing data.
  if (mode == 3 && ploidy == 2 && v.maxobsnumallele < 3) {
    // Hot loop of the simulation (one draw per locus and candidate): raw column-major storage,
    // cumgtypefre (3, position) and indiv1locus2logl (3, 2, position).
    const int4* nallele = v.obsnumallele.data();
    const int4* position = v.locus2loc.data();
    const real4* shares = d.cumgtypefre.data();
    const real8* single = d.indiv1locus2logl.data();
    real8 sum = 0.0;
    for (int4 l = 1; l <= nl; ++l) {
      int1* pair = gtype + 2 * (l - 1);
      if (nallele[l - 1] <= 1) {
        pair[0] = pair[1] = 1;
        continue;
      }
      const index_t pos = position[l - 1] - 1;
      const real4* c = shares + 3 * pos;
      const real4 u = ran1();
      // The class is the number of boundaries below u (a draw on a boundary stays in the lower
      // class): 1/1, 2/2, 1/2, or missing. Counted without branches, as the outcome is random.
      const int4 k =
          static_cast<int4>(u > c[0]) + static_cast<int4>(u > c[1]) + static_cast<int4>(u > c[2]);
      static constexpr int1 first[4] = {1, 2, 1, 0};
      static constexpr int1 second[4] = {1, 2, 2, 0};
      pair[0] = first[k];
      pair[1] = second[k];
      const real8 x = single[std::min(k, 2) + 3 + 6 * pos];
      sum += k < 3 ? x : 0.0;
    }
    logl += sum;
    return;
  }

  if (mode != 2) {
    for (int4 l = 1; l <= nl; ++l) {
      const int4 n = v.obsnumallele(l);
      if (n >= 3) {
        const real4* cum = &d.cumallelefre3(d.locfre3(v.locus3loc(l)) + 1);  // cum[j - 1]
        for (int4 place = 1; place <= ploidy; ++place) {
          const real4 u = ran1();
          int4 j = 1;
          if (n < 5) {
            while (u > cum[j - 1]) ++j;
          } else {
            locate(cum, n, u, j);
            // The first class whose running sum reaches u: a draw on a boundary takes the
            // lower class, also past classes of frequency 0.
            j = std::min(j + 1, n);
            while (j > 1 && u <= cum[j - 2]) --j;
          }
          g(place, l) = static_cast<int1>(j);
        }
        if (ploidy == 2) {
          sort_pair(&g(1, l));
        } else {
          g(2, l) = g(1, l);
        }
      } else if (n == 2) {
        const int4 pos = v.locus2loc(l);
        const real4 u = ran1();
        if (ploidy != 2) {
          const int4 a = static_cast<real4>(v.obsallelefre(l).a(1)) >= u ? 1 : 2;
          set(l, a, a);
        } else if (u <= d.cumulativeallelefre2(1, pos)) {
          set(l, 1, 1);
        } else if (u <= d.cumulativeallelefre2(2, pos)) {
          set(l, 1, 2);
        } else {
          set(l, 2, 2);
        }
      } else {
        set(l, 1, 1);
      }
    }
    if (mode == 1) return;
  }

  // Observation model. A haploid shows its allele in both places.
  if (ploidy != 2) {
    for (int4 l = 1; l <= nl; ++l) g(2, l) = g(1, l);
  } else if (d.droperrorloci(0) > 0) {
    const real4 total = d.cumdroprate(d.droperrorloci(0));
    const int4 m = nint4(poidev(total));
    for (int4 e = 1; e <= m; ++e) {
      const int4 l = event_locus(d.droperrorloci, d.cumdroprate, d.lociflag(1), total);
      if (g(1, l) != g(2, l)) {
        // A homozygote (or a missing locus) is unchanged by dropout.
        const int4 w = fair_place();
        const int1 keep = g(w, l);
        set(l, keep, keep);
      }
    }
  }
  if (d.othererrorloci(0) > 0) {
    const real4 total = d.cumotherrate(d.othererrorloci(0));
    const int4 m = nint4(poidev(static_cast<real4>(ploidy) * total));
    for (int4 e = 1; e <= m; ++e) {
      const int4 l = event_locus(d.othererrorloci, d.cumotherrate, d.lociflag(2), total);
      const int4 place = ploidy == 2 ? fair_place() : 1;
      const int4 n = v.obsnumallele(l);
      const real4 u = ran1();
      if (n < 1 || g(1, l) <= 0) continue;  // nothing to mistype at a locus without alleles
      const int4 a = std::min(static_cast<int4>(std::floor(static_cast<real4>(n) * u + 1.0f)), n);
      g(place, l) = static_cast<int1>(a);
      if (ploidy == 2) {
        sort_pair(&g(1, l));
      } else {
        g(2, l) = g(1, l);
      }
    }
  }
  if (ploidy == 2 && v.locusdom.allocated()) {
    // A dominant marker shows only whether the band is present.
    for (int4 k = 1; k <= v.locusdom(0); ++k) {
      const int4 l = v.locusdom(k);
      if (g(1, l) != g(2, l)) set(l, 1, 1);
    }
  }
  if (d.missingloci(0) > 0) {
    const int4 count = d.missingloci(0);
    const real4 total = d.missingrate(count);
    const int4 m = nint4(poidev(total));
    if (m < 1) return;
    if (d.missingdraw.size() < m) {
      d.missingdraw.allocate(Dim(2 * m));
      d.missingorder.allocate(Dim(2 * m));
    }
    for (int4 e = 1; e <= m; ++e) d.missingdraw(e) = static_cast<real8>(ran1() * total);
    indexx(m, d.missingdraw.data(), d.missingorder.data());
    int4 k = 1;
    for (int4 e = 1; e <= m; ++e) {
      const real8 x = d.missingdraw(d.missingorder(e));
      while (k < count && static_cast<real8>(d.missingrate(k)) < x) ++k;
      set(d.missingloci(k), 0, 0);
    }
  }
}

}  // namespace kinrad
