// The set-up of one locus before the family likelihood is summed: the marker case, each
// family's distinct offspring genotypes and alleles (a pooled allele stands for the alleles a
// family does not show), each parent's allele list and genotype space, the maps between the
// parents' and the families' genotype numbering, the table locations, the scaled counts and
// the parents' priors. A family showing more alleles than its parents can carry makes the locus
// impossible.
#include <algorithm>
#include <cmath>

#include "core/modules/familyloglvar.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/setgetgtype.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "core/sorting.hpp"
#include "likelihood/family_locus_internal.hpp"
#include "likelihood/likelihood_internal.hpp"
#include "likelihood/work_arrays_internal.hpp"
#include "model/model.hpp"

namespace kinrad {

using engine::grow;

namespace {

constexpr real8 kImpossible = -1e300;

int4 sex_of(int4 j) {
  return j <= variables.nparent(1) ? 1 : 2;
}

// The same individual in the other role (monoecious species), as a joint parent number; 0 none.
int4 other_joint(int4 j) {
  const Variables& v = variables;
  if (v.numsex != 1 || !v.parentjdx.allocated()) return 0;
  const int4 s = sex_of(j);
  const int4 p = j - v.npstartloc1(s);
  if (p > v.parentjdx.ubound(1)) return 0;
  const int4 q = v.parentjdx(p, s);
  return q > 0 ? v.npstartloc1(3 - s) + q : 0;
}

// The 2-bit code of offspring m at two-allele position pos and locus, through the fast copy
// when it covers the position.
int4 twoallele_code(int4 m, int4 pos, int4 locus) {
  const Variables& v = variables;
  if (likelihoodvar.indivg12 == 1 && v.indivgtype1.allocated() && pos >= v.indivgtype1.lbound(2) &&
      pos <= v.indivgtype1.ubound(2))
    return v.indivgtype1(m, pos);
  const FView<int2, 1>& col = v.indivgtype2(locus).a;
  const uint16_t word = static_cast<uint16_t>(col((m - 1) / 8 + 1));
  return (word >> (2 * ((m - 1) % 8))) & 3u;
}

// Observed genotypes of the parents with a candidate.
void known_parent_genotypes(int4 locus, int4 numallele) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  if (v.anyknownprtq(1) == 0) return;
  bool typed = false;
  setgetgtype.locusgtypeptr = v.cndgtype2(locus).a;
  for (int4 j = 1; j <= v.nallparent; ++j) {
    const int4 k = lv.knownprt(j);
    if (k <= 0) continue;
    const int4 s = sex_of(j);
    int2 g = 0;
    // The parentage simulation places its candidates' genotypes in cndgtype3 while it exists.
    if (v.cndgtype3.allocated()) {
      g = v.cndgtype3(locus, s);
    } else {
      getgtype(g, s == 1 ? k : v.numcandidate(1) + k, numallele);
    }
    int4 a1 = 0, a2 = 0;
    if (numallele <= 2) {
      const int4 code = std::min<int4>(g, 3);
      if (g > 3 || code == 3) {
        a1 = 1;
        a2 = 2;
      } else if (code > 0) {
        a1 = code;
        a2 = v.ploidy(s) == 2 ? code : 0;
      }
    } else if (g > 0) {
      a1 = v.genotypeid(1, g);
      a2 = v.genotypeid(2, g);
    }
    v.prntgtype(1, j) = static_cast<int1>(a1);
    v.prntgtype(2, j) = static_cast<int1>(a2);
    typed = typed || a1 > 0;
  }
  v.allprntgtypemissingq = typed ? 0 : 1;
}

// Alleles of each mother's haploid sons with their counts.
void haploid_counts(int4 locus, int4 numallele) {
  Variables& v = variables;
  const int4 pos = v.locus2loc(locus);
  for (int4 q = 1; q <= v.nparent(2); ++q) {
    int4 n = 0;
    for (int4 i = v.familyindivloch(q - 1) + 1; i <= v.familyindivloch(q); ++i) {
      const int4 m = v.familyindivh(i);
      int4 a = 0;
      if (numallele <= 2) {
        const int4 c = twoallele_code(m, pos, locus);
        a = c == 1 || c == 2 ? c : 0;
      } else {
        const int4 g = multi_code(m, locus);
        a = g > 0 ? v.genotypeid(1, g) : 0;
      }
      if (a <= 0) continue;
      int4 k = 1;
      while (k <= n && v.hapgtype(k, q) != a) ++k;
      if (k > n) {
        n = k;
        v.hapgtype(k, q) = static_cast<int1>(a);
        v.numgtypeh(k, q) = 0.0;
      }
      v.numgtypeh(k, q) += 1.0;
    }
    v.hapgtype(0, q) = static_cast<int1>(n);
  }
}

// Effective count of n offspring sharing one genotype at a locus of more than two alleles.
real8 scaled_count(int4 n, real8 s, real8 c) {
  if (n < 2) return n;
  return std::pow(static_cast<real8>(n), s) + c * variables.logk(n);
}

// The marker case, the genotype-class column of a two-allele locus, and the progress marks the
// fixed-genotype mode and loci of more than two alleles reset.
void set_marker_case(int4 locus, int4 numallele, bool dominant) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  v.crrtmarkerdomq = dominant ? 1 : 0;
  v.crrtmarkercodomq = dominant ? 0 : 1;
  lv.crrtmarkertype = numallele > 2 ? numallele : (dominant ? 1 : 2);
  v.purefsshortcut = v.genotypefreshortcut;
  if (numallele == 2) {
    const int4 p = v.locus2loc(locus);
    if (!v.locus2gtypefre.allocated() || p - v.l2lb(1) < 0 ||
        p - v.l2lb(1) > v.locus2gtypefre.ubound(2))
      computegtypefre(p, p);
  }
  if (v.genotypefreshortcut == 1 && lv.infergtypeprnt >= 1) v.purefsshortcut = 2;
  if (lv.infergtypeprnt != 0) {
    if (dominant) {
      v.firstdomlocusidx = 0;
      lv.dominant_cache_block = 0;
    } else {
      v.firstsnplocusidx = 0;
    }
  }
  if (numallele >= 3) {
    v.firstdomlocusidx = 0;
    v.firstsnplocusidx = 0;
  }
}

