#include <array>
#include <cmath>

#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/fs_prob_error_internal.hpp"
#include "likelihood/full_sib_internal.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/likelihood_internal.hpp"
#include "likelihood/work_arrays_internal.hpp"

namespace kinrad {

namespace {

constexpr real8 kImpossible = -1e300;

// A table of ones for a family without typed offspring that is left to the layer stage: its
// whole genotype list, every genotype compatible.
void neutral_table(int4 f, int4 numallele) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const bool haplo = v.haplodiploid == 1;
  const int4 cols = numallele <= 2 ? 3 : 1;
  const int4 rows = numallele <= 2 ? (haplo ? 2 : 3) : 1;
  const int4 loc = v.fsprobloc(f);
  for (int4 c = 1; c <= cols; ++c)
    for (int4 r = 1; r <= rows; ++r) lv.fsprob(r, loc + c) = 1.0;
  lv.fsprobdim(f) = static_cast<int2>(cols);
  auto bits = [](int4 n) { return static_cast<int2>(static_cast<uint16_t>(0xffff0000u >> n)); };
  if (v.equirowcol.allocated()) {
    v.equirowcol(f, 1) = bits(rows);
    if (haplo) v.equirowcol(f, 2) = bits(cols);
  }
}

}  // namespace

// A parent left without a full-sib family at the locus (a mother of haploid sons only, a parent
// of member-less families only) still carries her own factors: the log of the sum of her vector
// enters the constant. False when that sum is at most 1e-300.
bool unattached_parents() {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  for (int4 p = 1; p <= v.nallparent; ++p) {
    if (lv.hsib(p) != 0) continue;
    const int4 o = other_role_joint(p);
    if (o > 0 && (lv.hsib(o) != 0 || o < p)) continue;  // the individual is counted once
    real8 s = 0.0;
    const real8* b = &lv.crrtgenotypefre(lv.hsprobloc(p) + 1);
    for (int4 i = 0; i < lv.hsprobdim(p); ++i) s += b[i];
    if (s <= 1e-300) return false;
    lv.loglikehoodconst += std::log(s);
  }
  return true;
}

namespace {

// One evaluation of the locus at the precision in hand; true when the cluster's graph kept
// cycles after the simple peeling and went to a layer stage.
bool locus_once(int4 locus, int4 numallele, int4 numgenotype, real8& logl) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  familylocus_setup(locus, numallele, numgenotype, logl);
  if (logl <= kImpossible) return false;
  const int4 nfs = v.numfsibship;
  const int4 errorclass = v.locuserror(locus);
  const bool dominant = v.crrtmarkerdomq == 1;

  // Selfed offspring.
  if (lv.selfprnt.allocated() && lv.selfprnt(0) > 0 && v.numsex == v.allowinbreeding) {
    real8 x = 0.0;
    absorbselfedoffspring(locus, x);
    if (x < 10.0) {
      logl = x;
      return false;
    }
  }

  // The absorb list, once per family set-up.
  if (lv.nabsorb(1) == -1) findabsorbfamily();

  // Parents left without a full-sib family here.
  if (!unattached_parents()) {
    logl = kImpossible;
    return false;
  }

