// Layer peeling of a two-sex cluster whose mating graph still holds cycles after the simple
// peeling. Each layer conditions one parent on each of its genotypes in turn, multiplies the
// tables of its families into its mates' weights, sums out every parent thereby left with a
// single family and recurses on what remains. The sum over all conditioning paths is the
// exact probability of the remaining graph; no path is dropped.
#include <cmath>

#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/full_sib_internal.hpp"
#include "likelihood/layer_absorb_internal.hpp"
#include "likelihood/layer_peel_internal.hpp"
#include "likelihood/work_arrays_internal.hpp"

namespace kinrad {

namespace {

constexpr real8 kImpossible = -1e300;

// Family f's table read by the two parents' positions in their genotype lists.
struct FamilyTable {
  const real8* base = nullptr;
  std::ptrdiff_t ld = 0;
  const int4* fcls = nullptr;  // father's classes (null: his position is the class)
  const int4* mcls = nullptr;
  int4 rows = 0;
  int4 cols = 0;
  uint16_t rowmask = 0;
  uint16_t colmask = 0;
  bool neutral = false;  // no typed offspring here: the family factor is 1
  bool direct = false;   // a pair table, read by the positions themselves

  real8 operator()(int4 gf, int4 gm) const {
    if (direct) return base[(gf - 1) + (gm - 1) * ld];
    if (neutral) return 1.0;
    const int4 x = fcls ? fcls[gf - 1] : gf;
    const int4 y = mcls ? mcls[gm - 1] : gm;
    if (x < 1 || x > rows || y < 1 || y > cols || !has_bit(rowmask, x) || !has_bit(colmask, y))
      return 0.0;
    return base[(x - 1) + (y - 1) * ld];
  }
};

FamilyTable family_table(int4 f, bool twoallele) {
  const Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  FamilyTable t;
  if ((t.base = layer_pair_table(f, t.ld)) != nullptr) {
    t.direct = true;
    return t;
  }
  if (v.numfsgenotype(1, f) + v.numfsgenotype(2, f) == 0 || lv.fsprobdim(f) < 1) {
    t.neutral = true;
    return t;
  }
  const bool haplo = v.haplodiploid == 1;
  const TableReader r = table_of(f);
  t.base = r.base;
  t.ld = r.ld;
  t.cols = lv.fsprobdim(f);
  t.rows = haplo ? (twoallele ? 2 : lv.numallelefs(f)) : t.cols;
  t.rowmask = static_cast<uint16_t>(v.equirowcol(f, 1));
  t.colmask = haplo ? static_cast<uint16_t>(v.equirowcol(f, 2)) : t.rowmask;
  if (!twoallele) {
    t.fcls = &lv.idxtgt(lv.idxloc(2 * f - 2) + 1);
    t.mcls = &lv.idxtgt(lv.idxloc(2 * f - 1) + 1);
  }
  return t;
}

// Parents of a family, or of a pair without offspring that a pair table links.
int4 father_of(int4 f) {
  if (f > variables.numfsibship) return pair_father(f);
  return variables.npstartloc1(1) + likelihoodvar.clusterfamily(1, f);
}
int4 mother_of(int4 f) {
  if (f > variables.numfsibship) return pair_mother(f);
  return variables.npstartloc1(2) + likelihoodvar.clusterfamily(2, f);
}

struct LayerRun {
  bool twoallele = false;

  real8* weights(int4 p, int4 s) {
    Likelihoodvar& lv = likelihoodvar;
    return &lv.layerweight(lv.layerwloc(p) + 1, s);
  }

  // Multiplies a path factor into the value of state s, moving its magnitude into the log
  // before it can underflow.
  void scale_path(int4 s, real8 factor) {
    Likelihoodvar& lv = likelihoodvar;
    real8& x = lv.layerxvalue(s);
    x *= factor;
    if (x > 0.0 && x < 1e-200) {
      lv.layerxlog(s) += std::log(x);
      x = 1.0;
    }
  }

