// The self-check of the search state: a valid state passes every test, and one corruption per
// stop code stops it with that code, the exact diagnostic on standard output (written out by
// hand from the messages and edit formats of the check), the same lines in the error file,
// "STOP " + code on standard error and exit status 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "checkpoint_fixture.hpp"
#include "core/error_stop.hpp"
#include "core/format_write.hpp"

namespace kinrad::test {
namespace {

using testing_support::read_text;
using testing_support::TempWorkDir;

// What the search hands the check after a move.
struct Caller {
  FStatic<int4, 1, 4> numassign{};
  FStatic<int4, 1, 2> nsib{};
  FStatic<int4, 1, 2> newnumfamily{};
  real8 prior = 0.0;
  real8 parentlogl = 0.0;
  int4 acceptq = 1;
};

constexpr int8 kIterate = 123;

// The blank record, the dataset line and a message with the iteration in (I10).
std::string head(const std::string& message) {
  return "\nError in running dataset: myout.\n" + message + "       123\n";
}

class CheckResult : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing_support::prepare(checkpoint_project("0")));
    auto& v = variables;
    v.displayq = 0;
    v.checkmode = 2;
    set_fixture_configurations();
    set_fixture_frequencies();
  }
  void TearDown() override { reset_all_modules(); }

  // Completes the state of the configuration in hand as the search keeps it: the combined
  // parent column, the unassigned-candidate marks, the sibship sizes, the cluster scores and
  // the total score; and the caller's values.
  Caller complete_state() {
    auto& v = variables;
    auto& av = annealvariables;
    const int4 n = v.smplsize;
    Caller c;
    for (int4 i = 1; i <= n; ++i)
      for (int4 s = 1; s <= 2; ++s) {
        const int4 k = v.indivparent.allocated() ? v.indivparent(i, s) : 0;
        v.inferparent2(i, s) = k > 0 ? k : v.inferparent(i, s);
      }
    for (int4 s = 1; s <= 2; ++s) {
      std::vector<int> used(static_cast<std::size_t>(v.numcandidate(s)) + 1, 0);
      for (int4 i = 1; i <= n; ++i) used[static_cast<std::size_t>(v.inferparent(i, s))] = 1;
      for (int4 k = 1; k <= v.numcandidate(s); ++k) {
        const bool known = v.knownprntq(k, s) > 0;
        av.unassignedcnd(k, s) = (!known && used[static_cast<std::size_t>(k)] == 0) ? 1 : 0;
        if (used[static_cast<std::size_t>(k)] != 0) ++c.numassign(s);
      }
      for (int4 i = 1; i <= n; ++i)
        if (v.inferparent(i, s) > 0) ++c.numassign(2 + s);
    }
    int4 nclust = 0;
    for (int4 i = 1; i <= n; ++i) {
      c.newnumfamily(1) = std::max(c.newnumfamily(1), v.crindivloc(i, 1));
      c.newnumfamily(2) = std::max(c.newnumfamily(2), v.crindivloc(i, 2));
      nclust = std::max(nclust, v.crindivloc(i, 3));
    }
    c.nsib(1) = c.nsib(2) = (3 - v.numsex) * n;
    v.indivlocprt = v.crindivloc.view();
    v.inferparentprt = v.inferparent.view();
    if (v.priortype == 1) sibshipsize(c.newnumfamily, 1);
    FStatic<int4, 1, 4> count{};
    configurationprior(count, c.prior, c.nsib, c.newnumfamily);
    computeparentlogl(c.parentlogl);
    // The data are diploid: a sample made haplodiploid here is not scored (its checks end
    // before the score is recomputed).
    if (v.haplodiploid == 1) return c;
    std::vector<real8> logl(static_cast<std::size_t>(nclust));
    updatefamilylogl(logl.data(), nclust);
    real8 total = c.prior + c.parentlogl;
    for (int4 k = 1; k <= nclust; ++k) {
      v.crfamilylogl(k) = logl[static_cast<std::size_t>(k - 1)];
      total += logl[static_cast<std::size_t>(k - 1)];
    }
    v.crloglikelihood = total;
    return c;
  }

  // Runs the check; returns the stop code ("" when it passed) with its outputs.
  std::string run(const Caller& c) {
    out_.clear();
    err_.clear();
    status_ = 0;
    std::remove("Kinrad2.ErrorMessage");
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    std::string code;
    try {
      checkresult(kIterate, c.numassign, c.nsib, c.newnumfamily, c.prior, c.parentlogl, c.acceptq);
    } catch (const ProgramStop& stop) {
      code = stop.name();
      status_ = report_program_stop(stop, 0);
    }
    out_ = ::testing::internal::GetCapturedStdout();
    err_ = ::testing::internal::GetCapturedStderr();
    return code;
  }

  TempWorkDir dir_{"check_result"};
  std::string out_, err_;
  int status_ = 0;
};

