// Times the move choice with its destination search per proposal, on samples written as
// make_sample writes them (n offspring in full-sib families of 10 on average, 200 SNP loci,
// 100 candidates per sex, two sexes) at a configuration of clusters of at most 20 offspring
// with 1 to 3 fathers and mothers each (as bench_pair_score_change builds its own), best-
// candidate lists of five per sex, mid-run settings (rate 0.5). Every call of the choice is
// timed, retries included; the figures are the mean per call and per hand-over.
//
//   bench_choice [n ...]      (run from a scratch directory; default 1000 5000 20000)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "configuration/configuration.hpp"
#include "configuration/configuration_fixture.hpp"
#include "core/command_line.hpp"
#include "core/modules.hpp"
#include "input/input.hpp"
#include "model/model.hpp"
#include "search/move_choice.hpp"
#include "search/search_internal.hpp"
#include "simulated_sample.hpp"

namespace {

using namespace kinrad;
using Clock = std::chrono::steady_clock;

void prepare(int4 n) {
  reset_all_modules();
  bench::SampleParameters p;
  p.offspring = n;
  p.candidates = 100;
  p.family = 10;
  p.method = 1;
  {
    std::ofstream out("kinrad2.dat", std::ios::binary);
    out << bench::simulated_project(p, "bench");
  }
  set_command_line({"VER:0"});
  readdata();
  variables.displayq = 0;
  initialize();
  dataprocess();
  initialfsprob(1, 1, variables.numloci);
}

// The search's tables for n offspring, as the run's set-up sizes them.
void allocate_tables() {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  const int4 m = n + 100;
  v.inferparent.allocate(Dim(n), Dim(2));
  v.inferparent2.allocate(Dim(n), Dim(2));
  av.indivloc1.allocate(Dim(n), Dim(4));
  av.indivloc2.allocate(Dim(n), Dim(4));
  av.indivclusterid.allocate(Dim(n), Dim(3));
  av.clustersize.allocate(Dim(6), Dim(n));
  av.clustersizet.allocate(Dim(n));
  av.familyidx2.allocate(Dim(n), Dim(2));
  av.numpartner1.allocate(Dim(1), Dim(2));
  av.parentidx1.allocate(Dim(2));
  av.parentidx2.allocate(Dim(2));
  v.parentchd.allocate(Dim(2));
  av.numfamilymember1.allocate(Dim(1));
  av.numfamilymember2.allocate(Dim(1));
  av.familymember1.allocate(Dim(1));
  av.sibloc1.allocate(Dim(0, 1));
  av.numindivlocidx.allocate(Dim(3));
  v.indivcluster.allocate(Dim(m));
  v.indivcluster1.allocate(Dim(m));
  v.indivcluster2.allocate(Dim(m));
  v.indivclustern.allocate(Dim(m));
  v.indivclusterm.allocate(Dim(m));
  v.indivclusterf.allocate(Dim(m));
  v.indivclusterindex.allocate(Dim(n));
  v.indivclusteridx.allocate(Dim(0, m));
  v.indivclusteridx.fill(-1);
  v.indivclusteridx(0) = 0;
  const int4 big = std::max(n, 100) + n;
  av.selectedprntidxq1.allocate(Dim(big));
  av.selectedprntidxq2.allocate(Dim(big));
  av.selectedprntidxq3.allocate(Dim(big));
  v.kdxtgt.allocate(Dim(big));
  v.ldxtgt.allocate(Dim(big));
  v.number1tgt.allocate(Dim(n));
  for (int4 i = 1; i <= n; ++i) v.number1tgt(i) = i;
  v.indivorder = v.number1tgt.view();
  v.setknownsibindiv.allocate(Dim(0, n), Dim(2));
  v.numbestcnd.allocate(Dim(n), Dim(2));
  v.bestcnd.allocate(Dim(n), Dim(10));
  v.prbbestcnd.allocate(Dim(n), Dim(10));
  if (!v.knownsibship.allocated()) v.knownsibship.allocate(Dim(n), Dim(2));
  if (!v.knownsibshipsize.allocated()) v.knownsibshipsize.allocate(Dim(n), Dim(2));
  if (!v.indivparent.allocated()) v.indivparent.allocate(Dim(n), Dim(2));
}

void configuration(std::mt19937& rng) {
  auto& v = variables;
  const int4 n = v.smplsize;
  const int4 nc = 100;
  std::vector<int4> fam1(static_cast<std::size_t>(n)), fam2(static_cast<std::size_t>(n));
  std::uniform_int_distribution<int4> size(1, 20), parents(1, 3);
  int4 nf = 0, nm = 0;
  for (int4 first = 1; first <= n;) {
    const int4 k = std::min(size(rng), n - first + 1);
    const int4 f = parents(rng), m = parents(rng);
    std::uniform_int_distribution<int4> df(1, f), dm(1, m);
    for (int4 i = first; i < first + k; ++i) {
      fam1[static_cast<std::size_t>(i - 1)] = nf + df(rng);
      fam2[static_cast<std::size_t>(i - 1)] = nm + dm(rng);
    }
    nf += f;
    nm += m;
    first += k;
  }
  test::set_configuration(fam1, fam2);
  setinitcluster();
  annealvariables.lastfamilyid(1) = annealvariables.lastfamilyid(2) = 0;
  std::uniform_int_distribution<int4> dc(0, nc), dcand(1, nc);
  const real8 cum[5] = {0.5, 0.7, 0.85, 0.95, 1.00000001};
  for (int4 i = 1; i <= n; ++i)
    for (int4 s = 1; s <= 2; ++s) {
      v.inferparent(i, s) = v.inferparent2(i, s) = dc(rng);
      v.numbestcnd(i, s) = 5;
      for (int4 k = 1; k <= 5; ++k) {
        v.bestcnd(i, 5 * (s - 1) + k) = static_cast<int2>(dcand(rng));
        v.prbbestcnd(i, 5 * (s - 1) + k) = cum[k - 1];
      }
    }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int4> sizes;
  for (int a = 1; a < argc; ++a) sizes.push_back(std::atoi(argv[a]));
  if (sizes.empty()) sizes = {1000, 5000, 20000};
  std::printf("%8s %10s %12s %12s %10s\n", "n", "calls", "ns/call", "ns/handover", "handover%");
  for (const int4 n : sizes) {
    prepare(n);
    allocate_tables();
    std::mt19937 rng(20240611u);
    configuration(rng);
    auto& v = variables;
    RunState rs;
    rs.cp.moveweight.allocate(Dim(n), Dim(2));
    rs.cp.moveweight.fill(1000);
    rs.cp.tmr = 10;
    annealvariables.rate = 0.5;
    rs.sched.ratiotemprature = 0.92;
    const int8 u = static_cast<int8>(n) * 100;
    rs.sched = make_schedule(n, std::log(static_cast<real8>(n)), 1, 5, 1, 0, 0, u, u);
    rs.cp.withinfactor = 0.8 * std::exp(-6.0 * v.crnumfamily(3) / static_cast<real8>(n));
    rs.locusratio =
        static_cast<real8>(v.numloci23) /
        static_cast<real8>(annealvariables.nallallele - (v.locus1.allocated() ? v.locus1(0) : 0) -
                           v.numdommarkers(1));
    v.idum3 = -12345;
    for (int4 k = 0; k < 20000; ++k) choose_move(rs);
    const int8 calls = 2000000;
    int8 handed = 0;
    const auto t0 = Clock::now();
    for (int8 k = 0; k < calls; ++k) {
      if (rs.splitside > 0) resetknownsib(rs.splitside);
      handed += choose_move(rs) ? 1 : 0;
    }
    const double ns = std::chrono::duration<double, std::nano>(Clock::now() - t0).count();
    std::printf("%8d %10lld %12.1f %12.1f %10.1f\n", n, static_cast<long long>(calls),
                ns / static_cast<double>(calls), ns / static_cast<double>(handed),
                100.0 * static_cast<double>(handed) / static_cast<double>(calls));
  }
  return 0;
}
