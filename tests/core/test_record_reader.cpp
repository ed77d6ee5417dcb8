// The record reader beyond the gfortran table: records and positions, the program's own rule
// for "/" in unquoted text, whole-value std::string items, the token of a failed value,
// internal reads, and the cases where the reader departs from gfortran on purpose. Expected
// values are worked out by hand from the rules in core/record_reader.hpp.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"
#include "core/list_directed.hpp"
#include "core/record_reader.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

std::vector<std::string> all_lines(RecordReader& r) {
  std::vector<std::string> out;
  std::string line;
  while (r.read_line(line) == IoStatus::ok) out.push_back(line);
  return out;
}

TEST(RecordReader, SplitsRecordsAtLineFeeds) {
  struct Row {
    const char* text;
    std::vector<std::string> records;
  };
  const std::vector<Row> rows = {
      {"", {}},
      {"\n", {""}},
      {"a\n\n", {"a", ""}},
      {"a\nb", {"a", "b"}},        // a last line without LF is a record
      {"a\r\nb\r\n", {"a", "b"}},  // CR before LF dropped
      {"a\rb\n", {"a\rb"}},        // a CR elsewhere is data
      {"a\r", {"a\r"}},            // ... also at the very end without LF
      {"\r\n\r\n", {"", ""}},
      {"x y \n", {"x y "}},  // trailing blanks kept
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(std::string(row.text)));
    RecordReader r = RecordReader::from_text(row.text);
    EXPECT_EQ(r.record_count(), static_cast<long>(row.records.size()));
    EXPECT_EQ(all_lines(r), row.records);
  }
}

TEST(RecordReader, RecordNumberBackspaceAndRewind) {
  RecordReader r = RecordReader::from_text("1\n2 3\n4\n5\n");
  EXPECT_EQ(r.record_number(), 1);
  r.backspace();  // nothing before the first record
  EXPECT_EQ(r.record_number(), 1);
  int4 a = 0, b = 0, c = 0;
  EXPECT_EQ(r.read_list(a, b, c), IoStatus::ok);  // records 1 and 2
  EXPECT_EQ(r.record_number(), 3);
  r.backspace();
  std::string line;
  EXPECT_EQ(r.read_line(line), IoStatus::ok);
  EXPECT_EQ(line, "2 3");
  EXPECT_EQ(r.read_list(a), IoStatus::ok);  // record 3
  EXPECT_EQ(a, 4);
  r.rewind();
  EXPECT_EQ(r.record_number(), 1);
  EXPECT_EQ(r.read_list(a), IoStatus::ok);
  EXPECT_EQ(a, 1);
}

// After the end of the file the reader stands past the end-of-file mark: a first backspace
// steps back over the mark (reading still meets the end), a second one returns to the last
// record. Reading again after an end gives end again rather than an error.
TEST(RecordReader, EndOfFileMark) {
  RecordReader r = RecordReader::from_text("1 2\n");
  int4 a = 0, b = 0, c = -1;
  EXPECT_EQ(r.read_list(a, b, c), IoStatus::end);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  EXPECT_EQ(c, -1);
  EXPECT_EQ(r.record_number(), 2);
  EXPECT_EQ(r.read_list(a), IoStatus::end);
  std::string line;
  EXPECT_EQ(r.read_line(line), IoStatus::end);
  r.backspace();
  EXPECT_EQ(r.record_number(), 2);
  EXPECT_EQ(r.read_line(line), IoStatus::end);
  r.backspace();
  r.backspace();
  EXPECT_EQ(r.record_number(), 1);
  EXPECT_EQ(r.read_line(line), IoStatus::ok);
  EXPECT_EQ(line, "1 2");
}

TEST(RecordReader, StatementWithoutItemsPassesOneRecord) {
  RecordReader r = RecordReader::from_text("skip me\n7\n");
  EXPECT_EQ(r.read_list(), IoStatus::ok);
  int4 a = 0;
  EXPECT_EQ(r.read_list(a), IoStatus::ok);
  EXPECT_EQ(a, 7);
  EXPECT_EQ(r.read_list(), IoStatus::end);
}

