#include "core/sorting.hpp"

#include <cstring>
#include <string_view>
#include <utility>

#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"

namespace kinrad {

namespace {

// Pieces shorter than this are finished by straight insertion.
constexpr int4 kInsertionLimit = 7;
// Room for 25 pairs of bounds; more means the key set defeats the median-of-three choice.
constexpr int4 kStackSize = 50;

// The index quicksort shared by the real and the text keys. key(t) gives the key of element t
// (1-based); greater(a, b) and less(a, b) compare two keys.
template <class Key, class Greater, class Less>
void index_quicksort(int4 n, int4* indx_base, Key key, Greater greater, Less less,
                     std::string_view name) {
  // indx(i), 1-based.
  auto indx = [indx_base](int4 i) -> int4& { return indx_base[i - 1]; };
  int4 istack[kStackSize + 1];
  int4 jstack = 0;
  int4 l = 1;
  int4 ir = n;
  for (;;) {
    if (ir - l < kInsertionLimit) {
      for (int4 j = l + 1; j <= ir; ++j) {
        const int4 t = indx(j);
        const auto a = key(t);
        int4 i = j - 1;
        for (; i >= l; --i) {
          if (!greater(key(indx(i)), a)) break;
          indx(i + 1) = indx(i);
        }
        indx(i + 1) = t;
      }
      if (jstack == 0) return;
      ir = istack[jstack];
      l = istack[jstack - 1];
      jstack -= 2;
    } else {
      const int4 k = (l + ir) / 2;
      std::swap(indx(k), indx(l + 1));
      if (greater(key(indx(l)), key(indx(ir)))) std::swap(indx(l), indx(ir));
      if (greater(key(indx(l + 1)), key(indx(ir)))) std::swap(indx(l + 1), indx(ir));
      if (greater(key(indx(l)), key(indx(l + 1)))) std::swap(indx(l), indx(l + 1));
      int4 i = l + 1;
      int4 j = ir;
      const int4 t = indx(l + 1);
      const auto a = key(t);
      for (;;) {
        do ++i;
        while (less(key(indx(i)), a));
        do --j;
        while (greater(key(indx(j)), a));
        if (j < i) break;
        std::swap(indx(i), indx(j));
      }
      indx(l + 1) = indx(j);
      indx(j) = t;
      if (jstack >= kStackSize) stackerror(name);
      jstack += 2;
      // The larger piece waits on the stack; the smaller one is sorted next.
      if (ir - i + 1 >= j - l) {
        istack[jstack] = ir;
        istack[jstack - 1] = i;
        ir = j - 1;
      } else {
        istack[jstack] = j - 1;
        istack[jstack - 1] = l;
        l = i;
      }
    }
  }
}

}  // namespace

void indexx(int4 n, const real8* arr_base, int4* indx) {
  for (int4 j = 1; j <= n; ++j) indx[j - 1] = j;
  if (n < 2) return;
  auto arr = [arr_base](int4 t) { return arr_base[t - 1]; };
  bool inorder = true;
  for (int4 j = 2; j <= n; ++j) {
    if (!(arr(j) >= arr(j - 1))) {
      inorder = false;
      break;
    }
  }
  if (inorder) return;
  index_quicksort(
      n, indx, arr, [](real8 a, real8 b) { return a > b; }, [](real8 a, real8 b) { return a < b; },
      "Indexx");
}

void indexch_text(int4 n, const char* base, std::size_t len, int4* indx) {
  for (int4 j = 1; j <= n; ++j) indx[j - 1] = j;
  if (n < 2) return;
  auto key = [base, len](int4 t) {
    return std::string_view(base + static_cast<std::size_t>(t - 1) * len, len);
  };
  // Texts of one length: memcmp compares unsigned bytes.
  auto greater = [len](std::string_view a, std::string_view b) {
    return std::memcmp(a.data(), b.data(), len) > 0;
  };
  auto less = [len](std::string_view a, std::string_view b) {
    return std::memcmp(a.data(), b.data(), len) < 0;
  };
  index_quicksort(n, indx, key, greater, less, "IndexCh");
}

void indexquick(int4 n, const int4* keys, int4* idx) {
  const int4 smplsize = variables.smplsize;
  if (n == smplsize) {
    // The keys are then a permutation of 1..n.
    for (int4 j = 1; j <= n; ++j) idx[keys[j - 1] - 1] = j;
    return;
  }
  if (n <= 0) return;
  auto& mark = annealvariables.selectedprntidxq1;
  for (int4 j = 1; j <= n; ++j) mark(keys[j - 1]) = j;
  int4 placed = 0;
  for (int4 k = 1; k <= smplsize; ++k) {
    const int4 m = mark(k);
    if (m != 0) {
      idx[placed++] = m;
      mark(k) = 0;
      if (placed == n) break;
    }
  }
}

void indexquick2(int4 n, const int4* keys, int4* idx) {
  if (n <= 0) return;
  auto& count = annealvariables.selectedprntidxq1;
  int4 kmin = keys[0];
  int4 kmax = keys[0];
  for (int4 j = 0; j < n; ++j) {
    const int4 k = keys[j];
    if (count(k) == 0) {
      count(k) = 1;
      if (k < kmin) kmin = k;
      if (k > kmax) kmax = k;
    } else {
      ++count(k);
    }
  }
  // Counts become 0-based start positions.
  int4 start = 0;
  for (int4 k = kmin; k <= kmax; ++k) {
    const int4 c = count(k);
    if (c != 0) {
      count(k) = start;
      start += c;
    }
  }
  for (int4 j = 1; j <= n; ++j) {
    int4& s = count(keys[j - 1]);
    idx[s] = j;
    ++s;
  }
  // Every key seen is cleared again, so no list of distinct keys is needed.
  for (int4 j = 0; j < n; ++j) count(keys[j]) = 0;
}

void locate(const real4* xx_base, int4 n, real4 x, int4& j) {
  if (n < 1) {
    j = 0;
    return;
  }
  auto xx = [xx_base](int4 i) { return xx_base[i - 1]; };
  int4 jl = 0;
  int4 ju = n + 1;
  while (ju - jl > 1) {
    const int4 jm = (ju + jl) / 2;
    if (x >= xx(jm)) {
      jl = jm;
    } else {
      ju = jm;
    }
  }
  if (x == xx(1)) {
    j = 1;
  } else if (x == xx(n)) {
    j = n - 1;
  } else {
    j = jl;
  }
}

}  // namespace kinrad