// Room for the parents' allele lists: at most the alleles their families and own genotypes
// can show.
void parent_list_room(int4 numallele) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  if (numallele == 2) {
    grow(lv.allelehs, Dim(2));
    return;
  }
  const int4 nall = v.nallparent;
  const int4 np1 = v.nparent(1);
  int4 total = 0;
  for (int4 j = 1; j <= nall; ++j) {
    const int4 s = sex_of(j);
    int4 b = 2 * v.hsfamilysize(j) + (v.numcandidate(s) > 0 ? v.ploidy(s) + 1 : 1);
    if (s == 2 && v.numchildh > 0) {
      const int4 q = j - np1;
      b += v.familyindivloch(q) - v.familyindivloch(q - 1);
    }
    const int4 o = other_joint(j);
    if (o > 0) b += 2 * v.hsfamilysize(o);
    lv.allelehsloc(j) = total;
    total += std::min(numallele, b);
  }
  lv.allelehsloc(nall + 1) = total;
  grow(lv.allelehs, Dim(std::max(total, 1)));
}

// The fixed allele lists and genotype spaces of two-allele loci, set once per run of loci.
void twoallele_fixed_lists() {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 nfs = v.numfsibship;
  const int4 nall = v.nallparent;
  const int4 np1 = v.nparent(1);
  for (int4 f = 1; f <= nfs; ++f) {
    lv.allelefs(lv.locallelefs(f) + 1) = 1;
    lv.allelefs(lv.locallelefs(f) + 2) = 2;
    lv.numallelefs(f) = 2;
  }
  lv.allelehs(1) = 1;
  lv.allelehs(2) = 2;
  int4 loc = 0;
  for (int4 j = 1; j <= nall; ++j) {
    lv.allelehsnum(j) = 2;
    lv.allelehsloc(j) = 0;
    lv.hsprobdim(j) = static_cast<int2>(j <= np1 ? v.ploidy(1) + 1 : 3);
    lv.hsprobloc(j) = loc;
    loc += lv.hsprobdim(j);
  }
  lv.allelehsloc(nall + 1) = 0;
  lv.hsprobloc(nall + 1) = loc;
  if (v.firstsnplocusidx == 0) v.firstsnplocusidx = 1;
  if (v.firstdomlocusidx == 0) v.firstdomlocusidx = 1;
}

