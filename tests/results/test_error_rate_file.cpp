// The error-rate step as output runs it: which loci are estimated and which get a row of
// ".ErrorRate", the header-only file when nothing is estimated, the upper limit 0.5 for clusters
// of more than 200 parents of one sex, and the (F8.4) values of the rows against gfortran
// (tests/results/generators/error_rate_rows.f90 wrote the tables).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/fixed_string.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "core/variables_routines.hpp"
#include "likelihood/oracle.hpp"
#include "results/error_rate_best.hpp"
#include "results/error_rate_internal.hpp"
#include "results/error_rate_simulation.hpp"
#include "support/run_stage.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using oracle::Cluster;
using oracle::Genotype;
using oracle::Parent;

constexpr const char* header =
    "MarkerID,StartDropRate,DropRateEst,DropRateCI95LB,DropRateCI95UB,StartOtherErrorRate,"
    "OtherErrorRateEst,OtherErrorRateCI95LB,OtherErrorRateCI95UB\n";

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> r;
  std::istringstream s(text);
  std::string line;
  while (std::getline(s, line)) r.push_back(line);
  return r;
}

std::vector<std::string> split(const std::string& row) {
  std::vector<std::string> r;
  std::istringstream s(row);
  std::string f;
  while (std::getline(s, f, ',')) r.push_back(f);
  return r;
}

// Four loci: one whose sample shows a single allele (no estimate, no row), a dominant one with
// dropout only (no estimate, a row of its input rates; a dropout rate this small is the only
// one the reader leaves without an other-error rate), an error-free one (no estimate, no row)
// and a codominant one with both rates (estimated). Two clusters of two parents each.
Cluster kinds_sample() {
  Cluster c;
  c.loci = {{false, 2, {}, 0.05, 0.01},
            {true, 2, {}, 5e-7, 0.0},
            {false, 3, {}, 0.0, 0.0},
            {false, 3, {}, 0.05, 0.01}};
  c.fathers = {Parent{}, Parent{}};
  c.mothers = {Parent{}, Parent{}};
  c.families = {{1, 1, {1, 2, 3, 4}}, {2, 2, {5, 6, 7}}};
  c.offspring = {{{1, 1}, {1, 0}, {1, 2}, {1, 2}}, {{1, 1}, {2, 0}, {1, 3}, {2, 3}},
                 {{1, 1}, {1, 0}, {2, 2}, {1, 3}}, {{1, 1}, {1, 0}, {1, 2}, {2, 2}},
                 {{1, 1}, {2, 0}, {3, 3}, {3, 3}}, {{1, 1}, {1, 0}, {2, 3}, {1, 3}},
                 {{1, 1}, {2, 0}, {3, 3}, {3, 3}}};
  c.offploid.assign(7, 2);
  return c;
}

class ErrorRateFile : public ::testing::Test {
 protected:
  void SetUp() override { reset_all_modules(); }
  void TearDown() override { reset_all_modules(); }
  testing_support::TempWorkDir dir{"error_rate_file"};
};

// (F8.4) through rtoc as gfortran writes and trims it.
TEST_F(ErrorRateFile, FixedPointValuesAsGfortran) {
  std::ifstream in(std::string(KINRAD_TEST_DATA_DIR) + "/error_rate_f84.txt");
  ASSERT_TRUE(in.good());
  std::string line;
  int rows = 0;
  while (std::getline(in, line)) {
    const auto tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos);
    const double x = std::stod(line.substr(0, tab));
    SCOPED_TRACE(line);
    EXPECT_EQ(rtoc(x, "(F8.4)"), line.substr(tab + 1));
    ++rows;
  }
  EXPECT_EQ(rows, 16);
}

