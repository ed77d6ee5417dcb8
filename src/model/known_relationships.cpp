// Steps of the per-analysis set-up that look at the offspring as a whole: the locus flags
// of the offspring genotypes and the known parents and sibships.
#include <algorithm>
#include <vector>

#include "core/genotype_number.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "model/initial_fs_prob_steps_internal.hpp"

namespace kinrad {

namespace {

// A locus passes unless its offspring show more distinct alleles or homozygotes than one
// full-sib family can carry.
bool offspring_locus_passes(int4 l) {
  const Variables& v = variables;
  const int4 k = v.obsnumallele(l);
  if (v.dominantmarker(l) == 1 || k <= v.numhomozygotemax) return true;
  if (k >= v.numallelemax) return false;
  setgetgtype.locusgtypeptr = v.indivgtype2(l).a;
  int2 first = 0;
  for (int4 i = 1; i <= v.smplsize; ++i) {
    int2 g = 0;
    getgtype(g, i, k);
    if (g < 1 || g > v.maxobsnumallele) continue;
    if (first == 0)
      first = g;
    else if (g != first)
      return false;
  }
  return true;
}

}  // namespace

void set_offspring_locus_flags() {
  Variables& v = variables;
  const int4 nl = v.numloci;
  v.genotypenum.allocate(Dim(v.maxobsnumallele));
  for (int4 k = 1; k <= v.maxobsnumallele; ++k) v.genotypenum(k) = genotype_count(k);

  const bool typed = v.smplsize >= 1 && v.indivgtype2.allocated();
  v.passlocusq.allocate(Dim(nl));
  v.passlocusq.fill(true);
  bool anyfailed = false;
  for (int4 l = 1; l <= nl; ++l) {
    if (!typed) break;
    v.passlocusq(l) = offspring_locus_passes(l);
    if (!v.passlocusq(l)) anyfailed = true;
  }
  if (!anyfailed) v.passlocusq.deallocate();

  v.offmissdata.allocate(Dim(nl));
  int4 withmissing = 0;
  for (int4 l = 1; l <= nl; ++l) {
    if (typed) {
      const int4 k = v.obsnumallele(l);
      setgetgtype.locusgtypeptr = v.indivgtype2(l).a;
      for (int4 i = 1; i <= v.smplsize; ++i) {
        int2 g = 0;
        getgtype(g, i, k);
        if (g < 1) {
          v.offmissdata(l) = 1;
          break;
        }
      }
    }
    if (v.offmissdata(l) == 1) ++withmissing;
  }
  v.alloffmissdata = withmissing == nl ? 1 : (withmissing == 0 ? -1 : 0);
}

void set_known_relationships() {
  Variables& v = variables;
  const int4 n = v.smplsize;
  v.knownprntq.allocate(Dim(std::max(v.numcandidate(1), v.numcandidate(2))), Dim(2));
  for (int4 s = 1; s <= 2; ++s) {
    v.numknownprnt(s) = 0;
    v.numknownprnt(s + 2) = 0;
    v.anyknownprntq(s) = 0;
    if (v.numcandidate(s) < 1) continue;
    // The offspring of one known parent form a known sibship, numbered by the negative of
    // the parent's candidate number so that it cannot meet a sibship of the input file.
    for (int4 i = 1; i <= n; ++i) {
      const int4 c = v.indivparent(i, s);
      if (c <= 0) continue;
      v.knownprntq(c, s) = 1;
      ++v.numknownprnt(s + 2);
      v.knownsibship(i, s) = -c;
    }
    for (int4 c = 1; c <= v.numcandidate(s); ++c)
      if (v.knownprntq(c, s) == 1) ++v.numknownprnt(s);
    v.anyknownprntq(s) = v.numknownprnt(s) > 0 ? 1 : 0;
  }
  v.pairwiseoptionq = v.quicksearchq;

  int4 lo = 0;
  int4 hi = 0;
  for (int4 s = 1; s <= 2; ++s) {
    v.anyknownsibshipq(s) = 0;
    for (int4 i = 1; i <= n; ++i) {
      const int4 k = v.knownsibship(i, s);
      if (k != 0) v.anyknownsibshipq(s) = 1;
      lo = std::min(lo, k);
      hi = std::max(hi, k);
    }
  }
  annealvariables.knownsibshipq.allocate(Dim(lo, hi + 1));
  for (auto& e : annealvariables.knownsibshipq) e.p = &v.falsetgt;

  if (v.anyknownsibshipq(1) == 0 && v.anyknownsibshipq(2) == 0) return;
  v.knownsibshipsize.allocate(Dim(n), Dim(2));
  std::vector<int4> members(static_cast<std::size_t>(hi - lo + 1));
  for (int4 s = 1; s <= 2; ++s) {
    if (v.anyknownsibshipq(s) == 0) continue;
    std::fill(members.begin(), members.end(), 0);
    for (int4 i = 1; i <= n; ++i) ++members[static_cast<std::size_t>(v.knownsibship(i, s) - lo)];
    for (int4 i = 1; i <= n; ++i) {
      const int4 k = v.knownsibship(i, s);
      v.knownsibshipsize(i, s) = k == 0 ? 0 : members[static_cast<std::size_t>(k - lo)];
    }
  }
}

}  // namespace kinrad
