// The layer recursion. Each layer conditions one node (a parent, or in a one-sex species an
// individual with both its roles) on each of its kept genotypes in turn, multiplies the tables
// of its families into its mates' weights, sums out every node thereby left with a single family
// and recurses on what remains; the sum over all paths is the probability of the graph.
//
// The graph entering a layer does not depend on the genotypes conditioned above it, so a layer's
// node list, its conditioning node and its genotype merges are fixed on its first visit and
// reused by every later path. The first descent may take at most as many layers as the smaller
// sex has parents; a deeper one is abandoned and redone conditioning that sex only.
//
// Path values carry their own natural-log factor (layerxlog), into which the weights of nodes
// that still hold families are rescaled every numlayerscaler layers. Relative cut-offs drop
// negligible branches: against the best path value and the best product of conditioning
// genotypes' reduction weights at the same layer, the best product of the weight sums a layer
// touched, and the mass each conditioning genotype of a layer contributed on earlier visits.
#include <algorithm>
#include <cassert>
#include <cmath>

#include "core/modules/absorbvar.hpp"
#include "core/modules/likelihood_seams.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/full_sib_internal.hpp"
#include "likelihood/layer/layer_internal.hpp"
#include "likelihood/work_arrays_internal.hpp"

namespace kinrad {

namespace {

constexpr int4 kUnknown = 2147483647;
constexpr real8 kHuge = 1e300;  // a log below every path's

real8 lnx(real8 x) {
  return x > 0.0 ? std::log(x) : -kHuge;
}

struct LayerRun {
  bool mono = false;
  LocusKind kind;
  bool trim = false;  // merge equivalent genotypes per layer state
  int4 scaler = 3;
  int4 depth = 0;  // layers the first descent may take
  bool abandoned = false;

  static real8* weights(int4 p, int4 s) {
    Likelihoodvar& lv = likelihoodvar;
    return &lv.layerweight(lv.layerwloc(p) + 1, s);
  }
  static int4 count(int4 p) { return likelihoodvar.hsprobdim(p); }
  static bool is_father(int4 f, int4 p) { return absorbvar.pairparent(1, f) == p; }
  static int4 other(int4 f, int4 p) {
    const Absorbvar& ab = absorbvar;
    return ab.pairparent(1, f) == p ? ab.pairparent(2, f) : ab.pairparent(1, f);
  }
  FamilyTable table(int4 f) const {
    return mono ? locus_family_table(f, kind) : family_table(f, kind);
  }
  static real8 sum_of(int4 p, int4 s) {
    const real8* w = weights(p, s);
    real8 sum = 0.0;
    for (int4 i = 0; i < count(p); ++i) sum += w[i];
    return sum;
  }
  static real8 lnprec1() { return lnx(variables.prec1); }
  // Notes that a relative cut-off dropped a branch (when it did) and passes the verdict on.
  static bool cut(bool dropped) {
    if (dropped) likelihoodvar.layercut = 1;
    return dropped;
  }
  static bool found() { return likelihoodvar.layerprb > 0.0; }

  static void scale_path(int4 s, real8 factor) { layer_scale_path(s, factor); }
  static real8 path_log(int4 s) {
    const real8 x = likelihoodvar.layerxvalue(s);
    return x > 0.0 ? std::log(x) + likelihoodvar.layerxlog(s) : -kHuge;
  }

  static void reducemate(int4 p, int4 f, int4 s) { layer_remove_link(p, f, s); }

  static void touch(int4 q) {
    Likelihoodvar& lv = likelihoodvar;
    if (lv.layerdone(q) != 0) return;
    lv.layerdone(q) = 1;
    lv.layertouched(++lv.layertouched(0)) = q;
  }
  // Clears the touched marks of the layer in hand.
  static void resetlayerdone() {
    Likelihoodvar& lv = likelihoodvar;
    for (int4 i = 1; i <= lv.layertouched(0); ++i) lv.layerdone(lv.layertouched(i)) = 0;
    lv.layertouched(0) = 0;
  }

