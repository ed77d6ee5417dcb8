// Parentage thresholds by simulation: how far the best candidate parent must lead the
// runner-up (DELTA, natural-log units) for each confidence level, from 10000 simulated
// families scored like the real offspring.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "core/error_line.hpp"
#include "core/error_stop.hpp"
#include "core/modules/setgetgtype.hpp"
#include "core/modules/simuvariables.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "core/random_numbers.hpp"
#include "core/screen.hpp"
#include "core/sorting.hpp"
#include "core/variables_routines.hpp"
#include "pairwise/delta_simulation_internal.hpp"
#include "pairwise/pairwise.hpp"

namespace kinrad {

namespace {

constexpr int4 kReplicates = 10000;
// A lead (log units) beyond which more candidates cannot change a replicate's outcome.
constexpr real8 kDecisiveLead = 500.0;

// What the simulation borrows of offspring 1 and of candidate 1 of each sex, to be put back
// exactly: the packed words that hold them, ploidy, known and assigned parents, and the
// per-offspring memos.
struct BorrowedSlot {
  std::vector<int2> offword;
  std::vector<int2> cndword;
  int1 ploidy = 0;
  int4 indivparent[2] = {0, 0};
  int4 inferparent[2] = {0, 0};
  bool hasindivparent = false;
  bool hasinferparent = false;

  static index_t word_of(int4 i, int4 n) { return n <= 2 ? (i - 1) / 8 + 1 : i; }

  void save() {
    const Variables& v = variables;
    const int4 c2 = v.numcandidate(1) + 1;
    offword.assign(static_cast<std::size_t>(v.numloci), 0);
    cndword.assign(2 * static_cast<std::size_t>(v.numloci), 0);
    for (int4 l = 1; l <= v.numloci; ++l) {
      const int4 n = v.obsnumallele(l);
      const std::size_t k = static_cast<std::size_t>(l - 1);
      offword[k] = v.indivgtype2(l).a(word_of(1, n));
      if (v.numcandidate(1) > 0) cndword[2 * k] = v.cndgtype2(l).a(word_of(1, n));
      if (v.numcandidate(2) > 0) cndword[2 * k + 1] = v.cndgtype2(l).a(word_of(c2, n));
    }
    ploidy = v.offploid(1);
    hasindivparent = v.indivparent.allocated();
    hasinferparent = v.inferparent.allocated();
    for (int4 s = 1; s <= 2; ++s) {
      if (hasindivparent) indivparent[s - 1] = v.indivparent(1, s);
      if (hasinferparent) inferparent[s - 1] = v.inferparent(1, s);
    }
  }