  // Normalises parent p's weights in state s to sum 1, the sum entering the path value.
  void normalise(int4 p, int4 s) {
    real8* w = weights(p, s);
    const int4 n = likelihoodvar.hsprobdim(p);
    real8 sum = 0.0;
    for (int4 i = 0; i < n; ++i) sum += w[i];
    scale_path(s, sum);
    if (sum > 0.0)
      for (int4 i = 0; i < n; ++i) w[i] /= sum;
  }

  // Removes family f from parent p's list in state s (the last entry takes its place).
  void reducemate(int4 p, int4 f, int4 s) {
    Likelihoodvar& lv = likelihoodvar;
    int4& n = lv.layernummate(p, s);
    for (int4 k = 1; k <= n; ++k) {
      if (lv.layermate(k, p, s) == f) {
        lv.layermate(k, p, s) = lv.layermate(n, p, s);
        --n;
        return;
      }
    }
  }

  // Multiplies family f, with parent p fixed at genotype position g, into its other parent's
  // weights in state s.
  void condition_into_mate(int4 f, int4 p, int4 g, int4 s) {
    const FamilyTable t = family_table(f, twoallele);
    const bool pfather = father_of(f) == p;
    const int4 q = pfather ? mother_of(f) : father_of(f);
    real8* w = weights(q, s);
    const int4 n = likelihoodvar.hsprobdim(q);
    if (!t.neutral)
      for (int4 j = 1; j <= n; ++j) w[j - 1] *= pfather ? t(g, j) : t(j, g);
    reducemate(q, f, s);
    settle(q, s);
  }

  // Sums parent p (with one family left) out into that family's other parent in state s.
  void layerabsorbm(int4 p, int4 s) {
    Likelihoodvar& lv = likelihoodvar;
    const int4 f = lv.layermate(1, p, s);
    const FamilyTable t = family_table(f, twoallele);
    const bool pfather = father_of(f) == p;
    const int4 q = pfather ? mother_of(f) : father_of(f);
    const real8* wp = weights(p, s);
    real8* wq = weights(q, s);
    const int4 np = lv.hsprobdim(p);
    const int4 nq = lv.hsprobdim(q);
    if (t.neutral) {
      real8 sum = 0.0;
      for (int4 i = 0; i < np; ++i) sum += wp[i];
      scale_path(s, sum);
    } else {
      for (int4 j = 1; j <= nq; ++j) {
        if (wq[j - 1] == 0.0) continue;
        real8 sum = 0.0;
        for (int4 i = 1; i <= np; ++i) sum += wp[i - 1] * (pfather ? t(i, j) : t(j, i));
        wq[j - 1] *= sum;
      }
    }
    lv.layernummate(p, s) = 0;
    reducemate(q, f, s);
    settle(q, s);
  }

  // After q's weights changed in state s: a parent with no family left closes its sum into the
  // path value, one with a single family waits to be summed out.
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

  // Sums out every listed single in state s.
  void absorb_singles(int4 s) {
    Likelihoodvar& lv = likelihoodvar;
    while (lv.layersingle(0) > 0) {
      const int4 p = lv.layersingle(lv.layersingle(0)--);
      if (lv.layernummate(p, s) != 1) continue;  // already summed out or closed
      layerabsorbm(p, s);
      if (lv.layerxvalue(s) == 0.0) {
        lv.layersingle(0) = 0;
        return;
      }
    }
  }

  // Adds the value of a finished path to the sum, both carried with their log factors.
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

  // The conditioning parent of the layer: the one with most families in state s, equal counts
  // going to the larger key (fathers scanned first, the first on equal keys); 0 when the graph
  // is empty.
  int4 findabsorbindiv(int4 s) const {
    const Likelihoodvar& lv = likelihoodvar;
    int4 best = 0, bestm = 0;
    int8 bestkey = 0;
    for (int4 k = 1; k <= lv.layercore(0); ++k) {
      const int4 p = lv.layercore(k);
      const int4 m = lv.layernummate(p, s);
      if (m == 0 || m < bestm) continue;
      if (m > bestm || lv.layerkey(p) > bestkey) {
        bestm = m;
        best = p;
        bestkey = lv.layerkey(p);
      }
    }
    return best;
  }

