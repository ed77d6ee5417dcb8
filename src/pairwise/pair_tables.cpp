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

// One call's settings, the known parents kept aside while the tables are filled, and the
// tables one by one, each read from its cache or computed (and then cached).
struct PairTableRun {
  int4 mode = 0;
  int4 n = 0;
  bool show = false;
  int4 ishow = 0;
  real8 x = 0.0;  // full sibs' chance of two alleles identical by descent (0: haplodiploid)
  // Caches hold tables of the input's allele frequencies: a mode-2 call, or a set-up that
  // resumed with a checkpoint's frequencies, neither reads nor writes them.
  bool usecache = false;
  bool constraints = false;
  const FArray<int4, 2>& kept;

  PairTableRun(int4 mode_, const FArray<int4, 2>& kept_) : mode(mode_), kept(kept_) {
    const Variables& v = variables;
    n = v.smplsize;
    show = v.displayq != 0 && v.threadid == 0;
    ishow = show ? 1 : 0;
    x = v.haplodiploid == 1 ? 0.0 : 0.25;
    usecache = mode == 1 && v.checkpointfrequencyq == 0;
    constraints = v.anyexcludedsibshipq(1) != 0 || v.anyexcludedsibshipq(2) != 0 ||
                  v.anyknownsibshipq(1) != 0 || v.anyknownsibshipq(2) != 0;
  }

  std::string cachename(const char* suffix) const { return variables.fname + suffix; }

  // Reads table t from its cache; false when there is none to read or it does not fit.
  bool readcache(DyadTable t, const char* suffix) const {
    if (!usecache) return false;
    const std::string f = cachename(suffix);
    if (!std::filesystem::exists(f)) return false;
    int4 ok = 1;
    readwritedyadlogl(1, t, f, ishow, ok, mode);
    return ok != 0;
  }

  // Writes table t to its cache (the first process only).
  void writecache(DyadTable t, const char* suffix) const {
    if (mode == 1 && !usecache) return;
    if (variables.threadid != 0) return;
    int4 ok = 1;
    readwritedyadlogl(2, t, cachename(suffix), ishow, ok, mode);
  }

  // Known and excluded sibships of the pair (j, i), side by side.
  std::array<int4, 2> status(int4 j, int4 i) const {
    const Variables& v = variables;
    std::array<int4, 2> st{0, 0};
    sibknownexc(j, i, st, {v.knownsibship(j, 1), v.knownsibship(j, 2)});
    return st;
  }

  // One parent pool, both parents of both offspring known and the same unordered pair.
  bool sameknownparents(int4 j, int4 i) const {
    if (variables.numsex != 1 || !kept.allocated()) return false;
    const int4 a1 = kept(j, 1), a2 = kept(j, 2), b1 = kept(i, 1), b2 = kept(i, 2);
    if (a1 <= 0 || a2 <= 0 || b1 <= 0 || b2 <= 0) return false;
    return (a1 == b1 && a2 == b2) || (a1 == b2 && a2 == b1);
  }

