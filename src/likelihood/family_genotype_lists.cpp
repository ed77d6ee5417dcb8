// The offspring side of the per-locus family set-up: each full-sib family's genotype tallies
// at a two-allele locus, and at a locus of more than two alleles its distinct genotypes
// (heterozygotes first), its distinct alleles, their ranking by carriers (a long list is
// trimmed to the alleles that matter at the likelihood's precision) and the canonical order the
// closed-form tables expect.
#include <algorithm>
#include <cstdint>

#include "core/modules/familyloglvar.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "core/sorting.hpp"
#include "likelihood/family_locus_internal.hpp"
#include "likelihood/likelihood_internal.hpp"

namespace kinrad {

void locus2gtype(int4 pos, int4 locus, int4 fam1, int4 fam2, int4 ngt) {
  const Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  FArray<int2, 2>& kg = familyloglvar.kg;
  for (int4 f = fam1; f <= fam2; ++f)
    for (int4 c = 1; c <= ngt; ++c) kg(c, f) = 0;
  const bool fast = lv.indivg12 == 1 && v.indivgtype1.allocated() &&
                    pos >= v.indivgtype1.lbound(2) && pos <= v.indivgtype1.ubound(2);
  // Large selfed families counted by the selfing-generation estimate of this family.
  auto cached = [&](int4 f) {
    return lv.ng2selfnum > 0 && f <= lv.ng2selfidx.ubound(1) && lv.ng2selfidx(f) > 0;
  };
  for (int4 f = fam1; f <= fam2; ++f)
    if (cached(f))
      for (int4 c = 1; c <= ngt; ++c) kg(c, f) = lv.ng2self(c, lv.ng2selfidx(f), pos);
  if (fast) {
    for (int4 f = fam1; f <= fam2; ++f) {
      if (cached(f)) continue;
      for (int4 i = v.familyindivloc(f - 1) + 1; i <= v.familyindivloc(f); ++i) {
        const int4 c = v.indivgtype1(lv.familyindiv(i), pos);
        if (c > 0 && c <= ngt) ++kg(c, f);
      }
    }
    return;
  }
  const FView<int2, 1>& col = v.indivgtype2(locus).a;
  for (int4 i = v.familyindivloc(fam1 - 1) + 1; i <= v.familyindivloc(fam2); ++i) {
    const uint16_t word = static_cast<uint16_t>(col(lv.familyindivll(1, i)));
    const int4 c = (word >> lv.familyindivll(2, i)) & 3u;
    if (c > 0 && c <= ngt && !cached(lv.familyindivll(3, i))) ++kg(c, lv.familyindivll(3, i));
  }
}

void reorderallelefs(int4 fam, int4 ngt, const int1 (*gt)[2]) {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  int1* a = &lv.allelefs(lv.locallelefs(fam) + 1);  // a[0..n-1]
  const int4 n = lv.numallelefs(fam);
  auto has = [&](int4 g, int4 x) { return gt[g][0] == x || gt[g][1] == x; };
  // Moves allele x to list position p (from 0) by swapping it with the allele there.
  auto place = [&](int4 x, int4 p) {
    for (int4 i = 0; i < n; ++i) {
      if (a[i] == x) {
        std::swap(a[i], a[p]);
        return;
      }
    }
  };
  if (v.haplodiploid == 1 || n == 3) {
    if ((v.haplodiploid == 1 || ngt == 2) && ngt >= 2 && has(1, a[1])) std::swap(a[0], a[1]);
    return;
  }
  if (ngt < 3 || n < 4) return;
  int4 j = -1;
  for (int4 g = 1; g < ngt; ++g) {
    if (has(g, a[0]) || has(g, a[1])) {
      j = g;
      break;
    }
  }
  if (j >= 0) {
    if (has(j, a[0])) {
      place(gt[j][0] == a[0] ? gt[j][1] : gt[j][0], 2);
    } else {
      std::swap(a[0], a[1]);
      place(gt[j][0] == a[0] ? gt[j][1] : gt[j][0], 2);
    }
  }
  for (int4 g = 1; g < ngt; ++g) {
    if (g == j) continue;
    auto outside = [&](int4 x) { return x != a[0] && x != a[1] && x != a[2]; };
    if (outside(gt[g][0]))
      place(gt[g][0], 3);
    else if (outside(gt[g][1]))
      place(gt[g][1], 3);
  }
}

namespace {

// Family f's distinct genotypes at a locus of more than two alleles, listed from at0 + 1 with
// their tallies: heterozygotes first, then homozygotes.
void family_genotypes(int4 f, int4 locus, int4 pos3, int4 at0, int4& nhet, int4& nhom) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  Familyloglvar& fl = familyloglvar;
  const int4 maxa = v.maxobsnumallele;
  const bool cached = lv.fsfamilygtype.allocated() && pos3 >= 1 &&
                      pos3 <= lv.fsfamilygtype.ubound(4) && lv.fsfamilygtype(0, 1, f, pos3) > 0;
  // Collected in fl.mdx (genotype numbers) with tallies in fl.ldx.
  int4 ndistinct = 0;
  if (cached) {
    ndistinct = lv.fsfamilygtype(0, 1, f, pos3);
    for (int4 i = 1; i <= ndistinct; ++i) {
      fl.mdx(i) = lv.fsfamilygtype(i, 1, f, pos3);
      fl.ldx(fl.mdx(i)) = lv.fsfamilygtype(i, 2, f, pos3);
    }
  } else {
    for (int4 i = v.familyindivloc(f - 1) + 1; i <= v.familyindivloc(f); ++i) {
      const int4 g = multi_code(lv.familyindiv(i), locus);
      if (g <= 0) continue;
      if (fl.ldx(g) == 0) fl.mdx(++ndistinct) = static_cast<int2>(g);
      ++fl.ldx(g);
    }
  }
  int4 at = at0;
  for (int4 pass = 0; pass < 2; ++pass) {
    for (int4 i = 1; i <= ndistinct; ++i) {
      const int4 g = fl.mdx(i);
      const bool hom = g <= maxa;
      if (hom != (pass == 1)) continue;
      ++at;
      v.fsgtype(1, at) = v.genotypeid(1, g);
      v.fsgtype(2, at) = v.genotypeid(2, g);
      v.numfsgtype(at) = fl.ldx(g);
      ++(hom ? nhom : nhet);
    }
  }
  for (int4 i = 1; i <= ndistinct; ++i) fl.ldx(fl.mdx(i)) = 0;
  v.numfsgenotype(1, f) = static_cast<int2>(nhet);
  v.numfsgenotype(2, f) = static_cast<int2>(nhom);
}

// Family f's distinct alleles into alist (room places): the homozygotes' first, then the
// heterozygotes' further ones; returns their number, which may exceed the room.
int4 family_alleles(int4 at0, int4 nhet, int4 ngt, int4 room, int1* alist) {
  const Variables& v = variables;
  Familyloglvar& fl = familyloglvar;
  int4 na = 0;
  auto add = [&](int4 x) {
    if (fl.alleleprt(x) != 0) return;
    fl.alleleprt(x) = 1;
    ++na;
    if (na <= room) alist[na - 1] = static_cast<int1>(x);
  };
  for (int4 i = nhet + 1; i <= ngt; ++i) add(v.fsgtype(1, at0 + i));
  for (int4 i = 1; i <= nhet; ++i) {
    add(v.fsgtype(1, at0 + i));
    add(v.fsgtype(2, at0 + i));
  }
  if (na > room)
    clear_marks(v.maxobsnumallele);
  else
    for (int4 i = 0; i < na; ++i) fl.alleleprt(alist[i]) = 0;
  return na;
}

// Ranks family f's alleles by the number of offspring carrying them and returns the trimmed
// size of its genotype table (0: not trimmed).
int4 rank_and_trim(int4 at0, int4 ngt, int4 na, int4 numallele, int1* alist) {
  const Variables& v = variables;
  Familyloglvar& fl = familyloglvar;
  int4 trimmed = 0;
  for (int4 i = 0; i < na; ++i) fl.q(i + 1) = 0.0;
  for (int4 i = 1; i <= ngt; ++i) {
    const int4 x = v.fsgtype(1, at0 + i);
    const int4 y = v.fsgtype(2, at0 + i);
    for (int4 k = 0; k < na; ++k) {
      if (alist[k] == x || (alist[k] == y && y != x)) fl.q(k + 1) -= v.numfsgtype(at0 + i);
    }
  }
  indexx(na, &fl.q(1), &fl.ldx(1));
  for (int4 k = 1; k <= na; ++k) fl.mdx(k) = alist[fl.ldx(k) - 1];
  for (int4 k = 1; k <= na; ++k) {
    alist[k - 1] = static_cast<int1>(fl.mdx(k));
    fl.mdx(k) = static_cast<int2>(-fl.q(fl.ldx(k)));  // counts in rank order
  }
  const int4 M = na + (na < numallele ? 1 : 0);
  const real8 t = v.likelihoodprecision + 5;
  const int4 top = fl.mdx(1);
  if ((na > 7 && M > na) || na > 8) {
    if (top > t) {
      for (int4 k = 2; k <= na; ++k) {
        if (fl.mdx(k) < top / t) {
          trimmed = (k - 1) * (2 * M - k + 2) / 2;
          break;
        }
      }
    }
  }
  for (int4 k = 0; k <= na; ++k) fl.ldx(k) = 0;
  for (int4 k = 1; k <= na; ++k) fl.mdx(k) = 0;
  return trimmed;
}

// Family f's genotype table and allele list at a locus of more than two alleles; false when
// the family shows more alleles than its parents can carry (the locus is impossible).
}  // namespace

