// The two-sex layer stage: the graph a cluster's simple peeling leaves (fathers and mothers
// joined by full-sib families, with cycles), the genotype-set reduction of its parents, the sex
// scanned first and the genotypes no mate allows, handed to the layer recursion (layer_run.cpp).
// Also the readers of the family tables by the parents' genotype positions.
#include <algorithm>
#include <array>
#include <cmath>

#include "core/modules/absorbvar.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/full_sib_internal.hpp"
#include "likelihood/layer/layer_internal.hpp"
#include "likelihood/likelihood_internal.hpp"
#include "likelihood/work_arrays_internal.hpp"

namespace kinrad {

FamilyTable family_table(int4 f, const LocusKind& k) {
  FamilyTable t;
  if ((t.base = layer_pair_table(f, t.ld)) != nullptr) {
    t.direct = true;
    return t;
  }
  return locus_family_table(f, k);
}

FamilyTable locus_family_table(int4 f, const LocusKind& k) {
  const bool twoallele = k.twoallele;
  const Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  FamilyTable t;
  if (v.numfsgenotype(1, f) + v.numfsgenotype(2, f) == 0 || lv.fsprobdim(f) < 1) {
    t.neutral = true;
    return t;
  }
  const bool haplo = v.haplodiploid == 1;
  const TableReader r = table_of(f);
  t.base = r.base;
  t.ld = r.ld;
  if (k.dominant) {
    // Dominant: 3 x 3 over the phenotype-genotype classes (2 x 3 for haploid fathers).
    t.rows = haplo ? 2 : 3;
    t.cols = 3;
    return t;
  }
  if (k.errors) {
    if (twoallele) {
      t.rows = haplo ? 2 : 3;
      t.cols = 3;
      // A diploid table marked empty: the family's offspring say nothing at this locus.
      if (!haplo && r(2, 1) < 0.0) t.neutral = true;
      return t;
    }
    t.fcls = &lv.idxtgt(lv.idxloc(2 * f - 2) + 1);
    t.mcls = &lv.idxtgt(lv.idxloc(2 * f - 1) + 1);
    if (haplo) {
      // Rows: the father's alleles; columns up to the (possibly trimmed) table dimension.
      t.rows = lv.numallelefs(f);
      t.cols = lv.fsprobdim(f);
      return t;
    }
    if (lv.numallelefs(f) == 1) {
      // One family allele: every parent pair gives the same factor, held in the constant.
      t.neutral = true;
      return t;
    }
    t.rows = t.cols = std::min<int4>(v.genotypenum(lv.numallelefs(f)), lv.fsprobdim(f));
    return t;
  }
  t.masked = true;
  t.cols = lv.fsprobdim(f);
  t.rows = haplo ? (twoallele ? 2 : lv.numallelefs(f)) : t.cols;
  t.rowmask = static_cast<uint16_t>(v.equirowcol(f, 1));
  t.colmask = haplo ? static_cast<uint16_t>(v.equirowcol(f, 2)) : t.rowmask;
  if (!twoallele) {
    t.fcls = &lv.idxtgt(lv.idxloc(2 * f - 2) + 1);
    t.mcls = &lv.idxtgt(lv.idxloc(2 * f - 1) + 1);
  }
  return t;
}

namespace {

constexpr real8 kImpossible = -1e300;

// Parents of a family, or of a pair without offspring that a pair table links.
int4 father_of(int4 f) {
  if (f > variables.numfsibship && f <= absorbvar.numpairs) return pair_father(f);
  return variables.npstartloc1(1) + likelihoodvar.clusterfamily(1, f);
}
int4 mother_of(int4 f) {
  if (f > variables.numfsibship && f <= absorbvar.numpairs) return pair_mother(f);
  return variables.npstartloc1(2) + likelihoodvar.clusterfamily(2, f);
}

}  // namespace

void findabsorbsex() {
  Likelihoodvar& lv = likelihoodvar;
  const int4 nfather = variables.nparent(1);
  constexpr int4 kNone = -32768;
  int4 m[3] = {0, kNone, kNone};
  for (int4 k = 1; k <= lv.layercore(0); ++k) {
    const int4 p = lv.layercore(k);
    const int4 sex = p <= nfather ? 1 : 2;
    m[sex] = std::max(m[sex], lv.layernummate(p, 0));
  }
  const std::array<int4, 3> fathers{1, 2, 1}, mothers{2, 1, -1};
  if (m[1] != kNone && (m[2] == kNone || m[1] > m[2])) {
    lv.absorbsex = fathers;
    return;
  }
  if (m[1] == kNone || m[1] < m[2]) {
    lv.absorbsex = mothers;
    return;
  }
  // Equal largest counts. Families of partners with different counts: the one holding the
  // smallest offspring number decides (a later family on equal numbers), fathers first unless
  // its father has fewer families than its mother.
  const Variables& v = variables;
  auto smallest = [&](int4 f) {
    int4 low = 0;
    for (int4 i = v.familyindivloc(f - 1) + 1; i <= v.familyindivloc(f); ++i)
      if (low == 0 || lv.familyindiv(i) < low) low = lv.familyindiv(i);
    return low;
  };
  int4 low = 0, nf = 0, nm = 0;
  for (int4 k = 1; k <= lv.layercore(0); ++k) {
    const int4 p = lv.layercore(k);
    if (p > nfather) continue;
    for (int4 i = 1; i <= lv.layernummate(p, 0); ++i) {
      const int4 f = lv.layermate(i, p, 0);
      const int4 q = mother_of(f);
      if (lv.layernummate(q, 0) == lv.layernummate(p, 0)) continue;
      const int4 o = smallest(f);
      if (o > 0 && (low == 0 || o <= low)) {
        low = o;
        nf = lv.layernummate(p, 0);
        nm = lv.layernummate(q, 0);
      }
    }
  }
  if (low > 0) {
    lv.absorbsex = nf < nm ? mothers : fathers;
    return;
  }
  // Every partner has the same count: the family with the smallest offspring number among
  // partners of different numbers within their sexes, fathers first when the father's number
  // is the larger.
  int4 pf = 0, pm = 0;
  for (int4 k = 1; k <= lv.layercore(0); ++k) {
    const int4 p = lv.layercore(k);
    if (p > nfather) continue;
    for (int4 i = 1; i <= lv.layernummate(p, 0); ++i) {
      const int4 f = lv.layermate(i, p, 0);
      if (lv.clusterfamily(1, f) == lv.clusterfamily(2, f)) continue;
      const int4 o = smallest(f);
      if (o > 0 && (low == 0 || o < low)) {
        low = o;
        pf = lv.clusterfamily(1, f);
        pm = lv.clusterfamily(2, f);
      }
    }
  }
  lv.absorbsex = low > 0 && pf > pm ? fathers : mothers;
}

void trimgenotypes(int4 s, int4& ok) {
  Likelihoodvar& lv = likelihoodvar;
  const Variables& v = variables;
  const int4 nfather = v.nparent(1);
  LocusKind kind;
  kind.twoallele = lv.crrtmarkertype <= 2;
  kind.dominant = v.crrtmarkerdomq == 1;
  kind.errors = false;  // trimming runs at loci whose tables rule pairs out exactly
  ok = 1;
  for (int4 k = 1; k <= lv.layercore(0); ++k) {
    const int4 p = lv.layercore(k);
    if ((p <= nfather ? 1 : 2) != s) continue;
    const int4 n = lv.hsprobdim(p);
    if (n <= 1) continue;
    real8* w = &lv.layerweight(lv.layerwloc(p) + 1, 0);
    for (int4 i = 1; i <= lv.layernummate(p, 0); ++i) {
      const int4 f = lv.layermate(i, p, 0);
      const FamilyTable t = locus_family_table(f, kind);
      if (t.neutral) continue;
      const bool pfather = father_of(f) == p;
      const int4 q = pfather ? mother_of(f) : father_of(f);
      const real8* wq = &lv.layerweight(lv.layerwloc(q) + 1, 0);
      const int4* own = pfather ? t.fcls : t.mcls;
      for (int4 g = 1; g <= n; ++g) {
        if (w[g - 1] <= 0.0) continue;
        if (own != nullptr && own[g - 1] == 0) continue;  // outside every table: never judged
        bool possible = false;
        for (int4 j = 1; j <= lv.hsprobdim(q) && !possible; ++j)
          possible = wq[j - 1] > 0.0 && (pfather ? t(g, j) : t(j, g)) >= 1e-300;
        if (!possible) w[g - 1] = 0.0;
      }
    }
    int4 kept = 0;
    for (int4 g = 0; g < n; ++g) kept += w[g] > 0.0 ? 1 : 0;
    ok = kept;
    if (kept == 0) return;
  }
}

void layer_stage(int4 locus, int4 numallele, real8& logl) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 np = v.nallparent;

