#pragma once
// Pair and single absorption inside the layer peeling of two-sex clusters: before a layer picks
// its conditioning parent, chains of parents with two mates, parents with one mate and groups
// of parents sharing the same two mates are summed out of the layer's graph into pair tables
// between the parents that stay.
#include <cstddef>
#include <cstdint>

#include "core/kinds.hpp"
#include "likelihood/layer_peel_internal.hpp"

namespace kinrad {

// The table of pair f at the locus in hand (defined with the layer recursion, which knows the
// kind of locus): its pair table when it has one, else its family's table.
FamilyTable layer_table(int4 f);

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