bool multiallele_family(int4 f, int4 locus, int4 numallele, int4 errorclass, bool othererrors) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 pos3 = v.locus3loc(locus);
  const int4 maxa = v.maxobsnumallele;
  const int4 size = lv.clusterfamilysize(f);
  const int4 room = std::min(std::clamp(maxa, 2, 81), 2 * std::max(size, 1) + 1);
  const int4 at0 = lv.clusterfamilyloc(f);
  int1* alist = &lv.allelefs(lv.locallelefs(f) + 1);
  int4 nhet = 0, nhom = 0;
  family_genotypes(f, locus, pos3, at0, nhet, nhom);
  const int4 ngt = nhet + nhom;
  const int4 na = family_alleles(at0, nhet, ngt, room, alist);
  const int4 p1 = lv.clusterfamily(1, f);
  const int4 p2 = lv.clusterfamily(2, f);
  const bool selfed = v.numsex == 1 && v.parentjdx.allocated() && v.parentjdx(p1, 1) == p2;
  const int4 L = (errorclass != 0 && othererrors) ? 80 : (selfed ? 2 : v.numallelemax);
  if (na > L || na > room) return false;
  if (na == v.numallelemax && L == v.numallelemax && nhet > 2 * (2 - v.haplodiploid)) return false;
  lv.numallelefs(f) = na;
  if (nhom == 0 && errorclass == 0 && na > 2) {
    // The family's genotype list from at0 + 1 as pairs.
    reorderallelefs(f, ngt, reinterpret_cast<const int1(*)[2]>(&v.fsgtype(1, at0 + 1)));
  }
  lv.fsprobdim(f) = 0;
  int4 trimmed = 0;
  if (na >= 7 && v.haplodiploid == 0) trimmed = rank_and_trim(at0, ngt, na, numallele, alist);
  // The pooled allele stands for every allele the family does not show.
  if (na < numallele) {
    alist[na] = 0;
    lv.numallelefs(f) = na + 1;
  }
  const int4 full = v.genotypenum(lv.numallelefs(f));
  lv.fsprobdim(f) = static_cast<int2>(trimmed > 0 ? std::min(trimmed, full) : full);
  return true;
}

}  // namespace kinrad
