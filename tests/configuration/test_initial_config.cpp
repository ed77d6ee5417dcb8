// The initial cluster numbering against a connected-components oracle (union-find in the
// fixture), the precision retry with a scripted scorer, and the stop for an invalid initial
// configuration against error files written out by hand.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "configuration/configuration.hpp"
#include "configuration/precision_retry_internal.hpp"
#include "configuration_fixture.hpp"
#include "core/error_stop.hpp"
#include "support/expect_stop.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::test {
namespace {

void number_clusters() {
  FStatic<int2, 1, 2> hs{};
  setinitconfiglogl(0, hs);
}

TEST(SetInitConfigLogl, NumberingMatchesConnectedComponents) {
  std::mt19937 rng(1234);
  struct Shape {
    int4 numsex, mono1, mono2, k1, k2;
  };
  const std::vector<Shape> shapes = {{2, 0, 0, 12, 9},  {2, 1, 0, 10, 10}, {2, 0, 1, 10, 10},
                                     {2, 1, 1, 15, 15}, {1, 0, 0, 14, 14}, {2, 0, 0, 40, 40}};
  for (const auto& sh : shapes) {
    for (int4 trial = 0; trial < 10; ++trial) {
      SCOPED_TRACE("shape numsex " + std::to_string(sh.numsex) + " mono " +
                   std::to_string(sh.mono1) + std::to_string(sh.mono2) + " trial " +
                   std::to_string(trial));
      const int4 n = 40;
      setup_sample({n, sh.numsex, sh.mono1, sh.mono2, 0, 0});
      auto& v = variables;
      auto& av = annealvariables;
      v.displayq = 0;
      random_configuration(rng, sh.k1, sh.k2, 0.1);
      // The oracle's numbering and measures, then a clean slate for the program.
      std::vector<int4> col3(static_cast<std::size_t>(n) + 1);
      for (int4 i = 1; i <= n; ++i) col3[static_cast<std::size_t>(i)] = v.crindivloc(i, 3);
      const int4 nclust = v.crnumfamily(3);
      FArray<int4, 2> want(Dim(6), Dim(n));
      std::vector<int4> wantt(static_cast<std::size_t>(n) + 1);
      for (int4 c = 1; c <= nclust; ++c) {
        for (int4 k = 1; k <= 6; ++k) want(k, c) = av.clustersize(k, c);
        wantt[static_cast<std::size_t>(c)] = av.clustersizet(c);
      }
      av.clustersize.fill(0);
      av.clustersizet.fill(0);
      v.crnumfamily(3) = 99;
      for (int4 i = 1; i <= n; ++i) v.crindivloc(i, 3) = 77;
      number_clusters();
      ASSERT_EQ(v.crnumfamily(3), nclust);
      for (int4 i = 1; i <= n; ++i)
        EXPECT_EQ(v.crindivloc(i, 3), col3[static_cast<std::size_t>(i)]) << "offspring " << i;
      const bool dmono = sh.numsex == 2 && sh.mono1 == 1 && sh.mono2 == 1;
      for (int4 c = 1; c <= nclust; ++c) {
        EXPECT_EQ(av.clustersizet(c), wantt[static_cast<std::size_t>(c)]) << "cluster " << c;
        // Under double monogamy a cluster is one family: its mother count is the builder's.
        const int4 last = dmono ? 1 : 6;
        for (int4 k = 1; k <= last; ++k)
          EXPECT_EQ(av.clustersize(k, c), want(k, c)) << "cluster " << c << " entry " << k;
      }
      for (int4 i = 1; i <= n; ++i) {
        EXPECT_EQ(av.indivloc1(i, 1), v.crindivloc(i, 1));
        EXPECT_EQ(av.indivloc1(i, 2), v.crindivloc(i, 2));
        EXPECT_EQ(av.indivloc1(i, 4), i);
      }
      EXPECT_EQ(v.indivorder.data(), v.number1tgt.data());
      EXPECT_EQ(v.indivorder.size(), n);
    }
  }
}

TEST(SetInitConfigLogl, HandCases) {
  struct Row {
    std::string name;
    std::vector<int4> col1, col2, col3;
  };
  const std::vector<Row> rows = {
      {"all singletons in offspring order", {5, 3, 1, 4, 2}, {2, 5, 4, 1, 3}, {1, 2, 3, 4, 5}},
      // Offspring 2 is alone in paternal family 2 but shares mother 2 with offspring 4.
      {"singleton father, shared mother", {1, 2, 4, 3}, {1, 2, 3, 2}, {1, 2, 3, 2}},
      // Offspring 1 and 4 share father 1; 4 and 2 share mother 3; 3 stands alone.
      {"chain over the rest of the sample", {1, 2, 5, 1}, {7, 3, 8, 3}, {1, 1, 2, 1}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    const auto n = static_cast<int4>(r.col1.size());
    setup_sample({n, 2, 0, 0, 0, 0});
    auto& v = variables;
    v.displayq = 0;
    for (int4 i = 1; i <= n; ++i) {
      v.crindivloc(i, 1) = r.col1[static_cast<std::size_t>(i - 1)];
      v.crindivloc(i, 2) = r.col2[static_cast<std::size_t>(i - 1)];
    }
    number_clusters();
    for (int4 i = 1; i <= n; ++i)
      EXPECT_EQ(v.crindivloc(i, 3), r.col3[static_cast<std::size_t>(i - 1)]) << i;
  }
}

TEST(SetInitConfigLogl, ScreenLines) {
  // Twelve singleton clusters: the tenth step turns the spinner once ("/", the second of
  // "|/-\"), and more than 9 steps close the progress line.
  setup_sample({12, 2, 0, 0, 0, 0});
  auto& v = variables;
  v.displayq = 1;
  for (int4 i = 1; i <= 12; ++i) {
    v.crindivloc(i, 1) = i;
    v.crindivloc(i, 2) = i;
  }
  testing::internal::CaptureStdout();
  number_clusters();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Computing likelihood of initial config\n\r/\r  Done for all 12 families" +
                     std::string(23, ' ') + "\n\r  \n");
}

// The retry with a scripted scorer: each call returns the next value of the script.
struct Script {
  std::vector<real8> values;
  std::size_t next = 0;
  real8 operator()() { return values.at(next++); }
};

TEST(PrecisionRetry, ScriptedSequences) {
  const real8 bound = -9.999999680285692e37;
  struct Row {
    std::string name;
    int4 start, method;
    std::vector<real8> script;
    bool ok;
    int4 calls, precision;
  };
  const std::vector<Row> rows = {
      {"success at once", 1, 1, {-12.5}, true, 1, 1},
      {"fails at 1, succeeds at 2", 1, 1, {-1e300, -40.0}, true, 2, 2},
      {"fails from 0 to 3", 0, 1, {-1e300, -1e300, -1e300, bound}, false, 4, 3},
      {"fails at 3 alone", 3, 1, {-1e300}, false, 1, 3},
      {"pairwise takes any value", 1, 0, {-1e300}, true, 1, 1},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    reset_all_modules();
    auto& v = variables;
    v.likelihoodprecision = r.start;
    v.fulllikelihoodmethodq = r.method;
    v.prec1 = v.prec2 = v.prec3 = -7.0;  // untouched unless the precision is raised
    Script s{r.script};
    real8 logl = 0.0;
    EXPECT_EQ(score_at_rising_precision(s, bound, logl), r.ok);
    EXPECT_EQ(s.next, static_cast<std::size_t>(r.calls));
    EXPECT_EQ(logl, r.script[static_cast<std::size_t>(r.calls - 1)]);
    EXPECT_EQ(v.likelihoodprecision, r.precision);
    if (r.precision > r.start) {
      // 0.1^(2k), and a tenth of it.
      const real8 p = r.precision == 2 ? 1e-4 : 1e-6;
      EXPECT_NEAR(v.prec1, p, 1e-15 * p);
      EXPECT_NEAR(v.prec2, p, 1e-15 * p);
      EXPECT_NEAR(v.prec3, p / 10, 1e-15 * p);
    } else {
      EXPECT_EQ(v.prec1, -7.0);
    }
  }
}

// A cluster of three full-sib families whose members and known parents the first error line
// names, over two error-free loci.
void invalid_cluster(int4 n, int4 idlength) {
  setup_sample({n, 2, 0, 0, 2, 2});
  auto& v = variables;
  v.displayq = 0;
  v.fname = "proj";
  v.offspringid.allocate(Dim(n));
  for (int4 i = 1; i <= n; ++i) {
    std::string id = "O" + std::to_string(i);
    if (idlength > 0) id = std::string(static_cast<std::size_t>(idlength) - id.size(), 'x') + id;
    v.offspringid(i) = id;
    // Fathers 1, 1, 2, 2, ...; mothers all 1: one cluster of families by father.
    v.crindivloc(i, 1) = (i + 1) / 2 > 2 ? 3 : (i + 1) / 2;
    v.crindivloc(i, 2) = 1;
  }
  v.indivparent.allocate(Dim(n), Dim(2));
  v.indivparent.fill(-1);
  v.indivparent(1, 1) = 2;  // known father M2 of offspring 1 and 2
  v.indivparent(2, 1) = 2;
  v.indivparent(3, 2) = 1;  // known mother F1
  v.cndparentid.allocate(Dim(0, 2), Dim(2));
  v.cndparentid(1, 1) = "M1";
  v.cndparentid(2, 1) = "M2";
  v.cndparentid(1, 2) = "F1";
  v.cndparentid(2, 2) = "F2";
  v.markerid.allocate(Dim(3));
  v.markerid(1) = "               Loc1";
  v.markerid(2) = "               Loc2";
  v.markerid(3) = "               Loc3";
  v.locuscodomnoerror.allocate(Dim(0, 2));
  v.locuscodomnoerror(0) = 2;
  v.locuscodomnoerror(1) = 3;
  v.locuscodomnoerror(2) = 1;
  FStatic<int2, 1, 2> hs{};
  setinitconfiglogl(0, hs);  // leaves the structure of the one cluster built
}

std::string stop_file(int4 mode) {
  const int status =
      testing_support::expect_stop([&] { invalidconfig(mode); }, "Anneal", {.report = true});
  EXPECT_EQ(status, 1);
  return testing_support::read_text("Kinrad2.ErrorMessage");
}

const std::string advice =
    "To run the program, you have to:\n"
    "  1. Check and correct the known relationship, or/and\n"
    "  2. Allow for sufficiently high mistyping rates in data\n"
    "Program stops!\n"
    "Program stopped in subroutine Anneal, dataset = proj.\n";

TEST(InvalidConfig, ImpossibleInitialCluster) {
  testing_support::TempWorkDir dir{"invalidconfig_one"};
  invalid_cluster(5, 0);
  // Families by father: (1, 2), (3, 4), (5); known parents M2 (offspring 1, 2) and F1
  // (offspring 3), each named once; the error-free loci in their list order.
  EXPECT_EQ(stop_file(1),
            "Initial cluster with offspring: O1,O2,O3,O4,O5, and known parents: M2,F1 have "
            "mismatched genotypes, possibly at loci: Loc3,Loc1!\n" +
                advice);
}

TEST(InvalidConfig, LongMemberListIsCutAt999Characters) {
  testing_support::TempWorkDir dir{"invalidconfig_long"};
  invalid_cluster(60, 20);
  std::string line = "Initial cluster with offspring: ";
  for (int4 i = 1; i <= 60; ++i) {
    const std::string id = "O" + std::to_string(i);
    line += (i > 1 ? "," : "") + std::string(20 - id.size(), 'x') + id;
  }
  line += ", and known parents: M2,F1 have mismatched genotypes, possibly at loci: Loc3,Loc1!";
  ASSERT_GT(line.size(), 999u);
  EXPECT_EQ(stop_file(1), line.substr(0, 999) + "\n" + advice);
}

TEST(InvalidConfig, IncompatibleRelationships) {
  testing_support::TempWorkDir dir{"invalidconfig_two"};
  reset_all_modules();
  variables.displayq = 0;
  variables.fname = "proj";
  EXPECT_EQ(stop_file(2),
            "The known sibship/parentage relationships are incompatible with genotype data, or "
            "in conflit among themselves, or in conflict with other defined parameters (e.g. "
            "monogamy).\n" +
                advice);
}

}  // namespace
}  // namespace kinrad::test
