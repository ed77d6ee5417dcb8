// Derived tables and run state set up once per analysis. Expected values are worked out by hand
// from the rules (seeds, priors, candidate means, identifier matches, table shapes), by an
// independent sum for the log tables (lgamma), and from gfortran for the precision thresholds:
// tools/fortran/real_integer_power.f90 prints the bits of 0.1d0**(2*p).
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "core/real_integer_power.hpp"
#include "initialize_fixture.hpp"
#include "input/input.hpp"
#include "support/expect_stop.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using inittest::InitializeTest;

std::uint64_t bits(real8 x) {
  return std::bit_cast<std::uint64_t>(x);
}

// gfortran 12: 0.1d0**(2*p) for p = 1..8 (std::pow differs from p = 2 on).
constexpr std::uint64_t fortran_powers[8] = {
    0x3F847AE147AE147Cull, 0x3F1A36E2EB1C4330ull, 0x3EB0C6F7A0B5ED90ull, 0x3E45798EE2308C3Full,
    0x3DDB7CDFD9D7BDC3ull, 0x3D719799812DEA18ull, 0x3D06849B86A12BA4ull, 0x3C9CD2B297D889CAull};

TEST(RealIntegerPower, MatchesFortranBitForBit) {
  for (int4 p = 1; p <= 8; ++p) {
    SCOPED_TRACE(p);
    EXPECT_EQ(bits(real_integer_power(0.1, 2 * p)), fortran_powers[p - 1]);
  }
  EXPECT_EQ(real_integer_power(3.0, 0), 1.0);
  EXPECT_EQ(real_integer_power(2.0, -3), 0.125);
  EXPECT_EQ(real_integer_power(-2.0, 5), -32.0);
}

TEST_F(InitializeTest, PrecisionThresholds) {
  struct Row {
    int4 precision;
    std::uint64_t prec1;
  };
  for (const Row& r : {Row{0, bits(0.05)}, Row{-3, bits(0.05)}, Row{1, fortran_powers[0]},
                       Row{2, fortran_powers[1]}, Row{3, fortran_powers[2]}}) {
    SCOPED_TRACE(r.precision);
    setup(3, 2);
    variables.likelihoodprecision = r.precision;
    initialize();
    EXPECT_EQ(bits(variables.prec1), r.prec1);
    EXPECT_EQ(bits(variables.prec2), r.prec1);
    const real8 prec3 = r.precision < 1 ? 0.005 : 0.1 * std::bit_cast<real8>(r.prec1);
    EXPECT_EQ(variables.prec3, prec3);
  }
  // Precision 2 gives 1e-4 and 1e-5 up to the last bits.
  setup(3, 2);
  variables.likelihoodprecision = 2;
  initialize();
  EXPECT_NEAR(variables.prec1, 1e-4, 1e-18);
  EXPECT_NEAR(variables.prec3, 1e-5, 1e-19);
}

TEST_F(InitializeTest, Seeds) {
  struct Row {
    int4 seed, thread, idum3, idum;
  };
  for (const Row& r :
       {Row{0, 0, -12345, -12345}, Row{-7, 0, -7, -7}, Row{7, 0, -7, -7}, Row{7, 2, -7, -17},
        Row{0, 1, -12345, -12350}, Row{-2147483647 - 1, 0, -2147483647 - 1, -2147483647 - 1}}) {
    SCOPED_TRACE(r.seed);
    setup(2, 1);
    variables.i_seed = r.seed;
    variables.threadid = r.thread;
    initialize();
    EXPECT_EQ(variables.idum3, r.idum3);
    EXPECT_EQ(variables.idum, r.idum);
  }
}

TEST_F(InitializeTest, LogPriorClampsTheSampledProportion) {
  setup(2, 1, 2, 3, 0);
  variables.propprntsampled(1) = 1.0;
  variables.propprntsampled(2) = 0.5;
  initialize();
  EXPECT_DOUBLE_EQ(variables.logprior(1, 1), std::log(0.999999999));
  EXPECT_DOUBLE_EQ(variables.logprior(2, 1), std::log(1.0 - 0.999999999));
  EXPECT_EQ(variables.logprior(1, 2), 0.0);  // no candidate mothers
  EXPECT_EQ(variables.logprior(2, 2), 0.0);

  setup(2, 1, 2, 3, 3);
  variables.propprntsampled(1) = 0.0;
  variables.propprntsampled(2) = 0.25;
  initialize();
  EXPECT_DOUBLE_EQ(variables.logprior(1, 1), std::log(1e-9));
  EXPECT_DOUBLE_EQ(variables.logprior(2, 1), std::log(1.0 - 1e-9));
  EXPECT_DOUBLE_EQ(variables.logprior(1, 2), std::log(0.25));
  EXPECT_DOUBLE_EQ(variables.logprior(2, 2), std::log(0.75));
}

