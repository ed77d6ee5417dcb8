// Regrouping of the archive when offspring are also candidates: 1000 records of 20,000
// offspring (the simulated truth and perturbed copies), 2,000 offspring listed as candidates
// (1,000 per sex). Times the whole regrouping of the archive (decode, spread known parents,
// recluster, store), recluster alone, and the literal pass-by-pass merging on a few records.
// Run a Release build on one core: taskset -c 2 ./bench_recluster
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "results/results_internal.hpp"
#include "truth_archive.hpp"

namespace {

using namespace kinrad;

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The literal passes over the configuration in indivlocprt / inferparentprt (for timing).
void literal_passes() {
  const auto& v = variables;
  const int4 n = v.smplsize;
  const auto& loc = v.indivlocprt;
  int4 k = 0;
  for (int4 i = 1; i <= n; ++i) k = std::max(k, loc(i, 3));
  std::vector<std::vector<int4>> list(static_cast<std::size_t>(k) + 1);
  for (int4 i = 1; i <= n; ++i) list[static_cast<std::size_t>(loc(i, 3))].push_back(i);
  auto P = [&](int4 i, int4 s) { return v.inferparentprt(i, s); };
  int kind = 1;
  for (;;) {
    bool changed = false;
    for (int4 c = 1; c <= k; ++c) {
      auto& lc = list[static_cast<std::size_t>(c)];
      if (lc.empty()) continue;
      bool joined = false;
      for (std::size_t mi = 0; mi < lc.size() && !joined; ++mi) {
        const int4 m = lc[mi];
        for (int4 s = 1; s <= 2 && !joined; ++s) {
          int4 t =
              kind == 1 ? v.offspringincnd(m, s) : (P(m, s) < 1 ? 0 : v.cndinoffspring(P(m, s), s));
          if (t < 1) continue;
          for (int4 d = 1; d <= k && !joined; ++d) {
            auto& ld = list[static_cast<std::size_t>(d)];
            if (d == c || ld.empty()) continue;
            for (int4 m2 : ld)
              if (kind == 1 ? P(m2, s) == t : m2 == t) {
                auto& keep = list[static_cast<std::size_t>(std::min(c, d))];
                auto& gone = list[static_cast<std::size_t>(std::max(c, d))];
                std::vector<int4> joint = lc;
                joint.insert(joint.end(), ld.begin(), ld.end());
                gone.clear();
                keep = std::move(joint);
                joined = changed = true;
                break;
              }
          }
        }
      }
    }
    if (!changed) break;
    kind = 3 - kind;
  }
}

}  // namespace

int main() {
  const int n = 20000;
  bench::SampleParameters p;
  p.offspring = n;
  p.loci = 1;
  p.candidates = 1000;
  p.family = 10;
  bench::TruePedigree truth;
  bench::simulated_project(p, "truth", &truth);
  testing_support::archive_sample({.n = n, .ncand1 = 1000, .ncand2 = 1000});
  // Offspring 1..1000 are candidate fathers 1..1000, offspring 1001..2000 candidate mothers.
  for (int4 j = 1; j <= 1000; ++j) {
    testing_support::cross_list(j, 1, j);
    testing_support::cross_list(1000 + j, 2, j);
  }
  bench::load_truth_archive(truth, 999, 20, -50000.0);
  FArray<int4, 2> known = variables.indivparent.copy();

  auto t0 = std::chrono::steady_clock::now();
  regroup_archive(known, true);
  const double whole = seconds_since(t0);

  // recluster alone on the decoded records.
  auto& v = variables;
  v.indivlocprt = v.offtgt.view();
  v.inferparentprt = v.prnttgt.view();
  double alone = 0.0;
  for (Config* c = v.confighead; c != nullptr; c = c->next) {
    real8 logl = 0.0;
    decode_archived(c, logl);
    t0 = std::chrono::steady_clock::now();
    recluster();
    alone += seconds_since(t0);
  }
  const int literal_records = 3;
  double literal = 0.0;
  Config* c = v.confighead;
  for (int r = 0; r < literal_records && c != nullptr; ++r, c = c->next) {
    real8 logl = 0.0;
    decode_archived(c, logl);
    t0 = std::chrono::steady_clock::now();
    literal_passes();
    literal += seconds_since(t0);
  }
  std::printf("n = %d, %d records, 2000 offspring listed as candidates\n", n,
              testing_support::archive_length());
  std::printf("regrouping of the archive (decode, spread, recluster, store): %.3f s\n", whole);
  std::printf("recluster alone over all records: %.3f s\n", alone);
  std::printf("literal passes: %.3f s per record (%d records timed), %.0f s for 1000\n",
              literal / literal_records, literal_records, 1000 * literal / literal_records);
  return 0;
}
