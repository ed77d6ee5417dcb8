#pragma once
// The engine at the program's likelihood precisions on random cyclic clusters, against the
// brute-force enumeration of the oracle (every genotype of every parent individual). One
// campaign is one marker kind in one kind of species (two sexes, or one sex); each seed's
// cluster is built and enumerated once and evaluated at precisions 0 to 3 and in exact mode.
//
// Expected values: oracle::locus_logl, a naive sum over genotypes that reads no engine table.
// The precisions set prec1..prec3 by the program's rule (precision 0: 0.05 and 0.005; precision
// k >= 1: prec1 = prec2 = 0.1^(2k), prec3 a tenth of it), written out here independently.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/oracle.hpp"
#include "support/engine_compare.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::campaign {

constexpr int kExact = 4;  // the tally index of exact mode, after precisions 0 to 3

// What one marker kind at one precision came to.
struct Tally {
  int loci = 0;          // possible loci compared
  int below001 = 0;      // more than 0.01 below the enumeration
  int below01 = 0;       // more than 0.1 below
  int impossible = 0;    // possible loci the engine called impossible
  int above = 0;         // above the enumeration beyond its rounding
  double worst = 0.0;    // largest deficit (enumeration minus engine) of a possible locus
  std::string worst_at;  // the seed and locus of the largest deficit
};

struct Campaign {
  bool one_sex = false;
  oracle::Markers markers = oracle::Markers::multi_free;
  std::array<Tally, 5> t;  // precisions 0..3, exact
};

inline void set_precision(int prec) {
  Variables& v = variables;
  if (prec == kExact) {
    oracle::exact_mode();
    return;
  }
  v.likelihoodprecision = prec;
  v.prec1 = prec < 1 ? 0.05 : std::pow(0.1, 2 * prec);
  v.prec2 = v.prec1;
  v.prec3 = prec < 1 ? 0.005 : 0.1 * v.prec1;
}

using testing_support::engine_logl;

inline int typed_offspring(const oracle::Cluster& c, int locus) {
  int n = 0;
  for (const auto& o : c.offspring)
    if (o[static_cast<size_t>(locus - 1)][0] > 0) ++n;
  return n;
}

// The cluster of one seed. Two sexes: cyclic shapes of the generator (2 x 2, 2 x 3, 3 x 3,
// ladders, two cycles, random graphs) in diploid, inbred and haplodiploid species. One sex:
// the same shapes with random individuals in both roles, a triangle A x B, B x C, C x A and the
// complete graph of four individuals (every pair a family), monoecious or selfing.
inline oracle::Cluster cluster_of(bool one_sex, oracle::Markers markers, std::uint32_t seed) {
  using oracle::Shape;
  using oracle::Species;
  const Shape shapes[] = {Shape::cycle2x2, Shape::cycle2x3,   Shape::cycle3x3,
                          Shape::ladder,   Shape::two_cycles, Shape::random_graph};
  oracle::Options o;
  o.markers = markers;
  o.loci = 3;
  o.sampled_parents = static_cast<int>(seed / 8 % 3);
  o.missing = seed % 5 == 0 ? 0.2 : 0.0;
  if (!one_sex) {
    o.shape = shapes[seed % 6];
    const Species sp[] = {Species::diploid, Species::diploid, Species::inbred,
                          Species::haplodiploid};
    o.species = sp[seed / 6 % 4];
  } else {
    const std::uint32_t k = seed % 8;
    o.species = seed / 8 % 3 == 2 ? Species::selfing : Species::monoecious;
    if (k < 6) {
      o.shape = shapes[k];
    } else if (k == 6) {
      // Triangle: individuals A (father 1, mother 3), B (father 2, mother 1), C (father 3,
      // mother 2).
      o.species = Species::monoecious;
      o.pairs = {{1, 1}, {2, 2}, {3, 3}};
      o.same = {{1, 3}, {2, 1}, {3, 2}};
    } else {
      // Complete graph of individuals 1..4: father i and mother j - 1 for i < j; individuals
      // 2 and 3 act in both roles.
      o.species = Species::monoecious;
      o.pairs = {{1, 1}, {1, 2}, {1, 3}, {2, 2}, {2, 3}, {3, 3}};
      o.same = {{2, 1}, {3, 2}};
      o.max_family = 4;
    }
  }
  return oracle::random_cluster(
      seed * 7919u + (one_sex ? 17u : 3u) + static_cast<unsigned>(markers) * 104729u, o);
}