TEST_F(CheckResult, AValidStatePassesAndIsLeftAsFound) {
  auto& v = variables;
  const Caller c = complete_state();
  const auto loc = v.crindivloc.copy();
  const auto dist = v.sibshipsizedist.copy();
  for (int4 accept : {1, 0}) {
    SCOPED_TRACE(accept);
    Caller k = c;
    k.acceptq = accept;
    EXPECT_EQ(run(k), "");
    EXPECT_EQ(out_, "");
    for (index_t i = 1; i <= loc.size(); ++i)
      EXPECT_EQ(v.crindivloc.data()[i - 1], loc.data()[i - 1]);
    for (index_t i = 1; i <= dist.size(); ++i)
      EXPECT_EQ(v.sibshipsizedist.data()[i - 1], dist.data()[i - 1]);
  }
}

// One corruption of a valid state: `before` changes the state (the caller's values are then
// taken from it), `after` corrupts the caller's values or the state kept beside them.
struct Fault {
  const char* what;
  std::function<void()> before;
  std::function<void(Caller&)> after;
  const char* code;
  std::string out;
};

void set_column(int4 col, std::initializer_list<int4> values) {
  int4 i = 1;
  for (int4 x : values) variables.crindivloc(i++, col) = x;
}

void make_haploid(std::initializer_list<int4> offspring) {
  auto& v = variables;
  v.haplodiploid = 1;
  for (int4 i = 1; i <= v.smplsize; ++i) v.offploid(i) = 2;
  for (int4 i : offspring) v.offploid(i) = 1;
  v.smplsizedh(1) = static_cast<int4>(offspring.size());
  v.smplsizedh(2) = v.smplsize - v.smplsizedh(1);
}

void ensure_known_tables() {
  auto& v = variables;
  if (!v.knownsibship.allocated()) v.knownsibship.allocate(Dim(v.smplsize), Dim(2));
  if (!v.indivparent.allocated()) {
    v.indivparent.allocate(Dim(v.smplsize), Dim(2));
    v.indivparent.fill(-1);
  }
}

// Makes the recomputed total -10000 by the weight of the unsampled fathers in the prior: five
// paternal families of the fixture have no candidate father.
void total_of_minus_10000() {
  auto& v = variables;
  FStatic<int4, 1, 2> nsize{}, nfam{};
  nsize(1) = nsize(2) = (3 - v.numsex) * v.smplsize;
  nfam(1) = 7;
  nfam(2) = 8;
  v.indivlocprt = v.crindivloc.view();
  v.inferparentprt = v.inferparent.view();
  FStatic<int4, 1, 4> count{};
  real8 prior = 0.0, cand = 0.0;
  configurationprior(count, prior, nsize, nfam);
  computeparentlogl(cand);
  std::vector<real8> logl(7);
  updatefamilylogl(logl.data(), 7);
  real8 total = prior + cand;
  for (real8 x : logl) total += x;
  v.logprior(2, 1) += (-10000.0 - total) / 5.0;
}

