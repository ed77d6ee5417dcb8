// Layer peeling of a one-sex (monoecious) cluster whose mating graph still holds cycles after
// the simple peeling. One individual may be a father in some families and a mother in others:
// the layers work on individuals, so the two roles of one individual share one set of weights,
// are conditioned on one genotype together and are summed out once. Each layer conditions the
// individual with most families left on each of its genotypes in turn, multiplies the tables of
// its families into its mates' weights, sums out every individual thereby left with a single
// family and recurses on what remains. The sum over all conditioning paths is exact.
#include <algorithm>
#include <cmath>

#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/full_sib_internal.hpp"
#include "likelihood/layer_peel_internal.hpp"
#include "likelihood/layer_peel_mono_internal.hpp"
#include "likelihood/work_arrays_internal.hpp"

namespace kinrad {

namespace {

constexpr real8 kImpossible = -1e300;

// The individual of joint parent p in the layers: the joint number of its role that still holds
// families (the smaller one when both do). Both roles of one individual hold the same weights
// once the simple peeling and the selfed absorption have copied them across.
int4 individual_of(int4 p) {
  const Likelihoodvar& lv = likelihoodvar;
  const int4 o = other_role_joint(p);
  if (o <= 0 || lv.hsib(o) <= 0) return p;
  if (lv.hsib(p) <= 0) return o;
  return o < p ? o : p;
}

int4 father_of(int4 f) {
  return individual_of(variables.npstartloc1(1) + likelihoodvar.clusterfamily(1, f));
}
int4 mother_of(int4 f) {
  return individual_of(variables.npstartloc1(2) + likelihoodvar.clusterfamily(2, f));
}

struct MonoRun {
  LocusKind kind;  // the kind of locus, for reading the family tables

  real8* weights(int4 u, int4 s) {
    Likelihoodvar& lv = likelihoodvar;
    return &lv.layerweight(lv.layerwloc(u) + 1, s);
  }

  void scale_path(int4 s, real8 factor) {
    Likelihoodvar& lv = likelihoodvar;
    real8& x = lv.layerxvalue(s);
    x *= factor;
    if (x > 0.0 && x < 1e-200) {
      lv.layerxlog(s) += std::log(x);
      x = 1.0;
    }
  }

  void normalise(int4 u, int4 s) {
    real8* w = weights(u, s);
    const int4 n = likelihoodvar.hsprobdim(u);
    real8 sum = 0.0;
    for (int4 i = 0; i < n; ++i) sum += w[i];
    scale_path(s, sum);
    if (sum > 0.0)
      for (int4 i = 0; i < n; ++i) w[i] /= sum;
  }

  // Removes family f from individual u's list in state s (the last entry takes its place).
  void reducemate(int4 u, int4 f, int4 s) {
    Likelihoodvar& lv = likelihoodvar;
    int4& n = lv.layernummate(u, s);
    for (int4 k = 1; k <= n; ++k) {
      if (lv.layermate(k, u, s) == f) {
        lv.layermate(k, u, s) = lv.layermate(n, u, s);
        --n;
        return;
      }
    }
  }

  // Multiplies family f, with individual u fixed at genotype position g in whichever role it
  // holds in f, into the other parent's weights in state s.
  void absorbmate(int4 f, int4 u, int4 g, int4 s) {
    const FamilyTable t = locus_family_table(f, kind);
    const bool ufather = father_of(f) == u;
    const int4 q = ufather ? mother_of(f) : father_of(f);
    real8* w = weights(q, s);
    const int4 n = likelihoodvar.hsprobdim(q);
    if (!t.neutral)
      for (int4 j = 1; j <= n; ++j) w[j - 1] *= ufather ? t(g, j) : t(j, g);
    reducemate(q, f, s);
    settle(q, s);
  }

  // Sums individual u (one family left) out into that family's other parent in state s.
  void layerabsorbm_mono(int4 u, int4 s) {
    Likelihoodvar& lv = likelihoodvar;
    const int4 f = lv.layermate(1, u, s);
    const FamilyTable t = locus_family_table(f, kind);
    const bool ufather = father_of(f) == u;
    const int4 q = ufather ? mother_of(f) : father_of(f);
    const real8* wp = weights(u, s);
    real8* wq = weights(q, s);
    const int4 np = lv.hsprobdim(u);
    const int4 nq = lv.hsprobdim(q);
    if (t.neutral) {
      real8 sum = 0.0;
      for (int4 i = 0; i < np; ++i) sum += wp[i];
      scale_path(s, sum);
    } else {
      for (int4 j = 1; j <= nq; ++j) {
        if (wq[j - 1] == 0.0) continue;
        real8 sum = 0.0;
        for (int4 i = 1; i <= np; ++i) sum += wp[i - 1] * (ufather ? t(i, j) : t(j, i));
        wq[j - 1] *= sum;
      }
    }
    lv.layernummate(u, s) = 0;
    reducemate(q, f, s);
    settle(q, s);
  }

