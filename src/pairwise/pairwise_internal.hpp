#pragma once
// Routines of the pairwise analysis that only this folder (and its tests) call.
#include <array>
#include <span>
#include <string>

#include "core/kinds.hpp"

namespace kinrad {

// Single-precision marker of an impossible or excluded pair: -9.9999997e37.
inline constexpr real4 impossible_pair = -1e38f;

// Known sibship status of offspring i with offspring j on each side: +1 known to share that
// parent, -1 known not to, 0 open. ks holds i's known sibships (knownsibship(i, 1:2)).
void sibknownexc(int4 i, int4 j, std::array<int4, 2>& stat, const std::array<int4, 2>& ks);

// Adds, over all polymorphic loci, the dyad log likelihood of every pair of the table of the
// given type (1 full sibs, 2 half sibs, 3 maternal half sibs, 4 self-outbred ordered sibs,
// 5 self-self sibs, 6 parent and selfed offspring, 7 father, 8 mother and offspring) to the
// table's current entries. delta holds the nine condensed identity coefficients; bploidy is
// the ploidy of the pair's second member.
void compute_dyad_locus2_logl(int4 show, int4 type, std::span<const real8, 9> delta, int4 bploidy);

// The eight dyad tables in the order of their cache keys.
enum class DyadTable { fs = 1, hs, mhs, selfout, selfself, dad, mum, prt };

// Moves one dyad table to (mode 2) or from (mode 1) its unformatted cache file. A read that
// does not find exactly the table's records, of exactly the table's lengths, sets ok to 0.
void readwritedyadlogl(int4 mode, DyadTable table, const std::string& file, int4 show, int4& ok,
                       int4 callmode);

// Bytes of the dyad tables a first call of calculatepairprob would allocate now.
int8 dyad_table_bytes();

// The focal-offspring scheme of the pairwise sib decisions: genotype indices of the loci of
// more than two alleles, the per-row tables of focal offspring i, and the log likelihood of
// partner j under relationship t (stopping once the sum falls below bound).
void setindivgtype3();
void allocate_focal_dyad_tables();
void setdyadlogl(int4 i);
void compute_dyad_logl(int4 t, int4 j, real8& logl, real8 bound);
// The clone cache of focal offspring i (first pair of its row), and the clone log likelihood
// of i with partner j.
void refresh_clone_cache(int4 i);
real8 clone_dyad_logl(int4 i, int4 j);

// The trial families of the sib hypotheses, scored by the family likelihood driver.
enum class Trial {
  alone,     // one offspring with its known parents
  fullsibs,  // one father, one mother, both offspring
  paternal,  // one father, two mothers, one offspring each
  maternal,  // two fathers, one mother, one offspring each
};
// Log likelihood (prior term included) of trial family `kind` of the pair i < j, or of member
// x alone for `alone`, with the known parents of the members; `bound` as for the family
// likelihood driver.
real8 trialfamily(Trial kind, int4 i, int4 j, int4 x, real8 bound);

// The sibship phase of the pairwise step: classifies every pair of offspring, writes the
// three pairwise sibship files and (with 50 or more offspring) the pair clusters, and adds
// each pair's likelihood differences to the start temperature's sum and weight. singlelogl
// holds each offspring's log likelihood as an unrelated individual (element i - 1).
void pairwise_sibship(std::span<const real8> singlelogl, real8& sumsib, real8& weightsib);
// The decision of one pair from its log likelihoods L(0..3) (unrelated, paternal half sibs,
// full sibs, maternal half sibs) and known-sibship status: (sp, sm) = (0, 0), (1, 0), (0, 1)
// or (1, 1) before the clone test and the known-sibship overrides; adds the pair's terms of
// the start temperature for scoring mode `mode` and weight w.
void sibstatus(std::array<real8, 4> L, const std::array<int4, 2>& stat, int4 mode, real8 w,
               real8& sumsib, real8& weightsib, int4& sp, int4& sm);

// Best candidate parents. rankbestcnd fills the list of offspring i for sex s from the
// single-precision scores of the sex's candidates (element c - 1 for candidate c, -1e38 for
// an impossible or excluded candidate); appendbestcndrecord appends that list's cache record;
// getbestcnd reads the cache named file into the allocated lists, ok = 1 when every record
// was read and valid.
void rankbestcnd(int4 i, int4 s, std::span<const real4> score);
void appendbestcndrecord(std::string& out, int4 i, int4 s);
void getbestcnd(const std::string& file, int4& ok);

}  // namespace kinrad
