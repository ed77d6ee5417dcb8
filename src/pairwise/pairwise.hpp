#pragma once
// What the pairwise analysis offers the other subsystems: the dyad log-likelihood tables of
// the offspring pairs and of offspring with candidate parents, read through accessors that
// answer exactly as an n x n table of the same name would in the current state; the routine
// that builds them; and the pairwise step itself.
#include <cstddef>
#include <span>

#include "core/kinds.hpp"
#include "core/modules/variables.hpp"
#include "pairwise/clones.hpp"

namespace kinrad {

// The whole pairwise step; writes the pairwise-step marker file when it completes.
void pairrelation();

// Log likelihood (prior term included) of a trial family with unsampled parents except the
// known parents its members carry: with `second` empty, the members of `first` as one
// full-sib family; otherwise two groups that share the sex-2 parent and have different sex-1
// parents (split 1, nparent (2, 1)) or share the sex-1 parent (split 2, nparent (1, 2)). Two
// members naming different known parents of one parent, or the same known parent for the two
// different parents, make it -1e300. bound as for the family likelihood driver. Uses the
// trial frame of the pairwise step (setfamilystruc(smplsize, 2) the first time); leaves the
// family structure of this family and the members' inferparent rows at 0.
real8 trialgroups(std::span<const int4> first, std::span<const int4> second, int4 split,
                  real8 bound);

// Reads the pairwise clustering back for the search.
void setcluster();

// Builds every dyad log-likelihood table the analysis uses (mode 1: the per-analysis set-up).
void calculatepairprob(int4 mode);

// Ranks the candidate parents of each offspring by parent-offspring dyad likelihood and keeps
// the best ones.
void setgetbestcnd();

// Offset of the pair lo < hi in a triangle whose rows are the larger offspring (row hi holds
// partners 1..hi-1), and in one whose rows are the smaller (row lo holds lo+1..n).
inline index_t tri_by_larger(int4 lo, int4 hi) {
  return static_cast<index_t>(hi - 1) * (hi - 2) / 2 + (lo - 1);
}
inline index_t tri_by_smaller(int4 lo, int4 hi, int4 n) {
  return static_cast<index_t>(lo - 1) * (2 * static_cast<index_t>(n) - lo) / 2 + (hi - lo - 1);
}

inline bool prbfspair_allocated() {
  return variables.prbfstri.allocated();
}
inline bool prbhspair_allocated() {
  return variables.prbhspairq != 0;
}
inline bool prbmhsibpair_allocated() {
  return variables.prbmhsibtri.allocated();
}
inline bool prbsspair_allocated() {
  return variables.prbsstri.allocated();
}
inline bool prbselfoutpair_allocated() {
  return variables.prbselfoutpair.allocated();
}
inline bool prbpopair_allocated() {
  return variables.prbpopairtgt.allocated();
}

// Half-sib value of the pair lo < hi; 0 where the half sibs were never computed.
inline real4 dyad_half_sib(int4 lo, int4 hi) {
  const FArray<real4, 1>& t = variables.prbhstri;
  return t.allocated() ? t(tri_by_smaller(lo, hi, variables.smplsize)) : 0.0f;
}

// Full-sib table: full sibs in the upper triangle (i < j); the lower triangle holds full sibs
// too, or half sibs when the full likelihood alone reads them (no symmetric half-sib table).
inline real4 prbfspair(int4 i, int4 j) {
  if (i == j) return 0.0f;
  if (i < j) return variables.prbfstri(tri_by_larger(i, j));
  if (variables.prbfspairlower == 2) return dyad_half_sib(j, i);
  return variables.prbfstri(tri_by_larger(j, i));
}

inline real4 prbhspair(int4 i, int4 j) {
  if (i == j) return 0.0f;
  return i < j ? dyad_half_sib(i, j) : dyad_half_sib(j, i);
}

inline real4 prbmhsibpair(int4 i, int4 j) {
  if (i == j) return 0.0f;
  return variables.prbmhsibtri(i < j ? tri_by_larger(i, j) : tri_by_larger(j, i));
}

inline real4 prbsspair(int4 i, int4 j) {
  if (i == j) return 0.0f;
  return variables.prbsstri(i < j ? tri_by_larger(i, j) : tri_by_larger(j, i));
}

// Ordered: i the selfed sib, j the outbred sib.
inline real4 prbselfoutpair(int4 i, int4 j) {
  return variables.prbselfoutpair(i, j);
}

// Parent-offspring value of offspring i with candidate c of sex s (for one parent pool, s = 2
// holds the values of parent and selfed offspring).
inline real4 prbpopair(int4 i, int4 s, int4 c) {
  const int4 o = s == 1 ? 0 : variables.numcandidate(1);
  return variables.prbpopairtgt(o + c, i);
}

// The same values as one vector over candidates 1..numcandidate(s) (element c - 1).
inline std::span<real4> prbpopair_row(int4 i, int4 s) {
  const int4 o = s == 1 ? 0 : variables.numcandidate(1);
  const int4 n = variables.numcandidate(s);
  if (n <= 0) return {};
  return std::span<real4>(&variables.prbpopairtgt(o + 1, i), static_cast<std::size_t>(n));
}

// ---- Parentage thresholds by simulation ----
// Fills the rows of simuvariables.threshold, threshold2 (diploid offspring, offploidy 2) or
// thresholdh (haploid offspring, offploidy 1) for each sex with candidates, by simulating
// 10000 replicate families. The tables must be allocated (2, 10); the dyad memos must be
// allocated by allocate_delta_memos first. Offspring 1 and the first candidate of each sex
// serve as the simulated individuals' slots and are restored before it returns.
void determinedeltavalue(int4 offploidy);
// Allocates the simulation's two-allele dyad memos (dyadlogl0 only when some offspring have
// a known parent), and frees them.
void allocate_delta_memos();
void free_delta_memos();

}  // namespace kinrad