  // Trees the simple peeling closed in a parent that keeps no family: their sums are factors
  // of their own.
  real8 total = lv.loglikehoodconst;
  FArray<int4, 1>& mark = lv.hsibcopy;  // 1 received, -1 summed out
  for (int4 p = 1; p <= np; ++p) mark(p) = 0;
  for (int4 j = 1; j <= lv.mabsorb(1); ++j) mark(lv.iabsorb(2, j)) = 1;
  for (int4 j = 1; j <= lv.mabsorb(1); ++j) mark(lv.iabsorb(1, j)) = -1;
  for (int4 p = 1; p <= np; ++p) {
    if (mark(p) != 1 || lv.hsib(p) > 0) continue;
    const real8* w = &lv.crrtgenotypefre(lv.hsprobloc(p) + 1);
    real8 s = 0.0;
    for (int4 i = 0; i < lv.hsprobdim(p); ++i) s += w[i];
    if (s <= 1e-300) {
      logl = kImpossible;
      return;
    }
    total += std::log(s);
  }

  // The remaining graph: its parents, their weight blocks and their families.
  int4 ncore = 0, nweight = 0;
  int4 nsex[3] = {0, 0, 0};
  engine::grow(lv.layercore, Dim(0, np));
  engine::grow(lv.layerwloc, Dim(1, np));
  for (int4 p = 1; p <= np; ++p) {
    if (lv.hsib(p) <= 0) continue;
    lv.layercore(++ncore) = p;
    lv.layerwloc(p) = nweight;
    nweight += lv.hsprobdim(p);
    ++nsex[p <= v.nparent(1) ? 1 : 2];
  }
  lv.layercore(0) = ncore;
  v.numparent(1) = std::min(nsex[1], nsex[2]);
  v.numparent(2) = std::max(nsex[1], nsex[2]);
  v.numparent(3) = nsex[1] + nsex[2];
  // More than 100 parents of the smaller sex in the remaining graph is beyond capacity.
  if (v.numparent(1) > 100) {
    logl = kImpossible;
    return;
  }
  layer_run_size(nweight, std::max(lv.maxnummate, 1), v.numparent(3) + 1);
  for (int4 k = 1; k <= ncore; ++k) {
    const int4 p = lv.layercore(k);
    lv.layernummate(p, 0) = 0;
    lv.layerrole(p) = static_cast<int1>(p <= v.nparent(1) ? 1 : 2);
  }
  for (int4 j = lv.mabsorb(1) + 1; j <= lv.mabsorb(2); ++j) {
    const int4 f = lv.nabsorb(j);
    if (lv.fsib(f) == 0) continue;
    for (const int4 p : {father_of(f), mother_of(f)}) {
      if (lv.hsib(p) <= 0) continue;
      lv.layermate(++lv.layernummate(p, 0), p, 0) = f;
    }
  }
  // Keys of the conditioning choice, from the graph the layer stage starts with: 10 for a known
  // parent, 10 for each known mate and the size of each family, times the sample size, minus
  // the smallest offspring number of its families (the sample size when it has none). In 64
  // bits: a parent with thousands of mates overflows 32.
  engine::grow(lv.layerkey, Dim(1, np));
  for (int4 k = 1; k <= ncore; ++k) {
    const int4 p = lv.layercore(k);
    int8 score = lv.knownprt(p) >= 1 ? 10 : 0;
    int4 smallest = v.smplsize;
    for (int4 i = 1; i <= lv.layernummate(p, 0); ++i) {
      const int4 f = lv.layermate(i, p, 0);
      const int4 q = father_of(f) == p ? mother_of(f) : father_of(f);
      if (lv.knownprt(q) >= 1) score += 10;
      const int4 first = v.familyindivloc(f - 1) + 1;
      const int4 last = v.familyindivloc(f);
      score += last - first + 1;
      if (last >= first && lv.familyindiv(first) < smallest) smallest = lv.familyindiv(first);
    }
    lv.layerkey(p) = score * static_cast<int8>(v.smplsize) - smallest;
  }
  // The sex scanned first: chosen from the graph when neither sex is monogamous and no parent
  // is known, else fathers.
  if (v.converseq != 0 && v.anyknownprtq(1) == 0) {
    findabsorbsex();
  } else {
    lv.absorbsex = {1, 2, 1};
  }

