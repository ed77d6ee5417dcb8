// Parent-conflict lists. The oracle enumerates every pair directly: j is in i's list when the
// known parent of j is excluded by i or the known parent of i is excluded by j (exclusions
// looked up by a linear scan), the list is kept as it is up to n/2 entries and as its
// complement beyond, and equal stored lists share the row of their first appearance.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "core/error_stop.hpp"
#include "core/modules/variables.hpp"
#include "initialize_fixture.hpp"
#include "input/input.hpp"
#include "input/parent_conflicts_internal.hpp"
#include "project_file.hpp"
#include "support/expect_stop.hpp"

namespace kinrad {
namespace {

using inittest::InitializeTest;

struct Expected {
  std::vector<std::vector<int4>> count;              // [k][i]
  std::vector<std::vector<int4>> id;                 // [k][i]
  std::vector<std::vector<std::vector<int4>>> rows;  // [k][d - 1]: the d-th distinct list
  bool any[3] = {false, false, false};
};

bool oracle_excludes(const Excludedlist& e, int4 p) {
  bool listedp = false;
  for (index_t t = 1; t <= std::abs(e.count); ++t) listedp = listedp || e.list(t) == p;
  return e.count > 0 ? listedp : (e.count < 0 && !listedp);
}

Expected enumerate() {
  const auto& v = variables;
  const int4 n = v.smplsize;
  Expected x;
  x.count.assign(3, std::vector<int4>(static_cast<std::size_t>(n) + 1, 0));
  x.id = x.count;
  x.rows.resize(3);
  for (int k = 1; k <= 2; ++k) {
    bool anyknown = false;
    for (int4 i = 1; i <= n; ++i) anyknown = anyknown || v.indivparent(i, k) > 0;
    if (!anyknown || !v.excludedparent.allocated()) continue;
    for (int4 i = 1; i <= n; ++i) {
      std::vector<int4> s;
      for (int4 j = 1; j <= n; ++j) {
        if (j == i) continue;
        const int4 pj = v.indivparent(j, k), pi = v.indivparent(i, k);
        if ((pj > 0 && oracle_excludes(v.excludedparent(i, k), pj)) ||
            (pi > 0 && oracle_excludes(v.excludedparent(j, k), pi)))
          s.push_back(j);
      }
      if (s.empty()) continue;
      x.any[k] = true;
      std::vector<int4> stored = s;
      int4 count = static_cast<int4>(s.size());
      if (count > n / 2) {
        stored.clear();
        for (int4 j = 1; j <= n; ++j)
          if (std::find(s.begin(), s.end(), j) == s.end()) stored.push_back(j);
        count = -static_cast<int4>(stored.size());
      }
      x.count[k][i] = count;
      auto& rows = x.rows[k];
      const auto it = std::find(rows.begin(), rows.end(), stored);
      if (it == rows.end()) {
        rows.push_back(stored);
        x.id[k][i] = static_cast<int4>(rows.size());
      } else {
        x.id[k][i] = static_cast<int4>(it - rows.begin()) + 1;
      }
    }
  }
  return x;
}

void expect_conflicts(const Expected& x) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  for (int k = 1; k <= 2; ++k) EXPECT_EQ(v.anyprntconflictq(k), x.any[k] ? 1 : 0) << k;
  if (!x.any[1] && !x.any[2]) {
    EXPECT_FALSE(v.prntconflict.allocated());
    EXPECT_FALSE(v.prntconflictid.allocated());
    return;
  }
  for (int k = 1; k <= 2; ++k) {
    if (!x.any[k]) continue;  // rows of a sex without conflicts carry no meaning
    for (int4 i = 1; i <= n; ++i) {
      SCOPED_TRACE(testing::Message() << "sex " << k << " offspring " << i);
      ASSERT_EQ(v.prntconflict(i, k).count, x.count[k][i]);
      if (x.count[k][i] == 0) continue;
      ASSERT_EQ(v.prntconflictid(i, k), x.id[k][i]);
      const auto& want = x.rows[k][static_cast<std::size_t>(x.id[k][i] - 1)];
      const FArray<int4, 1>& got = v.prntconflict(v.prntconflictid(i, k), k).list;
      ASSERT_EQ(got.size(), static_cast<index_t>(want.size()));
      EXPECT_TRUE(std::equal(want.begin(), want.end(), got.data()));
    }
  }
}

class ParentConflicts : public InitializeTest {};

TEST_F(ParentConflicts, ListOfMoreThanHalfIsStoredAsComplement) {
  // Offspring 2, 3 and 4 have known father 1, which offspring 1 excludes: offspring 1 is in
  // conflict with the 3 others, more than 4 / 2, so it keeps {1} with count -1; each of the
  // others conflicts with offspring 1 only, and the three share the row of list {1}.
  setup(4, 1, 2, 2, 0);
  for (int4 i = 2; i <= 4; ++i) variables.indivparent(i, 1) = 1;
  allocate_exclusions();
  set_exclusion(1, 1, 1, {1});
  initialize();
  const auto& v = variables;
  EXPECT_EQ(v.anyprntconflictq(1), 1);
  EXPECT_EQ(v.anyprntconflictq(2), 0);
  EXPECT_EQ(v.prntconflict(1, 1).count, -1);
  for (int4 i = 1; i <= 4; ++i) EXPECT_EQ(v.prntconflictid(i, 1), 1) << i;
  ASSERT_EQ(v.prntconflict(1, 1).list.size(), 1);
  EXPECT_EQ(v.prntconflict(1, 1).list(1), 1);
  for (int4 i = 2; i <= 4; ++i) EXPECT_EQ(v.prntconflict(i, 1).count, 1) << i;
  expect_conflicts(enumerate());
}

TEST_F(ParentConflicts, SecondPassEntriesAreSortedAndEqualListsShareARow) {
  // Six offspring, three candidate mothers. Offspring 5 has known mother 2; offspring 1 and 3
  // exclude mother 2, offspring 6 allows only mother 3 (so it excludes 2 as well). Offspring 5
  // conflicts with 1, 3 and 6 (3 entries, not more than 6 / 2, kept and ascending); 1, 3 and
  // 6 each conflict with 5 alone and share one row.
  setup(6, 1, 2, 0, 3);
  variables.indivparent(5, 2) = 2;
  allocate_exclusions();
  set_exclusion(6, 2, -1, {3});
  set_exclusion(3, 2, 1, {2});
  set_exclusion(1, 2, 1, {2});
  initialize();
  const auto& v = variables;
  EXPECT_EQ(v.prntconflict(5, 2).count, 3);
  EXPECT_EQ(v.prntconflict(1, 2).count, 1);
  EXPECT_EQ(v.prntconflictid(1, 2), 1);
  EXPECT_EQ(v.prntconflictid(3, 2), 1);
  EXPECT_EQ(v.prntconflictid(6, 2), 1);
  EXPECT_EQ(v.prntconflictid(5, 2), 2);
  EXPECT_EQ(v.prntconflict(2, 2).count, 0);
  const FArray<int4, 1>& list = v.prntconflict(2, 2).list;  // the second distinct list
  ASSERT_EQ(list.size(), 3);
  EXPECT_EQ(list(1), 1);
  EXPECT_EQ(list(2), 3);
  EXPECT_EQ(list(3), 6);
  expect_conflicts(enumerate());
}

TEST_F(ParentConflicts, NoConflictLeavesTheTablesUnallocated) {
  struct Row {
    const char* what;
    bool exclusions;
    int4 knownfather;
  };
  for (const Row& r : {Row{"no exclusion table", false, 1}, Row{"no known parent", true, -1},
                       Row{"exclusion of another candidate", true, 2}}) {
    SCOPED_TRACE(r.what);
    setup(3, 1, 2, 2, 2);
    variables.indivparent(2, 1) = r.knownfather;
    if (r.exclusions) {
      allocate_exclusions();
      set_exclusion(1, 1, 1, {1});
      set_exclusion(3, 2, 1, {2});
    }
    initialize();
    EXPECT_EQ(variables.anyprntconflictq(1), 0);
    EXPECT_EQ(variables.anyprntconflictq(2), 0);
    EXPECT_FALSE(variables.prntconflict.allocated());
    EXPECT_FALSE(variables.prntconflictid.allocated());
  }
}

TEST_F(ParentConflicts, RandomSamplesMatchDirectEnumeration) {
  std::mt19937 rng(20240611);
  int complements = 0;  // lists stored as their complement
  int shared = 0;       // sexes of a trial where two offspring share a row
  for (int trial = 0; trial < 200; ++trial) {
    const int4 n = 1 + static_cast<int4>(rng() % 14);
    const int4 c1 = static_cast<int4>(rng() % 6), c2 = static_cast<int4>(rng() % 6);
    SCOPED_TRACE(testing::Message() << "trial " << trial << " n " << n);
    setup(n, 1, 2, c1, c2);
    allocate_exclusions();
    const int4 counts[3] = {0, c1, c2};
    for (int k = 1; k <= 2; ++k) {
      const int4 nc = counts[k];
      if (nc == 0) continue;
      for (int4 i = 1; i <= n; ++i) {
        if (rng() % 3 == 0) {
          variables.indivparent(i, k) = 1 + static_cast<int4>(rng() % static_cast<unsigned>(nc));
          continue;  // the reader drops exclusions of an offspring with a known parent
        }
        if (rng() % 2 == 0) continue;
        std::vector<int4> excluded;
        for (int4 p = 1; p <= nc; ++p)
          if (rng() % 2 == 0) excluded.push_back(p);
        if (excluded.empty()) continue;
        const int4 m = static_cast<int4>(excluded.size());
        if (m > nc / 2 && m < nc) {
          std::vector<int4> allowed;
          for (int4 p = 1; p <= nc; ++p)
            if (std::find(excluded.begin(), excluded.end(), p) == excluded.end())
              allowed.push_back(p);
          set_exclusion(i, k, -static_cast<int4>(allowed.size()), allowed);
        } else {
          set_exclusion(i, k, m, excluded);
        }
      }
    }
    const Expected x = enumerate();
    for (int k = 1; k <= 2; ++k) {
      int4 nonempty = 0;
      for (int4 i = 1; i <= n; ++i) {
        nonempty += x.count[k][i] != 0 ? 1 : 0;
        if (x.count[k][i] < 0) ++complements;
      }
      if (nonempty > static_cast<int4>(x.rows[k].size())) ++shared;
    }
    initialize();
    expect_conflicts(x);
    if (testing::Test::HasFatalFailure()) return;

    // The estimate bounds what the stored lists take.
    int8 stored = 0;
    for (int k = 1; k <= 2; ++k)
      for (const auto& row : x.rows[k]) stored += static_cast<int8>(row.size() * sizeof(int4));
    EXPECT_GE(parent_conflict_memory_estimate(), stored);
  }
  // The samples exercise both stored forms and the sharing of rows.
  EXPECT_GT(complements, 10);
  EXPECT_GT(shared, 20);
}

TEST_F(ParentConflicts, EstimateAboveTheLimitStopsThroughTheMemoryFlag) {
  setup(4, 1, 2, 2, 0);
  for (int4 i = 2; i <= 4; ++i) variables.indivparent(i, 1) = 1;
  allocate_exclusions();
  set_exclusion(1, 1, 1, {1});
  const int8 estimate = parent_conflict_memory_estimate();
  ASSERT_GT(estimate, 0);
  testing_support::expect_stop([&] { build_parent_conflicts(estimate - 1); }, "Initialize",
                               {.flag = 0});
  build_parent_conflicts(estimate);
  EXPECT_EQ(variables.anyprntconflictq(1), 1);
}

class ParentConflictsFromInput : public readtest::ReaderTest {};

TEST_F(ParentConflictsFromInput, ListsFromTheReadersExclusions) {
  // Offspring A to F; B and C have known father F1; A excludes F1, D excludes F1 and F2. A
  // and D conflict with B and C ({2, 3}); B and C conflict with A and D ({1, 4}).
  readtest::ProjectFile p;
  p.loci = 1;
  for (const char* id : {"A", "B", "C", "D", "E", "F"})
    p.offspring.push_back(std::string(id) + " 1 2");
  p.fathers = {"F1 1 2", "F2 1 2"};
  p.mothers = {"M1 1 2"};
  p.knownpaternity = "2 0\nB F1\nC F1";
  p.excludedpaternity = "2\nA 1 F1\nD 2 F1 F2";
  ASSERT_EQ(run(p), 0) << errorfile;
  initialize();
  const auto& v = variables;
  const int4 count[7] = {0, 2, 2, 2, 2, 0, 0};
  const int4 row[7] = {0, 1, 2, 2, 1, 0, 0};
  for (int4 i = 1; i <= 6; ++i) {
    EXPECT_EQ(v.prntconflict(i, 1).count, count[i]) << i;
    if (count[i] != 0) {
      EXPECT_EQ(v.prntconflictid(i, 1), row[i]) << i;
    }
  }
  EXPECT_EQ(v.prntconflict(1, 1).list(1), 2);
  EXPECT_EQ(v.prntconflict(1, 1).list(2), 3);
  EXPECT_EQ(v.prntconflict(2, 1).list(1), 1);
  EXPECT_EQ(v.prntconflict(2, 1).list(2), 4);
  EXPECT_EQ(v.anyprntconflictq(2), 0);
  expect_conflicts(enumerate());
}

}  // namespace
}  // namespace kinrad
