// Times the dyad tables of a simulated sample: bench_dyad_tables [offspring] [loci]
// [candidates per sex]. Reports the wall time of a first calculatepairprob(1) without caches,
// the accumulation of each sib table against a plain two-locus class-table loop over a
// triangle of the same size, and the peak resident memory against the bytes of the tables.
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "input/input.hpp"
#include "model/model.hpp"
#include "pairwise/pairwise.hpp"
#include "pairwise/pairwise_internal.hpp"
#include "program/prepare_analysis.hpp"
#include "simulated_sample.hpp"

namespace {

using namespace kinrad;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

double peak_mib() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// The plain loop the table accumulation is measured against: passes of two loci, each entry
// of the triangle adding one look-up in a 16 x 16 two-locus class table.
double baseline(int n, int loci, std::vector<real4>& tri) {
  std::mt19937 rng(7);
  std::vector<std::uint16_t> cls(static_cast<std::size_t>(n));
  std::array<real4, 256> tt{};
  for (real4& x : tt) x = -static_cast<real4>(rng() % 1000) / 300.0f;
  const auto t0 = Clock::now();
  for (int pass = 0; pass < (loci + 1) / 2; ++pass) {
    for (auto& c : cls) c = static_cast<std::uint16_t>(rng() % 16);
    for (int i = 2; i <= n; ++i) {
      real4* __restrict row = tri.data() + tri_by_larger(1, i);
      const real4* trow = tt.data() + 16 * cls[static_cast<std::size_t>(i - 1)];
      const std::uint16_t* c = cls.data();
      for (int j = 0; j < i - 1; ++j) row[j] += trow[c[j]];
    }
  }
  return seconds(t0);
}

}  // namespace

int main(int argc, char** argv) {
  bench::SampleParameters p;
  p.offspring = argc > 1 ? std::atoi(argv[1]) : 1000;
  p.loci = argc > 2 ? std::atoi(argv[2]) : 200;
  p.candidates = argc > 3 ? std::atoi(argv[3]) : 100;
  p.method = 2;

  const auto dir =
      std::filesystem::temp_directory_path() / ("kinrad_bench_dyad_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::filesystem::current_path(dir);
  {
    std::ofstream out("kinrad2.dat", std::ios::binary);
    out << bench::simulated_project(p, "bench");
  }
  std::cout.setstate(std::ios::failbit);  // the program's own screen lines
  prepare_analysis({.quiet = true, .check_data = false, .tables = false, .named_phases = false});
  // The set-up builds the tables too; let it fall back at once, then time a first call.
  variables.dyadtablememorylimit = 1;
  analysis_tables();
  variables.dyadtablememorylimit = 0;
  variables.pairwiseoptionq = variables.quicksearchq = 1;
  std::cout.clear();

  const auto t0 = Clock::now();
  calculatepairprob(1);
  const double total = seconds(t0);
  const double bytes = static_cast<double>(dyad_table_bytes());
  const double peak = peak_mib();
  for (const auto& e : std::filesystem::directory_iterator(".")) std::filesystem::remove(e.path());

  // Accumulation of the sib tables alone, and the plain loop over a triangle of that size.
  const real8 x = 0.25;
  const std::array<real8, 9> fs{0, 0, 0, 0, 0, 0, 0.5 - x, 0.5, x};
  const std::array<real8, 9> hs{0, 0, 0, 0, 0, 0, 0, 1 - 2 * x, 2 * x};
  auto t1 = Clock::now();
  compute_dyad_locus2_logl(0, 1, fs, 2);
  const double fstime = seconds(t1);
  t1 = Clock::now();
  compute_dyad_locus2_logl(0, 2, hs, 2);
  const double hstime = seconds(t1);
  std::vector<real4> tri(static_cast<std::size_t>(variables.prbfstri.size()), 0.0f);
  const double base = baseline(variables.smplsize, variables.locus2(0), tri);

  std::printf("offspring %d, loci %d, candidates per sex %d\n", p.offspring, p.loci, p.candidates);
  std::printf("calculatepairprob(1), no caches: %.3f s\n", total);
  std::printf(
      "full-sib accumulation %.3f s, half-sib %.3f s, plain loop %.3f s (ratios %.2f, %.2f)\n",
      fstime, hstime, base, fstime / base, hstime / base);
  std::printf("peak resident %.1f MiB, tables %.1f MiB (ratio %.3f)\n", peak,
              bytes / (1024.0 * 1024.0), peak * 1024.0 * 1024.0 / bytes);
  std::printf("checksum %g\n", static_cast<double>(tri[tri.size() / 2]));
  std::filesystem::current_path(dir.parent_path());
  std::filesystem::remove_all(dir);
  return 0;
}
