// Given population allele frequencies: normalisation over the alleles of the sample, the reset
// of a listed frequency of 0, the stop on an allele missing from the list, and dominant loci,
// whose frequencies are taken by label. Expected values by hand.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/modules/variables.hpp"
#include "data_process_fixture.hpp"
#include "input/input.hpp"
#include "support/pauses.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using dptest::LocusSpec;
using dptest::SampleShape;
using dptest::setup;
using dptest::stopline;
using testing_support::TempWorkDir;

// Lists labels and frequencies for every locus (the same list at each).
void given(const std::vector<int4>& labels, const std::vector<real8>& fre) {
  auto& v = variables;
  const int4 m = static_cast<int4>(labels.size());
  v.popallelefreknownq = 1;
  v.popnumallele.allocate(v.numloci);
  v.popallele.allocate(m, v.numloci);
  v.popallelefre.allocate(m, v.numloci);
  for (int4 l = 1; l <= v.numloci; ++l) {
    v.popnumallele(l) = m;
    for (int4 a = 1; a <= m; ++a) {
      v.popallele(a, l) = labels[static_cast<std::size_t>(a - 1)];
      v.popallelefre(a, l) = fre[static_cast<std::size_t>(a - 1)];
    }
  }
}

SampleShape threealleles() {
  SampleShape s;
  s.loci = {{3, false, 0, 0, "12 13 23 11", ""}};  // labels 11, 12, 13
  return s;
}

TEST(DataProcessGiven, CodominantFrequenciesAreNormalisedOverTheSampleAlleles) {
  TempWorkDir dir("dp_given");
  setup(threealleles());
  variables.displayq = 1;
  given({13, 11, 12, 14}, {0.2, 0.3, 0.1, 0.4});
  dataprocess();
  // 0.3, 0.1 and 0.2 over their sum 0.6.
  EXPECT_NEAR(variables.obsallelefre(1).a(1), 0.5, 1e-15);
  EXPECT_NEAR(variables.obsallelefre(1).a(2), 1.0 / 6, 1e-15);
  EXPECT_NEAR(variables.obsallelefre(1).a(3), 1.0 / 3, 1e-15);
  EXPECT_EQ(variables.obsallelefre0(3, 1), variables.obsallelefre(1).a(3));
  EXPECT_FALSE(std::filesystem::exists("dp.InbAlleleFr"));
}

TEST(DataProcessGiven, AlleleAbsentFromThePopulationStops) {
  TempWorkDir dir("dp_absent");
  setup(threealleles());
  given({11, 12, 14}, {0.3, 0.3, 0.4});
  EXPECT_EQ(stopline([] { dataprocess(); }),
            "Allele    13 at locus   1 is found in the sample but absent from the population!");
  EXPECT_EQ(variables.errmsg(2).trimmed(), "Program stops!");
}

// Pauses 2 seconds, as the program does after the message.
TEST(DataProcessGiven, ListedFrequencyOfZeroIsRaised) {
  TempWorkDir dir("dp_zero");
  setup(threealleles());
  variables.displayq = 1;
  given({11, 12, 13}, {0.3, 0.0, 0.2});
  testing_support::RecordedPauses pauses;
  testing::internal::CaptureStdout();
  dataprocess();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "Allele    12 at locus   1 is found in the sample but has a known freqency of 0!\n"
            "Its frequency is now reset to 0.001\n");
  // The message stays on the screen for 2 seconds.
  EXPECT_EQ(pauses.lengths(), std::vector<int4>{2});
  EXPECT_EQ(variables.popallelefre(2, 1), 0.001);
  EXPECT_NEAR(variables.obsallelefre(1).a(2), 0.001 / 0.501, 1e-15);
}

TEST(DataProcessGiven, DominantFrequenciesAreTakenByLabel) {
  struct Row {
    const char* name;
    LocusSpec locus;
    std::vector<int4> labels;
    std::vector<real8> fre;
    real8 q;  // expected frequency of allele 2; negative: a stop is expected
  };
  const std::vector<Row> rows = {
      {"both listed", {2, true, 0.1, 0, "11 22 11 11", ""}, {1, 2}, {0.7, 0.3}, 0.3},
      {"listed in the other order", {2, true, 0, 0, "11 22 11 11", ""}, {2, 1}, {0.1, 0.9}, 0.1},
      {"recessive label left out", {1, true, 0, 0, "11 00 11 11", ""}, {1}, {0.64}, 0.36},
      {"seen label left out", {1, true, 0, 0, "11 00 11 11", ""}, {2}, {0.25}, 0.25},
      {"neither listed", {1, true, 0, 0, "11 00 11 11", ""}, {3}, {0.25}, -1},
      {"recessive label seen but left out", {2, true, 0, 0, "11 22 11 11", ""}, {1}, {0.5}, -1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TempWorkDir dir("dp_givendom");
    SampleShape s;
    s.loci = {r.locus, {2, false, 0, 0, "12 12 12 12", ""}};
    setup(s);
    given(r.labels, r.fre);
    // The codominant locus needs its labels listed too.
    variables.popallele.deallocate();
    variables.popallelefre.deallocate();
    const int4 m = static_cast<int4>(r.labels.size()) + 2;
    variables.popallele.allocate(m, 2);
    variables.popallelefre.allocate(m, 2);
    for (int4 a = 1; a <= m - 2; ++a) {
      variables.popallele(a, 1) = r.labels[static_cast<std::size_t>(a - 1)];
      variables.popallelefre(a, 1) = r.fre[static_cast<std::size_t>(a - 1)];
    }
    variables.popnumallele(1) = m - 2;
    variables.popnumallele(2) = 2;
    variables.popallele(1, 2) = 11;
    variables.popallele(2, 2) = 12;
    variables.popallelefre(1, 2) = 0.5;
    variables.popallelefre(2, 2) = 0.5;
    if (r.q < 0) {
      EXPECT_NE(stopline([] { dataprocess(); }).find("absent from the population!"),
                std::string::npos);
      continue;
    }
    dataprocess();
    EXPECT_NEAR(variables.obsallelefre(1).a(2), r.q, 1e-15);
    EXPECT_NEAR(variables.obsallelefre(1).a(1), 1.0 - r.q, 1e-15);
  }
}

}  // namespace
}  // namespace kinrad
