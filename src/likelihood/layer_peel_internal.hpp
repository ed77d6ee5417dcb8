#pragma once
// The layer stage of the locus likelihood: what the simple peeling leaves of a two-sex cluster
// (a mating graph with cycles) summed exactly by conditioning parents layer by layer.
#include "core/kinds.hpp"

namespace kinrad {

// Called after the simple peeling when families remain, at any kind of locus; logl receives the
// locus log likelihood of the cluster (the constant, the trees closed by the simple peeling and the
// remaining graph), -1e300 when the locus is impossible.
void layer_stage(int4 locus, real8& logl);

}  // namespace kinrad

namespace kinrad {

// Hooks of the pair and single absorption inside a layer, called by the layer recursion before
// it chooses the conditioning parent of `layer` (the graph entering the layer is layer state
// layer - 1). prune(layer) absorbs pairs and singles there and sets allabsorbedlayer to the
// layer when nothing remains; chknewfsprob(layer, skip) sets skip to 1 when a layer whose pair
// tables changed is not worth descending. Without pair tables both do nothing (skip 0).
void prune(int4 layer);
void chknewfsprob(int4 layer, int4& skip);

// The sex scanned first by the conditioning choice, from the whole graph the layer stage
// starts with (each parent's families in layer state 0): sets likelihoodvar.absorbsex.
void findabsorbsex();

// Drops from every parent of sex s (1 fathers, 2 mothers) in layer state 0 the genotypes that
// no genotype of some one mate can produce together with it (every table entry below 1e-300);
// a dropped genotype's weight becomes 0. ok: 0 when some parent of that sex is left with no
// genotype, else the number its last parent kept (1 when the sex has no parent to trim).
void trimgenotypes(int4 s, int4& ok);

}  // namespace kinrad
