// Pair and single absorption inside the layer peeling of two-sex clusters. Expected likelihoods
// come from the oracle's brute-force sum over every parent genotype, or, for chains of diamonds
// too large to enumerate, from an exact elimination along the spine written here from Mendel's
// rules, the observation model and the allele frequencies alone. Expected bookkeeping (tables,
// passes, the layer that empties the graph) is derived by hand from each shape, as described at
// each case.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/absorbvar.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/setgetgtype.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/oracle.hpp"
#include "model/model.hpp"
#include "support/engine_compare.hpp"
#include "support/module_reset.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using oracle::Cluster;
using oracle::Markers;
using oracle::Species;
using Pairs = std::vector<std::array<int, 2>>;

using testing_support::diploid_typed;
using testing_support::engine_logl;
using testing_support::SpeciesCase;

// The tolerance at a locus: the single-precision ln 2 of error-free two-allele tables, and at
// codominant loci with typing errors the single-precision exponents of every family's table.
double locus_tolerance(const Cluster& c, int4 l, double ref) {
  const int4 k = variables.obsnumallele(l);
  const bool errors = variables.locuserror(l) != 0;
  const bool single = variables.dominantmarker(l) == 0 && errors;
  const int ln2 = k == 2 && !errors ? diploid_typed(c, l) : 0;
  const int families = single ? static_cast<int>(c.families.size()) : 0;
  return oracle::tolerance(ref, ln2, families);
}

// Compares one locus with the oracle. A parent of more than 19 genotypes keeps only its 19
// heaviest in the genotype reduction before the layer peeling (the cap of the highest
// precision): there the engine may only lose probability, and little of it.
void compare_locus(const Cluster& c, int4 l, const std::string& what) {
  const double ref = oracle::locus_logl(c, l);
  const double got = engine_logl(l);
  SCOPED_TRACE(what + " locus " + std::to_string(l));
  bool capped = false;
  for (int4 p = 1; p <= variables.nallparent; ++p)
    capped = capped || likelihoodvar.hsprobdim(p) > 19;
  if (ref == -1e300) {
    EXPECT_EQ(got, -1e300);
  } else if (capped) {
    EXPECT_LE(got, ref + locus_tolerance(c, l, ref));
    EXPECT_NEAR(got, ref, 1e-2);
  } else {
    EXPECT_NEAR(got, ref, locus_tolerance(c, l, ref));
  }
}

Cluster shape_cluster(std::uint32_t seed, const Pairs& pairs, Species sp, Markers mk,
                      int sampled = 0) {
  oracle::Options o;
  o.pairs = pairs;
  o.species = sp;
  o.markers = mk;
  o.loci = 2;
  o.sampled_parents = sampled;
  o.max_family = 3;
  return oracle::random_cluster(seed, o);
}

class LayerAbsorb : public testing_support::ModuleReset {};

// --- Oracle agreement on shapes that exercise the absorption -----------------------------------

struct ShapeCase {
  const char* name;
  Pairs pairs;
};

