#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>

#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/full_sib_internal.hpp"
#include "likelihood/work_arrays_internal.hpp"

namespace kinrad {

TableReader table_of(int4 f) {
  const Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  TableReader t;
  const int4 idx = lv.fsprobidx(f);
  if (idx >= 1) {
    const FView<real8, 2>& a = v.fsprobdomnoerr(idx).a;
    t.base = &a(1, 1);
    t.ld = a.ubound(1) - a.lbound(1) + 1;
  } else if (lv.fsprobptr.allocated() && f <= lv.fsprobptr.ubound(1) &&
             lv.fsprobptr(f).a.associated()) {
    const FView<real8, 2>& a = lv.fsprobptr(f).a;
    t.base = &a(1, 1);
    t.ld = a.ubound(1) - a.lbound(1) + 1;
  } else {
    t.base = &lv.fsprob(1, v.fsprobloc(f) + 1);
    t.ld = lv.fsprob.ubound(1) - lv.fsprob.lbound(1) + 1;
  }
  return t;
}

namespace {

constexpr real8 kImpossible = -1e300;

// Largest weight of a receiving vector and the rescaling that keeps it at or above 1e-50;
// false when the vector carries no probability (general paths: below 1e-300).
bool rescale(real8* pr, int4 nr, bool general) {
  real8 m = 0.0;
  for (int4 i = 0; i < nr; ++i) {
    if (pr[i] > m) {
      m = pr[i];
      if (m > 1e-50) break;
    }
  }
  if (m <= 0.0 || (general && m < 1e-300)) return false;
  if (m < 1e-50) {
    real8 s = 0.0;
    for (int4 i = 0; i < nr; ++i) s += pr[i];
    likelihoodvar.loglikehoodconst += std::log(s);
    for (int4 i = 0; i < nr; ++i) pr[i] /= s;
  }
  return true;
}

// Entry j of the absorb list at a locus with typing errors or at a dominant locus, from the
// family's table (or the shared dominant tables); false when the family is impossible.
bool other_branches(int4 a, int4 r, int4 f, int4 locus, int4 errorflag, bool twoallele, bool haplo,
                    bool dominant) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const bool afather = a <= v.nparent(1);
  real8* pa = &lv.crrtgenotypefre(lv.hsprobloc(a) + 1);
  real8* pr = &lv.crrtgenotypefre(lv.hsprobloc(r) + 1);
  const int4 na = lv.hsprobdim(a);
  const int4 nr = lv.hsprobdim(r);
  const TableReader t = table_of(f);

  if (dominant) {
    const int4 c1 = v.numfsgenotype(1, f);
    const int4 c2 = v.numfsgenotype(2, f);
    // The 6 values of the shared tables (errors, both counts at most 20) or of the family's
    // table: diploid a symmetric 3 x 3 matrix by rows of its upper triangle, haplodiploid 2 x 3
    // by rows (the father's alleles, the mother's genotypes).
    real8 d[7] = {0, 0, 0, 0, 0, 0, 0};
    const bool shared = errorflag != 0 && c1 <= 20 && c2 <= 20;
    if (shared) {
      const int4 b = v.dominantloci(locus);
      lv.loglikehoodconst += v.domprobgivengtypeconst(c1, c2, b);
      for (int4 k = 1; k <= 6; ++k) d[k] = v.domprobgivengtype(k, c1, c2, b);
    } else if (haplo) {
      for (int4 k = 1; k <= 3; ++k) {
        d[k] = t(1, k);
        d[3 + k] = t(2, k);
      }
    }
    if (haplo) {
      if (afather) {
        for (int4 g = 1; g <= 3 && g <= nr; ++g) pr[g - 1] *= d[g] * pa[0] + d[3 + g] * pa[1];
      } else {
        for (int4 x = 1; x <= 2 && x <= nr; ++x)
          pr[x - 1] *= d[3 * x - 2] * pa[0] + d[3 * x - 1] * pa[1] + d[3 * x] * pa[2];
      }
      return rescale(pr, nr, false);
    }
    if (errorflag != 0) {
      if (!shared) {
        d[1] = t(1, 1), d[2] = t(1, 2), d[3] = t(1, 3);
        d[4] = t(2, 2), d[5] = t(2, 3), d[6] = t(3, 3);
      }
      const real8 p1 = pa[0], p2 = pa[1], p3 = pa[2];
      pr[0] *= d[1] * p1 + d[2] * p2 + d[3] * p3;
      pr[1] *= d[2] * p1 + d[4] * p2 + d[5] * p3;
      pr[2] *= d[3] * p1 + d[5] * p2 + d[6] * p3;
    } else if (c1 == 0 && c2 == 0) {
      const real8 s = pa[0] + pa[1] + pa[2];
      if (std::abs(s - 1.0) > 1e-6)
        for (int4 i = 0; i < 3; ++i) pr[i] *= s;
    } else if (c1 == 0) {
      const real8 x = v.power2(c2);
      pr[0] = 0.0;
      pr[1] *= x * (x * pa[1] + pa[2]);
      pr[2] *= x * pa[1] + pa[2];
    } else if (c2 == 0) {
      pr[0] *= pa[0] + pa[1] + pa[2];
      pr[1] *= pa[0] + v.power3(c1) * pa[1] + v.power2(c1) * pa[2];
      pr[2] *= pa[0] + v.power2(c1) * pa[1];
    } else {
      const real8 q2 = t(2, 2) * pa[1] + t(3, 2) * pa[2];
      const real8 q3 = t(2, 3) * pa[1] + t(3, 3) * pa[2];
      pr[0] = 0.0;
      pr[1] *= q2;
      pr[2] *= q3;
    }
    return rescale(pr, nr, false);
  }