  // After q's weights changed in state s: a node with no family left closes its sum into the
  // path value, one with a single family waits to be summed out. True when the branch is to be
  // dropped (nothing left, or, once the layers are known, a value under the layer's cut).
  bool settle(int4 q, int4 s, bool cuts) {
    Likelihoodvar& lv = likelihoodvar;
    const int4 m = lv.layernummate(q, s);
    if (m == 0) {
      scale_path(s, sum_of(q, s));
      if (lv.layerxvalue(s) == 0.0) return true;
      return cuts && cut(path_log(s) < lv.layerxcut(s));
    }
    if (m == 1) lv.layersingle(++lv.layersingle(0)) = q;
    return false;
  }

  // Multiplies family f, with node p fixed at genotype position g, into its other node's
  // weights in state s.
  void absorbmate(int4 f, int4 p, int4 g, int4 s) {
    const FamilyTable t = table(f);
    const bool pfather = is_father(f, p);
    const int4 q = other(f, p);
    real8* w = weights(q, s);
    if (!t.neutral) {
      for (int4 j = 1; j <= count(q); ++j)
        if (w[j - 1] != 0.0) w[j - 1] *= pfather ? t(g, j) : t(j, g);
    }
    reducemate(q, f, s);
    touch(q);
  }

  // Sums node p (one family left) out into that family's other node in state s. Where the
  // mate's genotypes fall into fewer table classes than genotypes, each class's sum is formed
  // once and spread to its genotypes.
  void layerabsorbm(int4 p, int4 s) {
    Likelihoodvar& lv = likelihoodvar;
    const int4 f = lv.layermate(1, p, s);
    const FamilyTable t = table(f);
    const bool pfather = is_father(f, p);
    const int4 q = other(f, p);
    const real8* wp = weights(p, s);
    real8* wq = weights(q, s);
    const int4 np = count(p), nq = count(q);
    if (t.neutral) {
      scale_path(s, sum_of(p, s));
    } else {
      const int4 side = pfather ? 2 : 1;  // q's side of the table
      const int4* qcls = pfather ? t.mcls : t.fcls;
      const int4* pcls = pfather ? t.fcls : t.mcls;
      const bool classes = !mono && !t.direct && qcls != nullptr && f <= variables.numfsibship &&
                           lv.equilineq(f, side) == 0 &&
                           std::max(t.rows, t.cols) <= lv.layerclsum.ubound(1);
      if (classes) {
        real8* sums = &lv.layerclsum(1);
        const int4 width = lv.layerclsum.ubound(1);
        for (int4 k = 1; k <= lv.equiline(0, f, side); ++k) {
          const int4 c = lv.equiline(k, f, side);
          if (c < 1 || c > width) continue;
          real8 sum = 0.0;
          for (int4 i = 1; i <= np; ++i) {
            if (wp[i - 1] == 0.0) continue;
            const int4 x = pcls != nullptr ? pcls[i - 1] : i;
            sum += wp[i - 1] * (pfather ? t.cell(x, c) : t.cell(c, x));
          }
          sums[c - 1] = sum;
        }
        // A genotype outside the family's table (class 0) reads 0, as through the table.
        for (int4 j = 1; j <= nq; ++j) {
          if (wq[j - 1] == 0.0) continue;
          const int4 c = qcls[j - 1];
          wq[j - 1] *= c >= 1 && c <= width ? sums[c - 1] : 0.0;
        }
      } else {
        for (int4 j = 1; j <= nq; ++j) {
          if (wq[j - 1] == 0.0) continue;
          real8 sum = 0.0;
          for (int4 i = 1; i <= np; ++i)
            if (wp[i - 1] != 0.0) sum += wp[i - 1] * (pfather ? t(i, j) : t(j, i));
          wq[j - 1] *= sum;
        }
      }
    }
    lv.layernummate(p, s) = 0;
    reducemate(q, f, s);
    touch(q);
  }