  void restore() const {
    Variables& v = variables;
    const int4 c2 = v.numcandidate(1) + 1;
    for (int4 l = 1; l <= v.numloci; ++l) {
      const int4 n = v.obsnumallele(l);
      const std::size_t k = static_cast<std::size_t>(l - 1);
      v.indivgtype2(l).a(word_of(1, n)) = offword[k];
      if (v.numcandidate(1) > 0) v.cndgtype2(l).a(word_of(1, n)) = cndword[2 * k];
      if (v.numcandidate(2) > 0) v.cndgtype2(l).a(word_of(c2, n)) = cndword[2 * k + 1];
    }
    v.offploid(1) = ploidy;
    for (int4 s = 1; s <= 2; ++s) {
      if (hasindivparent && v.indivparent.allocated()) v.indivparent(1, s) = indivparent[s - 1];
      if (hasinferparent && v.inferparent.allocated()) v.inferparent(1, s) = inferparent[s - 1];
    }
    // Anything the engine remembered for offspring 1 belongs to the simulated individuals.
    if (v.inbindivlogl.allocated()) v.inbindivlogl(1) = 1.0;
    if (v.inbindivloglself.allocated()) v.inbindivloglself(1) = 1.0;
  }
};

// The code of an ordered allele pair as the engine reads the candidate columns: the 2-bit code
// (read back as a genotype number where the packed store does so) or the genotype number.
int2 engine_code(int4 a, int4 b, int4 n) {
  const Variables& v = variables;
  if (a <= 0) return 0;
  if (n <= 2) {
    int2 code = static_cast<int2>(a != b ? 3 : a);
    if (code == v.l23g(1)) code = v.l23g(2);
    return code;
  }
  return v.genotypeid2(a, b);
}

void free_simulation_state() {
  Simuvariables::DeltaSimulation& d = simuvariables.delta;
  Simuvariables::DeltaSimulation kept{};
  kept.dyadlogl2 = std::move(d.dyadlogl2);
  kept.dyadlogl0 = std::move(d.dyadlogl0);
  kept.deltarep = std::move(d.deltarep);
  kept.istruerep = std::move(d.istruerep);
  kept.deltarep2 = std::move(d.deltarep2);
  kept.istruerep2 = std::move(d.istruerep2);
  kept.replicatesrun = d.replicatesrun;
  d = std::move(kept);
  variables.cndgtype3.deallocate();
}

}  // namespace

int4 simulated_candidates(int4 s) {
  const Variables& v = variables;
  if (v.numcandidate(s) <= 0) return 0;
  // Sampled candidates stand for all potential parents of the sex, sampled or not.
  const real8 x = static_cast<real8>(v.numcandidate(s)) / v.propprntsampled(s);
  if (!(x < kReplicates)) return kReplicates;
  return static_cast<int4>(std::lround(x));
}

void allocate_delta_memos() {
  const Variables& v = variables;
  Simuvariables::DeltaSimulation& d = simuvariables.delta;
  const int4 n2 = std::max(v.locus2.allocated() ? v.locus2(0) : 0, 1);
  const int4 top = 9 + 2 * v.haplodiploid;
  d.dyadlogl2.allocate(Dim(0, top), Dim(n2), Dim(1));
  d.dyadlogl2.fill(-1.0);
  d.dyadlogl0.deallocate();
  if (v.numknownprnt(1) > 0 || v.numknownprnt(2) > 0) {
    d.dyadlogl0.allocate(Dim(0, top), Dim(n2));
    d.dyadlogl0.fill(-1.0);
  }
}

void free_delta_memos() {
  simuvariables.delta.dyadlogl2.deallocate();
  simuvariables.delta.dyadlogl0.deallocate();
}

void determinethreshold(int4 sex, int4 n, const real8* delta, const int1* istrue,
                        FArray<real8, 2>& thresh) {
  if (n < 1) return;
  std::vector<int4> indx(static_cast<std::size_t>(n));
  indexx(n, delta, indx.data());
  // Share of correct assignments among the replicates at and above each position.
  std::vector<real8> share(static_cast<std::size_t>(n) + 1);
  int4 correct = 0;
  for (int4 i = n; i >= 1; --i) {
    correct += istrue[indx[static_cast<std::size_t>(i - 1)] - 1] != 0 ? 1 : 0;
    share[static_cast<std::size_t>(i)] = static_cast<real8>(correct) / (n + 1 - i);
  }
  std::vector<real8> smooth(static_cast<std::size_t>(n) + 1);
  for (int4 i = 1; i <= n; ++i) {
    const int4 lo = std::max(i - 10, 1);
    const int4 hi = std::min(i + 10, n);
    real8 sum = 0.0;
    for (int4 j = lo; j <= hi; ++j) sum += share[static_cast<std::size_t>(j)];
    smooth[static_cast<std::size_t>(i)] = sum / (hi - lo + 1);
  }
  // Where even the top share reaches the highest level, every DELTA reaches it: position 1.
  int4 chosen = 1;
  for (int4 level = 95; level >= 50; level -= 5) {
    const real8 p = level * 0.01;
    if (p > smooth[static_cast<std::size_t>(n)]) {
      chosen = n;
    } else {
      for (int4 i = n; i >= 1; --i)
        if (smooth[static_cast<std::size_t>(i)] <= p) {
          chosen = i;
          break;
        }
    }
    thresh(sex, 20 - level / 5) = delta[indx[static_cast<std::size_t>(chosen - 1)] - 1];
  }
}

namespace {

// Running extremes over the whole call (both sexes): smallest ratio of a true parent, largest
// of an unrelated candidate, and the number of unrelated candidates scored, for the pairwise
// (plain names) and for the trio statistic (names ending in 2).
struct RatioExtremes {
  real8 mintrue = 1e300, maxunrel = -1e300, mintrue2 = 1e300, maxunrel2 = -1e300;
  std::int64_t nunrel = 0, nunrel2 = 0;

