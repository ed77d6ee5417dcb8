#pragma once
// Arrays with per-dimension lower bounds, stored column-major (the first subscript is
// contiguous), zero-filled when allocated. Lists whose element 0 holds their count are
// declared with lower bound 0. Subscripts are checked when KINRAD_BOUNDS_CHECK is set (Debug
// and test builds) and not in Release, where the inner loops of the likelihood engine run.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>

namespace kinrad {

using index_t = std::ptrdiff_t;

// One dimension: lo..hi; a single number n means 1..n.
struct Dim {
  index_t lo = 1;
  index_t hi = 0;
  constexpr Dim() = default;
  constexpr Dim(index_t n) : lo(1), hi(n) {}  // NOLINT: Fortran's (n) means (1:n)
  constexpr Dim(index_t l, index_t h) : lo(l), hi(h) {}
  constexpr index_t extent() const { return hi >= lo ? hi - lo + 1 : 0; }
};

[[noreturn]] inline void farray_bounds_failure(int dim, index_t i, index_t lo, index_t hi) {
  std::fprintf(stderr, "array subscript %td of dimension %d outside %td:%td\n", i, dim + 1, lo, hi);
  std::abort();
}

// The shape shared by arrays and views: per-dimension lower bounds and extents, column-major
// strides and the offset that folds the lower bounds in. The first subscript is contiguous,
// so its stride is 1 and it is added without a multiplication.
template <int R>
struct FLayout {
  std::array<index_t, R> lo{};
  std::array<index_t, R> ext{};
  std::array<index_t, R> stride{};  // stride[0] is 1 once shaped
  index_t offset = 0;
  index_t size = 0;

  // Shapes the layout for the given bounds; returns the number of elements.
  constexpr index_t shape(const std::array<Dim, R>& dims) {
    index_t step = 1;
    offset = 0;
    for (int d = 0; d < R; ++d) {
      lo[d] = dims[d].lo;
      ext[d] = dims[d].extent();
      stride[d] = step;
      offset -= lo[d] * step;
      step *= ext[d];
    }
    size = step;
    return step;
  }

  // Back to the unallocated state: bounds 1:0 in every dimension.
  constexpr void clear() {
    for (int d = 0; d < R; ++d) {
      lo[d] = 1;
      ext[d] = 0;
      stride[d] = 0;
    }
    offset = 0;
    size = 0;
  }

  std::array<Dim, R> dims() const {
    std::array<Dim, R> r{};
    for (int k = 0; k < R; ++k) r[k] = Dim(lo[k], lo[k] + ext[k] - 1);
    return r;
  }

  index_t ubound(int d) const { return lo[d] + ext[d] - 1; }

  // Storage offset of a subscript tuple, checked against the bounds in checked builds.
  template <class... I>
  index_t at(I... idx) const {
    const std::array<index_t, R> ix{static_cast<index_t>(idx)...};
#ifdef KINRAD_BOUNDS_CHECK
    for (int d = 0; d < R; ++d)
      if (ix[d] < lo[d] || ix[d] >= lo[d] + ext[d])
        farray_bounds_failure(d, ix[d], lo[d], lo[d] + ext[d] - 1);
#endif
    index_t off = offset + ix[0];
    for (int d = 1; d < R; ++d) off += ix[d] * stride[d];
    return off;
  }
};

template <class T, int R>
class FView;

template <class T, int R>
class FArray {
  static_assert(R >= 1 && R <= 5, "rank 1 to 5");

 public:
  using value_type = T;
  static constexpr int rank = R;

  constexpr FArray() = default;
  constexpr ~FArray() { delete[] data_; }
  FArray(const FArray&) = delete;
  FArray& operator=(const FArray&) = delete;
  FArray(FArray&& o) noexcept { steal(o); }
  FArray& operator=(FArray&& o) noexcept {
    if (this != &o) steal(o);
    return *this;
  }

  explicit FArray(Dim d0) requires(R == 1) { allocate(d0); }
  FArray(Dim d0, Dim d1) requires(R == 2) { allocate(d0, d1); }
  FArray(Dim d0, Dim d1, Dim d2) requires(R == 3) { allocate(d0, d1, d2); }