  // Full-sib tables. A dominant family's cached table lives in the family's block of fsprob,
  // which any other kind of locus overwrites: the cache then starts afresh at the next dominant
  // locus.
  if (!dominant) lv.dominant_cache_block = 0;
  std::array<real8, 2> wsum{0.0, 0.0};
  bool othertable = false;
  engine::grow(lv.fsibnodata, Dim(0, std::max(nfs, 1)));
  lv.fsibnodata(0) = 0;
  const bool userows = lv.userowsnp.allocated() && lv.userowsnp.ubound(1) >= v.nallparent;
  for (int4 i = 1; i <= lv.mabsorb(2); ++i) {
    const int4 f = lv.nabsorb(i);
    if (lv.fsib(f) == 0) continue;
    if (lv.fsprobptr.allocated() && f <= lv.fsprobptr.ubound(1)) lv.fsprobptr(f).a = {};
    if (lv.fsprobidx(f) > 0) lv.fsprobidx(f) = -1;
    const int2 ngt[2] = {v.numfsgenotype(1, f), v.numfsgenotype(2, f)};
    if (ngt[0] + ngt[1] == 0) {
      lv.fsibnodata(++lv.fsibnodata(0)) = static_cast<int2>(f);
      if (dominant) {
        lv.domfsibsave(f) = 0;
        lv.domconstlogl(f) = 0.0;
      }
      if (i > lv.mabsorb(1)) neutral_table(f, numallele);
      continue;
    }
    if (dominant || errorclass != 0) {
      if (!error_locus_table(locus, numallele, i, f, wsum, othertable, logl)) return false;
      continue;
    }
    if (numallele <= 2) {
      fsprobcomputesnp(f, ngt, i, 0);
      if (userows && lv.fsprobdim(f) > 0) {
        const int2 mask = v.equirowcol(f, 1);
        const int4 parents[2] = {v.npstartloc1(1) + lv.clusterfamily(1, f),
                                 v.npstartloc1(2) + lv.clusterfamily(2, f)};
        for (int4 p : parents) {
          lv.userowsnp(p) = static_cast<int2>(lv.userowsnp(p) & mask);
          const int4 o = other_role_joint(p);
          if (v.numsex != 2 && o > 0) lv.userowsnp(o) = static_cast<int2>(lv.userowsnp(o) & mask);
        }
      }
    } else {
      bool complete = false;
      fsprobcompute1(f, lv.numallelefs(f), ngt[0] + ngt[1], logl, i, 0, complete);
      if (complete) return false;
    }
  }

  // Class constants of the one-genotype families.
  if (!dominant && errorclass != 0) {
    const int4 bk = v.codominantloci(locus);
    lv.loglikehoodconst += wsum[0] * v.fsprobconst1(1, bk) + wsum[1] * v.fsprobconst1(2, bk);
  }

  // Simple peeling.
  logl = 0.0;
  peel(locus, numallele, numgenotype, errorclass, logl);
  if (logl <= kImpossible) return false;
  if (lv.mabsorb(1) + lv.mabsorb(3) + lv.mabsorb(4) == nfs) return false;
  if (v.numsex != 2) {
    layer_stage_mono(locus, logl);
  } else {
    layer_stage(locus, numallele, logl);
  }
  return true;
}

}  // namespace

void familylocuslogl(int4 locus, int4 numallele, int4 numgenotype, real8& logl) {
  likelihoodvar.layercut = 0;
  if (!locus_once(locus, numallele, numgenotype, logl) || logl > kImpossible) return;
  // The layer stage's genotype-set reduction and relative cut-offs drop branches; when they
  // dropped every branch the locus is not yet known to be impossible. It is summed again at the
  // next precision and, should that drop everything too, with no relative cut-off at all, before
  // it is called impossible. A locus impossible with nothing dropped is impossible at every
  // precision. The caller's precision is back afterwards.
  if (likelihoodvar.layercut == 0) return;
  Variables& v = variables;
  const int4 level = v.likelihoodprecision;
  const real8 saved[3] = {v.prec1, v.prec2, v.prec3};
  const real8 next = level < 3 ? std::pow(0.1, 2 * (level + 1)) : 0.0;
  const real8 finer[2] = {next, 1e-30};
  for (int4 i = 0; i < 2 && logl <= kImpossible && likelihoodvar.layercut != 0; ++i) {
    if (finer[i] <= 0.0 || finer[i] >= saved[0]) continue;
    likelihoodvar.layercut = 0;
    v.likelihoodprecision = std::min(level + 1, 3);
    v.prec1 = v.prec2 = finer[i];
    v.prec3 = 0.1 * finer[i];
    locus_once(locus, numallele, numgenotype, logl);
  }
  v.likelihoodprecision = level;
  v.prec1 = saved[0];
  v.prec2 = saved[1];
  v.prec3 = saved[2];
}

}  // namespace kinrad
