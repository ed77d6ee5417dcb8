#pragma once
// Work arrays of the likelihood engine keep their storage between families and only grow: the
// search prepares a family for every proposal, and re-creating the arrays each time would
// dominate its cost. A grown array may be larger than the family in hand; the family's own
// scalars (numfsibship, nallparent, ...) give the extent in use.
#include <algorithm>
#include <array>
#include <type_traits>

#include "core/farray.hpp"
#include "core/modules/work_growth.hpp"

namespace kinrad::engine {

// Makes `a` cover every subscript of `dims` (lower bounds as given). When it must be
// re-created, each dimension takes the larger of its old and its needed upper bound (a
// dimension that grows at least doubles), so that a sequence of families converges on one
// allocation. Contents are unspecified after a re-creation
// (zero-filled); callers fill what they read. Returns true when it re-created the array.
template <class T, int R>
bool grow(FArray<T, R>& a, std::type_identity_t<std::array<Dim, R>> dims) {
  bool fits = a.allocated();
  if (fits) {
    for (int d = 0; d < R; ++d) {
      if (dims[d].extent() == 0) continue;
      if (a.lbound(d + 1) != dims[d].lo || a.ubound(d + 1) < dims[d].hi) fits = false;
    }
  }
  if (fits) return false;
  if (a.allocated()) {
    for (int d = 0; d < R; ++d) {
      if (a.lbound(d + 1) != dims[d].lo) continue;
      const index_t old = a.ubound(d + 1);
      if (old >= dims[d].hi) {
        dims[d].hi = old;
      } else {
        // A dimension that outgrows its storage takes twice its old extent at least, so that
        // the growing families of a search re-create each array a few times only.
        dims[d].hi = std::max(dims[d].hi, dims[d].lo + 2 * (old - dims[d].lo + 1) - 1);
      }
    }
  }
  for (int d = 0; d < R; ++d) {
    if (dims[d].hi < dims[d].lo) dims[d].hi = dims[d].lo;  // keep at least one entry
  }
  a.allocate(dims);
  ++work_growth.count;
  return true;
}

template <class T>
bool grow(FArray<T, 1>& a, Dim d0) {
  return grow(a, std::array<Dim, 1>{d0});
}
template <class T>
bool grow(FArray<T, 2>& a, Dim d0, Dim d1) {
  return grow(a, std::array<Dim, 2>{d0, d1});
}
template <class T>
bool grow(FArray<T, 4>& a, Dim d0, Dim d1, Dim d2, Dim d3) {
  return grow(a, std::array<Dim, 4>{d0, d1, d2, d3});
}

// Sets entries lo..hi of a rank-1 array to v.
template <class T, class V>
void fill_range(FArray<T, 1>& a, index_t lo, index_t hi, V v) {
  for (index_t i = lo; i <= hi; ++i) a(i) = static_cast<T>(v);
}

}  // namespace kinrad::engine
