#pragma once
// Pair and single absorption inside the layer peeling of two-sex clusters: before a layer picks
// its conditioning parent, chains of parents with two mates, parents with one mate and groups
// of parents sharing the same two mates are summed out of the layer's graph into pair tables
// between the parents that stay.
#include <cstddef>
#include <cstdint>

#include "core/kinds.hpp"

namespace kinrad {

// The table of a pair as the layer recursion reads it, by the two parents' positions in their
// genotype lists: a pair table (direct), or the family's own table through its classes.
struct LayerTable {
  const real8* base = nullptr;
  std::ptrdiff_t ld = 0;
  const int4* fcls = nullptr;  // father's classes (null: his position is the class)
  const int4* mcls = nullptr;
  int4 rows = 0;
  int4 cols = 0;
  uint16_t rowmask = 0;
  uint16_t colmask = 0;
  bool masked = false;   // rows and columns by their masks (error-free codominant tables)
  bool neutral = false;  // the factor is 1
  bool direct = false;   // a pair table: positions are the subscripts

  real8 operator()(int4 gf, int4 gm) const {
    if (direct) return base[(gf - 1) + (gm - 1) * ld];
    if (neutral) return 1.0;
    const int4 x = fcls ? fcls[gf - 1] : gf;
    const int4 y = mcls ? mcls[gm - 1] : gm;
    if (x < 1 || x > rows || y < 1 || y > cols) return 0.0;
    if (masked && ((rowmask & (0x8000u >> (x - 1))) == 0 || (colmask & (0x8000u >> (y - 1))) == 0))
      return 0.0;
    return base[(x - 1) + (y - 1) * ld];
  }
};

// The table of pair f at the locus in hand (defined with the layer recursion, which knows the
// kind of locus): its pair table when it has one, else its family's table.
LayerTable layer_table(int4 f);

// Per locus, before the first layer: pair numbers of every father-mother pair, the table
// capacity (the smaller of families div 2 + 1 and 200) and the per-layer bookkeeping for layer
// states 0 to cap. Grow-only storage.
void layer_absorb_setup(int4 cap);

// Father and mother (joint parent numbers) of pair number f: a full-sib family or a pair
// without offspring that a pair table links.
int4 pair_father(int4 f);
int4 pair_mother(int4 f);

// The pair table standing for pair f (father's candidate position first, column distance ld),
// null when the pair's own family table holds.
const real8* layer_pair_table(int4 f, std::ptrdiff_t& ld);

// prune(layer) and chknewfsprob(layer, skip), the hooks of the layer recursion, are declared
// with it; prune sets likelihoodvar.allabsorbedlayer to the layer when nothing is left.

// Clears the pair-table flags the layer set, after its genotype loop (or after it finished
// early): shallower layers read the families' own tables again.
void clear_changed_pairs(int4 layer);

}  // namespace kinrad
