// A whole analysis of three runs, in-process up to the choice of the best run: every run leaves
// its archive copy, and the choice is worked out here from the three copies alone (the first
// value of each, the largest wins, a tie keeps the earlier run). The best configuration must
// then be the head of the chosen copy, and a chosen run other than the last must have its copy
// written back as the archive file.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "configuration/soak/soak_matrix.hpp"
#include "core/modules.hpp"
#include "support/pauses.hpp"
#include "support/result_writer_state.hpp"
#include "support/run_stage.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::test {
namespace {

using testing_support::read_text;
using testing_support::RecordedPauses;
using testing_support::run_stage;
using testing_support::TempWorkDir;
using testing_support::write_text;

// The head of a run copy: its log likelihood and its offspring columns (father's family,
// mother's family, cluster), each a line of comma-terminated integers.
struct Head {
  double logl = 0.0;
  std::vector<std::vector<int>> columns;
};

Head read_head(const std::string& name, int ncol) {
  std::istringstream in(read_text(name));
  Head h;
  std::string line;
  std::getline(in, line);
  h.logl = std::stod(line);
  for (int k = 0; k < ncol && std::getline(in, line); ++k) {
    std::vector<int> col;
    std::istringstream f(line);
    for (std::string x; std::getline(f, x, ',');) col.push_back(std::stoi(x));
    h.columns.push_back(col);
  }
  return h;
}

TEST(SeveralRunsSlow, TheRunWhoseCopyStartsHighestIsReloaded) {
  RecordedPauses pauses;
  TempWorkDir dir("several_runs");
  // A simulated sample of two sexes without candidates, typed at so few loci that runs may end
  // at different configurations, with three runs (record 15) of the very short length (record
  // 16).
  DataSet d{};
  for (const DataSet& x : matrix())
    if (std::string(x.name) == "dioecious_polygamous_plain") d = x;
  ASSERT_NE(d.name, nullptr);
  d.n = 24;
  d.loci = 3;
  Truth truth;
  std::vector<std::string> records = simulate(d, truth).records();
  records[14] = "3";
  records[15] = "0";
  std::string text;
  for (const std::string& r : records) text += r + "\n";
  write_text("kinrad2.dat", text);

  reset_all_modules();
  const auto o = run_stage([] { testing_support::run_until_selectrun({"VER:0"}); });
  ASSERT_FALSE(o.stopped) << o.errorfile << o.screen.substr(0, 3000);
  const auto& v = variables;
  ASSERT_EQ(v.numrun, 3);
  ASSERT_EQ(v.numcandidate(1) + v.numcandidate(2), 0);

  Head head[4];
  int chosen = 0;
  double best = -1e300;
  for (int k = 1; k <= 3; ++k) {
    const std::string copy = "myout.MidResult3.Run" + std::to_string(k);
    ASSERT_TRUE(std::filesystem::exists(copy)) << copy;
    head[k] = read_head(copy, 3);
    ASSERT_EQ(head[k].columns.size(), 3u);
    if (head[k].logl > best) {
      best = head[k].logl;
      chosen = k;
    }
  }
  std::printf("  run heads %.6f %.6f %.6f: run %d chosen\n", head[1].logl, head[2].logl,
              head[3].logl, chosen);
  ASSERT_GE(chosen, 1);
  // The copy's first value is the reloaded head's score (ES30.20 carries a double exactly).
  EXPECT_EQ(v.btloglikelihood, head[chosen].logl);
  for (int k = 1; k <= 3; ++k) {
    for (int4 i = 1; i <= v.smplsize; ++i) {
      EXPECT_EQ(v.btindivloc(i, k), head[chosen].columns[k - 1][i - 1])
          << "offspring " << i << ", column " << k;
    }
  }
  // The archive in memory starts with the chosen head.
  ASSERT_NE(v.confighead, nullptr);
  if (chosen != 3) {
    EXPECT_EQ(read_text("myout.MidResult3"),
              read_text("myout.MidResult3.Run" + std::to_string(chosen)));
  }
  reset_all_modules();
}

}  // namespace
}  // namespace kinrad::test
