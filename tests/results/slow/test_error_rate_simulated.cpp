// The error-rate estimation on a simulated sample with its true pedigree as the best
// configuration: 300 offspring in 30 full-sib families of unsampled parents, 20 loci of 8
// alleles, true dropout rate 0.05 and other-error rate 0.01 at every locus (drawn under the
// program's observation model). Statistical checks with a margin.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/oracle.hpp"
#include "results/error_rate_best.hpp"
#include "results/error_rate_internal.hpp"
#include "results/error_rate_simulation.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

constexpr int kLoci = 20;
constexpr int kFamilies = 30;
constexpr double kDrop = 0.05;
constexpr double kOther = 0.01;

std::vector<double> numbers(const std::string& row) {
  std::vector<double> r;
  std::istringstream s(row);
  std::string f;
  std::getline(s, f, ',');  // the marker
  while (std::getline(s, f, ',')) r.push_back(std::stod(f));
  return r;
}

TEST(ErrorRateSimulated, EstimatesCoverTheTruth) {
  testing_support::TempWorkDir dir{"error_rate_simulated"};
  ASSERT_TRUE(test::build_best(
      test::simulated_families({kFamilies, 10, kLoci, 8, kDrop, kOther, 20261210u}), kFamilies));
  auto& v = variables;
  ASSERT_EQ(v.numloci, kLoci);
  for (int4 l = 1; l <= kLoci; ++l) ASSERT_EQ(v.obsnumallele(l), 8);
  v.fulllikelihoodmethodq = 1;
  errorrateestimate();
  std::istringstream file(testing_support::read_text(v.fname + ".ErrorRate"));
  std::string line;
  std::getline(file, line);  // header
  int rows = 0, covered = 0;
  double sumdrop = 0.0, sumother = 0.0;
  while (std::getline(file, line)) {
    SCOPED_TRACE(line);
    const auto x = numbers(line);
    ASSERT_EQ(x.size(), 8u);
    ++rows;
    // start, estimate, lower, upper for dropout (0..3) and other error (4..7).
    for (int r = 0; r < 2; ++r) {
      EXPECT_LE(x[static_cast<size_t>(4 * r + 2)], x[static_cast<size_t>(4 * r + 1)]);
      EXPECT_LE(x[static_cast<size_t>(4 * r + 1)], x[static_cast<size_t>(4 * r + 3)]);
    }
    if (x[2] <= kDrop && kDrop <= x[3]) ++covered;
    sumdrop += x[1];
    sumother += x[5];
  }
  RecordProperty("covered", covered);
  RecordProperty("mean_dropout", std::to_string(sumdrop / kLoci));
  RecordProperty("mean_other", std::to_string(sumother / kLoci));
  EXPECT_EQ(rows, kLoci);
  EXPECT_GE(covered, 16);
  EXPECT_NEAR(sumdrop / kLoci, kDrop, 0.3 * kDrop);
  EXPECT_NEAR(sumother / kLoci, kOther, 0.3 * kOther);
}

}  // namespace
}  // namespace kinrad
