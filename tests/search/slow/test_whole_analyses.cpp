// Whole analyses in-process, up to the choice of the best run, on the three samples whose true
// pedigree is known: the example project (60 offspring, 8 candidates of each sex, known and
// excluded relationships, allele frequencies updated during the run) and a real sample of 59
// offspring in 13 full-sib families, once with its true parents as candidates and once without
// candidates (beside the checkout in the shared data). For each:
//  - the state the result writer then reads is complete and consistent;
//  - the best configuration of the final state checkpoint is close to the truth (full-sib
//    partition distance, true parents assigned or known);
//  - the best score is not below the score of the true configuration by more than 1: the true
//    pedigree is turned into the search's columns and scored by the configuration model on the
//    same data and state, the scorer first shown to give the best configuration's own score
//    when fed the best configuration, both from the checkpoint's columns and from the pedigree
//    those columns stand for (names in, ids rebuilt).
// And the result writer's state after a very short run of every sample of the soak matrix.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "configuration/soak/soak_matrix.hpp"
#include "core/modules.hpp"
#include "support/pauses.hpp"
#include "support/pedigree_score.hpp"
#include "support/result_writer_state.hpp"
#include "support/run_stage.hpp"
#include "support/temp_dir.hpp"
#include "support/truth_check.hpp"

