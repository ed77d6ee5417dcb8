// The one-sex layer stage: the graph a cluster's simple peeling leaves when one individual may
// be a father in some families and a mother in others. The layers work on individuals, so the
// two roles of one individual share one set of weights, are conditioned on one genotype together
// and are summed out once; the genotype-set reduction weighs such an individual over the
// families of both roles. The graph goes to the layer recursion (layer_run.cpp).
#include <algorithm>
#include <cmath>

#include "core/modules/absorbvar.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/full_sib_internal.hpp"
#include "likelihood/layer/layer_internal.hpp"
#include "likelihood/likelihood_internal.hpp"
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

}  // namespace

void layer_stage_mono(int4 locus, real8& logl) {
  Variables& v = variables;
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
    if (!add_closed_tree(r, total)) {
      logl = kImpossible;
      return;
    }
  }

  // The remaining graph: its individuals, their weight blocks, the roles they hold and their
  // families; the parents of each role for the genotype-set reduction.
  int4 ncore = 0, nweight = 0;
  engine::grow(lv.layercore, Dim(0, np));
  engine::grow(lv.layerwloc, Dim(1, np));
  engine::grow(lv.parentprt, Dim(0, np), Dim(2));
  lv.parentprt(0, 1) = lv.parentprt(0, 2) = 0;
  for (int4 p = 1; p <= np; ++p) {
    if (lv.hsib(p) <= 0) continue;
    const int4 role = p <= v.nparent(1) ? 1 : 2;
    lv.parentprt(++lv.parentprt(0, role), role) = p;
    if (individual_of(p) != p) continue;
    lv.layercore(++ncore) = p;
    lv.layerwloc(p) = nweight;
    nweight += lv.hsprobdim(p);
  }
  lv.layercore(0) = ncore;
  v.numparent(1) = std::min(lv.parentprt(0, 1), lv.parentprt(0, 2));
  v.numparent(2) = std::max(lv.parentprt(0, 1), lv.parentprt(0, 2));
  v.numparent(3) = lv.parentprt(0, 1) + lv.parentprt(0, 2);
  if (v.numparent(1) > 100) {
    logl = kImpossible;
    return;
  }
  // An individual holds the families of both its roles.
  layer_run_size(nweight, 2 * std::max(lv.maxnummate, 1), v.numparent(3) + 1);
  for (int4 p = 1; p <= np; ++p) lv.layernummate(p, 0) = 0;
  for (int4 k = 1; k <= ncore; ++k) {
    const int4 u = lv.layercore(k);
    const int4 o = other_role_joint(u);
    int4 roles = u <= v.nparent(1) ? 1 : 2;
    if (o > 0 && lv.hsib(o) > 0) roles |= o <= v.nparent(1) ? 1 : 2;
    lv.layerrole(u) = static_cast<int1>(roles);
  }
  // The two nodes of every family.
  Absorbvar& ab = absorbvar;
  engine::grow(ab.pairparent, Dim(1, 2), Dim(1, std::max(v.numfsibship, 1)));
  ab.numpairs = v.numfsibship;
  for (int4 f = 1; f <= v.numfsibship; ++f) {
    ab.pairparent(1, f) = father_of(f);
    ab.pairparent(2, f) = mother_of(f);
  }
  for (int4 j = lv.mabsorb(1) + 1; j <= lv.mabsorb(2); ++j) {
    const int4 f = lv.nabsorb(j);
    if (lv.fsib(f) == 0) continue;
    const int4 x = father_of(f), y = mother_of(f);
    if (x == y) continue;  // a selfed family: absorbed before the peeling
    for (const int4 u : {x, y}) lv.layermate(++lv.layernummate(u, 0), u, 0) = f;
  }
  lv.absorbsex = {1, 2, 1};

  // Genotype-set reduction, as in two-sex clusters: an individual holding both roles is weighed
  // over the families of both; every parent keeps only its selected genotypes.
  if (!layer_reduce(locus, v.obsnumallele(locus))) {
    logl = kImpossible;
    return;
  }
  if (!layer_start_weights(total)) {
    logl = kImpossible;
    return;
  }
  LayerSpec spec;
  spec.mono = true;
  spec.locus = locus;
  spec.kind.twoallele = lv.crrtmarkertype <= 2;
  spec.kind.dominant = v.crrtmarkerdomq == 1;
  spec.kind.errors = !spec.kind.dominant && v.locuserror(locus) != 0;
  real8 lnsum = 0.0;
  if (!layer_run(spec, lnsum)) {
    logl = kImpossible;
    return;
  }
  logl = total + lnsum;
}

}  // namespace kinrad
