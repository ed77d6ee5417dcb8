// Replays tests/core/data/list_read_table.txt: record texts read list-directed into fixed item
// lists, with the statuses, item values and file positions that gfortran 12 gave for them
// (generator: tools/fortran/list_read_table.f90 over tools/fortran/list_read_cases.txt).
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"
#include "core/record_reader.hpp"

namespace kinrad {
namespace {

struct Statement {
  std::string status;
  std::vector<std::string> values;
};

struct TableCase {
  std::string name, signature;
  int reads = 0;
  bool crlf = false, nolf = false;
  std::vector<std::string> records;
  std::vector<Statement> statements;
  std::string next, back1, back2;
};

std::string unescape(const std::string& s) {
  std::string r;
  for (std::size_t k = 0; k < s.size(); ++k) {
    if (s[k] == '\\' && k + 1 < s.size()) {
      const char c = s[++k];
      r += c == 's' ? ' ' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    } else {
      r += s[k];
    }
  }
  return r;
}

std::string escape(std::string_view s) {
  std::string r;
  for (char c : s) {
    if (c == '\t')
      r += "\\t";
    else if (c == '\r')
      r += "\\r";
    else if (c == '\\')
      r += "\\\\";
    else
      r += c;
  }
  return r;
}

std::vector<TableCase> load_table() {
  std::ifstream in(std::string(KINRAD_TEST_DATA_DIR) + "/list_read_table.txt");
  std::vector<TableCase> cases;
  std::string line;
  TableCase* c = nullptr;
  while (std::getline(in, line)) {
    const std::size_t sp = line.find(' ');
    const std::string key = line.substr(0, sp);
    const std::string rest = sp == std::string::npos ? "" : line.substr(sp + 1);
    if (key == "case") {
      cases.emplace_back();
      c = &cases.back();
      char name[64], sig[64], f1[16] = "", f2[16] = "";
      std::sscanf(rest.c_str(), "%63s %63s %d %15s %15s", name, sig, &c->reads, f1, f2);
      c->name = name;
      c->signature = sig;
      c->crlf = std::strcmp(f1, "crlf") == 0 || std::strcmp(f2, "crlf") == 0;
      c->nolf = std::strcmp(f1, "nolf") == 0 || std::strcmp(f2, "nolf") == 0;
    } else if (c == nullptr) {
      continue;
    } else if (key == "rec") {
      c->records.push_back(unescape(rest));
    } else if (key == "result") {
      c->statements.push_back({rest.substr(rest.find(' ') + 1), {}});
    } else if (key == "val") {
      c->statements.back().values.push_back(rest);
    } else if (key == "next") {
      c->next = rest;
    } else if (key == "back1") {
      c->back1 = rest;
    } else if (key == "back2") {
      c->back2 = rest;
    }
  }
  return cases;
}

std::string file_text(const TableCase& c) {
  std::string t;
  for (std::size_t k = 0; k < c.records.size(); ++k) {
    t += c.records[k];
    if (k + 1 < c.records.size() || !c.nolf) t += c.crlf ? "\r\n" : "\n";
  }
  return t;
}

const char* status_name(IoStatus s) {
  return s == IoStatus::ok ? "ok" : s == IoStatus::end ? "end" : "error";
}

std::string show(std::int64_t v) {
  return std::to_string(v);
}
std::string show(bool v) {
  return v ? "T" : "F";
}
std::string show(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%016llX", static_cast<unsigned long long>(b));
  return buf;
}
std::string show(float v) {
  std::uint32_t b;
  std::memcpy(&b, &v, sizeof b);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(b));
  return buf;
}
std::string show(std::string_view v) {
  return "[" + escape(v) + "]";
}

// The array items come in three containers, which must read alike.
enum class Container { farray, vector, span };

template <class T, std::size_t N>
IoStatus read_array(RecordReader& r, Container how, std::array<T, N>& out) {
  out.fill(T(-99));
  IoStatus st{};
  if (how == Container::farray) {
    FArray<T, 1> a(Dim(0, static_cast<index_t>(N) - 1));
    a.fill(T(-99));
    st = r.read_list(a);
    for (std::size_t k = 0; k < N; ++k) out[k] = a(static_cast<index_t>(k));
  } else if (how == Container::vector) {
    std::vector<T> v(N, T(-99));
    st = r.read_list(v);
    for (std::size_t k = 0; k < N; ++k) out[k] = v[k];
  } else {
    st = r.read_list(std::span<T>(out));
  }
  return st;
}

// One statement of the signature from sentinel values; the values as the table shows them.
Statement one_read(RecordReader& r, const std::string& sig, Container how) {
  Statement s;
  IoStatus st = IoStatus::error;
  auto& v = s.values;
  if (sig == "i4x3") {
    int4 a = -99, b = -99, c = -99;
    st = r.read_list(a, b, c);
    v = {show(std::int64_t{a}), show(std::int64_t{b}), show(std::int64_t{c})};
  } else if (sig == "i1") {
    int1 a = -99;
    st = r.read_list(a);
    v = {show(std::int64_t{a})};
  } else if (sig == "i2") {
    int2 a = -99;
    st = r.read_list(a);
    v = {show(std::int64_t{a})};
  } else if (sig == "i4") {
    int4 a = -99;
    st = r.read_list(a);
    v = {show(std::int64_t{a})};
  } else if (sig == "i8") {
    int8 a = -99;
    st = r.read_list(a);
    v = {show(a)};
  } else if (sig == "r4x2") {
    real4 a = -99, b = -99;
    st = r.read_list(a, b);
    v = {show(a), show(b)};
  } else if (sig == "r8") {
    real8 a = -99;
    st = r.read_list(a);
    v = {show(a)};
  } else if (sig == "r8x3") {
    real8 a = -99, b = -99, c = -99;
    st = r.read_list(a, b, c);
    v = {show(a), show(b), show(c)};
  } else if (sig == "l3") {
    bool a = true, b = true, c = true;
    st = r.read_list(a, b, c);
    v = {show(a), show(b), show(c)};
  } else if (sig == "c8x2") {
    FString<8> a = "init", b = "init";
    st = r.read_list(a, b);
    v = {show(a.view()), show(b.view())};
  } else if (sig == "c3") {
    FString<3> a = "ini";
    st = r.read_list(a);
    v = {show(a.view())};
  } else if (sig == "c20") {
    FString<20> a = "init";
    st = r.read_list(a);
    v = {show(a.view())};
  } else if (sig == "mix") {
    int4 n = -99;
    real8 d = -99;
    FString<8> t = "init";
    bool l = true;
    st = r.read_list(n, d, t, l);
    v = {show(std::int64_t{n}), show(d), show(t.view()), show(l)};
  } else if (sig == "i4a5") {
    std::array<int4, 5> a{};
    st = read_array(r, how, a);
    for (int4 x : a) v.push_back(show(std::int64_t{x}));
  } else if (sig == "r8a4") {
    std::array<real8, 4> a{};
    st = read_array(r, how, a);
    for (real8 x : a) v.push_back(show(x));
  } else if (sig == "i4c8") {
    int4 n = -99;
    FString<8> t = "init";
    st = r.read_list(n, t);
    v = {show(std::int64_t{n}), show(t.view())};
  } else if (sig == "c8i4") {
    FString<8> t = "init";
    int4 n = -99;
    st = r.read_list(t, n);
    v = {show(t.view()), show(std::int64_t{n})};
  } else {
    ADD_FAILURE() << "unknown signature " << sig;
  }
  s.status = status_name(st);
  return s;
}

std::string probe(RecordReader& r) {
  std::string line;
  if (r.read_line(line) != IoStatus::ok) return "<eof>";
  return escape(trim(line));
}

TEST(ListReadTable, ReplaysGfortranResults) {
  const std::vector<TableCase> cases = load_table();
  ASSERT_GT(cases.size(), 100u);
  for (const TableCase& c : cases) {
    SCOPED_TRACE("case " + c.name);
    ASSERT_EQ(static_cast<int>(c.statements.size()), c.reads);
    const bool array = c.signature == "i4a5" || c.signature == "r8a4";
    for (Container how : {Container::farray, Container::vector, Container::span}) {
      if (!array && how != Container::farray) break;
      SCOPED_TRACE("container " + std::to_string(static_cast<int>(how)));
      const std::string text = file_text(c);
      for (int backs = 0; backs <= 2; ++backs) {
        RecordReader r = RecordReader::from_text(text);
        for (int k = 0; k < c.reads; ++k) {
          const Statement got = one_read(r, c.signature, how);
          if (backs == 0) {
            SCOPED_TRACE("statement " + std::to_string(k + 1));
            EXPECT_EQ(got.status, c.statements[k].status);
            EXPECT_EQ(got.values, c.statements[k].values);
          }
        }
        for (int b = 0; b < backs; ++b) r.backspace();
        const std::string& want = backs == 0 ? c.next : backs == 1 ? c.back1 : c.back2;
        EXPECT_EQ(probe(r), want) << "after " << backs << " backspace(s)";
      }
    }
  }
}

}  // namespace
}  // namespace kinrad
