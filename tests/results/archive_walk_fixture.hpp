#pragma once
// A sample ready for the archive walk of the result phase: the archive builder's sample plus
// the scratch tables the analysis allocates at its start (the family builders' marks, the
// move rows reused for cluster rows, the sibship-size counts), and helpers to read the files.
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include "core/modules.hpp"
#include "support/archive_builder.hpp"

namespace kinrad::testing_support {

inline void archive_walk_sample(const ArchiveSample& s) {
  archive_sample(s);
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = s.n;
  const int4 m = std::max({std::max(n, 100) + (3 - s.numsex) * n, s.ncand1, s.ncand2});
  av.selectedprntidxq1.allocate(Dim(m));
  av.selectedprntidxq2.allocate(Dim(m));
  av.selectedprntidxq3.allocate(Dim(m));
  av.indivloc1.allocate(Dim(std::max(n, 1)), Dim(4));
  v.kdxtgt.allocate(Dim(m));
  v.ldxtgt.allocate(Dim(m));
  v.sibshipsizedist.allocate(Dim(0, (3 - s.numsex) * n), Dim(s.numsex));
  v.fname = "t";
  v.blkln = std::string("\r") + std::string(41, ' ');
}

// Offspring i is haploid (haplodiploid species).
inline void make_haploid(int4 i) {
  auto& v = variables;
  v.haplodiploid = 1;
  if (v.offploid(i) != 1) {
    v.offploid(i) = 1;
    ++v.smplsizedh(1);
    --v.smplsizedh(2);
  }
}

inline std::string file_text(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline bool file_exists(const std::string& name) {
  std::ifstream in(name);
  return static_cast<bool>(in);
}

}  // namespace kinrad::testing_support
