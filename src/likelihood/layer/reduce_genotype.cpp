// Genotype-set reduction of the parents left to the layer peeling. Weights are the parent's
// prior times, for each remaining full-sib family, the family's table summed over the mate's
// prior; genotypes below a relative cut are dropped and the rest kept heaviest first, at most
// 3 x likelihoodprecision + 10 of them.
#include <algorithm>
#include <cmath>

#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "core/sorting.hpp"
#include "likelihood/full_sib_internal.hpp"
#include "likelihood/layer/layer_internal.hpp"
#include "likelihood/work_arrays_internal.hpp"

namespace kinrad {

namespace {

int4 father_of(int4 f) {
  return variables.npstartloc1(1) + likelihoodvar.clusterfamily(1, f);
}
int4 mother_of(int4 f) {
  return variables.npstartloc1(2) + likelihoodvar.clusterfamily(2, f);
}

real8* prior_of(int4 p) {
  return &likelihoodvar.crrtgenotypefre(likelihoodvar.hsprobloc(p) + 1);
}
real8* weights_of(int4 p) {
  return &likelihoodvar.parentsum(1, p);
}

// Whether the mate's genotype j is among its kept ones (every genotype before a reduction).
bool mate_keeps(int4 q, int4 j) {
  const Likelihoodvar& lv = likelihoodvar;
  const int4 n = lv.selectedpnum(q);
  if (n == 0) return true;
  for (int4 i = 1; i <= n; ++i)
    if (lv.idxselectedp(i, q) == j) return true;
  return false;
}

// The parent's own class of position g in family table t (p the family's father or not), and
// the mask and extent of its side.
bool class_allowed(const FamilyTable& t, bool pfather, int4 g) {
  const int4* cls = pfather ? t.fcls : t.mcls;
  const int4 c = cls ? cls[g - 1] : g;
  const int4 n = pfather ? t.rows : t.cols;
  return c >= 1 && c <= n && has_bit(pfather ? t.rowmask : t.colmask, c);
}

// Calls each(f, pfather) for every remaining family of parent p, and in a one-pool species for
// the families of the same individual in its other role when weighed in both.
template <class Each>
void for_families(int4 p, bool both, Each&& each) {
  const Likelihoodvar& lv = likelihoodvar;
  for (int4 i = 1; i <= lv.layernummate(p, 0); ++i) {
    const int4 f = lv.layermate(i, p, 0);
    each(f, father_of(f) == p);
  }
  if (!both) return;
  const int4 o = other_role_joint(p);
  if (o <= 0) return;
  for (int4 i = 1; i <= lv.layernummate(o, 0); ++i) {
    const int4 f = lv.layermate(i, o, 0);
    each(f, father_of(f) == o);
  }
}

// Phase 1 for parent p of role s; false when the locus is impossible.
bool weigh(int4 p, int4 s, int4 err, int4 numallele, const LocusKind& kind) {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 ng = lv.hsprobdim(p);
  real8* w = weights_of(p);
  const real8* prior = prior_of(p);
  const bool codominant = !kind.dominant;
  const bool haplo = v.haplodiploid == 1;
  bool both = false;

  // No allele of its own here: one pooled genotype.
  if (codominant && lv.allelehs(lv.allelehsloc(p) + 1) == -1) {
    for (int4 g = 1; g <= ng; ++g) w[g - 1] = g == 1 ? 1.0 : 0.0;
    return true;
  }
  if (v.numsex == 1) {
    const int4 o = other_role_joint(p);
    if (o > 0 && lv.hsib(o) > 0) {
      if (s == 2) return true;  // weighed in its first role, copied in phase 2
      both = true;
    }
  }
  const bool smallgraph = v.numparent(1) < 5 && !both;
  // Error-free two-allele locus, diploid: the parent's compatibility mask over its genotypes
  // (in a one-sex species for a parent weighed in one role only).
  if (err == 0 && codominant && numallele == 2 && !haplo && !both && lv.userowsnp.allocated() &&
      lv.userowsnp.ubound(1) >= p) {
    const uint16_t mask = static_cast<uint16_t>(lv.userowsnp(p));
    for (int4 g = 1; g <= ng; ++g) w[g - 1] = prior[g - 1] > 1e-300 && has_bit(mask, g) ? 1 : 0;
    return true;
  }
  // Error-free codominant loci of a small graph: compatibility alone.
  if (err == 0 && codominant && smallgraph && !kind.twoallele && !haplo) {
    const bool typed = v.prntgtype(1, p) > 0;
    real8 top = 0.0;
    for (int4 g = 0; g < ng; ++g) top = std::max(top, prior[g]);
    for (int4 g = 1; g <= ng; ++g)
      w[g - 1] = typed ? (prior[g - 1] > 1e-300 ? 1.0 : 0.0) : (prior[g - 1] > 1e-30 * top ? 1 : 0);
    bool impossible = false;
    for_families(p, false, [&](int4 f, bool pfather) {
      const FamilyTable t = locus_family_table(f, kind);
      if (t.neutral) return;
      for (int4 g = 1; g <= ng; ++g) {
        if (w[g - 1] == 0.0 || class_allowed(t, pfather, g)) continue;
        // A typed parent's observed genotype outside a family's table: impossible.
        if (typed) impossible = true;
        w[g - 1] = 0.0;
      }
    });
    return !impossible;
  }
  if (err == 0 && codominant && smallgraph && haplo) {
    for (int4 g = 1; g <= ng; ++g) w[g - 1] = 1.0;
    for_families(p, false, [&](int4 f, bool pfather) {
      const FamilyTable t = locus_family_table(f, kind);
      if (t.neutral) return;
      for (int4 g = 1; g <= ng; ++g)
        if (w[g - 1] != 0.0 && !class_allowed(t, pfather, g)) w[g - 1] = 0.0;
    });
    return true;
  }

  // General case: prior times each family's factor.
  for (int4 g = 0; g < ng; ++g) w[g] = prior[g];
  if (kind.dominant && v.maxfsibsize >= 101)
    for (int4 g = 0; g < ng; ++g) w[g] *= 1e200;
  real8 m = 0.0;
  for (int4 g = 0; g < ng; ++g) m = std::max(m, w[g]);
  if (m <= 1e-300) return false;
  if (m <= 1e-50)
    for (int4 g = 0; g < ng; ++g) w[g] /= m;
  const bool listed = lv.selectedpnum(p) != 0;
  int4* alive = &lv.indexgtype(1);
  int4 nalive = 0;
  if (listed) {
    for (int4 i = 1; i <= lv.selectedpnum(p); ++i) alive[nalive++] = lv.idxselectedp(i, p);
  } else {
    for (int4 g = 1; g <= ng; ++g) alive[nalive++] = g;
  }
  real8* val = &lv.reducevalue(1);
  bool failed = false;
  for_families(p, both, [&](int4 f, bool pfather) {
    if (failed || nalive == 0) return;
    if (codominant && lv.numallelefs(f) == 1) return;
    const FamilyTable t = locus_family_table(f, kind);
    if (t.neutral) return;
    const int4 q = pfather ? mother_of(f) : father_of(f);
    const real8* wq = prior_of(q);
    const int4 nq = lv.hsprobdim(q);
    // The mate's genotypes that count, listed once for all of p's (ascending, as summed), in
    // the scratch of phase 2 (free while weighing).
    int4* mate = &lv.reduceorder(1);
    int4 nmate = 0;
    for (int4 j = 1; j <= nq; ++j)
      if (wq[j - 1] > 1e-300 && mate_keeps(q, j)) mate[nmate++] = j;
    real8 top = 0.0;
    for (int4 k = 0; k < nalive; ++k) {
      const int4 g = alive[k];
      real8 sum = 0.0;
      for (int4 i = 0; i < nmate; ++i) {
        const int4 j = mate[i];
        sum += (pfather ? t(g, j) : t(j, g)) * wq[j - 1];
      }
      val[g - 1] = sum;
      top = std::max(top, sum);
    }
    if (kind.dominant && top < 1e-300) {
      failed = true;
      return;
    }
    if (top > 1e-300 && top < (kind.dominant ? 0.001 : 0.01))
      for (int4 k = 0; k < nalive; ++k) val[alive[k] - 1] /= top;
    int4 kept = 0;
    for (int4 k = 0; k < nalive; ++k) {
      const int4 g = alive[k];
      w[g - 1] *= val[g - 1];
      if (w[g - 1] <= 1e-300) {
        w[g - 1] = 0.0;
      } else {
        alive[kept++] = g;
      }
    }
    nalive = kept;
  });
  if (failed || nalive == 0) return false;
  return true;
}

}  // namespace

void reduce_clear() {
  Likelihoodvar& lv = likelihoodvar;
  const int4 np = std::max(variables.nallparent, 1);
  const int4 ng = std::max(lv.maxhsprobdim, 3);
  engine::grow(lv.parentsum, Dim(ng), Dim(np));
  engine::grow(lv.parentslot, Dim(np));
  engine::grow(lv.selectedpnum, Dim(np));
  engine::grow(lv.idxselectedp, Dim(ng), Dim(np));
  engine::grow(lv.indexgtype, Dim(ng));
  engine::grow(lv.reducevalue, Dim(ng));
  engine::grow(lv.reduceorder, Dim(ng));
  for (int4 p = 1; p <= np; ++p) lv.selectedpnum(p) = 0;
}

void reducengenotype(int4 locus, int4 err, int4 numallele, real8& logl) {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  logl = -1e300;
  LocusKind kind;
  kind.twoallele = lv.crrtmarkertype <= 2;
  kind.dominant = v.crrtmarkerdomq == 1;
  kind.errors = !kind.dominant && err != 0;

  // Phase 1: weights.
  for (int4 s = 1; s <= 2; ++s) {
    for (int4 k = 1; k <= lv.parentprt(0, s); ++k) {
      const int4 p = lv.parentprt(k, s);
      lv.parentslot(p) = -1.0;
      if (lv.selectedpnum(p) == 1) continue;
      if (v.numsex == 1 && s == 2) {
        const int4 o = other_role_joint(p);
        if (o > 0 && lv.hsib(o) > 0) continue;  // weighed in its first role, copied in phase 2
      }
      if (!weigh(p, s, err, numallele, kind)) return;
      const int4 ng = lv.hsprobdim(p);
      real8* w = weights_of(p);
      real8 top = 0.0, low = 1e308;
      for (int4 g = 0; g < ng; ++g) {
        top = std::max(top, w[g]);
        low = std::min(low, w[g]);
      }
      if (top <= 1e-300) return;
      if (kind.dominant && err > 0 && v.maxfsibsize > 10 && low < 1e-300) {
        // Keep every phenotype class reachable in large dominant families with errors.
        for (int4 g = 0; g < ng; ++g) w[g] += 1e-90 * top;
        top += 1e-90 * top;
      }
      lv.parentslot(p) = top;
    }
  }

  // Phase 2: one parent pool, the role-2 column of an individual weighed in role 1. In every
  // one-sex family, not only in those with a selfing parent: the role-2 column of an
  // individual holding both roles is weighed nowhere else, and selecting from an unweighed
  // column would keep arbitrary genotypes or call the locus impossible.
  if (v.numsex == 1) {
    for (int4 k = 1; k <= lv.parentprt(0, 2); ++k) {
      const int4 p = lv.parentprt(k, 2);
      const int4 o = other_role_joint(p);
      if (o <= 0 || lv.hsib(o) <= 0) continue;
      for (int4 g = 1; g <= lv.hsprobdim(p); ++g) lv.parentsum(g, p) = lv.parentsum(g, o);
      lv.parentslot(p) = lv.parentslot(o);
    }
  }

  // Phase 3: the relative cut.
  real8 t = (lv.infergtypeprnt != 0 || lv.crrtmarkertype == 2) ? 0.1 * v.prec1 : v.prec1;
  // Dominant markers at the higher precisions cut between 1e-4 and 1e-3 of the parent's
  // heaviest genotype. A caller asking for a finer cut than its precision's own (the exact
  // setting of the engine's tests) is not raised to 1e-4: that would make it inexact.
  if (kind.dominant && v.likelihoodprecision > 1) {
    t = std::min(t, 0.001);
    if (v.prec1 >= 0.99 * std::pow(0.1, 2 * v.likelihoodprecision)) t = std::max(t, 0.0001);
  }
  if (lv.crrtmarkertype <= 2 && err > 0 && v.maxfsibsize > 10) {
    // For dominant markers the fourth power underflows to 0: nothing is cut.
    const real8 x = kind.dominant ? 1e-96 : t * t * t * t;
    const real8 y = x / v.maxfsibsize;
    t = std::min(t, y * y * y * y);
  }
  if (numallele > 2 && v.othererrorrate(locus) < 0.001) {
    t = std::sqrt(v.othererrorrate(locus)) * t;
    if (v.droprate(locus) > 0.01) t = std::min(t, 0.001);
  }

  // Phase 4: selection.
  lv.maxselectedp = 0;
  const int4 cap = 3 * v.likelihoodprecision + 10;
  const real8 oer = v.othererrorrate(locus);
  for (int4 s = 1; s <= 2; ++s) {
    if (s == 2 && v.numchildh > 0) t *= 0.0001;
    for (int4 k = 1; k <= lv.parentprt(0, s); ++k) {
      const int4 p = lv.parentprt(k, s);
      const int4 ng = lv.hsprobdim(p);
      real8* w = weights_of(p);
      real8 big = lv.parentslot(p);
      if (big < 0.0) {
        big = 0.0;
        for (int4 g = 0; g < ng; ++g) big = std::max(big, w[g]);
        if (big <= 1e-300) return;
      }
      int4 positive = 0;
      for (int4 g = 0; g < ng; ++g) positive += w[g] > 0.0 ? 1 : 0;
      real8 cut = big * t;
      if (numallele > 5 && v.likelihoodprecision <= 2 && std::isfinite(big)) {
        int e = 0;
        static_cast<void>(std::frexp(big, &e));
        const int4 n = static_cast<int4>(std::lround(2.0 - 0.030303 * e));
        cut = big * std::max(1e-6, std::min(t, std::pow(0.1, n)));
      }
      if (lv.crrtmarkertype <= 2 && v.numparent(1) > 20 && ng >= 2) {
        if (kind.dominant) {
          if (w[0] > cut && w[1] > cut) {
            w[0] = 0.0;
            real8* prior = prior_of(p);
            prior[1] += prior[0];
          }
        } else if (ng == 3 && w[0] > cut && w[1] > cut && w[2] > cut) {
          if (v.numparent(1) > 30) {
            w[0] = w[2] = 0.0;
          } else if (w[0] <= w[2]) {
            w[0] = 0.0;
          } else {
            w[2] = 0.0;
          }
        }
      }
      int4* kept = &lv.reduceorder(1);
      int4 c = 0;
      for (int4 g = 1; g <= ng; ++g)
        if (w[g - 1] > cut) kept[c++] = g;
      int2* out = &lv.idxselectedp(1, p);
      int4 n = c;
      if (ng <= 3 && c == ng) {
        for (int4 g = 1; g <= ng; ++g) out[g - 1] = static_cast<int2>(g);
      } else if (c == 1) {
        out[0] = static_cast<int2>(kept[0]);
      } else if (c == 2) {
        const bool swap = w[kept[1] - 1] > w[kept[0] - 1];
        out[0] = static_cast<int2>(kept[swap ? 1 : 0]);
        out[1] = static_cast<int2>(kept[swap ? 0 : 1]);
      } else if (c > 2) {
        real8* neg = &lv.reducevalue(1);
        for (int4 i = 0; i < c; ++i) neg[i] = -w[kept[i] - 1];
        int4* order = &lv.indexgtype(1);
        indexx(c, neg, order);
        n = std::min(c, cap);
        if (lv.infergtypesex > 0 && v.fulllikelihoodmethodq == 0)
          n = std::min<int4>(
              n, 2 + static_cast<int4>(std::lround((1.0 - std::exp(-1.0 / v.numparent(1))) * n)));
        if ((n > 10 || (n > 5 && n == ng)) && oer > 0.1)
          n = static_cast<int4>(std::lround(n * (1.0 - oer)));
        for (int4 i = 0; i < n; ++i) out[i] = static_cast<int2>(kept[order[i] - 1]);
      }
      if (n < positive) lv.layercut = 1;
      if (n == 0) return;
      lv.selectedpnum(p) = static_cast<int2>(n);
      lv.maxselectedp = std::max(lv.maxselectedp, n);
    }
  }
  logl = 0.0;
}

}  // namespace kinrad