  // Codominant locus with typing errors.
  if (haplo) {
    // Rows are the father's alleles whichever parent is summed out; the summed-out parent's
    // entries of weight at most 1e-300 at both ends of its list are skipped.
    int4 lo = 0, hi = na - 1;
    while (lo <= hi && pa[lo] <= 1e-300) ++lo;
    while (hi >= lo && pa[hi] <= 1e-300) --hi;
    const int4* acls =
        twoallele ? nullptr : &lv.idxtgt(lv.idxloc(2 * f + (afather ? 1 : 2) - 3) + 1);
    const int4* rcls =
        twoallele ? nullptr : &lv.idxtgt(lv.idxloc(2 * f + (afather ? 2 : 1) - 3) + 1);
    // Mothers' genotypes beyond a trimmed table's dimension have no entries.
    const int4 ycut = twoallele ? 3 : lv.fsprobdim(f);
    for (int4 i = 0; i < nr; ++i) {
      const int4 y = twoallele ? i + 1 : rcls[i];
      real8 s = 0.0;
      if (y >= 1 && (!afather || y <= ycut)) {
        for (int4 k = lo; k <= hi; ++k) {
          const int4 x = twoallele ? k + 1 : acls[k];
          if (x < 1 || (!afather && x > ycut)) continue;
          s += (afather ? t(x, y) : t(y, x)) * pa[k];
        }
      }
      pr[i] *= s;
    }
    return rescale(pr, nr, true);
  }
  if (twoallele) {
    if (t(2, 1) < 0.0) {
      // A table marked empty: the family tells nothing here.
      const real8 s = pa[0] + pa[1] + pa[2];
      if (s < 1.0 - 0x1p-53 || s > 1.0)
        for (int4 i = 0; i < nr; ++i) pr[i] *= s;
      return rescale(pr, nr, false);
    }
    real8 q[3];
    for (int4 y = 1; y <= 3; ++y) q[y - 1] = t(1, y) * pa[0] + t(2, y) * pa[1] + t(3, y) * pa[2];
    for (int4 i = 0; i < 3 && i < nr; ++i) pr[i] *= q[i];
    return rescale(pr, nr, true);
  }
  if (lv.numallelefs(f) == 1) {
    real8 s = 0.0;
    for (int4 i = 0; i < na; ++i) s += pa[i];
    if (s < 1.0 - 0x1p-53)
      for (int4 i = 0; i < nr; ++i) pr[i] *= s;
    return rescale(pr, nr, true);
  }
  // Class weights of the parent summed out, then per receiving class the sum over the classes
  // the family's lists name.
  const int4 ncls = v.genotypenum(lv.numallelefs(f));
  real8* w = &lv.peelweight(1) - 1;
  real8* q = &lv.peelsum(1) - 1;
  for (int4 c = 1; c <= ncls; ++c) {
    w[c] = 0.0;
    q[c] = 0.0;
  }
  const int4* acls = &lv.idxtgt(lv.idxloc(2 * f + (afather ? 1 : 2) - 3) + 1);
  const int4* rcls = &lv.idxtgt(lv.idxloc(2 * f + (afather ? 2 : 1) - 3) + 1);
  for (int4 i = 0; i < na; ++i)
    if (acls[i] >= 1 && acls[i] <= ncls) w[acls[i]] += pa[i];
  const int4 n = lv.fsgtypeidx(0, f);
  auto sum_over = [&](int4 y, auto&& each_x) {
    real8 s = 0.0;
    each_x([&](int4 x) { s += t(x, y) * w[x]; });
    q[y] = s;
  };
  if (n == 0) {
    // A trimmed table holds nothing beyond its dimension.
    const int4 used = std::min<int4>(ncls, lv.fsprobdim(f));
    for (int4 y = 1; y <= used; ++y)
      sum_over(y, [&](auto&& add) {
        for (int4 x = 1; x <= used; ++x) add(x);
      });
  } else if (n < 10) {
    for (int4 k = 1; k <= n; ++k)
      sum_over(lv.fsgtypeidx(k, f), [&](auto&& add) {
        for (int4 m = 1; m <= n; ++m) add(lv.fsgtypeidx(m, f));
      });
  } else {
    const int4 first = lv.fsgtypeidx(1, f);
    const int4 last = lv.fsgtypeidx(2, f);
    for (int4 y = 1; y <= ncls; ++y) {
      const uint32_t word = static_cast<uint32_t>(lv.fsgtypejdx((y - 1) / 32 + 1, f));
      if (((word >> ((y - 1) % 32)) & 1u) == 0) continue;
      sum_over(y, [&](auto&& add) {
        for (int4 x = first; x <= last; ++x) add(x);
      });
    }
  }
  for (int4 i = 0; i < nr; ++i) {
    const int4 y = rcls[i];
    pr[i] *= (y >= 1 && y <= ncls) ? q[y] : 0.0;
  }
  return rescale(pr, nr, true);
}

}  // namespace

