#pragma once
// The run state of one annealing call and the pieces of the call that the search's own files
// share: the schedule, the set-up routines, the counter events that the stopping rules read,
// the temperature loop, the monitor and the progress log.
#include <cstdint>
#include <functional>
#include <string>

#include "configuration/configuration.hpp"
#include "core/farray.hpp"
#include "core/kinds.hpp"
#include "core/modules/variables.hpp"
#include "search/move_stages.hpp"

namespace kinrad {

// The four windows a search routine re-aims, each put back when the scope ends.
struct WindowSave {
  WindowScope<FView<int4, 2>> loc{variables.indivlocprt};
  WindowScope<FView<int4, 2>> par{variables.inferparentprt};
  WindowScope<real8*> logl{variables.loglikelihoodprt};
  WindowScope<FView<int4, 1>> order{variables.indivorder};
};

// The constants of the annealing schedule of one call.
struct Schedule {
  int4 b = 0;           // base length: the sample size scaled by its logarithm
  int8 n = 0;           // 5^(lengthrun + 1) x b
  int8 nsucclmt = 0;    // lround(0.5 n)
  real8 nfaillmt = 0;   // 8 n
  real8 nfaillmt2 = 0;  // 40 n
  real8 iterlmt = 0;    // 100 n
  int4 ntemprature = 0;
  real8 ratiotemprature = 0.92;
  real8 fammovethreshold = 0;
  real8 sideprob = 0.5;
};

// The schedule from the sample size, the run length, the allele-frequency round, the method
// and the numbers of candidate-parent choices u1, u2 of the offspring without a known parent.
Schedule make_schedule(int4 smplsize, real8 logk_n, int4 lengthrun, int4 iround,
                       int4 fulllikelihoodmethodq, int4 allmonogamy, int4 haplodiploid, int8 u1,
                       int8 u2);

// What a configuration's monitor line shows beside its score: full-sib families and half-sib
// and full-sib pairs (-1: never counted), and whether it changed since it was last counted.
struct ShownCounts {
  int4 numfs = -1;
  FStatic<int4, 1, 2> pairs = [] {
    FStatic<int4, 1, 2> p;
    p.fill(-1);
    return p;
  }();
  bool recount = true;
};

// Everything one call of anneal owns. The resumable part lives in `cp`, which the checkpoint
// writes and the restore fills; the counters of the stop rules that no other item carries ride
// in its spare slots (acceptcount in the 4-byte word, bestrepeat, flatcount and archiveon in the
// counter triple).
struct RunState {
  CheckpointRunState cp{};

  // Slots of the checkpoint record given their meaning in the run.
  int4& acceptcount() { return cp.monitorword; }
  int4& bestrepeat() { return cp.monitorcounters[0]; }
  int4& flatcount() { return cp.monitorcounters[1]; }
  int4& archiveon() { return cp.monitorcounters[2]; }
  int4& logcount() { return cp.progresslog[0]; }
  int4& lognext() { return cp.progresslog[1]; }

  Schedule sched{};
  int4 tmrstart = 1;
  int8 itrstart = 0;
  real8 successrate = 0.0;
  int4 p = 1;  // 10 under the pairwise-score method: its limits are ten times larger
  real8 coolfactor = 1.0;
  real8 drawfloor = 0.0;
  real8 pairtemperature = 0.0;
  real8 maxsamegain = 0.01;
  real8 hetsum = 0.0;
  real8 knownsibfrac = 0.0;
  real8 locusratio = 0.0;
  int4 focussex = 0;
  int1 wholesibshipsex = 0;
  int4 runlabel = 0;
  real8 oldsibsizeprior = 0.0;
  int4 splitside = 0;
  int4 sidemoveok = 0;
  int4 restorestatus = 1;
  int8 lastloggediter = 0;
  real4 starttime = 0.0f;
  real8 lastsavecpu = 0.0;
  int4 iround = 5;            // the allele-frequency round of the call (5: the last, or none)
  int4 invalidcount = 0;      // proposal attempts before the first completed iteration; -1: off
  int4 reduceperiod = 10000;  // acceptances between reductions of the pairwise accumulator
  int4 triocheckq = 0;
  FArray<real8, 1> prbself{};         // one parent pool with selfing: prior chance of being selfed
  int4 numunassigned[3] = {0, 0, 0};  // per sex; [0]: candidates marked in both columns

  // The monitor.
  ShownCounts crshown{}, btshown{};
  std::string limittext[3];   // [1], [2]: ", NFail1Lmt=...", ", NFail2Lmt=..."
  std::string scoreformat;    // edit format of the two score lines
  int4 tick1 = 1, tick2 = 1;  // iteration-based ticks: "+" and "-" intervals
  real8 monitorcpu = 0.0;     // processor time last read by the monitor
  real8 lasttick = 0.0, lastmonitor = 0.0;
  bool monitoron = true;  // tests of the rules alone switch the monitor off

