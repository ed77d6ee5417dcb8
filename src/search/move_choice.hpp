#pragma once
// The pieces of the move choice that its tests and the proposal stage reach: the draw of the
// search stream the choice makes, the destination-family search and the locus picker.
#include "core/farray.hpp"
#include "core/kinds.hpp"
#include "core/modules/search_seams.hpp"
#include "core/random_numbers.hpp"

namespace kinrad {

struct RunState;

// One draw of the search stream as the move choice makes it (search_seams.choice_draw in its
// place when a test sets one).
inline real8 choice_draw() {
  return search_seams.choice_draw != nullptr ? search_seams.choice_draw() : ran2();
}

// Sizes the per-run work of the choice and marks the offspring typed at some locus of two or
// more alleles; made once per run (choose_move calls it when needed).
void prepare_choice(RunState& rs);

// The destination full-sib family of the moving offspring inside one cluster: mode 1 its own
// cluster (side-1 tables), mode 2 another cluster (side-2 tables). Sets hostfamily(1:2) and
// rs.choice.hostfamilyid, or crrtpos(2) = -1 when it finds none.
void findhostfamilyid(RunState& rs, int4 mode, FStatic<int4, 1, 3>& crrtpos);

// A locus at which moveindiv is typed, optionally one favouring agreement with a member of the
// destination full-sib family (partner 1 on entry asks for one; out: the partner or 0), and
// moveindiv's genotype there. moveindiv must be typed at some locus of two or more alleles.
void findlocus(RunState& rs, int4 cluster, int4 sw, int4& partner, int2& g, int4& locus);

// The genotype of offspring i at a locus of two or more alleles (0: missing).
int2 offspring_genotype(int4 i, int4 locus);

}  // namespace kinrad
