// The probability that an offspring has no clone in the sample: each other diploid offspring
// is weighed as a clone, a full sib, a half sib or an unrelated individual of it, and the
// largest clone share over all partners is what rules out "no clone".
#include <algorithm>
#include <cmath>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/simuvariables.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "core/variables_routines.hpp"
#include "model/model.hpp"
#include "pairwise/clone_internal.hpp"
#include "pairwise/clones.hpp"

namespace kinrad {

namespace {

// Identity coefficients of the three related hypotheses: only the probabilities of two, one
// and no genes identical by descent are non-zero.
constexpr real8 bd[3][3] = {{1.0, 0.0, 0.0}, {0.25, 0.5, 0.25}, {0.0, 0.5, 0.5}};

// One locus of more than one allele, with what the focal offspring shows there.
struct LocusEntry {
  int4 locus = 0;
  int4 nallele = 0;
  int4 k2 = 0;        // position among the two-allele loci, 0 for a locus of more alleles
  index_t base3 = 0;  // offset of the locus's block in podyadlogl3, -1 when not cached
  int2 gi = 0;        // the focal's genotype number, 0 untyped
  int4 a1 = 0;
  int4 a2 = 0;
  real8 lli = 0.0;  // the focal's single-genotype log probability here, 0 when untyped
};

// Work of the pair scores of one focal offspring.
struct FocalWork {
  std::vector<LocusEntry> loci;
  std::vector<int2> gj;          // the partner's genotype per entry
  std::vector<index_t> touched;  // podyadlogl3 entries written for the current focal
  index_t total3 = 0;            // T: entries per hypothesis in podyadlogl3
  real8 lltotal = 0.0;           // the focal's summed single log probabilities
  bool podyadfresh = false;      // podyadlogl3 holds only 1.0 apart from `touched`
};

int4 code2(int2 g) {
  return g < 3 ? g : 3;
}

// Makes sure dyadlogl0 holds the single-genotype log probabilities of the two-allele loci.
void build_dyadlogl0() {
  const Variables& v = variables;
  Simuvariables& sv = simuvariables;
  const int4 n2 = v.locus2.allocated() ? v.locus2(0) : 0;
  if (n2 < 1 || sv.dyadlogl0.allocated()) return;
  sv.dyadlogl0.allocate(Dim(3), Dim(n2));
  static constexpr int4 pairs[3][2] = {{1, 1}, {2, 2}, {1, 2}};
  for (int4 k = 1; k <= n2; ++k) {
    const int4 l = v.locus2(k);
    for (int4 c = 1; c <= 3; ++c) {
      real8 p = 0.0;
      probsinglegtype(0.0, 2, l, pairs[c - 1], p);
      sv.dyadlogl0(c, k) = logx(p);
    }
  }
}

// Single-genotype log probability of a diploid with genotype g at the entry's locus.
real8 single_ll(const LocusEntry& e, int2 g) {
  if (g == 0) return 0.0;
  if (e.k2 > 0) return simuvariables.dyadlogl0(code2(g), e.k2);
  const int4 alleles[2] = {variables.genotypeid(1, g), variables.genotypeid(2, g)};
  real8 p = 0.0;
  probsinglegtype(0.0, 2, e.locus, alleles, p);
  return logx(p);
}

int2 read_genotype(const LocusEntry& e, int4 i) {
  setgetgtype.locusgtypeptr = variables.indivgtype2(e.locus).a;
  int2 g = 0;
  getgtype(g, i, e.nallele);
  return g;
}

// The loci of more than one allele and the caches, once per call.
void setup_work(FocalWork& w) {
  const Variables& v = variables;
  Simuvariables& sv = simuvariables;
  const int4 n2 = v.locus2.allocated() ? v.locus2(0) : 0;
  if (n2 > 0 && (!sv.dyadlogl2.allocated() || sv.dyadlogl2.size(1) != 3 ||
                 sv.dyadlogl2.size(2) != 3 || sv.dyadlogl2.size(3) != n2))
    sv.dyadlogl2.allocate(Dim(3), Dim(3), Dim(n2));
  build_dyadlogl0();
  const bool cache3 = sv.podyadlogl3.allocated() && sv.podyadloc.allocated();
  w.total3 = cache3 ? sv.podyadlogl3.size() / 3 : 0;
  w.loci.clear();
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int4 na = v.obsnumallele(l);
    if (na <= 1) continue;
    LocusEntry e;
    e.locus = l;
    e.nallele = na;
    e.k2 = na == 2 && n2 > 0 ? v.locus2loc(l) : 0;
    e.base3 = -1;
    if (na > 2 && cache3 && v.locus3loc.allocated() && v.locus3loc(l) > 0)
      e.base3 = sv.podyadloc(v.locus3loc(l));
    w.loci.push_back(e);
  }
  w.gj.assign(w.loci.size(), 0);
  w.touched.clear();
  w.podyadfresh = false;
}

real8 single_total(FocalWork& w, int4 j) {
  real8 sum = 0.0;
  for (const LocusEntry& e : w.loci) sum += single_ll(e, read_genotype(e, j));
  return sum;
}

// Focal offspring i: its genotypes and single log probabilities; the pair caches emptied.
void set_focal(FocalWork& w, int4 i) {
  Simuvariables& sv = simuvariables;
  if (sv.dyadlogl2.allocated()) sv.dyadlogl2.fill(1.0);
  if (w.total3 > 0) {
    if (w.podyadfresh) {
      for (index_t x : w.touched) sv.podyadlogl3(x) = 1.0;
    } else {
      sv.podyadlogl3.fill(1.0);
      w.podyadfresh = true;
    }
    w.touched.clear();
  }
  w.lltotal = 0.0;
  for (LocusEntry& e : w.loci) {
    e.gi = read_genotype(e, i);
    e.a1 = variables.genotypeid(1, e.gi);
    e.a2 = variables.genotypeid(2, e.gi);
    e.lli = single_ll(e, e.gi);
    w.lltotal += e.lli;
  }
}

// The three log dyad probabilities (clone, full sibs, half sibs) of the focal with a partner
// of genotype gj at the entry's locus, from the caches when computed before.
void dyad_logl(FocalWork& w, const LocusEntry& e, int2 gj, real8 out[3]) {
  Simuvariables& sv = simuvariables;
  real8* cache[3] = {nullptr, nullptr, nullptr};
  if (e.k2 > 0) {
    const int4 c = code2(gj);
    for (int4 h = 0; h < 3; ++h) cache[h] = &sv.dyadlogl2(c, h + 1, e.k2);
  } else if (e.base3 >= 0) {
    int4 b1 = variables.genotypeid(1, gj);
    int4 b2 = variables.genotypeid(2, gj);
    if (b1 > b2) std::swap(b1, b2);
    const index_t na = e.nallele;
    const index_t off = e.base3 + (b1 - 1) * (2 * na + 2 - b1) / 2 + (b2 - b1) + 1;
    for (int4 h = 0; h < 3; ++h) cache[h] = &sv.podyadlogl3(h * w.total3 + off);
    if (*cache[0] > 0.1) {
      for (int4 h = 0; h < 3; ++h) w.touched.push_back(h * w.total3 + off);
    }
  }
  if (cache[0] != nullptr && *cache[0] <= 0.1) {
    for (int4 h = 0; h < 3; ++h) out[h] = *cache[h];
    return;
  }
  const int4 b1 = variables.genotypeid(1, gj);
  const int4 b2 = variables.genotypeid(2, gj);
  real8 ibd[9] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  for (int4 h = 0; h < 3; ++h) {
    ibd[6] = bd[h][0];
    ibd[7] = bd[h][1];
    ibd[8] = bd[h][2];
    // The first of the three calls builds the dyad's locus work; the next two reuse it.
    out[h] = logx(prbpdyad(e.a1, e.a2, b1, b2, std::span<const real8, 9>(ibd, 9), e.locus, h));
    if (cache[h] != nullptr) *cache[h] = out[h];
  }
}

// The clone share of the pair (focal, j), j diploid, given j's summed single log
// probabilities.
real4 pair_value(FocalWork& w, int4 j, real8 llj) {
  const int4 numloci = variables.numloci;
  const std::size_t nl = w.loci.size();
  int4 ntyped = 0;
  int4 nmis = 0;
  const bool screen = numloci > 79;
  for (std::size_t x = 0; x < nl; ++x) {
    const LocusEntry& e = w.loci[x];
    const int2 g = read_genotype(e, j);
    w.gj[x] = g;
    if (e.gi == 0 || g == 0) continue;
    ++ntyped;
    if (g != e.gi) ++nmis;
    if (screen &&
        (4 * nmis > numloci || (ntyped > 79 && 10 * ntyped > numloci && ntyped < 2 * nmis)))
      return 0.0f;
  }
  const real8 lu = w.lltotal + llj;
  real8 l[3] = {0.0, 0.0, 0.0};
  real8 rest = w.lltotal;  // what the focal's remaining loci can add at most
  for (std::size_t x = 0; x < nl; ++x) {
    const LocusEntry& e = w.loci[x];
    const int2 g = w.gj[x];
    if (e.gi != 0 && g != 0) {
      real8 d[3];
      dyad_logl(w, e, g, d);
      for (int4 h = 0; h < 3; ++h) l[h] += d[h];
    } else if (e.gi != 0) {
      for (int4 h = 0; h < 3; ++h) l[h] += e.lli;
    } else if (g != 0) {
      const real8 s = single_ll(e, g);
      for (int4 h = 0; h < 3; ++h) l[h] += s;
    }
    rest -= e.lli;
    // The clone hypothesis cannot come within e^-20 of the unrelated one any more.
    if (lu - 20.0 > l[0] + rest) return 0.0f;
  }
  // Shares of the four hypotheses; a value that is not a number takes no part.
  const real8 all[4] = {l[0], l[1], l[2], lu};
  real8 m = -HUGE_VAL;
  for (real8 x : all)
    if (!isnanq(x) && x > m) m = x;
  real8 sum = 0.0;
  for (real8 x : all)
    if (!isnanq(x)) sum += std::exp(x - m);
  real8 p = isnanq(l[0]) || !(sum > 0.0) ? 0.0 : std::exp(l[0] - m) / sum;
  const real8 f = std::pow(1.0 - (nmis + 0.1) / (ntyped + 0.1), 16);
  return static_cast<real4>(std::min(p, f));
}

}  // namespace