TEST_F(ErrorRateFile, RowsFollowTheKinds) {
  ASSERT_TRUE(test::build_best(kinds_sample(), 2));
  auto& v = variables;
  ASSERT_EQ(v.obsnumallele(1), 1);
  ASSERT_EQ(v.othererrorrate(2), 0.0);
  v.fulllikelihoodmethodq = 1;
  errorrateestimate();
  const auto lines = lines_of(testing_support::read_text(v.fname + ".ErrorRate"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0] + "\n", header);
  // The dominant locus with dropout only: its input rates four times each; the row as gfortran
  // writes it, with the marker's name in place of the generator's.
  const std::string ref = lines_of(
      testing_support::read_text(std::string(KINRAD_TEST_DATA_DIR) + "/error_rate_row.txt"))[0];
  const std::string name2(trim(adjustl(v.markerid(2).view())));
  EXPECT_EQ(lines[1], name2 + ref.substr(ref.find(',')));
  // The estimated locus: starts at the input rates, each estimate within its bounds.
  const auto f = split(lines[2]);
  ASSERT_EQ(f.size(), 9u);
  EXPECT_EQ(f[0], std::string(trim(adjustl(v.markerid(4).view()))));
  EXPECT_EQ(f[1], "0.0500");
  EXPECT_EQ(f[5], "0.0100");
  for (int r = 0; r < 2; ++r) {
    const double est = std::stod(f[2 + 4 * r]);
    const double lb = std::stod(f[3 + 4 * r]);
    const double ub = std::stod(f[4 + 4 * r]);
    EXPECT_LE(lb, est);
    EXPECT_LE(est, ub);
    EXPECT_LE(ub, 1.0);
  }
  // The scaling of sibship sizes is off from here on.
  EXPECT_EQ(v.fsscaleq, 0);
}

