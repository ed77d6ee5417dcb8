#pragma once
// What the archive walk of the result phase shares between its files: the weights of the
// archived configurations, the tallies of the parent pairs, the family-size distribution and
// the selfers gathered on the same walk, and the dyad steps that take the weights on.
#include <string>

#include "core/farray.hpp"
#include "core/kinds.hpp"

namespace kinrad {

// The summaries of the weighted archive, tallied once per archived configuration and written
// after the walk. Everything is sized when the walk starts and reused for every configuration.
struct ArchiveTallies {
  static constexpr int4 maxpairs = 10;  // parent pairs kept per offspring

  // Parent pairs (only when both sexes have candidates): per offspring its count of pairs,
  // the pairs (father, mother) as candidate numbers (0 an unsampled parent) in the order they
  // were met, and their summed weights.
  bool pairs_on = false;
  FArray<int4, 1> paircount{};    // n
  FArray<int4, 3> pair{};         // (2, maxpairs, n)
  FArray<real8, 2> pairweight{};  // (maxpairs, n)

  // Family-size table: row r of a column sums the weight of the value r (single precision,
  // as the file shows it); (3 - numsex) n rows, 7 columns.
  FArray<real4, 2> dist{};

  // Selfing weights per offspring (one parent pool with selfing only).
  bool selfers_on = false;
  FArray<real8, 1> selfweight{};  // n

  // Scratch of one configuration.
  FArray<int4, 1> mates1{};      // n: males with r mates
  FArray<int4, 1> mates2{};      // n: females with r mates
  FArray<int8, 1> key{};         // n: full-sib family keys
  FArray<real8, 1> sortvalue{};  // n: keys or cluster ids as reals for the index sort
  FArray<int4, 1> order{};       // n: their ascending order
};

// Allocates and zeroes the tallies for the sample in module state.
void archive_tallies_setup(ArchiveTallies& t);

// Adds the configuration decoded into offtgt/prnttgt (known parents spread into indivparent)
// with weight w: selfers, family counts, full-sib family count, offspring per parent, mates
// per parent, parent pairs, in that order. Re-aims indivlocprt (at offtgt, then at rows of
// indivloc1) and reads indivorder, which must be the identity order.
void archive_tally(ArchiveTallies& t, real8 w);

// ".ParentPair", ".Distribution" and ".Selfer" from the tallies and the weight sum wsum, each
// written when its condition holds. The distribution is divided by wsum in place.
void write_parent_pairs(const ArchiveTallies& t, real8 wsum);
void write_distribution(ArchiveTallies& t, real8 wsum);
void write_selfers(const ArchiveTallies& t, real8 wsum);

// The log likelihood of a block heading of ".ConfigArchive": "(ES20.10)", left-adjusted and
// trimmed ("-1.2345678901E+03"; an exponent of three digits has no letter).
std::string archive_logl_text(real8 logl);

// The dyad steps that follow the archive summaries when option DYD is set. weight(k) is the
// weight of the k-th configuration of the walk (best first) and wsum their sum; indivparent
// holds the known parents as read.
void sib_dyad_probabilities(const FArray<real8, 1>& weight, real8 wsum);
void parent_offspring_dyad_probabilities();

}  // namespace kinrad
