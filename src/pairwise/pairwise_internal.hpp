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

// Makes the frame of one and two parents per sex for trial families ready and empty
// (setfamilystruc the first time, then only emptied): inferparentprt aims at inferparent.
// Trial families clear the inferparent rows they set.
void trialframe();

// The trial families of the sib hypotheses, scored by the family likelihood driver.
enum class Trial {
  alone,     // one offspring with its known parents
  fullsibs,  // one father, one mother, both offspring
  paternal,  // one father, two mothers, one offspring each
  maternal,  // two fathers, one mother, one offspring each
};
// Log likelihood (prior term included) of trial family `kind` of the pair i < j, or of member
// x alone for `alone`, with the known parents of the members; `bound` as for the family
// likelihood driver. For `alone`, sex > 0 and cand > 0 put candidate cand in as x's parent of
// that sex in place of a known one; useknown false gives the family no known parent of its
// own (the engine still reads the input's known parents of the members). The frame is made
// once and emptied for each family.
real8 trialfamily(Trial kind, int4 i, int4 j, int4 x, real8 bound, int4 sex = 0, int4 cand = 0,
                  bool useknown = true);
// The same family, without any known parent and without its sibship-size prior term: a pure
// likelihood of the members' genotypes (and of a candidate put in), as the dyad tables hold
// (-1e300 when ruled out).
real8 trialfamilydyad(Trial kind, int4 i, int4 j, int4 x, int4 sex = 0, int4 cand = 0);

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

// The parentage phase of the pairwise step: for each sex with candidates, each offspring's
// most likely candidate parent (or its known parent, at 100 %) with a confidence level from
// the simulated thresholds, written to ".PairwisePaternity" / ".PairwiseMaternity"; adds each
// credible parent-offspring score's distance from unrelated to the start temperature's sum
// and count. A known parent ruled out by the genotypes stops the program.
void pairwise_parentage(std::span<const real8> singlelogl, real8& sumpo, real8& weightpo);
// Level index of a DELTA against the thresholds t (95, 90, ..., 50 %): 1..10 (confidence
// 100 - 5 index), or 0 below the 50 % threshold (no assignment).
int4 parentagelevel(real8 delta, std::span<const real8, 10> t);
// The four locus counts of a parentage row over the loci of more than one allele: typed in
// the offspring, typed in candidate c of sex s, typed in both, and (codominant loci only)
// typed in both with no allele shared.
struct ParentageCounts {
  int4 offgtype = 0, prntgtype = 0, pairgtype = 0, excloci = 0;
};
ParentageCounts parentagecounts(int4 i, int4 s, int4 c);

// The start temperature of the search from the sibship sums (as, ws) and the parentage sums
// (ap, wp); d > 0 (the mean distance of single offspring between inbreeding 0.5 and 0) is
// blended in by a harmonic mean for a selfing species. Divided by the sample size^0.1.
real8 starttemperature(real8 as, real8 ws, real8 ap, real8 wp, real8 d);
// Turns logprior (ln p, ln(1 - p) of a sampled parent of each sex with candidates) into the
// search's log priors from the thresholds and the data's information content.
void updatelogprior();
// The marker record: the temperature and the four log priors, "(5ES18.8)", with its line end.
std::string markerrecord(real8 t);

// Best candidate parents. rankbestcnd fills the list of offspring i for sex s from the
// single-precision scores of the sex's candidates (element c - 1 for candidate c, -1e38 for
// an impossible or excluded candidate); appendbestcndrecord appends that list's cache record;
// getbestcnd reads the cache named file into the allocated lists, ok = 1 when every record
// was read and valid.
void rankbestcnd(int4 i, int4 s, std::span<const real4> score);
void appendbestcndrecord(std::string& out, int4 i, int4 s);
void getbestcnd(const std::string& file, int4& ok);

}  // namespace kinrad
