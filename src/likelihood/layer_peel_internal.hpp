#pragma once
// The layer stage of the locus likelihood: what the simple peeling leaves of a two-sex cluster
// (a mating graph with cycles) summed exactly by conditioning parents layer by layer.
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

// Called after the simple peeling when families remain, at any kind of locus; logl receives the
// locus log likelihood of the cluster (the constant, the trees closed by the simple peeling and the
// remaining graph), -1e300 when the locus is impossible.
void layer_stage(int4 locus, int4 numallele, real8& logl);

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