// Offspring genotype tables of a two-allele locus: the heterozygote first, then the
// homozygotes (a dominant locus keeps its two phenotype counts).
void twoallele_family_tables(int4 locus, int4 numgenotype, bool dominant, int4 errorclass) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  Familyloglvar& fl = familyloglvar;
  const int4 nfs = v.numfsibship;
  if (v.firstsnplocusidx == 0 || v.firstdomlocusidx == 0) twoallele_fixed_lists();
  lv.maxhsprobdim = 3;
  locus2gtype(v.locus2loc(locus), locus, 1, nfs, numgenotype);
  for (int4 f = 1; f <= nfs; ++f) {
    v.numfsgenotype(1, f) = 0;
    v.numfsgenotype(2, f) = 0;
    if (dominant) {
      v.numfsgenotype(1, f) = fl.kg(1, f);
      v.numfsgenotype(2, f) = fl.kg(2, f);
      continue;
    }
    const int4 size = lv.clusterfamilysize(f);
    int4 at = lv.clusterfamilyloc(f);
    int4 listed = 0;
    auto list = [&](int4 a1, int4 a2, int4 n) {
      ++at;
      v.fsgtype(1, at) = static_cast<int1>(a1);
      v.fsgtype(2, at) = static_cast<int1>(a2);
      v.numfsgtype(at) = n;
      listed += n;
    };
    if (fl.kg(3, f) > 0) {
      list(1, 2, fl.kg(3, f));
      v.numfsgenotype(1, f) = 1;
    }
    for (int4 g = 1; g <= 2 && listed < size; ++g) {
      if (fl.kg(g, f) == 0) continue;
      list(g, g, fl.kg(g, f));
      ++v.numfsgenotype(2, f);
    }
  }
  if (errorclass == 0 && lv.userowsnp.allocated())
    for (int4 j = 1; j <= v.nallparent; ++j) lv.userowsnp(j) = -1;
}