TEST_F(CheckResult, EachCorruptionStopsWithItsCode) {
  auto& v = variables;
  auto& av = annealvariables;
  // Right-justified headings and values, counted by hand.
  const std::string sib_heads = "            Sex        SibSize    Count(True)    Count(Crrt)\n";
  const std::vector<Fault> faults = {
      {"a scratch mark left set", nullptr, [&](Caller&) { av.selectedprntidxq2(5) = 1; }, "#00",
       "\nError in running dataset: myout.\nSelectedPrntIdxQ2(:) <> 0\n"},
      {"the combined parent column", nullptr, [&](Caller&) { v.inferparent2(10, 1) = 2; }, "#01",
       head("Error in InferParent2, iterate") + "     1    10     1    -1     2\n"},
      {"a skipped paternal id", [&] { v.crindivloc(6, 1) = 2; }, nullptr, "#1",
       head("Config parental index error, iterate")},
      {"a monogamous father with two mates", [&] { v.monogamy(1) = 1; }, nullptr, "#2",
       head("MonoGamous indiv has multiple mating, iterate")},
      {"a haploid group sharing its mother with diploid offspring",
       [&] {
         make_haploid({6});
         set_column(2, {1, 1, 2, 3, 3, 3, 4, 4, 5, 6, 6, 7});
         set_column(3, {1, 1, 1, 2, 2, 2, 3, 3, 4, 5, 5, 6});
         v.crnumfamily(2) = 7;
         v.crnumfamily(3) = 6;
       },
       nullptr, "#3", head("Haploid sib config error, iterate")},
      {"two haploid groups with one father",
       [&] {
         make_haploid({7, 8});
         v.crindivloc(8, 2) = 6;
         set_column(3, {1, 1, 1, 2, 2, 3, 4, 4, 4, 5, 5, 6});
         v.crnumfamily(3) = 6;
       },
       nullptr, "#3", head("Haploid sib config error, iterate")},
      {"selfing where the species cannot self", [&] { v.numsex = 1; }, nullptr, "#4",
       head("Error in selfer at iterate")},
      {"a family count of the sibship sizes", [&] { v.priortype = 1; },
       [&](Caller&) { v.sibshipsizedist(2, 1) += 1; }, "#5",
       head("Error in sib size distribution at iterate") + sib_heads +
           "              1              2              3              4\n"},
      {"a sibship size beyond the largest", [&] { v.priortype = 1; },
       [&](Caller&) { v.sibshipsizedist(10, 1) = 1; }, "#6",
       head("Error in sib size distribution at iterate") +
           "            Sex     SumSibSize       SmplSize\n" +
           "              1             22             12\n" + "Sibsize distribution (1~)\n" +
           "     3     3     1\n"},
      {"a known sibship split",
       [&] {
         ensure_known_tables();
         v.anyknownsibshipq(1) = 1;
         v.knownsibship(1, 1) = v.knownsibship(2, 1) = 1;
         v.knownsibship(4, 1) = v.knownsibship(6, 1) = 2;
       },
       nullptr, "#7", "\nError in running dataset: myout.\nSibShip split error!\n"},
      {"the offspring of a known parent split",
       [&] {
         ensure_known_tables();
         v.numknownprnt(1) = 1;
         v.knownsibship(7, 1) = v.knownsibship(9, 1) = -1;
       },
       nullptr, "#8", "\nError in running dataset: myout.\nSibShip split error!\n"},
      {"two parents in one family", [&] { v.inferparent(4, 1) = 1; }, nullptr, "#9",
       head("Parentage assigned error at iterate")},
      {"one candidate heading two families", [&] { v.inferparent(7, 1) = v.inferparent(8, 1) = 1; },
       nullptr, "#9", head("Parentage assigned error at iterate")},
      {"a known parent also assigned",
       [&] {
         ensure_known_tables();
         v.indivparent(10, 1) = 1;
       },
       nullptr, "#11",
       head("Known parent is reassigned at iterate") +
           "Error in assignment Parent    10 of Sex     1\n"},
      {"an unassigned candidate marked assigned", nullptr,
       [&](Caller&) { av.unassignedcnd(5, 2) = 0; }, "#12",
       head("Error in #assigned parents at iterate") +
           "Error in assignment Parent     5 of Sex     2\n"},
      {"the caller's count of offspring with a father", nullptr,
       [&](Caller& c) { c.numassign(3) = 4; }, "#13",
       head("Error in #assigned parents at iterate") +
           "                 Sex #AssignedPrnt(True) #AssignedPrnt(Crrt)  #AssignedOff(True)"
           "  #AssignedOff(Crrt)\n" +
           "                   1                   2                   2\n" +
           "                   5                   4\n"},
      {"the caller's number of maternal families", nullptr,
       [&](Caller& c) { c.newnumfamily(2) = 9; }, "#14",
       head("Error in #NewNumFamily at iterate") +
           "                 Sex  NewNumFamily(True)  NewNumFamily(Crrt)\n" +
           "                   2                   8                   9\n"},
      {"a family id skipped above the count",
       [&] {
         v.crindivloc(12, 1) = 8;
         v.crnumfamily(1) = 6;
       },
       nullptr, "#15", head("Error in familyID at iterate")},
  };
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.what);
    SetUp();
    if (f.before) f.before();
    Caller c = complete_state();
    if (f.after) f.after(c);
    EXPECT_EQ(run(c), f.code);
    EXPECT_EQ(out_, f.out);
    EXPECT_EQ(read_text("Kinrad2.ErrorMessage"), f.out);
    EXPECT_EQ(err_, std::string("STOP ") + f.code + "\n");
    EXPECT_EQ(status_, 1);
  }
}

