#pragma once
// A sample ready for the archive walk of the result phase: the archive builder's sample with
// an output stem and the screen's line-ending text, and helpers to read the files.
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include "core/modules.hpp"
#include "support/archive_builder.hpp"

namespace kinrad::resultstest {

using testing_support::archive_sample;
using testing_support::ArchiveSample;

inline void archive_walk_sample(const ArchiveSample& s) {
  archive_sample(s);
  variables.fname = "t";
  variables.blkln = std::string("\r") + std::string(41, ' ');
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

}  // namespace kinrad::resultstest