// Shapes (fathers and mothers numbered from 1):
//  cycle2x2   two fathers sharing two mothers: one chain F1 M1 F2 M2 returning to F1, whose end
//             pair's family joins its table; the two ends are then singles and the graph empties
//             in the first pass of layer 1.
//  ring6      a 6-cycle F1 M1 F2 M2 F3 M3: one chain of six entries, stopping before F1.
//  complete2x3  every mother has two mates, every father three: the only chains have three
//             entries (dropped), the group of three mothers has no mate with one further mate.
//  linkonly   the complete 3 x 3 without F1-M3, plus F1-M4, F4-M4, F4-M3: the chain F1 M4 F4 M3
//             links F1 and M3, who have no offspring together, through its table alone.
//  linkfamily the same with F1-M3 kept: the chain's table takes that family's table once.
//  twochains  F1 with M1, M2, M3; F2 with M1, M3; F3 with M2, M3: the chains F1 M1 F2 M3 and
//             F1 M2 F3 M3 end at the same mother and give one table.
//  group3     a ring of four mothers M1 .. M4: fathers F1, F2, F3 each mated with M1 and M2,
//             F4 with M2 and M3, F5 and F6 with M3 and M4, F7 with M4 and M1. No chain exists;
//             the group F1 F2 F3 is summed out with M1 into a table between M2 and F7 (no
//             offspring together), the group F5 F6 with M3 into a table between M4 and F4.
//  ladderhub  a ladder of three fathers plus F4 mated with M1, M2, M3: M2 is conditioned at layer
//             1, the singles it leaves are absorbed and the 2 x 2 cycle left is absorbed whole
//             by layer 2 in its first pass, on each of M2's genotypes.
const ShapeCase kShapes[] = {
    {"cycle2x2", {{1, 1}, {1, 2}, {2, 1}, {2, 2}}},
    {"ring6", {{1, 1}, {2, 1}, {2, 2}, {3, 2}, {3, 3}, {1, 3}}},
    {"complete2x3", {{1, 1}, {1, 2}, {1, 3}, {2, 1}, {2, 2}, {2, 3}}},
    {"linkonly",
     {{1, 1}, {1, 2}, {2, 1}, {2, 2}, {2, 3}, {3, 1}, {3, 2}, {3, 3}, {1, 4}, {4, 4}, {4, 3}}},
    {"linkfamily",
     {{1, 1},
      {1, 2},
      {1, 3},
      {2, 1},
      {2, 2},
      {2, 3},
      {3, 1},
      {3, 2},
      {3, 3},
      {1, 4},
      {4, 4},
      {4, 3}}},
    {"twochains", {{1, 1}, {2, 1}, {1, 2}, {3, 2}, {1, 3}, {2, 3}, {3, 3}}},
    {"group3",
     {{1, 1},
      {1, 2},
      {2, 1},
      {2, 2},
      {3, 1},
      {3, 2},
      {4, 2},
      {4, 3},
      {5, 3},
      {5, 4},
      {6, 3},
      {6, 4},
      {7, 4},
      {7, 1}}},
    {"ladderhub", {{1, 1}, {1, 2}, {2, 1}, {2, 2}, {2, 3}, {3, 2}, {3, 3}, {4, 1}, {4, 2}, {4, 3}}},
};

const SpeciesCase kSpecies[] = {
    {"diploid_snp", Species::diploid, Markers::snp_free},
    {"diploid_multi", Species::diploid, Markers::multi_free},
    {"inbred_snp", Species::inbred, Markers::snp_free},
    {"inbred_multi", Species::inbred, Markers::multi_free},
    {"haplodiploid_snp", Species::haplodiploid, Markers::snp_free},
    {"haplodiploid_multi", Species::haplodiploid, Markers::multi_free},
    {"diploid_snp_error", Species::diploid, Markers::snp_error},
    {"diploid_multi_error", Species::diploid, Markers::multi_error},
    {"haplodiploid_multi_error", Species::haplodiploid, Markers::multi_error},
    {"diploid_dominant", Species::diploid, Markers::dominant_free},
    {"diploid_dominant_error", Species::diploid, Markers::dominant_error},
};

TEST_F(LayerAbsorb, TargetedShapesMatchTheOracle) {
  for (const ShapeCase& sh : kShapes) {
    for (const SpeciesCase& sc : kSpecies) {
      for (std::uint32_t seed = 1; seed <= 6; ++seed) {
        reset_all_modules();
        testing_support::TempWorkDir dir{"layer_absorb"};
        const Cluster c = shape_cluster(seed * 7919u + 11u, sh.pairs, sc.species, sc.markers,
                                        static_cast<int>(seed % 3));
        ASSERT_TRUE(oracle::build(c).ok);
        oracle::exact_mode();
        const std::string what =
            std::string(sh.name) + " " + sc.name + " seed " + std::to_string(seed);
        for (int4 l = 1; l <= variables.numloci; ++l)
          if (variables.obsnumallele(l) >= 2) compare_locus(c, l, what);
        if (HasFailure()) return;
      }
    }
  }
}

