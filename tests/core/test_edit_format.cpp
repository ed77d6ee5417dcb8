// The field editors on their own. Expected fields are derived by hand from the editing rules
// and the exact binary values noted per row (the gfortran tables in test_format_table.cpp
// cover the same ground broadly; these rows pin the rules one at a time).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

#include "core/edit_format.hpp"

namespace kinrad {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(EditFormat, IntegerFields) {
  struct Case {
    std::int64_t v;
    int w, m;
    const char* out;
  };
  const Case cases[] = {
      {42, 4, -1, "  42"},
      {-42, 3, -1, "-42"},  // just fits
      {-42, 2, -1, "**"},   // the sign does not fit
      {-5, 4, 3, "-005"},   // Iw.m pads the digits with zeros
      {0, 4, 0, "    "},    // Iw.0 writes a zero value as blanks
      {7, 4, 0, "   7"},
      {0, 1, -1, "0"},
      {std::numeric_limits<std::int64_t>::min(), 20, -1, "-9223372036854775808"},
      {std::numeric_limits<std::int64_t>::min(), 19, -1, "*******************"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.v) + " I" + std::to_string(c.w) + "." + std::to_string(c.m));
    std::string s = "<";
    put_i(s, c.v, c.w, c.m);
    EXPECT_EQ(s, std::string("<") + c.out);  // appended, nothing before it touched
  }
}

TEST(EditFormat, FixedFields) {
  struct Case {
    double v;
    int w, d;
    const char* out;
  };
  const Case cases[] = {
      {0.5, 3, 2, ".50"},       // no room for the leading zero
      {0.5, 4, 2, "0.50"},      // room for it
      {-0.001, 5, 2, "-0.00"},  // the sign stays when the value rounds to zero
      {-0.0, 5, 2, "-0.00"},
      {0.125, 5, 2, " 0.12"},  // exact tie, to even
      {0.375, 5, 2, " 0.38"},  // exact tie, to even
      {2.5, 4, 0, "  2."},
      {3.5, 4, 0, "  4."},
      {12.0, 16, 0, "             12."},
      {0.4, 2, 0, "0."},       // Fw.0 keeps its zero ...
      {0.4, 1, 0, "*"},        // ... so one character is too few
      {9.995, 5, 2, " 9.99"},  // 9.99499999999999921840... in binary
      {9.996, 4, 2, "****"},   // rounds to 10.00
      {1e10, 10, 0, "**********"},
      {kInf, 3, 1, "Inf"},
      {kInf, 8, 1, "Infinity"},
      {-kInf, 4, 1, "-Inf"},
      {-kInf, 3, 1, "***"},
      {-kInf, 10, 1, " -Infinity"},
      {kNaN, 5, 1, "  NaN"},
      {kNaN, 2, 1, "**"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.v) + " F" + std::to_string(c.w) + "." + std::to_string(c.d));
    std::string s;
    put_f(s, c.v, c.w, c.d);
    EXPECT_EQ(s, c.out);
  }
}

