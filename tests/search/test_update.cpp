// The in-run update of the allele frequencies: the re-estimate and its blend (scripted genotype
// inference), the guard against a harmful update (scripted cluster scores), the archive
// rescoring, the inbreeding refresh at the end of a temperature, the allele-frequency
// checkpoint of the rounds (golden bytes from gfortran) and the tables left behind.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <iostream>
#include <map>
#include <numeric>
#include <ostream>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/search_seams.hpp"
#include "support/archive_builder.hpp"
#include "support/temp_dir.hpp"
#include "update_fixture.hpp"

namespace kinrad::test {
namespace {

using testing_support::ArchiveRecord;

const std::vector<int4> two_families = {1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2};

void set_frequencies(const std::vector<std::vector<real8>>& saved,
                     const std::vector<std::vector<real8>>& start) {
  auto& v = variables;
  for (int4 l = 1; l <= v.numloci; ++l)
    for (int4 a = 1; a <= v.obsnumallele(l); ++a) {
      v.obsallelefre(l).a(a) = saved[l - 1][a - 1];
      v.obsallelefre0(a, l) = start[l - 1][a - 1];
    }
}

// Counts per cluster (1, 2) and locus (1..3), chosen by hand.
const std::vector<std::vector<std::vector<real8>>> chosen_counts = {
    {{1.0, 0.5}, {2.0, 1.0}, {20.0, 5.0, 3.0}},
    {{0.25, 0.25}, {1.0, 0.0}, {1.0, 1.0, 1.0}},
};
const std::vector<std::vector<real8>> saved_fre = {{0.3, 0.7}, {0.6, 0.4}, {0.2, 0.3, 0.5}};
const std::vector<std::vector<real8>> start_fre = {{0.5, 0.5}, {0.5, 0.5}, {0.4, 0.4, 0.2}};

// The frequencies the blend gives for the chosen counts, worked by hand: locus 1 totals
// (1.25, 0.75), 2 < 30 so one more per allele: e = (2.25, 1.75) / 4; locus 2 totals (3, 1):
// e = (4, 2) / 6; locus 3 totals (21, 6, 4) = 31 >= 30: e = (21, 6, 4) / 31; then
// 0.8 e + 0.15 saved + 0.05 start.
std::vector<std::vector<real8>> blended() {
  const std::vector<std::vector<real8>> e = {
      {2.25 / 4.0, 1.75 / 4.0}, {4.0 / 6.0, 2.0 / 6.0}, {21.0 / 31.0, 6.0 / 31.0, 4.0 / 31.0}};
  std::vector<std::vector<real8>> f = e;
  for (std::size_t l = 0; l < e.size(); ++l)
    for (std::size_t a = 0; a < e[l].size(); ++a)
      f[l][a] = 0.8 * e[l][a] + 0.15 * saved_fre[l][a] + 0.05 * start_fre[l][a];
  return f;
}

void script_counts(std::vector<std::pair<int4, int4>>* calls = nullptr) {
  search_seams.update_counts = [calls](int4 cluster, int4 locus, std::span<real8> c) {
    if (calls != nullptr) calls->push_back({cluster, locus});
    const auto& x =
        chosen_counts[static_cast<std::size_t>(cluster - 1)][static_cast<std::size_t>(locus - 1)];
    ASSERT_EQ(c.size(), x.size());
    std::copy(x.begin(), x.end(), c.begin());
  };
}

// Scripted cluster scores: the whole sum of a configuration on its first cluster. The sums of
// the current and best configurations are given per inner pass (the current configuration is
// scored once in each pass and once more when the scores are taken; the last entry serves
// beyond the list).
struct ScriptedScores {
  std::vector<real8> current, best;
  std::function<real8(int4 key)> archived;  // by the largest paternal id of the record
  int4 currentcalls = 0, bestcalls = 0, archivedcalls = 0;

