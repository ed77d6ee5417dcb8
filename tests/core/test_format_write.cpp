// Statements over format programs: the item types fwrite accepts, records on a stream, the
// programming errors (bad formats, items that do not match their descriptors) and the
// internal read. Expected texts are derived by hand from the editing rules; the broad
// comparison with gfortran lives in test_format_table.cpp.
#include <gtest/gtest.h>

#include <array>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/format_program.hpp"
#include "core/format_write.hpp"
#include "core/kinds.hpp"

namespace kinrad {
namespace {

TEST(FormatWrite, ScalarItemTypes) {
  EXPECT_EQ(fwrite_string("(I4)", int1{-5}), "  -5");  // a number, not a character
  EXPECT_EQ(fwrite_string("(2I3)", int2{7}, int8{-12}), "  7-12");
  EXPECT_EQ(fwrite_string("(I3)", 42u), " 42");
  EXPECT_EQ(fwrite_string("(A,A)", 'x', 'y'), "xy");
  EXPECT_EQ(fwrite_string("(A)", FString<5>("ab")), "ab   ");  // the full length
  EXPECT_EQ(fwrite_string("(A3)", FString<5>("ab")), "ab ");
  const std::string s = "str";
  const char* p = "ptr";
  EXPECT_EQ(fwrite_string("(4A)", s, std::string_view("view"), p, "lit"), "strviewptrlit");
  EXPECT_EQ(fwrite_string("(L2)", true), " T");
  EXPECT_EQ(fwrite_string("(F4.1,F4.1)", 0.25f, 0.25), " 0.2 0.2");  // exact ties, to even
}

TEST(FormatWrite, ArraysExpandInStorageOrder) {
  FArray<int4, 2> a(Dim(0, 1), Dim(1, 2));
  a(0, 2) = 3;
  a(1, 1) = 2;
  a(1, 2) = 4;
  a(0, 1) = 1;
  EXPECT_EQ(fwrite_string("(4I2)", a), " 1 2 3 4");  // first subscript fastest

  FArray<real8, 1> b(Dim(4));
  for (int i = 1; i <= 4; ++i) b(i) = i;
  EXPECT_EQ(fwrite_string("(2F4.1)", window(b, 2, 2)), " 2.0 3.0");

  const std::vector<int4> v{1, 2, 3};
  const std::array<int4, 2> raw{8, 9};
  FStatic<int4, 0, 1> st;
  st(0) = 5;
  st(1) = 6;
  EXPECT_EQ(fwrite_string("(9I2)", v, std::span<const int4>(raw), st), " 1 2 3 8 9 5 6");

  const std::vector<FString<3>> names{"a", "bc"};
  EXPECT_EQ(fwrite_string("(2A)", names), "a  bc ");

  // Scalars and an array in one statement, with a runtime-sized repeat.
  EXPECT_EQ(fwrite_string("(I6, A1, I6, A1, 9999(I3))", 12, ':', 345, ':', v),
            "    12:   345:  1  2  3");

  const std::vector<int4> none;
  EXPECT_EQ(fwrite_string("(A, 10I3)", "n:", none), "n:");
}

TEST(FormatWrite, StreamRecords) {
  struct Case {
    const char* fmt;
    std::vector<std::string> items;
    const char* out;
  };
  const std::vector<Case> cases = {
      {"(A)", {"a", "b"}, "a\nb\n"},  // reversion: one record per item
      {"(A)", {}, "\n"},              // an empty record
      {"(/A)", {"a"}, "\na\n"},
      {"(A,$)", {"a"}, "a"},  // the record stays open
      {"(A, ' x')", {"a"}, "a x\n"},
      {"('[', A, ']')", {"a", "b"}, "[a]\n[b]\n"},
      {"(A,:,' t')", {"a"}, "a\n"},
      {"(2A)", {"a", "b", "c"}, "ab\nc\n"},
      {"(A,3X)", {"a"}, "a\n"},  // a trailing 3X writes nothing
      {"()", {}, "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fmt);
    std::ostringstream out;
    fwrite(out, c.fmt, c.items);
    EXPECT_EQ(out.str(), c.out);
    std::string joined = c.out;
    if (!joined.empty() && joined.back() == '\n') joined.pop_back();
    EXPECT_EQ(fwrite_string(c.fmt, c.items), joined);
  }
}

TEST(FormatWrite, OpenRecordContinuesWithTheNextStatement) {
  std::ostringstream out;
  fwrite(out, "(A,$)", "50%");
  fwrite(out, "(A,$)", "\r100%");
  fwrite(out, "(A)", "");
  EXPECT_EQ(out.str(), "50%\r100%\n");
}

TEST(FormatWrite, FormatsBuiltAtRunTimeAreParsedOnce) {
  const FormatProgram& p1 = format_program("(I6, A1, 9999(I3))");
  std::string built = "(I6, A1, ";
  built += std::to_string(9999) + "(I3))";
  EXPECT_EQ(&format_program(built), &p1);
  EXPECT_NE(&format_program("(I6)"), &p1);
  EXPECT_EQ(&format_program(built), &p1);
}

TEST(FormatProgram, ParsesDescriptorsLiteralsAndGroups) {
  const FormatProgram& p =
      format_program("(a14, 2I4.2, 4Es22.12E3, 'it''s', \"x\"\"y\", 2(L1, 3X))");
  const std::vector<FormatItem>& it = p.items();
  ASSERT_EQ(it.size(), 10u);
  EXPECT_EQ(it[0].op, FormatOp::a);
  EXPECT_EQ(it[0].w, 14);
  EXPECT_EQ(it[1].op, FormatOp::i);
  EXPECT_EQ(it[1].repeat, 2);
  EXPECT_EQ(it[1].w, 4);
  EXPECT_EQ(it[1].d, 2);
  EXPECT_EQ(it[2].op, FormatOp::es);
  EXPECT_EQ(it[2].repeat, 4);
  EXPECT_EQ(it[2].w, 22);
  EXPECT_EQ(it[2].d, 12);
  EXPECT_EQ(it[2].e, 3);
  EXPECT_EQ(p.literal(it[3]), "it's");
  EXPECT_EQ(p.literal(it[4]), "x\"y");
  EXPECT_EQ(it[5].op, FormatOp::group);
  EXPECT_EQ(it[5].repeat, 2);
  EXPECT_EQ(it[5].link, 8u);
  EXPECT_EQ(it[7].op, FormatOp::x);
  EXPECT_EQ(it[7].w, 3);
  EXPECT_EQ(it[8].op, FormatOp::group_end);
  EXPECT_EQ(it[9].op, FormatOp::end);
  EXPECT_EQ(p.reversion_point(), 5u);  // the last top-level group

  // Blanks are insignificant and commas optional next to slashes and quotes.
  EXPECT_EQ(fwrite_string("( i 3 / 'x' a )", 5, "y"), "  5\nxy");
  EXPECT_EQ(fwrite_string("(A/A, I1, A)", "p", "q", 7, "r"), "p\nq7r");
}

TEST(FormatProgram, BadFormatsAreProgrammingErrors) {
  const char* bad[] = {
      "A",       "(A",      "(A))", "(I)",    "(F6)",      "(E9.0)",   "(0I3)",   "(X)",
      "(I3.5)",  "(A,,I3)", "(,A)", "(A,)",   "('abc)",    "(3'x')",   "($,A)",   "(T5,A)",
      "(G10.3)", "(2:)",    "(A0)", "(F0.3)", "(ES9.2E0)", "(2(A,$))", "(EN9.2)", "(I4) x",
  };
  for (const char* f : bad) {
    SCOPED_TRACE(f);
    EXPECT_THROW(format_program(f), std::logic_error);
  }
  // Groups nest 16 deep inside the outer parentheses, not 17.
  auto nested = [](int groups) {
    return std::string(static_cast<std::size_t>(groups + 1), '(') + "A" +
           std::string(static_cast<std::size_t>(groups + 1), ')');
  };
  EXPECT_NO_THROW(format_program(nested(16)));
  EXPECT_THROW(format_program(nested(17)), std::logic_error);
}

TEST(FormatWrite, ItemsThatDoNotMatchTheirDescriptorThrow) {
  auto throws_naming_format = [](auto&& write, const std::string& fmt) {
    try {
      write();
      ADD_FAILURE() << "no exception for " << fmt;
    } catch (const std::logic_error& e) {
      EXPECT_NE(std::string(e.what()).find(fmt), std::string::npos) << e.what();
    }
  };
  throws_naming_format([] { return fwrite_string("(I4)", 1.5); }, "(I4)");
  throws_naming_format([] { return fwrite_string("(F6.3)", 1); }, "(F6.3)");
  throws_naming_format([] { return fwrite_string("(A)", 1); }, "(A)");
  throws_naming_format([] { return fwrite_string("(L1)", 1); }, "(L1)");
  throws_naming_format([] { return fwrite_string("(I4)", "x"); }, "(I4)");
  throws_naming_format([] { return fwrite_string("(ES9.2)", true); }, "(ES9.2)");
  // Items left over with no data descriptor to take them.
  throws_naming_format([] { return fwrite_string("('x')", 1); }, "('x')");
  throws_naming_format([] { return fwrite_string("(I2,('x'))", 1, 2); }, "(I2,('x'))");
}

TEST(FormatWrite, ListDirected) {
  // One blank begins the record and one separates items, except between two texts; each
  // kind has its width (int1 4, int4 11, double 25).
  EXPECT_EQ(fwrite_string("*", 1, "a"), "           1 a");
  EXPECT_EQ(fwrite_string("*", "a", "b", 'c'), " abc");
  EXPECT_EQ(fwrite_string("*", std::vector<int1>{1, -1}), "    1   -1");
  EXPECT_EQ(fwrite_string("*", true, 2.0), " T   2.0000000000000000     ");
  EXPECT_EQ(fwrite_string("*"), "");
  std::ostringstream out;
  fwrite(out, "*", "x");
  EXPECT_EQ(out.str(), " x\n");
}

TEST(FormatRead, ItemTypesAndPadding) {
  int4 n = 0;
  real8 x = 0;
  real4 y = 0;
  FString<4> c;
  std::string s, rest;
  EXPECT_EQ(fread_string("(I3,F5.2,F3.1,A2,A3,A)", " 12  150 25xyabcde fg", n, x, y, c, s, rest),
            IoStatus::ok);
  EXPECT_EQ(n, 12);
  EXPECT_EQ(x, 1.5);  // "  150" with two implied decimals
  EXPECT_EQ(y, 2.5f);
  EXPECT_EQ(c, "xy");        // A2 into four characters: padded
  EXPECT_EQ(s, "abc");       // Aw into a std::string: the w characters
  EXPECT_EQ(rest, "de fg");  // A alone into a std::string: the rest of the record

  std::string padded;
  EXPECT_EQ(fread_string("(A6)", "ab", padded), IoStatus::ok);
  EXPECT_EQ(padded, "ab    ");
  EXPECT_EQ(fread_string("(I12)", "", n), IoStatus::ok);  // all blank after padding
  EXPECT_EQ(n, 0);
}

TEST(FormatRead, ErrorAndEndLeaveLaterItemsAlone) {
  int4 a = -1, b = -1;
  EXPECT_EQ(fread_string("(I3,I3)", " 1x  2", a, b), IoStatus::error);
  EXPECT_EQ(a, -1);
  EXPECT_EQ(b, -1);
  EXPECT_EQ(fread_string("(I3)", "  1  2", a, b), IoStatus::end);  // reversion: no 2nd record
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, -1);
  int1 small = 0;
  EXPECT_EQ(fread_string("(I4)", " 200", small), IoStatus::error);  // beyond int1
  EXPECT_EQ(small, 0);
}

TEST(FormatRead, ProgrammingErrorsThrow) {
  int4 n = 0;
  real8 x = 0;
  EXPECT_THROW(fread_string("(F6.2)", "1", n), std::logic_error);
  EXPECT_THROW(fread_string("(I6)", "1", x), std::logic_error);
  EXPECT_THROW(fread_string("('n=', I6)", "n=1", n), std::logic_error);
  EXPECT_THROW(fread_string("*", "1", n), std::logic_error);
}

}  // namespace
}  // namespace kinrad
