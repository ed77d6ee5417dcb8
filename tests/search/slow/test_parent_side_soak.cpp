// Whole analyses under the self-check after every move (CKM:2), with the program's own
// iteration body and the two moves on the parent side active: every sample of the soak matrix
// and the example project with a very short run. None may stop. The body is wrapped only to
// count the iterations in which a parent-side move was made, so that the case shows those moves
// ran under the check: samples of two sexes without monogamy and without known parents must
// reverse clusters, and a haplodiploid sample without monogamy must also change fathers. After
// every accepted move and every parent-side move the cluster ids are also checked against their
// definition (offspring linked through a shared family id form one cluster), recounted here by
// union-find, so that a move that leaves two clusters sharing a parent is named where it happens
// rather than by the later symptom the self-check meets.
//
// Which move was made is told by the full-sib partition: a reversal keeps every full-sib
// family (the fathers become mothers and the mothers fathers), a change of father moves
// haploid offspring into another family of their mother. The partition is compared as a
// partition, so that the random relabelling of family ids between the two looks does not count.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "configuration/soak/soak_matrix.hpp"
#include "core/command_line.hpp"
#include "core/modules.hpp"
#include "core/modules/search_seams.hpp"
#include "program/main_program.hpp"
#include "search/move_stages.hpp"
#include "search/search_internal.hpp"
#include "support/pauses.hpp"
#include "support/run_stage.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::test {
namespace {

using testing_support::read_text;
using testing_support::RecordedPauses;
using testing_support::run_stage;
using testing_support::StageOutcome;
using testing_support::TempWorkDir;
using testing_support::write_text;

// The full-sib partition of the current configuration: per offspring the rank of first
// appearance of its pair of family ids.
std::vector<int> fullsib_partition() {
  const auto& v = variables;
  std::map<std::pair<int4, int4>, int> label;
  std::vector<int> r;
  r.reserve(static_cast<std::size_t>(v.smplsize));
  for (int4 i = 1; i <= v.smplsize; ++i) {
    const auto key = std::make_pair(v.crindivloc(i, 1), v.crindivloc(i, 2));
    r.push_back(label.emplace(key, static_cast<int>(label.size())).first->second);
  }
  return r;
}

// The cluster ids of the current configuration against their definition: offspring joined
// through a shared family id of either sex (one parent pool: through either column, one id
// space) form one cluster, and each cluster has one id. Union-find over the family ids; true
// when column 3 numbers exactly those groups.
bool clusters_are_linked_groups() {
  const auto& v = variables;
  const int4 n = v.smplsize;
  const bool pool = v.numsex == 1;
  const int4 span = 2 * n + 1;
  std::vector<int4> up(static_cast<std::size_t>(2 * span));
  for (std::size_t x = 0; x < up.size(); ++x) up[x] = static_cast<int4>(x);
  auto find = [&](int4 x) {
    while (up[static_cast<std::size_t>(x)] != x) x = up[static_cast<std::size_t>(x)];
    return x;
  };
  auto node = [&](int4 i, int4 s) { return (pool || s == 1 ? 0 : span) + v.crindivloc(i, s); };
  for (int4 i = 1; i <= n; ++i) up[static_cast<std::size_t>(find(node(i, 1)))] = find(node(i, 2));
  std::map<int4, int4> clusterofgroup, groupofcluster;
  for (int4 i = 1; i <= n; ++i) {
    const int4 g = find(node(i, 1)), c = v.crindivloc(i, 3);
    if (clusterofgroup.emplace(g, c).first->second != c) return false;
    if (groupofcluster.emplace(c, g).first->second != g) return false;
  }
  return true;
}

struct SideTally {
  int8 iterations = 0, sidemoves = 0, reversals = 0, fatherchanges = 0;
  // The first iteration after which the cluster ids no longer number the linked groups, and
  // what changed the configuration then.
  int8 unlinkedat = 0;
  std::string unlinkedby;
};

struct Outcome {
  StageOutcome stage;
  SideTally tally;
  int4 converseq = 0, haploids = 0, anymonogamy = 0;
};

// One whole analysis of the project text under the self-check, counting parent-side moves.
Outcome analyse(const std::string& project) {
  TempWorkDir dir("parent_side_soak");
  write_text("kinrad2.dat", project);
  Outcome out;
  SideTally& t = out.tally;
  int8 last = -1;
  std::vector<int> before;
  reset_all_modules();
  search_seams.body = [&](RunState& rs) {
    if (rs.cp.numiterate != last) {
      // The first attempt of an iteration: the parent-side moves of this iteration are made.
      const bool samecall = rs.cp.numiterate > last && !before.empty();
      last = rs.cp.numiterate;
      ++t.iterations;
      if (rs.sidemoveok != 0) {
        ++t.sidemoves;
        if (samecall) ++(fullsib_partition() == before ? t.reversals : t.fatherchanges);
        if (t.unlinkedat == 0 && !clusters_are_linked_groups()) {
          t.unlinkedat = rs.cp.numiterate;
          t.unlinkedby = "iteration " + std::to_string(rs.cp.numiterate) + ", a parent-side move";
        }
      }
    }
    const MoveOutcome o = move_body(rs);
    before = fullsib_partition();
    if (t.unlinkedat == 0 && o == MoveOutcome::completed && rs.verdict.acceptq != 0 &&
        !clusters_are_linked_groups()) {
      t.unlinkedat = rs.cp.numiterate;
      t.unlinkedby = "iteration " + std::to_string(rs.cp.numiterate) +
                     ", an accepted move of kind " + std::to_string(rs.choice.movekind) +
                     " (moving type " + std::to_string(annealvariables.movingtype) +
                     ", who travels " + std::to_string(rs.choice.moveset) + ")";
    }
    return o;
  };
  set_command_line({"VER:0", "CKM:2"});
  out.stage = run_stage([] { run_sequence(); });
  search_seams = SearchSeams{};
  out.converseq = variables.converseq;
  out.anymonogamy = variables.anymonogamy;
  out.haploids = variables.smplsizedh(1);
  reset_all_modules();
  return out;
}

class ParentSideSoakSlow : public ::testing::TestWithParam<DataSet> {};

TEST_P(ParentSideSoakSlow, SelfCheckNeverStops) {
  RecordedPauses pauses;
  Truth truth;
  const Outcome o = analyse(simulate(GetParam(), truth).text());
  EXPECT_EQ(o.tally.unlinkedat, 0)
      << "cluster ids no longer number the linked groups after " << o.tally.unlinkedby;
  ASSERT_FALSE(o.stage.stopped) << o.stage.errorfile << o.stage.screen.substr(0, 3000);
  EXPECT_NE(o.stage.screen.find("Output to file : "), std::string::npos);
  const SideTally& t = o.tally;
  RecordProperty("iterations", std::to_string(t.iterations));
  RecordProperty("reversals", std::to_string(t.reversals));
  RecordProperty("fatherchanges", std::to_string(t.fatherchanges));
  std::printf(
      "  %s: %lld iterations, %lld parent-side moves (%lld reversals, %lld father "
      "changes)\n",
      GetParam().name, static_cast<long long>(t.iterations), static_cast<long long>(t.sidemoves),
      static_cast<long long>(t.reversals), static_cast<long long>(t.fatherchanges));
  // Two sexes without monogamy: clusters are reversed, unless known parents fix the sides of
  // the clusters (a cluster with a sampled parent, known or assigned, is never reversed, and
  // the families of a known parent hold it as their members' assigned parent).
  if (o.converseq != 0 && (GetParam().relations & kKnownParents) == 0) {
    EXPECT_GT(t.reversals, 0);
  }
  // Haploid offspring without monogamy: fathers are changed.
  if (o.haploids > 0 && o.anymonogamy == 0) {
    EXPECT_GT(t.fatherchanges, 0);
  }
  if (o.converseq == 0 && (o.haploids == 0 || o.anymonogamy != 0)) {
    EXPECT_EQ(t.sidemoves, 0);
  }
}

std::string sample_name(const ::testing::TestParamInfo<DataSet>& p) {
  return p.param.name;
}

// The matrix, a haplodiploid sample without monogamy and without known relationships, whose
// search reaches the change of father, and a selfing sample with known parents, whose families
// carry a known parent in both roles of one parent pool.
std::vector<DataSet> samples() {
  std::vector<DataSet> r = matrix();
  r.push_back({"haplodiploid_plain", Species::haplodiploid, "0 0", 0, 4, 4, "0", "1", 30, 10, 112});
  r.push_back({"selfing_known_parents", Species::selfing, "0 0", kKnownParents, 5, 5, "0", "1", 24,
               10, 113});
  return r;
}

INSTANTIATE_TEST_SUITE_P(Samples, ParentSideSoakSlow, ::testing::ValuesIn(samples()), sample_name);

// The example project (60 offspring, two sexes without monogamy, full likelihood, frequencies
// updated in the run) with a very short run (record 16: length of run 0).
TEST(ParentSideExampleSlow, SelfCheckNeverStops) {
  RecordedPauses pauses;
  std::string project;
  {
    std::istringstream in(read_text(std::string(KINRAD_TESTS_DIR) + "/../examples/kinrad2.dat"));
    std::string line;
    for (int record = 1; std::getline(in, line); ++record) {
      if (record == 16) line = "0" + line.substr(line.find_first_of(" !"));
      project += line + "\n";
    }
  }
  const Outcome o = analyse(project);
  EXPECT_EQ(o.tally.unlinkedat, 0)
      << "cluster ids no longer number the linked groups after " << o.tally.unlinkedby;
  ASSERT_FALSE(o.stage.stopped) << o.stage.errorfile << o.stage.screen.substr(0, 3000);
  EXPECT_NE(o.stage.screen.find("Output to file : "), std::string::npos);
  std::printf("  example: %lld iterations, %lld reversals\n",
              static_cast<long long>(o.tally.iterations),
              static_cast<long long>(o.tally.reversals));
  EXPECT_EQ(o.converseq, 1);
  EXPECT_GT(o.tally.reversals, 0);
  EXPECT_EQ(o.tally.fatherchanges, 0);
}

}  // namespace
}  // namespace kinrad::test
