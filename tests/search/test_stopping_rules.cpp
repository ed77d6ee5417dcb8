// The temperature frame and its stopping rules against a plain re-implementation written in
// this file from the description of the temperature loop: the head of a temperature, the rules
// in their order with their fall-throughs, the end of a temperature, and the counters the rules
// read. Both are driven by the same scripted outcome of every iteration (accepted or not, a new
// best with its gain and whether the configuration is new, a return to the best), and must give
// the same sequence of (rule, end, tmr, itr, temperature, rate).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/search_seams.hpp"
#include "search/search_internal.hpp"

namespace kinrad::test {
namespace {

// What happens in one iteration.
struct Ev {
  bool accept = false;
  real8 delta = 1.0;     // score change of an accepted move
  int newbest = 0;       // 0 none, 1 a new configuration, 2 the previous best again
  real8 gain = 0.0;      // gain over the previous best
  bool returns = false;  // the accepted move returns to the best configuration
};

struct Params {
  int4 n = 10;
  int4 method = 1;  // fulllikelihoodmethodq
  int4 allmono = 0;
  int4 numfam3 = 5;
  int4 lengthrun = 0;
  real8 knownsibfrac = 0.0;
  Schedule sched{};
  real8 t0 = 10.0;
  bool restored = false;
  int4 tmrstart = 1;
  int8 itrstart = 0;
  // Counters restored with the temperature.
  int8 nsucc0 = 0, nfail10 = 0, nfail20 = 0, numiterate0 = 0;
  real8 rate0 = 1.0;
};

struct Rec {
  int4 rule;
  int end;  // 1 temperature, 2 run
  int4 tmr;
  int8 itr;
  real8 temperature;
  real8 rate;
  bool operator==(const Rec&) const = default;
};

std::string show(const Rec& r) {
  return "rule " + std::to_string(r.rule) + " end " + std::to_string(r.end) + " tmr " +
         std::to_string(r.tmr) + " itr " + std::to_string(r.itr) + " T " +
         std::to_string(r.temperature) + " rate " + std::to_string(r.rate);
}

// The plain re-implementation.
std::vector<Rec> oracle(const Params& P, const std::vector<Ev>& evs) {
  std::vector<Rec> out;
  const real8 ratio = 0.92;
  const int8 p = P.method == 0 ? 10 : 1;
  real8 T = P.t0, rate = P.rate0;
  int8 numiterate = P.numiterate0, nsucc = P.nsucc0, nfail1 = P.nfail10, nfail2 = P.nfail20;
  int8 itr = 0, newbestcount = 0;
  int4 acceptrun = 0, bestrun = 0, flat = 0, bestrepeat = 0;
  real8 newbestdiff = 0, maxbestgain = 0, maxsamegain = 0.01, sr = 0;
  const real8 lnn = std::log(static_cast<real8>(P.n));
  auto rec = [&](int4 rule, int end, int4 tmr) { out.push_back({rule, end, tmr, itr, T, rate}); };
  for (int4 tmr = P.tmrstart; tmr <= P.sched.ntemprature;) {
    if (P.restored && tmr == P.tmrstart) {
      itr = P.itrstart - 1;
    } else {
      newbestdiff = maxbestgain = 0;
      rate *= ratio;
      nsucc = nfail1 = itr = 0;
    }
    itr += 1;
    int end = 1;
    if (itr > P.sched.iterlmt) {
      rec(0, 1, tmr);
    } else {
      for (;;) {
        numiterate += 1;
        const Ev& e = evs[static_cast<std::size_t>(numiterate) % evs.size()];
        bool runend = false;
        nfail1 += 1;
        nfail2 += 1;
        if (e.accept) {
          nsucc += 1;
          if (acceptrun == 2147483646 || bestrun == 2147483646)
            acceptrun = bestrun = 0;
          else
            acceptrun += 1;
          if (P.method != 0) flat = std::fabs(e.delta) < 0.001 ? flat + 1 : 0;
          if (e.newbest == 1) {
            nfail1 = 0;
            if (e.gain > maxsamegain) nfail2 = 0;
            newbestcount += 1;
            if (acceptrun == 2147483646 || bestrun == 2147483646)
              acceptrun = bestrun = 0;
            else
              bestrun += 1;
            if (P.method != 0) {
              newbestdiff += 1;
              maxbestgain = std::max(maxbestgain, e.gain);
            }
            bestrepeat = 0;
            if (newbestcount == 1) rate = 1.0;
          } else if (e.newbest == 2) {
            maxsamegain = std::max(maxsamegain, e.gain);
          }
          if (flat > 1000) runend = true;
          if (!runend && e.returns) {
            bestrepeat += 1;
            if ((nfail2 >= P.sched.nfaillmt2 ||
                 (nsucc > 1000 && bestrepeat > int8(0.25 * nsucc))) &&
                bestrepeat > (5.0 * P.lengthrun + 5.0) * std::sqrt(real8(P.n)))
              runend = true;
          }
        }
        if (runend) {
          rec(99, 2, tmr);
          return out;
        }
        sr = real8(nsucc) / real8(itr);
        // Rule 1.
        if (tmr == 1 && itr > 1000) {
          real8 L = P.method == 0 ? 0.3 : 0.15;
          if (P.knownsibfrac > 1e-300) L = L * std::exp(-(0.15 / L) * P.knownsibfrac);
          if (sr < L) {
            real8 k = sr > 0 ? std::log(sr / L) / std::log(ratio) : 10.0;
            k = std::min(10.0, k);
            if (P.method == 0) k *= 1.5;
            T = T / std::pow(ratio, k);
            rec(11, 1, tmr);
            break;
          }
        }
        // Rule 2, with its jump to rule 4.
        bool to4 = false;
        if (acceptrun >= 100000 * p && itr > 10000 * p) {
          if (sr >= 0.15 && bestrun <= 4) {
            acceptrun = bestrun = 0;
            rec(2, 1, tmr);
            break;
          }
          to4 = true;
        }
        // Rules 3 and 4.
        int r4 = 0;
        if (to4 || itr > 1000) {
          if (sr >= 0.6) {
            const int k = int(10 * sr - 6);
            for (int j = 0; j < k; ++j) T *= ratio;
            r4 = 41;
          } else if (sr >= 0.35 && P.numfam3 == 1) {
            r4 = 42;
          } else if (sr > (1.1 - P.knownsibfrac) * (P.allmono ? 0.2 : 0.4)) {
            r4 = 43;
          } else {
            if (tmr > 5 && itr > 10000 && sr <= 0.001) {
              if (newbestdiff > 2.0 && maxsamegain >= maxbestgain) {
                rec(44, 2, tmr);
                return out;
              }
              if (itr > 9000000.0 * lnn && sr <= 0.0001) {
                rec(44, 2, tmr);
                return out;
              }
            }
            if (itr > P.n * lnn + 10000 && sr <= 1e-8) {
              if (nfail2 > P.sched.nfaillmt || (tmr > 99 && 4 * nfail2 > P.sched.nfaillmt)) {
                rec(45, 2, tmr);
                return out;
              }
              r4 = 45;
            }
          }
        }
        if (r4 != 0) {
          rec(r4, 1, tmr);
          break;
        }
        // Rule 5.
        if (sr < 0.10000000149011612 && newbestdiff > 9.0 && maxbestgain <= 2.0) {
          newbestdiff = maxbestgain = 0;
          rec(5, 1, tmr);
          break;
        }
        // Rule 6.
        int r6 = 0;
        if (tmr > 1 && (newbestcount == 0 || 100000 * p * newbestcount < nsucc)) {
          if (sr >= 0.6) {
            const real8 x = std::exp(1 - sr);
            if (std::lround(1000.0 * p * x * x * x * x * x * x) <= itr) r6 = 61;
          } else if (sr >= 0.3) {
            if (nsucc >= p * std::max<int8>(P.sched.nsucclmt / 100, 10000) &&
                nfail1 > p * itr - 1e-6 * nsucc * std::exp(8 * sr))
              r6 = 62;
          } else if (sr >= 0.1) {
            if (itr > 100000.0 * p * std::exp(-sr)) r6 = 63;
          }
        }
        if (r6 != 0) {
          rec(r6, 1, tmr);
          break;
        }
        // Rule 7.
        if (nsucc >= P.sched.nsucclmt) {
          rec(71, 1, tmr);
          break;
        }
        if (nfail1 * (nfail1 == nfail2 ? 2.0 : 1.0) >= P.sched.nfaillmt) {
          rec(72, 1, tmr);
          break;
        }
        if (nfail2 >= P.sched.nfaillmt2) {
          if (itr > 9999 && 0.01 * std::exp(-6 * P.sched.nfaillmt2 / nfail2) > sr) {
            rec(73, 2, tmr);
            return out;
          }
          if (nfail2 >= 5 * P.sched.nfaillmt2) {
            rec(73, 2, tmr);
            return out;
          }
        }
        itr += 1;
        if (itr > P.sched.iterlmt) {
          rec(74, 1, tmr);
          break;
        }
      }
    }
    (void)end;
    // End of the temperature.
    if ((nsucc == 0 || sr < 1e-6) && numiterate > 5 * P.sched.iterlmt) {
      rec(84, 2, tmr);
      return out;
    }
    tmr += 1;
    T *= ratio;
    if (tmr > P.sched.ntemprature) rec(85, 2, tmr);
  }
  return out;
}

// The frame driven by the same script.
std::vector<Rec> frame(const Params& P, const std::vector<Ev>& evs) {
  reset_all_modules();
  auto& v = variables;
  v.smplsize = P.n;
  v.fulllikelihoodmethodq = P.method;
  v.allmonogamy = P.allmono;
  v.anymonogamy = 1;  // no relabelling: the script has no configuration
  v.numsex = 2;
  v.lengthrun = P.lengthrun;
  v.crnumfamily(3) = P.numfam3;
  v.crloglikelihood = -100.0;
  v.logk.allocate(Dim(std::max(P.n, 2)));
  for (int4 k = 1; k <= std::max(P.n, 2); ++k) v.logk(k) = std::log(static_cast<real8>(k));
  annealvariables.rate = P.rate0;
  RunState rs;
  rs.sched = P.sched;
  rs.p = P.method == 0 ? 10 : 1;
  rs.knownsibfrac = P.knownsibfrac;
  rs.cp.temperature = P.t0;
  rs.cp.moveweight.allocate(Dim(P.n), Dim(2));
  rs.monitoron = false;
  rs.tmrstart = P.tmrstart;
  rs.restorestatus = P.restored ? 0 : 1;
  if (P.restored) {
    rs.itrstart = P.itrstart;
    rs.cp.nsucc = P.nsucc0;
    rs.cp.nfail1 = P.nfail10;
    rs.cp.nfail2 = P.nfail20;
  }
  rs.cp.numiterate = P.numiterate0;
  std::vector<Rec> out;
  search_seams = SearchSeams{};
  search_seams.rescore = [](RunState&) {};
  search_seams.on_rule = [&](const RuleEvent& e) {
    out.push_back({static_cast<int4>(e.rule), e.end == RuleEnd::end_run ? 2 : 1, e.tmr, e.itr,
                   e.temperature, e.rate});
  };
  search_seams.body = [&](RunState& r) {
    const Ev& e = evs[static_cast<std::size_t>(r.cp.numiterate) % evs.size()];
    count_scored(r);
    if (!e.accept) return MoveOutcome::completed;
    count_accepted(r, e.delta);
    if (e.newbest != 0) count_new_best(r, e.gain, e.newbest == 1);
    if (flat_run_ends(r)) return MoveOutcome::end_run;
    if (e.returns && count_return_to_best(r)) return MoveOutcome::end_run;
    return MoveOutcome::completed;
  };
  temperature_loop(rs, 5);
  search_seams = SearchSeams{};
  return out;
}

void compare(const Params& P, const std::vector<Ev>& evs, int4 expect_first_rule = -1) {
  const auto a = oracle(P, evs);
  const auto b = frame(P, evs);
  ASSERT_FALSE(a.empty());
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t k = 0; k < a.size(); ++k) {
    SCOPED_TRACE("event " + std::to_string(k) + ": oracle " + show(a[k]) + " frame " + show(b[k]));
    EXPECT_EQ(a[k].rule, b[k].rule);
    EXPECT_EQ(a[k].end, b[k].end);
    EXPECT_EQ(a[k].tmr, b[k].tmr);
    EXPECT_EQ(a[k].itr, b[k].itr);
    // The oracle cools by repeated multiplication, the frame by integer powers: they agree to
    // rounding.
    EXPECT_NEAR(a[k].temperature, b[k].temperature, 1e-12 * std::fabs(a[k].temperature));
    EXPECT_EQ(a[k].rate, b[k].rate);
  }
  if (expect_first_rule >= 0) {
    bool seen = false;
    for (const auto& r : a) seen = seen || r.rule == expect_first_rule;
    EXPECT_TRUE(seen) << "rule " << expect_first_rule << " never fired";
  }
}

Schedule small_schedule(int4 n, int4 method, int4 lengthrun = 0) {
  return make_schedule(n, std::log(real8(n)), lengthrun, 5, method, 0, 0, 3 * n, 3 * n);
}

std::vector<Ev> constant_rate(real8 acc, int len = 1000) {
  std::vector<Ev> e(static_cast<std::size_t>(len));
  for (int k = 0; k < len; ++k)
    e[static_cast<std::size_t>(k)].accept = (k * acc) - std::floor(k * acc) + acc >= 1.0;
  return e;
}

std::vector<Ev> random_script(std::mt19937& rng, int len, real8 acc, real8 best, real8 ret) {
  std::uniform_real_distribution<real8> u(0, 1);
  std::vector<Ev> e(static_cast<std::size_t>(len));
  for (auto& x : e) {
    x.accept = u(rng) < acc;
    if (!x.accept) continue;
    x.delta = u(rng) < 0.3 ? 0.0001 : 0.5;
    const real8 r = u(rng);
    if (r < best) {
      x.newbest = u(rng) < 0.8 ? 1 : 2;
      x.gain = u(rng) < 0.5 ? 0.005 : 3.0 * u(rng);
    } else if (r < best + ret) {
      x.returns = true;
    }
  }
  return e;
}

TEST(StoppingRules, RandomScriptsAgreeWithPlainReimplementation) {
  std::mt19937 rng(2024);
  for (int4 method : {0, 1}) {
    for (int trial = 0; trial < 12; ++trial) {
      SCOPED_TRACE("method " + std::to_string(method) + " trial " + std::to_string(trial));
      Params P;
      P.n = 10 + 7 * trial;
      P.method = method;
      P.allmono = trial % 3 == 0;
      P.numfam3 = trial % 4 == 1 ? 1 : 5;
      P.knownsibfrac = trial % 5 == 2 ? 0.3 : 0.0;
      P.sched = small_schedule(P.n, method);
      const real8 acc = 0.02 + 0.08 * trial;
      compare(P, random_script(rng, 997 + trial, acc, 0.05, 0.05));
    }
  }
}

// One script per rule, with the edge cases of the rules.
TEST(StoppingRules, EachRuleFires) {
  struct Case {
    const char* name;
    int4 method;
    real8 acc;
    int4 rule;
  };
  const Case cases[] = {
      {"warm-up capped at 0.92^-10", 1, 0.0, 11},
      {"warm-up capped at 0.92^-15 (pairwise)", 0, 0.0, 11},
      {"success 0.75 cools by one extra step", 1, 0.75, 41},
      {"success 0.99 cools by three extra steps", 1, 0.99, 41},
      {"success 0.45 ends at once", 1, 0.45, 43},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Params P;
    P.n = 30;
    P.method = c.method;
    P.sched = small_schedule(P.n, c.method, 2);
    compare(P, constant_rate(c.acc), c.rule);
  }
  // The warm-up: the first temperature ends at itr 1001 with T / 0.92^10 (0.92^15 pairwise).
  for (int4 method : {1, 0}) {
    Params P;
    P.n = 30;
    P.method = method;
    P.sched = small_schedule(P.n, method, 2);
    const auto r = frame(P, constant_rate(0.0));
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r[0].rule, 11);
    EXPECT_EQ(r[0].itr, 1001);
    EXPECT_DOUBLE_EQ(r[0].temperature, 10.0 / std::pow(0.92, method == 1 ? 10.0 : 15.0));
  }
  // Success 0.75 at itr 1001 of the first temperature: one extra 0.92; 0.99: three.
  for (real8 acc : {0.75, 0.99}) {
    Params P;
    P.n = 30;
    P.sched = small_schedule(P.n, 1, 2);
    std::vector<Ev> e = constant_rate(acc);
    const auto r = frame(P, e);
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r[0].rule, 41);
    const int k = acc < 0.9 ? 1 : 3;
    EXPECT_DOUBLE_EQ(r[0].temperature, 10.0 * std::pow(0.92, k));
  }
}