// Parent j's allele list at a locus of more than two alleles: its own genotype when it is
// typed without errors, the two alleles of its selfed family, or else every allele its
// families, own genotype and haploid sons show.
void parent_allele_list(int4 j, int4 numallele, int4 errorclass) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  Familyloglvar& fl = familyloglvar;
  const int4 nfs = v.numfsibship;
  const int4 np1 = v.nparent(1);
  const int4 nmask = numallele;
  const int4 s = sex_of(j);
  const int4 p = j - v.npstartloc1(s);
  int1* out = &lv.allelehs(lv.allelehsloc(j) + 1);
  const int4 room = lv.allelehsloc(j + 1) - lv.allelehsloc(j);
  int4 n = 0;
  auto add = [&](int4 x) {
    if (x <= 0 || fl.alleleprt(x) != 0) return;
    fl.alleleprt(x) = 1;
    if (n < room) out[n] = static_cast<int1>(x);
    ++n;
  };
  const bool typed = lv.knownprt(j) > 0 && v.prntgtype(1, j) > 0;
  const int4 o = other_joint(j);
  bool done = false;
  if (typed && errorclass == 0) {
    add(v.prntgtype(1, j));
    if (v.ploidy(s) == 2) add(v.prntgtype(2, j));
    done = true;
  } else if (!typed && errorclass == 0 && o > 0) {
    const int4 p1 = s == 1 ? p : o;
    const int4 p2 = s == 1 ? o - np1 : p;
    const int4 f = lv.fsibid(p1, p2);
    if (f >= 1 && f <= nfs) {
      const int4 naf = lv.numallelefs(f);
      const int1* a = &lv.allelefs(lv.locallelefs(f) + 1);
      const int4 shown = naf - (naf > 0 && a[naf - 1] == 0 ? 1 : 0);
      if (shown == 2) {
        add(a[0]);
        add(a[1]);
        done = true;
      }
    }
  }
  if (!done) {
    for (int4 k = 1; k <= lv.mate1(0, j) && n < nmask; ++k) {
      const int4 m = lv.mate1(k, j);
      const int4 f = s == 1 ? lv.fsibid(p, m) : lv.fsibid(m, p);
      if (f < 1 || f > nfs) continue;
      const int1* a = &lv.allelefs(lv.locallelefs(f) + 1);
      for (int4 i = 0; i < lv.numallelefs(f); ++i) add(a[i]);
    }
    if (typed) {
      add(v.prntgtype(1, j));
      if (v.ploidy(s) == 2) add(v.prntgtype(2, j));
    }
    if (s == 2 && v.haplodiploid == 1 && v.numchildh > 0)
      for (int4 i = 1; i <= v.hapgtype(0, p); ++i) add(v.hapgtype(i, p));
  }
  if (n > room)
    clear_marks(v.maxobsnumallele);
  else
    for (int4 i = 0; i < n; ++i) fl.alleleprt(out[i]) = 0;
  n = std::min(n, room);
  lv.allelehsnum(j) = static_cast<int1>(n);
}

// A parent acting in both roles carries one genotype: both roles get the union.
void selfed_parent_union(int4 errorclass) {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  Familyloglvar& fl = familyloglvar;
  if (v.numsex != 1 || !lv.selfprnt.allocated()) return;
  for (int4 i = 1; i <= lv.selfprnt(0); ++i) {
    const int4 j1 = lv.selfprnt(i);
    const int4 j2 = other_joint(j1);
    if (j2 <= 0) continue;
    const bool fixedobs = lv.knownprt(j1) > 0 && v.prntgtype(1, j1) > 0 && errorclass == 0;
    if (fixedobs) continue;
    int1* a1 = &lv.allelehs(lv.allelehsloc(j1) + 1);
    int1* a2 = &lv.allelehs(lv.allelehsloc(j2) + 1);
    const int4 r1 = lv.allelehsloc(j1 + 1) - lv.allelehsloc(j1);
    const int4 r2 = lv.allelehsloc(j2 + 1) - lv.allelehsloc(j2);
    int4 n1 = lv.allelehsnum(j1);
    int4 n2 = lv.allelehsnum(j2);
    for (int4 k = 0; k < n1; ++k) fl.alleleprt(a1[k]) = 1;
    for (int4 k = 0; k < n2; ++k) {
      if (fl.alleleprt(a2[k]) == 0 && n1 < r1) {
        a1[n1++] = a2[k];
        fl.alleleprt(a2[k]) = 1;
      }
    }
    for (int4 k = 0; k < n1; ++k) fl.alleleprt(a1[k]) = 0;
    n2 = std::min(n1, r2);
    for (int4 k = 0; k < n2; ++k) a2[k] = a1[k];
    lv.allelehsnum(j1) = static_cast<int1>(n1);
    lv.allelehsnum(j2) = static_cast<int1>(n2);
  }
}

