// The result writer's order of steps and the module state it leaves, and the result-file table
// with its writer. The expected step order and state are read off the design's list of steps
// and its state table; the precision thresholds are worked out by hand (0.1 to the power
// 2 x precision, and a tenth of it).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/error_stop.hpp"
#include "results/results.hpp"
#include "results/results_internal.hpp"
#include "support/archive_builder.hpp"
#include "support/run_stage.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using namespace testing_support;

class Output : public ::testing::Test {
 protected:
  void TearDown() override { set_output_seam({}); }
  TempWorkDir dir_{"output"};
};

std::vector<int4> best_column(int4 k) {
  std::vector<int4> out;
  for (int4 i = 1; i <= variables.smplsize; ++i) out.push_back(variables.btindivloc(i, k));
  return out;
}

// Two records of six offspring with candidates of both sexes; offspring 2 has known father 1,
// whose spreading reaches offspring 1 (same paternal family).
void two_record_analysis() {
  archive_sample({.n = 6, .ncand1 = 2, .ncand2 = 2});
  variables.errestimate = 0;  // no error-rate estimation on an unprepared sample
  set_archive({{-20.0,
                {1, 1, 2, 2, 3, 3},
                {1, 1, 2, 3, 4, 4},
                {3, 3, 5, 5, 1, 1},
                {0, 0, 2, 2, 0, 0},
                {1, 1, 0, 0, 0, 0}},
               {-21.0, {1, 2, 2, 2, 3, 3}, {1, 2, 2, 3, 4, 4}, {}, {}, {}}});
  known_parent(2, 1, 1);
}

TEST_F(Output, StepsRunInTheirOrder) {
  two_record_analysis();
  std::vector<std::string> seen;
  set_output_seam([&seen](std::string_view s) { seen.emplace_back(s); });
  output();
  const std::vector<std::string> expected = {"allocate_work",
                                             "point_order",
                                             "normalise_one_pool",
                                             "renumber_clusters",
                                             "save_known_parents",
                                             "merge_known_parents",
                                             "announce",
                                             "name_parents",
                                             "best_cluster",
                                             "full_sib_families",
                                             "clone_index",
                                             "best_config",
                                             "restore_known_parents",
                                             "archive_files",
                                             "inbreeding",
                                             "inference_clusters",
                                             "genotype_inference",
                                             "reset_precision",
                                             "allele_frequencies",
                                             "copy_best_to_current",
                                             "error_rates",
                                             "free_work"};
  EXPECT_EQ(seen, expected);
}

TEST_F(Output, LeavesTheStateOfItsTable) {
  struct Row {
    int4 precision;
    real8 prec1, prec3;
  };
  // 0.1 to the power 2p by repeated squaring (the bits of 2p from the lowest), as the
  // analysis sets them at its start; prec3 a tenth of prec1.
  const real8 p2 = 0.1 * 0.1;
  const real8 p4 = p2 * p2;
  const real8 p6 = p2 * p4;
  const Row rows[] = {{0, 0.05, 0.005}, {1, p2, 0.1 * p2}, {2, p4, 0.1 * p4}, {3, p6, 0.1 * p6}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.precision);
    two_record_analysis();
    auto& v = variables;
    v.likelihoodprecision = r.precision;
    v.allowclone = 1;
    v.prec1 = 0.5;
    v.prec3 = 0.5;
    v.locus2logl.allocate(Dim(2), Dim(2));
    for (int4 i = 1; i <= 6; ++i) v.crindivloc(i, 3) = 99;
    const FArray<int4, 2> asread = v.indivparent.copy();
    bool spread_seen = false;
    set_output_seam([&spread_seen](std::string_view s) {
      // While the files are written the known father covers his whole family.
      if (s == "best_config") spread_seen = variables.indivparent(1, 1) == 1;
    });
    output();
    EXPECT_TRUE(spread_seen);
    EXPECT_EQ(v.indivorder.data(), v.number1tgt.data());
    EXPECT_EQ(v.indivlocprt.data(), v.btindivloc.data());
    EXPECT_EQ(v.inferparentprt.data(), v.btinferparent.data());
    for (int4 i = 1; i <= 6; ++i)
      for (int4 s = 1; s <= 2; ++s) EXPECT_EQ(v.indivparent(i, s), asread(i, s)) << i << s;
    EXPECT_EQ(v.prec1, r.prec1);
    EXPECT_EQ(v.prec3, r.prec3);
    EXPECT_FALSE(v.locus2logl.allocated());
    // Clusters 3, 3, 5, 5, 1, 1 numbered by first offspring.
    EXPECT_EQ(best_column(3), (std::vector<int4>{1, 1, 2, 2, 3, 3}));
    for (int4 i = 1; i <= 6; ++i) {
      EXPECT_EQ(v.crindivloc(i, 1), v.btindivloc(i, 1));
      EXPECT_EQ(v.crindivloc(i, 2), v.btindivloc(i, 2));
      EXPECT_EQ(v.crindivloc(i, 3), 99);  // column 3 is not copied
      EXPECT_EQ(v.inferparent(i, 1), v.btinferparent(i, 1));
      EXPECT_EQ(v.inferparent(i, 2), v.btinferparent(i, 2));
    }
    for (int4 k = 1; k <= 3; ++k) EXPECT_EQ(v.crnumfamily(k), v.btnumfamily(k));
    ASSERT_TRUE(v.cloneconfig.allocated());
    EXPECT_EQ(v.cloneconfig.size(1), 6);
    ASSERT_TRUE(v.bestparentid.allocated());
    EXPECT_EQ(v.bestparentid.size(1), 6);
    EXPECT_EQ(v.bestparentid.size(2), 2);
    set_output_seam({});
  }
}