// --- Bookkeeping of the layers on the shapes above --------------------------------------------

// A diploid cluster of the shape, every offspring typed, one locus; evaluated once against the
// oracle, which leaves the absorption state of that evaluation.
Cluster evaluate_shape(const Pairs& pairs, std::uint32_t seed, Markers mk = Markers::snp_free,
                       int4 limit = 200) {
  oracle::Options o;
  o.pairs = pairs;
  o.markers = mk;
  o.loci = 1;
  o.max_family = 3;
  const Cluster c = oracle::random_cluster(seed, o);
  EXPECT_TRUE(oracle::build(c).ok);
  oracle::exact_mode();
  absorbvar.fsprob2limit = limit;
  compare_locus(c, 1, "bookkeeping seed " + std::to_string(seed));
  return c;
}

const Pairs& shape(const char* name) {
  for (const ShapeCase& s : kShapes)
    if (std::string(s.name) == name) return s.pairs;
  static const Pairs none;
  return none;
}

// At every marker case: the graph, not the locus, decides the absorption.
TEST_F(LayerAbsorb, TwoByTwoCycleIsAbsorbedInTheFirstPassOfLayerOne) {
  const Markers markers[] = {Markers::snp_free,      Markers::multi_free, Markers::snp_error,
                             Markers::multi_error,   Markers::many_error, Markers::dominant_free,
                             Markers::dominant_error};
  for (std::uint32_t seed = 1; seed <= 21; ++seed) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"layer_absorb"};
    evaluate_shape(shape("cycle2x2"), seed, markers[seed % 7]);
    const Absorbvar& ab = absorbvar;
    EXPECT_EQ(likelihoodvar.allabsorbedlayer, 1);
    EXPECT_EQ(ab.allabsorbedpass, 1);
    EXPECT_EQ(ab.changedpairiter(1), 1);
    EXPECT_EQ(ab.changedpairid(0, 1), 1);                   // one table
    EXPECT_LE(ab.changedpairid(1, 1), 4);                   // on the end pair's own family
    EXPECT_EQ(ab.listdim(1), 4);                            // stopped before its start father
    EXPECT_EQ(ab.changedpairq(ab.changedpairid(1, 1)), 0);  // cleared after the layer
  }
}

TEST_F(LayerAbsorb, ChainStopsBeforeItsStartFather) {
  testing_support::TempWorkDir dir{"layer_absorb"};
  evaluate_shape(shape("ring6"), 3);
  const Absorbvar& ab = absorbvar;
  EXPECT_EQ(ab.listdim(1), 6);  // F1 M1 F2 M2 F3 M3, not F1 again
  EXPECT_EQ(ab.changedpairid(0, 1), 1);
  EXPECT_EQ(likelihoodvar.allabsorbedlayer, 1);
  EXPECT_EQ(ab.allabsorbedpass, 1);
}

// Only chains of three entries exist: the first pass makes no table, so the layer records zero
// passes and runs no single absorption (its record of singles is not written on a revisit
// either).
TEST_F(LayerAbsorb, ThreeEntryChainsAreNeverAbsorbed) {
  testing_support::TempWorkDir dir{"layer_absorb"};
  const Cluster c = evaluate_shape(shape("complete2x3"), 5);
  Absorbvar& ab = absorbvar;
  EXPECT_EQ(ab.changedpairiter(1), 0);
  EXPECT_EQ(ab.listdim(1), 0);
  EXPECT_EQ(ab.changedpairid(0, 1), 0);
  EXPECT_EQ(likelihoodvar.allabsorbedlayer, 0);
  ab.absorbsingleid(1, 1) = -5;
  compare_locus(c, 1, "again");
  EXPECT_EQ(ab.absorbsingleid(1, 1), -5);
}