  // After q's weights changed in state s: with no family left its sum closes into the path
  // value; with one it waits to be summed out.
  void settle(int4 q, int4 s) {
    Likelihoodvar& lv = likelihoodvar;
    const int4 m = lv.layernummate(q, s);
    if (m == 0) {
      const real8* w = weights(q, s);
      real8 sum = 0.0;
      for (int4 i = 0; i < lv.hsprobdim(q); ++i) sum += w[i];
      scale_path(s, sum);
    } else {
      normalise(q, s);
      if (m == 1) lv.layersingle(++lv.layersingle(0)) = q;
    }
  }

  void absorb_singles(int4 s) {
    Likelihoodvar& lv = likelihoodvar;
    while (lv.layersingle(0) > 0) {
      const int4 u = lv.layersingle(lv.layersingle(0)--);
      if (lv.layernummate(u, s) != 1) continue;  // already summed out or closed
      layerabsorbm_mono(u, s);
      if (lv.layerxvalue(s) == 0.0) {
        lv.layersingle(0) = 0;
        return;
      }
    }
  }

  void addgtypeprb(int4 s) {
    Likelihoodvar& lv = likelihoodvar;
    const real8 x = lv.layerxvalue(s);
    const real8 f = lv.layerxlog(s);
    if (x <= 0.0) return;
    if (lv.layerprb <= 0.0) {
      lv.layerprb = x;
      lv.layerlogfactor = f;
      return;
    }
    const real8 d = lv.layerlogfactor - f;
    if (d < 0.0) {
      lv.layerprb = std::exp(d) * lv.layerprb + x;
      lv.layerlogfactor = f;
    } else {
      lv.layerprb += std::exp(-d) * x;
    }
  }

  // The conditioning individual: the one with most families (over both roles) in state s, the
  // first in scan order on ties; 0 when the graph is empty.
  int4 conditioning_individual(int4 s) const {
    const Likelihoodvar& lv = likelihoodvar;
    int4 best = 0, bestm = 0;
    for (int4 k = 1; k <= lv.layercore(0); ++k) {
      const int4 u = lv.layercore(k);
      const int4 m = lv.layernummate(u, s);
      if (m > bestm) {
        bestm = m;
        best = u;
      }
    }
    return best;
  }

  void copy_state(int4 from, int4 to) {
    Likelihoodvar& lv = likelihoodvar;
    for (int4 k = 1; k <= lv.layercore(0); ++k) {
      const int4 u = lv.layercore(k);
      const int4 m = lv.layernummate(u, from);
      lv.layernummate(u, to) = m;
      for (int4 i = 1; i <= m; ++i) lv.layermate(i, u, to) = lv.layermate(i, u, from);
      if (m == 0) continue;
      const real8* a = weights(u, from);
      real8* b = weights(u, to);
      for (int4 i = 0; i < lv.hsprobdim(u); ++i) b[i] = a[i];
    }
  }

