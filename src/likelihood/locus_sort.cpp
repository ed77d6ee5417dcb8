// The cheap Mendelian pre-checks of a family that read only the offspring's own genotypes
// (locussort) or the two-allele codes of known parents (genotypecheckpdom).
#include <algorithm>

#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/genotype_codes_internal.hpp"
#include "likelihood/likelihood.hpp"

namespace kinrad {

using checks::offspring_code2;

namespace {

// Distinct genotypes of one full-sib family at one locus of more than two alleles.
struct FamilyTally {
  int4 nhom = 0;
  int4 nhet = 0;
  int4 nallele = 0;
  bool stopped = false;  // the scan ended early: too many homozygotes or alleles
  int2 hom[4]{};
  int2 het[8]{};
  int4 homcount[4]{};
  int4 hetcount[8]{};
  int4 allele[8]{};
};

bool has_allele(const FamilyTally& t, int4 a) {
  for (int4 i = 0; i < t.nallele; ++i)
    if (t.allele[i] == a) return true;
  return false;
}

// Scans the members of family f at locus l. indexgtype(g) holds the genotype's place in its list
// (positive homozygotes, negative heterozygotes) and is cleared before returning.
void tally_family(int4 f, int4 l, FamilyTally& t) {
  Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  const int4 hmax = v.numhomozygotemax;
  const int4 amax = v.numallelemax;
  const int4 m = v.maxobsnumallele;
  const int4 k = v.obsnumallele(l);
  const FView<int2, 1>& col = v.indivgtype2(l).a;
  t = FamilyTally{};
  for (int4 i = v.familyindivloc(f - 1) + 1; i <= v.familyindivloc(f); ++i) {
    const int4 g = col(lv.familyindiv(i));
    if (g == 0) continue;
    const int4 seen = v.indexgtype(g);
    if (seen > 0) {
      ++t.homcount[seen - 1];
      continue;
    }
    if (seen < 0) {
      ++t.hetcount[-seen - 1];
      continue;
    }
    if (g <= m) {
      t.hom[t.nhom] = static_cast<int2>(g);
      t.homcount[t.nhom] = 1;
      v.indexgtype(g) = static_cast<int2>(++t.nhom);
      if (t.nhom > hmax) {
        t.stopped = true;
        break;
      }
      if (!has_allele(t, g)) t.allele[t.nallele++] = g;
    } else {
      t.het[t.nhet] = static_cast<int2>(g);
      t.hetcount[t.nhet] = 1;
      v.indexgtype(g) = static_cast<int2>(-(++t.nhet));
      if (t.nallele < k) {
        for (int4 r = 1; r <= 2; ++r) {
          const int4 a = v.genotypeid(r, g);
          if (!has_allele(t, a) && t.nallele <= amax) t.allele[t.nallele++] = a;
        }
      }
    }
    if (t.nallele > amax) {
      t.stopped = true;
      break;
    }
  }
  for (int4 i = 0; i < t.nhom; ++i) v.indexgtype(t.hom[i]) = 0;
  for (int4 i = 0; i < t.nhet; ++i) v.indexgtype(t.het[i]) = 0;
}

// Whether a tally rules the family out (allele bound M aside).
bool tally_rejects(const FamilyTally& t, int4 bound) {
  const Variables& v = variables;
  const int4 hmax = v.numhomozygotemax;
  const int4 amax = v.numallelemax;
  if (t.stopped || t.nhom > hmax || t.nallele > amax || t.nallele > bound) return true;
  if (t.nallele == amax - 1 && t.nhom >= 2) return true;
  if (t.nallele != amax) return false;
  if (t.nhom > 0) return true;
  if (t.nhet < 3) return false;
  if (v.haplodiploid == 1) return true;
  // Two diploid parents pass each allele to at most two of the distinct heterozygotes when the
  // family shows all four alleles.
  for (int4 i = 0; i < t.nallele; ++i) {
    int4 n = 0;
    for (int4 j = 0; j < t.nhet; ++j)
      if (v.genotypeid(1, t.het[j]) == t.allele[i] || v.genotypeid(2, t.het[j]) == t.allele[i]) ++n;
    if (n >= 3) return true;
  }
  return false;
}

void store_tally(int4 f, int4 pos3, const FamilyTally& t) {
  Likelihoodvar& lv = likelihoodvar;
  const int4 g = t.nhom + t.nhet;
  if (t.stopped || g > lv.fsfamilygtype_k || g > lv.fsfamilygtype.ubound(1)) {
    // No room: the per-locus set-up reads this family's members one by one.
    lv.fsfamilygtype(0, 1, f, pos3) = 0;
    return;
  }
  lv.fsfamilygtype(0, 1, f, pos3) = static_cast<int2>(g);
  for (int4 i = 0; i < t.nhom; ++i) {
    lv.fsfamilygtype(i + 1, 1, f, pos3) = t.hom[i];
    lv.fsfamilygtype(i + 1, 2, f, pos3) = static_cast<int2>(t.homcount[i]);
  }
  for (int4 i = 0; i < t.nhet; ++i) {
    lv.fsfamilygtype(t.nhom + i + 1, 1, f, pos3) = t.het[i];
    lv.fsfamilygtype(t.nhom + i + 1, 2, f, pos3) = static_cast<int2>(t.hetcount[i]);
  }
}

// A haploid father passes one allele to all his daughters: they cannot show both homozygotes of
// a two-allele locus.
bool two_allele_rejects(int4 f, int4 l) {
  const Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  bool seen[3] = {false, false, false};
  int4 distinct = 0;
  for (int4 i = v.familyindivloc(f - 1) + 1; i <= v.familyindivloc(f); ++i) {
    const int4 c = offspring_code2(lv.familyindiv(i), l);
    if (c != 1 && c != 2) continue;
    if (seen[c]) continue;
    seen[c] = true;
    if (++distinct > v.numhomozygotemax) return true;
  }
  return false;
}

bool selfed_family(int4 f) {
  const Variables& v = variables;
  const int4 p1 = likelihoodvar.clusterfamily(1, f);
  return v.parentjdx.allocated() && p1 >= 1 && p1 <= v.parentjdx.ubound(1) &&
         v.parentjdx(p1, 1) == likelihoodvar.clusterfamily(2, f);
}

}  // namespace

void locussort(int4& ok, int4 skipcheck) {
  const Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  ok = 1;
  if (v.maxfsibsize <= v.numhomozygotemax) return;
  if (v.maxfsibsize >= 100 && v.genotypecheckq == 0) return;
  if (skipcheck != 0) return;
  if (!v.locuscodomnoerror.allocated() || v.locuscodomnoerror(0) < 1) return;
  if (!v.passlocusq.allocated()) return;

  // A selfed parent carries at most two alleles; the bound only applies when enough
  // multi-allele loci make the test worth its cost.
  const bool selfers = v.numsex == 1 && lv.selfprnt.allocated() && lv.selfprnt(0) > 0 &&
                       v.locus3.allocated() && v.locus3(0) >= 3;
  const bool multi = lv.fsfamilygtype.allocated();
  FamilyTally t;
  for (int4 f = 1; f <= v.numfsibship; ++f) {
    if (lv.clusterfamilysize(f) <= v.numhomozygotemax) continue;
    const int4 bound = !selfers ? 99 : (selfed_family(f) ? 2 : 9);
    for (int4 i = 1; i <= v.locuscodomnoerror(0); ++i) {
      const int4 l = v.locuscodomnoerror(i);
      if (v.passlocusq(l)) continue;
      const int4 k = v.obsnumallele(l);
      if (k > 2) {
        tally_family(f, l, t);
        const int4 pos3 = v.locus3loc(l);
        if (multi && pos3 >= 1 && pos3 <= lv.fsfamilygtype.ubound(4)) store_tally(f, pos3, t);
        if (tally_rejects(t, bound)) {
          ok = 0;
          return;
        }
      } else if (k == 2 && v.haplodiploid == 1 && two_allele_rejects(f, l)) {
        ok = 0;
        return;
      }
    }
  }
}

void genotypecheckpdom(int4& ok) {
  const Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  ok = 0;
  if (v.locusdomnoerror.allocated() && v.locusdomnoerror(0) > 0) {
    const int4 np1 = v.nparent(1);
    for (int4 f = 1; f <= v.numfsibship; ++f) {
      const int4 k1 = lv.knownprt(lv.clusterfamily(1, f));
      const int4 k2 = lv.knownprt(np1 + lv.clusterfamily(2, f));
      if (k1 <= 0 || k2 <= 0) continue;
      for (int4 i = 1; i <= v.locusdomnoerror(0); ++i) {
        const int4 l = v.locusdomnoerror(i);
        if (v.locus2loc(l) <= 0) continue;
        // Both parents without the band (code 2) cannot have an offspring with it (code 1).
        if (checks::candidate_code2(k1, l) <= 1 ||
            checks::candidate_code2(v.numcandidate(1) + k2, l) <= 1)
          continue;
        const FView<int2, 1>& col = v.indivgtype2(l).a;
        for (int4 m = v.familyindivloc(f - 1) + 1; m <= v.familyindivloc(f); ++m) {
          const auto word = static_cast<uint16_t>(col(lv.familyindivll(1, m)));
          if (((word >> lv.familyindivll(2, m)) & 3u) == 1u) return;
        }
      }
    }
  }
  ok = 1;
}

}  // namespace kinrad