  // Unrelated candidates can no longer compete with true parents (pairwise statistic).
  bool pair_decided() const { return nunrel > 10000 && mintrue - maxunrel > kDecisiveLead; }
  // The same for the trio statistic.
  bool trio_decided() const { return nunrel2 > 10000 && mintrue2 - maxunrel2 > kDecisiveLead; }
};

// What one sex's replicates share: the sex, its candidates and the replicate tables.
struct SexRun {
  int4 s = 0;
  int4 offploidy = 0;
  bool trio = false;  // a known parent of the other sex makes the trio statistic apply
  int4 ns = 0;        // candidates simulated per replicate
  int4 pploidy = 0;
  std::vector<real8>& delta;
  std::vector<int1>& istrue;
  std::vector<real8>& delta2;
  std::vector<int1>& istrue2;
};

// Best and second-best ratios of one replicate and the winning candidates.
struct ReplicateScore {
  real8 best = 0.0, second = 0.0, best2 = 0.0, second2 = 0.0;
  int4 ib = 0, ib2 = 0;
};

// The simulated offspring is written into the packed columns only: the unpacked copies must
// not exist yet.
void stop_if_genotype_copies() {
  if (!variables.indivgtype1.allocated()) return;
  set_error_line(1, "Internal error: the parentage simulation ran after the genotype copies.");
  for (int4 k = 2; k <= 5; ++k) set_error_line(k, "");
  stoponerror(1, "DetermineDeltaValue");
}

// The opening screen lines of a call.
void announce_simulation(int4 offploidy) {
  if (variables.displayq != 1) return;
  screen_write("(A)", std::string_view(""));
  screen_write("(A)", std::string("Estimating parentage by pairwise approach-") +
                          (offploidy == 2 ? "Di" : "Ha") + "ploid Offspring...");
}

// Clears the dyad memos for a sex simulated afresh, or, for mothers that would be simulated
// exactly like the fathers, copies the fathers' thresholds and returns true.
bool reuse_fathers_thresholds(int4 s, const int4 nsim[2]) {
  const Variables& v = variables;
  Simuvariables& sv = simuvariables;
  Simuvariables::DeltaSimulation& d = sv.delta;
  if (s == 1 || v.haplodiploid == 1) {
    if (d.dyadlogl2.allocated()) d.dyadlogl2.fill(-1.0);
    if (d.dyadlogl0.allocated()) d.dyadlogl0.fill(-1.0);
    return false;
  }
  // Mothers simulated like the fathers would give the fathers' thresholds.
  const bool noknown = v.numknownprnt(1) == 0 && v.numknownprnt(2) == 0;
  const bool bothknown = v.numknownprnt(1) > 0 && v.numknownprnt(2) > 0;
  if (!(v.numcandidate(1) == v.numcandidate(2) && nsim[0] == nsim[1] && (noknown || bothknown)))
    return false;
  for (int4 m = 1; m <= 10; ++m) sv.threshold(2, m) = sv.threshold(1, m);
  if (v.numknownprnt(2) > 0)
    for (int4 m = 1; m <= 10; ++m) sv.threshold2(2, m) = sv.threshold2(1, m);
  return true;
}

// After 21 or 201 replicates with true parents far ahead of every unrelated candidate, the
// remaining replicates repeat replicates 2 (true parent) and 3 (unrelated); returns true when
// it filled them.
bool fill_remaining_replicates(int4 r, int4 nrun, const RatioExtremes& x, SexRun& run) {
  if (nrun != 21 && nrun != 201) return false;
  const real8 margin = nrun == 21 ? 500.0 : 100.0;
  if (!(x.mintrue - x.maxunrel > margin && (!run.trio || x.mintrue2 - x.maxunrel2 > margin)))
    return false;
  for (int4 q = r; q <= kReplicates; ++q) {
    const int4 from = q % 2 == 0 ? 2 : 3;
    run.delta[static_cast<std::size_t>(q)] = run.delta[static_cast<std::size_t>(from)];
    run.istrue[static_cast<std::size_t>(q)] = q % 2 == 0 ? 1 : 0;
    if (run.trio) {
      run.delta2[static_cast<std::size_t>(q)] = run.delta2[static_cast<std::size_t>(from)];
      run.istrue2[static_cast<std::size_t>(q)] = q % 2 == 0 ? 1 : 0;
    }
  }
  return true;
}

// True parents, the offspring inherited from them, and both seen through the observation
// model.
void simulate_family(int4 offploidy) {
  const Variables& v = variables;
  Simuvariables::DeltaSimulation& d = simuvariables.delta;
  real8 unused = 0.0;
  if (offploidy == 2) simugenotype(1, v.ploidy(1), &d.simprntgtype(1, 1, 1), unused);
  simugenotype(1, v.ploidy(2), &d.simprntgtype(1, 1, 2), unused);
  // At each locus the father's allele is chosen before the mother's: the order of the bits
  // fixes which replicates a seed gives.
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int1* mum = &d.simprntgtype(1, l, 2);
    if (offploidy == 2) {
      const int1* dad = &d.simprntgtype(1, l, 1);
      const int1 fromd = v.ploidy(1) == 2 ? dad[irbit1()] : dad[0];
      const int1 fromm = mum[irbit1()];
      d.simoffgtype(1, l) = std::min(fromd, fromm);
      d.simoffgtype(2, l) = std::max(fromd, fromm);
    } else {
      const int1 fromm = mum[irbit1()];
      d.simoffgtype(1, l) = fromm;
      d.simoffgtype(2, l) = fromm;
    }
  }
  simugenotype(2, offploidy, &d.simoffgtype(1, 1), unused);
  if (offploidy == 2) simugenotype(2, v.ploidy(1), &d.simprntgtype(1, 1, 1), unused);
  simugenotype(2, v.ploidy(2), &d.simprntgtype(1, 1, 2), unused);
}

// Puts the simulated offspring into the borrowed slot, without parents; returns its single
// log likelihood.
real8 place_offspring(int4 offploidy) {
  Variables& v = variables;
  Simuvariables::DeltaSimulation& d = simuvariables.delta;
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int4 n = v.obsnumallele(l);
    const int1 pair[2] = {d.simoffgtype(1, l), d.simoffgtype(2, l)};
    setgetgtype.locusgtypeptr = v.indivgtype2(l).a;
    setgtype(pair, 1, n);
    d.simoffgtype2(l) =
        n <= 2 ? static_cast<int2>(pair[0] <= 0 ? 0 : (pair[1] != pair[0] ? 3 : pair[0]))
               : v.genotypeid2(pair[0], pair[1]);
  }
  const real8 lo = simulated_single_logl(&d.simoffgtype(1, 1), offploidy);
  for (int4 k = 1; k <= 2; ++k) {
    if (v.inferparent.allocated()) v.inferparent(1, k) = 0;
    if (v.indivparent.allocated()) v.indivparent(1, k) = -1;
  }
  return lo;
}