  // The move in hand.
  MoveChoice choice{};
  Proposal proposal{};
  Verdict verdict{};
};

// How one proposal attempt of the iteration body ended.
enum class MoveOutcome { completed, refused, end_run };
using IterationBody = std::function<MoveOutcome(RunState&)>;

// Which rule decided the fate of an iteration, for the tests of the rules.
enum class RuleEnd { none, end_temperature, end_run };
// The rule itself; its value is the code the rule tests record (11 the first rule, 41..45 the
// branches of the plateau rule, and so on).
enum class StopRule : int4 {
  none = 0,                // no rule fired; also the head of a temperature past its limit
  too_cold_start = 11,     // the first temperature accepts too little: warm up, start again
  plateau = 2,             // many acceptances, hardly any new best
  high_rate = 41,          // a success rate of 0.6 or more: cool by a rate-dependent step
  one_cluster_rate = 42,   // one cluster left at a fair success rate
  rate_above_floor = 43,   // a success rate above the known-sibship floor
  stalled = 44,            // late, nearly no success: the run ends
  failures_at_floor = 45,  // a vanishing success rate over a long temperature
  small_bests = 5,         // many small new bests at a low success rate
  no_best_high_rate = 61,  // later temperatures without new bests, by success rate
  no_best_mid_rate = 62,
  no_best_low_rate = 63,
  success_limit = 71,  // the limits of the schedule
  failure_limit = 72,
  failure_limit2 = 73,
  iteration_limit = 74,
  no_success_at_end = 84,  // a temperature without success after many iterations
  last_temperature = 85,   // the schedule's temperatures are done
  move_ends_run = 99,      // the applied move ended the run
};
struct RuleEvent {
  StopRule rule = StopRule::none;
  RuleEnd end = RuleEnd::none;
  int4 tmr = 0;
  int8 itr = 0;
  real8 temperature = 0.0;
  real8 rate = 0.0;
};

// --- Counter events of a move: what the stopping rules read -----------------------------------

// A proposal was scored (accepted or not).
void count_scored(RunState& rs);
// A proposal was accepted with the change `delta` of the score.
void count_accepted(RunState& rs, real8 delta);
// The accepted configuration beats the best by `gain`; `newconfig`: it differs from the best.
void count_new_best(RunState& rs, real8 gain, bool newconfig);
// An accepted move returned to the best configuration; true when the run must end.
bool count_return_to_best(RunState& rs);
// True when the run of flat acceptances ends the run.
bool flat_run_ends(const RunState& rs);

// --- The call's pieces -----------------------------------------------------------------------

// Set-up routines.
// Work arrays of the search over the sample: the move tables and the cluster tables, each
// allocated unless already of the sample's extent; also the default move targets and the
// views of the two move tables (indivloc12).
void allocate_work_arrays();
// The score of the fresh initial configuration (crindivloc, inferparent and the cluster
// likelihoods in hand): candidate terms, sibship sizes, prior and likelihood into rs.cp and
// crloglikelihood, and its best copy; an impossible configuration is the error stop.
void score_initial_configuration(RunState& rs);
// The buffers of search_work at the sample's full need, taken before the first move.
void size_search_work(RunState& rs);
// The sex fixed as one known sibship of the whole sample and the sexes whose sibships the
// data or monogamy fix.
void sibship_sexes(RunState& rs);
// 1 when the Mendelian trio screen of the pairwise search is worth running.
int4 trio_check_wanted();
// Single-offspring likelihoods and, with selfing, each offspring's prior chance of selfing.
void single_offspring_terms(RunState& rs);
// The selfing count of the configuration and the stop for selfing without inbreeding.
void selfing_check(RunState& rs, bool fresh);
// True when known parents fix every offspring's parents: nothing to search.
bool configuration_fixed();
// The restore from the checkpoints; true when the run goes on from the restored state,
// cutshort when the restored run had already ended.
bool restore(RunState& rs, int4& firstq, bool& cutshort);
// What follows from the configuration in hand, after a restore as after a fresh start: the
// unassigned candidates, cluster tables, parent-offspring lists and the schedule.
void finish_setup(RunState& rs, int4 iround, bool fresh);
// The run's constants, work arrays, buffers, genotype frequencies, single-offspring terms and
// start file, before any configuration.
void prepare_call(RunState& rs, int4 iround);
// A fresh start: the initial configuration (an empty archive for a later round).
void fresh_start(RunState& rs, int4 firstq);
// The configuration in hand scored (for a fresh start also its best copy).
void score_start(RunState& rs, bool fresh);
void firstconfig(FStatic<int4, 1, 4>& curnumassign);
real8 newewenprior(const FStatic<int2, 1, 2>& numsizeclass);
void resetknownsib(int4& splitside);
void startparavalues(RunState& rs);
// Reads the start temperature (first) and the log priors of the pairwise-step file; false when
// it does not open.
bool read_start_file(real8* temperature);

// The temperature loop with every stop rule; false when the guard ended the call.
bool temperature_loop(RunState& rs, int4 iround);
// The stopping rules after one iteration.
RuleEnd stopping_rules(RunState& rs, StopRule& rule);
// The random relabelling of the family ids of one sex.
void relabel_families();
// The two moves on the parent side tried every 100th iteration, before the move.
void parent_side_moves(RunState& rs);
// The exchange of a cluster's paternal and maternal sibships; true when it was applied.
bool reversal(RunState& rs);
// The haploid offspring of one family given to another father of the same mother; true when
// it was applied.
bool swapdadid(RunState& rs);

// The monitor.
void findnumfsibship(int4& numfs, FStatic<int4, 1, 2>& pairs, const FStatic<int4, 1, 3>& numfam,
                     int4 mode);
std::string outputformat(real8 crlogl);
void monitor_step(RunState& rs);
void writemidresult(const RunState& rs);
void write_progress_log_header();
// Reads the last iteration count of the progress log (0 when it has none).
int8 last_logged_iteration();
std::string progress_log_name();
// One advance of the progress-log cadence; true when a record is due at this iteration.
bool log_cadence_step(RunState& rs);
// The monitor lines as written before compaction; compact_line takes out their surplus
// blanks (the line built in a 300-character text).
std::string compact_line(const std::string& line);
std::string monitor_line1(const RunState& rs);
std::string monitor_line2(const RunState& rs);
std::string score_line(const RunState& rs, bool best);
std::string date_line();
// The two partition lines for a graphical front end, joined by a record end.
std::string gui_lines();
// gfortran's list-directed form of a real(8), left-adjusted.
std::string list_directed_real(real8 x);

}  // namespace kinrad
