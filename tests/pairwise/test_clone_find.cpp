// Clone inference over the full-sib families of a best configuration, with the clone report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/error_stop.hpp"
#include "core/format_write.hpp"
#include "core/modules/simuvariables.hpp"
#include "model/phenotype_tables_internal.hpp"
#include "pairwise/clone_fixture.hpp"
#include "pairwise/clone_simulation.hpp"
#include "pairwise/clones.hpp"
#include "support/expect_stop.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::test {
namespace {

class FindCloneTest : public CloneTest {
 protected:
  testing_support::TempWorkDir dir{"findclone"};
};

// One report row as the format "(I10, F10.3, A)" lays it out, written out by hand.
std::string row(const std::string& index, const std::string& prob, const std::string& ids) {
  return std::string(10 - index.size(), ' ') + index + std::string(10 - prob.size(), ' ') + prob +
         "      " + ids + "\n";
}

// A sample of 10 families (two of more than 9 members), 20 loci of 10 alleles, with a replicate
// typing of the first member planted in 5 families and errors in 1% of the genotypes. The
// caller raises the rates 0.01 by 20^0.05 before clone inference; the test does the same. The
// seed gives a sample in which the bound on every single member's probability below holds
// (the test asserts it).
TEST_F(FindCloneTest, PlantedReplicatesAreFoundAndNothingElse) {
  const std::vector<int> sizes = {11, 10, 6, 5, 4, 3, 2, 1, 1, 1};
  SimulatedSample s = simulate_sample(sizes, {1, 2, 3, 5, 6}, 20, 10, 0.01, 0.01, 0.02, 4);
  const real8 raised = std::min(0.01 * std::pow(20.0, 0.05), 0.5);
  for (LocusSpec& l : s.data.loci) l.d = l.e = raised;
  setup_clone_data(s.data);
  Variables& v = variables;
  v.fname = "sim";
  const int4 nf = static_cast<int4>(s.famsize.size());
  const std::vector<real8> famprob(static_cast<std::size_t>(nf), 1.0);
  findclone(nf, famprob.data(), s.famstart.data(), s.famsize.data(), s.members.data());

  // Every planted pair shares a clone number; no other two offspring do.
  std::map<int4, std::vector<int4>> byclone;
  for (int4 i = 1; i <= v.smplsize; ++i) byclone[v.cloneconfig(i)].push_back(i);
  std::set<std::pair<int4, int4>> found;
  for (const auto& [c, m] : byclone) {
    ASSERT_GT(c, 0);
    ASSERT_LE(m.size(), 2u);
    if (m.size() == 2) found.insert({m[0], m[1]});
  }
  const std::set<std::pair<int4, int4>> planted(s.replicates.begin(), s.replicates.end());
  EXPECT_EQ(found, planted);
  // Numbers run 1, 2, ... in formation order: the first family's first group first.
  EXPECT_EQ(v.cloneconfig(1), 1);
  EXPECT_EQ(static_cast<int4>(byclone.size()), byclone.rbegin()->first);

  // The report: clones by their smallest member, K = 2. A single member's probability is 1
  // minus its largest pair value, and a pair value is at most f = (1 - (nmis + 0.1) /
  // (ntyped + 0.1))^16 over the loci typed in both; below 4.9e-4 for every partner, the
  // probability prints as 1.000. A planted clone's probability (the partition's share among
  // those scored) is masked here and checked to be near 1.
  auto fbound = [&](int4 i) {
    real8 fmax = 0.0;
    for (int4 j = 1; j <= v.smplsize; ++j) {
      if (j == i) continue;
      int ntyped = 0;
      int nmis = 0;
      for (const auto& col : s.data.off) {
        const Genotype& a = col[static_cast<std::size_t>(i - 1)];
        const Genotype& b = col[static_cast<std::size_t>(j - 1)];
        if (a.first < 1 || b.first < 1) continue;
        ++ntyped;
        if (a != b) ++nmis;
      }
      fmax = std::max(fmax, std::pow(1.0 - (nmis + 0.1) / (ntyped + 0.1), 16));
    }
    return fmax;
  };
  std::string expected = "CloneIndex      Prob      Member1,Member2 \n";
  std::string masked;
  {
    const std::string text = testing_support::read_text("sim.BestClone");
    std::size_t pos = 0;
    while (pos < text.size()) {
      std::size_t end = text.find('\n', pos);
      std::string line = text.substr(pos, end - pos + 1);
      if (line.find(',') != std::string::npos && line.find("Member") == std::string::npos) {
        EXPECT_GE(std::stod(line.substr(10, 10)), 0.99) << line;
        line.replace(10, 10, "     *****");
      }
      masked += line;
      pos = end + 1;
    }
  }
  int4 index = 0;
  for (int4 i = 1; i <= v.smplsize; ++i) {
    const std::vector<int4>& m = byclone[v.cloneconfig(i)];
    if (m[0] != i) continue;
    std::string ids = "Off" + std::to_string(m[0]);
    if (m.size() == 2) {
      ids += ",Off" + std::to_string(m[1]);
      expected += row(std::to_string(++index), "*****", ids);
      continue;
    }
    ASSERT_LT(fbound(i), 4.9e-4) << "offspring " << i;
    expected += row(std::to_string(++index), "1.000", ids);
  }
  EXPECT_EQ(masked, expected);
  // The work state is freed.
  EXPECT_FALSE(simuvariables.secondg.allocated());
  EXPECT_FALSE(simuvariables.podyadlogl3.allocated());
}

// No clone anywhere: the header names one member; rows in offspring order even when the
// families list them otherwise; clone numbers in formation order.
TEST_F(FindCloneTest, CloneFreeReportAndScreen) {
  CloneData d;
  d.loci = std::vector<LocusSpec>(4, {6, false, 0.01, 0.01, {0.2, 0.2, 0.2, 0.2, 0.1, 0.1}});
  // No two offspring have one genotype at any locus: every pair value is 0, r < 0.35.
  d.off.assign(4, {{1, 2}, {3, 4}, {5, 6}, {5, 5}});
  d.off[0][3] = {0, 0};
  setup_clone_data(d);
  Variables& v = variables;
  v.fname = "free";
  v.displayq = 1;
  v.lineform = "(A,$)";
  v.blkln = std::string("\r") + std::string(41, ' ');
  const int4 members[4] = {3, 1, 2, 4};
  const int4 start[2] = {1, 4};
  const int4 size[2] = {3, 1};
  const real8 famprob[2] = {0.8, 1.0};
  testing::internal::CaptureStdout();
  findclone(2, famprob, start, size, members);
  const std::string screen = testing::internal::GetCapturedStdout();
  // Offspring 4 shares allele 5 with offspring 3 but no locus typed in both matches.
  const std::string expected = "CloneIndex      Prob      Member1 \n" + row("1", "1.000", "Off1") +
                               row("2", "1.000", "Off2") + row("3", "1.000", "Off3") +
                               row("4", "1.000", "Off4");
  EXPECT_EQ(testing_support::read_text("free.BestClone"), expected);
  EXPECT_EQ(v.cloneconfig(3), 1);
  EXPECT_EQ(v.cloneconfig(1), 2);
  EXPECT_EQ(v.cloneconfig(2), 3);
  EXPECT_EQ(v.cloneconfig(4), 4);
  // The start line, then (three cluster pairs examined by the partition search) a carriage
  // return and a blank that end the progress line.
  EXPECT_EQ(screen, "Inferring clones...\n\r ");
}

// A family of 10 members at 22,223 loci (45 pairs x loci just above 1,000,000): the screen
// shows the relatedness step of the family, a spinner character every 4 values (100000 /
// 22223), and the 14-character blank overwrites before and after.
TEST_F(FindCloneTest, LargeFamilyScreenLines) {
  CloneData d;
  const int nloci = 22223;
  d.loci.assign(nloci, {2, false, 0.01, 0.01, {0.5, 0.5}});
  std::mt19937 rng(7);
  for (int l = 0; l < nloci; ++l) {
    std::vector<Genotype> col;
    for (int i = 0; i < 10; ++i) {
      Genotype g{static_cast<int>(rng() % 2) + 1, static_cast<int>(rng() % 2) + 1};
      if (g.first > g.second) std::swap(g.first, g.second);
      col.push_back(g);
    }
    d.off.push_back(col);
  }
  setup_clone_data(d);
  Variables& v = variables;
  v.fname = "large";
  v.displayq = 1;
  v.lineform = "(A,$)";
  v.blkln = std::string("\r") + std::string(41, ' ');
  std::vector<int4> members(10);
  for (int i = 0; i < 10; ++i) members[static_cast<std::size_t>(i)] = i + 1;
  const int4 start[1] = {1};
  const int4 size[1] = {10};
  const real8 famprob[1] = {1.0};
  testing::internal::CaptureStdout();
  findclone(1, famprob, start, size, members.data());
  const std::string screen = testing::internal::GetCapturedStdout();
  const std::string blank14 = "\r" + std::string(13, ' ');
  // Unrelated members: no group forms, so no partition search and no closing blanks.
  EXPECT_EQ(screen, "Inferring clones...\n" + blank14 +
                        "  Computing pairwise r in FS family 1, Family Size: 10 ...\n" +
                        "\r/\r-\r\\\r|\r/\r-\r\\\r|\r/\r-\r\\" + blank14);
  for (int4 i = 1; i <= 10; ++i) EXPECT_EQ(v.cloneconfig(i), i);
}

// A family of two replicates: probability = the family's probability x the partition's.
TEST_F(FindCloneTest, CloneProbabilityScalesWithTheFamily) {
  CloneData d;
  d.loci = std::vector<LocusSpec>(10, {5, false, 0.01, 0.01, {0.2, 0.2, 0.2, 0.2, 0.2}});
  for (int l = 0; l < 10; ++l) d.off.push_back({{1, l % 5 + 1}, {1, l % 5 + 1}, {2, 2}});
  setup_clone_data(d);
  variables.fname = "scaled";
  const int4 members[3] = {1, 2, 3};
  const int4 start[2] = {1, 3};
  const int4 size[2] = {2, 1};
  const real8 famprob[2] = {0.5, 1.0};
  findclone(2, famprob, start, size, members);
  const std::string text = testing_support::read_text("scaled.BestClone");
  // 0.5 x a partition probability within 1e-3 of 1.
  EXPECT_EQ(text.substr(0, 42), "CloneIndex      Prob      Member1,Member2 ");
  EXPECT_NE(text.find("         1     0.500      Off1,Off2\n"), std::string::npos) << text;
}

// A report that cannot be written stops the program naming the routine.
TEST_F(FindCloneTest, FailedReportStops) {
  CloneData d;
  d.loci = {{3, false, 0.01, 0.01, {0.5, 0.3, 0.2}}};
  d.off = {{{1, 2}}};
  setup_clone_data(d);
  variables.fname = "no_such_dir/out";
  const int4 members[1] = {1};
  const int4 start[1] = {1};
  const int4 size[1] = {1};
  const real8 famprob[1] = {1.0};
  ASSERT_EQ(testing_support::expect_stop([&] { findclone(1, famprob, start, size, members); },
                                         "FindClone", {.flag = 1}),
            1);
  EXPECT_EQ(trim(variables.errmsg(1).view()), "Failed writing no_such_dir/out.BestClone");
}

}  // namespace
}  // namespace kinrad::test
