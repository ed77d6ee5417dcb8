// The support of the whole-analysis checks: the partition distance against a breadth-first
// search over single moves (tiny partitions), the truth files as their own text states them,
// the count of true parents on a hand-made case, and the check of the result writer's state on
// a whole run of the small project (and that it finds faults put into that state).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <queue>
#include <sstream>
#include <string>
#include <vector>

#include "support/archive_builder.hpp"
#include "support/pedigree_score.hpp"
#include "support/result_writer_state.hpp"
#include "support/run_stage.hpp"
#include "support/temp_dir.hpp"
#include "support/truth_check.hpp"

namespace kinrad::test {
namespace {

using namespace testing_support;

// The canonical form of a partition (labels renumbered by first appearance).
std::vector<int> canonical(const std::vector<int>& p) {
  return partition_labels(p);
}

// Breadth-first search over partitions, one item moved to another block (or a new one) per
// step: the fewest moves from a to every partition of its items.
std::map<std::vector<int>, int> moves_by_search(const std::vector<int>& a) {
  std::map<std::vector<int>, int> dist;
  std::queue<std::vector<int>> q;
  dist[canonical(a)] = 0;
  q.push(canonical(a));
  while (!q.empty()) {
    const auto p = q.front();
    q.pop();
    const int d = dist[p];
    const int top = *std::max_element(p.begin(), p.end());
    for (std::size_t i = 0; i < p.size(); ++i)
      for (int l = 1; l <= top + 1; ++l) {
        if (l == p[i]) continue;
        auto r = p;
        r[i] = l;
        r = canonical(r);
        if (dist.emplace(r, d + 1).second) q.push(r);
      }
  }
  return dist;
}

TEST(TruthCheck, PartitionDistanceIsTheFewestMoves) {
  for (int n = 1; n <= 5; ++n) {
    const auto parts = all_partitions(n);
    for (const auto& a : parts) {
      const std::vector<int> a2(a.begin(), a.end());
      const auto dist = moves_by_search(a2);
      for (const auto& b : parts) {
        // Labels of b scrambled: the distance does not depend on them.
        std::vector<int> b2(b.begin(), b.end());
        for (int& x : b2) x = 7 * x + 3;
        ASSERT_EQ(partition_distance(a2, b2), dist.at(canonical(b2))) << "n " << n;
      }
    }
  }
  // A larger case by hand: blocks {1,2,3,4}, {5,6}, {7} against {1,2}, {3,4,5,6}, {7}: move 3
  // and 4 (2 moves).
  EXPECT_EQ(partition_distance({1, 1, 1, 1, 2, 2, 3}, {1, 1, 2, 2, 2, 2, 3}), 2);
}

TEST(TruthCheck, TruthFilesAsTheyStand) {
  const auto k = read_truth(std::string(KINRAD_TESTS_DIR) + "/../examples/kinrad2.truth.txt");
  ASSERT_EQ(k.size(), 60u);
  EXPECT_EQ(k[0].offspring, "Off_01");
  EXPECT_EQ(k[0].father, "Male_06");
  EXPECT_EQ(k[0].mother, "UM05");
  EXPECT_EQ(k[59].offspring, "Off_60");
  // The file's own full-sib family column (its fourth) is the partition by parent pairs.
  std::ifstream in(std::string(KINRAD_TESTS_DIR) + "/../examples/kinrad2.truth.txt");
  std::string line;
  std::vector<int> fullsib;
  bool table = false;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string a, b, c;
    int f = 0;
    if (!(ls >> a) || a[0] == '#') continue;
    if (a == "OFFSPRING") table = true;
    if (a == "CANDIDATES") table = false;
    if (table && a != "OFFSPRING" && (ls >> b >> c >> f)) fullsib.push_back(f);
  }
  ASSERT_EQ(fullsib.size(), 60u);
  EXPECT_EQ(partition_distance(true_fullsib_partition(k), fullsib), 0);

