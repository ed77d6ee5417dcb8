#pragma once
// The layer peeling, private to this folder: what the simple peeling leaves of a cluster (a
// mating graph with cycles, two-sex or one-sex) summed exactly by conditioning parents layer by
// layer. The two entry points, layer_stage and layer_stage_mono, are declared with the engine's
// other private routines.
#include <cstddef>
#include <cstdint>

#include "core/kinds.hpp"
#include "core/modules/likelihood_work.hpp"
#include "likelihood/full_sib_internal.hpp"

namespace kinrad {

// Family f's table read by the two parents' positions in their genotype lists, whatever the
// kind of locus: positions map to the table's classes through the family's index lists (or are
// the classes themselves at two-allele and dominant loci); a class outside the table, or masked
// off at an error-free locus, reads 0.
struct FamilyTable {
  const real8* base = nullptr;
  std::ptrdiff_t ld = 0;
  const int4* fcls = nullptr;  // father's classes (null: his position is the class)
  const int4* mcls = nullptr;
  int4 rows = 0;
  int4 cols = 0;
  uint16_t rowmask = 0;
  uint16_t colmask = 0;
  bool masked = false;   // error-free codominant tables: rows and columns by their masks
  bool neutral = false;  // the family tells nothing about its parents here: the factor is 1
  bool direct = false;   // a pair table, read by the positions themselves

  real8 operator()(int4 gf, int4 gm) const {
    if (direct) return base[(gf - 1) + (gm - 1) * ld];
    if (neutral) return 1.0;
    return cell(fcls ? fcls[gf - 1] : gf, mcls ? mcls[gm - 1] : gm);
  }

  // The entry of the father's class x and the mother's class y (a family's own table).
  real8 cell(int4 x, int4 y) const {
    if (neutral) return 1.0;
    if (x < 1 || x > rows || y < 1 || y > cols) return 0.0;
    if (masked && (!has_bit(rowmask, x) || !has_bit(colmask, y))) return 0.0;
    return base[(x - 1) + (y - 1) * ld];
  }
};

// The table of family f at the current locus, for parents' positions: the pair table the
// absorption made for the pair when there is one, otherwise the family's own table.
FamilyTable family_table(int4 f, const LocusKind& k);
// The family's own table at the current locus (no pair tables: the one-sex stage makes none).
FamilyTable locus_family_table(int4 f, const LocusKind& k);

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

namespace kinrad {

// For every family left to the layer peeling (its parents' kept genotypes, selectedpnum and
// idxselectedp): the distinct table indices of each side's genotypes into equiline and
// equilineq. At a haplodiploid locus with typing errors and index lists, table indices whose
// entries differ by at most 1e-14 everywhere are first merged into the earliest one, and the
// family's index lists rewritten through the merge.
void equigenotype(int4 locus);

}  // namespace kinrad

// The layer recursion shared by the two-sex and the one-sex layer stages. A stage builds the
// graph its simple peeling left (nodes, their kept genotypes and weights, the families linking
// them in layer state 0, and absorbvar.pairparent holding each family's two nodes) and hands it
// to layer_run, which conditions one node per layer on each of its kept genotypes in turn and
// sums every finished path.

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

// Pair and single absorption inside the layer peeling of two-sex clusters: before a layer picks
// its conditioning parent, chains of parents with two mates, parents with one mate and groups
// of parents sharing the same two mates are summed out of the layer's graph into pair tables
// between the parents that stay.

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

// Genotype-set reduction: before the layer peeling, each parent still in the family graph has
// its genotypes weighed by its prior and by what its own remaining full-sib families say, and
// only the genotypes of non-negligible weight are kept, heaviest first.

namespace kinrad {

// The graph it reads: likelihoodvar.parentprt(0, s) parents of role s (joint parent numbers from
// row 1), each parent's remaining families in layer state 0 (layernummate(p, 0), layermate(., p,
// 0)) and its prior in crrtgenotypefre. Writes parentsum, parentslot, selectedpnum, idxselectedp
// (positions in the parent's genotype list) and maxselectedp. logl: -1e300 on entry; 0 when
// every parent keeps a genotype, else it stays -1e300 (the family is impossible at the locus).
// Before a first call selectedpnum is cleared (reduce_clear); a second call weighs every parent
// against its mates' kept genotypes and re-selects a parent left with one genotype from its
// existing weights. In a species with one parent pool the parent acting in both roles is weighed
// once, over the families of both roles, and its role-2 column copies the role-1 one.
void reducengenotype(int4 locus, int4 err, int4 numallele, real8& logl);

// Sizes the reduction's arrays for the family in hand and clears selectedpnum.
void reduce_clear();

}  // namespace kinrad