  // Full sibs ruled out by known or excluded sibships start at the marker.
  void exclude_full_sibs(int4& progress) const {
    Variables& v = variables;
    for (int4 i = 2; i <= n; ++i)
      for (int4 j = 1; j < i; ++j) {
        if (show) writeprogress(progress, 1000000);
        std::array<int4, 2> st = status(j, i);
        if (sameknownparents(j, i)) {
          // One parent pool: the known-parent groups of the two roles say "different" for
          // (5, 7) against (7, 5), though both offspring have the same two parents; only an
          // excluded sibship can separate them.
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

  // One parent pool: two offspring with both parents known are full sibs only when they have
  // the same unordered pair of parents.
  void exclude_different_known_parents() const {
    Variables& v = variables;
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

  // The full-sib table.
  void full_sibs() const {
    Variables& v = variables;
    say(show, "Calculating full-sib dyad likelihood...");
    if (readcache(DyadTable::fs, ".FSDyadLogL")) return;
    v.prbfstri.fill(0.0f);
    int4 progress = 0;
    if (constraints) exclude_full_sibs(progress);
    if (v.numsex == 1 && v.numknownprnt(1) > 0 && v.numknownprnt(2) > 0 && kept.allocated())
      exclude_different_known_parents();
    if (show && progress >= 1000000 && v.showq != 0)
      fwrite(std::cout, "(A)", std::string(v.blkln.view()));
    const Delta d{0, 0, 0, 0, 0, 0, 0.5 - x, 0.5, x};
    compute_dyad_locus2_logl(ishow, 1, d, 2);
    writecache(DyadTable::fs, ".FSDyadLogL");
  }

  // The half-sib table.
  void half_sibs() const {
    Variables& v = variables;
    if (!halfsibscomputed()) return;
    say(show, "Calculating half-sib dyad likelihood...");
    if (readcache(DyadTable::hs, ".HSDyadLogL")) return;
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

  // The maternal half-sib table.
  void maternal_half_sibs() const {
    if (!prbmhsibpair_allocated()) return;
    say(show, "Calculating maternal half-sib dyad likelihood...");
    if (readcache(DyadTable::mhs, ".MHSDyadLogL")) return;
    variables.prbmhsibtri.fill(0.0f);
    const Delta d{0, 0, 0, 0, 0, 0, 0, 0.5, 0.5};
    compute_dyad_locus2_logl(ishow, 3, d, 2);
    writecache(DyadTable::mhs, ".MHSDyadLogL");
  }

  // The self-outbred and self-self sib tables.
  void selfed_sibs() const {
    Variables& v = variables;
    if (!(selfingpossible() && v.pairwiseoptionq == 1)) return;
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

  // The parent-offspring table of sex s.
  void parent_offspring(int4 s) const {
    Variables& v = variables;
    say(show, s == 1 ? "Calculating father-offspring dyad likelihood..."
                     : "Calculating mother-offspring dyad likelihood...");
    const DyadTable t = s == 1 ? DyadTable::dad : DyadTable::mum;
    const char* suffix = s == 1 ? ".DadDyadLogL" : ".MumDyadLogL";
    if (readcache(t, suffix)) return;
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

  // The parent-selfed offspring table of one parent pool.
  void parent_selfed_offspring() const {
    Variables& v = variables;
    say(show, "Calculating Parent-Selfedoffspring dyad likelihood...");
    if (readcache(DyadTable::prt, ".PrtDyadLogL")) return;
    for (int4 i = 1; i <= n; ++i)
      for (int4 c = 1; c <= v.numcandidate(2); ++c) v.prbpopairtgt(v.numcandidate(1) + c, i) = 0.0f;
    const Delta d{0, 0, 0.5, 0, 0, 0, 0.5, 0, 0};
    compute_dyad_locus2_logl(ishow, 6, d, 2);
    if (show) fwrite(std::cout, "(A)", std::string(v.blkln.view()));
    writecache(DyadTable::prt, ".PrtDyadLogL");
  }
};

// What the lower triangle of the full-sib table answers, and whether the symmetric half-sib
// table is in use.
void set_table_reading() {
  Variables& v = variables;
  if (v.pairwiseoptionq == 1 && v.allmonogamy == 0) {
    v.prbhspairq = 1;
    v.prbfspairlower = 1;
  } else if (v.allmonogamy == 1) {
    v.prbfspairlower = 1;
  } else {
    v.prbfspairlower = 2;
  }
}

// Allocates the tables on the first call; where they do not fit, a run with the full
// likelihood goes on without them (false), one without stops.
bool tables_ready(bool firstcall) {
  Variables& v = variables;
  if (!firstcall || allocatetables()) return true;
  if (v.fulllikelihoodmethodq != 0) {
    v.quicksearchq = 0;
    v.pairwiseoptionq = 0;
    return false;
  }
  v.errmsg(1) = "Too many offspring. Out of memory!";
  stoponerror(1, "CalculatePairProb");
  return false;
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
  if (!tables_ready(firstcall)) return;

  FArray<int4, 2> keptinferparent;
  if (!firstcall && v.inferparent.allocated()) keptinferparent = v.inferparent.copy();
  FArray<int4, 2> kept = v.indivparent.copy();
  if (v.indivparent.allocated()) v.indivparent.fill(-1);

  const PairTableRun run(mode, kept);
  run.full_sibs();
  run.half_sibs();
  set_table_reading();
  run.maternal_half_sibs();
  run.selfed_sibs();
  if (v.pairwiseoptionq == 1) {
    for (int4 s = 1; s <= v.numsex; ++s)
      if (v.numcandidate(s) > 0) run.parent_offspring(s);
    if (v.numsex == 1 && v.numcandidate(1) > 0) run.parent_selfed_offspring();
  }

  // Restored in place: views of the configuration may point into these arrays.
  if (keptinferparent.allocated())
    std::copy(keptinferparent.begin(), keptinferparent.end(), v.inferparent.begin());
  if (kept.allocated()) std::copy(kept.begin(), kept.end(), v.indivparent.begin());
}

}  // namespace kinrad
