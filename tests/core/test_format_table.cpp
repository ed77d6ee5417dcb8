// Replays the edit-format tables written by gfortran 12 (tools/fortran/format_table.f90, run
// by tools/fortran/format_table.sh): every output case through fwrite (and fwrite_string),
// every input case through fread_string. The expected bytes and values are gfortran's, not
// ours.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/fixed_string.hpp"
#include "core/format_write.hpp"
#include "core/kinds.hpp"

namespace kinrad {
namespace {

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::size_t b = 0;
  for (;;) {
    const std::size_t e = s.find(sep, b);
    parts.push_back(s.substr(b, e == std::string::npos ? std::string::npos : e - b));
    if (e == std::string::npos) return parts;
    b = e + 1;
  }
}

// Undoes the table's escapes: \s blank, \n record end, \t tab, \\ backslash.
std::string unescape(std::string_view s) {
  std::string r;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      r.push_back(s[i]);
      continue;
    }
    const char c = s[++i];
    r.push_back(c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c);
  }
  return r;
}

std::string bracketed(const std::string& field) {
  EXPECT_TRUE(field.size() >= 2 && field.front() == '[' && field.back() == ']') << field;
  return field.size() >= 2 ? field.substr(1, field.size() - 2) : field;
}

template <class T>
T number(std::string_view s) {
  T v{};
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  EXPECT_TRUE(r.ec == std::errc() && r.ptr == s.data() + s.size()) << "bad number " << s;
  return v;
}

struct Token {
  std::string kind;
  std::string value;
};

std::vector<Token> tokens(const std::string& field) {
  std::vector<Token> ts;
  if (field.empty()) return ts;
  for (const std::string& t : split(field, ' ')) {
    const std::size_t colon = t.find(':');
    ts.push_back({t.substr(0, colon), t.substr(colon + 1)});
  }
  return ts;
}

std::vector<std::string> read_lines(const char* name) {
  std::ifstream in(std::string(KINRAD_TEST_DATA_DIR) + "/" + name);
  EXPECT_TRUE(in.good()) << name;
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) lines.push_back(line);
  return lines;
}

template <class T>
void put_vector(std::ostream& out, const std::string& fmt, const std::vector<Token>& ts,
                T (*convert)(const std::string&)) {
  std::vector<T> v;
  for (const Token& t : ts) v.push_back(convert(t.value));
  fwrite(out, fmt, v);
}

// One output case. A list of items of one kind goes through fwrite as a std::vector (array
// expansion included); a mixed list is fed one item at a time to the statement fwrite uses.
std::string write_case(const std::string& fmt, const std::vector<Token>& ts) {
  bool same = true;
  for (const Token& t : ts) same = same && t.kind == ts.front().kind;
  std::ostringstream out;
  const std::string& k = ts.empty() ? std::string() : ts.front().kind;
  if (ts.empty()) {
    fwrite(out, fmt);
    return out.str();
  }
  if (same && k != "l") {
    if (k == "i1")
      put_vector<int1>(out, fmt, ts, [](const std::string& s) { return number<int1>(s); });
    else if (k == "i2")
      put_vector<int2>(out, fmt, ts, [](const std::string& s) { return number<int2>(s); });
    else if (k == "i4")
      put_vector<int4>(out, fmt, ts, [](const std::string& s) { return number<int4>(s); });
    else if (k == "i8")
      put_vector<int8>(out, fmt, ts, [](const std::string& s) { return number<int8>(s); });
    else if (k == "r4")
      put_vector<real4>(out, fmt, ts, [](const std::string& s) { return number<real4>(s); });
    else if (k == "r8")
      put_vector<real8>(out, fmt, ts, [](const std::string& s) { return number<real8>(s); });
    else if (k == "c")
      put_vector<std::string>(out, fmt, ts, [](const std::string& s) { return unescape(s); });
    else
      ADD_FAILURE() << "unknown kind " << k;
    return out.str();
  }

  // Logicals (std::vector<bool> does not expand) and mixed lists.
  std::string s;
  FormatWriter w(fmt, s);
  for (const Token& t : ts) {
    if (t.kind == "i1" || t.kind == "i2" || t.kind == "i4" || t.kind == "i8")
      w.put_integer(number<int8>(t.value), t.kind[1] - '0');
    else if (t.kind == "r4")
      w.put_real(number<real4>(t.value));
    else if (t.kind == "r8")
      w.put_real(number<real8>(t.value));
    else if (t.kind == "c")
      w.put_text(unescape(t.value));
    else if (t.kind == "l")
      w.put_logical(t.value == "T");
    else
      ADD_FAILURE() << "unknown kind " << t.kind;
  }
  w.finish();
  return s;
}

TEST(FormatTable, OutputMatchesGfortran) {
  const std::vector<std::string> lines = read_lines("format_table_write.txt");
  ASSERT_GT(lines.size(), 1000u);
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    const std::vector<std::string> f = split(line, '\t');
    ASSERT_EQ(f.size(), 3u);
    const std::vector<Token> ts = tokens(f[1]);
    const std::string expected = unescape(bracketed(f[2]));
    EXPECT_EQ(write_case(f[0], ts), expected);
  }
}

