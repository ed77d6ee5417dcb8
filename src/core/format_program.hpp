#pragma once
// Format programs: a Fortran format text such as "(A14, 2I4, I14, 2(ES21.12, 10I9))" parsed
// once into a flat list of items, and a cursor that walks the list in execution order
// (repeat counts, nested groups, and reversion to the last top-level group when the final
// parenthesis is reached with items left). Blanks outside quotes are insignificant, letters
// may be of either case, and commas may be left out between items. A bad format text is a
// programming error and throws std::logic_error.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kinrad {

enum class FormatOp : std::uint8_t {
  i,          // Iw, Iw.m
  f,          // Fw.d
  e,          // Ew.d, Ew.dEe
  es,         // ESw.d, ESw.dEe
  a,          // A, Aw
  l,          // Lw
  x,          // nX: n blanks, written only when something follows in the record
  literal,    // 'text' or "text"
  slash,      // r/: r record ends
  colon,      // stop when no items remain
  dollar,     // no record end at the end of the statement
  group,      // r( ... ): a group repeated r times
  group_end,  // the ) of a group
  end         // the final ): end of the format
};

struct FormatItem {
  FormatOp op = FormatOp::end;
  int repeat = 1;  // data descriptors, slash and group
  int w = -1;      // field width (A without width: -1); the count n of nX
  int d = -1;      // digits after the point (F, E, ES) or minimum digits (I); -1 when absent
  int e = -1;      // exponent digits (E, ES); -1 when absent
  std::uint32_t link = 0;  // group: index of its group_end; group_end: index of its group
  std::uint32_t text_pos = 0, text_len = 0;  // literal: its text in the program's storage

  constexpr bool is_data() const { return op <= FormatOp::l; }
};

class FormatProgram {
 public:
  // Deepest nesting of groups inside the outer parentheses.
  static constexpr int kMaxDepth = 16;

  explicit FormatProgram(std::string_view text);

  std::string_view text() const { return text_; }
  // The format "*": list-directed output, no items.
  bool list_directed() const { return list_directed_; }
  const std::vector<FormatItem>& items() const { return items_; }
  std::string_view literal(const FormatItem& it) const {
    return std::string_view(literals_).substr(it.text_pos, it.text_len);
  }
  // Where the cursor resumes after the final parenthesis: the last top-level group, or the
  // first item when there is none.
  std::uint32_t reversion_point() const { return reversion_; }
  // Whether the items from the reversion point to the end hold a data descriptor; without
  // one, items left at the end could never be written.
  bool reversion_has_data() const { return reversion_has_data_; }

 private:
  std::string text_;
  std::string literals_;
  std::vector<FormatItem> items_;
  std::uint32_t reversion_ = 0;
  bool reversion_has_data_ = false;
  bool list_directed_ = false;
};

// The parsed program of a format text, parsed on first use and kept for the life of the
// thread, so formats built at run time are parsed once per distinct text too.
const FormatProgram& format_program(std::string_view text);

// Walks a program in execution order.
class FormatCursor {
 public:
  explicit FormatCursor(const FormatProgram& p) : p_(&p) {}

  // The next item to act on: a data descriptor (once per repetition), a literal, nX, a slash
  // (once per repetition), a colon, a dollar, or `end` at the final parenthesis, after which
  // the cursor stands at the reversion point. Groups are entered and repeated here.
  const FormatItem& next() {
    const std::vector<FormatItem>& items = p_->items();
    for (;;) {
      const FormatItem& it = items[pos_];
      switch (it.op) {
        case FormatOp::group:
          count_[static_cast<std::size_t>(depth_++)] = it.repeat;
          ++pos_;
          break;
        case FormatOp::group_end:
          if (--count_[static_cast<std::size_t>(depth_ - 1)] > 0) {
            pos_ = it.link + 1;
          } else {
            --depth_;
            ++pos_;
          }
          break;
        case FormatOp::end:
          pos_ = p_->reversion_point();
          depth_ = 0;
          rep_ = 0;
          return it;
        default:
          if (it.op == FormatOp::slash || it.is_data()) {
            if (++rep_ >= it.repeat) {
              rep_ = 0;
              ++pos_;
            }
          } else {
            ++pos_;
          }
          return it;
      }
    }
  }

 private:
  const FormatProgram* p_;
  std::uint32_t pos_ = 0;
  int rep_ = 0;  // repetitions of the current item already given
  int depth_ = 0;
  std::array<int, FormatProgram::kMaxDepth> count_{};  // passes left of each open group
};

}  // namespace kinrad