// Each parent's genotype space: its list plus the pooled allele (-1 alone when the list is
// empty) where the list may not hold every allele the parent carries.
void parent_genotype_spaces(int4 numallele, int4 errorclass) {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 nall = v.nallparent;
  lv.maxhsprobdim = 0;
  int4 loc = 0;
  for (int4 j = 1; j <= nall; ++j) {
    const int4 s = sex_of(j);
    const bool typed = lv.knownprt(j) > 0 && v.prntgtype(1, j) > 0;
    int4 n = lv.allelehsnum(j);
    const int4 room = lv.allelehsloc(j + 1) - lv.allelehsloc(j);
    if ((!typed || errorclass != 0) && n < numallele && n < room) {
      lv.allelehs(lv.allelehsloc(j) + n + 1) = static_cast<int1>(n == 0 ? -1 : 0);
      ++n;
      lv.allelehsnum(j) = static_cast<int1>(n);
    }
    lv.hsprobdim(j) = static_cast<int2>(v.ploidy(s) == 1 ? n : v.genotypenum(std::max(n, 1)));
    lv.maxhsprobdim = std::max<int4>(lv.maxhsprobdim, lv.hsprobdim(j));
    lv.hsprobloc(j) = loc;
    loc += lv.hsprobdim(j);
  }
  lv.hsprobloc(nall + 1) = loc;
  int4 maxa = 0;
  for (int4 f = 1; f <= v.numfsibship; ++f) maxa = std::max(maxa, lv.numallelefs(f));
  lv.maxfsprobdim = v.genotypenum(std::max(maxa, 1));
  lv.maxfshsdim = std::max(lv.maxhsprobdim, lv.maxfsprobdim);
}

// Index maps: each parent genotype's class in the family's numbering.
void parent_index_maps() {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 nfs = v.numfsibship;
  const int4 np1 = v.nparent(1);
  int4 total = 0;
  for (int4 f = 1; f <= nfs; ++f)
    for (int4 r = 1; r <= 2; ++r)
      total += lv.hsprobdim(r == 1 ? lv.clusterfamily(1, f) : np1 + lv.clusterfamily(2, f));
  grow(lv.idxtgt, Dim(std::max(total, 1)));
  int4 at = 0;
  for (int4 f = 1; f <= nfs; ++f) {
    const int4 naf = lv.numallelefs(f);
    const int1* fa = &lv.allelefs(lv.locallelefs(f) + 1);
    auto position = [&](int4 x) {
      int4 pooled = 0;
      for (int4 i = 0; i < naf; ++i) {
        if (fa[i] == x && x > 0) return i + 1;
        if (fa[i] == 0) pooled = i + 1;
      }
      return pooled;
    };
    for (int4 r = 1; r <= 2; ++r) {
      const int4 j = r == 1 ? lv.clusterfamily(1, f) : np1 + lv.clusterfamily(2, f);
      lv.idxloc(2 * f + r - 3) = at;
      const int4 m = lv.allelehsnum(j);
      const int1* pa = &lv.allelehs(lv.allelehsloc(j) + 1);
      if (v.ploidy(sex_of(j)) == 1) {
        for (int4 i = 0; i < m; ++i) lv.idxtgt(++at) = position(pa[i]);
      } else {
        for (int4 i = 0; i < m; ++i) {
          for (int4 k = i; k < m; ++k) {
            int4 x = position(pa[i]);
            int4 y = position(pa[k]);
            if (x > y) std::swap(x, y);
            lv.idxtgt(++at) = (x < 1 || y < 1) ? 0 : pairnumber(x, y, naf);
          }
        }
      }
    }
  }
  lv.idxloc(2 * nfs) = at;
}

// Two-allele loci: identity triples and tables of 3 x 3.
void twoallele_index_maps() {
  Likelihoodvar& lv = likelihoodvar;
  const int4 nfs = variables.numfsibship;
  grow(lv.idxtgt, Dim(std::max(6 * nfs, 1)));
  for (int4 k = 0; k < 2 * nfs; ++k) {
    lv.idxloc(k) = 3 * k;
    for (int4 g = 1; g <= 3; ++g) lv.idxtgt(3 * k + g) = g;
  }
  lv.idxloc(2 * nfs) = 6 * nfs;
  for (int4 f = 1; f <= nfs; ++f) lv.fsprobdim(f) = 3;
  lv.maxfsprobdim = 3;
  lv.maxfshsdim = 3;
}