TEST_F(CheckResult, TestsOfAcceptedMovesAreSkippedAfterARejection) {
  auto& v = variables;
  struct Row {
    const char* what;
    std::function<void()> before;
    std::function<void(Caller&)> after;
  };
  const std::vector<Row> rows = {
      {"a skipped paternal id", [&] { v.crindivloc(6, 1) = 2; }, nullptr},
      {"a prior off by 2e-5", nullptr, [](Caller& c) { c.prior += 2e-5; }},
      {"a score off by 1", nullptr, [&](Caller&) { v.crloglikelihood += 1.0; }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    SetUp();
    if (r.before) r.before();
    Caller c = complete_state();
    if (r.after) r.after(c);
    c.acceptq = 0;
    EXPECT_EQ(run(c), "");
  }
}

TEST_F(CheckResult, PriorOffBy2e5) {
  Caller c = complete_state();
  const real8 truth = c.prior;
  c.prior += 2e-5;
  EXPECT_EQ(run(c), "#16");
  // The values in (ES15.5), as the format layer writes them (checked against gfortran).
  EXPECT_EQ(out_, head("Error in Prior at iterate") + "    Prior(True)    Prior(Crrt)\n" +
                      fwrite_string("(2ES15.5)", truth, c.prior) + "\n");
  EXPECT_EQ(status_, 1);
}

TEST_F(CheckResult, ScoreDriftAtMinus10000) {
  auto& v = variables;
  struct Row {
    int4 checkmode;
    real8 drift;
    const char* code;
  };
  for (const Row& r : {Row{2, 0.05, ""}, Row{2, 0.2, "#17"}, Row{1, 1000.0, ""}}) {
    SCOPED_TRACE(r.drift);
    SetUp();
    v.checkmode = r.checkmode;
    total_of_minus_10000();
    Caller c = complete_state();
    ASSERT_NEAR(v.crloglikelihood, -10000.0, 1e-6);
    v.crloglikelihood += r.drift;
    EXPECT_EQ(run(c), r.code);
    if (std::string(r.code).empty()) continue;
    EXPECT_EQ(out_, head("Error in LogL at iterate") +
                        "    CrLogLikelihood(True)    CrLogLikelihood(Crrt)\n" +
                        "             -1.00000E+04             -9.99980E+03\n");
    EXPECT_EQ(read_text("Kinrad2.ErrorMessage"), out_);
    EXPECT_EQ(err_, "STOP #17\n");
  }
}

TEST_F(CheckResult, DriftedClusterAndCandidateTermsAreListed) {
  auto& v = variables;
  total_of_minus_10000();
  Caller c = complete_state();
  const real8 kept = v.crfamilylogl(3), cand = c.parentlogl;
  v.crfamilylogl(3) = kept - 1.0;
  v.crloglikelihood += 1.0;
  c.parentlogl = cand + 0.5;
  EXPECT_EQ(run(c), "#17");
  EXPECT_EQ(out_, head("Error in LogL at iterate") +
                      "    CrLogLikelihood(True)    CrLogLikelihood(Crrt)\n" +
                      fwrite_string("(2ES25.5)", v.crloglikelihood - 1.0, v.crloglikelihood) +
                      "\n" + fwrite_string("(I4, 2ES15.5)", 3, kept, kept - 1.0) + "\n" +
                      fwrite_string("(A,2ES25.5)", "ParentLogL(Old/New):", cand + 0.5, cand) +
                      "\n");
}

TEST_F(CheckResult, HaploidSonsWithDiploidFullSistersPass) {
  auto& v = variables;
  v.checkmode = 1;
  make_haploid({8});
  const Caller c = complete_state();
  EXPECT_EQ(run(c), "");
}

}  // namespace
}  // namespace kinrad::test