TEST_F(LayerAbsorb, ChainLinksEndParentsWithoutOffspringThroughItsTable) {
  testing_support::TempWorkDir dir{"layer_absorb"};
  evaluate_shape(shape("linkonly"), 7);
  const Absorbvar& ab = absorbvar;
  EXPECT_EQ(ab.changedpairid(0, 1), 1);
  EXPECT_GT(ab.changedpairid(1, 1), variables.numfsibship);  // F1 and M3 have no family
  EXPECT_EQ(ab.changedpairiter(1), 1);                       // the second pass finds no chain
  EXPECT_EQ(ab.listdim(1), 4);
}

TEST_F(LayerAbsorb, ChainEndingAtAFamilyTakesItsTableOnce) {
  testing_support::TempWorkDir dir{"layer_absorb"};
  evaluate_shape(shape("linkfamily"), 9);
  const Absorbvar& ab = absorbvar;
  EXPECT_EQ(ab.changedpairid(0, 1), 1);
  EXPECT_LE(ab.changedpairid(1, 1), variables.numfsibship);
}

TEST_F(LayerAbsorb, TwoChainsOfOneFatherToOneMotherGiveOneTable) {
  for (std::uint32_t seed = 1; seed <= 6; ++seed) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"layer_absorb"};
    evaluate_shape(shape("twochains"), seed, seed % 2 ? Markers::snp_free : Markers::multi_free);
    const Absorbvar& ab = absorbvar;
    EXPECT_EQ(ab.changedpairid(0, 1), 1);
    EXPECT_EQ(ab.listdim(2), 2);  // two chains of F1
    EXPECT_EQ(likelihoodvar.allabsorbedlayer, 1);
    EXPECT_EQ(ab.allabsorbedpass, 1);
  }
}

TEST_F(LayerAbsorb, GroupsOfParallelParentsAreSummedOut) {
  for (std::uint32_t seed = 1; seed <= 6; ++seed) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"layer_absorb"};
    evaluate_shape(shape("group3"), seed, seed % 2 ? Markers::snp_free : Markers::multi_free);
    const Absorbvar& ab = absorbvar;
    EXPECT_EQ(ab.changedpairiter(1), 0);
    EXPECT_EQ(ab.doubleabsorb(1, 1), 1);
    EXPECT_EQ(ab.doubleabsorb(2, 1), 0);
    EXPECT_EQ(ab.listdim(3), 7);           // every father has two mates
    EXPECT_EQ(ab.changedpairid(0, 1), 2);  // F1 F2 F3 with M1, then F5 F6 with M3
    EXPECT_GT(ab.changedpairid(1, 1), variables.numfsibship);
    EXPECT_GT(ab.changedpairid(2, 1), variables.numfsibship);
  }
}

// Layer 2 empties the graph in its first pass on each genotype of the mother conditioned at
// layer 1; later visits replay that one pass.
TEST_F(LayerAbsorb, LayerEmptiedInAPassRecordsIt) {
  for (std::uint32_t seed = 1; seed <= 6; ++seed) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"layer_absorb"};
    evaluate_shape(shape("ladderhub"), seed, seed % 2 ? Markers::snp_free : Markers::multi_free);
    const Absorbvar& ab = absorbvar;
    EXPECT_EQ(ab.changedpairiter(1), 0);
    EXPECT_EQ(likelihoodvar.allabsorbedlayer, 2);
    EXPECT_EQ(ab.allabsorbedpass, 1);
    EXPECT_EQ(ab.changedpairiter(2), 1);
    EXPECT_EQ(ab.changedpairstart(2), 0);
  }
}

// The ring of group3 with a mother M5 mated with all seven fathers: M5 is conditioned at layer
// 1 (seven mates) and layer 2 sums both groups out on each of her genotypes, the later visits
// replaying the groups the first one found.
TEST_F(LayerAbsorb, GroupsReplayedOnLaterVisits) {
  Pairs pairs = shape("group3");
  for (int f = 1; f <= 7; ++f) pairs.push_back({f, 5});
  for (std::uint32_t seed = 1; seed <= 2; ++seed) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"layer_absorb"};
    evaluate_shape(pairs, seed);
    const Absorbvar& ab = absorbvar;
    EXPECT_EQ(ab.doubleabsorb(1, 1), 0);
    EXPECT_EQ(ab.doubleabsorb(1, 2), 1);
    EXPECT_EQ(ab.changedpairid(0, 2), 2);
  }
}

