#pragma once
// Builds small family structures directly in module state, for tests of the family work state
// that need no genotypes: species flags, offspring ploidy and candidate counts are set by hand.
#include <initializer_list>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/likelihood.hpp"

namespace kinrad::frametest {

struct Pair {
  int4 p1;
  int4 p2;
  std::vector<int4> members;
};

// A sample of n offspring (haploid ones listed), no loci lists, no candidates.
inline void sample(int4 n, std::initializer_list<int4> haploid = {}) {
  Variables& v = variables;
  v.smplsize = n;
  v.numsex = 2;
  v.offploid.allocate(Dim(n));
  v.offploid.fill(2);
  for (int4 h : haploid) v.offploid(h) = 1;
  v.smplsizedh(1) = static_cast<int4>(haploid.size());
  v.smplsizedh(2) = haploid.size() == 0 ? 0 : n - static_cast<int4>(haploid.size());
  v.maxobsnumallele = 4;
  v.maxnumgenotype = 10;
}

// Frames np1 x np2 parents with the given pairs (all other pairs without offspring).
inline void frame(int4 np1, int4 np2, const std::vector<Pair>& pairs) {
  Variables& v = variables;
  setfamilystruc(0, std::max(np1, np2));
  v.nparent(1) = np1;
  v.nparent(2) = np2;
  v.nchild.fill(0);
  for (const Pair& p : pairs) {
    v.nchild(p.p1, p.p2) = static_cast<int2>(p.members.size());
    setfamilymembers(p.p1, p.p2, p.members);
  }
}

// Members of full-sib family f as the work state lists them.
inline std::vector<int4> members_of(int4 f) {
  std::vector<int4> r;
  for (int4 i = variables.familyindivloc(f - 1) + 1; i <= variables.familyindivloc(f); ++i)
    r.push_back(likelihoodvar.familyindiv(i));
  return r;
}

// Mates of joint parent p.
inline std::vector<int4> mates_of(int4 p) {
  std::vector<int4> r;
  for (int4 j = 1; j <= likelihoodvar.mate1(0, p); ++j) r.push_back(likelihoodvar.mate1(j, p));
  return r;
}

inline int4 prepare(int2 numberfsfamily = 0) {
  int4 status = -1;
  preparevariable(status, numberfsfamily, 0, 0);
  return status;
}

}  // namespace kinrad::frametest
