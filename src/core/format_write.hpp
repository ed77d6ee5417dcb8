#pragma once
// Formatted WRITE and internal READ statements over the format programs:
//
//   fwrite(out, "(A14, 2I4, I14)", name, a, b, c);       // records to a stream, each + '\n'
//   std::string s = fwrite_string("(ES9.2)", x);         // internal write, records joined
//   IoStatus st = fread_string("(F12.8)", text, x);      // internal read of one record
//
// Items may be integers of any kind (int1 prints as a number), float, double, bool (L
// editing), texts (const char*, std::string, std::string_view, char, FString<N>), and arrays
// expanded element by element in storage order (FArray, FView, FStatic, std::vector,
// std::span). An item that does not match its descriptor (a double given to I) is a
// programming error and throws std::logic_error naming the format. The format "*" writes
// list-directed records.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/edit_format.hpp"
#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/format_program.hpp"
#include "core/io_status.hpp"

namespace kinrad {

// One output statement: items are given one scalar at a time, then finish() ends it. The
// records are appended to `out`, each completed record followed by '\n'.
class FormatWriter {
 public:
  FormatWriter(std::string_view fmt, std::string& out);

  void put_integer(std::int64_t v, int kind_bytes);
  void put_real(double v);
  void put_real(float v);
  void put_logical(bool v);
  void put_text(std::string_view s);

  // Writes what the format holds up to its next data descriptor, a colon or its end, then
  // ends the record unless the format reached "$". Returns true when the record stays open.
  bool finish();

 private:
  const FormatItem& next_data();
  [[noreturn]] void mismatch(const FormatItem& it, const char* item_kind) const;
  void flush_blanks();
  void end_record();
  void list_separator(bool text);

  const FormatProgram& program_;
  FormatCursor cursor_;
  std::string& out_;
  int blanks_ = 0;  // nX not yet written: dropped when the record ends first
  bool dollar_ = false;
  bool first_ = true;       // list-directed: no item written yet
  bool prev_text_ = false;  // list-directed: the last item was a text
};

// One internal read statement on a single record; a record shorter than the fields reads as
// if padded with blanks. After the first error or end, later items are left unchanged.
class FormatReader {
 public:
  FormatReader(std::string_view fmt, std::string_view record);

  IoStatus status() const { return status_; }
  // Each returns true and stores the value when the field was read.
  bool get_integer(std::int64_t& v, std::int64_t lo, std::int64_t hi);
  bool get_real(double& v);
  bool get_real(float& v);
  // A fixed-length text of `len` characters: Aw with w >= len takes the rightmost len
  // characters of the field, a narrower field is padded with blanks; A alone is A`len`.
  bool get_text(char* dst, std::size_t len);
  // A growable text: Aw takes the w characters of the field, A alone the rest of the record.
  bool get_text(std::string& s);

 private:
  const FormatItem* next_data();
  [[noreturn]] void mismatch(const FormatItem& it, const char* item_kind) const;
  std::string_view field(int w);
  template <class R>
  bool get_real_field(R& v);

  const FormatProgram& program_;
  FormatCursor cursor_;
  std::string_view record_;
  std::size_t pos_ = 0;
  IoStatus status_ = IoStatus::ok;
};

namespace detail {

template <class T>
inline constexpr bool always_false = false;

template <class T>
struct ArrayItem : std::false_type {};
template <class T, int R>
struct ArrayItem<FArray<T, R>> : std::true_type {};
template <class T, int R>
struct ArrayItem<FView<T, R>> : std::true_type {};
template <class T, index_t Lo, index_t Hi>
struct ArrayItem<FStatic<T, Lo, Hi>> : std::true_type {};
template <class T, class Alloc>
struct ArrayItem<std::vector<T, Alloc>> : std::true_type {
  static_assert(!std::is_same_v<T, bool>, "a std::vector<bool> cannot be written element-wise");
};
template <class T, std::size_t E>
struct ArrayItem<std::span<T, E>> : std::true_type {};

template <class T>
void write_item(FormatWriter& w, const T& v) {
  if constexpr (std::is_same_v<T, bool>) {
    w.put_logical(v);
  } else if constexpr (std::is_same_v<T, char>) {
    w.put_text(std::string_view(&v, 1));
  } else if constexpr (std::is_integral_v<T>) {
    w.put_integer(static_cast<std::int64_t>(v), static_cast<int>(sizeof(T)));
  } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
    w.put_real(v);
  } else if constexpr (std::is_convertible_v<const T&, std::string_view>) {
    w.put_text(std::string_view(v));
  } else if constexpr (ArrayItem<T>::value) {
    const auto* p = v.data();
    const auto n = static_cast<std::size_t>(v.size());
    for (std::size_t k = 0; k < n; ++k) write_item(w, p[k]);
  } else {
    static_assert(always_false<T>, "fwrite: unsupported item type");
  }
}

template <class T>
void read_item(FormatReader& r, T& v) {
  if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char>) {
    std::int64_t x = 0;
    if (r.get_integer(x, static_cast<std::int64_t>(std::numeric_limits<T>::min()),
                      static_cast<std::int64_t>(std::numeric_limits<T>::max())))
      v = static_cast<T>(x);
  } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
    r.get_real(v);
  } else if constexpr (std::is_same_v<T, std::string>) {
    r.get_text(v);
  } else if constexpr (requires {
                         T::length;
                         v.data();
                       }) {
    r.get_text(v.data(), T::length);  // FString<N>
  } else {
    static_assert(always_false<T>, "fread_string: unsupported item type");
  }
}

// The buffer a stream statement builds its records in, reused from statement to statement.
std::string& statement_buffer();
// Writes the records; standard output is flushed after every statement.
void emit(std::ostream& out, const std::string& records);

}  // namespace detail

template <class... A>
void fwrite(std::ostream& out, std::string_view fmt, const A&... items) {
  std::string& buf = detail::statement_buffer();
  buf.clear();
  FormatWriter w(fmt, buf);
  (detail::write_item(w, items), ...);
  w.finish();
  detail::emit(out, buf);
}

// Internal write: the records joined with '\n', without a final one.
template <class... A>
std::string fwrite_string(std::string_view fmt, const A&... items) {
  std::string s;
  FormatWriter w(fmt, s);
  (detail::write_item(w, items), ...);
  if (!w.finish()) s.pop_back();
  return s;
}

// Internal formatted read of the one record `text` with I, F, E, ES, A and X descriptors.
// A slash or a reversion asks for a second record, which gives IoStatus::end.
template <class... A>
IoStatus fread_string(std::string_view fmt, std::string_view text, A&... items) {
  FormatReader r(fmt, text);
  (detail::read_item(r, items), ...);
  return r.status();
}

}  // namespace kinrad