TEST_F(Output, InferenceSeesTheClustersOfTheSearch) {
  // Offspring 3 is candidate mother 1, the assigned mother of offspring 5: clusters 2 and 3
  // (first offspring 3 and 5) join into one group.
  archive_sample({.n = 6, .ncand1 = 1, .ncand2 = 1});
  variables.errestimate = 0;  // no error-rate estimation on an unprepared sample
  cross_list(3, 2, 1);
  set_archive({{-20.0, {1, 1, 2, 2, 3, 3}, {1, 1, 2, 2, 3, 3}, {}, {}, {0, 0, 0, 0, 1, 1}}});
  std::vector<int4> during, before, after;
  set_output_seam([&](std::string_view s) {
    if (s == "announce") before = best_column(3);
    if (s == "genotype_inference") during = best_column(3);
    if (s == "allele_frequencies") after = best_column(3);
  });
  output();
  EXPECT_EQ(before, (std::vector<int4>{1, 1, 2, 2, 2, 2}));
  EXPECT_EQ(during, (std::vector<int4>{1, 1, 2, 2, 3, 3}));
  EXPECT_EQ(after, (std::vector<int4>{1, 1, 2, 2, 2, 2}));
  EXPECT_EQ(best_column(3), (std::vector<int4>{1, 1, 2, 2, 2, 2}));
  // The archived record carries the grouped column too.
  EXPECT_EQ(archive_records()[0].clust, (std::vector<int4>{1, 1, 2, 2, 2, 2}));
}

TEST_F(Output, AnEmptyArchiveGetsTheBestConfiguration) {
  archive_sample({.n = 4, .ncand1 = 2});
  variables.errestimate = 0;  // no error-rate estimation on an unprepared sample
  set_best({-7.5, {1, 1, 2, 2}, {1, 2, 3, 3}, {}, {2, 2, 0, 0}, {}});
  ASSERT_EQ(variables.confighead, nullptr);
  output();
  ASSERT_EQ(archive_length(), 1);
  const auto r = archive_records()[0];
  EXPECT_EQ(r.logl, -7.5);
  EXPECT_EQ(r.fam1, (std::vector<int4>{1, 1, 2, 2}));
  EXPECT_EQ(r.fam2, (std::vector<int4>{1, 2, 3, 3}));
  EXPECT_EQ(r.clust, (std::vector<int4>{1, 1, 2, 2}));
  EXPECT_EQ(r.dad, (std::vector<int4>{2, 2, 0, 0}));
}

