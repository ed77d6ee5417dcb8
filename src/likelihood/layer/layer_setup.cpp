// What the layer recursion works on besides the recursion itself: the reduction of the
// parents' genotype spaces before it, the start weights of the core nodes (state 0), the room
// for the layer states, and the small edits of a path's state the stages share (removing a
// link, rescaling a path value into its log factor).
#include <algorithm>
#include <cmath>

#include "core/modules/likelihood_work.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/full_sib_internal.hpp"
#include "likelihood/layer/layer_internal.hpp"
#include "likelihood/work_arrays_internal.hpp"

namespace kinrad {

void layer_remove_link(int4 p, int4 f, int4 s) {
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

void layer_scale_path(int4 s, real8 factor) {
  Likelihoodvar& lv = likelihoodvar;
  real8& x = lv.layerxvalue(s);
  x *= factor;
  if (x > 0.0 && x < 1e-200) {
    lv.layerxlog(s) += std::log(x);
    x = 1.0;
  }
}

bool layer_reduce(int4 locus, int4 numallele) {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 err = v.locuserror(locus);
  auto keep_all = [&]() {
    for (int4 s = 1; s <= 2; ++s)
      for (int4 k = 1; k <= lv.parentprt(0, s); ++k) layer_keep_selected(lv.parentprt(k, s));
  };
  lv.layercut = 0;
  reduce_clear();
  real8 reduced = -1e300;
  reducengenotype(locus, err, numallele, reduced);
  if (reduced < -1.0) return false;
  if ((err == 1 && numallele > 2) || (lv.crrtmarkertype - err <= 1 && v.numparent(1) > 10)) {
    keep_all();
    reducengenotype(locus, err, numallele, reduced);
    if (reduced < -1.0) return false;
  }
  keep_all();
  return true;
}

FamilyTable layer_table(int4 f) {
  return family_table(f, likelihood_work.layer_kind);
}

void layer_keep_selected(int4 p) {
  Likelihoodvar& lv = likelihoodvar;
  const int4 n = lv.hsprobdim(p);
  real8* w = &lv.crrtgenotypefre(lv.hsprobloc(p) + 1);
  int4* mark = &lv.indexgtype(1);
  for (int4 g = 0; g < n; ++g) mark[g] = 0;
  for (int4 i = 1; i <= lv.selectedpnum(p); ++i) mark[lv.idxselectedp(i, p) - 1] = 1;
  for (int4 g = 0; g < n; ++g)
    if (mark[g] == 0) w[g] = 0.0;
}

bool layer_start_weights(real8& lnconst) {
  Likelihoodvar& lv = likelihoodvar;
  for (int4 k = 1; k <= lv.layercore(0); ++k) {
    const int4 p = lv.layercore(k);
    const real8* w = &lv.crrtgenotypefre(lv.hsprobloc(p) + 1);
    real8* b = &lv.layerweight(lv.layerwloc(p) + 1, 0);
    const int4 n = lv.hsprobdim(p);
    real8 sum = 0.0;
    for (int4 i = 0; i < n; ++i) sum += w[i];
    if (sum <= 1e-300) return false;
    const real8 scale = sum > 0.99 ? 1.0 : sum;
    if (scale != 1.0) lnconst += std::log(scale);
    for (int4 i = 0; i < n; ++i) b[i] = w[i] / scale;
  }
  return true;
}

void layer_run_size(int4 nweight, int4 maxmate, int4 states) {
  Likelihoodvar& lv = likelihoodvar;
  const int4 np = std::max(variables.nallparent, 1);
  // The copy of state 0 sits after the deepest layer state.
  const int4 cap = std::max(states, lv.layercap);
  const int4 build = cap + 1;
  engine::grow(lv.layerweight, Dim(1, std::max(nweight, 1)), Dim(0, build));
  engine::grow(lv.layernummate, Dim(1, np), Dim(0, build));
  engine::grow(lv.layermate, {Dim(1, std::max(maxmate, 1)), Dim(1, np), Dim(0, build)});
  engine::grow(lv.layerxvalue, Dim(0, build));
  engine::grow(lv.layerxlog, Dim(0, build));
  engine::grow(lv.layerxrange, Dim(0, cap));
  engine::grow(lv.layerzrange, Dim(0, cap));
  engine::grow(lv.layerzlog, Dim(0, cap));
  engine::grow(lv.layerpeel, Dim(1, cap));
  engine::grow(lv.layerprnt, Dim(0, np), Dim(1, cap));
  engine::grow(lv.layerrole, Dim(1, np));
  const int4 width = std::max(lv.maxhsprobdim, 3);
  engine::grow(lv.sumlayeridx, Dim(1, width), Dim(1, cap));
  engine::grow(lv.sumlayerlog, Dim(1, cap));
  engine::grow(lv.layerrange, Dim(1, cap));
  engine::grow(lv.layerxcut, Dim(0, cap));
  engine::grow(lv.layerdone, Dim(1, np));
  engine::grow(lv.layertouched, Dim(0, np));
  engine::grow(lv.layersingle, Dim(0, std::max(np * std::max(maxmate, 1), 1)));
  engine::grow(lv.trimmap, Dim(1, 3), Dim(1, std::max((cap + 1) * nweight, 1)));
  engine::grow(lv.trimfirst, Dim(0, cap));
  engine::grow(lv.trimlast, Dim(0, cap));
  engine::grow(lv.newlayerq, Dim(0, cap));
  engine::grow(lv.trimpsave, Dim(1, width), Dim(1, cap));
  engine::grow(lv.layerclsum, Dim(1, std::max(lv.maxfsprobdim, width)));
  lv.layercap = cap;
  for (int4 p = 1; p <= np; ++p) lv.layerdone(p) = 0;
}

}  // namespace kinrad
