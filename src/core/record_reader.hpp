#pragma once
// Sequential reading of a text file as records (lines), with list-directed READ statements
// that report a status instead of stopping the program.
//
// Records: LF ends a record and a CR right before it is dropped; a last line without LF is a
// record; an empty file has none. The whole file is read when it is opened, so moving back
// over records (BACKSPACE) costs nothing.
//
// A list-directed statement starts at the next record and reads values for its items in
// turn, continuing over as many records as it needs; when it is done the rest of the record
// it stopped in is passed over. Values are separated by blanks, tabs, commas and record ends,
// at most one comma per separator; a second comma (or a comma first in the statement) gives a
// null value, which leaves its item unchanged. "r*c" stands for r copies of c and "r*" for r
// null values. A "/" ends the statement and the remaining items keep their values. Quoted
// text ('...' or "...", a doubled quote standing for one) may hold blanks, commas and
// slashes and may run over record ends, which add nothing to it. Unquoted text ends at a
// blank, a comma or the record end but not at a slash, so that paths such as "out/run1" are
// read whole; a "/" followed by a blank, a comma or the record end still ends the statement.
//
// Status: ok when every item got its value or null or a "/" ended the statement; end when the
// file ended first (the items read so far keep their new values); error when a value is no
// constant of its item's type. After an error the reader stands at the record after the one
// holding the offending value, so one backspace brings that record back; after an end it
// stands past the end-of-file mark, and the first backspace only steps back over the mark
// (reading on from there gives end again).
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/io_item_traits.hpp"
#include "core/io_status.hpp"
#include "core/list_directed.hpp"

namespace kinrad {

// One record: characters [begin, end) of the text, without its CR and LF.
struct RecordSpan {
  std::size_t begin = 0;
  std::size_t end = 0;
};

namespace detail {

// The value scanner of one list-directed statement over a sequence of records.
class ListScanner {
 public:
  enum class Next {
    value,  // a value for the item: text(), quoted()
    null,   // a null value: the item keeps its value
    stop,   // the statement is over: a "/", the end of the file or an error (status())
  };

  // Starts a statement at record `first` (< nrec). `scratch` holds quoted values that must be
  // rebuilt (doubled quotes, record ends inside). A strict statement takes a null value or a
  // "/" met before its items are all read as an error.
  void start(const char* base, const RecordSpan* recs, std::size_t nrec, std::size_t first,
             std::string* scratch, bool strict = false);
  // The next value for an item; text_item says that an unquoted value may hold "/".
  Next next(bool text_item);
  // The current value could not be converted to its item's type.
  void fail() { status_ = IoStatus::error; }

  std::string_view text() const { return value_; }
  bool quoted() const { return quoted_; }
  IoStatus status() const { return status_; }
  // The record the scanner stands in (0-based).
  std::size_t record() const { return rec_; }
  // The last value met, as written (with its repeat count), or a quoted value's text.
  std::string_view token() const { return token_; }

 private:
  bool load_record(std::size_t r);
  bool at_eor() const { return pos_ >= end_; }
  char peek() const { return base_[pos_]; }
  Next scan(bool text_item);
  Next read_value(bool text_item);
  bool read_quoted(char quote, std::size_t token_begin);
  bool slash_ends(bool text_item) const;

  const char* base_ = nullptr;
  const RecordSpan* recs_ = nullptr;
  std::size_t nrec_ = 0;
  std::size_t rec_ = 0;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  std::string* scratch_ = nullptr;
  bool comma_seen_ = true;  // the separator being crossed already holds its comma
  bool at_start_ = true;    // no value nor null yet in this statement
  long repeat_left_ = 0;    // further copies of the current value (or of a null)
  bool repeat_null_ = false;
  std::string_view value_;
  std::string_view token_;
  bool quoted_ = false;
  bool done_ = false;  // a "/", the end of the file or an error has ended the statement
  bool strict_ = false;
  IoStatus status_ = IoStatus::ok;
};

template <class T>
inline constexpr bool is_list_text = std::is_same_v<T, std::string> || is_fstring<T>;

template <class T>
bool list_convert(const ListScanner& s, T& x) {
  if constexpr (std::is_same_v<T, std::string>) {
    x.assign(s.text());
    return true;
  } else if constexpr (is_list_text<T>) {
    x = s.text();
    return true;
  } else if constexpr (std::is_same_v<T, char>) {
    static_assert(sizeof(T) == 0, "a single character is read as FString<1>");
    return false;
  } else if constexpr (std::is_same_v<T, bool>) {
    return !s.quoted() && list_directed::parse_logical(s.text(), x);
  } else if constexpr (std::is_integral_v<T>) {
    return !s.quoted() && list_directed::parse_integer(s.text(), x);
  } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
    return !s.quoted() && list_directed::parse_real(s.text(), x);
  } else {
    static_assert(sizeof(T) == 0, "no list-directed input for this item type");
    return false;
  }
}

// Reads one scalar item; false when the statement is over.
template <class T>
bool list_scalar(ListScanner& s, T& x) {
  static_assert(!std::is_const_v<T>, "a list-directed item must be writable");
  switch (s.next(is_list_text<T>)) {
    case ListScanner::Next::null:
      return true;
    case ListScanner::Next::value:
      if (list_convert(s, x)) return true;
      s.fail();
      return false;
    case ListScanner::Next::stop:
      break;
  }
  return false;
}

// Reads one item of the list; an array takes one value per element in storage order.
template <class T>
bool list_item(ListScanner& s, T& x) {
  if constexpr (is_element_array<T>) {
    if constexpr (std::is_same_v<T, std::vector<bool>>) {
      for (std::size_t i = 0; i < x.size(); ++i) {
        bool b = x[i];
        if (!list_scalar(s, b)) return false;
        x[i] = b;
      }
    } else {
      for (auto& e : x)
        if (!list_scalar(s, e)) return false;
    }
    return true;
  } else {
    return list_scalar(s, x);
  }
}

// Reads the items in turn; false as soon as the statement is over.
template <class... A>
bool list_items(ListScanner& s, A&&... items) {
  static_assert(((std::is_lvalue_reference_v<A> || is_span<std::remove_cvref_t<A>>)&&...),
                "list-directed items are variables (or spans over them)");
  return (list_item(s, items) && ...);
}

}  // namespace detail

