// Identifier lookup, text compaction, file deletion and the split of a range over processes;
// every expected value is worked out by hand from the rules of each routine.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "core/text_utils.hpp"
#include "support/module_reset.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

class TextUtils : public testing_support::ModuleReset {
 protected:
  static void set_offspring(const std::vector<std::string>& ids) {
    variables.smplsize = static_cast<int4>(ids.size());
    variables.offspringid.allocate(Dim(static_cast<index_t>(ids.size())));
    for (std::size_t i = 0; i < ids.size(); ++i)
      variables.offspringid(static_cast<index_t>(i + 1)) = ids[i];
  }
};

TEST_F(TextUtils, LocateoffspringFindsIdentifiersThroughTheSortingIndex) {
  // Input order: K7, a3, B2, Z, b1; by bytes: B2 (3), K7 (1), Z (4), a3 (2), b1 (5).
  set_offspring({"K7", "a3", "B2", "Z", "b1"});
  const std::vector<int4> idx = {3, 1, 4, 2, 5};
  struct Case {
    const char* id;
    int4 pos;
  };
  const Case cases[] = {{"B2", 3}, {"K7", 1}, {"Z", 4}, {"a3", 2},   {"b1", 5},
                        {"A", 0},  {"K", 0},  {"c", 0}, {"b1 x", 0}, {"", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    int4 pos = -1;
    locateoffspring(idx.data(), 5, FString<20>(c.id), pos);
    EXPECT_EQ(pos, c.pos);
  }
}

TEST_F(TextUtils, LocateoffspringWithASingleOffspring) {
  set_offspring({"only"});
  const int4 idx = 1;
  int4 pos = -1;
  locateoffspring(&idx, 1, FString<20>("only"), pos);
  EXPECT_EQ(pos, 1);
  locateoffspring(&idx, 1, FString<20>("other"), pos);
  EXPECT_EQ(pos, 0);
  locateoffspring(&idx, 1, FString<20>("a"), pos);
  EXPECT_EQ(pos, 0);
}

TEST_F(TextUtils, CleanstringDropsBlanksAndPutsOneAfterEachComma) {
  struct Case {
    std::string in;
    std::string out;  // str(1:n)
  };
  const std::vector<Case> cases = {
      {"a , b,c", "a, b, c"}, {"", ""},       {"      ", ""},
      {"  x  ", "x"},         {",,", ", , "}, {"T = 1.5 ,  L = -3", "T=1.5, L=-3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("'" + c.in + "'");
    FString<20> s(c.in);
    int4 n = -1;
    cleanstring(s, n);
    EXPECT_EQ(std::string(s.sub(1, static_cast<std::size_t>(n))), c.out);
  }
}

TEST_F(TextUtils, CleanstringLeavesTheRestAndNeverWritesPastItsBuffer) {
  // "a   b" becomes "ab" followed by what was there: positions 3 to 5 keep "  b".
  FString<5> s("a   b");
  int4 n = 0;
  cleanstring(s, n);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(s.view(), "ab  b");

  // The result "a, b, c" is one longer than the input "a,b,c": it is cut at the buffer's end.
  char buf[6] = {'a', ',', 'b', ',', 'c', '#'};
  cleanstring(buf, 5, n);
  EXPECT_EQ(n, 5);
  EXPECT_EQ(std::string(buf, 5), "a, b,");
  EXPECT_EQ(buf[5], '#');

  // A comma in the last position has no room for its blank.
  char buf2[4] = {'x', 'y', ',', '#'};
  cleanstring(buf2, 3, n);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(std::string(buf2, 4), "xy,#");
}

TEST_F(TextUtils, OpendeletefileDeletesAnExistingFileAndIgnoresAMissingOne) {
  testing_support::TempWorkDir dir("text_utils");
  testing_support::write_text("proj.MidResult1", "x");
  opendeletefile("proj.MidResult1     ");  // trailing blanks are not part of the name
  EXPECT_FALSE(std::filesystem::exists("proj.MidResult1"));
  opendeletefile("proj.MidResult1");  // no longer there: nothing happens
  opendeletefile("never-written");
  std::filesystem::create_directory("adir");
  opendeletefile("adir");  // not a file: left alone
  EXPECT_TRUE(std::filesystem::exists("adir"));
}

TEST_F(TextUtils, SetthreadtaskSplitsTheRangeInProcessOrder) {
  struct Case {
    int4 n, numthreads, threadid, first, last;
  };
  const Case cases[] = {
      {10, 3, 0, 1, 4}, {10, 3, 1, 5, 7},   {10, 3, 2, 8, 10},  // r = 1
      {9, 3, 0, 1, 3},  {9, 3, 2, 7, 9},                        // r = 0
      {11, 4, 2, 7, 9}, {11, 4, 3, 10, 11},                     // r = 3
      {2, 3, 2, 3, 2},                                          // more processes than items
      {7, 1, 0, 1, 7},  {0, 1, 0, 1, 0},    {-4, 1, 0, 1, 0},   // one process
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.n) + " items, process " + std::to_string(c.threadid) + " of " +
                 std::to_string(c.numthreads));
    variables.numthreads = c.numthreads;
    variables.threadid = c.threadid;
    int4 range[2] = {-1, -1};
    setthreadtask(c.n, range);
    EXPECT_EQ(range[0], c.first);
    EXPECT_EQ(range[1], c.last);
  }
}

}  // namespace
}  // namespace kinrad