  void locuslikelihoodmono(int4 layer) {
    Likelihoodvar& lv = likelihoodvar;
    const int4 prev = layer - 1;
    const int4 u = conditioning_individual(prev);
    if (u == 0) {
      addgtypeprb(prev);
      return;
    }
    const int4 n = lv.hsprobdim(u);
    for (int4 g = 1; g <= n; ++g) {
      const real8 wg = weights(u, prev)[g - 1];
      if (wg <= 0.0) continue;
      copy_state(prev, layer);
      lv.layerxvalue(layer) = lv.layerxvalue(prev);
      lv.layerxlog(layer) = lv.layerxlog(prev);
      scale_path(layer, wg);
      lv.layersingle(0) = 0;
      const int4 m = lv.layernummate(u, layer);
      lv.layernummate(u, layer) = 0;
      for (int4 k = 1; k <= m; ++k) {
        absorbmate(lv.layermate(k, u, layer), u, g, layer);
        if (lv.layerxvalue(layer) == 0.0) break;
      }
      if (lv.layerxvalue(layer) == 0.0) continue;
      absorb_singles(layer);
      if (lv.layerxvalue(layer) == 0.0) continue;
      locuslikelihoodmono(layer + 1);
    }
  }
};

}  // namespace

void layer_stage_mono(int4 locus, real8& logl) {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 np = v.nallparent;

  // Trees the simple peeling closed in an individual that keeps no family in either role: each
  // such individual's last received vector is a factor of its own. The role that received last
  // holds everything the individual received.
  real8 total = lv.loglikehoodconst;
  FArray<int4, 1>& mark = lv.hsibcopy;  // per individual: entry of its last receipt, -1 out
  auto person = [](int4 p) {
    const int4 o = other_role_joint(p);
    return o > 0 && o < p ? o : p;
  };
  for (int4 p = 1; p <= np; ++p) mark(p) = 0;
  for (int4 j = 1; j <= lv.mabsorb(1); ++j) {
    mark(person(lv.iabsorb(1, j))) = -1;
    const int4 r = person(lv.iabsorb(2, j));
    if (mark(r) >= 0) mark(r) = j;
  }
  for (int4 j = 1; j <= lv.mabsorb(1); ++j) {
    const int4 r = lv.iabsorb(2, j);
    const int4 o = other_role_joint(r);
    if (mark(person(r)) != j || lv.hsib(r) > 0 || (o > 0 && lv.hsib(o) > 0)) continue;
    const real8* w = &lv.crrtgenotypefre(lv.hsprobloc(r) + 1);
    real8 s = 0.0;
    for (int4 i = 0; i < lv.hsprobdim(r); ++i) s += w[i];
    if (s <= 1e-300) {
      logl = kImpossible;
      return;
    }
    total += std::log(s);
  }

  // The remaining graph: its individuals, their weight blocks and their families.
  int4 ncore = 0, nweight = 0;
  engine::grow(lv.layercore, Dim(0, np));
  engine::grow(lv.layerwloc, Dim(1, np));
  engine::grow(lv.layersingle, Dim(0, std::max(np * std::max(lv.maxnummate, 1), 1)));
  for (int4 p = 1; p <= np; ++p) {
    if (lv.hsib(p) <= 0 || individual_of(p) != p) continue;
    lv.layercore(++ncore) = p;
    lv.layerwloc(p) = nweight;
    nweight += lv.hsprobdim(p);
  }
  lv.layercore(0) = ncore;
  const int4 cap = ncore + 1;
  // An individual holds the families of both its roles.
  const int4 maxmate = 2 * std::max(lv.maxnummate, 1);
  engine::grow(lv.layerweight, Dim(1, std::max(nweight, 1)), Dim(0, cap));
  engine::grow(lv.layernummate, Dim(1, np), Dim(0, cap));
  engine::grow(lv.layermate, {Dim(1, maxmate), Dim(1, np), Dim(0, cap)});
  engine::grow(lv.layerxvalue, Dim(0, cap));
  engine::grow(lv.layerxlog, Dim(0, cap));
  lv.layercap = std::max(lv.layercap, cap);

  MonoRun run;
  run.kind.twoallele = lv.crrtmarkertype <= 2;
  run.kind.dominant = v.crrtmarkerdomq == 1;
  run.kind.errors = !run.kind.dominant && v.locuserror(locus) != 0;
  for (int4 k = 1; k <= ncore; ++k) {
    const int4 u = lv.layercore(k);
    lv.layernummate(u, 0) = 0;
    const real8* w = &lv.crrtgenotypefre(lv.hsprobloc(u) + 1);
    real8* b = run.weights(u, 0);
    for (int4 i = 0; i < lv.hsprobdim(u); ++i) b[i] = w[i];
  }
  for (int4 j = lv.mabsorb(1) + 1; j <= lv.mabsorb(2); ++j) {
    const int4 f = lv.nabsorb(j);
    if (lv.fsib(f) == 0) continue;
    const int4 a = father_of(f), b = mother_of(f);
    if (a == b) continue;  // a selfed family: absorbed before the peeling
    for (const int4 u : {a, b}) lv.layermate(++lv.layernummate(u, 0), u, 0) = f;
  }
  lv.layerxvalue(0) = 1.0;
  lv.layerxlog(0) = 0.0;
  lv.layerprb = 0.0;
  lv.layerlogfactor = 0.0;
  lv.layersingle(0) = 0;
  for (int4 k = 1; k <= ncore; ++k) {
    const int4 u = lv.layercore(k);
    if (lv.layernummate(u, 0) == 1) lv.layersingle(++lv.layersingle(0)) = u;
  }
  run.absorb_singles(0);
  if (lv.layerxvalue(0) > 0.0) run.locuslikelihoodmono(1);
  if (lv.layerprb <= 0.0) {
    logl = kImpossible;
    return;
  }
  logl = total + std::log(lv.layerprb) + lv.layerlogfactor;
}

}  // namespace kinrad