// The known parent of the other sex in the trio columns; returns the parent-offspring log
// likelihood of the offspring with it.
real8 place_known_other_parent(int4 s, int4 offploidy) {
  Variables& v = variables;
  Simuvariables::DeltaSimulation& d = simuvariables.delta;
  const int4 nl = v.numloci;
  real8 lk = 0.0;
  if (!v.cndgtype3.allocated()) v.cndgtype3.allocate(Dim(nl), Dim(2));
  for (int4 l = 1; l <= nl; ++l)
    v.cndgtype3(l, 3 - s) =
        engine_code(d.simprntgtype(1, l, 3 - s), d.simprntgtype(2, l, 3 - s), v.obsnumallele(l));
  compute_podyad_logl(1, 3 - s, lk, -1e300, offploidy);
  d.locuslogl2.fill(1.0);
  d.locuslogl3tgt.fill(1.0);
  return lk;
}

// Takes one ratio into the best and second-best of a replicate.
void take_ratio(real8 ratio, int4 c, real8& best, real8& second, int4& ib) {
  if (ratio > best) {
    second = best;
    best = ratio;
    ib = c;
  } else {
    second = std::max(second, ratio);
  }
}

// Scores the replicate's candidates (in an even replicate candidate 1 is the true parent)
// against the offspring, by the pairwise and, with a known other parent, the trio statistic,
// until neither can change the replicate's outcome.
ReplicateScore score_candidates(const SexRun& run, bool even, bool settled, bool settled2, real8 lo,
                                real8 lk, RatioExtremes& x) {
  Variables& v = variables;
  Simuvariables::DeltaSimulation& d = simuvariables.delta;
  const int4 nl = v.numloci;
  const int4 s = run.s;
  int1* candg = &d.simcndgtype(1, 1);
  ReplicateScore sc;
  bool pairdone = settled;
  bool triodone = settled2;
  const bool direct = run.pploidy == 2 && v.maxobsnumallele < 3;
  for (int4 c = 1; c <= run.ns; ++c) {
    const bool truth = even && c == 1;
    real8 lc = 0.0;
    if (truth) {
      lc = simulated_single_logl(candg, run.pploidy);
    } else {
      simugenotype(3, run.pploidy, candg, lc);
      if (!direct) lc = simulated_single_logl(candg, run.pploidy);
    }
    if (!pairdone) {
      real8 l = 0.0;
      compute_podyad_logl(-1, s, l, sc.second + lo + lc, run.offploidy);
      const real8 ratio = l - (lo + lc);
      take_ratio(ratio, c, sc.best, sc.second, sc.ib);
      if (truth) {
        x.mintrue = std::min(x.mintrue, ratio);
      } else {
        x.maxunrel = std::max(x.maxunrel, ratio);
        ++x.nunrel;
      }
    }
    if (!triodone) {
      for (int4 l = 1; l <= nl; ++l)
        v.cndgtype3(l, s) =
            engine_code(d.simcndgtype(1, l), d.simcndgtype(2, l), v.obsnumallele(l));
      v.inferparent(1, 1) = 1;
      v.inferparent(1, 2) = 1;
      real8 t = 0.0;
      pairwisefamilylikelihood(t, lc + lk, 1, s);
      const real8 ratio2 = t - (lc + lk);
      take_ratio(ratio2, c, sc.best2, sc.second2, sc.ib2);
      if (truth) {
        x.mintrue2 = std::min(x.mintrue2, ratio2);
      } else {
        x.maxunrel2 = std::max(x.maxunrel2, ratio2);
        ++x.nunrel2;
      }
    }
    if (even && c >= 2) {
      if (sc.best > kDecisiveLead) pairdone = true;
      if (run.trio && sc.best2 > kDecisiveLead) triodone = true;
    } else if (!even) {
      if (x.pair_decided()) pairdone = true;
      if (run.trio && x.trio_decided()) triodone = true;
    }
    if (pairdone && (!run.trio || triodone)) break;
  }
  return sc;
}

