// Best-run selection reloading a run copy of 1000 records at n = 10,000 with candidates of both
// sexes (five columns: 5 x 10^7 values read, and written again to the archive file).
// Run a Release build on one core: taskset -c 2 ./bench_selectrun
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "program/run_archive.hpp"
#include "truth_archive.hpp"

int main() {
  using namespace kinrad;
  const int n = 10000;
  bench::SampleParameters p;
  p.offspring = n;
  p.loci = 1;
  p.candidates = 200;
  bench::TruePedigree truth;
  bench::simulated_project(p, "truth", &truth);
  testing_support::archive_sample({.n = n, .ncand1 = 200, .ncand2 = 200});
  bench::load_truth_archive(truth, 999, 20, -50000.0);
  const auto dir = std::filesystem::temp_directory_path() / "kinrad_bench_selectrun";
  std::filesystem::create_directories(dir);
  std::filesystem::current_path(dir);
  variables.midfilename(2) = "bench.MidResult3";
  // Run 1's copy holds the archive; run 2's a single worse configuration.
  {
    std::ofstream out("bench.MidResult3.Run1", std::ios::binary);
    std::string line;
    for (const auto& r : testing_support::archive_records()) {
      char head[64];
      std::snprintf(head, sizeof head, "%30.20E\n", r.logl);
      out << head;
      for (const auto* col : {&r.fam1, &r.fam2, &r.clust, &r.dad, &r.mum}) {
        line.clear();
        for (int4 x : *col) line += std::to_string(x) + ",";
        out << line << "\n";
      }
    }
    std::ofstream out2("bench.MidResult3.Run2", std::ios::binary);
    out2 << "-60000\n";
  }
  testing_support::set_archive({testing_support::archive_records().back()});
  variables.numrun = 2;
  int4 firstq = 0;
  const auto t0 = std::chrono::steady_clock::now();
  selectrun(firstq);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("selectrun: %d records of %d offspring reloaded and written in %.3f s\n",
              testing_support::archive_length(), n, s);
  std::filesystem::current_path(std::filesystem::temp_directory_path());
  std::filesystem::remove_all(dir);
  return 0;
}