  // Genotype-set reduction, a second time against the mates' kept genotypes where the first
  // pass leaves much to drop; the layer peeling visits the kept genotypes only, heaviest first.
  engine::grow(lv.parentprt, Dim(0, np), Dim(2));
  lv.parentprt(0, 1) = lv.parentprt(0, 2) = 0;
  for (int4 k = 1; k <= ncore; ++k) {
    const int4 p = lv.layercore(k);
    const int4 s = p <= v.nparent(1) ? 1 : 2;
    lv.parentprt(++lv.parentprt(0, s), s) = p;
  }
  if (!layer_reduce(locus, numallele)) {
    logl = kImpossible;
    return;
  }
  if (!layer_start_weights(total)) {
    logl = kImpossible;
    return;
  }
  LayerSpec spec;
  spec.locus = locus;
  spec.kind.twoallele = lv.crrtmarkertype <= 2;
  spec.kind.dominant = v.crrtmarkerdomq == 1;
  spec.kind.errors = !spec.kind.dominant && v.locuserror(locus) != 0;
  // At error-free codominant loci of more than two alleles, with more than two parents of each
  // sex, the genotypes no family with some one mate allows.
  if (!spec.kind.dominant && !spec.kind.errors && !spec.kind.twoallele && v.numparent(1) > 2) {
    for (int4 s = 1; s <= 2; ++s) {
      int4 ok = 1;
      trimgenotypes(s, ok);
      if (ok == 0) {
        logl = kImpossible;
        return;
      }
    }
  }
  equigenotype(locus);
  real8 lnsum = 0.0;
  if (!layer_run(spec, lnsum)) {
    logl = kImpossible;
    return;
  }
  logl = total + lnsum;
}

}  // namespace kinrad