  // Allocates zero-filled storage; an allocated array is first released, as the design
  // reallocates by deallocate followed by allocate.
  void allocate(std::array<Dim, R> dims) {
    deallocate();
    const index_t total = layout_.shape(dims);
    capacity_ = static_cast<std::size_t>(total > 0 ? total : 1);
    data_ = new T[capacity_]();
  }
  // The same as allocate (zero-filled contents of the new shape), except that the storage is
  // kept when it holds the new shape and is not far larger than it (at most 4 times plus 64
  // elements), and that new storage is taken with room to spare (at least 64 elements, at least
  // twice what a growing array held, within that bound): tables re-made again and again with
  // changing shapes (the per-cluster tables of the search) stop allocating once warm, while no
  // array keeps much more than it holds.
  void reshape(std::array<Dim, R> dims) {
    FLayout<R> l{};
    const index_t total = l.shape(dims);
    const auto need = static_cast<std::size_t>(total > 0 ? total : 1);
    const std::size_t most = 4 * need + 64;
    if (!holds(dims)) {
      const std::size_t room = std::min(std::max({need, 2 * capacity_, std::size_t{64}}), most);
      delete[] data_;
      data_ = nullptr;
      capacity_ = 0;
      layout_.clear();
      data_ = new T[room]();
      capacity_ = room;
      layout_ = l;
      return;
    }
    layout_ = l;
    for (std::size_t i = 0; i < need; ++i) data_[i] = T();
  }
  // Whether reshape to these bounds keeps the present storage.
  [[nodiscard]] bool holds(std::array<Dim, R> dims) const {
    FLayout<R> l{};
    const index_t total = l.shape(dims);
    const auto need = static_cast<std::size_t>(total > 0 ? total : 1);
    return data_ != nullptr && capacity_ >= need && capacity_ <= 4 * need + 64;
  }
  void reshape(Dim d0) requires(R == 1) { reshape(std::array<Dim, R>{d0}); }
  void reshape(Dim d0, Dim d1) requires(R == 2) { reshape(std::array<Dim, R>{d0, d1}); }
  void allocate(Dim d0) requires(R == 1) { allocate(std::array<Dim, R>{d0}); }
  void allocate(Dim d0, Dim d1) requires(R == 2) { allocate(std::array<Dim, R>{d0, d1}); }
  void allocate(Dim d0, Dim d1, Dim d2) requires(R == 3) {
    allocate(std::array<Dim, R>{d0, d1, d2});
  }
  void allocate(Dim d0, Dim d1, Dim d2, Dim d3) requires(R == 4) {
    allocate(std::array<Dim, R>{d0, d1, d2, d3});
  }
  void allocate(Dim d0, Dim d1, Dim d2, Dim d3, Dim d4) requires(R == 5) {
    allocate(std::array<Dim, R>{d0, d1, d2, d3, d4});
  }

  // Allocation that reports failure instead of ending the program, for the routines that
  // test their own allocations and stop through the memory flag of the error stop.
  template <class... D>
  requires(sizeof...(D) == R) [[nodiscard]] bool try_allocate(D... dims) {
    try {
      allocate(std::array<Dim, R>{Dim(dims)...});
      return true;
    } catch (const std::bad_alloc&) {
      deallocate();
      return false;
    }
  }

  void deallocate() {
    delete[] data_;
    data_ = nullptr;
    capacity_ = 0;
    layout_.clear();
  }

  bool allocated() const { return data_ != nullptr; }
  index_t size() const { return layout_.size; }
  index_t size(int dim) const { return layout_.ext[dim - 1]; }
  index_t lbound(int dim) const { return layout_.lo[dim - 1]; }
  index_t ubound(int dim) const { return layout_.ubound(dim - 1); }

  template <class... I>
  requires(sizeof...(I) == R) T& operator()(I... idx) {
    return data_[static_cast<std::size_t>(layout_.at(idx...))];
  }
  template <class... I>
  requires(sizeof...(I) == R) const T& operator()(I... idx) const {
    return data_[static_cast<std::size_t>(layout_.at(idx...))];
  }

  T* data() { return data_; }
  const T* data() const { return data_; }
  T* begin() { return data_; }
  T* end() { return data_ + layout_.size; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + layout_.size; }

  void fill(const T& v) {
    for (index_t i = 0; i < layout_.size; ++i) data_[static_cast<std::size_t>(i)] = v;
  }

  // An explicit deep copy; plain assignment only moves.
  FArray copy() const {
    FArray r;
    if (!allocated()) return r;
    r.allocate(layout_.dims());
    for (index_t i = 0; i < layout_.size; ++i)
      r.data_[static_cast<std::size_t>(i)] = data_[static_cast<std::size_t>(i)];
    return r;
  }

  // A view of the whole array with the same bounds.
  FView<T, R> view();

 private:
  void steal(FArray& o) {
    delete[] data_;
    data_ = o.data_;
    capacity_ = o.capacity_;
    o.data_ = nullptr;
    layout_ = o.layout_;
    o.deallocate();
  }

  T* data_ = nullptr;
  std::size_t capacity_ = 0;  // elements of the storage at data_
  FLayout<R> layout_{};
};

// A non-owning window with its own lower bounds: the design's references re-aimed at a block
// of another array (`prt` pointing into `tgt`). Copies are shallow.
template <class T, int R>
class FView {
 public:
  constexpr FView() = default;
  // A view of `ext` consecutive runs of storage starting at p, with the given bounds; the
  // storage must be contiguous and column-major.
  FView(T* p, std::array<Dim, R> dims) : base_(p) { layout_.shape(dims); }

