#include <algorithm>

#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/likelihood_internal.hpp"
#include "likelihood/work_arrays_internal.hpp"
#include "model/model.hpp"

namespace kinrad {

namespace {

// Frequencies of a parent's candidate alleles a(1..m) into f(1..m): the last code 0 stands for
// every allele not listed and gets the rest of the mass (never below 0).
void candidate_frequencies(const int1* a, int4 m, const FView<real8, 1>& fr, real8* f) {
  real8 sum = 0.0;
  for (int4 i = 0; i < m; ++i) {
    if (a[i] > 0) {
      f[i] = fr(a[i]);
      sum += f[i];
    } else {
      f[i] = 0.0;
    }
  }
  if (m >= 1 && a[m - 1] == 0) f[m - 1] = m == 1 ? 1.0 : std::max(1.0 - sum, 0.0);
}

// Untyped diploid prior over the pairs of a(1..m), row by row.
void diploid_prior(const real8* f, int4 m, real8 F, real8* out) {
  int4 k = 0;
  for (int4 i = 0; i < m; ++i) {
    for (int4 j = i; j < m; ++j) {
      out[k++] =
          i == j ? f[i] * std::max(F + (1.0 - F) * f[i], 1e-6) : 2.0 * f[i] * f[j] * (1.0 - F);
    }
  }
}

}  // namespace

void setgtypefre(int4 locus, int4 numallele, real8& logl) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 nall = v.nallparent;
  const int4 n = lv.hsprobloc(nall + 1);
  engine::grow(lv.crrtgenotypefre, Dim(std::max(n, 1)));
  real8* const out = &lv.crrtgenotypefre(1) - 1;  // out[hsprobloc(j) + g]
  const FView<real8, 1>& fr = v.obsallelefre(locus).a;
  const bool selfing = v.allowinbreeding == v.numsex;
  const bool dominant = v.dominantmarker(locus) != 0;
  real8 f[128];
  auto inbcoe = [&](int4 s, int4 p) { return selfing ? lv.prntinbcoe(p, s) : v.inbreeding; };
  auto alleles = [&](int4 j) { return &lv.allelehs(lv.allelehsloc(j) + 1); };

  if (lv.infergtypesex != 0) {
    // Inference mode: one parent's genotype is fixed, every other parent gets its untyped
    // prior with inbreeding always applied; typed parents are weighted by their observation.
    for (int4 s = 1; s <= 2; ++s) {
      for (int4 p = 1; p <= v.nparent(s); ++p) {
        const int4 j = v.npstartloc1(s) + p;
        const int1* a = alleles(j);
        const int4 m = lv.allelehsnum(j);
        real8* b = out + lv.hsprobloc(j);
        const bool haploid = v.ploidy(s) == 1;
        const int4 dim = lv.hsprobdim(j);
        if (m >= 1 && a[0] < 0) {
          b[1] = 1.0;
          continue;
        }
        candidate_frequencies(a, m, fr, f);
        const bool fixed = s == lv.infergtypesex && p == lv.infergtypeprnt;
        if (fixed) {
          // An allele outside the list is one of those the pooled code 0 stands for.
          auto code = [&](int4 x) {
            for (int4 i = 0; i < m; ++i)
              if (a[i] == x) return x;
            return 0;
          };
          for (int4 g = 1; g <= dim; ++g) b[g] = 0.0;
          if (haploid) {
            const int4 x = code(lv.infergtype(1));
            for (int4 i = 0; i < m; ++i)
              if (a[i] == x) b[i + 1] = 1.0;
          } else {
            int4 x = code(lv.infergtype(1));
            int4 y = code(lv.infergtype(2));
            int4 g = 0;
            for (int4 i = 0; i < m; ++i) {
              for (int4 k = i; k < m; ++k) {
                ++g;
                if ((a[i] == x && a[k] == y) || (a[i] == y && a[k] == x)) b[g] = 1.0;
              }
            }
          }
        } else if (haploid) {
          for (int4 i = 0; i < m; ++i) b[i + 1] = f[i];
        } else {
          diploid_prior(f, m, inbcoe(s, p), b + 1);
        }
        if (lv.knownprt(j) > 0 && v.prntgtype(1, j) > 0) {
          const int4 o[2] = {v.prntgtype(1, j), dominant ? 0 : v.prntgtype(2, j)};
          if (haploid) {
            for (int4 i = 0; i < m; ++i) b[i + 1] *= prbgtophaploid(a[i], o[0], locus);
          } else {
            int4 g = 0;
            for (int4 i = 0; i < m; ++i)
              for (int4 k = i; k < m; ++k) b[++g] *= prbgtop(a[i], a[k], o, locus);
          }
        }
        if (fixed) {
          bool any = false;
          for (int4 g = 1; g <= dim; ++g) any = any || b[g] > 1e-300;
          if (!any) {
            logl = -1e300;
            return;
          }
        }
      }
    }
    // The other role of a monoecious individual carries the same fixed genotype. Copied once
    // both sexes are written: copied earlier, a fixed sex-1 role would be overwritten by its
    // sex-2 role's untyped prior.
    const int4 s = lv.infergtypesex, p = lv.infergtypeprnt;
    if (v.numsex == 1 && v.parentjdx.allocated() && v.parentjdx(p, s) != 0) {
      const int4 j = v.npstartloc1(s) + p;
      const int4 other = v.npstartloc1(3 - s) + v.parentjdx(p, s);
      const real8* b = out + lv.hsprobloc(j);
      real8* c = out + lv.hsprobloc(other);
      for (int4 g = 1; g <= std::min<int4>(lv.hsprobdim(j), lv.hsprobdim(other)); ++g) c[g] = b[g];
    }
    return;
  }

