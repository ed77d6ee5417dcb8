// Whole annealing calls on a small project (20 offspring, 3 loci, full likelihood, 2 runs), run
// in-process through the program's sequence with the search's test seams: the guard, the fixed
// configuration, the restore outcomes, the stops, and determinism.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/clock.hpp"
#include "core/command_line.hpp"
#include "core/modules.hpp"
#include "core/modules/search_seams.hpp"
#include "program/main_program.hpp"
#include "search/search.hpp"
#include "search/search_internal.hpp"
#include "support/cluster_consistency.hpp"
#include "support/module_reset.hpp"
#include "support/pauses.hpp"
#include "support/prepare.hpp"
#include "support/run_stage.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::test {
namespace {

using testing_support::check_cluster_tables;
using testing_support::read_text;
using testing_support::RecordedPauses;
using testing_support::run_stage;
using testing_support::StageOutcome;
using testing_support::TempWorkDir;
using testing_support::write_text;

std::string small_project() {
  return read_text(std::string(KINRAD_TESTS_DIR) +
                   "/e2e/cases/small_project_runs_to_the_end/input/kinrad2.dat");
}

// One whole analysis in the working directory, under the search seams set before the call.
StageOutcome analyse(const std::vector<std::string>& args) {
  testing_support::reset_all_modules_but_search_seams();
  set_command_line(args);
  return run_stage([] { run_sequence(); });
}

struct HooksOff {
  HooksOff() { search_seams = SearchSeams{}; }
  ~HooksOff() { search_seams = SearchSeams{}; }
};

bool exists(const std::string& f) {
  return std::filesystem::exists(f);
}

std::string mask(std::string s) {
  s = std::regex_replace(s, std::regex(R"(D=\d\d/\d\d/\d\d\d\d T=\d\d/\d\d/\d\d)"), "D=<d> T=<t>");
  s = std::regex_replace(s, std::regex(R"(TotalRunningTime\(Min\)=\S+)"),
                         "TotalRunningTime(Min)=<m>");
  s = std::regex_replace(s, std::regex(R"(\d\d/\d\d \d\d/\d\d/\d\d)"), "<stamp>");
  return s;
}

// A state checkpoint without the date record's stamps and running time.
std::string without_dates(const std::string& s) {
  return std::regex_replace(s, std::regex(R"(,\d{8},\d{6}\.\d{3},[^\n]*)"), ",<date>");
}

TEST(AnnealRuns, GuardReturnsAfterAMillionRefusals) {
  RecordedPauses pauses;
  TempWorkDir dir("anneal_guard");
  HooksOff hooks;
  write_text("kinrad2.dat", small_project());
  int8 attempts = 0;
  bool ruled = false;
  reset_all_modules();
  search_seams.body = [&](RunState&) {
    ++attempts;
    return MoveOutcome::refused;
  };
  search_seams.on_rule = [&](const RuleEvent&) { ruled = true; };
  real8 initial = 0.0;
  set_command_line({"VER:0"});
  const StageOutcome o = run_stage([&] {
    readdata();
    initialize();
    dataprocess();
    initialfsprob(1, 1, variables.numloci);
    int4 firstq = 1;
    variables.krun = 1;
    anneal(firstq, 5);
    initial = variables.crloglikelihood;
  });
  ASSERT_FALSE(o.stopped) << o.errorfile;
  EXPECT_EQ(attempts, 1000000);
  EXPECT_FALSE(ruled);
  // The initial configuration is the best one and heads the archive; the final checkpoint
  // was written.
  EXPECT_EQ(variables.btloglikelihood, initial);
  ASSERT_NE(variables.confighead, nullptr);
  EXPECT_EQ(variables.confighead->logl, initial);
  EXPECT_EQ(variables.confighead->next, nullptr);
  EXPECT_TRUE(exists("myout.MidResult2"));
  EXPECT_TRUE(exists("myout.MidResult3"));
}

// A refused proposal can leave offspring marked as temporary members of a known sibship (the
// family move carries them; the next iteration's top would clear the marks). When the guard
// ends the call instead, the marks are cleared as at the end of any run: offspring 2 was not
// in a known sibship before and must not stay in one.
TEST(AnnealRuns, GuardClearsTheTemporarySibshipMarks) {
  RecordedPauses pauses;
  TempWorkDir dir("anneal_guard_marks");
  HooksOff hooks;
  write_text("kinrad2.dat", small_project());
  int8 attempts = 0;
  int4 marked = -1;  // the mark as the refused proposal left it
  reset_all_modules();
  search_seams.body = [&](RunState& rs) {
    auto& v = variables;
    if (++attempts == 1) {
      v.setknownsibindiv(0, 1) = 1;
      v.setknownsibindiv(1, 1) = 2;
      v.knownsibship(2, 1) = 5;
      marked = v.knownsibship(2, 1);
      rs.splitside = 1;
    }
    return MoveOutcome::refused;
  };
  set_command_line({"VER:0"});
  const StageOutcome o = run_stage([&] {
    readdata();
    initialize();
    dataprocess();
    initialfsprob(1, 1, variables.numloci);
    ASSERT_EQ(variables.knownsibship(2, 1), 0) << "the project has no known sibships";
    int4 firstq = 1;
    variables.krun = 1;
    anneal(firstq, 5);
  });
  ASSERT_FALSE(o.stopped) << o.errorfile;
  ASSERT_EQ(attempts, 1000000) << "the guard did not end the call";
  EXPECT_EQ(marked, 5);
  EXPECT_EQ(variables.knownsibship(2, 1), 0) << "the temporary mark outlived the call";
}

TEST(AnnealRuns, FixedConfigurationIsArchivedWithoutSearching) {
  TempWorkDir dir("anneal_fixed");
  HooksOff hooks;
  ASSERT_TRUE(testing_support::prepare(small_project()));
  auto& v = variables;
  // Every offspring alone in a known sibship of each sex, and a candidate in the sample.
  for (int4 i = 1; i <= v.smplsize; ++i) {
    v.knownsibship(i, 1) = -i;
    v.knownsibship(i, 2) = -i;
  }
  v.anyknownsibshipq(1) = v.anyknownsibshipq(2) = 1;
  v.allcandidate = 1;
  bool searched = false;
  search_seams.body = [&](RunState&) {
    searched = true;
    return MoveOutcome::completed;
  };
  const StageOutcome o = run_stage([] {
    int4 firstq = 1;
    variables.krun = 1;
    anneal(firstq, 5);
  });
  ASSERT_FALSE(o.stopped) << o.errorfile;
  EXPECT_FALSE(searched);
  ASSERT_NE(v.confighead, nullptr);
  EXPECT_EQ(v.confighead->next, nullptr);
  EXPECT_EQ(v.confighead->logl, v.btloglikelihood);
  EXPECT_EQ(v.btnumfamily(3), v.smplsize);
  EXPECT_FALSE(exists("myout.MidResult"));  // no log record, not even the header
  EXPECT_TRUE(exists("myout.MidResult2"));
}

// What a checkpoint holds, taken at the iteration whose head wrote it.
struct Snapshot {
  int4 tmr = 0;
  int8 itr = 0, numiterate = 0, nsucc = 0, nfail1 = 0, nfail2 = 0;
  real8 temperature = 0, rate = 0, btlogl = 0;
  int4 idum3 = 0, idum2 = 0, idumiy = 0;
  std::vector<int4> idumiv, cr;
};

Snapshot snap(const RunState& rs) {
  auto& v = variables;
  Snapshot s;
  s.tmr = rs.cp.tmr;
  s.itr = rs.cp.itr;
  s.numiterate = rs.cp.numiterate;
  s.nsucc = rs.cp.nsucc;
  s.nfail1 = rs.cp.nfail1;
  s.nfail2 = rs.cp.nfail2;
  s.temperature = rs.cp.temperature;
  s.rate = annealvariables.rate;
  s.btlogl = v.btloglikelihood;
  s.idum3 = v.idum3;
  s.idum2 = v.idum2;
  s.idumiy = v.idumiy;
  for (int4 k = 1; k <= 32; ++k) s.idumiv.push_back(v.idumiv(k));
  for (int4 c = 1; c <= 3; ++c)
    for (int4 i = 1; i <= v.smplsize; ++i) s.cr.push_back(v.crindivloc(i, c));
  return s;
}

TEST(AnnealRuns, RestoreResumesAtTheCheckpoint) {
  RecordedPauses pauses;
  TempWorkDir dir("anneal_restore");
  HooksOff hooks;
  write_text("kinrad2.dat", small_project());
  // First analysis: a checkpoint at iteration 25000 (past a relabelling, so that the labels and
  // the random stream have moved), then a kill at iteration 40000, after the progress log's
  // record at 32768.
  Snapshot saved;
  search_seams.checkpoint_at = 25000;
  search_seams.body = [&](RunState& rs) {
    count_scored(rs);
    if (rs.cp.numiterate == 25001) {
      // The stream as the checkpoint saw it: no draw happens between the checkpoint and here
      // (parent-side moves draw only every 100th iteration).
      saved = snap(rs);
    }
    if (rs.cp.numiterate == 40000) stop_silently();
    return MoveOutcome::completed;
  };
  StageOutcome first = analyse({"VER:0"});
  ASSERT_TRUE(first.stopped);
  ASSERT_EQ(saved.numiterate, 25001);
  ASSERT_TRUE(exists("myout.MidResult2"));

  // Second analysis on the same data: it restores and resumes at the saved iteration.
  search_seams = SearchSeams{};
  Snapshot resumed;
  bool first_call = true;
  std::string tables;
  real8 fresh_prior = 0, fresh_cnd = 0, kept_prior = 0, kept_cnd = 0;
  FStatic<int4, 1, 4> fresh_assign{}, kept_assign{};
  search_seams.body = [&](RunState& rs) {
    if (first_call) {
      resumed = snap(rs);
      first_call = false;
      // What the restore derived from the configuration equals a fresh computation.
      tables = check_cluster_tables();
      auto& v = variables;
      const auto loc = v.indivlocprt;
      const auto par = v.inferparentprt;
      v.indivlocprt = v.crindivloc.view();
      v.inferparentprt = v.inferparent.view();
      FStatic<int4, 1, 2> nsize{}, nfam{};
      nsize(1) = nsize(2) = v.smplsize;
      nfam(1) = v.crnumfamily(1);
      nfam(2) = v.crnumfamily(2);
      configurationprior(fresh_assign, fresh_prior, nsize, nfam);
      computeparentlogl(fresh_cnd);
      v.indivlocprt = loc;
      v.inferparentprt = par;
      kept_prior = rs.cp.oldlogprior;
      kept_cnd = rs.cp.oldcndlogl;
      kept_assign = rs.cp.curnumassign;
    }
    count_scored(rs);
    return MoveOutcome::completed;
  };
  StageOutcome second = analyse({"VER:0"});
  ASSERT_FALSE(second.stopped) << second.errorfile;
  // The first run restores without scoring an initial configuration; only the second run,
  // which starts afresh, scores one.
  EXPECT_LT(second.screen.find("Run=1,"),
            second.screen.find("Computing likelihood of initial config"));
  EXPECT_EQ(tables, "");
  EXPECT_EQ(kept_prior, fresh_prior);
  EXPECT_EQ(kept_cnd, fresh_cnd);
  for (int4 k = 1; k <= 4; ++k) EXPECT_EQ(kept_assign(k), fresh_assign(k));
  EXPECT_EQ(resumed.numiterate, saved.numiterate);
  EXPECT_EQ(resumed.tmr, saved.tmr);
  EXPECT_EQ(resumed.itr, saved.itr);
  EXPECT_EQ(resumed.nsucc, saved.nsucc);
  // The counters are the checkpoint's, taken before the saved iteration's own scoring.
  EXPECT_EQ(resumed.nfail1, saved.nfail1 - 1);
  EXPECT_EQ(resumed.nfail2, saved.nfail2 - 1);
  EXPECT_EQ(resumed.idum3, saved.idum3);
  EXPECT_EQ(resumed.idum2, saved.idum2);
  EXPECT_EQ(resumed.idumiy, saved.idumiy);
  EXPECT_EQ(resumed.idumiv, saved.idumiv);
  EXPECT_EQ(resumed.cr, saved.cr);
  // Reals as their text holds them: ES20.10 and F10.6.
  EXPECT_NEAR(resumed.temperature, saved.temperature, 1e-9 * std::fabs(saved.temperature));
  EXPECT_NEAR(resumed.rate, saved.rate, 5e-7);
  EXPECT_NEAR(resumed.btlogl, saved.btlogl, 1e-12 * std::fabs(saved.btlogl));
  // The resumed first run passes 32768 again without logging it a second time.
  int logged32768 = 0;
  std::istringstream log(read_text("myout.MidResult"));
  std::string rec;
  std::getline(log, rec);  // header
  while (std::getline(log, rec))
    if (rec.size() > 36 && std::stoi(rec.substr(14, 4)) == 1 &&
        std::stoll(rec.substr(22, 14)) == 32768)
      ++logged32768;
  EXPECT_EQ(logged32768, 1);

  // A third analysis with RCS:1 restores and goes straight to the results: no iteration, and
  // the archive as the restore left it.
  search_seams = SearchSeams{};
  bool iterated = false;
  search_seams.body = [&](RunState&) {
    iterated = true;
    return MoveOutcome::completed;
  };
  StageOutcome third = analyse({"VER:0", "RCS:1"});
  ASSERT_FALSE(third.stopped) << third.errorfile;
  EXPECT_FALSE(iterated);
  EXPECT_NE(third.screen.find("Output to file : myout"), std::string::npos);
}

int4 archive_records() {
  int4 k = 0;
  for (Config* p = variables.confighead; p != nullptr; p = p->next) ++k;
  return k;
}

// With allele-frequency rounds a restore frees the archive and keeps the restored best alone;
// without rounds the restored archive stays. The archive file is doubled by hand (the reader
// appends its records without a duplicate test) so that freeing it shows.
TEST(AnnealRuns, RestoreWithRoundsKeepsTheBestAlone) {
  RecordedPauses pauses;
  TempWorkDir dir("anneal_rounds");
  HooksOff hooks;
  write_text("kinrad2.dat", small_project());
  // A run without moves: its archive holds the initial best alone.
  search_seams.body = [](RunState&) { return MoveOutcome::end_run; };
  ASSERT_FALSE(analyse({"VER:0"}).stopped);
  search_seams.body = nullptr;
  const std::string archive = read_text("myout.MidResult3");
  ASSERT_FALSE(archive.empty());
  for (int4 rounds : {0, 2}) {
    SCOPED_TRACE("updateallelefre " + std::to_string(rounds));
    write_text("myout.MidResult3", archive + archive);
    ASSERT_TRUE(testing_support::prepare(small_project()));
    variables.updateallelefre = rounds;
    variables.restart = 1;
    int4 records_at_start = -1;
    search_seams.body = [&](RunState&) {
      records_at_start = archive_records();
      return MoveOutcome::end_run;
    };
    const StageOutcome o = run_stage([] {
      int4 firstq = 1;
      variables.krun = 1;
      anneal(firstq, 5);
    });
    ASSERT_FALSE(o.stopped) << o.errorfile;
    EXPECT_EQ(records_at_start, rounds == 2 ? 1 : 2);
    ASSERT_NE(variables.confighead, nullptr);
    EXPECT_EQ(variables.confighead->logl, variables.btloglikelihood);
  }
}

TEST(AnnealRuns, FailedRestoreFollowsTheFreshPath) {
  RecordedPauses pauses;
  HooksOff hooks;
  std::vector<std::string> fresh_events, retried_events;
  std::string fresh_cr, retried_cr;
  auto record = [](std::vector<std::string>& into) {
    search_seams.on_rule = [&into](const RuleEvent& e) {
      into.push_back(std::to_string(static_cast<int4>(e.rule)) + " " + std::to_string(e.tmr) + " " +
                     std::to_string(e.itr));
    };
  };
  {
    TempWorkDir dir("anneal_fresh");
    write_text("kinrad2.dat", small_project());
    record(fresh_events);
    ASSERT_FALSE(analyse({"VER:0"}).stopped);
    fresh_cr = read_text("myout.MidResult2");
  }
  {
    TempWorkDir dir("anneal_failed_restore");
    write_text("kinrad2.dat", small_project());
    search_seams.on_rule = nullptr;
    ASSERT_FALSE(analyse({"VER:0"}).stopped);
    // A state checkpoint of another sample: the restore fails and the run starts afresh.
    write_text("myout.MidResult2", "7\n");
    record(retried_events);
    ASSERT_FALSE(analyse({"VER:0"}).stopped);
    retried_cr = read_text("myout.MidResult2");
  }
  EXPECT_EQ(fresh_events, retried_events);
  // The final checkpoints agree but for the stamps and the running time of the date record.
  EXPECT_EQ(without_dates(fresh_cr), without_dates(retried_cr));
}

TEST(AnnealRuns, DeletedDataCopyStopsTheRun) {
  RecordedPauses pauses;
  TempWorkDir dir("anneal_sys");
  HooksOff hooks;
  write_text("kinrad2.dat", small_project());
  search_seams.body = [](RunState& rs) {
    count_scored(rs);
    if (rs.cp.numiterate == 500) std::filesystem::remove("myout.data");
    return MoveOutcome::completed;
  };
  const StageOutcome o = analyse({"VER:0", "SYS:1"});
  EXPECT_TRUE(o.stopped);
  EXPECT_EQ(o.status, 0);
  EXPECT_TRUE(o.errorfile.empty());
  EXPECT_NE(o.screen.find("\nProgram stoped due to deletion of .data file\n"), std::string::npos);
  EXPECT_FALSE(exists("myout.MidResult2"));  // no final checkpoint
}

TEST(AnnealRuns, NonFiniteScoreStopsWithTheScoreError) {
  RecordedPauses pauses;
  TempWorkDir dir("anneal_nan");
  HooksOff hooks;
  write_text("kinrad2.dat", small_project());
  search_seams.body = [](RunState& rs) {
    count_scored(rs);
    if (rs.cp.numiterate == 37) variables.crloglikelihood = std::nan("");
    return MoveOutcome::completed;
  };
  const StageOutcome o = analyse({"VER:0"});
  EXPECT_TRUE(o.stopped);
  EXPECT_NE(o.status, 0);
  EXPECT_EQ(o.errorfile,
            "Error in likelihood calculation at iterate = 37.\n"
            "The CrLogLikelihood calculated by thread 0 = NaN\n"
            "Program stopped in subroutine ANNEAL, dataset = myout.\n");
}

// Monitoring by processor seconds, on a processor clock that advances 0.5 s per reading (read
// every 64th iteration): a tick each second, the monitor lines every 5 seconds, and a checkpoint
// once 300 seconds have passed since the start, near iteration 600 x 64 = 38400.
TEST(AnnealRuns, MonitorAndCheckpointByProcessorTime) {
  RecordedPauses pauses;
  TempWorkDir dir("anneal_cpu");
  HooksOff hooks;
  std::string project = small_project();
  project = std::regex_replace(project, std::regex("0                 ! monitor method"),
                               "1                 ! monitor method");
  project = std::regex_replace(project, std::regex("100000            ! monitor interval"),
                               "5                 ! monitor interval");
  write_text("kinrad2.dat", project);
  static int8 readings = 0;
  readings = 0;
  clock_hooks.processor = [] { return 0.5 * static_cast<real8>(++readings); };
  int8 first_checkpoint_seen = -1;
  search_seams.body = [&](RunState& rs) {
    count_scored(rs);
    if (first_checkpoint_seen < 0 && exists("myout.MidResult2"))
      first_checkpoint_seen = rs.cp.numiterate;
    if (rs.cp.numiterate == 60000) stop_silently();
    return MoveOutcome::completed;
  };
  const StageOutcome o = analyse({"VER:0"});
  clock_hooks.processor = nullptr;
  ASSERT_TRUE(o.stopped);
  EXPECT_EQ(o.status, 0);
  // A few readings besides the monitor's move it a little earlier; not at the end of the run.
  EXPECT_GT(first_checkpoint_seen, 30000);
  EXPECT_LT(first_checkpoint_seen, 40000);
  EXPECT_NE(o.screen.find("-----\nRun=1, Tmr="), std::string::npos);
}

TEST(AnnealRuns, SameSeedSameRun) {
  RecordedPauses pauses;
  HooksOff hooks;
  std::string screen[2], log[2], state[2];
  // The files without time stamps: the archive, the scores checkpoint, the run copies and the
  // best configuration.
  const std::vector<std::string> plain = {"myout.MidResult3", "myout.MidResult5",
                                          "myout.MidResult3.Run1", "myout.MidResult3.Run2",
                                          "myout.BestConfig"};
  std::vector<std::string> files[2];
  for (int k = 0; k < 2; ++k) {
    TempWorkDir dir("anneal_determinism");
    write_text("kinrad2.dat", small_project());
    const StageOutcome o = analyse({"VER:0"});
    ASSERT_FALSE(o.stopped) << o.errorfile;
    screen[k] = mask(o.screen);
    log[k] = mask(read_text("myout.MidResult"));
    state[k] = read_text("myout.MidResult2");
    for (const std::string& f : plain) {
      EXPECT_TRUE(exists(f)) << f;
      files[k].push_back(read_text(f));
    }
  }
  EXPECT_EQ(screen[0], screen[1]);
  EXPECT_EQ(log[0], log[1]);
  // Record 7 (the date record) holds the stamps and the running time; the rest agree.
  EXPECT_EQ(without_dates(state[0]), without_dates(state[1]));
  for (std::size_t f = 0; f < plain.size(); ++f) EXPECT_EQ(files[0][f], files[1][f]) << plain[f];
  // The run moved: the progress log holds records after its title line.
  EXPECT_GT(std::count(log[0].begin(), log[0].end(), '\n'), 2) << log[0];
}

}  // namespace
}  // namespace kinrad::test