// Full-sib table locations, and room for the tables and their genotype indexes.
void fullsib_table_locations(int4 numallele) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 nfs = v.numfsibship;
  int4 rows = 3;
  int4 cols = 0;
  for (int4 f = 1; f <= nfs; ++f) {
    v.fsprobloc(f) = numallele > 2 ? cols : 3 * (f - 1);
    if (numallele > 2) {
      cols += lv.fsprobdim(f);
      rows = std::max<int4>(rows, v.haplodiploid == 1 ? lv.numallelefs(f) : lv.fsprobdim(f));
    }
  }
  if (numallele <= 2) cols = 3 * nfs;
  v.fsprobloc(nfs + 1) = cols;
  grow(lv.fsprob, Dim(std::max(rows, 1)), Dim(std::max(cols, 1)));
  const int4 d = lv.maxfsprobdim;
  grow(lv.fsgtypeidx, Dim(0, std::max(d, 1)), Dim(std::max(nfs, 1)));
  grow(lv.fsgtypejdx, Dim(std::max((d * d + 31) / 32, 1)), Dim(std::max(nfs, 1)));
  for (int4 f = 1; f <= nfs; ++f) lv.fsgtypeidx(0, f) = 0;
}

// Scaled counts of the offspring genotypes (the same for every evaluation of one inference).
void scaled_counts(int4 locus, int4 numallele) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const bool scale = v.fsscaleq == 1;
  real8 s = 1.0, c = 0.0;
  if (scale && numallele > 2) {
    s = v.scaleloc(v.locus3loc(locus));
    const real8 e = v.othererrorrate(locus);
    const real8 r = 1.0 - std::sqrt(e);
    const real8 m = (1 - v.haplodiploid) * r * r * 0.5 / numallele + 2.0;
    c = (m - std::pow(2.0, s)) / std::log(m);
  }
  const bool memo = scale && numallele > 2 && s < 1.0 && lv.scaleidx.allocated();
  for (int4 f = 1; f <= v.numfsibship; ++f) {
    const int4 at0 = lv.clusterfamilyloc(f);
    const int4 ngt = v.numfsgenotype(1, f) + v.numfsgenotype(2, f);
    if (memo) {
      for (int4 i = 1; i <= ngt; ++i) lv.scaleidx(v.numfsgtype(at0 + i), 1) = 0;
    }
    for (int4 i = 1; i <= ngt; ++i) {
      const int4 n = v.numfsgtype(at0 + i);
      real8 x = n;
      if (scale && numallele == 2) {
        x = v.scale2(n);
      } else if (scale && s < 1.0) {
        if (memo && lv.scaleidx(n, 1) > 0) {
          x = v.numfsgtypescaled(lv.scaleidx(n, 1));
        } else {
          x = scaled_count(n, s, c);
          if (memo) lv.scaleidx(n, 1) = at0 + i;
        }
      }
      v.numfsgtypescaled(at0 + i) = x;
    }
  }
}

// Haploid sons absorbed into their mothers' priors, with the scale taken out into the
// likelihood constant.
void absorb_haploid_sons(int4 locus) {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 np1 = v.nparent(1);
  const real8 t1 = v.transratehaploid(1, locus);
  const real8 t2 = v.transratehaploid(2, locus);
  const real8 m = (t1 > t2 || std::isnan(t2)) ? t1 : t2;
  const real8 r1 = t1 / m;
  const real8 r2 = t2 / m;
  for (int4 q = 1; q <= v.nparent(2); ++q) {
    const int4 nd = v.hapgtype(0, q);
    if (nd <= 0) continue;
    real8 nsons = 0.0;
    for (int4 i = 1; i <= nd; ++i) nsons += v.numgtypeh(i, q);
    const int4 j = np1 + q;
    const int1* a = &lv.allelehs(lv.allelehsloc(j) + 1);
    const int4 na = lv.allelehsnum(j);
    real8* b = &lv.crrtgenotypefre(1) - 1 + lv.hsprobloc(j);
    const bool logs = r1 > 1e-300 && r2 > 1e-300 && nsons >= 100;
    int4 g = 0;
    for (int4 i = 0; i < na; ++i) {
      for (int4 k = i; k < na; ++k) {
        ++g;
        // The mother a[i]/a[k] passes son h's allele with this chance, relative to the larger
        // rate (1: certain, no factor).
        auto son_chance = [&](int4 h) {
          const int4 x = v.hapgtype(h, q);
          const real8 u = x == a[i] ? r1 : r2;
          const real8 w = x == a[k] ? r1 : r2;
          return i == k ? u : (u + w) * 0.5;
        };
        if (logs) {
          real8 sum = 0.0;
          for (int4 h = 1; h <= nd; ++h) {
            const real8 t = son_chance(h);
            if (t > 0.9999999999999999) continue;
            sum += v.numgtypeh(h, q) * std::log(t);
          }
          b[g] *= std::exp(sum);
        } else {
          for (int4 h = 1; h <= nd; ++h) {
            const real8 t = son_chance(h);
            if (t > 0.9999999999999999) continue;
            b[g] *= std::pow(t, v.numgtypeh(h, q));
          }
        }
      }
    }
    lv.loglikehoodconst += std::log(m) * nsons;
  }
}

