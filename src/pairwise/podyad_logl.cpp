// The two scorers of the parentage-threshold simulation: the parent-offspring dyad log
// likelihood of a candidate with the simulated offspring, and the trio log likelihood of the
// offspring with a candidate and its known other parent through the family likelihood engine.
// Both memoise per-locus values that depend only on the candidate's genotype and stop as soon
// as the sum falls below the caller's bound.
#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "core/error_stop.hpp"
#include "core/modules/setgetgtype.hpp"
#include "core/modules/simuvariables.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "likelihood/likelihood.hpp"
#include "model/model.hpp"
#include "pairwise/delta_simulation_internal.hpp"

namespace kinrad {

namespace {

constexpr real8 kImpossible = -1e300;

// Exactly one gene identical by descent: parent and offspring.
constexpr std::array<real8, 9> kParentOffspring{0, 0, 0, 0, 0, 0, 0, 1, 0};

// Position of the unordered pair of two diploid 2-bit codes among the ten pairs of four codes.
constexpr int1 kPairIndex[4][4] = {{0, 1, 2, 3}, {1, 4, 5, 6}, {2, 5, 7, 8}, {3, 6, 8, 9}};

int4 pair_position(int4 a, int4 b, int4 n) {
  return b - ((a - 1 - 2 * n) * a) / 2 - n;
}

// The candidate's genotype number (a 2-bit code read as its genotype number at two-allele
// loci) from the simulation's candidate columns or the packed store.
int4 candidate_code(int4 locus, int4 sex, int4 candidate) {
  const Variables& v = variables;
  if (v.cndgtype3.allocated()) return v.cndgtype3(locus, sex);
  setgetgtype.locusgtypeptr = v.cndgtype2(locus).a;
  int2 g = 0;
  getgtype(g, candidate + (sex - 1) * v.numcandidate(1), v.obsnumallele(locus));
  return g;
}

}  // namespace

void compute_podyad_logl(int4 mode, int4 sex, real8& logl, real8 bound, int4 offploidy) {
  const Variables& v = variables;
  Simuvariables::DeltaSimulation& d = simuvariables.delta;
  const int4 pploidy = v.ploidy(sex);
  const bool bothdiploid = pploidy == 2 && offploidy == 2;
  const bool memo3 = d.podyadlogl3.allocated();
  logl = 0.0;
  real8 product = 1.0;
  const real8 threshold = std::exp(bound);
  const int4 n2 = v.locus2.allocated() ? v.locus2(0) : 0;
  const int4 n3 = v.locus3.allocated() ? v.locus3(0) : 0;

  // Parent pair (p1, p2) and the memo slot of a value, then the value itself.
  auto score = [&](int4 locus, int4 p1, int4 p2, real8* memo) -> real8 {
    const int4 o1 = d.simoffgtype(1, locus);
    const int4 o2 = d.simoffgtype(2, locus);
    real8 value = 0.0;
    if (o1 <= 0) {
      const int4 g[2] = {p1, p2};
      probsinglegtype(0.0, pploidy, locus, g, value);
    } else if (p1 <= 0) {
      const int4 g[2] = {o1, o2};
      probsinglegtype(0.0, offploidy, locus, g, value);
    } else if (offploidy == 2) {
      if (memo != nullptr && *memo > -0.5) return *memo;
      // A haploid parent enters the dyad model as a haploid member (no second allele).
      value =
          prbpdyad(o1, o2, p1, pploidy == 2 ? p2 : 0, kParentOffspring, locus, (pploidy - 1) * p2);
      if (memo != nullptr) *memo = value;
      return value;
    } else {
      value = prbpdyad(p1, p2, o1, 0, kParentOffspring, locus, 0);
    }
    return value;
  };
  // product and logl after one more locus; true when the sum cannot reach the bound.
  auto add = [&](real8 value) -> bool {
    product *= value;
    if (product <= threshold) {
      logl = bound;
      return true;
    }
    if (product < 1e-200) {
      logl += std::log(product);
      product = 1.0;
      if (logl < bound) return true;
    }
    return false;
  };

  // Two-allele loci: memo look-ups over raw storage, the memo (pair index, position).
  FArray<real8, 3>& memo2 = d.dyadlogl2;
  real8* memo2data = mode <= 0 ? memo2.data() : d.dyadlogl0.data();
  const index_t stride = mode <= 0 ? memo2.size(1) : d.dyadlogl0.size(1);
  const int4* loci2 = n2 > 0 ? &v.locus2(1) : nullptr;
  const int1* cand = d.simcndgtype.data();
  const int2* offcode = d.simoffgtype2.data();
  for (int4 pos = 1; pos <= n2; ++pos) {
    const int4 l = loci2[pos - 1];
    int4 g = 0;
    int4 p1 = 0;
    int4 p2 = 0;
    if (mode > 0) {
      g = std::min(candidate_code(l, sex, mode), 3);
      if (g > 0) {
        p1 = g == 3 ? 1 : g;
        p2 = g == 3 ? 2 : g;
      }
    } else {
      p1 = cand[2 * (l - 1)];
      p2 = cand[2 * (l - 1) + 1];
      g = p1 <= 0 ? 0 : (pploidy == 2 && p1 != p2 ? 3 : p1);
    }
    const int4 o = offcode[l - 1];
    if (g == 0 && o == 0) continue;
    const int4 k = bothdiploid ? kPairIndex[o][g] : (offploidy + 2) * g + o;
    real8& entry = memo2data[k + stride * (pos - 1)];
    real8 value = entry;
    if (!(value >= -0.5)) {
      value = score(l, p1, p2, nullptr);
      entry = value;
    }
    if (add(value)) return;
  }
  for (int4 k3 = 1; k3 <= n3; ++k3) {
    const int4 l = v.locus3(k3);
    const int4 n = v.obsnumallele(l);
    int4 p1 = 0;
    int4 p2 = 0;
    if (mode > 0) {
      const int4 g = candidate_code(l, sex, mode);
      if (g > 0) {
        p1 = v.genotypeid(1, g);
        p2 = v.genotypeid(2, g);
      }
    } else {
      p1 = d.simcndgtype(1, l);
      p2 = d.simcndgtype(2, l);
    }
    if (p1 > p2) std::swap(p1, p2);
    if (p1 <= 0 && d.simoffgtype(1, l) <= 0) continue;
    real8* memo = nullptr;
    if (memo3 && p1 > 0) {
      memo = &d.podyadlogl3(d.podyadloc(k3) + (p2 - p1) + 1 + ((p1 - 1) * (2 - p1 + 2 * n)) / 2);
    }
    if (add(score(l, p1, p2, memo))) return;
  }
  logl += std::log(product);
}

void pairwisefamilylikelihood(real8& logl, real8 bound, int4 checkflag, int4 sex) {
  Variables& v = variables;
  Simuvariables::DeltaSimulation& d = simuvariables.delta;
  // The engine's own routines unless a test put stand-ins in the seam.
  const TrioEngineCalls& seam = trio_engine_calls;
  const TrioEngineCalls engine{
      seam.genotypecheckp != nullptr ? seam.genotypecheckp : &genotypecheckp,
      seam.genotypecheckpdom != nullptr ? seam.genotypecheckpdom : &genotypecheckpdom,
      seam.familylocuslogl != nullptr ? seam.familylocuslogl : &familylocuslogl};

  int4 status = 0;
  preparevariable(status, 0, 0, 1);
  if (status != 0) stoponerror(0, "PairwiseFamilyLikelihood");

  int4 ok = 1;
  if (checkflag == 1 && v.locuscodomnoerrorloc(3) > v.locuscodomnoerrorloc(1) &&
      v.anyknownprtq(1) != 0) {
    engine.genotypecheckp(ok, 0);
    if (ok == 0) {
      logl = kImpossible;
      return;
    }
  }
  if ((ok == 0 || ok == 1) && v.locusdomnoerror.allocated() && v.locusdomnoerror(0) > 0 &&
      v.anyknownprtq(2) != 0 && v.anyknownprtq(3) != 0) {
    engine.genotypecheckpdom(ok);
    if (ok == 0) {
      logl = kImpossible;
      return;
    }
  }

  logl = 0.0;
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int4 n = v.obsnumallele(l);
    if (n <= 1) continue;
    const int4 g = candidate_code(l, sex, 1);
    if (g < 1) continue;
    real8* entry = nullptr;
    if (n == 2) {
      entry = &d.locuslogl2(std::min(g, 3), v.locus2loc(l));
    } else {
      // Candidates none of whose alleles occur in the offspring or the other parent share one
      // value: a homozygote the entry G + 1, a heterozygote G + 2. Others are kept by their
      // genotype position at this locus.
      const int4 big = v.genotypenum(n);
      const int4 c1 = v.genotypeid(1, g);
      const int4 c2 = v.genotypeid(2, g);
      const int1* par = &d.simprntgtype(1, l, 3 - sex);
      const int1* off = &d.simoffgtype(1, l);
      auto in = [](int4 a, const int1* pair) { return a == pair[0] || a == pair[1]; };
      int4 slot = pair_position(std::min(c1, c2), std::max(c1, c2), n);
      if (g > v.maxobsnumallele) {
        if (!in(c1, par) && !in(c2, par) && !in(c1, off) && !in(c2, off)) slot = big + 2;
      } else if (!in(c1, par) && !in(c1, off)) {
        slot = big + 1;
      }
      entry = &d.locuslogl3(v.locus3loc(l)).a(slot);
    }
    real8 value = *entry;
    if (value > 0.0) {
      engine.familylocuslogl(l, n, v.genotypenum(n), value);
      *entry = value;
    }
    logl += value;
    if (logl < bound) return;
  }
}

}  // namespace kinrad