  // Sums out every listed single in state s; true when the branch is to be dropped.
  bool absorb_singles(int4 s, bool cuts) {
    Likelihoodvar& lv = likelihoodvar;
    while (lv.layersingle(0) > 0) {
      const int4 p = lv.layersingle(lv.layersingle(0)--);
      if (lv.layernummate(p, s) != 1) continue;  // already summed out or closed
      const int4 q = other(lv.layermate(1, p, s), p);
      layerabsorbm(p, s);
      if (lv.layerxvalue(s) == 0.0 || settle(q, s, cuts)) {
        lv.layersingle(0) = 0;
        return true;
      }
    }
    return false;
  }

  // Adds the value of the finished path of state s to the sum, both carried with their log
  // factors. The first path found ends any stricter precision the caller set for the search.
  static void addgtypeprb(int4 s) {
    Likelihoodvar& lv = likelihoodvar;
    const real8 x = lv.layerxvalue(s);
    const real8 f = lv.layerxlog(s);
    if (x <= 0.0) return;
    if (lv.layerprb <= 0.0) {
      lv.layerprb = x;
      lv.layerlogfactor = f;
      variables.prec1 = variables.prec2;
      variables.prec3 = 0.1 * variables.prec2;
      return;
    }
    const real8 d = lv.layerlogfactor - f;
    if (std::abs(d) < 1e-10) {
      lv.layerprb += x;
    } else if (d < 0.0) {
      lv.layerprb = std::exp(d) * lv.layerprb + x;
      lv.layerlogfactor = f;
    } else {
      lv.layerprb += std::exp(-d) * x;
    }
  }

