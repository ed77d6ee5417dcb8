#pragma once
// One archived configuration (a record type shared by the configuration model, the search and
// the module reset): the per-offspring columns of a configuration in 16 bits, its
// score, its number of clusters and the signature of its cluster partition, with the link to
// the next (lower-scoring) record of the archive.
#include <cstdint>

#include "core/farray.hpp"
#include "core/kinds.hpp"

namespace kinrad {

// Ids and candidate numbers are held as raw unsigned 16-bit values (0..65535), so 0 and 65535
// both survive. A column that is absent is an unallocated array.
struct Config {
  FArray<std::uint16_t, 1> fam1{};  // paternal family id of each offspring
  // Maternal family id; absent in a dioecious species with both sexes monogamous.
  FArray<std::uint16_t, 1> fam2{};
  // Cluster id; present only when no sex is monogamous or in a one-pool species.
  FArray<std::uint16_t, 1> clust{};
  // Assigned candidate fathers and mothers. Absent when no offspring has a candidate of that
  // sex; dense (smplsize, 1) with 0 for none when at least half of the offspring have one;
  // otherwise sparse (k, 2): offspring number and candidate number, in offspring order.
  FArray<std::uint16_t, 2> dad{};
  FArray<std::uint16_t, 2> mum{};
  real8 logl = 0.0;
  int2 nclust = 0;
  int4 signature = 0;
  Config* next = nullptr;  // the next record of the archive; null at the tail
};

}  // namespace kinrad
