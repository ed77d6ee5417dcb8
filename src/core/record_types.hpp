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

}  // namespace kinrad
