// Unformatted sequential files. The fixtures in tests/core/data were written by gfortran 12
// (tools/fortran/unformatted_fixture.f90, the second one built with 16-byte subrecords);
// the values below are the literals of that program, and the framing cases are byte strings
// put together by hand.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"
#include "core/unformatted_file.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using testing_support::read_text;
using testing_support::TempWorkDir;
using testing_support::write_text;
using namespace std::string_literals;

std::string fixture(const char* name) {
  return read_text(std::string(KINRAD_TEST_DATA_DIR) + "/" + name);
}

// The records of the fixture program, written with our writer.
void write_fixture_records(UnformattedWriter& w) {
  w.write_record(int4{7}, 1.5, -2.25);
  std::vector<real8> five(5);
  for (int k = 1; k <= 5; ++k) five[k - 1] = 0.1 * k;
  w.write_record(five);
  const std::array<real4, 3> row = {1.5f, -0.25f, 3.0e10f};
  w.write_record(FString<5>("ab"), int1{-3}, int2{1000}, int8{-5000000000LL},
                 std::span<const real4>(row));
  w.write_record();
  FArray<int4, 1> ten(10);
  for (int k = 1; k <= 10; ++k) ten(k) = k * k;
  w.write_record(ten);
  w.write_record(std::vector<int4>{1, -2, 3, -4});
  std::vector<int4> eight(8);
  for (int k = 1; k <= 8; ++k) eight[k - 1] = 100 + k;
  w.write_record(eight);
}

void check_fixture_records(UnformattedReader& r) {
  int4 n = 0;
  real8 a = 0, b = 0;
  ASSERT_EQ(r.read_record(n, a, b), IoStatus::ok);
  EXPECT_EQ(n, 7);
  EXPECT_EQ(a, 1.5);
  EXPECT_EQ(b, -2.25);
  FArray<real8, 1> five(Dim(0, 4));
  ASSERT_EQ(r.read_record(five), IoStatus::ok);
  for (int k = 0; k < 5; ++k) EXPECT_EQ(five(k), 0.1 * (k + 1));
  FString<5> label;
  int1 i1 = 0;
  int2 i2 = 0;
  int8 i8 = 0;
  std::array<real4, 3> row{};
  ASSERT_EQ(r.read_record(label, i1, i2, i8, std::span<real4>(row)), IoStatus::ok);
  EXPECT_EQ(label.view(), "ab   ");
  EXPECT_EQ(i1, -3);
  EXPECT_EQ(i2, 1000);
  EXPECT_EQ(i8, -5000000000LL);
  EXPECT_EQ(row, (std::array<real4, 3>{1.5f, -0.25f, 3.0e10f}));
  ASSERT_EQ(r.read_record(), IoStatus::ok);
  EXPECT_EQ(r.record_length(), 0u);
  std::vector<int4> ten(10);
  ASSERT_EQ(r.read_record(ten), IoStatus::ok);
  for (int k = 1; k <= 10; ++k) EXPECT_EQ(ten[k - 1], k * k);
  std::vector<int4> four(4);
  ASSERT_EQ(r.read_record(four), IoStatus::ok);
  EXPECT_EQ(four, (std::vector<int4>{1, -2, 3, -4}));
  int4 first = 0;
  ASSERT_EQ(r.read_record(first), IoStatus::ok);  // the other seven values are passed over
  EXPECT_EQ(first, 101);
  EXPECT_EQ(r.read_record(first), IoStatus::end);
}

TEST(UnformattedFile, ReadsAndRewritesTheGfortranFixture) {
  struct Row {
    const char* file;
    std::size_t max_subrecord;
  };
  for (const Row row : {Row{"unformatted_gfortran.bin", UnformattedWriter::default_max_subrecord},
                        Row{"unformatted_subrecords.bin", 16}}) {
    SCOPED_TRACE(row.file);
    UnformattedReader r;
    ASSERT_TRUE(r.open(std::string(KINRAD_TEST_DATA_DIR) + "/" + row.file));
    check_fixture_records(r);
    r.rewind();
    int4 n = 0;
    ASSERT_EQ(r.read_record(n), IoStatus::ok);
    EXPECT_EQ(n, 7);

    TempWorkDir dir("unformatted");
    UnformattedWriter w(row.max_subrecord);
    ASSERT_TRUE(w.open("out.bin"));
    write_fixture_records(w);
    EXPECT_TRUE(w.good());
    EXPECT_TRUE(w.close());
    EXPECT_EQ(read_text("out.bin"), fixture(row.file));
  }
}

TEST(UnformattedFile, FramingOfOneRecordByHand) {
  TempWorkDir dir("unformatted");
  {
    UnformattedWriter w;
    ASSERT_TRUE(w.open("r.bin"));
    w.write_record(int2{0x0102}, std::string("xy"));
    ASSERT_TRUE(w.close());
  }
  EXPECT_EQ(read_text("r.bin"), std::string("\x04\0\0\0\x02\x01xy\x04\0\0\0", 12));
  UnformattedReader r;
  ASSERT_TRUE(r.open("r.bin"));
  int2 v = 0;
  std::string s(2, ' ');
  ASSERT_EQ(r.read_record(v, s), IoStatus::ok);
  EXPECT_EQ(v, 0x0102);
  EXPECT_EQ(s, "xy");
}

