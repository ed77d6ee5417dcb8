// Layer peeling of a two-sex cluster whose mating graph still holds cycles after the simple
// peeling. Each layer conditions one parent on each of its genotypes in turn, multiplies the
// tables of its families into its mates' weights, sums out every parent thereby left with a
// single family and recurses on what remains. The sum over all conditioning paths is the
// probability of the remaining graph; the genotype-set reduction and the relative cut-offs
// (prec1, against the best path of the same layer) drop only paths of negligible weight.
#include <algorithm>
#include <array>
#include <cmath>

#include "core/modules/absorbvar.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/full_sib_internal.hpp"
#include "likelihood/layer_absorb_internal.hpp"
#include "likelihood/layer_peel_internal.hpp"
#include "likelihood/reduce_genotype_internal.hpp"
#include "likelihood/work_arrays_internal.hpp"

namespace kinrad {

FamilyTable family_table(int4 f, const LocusKind& k) {
  FamilyTable t;
  if ((t.base = layer_pair_table(f, t.ld)) != nullptr) {
    t.direct = true;
    return t;
  }
  return locus_family_table(f, k);
}

FamilyTable locus_family_table(int4 f, const LocusKind& k) {
  const bool twoallele = k.twoallele;
  const Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  FamilyTable t;
  if (v.numfsgenotype(1, f) + v.numfsgenotype(2, f) == 0 || lv.fsprobdim(f) < 1) {
    t.neutral = true;
    return t;
  }
  const bool haplo = v.haplodiploid == 1;
  const TableReader r = table_of(f);
  t.base = r.base;
  t.ld = r.ld;
  if (k.dominant) {
    // Dominant: 3 x 3 over the phenotype-genotype classes (2 x 3 for haploid fathers).
    t.rows = haplo ? 2 : 3;
    t.cols = 3;
    return t;
  }
  if (k.errors) {
    if (twoallele) {
      t.rows = haplo ? 2 : 3;
      t.cols = 3;
      // A diploid table marked empty: the family's offspring say nothing at this locus.
      if (!haplo && r(2, 1) < 0.0) t.neutral = true;
      return t;
    }
    t.fcls = &lv.idxtgt(lv.idxloc(2 * f - 2) + 1);
    t.mcls = &lv.idxtgt(lv.idxloc(2 * f - 1) + 1);
    if (haplo) {
      // Rows: the father's alleles; columns up to the (possibly trimmed) table dimension.
      t.rows = lv.numallelefs(f);
      t.cols = lv.fsprobdim(f);
      return t;
    }
    if (lv.numallelefs(f) == 1) {
      // One family allele: every parent pair gives the same factor, held in the constant.
      t.neutral = true;
      return t;
    }
    t.rows = t.cols = std::min<int4>(v.genotypenum(lv.numallelefs(f)), lv.fsprobdim(f));
    return t;
  }
  t.masked = true;
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

namespace {

constexpr real8 kImpossible = -1e300;
constexpr real8 kHuge = 1e300;                    // a log below every path's
constexpr real8 kLog1e300 = -690.77552789821368;  // ln(1e-300)

// Parents of a family, or of a pair without offspring that a pair table links.
int4 father_of(int4 f) {
  if (f > variables.numfsibship && f <= absorbvar.numpairs) return pair_father(f);
  return variables.npstartloc1(1) + likelihoodvar.clusterfamily(1, f);
}
int4 mother_of(int4 f) {
  if (f > variables.numfsibship && f <= absorbvar.numpairs) return pair_mother(f);
  return variables.npstartloc1(2) + likelihoodvar.clusterfamily(2, f);
}

// The kind of locus of the layer stage in hand, for the absorption routines' table reads.
LocusKind layer_kind;

// Zeroes every genotype of parent p outside its kept list: in its prior (prior true) or in its
// layer state 0 weights.
void keep_selected(int4 p, bool prior) {
  Likelihoodvar& lv = likelihoodvar;
  const int4 n = lv.hsprobdim(p);
  real8* w =
      prior ? &lv.crrtgenotypefre(lv.hsprobloc(p) + 1) : &lv.layerweight(lv.layerwloc(p) + 1, 0);
  int4* mark = &lv.indexgtype(1);
  for (int4 g = 0; g < n; ++g) mark[g] = 0;
  for (int4 i = 1; i <= lv.selectedpnum(p); ++i) mark[lv.idxselectedp(i, p) - 1] = 1;
  for (int4 g = 0; g < n; ++g)
    if (mark[g] == 0) w[g] = 0.0;
}

// The order of parent p's n genotypes by decreasing reduction weight (the first on equal
// weights) into order(1..n).
void setparentsumidx(int4 p, int4 n, int4* order) {
  const real8* w = &likelihoodvar.parentsum(1, p);
  bool taken[3] = {false, false, false};
  for (int4 slot = 0; slot < n; ++slot) {
    int4 best = -1;
    for (int4 g = 0; g < n; ++g)
      if (!taken[g] && (best < 0 || w[g] > w[best])) best = g;
    taken[best] = true;
    order[slot] = best + 1;
  }
}

struct LayerRun {
  LocusKind kind;

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
    const FamilyTable t = family_table(f, kind);
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
    const FamilyTable t = family_table(f, kind);
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
  // Natural log of the value of the path in state s.
  real8 path_log(int4 s) const {
    const real8 x = likelihoodvar.layerxvalue(s);
    return x > 0.0 ? std::log(x) + likelihoodvar.layerxlog(s) : -kHuge;
  }

  // Adds the value of a finished path to the sum, both carried with their log factors. The
  // first sum of at least 1e-300 ends any stricter precision the caller set for the search.
  void addgtypeprb(int4 s) {
    Likelihoodvar& lv = likelihoodvar;
    const real8 x = lv.layerxvalue(s);
    const real8 f = lv.layerxlog(s);
    if (x <= 0.0) return;
    const bool small = lv.layerprb <= 0.0 || std::log(lv.layerprb) + lv.layerlogfactor < kLog1e300;
    if (lv.layerprb <= 0.0) {
      lv.layerprb = x;
      lv.layerlogfactor = f;
    } else {
      const real8 d = lv.layerlogfactor - f;
      if (d < 0.0) {
        lv.layerprb = std::exp(d) * lv.layerprb + x;
        lv.layerlogfactor = f;
      } else {
        lv.layerprb += std::exp(-d) * x;
      }
    }
    if (small && std::log(lv.layerprb) + lv.layerlogfactor >= kLog1e300) {
      variables.prec1 = variables.prec2;
      variables.prec3 = 0.1 * variables.prec2;
    }
  }

  // The conditioning parent of the layer: the one with most families in state s, equal counts
  // going to the strictly larger key; sexes in the order of absorbsex, each in list order (the
  // first on equal keys). 0 when the graph is empty.
  int4 findabsorbindiv(int4 s) const {
    const Likelihoodvar& lv = likelihoodvar;
    const int4 nfather = variables.nparent(1);
    int4 best = 0, bestm = 0;
    int8 bestkey = 0;
    for (int4 sex = lv.absorbsex[0];; sex += lv.absorbsex[2]) {
      for (int4 k = 1; k <= lv.layercore(0); ++k) {
        const int4 p = lv.layercore(k);
        if ((p <= nfather ? 1 : 2) != sex) continue;
        const int4 m = lv.layernummate(p, s);
        if (m == 0 || m < bestm) continue;
        if (m > bestm || lv.layerkey(p) > bestkey) {
          bestm = m;
          best = p;
          bestkey = lv.layerkey(p);
        }
      }
      if (sex == lv.absorbsex[1]) break;
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
    // Chains, singles and parallel parents of the graph entering the layer are summed out
    // first. A graph they empty is a finished path whose value is in state prev, where the sums
    // were multiplied in.
    prune(layer);
    if (lv.allabsorbedlayer == layer) {
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
    lv.layerdeepest = std::max(lv.layerdeepest, layer);
    const int4 n = lv.selectedpnum(p);
    // At loci of at most two alleles a parent that kept all its genotypes (listed in genotype
    // order) is conditioned heaviest first too.
    int4 order[3] = {0, 0, 0};
    const bool ordered = lv.crrtmarkertype < 3 && n == lv.hsprobdim(p) && n <= 3;
    if (ordered) setparentsumidx(p, n, order);
    for (int4 i = 1; i <= n; ++i) {
      const int4 g = ordered ? order[i - 1] : lv.idxselectedp(i, p);
      const real8 wg = weights(p, prev)[g - 1];
      if (wg <= 0.0) continue;
      // Low precision at a dominant locus: once a sum is found, the third genotype (two null
      // alleles) is no longer visited. An approximation that can drop the commonest genotype.
      if (g == 3 && lv.crrtmarkertype == 1 && variables.likelihoodprecision < 2 &&
          lv.layerprb > 0.0 && std::log(lv.layerprb) + lv.layerlogfactor > kLog1e300)
        continue;
      // Relative cut-offs against the best seen at this layer (natural logs): the product of
      // the conditioning genotypes' reduction weights, and the path value.
      const real8 cut = variables.prec1 > 0.0 ? std::log(variables.prec1) : -kHuge;
      const real8 ps = lv.parentsum(g, p);
      const real8 z = (ps > 0.0 ? std::log(ps) : -kHuge) + lv.layerzlog(prev);
      if (z > lv.layerzrange(layer)) {
        lv.layerzrange(layer) = z;
      } else if (z < lv.layerzrange(layer) + cut) {
        continue;
      }
      lv.layerzlog(layer) = z;
      if (std::log(wg) + path_log(prev) < lv.layerxrange(layer) + cut) continue;
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
      const real8 x = path_log(layer);
      if (x > lv.layerxrange(layer)) {
        lv.layerxrange(layer) = x;
      } else if (x <= lv.layerxrange(layer) + cut) {
        continue;
      }
      locuslikelihood(layer + 1);
    }
    clear_changed_pairs(layer);
  }
};

}  // namespace

void findabsorbsex() {
  Likelihoodvar& lv = likelihoodvar;
  const int4 nfather = variables.nparent(1);
  constexpr int4 kNone = -32768;
  int4 m[3] = {0, kNone, kNone};
  for (int4 k = 1; k <= lv.layercore(0); ++k) {
    const int4 p = lv.layercore(k);
    const int4 sex = p <= nfather ? 1 : 2;
    m[sex] = std::max(m[sex], lv.layernummate(p, 0));
  }
  const std::array<int4, 3> fathers{1, 2, 1}, mothers{2, 1, -1};
  if (m[1] != kNone && (m[2] == kNone || m[1] > m[2])) {
    lv.absorbsex = fathers;
    return;
  }
  if (m[1] == kNone || m[1] < m[2]) {
    lv.absorbsex = mothers;
    return;
  }
  // Equal largest counts. Families of partners with different counts: the one holding the
  // smallest offspring number decides (a later family on equal numbers), fathers first unless
  // its father has fewer families than its mother.
  const Variables& v = variables;
  auto smallest = [&](int4 f) {
    int4 low = 0;
    for (int4 i = v.familyindivloc(f - 1) + 1; i <= v.familyindivloc(f); ++i)
      if (low == 0 || lv.familyindiv(i) < low) low = lv.familyindiv(i);
    return low;
  };
  int4 low = 0, nf = 0, nm = 0;
  for (int4 k = 1; k <= lv.layercore(0); ++k) {
    const int4 p = lv.layercore(k);
    if (p > nfather) continue;
    for (int4 i = 1; i <= lv.layernummate(p, 0); ++i) {
      const int4 f = lv.layermate(i, p, 0);
      const int4 q = mother_of(f);
      if (lv.layernummate(q, 0) == lv.layernummate(p, 0)) continue;
      const int4 o = smallest(f);
      if (o > 0 && (low == 0 || o <= low)) {
        low = o;
        nf = lv.layernummate(p, 0);
        nm = lv.layernummate(q, 0);
      }
    }
  }
  if (low > 0) {
    lv.absorbsex = nf < nm ? mothers : fathers;
    return;
  }
  // Every partner has the same count: the family with the smallest offspring number among
  // partners of different numbers within their sexes, fathers first when the father's number
  // is the larger.
  int4 pf = 0, pm = 0;
  for (int4 k = 1; k <= lv.layercore(0); ++k) {
    const int4 p = lv.layercore(k);
    if (p > nfather) continue;
    for (int4 i = 1; i <= lv.layernummate(p, 0); ++i) {
      const int4 f = lv.layermate(i, p, 0);
      if (lv.clusterfamily(1, f) == lv.clusterfamily(2, f)) continue;
      const int4 o = smallest(f);
      if (o > 0 && (low == 0 || o < low)) {
        low = o;
        pf = lv.clusterfamily(1, f);
        pm = lv.clusterfamily(2, f);
      }
    }
  }
  lv.absorbsex = low > 0 && pf > pm ? fathers : mothers;
}

void trimgenotypes(int4 s, int4& ok) {
  Likelihoodvar& lv = likelihoodvar;
  const Variables& v = variables;
  const int4 nfather = v.nparent(1);
  LocusKind kind;
  kind.twoallele = lv.crrtmarkertype <= 2;
  kind.dominant = v.crrtmarkerdomq == 1;
  kind.errors = false;  // trimming runs at loci whose tables rule pairs out exactly
  ok = 1;
  for (int4 k = 1; k <= lv.layercore(0); ++k) {
    const int4 p = lv.layercore(k);
    if ((p <= nfather ? 1 : 2) != s) continue;
    const int4 n = lv.hsprobdim(p);
    if (n <= 1) continue;
    real8* w = &lv.layerweight(lv.layerwloc(p) + 1, 0);
    for (int4 i = 1; i <= lv.layernummate(p, 0); ++i) {
      const int4 f = lv.layermate(i, p, 0);
      const FamilyTable t = family_table(f, kind);
      if (t.neutral) continue;
      const bool pfather = father_of(f) == p;
      const int4 q = pfather ? mother_of(f) : father_of(f);
      const real8* wq = &lv.layerweight(lv.layerwloc(q) + 1, 0);
      const int4* own = pfather ? t.fcls : t.mcls;
      for (int4 g = 1; g <= n; ++g) {
        if (w[g - 1] <= 0.0) continue;
        if (own != nullptr && own[g - 1] == 0) continue;  // outside every table: never judged
        bool possible = false;
        for (int4 j = 1; j <= lv.hsprobdim(q) && !possible; ++j)
          possible = wq[j - 1] > 0.0 && (pfather ? t(g, j) : t(j, g)) >= 1e-300;
        if (!possible) w[g - 1] = 0.0;
      }
    }
    int4 kept = 0;
    for (int4 g = 0; g < n; ++g) kept += w[g] > 0.0 ? 1 : 0;
    ok = kept;
    if (kept == 0) return;
  }
}

void layer_stage(int4 locus, int4 numallele, real8& logl) {
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
  layer_absorb_setup(cap);

  LayerRun run;
  run.kind.twoallele = lv.crrtmarkertype <= 2;
  run.kind.dominant = v.crrtmarkerdomq == 1;
  run.kind.errors = !run.kind.dominant && v.locuserror(locus) != 0;
  layer_kind = run.kind;
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
  // The sex scanned first, and at error-free codominant loci of more than two alleles in a graph
  // with more than two parents of each sex the genotypes no family with some one mate allows.
  findabsorbsex();
  int4 nsex[3] = {0, 0, 0};
  for (int4 k = 1; k <= ncore; ++k) ++nsex[lv.layercore(k) <= v.nparent(1) ? 1 : 2];
  v.numparent(1) = std::min(nsex[1], nsex[2]);
  v.numparent(2) = std::max(nsex[1], nsex[2]);
  v.numparent(3) = nsex[1] + nsex[2];
  // More than 100 parents of the smaller sex in the remaining graph is beyond capacity.
  if (v.numparent(1) > 100) {
    logl = kImpossible;
    return;
  }
  // Genotype-set reduction, a second time against the mates' kept genotypes where the first
  // pass leaves much to drop; the layer peeling visits the kept genotypes only, heaviest first.
  engine::grow(lv.parentprt, Dim(0, np), Dim(2));
  lv.parentprt(0, 1) = lv.parentprt(0, 2) = 0;
  for (int4 k = 1; k <= ncore; ++k) {
    const int4 p = lv.layercore(k);
    const int4 s = p <= v.nparent(1) ? 1 : 2;
    lv.parentprt(++lv.parentprt(0, s), s) = p;
  }
  const int4 err = v.locuserror(locus);
  reduce_clear();
  real8 reduced = -1e300;
  reducengenotype(locus, err, numallele, reduced);
  if (reduced < -1.0) {
    logl = kImpossible;
    return;
  }
  if ((err == 1 && numallele > 2) || (lv.crrtmarkertype - err <= 1 && v.numparent(1) > 10)) {
    for (int4 k = 1; k <= ncore; ++k) keep_selected(lv.layercore(k), true);
    reducengenotype(locus, err, numallele, reduced);
    if (reduced < -1.0) {
      logl = kImpossible;
      return;
    }
  }
  for (int4 k = 1; k <= ncore; ++k) {
    const int4 p = lv.layercore(k);
    const real8* w = &lv.crrtgenotypefre(lv.hsprobloc(p) + 1);
    real8* b = run.weights(p, 0);
    for (int4 i = 0; i < lv.hsprobdim(p); ++i) b[i] = w[i];
    keep_selected(p, false);
  }
  if (!run.kind.dominant && !run.kind.errors && !run.kind.twoallele) {
    if (v.numparent(1) > 2) {
      for (int4 s = 1; s <= 2; ++s) {
        int4 ok = 1;
        trimgenotypes(s, ok);
        if (ok == 0) {
          logl = kImpossible;
          return;
        }
      }
    }
  }
  equigenotype(locus);
  lv.allabsorbedlayer = 0;
  lv.layerdeepest = 0;
  engine::grow(lv.layerxrange, Dim(0, cap));
  engine::grow(lv.layerzrange, Dim(0, cap));
  engine::grow(lv.layerzlog, Dim(0, cap));
  for (int4 k = 0; k <= cap; ++k) lv.layerxrange(k) = lv.layerzrange(k) = -kHuge;
  lv.layerzlog(0) = 0.0;
  lv.layerxvalue(0) = 1.0;
  lv.layerxlog(0) = 0.0;
  lv.layerprb = 0.0;
  lv.layerlogfactor = 0.0;
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

FamilyTable layer_table(int4 f) {
  return family_table(f, layer_kind);
}

}  // namespace kinrad
