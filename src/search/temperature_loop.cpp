// The temperatures of one annealing call: the head of each temperature, the frame of one
// iteration around the move, the rules that end a temperature or the run, and the end of a
// temperature. The move itself is the iteration body (a seam the move code fills); the frame
// counts proposal attempts for the guard, tests the score, relabels, monitors and applies the
// rules in their fixed order.
#include <algorithm>
#include <cmath>
#include <string>

#include "configuration/configuration.hpp"
#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/search_seams.hpp"
#include "core/random_numbers.hpp"
#include "core/real_integer_power.hpp"
#include "core/stop_signal.hpp"
#include "core/variables_routines.hpp"
#include "search/search_internal.hpp"
#include "search/update_internal.hpp"

namespace kinrad {

// --- Counter events -----------------------------------------------------------------------

namespace {

// The accepted-move and new-best counters restart together when either would overflow.
void bump_joint(int4& counter, RunState& rs) {
  if (rs.cp.acceptrun == 2147483646 || rs.cp.bestrun == 2147483646) {
    rs.cp.acceptrun = 0;
    rs.cp.bestrun = 0;
    return;
  }
  ++counter;
}

}  // namespace

// The iteration body of the program: choice, proposal, verdict; a stage that refuses sends
// the iteration back to a new choice.
MoveOutcome move_body(RunState& rs) {
  if (!choose_move(rs)) return MoveOutcome::refused;
  if (!build_proposal(rs)) return MoveOutcome::refused;
  return decide_move(rs);
}

void count_scored(RunState& rs) {
  ++rs.cp.nfail1;
  ++rs.cp.nfail2;
}

void count_accepted(RunState& rs, real8 delta) {
  ++rs.cp.nsucc;
  bump_joint(rs.cp.acceptrun, rs);
  if (variables.fulllikelihoodmethodq != 0) {
    if (std::fabs(delta) < 0.001)
      ++rs.flatcount();
    else
      rs.flatcount() = 0;
  }
}

void count_new_best(RunState& rs, real8 gain, bool newconfig) {
  auto& cp = rs.cp;
  if (!newconfig) {
    rs.maxsamegain = std::max(rs.maxsamegain, gain);
    return;
  }
  cp.nfail1 = 0;
  if (gain > rs.maxsamegain) cp.nfail2 = 0;
  ++cp.newbestcount;
  bump_joint(cp.bestrun, rs);
  if (variables.fulllikelihoodmethodq != 0) {
    cp.newbestdiff += 1.0;
    cp.maxbestgain = std::max(cp.maxbestgain, gain);
  }
  rs.bestrepeat() = 0;
  if (cp.newbestcount == 1) annealvariables.rate = 1.0;
}

bool count_return_to_best(RunState& rs) {
  auto& cp = rs.cp;
  ++rs.bestrepeat();
  const int4 b = rs.bestrepeat();
  const bool stale =
      static_cast<real8>(cp.nfail2) >= rs.sched.nfaillmt2 ||
      (cp.nsucc > 1000 && b > static_cast<int8>(0.25 * static_cast<real8>(cp.nsucc)));
  return stale && static_cast<real8>(b) > (5.0 * variables.lengthrun + 5.0) *
                                              std::sqrt(static_cast<real8>(variables.smplsize));
}

bool flat_run_ends(const RunState& rs) {
  return rs.cp.monitorcounters[1] > 1000;
}

// --- Stopping rules --------------------------------------------------------------------------

RuleEnd stopping_rules(RunState& rs, StopRule& rule) {
  auto& v = variables;
  auto& cp = rs.cp;
  const real8 sr = rs.successrate;
  const int8 itr = cp.itr;
  const int8 p = rs.p;
  const real8 ratio = rs.sched.ratiotemprature;
  const real8 ritr = static_cast<real8>(itr);
  const real8 lnn = v.logk(v.smplsize);

  // A first temperature that accepts too little was too cold: warm up and start again.
  if (cp.tmr == 1 && itr > 1000) {
    real8 lim = v.fulllikelihoodmethodq == 0 ? 0.3 : 0.15;
    if (rs.knownsibfrac > 1e-300) lim *= std::exp(-(0.15 / lim) * rs.knownsibfrac);
    if (sr < lim) {
      real8 n = std::min(10.0, std::log(sr / lim) / std::log(ratio));
      if (v.fulllikelihoodmethodq == 0) n *= 1.5;
      cp.temperature /= std::pow(ratio, n);
      rule = StopRule::too_cold_start;
      return RuleEnd::end_temperature;
    }
  }
  // A plateau: many acceptances and hardly any new best.
  bool rule4 = itr > 1000;
  if (cp.acceptrun >= 100000 * p && itr > 10000 * p) {
    if (sr >= 0.15 && cp.bestrun <= 4) {
      cp.acceptrun = 0;
      cp.bestrun = 0;
      rule = StopRule::plateau;
      return RuleEnd::end_temperature;
    }
    rule4 = true;
  }
  if (rule4) {
    if (sr >= 0.6) {
      const int4 k = static_cast<int4>(10.0 * sr - 6.0);
      cp.temperature *= real_integer_power(ratio, k);
      rule = StopRule::high_rate;
      return RuleEnd::end_temperature;
    }
    if (sr >= 0.35 && v.crnumfamily(3) == 1) {
      rule = StopRule::one_cluster_rate;
      return RuleEnd::end_temperature;
    }
    if (sr > (1.1 - rs.knownsibfrac) * (v.allmonogamy != 0 ? 0.2 : 0.4)) {
      rule = StopRule::rate_above_floor;
      return RuleEnd::end_temperature;
    }
    if (cp.tmr > 5 && itr > 10000 && sr <= 0.001) {
      if (cp.newbestdiff > 2.0 && rs.maxsamegain >= cp.maxbestgain) {
        rule = StopRule::stalled;
        return RuleEnd::end_run;
      }
      if (ritr > 9000000.0 * lnn && sr <= 0.0001) {
        rule = StopRule::stalled;
        return RuleEnd::end_run;
      }
    }
    if (ritr > v.smplsize * lnn + 10000.0 && sr <= 1e-8) {
      const real8 f2 = static_cast<real8>(cp.nfail2);
      rule = StopRule::failures_at_floor;
      if (f2 > rs.sched.nfaillmt || (cp.tmr > 99 && 4.0 * f2 > rs.sched.nfaillmt))
        return RuleEnd::end_run;
      return RuleEnd::end_temperature;
    }
  }
  // Many small new bests at a low success rate: the temperature has done its work.
  if (sr < static_cast<real8>(0.1f) && cp.newbestdiff > 9.0 && cp.maxbestgain <= 2.0) {
    cp.newbestdiff = 0.0;
    cp.maxbestgain = 0.0;
    rule = StopRule::small_bests;
    return RuleEnd::end_temperature;
  }
  // Later temperatures without new bests end once the success rate is measured well enough.
  if (cp.tmr > 1 && (cp.newbestcount == 0 || 100000 * p * cp.newbestcount < cp.nsucc)) {
    if (sr >= 0.6) {
      const real8 e = real_integer_power(std::exp(1.0 - sr), 6);
      if (std::lround(1000.0 * static_cast<real8>(p) * e) <= itr) {
        rule = StopRule::no_best_high_rate;
        return RuleEnd::end_temperature;
      }
    } else if (sr >= 0.3) {
      const int8 need = p * std::max<int8>(rs.sched.nsucclmt / 100, 10000);
      if (cp.nsucc >= need && static_cast<real8>(cp.nfail1) >
                                  static_cast<real8>(p) * ritr -
                                      1e-6 * static_cast<real8>(cp.nsucc) * std::exp(8.0 * sr)) {
        rule = StopRule::no_best_mid_rate;
        return RuleEnd::end_temperature;
      }
    } else if (sr >= 0.1) {
      if (ritr > 100000.0 * static_cast<real8>(p) * std::exp(-sr)) {
        rule = StopRule::no_best_low_rate;
        return RuleEnd::end_temperature;
      }
    }
  }
  // The common tail: the limits of the schedule.
  if (cp.nsucc >= rs.sched.nsucclmt) {
    rule = StopRule::success_limit;
    return RuleEnd::end_temperature;
  }
  const real8 m = cp.nfail1 == cp.nfail2 ? 2.0 : 1.0;
  if (static_cast<real8>(cp.nfail1) * m >= rs.sched.nfaillmt) {
    rule = StopRule::failure_limit;
    return RuleEnd::end_temperature;
  }
  const real8 f2 = static_cast<real8>(cp.nfail2);
  if (f2 >= rs.sched.nfaillmt2) {
    rule = StopRule::failure_limit2;
    if (itr > 9999 && 0.01 * std::exp(-6.0 * rs.sched.nfaillmt2 / f2) > sr) return RuleEnd::end_run;
    if (f2 >= 5.0 * rs.sched.nfaillmt2) return RuleEnd::end_run;
  }
  ++cp.itr;
  rs.invalidcount = -1;
  if (static_cast<real8>(cp.itr) > rs.sched.iterlmt) {
    rule = StopRule::iteration_limit;
    return RuleEnd::end_temperature;
  }
  rule = StopRule::none;
  return RuleEnd::none;
}

namespace {

void report_rule(const RunState& rs, StopRule rule, RuleEnd end) {
  if (!search_seams.on_rule) return;
  search_seams.on_rule(
      RuleEvent{rule, end, rs.cp.tmr, rs.cp.itr, rs.cp.temperature, annealvariables.rate});
}

// Head of a fresh temperature: weights, counters, the move-choice factor and the pre-screen
// scale.
void fresh_temperature_head(RunState& rs) {
  auto& v = variables;
  auto& cp = rs.cp;
  cp.moveweight.fill(1000);
  cp.newbestdiff = 0.0;
  cp.maxbestgain = 0.0;
  annealvariables.rate *= rs.sched.ratiotemprature;
  cp.nsucc = 0;
  cp.nfail1 = 0;
  cp.itr = 0;
  if (rs.wholesibshipsex != 0) {
    cp.withinfactor = 1.00001;
  } else {
    const real8 c = v.numsex == v.allowinbreeding ? 0.6 : 0.8;
    cp.withinfactor = c * std::exp(-6.0 * v.crnumfamily(3) / static_cast<real8>(v.smplsize));
  }
  cp.updatecount = 0;
  cp.prescreencounts = {0.0, 0.0, 0.0, 0.0};
  if (cp.prescreencount >= 1000.0) {
    const real8 r = cp.prescreenpass / cp.prescreencount;
    if (v.allmonogamy != 0) {
      if (r > 0.5 && cp.lociscale > 0.1) {
        cp.lociscale *= 1.5 - r;
        cp.prescreenpass = cp.prescreencount = 0.0;
      }
    } else if (r > 0.5 && cp.lociscale > 1.12) {
      cp.lociscale *= 0.9;
      cp.prescreenpass = cp.prescreencount = 0.0;
    }
  } else if (v.quicksearchq == 0 && cp.lociscale > 1.2) {
    cp.lociscale *= 0.9;
  }
}

// The constants the acceptance tests of this temperature use.
void temperature_constants(RunState& rs) {
  const real8 ratio = rs.sched.ratiotemprature;
  const int4 tmr = rs.cp.tmr;
  rs.coolfactor = real_integer_power(ratio, tmr - 1);
  rs.drawfloor = std::min(0.001, 1e-5 * real_integer_power(ratio, -tmr));
  rs.pairtemperature = rs.cp.lociscale * rs.cp.temperature *
                       real_integer_power(std::exp(0.125 / (rs.hetsum + 1.0)), tmr);
}

// The score of the configuration left by the move must be a finite log likelihood.
void score_test(const RunState& rs) {
  auto& v = variables;
  const real8 s = v.crloglikelihood;
  if (!(std::isnan(s) || s <= -1e300 || s > 1.0)) return;
  for (int4 k = 1; k <= 5; ++k) v.errmsg(k) = "";
  v.errmsg(1) = "Error in likelihood calculation at iterate = " + std::to_string(rs.cp.numiterate) +
                ".\nThe CrLogLikelihood calculated by thread " + itoc(v.threadid) + " = " +
                list_directed_real(s);
  stoponerror(1, "ANNEAL");
}

enum class Attempt { done, end_run, guard };

// The move with its retries; the guard ends the call after a million refused attempts before
// the first completed iteration.
Attempt make_move(RunState& rs) {
  const IterationBody& body = search_seams.body;
  for (;;) {
    if (rs.invalidcount != -1) ++rs.invalidcount;
    const MoveOutcome o = body ? body(rs) : move_body(rs);
    if (o == MoveOutcome::completed) return Attempt::done;
    if (o == MoveOutcome::end_run) return Attempt::end_run;
    if (rs.invalidcount >= 1000000) return Attempt::guard;
  }
}

// After the move: the score test, the self-check on request and the random relabelling.
void after_move(RunState& rs) {
  auto& v = variables;
  auto& cp = rs.cp;
  score_test(rs);
  if (v.checkmode > 0) {
    FStatic<int4, 1, 2> nsib{}, nfam{};
    nsib(1) = cp.numsizeclass(1);
    nsib(2) = cp.numsizeclass(2);
    nfam(1) = v.crnumfamily(1);
    nfam(2) = v.crnumfamily(2);
    checkresult(cp.numiterate, cp.curnumassign, nsib, nfam, cp.oldlogprior, cp.oldcndlogl,
                rs.verdict.acceptq);
  }
  if (v.anymonogamy == 0 && cp.numiterate % 10000 == 0) relabel_families();
}

// One iteration; returns how the temperature or run goes on, or that the guard fired.
enum class IterationEnd { next, end_temperature, end_run, guard };

IterationEnd iteration(RunState& rs) {
  auto& v = variables;
  auto& cp = rs.cp;
  if (rs.splitside > 0) resetknownsib(rs.splitside);
  // SIGINT or SIGTERM: the stop, with the checkpoints written so far left for a restart.
  stop_if_signalled();
  if (v.threadid == 0) {
    const bool due = (cp.numiterate > 0 && cp.numiterate % 1000000000 == 0) ||
                     rs.monitorcpu > rs.lastsavecpu + 300.0 ||
                     search_seams.checkpoint_at == cp.numiterate;
    if (due) {
      if (rs.monitorcpu > rs.lastsavecpu) rs.lastsavecpu = rs.monitorcpu;
      savemidresult(cp);
    }
  }
  parent_side_moves(rs);
  ++cp.numiterate;
  const Attempt a = make_move(rs);
  if (a == Attempt::guard) return IterationEnd::guard;
  if (a == Attempt::end_run) {
    report_rule(rs, StopRule::move_ends_run, RuleEnd::end_run);
    return IterationEnd::end_run;
  }
  after_move(rs);
  rs.successrate = static_cast<real8>(cp.nsucc) / static_cast<real8>(cp.itr);
  if (v.iarchive == 1 && rs.archiveon() == 0 && rs.successrate < 0.2 && cp.itr > 10000)
    rs.archiveon() = 1;
  if (rs.monitoron && v.threadid == 0) monitor_step(rs);
  StopRule rule = StopRule::none;
  const RuleEnd end = stopping_rules(rs, rule);
  if (end == RuleEnd::none) return IterationEnd::next;
  report_rule(rs, rule, end);
  return end == RuleEnd::end_run ? IterationEnd::end_run : IterationEnd::end_temperature;
}

}  // namespace

bool temperature_loop(RunState& rs, int4 iround) {
  auto& cp = rs.cp;
  rs.iround = iround;
  for (cp.tmr = rs.tmrstart; cp.tmr <= rs.sched.ntemprature;) {
    if (rs.restorestatus == 0 && cp.tmr == rs.tmrstart) {
      // A restored temperature goes on where it stopped, with its counters and its rate.
      cp.itr = rs.itrstart - 1;
    } else {
      fresh_temperature_head(rs);
    }
    temperature_constants(rs);
    ++cp.itr;
    IterationEnd end = IterationEnd::end_temperature;
    if (static_cast<real8>(cp.itr) > rs.sched.iterlmt) {
      report_rule(rs, StopRule::none, RuleEnd::end_temperature);
    } else {
      do {
        end = iteration(rs);
      } while (end == IterationEnd::next);
    }
    if (end == IterationEnd::guard) return false;
    if (end == IterationEnd::end_run) return true;

    // End of the temperature.
    rs.invalidcount = -1;
    if (search_seams.rescore) {
      search_seams.rescore(rs);
    } else {
      WindowSave keep;
      reduceerracct(cp.oldcndlogl, cp.oldlogprior);
    }
    update_at_temperature_end(rs);
    if ((cp.nsucc == 0 || rs.successrate < 1e-6) &&
        static_cast<real8>(cp.numiterate) > 5.0 * rs.sched.iterlmt) {
      report_rule(rs, StopRule::no_success_at_end, RuleEnd::end_run);
      return true;
    }
    ++cp.tmr;
    cp.temperature *= rs.sched.ratiotemprature;
    if (cp.tmr > rs.sched.ntemprature)
      report_rule(rs, StopRule::last_temperature, RuleEnd::end_run);
  }
  return true;
}

}  // namespace kinrad