// With the tables along a descent limited below what the shape would use, the rest is left to
// conditioning and the value stays the oracle's. (At the allotted number of tables, the smaller
// of families div 2 + 1 and 200, no cluster of fewer than 400 families can run out: every table
// removes at least two links of the graph.)
TEST_F(LayerAbsorb, TableLimitLeavesTheRestToConditioning) {
  for (int limit = 0; limit <= 2; ++limit) {
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
      reset_all_modules();
      testing_support::TempWorkDir dir{"layer_absorb"};
      evaluate_shape(shape(seed % 2 ? "group3" : "twochains"), seed, Markers::multi_free, limit);
      EXPECT_EQ(absorbvar.fsprob2cap, limit);
      EXPECT_LE(absorbvar.changedpairid(0, 1), limit);
    }
  }
}

// --- Chains of diamonds, against elimination along the spine ---------------------------------

// Spine fathers 1..n; between spine fathers i and i + 1 (and n and 1 in a ring) a group of two
// or three mothers mated with both when i is odd, a single mother mated with both when i is even.
struct Diamonds {
  Pairs pairs;
  int nspine = 0;
  bool ring = false;
  std::vector<std::vector<int>> links;  // mothers of link i (between spine i and i + 1)
};

Diamonds diamonds(int nspine, bool ring, std::uint32_t seed) {
  Diamonds d;
  d.nspine = nspine;
  d.ring = ring;
  int mother = 0;
  const int nlinks = ring ? nspine : nspine - 1;
  for (int i = 1; i <= nlinks; ++i) {
    const int next = i % nspine + 1;
    const int size = i % 2 == 1 ? 2 + static_cast<int>((seed + static_cast<unsigned>(i)) % 2) : 1;
    std::vector<int> ms;
    for (int k = 0; k < size; ++k) {
      ++mother;
      ms.push_back(mother);
      d.pairs.push_back({i, mother});
      d.pairs.push_back({next, mother});
    }
    d.links.push_back(ms);
  }
  return d;
}

// The exact locus log likelihood of a diamond cluster of untyped, non-inbred diploid parents at
// a two-allele locus: each link's mothers summed out given its two spine fathers (a 3 x 3
// matrix), then the spine summed along (open) or as a trace (ring).
// kept(sex, index) lists the genotypes (0: 11, 1: 12, 2: 22) each parent may take; an empty
// function keeps all three.
using Kept = std::function<bool(int sex, int index, int g)>;