  void copy_state(int4 from, int4 to) {
    Likelihoodvar& lv = likelihoodvar;
    for (int4 k = 1; k <= lv.layercore(0); ++k) {
      const int4 p = lv.layercore(k);
      const int4 m = lv.layernummate(p, from);
      lv.layernummate(p, to) = m;
      for (int4 i = 1; i <= m; ++i) lv.layermate(i, p, to) = lv.layermate(i, p, from);
      if (m == 0) continue;
      const real8* a = weights(p, from);
      real8* b = weights(p, to);
      for (int4 i = 0; i < lv.hsprobdim(p); ++i) b[i] = a[i];
    }
  }

  void locuslikelihood(int4 layer) {
    Likelihoodvar& lv = likelihoodvar;
    const int4 prev = layer - 1;
    // Chains, singles and parallel parents of the graph are summed out first. A graph they
    // empty leaves the path's value in state prev, where it was multiplied in.
    if (prune(layer)) {
      addgtypeprb(prev);
      clear_changed_pairs(layer);
      return;
    }
    int4 skip = 0;
    chknewfsprob(layer, skip);
    const int4 p = skip == 1 ? 0 : findabsorbindiv(prev);
    if (p == 0) {
      if (skip == 0) addgtypeprb(prev);
      clear_changed_pairs(layer);
      return;
    }
    const int4 n = lv.hsprobdim(p);
    for (int4 g = 1; g <= n; ++g) {
      const real8 wg = weights(p, prev)[g - 1];
      if (wg <= 0.0) continue;
      copy_state(prev, layer);
      lv.layerxvalue(layer) = lv.layerxvalue(prev);
      lv.layerxlog(layer) = lv.layerxlog(prev);
      scale_path(layer, wg);
      lv.layersingle(0) = 0;
      const int4 m = lv.layernummate(p, layer);
      lv.layernummate(p, layer) = 0;
      for (int4 k = 1; k <= m; ++k) {
        condition_into_mate(lv.layermate(k, p, layer), p, g, layer);
        if (lv.layerxvalue(layer) == 0.0) break;
      }
      if (lv.layerxvalue(layer) == 0.0) continue;
      absorb_singles(layer);
      if (lv.layerxvalue(layer) == 0.0) continue;
      locuslikelihood(layer + 1);
    }
    clear_changed_pairs(layer);
  }
};

}  // namespace

void layer_stage(real8& logl) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  if (v.numsex != 2) engine_unavailable("one-sex families whose mating graph has a cycle");
  const int4 np = v.nallparent;

  // Trees the simple peeling closed in a parent that keeps no family: their sums are factors
  // of their own.
  real8 total = lv.loglikehoodconst;
  FArray<int4, 1>& mark = lv.hsibcopy;  // 1 received, -1 summed out
  for (int4 p = 1; p <= np; ++p) mark(p) = 0;
  for (int4 j = 1; j <= lv.mabsorb(1); ++j) mark(lv.iabsorb(2, j)) = 1;
  for (int4 j = 1; j <= lv.mabsorb(1); ++j) mark(lv.iabsorb(1, j)) = -1;
  for (int4 p = 1; p <= np; ++p) {
    if (mark(p) != 1 || lv.hsib(p) > 0) continue;
    const real8* w = &lv.crrtgenotypefre(lv.hsprobloc(p) + 1);
    real8 s = 0.0;
    for (int4 i = 0; i < lv.hsprobdim(p); ++i) s += w[i];
    if (s <= 1e-300) {
      logl = kImpossible;
      return;
    }
    total += std::log(s);
  }

