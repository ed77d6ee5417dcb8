// reset_all_modules reaches every mutable namespace-scope object of the program: each row
// below names one, puts it in a state a run could leave (a value other than its default, an
// allocated array, a set seam), resets, and checks that the object is back at its default.
// The rows list the objects of src/ found by a search for namespace-scope variables and static
// locals (the data symbols of the library); a new one joins the table. Deliberately kept, each
// with its reason at its test below: the clock's pause and processor-time hooks, and the record
// of a stop signal (with the handler's count of signals received). Not state of an analysis
// either: the formatted I/O's per-thread cache of parsed formats and its reused statement
// buffer, which hold nothing but what the format texts give. The batch runner's own `variables`
// belongs to the other program and is not reset.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "core/clock.hpp"
#include "core/clock_state.hpp"
#include "core/command_line.hpp"
#include "core/modules.hpp"
#include "core/modules/configuration_work.hpp"
#include "core/modules/likelihood_seams.hpp"
#include "core/modules/likelihood_work.hpp"
#include "core/modules/pairwise_seams.hpp"
#include "core/modules/pairwise_work.hpp"
#include "core/modules/results_seams.hpp"
#include "core/modules/run_memos.hpp"
#include "core/modules/search_seams.hpp"
#include "core/modules/search_work.hpp"
#include "core/modules/work_growth.hpp"
#include "core/random_numbers.hpp"
#include "core/stem_lock.hpp"
#include "core/stop_signal.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

// One object: the name it goes by, how a run leaves it, and whether it is at its default.
struct Row {
  const char* name;
  std::function<void()> dirty;
  std::function<bool()> at_default;
};

void fake_locus(int4, int4, int4, real8& logl) {
  logl = 0.0;
}

real8 fake_draw() {
  return 0.5;
}

std::vector<Row> rows() {
  // Defaults are those of a default-constructed value of each type.
  return {
      {"variables",
       [] {
         variables.smplsize = 17;
         variables.offploid.allocate(Dim(3));
       },
       [] {
         return variables.smplsize == Variables{}.smplsize && !variables.offploid.allocated();
       }},
      {"setgetgtype",
       [] {
         static FArray<int2, 1> column(Dim(4));
         setgetgtype.locusgtypeptr = column.view();
       },
       [] { return setgetgtype.locusgtypeptr.data() == nullptr; }},
      {"likelihoodvar", [] { likelihoodvar.indivg12 = 1; },
       [] { return likelihoodvar.indivg12 == Likelihoodvar{}.indivg12; }},
      {"familyloglvar", [] { familyloglvar.ldx.allocate(Dim(0, 5)); },
       [] { return !familyloglvar.ldx.allocated(); }},
      {"absorbvar", [] { absorbvar.pairparent.allocate(Dim(2), Dim(3)); },
       [] { return !absorbvar.pairparent.allocated(); }},
      {"annealvariables", [] { annealvariables.moveindiv = 9; },
       [] { return annealvariables.moveindiv == Annealvariables{}.moveindiv; }},
      {"simuvariables", [] { simuvariables.setsimoffgtype = 1; },
       [] { return simuvariables.setsimoffgtype == Simuvariables{}.setsimoffgtype; }},
      {"writevar", [] { writevar.cfre.allocate(Dim(2)); },
       [] { return !writevar.cfre.allocated(); }},
      {"dyadprbvariables",
       [] {
         dyadprbvariables.dyad_tables.built = true;
         dyadprbvariables.dyad_tables.version = 12;
       },
       [] {
         const DyadTables& t = dyadprbvariables.dyad_tables;
         return !t.built && t.version == 0;
       }},
      {"configuration_work", [] { configuration_work.family.numberfsfamily = 4; },
       [] { return configuration_work.family.numberfsfamily == 0; }},
      {"likelihood_work",
       [] {
         likelihood_work.layer_kind.dominant = true;
         likelihood_work.fs_error.allelemap.allocate(Dim(0, 127));
         likelihood_work.fs_slab.w.allocate(Dim(4), Dim(2, 5), Dim(1));
       },
       [] {
         const LikelihoodWork& w = likelihood_work;
         return !w.layer_kind.dominant && !w.fs_error.allelemap.allocated() &&
                !w.fs_slab.w.allocated();
       }},
      {"pairwise_work", [] { pairwise_work.clone_log.m1.assign(3, 1); },
       [] { return pairwise_work.clone_log.m1.empty(); }},
      {"search_work", [] { search_work.order.assign(3, 1); },
       [] { return search_work.order.empty(); }},
      {"work_growth",
       [] {
         work_growth.count = 3;
         work_growth.slots = 2;
       },
       [] { return work_growth.count == 0 && work_growth.slots == 0; }},
      {"run_memos", [] { run_memos.domlociprb = 0.25; },
       [] { return run_memos.domlociprb == RunMemos{}.domlociprb; }},
      {"likelihood_seams", [] { likelihood_seams.layerfirstbound = 1; },
       [] { return likelihood_seams.layerfirstbound == 0; }},
      {"trio_engine_calls",
       [] {
         trio_engine_calls.familylocuslogl = &fake_locus;
         trio_engine_calls.genotypecheckp = [](int4& ok, int4) { ok = 1; };
         trio_engine_calls.genotypecheckpdom = [](int4& ok) { ok = 1; };
       },
       [] {
         const TrioEngineCalls& t = trio_engine_calls;
         return t.familylocuslogl == nullptr && t.genotypecheckp == nullptr &&
                t.genotypecheckpdom == nullptr;
       }},
      {"results_seams",
       [] {
         results_seams.output = [](std::string_view) {};
         results_seams.inference_prepare = [](int4&) {};
         results_seams.fsfamily_corrections = false;
         results_seams.findclone = [](int4, const real8*, const int4*, const int4*, const int4*) {};
       },
       [] {
         const ResultsSeams& r = results_seams;
         return !r.output && !r.inference_prepare && r.fsfamily_corrections && !r.findclone;
       }},
      {"search_seams",
       [] {
         SearchSeams& s = search_seams;
         s.choice_draw = &fake_draw;
         s.body = [](RunState&) { return MoveOutcome{}; };
         s.checkpoint_at = 25;
         s.on_rule = [](const RuleEvent&) {};
         s.rescore = [](RunState&) {};
         s.cluster_logl = [](real8&, real8, int4, int4) {};
         s.update_counts = [](int4, int4, std::span<real8>) {};
         s.update_clusterlogl = [](real8*, int4) {};
         s.update_pairprob = [] {};
       },
       [] {
         const SearchSeams& s = search_seams;
         return s.choice_draw == nullptr && !s.body && s.checkpoint_at == -1 && !s.on_rule &&
                !s.rescore && !s.cluster_logl && !s.update_counts && !s.update_clusterlogl &&
                !s.update_pairprob;
       }},
      {"random_stream_state",
       [] {
         random_stream_state.ix = 99;
         random_stream_state.iy = 5;
       },
       [] {
         return random_stream_state.ix == RandomStreamState{}.ix &&
                random_stream_state.iy == RandomStreamState{}.iy;
       }},
      {"command_line", [] { set_command_line({"VER:0"}); },
       [] { return command_line.args.empty(); }},
      {"wall_clock_state",
       [] {
         wall_clock_state.daycount = 2;
         wall_clock_state.lasthour = 23;
       },
       [] { return wall_clock_state.daycount == 0 && wall_clock_state.lasthour == 0; }},
      {"stem_lock", [] { ASSERT_EQ(lock_output_stem("reset_stem"), StemLockResult::locked); },
       [] {
         return stem_lock.fd == -1 && stem_lock.path.empty() &&
                !std::filesystem::exists(stem_lock_name("reset_stem"));
       }},
  };
}