// fwrite_string is the same statement with the records joined and no final record end.
TEST(FormatTable, InternalWriteJoinsTheRecords) {
  int checked = 0;
  for (const std::string& line : read_lines("format_table_write.txt")) {
    const std::vector<std::string> f = split(line, '\t');
    ASSERT_EQ(f.size(), 3u);
    const std::vector<Token> ts = tokens(f[1]);
    if (ts.size() != 1) continue;
    SCOPED_TRACE(line);
    std::string expected = unescape(bracketed(f[2]));
    if (!expected.empty() && expected.back() == '\n') expected.pop_back();
    const Token& t = ts.front();
    std::string got;
    if (t.kind == "r8")
      got = fwrite_string(f[0], number<real8>(t.value));
    else if (t.kind == "r4")
      got = fwrite_string(f[0], number<real4>(t.value));
    else if (t.kind == "i8")
      got = fwrite_string(f[0], number<int8>(t.value));
    else if (t.kind == "c")
      got = fwrite_string(f[0], unescape(t.value));
    else if (t.kind == "l")
      got = fwrite_string(f[0], t.value == "T");
    else
      continue;
    EXPECT_EQ(got, expected);
    ++checked;
  }
  EXPECT_GT(checked, 1000);
}

template <class T>
bool same_value(T a, T b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::memcmp(&a, &b, sizeof a) == 0;  // tells -0.0 from 0.0
}

IoStatus status_of(const std::string& s) {
  if (s == "ok") return IoStatus::ok;
  if (s == "end") return IoStatus::end;
  EXPECT_EQ(s, "error");
  return IoStatus::error;
}

template <class T>
void check_integer_read(const std::string& fmt, const std::string& rec, IoStatus status,
                        const std::vector<Token>& vals) {
  T v = -77;
  EXPECT_EQ(fread_string(fmt, rec, v), status);
  if (status == IoStatus::ok) {
    EXPECT_EQ(v, number<T>(vals.at(0).value));
  } else if (status == IoStatus::error) {
    EXPECT_EQ(v, -77) << "changed by a failed read";
  }
}

template <class T>
void check_real_read(const std::string& fmt, const std::string& rec, IoStatus status,
                     const std::vector<Token>& vals) {
  T v = -777;
  EXPECT_EQ(fread_string(fmt, rec, v), status);
  if (status == IoStatus::ok) {
    const T want = number<T>(vals.at(0).value);
    EXPECT_TRUE(same_value(v, want)) << v << " vs " << want;
  }
}

TEST(FormatTable, InputMatchesGfortran) {
  const std::vector<std::string> lines = read_lines("format_table_read.txt");
  ASSERT_GT(lines.size(), 100u);
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    const std::vector<std::string> f = split(line, '\t');
    ASSERT_EQ(f.size(), 5u);
    const std::string& fmt = f[0];
    const std::string& kinds = f[1];
    const std::string rec = unescape(bracketed(f[2]));
    const IoStatus status = status_of(f[3]);
    const std::vector<Token> vals = tokens(f[4]);
    if (kinds == "i1") {
      check_integer_read<int1>(fmt, rec, status, vals);
    } else if (kinds == "i2") {
      check_integer_read<int2>(fmt, rec, status, vals);
    } else if (kinds == "i4") {
      check_integer_read<int4>(fmt, rec, status, vals);
    } else if (kinds == "i8") {
      check_integer_read<int8>(fmt, rec, status, vals);
    } else if (kinds == "r4") {
      check_real_read<real4>(fmt, rec, status, vals);
    } else if (kinds == "r8") {
      check_real_read<real8>(fmt, rec, status, vals);
    } else if (kinds == "c3" || kinds == "c5") {
      FString<3> c3("###");
      FString<5> c5("#####");
      const IoStatus got = kinds == "c3" ? fread_string(fmt, rec, c3) : fread_string(fmt, rec, c5);
      EXPECT_EQ(got, status);
      const std::string want = unescape(vals.at(0).value);
      EXPECT_EQ(kinds == "c3" ? c3.str() : c5.str(), want);
    } else if (kinds == "i4 i4") {
      int4 a = -777, b = -777;
      EXPECT_EQ(fread_string(fmt, rec, a, b), status);
      if (status == IoStatus::ok) {
        EXPECT_EQ(a, number<int4>(vals.at(0).value));
        EXPECT_EQ(b, number<int4>(vals.at(1).value));
      }
    } else if (kinds == "c5 i4 r8") {
      FString<5> c("#####");
      int4 n = -777;
      real8 x = -777;
      EXPECT_EQ(fread_string(fmt, rec, c, n, x), status);
      if (status == IoStatus::ok) {
        EXPECT_EQ(c.str(), unescape(vals.at(0).value));
        EXPECT_EQ(n, number<int4>(vals.at(1).value));
        EXPECT_TRUE(same_value(x, number<real8>(vals.at(2).value)));
      }
    } else {
      ADD_FAILURE() << "unknown kinds " << kinds;
    }
  }
}

}  // namespace
}  // namespace kinrad
