#pragma once
// Unformatted sequential files in the framing gfortran uses, so that the caches and data
// copies stay readable by either program: each record is its bytes between two 4-byte
// little-endian lengths. A record of more than 2147483639 bytes is split into subrecords;
// a subrecord's leading length is negative when another subrecord follows, and its trailing
// length is negative when one precedes it.
//
// Items are written as their raw bytes: arithmetic scalars in the machine's (little-endian)
// order, FString<N> as its N characters, std::string as its characters, and FArray,
// std::vector and std::span element by element in storage order. bool is refused, because a
// Fortran logical takes four bytes.
#include <bit>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/io_item_traits.hpp"
#include "core/io_status.hpp"

namespace kinrad {

static_assert(std::endian::native == std::endian::little,
              "unformatted files are written in little-endian byte order");

namespace detail {

template <class T>
inline constexpr bool is_raw_scalar = std::is_arithmetic_v<T> && !std::is_same_v<T, bool>;

template <class T>
void put_raw(std::vector<char>& buf, const T& x) {
  if constexpr (is_raw_scalar<T>) {
    const char* p = reinterpret_cast<const char*>(&x);
    buf.insert(buf.end(), p, p + sizeof(T));
  } else if constexpr (is_fstring<T>) {
    buf.insert(buf.end(), x.data(), x.data() + T::length);
  } else if constexpr (std::is_same_v<T, std::string>) {
    buf.insert(buf.end(), x.begin(), x.end());
  } else if constexpr (is_element_array<T>) {
    using E = std::remove_cv_t<std::remove_reference_t<decltype(*x.data())>>;
    static_assert(!std::is_same_v<E, bool>, "no unformatted bool: a logical takes 4 bytes");
    if constexpr (is_raw_scalar<E>) {
      const std::size_t n = static_cast<std::size_t>(x.size());
      if (n == 0) return;
      const char* p = reinterpret_cast<const char*>(x.data());
      buf.insert(buf.end(), p, p + n * sizeof(E));
    } else {
      for (const auto& e : x) put_raw(buf, e);
    }
  } else {
    static_assert(sizeof(T) == 0, "no unformatted output for this item type");
  }
}

// Takes the item's bytes from rec at `at`; false when the record holds too few.
template <class T>
bool get_raw(const std::vector<char>& rec, std::size_t& at, T& x) {
  auto take = [&](void* dst, std::size_t n) {
    if (rec.size() - at < n) return false;
    if (n > 0) std::memcpy(dst, rec.data() + at, n);
    at += n;
    return true;
  };
  static_assert(!std::is_const_v<T>, "an unformatted input item must be writable");
  if constexpr (is_raw_scalar<T>) {
    return take(&x, sizeof(T));
  } else if constexpr (is_fstring<T>) {
    return take(x.data(), T::length);
  } else if constexpr (std::is_same_v<T, std::string>) {
    return take(x.data(), x.size());
  } else if constexpr (is_element_array<T>) {
    using E = std::remove_reference_t<decltype(*x.data())>;
    static_assert(!std::is_const_v<E>, "an unformatted input item must be writable");
    static_assert(!std::is_same_v<E, bool>, "no unformatted bool: a logical takes 4 bytes");
    if constexpr (is_raw_scalar<E>) {
      return take(x.data(), static_cast<std::size_t>(x.size()) * sizeof(E));
    } else {
      for (auto& e : x)
        if (!get_raw(rec, at, e)) return false;
      return true;
    }
  } else {
    static_assert(sizeof(T) == 0, "no unformatted input for this item type");
    return false;
  }
}

template <class T>
inline constexpr bool is_span_item = false;
template <class T, std::size_t E>
inline constexpr bool is_span_item<std::span<T, E>> = true;

}  // namespace detail

class UnformattedWriter {
 public:
  // The largest subrecord gfortran writes with 4-byte lengths. A smaller limit splits records
  // sooner (tests use it to check the subrecords without writing gigabytes).
  static constexpr std::size_t default_max_subrecord = 2147483639;

  explicit UnformattedWriter(std::size_t max_subrecord = default_max_subrecord)
      : max_subrecord_(max_subrecord > 0 ? max_subrecord : 1) {}
  ~UnformattedWriter() { close(); }
  UnformattedWriter(const UnformattedWriter&) = delete;
  UnformattedWriter& operator=(const UnformattedWriter&) = delete;

  // Creates or replaces the file; false when it cannot be opened.
  bool open(const std::string& path);

  // One record holding the items' bytes in order; no items give an empty record.
  template <class... A>
  void write_record(const A&... items) {
    buf_.clear();
    (detail::put_raw(buf_, items), ...);
    put_record();
  }

  // No write has failed since the file was opened.
  bool good() const { return good_; }
  bool is_open() const { return f_ != nullptr; }
  // Closes the file; true when every write, and the close itself, succeeded.
  bool close();

 private:
  void put_record();
  void put_marker(long long n);

  std::FILE* f_ = nullptr;
  bool good_ = false;
  std::size_t max_subrecord_;
  std::vector<char> buf_;
};

class UnformattedReader {
 public:
  UnformattedReader() = default;
  ~UnformattedReader() { close(); }
  UnformattedReader(const UnformattedReader&) = delete;
  UnformattedReader& operator=(const UnformattedReader&) = delete;

  bool open(const std::string& path);
  bool is_open() const { return f_ != nullptr; }
  void close();
  void rewind();

  // Reads the next record into the items. ok also when the record holds more bytes than the
  // items take (the rest is passed over); error when it holds fewer, when its framing is
  // broken (lengths that disagree, a file ending inside the record) or nothing is open; end
  // when no record is left.
  template <class... A>
  IoStatus read_record(A&&... items) {
    static_assert(
        ((std::is_lvalue_reference_v<A> || detail::is_span_item<std::remove_cvref_t<A>>)&&...),
        "unformatted input items are variables (or spans over them)");
    const IoStatus st = load_record();
    if (st != IoStatus::ok) return st;
    std::size_t at = 0;
    const bool fits = (detail::get_raw(rec_, at, items) && ...);
    (void)at;  // no items: an empty statement that passes one record
    return fits ? IoStatus::ok : IoStatus::error;
  }

  // Bytes of the last record read (all its subrecords joined).
  std::size_t record_length() const { return rec_.size(); }

 private:
  IoStatus load_record();

  std::FILE* f_ = nullptr;
  std::size_t size_ = 0;  // bytes in the file
  std::size_t pos_ = 0;   // bytes read so far
  std::vector<char> rec_;
};

}  // namespace kinrad