TEST_F(InitializeTest, MeanNumberOfAdmissibleCandidates) {
  // Four offspring, 4 candidate fathers and 10 candidate mothers. Every offspring has a known
  // father; offspring 4 has a known mother, the other three exclude 2, none and all but 4.
  setup(4, 1, 2, 4, 10);
  for (int4 i = 1; i <= 4; ++i) variables.indivparent(i, 1) = 1;
  variables.indivparent(4, 2) = 3;
  allocate_exclusions();
  set_exclusion(1, 2, 2, {4, 9});
  set_exclusion(3, 2, -4, {1, 2, 3, 5});
  initialize();
  EXPECT_EQ(variables.sibshipdone(1), 1);
  EXPECT_EQ(variables.meannumcandidate(1), 0);
  EXPECT_EQ(variables.sibshipdone(2), 0);
  EXPECT_EQ(variables.meannumcandidate(2), 8);  // ceiling((8 + 10 + 4) / 3)

  // Without an exclusion table every offspring has all candidates: (3 + 3) / 2 exactly.
  setup(2, 1, 2, 3, 0);
  initialize();
  EXPECT_EQ(variables.meannumcandidate(1), 3);
  EXPECT_EQ(variables.sibshipdone(1), 0);
  EXPECT_EQ(variables.meannumcandidate(2), 0);  // no candidates: nothing is set
  EXPECT_EQ(variables.sibshipdone(2), 0);
}

TEST_F(InitializeTest, CrossListsIdentifiers) {
  // Offspring M1, M2, F3; fathers F1, X, F3; mothers " M1", M2, X, F1. Identifiers match
  // byte for byte, so the leading blank keeps offspring M1 apart from mother " M1".
  setup(3, 1, 2, 3, 4);
  set_ids({"M1", "M2", "F3"}, {"F1", "X", "F3"}, {" M1", "M2", "X", "F1"});
  initialize();
  const auto& v = variables;
  EXPECT_EQ(v.numcndinothersex(1), 2);  // F1 and X
  EXPECT_EQ(v.numcndinothersex(2), 0);
  const std::vector<int4> other1 = {4, 3, 0}, other2 = {0, 0, 2, 1};
  for (int4 i = 1; i <= 3; ++i) EXPECT_EQ(v.cndinothersex(i, 1), other1[i - 1]) << i;
  for (int4 j = 1; j <= 4; ++j) EXPECT_EQ(v.cndinothersex(j, 2), other2[j - 1]) << j;
  EXPECT_EQ(v.numcndinoffspring(1), 1);
  EXPECT_EQ(v.numcndinoffspring(2), 1);
  const std::vector<int4> asfather = {0, 0, 3}, asmother = {0, 2, 0};
  for (int4 i = 1; i <= 3; ++i) {
    EXPECT_EQ(v.offspringincnd(i, 1), asfather[i - 1]) << i;
    EXPECT_EQ(v.offspringincnd(i, 2), asmother[i - 1]) << i;
  }
  EXPECT_EQ(v.cndinoffspring(3, 1), 3);
  EXPECT_EQ(v.cndinoffspring(2, 2), 2);
  EXPECT_EQ(v.cndinoffspring(1, 1), 0);
  EXPECT_EQ(v.unknowngen, 1);
  EXPECT_TRUE(v.poassign.allocated());
  EXPECT_EQ(v.npoassign.lbound(1), 0);
  EXPECT_EQ(v.npoassign.ubound(1), 3);

  // No shared identifiers: nothing matched, no parent-offspring tables.
  setup(2, 1, 2, 1, 1);
  set_ids({"A", "B"}, {"C"}, {"D"});
  initialize();
  EXPECT_EQ(variables.unknowngen, 0);
  EXPECT_EQ(variables.numcndinothersex(1), 0);
  EXPECT_FALSE(variables.poassign.allocated());
}

TEST_F(InitializeTest, LogTables) {
  // N = max(2n, C): 10 for five offspring and three candidates, 12 for twelve candidates.
  struct Row {
    int4 n, c, top;
  };
  for (const Row& r : {Row{5, 3, 10}, Row{5, 12, 12}}) {
    SCOPED_TRACE(r.c);
    setup(r.n, 1, 2, r.c, 0);
    initialize();
    ASSERT_EQ(variables.factorial.lbound(1), 0);
    ASSERT_EQ(variables.factorial.ubound(1), r.top);
    ASSERT_EQ(variables.logk.ubound(1), r.top);
    EXPECT_EQ(variables.factorial(0), 0.0);
    for (int4 k = 1; k <= r.top; ++k) {
      EXPECT_NEAR(variables.factorial(k), std::lgamma(k + 1.0), 1e-12) << k;
      EXPECT_EQ(variables.logk(k), std::log(static_cast<real8>(k))) << k;
    }
  }
}