std::string marker(std::int32_t n) {
  std::string m(4, '\0');
  std::memcpy(m.data(), &n, 4);
  return m;
}

// Broken framing and short records, with what a read of one int4 (and then a second read)
// gives.
TEST(UnformattedFile, FramingErrorsAndEnd) {
  struct Row {
    const char* name;
    std::string bytes;
    IoStatus first, second;
  };
  const std::string ok4 = marker(4) + marker(9) + marker(4);
  const std::vector<Row> rows = {
      {"empty file", "", IoStatus::end, IoStatus::end},
      {"one record", ok4, IoStatus::ok, IoStatus::end},
      {"record too short", marker(2) + "ab" + marker(2) + ok4, IoStatus::error, IoStatus::ok},
      {"trailer differs", marker(4) + marker(9) + marker(5), IoStatus::error, IoStatus::end},
      {"ends inside data", marker(8) + marker(9), IoStatus::error, IoStatus::error},
      {"ends inside trailer", marker(4) + marker(9) + "\x04"s, IoStatus::error, IoStatus::error},
      {"ends inside leading length", ok4 + "\x04\0"s, IoStatus::ok, IoStatus::error},
      {"huge length", marker(2147483647) + marker(9), IoStatus::error, IoStatus::error},
      {"continued record", marker(-2) + "\x09\0"s + marker(2) + marker(2) + "\0\0"s + marker(-2),
       IoStatus::ok, IoStatus::end},
      {"continuation without a next subrecord", marker(-4) + marker(9) + marker(4), IoStatus::error,
       IoStatus::end},
      {"first trailer negative",
       marker(-2) + "\x09\0"s + marker(-2) + marker(2) + "\0\0"s + marker(-2), IoStatus::error,
       IoStatus::error},
      {"later trailer positive",
       marker(-2) + "\x09\0"s + marker(2) + marker(2) + "\0\0"s + marker(2), IoStatus::error,
       IoStatus::end},
  };
  TempWorkDir dir("unformatted");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    write_text("f.bin", row.bytes);
    UnformattedReader r;
    ASSERT_TRUE(r.open("f.bin"));
    int4 v = -1;
    EXPECT_EQ(r.read_record(v), row.first);
    if (row.first == IoStatus::ok) {
      EXPECT_EQ(v, 9);
    }
    EXPECT_EQ(r.read_record(v), row.second);
  }
}

TEST(UnformattedFile, RoundTripOfMixedItems) {
  TempWorkDir dir("unformatted");
  FArray<real4, 2> table(Dim(0, 1), Dim(3));
  for (index_t j = 1; j <= 3; ++j)
    for (index_t i = 0; i <= 1; ++i) table(i, j) = static_cast<real4>(10 * j + i);
  std::vector<FString<3>> names = {"a", "bcd", "efgh"};
  {
    UnformattedWriter w(5);  // splits the 37 bytes into subrecords
    ASSERT_TRUE(w.open("m.bin"));
    w.write_record(table, names, int4{-1});
    w.write_record(std::string("tail"));
    ASSERT_TRUE(w.good());
    ASSERT_TRUE(w.close());
  }
  UnformattedReader r;
  ASSERT_TRUE(r.open("m.bin"));
  FArray<real4, 2> back(Dim(0, 1), Dim(3));
  std::vector<FString<3>> names_back(3);
  int4 last = 0;
  ASSERT_EQ(r.read_record(back, names_back, last), IoStatus::ok);
  EXPECT_EQ(r.record_length(), 24u + 9u + 4u);
  for (index_t j = 1; j <= 3; ++j)
    for (index_t i = 0; i <= 1; ++i) EXPECT_EQ(back(i, j), table(i, j));
  EXPECT_EQ(names_back[2], "efg");
  EXPECT_EQ(last, -1);
  std::string tail(4, ' ');
  ASSERT_EQ(r.read_record(tail), IoStatus::ok);
  EXPECT_EQ(tail, "tail");
  EXPECT_EQ(r.read_record(tail), IoStatus::end);
}

TEST(UnformattedFile, OpenFailuresAndClosedFiles) {
  TempWorkDir dir("unformatted");
  UnformattedWriter w;
  EXPECT_FALSE(w.open("no_such_dir/x.bin"));
  EXPECT_FALSE(w.good());
  w.write_record(int4{1});
  EXPECT_FALSE(w.good());
  EXPECT_FALSE(w.close());
  UnformattedReader r;
  EXPECT_FALSE(r.open("missing.bin"));
  int4 v = 0;
  EXPECT_EQ(r.read_record(v), IoStatus::error);
}

}  // namespace
}  // namespace kinrad