void singlecloneprb(int4 i, real8& prob) {
  const Variables& v = variables;
  prob = 1.0;
  if (v.offploid(i) == 1) return;
  FocalWork w;
  setup_work(w);
  set_focal(w, i);
  real4 best = 0.0f;
  for (int4 j = 1; j <= v.smplsize; ++j) {
    if (j == i || v.offploid(j) != 2) continue;
    const real4 x = pair_value(w, j, single_total(w, j));
    if (x > best) best = x;
  }
  prob = 1.0 - static_cast<real8>(best);
}

namespace clone_detail {

void single_clone_sweep(const std::vector<char>& single, std::vector<real8>& prob, int4& counter,
                        int4 step) {
  const Variables& v = variables;
  const int4 n = v.smplsize;
  FocalWork w;
  setup_work(w);
  // Summed single log probabilities of every diploid offspring, and the largest pair value
  // of every flagged one.
  std::vector<real8> lltot(static_cast<std::size_t>(n) + 1, 0.0);
  std::vector<real4> best(static_cast<std::size_t>(n) + 1, 0.0f);
  // flaggedafter[i]: some flagged diploid offspring has an index above i.
  std::vector<char> flaggedafter(static_cast<std::size_t>(n) + 2, 0);
  for (int4 j = n; j >= 1; --j) {
    const std::size_t uj = static_cast<std::size_t>(j);
    flaggedafter[uj] = flaggedafter[uj + 1];
    if (j < n && single[uj + 1] != 0 && v.offploid(j + 1) == 2) flaggedafter[uj] = 1;
    if (v.offploid(j) == 2) lltot[uj] = single_total(w, j);
  }
  for (int4 i = 1; i <= n; ++i) {
    const std::size_t ui = static_cast<std::size_t>(i);
    const bool flagged = single[ui] != 0;
    if (v.offploid(i) == 2 && (flagged || flaggedafter[ui] != 0)) {
      set_focal(w, i);
      for (int4 j = i + 1; j <= n; ++j) {
        const std::size_t uj = static_cast<std::size_t>(j);
        if (v.offploid(j) != 2 || (!flagged && single[uj] == 0)) continue;
        const real4 x = pair_value(w, j, lltot[uj]);
        if (flagged && x > best[ui]) best[ui] = x;
        if (single[uj] != 0 && x > best[uj]) best[uj] = x;
      }
    }
    if (!flagged) continue;
    prob[ui] = v.offploid(i) == 1 ? 1.0 : 1.0 - static_cast<real8>(best[ui]);
    if (v.displayq == 1) writeprogress(counter, step);
  }
}

}  // namespace clone_detail

}  // namespace kinrad