double eliminate(const Cluster& c, const Diamonds& d, int4 locus, const Kept& kept = {}) {
  const Variables& v = variables;
  using G = std::array<int, 2>;
  const G gt[3] = {{1, 1}, {1, 2}, {2, 2}};
  const double p = v.obsallelefre(locus).a(1);
  const double q = v.obsallelefre(locus).a(2);
  const double prior[3] = {p * p, 2 * p * q, q * q};
  // Offspring observations at the locus, decoded from the packed column.
  setgetgtype.locusgtypeptr = v.indivgtype2(locus).a;
  auto observed = [&](int m, int4 o[2]) {
    int2 g = 0;
    getgtype(g, m, 2);
    if (g <= 0) return false;
    o[0] = g == 2 ? 2 : 1;
    o[1] = g == 1 ? 1 : 2;
    return true;
  };
  // Factor of family (father, mother) per genotype pair.
  auto family = [&](int father, int mother, int a, int b) {
    for (const oracle::Family& f : c.families) {
      if (f.father != father || f.mother != mother) continue;
      double prod = 1.0;
      for (int m : f.members) {
        int4 o[2];
        if (!observed(m, o)) continue;
        double s = 0.0;
        for (int i = 0; i < 2; ++i) {
          for (int j = 0; j < 2; ++j) {
            int t1 = gt[a][static_cast<size_t>(i)], t2 = gt[b][static_cast<size_t>(j)];
            if (t1 > t2) std::swap(t1, t2);
            s += 0.25 * prbgtop(t1, t2, o, locus);
          }
        }
        prod *= s;
      }
      return prod;
    }
    return 1.0;
  };
  double logscale = 0.0;
  using M3 = std::array<std::array<double, 3>, 3>;
  auto allowed = [&](int sex, int index, int g) { return !kept || kept(sex, index, g); };
  auto link_matrix = [&](int i) {
    const int s1 = i, s2 = i % d.nspine + 1;
    M3 m{};
    for (int a = 0; a < 3; ++a) {
      for (int b = 0; b < 3; ++b) {
        double prod = 1.0;
        for (int mo : d.links[static_cast<size_t>(i - 1)]) {
          double s = 0.0;
          for (int g = 0; g < 3; ++g)
            if (allowed(2, mo, g)) s += prior[g] * family(s1, mo, a, g) * family(s2, mo, b, g);
          prod *= s;
        }
        m[static_cast<size_t>(a)][static_cast<size_t>(b)] = prod;
      }
    }
    return m;
  };
  // The spine fathers' priors, zero where a genotype is not kept.
  auto spine_prior = [&](int i, int g) { return allowed(1, i, g) ? prior[g] : 0.0; };
  if (!d.ring) {
    std::array<double, 3> x{spine_prior(1, 0), spine_prior(1, 1), spine_prior(1, 2)};
    for (int i = 1; i < d.nspine; ++i) {
      const M3 m = link_matrix(i);
      std::array<double, 3> y{};
      double sum = 0.0;
      for (int b = 0; b < 3; ++b) {
        for (int a = 0; a < 3; ++a)
          y[static_cast<size_t>(b)] +=
              x[static_cast<size_t>(a)] * m[static_cast<size_t>(a)][static_cast<size_t>(b)];
        y[static_cast<size_t>(b)] *= spine_prior(i + 1, b);
        sum += y[static_cast<size_t>(b)];
      }
      if (!(sum > 0.0)) return -1e300;
      for (int b = 0; b < 3; ++b) x[static_cast<size_t>(b)] = y[static_cast<size_t>(b)] / sum;
      logscale += std::log(sum);
    }
    return logscale;  // x sums to 1
  }
  M3 prod{};
  for (int a = 0; a < 3; ++a) prod[static_cast<size_t>(a)][static_cast<size_t>(a)] = 1.0;
  for (int i = 1; i <= d.nspine; ++i) {
    const M3 m = link_matrix(i);
    M3 next{};
    double big = 0.0;
    for (int a = 0; a < 3; ++a) {
      for (int b = 0; b < 3; ++b) {
        double s = 0.0;
        for (int k = 0; k < 3; ++k)
          s += prod[static_cast<size_t>(a)][static_cast<size_t>(k)] * spine_prior(i, k) *
               m[static_cast<size_t>(k)][static_cast<size_t>(b)];
        next[static_cast<size_t>(a)][static_cast<size_t>(b)] = s;
        big = std::max(big, s);
      }
    }
    if (!(big > 0.0)) return -1e300;
    for (auto& row : next)
      for (double& e : row) e /= big;
    logscale += std::log(big);
    prod = next;
  }
  const double trace = prod[0][0] + prod[1][1] + prod[2][2];
  if (!(trace > 0.0)) return -1e300;
  return logscale + std::log(trace);
}

struct DiamondCase {
  int nspine;
  bool ring;
  Markers markers;
};

