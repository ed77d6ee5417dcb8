// The allele-frequency restart of the per-analysis set-up over crafted checkpoints: the state
// checkpoint ".MidResult2" (frequencies updated within a run) and the frequency checkpoint
// ".MidResult4" (frequency rounds). Expected frequencies follow from the rules by hand: a file
// read whole replaces the frequencies; with rounds, anything but a later round moves the loci
// of more than two alleles halfway to uniform, p = p/2 + 1/(2k).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "model/allele_fre_restart_internal.hpp"
#include "model/initial_fs_prob_fixture.hpp"
#include "model/model.hpp"
#include "program/prepare_analysis.hpp"

namespace kinrad::setuptest {
namespace {

using F = std::vector<real8>;

// Locus 1 has three alleles, locus 2 two; four offspring.
Project two_loci(const std::string& update, const std::string& method = "1") {
  Project p;
  p.method = method;
  p.loci = 2;
  p.update = update;
  p.markertypes = "0 0";
  p.droprates = "0 0";
  p.otherrates = "0 0";
  p.offspring = {"O1 1 2 1 2", "O2 2 3 1 1", "O3 1 1 2 2", "O4 3 3 1 2"};
  return p;
}

std::vector<F> frequencies() {
  std::vector<F> r;
  for (int4 l = 1; l <= variables.numloci; ++l) {
    F p;
    for (int4 a = 1; a <= variables.obsnumallele(l); ++a)
      p.push_back(variables.obsallelefre(l).a(a));
    r.push_back(p);
  }
  return r;
}

F halfway(const F& p) {
  F r;
  for (real8 x : p) r.push_back(0.5 * x + 0.5 / static_cast<real8>(p.size()));
  return r;
}

void expect_frequencies(const std::vector<F>& expected) {
  const std::vector<F> got = frequencies();
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t l = 0; l < got.size(); ++l) {
    ASSERT_EQ(got[l].size(), expected[l].size());
    for (std::size_t a = 0; a < got[l].size(); ++a)
      EXPECT_NEAR(got[l][a], expected[l][a], 1e-15) << "locus " << l + 1 << " allele " << a + 1;
  }
}

// A state checkpoint as its writer lays it out: the sample size, ten configuration columns
// (100 values a record), the scalar records, then one record of frequencies per locus.
std::string midresult2(int4 n, const std::string& locus1, const std::string& locus2) {
  std::string col;
  for (int4 i = 1; i <= n; ++i) col += " " + std::to_string(i);
  col += "\n";
  std::string s = " " + std::to_string(n) + "\n";
  for (int4 c = 1; c <= 5; ++c) s += col;
  s += "\n";
  for (int4 c = 1; c <= 5; ++c) s += col;
  s += "\n-1.2E+01,-1.1E+01,1.0E+00,5.0E-01,1,77,0,3,4,5,6,7,8,0.9,-5,123,";
  for (int4 k = 1; k <= 32; ++k) s += std::to_string(k) + ",";
  s += "9\n";
  s += "1,2,3,4,5,5.0E-01,20240101,120000.000,1.0E+01\n";
  s += locus1 + "\n" + locus2 + "\n";
  s += "0.0E+00\n3\n0,0\n";
  return s;
}

class Restart : public SetupTest {};

TEST_F(Restart, StateCheckpointWithinRuns) {
  struct Row {
    const char* name;
    bool write;
    int4 n;  // sample size written
    std::string locus1, locus2;
    bool accepted;
  };
  const Row rows[] = {
      {"read whole", true, 4, "0.2 0.3 0.5", "0.6 0.4", true},
      {"another sample size", true, 5, "0.2 0.3 0.5", "0.6 0.4", false},
      {"-0.001 passes the single-precision bound", true, 4, "-0.001 0.3 0.5", "0.6 0.4", true},
      {"-0.0011 rejects", true, 4, "-0.0011 0.3 0.5", "0.6 0.4", false},
      {"a sum of exactly 1.05 passes", true, 4, "0.2 0.3 0.5", "0.5 0.55", true},
      {"1.0500001 rejects every locus", true, 4, "0.2 0.3 0.5", "0.5 0.5500001", false},
      {"a NaN rejects", true, 4, "0.2 NaN 0.5", "0.6 0.4", false},
      {"a truncated file", true, 4, "0.2 0.3 0.5", "", false},
      {"no file", false, 4, "", "", false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::filesystem::remove("myout.MidResult2");
    ASSERT_TRUE(prepare(two_loci("1"), false));
    ASSERT_EQ(variables.updateallelefre, 1);
    const std::vector<F> before = frequencies();
    if (r.write) {
      std::string text = midresult2(r.n, r.locus1, r.locus2);
      // A truncated file ends right after the first locus.
      if (r.locus2.empty()) text = text.substr(0, text.find(r.locus1) + r.locus1.size() + 1);
      testing_support::write_text("myout.MidResult2", text);
    }
    testing::internal::CaptureStdout();
    analysis_tables();
    testing::internal::GetCapturedStdout();
    // Frequencies taken from the checkpoint are recorded, so the dyad caches are not used.
    EXPECT_EQ(variables.checkpointfrequencyq, r.accepted ? 1 : 0);
    if (!r.accepted) {
      expect_frequencies(before);
      continue;
    }
    std::vector<F> expected;
    for (const std::string* t : {&r.locus1, &r.locus2}) {
      F p;
      std::istringstream in(*t);
      for (real8 x; in >> x;) p.push_back(x);
      expected.push_back(p);
    }
    expect_frequencies(expected);
    EXPECT_TRUE(std::filesystem::exists("myout.MidResult2"));
  }
}

TEST_F(Restart, FrequencyCheckpointOfRounds) {
  struct Row {
    const char* name;
    const char* text;  // nullptr: no file
    bool read;         // the file's frequencies were taken
    bool moved;        // then moved halfway at the three-allele locus
    int4 status, round;
  };
  const F file1{0.2, 0.3, 0.5};
  const F file2{0.6, 0.4};
  const Row rows[] = {
      {"round 3 keeps what it read", "  2.0E-01 3.0E-01 5.0E-01\n  6.0E-01 4.0E-01\n        3\n",
       true, false, 0, 3},
      {"round 1 moves halfway", "  2.0E-01 3.0E-01 5.0E-01\n  6.0E-01 4.0E-01\n        1\n", true,
       true, 0, 1},
      {"no round: frequencies kept, then moved", "  2.0E-01 3.0E-01 5.0E-01\n  6.0E-01 4.0E-01\n",
       true, true, 1, 0},
      {"round 0 is no round", "  2.0E-01 3.0E-01 5.0E-01\n  6.0E-01 4.0E-01\n        0\n", true,
       true, 1, 0},
      {"a rejected frequency", "  2.0E-01 3.0E-01 5.0E-01\n  -1.0E-02 4.0E-01\n        3\n", false,
       true, 1, 0},
      {"a NaN", "  2.0E-01 3.0E-01 5.0E-01\n  NaN 4.0E-01\n        3\n", false, true, 1, 0},
      {"no file", nullptr, false, true, 2, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::filesystem::remove("myout.MidResult4");
    ASSERT_TRUE(prepare(two_loci("1", "0"), false));
    ASSERT_EQ(variables.updateallelefre, 2);
    const std::vector<F> before = frequencies();
    if (r.text != nullptr) testing_support::write_text("myout.MidResult4", r.text);
    testing::internal::CaptureStdout();
    analysis_tables();
    testing::internal::GetCapturedStdout();
    std::vector<F> expected = r.read ? std::vector<F>{file1, file2} : before;
    if (r.moved) expected[0] = halfway(expected[0]);
    expect_frequencies(expected);

    // The main program's own read of the checkpoint reports the same outcome.
    int4 status = -1;
    int4 round = -1;
    readmidresult4(status, round);
    EXPECT_EQ(status == 0, r.status == 0);
    if (r.status != 0) {
      EXPECT_NE(status, 0);
    }
    EXPECT_EQ(round, r.round);
  }
}

TEST_F(Restart, WithoutUpdatesNothingIsRead) {
  ASSERT_TRUE(prepare(two_loci("0"), false));
  const std::vector<F> before = frequencies();
  testing_support::write_text("myout.MidResult2", midresult2(4, "0.2 0.3 0.5", "0.6 0.4"));
  testing_support::write_text("myout.MidResult4", "0.2 0.3 0.5\n0.6 0.4\n1\n");
  testing::internal::CaptureStdout();
  analysis_tables();
  testing::internal::GetCapturedStdout();
  expect_frequencies(before);
}

TEST(RestartChecks, FrequencyBounds) {
  const real8 nan = std::numeric_limits<real8>::quiet_NaN();
  const real8 inf = std::numeric_limits<real8>::infinity();
  struct Row {
    F p;
    bool ok;
  };
  const Row rows[] = {{{}, true},
                      {{0.5, 0.55}, true},
                      {{0.5, 0.5500001}, false},
                      {{-0.001, 1.0}, true},
                      {{-0.00100001, 1.0}, false},
                      {{nan, 0.5}, false},
                      {{inf}, false},
                      {{-inf, 0.5}, false}};
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::PrintToString(r.p));
    EXPECT_EQ(restart_frequencies_acceptable(r.p), r.ok);
  }
}

}  // namespace
}  // namespace kinrad::setuptest
