// Times the annealing frame around an empty move: the example project's state after the set-up,
// one long temperature of 10^7 iterations whose body only counts (a scored proposal every
// iteration, an acceptance every fifth, a new best every thousandth acceptance, so that no rule
// ends the temperature early), with the monitor by iterations (interval 10000) and then by
// processor seconds. The set-up alone is timed by a call whose body ends the run at once, and
// subtracted.
//
//   bench_frame <path to examples/kinrad2.dat>      (run from a scratch directory)
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "core/command_line.hpp"
#include "core/modules.hpp"
#include "core/modules/search_seams.hpp"
#include "input/input.hpp"
#include "model/model.hpp"
#include "search/search.hpp"
#include "search/search_internal.hpp"

namespace {

using namespace kinrad;

constexpr int8 kIterations = 10000000;

void prepare(const std::string& project) {
  reset_all_modules();
  std::filesystem::copy_file(project, "kinrad2.dat",
                             std::filesystem::copy_options::overwrite_existing);
  set_command_line({"VER:0"});
  readdata();
  variables.displayq = 0;
  initialize();
  dataprocess();
  initialfsprob(1, 1, variables.numloci);
}

double run(const std::string& project, int4 monitormethod, bool setup_only) {
  prepare(project);
  variables.monitormethod = monitormethod;
  variables.monitorinterval = monitormethod == 1 ? 10 : 10000;
  int8 accepted = 0;
  search_seams = SearchSeams{};
  search_seams.body = [&](RunState& rs) {
    if (setup_only) return MoveOutcome::end_run;
    if (rs.cp.numiterate == 1) {
      rs.sched.iterlmt = static_cast<real8>(kIterations);
      rs.sched.nsucclmt = int8{1} << 60;
      rs.sched.nfaillmt = 1e18;
      rs.sched.nfaillmt2 = 1e18;
      rs.sched.ntemprature = 1;
    }
    count_scored(rs);
    if (rs.cp.numiterate % 5 == 0) {
      count_accepted(rs, 1.0);
      if (++accepted % 1000 == 0) count_new_best(rs, 1.0, true);
    }
    return MoveOutcome::completed;
  };
  const auto t0 = std::chrono::steady_clock::now();
  int4 firstq = 1;
  variables.krun = 1;
  variables.restart = 0;
  anneal(firstq, 5);
  const auto t1 = std::chrono::steady_clock::now();
  search_seams = SearchSeams{};
  return std::chrono::duration<double>(t1 - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_frame <kinrad2.dat>\n");
    return 2;
  }
  const std::string project = std::filesystem::absolute(argv[1]).string();
  for (int4 method : {0, 1}) {
    const double setup = run(project, method, true);
    const double full = run(project, method, false);
    std::printf("monitor by %s: %.1f ns per iteration (set-up %.3f s, %lld iterations)\n",
                method == 0 ? "iterations" : "seconds   ", (full - setup) / kIterations * 1e9,
                setup, static_cast<long long>(kIterations));
  }
  return 0;
}
