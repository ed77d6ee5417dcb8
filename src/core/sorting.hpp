#pragma once
// Index sorts and bisection searches shared by the whole program. Arrays are passed as a
// pointer to their first element and are numbered from 1 inside, as the callers count; every
// index written is 1-based: on return indx(1) is the position of the smallest key.
//
// The order of equal keys is part of the results (message numbers, allele order, annealing
// moves), so the quicksorts follow one fixed sequence of comparisons and swaps and must not be
// replaced by a library sort.
#include <cstddef>

#include "core/fixed_string.hpp"
#include "core/kinds.hpp"

namespace kinrad {

// indx(1..n) orders arr(1..n) ascending. An array already in order gives the identity.
void indexx(int4 n, const real8* arr, int4* indx);

// indx(1..n) orders n texts of `len` characters each, stored one after another from `base`,
// ascending by character codes (unsigned bytes).
void indexch_text(int4 n, const char* base, std::size_t len, int4* indx);

// indx(1..n) orders arr(1..n) ascending by character codes.
template <std::size_t N>
void indexch(int4 n, const FString<N>* arr, int4* indx) {
  static_assert(sizeof(FString<N>) == N, "fixed-length texts are stored back to back");
  indexch_text(n, n > 0 ? arr->data() : nullptr, N, indx);
}

// idx(1..n) orders keys(1..n) ascending; the keys are distinct and lie in 1..smplsize. Borrows
// annealvariables.selectedprntidxq1 (zero on entry, zero again on return).
void indexquick(int4 n, const int4* keys, int4* idx);

// idx(1..n) orders keys(1..n) ascending, equal keys in their input order; the keys lie in
// 1..size of annealvariables.selectedprntidxq1, which it borrows and leaves zero.
void indexquick2(int4 n, const int4* keys, int4* idx);

// j with xx(j) <= x < xx(j+1) in the ascending table xx(1..n); 0 below the table and n above
// it; x equal to xx(n) gives n - 1.
void locate(const real4* xx, int4 n, real4 x, int4& j);

}  // namespace kinrad
