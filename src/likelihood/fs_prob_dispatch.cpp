#include <algorithm>

#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/fs_prob_error_internal.hpp"

namespace kinrad {

bool error_locus_table(int4 locus, int4 numallele, int4 i, int4 f, std::array<real8, 2>& wsum,
                       bool& othertable, real8& logl) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 errorclass = v.locuserror(locus);
  const bool haplo = v.haplodiploid == 1;
  const int4 c1 = v.numfsgenotype(1, f);
  const int4 c2 = v.numfsgenotype(2, f);

  if (lv.crrtmarkertype == 1) {
    // Dominant locus: the two phenotype counts describe the family. The first group of the
    // absorb list is peeled straight from the shared tables when they reach its counts, and
    // from closed forms when one count is zero at an error-free diploid locus.
    const bool first = i <= lv.mabsorb(1);
    if (errorclass != 0 && c1 <= 20 && c2 <= 20 && first) return true;
    const int4 key = (v.maxfsibsize + 1) * c1 + c2;
    if (key == lv.domfsibsave(f)) {
      lv.loglikehoodconst += lv.domconstlogl(f);
      return true;
    }
    if (errorclass == 0 && !haplo && first && (c1 == 0 || c2 == 0)) return true;
    fsprobcomputedom(errorclass, v.dominantloci(locus), f, c1, c2, lv.domconstlogl(f));
    lv.domfsibsave(f) = key;
    return true;
  }

  const int4 a = lv.numallelefs(f);
  const int4 bk = v.codominantloci(locus);
  if (a > 8) {
    int4 fail = 1;
    fsprobcompute3(locus, f, lv.fsprobdim(f), a, c1 + c2, fail,
                   v.droprate(locus) + v.othererrorrate(locus));
    if (v.nparent(2) > 1) othertable = true;
    if (fail != 0) {
      logl = -1e300;
      return false;
    }
    return true;
  }
  if (c1 + c2 == 1) {
    const int4 ng = lv.fsprobdim(f);
    fsprobcompute21(bk, f, ng, haplo ? a : ng, a, numallele,
                    v.othererrorrate(locus) >= 1e-8 ? 1 : 0, wsum);
    if (v.nparent(2) > 1) othertable = true;
    return true;
  }
  Fs2Call call;
  call.bk = bk;
  call.fam = f;
  call.ng = lv.fsprobdim(f);
  call.na = a;
  call.nfirst = haplo ? a : call.ng;
  call.nclass = c1 + c2;
  call.k = (a * a * a - a - 6) / 6;
  call.npair = static_cast<int4>(v.dadmumoffprbidx(call.k + 1).a.size());
  call.numallele = numallele;
  call.pos = i;
  call.noabsorb = othertable ? 1 : 0;
  const int4 pairs = haplo ? (a + 1) * a * a / 2 : (a * a + a + 2) * (a * a + a) / 8;
  call.nword = numallele <= 2 ? 1 : (pairs + 31) / 32;
  int4 status = 1;
  fsprobcompute2(call, status, logl);
  if (status != 0) {
    logl = -1e300;
    return false;
  }
  // A one-family cluster has its locus result already.
  return v.purefsshortcut == 0 || haplo;
}

}  // namespace kinrad