  bool associated() const { return base_ != nullptr; }
  void nullify() { *this = FView(); }
  index_t size() const { return layout_.size; }
  index_t size(int dim) const { return layout_.ext[dim - 1]; }
  index_t lbound(int dim) const { return layout_.lo[dim - 1]; }
  index_t ubound(int dim) const { return layout_.ubound(dim - 1); }
  T* data() const { return base_; }

  template <class... I>
  requires(sizeof...(I) == R) T& operator()(I... idx) const { return base_[layout_.at(idx...)]; }

 private:
  T* base_ = nullptr;
  FLayout<R> layout_{};
};

template <class T, int R>
FView<T, R> FArray<T, R>::view() {
  return FView<T, R>(data(), layout_.dims());
}

// A rank-1 window of n elements of a rank-1 array, starting at element `first` and numbered
// from `lo`: the design's pointer to arr(first:first+n-1) with bounds (lo:lo+n-1).
template <class T>
FView<T, 1> window(FArray<T, 1>& a, index_t first, index_t n, index_t lo = 1) {
  if (n > 0) {
#ifdef KINRAD_BOUNDS_CHECK
    if (first < a.lbound(1) || first + n - 1 > a.ubound(1))
      farray_bounds_failure(0, first + n - 1, a.lbound(1), a.ubound(1));
#endif
    return FView<T, 1>(&a(first), {Dim(lo, lo + n - 1)});
  }
  return FView<T, 1>(a.data(), {Dim(lo, lo - 1)});
}

template <class T>
using FArray1 = FArray<T, 1>;
template <class T>
using FArray2 = FArray<T, 2>;
template <class T>
using FArray3 = FArray<T, 3>;

}  // namespace kinrad

namespace kinrad {

// A fixed-size array with bounds Lo..Hi known at compile time: the design's explicit-shape
// module arrays such as errmsg(1:5). Checked like FArray.
template <class T, index_t Lo, index_t Hi>
class FStatic {
  static_assert(Hi >= Lo);

 public:
  static constexpr index_t lo = Lo;
  static constexpr index_t hi = Hi;
  constexpr T& operator()(index_t i) {
#ifdef KINRAD_BOUNDS_CHECK
    if (i < Lo || i > Hi) farray_bounds_failure(0, i, Lo, Hi);
#endif
    return a_[static_cast<std::size_t>(i - Lo)];
  }
  constexpr const T& operator()(index_t i) const {
#ifdef KINRAD_BOUNDS_CHECK
    if (i < Lo || i > Hi) farray_bounds_failure(0, i, Lo, Hi);
#endif
    return a_[static_cast<std::size_t>(i - Lo)];
  }
  static constexpr index_t lbound(int = 1) {
    return Lo;
  }
  static constexpr index_t ubound(int = 1) {
    return Hi;
  }
  static constexpr index_t size() {
    return Hi - Lo + 1;
  }
  constexpr T* data() {
    return a_.data();
  }
  constexpr const T* data() const {
    return a_.data();
  }
  constexpr T* begin() {
    return a_.data();
  }
  constexpr T* end() {
    return a_.data() + size();
  }
  constexpr const T* begin() const {
    return a_.data();
  }
  constexpr const T* end() const {
    return a_.data() + size();
  }
  constexpr void fill(const T& v) {
    a_.fill(v);
  }

 private:
  std::array<T, static_cast<std::size_t>(Hi - Lo + 1)> a_{};
};

// Re-aims a window (indivlocprt, inferparentprt, loglikelihoodprt, indivorder: an FView or a
// pointer) for the length of a scope and puts its old aim back when the scope ends, also when an
// error stop unwinds through it:
//
//   WindowScope loc(v.indivlocprt, v.btindivloc.view());   // aimed at the best configuration
//   ...                                                     // restored at the closing brace
template <class W>
class [[nodiscard]] WindowScope {
 public:
  // Saves the window's aim; the window keeps it until the caller re-aims it.
  explicit WindowScope(W& window) : window_(window), saved_(window) {}
  // Saves the window's aim and aims it at `aim`.
  WindowScope(W& window, const W& aim) : window_(window), saved_(window) { window_ = aim; }
  ~WindowScope() { window_ = saved_; }
  WindowScope(const WindowScope&) = delete;
  WindowScope& operator=(const WindowScope&) = delete;

  // Puts the saved aim back before the scope ends (an early return's state).
  void restore() { window_ = saved_; }

 private:
  W& window_;
  W saved_;
};

}  // namespace kinrad
