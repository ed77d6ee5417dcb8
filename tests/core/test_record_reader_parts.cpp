// List-directed statements read in parts, and the count of values the rest of a file can
// supply. Expected values are read off the texts by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/fixed_string.hpp"
#include "core/record_reader.hpp"

namespace kinrad {
namespace {

TEST(RecordReaderParts, CountReadWithinTheStatement) {
  // The count 3 stands on the second record, its values on the third and fourth; the next
  // statement starts at the record after the last value.
  RecordReader r = RecordReader::from_text("A\n3 x\ny z tail\nnext\n");
  ASSERT_TRUE(r.begin_list(true));
  FString<20> id;
  int n = 0;
  ASSERT_TRUE(r.list_part(id, n));
  EXPECT_EQ(id, FString<20>("A"));
  EXPECT_EQ(n, 3);
  std::vector<std::string> got;
  for (int k = 0; k < n; ++k) {
    std::string v;
    ASSERT_TRUE(r.list_part(v));
    got.push_back(v);
  }
  EXPECT_EQ(r.end_list(), IoStatus::ok);
  EXPECT_EQ(got, (std::vector<std::string>{"x", "y", "z"}));
  std::string next;
  EXPECT_EQ(r.read_list(next), IoStatus::ok);
  EXPECT_EQ(next, "next");
}

TEST(RecordReaderParts, StatusOfAStatementInParts) {
  struct Row {
    const char* what;
    std::string text;
    int values;  // values asked after the head item
    IoStatus status;
  };
  const std::vector<Row> rows = {
      {"all there", "1 2 3\n", 2, IoStatus::ok},
      {"end of file", "1 2\n", 3, IoStatus::end},
      {"not an integer", "1 2 x\n", 3, IoStatus::error},
      {"strict: a slash is an error", "1 2 /\n", 3, IoStatus::error},
      {"strict: a null value is an error", "1,,2\n", 2, IoStatus::error},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    RecordReader r = RecordReader::from_text(row.text);
    ASSERT_TRUE(r.begin_list(true));
    int head = 0;
    bool ok = r.list_part(head);
    for (int k = 0; ok && k < row.values; ++k) {
      int v = 0;
      ok = r.list_part(v);
    }
    EXPECT_EQ(ok, row.status == IoStatus::ok);
    EXPECT_EQ(r.end_list(), row.status);
  }
  // A statement begun past the end of the file.
  RecordReader r = RecordReader::from_text("");
  EXPECT_FALSE(r.begin_list(true));
  int v = 0;
  EXPECT_FALSE(r.list_part(v));
  EXPECT_EQ(r.end_list(), IoStatus::end);
}

TEST(RecordReaderParts, ValuesLeft) {
  struct Row {
    const char* what;
    std::string text;
    int skip;  // records read before counting
    long long limit;
    long long expected;
  };
  const std::vector<Row> rows = {
      {"blanks, tabs and commas", "a b\tc,d\r\n  e\n", 0, 100, 5},
      {"after two records", "1\n2 3\n4 5 6\n", 2, 100, 3},
      {"repeat counts", "3*7 2* x\n", 0, 100, 6},
      {"a star that is no repeat count", "a*3 *4\n", 0, 100, 2},
      {"cut at the limit", "1 2 3 4 5 6\n", 0, 4, 4},
      {"a huge repeat count is cut at the limit", "99999999999999999999999*1\n", 0, 1000, 1000},
      {"empty file", "", 0, 100, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    RecordReader r = RecordReader::from_text(row.text);
    std::string line;
    for (int k = 0; k < row.skip; ++k) ASSERT_EQ(r.read_line(line), IoStatus::ok);
    EXPECT_EQ(r.values_left(row.limit), row.expected);
  }
}

}  // namespace
}  // namespace kinrad