class RecordReader {
 public:
  RecordReader() = default;

  // Reads the whole file; false (and no records) when it cannot be opened or read.
  bool open(const std::string& path);
  // A reader over the given text, for tests and internal files.
  static RecordReader from_text(std::string text);
  bool is_open() const { return open_; }
  void close();

  // One list-directed READ statement. Items: integers of every width, float, double, bool,
  // std::string (takes the whole value), FString<N> (cut or blank-padded), and FArray,
  // std::vector (its current size) and std::span, one value per element.
  template <class... A>
  IoStatus read_list(A&&... items) {
    return read_statement(false, std::forward<A>(items)...);
  }
  // The same statement for input that must give every item a value: a null value, or a "/"
  // before the items are all read, is an error (the item is left unchanged).
  template <class... A>
  IoStatus read_list_strict(A&&... items) {
    return read_statement(true, std::forward<A>(items)...);
  }

  // One list-directed statement read in parts, for lists whose length is itself read by the
  // statement (an identifier, a count n and n further values): begin_list, then list_part as
  // often as needed, then end_list, which gives the status of the whole statement. list_part
  // is false once the statement is over (a "/", the end of the file or an error).
  bool begin_list(bool strict) {
    in_list_ = begin_statement(strict);
    return in_list_;
  }
  template <class... A>
  bool list_part(A&&... items) {
    return in_list_ && detail::list_items(scanner_, std::forward<A>(items)...);
  }
  IoStatus end_list() {
    if (!in_list_) return past_end_ ? IoStatus::end : IoStatus::error;
    in_list_ = false;
    return end_statement();
  }

  // How many list-directed values the records from the next one on can supply, counted up to
  // `limit`: an upper bound (a repeat count r*c counts r values, quoted text may count more
  // than once, null values not at all), so that a declared number of values above it cannot
  // be read from the rest of the file.
  long long values_left(long long limit) const;

  // A formatted "(A)" read of one whole record.
  IoStatus read_line(std::string& line);

  // Back one record (nothing at the first record); after an end of file, back over the mark.
  void backspace();
  void rewind();
  // 1-based number of the next record to read (the record count plus one at the end).
  long record_number() const { return static_cast<long>(next_) + 1; }
  long record_count() const { return static_cast<long>(recs_.size()); }
  // The value that made the last statement fail, or else the last value it read.
  const std::string& last_token() const { return last_token_; }

 private:
  template <class... A>
  IoStatus read_statement(bool strict, A&&... items) {
    if (!begin_statement(strict)) return past_end_ ? IoStatus::end : IoStatus::error;
    detail::list_items(scanner_, std::forward<A>(items)...);
    return end_statement();
  }
  void index_records();
  bool begin_statement(bool strict);
  IoStatus end_statement();

  std::string text_;
  std::vector<RecordSpan> recs_;
  std::size_t next_ = 0;
  bool past_end_ = false;
  bool open_ = false;
  detail::ListScanner scanner_;
  std::string scratch_;
  std::string last_token_;
  bool in_list_ = false;
};

// A list-directed read from one text, taken as a single record (an internal file): reading
// past its end gives the status end.
template <class... A>
IoStatus read_list_string(std::string_view text, A&&... items) {
  const RecordSpan rec{0, text.size()};
  std::string scratch;
  detail::ListScanner s;
  s.start(text.data(), &rec, 1, 0, &scratch);
  detail::list_items(s, std::forward<A>(items)...);
  return s.status();
}

}  // namespace kinrad