namespace kinrad::test {
namespace {

namespace fs = std::filesystem;
using namespace testing_support;

const fs::path kShrimp = fs::path(KINRAD_TESTS_DIR) / ".." / ".." / "shared" / "data" / "shrimp";

struct Analysis {
  std::vector<TruthRow> truth;  // in the sample's offspring order
  BestColumns best;
  ConfigurationScore truescore, bestscore;
  ParentCounts parents;
  int misplaced = 0;  // full-sib partition distance of the best configuration to the truth
};

// The whole analysis of one project file and its comparison with the truth; the scores and the
// time are printed to the test log.
Analysis analyse(const fs::path& data, const fs::path& truthfile) {
  Analysis a;
  RecordedPauses pauses;
  TempWorkDir dir("whole_" + data.stem().string());
  write_text("kinrad2.dat", read_text(data.string()));
  reset_all_modules();
  const auto started = std::chrono::steady_clock::now();
  const StageOutcome o = run_stage([] { run_until_selectrun({"VER:0"}); });
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  EXPECT_FALSE(o.stopped) << o.errorfile;
  if (o.stopped) return a;
  EXPECT_EQ(check_result_writer_state(), "");

  auto& v = variables;
  a.truth = rows_in_sample_order(read_truth(truthfile.string()));
  a.best = read_best_configuration(std::string(trim(v.midfilename(1).view())));

  // The scorer on the best configuration: its own columns, then rebuilt from its pedigree.
  PedigreeColumns own = best_columns(a.best);
  a.bestscore = score_configuration(own);
  EXPECT_NEAR(a.bestscore.total, v.btloglikelihood, 1e-8) << "the best configuration rescored";
  PedigreeColumns again = pedigree_columns(pedigree_of(own));
  const ConfigurationScore rebuilt = score_configuration(again);
  EXPECT_NEAR(rebuilt.total, v.btloglikelihood, 1e-8) << "the best configuration rebuilt";

  PedigreeColumns truecols = pedigree_columns(a.truth);
  a.truescore = score_configuration(truecols);

  std::vector<std::string> cands[2];
  std::vector<int> known[2];
  for (int4 s = 1; s <= 2; ++s) {
    cands[s - 1].push_back("");
    for (int4 j = 1; j <= v.numcandidate(s); ++j)
      cands[s - 1].push_back(std::string(trim(v.cndparentid(j, s).view())));
    if (v.indivparent.allocated())
      for (int4 i = 1; i <= v.smplsize; ++i) known[s - 1].push_back(v.indivparent(i, s));
  }
  // The true configuration is one the search may reach: it breaks no constraint of the data.
  EXPECT_EQ(validate_columns(truecols), "") << "the true configuration";
  a.parents = count_true_parents(a.truth, a.best, cands, known);
  a.misplaced = partition_distance(true_fullsib_partition(a.truth),
                                   fullsib_partition(a.best.fam1, a.best.fam2));
  std::printf(
      "  %s: %.1f s; best %.8f (families %.8f, prior %.8f, candidates %.8f); true "
      "%.8f (families %.8f, prior %.8f, candidates %.8f); misplaced %d; true parents %d of %d, "
      "both %d, wrong %d\n",
      data.filename().c_str(), took.count(), v.btloglikelihood, a.bestscore.clusters,
      a.bestscore.prior, a.bestscore.candidates, a.truescore.total, a.truescore.clusters,
      a.truescore.prior, a.truescore.candidates, a.misplaced, a.parents.found, a.parents.entries,
      a.parents.both_found, a.parents.wrong);
  // A best below the truth would be a configuration the search should have found.
  EXPECT_GE(v.btloglikelihood, a.truescore.total - 1.0) << "the best scores below the truth";
  if (v.btloglikelihood < a.truescore.total - 1.0) {
    std::printf(
        "  offspring, true father and mother | best and true columns (families, cluster, "
        "assigned father and mother), known parents\n");
    for (int4 i = 1; i <= v.smplsize; ++i) {
      const auto k = static_cast<std::size_t>(i - 1);
      std::printf("  %-8s %-10s %-10s | %3d %3d %3d %2d %2d | %3d %3d %3d %2d %2d | %2d %2d\n",
                  a.truth[k].offspring.c_str(), a.truth[k].father.c_str(),
                  a.truth[k].mother.c_str(), a.best.fam1[k], a.best.fam2[k], a.best.clust[k],
                  a.best.dad[k], a.best.mum[k], truecols.loc(i, 1), truecols.loc(i, 2),
                  truecols.loc(i, 3), truecols.parent(i, 1), truecols.parent(i, 2),
                  v.indivparent.allocated() ? v.indivparent(i, 1) : 0,
                  v.indivparent.allocated() ? v.indivparent(i, 2) : 0);
    }
  }
  reset_all_modules();
  return a;
}

// The example has known parents of both sexes: the other offspring of their families must
// join them (a known parent lives only in indivparent, so the family carries it to them).
TEST(WholeAnalysisSlow, ExampleProjectAgainstItsTruth) {
  const fs::path ex = fs::path(KINRAD_TESTS_DIR) / ".." / "examples";
  const Analysis a = analyse(ex / "kinrad2.dat", ex / "kinrad2.truth.txt");
  ASSERT_EQ(a.truth.size(), 60u);
  EXPECT_LE(a.misplaced, 6);
  // At least 90 % of the (offspring, sex) entries whose true parent is a candidate.
  EXPECT_GE(10 * a.parents.found, 9 * a.parents.entries)
      << a.parents.found << " of " << a.parents.entries;
}

TEST(WholeAnalysisSlow, ShrimpWithItsParentsAsCandidates) {
  if (!fs::exists(kShrimp / "shrimp.truth"))
    GTEST_SKIP() << "no shared shrimp data at " << kShrimp.string();
  const Analysis a = analyse(kShrimp / "shrimp_parentage.dat", kShrimp / "shrimp.truth");
  ASSERT_EQ(a.truth.size(), 59u);
  EXPECT_EQ(a.parents.entries, 2 * 59);
  EXPECT_GE(a.parents.both_found, 57);
}

TEST(WholeAnalysisSlow, ShrimpWithoutCandidates) {
  if (!fs::exists(kShrimp / "shrimp.truth"))
    GTEST_SKIP() << "no shared shrimp data at " << kShrimp.string();
  const Analysis a = analyse(kShrimp / "shrimp_sibship.dat", kShrimp / "shrimp.truth");
  ASSERT_EQ(a.truth.size(), 59u);
  EXPECT_LE(a.misplaced, 3);
}

// A very short run of every sample of the soak matrix (all species, mating systems, kinds of
// relationship, priors and methods), then the state the result writer reads.
class ResultWriterStateMatrixSlow : public ::testing::TestWithParam<DataSet> {};

TEST_P(ResultWriterStateMatrixSlow, AfterAVeryShortRun) {
  RecordedPauses pauses;
  TempWorkDir dir("result_state_matrix");
  Truth truth;
  std::vector<std::string> records = simulate(GetParam(), truth).records();
  records[15] = "0";  // run length: very short
  std::string text;
  for (const std::string& r : records) text += r + "\n";
  write_text("kinrad2.dat", text);
  reset_all_modules();
  const StageOutcome o = run_stage([] { run_until_selectrun({"VER:0"}); });
  ASSERT_FALSE(o.stopped) << o.errorfile;
  EXPECT_EQ(check_result_writer_state(), "");
  reset_all_modules();
}

INSTANTIATE_TEST_SUITE_P(Samples, ResultWriterStateMatrixSlow, ::testing::ValuesIn(matrix()),
                         [](const ::testing::TestParamInfo<DataSet>& row) {
                           return std::string(row.param.name);
                         });

}  // namespace
}  // namespace kinrad::test