TEST_F(Output, WithoutABestConfigurationNothingRuns) {
  archive_sample({.n = 4});
  variables.errestimate = 0;  // no error-rate estimation on an unprepared sample
  int steps = 0;
  set_output_seam([&steps](std::string_view) { ++steps; });
  output();
  EXPECT_EQ(steps, 0);
  EXPECT_EQ(variables.confighead, nullptr);
  EXPECT_FALSE(variables.bestparentid.allocated());
}

TEST(ResultFiles, EveryFileStopsCleanlyWhenAWriteFails) {
  // The writer's temporary is made a link to a full device, so the write fails in the middle
  // of the file, when the buffer first drains.
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const auto files = result_files();
  ASSERT_FALSE(files.empty());
  for (const ResultFile& f : files) {
    SCOPED_TRACE(std::string(f.suffix));
    TempWorkDir dir("result_write_failure");
    archive_sample({.n = 2});
    variables.errestimate = 0;  // no error-rate estimation on an unprepared sample
    variables.fname = "stem";
    const std::string name = "stem" + std::string(f.suffix);
    write_text(name, "old file\n");
    std::filesystem::create_symlink("/dev/full", replacing_temporary(name));
    const StageOutcome o = run_stage([&f] {
      write_result_file(f.suffix, [](ReplacingFile& out) {
        for (int k = 0; k < 200000; ++k) out.write("(A, I8)", "a row of the file", k);
      });
    });
    EXPECT_TRUE(o.stopped);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.errorfile, "Failed writing " + name + "\nProgram stopped in subroutine " +
                               std::string(f.routine) + ", dataset = stem.\n");
    EXPECT_EQ(read_text(name), "old file\n");
    EXPECT_FALSE(
        std::filesystem::exists(std::filesystem::symlink_status(replacing_temporary(name))));
    // A whole write replaces the file.
    write_result_file(f.suffix, [](ReplacingFile& out) { out.write("(A)", "new"); });
    EXPECT_EQ(read_text(name), "new\n");
  }
}

// When the result step begins, the stem's result files that this analysis does not write go;
// those it writes stay until each is replaced, and files of other stems or of no result stay.
// The files gone follow the table's conditions, by hand: two sexes without inbreeding drop
// ".Selfer" and ".Inbreeding"; FSP 0 drops ".BestFSFamily"; DYD 0 drops the four sib-dyad files
// and both parentage files; no candidate mothers drop ".ParentPair"; given population
// frequencies drop ".AlleleFreq".
TEST(ResultFiles, FilesThisAnalysisDoesNotWriteAreRemoved) {
  TempWorkDir dir("unwritten_results");
  reset_all_modules();
  auto& v = variables;
  v.fname = "st";
  v.numsex = 2;
  v.allowinbreeding = 0;
  v.compfsprob = 0;
  v.compdyadprob = 0;
  v.numcandidate(1) = 3;
  v.numcandidate(2) = 0;
  v.popallelefreknownq = 1;
  v.allelefreest = 1;
  const std::vector<std::string> gone = {
      ".BestFSFamily", ".ParentPair", ".Selfer",    ".FullSibDyad", ".HalfSibDyad", ".FSDyadUF",
      ".HSDyadUF",     ".Paternity",  ".Maternity", ".Inbreeding",  ".AlleleFreq"};
  const std::vector<std::string> kept = {
      "st.BestCluster",  "st.BestConfig",  "st.BestConfig_Ordered", "st.ConfigArchive",
      "st.Distribution", "st.OffGenotype", "st.DadGenotype",        "st.MumGenotype",
      "st.ErrorRate",    "st.Ne",          "st.BestClone",          "st.MidResult2",
      "other.Paternity", "st.notes"};
  for (const auto& f : result_files()) write_text("st" + std::string(f.suffix), "old\n");
  for (const auto& f : kept) write_text(f, "old\n");
  remove_unwritten_result_files();
  for (const auto& suffix : gone) EXPECT_FALSE(std::filesystem::exists("st" + suffix)) << suffix;
  for (const auto& f : kept) EXPECT_TRUE(std::filesystem::exists(f)) << f;
  reset_all_modules();
}

}  // namespace
}  // namespace kinrad