// One replicate r: a family simulated, its offspring scored against the candidates, and the
// lead of the winner recorded (an unrelated winner is never a correct assignment).
void run_replicate(int4 r, SexRun& run, RatioExtremes& x) {
  const Variables& v = variables;
  Simuvariables::DeltaSimulation& d = simuvariables.delta;
  const bool even = r % 2 == 0;
  // Odd replicates once unrelated candidates can no longer compete with true parents.
  bool settled = false;
  bool settled2 = !run.trio;
  if (!even && r >= 3) {
    if (x.pair_decided()) settled = true;
    if (run.trio && x.trio_decided()) settled2 = true;
  }
  if (settled && settled2) return;

  simulate_family(run.offploidy);
  const real8 lo = place_offspring(run.offploidy);
  const real8 lk = run.trio && !settled2 ? place_known_other_parent(run.s, run.offploidy) : 0.0;
  if (even) {
    for (int4 l = 1; l <= v.numloci; ++l) {
      d.simcndgtype(1, l) = d.simprntgtype(1, l, run.s);
      d.simcndgtype(2, l) = d.simprntgtype(2, l, run.s);
    }
  }
  if (d.podyadlogl3.allocated()) d.podyadlogl3.fill(-1.0);

  const ReplicateScore sc = score_candidates(run, even, settled, settled2, lo, lk, x);
  if (!settled) {
    run.delta[static_cast<std::size_t>(r)] = sc.best - sc.second;
    run.istrue[static_cast<std::size_t>(r)] = even && sc.ib == 1 ? 1 : 0;
  }
  if (run.trio && !settled2) {
    run.delta2[static_cast<std::size_t>(r)] = sc.best2 - sc.second2;
    run.istrue2[static_cast<std::size_t>(r)] = even && sc.ib2 == 1 ? 1 : 0;
  }
}