TEST(ModuleReset, ResetsEveryNamespaceScopeObject) {
  testing_support::TempWorkDir dir("module_reset");
  reset_all_modules();
  for (const Row& r : rows()) {
    SCOPED_TRACE(r.name);
    ASSERT_TRUE(r.at_default()) << "not at its default before the test";
    r.dirty();
    ASSERT_FALSE(r.at_default()) << "the row does not change the object";
    reset_all_modules();
    EXPECT_TRUE(r.at_default());
  }
}

// The pause and processor-time hooks belong to the test harness, which sets them around whole
// analyses that reset the modules on the way: a reset keeps them.
TEST(ModuleReset, KeepsTheClockHooksOfTheHarness) {
  const ClockHooks kept = clock_hooks;
  clock_hooks.pause = [](int4) {};
  clock_hooks.processor = [] { return 1.5; };
  reset_all_modules();
  EXPECT_NE(clock_hooks.pause, nullptr);
  EXPECT_NE(clock_hooks.processor, nullptr);
  clock_hooks = kept;
}

// The record of a stop signal belongs to the process, not to an analysis: the handler writes it
// at any moment, so a reset between two analyses would drop a request that arrived in between,
// and the main program ends by the recorded signal once the stop is reported. A reset keeps it.
TEST(ModuleReset, KeepsTheRecordOfAStopSignal) {
  const StopSignal kept{stop_signal.signo, stop_signal.routine};
  stop_signal.signo = 15;
  stop_signal.routine = "Anneal";
  reset_all_modules();
  EXPECT_EQ(stop_signal.signo, 15);
  EXPECT_EQ(stop_signal.routine, "Anneal");
  stop_signal.signo = kept.signo;
  stop_signal.routine = kept.routine;
}

}  // namespace
}  // namespace kinrad
