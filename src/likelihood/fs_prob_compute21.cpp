#include <cassert>
#include <cmath>

#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/fs_prob_error_internal.hpp"
#include "likelihood/work_arrays_internal.hpp"

namespace kinrad {

namespace {

// x to the integer power n >= 1 by repeated squaring (the same products, in the same order, as
// an integer power in the original arithmetic).
inline real8 integer_power(real8 x, int4 n) {
  real8 r = 1.0;
  for (;;) {
    if ((n & 1) != 0) r *= x;
    n >>= 1;
    if (n == 0) break;
    x *= x;
  }
  return r;
}

}  // namespace

void fsprobcompute21(int4 bk, int4 fam, int4 ng, int4 rows, int4 na, int4 numallele,
                     int4 othererror, std::array<real8, 2>& wsum) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 col = lv.clusterfamilyloc(fam) + 1;
  const int4 a1 = v.fsgtype(1, col);
  const int4 a2 = v.fsgtype(2, col);
  const int4 n = v.numfsgtype(col);
  const real8 w = v.numfsgtypescaled(col);
  const int4 m = n <= 5 ? n : 1;

  FArray<real8, 4>* t = nullptr;
  int4 which = 0;
  if (a1 == a2) {
    if (a1 == 2 && numallele == 2) {
      t = &v.probgtypehom2;
      which = 1;
    } else {
      t = &v.probgtypehom3;
      which = 2;
    }
    wsum[0] += w;
  } else {
    if (na == 3) {
      t = &v.probgtypehet3;
      which = 4;
      if (othererror == 0) lv.fsprobdim(fam) = 5;
    } else {
      t = &v.probgtypehet2;
      which = 3;
    }
    wsum[1] += w;
  }
  FArray<real8, 4>& tab = *t;
  const index_t ld = tab.ubound(1);
  assert(rows <= ld && ng <= tab.ubound(2));

  // A cache slab holds the powers of the weight it was filled with; loci of one block may
  // differ slightly in their error rates, and so in the weight a count is scaled to.
  if (m >= 2) {
    FArray<real8, 3>& sw = likelihood_work.fs_slab.w;
    if (!sw.allocated() || sw.ubound(3) < bk) engine::grow(sw, {Dim(4), Dim(2, 5), Dim(bk)});
    real8& filled = sw(which, m, bk);
    if (tab(1, 1, m, bk) < 0.0 || std::abs(w - filled) > 1e-12 * std::abs(w)) {
      for (int4 j = 1; j <= ng; ++j)
        for (int4 i = 1; i <= rows; ++i) tab(i, j, m, bk) = std::pow(tab(i, j, 1, bk), w);
      filled = w;
    }
  }

  if (m == n && lv.fsprobidx(fam) != 0) {
    lv.fsprobptr(fam).a = FView<real8, 2>(&tab(1, 1, m, bk), {Dim(1, ld), Dim(1, ng)});
    return;
  }
  const int4 loc = v.fsprobloc(fam);
  if (m == n) {
    for (int4 j = 1; j <= ng; ++j)
      for (int4 i = 1; i <= rows; ++i) lv.fsprob(i, loc + j) = tab(i, j, m, bk);
    return;
  }
  const bool integral = std::abs(n - w) < 1e-10;
  auto power = [&](real8 x) { return integral ? integer_power(x, n) : std::pow(x, w); };
  if (v.haplodiploid == 1) {
    for (int4 j = 1; j <= ng; ++j)
      for (int4 i = 1; i <= rows; ++i) lv.fsprob(i, loc + j) = power(tab(i, j, 1, bk));
    return;
  }
  for (int4 j = 1; j <= ng; ++j) {
    for (int4 i = j; i <= ng; ++i) lv.fsprob(i, loc + j) = power(tab(i, j, 1, bk));
    for (int4 i = 1; i < j; ++i) lv.fsprob(i, loc + j) = lv.fsprob(j, loc + i);
  }
}

}  // namespace kinrad