TEST(EditFormat, ExponentFields) {
  struct Case {
    bool es;
    double v;
    int w, d, e;
    const char* out;
  };
  const Case cases[] = {
      {true, 9.996, 9, 2, -1, " 1.00E+01"},      // the carry moves the exponent
      {true, -1e-300, 10, 3, -1, "-1.000-300"},  // three exponent digits drop the letter
      {true, -1e-300, 9, 3, -1, "*********"},
      {true, 0.0, 9, 2, -1, " 0.00E+00"},
      {true, 1.5e5, 12, 3, 3, "  1.500E+005"},
      {true, 1.5e15, 12, 3, 1, "************"},  // 15 needs two exponent digits
      {true, 1.0, 6, 0, -1, "1.E+00"},
      {true, 2.5, 8, 0, -1, "  2.E+00"},  // exact tie, to even
      {true, 1e100, 10, 3, -1, " 1.000+100"},
      {true, -kInf, 9, 2, -1, "-Infinity"},
      {false, 1.2345, 10, 4, -1, "0.1234E+01"},  // 1.23449999999999993... in binary
      {false, 1.2345, 9, 4, -1, ".1234E+01"},    // the zero is dropped to fit
      {false, -0.5, 10, 4, -1, "-.5000E+00"},
      {false, 0.0, 10, 3, -1, " 0.000E+00"},  // zero keeps the exponent 0
      {false, 1e100, 11, 3, -1, "  0.100+101"},
      {false, 1.5e15, 12, 3, 4, " 0.150E+0016"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.es ? "ES" : "E") + std::to_string(c.w) + "." + std::to_string(c.d) +
                 " of " + std::to_string(c.v));
    std::string s;
    if (c.es)
      put_es(s, c.v, c.w, c.d, c.e);
    else
      put_e(s, c.v, c.w, c.d, c.e);
    EXPECT_EQ(s, c.out);
  }
  std::string s;
  EXPECT_THROW(put_e(s, 1.0, 9, 0), std::logic_error);
}

TEST(EditFormat, TextLogicalAndBlankFields) {
  std::string s;
  put_a(s, "abcdef", 3);
  EXPECT_EQ(s, "abc");  // the leftmost w characters
  s.clear();
  put_a(s, "ab", 4);
  EXPECT_EQ(s, "  ab");  // right-justified
  s.clear();
  put_a(s, "ab  ", -1);
  EXPECT_EQ(s, "ab  ");  // A alone: the whole text, trailing blanks included
  s.clear();
  put_l(s, true, 1);
  put_l(s, false, 3);
  put_x(s, 2);
  put_x(s, 0);
  EXPECT_EQ(s, "T  F  ");
}

TEST(EditFormat, ListDirectedFields) {
  std::string s;
  put_list_integer(s, 5, 1);
  EXPECT_EQ(s, "   5");
  s.clear();
  put_list_integer(s, -5, 4);
  EXPECT_EQ(s, "         -5");
  s.clear();
  put_list_integer(s, 5, 8);
  EXPECT_EQ(s, std::string(19, ' ') + "5");

  struct Case {
    double v;
    bool single;
    const char* out;
  };
  const Case cases[] = {
      // 17 digits in 25 characters: fixed form in 20, then 5 blanks
      {1.0, false, "  1.0000000000000000     "},
      {0.0, false, "  0.0000000000000000     "},
      {1e16, false, "  10000000000000000.     "},  // 17 integer digits, no decimals
      {1e17, false, "  1.0000000000000000E+017"},  // beyond 17 digits: exponent form
      // 9 digits in 16 characters: fixed form in 12, then 4 blanks
      {1.0, true, "  1.00000000    "},
      {1e20, true, "  1.00000002E+20"},  // the float nearest 1e20 is 100000002004087734272
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.v));
    s.clear();
    if (c.single)
      put_list_real(s, static_cast<float>(c.v));
    else
      put_list_real(s, c.v);
    EXPECT_EQ(s, c.out);
  }
}

TEST(EditFormat, IntegerInput) {
  struct Case {
    const char* field;
    IoStatus status;
    std::int64_t v;
  };
  const Case cases[] = {
      {"  12 34 ", IoStatus::ok, 1234},  // blanks anywhere are ignored
      {"", IoStatus::ok, 0},
      {"    ", IoStatus::ok, 0},
      {" - 7", IoStatus::ok, -7},
      {"+", IoStatus::error, 0},  // a sign needs a digit
      {"1x", IoStatus::error, 0},
      {"1-", IoStatus::error, 0},
      {"1\t", IoStatus::error, 0},  // a tab is no blank here
      {"9223372036854775807", IoStatus::ok, std::numeric_limits<std::int64_t>::max()},
      {"9223372036854775808", IoStatus::error, 0},
      {"-9223372036854775808", IoStatus::ok, std::numeric_limits<std::int64_t>::min()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("[") + c.field + "]");
    std::int64_t v = 99;
    EXPECT_EQ(get_i(c.field, v), c.status);
    EXPECT_EQ(v, c.status == IoStatus::ok ? c.v : 99);
  }
  std::int64_t v = 99;
  EXPECT_EQ(get_i(" 128", v, -128, 127), IoStatus::error);  // beyond the kind
  EXPECT_EQ(v, 99);
  EXPECT_EQ(get_i("-128", v, -128, 127), IoStatus::ok);
  EXPECT_EQ(v, -128);
}

