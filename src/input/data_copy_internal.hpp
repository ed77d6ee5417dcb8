#pragma once
// The data copy kept under the output stem, described once and used both to write it and to
// compare it with the current data. The copy is a text file (stem + ".data") of formatted
// statements and an unformatted file (stem + ".GtypeData") of records; walk_data_copy hands
// every statement and record of the current data, in file order, to the writer or the
// comparer, so the two can never disagree on what the copy holds.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/kinds.hpp"

namespace kinrad::datacopy {

// One value of a text statement: an integer, or a real compared with a tolerance. A real
// that is written as the integer i (a rate of 0 in a group of error-free loci) is still
// compared as a real.
struct TextValue {
  bool real = false;
  int4 i = 0;
  real8 r = 0.0;
  bool integer_text = false;
};

// One write statement of the text copy. With an edit format the values are written by it;
// without one they are written as decimal texts, either each followed by "," and perline to a
// line (perline > 0), or all on one line separated by "," (perline 0).
struct TextStatement {
  std::string_view format;
  int4 perline = 0;
  std::vector<TextValue> values;

  void start(std::string_view fmt, int4 per = 0) {
    format = fmt;
    perline = per;
    values.clear();
  }
  void add(int4 i) { values.push_back(TextValue{false, i, 0.0}); }
  void add_real(real8 r) { values.push_back(TextValue{true, 0, r}); }
  void add_real_as_integer(int4 i) {
    values.push_back(TextValue{true, i, static_cast<real8>(i), true});
  }
};

// One unformatted record. Identifier records hold 20-character fields that are compared
// without their leading blanks; other records are compared byte for byte.
struct BinaryRecord {
  bool identifiers = false;
  std::string bytes;
};

// Receivers of the copy; either returns false to end the walk at once.
struct CopySink {
  std::function<bool(const TextStatement&)> text;
  std::function<bool(const BinaryRecord&)> record;
};

// Walks the copy of the current data (module variables) in file order. Returns false when a
// receiver ended the walk.
bool walk_data_copy(const CopySink& sink);

// The text of a statement as written, records joined with '\n' and ended by one.
std::string statement_text(const TextStatement& t);

}  // namespace kinrad::datacopy