  // The remaining graph: its parents, their weight blocks and their families.
  int4 ncore = 0, nweight = 0;
  engine::grow(lv.layercore, Dim(0, np));
  engine::grow(lv.layerwloc, Dim(1, np));
  engine::grow(lv.layersingle, Dim(0, std::max(np * std::max(lv.maxnummate, 1), 1)));
  for (int4 p = 1; p <= np; ++p) {
    if (lv.hsib(p) <= 0) continue;
    lv.layercore(++ncore) = p;
    lv.layerwloc(p) = nweight;
    nweight += lv.hsprobdim(p);
  }
  lv.layercore(0) = ncore;
  const int4 cap = ncore + 1;
  const int4 maxmate = std::max(lv.maxnummate, 1);
  engine::grow(lv.layerweight, Dim(1, std::max(nweight, 1)), Dim(0, cap));
  engine::grow(lv.layernummate, Dim(1, np), Dim(0, cap));
  engine::grow(lv.layermate, {Dim(1, maxmate), Dim(1, np), Dim(0, cap)});
  engine::grow(lv.layerxvalue, Dim(0, cap));
  engine::grow(lv.layerxlog, Dim(0, cap));
  lv.layercap = std::max(lv.layercap, cap);

  LayerRun run;
  run.twoallele = lv.crrtmarkertype <= 2;
  for (int4 k = 1; k <= ncore; ++k) {
    const int4 p = lv.layercore(k);
    lv.layernummate(p, 0) = 0;
    const real8* w = &lv.crrtgenotypefre(lv.hsprobloc(p) + 1);
    real8* b = run.weights(p, 0);
    for (int4 i = 0; i < lv.hsprobdim(p); ++i) b[i] = w[i];
  }
  for (int4 j = lv.mabsorb(1) + 1; j <= lv.mabsorb(2); ++j) {
    const int4 f = lv.nabsorb(j);
    if (lv.fsib(f) == 0) continue;
    for (const int4 p : {father_of(f), mother_of(f)}) {
      if (lv.hsib(p) <= 0) continue;
      lv.layermate(++lv.layernummate(p, 0), p, 0) = f;
    }
  }
  // Keys of the conditioning choice, from the graph the layer stage starts with: 10 for a known
  // parent, 10 for each known mate and the size of each family, times the sample size, minus
  // the smallest offspring number of its families (the sample size when it has none). In 64
  // bits: a parent with thousands of mates overflows 32.
  engine::grow(lv.layerkey, Dim(1, np));
  for (int4 k = 1; k <= ncore; ++k) {
    const int4 p = lv.layercore(k);
    int8 score = lv.knownprt(p) >= 1 ? 10 : 0;
    int4 smallest = v.smplsize;
    for (int4 i = 1; i <= lv.layernummate(p, 0); ++i) {
      const int4 f = lv.layermate(i, p, 0);
      const int4 q = father_of(f) == p ? mother_of(f) : father_of(f);
      if (lv.knownprt(q) >= 1) score += 10;
      const int4 first = v.familyindivloc(f - 1) + 1;
      const int4 last = v.familyindivloc(f);
      score += last - first + 1;
      if (last >= first && lv.familyindiv(first) < smallest) smallest = lv.familyindiv(first);
    }
    lv.layerkey(p) = score * static_cast<int8>(v.smplsize) - smallest;
  }
  lv.layerxvalue(0) = 1.0;
  lv.layerxlog(0) = 0.0;
  lv.layerprb = 0.0;
  lv.layerlogfactor = 0.0;
  layer_absorb_setup(cap);
  lv.layersingle(0) = 0;
  for (int4 k = 1; k <= ncore; ++k) {
    const int4 p = lv.layercore(k);
    if (lv.layernummate(p, 0) == 1) lv.layersingle(++lv.layersingle(0)) = p;
  }
  run.absorb_singles(0);
  if (lv.layerxvalue(0) > 0.0) run.locuslikelihood(1);
  if (lv.layerprb <= 0.0) {
    logl = kImpossible;
    return;
  }
  logl = total + std::log(lv.layerprb) + lv.layerlogfactor;
}

}  // namespace kinrad
