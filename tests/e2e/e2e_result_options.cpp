// Which result files an analysis leaves under each switch of the result phase, on the fixed
// pedigree of the end-to-end case fixed_pedigree_writes_every_result_file (8 offspring of
// known parents, 3 error-free loci, two sexes, no inbreeding, no clones): the exact set of
// files present and absent, and which of them hold their header line alone.
//
// Expected sets, from the conditions of the result files: with every switch on, the one-sex
// and inbreeding files (".Selfer", ".Inbreeding") and the clone file are never written, and
// the father and mother genotype files hold only their header (every parent is a typed
// candidate at an error-free locus, so none needs a row), as does ".ErrorRate" (all rates 0:
// nothing to estimate). FSP:0 drops ".BestFSFamily"; DYD:0 drops the four sib-dyad files and
// the parentage files; AFE:0 drops ".AlleleFreq" and leaves the offspring genotype file with
// its header alone (its one row, the offspring untyped at a locus, is not inferred); ERR:0
// leaves ".ErrorRate" with its header; given population frequencies drop ".AlleleFreq" only.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/program_process.hpp"

namespace fs = std::filesystem;

namespace {

using kinrad::testing_support::ProgramDir;

std::string read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every result file the fixture can leave under some switch, and the text ones among them.
const std::vector<std::string> kAll = {
    ".BestCluster", ".BestFSFamily", ".BestConfig",  ".BestConfig_Ordered", ".ConfigArchive",
    ".ParentPair",  ".Distribution", ".Selfer",      ".FullSibDyad",        ".HalfSibDyad",
    ".FSDyadUF",    ".HSDyadUF",     ".Paternity",   ".Maternity",          ".Inbreeding",
    ".OffGenotype", ".DadGenotype",  ".MumGenotype", ".AlleleFreq",         ".ErrorRate",
    ".Ne",          ".BestClone"};
const std::vector<std::string> kUnformatted = {".FSDyadUF", ".HSDyadUF"};

const std::vector<std::string> kNeverHere = {".Selfer", ".Inbreeding", ".BestClone"};
const std::vector<std::string> kHeaderAlways = {".DadGenotype", ".MumGenotype", ".ErrorRate"};

std::vector<std::string> plus(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

bool contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

struct OptionCase {
  const char* name;
  std::vector<std::string> args;
  bool given_frequencies;
  std::vector<std::string> absent;
  std::vector<std::string> header_only;
};

const std::vector<OptionCase>& option_cases() {
  static const std::vector<OptionCase> cases = {
      {"Defaults", {}, false, kNeverHere, kHeaderAlways},
      {"NoFullSibProbabilities",
       {"FSP:0"},
       false,
       plus(kNeverHere, {".BestFSFamily"}),
       kHeaderAlways},
      {"NoDyads",
       {"DYD:0"},
       false,
       plus(kNeverHere,
            {".FullSibDyad", ".HalfSibDyad", ".FSDyadUF", ".HSDyadUF", ".Paternity", ".Maternity"}),
       kHeaderAlways},
      {"NoGenotypeInference",
       {"AFE:0"},
       false,
       plus(kNeverHere, {".AlleleFreq"}),
       plus(kHeaderAlways, {".OffGenotype"})},
      {"NoErrorRates", {"ERR:0"}, false, kNeverHere, kHeaderAlways},
      {"GivenFrequencies", {}, true, plus(kNeverHere, {".AlleleFreq"}), kHeaderAlways},
  };
  return cases;
}

// The fixture's project file; with given frequencies, item 14 lists them (every allele of the
// sample has one, so the run goes on as before).
std::string project(bool given_frequencies) {
  std::string text = read(fs::path(KINRAD_E2E_CASES_DIR) /
                          "fixed_pedigree_writes_every_result_file" / "input" / "kinrad2.dat");
  if (given_frequencies) {
    const std::string item = "0                 ! known frequencies\n";
    const auto at = text.find(item);
    EXPECT_NE(at, std::string::npos);
    if (at != std::string::npos)
      text.replace(at, item.size(),
                   "1                 ! known frequencies\n4 3 4\n11 12 13 14\n"
                   "0.25 0.25 0.25 0.25\n21 22 23\n0.3 0.3 0.4\n31 32 33 34\n"
                   "0.25 0.25 0.25 0.25\n");
  }
  return text;
}

class ResultOptions : public ::testing::TestWithParam<OptionCase> {};

TEST_P(ResultOptions, ExactFileSet) {
  const OptionCase& c = GetParam();
  ProgramDir dir(std::string("options_") + c.name);
  {
    std::ofstream out(dir.path() / "kinrad2.dat", std::ios::binary);
    out << project(c.given_frequencies);
  }
  ASSERT_EQ(dir.run(c.args), 0) << read(dir.path() / ".stdout.err");
  EXPECT_FALSE(fs::exists(dir.path() / "Kinrad2.ErrorMessage"));
  for (const std::string& suffix : kAll) {
    SCOPED_TRACE(suffix);
    const fs::path file = dir.path() / ("fx" + suffix);
    if (contains(c.absent, suffix)) {
      EXPECT_FALSE(fs::exists(file)) << "should not be written";
      continue;
    }
    ASSERT_TRUE(fs::exists(file)) << "should be written";
    if (contains(kUnformatted, suffix)) continue;
    const std::string text = read(file);
    const auto lines = std::count(text.begin(), text.end(), '\n');
    if (contains(c.header_only, suffix))
      EXPECT_EQ(lines, 1) << "should hold its header alone:\n" << text;
    else
      EXPECT_GT(lines, 1) << "should hold rows below its header:\n" << text;
  }
}

INSTANTIATE_TEST_SUITE_P(Switches, ResultOptions, ::testing::ValuesIn(option_cases()),
                         [](const ::testing::TestParamInfo<OptionCase>& p) {
                           return std::string(p.param.name);
                         });

}  // namespace