TEST_F(InitializeTest, ScalarsByOptions) {
  struct Row {
    int4 numsex, haplodiploid, mono1, mono2;
    const char* sexid1;
    int4 chk1, chk2, allelemax, homomax;
  };
  for (const Row& r : {Row{2, 0, 0, 0, "*", 1, 2, 4, 2}, Row{2, 1, 1, 0, "*", 1, 1, 3, 1},
                       Row{2, 0, 0, 1, "*", 2, 2, 4, 2}, Row{1, 0, 0, 0, "#", 1, 2, 4, 2}}) {
    SCOPED_TRACE(testing::Message() << r.numsex << r.haplodiploid << r.mono1 << r.mono2);
    setup(3, 2, r.numsex);
    variables.haplodiploid = r.haplodiploid;
    variables.monogamy(1) = r.mono1;
    variables.monogamy(2) = r.mono2;
    initialize();
    EXPECT_EQ(variables.sexid(1), r.sexid1);
    EXPECT_EQ(variables.sexid(2), "#");
    EXPECT_EQ(variables.chkidx1, r.chk1);
    EXPECT_EQ(variables.chkidx2, r.chk2);
    EXPECT_EQ(variables.numallelemax, r.allelemax);
    EXPECT_EQ(variables.numhomozygotemax, r.homomax);
    EXPECT_EQ(variables.transratehaploid.allocated(), r.haplodiploid == 1);
    EXPECT_EQ(variables.numfsgenotypeub, 1);
  }
  EXPECT_EQ(variables.bigdblelog, 667.7496769682732);
}

TEST_F(InitializeTest, TablesAndWindows) {
  // Dioecious, n = 4, C = 3: M = max(max(4, 100) + 4, 3) = 104.
  setup(4, 3, 2, 3, 2);
  variables.allowinbreeding = 1;
  variables.fname = "run/out";
  for (int4 i = 1; i <= 4; ++i) variables.crindivloc(i, 3) = 10 + i;
  initialize();
  const auto& v = variables;
  const auto& av = annealvariables;
  EXPECT_EQ(v.selectedindivq.size(), 104);
  for (const auto& e : v.selectedindivq) ASSERT_EQ(e.p, &v.falsetgt);
  EXPECT_EQ(av.selectedprntidxq1.size(), 104);
  EXPECT_EQ(v.kdxtgt.size(), 104);
  for (int k = 1; k <= 2; ++k)
    for (int4 i = 1; i <= 4; ++i) EXPECT_EQ(v.indivordertgt(k).a(i), i);
  for (int4 i = 1; i <= 4; ++i) EXPECT_EQ(v.number1tgt(i), i);
  // The visiting order of the family builders starts at its default target, the identity.
  EXPECT_EQ(v.indivorder.data(), v.number1tgt.data());
  EXPECT_EQ(v.indivorder.size(), 4);
  EXPECT_EQ(v.indivorder(4), 4);
  for (int4 l = 1; l <= 3; ++l) EXPECT_EQ(v.locusorder(l), l);
  ASSERT_EQ(v.indivclusteridx.lbound(1), 0);
  ASSERT_EQ(v.indivclusteridx.ubound(1), 104);
  EXPECT_EQ(v.indivclusteridx(0), 0);
  for (int4 c = 1; c <= 104; ++c) ASSERT_EQ(v.indivclusteridx(c), -1);
  EXPECT_EQ(v.sibshipsizedist.ubound(1), 4);  // (0:(3 - 2) 4, 1:2)
  EXPECT_EQ(v.sibshipsizedist.ubound(2), 2);
  for (int4 i = 1; i <= 4; ++i) EXPECT_EQ(v.inbindivlogl(i), 1.0);
  EXPECT_FALSE(v.inbindivloglself.allocated());
  EXPECT_FALSE(v.indivloglself.allocated());
  EXPECT_TRUE(likelihoodvar.selfprnt.allocated());
  EXPECT_EQ(likelihoodvar.selfprnt(0), 0);
  EXPECT_EQ(likelihoodvar.idxloc(0), 0);
  EXPECT_TRUE(v.indivcluster1.allocated());
  EXPECT_FALSE(v.indivclusterj.allocated());
  EXPECT_EQ(v.candidatelogl.size(1), 3);
  EXPECT_EQ(av.unassignedcnd.size(2), 2);
  EXPECT_EQ(av.familyidx1tgt(1), 1);
  EXPECT_EQ(av.locpartner1tgt(1), 0);
  EXPECT_EQ(av.locpartner1tgt(2), 1);
  EXPECT_FALSE(av.familyidx1.associated());
  EXPECT_EQ(v.confighead, nullptr);

  // Windows share storage with their targets.
  for (int4 i = 1; i <= 4; ++i) EXPECT_EQ(v.clusterid(i), 10 + i);
  annealvariables.indivloc1(2, 4) = 7;
  annealvariables.indivloc2(3, 2) = 9;
  EXPECT_EQ(av.indivlocptr14(2), 7);
  EXPECT_EQ(av.indivlocptr22(3), 9);
  EXPECT_EQ(av.indivloc12(2)(3, 2), 9);

  for (int k = 1; k <= 5; ++k)
    EXPECT_EQ(v.midfilename(k).trimmed(), "run/out.MidResult" + std::to_string(k + 1));
  EXPECT_EQ(v.date2(2).len_trim(), 8u);
  EXPECT_EQ(v.time2(2)(7), '.');
}

