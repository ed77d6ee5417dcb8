// The index sorts and the bisection search. The permutations of the table file come from an
// independent transliteration of the sorts' steps (tools/sorting_tables); the small cases
// below are traced by hand.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "core/sorting.hpp"
#include "support/module_reset.hpp"

namespace kinrad {
namespace {

class Sorting : public testing_support::ModuleReset {
 protected:
  // The scratch array the linear-time sorts borrow, zero-filled as the start-up leaves it.
  static void allocate_scratch(int4 size) { annealvariables.selectedprntidxq1.allocate(Dim(size)); }
  static bool scratch_all_zero() {
    for (const int4 v : annealvariables.selectedprntidxq1)
      if (v != 0) return false;
    return true;
  }
};

std::vector<int4> run_indexx(const std::vector<real8>& keys) {
  std::vector<int4> indx(keys.size() + 1, -99);
  indexx(static_cast<int4>(keys.size()), keys.data(), indx.data());
  EXPECT_EQ(indx.back(), -99) << "wrote past n";
  indx.pop_back();
  return indx;
}

TEST_F(Sorting, IndexxSmallCasesTracedByHand) {
  struct Case {
    std::vector<real8> keys;
    std::vector<int4> indx;
  };
  const std::vector<Case> cases = {
      {{}, {}},
      {{4.0}, {1}},
      {{2.0, 1.0}, {2, 1}},
      // already in order, ties included: the identity without sorting
      {{1.0, 1.0, 2.0, 2.0, 2.0, 3.0, 3.0, 9.0, 9.0}, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
      // descending, distinct: the reverse
      {{9.0, 8.0, 7.0, 6.0, 5.0, 4.0, 3.0, 2.0, 1.0}, {9, 8, 7, 6, 5, 4, 3, 2, 1}},
      // short piece: straight insertion keeps equal keys in input order
      {{2.0, 1.0, 2.0, 1.0, 0.5}, {5, 2, 4, 1, 3}},
      // eight keys: one partition about the median of three, then insertion of both pieces
      {{3.0, 1.0, 2.0, 3.0, 1.0, 2.0, 3.0, 1.0}, {8, 2, 5, 6, 3, 4, 7, 1}},
  };
  for (std::size_t c = 0; c < cases.size(); ++c) {
    SCOPED_TRACE("case " + std::to_string(c));
    EXPECT_EQ(run_indexx(cases[c].keys), cases[c].indx);
  }
}

struct TableCase {
  std::string kind;
  int4 n = 0;
  std::vector<std::string> keys;
  std::vector<int4> indx;
  std::string line;
};

std::vector<TableCase> read_table() {
  std::ifstream in(std::string(KINRAD_TEST_DATA_DIR) + "/sorting_index.txt");
  EXPECT_TRUE(in.good());
  std::vector<TableCase> cases;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream s(line);
    TableCase c;
    c.line = line.substr(0, 60);
    s >> c.kind >> c.n;
    std::string tok;
    for (int4 i = 0; i < c.n; ++i) {
      s >> tok;
      c.keys.push_back(tok);
    }
    s >> tok;
    EXPECT_EQ(tok, "|");
    for (int4 i = 0; i < c.n; ++i) {
      int4 v = 0;
      s >> v;
      c.indx.push_back(v);
    }
    cases.push_back(std::move(c));
  }
  return cases;
}

TEST_F(Sorting, IndexxAndIndexchOnManyTiesMatchTheReferencePermutations) {
  const auto cases = read_table();
  ASSERT_GT(cases.size(), 50u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    std::vector<int4> indx(static_cast<std::size_t>(c.n));
    if (c.kind == "x") {
      std::vector<real8> keys;
      for (const auto& k : c.keys) keys.push_back(std::stod(k));
      indexx(c.n, keys.data(), indx.data());
    } else {
      std::vector<FString<4>> keys;
      for (std::string k : c.keys) {
        for (char& ch : k)
          if (ch == '_') ch = ' ';
        keys.emplace_back(k);
      }
      indexch(c.n, keys.data(), indx.data());
    }
    EXPECT_EQ(indx, c.indx);
  }
}

TEST_F(Sorting, IndexchComparesUnsignedBytesOverTheWholeLength) {
  // "ab" and "ab " are equal texts; a byte above 127 sorts after every ASCII letter.
  std::vector<FString<3>> keys = {"b", "\xE9", "ab", "a", "ab "};
  std::vector<int4> indx(keys.size());
  indexch(static_cast<int4>(keys.size()), keys.data(), indx.data());
  EXPECT_EQ(indx, (std::vector<int4>{4, 3, 5, 1, 2}));
}

TEST_F(Sorting, IndexquickOrdersDistinctKeysAndLeavesTheScratchZero) {
  variables.smplsize = 9;
  allocate_scratch(9);
  struct Case {
    std::vector<int4> keys;
    std::vector<int4> idx;
  };
  const std::vector<Case> cases = {
      {{}, {}},
      {{7}, {1}},
      {{9, 2, 5}, {2, 3, 1}},
      {{1, 9}, {1, 2}},
      // all of 1..smplsize: the permutation is inverted directly
      {{3, 1, 2, 9, 8, 7, 4, 5, 6}, {2, 3, 1, 7, 8, 9, 6, 5, 4}},
  };
  for (std::size_t c = 0; c < cases.size(); ++c) {
    SCOPED_TRACE("case " + std::to_string(c));
    std::vector<int4> idx(cases[c].keys.size());
    indexquick(static_cast<int4>(idx.size()), cases[c].keys.data(), idx.data());
    EXPECT_EQ(idx, cases[c].idx);
    EXPECT_TRUE(scratch_all_zero());
  }
}

TEST_F(Sorting, Indexquick2IsStableAndLeavesTheScratchZero) {
  allocate_scratch(12);
  struct Case {
    std::vector<int4> keys;
    std::vector<int4> idx;
  };
  const std::vector<Case> cases = {
      {{5, 3, 5, 1}, {4, 2, 1, 3}},
      {{}, {}},
      {{12}, {1}},
      {{4, 4, 4}, {1, 2, 3}},
      // the smallest key is 1 and the largest the scratch size; gaps between keys
      {{12, 1, 7, 1, 12, 7, 3}, {2, 4, 7, 3, 6, 1, 5}},
      {{2, 1, 2, 1, 2, 1}, {2, 4, 6, 1, 3, 5}},
  };
  for (std::size_t c = 0; c < cases.size(); ++c) {
    SCOPED_TRACE("case " + std::to_string(c));
    std::vector<int4> idx(cases[c].keys.size());
    indexquick2(static_cast<int4>(idx.size()), cases[c].keys.data(), idx.data());
    EXPECT_EQ(idx, cases[c].idx);
    EXPECT_TRUE(scratch_all_zero());
  }
}

TEST_F(Sorting, LocateBisectsTheAscendingTable) {
  const std::vector<real4> xx = {0.1f, 0.25f, 0.25f, 0.5f, 1.0f};
  struct Case {
    real4 x;
    int4 j;
  };
  const std::vector<Case> cases = {
      {0.0f, 0},              // below the table
      {0.1f, 1},              // equal to the first entry
      {0.2f, 1}, {0.25f, 3},  // the last of equal entries
      {0.7f, 4}, {1.0f, 4},   // equal to the last entry: n - 1
      {2.0f, 5},              // above the table
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("x = " + std::to_string(c.x));
    int4 j = -1;
    locate(xx.data(), 5, c.x, j);
    EXPECT_EQ(j, c.j);
  }
  const real4 one = 0.5f;
  int4 j = -1;
  locate(&one, 1, 0.5f, j);
  EXPECT_EQ(j, 1);
  locate(&one, 1, 0.7f, j);
  EXPECT_EQ(j, 1);
  locate(&one, 1, 0.3f, j);
  EXPECT_EQ(j, 0);
}

}  // namespace
}  // namespace kinrad
