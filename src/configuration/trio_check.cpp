// Mendelian screen of the offspring-father-mother trios a proposal creates.
#include <algorithm>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "core/packed_genotypes.hpp"

namespace kinrad {

namespace {

// false when offspring o cannot descend from father f and mother m at some error-free locus
// where all three are typed.
bool trio_compatible(int4 o, int4 f, int4 m) {
  auto& v = variables;
  // Candidate columns hold the mothers after the fathers; with one parent pool every parent
  // is a candidate of the single pool.
  const int4 mo = v.numsex == 2 ? v.numcandidate(1) + m : m;
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int4 na = v.obsnumallele(l);
    if (v.locuserror(l) != 0 || na <= 1) continue;
    int2 go = 0, gf = 0, gm = 0;
    setgetgtype.locusgtypeptr = v.indivgtype2(l).a;
    getgtype(go, o, na);
    setgetgtype.locusgtypeptr = v.cndgtype2(l).a;
    getgtype(gf, f, na);
    getgtype(gm, mo, na);
    if (go < 1 || gf < 1 || gm < 1) continue;
    if (v.dominantmarker(l) == 1) {
      // Phenotype 1: the band present, 2: absent.
      if (go == 1 && gf == 2 && gm == 2) return false;
      if (go != 1 && v.ploidy(1) == 1 && gf == 1) return false;
      continue;
    }
    const int4 a1 = v.genotypeid(1, go), a2 = v.genotypeid(2, go);
    const auto has = [&](int2 g, int4 ploidy, int4 a) {
      for (int4 k = 1; k <= ploidy; ++k)
        if (v.genotypeid(k, g) == a) return true;
      return false;
    };
    const int4 pf = v.ploidy(1), pm = v.ploidy(2);
    if (!((has(gf, pf, a1) && has(gm, pm, a2)) || (has(gf, pf, a2) && has(gm, pm, a1))))
      return false;
  }
  return true;
}

}  // namespace

void checktriocompatability(real8& logl, int4 n) {
  auto& v = variables;
  auto& av = annealvariables;
  (void)n;
  logl = 0.0;
  bool ok = true;
  for (int4 s = 1; s <= 2 && ok; ++s) {
    const int4 r = 3 - s;
    for (int4 k = 1; k <= av.numindivparentage(s) && ok; ++k) {
      const int4 o = av.indivparentage(k, s);
      if (av.selectedprntidxq2(o) != 0) continue;
      av.selectedprntidxq2(o) = 1;
      int4 other = -9;
      for (int4 j = 1; j <= av.numindivparentage(r); ++j)
        if (av.indivparentage(j, r) == o) {
          other = av.inferparentage(j, r, 2);
          break;
        }
      if (other == -9) other = std::max(v.inferparent(o, r), v.indivparent(o, r));
      const int4 p = av.inferparentage(k, s, 2);
      const int4 f = s == 1 ? p : other;
      const int4 m = s == 1 ? other : p;
      if (f > 0 && m > 0 && !trio_compatible(o, f, m)) ok = false;
    }
  }
  for (int4 s = 1; s <= 2; ++s)
    for (int4 k = 1; k <= av.numindivparentage(s); ++k)
      av.selectedprntidxq2(av.indivparentage(k, s)) = 0;
  if (!ok) logl = -1e300;
}

}  // namespace kinrad