// The input reader's pattern: read a count, step back, read the count and the list again.
TEST(RecordReader, BackspaceAndReadAgainWithAnArray) {
  RecordReader r = RecordReader::from_text("3 10 20\n30\n0\n");
  int4 n = 0;
  ASSERT_EQ(r.read_list(n), IoStatus::ok);
  ASSERT_EQ(n, 3);
  r.backspace();
  std::vector<int4> members(static_cast<std::size_t>(n));
  ASSERT_EQ(r.read_list(n, members), IoStatus::ok);
  EXPECT_EQ(members, (std::vector<int4>{10, 20, 30}));
  EXPECT_EQ(r.read_list(n), IoStatus::ok);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(r.read_list(n), IoStatus::end);
}

TEST(RecordReader, OpenReadsAFileAndFailsOnAMissingOne) {
  testing_support::TempWorkDir dir("record_reader");
  testing_support::write_text("in.txt", "first line\r\n12, 'a b'\nlast");
  RecordReader r;
  EXPECT_FALSE(r.is_open());
  int4 n = 0;
  EXPECT_EQ(r.read_list(n), IoStatus::error);  // nothing open
  ASSERT_TRUE(r.open("in.txt"));
  std::string line, text;
  EXPECT_EQ(r.read_line(line), IoStatus::ok);
  EXPECT_EQ(line, "first line");
  EXPECT_EQ(r.read_list(n, text), IoStatus::ok);
  EXPECT_EQ(n, 12);
  EXPECT_EQ(text, "a b");
  EXPECT_EQ(r.read_line(line), IoStatus::ok);
  EXPECT_EQ(line, "last");
  EXPECT_FALSE(r.open("missing.txt"));
  EXPECT_FALSE(r.is_open());
  EXPECT_EQ(r.read_line(line), IoStatus::error);
}

// Unquoted text ends at a blank, a comma or the record end, not at a slash, so paths survive.
// A slash followed by a separator (or the record end) still ends the statement.
TEST(RecordReader, SlashInsideUnquotedText) {
  {
    RecordReader r = RecordReader::from_text("out/run1 x\n");
    FString<20> a = "init", b = "init";
    EXPECT_EQ(r.read_list(a, b), IoStatus::ok);
    EXPECT_EQ(a, "out/run1");
    EXPECT_EQ(b, "x");
  }
  {
    RecordReader r = RecordReader::from_text("/home/u/data/run 12 a/ 3/4\n");
    std::string path, tail;
    int4 n = 0, m = -1, k = -1;
    EXPECT_EQ(r.read_list(path, n, tail, m, k), IoStatus::ok);
    EXPECT_EQ(path, "/home/u/data/run");
    EXPECT_EQ(n, 12);
    EXPECT_EQ(tail, "a/");
    EXPECT_EQ(m, 3);  // a slash still ends a number and the statement
    EXPECT_EQ(k, -1);
  }
  {
    RecordReader r = RecordReader::from_text("ab / cd\nnext\n");
    FString<8> a = "init", b = "init";
    EXPECT_EQ(r.read_list(a, b), IoStatus::ok);
    EXPECT_EQ(a, "ab");
    EXPECT_EQ(b, "init");
    std::string line;
    EXPECT_EQ(r.read_line(line), IoStatus::ok);
    EXPECT_EQ(line, "next");
  }
  {
    FString<8> a = "init", b = "init";
    EXPECT_EQ(read_list_string("2*a/b", a, b), IoStatus::ok);
    EXPECT_EQ(a, "a/b");
    EXPECT_EQ(b, "a/b");
    EXPECT_EQ(read_list_string("x,/", a, b), IoStatus::ok);
    EXPECT_EQ(a, "x");
    EXPECT_EQ(b, "a/b");
    EXPECT_EQ(read_list_string("2*/ y", a, b), IoStatus::ok);  // two nulls, then the end
    EXPECT_EQ(a, "x");
    EXPECT_EQ(read_list_string("//host/x /", a, b), IoStatus::ok);
    EXPECT_EQ(a, "//host/x");
    EXPECT_EQ(b, "a/b");
  }
}