TEST(StoppingRules, PlateauFlatRunAndReturnsToBest) {
  // Plateau: many acceptances, few new bests, success >= 0.15.
  {
    Params P;
    P.n = 30;
    P.sched = small_schedule(P.n, 1, 4);
    P.sched.nsucclmt = 1LL << 40;
    P.sched.iterlmt = 1e12;
    P.sched.nfaillmt = 1e12;
    P.sched.nfaillmt2 = 1e12;
    std::vector<Ev> e = constant_rate(0.2);
    compare(P, e, 2);
  }
  // Flat run: accepted moves changing the score by less than 0.001 end the run.
  {
    Params P;
    P.n = 30;
    P.sched = small_schedule(P.n, 1, 4);
    std::vector<Ev> e = constant_rate(0.2);
    for (auto& x : e) x.delta = 0.0005;
    const auto a = oracle(P, e);
    compare(P, e, 99);
    EXPECT_EQ(a.back().end, 2);
  }
  // Returns to the best: the count passes (5 lengthrun + 5) sqrt(n) with nsucc > 1000.
  {
    Params P;
    P.n = 16;
    P.sched = small_schedule(P.n, 1, 4);
    std::vector<Ev> e = constant_rate(0.2);
    for (auto& x : e) x.returns = x.accept;
    compare(P, e, 99);
  }
}

