#pragma once
// Fixtures of the parent-side move tests: simulated samples (two sexes, diploid or
// haplodiploid) written as project files, the search's own set-up run up to its first
// iteration (the run state handed to the test, the call then ended), a configuration put into
// that run as a fresh start scores it, the draws between two states of the search stream, and
// a snapshot of the whole configuration state for bit-for-bit comparisons.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "core/modules/search_seams.hpp"
#include "core/random_numbers.hpp"
#include "search/search.hpp"
#include "search/search_internal.hpp"
#include "support/prepare.hpp"
#include "support/project_file.hpp"
#include "support/ran2_state.hpp"
#include "support/run_stage.hpp"

namespace kinrad::test {

// A simulated sample: three groups of three fathers and three mothers, each offspring from a
// random pair of its group (offspring i in group i mod 3); in a haplodiploid species about a
// third of the offspring are haploid sons (never the first of a group). Error-free genotypes
// under small declared error rates, so that no configuration is impossible.
struct SimSample {
  bool haplo = false;
  int n = 18;
  int loci = 6;
  unsigned seed = 1;
  std::string prior = "0";
  std::string method = "1";
  int cand = 0;  // unrelated candidates per sex
};

struct SimTruth {
  std::vector<int> father, mother;  // 0-based parents of each offspring
  std::vector<bool> haploid;
};

inline testing_support::ProjectFile simulate(const SimSample& d, SimTruth& t) {
  std::mt19937 rng(d.seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  using Multilocus = std::vector<std::array<int, 2>>;
  const auto founder = [&](bool haploid) {
    Multilocus g(static_cast<std::size_t>(d.loci));
    for (auto& x : g) x = {pick(1, 6), haploid ? -99 : pick(1, 6)};
    return g;
  };
  std::vector<Multilocus> fathers, mothers;
  for (int k = 0; k < 9; ++k) fathers.push_back(founder(d.haplo));
  for (int k = 0; k < 9; ++k) mothers.push_back(founder(false));
  const auto gamete = [&](const Multilocus& g, int l) {
    const auto& x = g[static_cast<std::size_t>(l)];
    return x[1] == -99 || u(rng) < 0.5 ? x[0] : x[1];
  };
  testing_support::ProjectFile p;
  for (int i = 0; i < d.n; ++i) {
    const int g = i % 3;
    const int a = 3 * g + pick(0, 2), b = 3 * g + pick(0, 2);
    const bool son = d.haplo && i >= 3 && u(rng) < 0.35;
    std::string line = "O" + std::to_string(i + 1);
    for (int l = 0; l < d.loci; ++l) {
      const int m = gamete(mothers[static_cast<std::size_t>(b)], l);
      const int f = son ? -99 : gamete(fathers[static_cast<std::size_t>(a)], l);
      line += " " + std::to_string(son ? m : f) + " " + std::to_string(son ? -99 : m);
    }
    p.offspring.push_back(line);
    t.father.push_back(a);
    t.mother.push_back(b);
    t.haploid.push_back(son);
  }
  p.loci = d.loci;
  p.markerids.clear();
  for (int l = 1; l <= d.loci; ++l) p.markerids += (l > 1 ? " L" : "L") + std::to_string(l);
  p.markertypes = "0@";
  p.droprates = "0.01@";
  p.otherrates = "0.01@";
  p.haplodiploid = d.haplo ? "1" : "0";
  p.prior = d.prior;
  p.method = d.method;
  const auto text = [](const std::string& id, const Multilocus& g) {
    std::string s = id;
    for (const auto& x : g)
      s += " " + std::to_string(x[0]) + (x[1] == -99 ? "" : " " + std::to_string(x[1]));
    return s;
  };
  for (int k = 0; k < d.cand; ++k) {
    p.fathers.push_back(text("F" + std::to_string(k + 1), founder(d.haplo)));
    p.mothers.push_back(text("M" + std::to_string(k + 1), founder(false)));
  }
  return p;
}

// The true families as a configuration: dense ids by first appearance; each haploid offspring
// joins the first diploid full-sib family of its mother (a haploid offspring has no father of
// its own), or one family of its mother's haploid offspring when she has no diploid offspring.
inline void truth_configuration(const SimTruth& t, std::vector<int4>& f1, std::vector<int4>& f2) {
  const auto n = t.father.size();
  std::map<int, int> fatherof;  // mother -> father of her first diploid offspring
  for (std::size_t i = 0; i < n; ++i)
    if (!t.haploid[i] && !fatherof.count(t.mother[i])) fatherof[t.mother[i]] = t.father[i];
  std::map<int, int4> id1, id2;
  f1.assign(n, 0);
  f2.assign(n, 0);
  for (std::size_t i = 0; i < n; ++i) {
    const int m = t.mother[i];
    // A mother without diploid offspring: her haploid family gets a father of its own.
    const int a = t.haploid[i] ? (fatherof.count(m) ? fatherof[m] : 100 + m) : t.father[i];
    if (!id1.count(a)) id1[a] = static_cast<int4>(id1.size()) + 1;
    if (!id2.count(m)) id2[m] = static_cast<int4>(id2.size()) + 1;
    f1[i] = id1[a];
    f2[i] = id2[m];
  }
}

// Runs the search's set-up on the project prepared in the working directory and hands the run
// state to `test` at the first iteration; the call then ends.
inline testing_support::StageOutcome with_run(const std::function<void(RunState&)>& test) {
  search_seams = SearchSeams{};
  bool done = false;
  search_seams.body = [&](RunState& rs) {
    if (!done) {
      done = true;
      test(rs);
    }
    return MoveOutcome::end_run;
  };
  auto o = testing_support::run_stage([] {
    int4 firstq = 1;
    variables.krun = 1;
    anneal(firstq, 5);
  });
  search_seams = SearchSeams{};
  return o;
}

// Puts the configuration (paternal and maternal family ids, dense from 1) into the run in hand
// and scores it through the search's own scoring of a fresh start (clusters numbered and scored,
// sibship sizes, prior, score, best copy), then builds the cluster tables. No candidate is
// assigned.
inline void install(RunState& rs, const std::vector<int4>& f1, const std::vector<int4>& f2) {
  auto& v = variables;
  auto& cp = rs.cp;
  const int4 n = v.smplsize;
  v.crnumfamily(1) = v.crnumfamily(2) = 0;
  for (int4 i = 1; i <= n; ++i) {
    v.crindivloc(i, 1) = f1[static_cast<std::size_t>(i - 1)];
    v.crindivloc(i, 2) = f2[static_cast<std::size_t>(i - 1)];
    v.inferparent(i, 1) = v.inferparent(i, 2) = 0;
    v.crnumfamily(1) = std::max(v.crnumfamily(1), v.crindivloc(i, 1));
    v.crnumfamily(2) = std::max(v.crnumfamily(2), v.crindivloc(i, 2));
  }
  cp.numsizeclass(1) = cp.numsizeclass(2) = 0;
  cp.curnumassign.fill(0);
  {
    WindowSave keep;
    score_initial_configuration(rs);
  }
  {
    WindowSave keep;
    setinitcluster();
  }
  annealvariables.lastfamilyid(1) = annealvariables.lastfamilyid(2) = 0;
  if (v.priortype == 1) rs.oldsibsizeprior = newewenprior(cp.numsizeclass);
}

// Copies of the search stream, drawn from without touching the stream itself.
using testing_support::Ran2State;

// How many draws lead from stream `from` to stream `to` (-1: none up to `most`).
inline int draws_between(Ran2State from, const Ran2State& to, int most = 1000) {
  for (int k = 0; k <= most; ++k) {
    if (from == to) return k;
    from.draw();
  }
  return -1;
}

// The configuration state a parent-side move reads and writes, copied for comparison.
struct ParentSideSnapshot {
  std::vector<int4> loc, fam, sizes, sizet, dist, clustab, localid;
  std::vector<real8> logl;
  real8 crlogl = 0.0, prior = 0.0;
  int4 max1 = 0, max2 = 0;
  bool operator==(const ParentSideSnapshot&) const = default;
};

inline ParentSideSnapshot snapshot(const RunState& rs) {
  const auto& v = variables;
  const auto& av = annealvariables;
  const int4 n = v.smplsize;
  ParentSideSnapshot s;
  for (int4 c = 1; c <= 3; ++c) {
    s.fam.push_back(v.crnumfamily(c));
    for (int4 i = 1; i <= n; ++i) s.loc.push_back(v.crindivloc(i, c));
    for (int4 i = 1; i <= n; ++i) s.localid.push_back(av.indivclusterid(i, c));
  }
  for (int4 c = 1; c <= n; ++c) {
    s.sizet.push_back(av.clustersizet(c));
    s.logl.push_back(v.crfamilylogl(c));
    for (int4 k = 1; k <= 6; ++k) s.sizes.push_back(av.clustersize(k, c));
  }
  for (const auto x : v.sibshipsizedist) s.dist.push_back(x);
  for (int4 c = 1; c <= v.crnumfamily(3); ++c) {
    s.clustab.push_back(v.indivclusteridx(c));
    s.clustab.push_back(v.indivclusterindex(c));
    for (const auto x : v.indivcluster(c)) s.clustab.push_back(x);
    for (const auto x : v.indivcluster1(c)) s.clustab.push_back(x);
    for (const auto x : v.indivcluster2(c)) s.clustab.push_back(x);
    for (const auto x : v.indivclustern(c)) s.clustab.push_back(x);
    for (const auto x : v.indivclusterm(c)) s.clustab.push_back(x);
    for (const auto x : v.indivclusterf(c)) s.clustab.push_back(x);
  }
  s.crlogl = v.crloglikelihood;
  s.prior = rs.cp.oldlogprior;
  s.max1 = rs.cp.numsizeclass(1);
  s.max2 = rs.cp.numsizeclass(2);
  return s;
}

// The self-check after an accepted move, with the score recomputed from scratch.
inline void self_check(RunState& rs) {
  auto& v = variables;
  auto& cp = rs.cp;
  v.checkmode = 2;
  FStatic<int4, 1, 2> nsib{}, nfam{};
  nsib(1) = cp.numsizeclass(1);
  nsib(2) = cp.numsizeclass(2);
  nfam(1) = v.crnumfamily(1);
  nfam(2) = v.crnumfamily(2);
  checkresult(cp.numiterate, cp.curnumassign, nsib, nfam, cp.oldlogprior, cp.oldcndlogl, 1);
}

// The log likelihood of each cluster of the configuration in hand, scored afresh.
inline std::vector<real8> fresh_cluster_logl() {
  auto& v = variables;
  WindowSave keep;
  v.indivlocprt = v.crindivloc.view();
  v.inferparentprt = v.inferparent.view();
  std::vector<real8> logl(static_cast<std::size_t>(v.crnumfamily(3)), 0.0);
  updatefamilylogl(logl.data(), v.crnumfamily(3));
  return logl;
}

}  // namespace kinrad::test