namespace kinrad::test {
namespace {

// Random configurations of the fixture's data under each mating system: the state built by the
// configuration model's own routines (cluster numbering and scoring, assignment counts, prior,
// candidate term) passes the self-check with the score recomputed, and survives a checkpoint
// round trip unchanged.
struct SoakCase {
  const char* name;
  const char* matings;
  const char* prior = "0";
  const char* knownpaternity = "0 0";
  const char* paternalsibships = "0";
};

class SelfCheckSoak : public ::testing::TestWithParam<SoakCase> {
 protected:
  TempWorkDir dir_{"self_check_soak"};
};

// Family ids numbered 1, 2, ... by first appearance in offspring order.
void renumber(int4 col) {
  auto& v = variables;
  std::vector<int4> id(static_cast<std::size_t>(v.smplsize) * 2 + 2, 0);
  int4 next = 0;
  for (int4 i = 1; i <= v.smplsize; ++i) {
    int4& x = id[static_cast<std::size_t>(v.crindivloc(i, col))];
    if (x == 0) x = ++next;
    v.crindivloc(i, col) = x;
  }
}

int4 known_parent_of(int4 i, int4 s) {
  const auto& v = variables;
  return v.indivparent.allocated() ? v.indivparent(i, s) : 0;
}

// The configuration in crindivloc (family columns) and inferparent, completed and scored by the
// configuration model's own routines, passes the self-check with the score recomputed and comes
// back unchanged from a checkpoint round trip.
void check_and_round_trip(int trial) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  FStatic<int2, 1, 2> hs{};
  setinitconfiglogl(1, hs);
  // The state as the search keeps it, from the model's routines.
  Caller c;
  for (int4 i = 1; i <= n; ++i)
    for (int4 s = 1; s <= 2; ++s)
      v.inferparent2(i, s) =
          known_parent_of(i, s) > 0 ? known_parent_of(i, s) : v.inferparent(i, s);
  for (int4 s = 1; s <= 2; ++s)
    for (int4 j = 1; j <= v.numcandidate(s); ++j) {
      bool used = v.knownprntq(j, s) > 0;
      for (int4 i = 1; i <= n; ++i) used = used || v.inferparent(i, s) == j;
      av.unassignedcnd(j, s) = used ? 0 : 1;
    }
  if (v.priortype == 1) {
    v.indivlocprt = v.crindivloc.view();
    FStatic<int4, 1, 2> top{};
    for (int4 i = 1; i <= n; ++i)
      for (int4 s = 1; s <= 2; ++s) top(s) = std::max(top(s), v.crindivloc(i, s));
    if (v.numsex == 1) top(1) = top(2) = std::max(top(1), top(2));
    sibshipsize(top, 1);
  }
  v.indivlocprt = v.crindivloc.view();
  v.inferparentprt = v.inferparent.view();
  findassignment(c.numassign);
  for (int4 i = 1; i <= n; ++i) {
    c.newnumfamily(1) = std::max(c.newnumfamily(1), v.crindivloc(i, 1));
    c.newnumfamily(2) = std::max(c.newnumfamily(2), v.crindivloc(i, 2));
  }
  // One parent pool: one range of ids over both columns.
  if (v.numsex == 1)
    c.newnumfamily(1) = c.newnumfamily(2) = std::max(c.newnumfamily(1), c.newnumfamily(2));
  v.crnumfamily(1) = c.newnumfamily(1);
  v.crnumfamily(2) = c.newnumfamily(2);
  c.nsib(1) = c.nsib(2) = (3 - v.numsex) * n;
  FStatic<int4, 1, 4> count{};
  configurationprior(count, c.prior, c.nsib, c.newnumfamily);
  computeparentlogl(c.parentlogl);
  real8 total = c.prior + c.parentlogl;
  for (int4 j = 1; j <= v.crnumfamily(3); ++j) total += v.crfamilylogl(j);
  v.crloglikelihood = total;
  std::string code = "none";
  try {
    checkresult(trial, c.numassign, c.nsib, c.newnumfamily, c.prior, c.parentlogl, 1);
    code = "";
  } catch (const ProgramStop& stop) {
    code = stop.name();
  }
  ASSERT_EQ(code, "");

