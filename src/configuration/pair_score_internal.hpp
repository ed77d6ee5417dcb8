#pragma once
// Pair codes and the known-parent rule shared by the pairwise score and its change under a move.
#include <vector>

#include "core/farray.hpp"
#include "core/kinds.hpp"

namespace kinrad {

// Pair code of offspring a = (x, y) against b = (u, w). One parent pool: the pairs are
// unordered parent pairs (equal ids: selfed), codes 1..9. Two sexes: (sex-1 id, sex-2 id),
// codes 7, 8, 9 and, in a haplodiploid species, 10 for a sex-2 match alone.
int4 pair_code_pool(int4 x, int4 y, int4 u, int4 w);
int4 pair_code_two(int4 x, int4 y, int4 u, int4 w);

// knownof[f] = the known parent (indivparent column col) of some offspring among rows 1..nrow
// of loc whose column-col family is f; maxid the largest family id (knownof is grown to it and
// must be cleared over 0..maxid by the caller).
void known_parent_families(int4 col, int4 nrow, FView<int4, 2> loc, std::vector<int4>& knownof,
                           int4& maxid);

}  // namespace kinrad
