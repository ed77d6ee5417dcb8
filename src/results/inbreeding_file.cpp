// The ".Inbreeding" file: with two sexes the inbreeding coefficient of the analysis; with one
// parent pool the selfing rate by three methods: from the reconstructed full-sib families
// (with its equilibrium inbreeding s/(2 - s)), from the inbreeding coefficient fitted to the
// genotypes (s = 2F/(F + 1)), and from the identity disequilibrium of heterozygosity across
// loci. A method without an estimate prints -1.0000.
//
// The identity-disequilibrium estimate compares how often two loci of one offspring are both
// heterozygous with how often heterozygotes coincide across loci of different offspring:
// selfing makes heterozygosity cluster within individuals. Loci where every typed offspring is
// homozygous, or every one heterozygous, carry no such information and are left out.
#include <cmath>

#include "core/farray.hpp"
#include "core/keep_value.hpp"
#include "core/modules.hpp"
#include "core/packed_genotypes.hpp"
#include "model/model.hpp"
#include "results/inbreeding_internal.hpp"
#include "results/results.hpp"
#include "results/results_internal.hpp"

namespace kinrad {

namespace {

// Genotype numbers of every offspring at locus l into g(1:n) (0 missing).
void locus_genotypes(int4 l, FArray<int2, 1>& g) {
  auto& v = variables;
  const int4 n = v.smplsize;
  KeepValue keep(setgetgtype.locusgtypeptr);
  setgetgtype.locusgtypeptr = v.indivgtype2(l).a;
  const int4 na = v.obsnumallele(l);
  for (int4 i = 1; i <= n; ++i) getgtype(g(i), i, na);
}

// The two FL_PLS lines: the family-based selfing rate and its bounds, or -1 while unset.
void family_lines(ReplacingFile& out, const std::array<real8, 3>& selfrate) {
  const bool set = selfrate[0] >= 0.0;
  std::array<real8, 3> f{-1.0, -1.0, -1.0}, s{-1.0, -1.0, -1.0};
  if (set)
    for (std::size_t k = 0; k < 3; ++k) {
      s[k] = selfrate[k];
      f[k] = selfrate[k] / (2.0 - selfrate[k]);
    }
  out.write("(5A20/2A20,3F20.4)", "Method", "Parameter", "Est", "CI95-L", "CI95-U", "FL_PLS",
            "Inbreeding", f[0], f[1], f[2]);
  out.write("(2A20, 3F20.4)", "FL_PLS", "Selfing", s[0], s[1], s[2]);
}

}  // namespace

void identity(real8& s) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  const int4 nl = v.numloci;
  s = -1.0;
  if (nl < 1) return;
  // Per offspring: its heterozygous informative loci, and its genotypes at the locus in hand;
  // per locus: heterozygous and typed offspring, and 1 when the locus is left out.
  FArray<int4, 1> h{Dim(n)};
  FArray<int2, 1> g{Dim(n)};
  FArray<int4, 1> hl{Dim(nl)}, nlt{Dim(nl)}, skip{Dim(nl)};
  const int4 het = v.maxobsnumallele;
  int4 skipped = 0;
  for (int4 l = 1; l <= nl; ++l) {
    if (v.dominantmarker(l) == 1 || v.obsnumallele(l) <= 1) {
      skip(l) = 1;
      ++skipped;
      continue;
    }
    locus_genotypes(l, g);
    for (int4 i = 1; i <= n; ++i) {
      const int2 x = g(i);
      if (x > 0) ++nlt(l);
      if (x > het) ++hl(l);
    }
    if (hl(l) == 0 || hl(l) == nlt(l)) {
      skip(l) = 1;
      ++skipped;
      hl(l) = nlt(l) = 0;
      continue;
    }
    for (int4 i = 1; i <= n; ++i)
      if (g(i) > het) ++h(i);
  }
  if (skipped >= nl - 1) return;
  int8 hsum = 0, t = 0;
  for (int4 l = 1; l <= nl; ++l) {
    hsum += hl(l);
    t += nlt(l);
  }
  real8 u = 1e-300, vv = 1e-300, a = 0.0, b = 0.0;
  for (int4 l = 1; l <= nl; ++l) {
    if (skip(l) != 0) continue;
    locus_genotypes(l, g);
    for (int4 i = 1; i <= n; ++i) {
      if (g(i) <= het) continue;
      const int4 hi = h(i);
      u += hi - 1;
      vv += static_cast<real8>(hsum - hi - hl(l) + 1);
    }
    // 64-bit products: (T - N_l + 1) N reaches 10^12 at a thousand loci.
    a += static_cast<real8>((t - nlt(l) + 1) * static_cast<int8>(n) - t);
    b += static_cast<real8>(t - n);
  }
  // No pair of typed genotypes across offspring to compare with (T = N): no estimate.
  if (vv * b == 0.0) return;
  const real8 x = (a * u) / (vv * b) - 1.0;
  if (x <= 0.0) {
    s = 0.0;
    return;
  }
  s = (1.0 + 5.0 * x - std::sqrt(1.0 + 10.0 * x + 9.0 * x * x)) / (2.0 * x);
}

void write_inbreeding(const std::array<real8, 3>& selfrate) {
  write_result_file(".Inbreeding", [&](ReplacingFile& out) {
    const auto& v = variables;
    if (v.numsex == 2) {
      out.write("(2A20/A20,F20.4)", "Parameter", "ML-Est", "Inbreeding", v.inbreeding);
      return;
    }
    family_lines(out, selfrate);
    real8 f = 0.0;
    initialinbcoe(f);
    out.write("(2A20, F20.4)", "Fis(DHW)", "Inbreeding", f);
    out.write("(2A20, F20.4)", "Fis(DHW)", "Selfing", f > 0.0 ? 2.0 * f / (f + 1.0) : 0.0);
    real8 s = 0.0;
    identity(s);
    if (s < -0.5)
      out.write("(2A20, F20.4, A)", "ID", "Selfing", -1.0f,
                "  (No estimate because of no useful loci)");
    else
      out.write("(2A20, F20.4)", "ID", "Selfing", s);
  });
}

}  // namespace kinrad