  // Checkpoint round trip of the same state.
  v.btindivloc = v.crindivloc.copy();
  v.btinferparent = v.inferparent.copy();
  v.btloglikelihood = total;
  const int4 nclust = v.crnumfamily(3);
  archive_append(v.crindivloc, v.inferparent, total, nclust);
  CheckpointRunState st;
  st.archivechanged = 1;
  savemidresult(st);
  archiveconfigremoveall();
  const auto loc = v.crindivloc.copy();
  const auto par = v.inferparent.copy();
  for (int4 i = 1; i <= n; ++i) v.crindivloc(i, 1) = v.inferparent(i, 1) = 0;
  int4 status = -1;
  readmidresult(status, st);
  ASSERT_EQ(status, 0);
  for (int4 i = 1; i <= n; ++i)
    for (int4 s = 1; s <= 3; ++s) {
      EXPECT_EQ(v.crindivloc(i, s), loc(i, s));
      if (s < 3) {
        EXPECT_EQ(v.inferparent(i, s), par(i, s));
      }
    }
  EXPECT_EQ(st.curnumassign(1), c.numassign(1));
  EXPECT_EQ(st.curnumassign(4), c.numassign(4));
  EXPECT_NEAR(st.recomputedlogl, total, 1e-9 * std::abs(total));
  // The archived configuration decodes to the same columns (the clusters as the record
  // keeps them under monogamy).
  ASSERT_NE(v.confighead, nullptr);
  v.crrtconfig = v.confighead;
  real8 logl = 0.0;
  convertconfig(1, logl);
  EXPECT_EQ(logl, total);
  for (int4 i = 1; i <= n; ++i) {
    EXPECT_EQ(v.offtgt(i, 1), loc(i, 1));
    EXPECT_EQ(v.prnttgt(i, 2), par(i, 2));
    if (v.anymonogamy == 0) {
      EXPECT_EQ(v.offtgt(i, 3), loc(i, 3));
    }
  }
  archiveconfigremoveall();
}

TEST_P(SelfCheckSoak, RandomConfigurationsPassAndRoundTrip) {
  const SoakCase& sc = GetParam();
  testing_support::ProjectFile p = checkpoint_project("0");
  p.matings = sc.matings;
  p.prior = sc.prior;
  p.knownpaternity = sc.knownpaternity;
  p.paternalsibships = sc.paternalsibships;
  ASSERT_TRUE(testing_support::prepare(p));
  auto& v = variables;
  v.displayq = 0;
  v.checkmode = 2;
  const int4 n = v.smplsize;
  std::mt19937 rng(static_cast<unsigned>(std::hash<std::string>{}(sc.name)));
  auto known = [&](int4 i, int4 s) { return v.indivparent.allocated() ? v.indivparent(i, s) : 0; };
  for (int trial = 0; trial < 60; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    // Families: fathers and mothers drawn from a few; a monogamous sex keeps one mate.
    const int4 k = 2 + static_cast<int4>(rng() % 5);
    std::vector<int4> mate1(static_cast<std::size_t>(k) + 1),
        mate2(static_cast<std::size_t>(k) + 1);
    for (int4 j = 1; j <= k; ++j) {
      mate1[static_cast<std::size_t>(j)] = 1 + static_cast<int4>(rng() % k);
      mate2[static_cast<std::size_t>(j)] = 1 + static_cast<int4>(rng() % k);
    }
    for (int4 i = 1; i <= n; ++i) {
      int4 f = 1 + static_cast<int4>(rng() % k), m = 1 + static_cast<int4>(rng() % k);
      if (v.monogamy(1) == 1 && v.monogamy(2) == 1) {
        m = f;
      } else if (v.monogamy(1) == 1) {
        m = mate1[static_cast<std::size_t>(f)];
      } else if (v.monogamy(2) == 1) {
        f = mate2[static_cast<std::size_t>(m)];
      }
      v.crindivloc(i, 1) = f;
      v.crindivloc(i, 2) = m;
    }
    // Known paternal sibships share a paternal family; the offspring of one known father form
    // a family of their own (ids above the drawn ones until the renumbering).
    for (int4 i = 1; i <= n; ++i) {
      if (known(i, 1) > 0) {
        v.crindivloc(i, 1) = n + known(i, 1);
        continue;
      }
      for (int4 j = 1; j < i; ++j)
        if (v.knownsibship.allocated() && v.knownsibship(i, 1) > 0 &&
            v.knownsibship(i, 1) == v.knownsibship(j, 1)) {
          v.crindivloc(i, 1) = v.crindivloc(j, 1);
          break;
        }
    }
    renumber(1);
    renumber(2);
    // Candidate parents: each family may get a distinct candidate of its sex.
    for (int4 s = 1; s <= 2; ++s) {
      std::vector<int4> pool;
      for (int4 j = 1; j <= v.numcandidate(s); ++j)
        if (v.knownprntq(j, s) <= 0) pool.push_back(j);
      std::shuffle(pool.begin(), pool.end(), rng);
      // A family with a known parent has that parent: its other members get it assigned.
      std::vector<int4> parent(static_cast<std::size_t>(n) + 1, -1);
      for (int4 i = 1; i <= n; ++i)
        if (known(i, s) > 0) parent[static_cast<std::size_t>(v.crindivloc(i, s))] = known(i, s);
      std::size_t used = 0;
      for (int4 i = 1; i <= n; ++i) {
        int4& q = parent[static_cast<std::size_t>(v.crindivloc(i, s))];
        if (q == -1) {
          // Mother M5 carries allele 3, which no offspring has: never assigned.
          q = 0;
          if (used < pool.size() && rng() % 2 == 0 && !(s == 2 && pool[used] == 5))
            q = pool[used++];
        }
        v.inferparent(i, s) = known(i, s) > 0 ? 0 : q;
      }
    }
    check_and_round_trip(trial);
  }
  reset_all_modules();
}

INSTANTIATE_TEST_SUITE_P(
    Samples, SelfCheckSoak,
    ::testing::Values(SoakCase{"polygamous", "0 0"}, SoakCase{"monogamous_fathers", "1 0"},
                      SoakCase{"monogamous_mothers", "0 1"}, SoakCase{"monogamous", "1 1"},
                      SoakCase{"sibship_prior", "0 0", "3 2 2"},
                      SoakCase{"known_fathers", "0 0", "0", "3 0\nO1 F2\nO2 F2\nO7 F1"},
                      SoakCase{"known_sibship", "0 0", "0", "0 0", "1\n3 O4 O5 O9"}),
    [](const ::testing::TestParamInfo<SoakCase>& row) { return std::string(row.param.name); });

// One parent pool without selfing: every parent is one individual id over both columns, and a
// new pair of parents is taken only when it joins two separate groups (clusters without cycles,
// which the likelihood engine scores in a one-pool species today).
TEST(SelfCheckSoakOnePool, RandomConfigurationsPassAndRoundTrip) {
  TempWorkDir dir{"self_check_soak_pool"};
  testing_support::ProjectFile p = checkpoint_project("0");
  p.sexes = "1";
  p.fathers = {"C1 1 2 1 2", "C2 1 2 1 2", "C3 1 2 1 2", "C4 1 2 1 2"};
  p.mothers = p.fathers;
  ASSERT_TRUE(testing_support::prepare(p));
  auto& v = variables;
  v.displayq = 0;
  v.checkmode = 2;
  const int4 n = v.smplsize;
  std::mt19937 rng(5151);
  for (int trial = 0; trial < 60; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    int4 k = 2 + static_cast<int4>(rng() % 5);
    std::vector<int4> up(static_cast<std::size_t>(3 * n) + 10);
    for (std::size_t j = 0; j < up.size(); ++j) up[j] = static_cast<int4>(j);
    auto find = [&](int4 x) {
      while (up[static_cast<std::size_t>(x)] != x) x = up[static_cast<std::size_t>(x)];
      return x;
    };
    std::vector<std::pair<int4, int4>> pairs;
    for (int4 i = 1; i <= n; ++i) {
      int4 a = 1 + static_cast<int4>(rng() % k), b = 1 + static_cast<int4>(rng() % k);
      if (a == b) b = ++k;
      const auto same = std::find(pairs.begin(), pairs.end(), std::pair{a, b});
      const auto swapped = std::find(pairs.begin(), pairs.end(), std::pair{b, a});
      if (swapped != pairs.end()) {
        std::swap(a, b);
      } else if (same == pairs.end()) {
        if (find(a) == find(b)) b = ++k;
        up[static_cast<std::size_t>(find(a))] = find(b);
        pairs.emplace_back(a, b);
      }
      v.crindivloc(i, 1) = a;
      v.crindivloc(i, 2) = b;
    }
    // Ids 1, 2, ... by first appearance over both columns.
    std::vector<int4> id(static_cast<std::size_t>(k) + 1, 0);
    int4 next = 0;
    for (int4 i = 1; i <= n; ++i)
      for (int4 s = 1; s <= 2; ++s) {
        int4& x = id[static_cast<std::size_t>(v.crindivloc(i, s))];
        if (x == 0) x = ++next;
        v.crindivloc(i, s) = x;
      }
    // A candidate stands for one individual in both roles.
    std::vector<int4> cand(static_cast<std::size_t>(next) + 1, 0);
    std::vector<int4> pool = {1, 2, 3, 4};
    std::shuffle(pool.begin(), pool.end(), rng);
    std::size_t used = 0;
    for (int4 x = 1; x <= next; ++x)
      if (used < pool.size() && rng() % 2 == 0) cand[static_cast<std::size_t>(x)] = pool[used++];
    for (int4 i = 1; i <= n; ++i)
      for (int4 s = 1; s <= 2; ++s)
        v.inferparent(i, s) = cand[static_cast<std::size_t>(v.crindivloc(i, s))];
    check_and_round_trip(trial);
  }
  reset_all_modules();
}

}  // namespace
}  // namespace kinrad::test
