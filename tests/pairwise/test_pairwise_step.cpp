// The whole pairwise step: the parentage phase's rows and counts on hand-made fixtures, its
// confidence levels against a threshold table, the known-parent mismatch stop, the start
// temperature and the log priors against a Python transcription of their formulas
// (tools/python/pairwise_step_oracle.py), the marker record against gfortran, and the step
// without candidates.
#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/modules/simuvariables.hpp"
#include "likelihood/likelihood.hpp"
#include "pairwise/dyad_sample.hpp"
#include "support/expect_stop.hpp"

namespace kinrad::pairtest {
namespace {

std::string text(const std::string& name) {
  return testing_support::read_text(name);
}

std::vector<real8> singles() {
  const Variables& v = variables;
  if (v.locus2.allocated() && v.locus2(0) > 0) computegtypefre(0, 0);
  std::vector<real8> single(static_cast<std::size_t>(v.smplsize));
  singleindivlikelihood(0.0, v.smplsize, 0, single);
  return single;
}

// Thresholds of every table and sex: 90 % for any DELTA from 0 up, 95 % never.
void flatthresholds() {
  Simuvariables& sv = simuvariables;
  for (FArray<real8, 2>* t : {&sv.threshold, &sv.threshold2, &sv.thresholdh}) {
    t->allocate(Dim(2), Dim(10));
    t->fill(0.0);
    (*t)(1, 1) = 1e9;
    (*t)(2, 1) = 1e9;
  }
}

struct Sums {
  real8 sum = 0.0, weight = 0.0;
};

Sums runparentage() {
  variables.displayq = 0;
  const std::vector<real8> single = singles();
  setfamilystruc(variables.smplsize, 2);
  Sums s;
  pairwise_parentage(single, s.sum, s.weight);
  return s;
}

// Four codominant loci without typing errors. O1's father is M1 (M2 and O3 share no allele
// with O1 at Ma); O2 can only be M1's, but M1 is excluded for it; O3 has the known father M2;
// O4 is itself candidate father 3 and shares no allele with M1 (Mb) or M2 (Ma). No mothers.
readtest::ProjectFile parentagefixture() {
  readtest::ProjectFile p;
  p.loci = 4;
  p.markerids = "Ma Mb Mc Md";
  p.offspring = {
      "O1 101 102 103 104 0 0 105 106",      //
      "O2 101 101 103 103 101 101 105 105",  //
      "O3 103 104 104 106 102 103 101 102",  //
      "O4 105 106 101 102 104 104 102 103",  //
  };
  p.fathers = {
      "M1 101 103 103 105 101 102 105 105",  //
      "M2 104 104 104 106 102 103 0 0",      //
      "O4 105 106 101 102 104 104 102 103",  //
  };
  p.proportions = "0.5 0.5";
  p.knownpaternity = "1 99\nO3 M2";
  p.excludedpaternity = "1\nO2 1 M1";
  return p;
}

// The rows written out by hand: O1 with M1 (typed loci: O1 3, M1 4, both 3, no exclusion); O2
// nothing (every other father is excluded by its genotypes, so all DELTA <= 0); O3 its known
// father M2 at 100 % (O3 4, M2 3, both 3); O4 nothing (only itself would fit). The maternity
// file is removed: there are no mothers.
TEST_F(PairTest, ParentageRowsOfAHandFixture) {
  ASSERT_TRUE(prepare(parentagefixture().text()));
  ASSERT_EQ(variables.numcandidate(2), 0);
  ASSERT_EQ(variables.offspringincnd(4, 1), 3);
  flatthresholds();
  const Sums s = runparentage();
  EXPECT_EQ(text("myout.PairwisePaternity"),
            "OffspringID,CandidateID,Confidence,#OffGtype,#PrntGtype,#PairGtype,#ExcLoci\n"
            "O1,M1,90%,3,4,3,0\n"
            "O3,M2,100%,4,3,3,0\n");
  EXPECT_FALSE(std::filesystem::exists("myout.PairwiseMaternity"));
  // Credible parent-offspring scores: O1-M1, O2-M1 is excluded by the list, O4 with itself is
  // skipped, so only O1-M1 and any father fitting O2 or O4 at every locus (none) count.
  EXPECT_EQ(s.weight, 1.0);
  EXPECT_GT(s.sum, 0.0);
}

// Two of three fathers excluded are kept as the list of the one still allowed (a negative
// count): with M2 alone allowed O1 gets no father (M2 shares no allele with it at Ma), with M1
// alone it keeps M1.
TEST_F(PairTest, OnlyTheListedCandidatesRemainAllowed) {
  const std::string head =
      "OffspringID,CandidateID,Confidence,#OffGtype,#PrntGtype,#PairGtype,#ExcLoci\n";
  struct Row {
    const char* list;
    std::string rows;
  };
  const std::vector<Row> rows = {
      {"2\nO2 1 M1\nO1 2 M1 O4", head + "O3,M2,100%,4,3,3,0\n"},
      {"2\nO2 1 M1\nO1 2 M2 O4", head + "O1,M1,90%,3,4,3,0\nO3,M2,100%,4,3,3,0\n"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.list);
    readtest::ProjectFile p = parentagefixture();
    p.excludedpaternity = r.list;
    ASSERT_TRUE(prepare(p.text()));
    ASSERT_EQ(variables.excludedparent(1, 1).count, -1);
    flatthresholds();
    runparentage();
    EXPECT_EQ(text("myout.PairwisePaternity"), r.rows);
  }
}

// The four counts of chosen pairs of the fixture, written out by hand from the genotypes.
TEST_F(PairTest, ParentageCountsByHand) {
  ASSERT_TRUE(prepare(parentagefixture().text()));
  struct Row {
    int4 i, c;
    ParentageCounts n;
  };
  // Ma..Md typed or not, and exclusion where both are typed and share no allele.
  const std::vector<Row> rows = {
      {1, 1, {3, 4, 3, 0}},  // O1 untyped at Mc
      {1, 2, {3, 3, 2, 1}},  // M2 untyped at Md; Ma 101 102 / 104 104 share nothing
      {4, 1, {4, 4, 4, 4}},  // no allele shared at any of the four loci
      {2, 2, {4, 3, 3, 3}},  // Ma, Mb 103/104 106, Mc 101/102 103
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(::testing::Message() << "O" << r.i << " father " << r.c);
    const ParentageCounts n = parentagecounts(r.i, 1, r.c);
    EXPECT_EQ(n.offgtype, r.n.offgtype);
    EXPECT_EQ(n.prntgtype, r.n.prntgtype);
    EXPECT_EQ(n.pairgtype, r.n.pairgtype);
    EXPECT_EQ(n.excloci, r.n.excloci);
  }
}

// A haplodiploid species: the haploid son appears only in the maternity file, the daughter in
// both. Mothers F1 (true mother of both) and F2 (shares no allele with either at Ma).
TEST_F(PairTest, HaploidOffspringOnlyInTheMaternityFile) {
  readtest::ProjectFile p;
  p.loci = 3;
  p.haplodiploid = "1";
  p.markerids = "Ma Mb Mc";
  // Four more daughters share no allele with any candidate at Ma and Mb, so that the
  // parents' alleles are not the common ones.
  p.offspring = {"S1 101 -99 103 -99 105 -99", "D1 101 104 103 106 105 107",
                 "U1 107 108 107 108 108 108", "U2 108 108 107 107 101 108",
                 "U3 107 107 108 108 102 108", "U4 107 108 107 108 108 108"};
  p.fathers = {"M1 104 106 107"};  // haploid: one allele per locus
  p.mothers = {"F1 101 102 103 103 105 106", "F2 103 103 104 105 106 106"};
  ASSERT_TRUE(prepare(p.text()));
  ASSERT_EQ(variables.offploid(1), 1);
  flatthresholds();
  runparentage();
  EXPECT_EQ(text("myout.PairwisePaternity"),
            "OffspringID,CandidateID,Confidence,#OffGtype,#PrntGtype,#PairGtype,#ExcLoci\n"
            "D1,M1,90%,3,3,3,0\n");
  EXPECT_EQ(text("myout.PairwiseMaternity"),
            "OffspringID,CandidateID,Confidence,#OffGtype,#PrntGtype,#PairGtype,#ExcLoci\n"
            "S1,F1,90%,3,3,3,0\n"
            "D1,F1,90%,3,3,3,0\n");
}

// The rows do not depend on where the parent-offspring vectors come from: the dyad tables of
// the set-up (both scores) or this phase's own (full likelihood only).
TEST_F(PairTest, ParentageRowsWithAndWithoutTheSetUpTables) {
  std::string rows[2];
  for (int k = 0; k < 2; ++k) {
    readtest::ProjectFile p = parentagefixture();
    p.method = k == 0 ? "1" : "2";
    ASSERT_TRUE(prepare(p.text()));
    EXPECT_EQ(prbpopair_allocated(), k == 1);
    flatthresholds();
    runparentage();
    rows[k] = text("myout.PairwisePaternity");
    // The set-up's tables stay for the rest of the analysis; this phase's own are freed.
    EXPECT_EQ(prbpopair_allocated(), k == 1);
  }
  EXPECT_EQ(rows[0], rows[1]);
}

// One parent pool: the offspring's two parents P1 and P2 are the best two candidates (P3 shares
// no allele with it at Ma). The paternity row names the best with DELTA b1 - b3, the
// maternity row the second best with b2 - b3; b3 = 0, both positive: 90 % each.
TEST_F(PairTest, OneParentPoolGivesTheBestTwoCandidates) {
  readtest::ProjectFile p;
  p.loci = 4;
  p.sexes = "1";
  p.markerids = "Ma Mb Mc Md";
  // O2 to O4 share no allele with any candidate at Ma.
  p.offspring = {"O1 101 102 103 104 105 106 107 108", "O2 120 121 111 112 113 114 115 116",
                 "O3 121 122 112 113 114 116 115 117", "O4 120 122 111 111 113 113 116 117"};
  p.fathers = {"P1 101 109 103 111 105 113 107 115", "P2 102 110 104 112 106 114 108 116",
               "P3 110 111 112 113 114 115 116 117"};
  p.mothers = p.fathers;
  ASSERT_TRUE(prepare(p.text()));
  ASSERT_EQ(variables.numsex, 1);
  flatthresholds();
  runparentage();
  const std::string head =
      "OffspringID,CandidateID,Confidence,#OffGtype,#PrntGtype,#PairGtype,#ExcLoci\n";
  const std::string pat = text("myout.PairwisePaternity");
  const std::string mat = text("myout.PairwiseMaternity");
  const bool p1first = pat == head + "O1,P1,90%,4,4,4,0\n";
  EXPECT_TRUE(p1first || pat == head + "O1,P2,90%,4,4,4,0\n") << pat;
  EXPECT_EQ(mat, head + (p1first ? "O1,P2,90%,4,4,4,0\n" : "O1,P1,90%,4,4,4,0\n"));
}

// The level scan by hand against T = 9, 7, 6, 5, 4.5, 3, 2, 1, 0.5, 0.3 (95 ... 50 %).
TEST(ParentageLevel, DeltaAgainstTheThresholds) {
  const std::array<real8, 10> t{9, 7, 6, 5, 4.5, 3, 2, 1, 0.5, 0.3};
  struct Row {
    real8 delta;
    int4 level;  // 0: no row; confidence 100 - 5 level
  };
  const std::vector<Row> rows = {
      {0.0, 0}, {0.29, 0}, {0.3, 10}, {0.4, 10}, {0.5, 9}, {0.99, 9}, {1.0, 8},
      {4.5, 5}, {4.49, 6}, {5.0, 4},  {8.99, 2}, {9.0, 1}, {1e9, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.delta);
    EXPECT_EQ(parentagelevel(r.delta, t), r.level);
  }
  // Thresholds out of order: the scan from 55 % up takes the first level above DELTA, and
  // DELTA at or above the 95 % threshold is 95 % whatever lies between.
  const std::array<real8, 10> u{3, 7, 6, 5, 4, 3, 2, 1, 0.5, 0.3};
  EXPECT_EQ(parentagelevel(3.5, u), 1);
  EXPECT_EQ(parentagelevel(2.5, u), 7);
}

// A known father sharing no allele with his offspring at an error-free locus stops the step
// with the five lines, listing the error-free loci of two or more alleles.
TEST_F(PairTest, KnownParentMismatchStops) {
  readtest::ProjectFile p = parentagefixture();
  p.knownpaternity = "1 99\nO1 M2";  // O1 and M2 share no allele at Ma
  ASSERT_TRUE(prepare(p.text()));
  flatthresholds();
  ASSERT_EQ(testing_support::expect_stop([] { runparentage(); }, "PairwiseInference"), 1);
  EXPECT_EQ(variables.errmsg(1).trimmed(),
            "Offspring O1 & known parent M2 have mismatched genotypes, possibly at loci: "
            "Ma,Mb,Mc,Md!");
  EXPECT_EQ(variables.errmsg(2).trimmed(), "To run the program, you have to:");
  EXPECT_EQ(variables.errmsg(3).trimmed(), "  1. Check and correct the known relationship, or");
  EXPECT_EQ(variables.errmsg(4).trimmed(),
            "  2. Allow for genotyping errors (false alleles) in data");
  EXPECT_EQ(variables.errmsg(5).trimmed(), "Program stops!");
}

// ---- Start temperature and log priors ----

// The values come from tools/python/pairwise_step_oracle.py (the formulas in Python floats).
TEST(StartTemperature, AgainstTheFormulas) {
  struct Row {
    const char* what;
    real8 as, ws, ap, wp;
    int4 loci23, numsex, inbreeding;
    real8 d, expected;
  };
  const std::vector<Row> rows = {
      {"both", 30, 12, 50, 10, 3, 2, 0, 0, 1.8596691681264668},
      {"sibs", 30, 12, 0, 0, 3, 2, 0, 0, 1.6906083346604244},
      {"parents", 0, 0, 50, 10, 3, 2, 0, 0, 3.3812166693208487},
      {"none", 0, 0, 0, 0, 3, 2, 0, 0, 2.0287300015925092},
      {"zero sum", 0, 12, 0, 0, 3, 2, 0, 0, 2.0287300015925092},
      {"no polymorphic locus", 0, 0, 0, 0, 0, 2, 0, 0, 0.67624333386416979},
      {"selfing", 30, 12, 50, 10, 3, 1, 1, 4, 2.2040523474091458},
      {"outbred monoecious", 30, 12, 50, 10, 3, 1, 0, 4, 1.8596691681264668},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    reset_all_modules();
    variables.smplsize = 50;
    variables.numloci23 = r.loci23;
    variables.numsex = r.numsex;
    variables.allowinbreeding = r.inbreeding;
    EXPECT_NEAR(starttemperature(r.as, r.ws, r.ap, r.wp, r.d), r.expected, 1e-14 * r.expected);
  }
  reset_all_modules();
}

struct PriorCase {
  const char* what;
  int4 loci23, n, nd, n2, method;
  std::vector<int4> alleles;
  std::vector<real8> errors;
  int4 haploids, diploids;
  std::vector<real8> rowh, row;  // thresholdh and threshold of the sex with candidates
  int4 sex, candidates;
  real8 a, lp1, lp2;  // expected logprior(1, sex), (2, sex)
};

TEST(LogPrior, AgainstTheFormulas) {
  const std::vector<PriorCase> rows = {
      {"full likelihood, haploid and diploid offspring",
       3,
       50,
       1,
       1,
       1,
       {2, 3, 1, 5},
       {0.01, 0.02, 0.5, 0.03},
       10,
       40,
       {5, 4, 3, 2, 1.5, 1, 0.8, 0.5, 0.2, 0.1},
       {9, 7, 6, 5, 4.5, 3, 2, 1, 0.5, 0.3},
       1,
       20,
       0.6,
       -1.9215051851584293,
       -0.15827671395948967},
      // K = lround(0.5) + lround(15) = 16; levels 2 and 4 lie within 0.001 of level 1.
      {"pairwise score",
       2,
       30,
       1,
       2,
       0,
       {2, 2, 4},
       {0.05, 0.04, 0.0},
       0,
       30,
       {},
       {3.0, 3.0005, 2.9, 3.0009, 1, 0.9, 0.8, 0.7, 0.6, 0.5},
       2,
       5,
       0.3,
       -21.203972934072265,
       -6.1834604122811938e-10},
      // e^(0.25 (400 - 0)) overflows single precision: Q = 0.
      {"overflow",
       400,
       100,
       0,
       400,
       1,
       std::vector<int4>(400, 2),
       std::vector<real8>(400, 0.02),
       0,
       100,
       {},
       {9, 8, 7, 6, 5, 4, 3, 2, 1, 0.5},
       2,
       50,
       0.5,
       -0.69315118055194513,
       -0.6931431805839452},
  };
  for (const PriorCase& r : rows) {
    SCOPED_TRACE(r.what);
    reset_all_modules();
    Variables& v = variables;
    Simuvariables& sv = simuvariables;
    v.numloci = static_cast<int4>(r.alleles.size());
    v.numloci23 = r.loci23;
    v.smplsize = r.n;
    v.numdommarkers(1) = r.nd;
    v.locus2.allocate(Dim(0, std::max(r.n2, 1)));
    v.locus2(0) = r.n2;
    v.fulllikelihoodmethodq = r.method;
    v.obsnumallele.allocate(Dim(v.numloci));
    v.othererrorrate.allocate(Dim(v.numloci));
    for (int4 l = 1; l <= v.numloci; ++l) {
      v.obsnumallele(l) = r.alleles[static_cast<std::size_t>(l - 1)];
      v.othererrorrate(l) = r.errors[static_cast<std::size_t>(l - 1)];
    }
    v.smplsizedh(1) = r.haploids;
    v.smplsizedh(2) = r.diploids;
    sv.threshold.allocate(Dim(2), Dim(10));
    sv.thresholdh.allocate(Dim(2), Dim(10));
    for (int4 l = 1; l <= 10; ++l) {
      sv.threshold(r.sex, l) = r.row[static_cast<std::size_t>(l - 1)];
      if (!r.rowh.empty()) sv.thresholdh(r.sex, l) = r.rowh[static_cast<std::size_t>(l - 1)];
    }
    v.numcandidate(r.sex) = r.candidates;
    v.propprntsampled(r.sex) = r.a;
    v.logprior.allocate(Dim(2), Dim(2));
    v.logprior(1, r.sex) = std::log(r.a);
    v.logprior(2, r.sex) = std::log(1.0 - r.a);
    // The other sex has no candidates and keeps its values.
    const int4 o = 3 - r.sex;
    v.logprior(1, o) = -0.5;
    v.logprior(2, o) = -0.9;
    updatelogprior();
    EXPECT_NEAR(v.logprior(1, r.sex), r.lp1, 1e-12 * std::fabs(r.lp1));
    EXPECT_NEAR(v.logprior(2, r.sex), r.lp2, 1e-9 * std::fabs(r.lp2));
    EXPECT_EQ(v.logprior(1, o), -0.5);
    EXPECT_EQ(v.logprior(2, o), -0.9);
  }
  reset_all_modules();
}

// Written by gfortran 12 with the same format for the same values (a three-digit exponent
// drops its letter).
TEST(MarkerRecord, ByteForByte) {
  reset_all_modules();
  Variables& v = variables;
  v.logprior.allocate(Dim(2), Dim(2));
  v.logprior(1, 1) = -0.287682072;
  v.logprior(2, 1) = -1.23e-105;
  v.logprior(1, 2) = 1.0e100;
  v.logprior(2, 2) = -1.386294361;
  EXPECT_EQ(markerrecord(4.5495154),
            "    4.54951540E+00   -2.87682072E-01   -1.23000000-105    1.00000000+100"
            "   -1.38629436E+00\n");
  reset_all_modules();
}

// The marker is trusted only when its record is whole: the record of the test above, the same
// with the check mode's sixth value, and with a CR before its line end are whole; the record
// cut anywhere (half of it, or only its line end), text in its place, fewer than five values,
// an empty file and no file are not.
TEST_F(PairTest, OnlyAWholeMarkerIsTrusted) {
  Variables& v = variables;
  v.midfilename(5) = "m.MidResult6";
  const std::string whole =
      "    4.54951540E+00   -2.87682072E-01   -1.23000000-105    1.00000000+100"
      "   -1.38629436E+00\n";
  struct Row {
    const char* what;
    std::optional<std::string> file;
    bool trusted;
  };
  const std::vector<Row> rows = {
      {"whole", whole, true},
      {"six values", whole.substr(0, whole.size() - 1) + "    3.00000000E+00\n", true},
      {"CR LF", whole.substr(0, whole.size() - 1) + "\r\n", true},
      {"half", whole.substr(0, whole.size() / 2), false},
      {"without its line end", whole.substr(0, whole.size() - 1), false},
      {"text", std::string("not a marker\n"), false},
      {"four values", std::string("1.0 2.0 3.0 4.0\n"), false},
      {"empty", std::string(), false},
      {"absent", std::nullopt, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    std::filesystem::remove("m.MidResult6");
    if (r.file) testing_support::write_text("m.MidResult6", *r.file);
    EXPECT_EQ(pairwise_marker_whole(), r.trusted);
  }
}

// No candidates: no simulation, both parentage files made and removed, the log priors as they
// were, and the marker holding the temperature.
TEST_F(PairTest, StepWithoutCandidates) {
  SampleSpec spec;
  spec.n = 8;
  spec.fathers = 0;
  spec.mothers = 0;
  spec.method = "1";
  ASSERT_TRUE(prepare(projectof(spec).text()));
  variables.displayq = 0;
  ASSERT_EQ(variables.allcandidate, 0);
  const real8 before[4] = {variables.logprior(1, 1), variables.logprior(2, 1),
                           variables.logprior(1, 2), variables.logprior(2, 2)};
  pairrelation();
  EXPECT_FALSE(simuvariables.threshold.allocated());
  EXPECT_EQ(simuvariables.delta.replicatesrun, 0);
  EXPECT_FALSE(std::filesystem::exists("myout.PairwisePaternity"));
  EXPECT_FALSE(std::filesystem::exists("myout.PairwiseMaternity"));
  EXPECT_TRUE(std::filesystem::exists("myout.PairwiseFullSibDyad"));
  EXPECT_EQ(variables.logprior(1, 1), before[0]);
  EXPECT_EQ(variables.logprior(2, 1), before[1]);
  EXPECT_EQ(variables.logprior(1, 2), before[2]);
  EXPECT_EQ(variables.logprior(2, 2), before[3]);
  const std::string marker = text("myout.MidResult6");
  ASSERT_EQ(marker.size(), 91u);
  EXPECT_EQ(marker.substr(18), markerrecord(0.0).substr(18));
  const real8 t = std::stod(marker.substr(0, 18));
  EXPECT_GT(t, 0.0);
}

// One parent pool without selfing: an offspring with a known parent is scored with every other
// candidate as its second parent; the known parent itself cannot be both.
TEST_F(PairTest, OneParentPoolWithAKnownParent) {
  readtest::ProjectFile p;
  p.loci = 4;
  p.sexes = "1";
  p.markerids = "Ma Mb Mc Md";
  p.offspring = {"O1 101 102 103 104 105 106 107 108", "O2 120 121 111 112 113 114 115 116",
                 "O3 121 122 112 113 114 116 115 117", "O4 120 122 111 111 113 113 116 117"};
  p.fathers = {"P1 101 109 103 111 105 113 107 115", "P2 102 110 104 112 106 114 108 116",
               "P3 110 111 112 113 114 115 116 117"};
  p.mothers = p.fathers;
  p.knownpaternity = "1 99\nO1 P1";
  ASSERT_TRUE(prepare(p.text()));
  flatthresholds();
  runparentage();
  const std::string head =
      "OffspringID,CandidateID,Confidence,#OffGtype,#PrntGtype,#PairGtype,#ExcLoci\n";
  EXPECT_EQ(text("myout.PairwisePaternity"), head + "O1,P1,100%,4,4,4,0\n");
  EXPECT_EQ(text("myout.PairwiseMaternity"), head + "O1,P2,90%,4,4,4,0\n");
}

// One parent pool with selfing: O1's known father and mother are both P1 (a selfed family
// scored as the known-parent check), O2's known father is P1 (every candidate, P1 itself
// included, is tried as its mother) and O3's known mother is P2. The phase runs through and
// writes the known parents at 100 %; the counts by hand: every offspring and parent is typed at
// all 4 loci and each known parent shares an allele with its offspring at every locus.
TEST_F(PairTest, OneParentPoolWithSelfingAndKnownParents) {
  readtest::ProjectFile p;
  p.loci = 4;
  p.sexes = "1";
  p.inbreeding = "1";
  p.markerids = "Ma Mb Mc Md";
  p.offspring = {"O1 101 101 103 104 106 106 107 108", "O2 102 120 104 111 105 113 108 116",
                 "O3 110 121 112 113 114 116 115 116", "O4 120 122 111 111 113 113 116 117"};
  p.fathers = {"P1 101 102 103 104 105 106 107 108", "P2 102 110 104 112 106 114 108 116",
               "P3 110 111 112 113 114 115 116 117"};
  p.mothers = p.fathers;
  p.knownpaternity = "2 99\nO1 P1\nO2 P1";
  p.knownmaternity = "2 99\nO1 P1\nO3 P2";
  ASSERT_TRUE(prepare(p.text()));
  ASSERT_EQ(variables.allowinbreeding, 1);
  flatthresholds();
  runparentage();
  const std::string paternity = text("myout.PairwisePaternity");
  const std::string maternity = text("myout.PairwiseMaternity");
  EXPECT_NE(paternity.find("O1,P1,100%,4,4,4,0\n"), std::string::npos) << paternity;
  EXPECT_NE(paternity.find("O2,P1,100%,4,4,4,0\n"), std::string::npos) << paternity;
  EXPECT_NE(maternity.find("O1,P1,100%,4,4,4,0\n"), std::string::npos) << maternity;
  EXPECT_NE(maternity.find("O3,P2,100%,4,4,4,0\n"), std::string::npos) << maternity;
  EXPECT_EQ(variables.parentjdx(1, 1), 0);
  EXPECT_EQ(variables.parentjdx(1, 2), 0);
}

// A dominant locus counts as typed but never excludes: Ma (codominant) shares nothing, Mb
// (dominant) shows the band in the offspring only; Mc (dominant) untyped in the father.
TEST_F(PairTest, DominantLociNeverCountAsExcluding) {
  readtest::ProjectFile p;
  p.loci = 3;
  p.markerids = "Ma Mb Mc";
  p.markertypes = "0 1 1";
  p.offspring = {"O1 101 102 1 2", "O2 103 103 2 1"};
  p.fathers = {"M1 103 104 2 0"};
  ASSERT_TRUE(prepare(p.text()));
  const ParentageCounts n = parentagecounts(1, 1, 1);
  EXPECT_EQ(n.offgtype, 3);
  EXPECT_EQ(n.prntgtype, 2);
  EXPECT_EQ(n.pairgtype, 2);
  EXPECT_EQ(n.excloci, 1);
}

}  // namespace
}  // namespace kinrad::pairtest
