// Whole analyses of a real sample with a known pedigree (59 offspring of 13 full-sib families
// typed at 7 loci, beside the checkout in the shared data): once with the 13 true fathers and
// 13 true mothers as candidates, once without candidates. The best configuration must recover
// the true full-sib families, and with candidates name the true parents. The search is
// stochastic, so the checks allow a little: at most two offspring out of place in the full-sib
// partition, at most two offspring given a wrong parent of either sex.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/program_process.hpp"
#include "support/truth_check.hpp"

namespace fs = std::filesystem;

namespace {

using kinrad::testing_support::partition_distance;
using kinrad::testing_support::ProgramDir;
using kinrad::testing_support::read_truth;
using kinrad::testing_support::true_fullsib_partition;
using kinrad::testing_support::TruthRow;

const fs::path kShrimp = fs::path(KINRAD_SOURCE_DIR) / ".." / "shared" / "data" / "shrimp";

// The rows of ".BestConfig" after its title: offspring, father and mother identifiers.
std::map<std::string, std::pair<std::string, std::string>> best_parents(const fs::path& p) {
  std::ifstream in(p);
  std::map<std::string, std::pair<std::string, std::string>> rows;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::string o, dad, mum;
    if (f >> o >> dad >> mum) rows[o] = {dad, mum};
  }
  return rows;
}

struct Outcome {
  int misplaced = 0;  // full-sib partition distance to the truth
  int wrongdads = 0;  // offspring whose father is not the true one
  int wrongmums = 0;
};

Outcome analyse(const std::string& project, const std::string& stem,
                const std::vector<TruthRow>& truth) {
  ProgramDir dir("truth_" + stem);
  fs::copy_file(kShrimp / project, dir.path() / "kinrad2.dat");
  Outcome o;
  EXPECT_EQ(dir.run(), 0) << project;
  const auto best = best_parents(dir.path() / (stem + ".BestConfig"));
  EXPECT_EQ(best.size(), truth.size()) << project;
  std::vector<std::pair<std::string, std::string>> keys;
  for (const auto& t : truth) {
    const auto it = best.find(t.offspring);
    const auto parents =
        it == best.end() ? std::make_pair(std::string(), std::string()) : it->second;
    keys.push_back(parents);
    if (parents.first != t.father) ++o.wrongdads;
    if (parents.second != t.mother) ++o.wrongmums;
  }
  // The inferred full-sib partition: offspring with the same pair of parent names.
  std::map<std::pair<std::string, std::string>, int> label;
  std::vector<int> inferred;
  for (const auto& k : keys) inferred.push_back(label.emplace(k, label.size() + 1).first->second);
  o.misplaced = partition_distance(true_fullsib_partition(truth), inferred);
  return o;
}

TEST(TruePedigreeSlow, ShrimpFamiliesAndParentsAreRecovered) {
  if (!fs::exists(kShrimp / "shrimp.truth")) {
    GTEST_SKIP() << "no shared shrimp data at " << kShrimp.string();
  }
  const auto truth = read_truth((kShrimp / "shrimp.truth").string());
  ASSERT_EQ(truth.size(), 59u);

  const Outcome withparents = analyse("shrimp_parentage.dat", "shrimp_parentage", truth);
  EXPECT_LE(withparents.misplaced, 2);
  EXPECT_LE(withparents.wrongdads, 2);
  EXPECT_LE(withparents.wrongmums, 2);

  const Outcome alone = analyse("shrimp_sibship.dat", "shrimp_sibship", truth);
  EXPECT_LE(alone.misplaced, 2);
}

}  // namespace