TEST(EditFormat, RealInput) {
  struct Case {
    const char* field;
    int d;
    IoStatus status;
    double v;
  };
  const Case cases[] = {
      {"1", 8, IoStatus::ok, 1e-8},  // d implied decimals without a point
      {"           1", 8, IoStatus::ok, 1e-8},
      {"1.5", 8, IoStatus::ok, 1.5},  // a point overrides them
      {"15E3", 2, IoStatus::ok, 150.0},
      {"1.5+3", 0, IoStatus::ok, 1500.0},
      {"1.5D3", 0, IoStatus::ok, 1500.0},
      {"1.5q-3", 0, IoStatus::ok, 1.5e-3},
      {" 1 . 5 e + 3 ", 0, IoStatus::ok, 1500.0},
      {"   ", 3, IoStatus::ok, 0.0},
      {"-.5", 3, IoStatus::ok, -0.5},
      {"1.5E", 2, IoStatus::error, 0.0},
      {"1.2.3", 2, IoStatus::error, 0.0},
      {"12a", 2, IoStatus::error, 0.0},
      {"1e400", 0, IoStatus::ok, kInf},  // beyond the range: an infinity, not an error
      {"1e-400", 0, IoStatus::ok, 0.0},
      {"  inf  ", 0, IoStatus::ok, kInf},
      {"-Infinity", 0, IoStatus::ok, -kInf},
      {"infx", 0, IoStatus::error, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("[") + c.field + "] d=" + std::to_string(c.d));
    double v = 99;
    EXPECT_EQ(get_f(c.field, c.d, v), c.status);
    EXPECT_EQ(v, c.status == IoStatus::ok ? c.v : 99.0);
  }
  double v = 0;
  EXPECT_EQ(get_f("NaN(abc)", 0, v), IoStatus::ok);
  EXPECT_TRUE(std::isnan(v));
  EXPECT_EQ(get_f("-0", 0, v), IoStatus::ok);
  EXPECT_TRUE(v == 0.0 && std::signbit(v));
  float f = 0;
  EXPECT_EQ(get_f(" 0.1", 2, f), IoStatus::ok);
  EXPECT_EQ(f, 0.1f);
}

// 1 + 2**-53 lies halfway between 1 and the next double, 1 + 2**-52; its decimal expansion
// has 54 significant digits. Written exactly it rounds to even (1); followed, after more
// digits than the reader keeps, by a nonzero digit it must round up.
TEST(EditFormat, RealInputRoundsLongFieldsCorrectly) {
  const std::string tie = "1.00000000000000011102230246251565404236316680908203125";
  double v = 0;
  ASSERT_EQ(get_f(tie, 0, v), IoStatus::ok);
  EXPECT_EQ(v, 1.0);
  const std::string above = tie + std::string(900, '0') + "1";
  ASSERT_EQ(get_f(above, 0, v), IoStatus::ok);
  EXPECT_EQ(v, 1.0 + std::ldexp(1.0, -52));
  const std::string below =
      "1.000000000000000111022302462515654042363166809082031249" + std::string(900, '9');
  ASSERT_EQ(get_f(below, 0, v), IoStatus::ok);
  EXPECT_EQ(v, 1.0);
}

}  // namespace
}  // namespace kinrad