void peel(int4 locus, int4 numallele, int4 numgenotype, int4 errorflag, real8& logl) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const bool twoallele = numallele <= 2;
  const bool haplo = v.haplodiploid == 1;
  const bool dominant = v.crrtmarkerdomq == 1;
  const bool general = !dominant && errorflag != 0 && !twoallele && !haplo;
  if (general) {
    engine::grow(lv.peelweight, Dim(std::max(numgenotype, 1)));
    engine::grow(lv.peelsum, Dim(std::max(numgenotype, 1)));
  }
  const int4 nlist = lv.mabsorb(1);

  for (int4 j = 1; j <= nlist; ++j) {
    const int4 a = lv.iabsorb(1, j);
    const int4 r = lv.iabsorb(2, j);
    const int4 f = lv.nabsorb(j);
    const bool afather = a <= v.nparent(1);
    real8* pa = &lv.crrtgenotypefre(lv.hsprobloc(a) + 1);
    real8* pr = &lv.crrtgenotypefre(lv.hsprobloc(r) + 1);
    const int4 na = lv.hsprobdim(a);
    const int4 nr = lv.hsprobdim(r);
    const bool typed = v.numfsgenotype(1, f) + v.numfsgenotype(2, f) > 0;
    bool changed = false;

    if (!typed) {
      // No offspring typed here: the family tells nothing about its parents, but the parent
      // summed out still carries its own observation and every family absorbed into it.
      real8 s = 0.0;
      for (int4 i = 0; i < na; ++i) s += pa[i];
      if (s <= 1e-300) {
        logl = kImpossible;
        return;
      }
      lv.loglikehoodconst += std::log(s);
    } else if (lv.fsprobdim(f) >= 1 && (dominant || errorflag != 0)) {
      if (!other_branches(a, r, f, locus, errorflag, twoallele, haplo, dominant)) {
        logl = kImpossible;
        return;
      }
      changed = true;
    } else if (lv.fsprobdim(f) >= 1) {
      const TableReader t = table_of(f);
      const uint16_t rowmask = static_cast<uint16_t>(v.equirowcol(f, 1));
      const uint16_t colmask = haplo ? static_cast<uint16_t>(v.equirowcol(f, 2)) : rowmask;
      const int4 cols = lv.fsprobdim(f);
      const int4 rows = haplo ? (twoallele ? 2 : lv.numallelefs(f)) : cols;
      // Parent classes through the family's index lists (the genotypes themselves at
      // two-allele loci).
      const int4* acls = &lv.idxtgt(lv.idxloc(2 * f + (afather ? 1 : 2) - 3) + 1);
      const int4* rcls = &lv.idxtgt(lv.idxloc(2 * f + (afather ? 2 : 1) - 3) + 1);
      const uint16_t amask = afather ? rowmask : colmask;
      const uint16_t rmask = afather ? colmask : rowmask;
      const int4 adim = afather ? rows : cols;
      const int4 rdim = afather ? cols : rows;
      // The absorbed parent's compatible entries, their classes and weights (any number of
      // them: many genotypes of a parent with a long allele list share a class).
      engine::grow(lv.peelclass, Dim(std::max(na, 1)));
      engine::grow(lv.peelclassweight, Dim(std::max(na, 1)));
      int4* xc = &lv.peelclass(1);
      real8* xw = &lv.peelclassweight(1);
      int4 nx = 0;
      for (int4 i = 0; i < na; ++i) {
        const int4 c = twoallele ? i + 1 : acls[i];
        if (c < 1 || c > adim || !has_bit(amask, c) || pa[i] <= 0.0) continue;
        xc[nx] = c;
        xw[nx] = pa[i];
        ++nx;
      }
      std::array<real8, kMaxFsClass + 1> qy;
      qy.fill(-1.0);
      for (int4 i = 0; i < nr; ++i) {
        if (pr[i] <= 1e-300) continue;
        const int4 y = twoallele ? i + 1 : rcls[i];
        if (y < 1 || y > rdim || !has_bit(rmask, y)) {
          pr[i] = 0.0;
          continue;
        }
        if (qy[y] < 0.0) {
          real8 s = 0.0;
          if (afather) {
            for (int4 k = 0; k < nx; ++k) s += t(xc[k], y) * xw[k];
          } else {
            for (int4 k = 0; k < nx; ++k) s += t(y, xc[k]) * xw[k];
          }
          qy[y] = s;
        }
        pr[i] *= qy[y];
      }
      changed = true;
      // Rescaling: keep the largest weight at or above 1e-50.
      real8 m = 0.0;
      for (int4 i = 0; i < nr; ++i) {
        if (pr[i] > m) {
          m = pr[i];
          if (m > 1e-50) break;
        }
      }
      if (m <= 0.0 || m < 1e-300) {
        logl = kImpossible;
        return;
      }
      if (m < 1e-50) {
        real8 s = 0.0;
        for (int4 i = 0; i < nr; ++i) s += pr[i];
        lv.loglikehoodconst += std::log(s);
        for (int4 i = 0; i < nr; ++i) pr[i] /= s;
      }
    }

    lv.fsprobidx(f) = -1;
    lv.hsib(a) = 0;
    --lv.hsib(r);
    lv.fsib(f) = 0;

    // One individual acting in both roles keeps one vector.
    if (v.numsex == 1 && changed) {
      // Copied after every entry that changed the vector, also when the next entry has the
      // same receiving parent: that entry may change nothing at a locus where its family has
      // no typed offspring.
      if (lv.copyfre(j) == -1) {
        lv.copyfre(j) = 0;
        const int4 o = other_role_joint(r);
        if (o > 0 && lv.hsib(o) >= 1) lv.copyfre(j) = o;
      }
      const int4 o = lv.copyfre(j);
      if (o > 0) {
        real8* ov = &lv.crrtgenotypefre(lv.hsprobloc(o) + 1);
        const int4 room = lv.hsprobloc(o + 1) - lv.hsprobloc(o);
        for (int4 i = 0; i < nr && i < room; ++i) ov[i] = pr[i];
        lv.hsprobdim(o) = static_cast<int2>(nr < room ? nr : room);
      }
    }
  }

  if (nlist + lv.mabsorb(3) + lv.mabsorb(4) != v.numfsibship) return;
  if (nlist == 0) {
    // Nothing left to sum over (every family accounted for elsewhere).
    logl = lv.loglikehoodconst;
    return;
  }
  // Each tree of the family graph ends in its own receiving parent: families without members
  // can split a cluster into several. Every individual that received a family and was never
  // summed out closes one tree; an individual acting in both roles holds one vector, the one
  // of the role that received last.
  FArray<int4, 1>& mark = lv.hsibcopy;  // per individual: entry of its last receipt, -1 summed out
  auto individual = [](int4 p) {
    const int4 o = other_role_joint(p);
    return o > 0 && o < p ? o : p;
  };
  for (int4 j = 1; j <= nlist; ++j) {
    mark(individual(lv.iabsorb(1, j))) = 0;
    mark(individual(lv.iabsorb(2, j))) = 0;
  }
  for (int4 j = 1; j <= nlist; ++j) {
    mark(individual(lv.iabsorb(1, j))) = -1;
    const int4 ir = individual(lv.iabsorb(2, j));
    if (mark(ir) >= 0) mark(ir) = j;
  }
  real8 total = lv.loglikehoodconst;
  for (int4 j = 1; j <= nlist; ++j) {
    const int4 r = lv.iabsorb(2, j);
    const int4 ir = individual(r);
    if (mark(ir) != j) continue;
    mark(ir) = -1;  // counted
    const real8* pr = &lv.crrtgenotypefre(lv.hsprobloc(r) + 1);
    real8 s = 0.0;
    for (int4 i = 0; i < lv.hsprobdim(r); ++i) s += pr[i];
    if (s <= 1e-300) {
      logl = kImpossible;
      return;
    }
    total += std::log(s);
  }
  logl = total;
}

}  // namespace kinrad
