#pragma once
// Record types shared by the modules: small holders that make ragged tables out of arrays of
// records, one entry per locus, offspring or family, each with its own length.
#include "core/farray.hpp"
#include "core/kinds.hpp"

namespace kinrad {

// One rank-1 int4 array; unallocated until its entry needs one.
struct I4bdim1 {
  FArray<int4, 1> a{};
};

// Candidates of one sex barred as a parent of one offspring. count > 0: the count listed
// candidates are excluded; count < 0: the -count listed candidates are the only ones still
// allowed; 0: no exclusion. The list is in ascending candidate number.
struct Excludedlist {
  int4 count = 0;
  FArray<int4, 1> list{};
};

// Windows into a contiguous store of the same module (per-locus allele frequencies, the
// observation tables of a locus's block, packed genotype columns); copies stay shallow.
struct Dpdim1 {
  FView<real8, 1> a{};
};
struct I1bdim1 {
  FView<int1, 1> a{};
};
struct I2bdim1 {
  FView<int2, 1> a{};
};
// Single-precision vectors (the parent-offspring dyad values of one offspring over the
// candidates of a sex) and rank-2 int4 tables, as windows in the same way.
struct Spdim1 {
  FView<real4, 1> a{};
};
struct I4bdim2 {
  FView<int4, 2> a{};
};

// Derived tables and run state: rank-2 windows (full-sib probability tables, cluster tables),
// a flag that is set by re-aiming it at one of the two shared targets of its module, and the
// archived configuration, whose layout belongs to the configuration model.
struct Dpdim2 {
  FView<real8, 2> a{};
};
struct I2bdim2 {
  FView<int2, 2> a{};
};
struct Elementlogical {
  bool* p = nullptr;
};
struct Config;

// A reference to one entry of a genotype index table.
struct Element {
  int4* p = nullptr;
};

}  // namespace kinrad