TEST(RecordReader, StdStringTakesTheWholeValue) {
  RecordReader r =
      RecordReader::from_text("abcdefghijklmnopqrstuvwxyz0123456789 'x y ' ,,\n\"\" 'q''s'\n");
  std::string a, b, c = "kept", d = "old", e;
  EXPECT_EQ(r.read_list(a, b, c, d, e), IoStatus::ok);
  EXPECT_EQ(a, "abcdefghijklmnopqrstuvwxyz0123456789");
  EXPECT_EQ(b, "x y ");
  EXPECT_EQ(c, "kept");  // null
  EXPECT_EQ(d, "");
  EXPECT_EQ(e, "q's");
}

TEST(RecordReader, LastTokenNamesTheFailedValue) {
  struct Row {
    const char* text;
    IoStatus status;
    const char* token;
    const char* record_again;  // the record a backspace brings back
  };
  const std::vector<Row> rows = {
      {"1 12x 3\nnext\n", IoStatus::error, "12x", "1 12x 3"},
      {"1 2\n1.0e0,3\n", IoStatus::error, "1.0e0", "1.0e0,3"},
      {"4 5 6 7\n", IoStatus::ok, "6", "4 5 6 7"},
      {"2*9 8\n", IoStatus::ok, "8", "2*9 8"},
      {"3*9\n", IoStatus::ok, "3*9", "3*9"},
      {"3*1.5\n", IoStatus::error, "3*1.5", "3*1.5"},
      {"5 6/\n", IoStatus::ok, "6", "5 6/"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    RecordReader r = RecordReader::from_text(row.text);
    int4 a = 0, b = 0, c = 0;
    EXPECT_EQ(r.read_list(a, b, c), row.status);
    EXPECT_EQ(r.last_token(), row.token);
    r.backspace();
    std::string line;
    EXPECT_EQ(r.read_line(line), IoStatus::ok);
    EXPECT_EQ(line, row.record_again);
  }
  RecordReader r = RecordReader::from_text("'a  b' x\n");
  std::string t;
  EXPECT_EQ(r.read_list(t), IoStatus::ok);
  EXPECT_EQ(r.last_token(), "a  b");
}

// Where gfortran leaves the file at odd places after some errors, or accepts a semicolon as
// a separator, the reader keeps to one rule: the value is an error, the item is unchanged,
// and the next statement starts at the record after the offending one.
TEST(RecordReader, ErrorsDepartingFromGfortran) {
  struct Row {
    const char* text;
    const char* token;
  };
  const std::vector<Row> rows = {
      {"0*4 1 2\nnext\n", "0*4"},                      // a zero repeat count
      {"99999999999*1 2 3\nnext\n", "99999999999*1"},  // a repeat count beyond int4
      {".\nsecond\nnext\n", "."},                      // a point without digits
      {"-.e2\nsecond\nnext\n", "-.e2"},
      {"1;2 3\nnext\n", "1;2"},  // a semicolon is no separator
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    RecordReader r = RecordReader::from_text(row.text);
    real8 a = -99, b = -99, c = -99;
    EXPECT_EQ(r.read_list(a, b, c), IoStatus::error);
    EXPECT_EQ(a, -99);
    EXPECT_EQ(r.last_token(), row.token);
    EXPECT_EQ(r.record_number(), 2);
  }
  RecordReader r = RecordReader::from_text("'ab'cd ef\nnext\n");
  FString<8> s = "init";
  EXPECT_EQ(r.read_list(s), IoStatus::error);  // text glued to a closing quote
  EXPECT_EQ(s, "init");
  EXPECT_EQ(r.last_token(), "'ab'cd");
  std::string line;
  EXPECT_EQ(r.read_line(line), IoStatus::ok);
  EXPECT_EQ(line, "next");
  FString<8> t, u;
  EXPECT_EQ(read_list_string("a;b c", t, u), IoStatus::ok);
  EXPECT_EQ(t, "a;b");
  EXPECT_EQ(u, "c");
}

// Strict statements, for input that must give every item a value.
TEST(RecordReader, StrictStatementRefusesNullsAndSlashes) {
  struct Row {
    const char* text;
    IoStatus status;
    int4 a, b, c;  // from -9 each
    const char* token;
  };
  const std::vector<Row> rows = {
      {"1 2 3\nnext\n", IoStatus::ok, 1, 2, 3, "3"},
      {"1 2 3 / x\nnext\n", IoStatus::ok, 1, 2, 3, "3"},  // the "/" comes after the items
      {"1,,3\nnext\n", IoStatus::error, 1, -9, -9, ""},
      {",2,3\nnext\n", IoStatus::error, -9, -9, -9, ""},
      {"1 2*\nnext\n", IoStatus::error, 1, -9, -9, "2*"},
      {"1 / 3\nnext\n", IoStatus::error, 1, -9, -9, "/"},
      {"1\n2,\n,3\nnext\n", IoStatus::error, 1, 2, -9, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    RecordReader r = RecordReader::from_text(row.text);
    int4 a = -9, b = -9, c = -9;
    EXPECT_EQ(r.read_list_strict(a, b, c), row.status);
    EXPECT_EQ(a, row.a);
    EXPECT_EQ(b, row.b);
    EXPECT_EQ(c, row.c);
    EXPECT_EQ(r.last_token(), row.token);
    std::string line;
    EXPECT_EQ(r.read_line(line), IoStatus::ok);  // the record after the one it stopped in
    EXPECT_EQ(line, "next");
  }
  RecordReader r = RecordReader::from_text("out/run1 5\n1\n");
  FString<20> path;
  int4 n = 0;
  EXPECT_EQ(r.read_list_strict(path, n), IoStatus::ok);
  EXPECT_EQ(path, "out/run1");
  EXPECT_EQ(r.read_list_strict(n, n), IoStatus::end);
}

// A CR that does not end a record separates values like a blank, but stays in "(A)" reads.
TEST(RecordReader, LoneCarriageReturn) {
  RecordReader r = RecordReader::from_text("1\r2 3\n");
  int4 a = 0, b = 0, c = 0;
  EXPECT_EQ(r.read_list(a, b, c), IoStatus::ok);
  EXPECT_EQ(a * 100 + b * 10 + c, 123);
  r.backspace();
  std::string line;
  EXPECT_EQ(r.read_line(line), IoStatus::ok);
  EXPECT_EQ(line, "1\r2 3");
}

TEST(RecordReader, ArraysTakeValuesInStorageOrder) {
  RecordReader r = RecordReader::from_text("1 2 3\n4 5 6\nT F\n7 8\n");
  FArray<int4, 2> a(Dim(0, 1), Dim(3));  // (0:1, 1:3)
  ASSERT_EQ(r.read_list(a), IoStatus::ok);
  EXPECT_EQ(a(0, 1), 1);
  EXPECT_EQ(a(1, 1), 2);
  EXPECT_EQ(a(0, 2), 3);
  EXPECT_EQ(a(1, 3), 6);
  std::vector<bool> flags(2, false);
  ASSERT_EQ(r.read_list(flags), IoStatus::ok);
  EXPECT_EQ(flags, (std::vector<bool>{true, false}));
  int2 pair[2] = {0, 0};
  int2 tail = -1;
  ASSERT_EQ(r.read_list(std::span<int2>(pair), tail), IoStatus::end);
  EXPECT_EQ(pair[0], 7);
  EXPECT_EQ(pair[1], 8);
  EXPECT_EQ(tail, -1);
  FArray<real8, 1> unallocated;  // no elements: takes no value
  r.rewind();
  int4 first = 0;
  EXPECT_EQ(r.read_list(unallocated, first), IoStatus::ok);
  EXPECT_EQ(first, 1);
}

TEST(ReadListString, OneRecordInternalRead) {
  int4 n = 0;
  real8 x = 0;
  std::string s;
  EXPECT_EQ(read_list_string("12 3.5D0 out/a.txt", n, x, s), IoStatus::ok);
  EXPECT_EQ(n, 12);
  EXPECT_EQ(x, 3.5);
  EXPECT_EQ(s, "out/a.txt");
  EXPECT_EQ(read_list_string("7", n, x), IoStatus::end);  // no second record to go on with
  EXPECT_EQ(n, 7);
  EXPECT_EQ(x, 3.5);
  EXPECT_EQ(read_list_string("1x0", n), IoStatus::error);
  EXPECT_EQ(n, 7);
  EXPECT_EQ(read_list_string("", n), IoStatus::end);
  EXPECT_EQ(read_list_string(",5", n, x), IoStatus::ok);
  EXPECT_EQ(n, 7);
  EXPECT_EQ(x, 5.0);
}

// Conversions beyond the table: the rewritten forms through the heap buffer, and the range
// of the narrow kinds.
TEST(ListDirectedConversion, RealsAndIntegers) {
  using list_directed::parse_integer;
  using list_directed::parse_real;
  double d = 0;
  const std::string long_d = "1" + std::string(150, '0') + "d-150";  // exactly 1
  EXPECT_TRUE(parse_real(long_d, d));
  EXPECT_EQ(d, 1.0);
  const std::string long_plus = "+0." + std::string(200, '0') + "25+201";  // 2.5
  EXPECT_TRUE(parse_real(long_plus, d));
  EXPECT_EQ(d, 2.5);
  EXPECT_TRUE(parse_real("1d400", d));
  EXPECT_EQ(d, std::numeric_limits<double>::infinity());
  EXPECT_TRUE(parse_real("-1q-400", d));
  EXPECT_EQ(d, 0.0);
  EXPECT_TRUE(std::signbit(d));
  EXPECT_TRUE(parse_real("0.0e99999999999999999999", d));
  EXPECT_EQ(d, 0.0);
  float f = 0;
  EXPECT_TRUE(parse_real("1.5+2", f));
  EXPECT_EQ(f, 150.0f);
  EXPECT_TRUE(parse_real("-1D39", f));
  EXPECT_EQ(f, -std::numeric_limits<float>::infinity());
  EXPECT_FALSE(parse_real("", d));
  EXPECT_FALSE(parse_real("nan(", d));
  EXPECT_FALSE(parse_real("1.5e2e", d));
  unsigned char u = 0;
  EXPECT_TRUE(parse_integer("255", u));
  EXPECT_EQ(u, 255);
  EXPECT_FALSE(parse_integer("256", u));
  EXPECT_FALSE(parse_integer("-1", u));
  int8 big = 0;
  EXPECT_FALSE(parse_integer("+-5", big));
  EXPECT_FALSE(parse_integer("", big));
  EXPECT_TRUE(parse_integer("+007", big));
  EXPECT_EQ(big, 7);
}

}  // namespace
}  // namespace kinrad

namespace kinrad {
namespace {

TEST(RecordReader, DirectoryOrMissingFileDoesNotOpen) {
  RecordReader r;
  EXPECT_FALSE(r.open(std::filesystem::temp_directory_path().string()));
  EXPECT_FALSE(r.open("no such file here.txt"));
  EXPECT_FALSE(r.is_open());
}

}  // namespace
}  // namespace kinrad