TEST(StoppingRules, LateRulesAndNfail1Doubling) {
  // No acceptance at all: the warm-up, then temperatures ended by rule 7.2 (nfail1 counted
  // twice while it equals nfail2), until rule 4.5 ends the run.
  Params P;
  P.n = 12;
  P.sched = small_schedule(P.n, 1, 1);
  compare(P, constant_rate(0.0), 72);
  // Rule 4.4: more than five temperatures and more than 10000 iterations in one.
  Params Q;
  Q.n = 12;
  Q.sched = small_schedule(Q.n, 1, 3);
  Q.sched.nfaillmt = 1e9;
  Q.sched.nfaillmt2 = 1e9;
  Q.sched.iterlmt = 20000;
  std::vector<Ev> e = constant_rate(0.0, 20000);
  for (std::size_t k = 1; k < e.size(); k += 2500) {
    e[k].accept = true;
    e[k].newbest = 1;
    e[k].gain = 3.0;
  }
  for (std::size_t k = 7; k < e.size(); k += 5000) {
    e[k].accept = true;
    e[k].newbest = 2;
    e[k].gain = 5.0;
  }
  compare(Q, e, 44);
  // Rule 5: many small new bests (full likelihood) at a low success rate.
  Params R;
  R.n = 12;
  R.sched = small_schedule(R.n, 1, 3);
  std::vector<Ev> f = constant_rate(0.05);
  for (auto& x : f)
    if (x.accept) {
      x.newbest = 1;
      x.gain = 0.5;
    }
  compare(R, f, 5);
}

TEST(StoppingRules, RestoredTemperatureContinuesWithoutCooling) {
  Params P;
  P.n = 20;
  P.sched = small_schedule(P.n, 1, 1);
  P.restored = true;
  P.tmrstart = 4;
  P.itrstart = 500;
  P.nsucc0 = 100;
  P.nfail10 = 300;
  P.nfail20 = 900;
  P.numiterate0 = 12345;
  P.rate0 = 0.5;
  P.t0 = 3.0;
  const auto a = oracle(P, constant_rate(0.3));
  const auto b = frame(P, constant_rate(0.3));
  compare(P, constant_rate(0.3));
  ASSERT_FALSE(b.empty());
  EXPECT_EQ(b[0].tmr, 4);
  EXPECT_GE(b[0].itr, 500);
  // The restored temperature kept its rate: no cooling at its head.
  EXPECT_EQ(b[0].rate, 0.5);
}

}  // namespace
}  // namespace kinrad::test