TEST_F(InitializeTest, MonoeciousAndMonogamousTables) {
  setup(3, 1, 1, 2, 0);
  variables.allowinbreeding = 1;
  initialize();
  EXPECT_EQ(variables.sibshipsizedist.ubound(1), 6);  // (0:(3 - 1) 3, 1:1)
  EXPECT_EQ(variables.sibshipsizedist.ubound(2), 1);
  EXPECT_EQ(variables.selectedindivq.size(), 106);  // max(100, 3) + 2 * 3
  for (int4 i = 1; i <= 3; ++i) EXPECT_EQ(variables.inbindivloglself(i), 1.0);
  EXPECT_TRUE(variables.indivloglself.allocated());
  EXPECT_EQ(likelihoodvar.i1bflag.size(), 10);
  EXPECT_FALSE(likelihoodvar.selfprnt.allocated());
  EXPECT_TRUE(variables.indivclusterj.allocated());

  // Both sexes monogamous in a dioecious species: no per-sex cluster lists.
  setup(3, 1, 2);
  variables.allmonogamy = 1;
  initialize();
  EXPECT_TRUE(variables.indivcluster.allocated());
  EXPECT_FALSE(variables.indivcluster1.allocated());
  EXPECT_FALSE(variables.indivclusterf.allocated());
}

TEST_F(InitializeTest, DominantFullSibTables) {
  const std::vector<std::vector<real8>> m1 = {{0, 0.5, 0, 1, 0.5},
                                              {0.5, 0.5, 0.25, 0.5, 0.25},
                                              {0, 0.25, 0, 0.5, 0.25},
                                              {1, 0.5, 0.5, 0, 0},
                                              {0.5, 0.25, 0.25, 0, 0}};
  const std::vector<std::vector<real8>> m2 = {
      {0, 0, 0, 0, 0, 1},    {0, 0, 0.25, 0, 0, 0.25}, {0, 0.25, 0, 0, 0, 0.25},
      {0, 0, 0, 0, 0, 0.25}, {0, 0, 0, 0, 0, 0},       {1, 0.25, 0.25, 0.25, 0, 0}};
  const std::vector<std::vector<real8>> m3 = {{1, 0.5}, {0.5, 0.25}};
  setup(2, 1);
  initialize();
  const std::vector<std::vector<real8>>* rows[3] = {&m1, &m2, &m3};
  for (int t = 1; t <= 3; ++t) {
    SCOPED_TRACE(t);
    const auto& m = *rows[t - 1];
    const auto& a = variables.fsprobdomnoerr(t).a;
    ASSERT_EQ(a.size(1), static_cast<index_t>(m.size()));
    ASSERT_EQ(a.size(2), static_cast<index_t>(m.size()));
    for (std::size_t i = 0; i < m.size(); ++i)
      for (std::size_t j = 0; j < m.size(); ++j)
        EXPECT_EQ(a(static_cast<index_t>(i + 1), static_cast<index_t>(j + 1)), m[i][j])
            << i + 1 << "," << j + 1;
  }
}

TEST_F(InitializeTest, LeftOverRunStateStopsThroughTheMemoryFlag) {
  testing_support::TempWorkDir dir{"initialize_memory"};
  setup(3, 1);
  annealvariables.indivloc1.allocate(Dim(3), Dim(4));
  variables.fname = "myout";
  const int status =
      testing_support::expect_stop([] { initialize(); }, "Initialize", {.flag = 0, .report = true});
  EXPECT_EQ(status, 1);
  EXPECT_EQ(testing_support::read_text("Kinrad2.ErrorMessage"),
            "Program stopped due to insufficient memory!\n"
            "Program stopped in subroutine Initialize, dataset = myout.\n");
}

}  // namespace
}  // namespace kinrad