  // The order of node p's n genotypes by decreasing reduction weight (the first on equal
  // weights).
  static void setparentsumidx(int4 p, int4 n, int4* order) {
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

  // The nodes holding families as layer `layer` is entered (state layer - 1), in the order of
  // the previous layer's list. Every other node holds no family in state `layer` either: its
  // count there is cleared once, as the paths write only the listed nodes' states.
  static void setlayerprnt(int4 layer) {
    Likelihoodvar& lv = likelihoodvar;
    const int4 s = layer - 1;
    for (int4 k = 1; k <= lv.layercore(0); ++k) lv.layernummate(lv.layercore(k), layer) = 0;
    int4 n = 0;
    if (layer == 1) {
      for (int4 k = 1; k <= lv.layercore(0); ++k) {
        const int4 p = lv.layercore(k);
        if (lv.layernummate(p, s) > 0) lv.layerprnt(++n, layer) = p;
      }
    } else {
      for (int4 k = 1; k <= lv.layerprnt(0, layer - 1); ++k) {
        const int4 p = lv.layerprnt(k, layer - 1);
        if (lv.layernummate(p, s) > 0) lv.layerprnt(++n, layer) = p;
      }
    }
    lv.layerprnt(0, layer) = n;
  }

  // The conditioning node of a layer. Two sexes: the parent with most families, equal counts
  // going to the strictly larger key; sexes in the order of absorbsex, each in list order (the
  // first on equal keys). One sex: the individual with most families, one more when it holds
  // both roles, the first in scan order on ties. 0 when the graph is empty.
  int4 findabsorbindiv(int4 layer) const {
    const Likelihoodvar& lv = likelihoodvar;
    const int4 s = layer - 1;
    int4 best = 0, bestm = 0;
    int8 bestkey = 0;
    for (int4 sex = lv.absorbsex[0];; sex += lv.absorbsex[2]) {
      for (int4 k = 1; k <= lv.layerprnt(0, layer); ++k) {
        const int4 p = lv.layerprnt(k, layer);
        if ((lv.layerrole(p) & sex) == 0) continue;
        int4 m = lv.layernummate(p, s);
        if (m == 0) continue;
        if (mono) {
          if (lv.layerrole(p) == 3) ++m;
          if (m > bestm) {
            bestm = m;
            best = p;
          }
          continue;
        }
        if (m < bestm) continue;
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

  // Genotypes of a node in state s whose rows of every table with its current families are the
  // same merge into the first of them (their weights summed there). Found on the state's first
  // visit for every node whose families changed since the previous state and that reads no pair
  // table; applied again on every later visit. The conditioning node p's reduction weights are
  // merged the same way (saved in trimpsave(:, layer) and put back by untrim).
  void trimming(int4 s, int4 p, int4 layer) {
    Likelihoodvar& lv = likelihoodvar;
    if (lv.newlayerq(s) != 0) {
      lv.newlayerq(s) = 0;
      lv.trimfirst(s) = lv.trimused + 1;
      for (int4 k = 1; k <= lv.layerprnt(0, layer); ++k) {
        const int4 q = lv.layerprnt(k, layer);
        const int4 n = lv.selectedpnum(q);
        const int4 m = lv.layernummate(q, s);
        if (n < 2 || m == 0) continue;
        if (s > 0 && m == lv.layernummate(q, s - 1)) continue;
        bool pair = false;
        for (int4 i = 1; i <= m && !pair; ++i) pair = f_has_pair_table(lv.layermate(i, q, s));
        if (pair) continue;
        for (int4 j = 2; j <= n; ++j) {
          const int4 g2 = lv.idxselectedp(j, q);
          for (int4 i = 1; i < j; ++i) {
            const int4 g1 = lv.idxselectedp(i, q);
            if (merged(q, g1, s)) continue;
            if (same_rows(q, g1, g2, s)) {
              const int4 c = ++lv.trimused;
              lv.trimmap(1, c) = q;
              lv.trimmap(2, c) = g2;
              lv.trimmap(3, c) = g1;
              break;
            }
          }
        }
      }
      lv.trimlast(s) = lv.trimused;
    }
    bool saved = false;
    for (int4 c = lv.trimfirst(s); c <= lv.trimlast(s); ++c) {
      const int4 q = lv.trimmap(1, c), g2 = lv.trimmap(2, c), g1 = lv.trimmap(3, c);
      real8* w = weights(q, s);
      w[g1 - 1] += w[g2 - 1];
      w[g2 - 1] = 0.0;
      if (q != p) continue;
      if (!saved) {
        for (int4 g = 1; g <= count(p); ++g) lv.trimpsave(g, layer) = lv.parentsum(g, p);
        saved = true;
      }
      lv.parentsum(g1, p) += lv.parentsum(g2, p);
    }
  }
  void untrim(int4 s, int4 p, int4 layer) {
    Likelihoodvar& lv = likelihoodvar;
    for (int4 c = lv.trimfirst(s); c <= lv.trimlast(s); ++c) {
      if (lv.trimmap(1, c) != p) continue;
      for (int4 g = 1; g <= count(p); ++g) lv.parentsum(g, p) = lv.trimpsave(g, layer);
      return;
    }
  }
  static bool f_has_pair_table(int4 f) {
    std::ptrdiff_t ld = 0;
    return layer_pair_table(f, ld) != nullptr;
  }
  // Whether g2 of node q was merged into another genotype in state s already.
  static bool merged(int4 q, int4 g, int4 s) {
    const Likelihoodvar& lv = likelihoodvar;
    for (int4 c = lv.trimfirst(s); c <= lv.trimused; ++c)
      if (lv.trimmap(1, c) == q && lv.trimmap(2, c) == g) return true;
    return false;
  }
  // Whether genotypes g1 and g2 of node q read the same class of every table q holds in state s.
  bool same_rows(int4 q, int4 g1, int4 g2, int4 s) const {
    const Likelihoodvar& lv = likelihoodvar;
    for (int4 i = 1; i <= lv.layernummate(q, s); ++i) {
      const int4 f = lv.layermate(i, q, s);
      const FamilyTable t = table(f);
      if (t.neutral) continue;
      const int4* cls = is_father(f, q) ? t.fcls : t.mcls;
      if (cls == nullptr || cls[g1 - 1] != cls[g2 - 1]) return false;
    }
    return true;
  }

  // Copies the nodes of a layer's list from state from to state to.
  static void copy_state(int4 layer, int4 from, int4 to) {
    Likelihoodvar& lv = likelihoodvar;
    for (int4 k = 1; k <= lv.layerprnt(0, layer); ++k) {
      const int4 p = lv.layerprnt(k, layer);
      const int4 m = lv.layernummate(p, from);
      lv.layernummate(p, to) = m;
      for (int4 i = 1; i <= m; ++i) lv.layermate(i, p, to) = lv.layermate(i, p, from);
      const real8* a = weights(p, from);
      real8* b = weights(p, to);
      for (int4 i = 0; i < count(p); ++i) b[i] = a[i];
    }
  }

  // Builds layer state `layer` for node p fixed at genotype position g: its families into its
  // mates, the singles this leaves summed out, the layer product of the touched nodes' weight
  // sums tested against the best of the layer, and every numlayerscaler layers the weights of
  // nodes whose families changed rescaled into the path's log. True when the branch is dropped.
  bool peellayer(int4 layer, int4 p, int4 g) {
    Likelihoodvar& lv = likelihoodvar;
    const int4 s = layer;
    // Early cuts only once the layers are known: the first descent completes each state, whose
    // shape it records.
    const bool cuts = lv.numlayer != kUnknown;
    lv.layersingle(0) = 0;
    const int4 m = lv.layernummate(p, s);
    lv.layernummate(p, s) = 0;
    for (int4 k = 1; k <= m; ++k) {
      const int4 f = lv.layermate(k, p, s);
      const int4 q = other(f, p);
      absorbmate(f, p, g, s);
      if (settle(q, s, cuts)) {
        resetlayerdone();
        return true;
      }
    }
    if (absorb_singles(s, cuts)) {
      resetlayerdone();
      return true;
    }
    real8 lnp = 0.0;
    bool any = false, drop = false;
    for (int4 i = 1; i <= lv.layertouched(0); ++i) {
      const int4 q = lv.layertouched(i);
      if (lv.layernummate(q, s) == 0) continue;
      const real8 sum = sum_of(q, s);
      if (sum <= 0.0) drop = true;
      lnp += lnx(sum);
      any = true;
    }
    resetlayerdone();
    if (drop) return true;
    if (any) {
      real8& top = lv.layerrange(layer);
      if (lnp > top) {
        top = lnp;
      } else if (cut(lnp < top + lnprec1())) {
        return true;
      }
    }
    if (layer % scaler == 0) {
      real8 prod = 1.0;
      for (int4 k = 1; k <= lv.layerprnt(0, layer); ++k) {
        const int4 q = lv.layerprnt(k, layer);
        const int4 n = lv.layernummate(q, s);
        if (n == 0 || n == lv.layernummate(q, s - scaler)) continue;
        const real8 sum = sum_of(q, s);
        if (sum > 0.5) continue;
        if (sum <= 1e-300) return true;
        if (sum > 1e-100) {
          prod *= sum;
          if (prod < 1e-200) {
            lv.layerxlog(s) += std::log(prod);
            prod = 1.0;
          }
        } else {
          lv.layerxlog(s) += std::log(sum);
        }
        real8* w = weights(q, s);
        for (int4 i = 0; i < count(q); ++i) w[i] /= sum;
      }
      lv.layerxlog(s) += std::log(prod);
    }
    return false;
  }

  // Puts the sums of the conditioning slots of a layer in the scale of the total; returns the
  // factor applied.
  static real8 align_sums(int4 layer, int4 n) {
    Likelihoodvar& lv = likelihoodvar;
    const real8 d = lv.sumlayerlog(layer) - lv.layerlogfactor;
    lv.sumlayerlog(layer) = lv.layerlogfactor;
    if (d == 0.0) return 1.0;
    // The total's factor only rises once a path is found; before that every sum is 0.
    const real8 factor = d < 0.0 ? std::exp(d) : 1.0;
    for (int4 i = 1; i <= n; ++i) lv.sumlayeridx(i, layer) *= factor;
    return factor;
  }

  void locuslikelihood(int4 layer) {
    Likelihoodvar& lv = likelihoodvar;
    const Variables& v = variables;
    const int4 prev = layer - 1;
    if (!mono) {
      // Chains, singles and parallel parents of the graph entering the layer are summed out
      // first. A graph they empty is a finished path whose value is in state prev, where the
      // sums were multiplied in.
      prune(layer);
      if (lv.allabsorbedlayer == layer) {
        if (lv.numlayer == kUnknown) lv.numlayer = layer;
        addgtypeprb(prev);
        clear_changed_pairs(layer);
        return;
      }
      int4 skip = 0;
      chknewfsprob(layer, skip);
      if (skip == 1) {
        clear_changed_pairs(layer);
        return;
      }
    }
    if (lv.layerpeel(layer) == 0) {
      setlayerprnt(layer);
      lv.layerpeel(layer) = findabsorbindiv(layer);
      if (lv.layerpeel(layer) == 0) lv.layerpeel(layer) = -1;
    }
    const int4 p = lv.layerpeel(layer);
    if (p < 0) {
      addgtypeprb(prev);
      if (!mono) clear_changed_pairs(layer);
      return;
    }
    lv.layerdeepest = std::max(lv.layerdeepest, layer);
    if (trim) trimming(prev, p, layer);
    const int4 n = lv.selectedpnum(p);
    // At loci of at most two alleles a node that kept all its genotypes (listed in genotype
    // order) is conditioned heaviest first.
    int4 order[3] = {0, 0, 0};
    const bool ordered = lv.crrtmarkertype < 3 && (mono ? n == 3 : (n == count(p) && n <= 3));
    if (ordered) setparentsumidx(p, n, order);
    // Conditioning genotypes whose earlier visits of this layer contributed little are passed
    // over: below prec3 times the largest contribution.
    real8 threshold = 0.0;
    if (lv.sumlayerlog(layer) <= -kHuge) {
      for (int4 i = 1; i <= n; ++i) lv.sumlayeridx(i, layer) = 0.0;
      lv.sumlayerlog(layer) = lv.layerlogfactor;
    } else {
      align_sums(layer, n);
      real8 top = 0.0;
      for (int4 i = 1; i <= n; ++i) top = std::max(top, lv.sumlayeridx(i, layer));
      threshold = v.prec3 * top;
    }
    for (int4 i = 1; i <= n; ++i) {
      const int4 slot = ordered ? order[i - 1] : i;
      const int4 g = ordered ? slot : lv.idxselectedp(slot, p);
      const real8 wg = weights(p, prev)[g - 1];
      if (wg <= 0.0) continue;
      const real8 done = lv.sumlayeridx(slot, layer);
      if (cut(done > 1e-300 && done < threshold)) continue;
      // Low precision at a dominant locus: once a sum is found, the third conditioning slot is
      // no longer visited. The slot is the position in the parent's kept list (in weight order
      // when all three genotypes are kept), so a parent that kept two genotypes visits both.
      if (cut(!mono && slot == 3 && lv.crrtmarkertype == 1 && v.likelihoodprecision < 2 && found()))
        continue;
      // The product of the conditioning genotypes' reduction weights: the genotypes come
      // heaviest first, so once one falls far below the best product of the layer the rest of
      // the loop is dropped (in a one-sex species once a path is found).
      const real8 z = lnx(lv.parentsum(g, p)) + lv.layerzlog(prev);
      if (z > lv.layerzrange(layer)) {
        lv.layerzrange(layer) = z;
      } else if (cut(z < lv.layerzrange(layer) + lnprec1() && (!mono || found()))) {
        break;
      }
      lv.layerzlog(layer) = z;
      if (cut(std::log(wg) + path_log(prev) < lv.layerxcut(layer))) continue;
      const real8 prb0 = lv.layerprb;
      const real8 lf0 = lv.layerlogfactor;
      copy_state(layer, prev, layer);
      lv.layerxvalue(layer) = lv.layerxvalue(prev);
      lv.layerxlog(layer) = lv.layerxlog(prev);
      scale_path(layer, wg);
      const bool drop = peellayer(layer, p, g);
      bool last = lv.numlayer != kUnknown && layer >= lv.numlayer;
      if (lv.numlayer == kUnknown && !drop) {
        bool left = false;
        for (int4 k = 1; k <= lv.layerprnt(0, layer) && !left; ++k)
          left = lv.layernummate(lv.layerprnt(k, layer), layer) > 0;
        if (!left) lv.numlayer = layer;
        if (layer + (left ? 1 : 0) > depth) {
          abandoned = true;
          lv.numlayer = kUnknown;
          if (trim) untrim(prev, p, layer);
          return;
        }
        last = !left;
      }
      if (!drop) {
        if (last) {
          addgtypeprb(layer);
          lv.layerxcut(layer) = lnx(lv.layerprb) + lv.layerlogfactor + lnprec1();
        } else {
          const real8 x = path_log(layer);
          real8& top = lv.layerxrange(layer);
          if (x > top) {
            top = x;
            lv.layerxcut(layer) = x + lnprec1();
            locuslikelihood(layer + 1);
          } else if (!cut(x <= lv.layerxcut(layer))) {
            locuslikelihood(layer + 1);
          }
          if (abandoned) {
            if (trim) untrim(prev, p, layer);
            return;
          }
        }
      }
      // The mass this genotype added, in the scale of the total.
      const real8 factor = align_sums(layer, n);
      threshold *= factor;
      const real8 before =
          prb0 > 0.0 ? prb0 * std::exp(std::min(lf0 - lv.layerlogfactor, 0.0)) : 0.0;
      lv.sumlayeridx(slot, layer) += lv.layerprb - before;
    }
    if (!mono) clear_changed_pairs(layer);
    if (trim) untrim(prev, p, layer);
  }
};

}  // namespace

bool layer_run(const LayerSpec& spec, real8& lnsum) {
  Likelihoodvar& lv = likelihoodvar;
  Variables& v = variables;
  const int4 build = lv.layercap + 1;
  // The graph as the stage built it, for a second pass.
  for (int4 k = 1; k <= lv.layercore(0); ++k) {
    const int4 p = lv.layercore(k);
    const int4 m = lv.layernummate(p, 0);
    lv.layernummate(p, build) = m;
    for (int4 i = 1; i <= m; ++i) lv.layermate(i, p, build) = lv.layermate(i, p, 0);
    const real8* a = LayerRun::weights(p, 0);
    real8* b = LayerRun::weights(p, build);
    for (int4 i = 0; i < LayerRun::count(p); ++i) b[i] = a[i];
  }
  LayerRun run;
  run.mono = spec.mono;
  run.kind = spec.kind;
  likelihood_work.layer_kind = spec.kind;
  run.scaler = v.maxfsibsize <= 99 ? 3 : 1;
  lv.numlayerscaler = run.scaler;
  run.trim = !spec.mono && lv.maxselectedp > 3;
  // Layer states the passes may use: the bound of the first two passes is the smaller sex's
  // parent count; a third pass, should the second be abandoned too, lifts it to every parent.
  const int4 states = std::min(v.numparent(3), lv.layercap - 1);
  v.numlayer0 = v.numparent(1);
  if (!spec.mono) layer_absorb_setup(lv.layercap);

  // Precision of the layer peeling: at most 1e-6 (1e-3 at dominant loci), and much finer for
  // large dominant families; the caller's value is back after the peeling.
  const real8 caller = v.prec1;
  const bool dominant = lv.crrtmarkertype <= 1;
  real8 t = 1.0;
  if (dominant) {
    const real8 big = std::max(v.maxfsibsize, 1);
    t = 1.0 / (big * big);
    if (v.maxfsibsize > 9 && v.droprate(spec.locus) + v.othererrorrate(spec.locus) >= 1e-6)
      t *= 1e-90;
  }

  int4 pass = 1;
  for (;; ++pass) {
    if (pass == 2 || pass == 3) {
      // Condition the smaller sex (role) only: its parents cover every family.
      int4 n[3] = {0, 0, 0};
      for (int4 k = 1; k <= lv.layercore(0); ++k) {
        const int4 r = lv.layerrole(lv.layercore(k));
        n[1] += (r & 1) != 0 ? 1 : 0;
        n[2] += (r & 2) != 0 ? 1 : 0;
      }
      const int4 sex = n[1] >= n[2] ? 2 : 1;
      lv.absorbsex = {sex, sex, 1};
    }
    run.depth = pass == 3 ? states : v.numlayer0;
    if (pass == 1 && likelihood_seams.layerfirstbound > 0)
      run.depth = std::min(run.depth, likelihood_seams.layerfirstbound);
    run.abandoned = false;
    if (!spec.mono && pass > 1) layer_absorb_setup(lv.layercap);
    // State 0 from the graph the stage built.
    for (int4 k = 1; k <= lv.layercore(0); ++k) {
      const int4 p = lv.layercore(k);
      const int4 m = lv.layernummate(p, build);
      lv.layernummate(p, 0) = m;
      for (int4 i = 1; i <= m; ++i) lv.layermate(i, p, 0) = lv.layermate(i, p, build);
      const real8* a = LayerRun::weights(p, build);
      real8* b = LayerRun::weights(p, 0);
      for (int4 i = 0; i < LayerRun::count(p); ++i) b[i] = a[i];
    }
    for (int4 L = 1; L <= lv.layercap; ++L) {
      lv.layerpeel(L) = 0;
      lv.sumlayerlog(L) = -kHuge;
      lv.layerrange(L) = -kHuge;
    }
    for (int4 L = 0; L <= lv.layercap; ++L) {
      lv.layerxrange(L) = lv.layerzrange(L) = lv.layerxcut(L) = -kHuge;
      lv.newlayerq(L) = 1;
      lv.trimfirst(L) = 1;
      lv.trimlast(L) = 0;
    }
    lv.trimused = 0;
    lv.numlayer = kUnknown;
    lv.layerdeepest = 0;
    lv.layerzlog(0) = 0.0;
    lv.layerxvalue(0) = 1.0;
    lv.layerxlog(0) = 0.0;
    lv.layerprb = 0.0;
    lv.layerlogfactor = 0.0;
    v.prec2 = caller;
    v.prec1 = std::min(dominant ? 1e-3 : 1e-6, std::min(caller, t));
    v.prec3 = 0.1 * v.prec1;
    lv.layersingle(0) = 0;
    lv.layertouched(0) = 0;
    for (int4 k = 1; k <= lv.layercore(0); ++k) {
      const int4 p = lv.layercore(k);
      if (lv.layernummate(p, 0) == 1) lv.layersingle(++lv.layersingle(0)) = p;
    }
    const bool empty = run.absorb_singles(0, false);
    LayerRun::resetlayerdone();
    if (!empty) run.locuslikelihood(1);
    v.prec1 = v.prec2;
    v.prec3 = 0.1 * v.prec2;
    if (!run.abandoned) break;
    // The retry conditions one sex only and cannot need more layers than that sex has
    // parents; should it, the layers are lifted to every parent rather than a partial sum
    // taken for the likelihood.
    assert(pass == 1);
    if (pass == 3) break;
  }
  lv.layerpasses = pass;
  if (lv.layerprb <= 0.0 || run.abandoned) return false;
  lnsum = std::log(lv.layerprb) + lv.layerlogfactor;
  return true;
}

}  // namespace kinrad