// Families without members take no part.
void drop_empty_families() {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 np1 = v.nparent(1);
  lv.mabsorb(4) = 0;
  for (int4 f = 1; f <= v.numfsibship; ++f) {
    if (lv.clusterfamilysize(f) != 0) continue;
    lv.fsib(f) = 0;
    --lv.hsib(lv.clusterfamily(1, f));
    --lv.hsib(np1 + lv.clusterfamily(2, f));
    ++lv.mabsorb(4);
  }
}

}  // namespace

void familylocus_setup(int4 locus, int4 numallele, int4 numgenotype, real8& logl) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  logl = 0.0;
  const int4 nfs = v.numfsibship;
  const int4 nall = v.nallparent;
  const bool dominant = v.dominantmarker(locus) == 1;
  const int4 errorclass = v.locuserror(locus);
  const bool othererrors = v.othererrorrate(locus) >= 1e-8;

  set_marker_case(locus, numallele, dominant);
  parent_list_room(numallele);
  known_parent_genotypes(locus, numallele);
  if (v.haplodiploid == 1 && v.numchildh > 0) haploid_counts(locus, numallele);

  lv.loglikehoodconst = 0.0;
  for (int4 j = 1; j <= nall; ++j) lv.hsib(j) = lv.hsib2(j);
  for (int4 f = 1; f <= nfs; ++f) lv.fsib(f) = 1;

  // Offspring genotype tables and family allele lists.
  grow(v.numfsgenotype, Dim(2), Dim(std::max(nfs, 1)));
  if (numallele == 2) {
    twoallele_family_tables(locus, numgenotype, dominant, errorclass);
  } else {
    for (int4 f = 1; f <= nfs; ++f) {
      if (!multiallele_family(f, locus, numallele, errorclass, othererrors)) {
        logl = kImpossible;
        return;
      }
    }
  }

  // Parents' allele lists and genotype spaces.
  if (numallele > 2) {
    for (int4 j = 1; j <= nall; ++j) parent_allele_list(j, numallele, errorclass);
    selfed_parent_union(errorclass);
    parent_genotype_spaces(numallele, errorclass);
    parent_index_maps();
  } else {
    twoallele_index_maps();
  }
  fullsib_table_locations(numallele);

  // The dominant cache belongs to one dominant block.
  if (dominant) {
    const int4 block = v.dominantloci(locus);
    if (block != lv.dominant_cache_block) {
      for (int4 f = 1; f <= nfs; ++f) lv.domfsibsave(f) = -1;
      lv.dominant_cache_block = block;
    }
  }

  if (!dominant) scaled_counts(locus, numallele);

  // The parents' priors.
  setgtypefre(locus, numallele, logl);
  if (logl <= kImpossible) return;

  if (v.numchildh >= 1) absorb_haploid_sons(locus);
  drop_empty_families();
}

}  // namespace kinrad
