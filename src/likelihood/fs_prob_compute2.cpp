// The full-sib table of a family at a codominant locus with typing errors and at most 8 alleles
// in the family: each parent pair's log probability of the offspring classes is a weighted sum
// of precomputed category values (100 x ln), pairs hopeless for some class masked out first.
// The table is then written (or absorbed at once into a parent, or summed to the locus
// likelihood when the cluster is this one family) relative to the best pair.
#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>

#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/fs_prob_error_internal.hpp"
#include "likelihood/work_arrays_internal.hpp"

namespace kinrad {

namespace {

// 100 x ln of an impossible category, as stored: -1e38 rounded to single precision.
constexpr real8 kNoCategory = -9.999999680285692e37;
// A pair whose summed exponent lies this far (hundredths of ln units) below the best pair is
// taken as zero unless the branch needs every pair.
constexpr real8 kCutoff = -2300.0;

// exp(d / 100) in single precision, as the tables were designed for: the rounding decides which
// pairs vanish and the last digits of the results. Far below the range of float's exp the
// conversion itself would be undefined, and the value is 0 anyway.
inline real8 pair_probability(real8 d) {
  if (!(d >= -1e4)) return 0.0;
  const float x = static_cast<float>(d) * 0.01f;
  return static_cast<real8>(std::exp(x));
}

}  // namespace

const FView<int2, 2>& prbindex_of(int4 na) {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  if (!lv.prbindex.allocated() || lv.prbindex.ubound(1) < na) {
    // Tables already built keep their storage; only the holders are re-created.
    engine::grow(lv.prbindex, Dim(8));
    for (int4 m = 2; m <= 8; ++m) {
      FArray<int2, 2>& s = lv.prbindex_store[static_cast<std::size_t>(m)];
      if (s.allocated()) lv.prbindex(m).a = s.view();
    }
  }
  FView<int2, 2>& t = lv.prbindex(na).a;
  if (t.associated()) return t;
  const int4 ng = na * (na + 1) / 2;
  const bool haplo = v.haplodiploid == 1;
  const int4 e = haplo ? na * ng : ng * (ng + 1) / 2;
  FArray<int2, 2>& s = lv.prbindex_store[static_cast<std::size_t>(na)];
  s.allocate(Dim(2), Dim(e));
  int4 p = 0;
  for (int4 a = 1; a <= (haplo ? na : ng); ++a) {
    for (int4 b = haplo ? 1 : a; b <= ng; ++b) {
      ++p;
      s(1, p) = static_cast<int2>(a);
      s(2, p) = static_cast<int2>(b);
    }
  }
  t = s.view();
  return t;
}

void list_used_genotypes(int4 fam, int4 limit, int4 top) {
  Likelihoodvar& lv = likelihoodvar;
  const FsErrorScratch& w = likelihood_work.fs_error;
  int4 u = 0;
  for (int4 g = 1; g <= top; ++g) u += w.used(g);
  if (std::max(2 * u, 10) >= limit) return;
  lv.fsgtypeidx(0, fam) = static_cast<int2>(u);
  if (u <= 9) {
    int4 j = 0;
    for (int4 g = 1; g <= top; ++g)
      if (w.used(g) != 0) lv.fsgtypeidx(++j, fam) = static_cast<int2>(g);
    return;
  }
  for (index_t i = lv.fsgtypejdx.lbound(1); i <= lv.fsgtypejdx.ubound(1); ++i)
    lv.fsgtypejdx(i, fam) = 0;
  int4 first = 0;
  int4 last = 0;
  for (int4 g = 1; g <= top; ++g) {
    if (w.used(g) == 0) continue;
    if (first == 0) first = g;
    last = g;
    const uint32_t bit = 1u << ((g - 1) % 32);
    lv.fsgtypejdx((g - 1) / 32 + 1, fam) =
        static_cast<int4>(static_cast<uint32_t>(lv.fsgtypejdx((g - 1) / 32 + 1, fam)) | bit);
  }
  lv.fsgtypeidx(1, fam) = static_cast<int2>(first);
  lv.fsgtypeidx(2, fam) = static_cast<int2>(last);
}

namespace {

// One call's view of the family: the retained parent pairs and their summed category values.
struct Fs2Pass {
  const Fs2Call& call;
  int4 na = 0;  // family alleles
  int4 ng = 0;  // family genotypes
  int4 e = 0;   // parent pairs
  int4 hd = 0;  // haplodiploid
  bool multi = false;
  int4 ncat[3] = {0, 0, 0};  // categories of a homozygous / heterozygous class
  const real8* catv[3] = {nullptr, nullptr, nullptr};  // category values, 1-based
  int4* keep = nullptr;                                // retained pairs, 0-based, increasing
  int4 n = 0;                                          // retained pairs
  bool all = false;                                    // every pair retained (keep unused)
  real8* sum = nullptr;  // summed category values of each pair, 100 x ln
  real8 best = 0.0;      // largest sum
  int4 loc = 0;          // the family's first table column
};

// Grows the scratch to this family.
void grow_scratch(const Fs2Call& call) {
  FsErrorScratch& w = likelihood_work.fs_error;
  const int4 e = call.npair;
  const int4 ng = call.ng;
  engine::grow(w.allelemap, Dim(0, 127));
  engine::grow(w.sum, Dim(std::max(e, 1)));
  engine::grow(w.keep, Dim(std::max(e, 1)));
  engine::grow(w.mask, Dim(std::max(call.nword, 1)));
  engine::grow(w.scaled, Dim(10));
  engine::grow(w.da, Dim(std::max(ng, 1)));
  engine::grow(w.qb, Dim(std::max(ng, 1)));
  engine::grow(w.used, Dim(std::max(ng, 1)));
}

// Local indices of the family's alleles, each class's type, weight and category vector.
void class_slots(const Fs2Pass& f) {
  const Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  FsErrorScratch& w = likelihood_work.fs_error;
  const int4 fam = f.call.fam;
  const int4 na = f.na;
  const bool multi = f.multi;
  if (multi) {
    const int4 base = lv.locallelefs(fam);
    for (int4 i = 1; i <= na; ++i) w.allelemap(lv.allelefs(base + i)) = i;
  }
  const int4 col0 = lv.clusterfamilyloc(fam);
  for (int4 c = 0; c < f.call.nclass; ++c) {
    const int4 a1 = v.fsgtype(1, col0 + c + 1);
    const int4 a2 = v.fsgtype(2, col0 + c + 1);
    w.cweight[c] = v.numfsgtypescaled(col0 + c + 1);
    w.ctype[c] = a1 == a2 ? 1 : 2;
    if (multi) {
      int4 i = w.allelemap(a1);
      int4 j = w.allelemap(a2);
      if (i > j) std::swap(i, j);
      w.cslot[c] = f.call.k + (i == j ? i : na * i - i * (i + 1) / 2 + j);
    } else {
      w.cslot[c] = a1 == a2 ? a1 : 3;
    }
  }
}

// Masks of the hopeless pairs: the union of the slots' masks of classes whose best and worst
// categories lie too far apart; false when no class masks anything.
bool mask_hopeless_pairs(const Fs2Pass& f) {
  const Variables& v = variables;
  FsErrorScratch& w = likelihood_work.fs_error;
  const int4 hd = f.hd;
  const int4 nword = f.call.nword;
  bool masked = false;
  assert(f.na >= 3);
  const real8 thr = -1842.07 - v.maxfsibsize;
  for (int4 c = 0; c < f.call.nclass; ++c) {
    const int4 t = w.ctype[c];
    const real8* cv = f.catv[t];
    const int4 ct = f.ncat[t];
    const real8 wc = w.cweight[c];
    const int4 r = t == 1 ? 1 : 4;
    if ((cv[ct] - cv[r]) * wc >= thr) continue;
    const FArray<int4, 1>* m = &v.dadmumoffprbjdx(w.cslot[c]).a;
    if (t == 2 && (cv[ct - 1] - cv[4]) * wc < 2.0 * thr * (hd + 1))
      m = &v.dadmumoffprbkdx(w.cslot[c]).a;
    const int4* src = m->data();
    if (!masked) {
      for (int4 i = 0; i < nword; ++i) w.mask(i + 1) = static_cast<uint32_t>(src[i]);
      masked = true;
    } else {
      for (int4 i = 0; i < nword; ++i) w.mask(i + 1) |= static_cast<uint32_t>(src[i]);
    }
  }
  return masked;
}

// The retained pairs, 0-based, in increasing order: those the mask leaves clear.
int4 retained_pairs(const Fs2Pass& f) {
  const FsErrorScratch& w = likelihood_work.fs_error;
  const int4 e = f.e;
  int4* keep = f.keep;
  int4 n = 0;
  for (int4 word = 0; word < f.call.nword; ++word) {
    const uint32_t bits = w.mask(word + 1);
    const int4 first = 32 * word;
    const int4 last = std::min(first + 32, e);
    if (bits == 0u) {
      for (int4 p = first; p < last; ++p) keep[n++] = p;
    } else if (bits != 0xffffffffu) {
      for (int4 p = first; p < last; ++p)
        if (((bits >> (p - first)) & 1u) == 0u) keep[n++] = p;
    }
  }
  return n;
}

// Weighted category sums per retained pair, and each class's constant into the locus
// constant; the scaled category values are reused while type and weight stay.
void category_sums(const Fs2Pass& f) {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  FsErrorScratch& w = likelihood_work.fs_error;
  const int4 bk = f.call.bk;
  const int4 e = f.e;
  const int4 n = f.n;
  const bool all = f.all;
  const int4* keep = f.keep;
  real8* sum = f.sum;
  real8* sv = w.scaled.data();
  int4 lasttype = 0;
  real8 lastweight = 0.0;
  for (int4 c = 0; c < f.call.nclass; ++c) {
    const int4 t = w.ctype[c];
    const real8 wc = w.cweight[c];
    lv.loglikehoodconst += wc * v.fsprobconst1(t, bk);
    const real8* cv = f.catv[t];
    const real8* use = cv + 1;
    if (std::abs(wc - 1.0) >= 1e-16) {
      if (t != lasttype || std::abs(wc - lastweight) > 1e-30) {
        for (int4 i = 1; i <= f.ncat[t]; ++i) sv[i - 1] = wc * cv[i];
        lasttype = t;
        lastweight = wc;
      }
      use = sv;
    }
    const int1* cat = v.dadmumoffprbidx(w.cslot[c]).a.data();
#ifndef NDEBUG
    for (int4 i = 0; i < e; ++i) assert(cat[i] >= 1 && cat[i] <= f.ncat[t]);
#endif
    if (all) {
      if (c == 0) {
        for (int4 p = 0; p < e; ++p) sum[p] = use[cat[p] - 1];
      } else {
        for (int4 p = 0; p < e; ++p) sum[p] += use[cat[p] - 1];
      }
    } else {
      if (c == 0) {
        for (int4 i = 0; i < n; ++i) sum[keep[i]] = use[cat[keep[i]] - 1];
      } else {
        for (int4 i = 0; i < n; ++i) sum[keep[i]] += use[cat[keep[i]] - 1];
      }
    }
  }
}

// The largest sum of a retained pair.
real8 best_pair(const Fs2Pass& f) {
  const real8* sum = f.sum;
  real8 best = -1e300;
  if (f.all) {
    for (int4 p = 0; p < f.e; ++p) best = std::max(best, sum[p]);
  } else {
    for (int4 i = 0; i < f.n; ++i) best = std::max(best, sum[f.keep[i]]);
  }
  return best;
}

// Calls add(p, a, b) for every retained pair p of genotypes a <= b, in pair order.
template <class Add>
void for_each_pair(const Fs2Pass& f, Add add) {
  if (f.all) {
    int4 p = 0;
    for (int4 a = 1; a <= f.ng; ++a)
      for (int4 b = a; b <= f.ng; ++b, ++p) add(p, a, b);
    return;
  }
  for (int4 i = 0; i < f.n; ++i) {
    const FView<int2, 2>& ix = prbindex_of(f.na);
    const int4 a = ix(1, f.keep[i] + 1);
    const int4 b = ix(2, f.keep[i] + 1);
    add(f.keep[i], a, b);
  }
}

// Haploid fathers always get a table: mother genotype by father allele.
void haploid_father_table(const Fs2Pass& f) {
  Likelihoodvar& lv = likelihoodvar;
  const int4 na = f.na;
  const int4 ng = f.ng;
  const int4 loc = f.loc;
  const real8 best = f.best;
  const real8* sum = f.sum;
  if (f.all) {
    int4 p = 0;
    for (int4 a = 1; a <= na; ++a) {
      for (int4 b = 1; b <= ng; ++b, ++p) {
        const real8 d = sum[p] - best;
        lv.fsprob(a, loc + b) = d > kCutoff ? pair_probability(d) : 1e-100;
      }
    }
    return;
  }
  const int4 n = f.n;
  const int4* keep = f.keep;
  const FView<int2, 2>& ix = prbindex_of(na);
  int4 maxb = 0;
  int4 live = 0;
  for (int4 i = 0; i < n; ++i) {
    if (sum[keep[i]] - best > kCutoff) {
      maxb = std::max<int4>(maxb, ix(2, keep[i] + 1));
      ++live;
    }
  }
  // Below two live pairs the kept block is floored at 1e-20 rather than cleared.
  const real8 fill = live < 2 ? 1e-20 : 0.0;
  for (int4 b = 1; b <= maxb; ++b)
    for (int4 a = 1; a <= na; ++a) lv.fsprob(a, loc + b) = fill;
  for (int4 i = 0; i < n; ++i) {
    const int4 p = keep[i];
    const real8 d = sum[p] - best;
    lv.fsprob(ix(1, p + 1), loc + ix(2, p + 1)) = d > kCutoff ? pair_probability(d) : 1e-100;
  }
  lv.fsprobdim(f.call.fam) = static_cast<int2>(maxb);
}

// Gathers a parent's genotype distribution onto the family's ng local genotypes.
void gather_parent(int4 parent, int4 slot, int4 ng, real8* out) {
  const Likelihoodvar& lv = likelihoodvar;
  for (int4 g = 0; g < ng; ++g) out[g] = 0.0;
  const real8* fre = &lv.crrtgenotypefre(lv.hsprobloc(parent) + 1);
  const int4* to = &lv.idxtgt(lv.idxloc(slot) + 1);
  for (int4 i = 0; i < lv.hsprobdim(parent); ++i) out[to[i] - 1] += fre[i];
}

// The cluster is this one family: the locus log likelihood summed over the parent pairs.
void finish_single_family(const Fs2Pass& f, real8& logl) {
  const Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  FsErrorScratch& w = likelihood_work.fs_error;
  const int4 ng = f.ng;
  const real8 best = f.best;
  const real8* sum = f.sum;
  const int4 shortcut = v.purefsshortcut;
  real8 total = 0.0;
  real8* d1 = w.da.data();
  real8* d2 = w.qb.data();
  if (shortcut == 2) {
    gather_parent(1, 0, ng, d1);
    gather_parent(2, 1, ng, d2);
  } else {
    for (int4 g = 0; g < ng; ++g) d1[g] = d2[g] = lv.crrtgenotypefre(g + 1);
  }
  for_each_pair(f, [&](int4 p, int4 a, int4 b) {
    const real8 d = sum[p] - best;
    if (!(d > kCutoff)) return;
    const real8 pr = pair_probability(d);
    if (a == b) {
      total += pr * d1[a - 1] * d2[a - 1];
    } else if (shortcut == 2) {
      total += pr * (d1[a - 1] * d2[b - 1] + d1[b - 1] * d2[a - 1]);
    } else {
      total += 2.0 * pr * d1[a - 1] * d2[b - 1];
    }
  });
  logl = total <= 1e-300 ? -1e300 + lv.loglikehoodconst : std::log(total) + lv.loglikehoodconst;
}

// Whether the family is absorbed into its parents at once: the absorb list says so, or one of
// them has no other family (and, with one parent pool, neither acts in the other role).
bool absorbed_now(const Fs2Call& call) {
  const Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  const int4 x = lv.clusterfamily(1, call.fam);
  const int4 y = lv.clusterfamily(2, call.fam);
  if (call.pos <= lv.mabsorb(1) && call.noabsorb == 0) return true;
  if (!lv.selfprnt.allocated() || lv.selfprnt(0) == 0)
    return lv.hsib2(x) == 1 || lv.hsib2(v.npstartloc1(2) + y) == 1;
  return v.parentjdx(x, 1) <= 0 && v.parentjdx(y, 1) <= 0 && v.parentjdx(x, 2) <= 0 &&
         v.parentjdx(y, 2) <= 0 &&
         (lv.hsib2(v.npstartloc1(1) + x) == 1 || lv.hsib2(v.npstartloc1(2) + y) == 1);
}

// Absorbs the family through its absorbed parent into the receiving parent's distribution
// (rescaled when it grows tiny), copied to the receiver's other role.
void absorb_family(const Fs2Pass& f) {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  FsErrorScratch& w = likelihood_work.fs_error;
  const int4 fam = f.call.fam;
  const int4 ng = f.ng;
  const real8 best = f.best;
  const real8* sum = f.sum;
  const int4 pa = lv.iabsorb(1, f.call.pos);
  const int4 pb = lv.iabsorb(2, f.call.pos);
  const int4 sexa = pa > v.nparent(1) ? 2 : 1;
  const int4 sexb = 3 - sexa;
  real8* da = w.da.data();
  real8* q = w.qb.data();
  gather_parent(pa, 2 * (fam - 1) + sexa - 1, ng, da);
  for (int4 g = 0; g < ng; ++g) q[g] = 0.0;
  const bool everypair = v.maxfsibsize > 99;
  for_each_pair(f, [&](int4 p, int4 a, int4 b) {
    const real8 d = sum[p] - best;
    if (!everypair && !(d > kCutoff)) return;
    const real8 pr = pair_probability(d);
    q[a - 1] += pr * da[b - 1];
    if (a != b) q[b - 1] += pr * da[a - 1];
  });
  real8* fb = &lv.crrtgenotypefre(lv.hsprobloc(pb) + 1);
  const int4* to = &lv.idxtgt(lv.idxloc(2 * (fam - 1) + sexb - 1) + 1);
  const int4 nb = lv.hsprobdim(pb);
  real8 s = 0.0;
  int4 lastu = 1;
  for (int4 u = 1; u <= nb; ++u) {
    if (!(fb[u - 1] > 1e-300)) continue;
    fb[u - 1] *= q[to[u - 1] - 1];
    if (fb[u - 1] > 1e-300) {
      s += fb[u - 1];
      lastu = u;
    }
  }
  // Trailing genotypes the family rules out are dropped from the receiving parent.
  if (lastu < nb && nb > 3) lv.hsprobdim(pb) = static_cast<int2>(lastu);
  if (s > 1e-300 && s < 1e-50) {
    lv.loglikehoodconst += std::log(s);
    for (int4 u = 0; u < lv.hsprobdim(pb); ++u) fb[u] /= s;
  }
  lv.fsprobdim(fam) = 0;
  if (v.numsex == 1) {
    const int4 within = pb - v.npstartloc1(sexb);
    const int4 twin = v.parentjdx(within, sexb);
    if (twin > 0) {
      const int4 other = v.npstartloc1(3 - sexb) + twin;
      if (lv.hsib(other) > 0) {
        real8* ft = &lv.crrtgenotypefre(lv.hsprobloc(other) + 1);
        for (int4 u = 0; u < lv.hsprobdim(other); ++u) ft[u] = fb[u];
      }
    }
  }
}

// Table mode with every pair retained: the full symmetric table (a two-allele locus keeps the
// pairs below the cut-off too).
void full_table(const Fs2Pass& f) {
  Likelihoodvar& lv = likelihoodvar;
  const int4 ng = f.ng;
  const int4 loc = f.loc;
  const real8 best = f.best;
  const real8* sum = f.sum;
  const bool every = lv.crrtmarkertype == 2;
  int4 p = 0;
  for (int4 a = 1; a <= ng; ++a) {
    for (int4 b = a; b <= ng; ++b, ++p) {
      const real8 d = sum[p] - best;
      const real8 pr = (every || d > kCutoff) ? pair_probability(d) : 0.0;
      lv.fsprob(a, loc + b) = pr;
      lv.fsprob(b, loc + a) = pr;
    }
  }
}

// Table mode with masked pairs: the table trimmed to the highest genotype of a live pair.
void trimmed_table(const Fs2Pass& f) {
  Likelihoodvar& lv = likelihoodvar;
  FsErrorScratch& w = likelihood_work.fs_error;
  const int4 fam = f.call.fam;
  const int4 ng = f.ng;
  const int4 loc = f.loc;
  const int4 n = f.n;
  const int4* keep = f.keep;
  const real8 best = f.best;
  const real8* sum = f.sum;
  const FView<int2, 2>& ix = prbindex_of(f.na);
  int4 top = 0;
  for (int4 i = 0; i < n; ++i)
    if (sum[keep[i]] - best > kCutoff) top = std::max<int4>(top, ix(2, keep[i] + 1));
  lv.fsprobdim(fam) = static_cast<int2>(top);
  for (int4 b = 1; b <= top; ++b)
    for (int4 a = 1; a <= top; ++a) lv.fsprob(a, loc + b) = 0.0;
  const bool listing = ng > 10 && top < ng - 2;
  if (listing)
    for (int4 g = 1; g <= ng; ++g) w.used(g) = 0;
  for (int4 i = 0; i < n; ++i) {
    const int4 p = keep[i];
    const real8 d = sum[p] - best;
    if (!(d > kCutoff)) continue;
    const int4 a = ix(1, p + 1);
    const int4 b = ix(2, p + 1);
    const real8 pr = pair_probability(d);
    lv.fsprob(a, loc + b) = pr;
    lv.fsprob(b, loc + a) = pr;
    if (listing) {
      w.used(a) = 1;
      w.used(b) = 1;
    }
  }
  if (listing) list_used_genotypes(fam, ng, top);
}

}  // namespace

void fsprobcompute2(const Fs2Call& call, int4& status, real8& logl) {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  FsErrorScratch& w = likelihood_work.fs_error;
  status = 1;
  Fs2Pass f{call};
  f.na = call.na;
  f.ng = call.ng;
  f.e = call.npair;
  f.hd = v.haplodiploid;
  f.multi = call.numallele > 2;
  assert(call.nclass >= 2 && call.nclass <= static_cast<int4>(w.ctype.size()));

  grow_scratch(call);
  class_slots(f);
  // Category values of the block, 100 x ln: homozygote part, then heterozygote part.
  const real8* vals = &v.dadmumoffprb(v.dadmumoffprbloc(call.bk) + 1);
  f.ncat[1] = 6 - f.hd;
  f.ncat[2] = f.multi ? 2 * (5 - f.hd) : 3;
  f.catv[1] = vals - 1;
  f.catv[2] = vals + (6 - f.hd) - 1;

  const bool masked = f.multi && mask_hopeless_pairs(f);
  f.keep = w.keep.data();
  f.n = masked ? retained_pairs(f) : 0;
  f.all = !masked;
  if (f.all) f.n = f.e;
  f.sum = w.sum.data();
  category_sums(f);

  if (f.n == 0) return;
  f.best = best_pair(f);
  if (f.best <= kNoCategory) return;
  lv.loglikehoodconst += f.best * 0.01;
  status = 0;
  f.loc = v.fsprobloc(call.fam);

  if (f.hd == 1)
    haploid_father_table(f);
  else if (v.purefsshortcut >= 1)
    finish_single_family(f, logl);
  else if (absorbed_now(call))
    absorb_family(f);
  else if (f.all)
    full_table(f);
  else
    trimmed_table(f);
}

}  // namespace kinrad
