#pragma once
// The true pedigree of a simulated sample as the outcome of a search: the best configuration
// and an archive of perturbed copies of it (a few offspring moved into other families per
// copy, scores decreasing), for timing the steps that run after the search. Module state of
// the sample (smplsize, numsex, candidate counts, the arrays of archive_sample) must be set.
#include <algorithm>
#include <random>
#include <unordered_map>
#include <vector>

#include "simulated_sample.hpp"
#include "support/archive_builder.hpp"

namespace kinrad::bench {

// Family ids numbered by first appearance; one parent pool numbers both columns together.
inline testing_support::ArchiveRecord truth_record(const TruePedigree& t, double logl) {
  const auto& v = variables;
  testing_support::ArchiveRecord r;
  r.logl = logl;
  std::unordered_map<int, int> ids1, ids2;
  auto& second = v.numsex == 1 ? ids1 : ids2;
  const std::size_t n = t.father.size();
  for (std::size_t i = 0; i < n; ++i) {
    const int f = t.father[i];
    const int m = t.mother[i];
    if (!ids1.count(f)) ids1[f] = static_cast<int>(ids1.size()) + 1;
    r.fam1.push_back(ids1[f]);
    if (!second.count(m)) second[m] = static_cast<int>(second.size()) + 1;
    r.fam2.push_back(second[m]);
    r.dad.push_back(v.numcandidate(1) >= t.fathercandidate[i] ? t.fathercandidate[i] : 0);
    r.mum.push_back(v.numcandidate(2) >= t.mothercandidate[i] ? t.mothercandidate[i] : 0);
  }
  r.clust = testing_support::clusters_of(r.fam1, r.fam2);
  return r;
}

// The truth as best configuration and head of an archive of 1 + copies records: copy j moves
// `moves` random offspring into the families (and parents) of other random offspring and
// scores 0.5 j below the truth.
inline void load_truth_archive(const TruePedigree& t, int copies, int moves, double logl,
                               unsigned seed = 7) {
  std::mt19937 rng(seed);
  const testing_support::ArchiveRecord best = truth_record(t, logl);
  std::vector<testing_support::ArchiveRecord> records{best};
  const int n = static_cast<int>(best.fam1.size());
  std::uniform_int_distribution<int> pick(0, n - 1);
  for (int j = 1; j <= copies; ++j) {
    testing_support::ArchiveRecord r = best;
    r.logl = logl - 0.5 * j;
    for (int k = 0; k < moves; ++k) {
      const auto a = static_cast<std::size_t>(pick(rng));
      const auto b = static_cast<std::size_t>(pick(rng));
      r.fam1[a] = r.fam1[b];
      r.fam2[a] = r.fam2[b];
      r.dad[a] = r.dad[b];
      r.mum[a] = r.mum[b];
    }
    // Moves can empty a family: ids are kept (as the search keeps gaps until it reuses them),
    // clusters are recounted.
    r.clust = testing_support::clusters_of(r.fam1, r.fam2);
    records.push_back(std::move(r));
  }
  testing_support::set_archive(records);
}

}  // namespace kinrad::bench