  const std::string shrimp =
      std::string(KINRAD_TESTS_DIR) + "/../../shared/data/shrimp/shrimp.truth";
  if (!std::filesystem::exists(shrimp)) GTEST_SKIP() << "no shared shrimp data beside the checkout";
  const auto s = read_truth(shrimp);
  ASSERT_EQ(s.size(), 59u);
  EXPECT_EQ(s[0].offspring, "S1570");
  EXPECT_EQ(s[0].father, "S221");
  EXPECT_EQ(s[0].mother, "S376");
  const auto p = true_fullsib_partition(s);
  EXPECT_EQ(*std::max_element(p.begin(), p.end()), 13);  // 13 full-sib families
}

TEST(TruthCheck, TruePartitionAgainstAConfiguration) {
  const std::vector<TruthRow> truth = {{"a", "F1", "M1"},
                                       {"b", "F1", "M1"},
                                       {"c", "F1", "M2"},
                                       {"d", "UF1", "M2"},
                                       {"e", "UF1", "M2"}};
  // Families (1,1), (1,1), (1,2), (2,2), (1,2): offspring 5 sits with 3 instead of 4.
  const auto p = fullsib_partition({1, 1, 1, 2, 1}, {1, 1, 2, 2, 2});
  EXPECT_EQ(partition_distance(true_fullsib_partition(truth), p), 1);
}

TEST(TruthCheck, CountsOfTrueParentsAssigned) {
  const std::vector<TruthRow> truth = {
      {"a", "F1", "M1"}, {"b", "F2", "M1"}, {"c", "UF1", "M2"}, {"d", "F2", "UM1"}};
  const std::vector<std::string> cands[2] = {{"", "F1", "F2"}, {"", "M1", "M2"}};
  BestColumns best;
  best.dad = {1, 1, 0, 2};  // b gets the wrong father
  best.mum = {1, 0, 2, 1};  // b's mother is known (below); d gets a mother who is not its own
  const std::vector<int> known[2] = {{}, {0, 1, 0, 0}};
  const ParentCounts pc = count_true_parents(truth, best, cands, known);
  // By hand: candidate parents a F1 M1, b F2 M1, c M2, d F2: 6 entries; found a F1, a M1,
  // b M1 (known), c M2, d F2: 5; both found: a; wrong: b's father, d's mother.
  EXPECT_EQ(pc.entries, 6);
  EXPECT_EQ(pc.found, 5);
  EXPECT_EQ(pc.both_found, 1);
  EXPECT_EQ(pc.wrong, 2);
}

TEST(TruthCheck, BestConfigurationFromAStateCheckpoint) {
  TempWorkDir dir("truth_midresult2");
  // Two offspring: the current configuration's five columns, the empty record, the best's.
  write_text("x.MidResult2",
             "           2\n 1 2\n 1 1\n 1 1\n 0 0\n 0 0\n\n 2 1\n 1 2\n 1 2\n 3 0\n 0 4\n"
             "-1.0E+01,-2.0E+01,\n");
  const BestColumns b = read_best_configuration("x.MidResult2");
  EXPECT_EQ(b.fam1, (std::vector<int>{2, 1}));
  EXPECT_EQ(b.fam2, (std::vector<int>{1, 2}));
  EXPECT_EQ(b.clust, (std::vector<int>{1, 2}));
  EXPECT_EQ(b.dad, (std::vector<int>{3, 0}));
  EXPECT_EQ(b.mum, (std::vector<int>{0, 4}));
}

// A pedigree by name turned into the search's columns, worked out by hand: five offspring,
// fathers F1, F2 and mother M1 candidates, offspring d's mother known.
TEST(TruthCheck, PedigreeColumnsFromNames) {
  reset_all_modules();
  auto& v = variables;
  v.smplsize = 5;
  v.offspringid.allocate(5);
  const char* ids[] = {"a", "b", "c", "d", "e"};
  for (int4 i = 1; i <= 5; ++i) v.offspringid(i) = ids[i - 1];
  v.numcandidate(1) = 2;
  v.numcandidate(2) = 1;
  v.cndparentid.allocate(Dim(0, 2), 2);
  v.cndparentid(1, 1) = "F1";
  v.cndparentid(2, 1) = "F2";
  v.cndparentid(1, 2) = "M1";
  v.indivparent.allocate(5, 2);
  v.indivparent.fill(-1);
  v.indivparent(4, 2) = 1;
  // Given out of the sample's order: rows are matched by offspring name.
  const std::vector<TruthRow> rows = {{"e", "F2", "UM3"},
                                      {"a", "F1", "M1"},
                                      {"b", "F1", "UM1"},
                                      {"c", "UF1", "UM2"},
                                      {"d", "UF2", "M1"}};
  const PedigreeColumns c = pedigree_columns(rows_in_sample_order(rows));
  // Fathers by first appearance F1 1, UF1 2, UF2 3, F2 4; mothers M1 1, UM1 2, UM2 3, UM3 4.
  // a, b share F1 and a, d share M1: one cluster; c and e alone. d's known mother is not
  // written as assigned.
  const int4 want[5][5] = {
      {1, 1, 1, 1, 1}, {1, 2, 1, 1, 0}, {2, 3, 2, 0, 0}, {3, 1, 1, 0, 0}, {4, 4, 3, 2, 0}};
  for (int4 i = 1; i <= 5; ++i) {
    SCOPED_TRACE(ids[i - 1]);
    EXPECT_EQ(c.loc(i, 1), want[i - 1][0]);
    EXPECT_EQ(c.loc(i, 2), want[i - 1][1]);
    EXPECT_EQ(c.loc(i, 3), want[i - 1][2]);
    EXPECT_EQ(c.parent(i, 1), want[i - 1][3]);
    EXPECT_EQ(c.parent(i, 2), want[i - 1][4]);
  }
  EXPECT_EQ(c.nclust, 3);
  // A pedigree that contradicts a known parent, or lacks an offspring, is refused.
  auto wrong = rows_in_sample_order(rows);
  wrong[3].mother = "UM9";
  EXPECT_THROW(pedigree_columns(wrong), std::runtime_error);
  EXPECT_THROW(rows_in_sample_order({rows.begin(), rows.begin() + 4}), std::runtime_error);
  reset_all_modules();
}

// A whole run of the small project (two runs, so that the best run is chosen and reloaded),
// then the state the result writer reads; and faults put into that state are found.
TEST(ResultWriterStateSlow, SmallProjectAfterSelectrun) {
  TempWorkDir dir("result_writer_state");
  write_text("kinrad2.dat",
             read_text(std::string(KINRAD_TESTS_DIR) +
                       "/e2e/cases/small_project_runs_to_the_end/input/kinrad2.dat"));
  reset_all_modules();
  const StageOutcome o = run_stage([] { run_until_selectrun({"VER:0"}); });
  ASSERT_FALSE(o.stopped) << o.errorfile;
  EXPECT_EQ(check_result_writer_state(), "");

  auto& v = variables;
  // A scratch mark left set.
  if (v.selectedfamily.allocated()) {
    v.selectedfamily(v.selectedfamily.lbound(1)) = 1;
    EXPECT_NE(check_result_writer_state().find("selectedfamily"), std::string::npos);
    v.selectedfamily(v.selectedfamily.lbound(1)) = 0;
  }
  // A best configuration other than the archive's head.
  const int4 keep = v.btindivloc(1, 3);
  v.btindivloc(1, 3) = v.btnumfamily(3) + 1;
  EXPECT_NE(check_result_writer_state().find("head differs"), std::string::npos);
  v.btindivloc(1, 3) = keep;
  // A current configuration whose cluster sizes are stale.
  const int4 c = v.crindivloc(1, 3);
  ++annealvariables.clustersizet(c);
  EXPECT_NE(check_result_writer_state().find("clustersizet"), std::string::npos);
  --annealvariables.clustersizet(c);
  EXPECT_EQ(check_result_writer_state(), "");
}

}  // namespace
}  // namespace kinrad::test
