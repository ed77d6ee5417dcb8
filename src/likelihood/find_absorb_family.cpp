#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/full_sib_internal.hpp"
#include "likelihood/work_arrays_internal.hpp"

namespace kinrad {

// The choice depends on the family graph alone, so it serves every locus of one family
// set-up. It works on copies of hsib and fsib, which it leaves as it found them.
void findabsorbfamily() {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 nfs = v.numfsibship;
  const int4 nall = v.nallparent;
  engine::grow(lv.hsibcopy, Dim(std::max(nall, 1)));
  engine::grow(lv.fsibcopy, Dim(std::max(nfs, 1)));
  FArray<int4, 1>& hs = lv.hsibcopy;
  FArray<int1, 1>& fs = lv.fsibcopy;
  for (int4 p = 1; p <= nall; ++p) hs(p) = lv.hsib(p);
  for (int4 f = 1; f <= nfs; ++f) fs(f) = lv.fsib(f);
  lv.nabsorb(1) = 0;

  int4 count = 0;
  bool added = true;
  while (added) {
    added = false;
    for (int4 s = 1; s <= 2; ++s) {
      for (int4 i = 1; i <= v.nparent(s); ++i) {
        const int4 p = v.npstartloc1(s) + i;
        if (hs(p) != 1) continue;
        if (v.numsex == 1) {
          const int4 o = other_role_joint(p);
          if (o > 0 && hs(o) != 0) continue;
        }
        int4 mate = 0, f = 0;
        for (int4 k = 1; k <= lv.mate1(0, p); ++k) {
          const int4 m = lv.mate1(k, p);
          const int4 g = s == 1 ? lv.fsibid(i, m) : lv.fsibid(m, i);
          if (g >= 1 && g <= nfs && fs(g) == 1) {
            mate = m;
            f = g;
            break;
          }
        }
        if (f == 0) continue;
        fs(f) = 0;
        ++count;
        const int4 r = v.npstartloc1(3 - s) + mate;
        lv.iabsorb(1, count) = p;
        lv.iabsorb(2, count) = r;
        lv.nabsorb(count) = f;
        hs(p) = 0;
        --hs(r);
        lv.fsprobidx(f) = -1;
        added = true;
      }
    }
  }
  lv.mabsorb(1) = count;
  for (int4 f = 1; f <= nfs; ++f)
    if (fs(f) == 1) lv.nabsorb(++count) = f;
  lv.mabsorb(2) = count;

  // Selfed families are counted here; the selfed absorption of the locus takes them off.
  lv.mabsorb(3) = 0;
  if (v.numsex == 1 && lv.selfprnt.allocated()) {
    for (int4 k = 1; k <= lv.selfprnt(0); ++k) {
      const int4 p = lv.selfprnt(k);
      if (p < 1 || p > v.nparent(1)) continue;
      const int4 q = v.parentjdx(p, 1);
      if (q < 1) continue;
      const int4 f = lv.fsibid(p, q);
      if (f >= 1 && f <= nfs) ++lv.mabsorb(3);
    }
  }

  if (v.numsex == 1) {
    engine::grow(lv.copyfre, Dim(std::max(lv.mabsorb(1), 1)));
    for (int4 j = 1; j <= lv.mabsorb(1); ++j) lv.copyfre(j) = -1;
  }
  engine::grow(lv.flagsnp, Dim(std::max(count, 1)));
  for (int4 j = 1; j <= count; ++j) lv.flagsnp(j) = -1;
}

}  // namespace kinrad
