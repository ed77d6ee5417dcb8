// Times one in-run update of the allele frequencies on the example project with a full archive:
// the true pedigree (examples/kinrad2.truth.txt) as best and current configuration, and an
// archive of 1000 copies of it (every one within the floor, so the whole archive is rescored).
// Reported: the whole update; the update without the archive (the difference is the archive
// rescoring); and the summed cluster log likelihoods of the rescored records, timed inside the
// rescoring: the floor of what a rescoring must cost.
//
//   bench_update <path to examples/kinrad2.dat> <path to examples/kinrad2.truth.txt>
//   (run from a scratch directory, one core: taskset -c N)
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/command_line.hpp"
#include "core/modules.hpp"
#include "core/modules/search_seams.hpp"
#include "input/input.hpp"
#include "model/model.hpp"
#include "search/search.hpp"
#include "search/search_internal.hpp"
#include "search/update_internal.hpp"
#include "support/archive_builder.hpp"

namespace {

using namespace kinrad;
using Clock = std::chrono::steady_clock;

constexpr int4 kRecords = 1000;

double seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

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
  search_seams = SearchSeams{};
  search_seams.body = [](RunState&) { return MoveOutcome::end_run; };
  int4 firstq = 1;
  variables.krun = 1;
  variables.restart = 0;
  anneal(firstq, 5);
  search_seams = SearchSeams{};
}

int4 candidate(const std::string& id, int4 sex) {
  const auto& v = variables;
  for (int4 j = 1; j <= v.numcandidate(sex); ++j)
    if (trim(v.cndparentid(j, sex).view()) == id) return j;
  return 0;
}

testing_support::ArchiveRecord truth(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  testing_support::ArchiveRecord r;
  bool rows = false;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line.rfind("OFFSPRING", 0) == 0) {
      rows = true;
      continue;
    }
    if (line.rfind("CANDIDATES", 0) == 0) break;
    if (!rows) continue;
    std::istringstream s(line);
    std::string id, father, mother;
    int fs = 0, pf = 0, mf = 0;
    s >> id >> father >> mother >> fs >> pf >> mf;
    r.fam1.push_back(pf);
    r.fam2.push_back(mf);
    r.dad.push_back(candidate(father, 1));
    r.mum.push_back(candidate(mother, 2));
  }
  r.clust = testing_support::clusters_of(r.fam1, r.fam2);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_update <kinrad2.dat> <kinrad2.truth.txt>\n");
    return 2;
  }
  const std::string project = std::filesystem::absolute(argv[1]).string();
  const std::string truthfile = std::filesystem::absolute(argv[2]).string();
  prepare(project);
  auto& v = variables;
  v.updateallelefre = 1;
  testing_support::ArchiveRecord best = truth(truthfile);
  testing_support::set_best(best);
  v.crindivloc = v.btindivloc.copy();
  v.inferparent = v.btinferparent.copy();
  v.crnumfamily = v.btnumfamily;
  const real8 score = testing_support::search_score();
  best.logl = score;
  {
    // The best's prior as the run holds it: the score less its clusters and candidate term.
    WindowSave keep;
    v.indivlocprt = v.btindivloc.view();
    v.inferparentprt = v.btinferparent.view();
    std::vector<real8> c(static_cast<std::size_t>(v.btnumfamily(3)));
    updatefamilylogl(c.data(), v.btnumfamily(3));
    real8 cnd = 0.0;
    computeparentlogl(cnd);
    real8 prior = score - cnd;
    for (real8 x : c) prior -= x;
    v.btconfigprior = prior;
  }
  v.crloglikelihood = v.btloglikelihood = score;
  v.bestlogl = score;
  std::vector<std::vector<real8>> start;
  for (int4 l = 1; l <= v.numloci; ++l) {
    start.emplace_back();
    for (int4 a = 1; a <= v.obsnumallele(l); ++a) start.back().push_back(v.obsallelefre(l).a(a));
  }
  const auto reset_frequencies = [&] {
    for (int4 l = 1; l <= v.numloci; ++l)
      for (int4 a = 1; a <= v.obsnumallele(l); ++a) v.obsallelefre(l).a(a) = start[l - 1][a - 1];
    v.crloglikelihood = v.btloglikelihood = v.bestlogl = score;
  };

  // The update with a full archive, then without one.
  archiveconfigremoveall();
  for (int4 k = 0; k < kRecords; ++k) testing_support::append_record(best);
  real8 cand = 0.0;
  int4 ipass = 1;
  int4 rescored = 0;
  // The engine's share of the rescoring, timed in place: the cluster log likelihoods of the
  // archived records (decoded into offtgt).
  double archivefl = 0.0;
  search_seams = SearchSeams{};
  search_seams.update_clusterlogl = [&](real8* out, int4 nclust) {
    if (v.indivlocprt.data() != v.offtgt.data()) {
      updatefamilylogl(out, nclust);
      return;
    }
    const auto a = Clock::now();
    updatefamilylogl(out, nclust);
    archivefl += seconds(a, Clock::now());
  };
  const auto t0 = Clock::now();
  update(cand, 0.0, v.btconfigprior, ipass, 1, 1, 0);
  const auto t1 = Clock::now();
  rescored = testing_support::archive_length();
  reset_frequencies();
  archiveconfigremoveall();
  const auto t2 = Clock::now();
  update(cand, 0.0, v.btconfigprior, ipass, 1, 1, 0);
  const auto t3 = Clock::now();

  const double whole = seconds(t0, t1), bare = seconds(t2, t3);
  std::printf("update with %d archived records: %.3f s\n", kRecords, whole);
  std::printf("update without archive:          %.3f s\n", bare);
  std::printf("archive rescoring (difference):  %.3f s for %d records kept\n", whole - bare,
              rescored);
  std::printf("its summed updatefamilylogl:     %.3f s (ratio %.2f)\n", archivefl,
              (whole - bare) / archivefl);
  return 0;
}
