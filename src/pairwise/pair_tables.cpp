// The dyad log-likelihood tables of the analysis: allocated on the first call, filled from
// their caches or computed, with the known relationships entered as starting values.

#include <algorithm>
#include <array>
#include <filesystem>
#include <iostream>
#include <string>

#include "core/error_stop.hpp"
#include "core/format_write.hpp"
#include "core/modules.hpp"
#include "core/system_memory.hpp"
#include "core/variables_routines.hpp"
#include "model/model.hpp"
#include "pairwise/pairwise.hpp"
#include "pairwise/pairwise_internal.hpp"

namespace kinrad {

namespace {

using Delta = std::array<real8, 9>;

bool selfingpossible() {
  return variables.numsex == variables.allowinbreeding;
}

bool mhsibcondition() {
  const Variables& v = variables;
  return v.haplodiploid == 1 && (v.smplsizedh(1) > 0 || v.monogamy(2) == 0);
}

// Half sibs exist on the paternal side unless the sample is all monogamous (a haplodiploid
// species: unless the fathers are monogamous).
bool halfsibscomputed() {
  const Variables& v = variables;
  return (v.haplodiploid == 0 && v.allmonogamy == 0) || (v.haplodiploid == 1 && v.monogamy(1) == 0);
}

index_t triangle(int4 n) {
  return static_cast<index_t>(n) * (n - 1) / 2;
}

// What the first call allocates, table by table (bytes of single-precision values).
struct Plan {
  bool mhs = false, ss = false, hs = false, selfout = false, po = false;
};

Plan tableplan() {
  const Variables& v = variables;
  Plan p;
  p.mhs = mhsibcondition();
  p.ss = !p.mhs && selfingpossible() && v.pairwiseoptionq == 1;
  // The half-sib triangle serves the lower triangle of the full-sib table, or the symmetric
  // half-sib table, wherever half sibs are computed; elsewhere both read 0.
  p.hs = halfsibscomputed();
  p.selfout = v.pairwiseoptionq == 1 && selfingpossible();
  p.po = v.pairwiseoptionq == 1 && v.allcandidate > 0;
  return p;
}

int8 planbytes(const Plan& p) {
  const Variables& v = variables;
  const int8 n = v.smplsize;
  const int8 tri = triangle(v.smplsize);
  int8 values = tri;  // full sibs
  if (p.mhs) values += tri;
  if (p.ss) values += tri;
  if (p.hs) values += tri;
  if (p.selfout) values += n * n;
  if (p.po) values += static_cast<int8>(v.numcandidate(1) + v.numcandidate(2)) * n;
  return values * static_cast<int8>(sizeof(real4));
}

void freetables() {
  Variables& v = variables;
  v.prbfstri.deallocate();
  v.prbhstri.deallocate();
  v.prbmhsibtri.deallocate();
  v.prbsstri.deallocate();
  v.prbselfoutpair.deallocate();
  v.prbpopairtgt.deallocate();
  v.prbhspairq = 0;
  v.prbfspairlower = 1;
}

// Allocates the tables of the first call; false when they do not fit (nothing is left
// allocated then).
bool allocatetables() {
  Variables& v = variables;
  const Plan p = tableplan();
  const int8 limit = v.dyadtablememorylimit > 0 ? v.dyadtablememorylimit : physical_memory_bytes();
  if (limit > 0 && planbytes(p) > limit) return false;
  const index_t tri = triangle(v.smplsize);
  const int4 n = v.smplsize;
  bool ok = true;
  if (p.mhs) ok = ok && v.prbmhsibtri.try_allocate(Dim(0, tri - 1));
  if (p.ss) ok = ok && v.prbsstri.try_allocate(Dim(0, tri - 1));
  ok = ok && v.prbfstri.try_allocate(Dim(0, tri - 1));
  if (p.hs) ok = ok && v.prbhstri.try_allocate(Dim(0, tri - 1));
  if (p.selfout) ok = ok && v.prbselfoutpair.try_allocate(Dim(n), Dim(n));
  if (p.po)
    ok = ok && v.prbpopairtgt.try_allocate(Dim(v.numcandidate(1) + v.numcandidate(2)), Dim(n));
  if (!ok) freetables();
  return ok;
}

void say(bool show, const char* text) {
  if (show) fwrite(std::cout, "(A)", text);
}

}  // namespace

int8 dyad_table_bytes() {
  return planbytes(tableplan());
}

void calculatepairprob(int4 mode) {
  Variables& v = variables;
  if (v.pairwiseoptionq == 0 && (v.numsex == 1 || v.allowinbreeding == 1 || v.maxobsnumallele > 2 ||
                                 10 * v.numloci < v.smplsize))
    return;
  if (v.locus2.allocated() && v.locus2(0) > 0) computegtypefre(0, 0);

  const bool firstcall = !prbfspair_allocated();
  if (firstcall && !allocatetables()) {
    if (v.fulllikelihoodmethodq != 0) {
      v.quicksearchq = 0;
      v.pairwiseoptionq = 0;
      return;
    }
    v.errmsg(1) = "Too many offspring. Out of memory!";
    stoponerror(1, "CalculatePairProb");
  }

  const int4 n = v.smplsize;
  FArray<int4, 2> keptinferparent;
  if (!firstcall && v.inferparent.allocated()) keptinferparent = v.inferparent.copy();
  FArray<int4, 2> kept = v.indivparent.copy();
  if (v.indivparent.allocated()) v.indivparent.fill(-1);

  const bool show = v.displayq != 0 && v.threadid == 0;
  const int4 ishow = show ? 1 : 0;
  const real8 x = v.haplodiploid == 1 ? 0.0 : 0.25;
  // Caches hold tables of the input's allele frequencies: a mode-2 call, or a set-up that
  // resumed with a checkpoint's frequencies, neither reads nor writes them.
  const bool usecache = mode == 1 && v.checkpointfrequencyq == 0;
  auto cachename = [&](const char* suffix) { return v.fname + suffix; };
  auto readcache = [&](DyadTable t, const char* suffix) {
    if (!usecache) return false;
    const std::string f = cachename(suffix);
    if (!std::filesystem::exists(f)) return false;
    int4 ok = 1;
    readwritedyadlogl(1, t, f, ishow, ok, mode);
    return ok != 0;
  };
  auto writecache = [&](DyadTable t, const char* suffix) {
    if (mode == 1 && !usecache) return;
    if (v.threadid != 0) return;
    int4 ok = 1;
    readwritedyadlogl(2, t, cachename(suffix), ishow, ok, mode);
  };
  const bool constraints = v.anyexcludedsibshipq(1) != 0 || v.anyexcludedsibshipq(2) != 0 ||
                           v.anyknownsibshipq(1) != 0 || v.anyknownsibshipq(2) != 0;
  auto status = [&](int4 j, int4 i) {
    std::array<int4, 2> st{0, 0};
    sibknownexc(j, i, st, {v.knownsibship(j, 1), v.knownsibship(j, 2)});
    return st;
  };

  // One parent pool, both parents of both offspring known and the same unordered pair.
  auto sameknownparents = [&](int4 j, int4 i) {
    if (v.numsex != 1 || !kept.allocated()) return false;
    const int4 a1 = kept(j, 1), a2 = kept(j, 2), b1 = kept(i, 1), b2 = kept(i, 2);
    if (a1 <= 0 || a2 <= 0 || b1 <= 0 || b2 <= 0) return false;
    return (a1 == b1 && a2 == b2) || (a1 == b2 && a2 == b1);
  };

  // Full sibs.
  say(show, "Calculating full-sib dyad likelihood...");
  if (!readcache(DyadTable::fs, ".FSDyadLogL")) {
    v.prbfstri.fill(0.0f);
    int4 progress = 0;
    if (constraints) {
      for (int4 i = 2; i <= n; ++i)
        for (int4 j = 1; j < i; ++j) {
          if (show) writeprogress(progress, 1000000);
          std::array<int4, 2> st = status(j, i);
          if (sameknownparents(j, i)) {
            // One parent pool: the known-parent groups of the two roles say "different" for
            // (5, 7) against (7, 5), though both offspring have the same two parents; only
            // an excluded sibship can separate them.
            st = {0, 0};
            sibknownexc(j, i, st, {0, 0});
          }
          const bool negativegroup = (v.knownsibship(j, 1) < 0 && st[0] == -v.numsex) ||
                                     (v.knownsibship(j, 2) < 0 && st[1] == -v.numsex);
          const bool out =
              negativegroup ? (st[0] == -1 && st[1] == -1) : (st[0] == -1 || st[1] == -1);
          if (out) v.prbfstri(tri_by_larger(j, i)) = impossible_pair;
        }
    }
    if (v.numsex == 1 && v.numknownprnt(1) > 0 && v.numknownprnt(2) > 0 && kept.allocated()) {
      // One parent pool: two offspring with both parents known are full sibs only when they
      // have the same unordered pair of parents.
      for (int4 i = 2; i <= n; ++i)
        for (int4 j = 1; j < i; ++j) {
          real4& e = v.prbfstri(tri_by_larger(j, i));
          if (e == impossible_pair) continue;
          const int4 a1 = kept(j, 1), a2 = kept(j, 2), b1 = kept(i, 1), b2 = kept(i, 2);
          if (a1 <= 0 || a2 <= 0 || b1 <= 0 || b2 <= 0) continue;
          const bool same = (a1 == b1 && a2 == b2) || (a1 == b2 && a2 == b1);
          if (!same) e = impossible_pair;
        }
    }
    if (show && progress >= 1000000 && v.showq != 0)
      fwrite(std::cout, "(A)", std::string(v.blkln.view()));
    const Delta d{0, 0, 0, 0, 0, 0, 0.5 - x, 0.5, x};
    compute_dyad_locus2_logl(ishow, 1, d, 2);
    writecache(DyadTable::fs, ".FSDyadLogL");
  }

  // Half sibs.
  if (halfsibscomputed()) {
    say(show, "Calculating half-sib dyad likelihood...");
    if (!readcache(DyadTable::hs, ".HSDyadLogL")) {
      v.prbhstri.fill(0.0f);
      if (constraints)
        for (int4 i = 2; i <= n; ++i)
          for (int4 j = 1; j < i; ++j) {
            const std::array<int4, 2> st = status(j, i);
            if (st[0] == -1 && st[1] == -1) v.prbhstri(tri_by_smaller(j, i, n)) = impossible_pair;
          }
      const Delta d{0, 0, 0, 0, 0, 0, 0, 1 - 2 * x, 2 * x};
      compute_dyad_locus2_logl(ishow, 2, d, 2);
      writecache(DyadTable::hs, ".HSDyadLogL");
    }
  }

  // What the lower triangle of the full-sib table answers, and whether the symmetric
  // half-sib table is in use.
  if (v.pairwiseoptionq == 1 && v.allmonogamy == 0) {
    v.prbhspairq = 1;
    v.prbfspairlower = 1;
  } else if (v.allmonogamy == 1) {
    v.prbfspairlower = 1;
  } else {
    v.prbfspairlower = 2;
  }

  if (prbmhsibpair_allocated()) {
    say(show, "Calculating maternal half-sib dyad likelihood...");
    if (!readcache(DyadTable::mhs, ".MHSDyadLogL")) {
      v.prbmhsibtri.fill(0.0f);
      const Delta d{0, 0, 0, 0, 0, 0, 0, 0.5, 0.5};
      compute_dyad_locus2_logl(ishow, 3, d, 2);
      writecache(DyadTable::mhs, ".MHSDyadLogL");
    }
  }

  if (selfingpossible() && v.pairwiseoptionq == 1) {
    say(show, "Calculating self-outbred ordered sib dyad likelihood...");
    if (!readcache(DyadTable::selfout, ".SelfOutLogL")) {
      v.prbselfoutpair.fill(0.0f);
      const Delta d{0, 0, 0.25, 0.25, 0, 0, 0, 0.5, 0};
      compute_dyad_locus2_logl(ishow, 4, d, 2);
      writecache(DyadTable::selfout, ".SelfOutLogL");
    }
    say(show, "Calculating self-self sib dyad likelihood...");
    if (!readcache(DyadTable::selfself, ".SelfSelfLogL")) {
      v.prbsstri.fill(0.0f);
      const Delta d{0.125, 0.125, 0.25, 0, 0.25, 0, 0.25, 0, 0};
      compute_dyad_locus2_logl(ishow, 5, d, 2);
      writecache(DyadTable::selfself, ".SelfSelfLogL");
    }
  }

  if (v.pairwiseoptionq == 1) {
    for (int4 s = 1; s <= v.numsex; ++s) {
      if (v.numcandidate(s) <= 0) continue;
      say(show, s == 1 ? "Calculating father-offspring dyad likelihood..."
                       : "Calculating mother-offspring dyad likelihood...");
      const DyadTable t = s == 1 ? DyadTable::dad : DyadTable::mum;
      const char* suffix = s == 1 ? ".DadDyadLogL" : ".MumDyadLogL";
      if (readcache(t, suffix)) continue;
      // Known parents: a candidate other than every consulted known parent cannot be one.
      int4 progress = 0;
      for (int4 i = 1; i <= n; ++i) {
        const int4 k1 = kept.allocated() ? kept(i, v.numsex == 1 ? 1 : s) : 0;
        const int4 k2 = v.numsex == 1 && kept.allocated() ? kept(i, 2) : k1;
        for (int4 c = 1; c <= v.numcandidate(s); ++c) {
          if (show) writeprogress(progress, 100000);
          const bool other = k1 > 0 && k1 != c && k2 > 0 && k2 != c;
          v.prbpopairtgt((s == 1 ? 0 : v.numcandidate(1)) + c, i) = other ? impossible_pair : 0.0f;
        }
      }
      const Delta d{0, 0, 0, 0, 0, 0, 0, 1, 0};
      compute_dyad_locus2_logl(ishow, 6 + s, d, v.ploidy(s));
      writecache(t, suffix);
    }
    if (v.numsex == 1 && v.numcandidate(1) > 0) {
      say(show, "Calculating Parent-Selfedoffspring dyad likelihood...");
      if (!readcache(DyadTable::prt, ".PrtDyadLogL")) {
        for (int4 i = 1; i <= n; ++i)
          for (int4 c = 1; c <= v.numcandidate(2); ++c)
            v.prbpopairtgt(v.numcandidate(1) + c, i) = 0.0f;
        const Delta d{0, 0, 0.5, 0, 0, 0, 0.5, 0, 0};
        compute_dyad_locus2_logl(ishow, 6, d, 2);
        if (show) fwrite(std::cout, "(A)", std::string(v.blkln.view()));
        writecache(DyadTable::prt, ".PrtDyadLogL");
      }
    }
  }

  // Restored in place: views of the configuration may point into these arrays.
  if (keptinferparent.allocated())
    std::copy(keptinferparent.begin(), keptinferparent.end(), v.inferparent.begin());
  if (kept.allocated()) std::copy(kept.begin(), kept.end(), v.indivparent.begin());
}

}  // namespace kinrad