// Runs seeds 1..seeds of the campaign. A cluster whose graph has no cycle still counts (the
// simple peeling takes it); the generator's cyclic shapes make most of them cyclic.
inline void run(Campaign& cp, std::uint32_t seeds) {
  for (std::uint32_t seed = 1; seed <= seeds; ++seed) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"precision_campaign"};
    const oracle::Cluster c = cluster_of(cp.one_sex, cp.markers, seed);
    const oracle::Built b = oracle::build(c);
    if (!b.ok) {
      ADD_FAILURE() << "seed " << seed << ": " << b.error;
      continue;
    }
    const bool selfing = c.numsex == 1 && c.allowinbreeding;
    if (selfing) selfinggen_est();
    for (int4 l = 1; l <= variables.numloci; ++l) {
      const int4 k = variables.obsnumallele(l);
      if (k < 2) continue;
      const double ref = oracle::locus_logl(c, l);
      if (ref == -1e300) continue;
      const bool codom = variables.dominantmarker(l) == 0;
      const bool errors = variables.locuserror(l) != 0;
      // Rounding of the tables: single-precision exponents in error tables and the selfed
      // absorption (1e-5 per family), the single-precision ln 2 of error-free two-allele loci.
      const int families = codom && (errors || selfing) ? static_cast<int>(c.families.size()) : 0;
      const double tol =
          oracle::tolerance(ref, k == 2 && codom && !errors ? typed_offspring(c, l) : 0, families);
      for (int prec = 0; prec <= kExact; ++prec) {
        set_precision(prec);
        const double got = engine_logl(l);
        Tally& t = cp.t[static_cast<size_t>(prec)];
        ++t.loci;
        if (got <= -1e299) {
          ++t.impossible;
          t.worst = 1e300;
          t.worst_at = "seed " + std::to_string(seed) + " locus " + std::to_string(l);
          continue;
        }
        if (got > ref + tol) ++t.above;
        const double d = ref - got;
        if (d > 0.01) ++t.below001;
        if (d > 0.1) ++t.below01;
        if (d > t.worst) {
          t.worst = d;
          t.worst_at = "seed " + std::to_string(seed) + " locus " + std::to_string(l);
        }
      }
    }
  }
}

inline const char* marker_name(oracle::Markers m) {
  switch (m) {
    case oracle::Markers::snp_free:
      return "snp_free";
    case oracle::Markers::multi_free:
      return "multi_free";
    case oracle::Markers::snp_error:
      return "snp_error";
    case oracle::Markers::multi_error:
      return "multi_error";
    case oracle::Markers::many_error:
      return "many_error";
    case oracle::Markers::dominant_free:
      return "dominant_free";
    case oracle::Markers::dominant_error:
      return "dominant_error";
  }
  return "?";
}

// One line per precision: loci, > 0.01 below, > 0.1 below, impossible, above, worst deficit.
inline void print(const Campaign& cp) {
  const char* names[] = {"0", "1", "2", "3", "exact"};
  for (int p = 0; p <= kExact; ++p) {
    const Tally& t = cp.t[static_cast<size_t>(p)];
    std::printf(
        "campaign %-7s %-14s prec %-5s loci %4d >0.01 %3d >0.1 %3d impossible %2d "
        "above %2d worst %.3g (%s)\n",
        cp.one_sex ? "one-sex" : "two-sex", marker_name(cp.markers), names[p], t.loci, t.below001,
        t.below01, t.impossible, t.above, t.worst, t.worst_at.c_str());
  }
}

}  // namespace kinrad::campaign