  if (numallele == 2) {
    // Whole rows of the genotype-class tables (population inbreeding, also for selfing
    // parents).
    const int4 c = v.locus2loc(locus) - v.l2lb(1);
    const FArray<real8, 2>& t = v.locus2gtypefre;
    for (int4 s = 1; s <= 2; ++s) {
      const bool haploid = v.ploidy(s) == 1;
      if (!haploid && v.allprntgtypemissingq != 0) {
        for (int4 j = v.npstartloc1(s) + 1; j <= nall; ++j) {
          real8* b = out + lv.hsprobloc(j);
          for (int4 r = 1; r <= 3; ++r) b[r] = t(r, c);
        }
        return;
      }
      for (int4 p = 1; p <= v.nparent(s); ++p) {
        const int4 j = v.npstartloc1(s) + p;
        real8* b = out + lv.hsprobloc(j);
        const int4 g1 = lv.knownprt(j) > 0 ? v.prntgtype(1, j) : 0;
        if (haploid) {
          const int4 r0 = v.l2lb(2) + (g1 > 0 ? 2 * g1 : 0);
          b[1] = t(r0 + 1, c);
          b[2] = t(r0 + 2, c);
        } else {
          const int4 g = g1 <= 0 ? 0 : (dominant ? g1 : g1 + v.prntgtype(2, j) - 1);
          for (int4 r = 1; r <= 3; ++r) b[r] = t(3 * g + r, c);
        }
      }
    }
    return;
  }

  // Loci of more than two alleles.
  const bool errors = v.locuserror(locus) != 0;
  for (int4 s = 1; s <= 2; ++s) {
    if (s == 2 && v.genotypefreshortcut == 1) {
      // A single parent pair without known parents: both parents have the same list, so the
      // mother's block is a copy of the father's.
      const int4 m = lv.allelehsnum(1);
      const int4 cnt = v.ploidy(1) == 1 ? m : v.genotypenum(std::max(m, 1));
      real8* b1 = out + lv.hsprobloc(1);
      real8* b2 = out + lv.hsprobloc(v.npstartloc1(2) + 1);
      for (int4 g = 1; g <= std::min<int4>(cnt, lv.hsprobdim(v.npstartloc1(2) + 1)); ++g)
        b2[g] = b1[g];
      break;
    }
    for (int4 p = 1; p <= v.nparent(s); ++p) {
      const int4 j = v.npstartloc1(s) + p;
      const int1* a = alleles(j);
      const int4 m = lv.allelehsnum(j);
      real8* b = out + lv.hsprobloc(j);
      if (m >= 1 && a[0] < 0) {
        b[1] = 1.0;
        continue;
      }
      candidate_frequencies(a, m, fr, f);
      const bool typed = lv.knownprt(j) > 0 && v.prntgtype(1, j) > 0;
      const int4 g1 = v.prntgtype(1, j);
      const int4 g2 = v.prntgtype(2, j);
      const real8 F = v.allowinbreeding == 1 ? inbcoe(s, p) : 0.0;
      if (v.ploidy(s) == 1) {
        if (!typed) {
          for (int4 i = 0; i < m; ++i) b[i + 1] = f[i];
        } else if (!errors) {
          b[1] = fr(g1);
        } else {
          for (int4 i = 0; i < m; ++i) b[i + 1] = f[i] * prbgtophaploid(a[i], g1, locus);
        }
        continue;
      }
      if (!typed) {
        diploid_prior(f, m, F, b + 1);
      } else if (!errors) {
        if (g1 == g2) {
          b[1] = fr(g1) * std::max(F + (1.0 - F) * fr(g1), 1e-6);
        } else {
          b[1] = 0.0;
          b[2] = 2.0 * fr(g1) * fr(g2) * (1.0 - F);
          b[3] = 0.0;
        }
      } else {
        diploid_prior(f, m, inbcoe(s, p), b + 1);
        const int4 e3 = v.markererror3(locus);
        int4 g = 0;
        for (int4 i = 0; i < m; ++i) {
          for (int4 k = i; k < m; ++k) {
            real8 w;
            if (g1 == g2) {
              const int4 c = i == k ? (a[i] == g1 ? 2 : 0) : (a[i] == g1) + (a[k] == g1);
              w = v.prbgtophom(c, e3);
            } else {
              const int4 c = i == k ? ((a[i] == g1 || a[i] == g2) ? 3 : 0)
                                    : (a[i] == g1 || a[i] == g2) + (a[k] == g1 || a[k] == g2);
              w = v.prbgtophet(c, e3);
            }
            b[++g] *= w;
          }
        }
      }
    }
  }
}

}  // namespace kinrad
