#pragma once
// The layer recursion shared by the two-sex and the one-sex layer stages. A stage builds the
// graph its simple peeling left (nodes, their kept genotypes and weights, the families linking
// them in layer state 0, and absorbvar.pairparent holding each family's two nodes) and hands it
// to layer_run, which conditions one node per layer on each of its kept genotypes in turn and
// sums every finished path.
#include "core/kinds.hpp"
#include "likelihood/layer_peel_internal.hpp"

namespace kinrad {

struct LayerSpec {
  bool mono = false;  // one parent pool: nodes are individuals holding one or both roles
  LocusKind kind;
  int4 locus = 0;
};

// Removes link f from node p's list in layer state s (the last entry takes its place).
void layer_remove_link(int4 p, int4 f, int4 s);

// Multiplies a factor into the path value of layer state s, moving its magnitude into the
// state's log before it can underflow.
void layer_scale_path(int4 s, real8 factor);

// The genotype-set reduction of the parents listed in parentprt (once, and a second time
// against the mates' kept genotypes where the first pass leaves much to drop); every listed
// parent's prior then holds its kept genotypes only. False when the locus is impossible.
bool layer_reduce(int4 locus, int4 numallele);

// Sizes the layer arrays for nodes whose weight blocks take nweight entries, at most maxmate
// families per node and the layer states 0 to states, with one further state keeping the graph
// of state 0 for a second pass. Storage only grows.
void layer_run_size(int4 nweight, int4 maxmate, int4 states);

// Zeroes every genotype of node p outside its kept list (selectedpnum, idxselectedp) in its
// prior.
void layer_keep_selected(int4 p);

// The kept priors of every node of layercore into its weights of state 0, each rescaled to sum 1
// unless it sums to more than 0.99 already, the log of the sum added to lnconst; false when some
// node's kept prior mass is at most 1e-300 (the locus is impossible).
bool layer_start_weights(real8& lnconst);

// Runs the layer peeling on the graph of state 0 (nodes in layercore, their roles in layerrole,
// their kept genotypes, weights and families): the passes, the retry with the other
// sex (role) order when the first descent needs more layers than the smaller sex has parents,
// the precision narrowing and its restoration. lnsum receives the natural log of the summed
// paths; false when no path has a positive value.
bool layer_run(const LayerSpec& spec, real8& lnsum);

}  // namespace kinrad
