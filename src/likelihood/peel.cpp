#include <array>
#include <cassert>
#include <cmath>

#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/full_sib_internal.hpp"

namespace kinrad {

namespace {

constexpr real8 kImpossible = -1e300;

// Entry (x, y) of family f's table, x the father's class, y the mother's.
struct TableReader {
  const real8* base = nullptr;
  std::ptrdiff_t ld = 0;  // distance between columns
  real8 operator()(int4 x, int4 y) const { return base[(x - 1) + (y - 1) * ld]; }
};

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

bool has_bit(uint16_t mask, int4 c) {
  return c >= 1 && c <= 16 && (mask & (0x8000u >> (c - 1))) != 0;
}

}  // namespace

void peel(int4 locus, int4 numallele, int4 numgenotype, int4 errorflag, real8& logl) {
  (void)locus;
  (void)numgenotype;
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const bool twoallele = numallele <= 2;
  const bool haplo = v.haplodiploid == 1;
  if (v.crrtmarkerdomq == 1) engine_unavailable("full-sib families at dominant loci");
  if (errorflag != 0) engine_unavailable("full-sib families at loci with typing errors");
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
      // The absorbed parent's compatible entries, their classes and weights.
      std::array<int4, kMaxFsClass * 4> xc{};
      std::array<real8, kMaxFsClass * 4> xw{};
      int4 nx = 0;
      for (int4 i = 0; i < na; ++i) {
        const int4 c = twoallele ? i + 1 : acls[i];
        if (c < 1 || c > adim || !has_bit(amask, c) || pa[i] <= 0.0) continue;
        if (nx < static_cast<int4>(xc.size())) {
          xc[nx] = c;
          xw[nx] = pa[i];
          ++nx;
        }
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
      if (lv.copyfre(j) == -1) {
        lv.copyfre(j) = 0;
        const bool next_same = j < nlist && lv.iabsorb(2, j + 1) == r;
        const int4 o = other_role_joint(r);
        if (!next_same && o > 0 && lv.hsib(o) >= 1) lv.copyfre(j) = o;
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
