// The selfing iteration and the family correction against an independent computation of their
// formulas (tools/python/data_process_oracle.py, output committed as data_process_oracle.txt;
// the fixtures below are the script's), and the cases in which no correction runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>

#include "core/modules/variables.hpp"
#include "data_process_fixture.hpp"
#include "input/input.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using dptest::SampleShape;
using dptest::setup;
using testing_support::TempWorkDir;

// (fixture, locus, allele) -> frequency.
std::map<std::tuple<std::string, int, int>, double> oracle() {
  std::ifstream in(std::string(KINRAD_TEST_DATA_DIR) + "/data_process_oracle.txt");
  EXPECT_TRUE(in.good());
  std::map<std::tuple<std::string, int, int>, double> r;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream s(line);
    std::string name;
    int l = 0, a = 0;
    double f = 0;
    s >> name >> l >> a >> f;
    r[{name, l, a}] = f;
  }
  return r;
}

void expect_oracle(const std::string& fixture) {
  const auto table = oracle();
  int rows = 0;
  for (const auto& [key, f] : table) {
    const auto& [name, l, a] = key;
    if (name != fixture) continue;
    SCOPED_TRACE("locus " + std::to_string(l) + " allele " + std::to_string(a));
    EXPECT_NEAR(variables.obsallelefre(l).a(a), f, 1e-12);
    ++rows;
  }
  EXPECT_GT(rows, 0);
}

SampleShape selfingsample() {
  SampleShape s;
  s.numsex = 1;
  s.allowinbreeding = 1;
  s.fathers = 2;
  s.mothers = 2;
  s.mothersarefathers = true;
  s.loci = {
      {3, false, 0.0, 0.0, "11 12 22 13 33 00 11 23", "11 23"},
      {2, true, 0.1, 0.0, "11 22 11 11 22 11 00 22", "11 22"},
      {2, false, 0.0, 0.0, "11 12 22 11 00 12 11 22", "11 12"},
  };
  return s;
}

SampleShape familysample() {
  SampleShape s;
  s.fathers = 1;
  s.mothers = 1;
  s.ewen = 1e99;  // the correction then needs a dominating family
  s.loci = {
      {3, false, 0.0, 0.0, "11 12 13 12 23 11 13 00 12 12", "12 13"},
      {5, false, 0.0, 0.05, "12 13 24 25 34 15 23 45 11 22", "25 00"},
      {7, false, 0.0, 0.3, "12 34 56 77 17 26 35 44 11 12", "13 67"},
      {7, false, 0.0, 0.1, "11 13 33 12 27 33 13 67 57 47", "11 27"},
      {4, false, 0.0, 0.0, "22 34 22 13 24 24 12 44 33 24", "33 44"},
      {7, false, 0.0, 0.1, "45 11 67 14 33 13 44 11 25 33", "33 57"},
  };
  return s;
}

// Offspring 1 to 6 share the known father: at least n - 4 of the 10.
void dominatingfather() {
  for (int4 i = 1; i <= 6; ++i) variables.indivparent(i, 1) = 1;
}

TEST(DataProcessCorrections, SelfingIterationMatchesIndependentComputation) {
  TempWorkDir dir("dp_selfing");
  setup(selfingsample());
  dataprocess();
  expect_oracle("selfing");
}

TEST(DataProcessCorrections, FamilyCorrectionMatchesIndependentComputation) {
  TempWorkDir dir("dp_family");
  setup(familysample());
  dominatingfather();
  dataprocess();
  expect_oracle("family");
  // The uncorrected starting values stay: 12 alleles 1 among the 22 typed alleles of locus 1.
  EXPECT_EQ(variables.obsallelefre0(1, 1), 12.0 / 22);
}

TEST(DataProcessCorrections, NoCorrectionWithoutDominatingFamilyUnderAPrior) {
  TempWorkDir dir("dp_nofamily");
  setup(familysample());
  variables.displayq = 1;
  for (int4 i = 1; i <= 5; ++i) variables.indivparent(i, 1) = 1;  // n - 5 only
  dataprocess();
  for (int4 a = 1; a <= 3; ++a)
    EXPECT_EQ(variables.obsallelefre(1).a(a), variables.obsallelefre0(a, 1));
  EXPECT_FALSE(std::filesystem::exists("dp.InbAlleleFr"));
}

TEST(DataProcessCorrections, CasesWithoutCorrectionOrCache) {
  struct Row {
    const char* name;
    void (*change)();
  };
  const Row rows[] = {
      {"given population frequencies",
       [] {
         auto& v = variables;
         v.popallelefreknownq = 1;
         v.popnumallele.allocate(v.numloci);
         v.popallele.allocate(7, v.numloci);
         v.popallelefre.allocate(7, v.numloci);
         for (int4 l = 1; l <= v.numloci; ++l) {
           v.popnumallele(l) = v.rawallelenum(l);
           for (int4 a = 1; a <= v.rawallelenum(l); ++a) {
             v.popallele(a, l) = v.rawalleleid(l).a(a);
             v.popallelefre(a, l) = 1.0 / v.rawallelenum(l);
           }
         }
       }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TempWorkDir dir("dp_nocorrection");
    setup(familysample());
    dominatingfather();
    variables.displayq = 1;
    r.change();
    dataprocess();
    EXPECT_FALSE(std::filesystem::exists("dp.InbAlleleFr"));
    for (int4 a = 1; a <= 3; ++a)
      EXPECT_EQ(variables.obsallelefre(1).a(a), variables.obsallelefre0(a, 1));
  }
}

TEST(DataProcessCorrections, NoCorrectionWithMoreCandidatesThanTwiceTheSample) {
  TempWorkDir dir("dp_manycandidates");
  SampleShape s;
  s.fathers = 3;
  s.mothers = 2;  // 5 candidates for 2 offspring
  s.loci = {{3, false, 0.0, 0.0, "12 13", "11 22 33 23 12"}};
  setup(s);
  variables.displayq = 1;
  dataprocess();
  EXPECT_FALSE(std::filesystem::exists("dp.InbAlleleFr"));
  // Counts 5, 5 and 4 over offspring and candidates.
  EXPECT_EQ(variables.obsallelefre(1).a(1), 5.0 / 14);
}

}  // namespace
}  // namespace kinrad
