// Times the annealing search on a project file with a fixed seed: iterations per second, the
// mean cost of an iteration, the share of iterations whose proposal reached the scoring, the
// share the pairwise pre-test decided (method 2), and the cost of one full rescoring of the
// final configuration (every cluster's likelihood under the full-likelihood methods, the whole
// pairwise score under the pairwise method).
//
//   bench_search <project file> [iterations]   (run from a scratch directory; the method is the
//   project's)
//   bench_search key=value ... [iterations]     (a simulated sample of make_sample's keys, written
//   to bench_sample.dat in the current directory), e.g. a sample of realistic families:
//     bench_search offspring=5000 loci=200 parents=500 candidates=0 method=0 100000
//   and one of a few large families:
//     bench_search offspring=1000 loci=200 parents=2 candidates=0 method=0 100000
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/command_line.hpp"
#include "core/modules.hpp"
#include "core/modules/search_seams.hpp"
#include "input/input.hpp"
#include "pairwise/pairwise.hpp"
#include "program/prepare_analysis.hpp"
#include "search/move_stages.hpp"
#include "search/move_verdict_internal.hpp"
#include "search/search.hpp"
#include "search/search_internal.hpp"
#include "simulated_sample.hpp"

namespace {

using namespace kinrad;

// The program's sequence up to the search (the pairwise step too: the pairwise score and the
// pre-test of the guided method read its tables).
void prepare(const std::string& project) {
  reset_all_modules();
  std::filesystem::copy_file(project, "kinrad2.dat",
                             std::filesystem::copy_options::overwrite_existing);
  set_command_line({"VER:0", "RND:12345"});
  getcommands();
  prepare_analysis({.quiet = true, .check_data = false, .tables = true, .named_phases = false});
  auto& v = variables;
  v.displayq = 0;
  pairrelation();
  if (v.smplsize > 49) setcluster();
  v.bestlogl = -1e300;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: bench_search <project> [iterations]\n"
                 "       bench_search key=value ... [iterations], with the sample keys\n%s",
                 kinrad::bench::sample_keys().c_str());
    return 2;
  }
  int a = 1;
  std::string project;
  if (std::string(argv[1]).find('=') == std::string::npos) {
    project = std::filesystem::absolute(argv[a++]).string();
  } else {
    kinrad::bench::SampleParameters p;
    for (; a < argc && std::string(argv[a]).find('=') != std::string::npos; ++a)
      if (!kinrad::bench::set_sample_key(p, argv[a])) {
        std::fprintf(stderr, "not a sample key: %s\n", argv[a]);
        return 2;
      }
    project = std::filesystem::absolute("bench_sample.dat").string();
    std::ofstream(project, std::ios::binary) << kinrad::bench::simulated_project(p, "simulated");
    std::printf("sample: offspring=%d loci=%d parents=%d candidates=%d family=%d method=%d\n",
                p.offspring, p.loci, p.parents, p.candidates, p.family, p.method);
  }
  const int8 limit = a < argc ? std::atoll(argv[a]) : 1000000;
  prepare(project);
  auto& v = variables;
  const int method = v.fulllikelihoodmethodq == 0 ? 0 : (v.quicksearchq == 1 ? 2 : 1);

  // The iteration body of the program (choice, proposal, verdict as move_body and decide_move
  // run them), counted; the scoring of the scored iterations and their whole body are timed
  // apart. The run ends after `limit` iterations.
  using Clock = std::chrono::steady_clock;
  int8 scored = 0;
  int8 prescreened = 0;
  int8 last = 0;
  double scoring_s = 0.0;  // in score_proposal, scored iterations
  double scored_s = 0.0;   // whole body of the scored iterations
  double rows = 0.0;       // offspring in the rebuilt clusters, scored iterations
  search_seams = SearchSeams{};
  search_seams.body = [&](RunState& rs) {
    if (rs.cp.numiterate > limit) return MoveOutcome::end_run;
    last = rs.cp.numiterate;
    const auto b0 = Clock::now();
    if (!choose_move(rs)) return MoveOutcome::refused;
    if (!build_proposal(rs)) return MoveOutcome::refused;
    const int4 kind = annealvariables.movingtype;
    if (kind != 1 && kind != 2) return decide_move(rs);
    const real8 pre = rs.cp.prescreencounts[1];
    const auto s0 = Clock::now();
    score_proposal(rs);
    const auto s1 = Clock::now();
    ++scored;
    rows += kind == 1 ? annealvariables.numindiv(1) + annealvariables.numindiv(2)
                      : rs.choice.ownclustersize;
    if (rs.cp.prescreencounts[1] != pre && rs.verdict.prescreen == 1) ++prescreened;
    MoveOutcome o = MoveOutcome::completed;
    if (rs.verdict.acceptq != 1) {
      undo_proposal(rs);
    } else {
      commit_proposal(rs);
      if (apply_accepted(rs)) o = MoveOutcome::end_run;
    }
    const auto b1 = Clock::now();
    scoring_s += std::chrono::duration<double>(s1 - s0).count();
    scored_s += std::chrono::duration<double>(b1 - b0).count();
    return o;
  };
  int4 firstq = 1;
  v.krun = 1;
  v.restart = 0;
  const auto t0 = std::chrono::steady_clock::now();
  const std::clock_t c0 = std::clock();
  anneal(firstq, 5);
  const double run = seconds_since(t0);
  // Processor time too: on a shared machine the wall time of a pinned run counts the time its
  // core spent on others.
  const double cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
  search_seams = SearchSeams{};
  const int8 iterations = std::max<int8>(last, 1);

  // One full rescoring of the final configuration, repeated for a stable figure.
  const int reps = 200;
  const auto t1 = std::chrono::steady_clock::now();
  real8 sink = 0.0;
  for (int r = 0; r < reps; ++r) {
    WindowScope keep1(v.indivlocprt, v.crindivloc.view());
    WindowScope keep2(v.inferparentprt, v.inferparent.view());
    if (v.fulllikelihoodmethodq != 0) {
      std::vector<real8> logl(static_cast<std::size_t>(v.crnumfamily(3)) + 1);
      updatefamilylogl(logl.data(), v.crnumfamily(3));
      sink += logl[0];
    } else {
      real8 x = 0.0;
      calculatecrrtpairlogl(x);
      sink += x;
    }
  }
  const double rescore = seconds_since(t1) / reps;
  std::printf("method %d: %lld iterations in %.3f s: %.0f iterations/s, %.3f us per iteration\n",
              method, static_cast<long long>(iterations), run, iterations / run,
              run / iterations * 1e6);
  std::printf("processor time %.3f s: %.0f iterations/s, %.3f us per iteration\n", cpu,
              iterations / cpu, cpu / iterations * 1e6);
  std::printf("scored %lld (%.1f %%), refused by the pairwise pre-test %lld (%.1f %% of scored)\n",
              static_cast<long long>(scored), 100.0 * scored / iterations,
              static_cast<long long>(prescreened), scored > 0 ? 100.0 * prescreened / scored : 0.0);
  std::printf("full rescoring of the final configuration: %.3f us (%.1f iterations' worth)\n",
              rescore * 1e6, rescore / (run / iterations));
  // An upper bound of the cost of a scored iteration: the whole run's time over the scored ones.
  if (scored > 0) {
    std::printf("per scored iteration at most %.3f us (%.3f of a full rescoring)\n",
                run / scored * 1e6, run / scored / rescore);
    // Under the pairwise method the scoring is the pair-score change of the move and its
    // acceptance test, plus, for an accepted move, the build of its clusters.
    std::printf("scoring: %.1f %% of the run (%.3f us per iteration)%s\n", 100.0 * scoring_s / run,
                scoring_s / iterations * 1e6,
                method == 0 ? ", the pair-score change with the acceptance test" : "");
    std::printf(
        "scored iterations timed: %.3f us each (%.3f of a full rescoring), of which the "
        "scoring %.3f us (%.3f of a full rescoring)\n",
        scored_s / scored * 1e6, scored_s / scored / rescore, scoring_s / scored * 1e6,
        scoring_s / scored / rescore);
    std::printf(
        "the rebuilt clusters hold %.1f offspring per scored iteration (%.3f of the "
        "sample)\n",
        rows / scored, rows / scored / v.smplsize);
  }
  // What the rescoring cost depends on: the clusters and the offspring pairs within them.
  {
    std::vector<int8> size(static_cast<std::size_t>(v.crnumfamily(3)) + 1, 0);
    for (int4 i = 1; i <= v.smplsize; ++i) ++size[static_cast<std::size_t>(v.crindivloc(i, 3))];
    int8 pairs = 0;
    int4 largest = 0;
    for (const int8 k : size) {
      pairs += k * (k - 1) / 2;
      largest = std::max(largest, static_cast<int4>(k));
    }
    std::printf(
        "final configuration: %d clusters (largest %d), %lld offspring pairs within "
        "clusters\n",
        v.crnumfamily(3), largest, static_cast<long long>(pairs));
  }
  std::printf("final score %.6f, best %.6f (%g)\n", v.crloglikelihood, v.btloglikelihood, sink);
  return 0;
}