TEST_F(LayerAbsorb, DiamondChainsMatchEliminationAlongTheSpine) {
  const DiamondCase cases[] = {{4, false, Markers::snp_free},   {5, false, Markers::snp_free},
                               {4, true, Markers::snp_free},    {12, true, Markers::snp_free},
                               {21, false, Markers::snp_free},  {30, true, Markers::snp_free},
                               {60, false, Markers::snp_free},  {60, true, Markers::snp_free},
                               {6, true, Markers::snp_error},   {20, false, Markers::snp_error},
                               {60, false, Markers::snp_error}, {60, true, Markers::snp_error}};
  for (const DiamondCase& dc : cases) {
    for (std::uint32_t seed = 1; seed <= 3; ++seed) {
      reset_all_modules();
      testing_support::TempWorkDir dir{"layer_absorb"};
      const Diamonds d = diamonds(dc.nspine, dc.ring, seed);
      oracle::Options o;
      o.pairs = d.pairs;
      o.markers = dc.markers;
      o.loci = 2;
      o.max_family = 3;
      const Cluster c = oracle::random_cluster(seed * 131u + static_cast<unsigned>(dc.nspine), o);
      ASSERT_TRUE(oracle::build(c).ok);
      oracle::exact_mode();
      for (int4 l = 1; l <= variables.numloci; ++l) {
        SCOPED_TRACE(std::to_string(dc.nspine) + (dc.ring ? " ring" : " open") + " seed " +
                     std::to_string(seed) + " locus " + std::to_string(l));
        ASSERT_EQ(variables.obsnumallele(l), 2);
        const double got = engine_logl(l);
        // The elimination sums over the genotypes the reduction before the layer peeling kept,
        // read from its lists: above 20 parents in the smaller sex it drops one homozygote of
        // every parent whose three genotypes all weigh (both above 30); otherwise it drops only
        // genotypes of no weight.
        const Likelihoodvar& lv = likelihoodvar;
        // The program's numbering of the parents, through the families' first members.
        std::vector<int> number[3];
        number[1].assign(c.fathers.size() + 1, 0);
        number[2].assign(c.mothers.size() + 1, 0);
        for (int4 f = 1; f <= variables.numfsibship; ++f) {
          const int first = lv.familyindiv(variables.familyindivloc(f - 1) + 1);
          for (const oracle::Family& cf : c.families) {
            if (std::find(cf.members.begin(), cf.members.end(), first) == cf.members.end())
              continue;
            number[1][static_cast<size_t>(cf.father)] = lv.clusterfamily(1, f);
            number[2][static_cast<size_t>(cf.mother)] = lv.clusterfamily(2, f);
          }
        }
        const Kept kept = [&](int sex, int index, int g) {
          const int4 p = variables.npstartloc1(sex) + number[sex][static_cast<size_t>(index)];
          if (lv.selectedpnum(p) == 0) return true;  // summed out before the layer stage
          for (int4 i = 1; i <= lv.selectedpnum(p); ++i)
            if (lv.idxselectedp(i, p) == g + 1) return true;
          return false;
        };
        const double ref = eliminate(c, d, l, kept);
        // At most 20 the genotypes dropped weigh nothing: the sum is the exact one.
        if (variables.numparent(1) <= 20 && ref != -1e300) {
          EXPECT_NEAR(eliminate(c, d, l), ref, locus_tolerance(c, l, ref));
        }
        if (ref == -1e300) {
          EXPECT_EQ(got, -1e300);
        } else {
          EXPECT_NEAR(got, ref, locus_tolerance(c, l, ref));
        }
      }
    }
  }
}

// The elimination itself against the brute-force sum, on diamonds small enough to enumerate.
TEST_F(LayerAbsorb, EliminationAgreesWithEnumerationOnSmallDiamonds) {
  for (const bool ring : {false, true}) {
    for (std::uint32_t seed = 1; seed <= 3; ++seed) {
      reset_all_modules();
      testing_support::TempWorkDir dir{"layer_absorb"};
      const Diamonds d = diamonds(4, ring, seed);
      oracle::Options o;
      o.pairs = d.pairs;
      o.markers = Markers::snp_free;
      o.loci = 1;
      o.max_family = 2;
      o.markers = seed == 3 ? Markers::snp_error : Markers::snp_free;
      const Cluster c = oracle::random_cluster(seed + 77u, o);
      ASSERT_TRUE(oracle::build(c).ok);
      const double ref = oracle::locus_logl(c, 1);
      EXPECT_NEAR(eliminate(c, d, 1), ref, 1e-10 * std::max(1.0, std::fabs(ref)));
    }
  }
}

}  // namespace
}  // namespace kinrad