// The thresholds of sex s from its replicates (the first process only).
void record_thresholds(const SexRun& run) {
  Simuvariables& sv = simuvariables;
  if (variables.threadid != 0) return;
  const int4 s = run.s;
  if (run.offploidy == 2) {
    determinethreshold(s, kReplicates, &run.delta[1], &run.istrue[1], sv.threshold);
    if (run.trio)
      determinethreshold(s, kReplicates, &run.delta2[1], &run.istrue2[1], sv.threshold2);
  } else {
    determinethreshold(s, kReplicates, &run.delta[1], &run.istrue[1], sv.thresholdh);
  }
}

// All replicates of sex s and its thresholds.
void simulate_sex(int4 s, int4 offploidy, const int4 nsim[2], RatioExtremes& x) {
  Variables& v = variables;
  Simuvariables::DeltaSimulation& d = simuvariables.delta;
  const int4 nl = v.numloci;
  v.cndgtype3.deallocate();
  if (reuse_fathers_thresholds(s, nsim)) return;
  SexRun run{s,           offploidy,   offploidy == 2 && v.numknownprnt(3 - s) > 0,
             nsim[s - 1], v.ploidy(s), d.deltarep,
             d.istruerep, d.deltarep2, d.istruerep2};
  const std::int64_t work = static_cast<std::int64_t>(run.ns) * std::max(nl, 1);
  const int4 step = static_cast<int4>(100000000 / std::max<std::int64_t>(work, 1) + 1);
  int4 counter = 0;
  if (v.displayq == 1)
    screen_write("(A)", std::string("  Simulating DELTA for ") + (s == 1 ? "P" : "M") +
                            "aternity, replication: 1 - " + itoc(kReplicates));
  run.delta.assign(kReplicates + 1, 0.0);
  run.istrue.assign(kReplicates + 1, 0);
  run.delta2.assign(run.trio ? kReplicates + 1 : 0, 0.0);
  run.istrue2.assign(run.trio ? kReplicates + 1 : 0, 0);

  int4 nrun = 0;
  for (int4 r = 1; r <= kReplicates; ++r) {
    ++nrun;
    if (v.displayq == 1) writeprogress(counter, step);
    if (fill_remaining_replicates(r, nrun, x, run)) {
      --nrun;
      break;
    }
    run_replicate(r, run, x);
  }

  d.replicatesrun = nrun;
  if (v.displayq == 1) screen_write("(A)", std::string_view("\r  Simulation done."));
  record_thresholds(run);
  v.cndgtype3.deallocate();
}

}  // namespace

void allocate_simulation_state() {
  const Variables& v = variables;
  Simuvariables::DeltaSimulation& d = simuvariables.delta;
  const int4 nl = v.numloci;
  d.simoffgtype.allocate(Dim(2), Dim(nl));
  d.simoffgtype2.allocate(Dim(nl));
  d.simprntgtype.allocate(Dim(2), Dim(nl), Dim(2));
  d.simcndgtype.allocate(Dim(2), Dim(nl));
  const int4 n3 = v.locus3.allocated() ? v.locus3(0) : 0;
  d.podyadloc.allocate(Dim(std::max(n3, 1)));
  index_t total = 0;
  for (int4 k = 1; k <= n3; ++k) {
    d.podyadloc(k) = static_cast<int4>(total);
    const index_t n = v.obsnumallele(v.locus3(k));
    total += n * (n + 1) / 2;
  }
  if (n3 > 0 && total <= 1000000) {
    d.podyadlogl3.allocate(Dim(total));
    d.podyadlogl3.fill(-1.0);
  }
}

void determinedeltavalue(int4 offploidy) {
  stop_if_genotype_copies();
  BorrowedSlot slot;
  slot.save();
  allocate_simulation_state();
  inisimuvariables();

  variables.offploid(1) = static_cast<int1>(offploidy);
  announce_simulation(offploidy);
  const int4 nsim[2] = {simulated_candidates(1), simulated_candidates(2)};
  RatioExtremes extremes;
  for (int4 s = 1; s <= 2; ++s) {
    if (variables.numcandidate(s) < 1) continue;
    if (offploidy == 1 && s == 1) continue;
    simulate_sex(s, offploidy, nsim, extremes);
  }

  free_simulation_state();
  slot.restore();
}

}  // namespace kinrad