  void install() {
    search_seams.update_clusterlogl = [this](real8* logl, int4 nclust) {
      for (int4 c = 0; c < nclust; ++c) logl[c] = 0.0;
      real8 s = 0.0;
      switch (scored_now()) {
        case Scored::current:
          s = current[static_cast<std::size_t>(
              std::min<int4>(currentcalls, static_cast<int4>(current.size()) - 1))];
          ++currentcalls;
          break;
        case Scored::best:
          // The best is scored within the pass whose current score came last.
          s = best[static_cast<std::size_t>(
              std::min<int4>(currentcalls - 1, static_cast<int4>(best.size()) - 1))];
          ++bestcalls;
          break;
        case Scored::archived: {
          int4 key = 0;
          for (int4 i = 1; i <= variables.smplsize; ++i)
            key = std::max(key, variables.offtgt(i, 1));
          s = archived(key);
          ++archivedcalls;
          break;
        }
      }
      logl[0] = s;
    };
  }
};

class UpdateUnit : public UpdateTest {
 protected:
  void SetUp() override {
    UpdateTest::SetUp();
    ASSERT_TRUE(start(update_project()));
    set_config(two_families, two_families, false);
    set_config(two_families, two_families, true);
    archiveconfigremoveall();
    set_frequencies(saved_fre, start_fre);
  }
};

TEST_F(UpdateUnit, BlendOfTheReestimatedSavedAndStartingFrequencies) {
  auto& v = variables;
  v.updateallelefre = 1;
  std::vector<std::pair<int4, int4>> calls;
  script_counts(&calls);
  ScriptedScores sc{{-2.0}, {-2.0}, {}};
  sc.install();
  v.crloglikelihood = -50.0;
  v.btloglikelihood = -2.0;  // the best scores as before: the update stands
  real8 cand = 0.0;
  int4 ipass = 1;
  const UpdateOutcome o = update(cand, 0.0, 0.0, ipass, 1, 1, 0);
  EXPECT_EQ(ipass, 1);
  EXPECT_FALSE(o.restored);
  // Clusters in ascending id; within one, the two-allele loci then the three-allele locus.
  const std::vector<std::pair<int4, int4>> order = {{1, 1}, {1, 2}, {1, 3}, {2, 1}, {2, 2}, {2, 3}};
  EXPECT_EQ(calls, order);
  const auto want = blended();
  for (int4 l = 1; l <= 3; ++l) {
    SCOPED_TRACE(l);
    const auto got = frequencies(l);
    ASSERT_EQ(got.size(), want[l - 1].size());
    real8 sum = 0.0;
    for (std::size_t a = 0; a < got.size(); ++a) {
      EXPECT_NEAR(got[a], want[l - 1][a], 1e-15);
      sum += got[a];
    }
    EXPECT_NEAR(sum, 1.0, 1e-15);
  }
  // By hand: locus 1 is (0.52, 0.48).
  EXPECT_NEAR(v.obsallelefre(1).a(1), 0.52, 1e-15);
  EXPECT_NEAR(v.obsallelefre(1).a(2), 0.48, 1e-15);
}

// The guard, row by row: the sums S (current) and T (best) of each inner pass are scripted;
// the stored current score is -100 (so S must exceed -1000 for the best to be rescored) and the
// stored best -200. No candidates and a zero prior: T is the best's sum plus `bestprior` 0.
struct GuardRow {
  const char* name;
  int4 uaf;
  int4 ipass, npass;
  std::vector<real8> s, t;
  int4 wantipass;
  bool restored;
  int4 passes;
  real8 wantbest;
};

TEST_F(UpdateUnit, HarmfulGuardTable) {
  const std::vector<GuardRow> rows = {
      {"accepted", 1, 1, 1, {-500}, {-200}, 1, false, 1, -200},
      {"within tolerance", 1, 1, 1, {-500}, {-200.001}, 1, false, 1, -200.001},
      {"harmful, recomputed, still worse", 1, 1, 1, {-500}, {-300, -250}, 1, true, 2, -250},
      {"harmful, recomputed, fine", 1, 1, 1, {-500}, {-300, -200}, 1, true, 2, -200},
      {"harmful, more passes follow", 1, 1, 2, {-500}, {-300}, 0, true, 1, -200},
      {"harmful last of two", 1, 2, 2, {-500}, {-300, -260}, 2, true, 2, -260},
      {"inbreeding: harmful, more passes", 0, 1, 2, {-500}, {-300}, 0, false, 1, -200},
      {"inbreeding: harmful last pass", 0, 2, 2, {-500}, {-300}, 2, false, 1, -300},
      {"inbreeding: better", 0, 1, 2, {-500}, {-150}, 1, false, 1, -150},
      // S at ten times the stored score: the best is not rescored, the update is harmful.
      {"current collapsed, more passes", 1, 1, 2, {-1000}, {-210}, 0, true, 1, -200},
      // The placeholder is never accepted: the best is scored before the scores are taken.
      {"current collapsed, last pass", 1, 1, 1, {-1000, -1000}, {-210, -220}, 1, true, 2, -220},
      {"inbreeding: collapsed, last pass", 0, 1, 1, {-1001}, {-230}, 1, false, 1, -230},
  };
  auto& v = variables;
  for (const GuardRow& r : rows) {
    SCOPED_TRACE(r.name);
    set_frequencies(saved_fre, start_fre);
    v.updateallelefre = r.uaf;
    script_counts();
    ScriptedScores sc{r.s, r.t, {}};
    sc.install();
    v.crloglikelihood = -100.0;
    v.btloglikelihood = -200.0;
    v.bestlogl = -200.0;
    real8 cand = 0.0;
    int4 ipass = r.ipass;
    const UpdateOutcome o = update(cand, -7.0, 0.0, ipass, r.npass, 1, 0);
    EXPECT_EQ(ipass, r.wantipass);
    EXPECT_EQ(o.restored, r.restored);
    EXPECT_EQ(o.innerpasses, r.passes);
    EXPECT_EQ(v.btloglikelihood, r.wantbest);
    EXPECT_EQ(v.bestlogl, r.wantbest);
    if (r.uaf == 1) {
      if (r.restored)
        EXPECT_EQ(all_frequencies(), saved_fre);
      else
        EXPECT_NE(all_frequencies(), saved_fre);
    } else {
      EXPECT_EQ(all_frequencies(), saved_fre);
    }
    if (r.wantipass != 0) {
      // The current score under the values in force: candidate term 0, prior -7, the sum.
      EXPECT_EQ(v.crloglikelihood, -7.0 + r.s.back());
    } else {
      EXPECT_EQ(v.crloglikelihood, -100.0);
    }
  }
}

// --- The archive rescoring -------------------------------------------------------------------

// Record k: offspring i in paternal family min(i, k), one mother: one cluster, and the largest
// paternal id k names the record for the scripted scores.
ArchiveRecord keyed_record(int4 k, real8 logl) {
  std::vector<int4> f1, f2;
  for (int4 i = 1; i <= 12; ++i) {
    f1.push_back(std::min(i, k));
    f2.push_back(1);
  }
  return ArchiveRecord(logl, f1, f2);
}

struct Listed {
  int4 key;
  real8 logl;
  bool operator==(const Listed&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Listed& x) {
  return o << "(" << x.key << ", " << x.logl << ")";
}

std::vector<Listed> archive_list() {
  std::vector<Listed> out;
  for (const auto& r : testing_support::archive_records())
    out.push_back({*std::max_element(r.fam1.begin(), r.fam1.end()), r.logl});
  return out;
}

class UpdateArchive : public UpdateUnit {
 protected:
  // Accepted update (updateallelefre 0: the scores alone), the best scoring -100 as stored.
  UpdateOutcome run(const std::vector<std::pair<int4, real8>>& old,
                    std::function<real8(int4)> fresh) {
    auto& v = variables;
    for (const auto& [k, l] : old) testing_support::append_record(keyed_record(k, l));
    v.updateallelefre = 0;
    sc = ScriptedScores{{-60.0}, {-100.0}, std::move(fresh)};
    sc.install();
    v.crloglikelihood = -50.0;
    v.btloglikelihood = -100.0;
    real8 cand = 0.0;
    int4 ipass = 1;
    return update(cand, 0.0, 0.0, ipass, 1, 1, 0);
  }
  ScriptedScores sc;
};

TEST_F(UpdateArchive, RescoredInDescendingOrderUntilTheFloor) {
  auto& v = variables;
  // New scores (no candidates, no sibship prior: a record's score is its cluster sum). The
  // floor is -100 - 10; the walk stops after record 4 (-109.5 < -109) and record 5 is never
  // scored.
  const std::map<int4, real8> fresh = {
      {1, -102.0}, {2, -105.0}, {3, -101.0}, {4, -109.5}, {5, -100.0}};
  const UpdateOutcome o = run({{1, -90.0}, {2, -91.0}, {3, -92.0}, {4, -93.0}, {5, -94.0}},
                              [&](int4 k) { return fresh.at(k); });
  EXPECT_TRUE(o.archivechanged);
  EXPECT_EQ(sc.archivedcalls, 4);
  const std::vector<Listed> want = {{3, -101.0}, {1, -102.0}, {2, -105.0}, {4, -109.5}};
  EXPECT_EQ(archive_list(), want);
  EXPECT_EQ(v.bestlogl, -100.0);
  EXPECT_EQ(v.btloglikelihood, -100.0);
  EXPECT_EQ(v.minloglikelihood, -110.0);
}

TEST_F(UpdateArchive, EveryRecordBelowTheFloorLeavesTheBestAlone) {
  const UpdateOutcome o = run({{1, -90.0}, {2, -91.0}}, [](int4) { return -120.0; });
  EXPECT_TRUE(o.archivechanged);
  EXPECT_EQ(sc.archivedcalls, 1);
  const auto records = testing_support::archive_records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].logl, -100.0);
  EXPECT_EQ(records[0].fam1, two_families);
  EXPECT_EQ(records[0].fam2, two_families);
}

TEST_F(UpdateArchive, EmptyArchiveStaysEmpty) {
  const UpdateOutcome o = run({}, [](int4) { return 0.0; });
  EXPECT_FALSE(o.archivechanged);
  EXPECT_EQ(variables.confighead, nullptr);
  EXPECT_EQ(sc.archivedcalls, 0);
}

TEST_F(UpdateArchive, DuplicatesOnlyWhereTheOldListHeldThem) {
  const UpdateOutcome o =
      run({{2, -90.0}, {2, -91.0}, {1, -92.0}}, [](int4 k) { return k == 2 ? -101.0 : -103.0; });
  const std::vector<Listed> want = {{2, -101.0}, {2, -101.0}, {1, -103.0}};
  EXPECT_EQ(archive_list(), want);
  EXPECT_TRUE(o.archivechanged);
}

// A record of an earlier run scoring above the rescored best raises the best score of all runs,
// and the floor with it; the best configuration keeps its own score.
TEST_F(UpdateArchive, RecordAboveTheBestRaisesBestlogl) {
  auto& v = variables;
  run({{1, -90.0}, {2, -91.0}, {3, -92.0}},
      [](int4 k) { return k == 1 ? -95.0 : (k == 2 ? -104.0 : -106.0); });
  EXPECT_EQ(v.btloglikelihood, -100.0);
  EXPECT_EQ(v.bestlogl, -95.0);
  EXPECT_EQ(v.minloglikelihood, -105.0);
  const std::vector<Listed> want = {{1, -95.0}, {2, -104.0}};
  EXPECT_EQ(archive_list(), want);
}

TEST_F(UpdateArchive, SibshipSizeTallyUnchangedUnderTheSibshipPrior) {
  auto& v = variables;
  testing_support::ProjectFile p = update_project();
  p.prior = "1 2 2";
  ASSERT_TRUE(start(p));
  ASSERT_EQ(v.priortype, 1);
  set_config(two_families, two_families, false);
  set_config(two_families, two_families, true);
  archiveconfigremoveall();
  {
    WindowSave keep;
    v.indivlocprt = FView<int4, 2>(&v.crindivloc(1, 1), {Dim(v.smplsize), Dim(2)});
    FStatic<int4, 1, 2> nfam{};
    nfam(1) = v.crnumfamily(1);
    nfam(2) = v.crnumfamily(2);
    sibshipsize(nfam, 1);
  }
  const FArray<int4, 2> before = v.sibshipsizedist.copy();
  for (const int4 k : {1, 3, 6}) testing_support::append_record(keyed_record(k, -90.0 - k));
  v.updateallelefre = 1;
  script_counts();
  sc = ScriptedScores{{-60.0}, {-100.0}, [](int4 k) { return -100.0 - k; }};
  sc.install();
  v.crloglikelihood = -50.0;
  v.btloglikelihood = -100.0;
  real8 cand = 0.0;
  int4 ipass = 1;
  update(cand, 0.0, 0.0, ipass, 1, 1, 0);
  EXPECT_EQ(sc.archivedcalls, 3);
  ASSERT_EQ(v.sibshipsizedist.size(), before.size());
  for (index_t k = 0; k < before.size(); ++k)
    EXPECT_EQ(v.sibshipsizedist.data()[k], before.data()[k]) << k;
  // Descending order (the priors differ from record to record).
  const auto list = archive_list();
  ASSERT_EQ(list.size(), 3u);
  for (std::size_t k = 1; k < list.size(); ++k) EXPECT_GE(list[k - 1].logl, list[k].logl);
}

// --- The rounds' allele-frequency checkpoint -------------------------------------------------

TEST_F(UpdateUnit, RoundCheckpointMatchesGfortranAndReadsBack) {
  auto& v = variables;
  v.updateallelefre = 2;
  script_counts();
  ScriptedScores sc{{-1.0}, {-1.0}, [](int4) { return 0.0; }};
  sc.install();
  int4 refills = 0;
  search_seams.update_pairprob = [&refills] { ++refills; };
  testing_support::append_record(keyed_record(2, -90.0));
  v.crloglikelihood = -50.0;
  v.btloglikelihood = -40.0;
  v.bestlogl = -40.0;
  real8 a = 0.0;
  int4 ipass = 1;
  const UpdateOutcome o = update(a, 0.0, 0.0, ipass, 1, 2, 1);
  // Expected bytes: tests/search/data/midresult4_golden.f90 (gfortran), same inputs.
  EXPECT_EQ(testing_support::read_text("myout.MidResult4"),
            testing_support::read_text(std::string(KINRAD_TESTS_DIR) +
                                       "/search/data/midresult4_golden.txt"));
  // Nothing is rescored under the rounds; the dyad tables are refilled once.
  EXPECT_FALSE(o.archivechanged);
  EXPECT_EQ(sc.currentcalls + sc.bestcalls + sc.archivedcalls, 0);
  EXPECT_EQ(v.crloglikelihood, -50.0);
  EXPECT_EQ(v.btloglikelihood, -40.0);
  EXPECT_EQ(v.bestlogl, -40.0);
  EXPECT_EQ(archive_list(), (std::vector<Listed>{{2, -90.0}}));
  EXPECT_EQ(refills, 1);
  // Read back into reset frequencies.
  const auto written = all_frequencies();
  set_frequencies(saved_fre, start_fre);
  int4 status = -1, round = 0;
  readmidresult4(status, round);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(round, 3);
  EXPECT_EQ(all_frequencies(), written);
  EXPECT_EQ(written, blended());
  // Without the dyad tables to refill (pairq 0) nothing is recomputed.
  update(a, 0.0, 0.0, ipass, 1, 2, 0);
  EXPECT_EQ(refills, 1);
}

// --- The new-best interval -------------------------------------------------------------------

struct IntervalRow {
  const char* name;
  int4 method, uaf, tmr, countbefore;
  int8 itr, nsucc;
  bool updates;
  int4 countafter;
};

// Intervals by hand in single precision, with three loci of at least two alleles (max(3 div 2,
// 5) = 5): temperature 1: (100 + 1) x 5 = 505; 3: (33.333332 + 1) x 5 = 171.66666, 172;
// 7: (14.285714 + 1) x 5 = 76.42857, 76.
TEST_F(UpdateUnit, NewBestUpdatesOnItsInterval) {
  const std::vector<IntervalRow> rows = {
      {"505th at temperature 1", 1, 1, 1, 504, 1000, 100, true, 505},
      {"504th at temperature 1", 1, 1, 1, 503, 1000, 100, false, 504},
      {"1010th at temperature 1", 1, 1, 1, 1009, 1000, 100, true, 1010},
      {"172nd at temperature 3", 1, 1, 3, 171, 1000, 100, true, 172},
      {"171st at temperature 3", 1, 1, 3, 170, 1000, 100, false, 171},
      {"76th at temperature 7", 1, 1, 7, 75, 1000, 100, true, 76},
      {"success rate too high", 1, 1, 7, 75, 1000, 700, false, 76},
      {"no updating: counted only", 1, 0, 7, 75, 1000, 100, false, 76},
      {"combined method", 2, 1, 7, 75, 1000, 100, true, 76},
      {"pairwise score: not counted", 0, 1, 7, 75, 1000, 100, false, 75},
  };
  auto& v = variables;
  ASSERT_EQ(v.numloci23, 3);
  for (const IntervalRow& r : rows) {
    SCOPED_TRACE(r.name);
    set_frequencies(saved_fre, start_fre);
    v.fulllikelihoodmethodq = r.method;
    v.updateallelefre = r.uaf;
    script_counts();
    ScriptedScores sc{{-60.0}, {-100.0}, [](int4) { return -101.0; }};
    sc.install();
    v.crloglikelihood = -50.0;
    v.btloglikelihood = -100.0;
    archiveconfigremoveall();
    testing_support::append_record(keyed_record(2, -99.0));
    RunState rs;
    rs.cp.tmr = r.tmr;
    rs.cp.updatecount = r.countbefore;
    rs.cp.itr = r.itr;
    rs.cp.nsucc = r.nsucc;
    rs.cp.oldcndlogl = 5.0;
    rs.cp.oldlogprior = -3.0;
    rs.archiveon() = 1;
    rs.cp.archivechanged = 0;
    update_after_new_best(rs);
    EXPECT_EQ(rs.cp.updatecount, r.countafter);
    EXPECT_EQ(sc.currentcalls > 0, r.updates);
    EXPECT_EQ(rs.cp.archivechanged, r.updates ? 1 : 0);
    if (r.updates) {
      // The run's candidate term and score take what the update leaves: no candidates (0), the
      // prior -3 and the current sum -60.
      EXPECT_EQ(rs.cp.oldcndlogl, 0.0);
      EXPECT_EQ(v.crloglikelihood, -63.0);
      EXPECT_EQ(v.btloglikelihood, -100.0);
    } else {
      EXPECT_EQ(rs.cp.oldcndlogl, 5.0);
      EXPECT_EQ(v.crloglikelihood, -50.0);
    }
  }
}

// --- The inbreeding refresh at the end of a temperature --------------------------------------

class UpdateSelfing : public UpdateTest {
 protected:
  void SetUp() override {
    UpdateTest::SetUp();
    ASSERT_TRUE(start(update_project("1", "1")));
    auto& v = variables;
    ASSERT_EQ(v.numsex, 1);
    ASSERT_EQ(v.allowinbreeding, 1);
    // Offspring 1-4 selfed by parent 1, 5-12 of parents 2 and 3.
    const std::vector<int4> f1 = {1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2};
    const std::vector<int4> f2 = {1, 1, 1, 1, 3, 3, 3, 3, 3, 3, 3, 3};
    set_config(f1, f2, false);
    set_config(f1, f2, true);
    archiveconfigremoveall();
    v.updateallelefre = 0;
    v.inbreeding = 0.1;
    v.btconfigprior = 0.0;
    rs.cp.moveweight.allocate(Dim(v.smplsize), Dim(2));
    rs.cp.updatecount = 3;
    rs.successrate = 0.5;
    std::filesystem::remove("myout.MidResult2");
  }
  RunState rs;
};

// Four selfed offspring of twelve: s = 1/3, s / (2 - s) = 0.2, the new value 0.5 (0.2 + 0.1).
TEST_F(UpdateSelfing, RefusedFirstPassThenAcceptedUnderTheOldValue) {
  auto& v = variables;
  std::vector<real8> seen;
  ScriptedScores sc{{-500.0}, {-300.0, -260.0}, {}};
  sc.install();
  const auto scripted = search_seams.update_clusterlogl;
  search_seams.update_clusterlogl = [&](real8* logl, int4 nclust) {
    if (scored_now() == Scored::current) seen.push_back(variables.inbreeding);
    scripted(logl, nclust);
  };
  v.crloglikelihood = -100.0;
  v.btloglikelihood = -200.0;
  v.displayq = 1;
  ::testing::internal::CaptureStdout();
  update_at_temperature_end(rs);
  std::cout.flush();
  const std::string screen = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(screen.find("Updating allele frequency..."), std::string::npos) << screen;
  // Pass 1 under 0.15 is harmful and refused; pass 2 under the old 0.1 is taken as it finds.
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_DOUBLE_EQ(seen[0], 0.15);
  EXPECT_EQ(seen[1], 0.1);
  EXPECT_EQ(seen[2], 0.1);
  EXPECT_EQ(v.inbreeding, 0.1);
  EXPECT_EQ(v.btloglikelihood, -260.0);
  EXPECT_EQ(rs.cp.updatecount, 0);
  EXPECT_TRUE(std::filesystem::exists("myout.MidResult2"));
}

TEST_F(UpdateSelfing, AcceptedFirstPassKeepsTheNewValue) {
  auto& v = variables;
  ScriptedScores sc{{-500.0}, {-150.0}, {}};
  sc.install();
  v.crloglikelihood = -100.0;
  v.btloglikelihood = -200.0;
  update_at_temperature_end(rs);
  EXPECT_EQ(sc.currentcalls, 2);  // one pass, then the scores taken
  EXPECT_DOUBLE_EQ(v.inbreeding, 0.15);
  EXPECT_EQ(v.btloglikelihood, -150.0);
  EXPECT_TRUE(std::filesystem::exists("myout.MidResult2"));
}

TEST_F(UpdateSelfing, NothingWithoutAMoveOrWhenTheRateIsHigh) {
  auto& v = variables;
  ScriptedScores sc{{-500.0}, {-150.0}, {}};
  sc.install();
  // The value already in force (0.2 from 0.5 (0.2 + 0.2)): no pass, the count restarts.
  v.inbreeding = 0.2;
  update_at_temperature_end(rs);
  EXPECT_EQ(sc.currentcalls, 0);
  EXPECT_EQ(rs.cp.updatecount, 0);
  EXPECT_FALSE(std::filesystem::exists("myout.MidResult2"));
  // A success rate above 0.7 leaves everything, the count too.
  v.inbreeding = 0.1;
  rs.cp.updatecount = 3;
  rs.successrate = 0.71;
  update_at_temperature_end(rs);
  EXPECT_EQ(v.inbreeding, 0.1);
  EXPECT_EQ(rs.cp.updatecount, 3);
  // The pairwise score keeps the set-up's estimate.
  rs.successrate = 0.5;
  v.fulllikelihoodmethodq = 0;
  update_at_temperature_end(rs);
  EXPECT_EQ(v.inbreeding, 0.1);
  EXPECT_EQ(sc.currentcalls, 0);
}

// --- The wrap-up of a round ------------------------------------------------------------------

TEST_F(UpdateUnit, RoundWrapUp) {
  auto& v = variables;
  v.updateallelefre = 2;
  search_seams.update_pairprob = [] {};
  RunState rs;
  // One family of each sex in round 1: the starting frequencies come back, no checkpoint.
  set_config(std::vector<int4>(12, 1), std::vector<int4>(12, 1), true);
  script_counts();
  rs.cp.newbestcount = 3;
  update_at_round_end(rs, 1);
  EXPECT_EQ(all_frequencies(), start_fre);
  EXPECT_FALSE(std::filesystem::exists("myout.MidResult4"));
  // Later rounds re-estimate even then (one cluster: the counts of cluster 1).
  set_frequencies(saved_fre, start_fre);
  search_seams.update_counts = [](int4 cluster, int4 locus, std::span<real8> c) {
    EXPECT_EQ(cluster, 1);
    const auto& x = chosen_counts[0][static_cast<std::size_t>(locus - 1)];
    std::copy(x.begin(), x.end(), c.begin());
  };
  update_at_round_end(rs, 2);
  EXPECT_NE(all_frequencies(), saved_fre);
  int4 status = -1, round = 0;
  readmidresult4(status, round, false);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(round, 3);
  // A round that found no configuration of its own leaves the frequencies.
  std::filesystem::remove("myout.MidResult4");
  set_frequencies(saved_fre, start_fre);
  set_config(two_families, two_families, true);
  rs.cp.newbestcount = 0;
  update_at_round_end(rs, 2);
  EXPECT_EQ(all_frequencies(), saved_fre);
  EXPECT_FALSE(std::filesystem::exists("myout.MidResult4"));
  // Without rounds the wrap-up updates nothing.
  v.updateallelefre = 1;
  rs.cp.newbestcount = 3;
  update_at_round_end(rs, 5);
  EXPECT_EQ(all_frequencies(), saved_fre);
}

// --- Tables left behind (the real engine) ----------------------------------------------------

class UpdateEngine : public UpdateTest {};

// After a series whose first pass was refused (a scripted harmful score of the best in that
// pass), every table built from the frequencies and the inbreeding coefficient equals a
// recomputation under the values in force, and the scores equal a fresh scoring.
TEST_F(UpdateEngine, NoStaleTablesAfterARefusedPass) {
  testing_support::ProjectFile p = update_project();
  p.fathers = {"F1 1 2 1 2 1 3", "F2 2 2 1 1 2 2"};
  p.mothers = {"M1 1 1 2 2 3 3", "M2 1 2 1 2 1 2"};
  // Typing errors make two full-sib families of six possible at these genotypes.
  p.droprates = "0.02@";
  p.otherrates = "0.02@";
  ASSERT_TRUE(start(p));
  auto& v = variables;
  const int4 n = v.smplsize;
  ASSERT_GT(v.numcandidate(1), 0);
  set_config(two_families, two_families, false);
  set_config(two_families, two_families, true);
  v.inferparent(1, 1) = v.btinferparent(1, 1) = 2;
  v.inferparent(7, 2) = v.btinferparent(7, 2) = 1;
  archiveconfigremoveall();
  v.updateallelefre = 1;
  v.crfamilylogl.fill(0.0);
  // The scores as the search holds them: the best as its fresh score.
  real8 cand = 0.0, prior = 0.0;
  {
    WindowSave keep;
    v.indivlocprt = v.crindivloc.view();
    v.inferparentprt = v.inferparent.view();
    FStatic<int4, 1, 4> numassign{};
    FStatic<int4, 1, 2> nsize{}, nfam{};
    nsize(1) = nsize(2) = 2 * n;
    nfam(1) = v.crnumfamily(1);
    nfam(2) = v.crnumfamily(2);
    configurationprior(numassign, prior, nsize, nfam);
  }
  v.crloglikelihood = testing_support::search_score();
  v.btloglikelihood = v.crloglikelihood;
  v.btconfigprior = prior;
  ASSERT_GT(v.crloglikelihood, -1e6) << v.crloglikelihood;
  // Pass 1 of 2: the best scored far below its stored score; then the real engine.
  bool harmful = true;
  search_seams.update_clusterlogl = [&harmful](real8* logl, int4 nclust) {
    updatefamilylogl(logl, nclust);
    if (harmful && scored_now() == Scored::best) logl[0] -= 1e6;
  };
  int4 ipass = 1;
  update(cand, prior, prior, ipass, 2, 1, 0);
  ASSERT_EQ(ipass, 0);
  harmful = false;
  ipass = 2;
  update(cand, prior, prior, ipass, 2, 1, 0);
  ASSERT_EQ(ipass, 2);
  search_seams = SearchSeams{};

  // Recomputed here under the values in force.
  const FArray<real8, 2> gtype = v.locus2gtypefre.copy();
  computegtypefre(v.l2thread(1), v.l2thread(2));
  ASSERT_EQ(gtype.size(), v.locus2gtypefre.size());
  for (index_t k = 0; k < gtype.size(); ++k)
    EXPECT_EQ(gtype.data()[k], v.locus2gtypefre.data()[k]) << "genotype classes " << k;
  const FArray<real8, 2> l2 = v.locus2logl.copy();
  v.locus2logl.fill(1.0);
  {
    std::vector<real8> fresh(static_cast<std::size_t>(n));
    singleindivlikelihood(0.0, n, 0, fresh);
    for (int4 i = 1; i <= n; ++i) EXPECT_EQ(v.indivlogl(i), fresh[i - 1]) << "indivlogl " << i;
  }
  for (index_t k = 0; k < l2.size(); ++k)
    if (l2.data()[k] != 1.0 && v.locus2logl.data()[k] != 1.0) {
      EXPECT_EQ(l2.data()[k], v.locus2logl.data()[k]) << "locus2logl " << k;
    }
  const FArray<real8, 2> cnd = v.candidatelogl.copy();
  singleparentlikelihood(v.inbreeding);
  for (index_t k = 0; k < cnd.size(); ++k)
    EXPECT_EQ(cnd.data()[k], v.candidatelogl.data()[k]) << "candidatelogl " << k;
  std::vector<real8> fam(static_cast<std::size_t>(v.crnumfamily(3)));
  {
    WindowSave keep;
    v.indivlocprt = v.crindivloc.view();
    v.inferparentprt = v.inferparent.view();
    updatefamilylogl(fam.data(), v.crnumfamily(3));
  }
  for (int4 c = 1; c <= v.crnumfamily(3); ++c)
    EXPECT_EQ(v.crfamilylogl(c), fam[static_cast<std::size_t>(c - 1)]) << "crfamilylogl " << c;
  EXPECT_NEAR(v.crloglikelihood, testing_support::search_score(), 1e-9);
  real8 freshcand = 0.0;
  {
    WindowSave keep;
    v.inferparentprt = v.inferparent.view();
    computeparentlogl(freshcand);
  }
  EXPECT_EQ(cand, freshcand);
  for (int4 l = 1; l <= v.numloci; ++l) {
    real8 sum = 0.0;
    for (int4 a = 1; a <= v.obsnumallele(l); ++a) sum += v.obsallelefre(l).a(a);
    EXPECT_NEAR(sum, 1.0, 1e-14) << l;
  }
}

// The genotyped candidates the best configuration does not use as parents join the counts.
TEST_F(UpdateEngine, UnusedCandidatesJoinTheCounts) {
  testing_support::ProjectFile p = update_project();
  p.fathers = {"F1 1 2 1 2 1 3", "F2 2 2 1 1 2 2"};
  p.mothers = {"M1 1 1 2 2 3 3", "M2 1 2 1 2 1 2"};
  p.droprates = "0.02@";
  p.otherrates = "0.02@";
  ASSERT_TRUE(start(p));
  auto& v = variables;
  set_config(two_families, two_families, false);
  set_config(two_families, two_families, true);
  // F2 and M1 are parents in the best configuration; F1 and M2 are not.
  v.btinferparent(1, 1) = 2;
  v.btinferparent(7, 2) = 1;
  archiveconfigremoveall();
  set_frequencies(saved_fre, start_fre);
  v.updateallelefre = 1;
  script_counts();
  ScriptedScores sc{{-2.0}, {-2.0}, {}};
  sc.install();
  v.crloglikelihood = -50.0;
  real8 cand = 0.0;
  int4 ipass = 1;
  // The best's candidate term enters T; the stored best is set to T so that the update stands.
  real8 bestcand = 0.0;
  {
    WindowSave keep;
    v.inferparentprt = v.btinferparent.view();
    computeparentlogl(bestcand);
  }
  v.btloglikelihood = -2.0 + bestcand;
  update(cand, 0.0, 0.0, ipass, 1, 1, 0);
  ASSERT_EQ(ipass, 1);
  // By hand: F1 (1 2, 1 2, 1 3) and M2 (1 2, 1 2, 1 2) add one copy of each of their alleles.
  // Locus 1: (1.25 + 2, 0.75 + 2), total 6 < 30: e = (4.25, 3.75) / 8. Locus 2: (3 + 2, 1 + 2),
  // total 8: e = (6, 4) / 10. Locus 3: (21 + 2, 6 + 1, 4 + 1), total 35 >= 30: e = (23, 7, 5)/35.
  const std::vector<std::vector<real8>> e = {
      {4.25 / 8.0, 3.75 / 8.0}, {6.0 / 10.0, 4.0 / 10.0}, {23.0 / 35.0, 7.0 / 35.0, 5.0 / 35.0}};
  for (int4 l = 1; l <= 3; ++l)
    for (int4 a = 1; a <= v.obsnumallele(l); ++a) {
      SCOPED_TRACE(std::to_string(l) + "/" + std::to_string(a));
      const real8 want =
          0.8 * e[l - 1][a - 1] + 0.15 * saved_fre[l - 1][a - 1] + 0.05 * start_fre[l - 1][a - 1];
      EXPECT_NEAR(v.obsallelefre(l).a(a), want, 1e-15);
    }
}

// Under the sibship prior the end of a temperature recounts the current configuration's sibship
// sizes after its update and recomputes the prior term the moves compare against.
TEST_F(UpdateTest, TemperatureEndRecountsTheSibshipPrior) {
  testing_support::ProjectFile p = update_project();
  p.prior = "1 2 2";
  ASSERT_TRUE(start(p));
  auto& v = variables;
  ASSERT_EQ(v.priortype, 1);
  const std::vector<int4> f1 = {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4};
  const std::vector<int4> f2 = {1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2};
  set_config(f1, f2, false);
  set_config(two_families, two_families, true);
  archiveconfigremoveall();
  v.sibshipsizedist.fill(0);
  v.updateallelefre = 1;
  v.btconfigprior = 0.0;
  script_counts();
  ScriptedScores sc{{-60.0}, {-100.0}, {}};
  sc.install();
  v.crloglikelihood = -50.0;
  v.btloglikelihood = -100.0;
  RunState rs;
  rs.cp.moveweight.allocate(Dim(v.smplsize), Dim(2));
  rs.cp.updatecount = 1;
  rs.successrate = 0.2;
  rs.oldsibsizeprior = 12345.0;
  update_at_temperature_end(rs);
  EXPECT_EQ(sc.currentcalls, 2);
  // The tally: four paternal sibships of 3 and two maternal sibships of 6, counted here.
  EXPECT_EQ(v.sibshipsizedist(3, 1), 4);
  EXPECT_EQ(v.sibshipsizedist(6, 2), 2);
  int4 total = 0;
  for (index_t k = 0; k < v.sibshipsizedist.size(); ++k) total += v.sibshipsizedist.data()[k];
  EXPECT_EQ(total, 6);
  EXPECT_EQ(rs.oldsibsizeprior, newewenprior(rs.cp.numsizeclass));
}

}  // namespace
}  // namespace kinrad::test