// ERR 0, and the pairwise-score method with an impossible cluster: the screen line and a file
// holding its header alone.
TEST_F(ErrorRateFile, HeaderOnlyWhenNothingIsEstimated) {
  struct Row {
    const char* name;
    int4 errestimate;
    int4 fullmethod;
    bool impossible;
  };
  const Row rows[] = {{"ERR 0", 0, 1, false}, {"impossible cluster, pairwise method", 1, 0, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Cluster c = kinds_sample();
    if (row.impossible) {
      // Three homozygotes of three alleles in one full-sib family at an error-free locus.
      c.offspring[0][2] = {1, 1};
      c.offspring[1][2] = {2, 2};
      c.offspring[2][2] = {3, 3};
    }
    ASSERT_TRUE(test::build_best(c, 2));
    auto& v = variables;
    v.errestimate = row.errestimate;
    v.fulllikelihoodmethodq = row.fullmethod;
    v.displayq = 1;
    const auto o = testing_support::run_stage([] { errorrateestimate(); });
    EXPECT_FALSE(o.stopped) << o.errorfile;
    EXPECT_NE(o.screen.find("\nEstimating genotyping error rates...\n"), std::string::npos)
        << o.screen;
    EXPECT_EQ(testing_support::read_text(v.fname + ".ErrorRate"), header);
    if (row.impossible) {
      EXPECT_LT(v.crfamilylogl(1), -1e100);
    }
  }
}

// Ten estimated loci with the display on: the spinner, then "\r  Done for all loci." and, with
// showq 1, the first 16 characters of blkln.
TEST_F(ErrorRateFile, ClosingScreenLines) {
  ASSERT_TRUE(test::build_best(test::simulated_families({2, 4, 10, 3, 0.05, 0.01, 11u}), 2));
  auto& v = variables;
  v.fulllikelihoodmethodq = 1;
  v.displayq = 1;
  v.showq = 1;
  const auto o = testing_support::run_stage([] { errorrateestimate(); });
  ASSERT_FALSE(o.stopped) << o.errorfile;
  const std::string tail = "\r  Done for all loci.\n" + std::string(v.blkln.sub(1, 16)) + "\n";
  ASSERT_GE(o.screen.size(), tail.size());
  EXPECT_EQ(o.screen.substr(o.screen.size() - tail.size()), tail);
  EXPECT_EQ(v.blkln.sub(1, 16), "\r" + std::string(15, ' '));
  EXPECT_EQ(lines_of(testing_support::read_text(v.fname + ".ErrorRate")).size(), 11u);
}

// Error-free data (simulated without errors) read with both input rates 0.01: both estimates
// are 0 and each upper bound is where the likelihood has fallen by e^2 along its profile. The
// log likelihood of error-free data falls about in proportion to the number of genotypes times
// the rate, so four times the families bring each upper bound down to about a quarter (by
// hand: 2 / slope, the slope four times as steep), and each bound lies where its profile, found
// by a brute-force scan, has risen by 2.
TEST_F(ErrorRateFile, ZeroEstimateBoundShrinksWithMoreData) {
  std::vector<std::vector<double>> upper;
  for (const int families : {3, 12}) {
    SCOPED_TRACE(families);
    reset_all_modules();
    // Families of 8 at one locus of 6 alleles; a seed whose samples give both estimates 0.
    Cluster c = test::simulated_families({families, 8, 1, 6, 0.0, 0.0, 2u});
    for (auto& l : c.loci) {
      l.droprate = 0.01;
      l.otherrate = 0.01;
    }
    ASSERT_TRUE(test::build_best(c, families));
    auto& v = variables;
    v.fulllikelihoodmethodq = 1;
    errorrateestimate();
    const auto rows = lines_of(testing_support::read_text(v.fname + ".ErrorRate"));
    ASSERT_EQ(rows.size(), 2u);
    const auto f = split(rows[1]);
    ASSERT_EQ(f.size(), 9u);
    EXPECT_EQ(f[2], "0.0000");
    EXPECT_EQ(f[6], "0.0000");
    upper.push_back({std::stod(f[4]), std::stod(f[8])});
    // Each printed upper bound against the profile by brute force: the least objective over a
    // grid of the other rate (steps of 1e-4 up to 0.1) is two units above its value at 0, the
    // optimum, within what the four printed decimals allow.
    v.loglerrorrateconst = 0.0;
    for (int4 i = 1; i <= 2; ++i) {
      v.rangeerrorrate(1, i) = 0.0;
      v.rangeerrorrate(2, i) = 1.0;
    }
    auto profile = [](int4 r, real8 t) {
      PowellPoint x;
      real8 best = 1e300;
      for (int k = 0; k <= 1000; ++k) {
        x(r) = t;
        x(3 - r) = 1e-4 * k;
        best = std::min(best, loglerrorrate(x));
      }
      return best;
    };
    for (int4 r = 1; r <= 2; ++r) {
      SCOPED_TRACE(r);
      EXPECT_NEAR(profile(r, upper.back()[static_cast<size_t>(r - 1)]) - profile(r, 0.0), 2.0, 0.1);
    }
  }
  for (int r = 0; r < 2; ++r) {
    SCOPED_TRACE(r);
    const double less = upper[0][static_cast<size_t>(r)], more = upper[1][static_cast<size_t>(r)];
    EXPECT_GT(more, 0.0);
    EXPECT_GT(less, 2.5 * more);
    EXPECT_LT(less, 6.5 * more);
  }
}

// A file that cannot be written stops the program with its name; nothing is left under it.
TEST_F(ErrorRateFile, UnwritableFileStops) {
  ASSERT_TRUE(test::build_best(kinds_sample(), 2));
  auto& v = variables;
  v.errestimate = 0;
  v.fname = "no_such_directory/out";
  const auto o = testing_support::run_stage([] { errorrateestimate(); });
  EXPECT_TRUE(o.stopped);
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.errorfile.find("no_such_directory/out.ErrorRate"), std::string::npos) << o.errorfile;
  EXPECT_NE(o.errorfile.find("Program stopped in subroutine Output"), std::string::npos);
}

// One cluster of 201 fathers (one mother): every rate's box ends at 0.5.
TEST_F(ErrorRateFile, ManyParentsHalveTheBox) {
  Cluster c;
  c.loci = {{false, 3, {}, 0.05, 0.01}};
  c.mothers = {Parent{}};
  for (int i = 1; i <= 201; ++i) {
    c.fathers.push_back(Parent{});
    c.families.push_back({i, 1, {i}});
    const int a = 1 + i % 3;
    c.offspring.push_back({{a, 1 + (i / 3) % 3}});
  }
  c.offploid.assign(201, 2);
  ASSERT_TRUE(test::build_best(c, 1));
  ASSERT_TRUE(errorrateprepare());
  EXPECT_EQ(errorratesetup(), 0.5);
  // One father fewer: the box stays [0, 1].
  c.fathers.pop_back();
  c.families.pop_back();
  c.offspring.pop_back();
  c.offploid.pop_back();
  ASSERT_TRUE(test::build_best(c, 1));
  ASSERT_TRUE(errorrateprepare());
  EXPECT_EQ(errorratesetup(), 1.0);
}

}  // namespace
}  // namespace kinrad
