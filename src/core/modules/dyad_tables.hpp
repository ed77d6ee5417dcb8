#pragma once
// The dyad log-likelihood tables of the offspring pairs and of offspring with candidate parents
// (members of `variables`, filled by the pairwise phase's calculatepairprob), read through
// accessors that answer exactly as an n x n table of the same name would in the current state.
// Here, below the phases, so that the likelihood engine reads them without calling on the
// pairwise phase.
#include <cstddef>
#include <span>

#include "core/kinds.hpp"
#include "core/modules/variables.hpp"

namespace kinrad {

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

}  // namespace kinrad
