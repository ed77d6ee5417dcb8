// Posterior genotypes of parents and offspring. Expected parent posteriors are the oracle's exact
// marginals (the parent's genotype fixed in turn, every other parent summed out by enumeration,
// times the prior and the parent's own observation, normalised); expected offspring posteriors
// apply the transmission-vector formula (each parent's allele transmission from its posterior,
// their product over ordered allele pairs, times the offspring's observation probability,
// normalised) to those exact marginals, except in a lone full-sib family whose parents show
// nothing, where they are the exact posteriors by enumeration over the parental pairs. Small
// cases are derived by hand where stated.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/setgetgtype.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "core/sorting.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/oracle.hpp"
#include "model/model.hpp"
#include "support/engine_compare.hpp"
#include "support/seed_budget.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using oracle::Cluster;
using oracle::Genotype;
using oracle::Markers;
using oracle::Shape;
using oracle::Species;

// The configuration the results read: each offspring's parents as family numbers of its sex.
FArray<int4, 2> configuration;

int pair_index(int a, int b, int n) {
  if (a > b) std::swap(a, b);
  return (a - 1) * n - (a - 1) * (a - 2) / 2 + (b - a + 1);
}

// Allocates the result arrays the way the results do and aims the configuration at the cluster.
void allocate_results(const Cluster& c) {
  Variables& v = variables;
  const int4 ne = v.numestgenotype;
  const int4 np = static_cast<int4>(std::max(c.fathers.size(), c.mothers.size()));
  v.estprntgtype.allocate(Dim(2), Dim(ne), Dim(np), Dim(2));
  v.estprntgtypeprb.allocate(Dim(ne), Dim(np), Dim(2));
  v.estchildgtype.allocate(Dim(2), Dim(ne), Dim(v.smplsize));
  v.estchildgtypeprb.allocate(Dim(ne), Dim(v.smplsize));
  v.prntglogl.allocate(Dim(2), Dim(2), Dim(3));
  v.prntglogl.fill(1.0);
  configuration.allocate(Dim(v.smplsize), Dim(3));
  for (const oracle::Family& f : c.families) {
    for (int m : f.members) {
      configuration(m, 1) = f.father;
      configuration(m, 2) = f.mother;
    }
  }
  v.indivlocprt = configuration.view();
}

// Runs the inference at a locus; the allele counts are returned.
std::vector<double> infer(int4 locus, int4 countflag = 1, int4 prntflag = 1, int4 flag2 = 0) {
  const int4 n = variables.obsnumallele(locus);
  std::vector<double> counts(static_cast<size_t>(n), -7.0);
  int4 status = 0;
  preparevariable(status, 0, locus, 0);
  EXPECT_EQ(status, 0);
  genotypeinference(locus, countflag, prntflag, counts, n, flag2);
  return counts;
}

// The engine's whole posterior vector of a parent after a call at a locus of n alleles
// (genotype order of the locus), from its retained work vector.
std::vector<double> engine_posterior(int s, int i, int n, bool haploid) {
  const int4 j = variables.npstartloc1(s) + i;
  const size_t ngd = size_t(n * (n + 1) / 2);
  const real8* w = likelihoodvar.infer_post.data() + size_t(j - 1) * (ngd + 1);
  return std::vector<double>(w + 1, w + 1 + (haploid ? size_t(n) : ngd));
}

// Tolerance on a posterior probability: 2e-6 relative where the locus likelihood is exact (the
// results are 4-byte reals). At loci of 3 or more alleles with typing errors the locus
// likelihood itself is exact only to about 1e-5 per family (the full-sib tables' pair masks
// and floors), and a parent fixed at an allele its family lists do not hold is evaluated
// through the pooled class, which ignores error paths between two unlisted alleles (values of
// order 1e-8); masks judging a parent pair by its offspring alone drop pairs worth up to ~1e-7
// of an unlikely genotype's posterior: there the tolerance grows with the number of families.
// In a cluster with cycles the layer peeling's locus likelihood at such loci meets the oracle's
// only to 1e-5 per family in ln L (its single-precision exponents); a genotype's share of the
// likelihood carries that error, so there the absolute tolerance is 1e-5 per family.
double rel_tol = 2e-6;
double abs_tol = 1e-13;
double tol(double x) {
  return rel_tol * std::fabs(x) + abs_tol;
}

std::vector<double> sorted_desc(std::vector<double> x) {
  std::sort(x.begin(), x.end(), [](double a, double b) { return a > b; });
  return x;
}

// Genotype g of the locus order as alleles (haploid: the allele, 0).
Genotype alleles_of(int g, int n, bool haploid) {
  if (haploid) return {g, 0};
  int a = 1;
  int r = g;
  while (r > n - a + 1) {
    r -= n - a + 1;
    ++a;
  }
  return {a, a + r - 1};
}

// Checks the stored alternatives of one individual against its expected posterior vector.
template <class Prob, class Allele>
void check_stored(const std::vector<double>& expect, int n, bool haploid, bool child_haploid,
                  Prob prob, Allele allele, const std::string& what) {
  const int ne = variables.numestgenotype;
  const std::vector<double> top = sorted_desc(expect);
  double last = 2.0;
  for (int k = 1; k <= ne; ++k) {
    SCOPED_TRACE(what + " place " + std::to_string(k));
    const double p = prob(k);
    const double x = k <= static_cast<int>(top.size()) ? top[static_cast<size_t>(k - 1)] : 0.0;
    EXPECT_NEAR(p, x, tol(x));
    EXPECT_LE(p, last * (1 + 1e-6) + 1e-30);
    last = p;
    const int a = allele(1, k), b = allele(2, k);
    if (x > 1.001e-5) {
      ASSERT_GT(a, 0);
      const int g = child_haploid ? a : pair_index(a, haploid ? a : b, n);
      const int gi = haploid ? a : g;
      EXPECT_NEAR(p, expect[static_cast<size_t>(gi - 1)], tol(p));
      if (haploid && !child_haploid) {
        EXPECT_EQ(b, 0);
      }
      if (child_haploid) {
        EXPECT_EQ(b, a);
      }
    } else if (x < 0.999e-5) {
      EXPECT_EQ(a, 0);
      EXPECT_EQ(b, 0);
    }
  }
}

bool parent_haploid(const Cluster& c, int s) {
  return s == 1 && c.haplodiploid;
}

// Compares every parent and offspring of the cluster at a locus with the oracle; returns the
// number of parents compared.
int compare_locus(const Cluster& c, int4 locus, const std::string& what, bool cyclic = false) {
  Variables& v = variables;
  const int n = v.obsnumallele(locus);
  const bool loose = n > 2 && v.locuserror(locus) != 0;
  rel_tol = loose ? 2e-5 * static_cast<double>(c.families.size()) : 2e-6;
  abs_tol = loose ? (cyclic ? 1e-5 : 1e-6) * static_cast<double>(c.families.size()) : 1e-13;
  const std::vector<double> counts = infer(locus);
  std::vector<std::vector<double>> marg[3];
  int compared = 0;
  std::vector<double> expected_counts(static_cast<size_t>(n), 0.0);
  for (int s = 1; s <= 2; ++s) {
    const int np = static_cast<int>(s == 1 ? c.fathers.size() : c.mothers.size());
    marg[s].resize(static_cast<size_t>(np + 1));
    for (int i = 1; i <= np; ++i) {
      const std::string w = what + " sex " + std::to_string(s) + " parent " + std::to_string(i);
      SCOPED_TRACE(w);
      std::vector<double> m = oracle::parent_marginal(c, locus, s, i);
      if (m.empty()) return compared;  // an impossible locus
      const bool haploid = parent_haploid(c, s);
      check_stored(
          m, n, haploid, false, [&](int k) { return v.estprntgtypeprb(k, i, s); },
          [&](int r, int k) { return static_cast<int>(v.estprntgtype(r, k, i, s)); }, w);
      const std::vector<double> got = engine_posterior(s, i, n, haploid);
      EXPECT_EQ(got.size(), m.size());
      for (size_t g = 0; g < std::min(m.size(), got.size()); ++g) {
        SCOPED_TRACE("genotype " + std::to_string(g + 1));
        EXPECT_NEAR(got[g], m[g], tol(m[g]));
      }
      // Counted parents: not a sex-1 parent of sons only, not the second role of a monoecious
      // individual.
      bool counted = true;
      if (s == 1 && c.haplodiploid) {
        bool daughters = false;
        for (const oracle::Family& f : c.families)
          if (f.father == i)
            for (int x : f.members) daughters = daughters || c.offploid[size_t(x - 1)] == 2;
        counted = daughters;
      }
      for (const auto& same : c.same) counted = counted && !(s == 2 && same[1] == i);
      if (counted) {
        for (size_t g = 0; g < m.size(); ++g) {
          const Genotype al = alleles_of(static_cast<int>(g + 1), n, haploid);
          expected_counts[size_t(al[0] - 1)] += m[g];
          if (!haploid) expected_counts[size_t(al[1] - 1)] += m[g];
        }
      }
      marg[s][size_t(i)] = std::move(m);
      ++compared;
    }
  }
  // The counts add to 2 per counted diploid parent and 1 per counted haploid one.
  double total = 0.0, expected_total = 0.0;
  for (int a = 0; a < n; ++a) {
    total += counts[size_t(a)];
    expected_total += expected_counts[size_t(a)];
  }
  EXPECT_NEAR(total, std::round(expected_total), 1e-9 * std::max(1.0, total)) << what;
  for (int a = 0; a < n; ++a) {
    SCOPED_TRACE(what + " allele count " + std::to_string(a + 1));
    EXPECT_NEAR(counts[size_t(a)], expected_counts[size_t(a)],
                rel_tol * std::max(1.0, expected_counts[size_t(a)]));
  }

  // Offspring: the transmission formula applied to the exact parent marginals.
  const bool errorfree = v.locuserror(locus) == 0;
  const bool dominant = v.dominantmarker(locus) != 0;
  auto transmission = [&](const std::vector<double>& m, bool haploid) {
    std::vector<double> t(static_cast<size_t>(n), 0.0);
    for (size_t g = 0; g < m.size(); ++g) {
      const double x = m[g] > 1e-300 ? m[g] : 0.0;
      const Genotype al = alleles_of(static_cast<int>(g + 1), n, haploid);
      if (haploid || al[0] == al[1]) {
        t[size_t(al[0] - 1)] += x;
      } else {
        t[size_t(al[0] - 1)] += 0.5 * x;
        t[size_t(al[1] - 1)] += 0.5 * x;
      }
    }
    for (double& x : t)
      if (x < 1e-10) x = 0.0;
    return t;
  };
  // A lone full-sib family of a diploid species without selfing whose two parents show nothing
  // at the locus (no candidate typed there) and some offspring is typed: the parents are told
  // apart only by their offspring, so the offspring prior comes from the parents' joint
  // posterior, by enumeration over the pairs of parental genotypes: the pair's prior weights
  // and the whole family's term (the oracle's) give the pair's posterior weight, and the prior
  // of a genotype is the weighted chance that the pair gives it; each offspring's posterior is
  // that prior times its observation probability, normalised.
  const bool selfing = c.numsex == 1 && c.allowinbreeding;
  auto untyped_at = [&](const oracle::Parent& p) {
    return p.candidate == 0 || p.genotype.size() < size_t(locus) ||
           p.genotype[size_t(locus - 1)][0] == 0;
  };
  bool lone = c.families.size() == 1 && c.fathers.size() == 1 && c.mothers.size() == 1 &&
              !c.haplodiploid && !selfing && c.same.empty() && untyped_at(c.fathers[0]) &&
              untyped_at(c.mothers[0]);
  bool typed_member = false;
  auto observed = [&](int o, int4 og[2]) {
    setgetgtype.locusgtypeptr = v.indivgtype2(locus).a;
    int2 code = 0;
    getgtype(code, o, n);
    og[0] = og[1] = 0;
    if (code <= 0) return;
    if (dominant) {
      og[0] = code;
    } else if (n <= 2) {
      og[0] = code == 1 || code == 2 ? code : 1;
      og[1] = code == 1 || code == 2 ? code : 2;
    } else {
      og[0] = v.genotypeid(1, code);
      og[1] = v.genotypeid(2, code);
    }
  };
  if (lone)
    for (int o : c.families[0].members) {
      int4 og[2];
      observed(o, og);
      typed_member = typed_member || og[0] > 0;
    }
  lone = lone && typed_member;
  std::vector<std::vector<double>> lone_post;  // by member position
  if (lone) {
    const oracle::LocusTerms lt = oracle::locus_terms(c, locus);
    const auto& fam = lt.families[0];
    const auto& pf = lt.people[size_t(fam.father)];
    const auto& pm = lt.people[size_t(fam.mother)];
    const int ngd = n * (n + 1) / 2;
    auto obsprob = [&](int o, int g) {
      int4 og[2];
      observed(o, og);
      if (og[0] <= 0) return 1.0;
      const Genotype al = alleles_of(g, n, false);
      const int4 oo[2] = {og[0], dominant ? 0 : og[1]};
      return prbgtop(al[0], al[1], oo, locus);
    };
    for (int o : c.families[0].members) {
      std::vector<double> e(size_t(ngd), 0.0);
      double top = -1e300;
      std::vector<double> lw(pf.g.size() * pm.g.size(), -1e300);
      for (size_t x = 0; x < pf.g.size(); ++x)
        for (size_t y = 0; y < pm.g.size(); ++y) {
          const double t = fam.logtab[x * pm.g.size() + y];
          if (!(t > -1e300) || !(pf.logw[x] > -1e300) || !(pm.logw[y] > -1e300)) continue;
          lw[x * pm.g.size() + y] = pf.logw[x] + pm.logw[y] + t;
          top = std::max(top, lw[x * pm.g.size() + y]);
        }
      for (size_t x = 0; x < pf.g.size(); ++x)
        for (size_t y = 0; y < pm.g.size(); ++y) {
          const double l = lw[x * pm.g.size() + y];
          if (!(l > -1e300)) continue;
          const Genotype gf = alleles_of(int(x) + 1, n, false),
                         gm = alleles_of(int(y) + 1, n, false);
          for (int u : gf)
            for (int k : gm) e[size_t(pair_index(u, k, n) - 1)] += 0.25 * std::exp(l - top);
        }
      double sum = 0.0;
      for (int g = 1; g <= ngd; ++g) {
        e[size_t(g - 1)] *= obsprob(o, g);
        sum += e[size_t(g - 1)];
      }
      for (double& x : e) x /= sum;
      lone_post.push_back(std::move(e));
    }
  }
  for (const oracle::Family& f : c.families) {
    const std::vector<double> t1 = transmission(marg[1][size_t(f.father)], c.haplodiploid);
    const std::vector<double> t2 = transmission(marg[2][size_t(f.mother)], false);
    // A selfed family (one individual in both roles): the offspring prior comes from the
    // posterior of its sex-1 role by Mendelian selfing, a/a giving a/a and a/b giving a/b with
    // half and a/a, b/b with a quarter each of its weight (entries of at least 1e-10).
    bool selfed = false;
    for (const auto& same : c.same) selfed = selfed || (same[0] == f.father && same[1] == f.mother);
    std::vector<double> selfed_prior;
    if (selfed) {
      const std::vector<double>& m = marg[1][size_t(f.father)];
      selfed_prior.assign(m.size(), 0.0);
      for (size_t g = 0; g < m.size(); ++g) {
        if (m[g] < 1e-10) continue;
        const Genotype al = alleles_of(static_cast<int>(g + 1), n, false);
        if (al[0] == al[1]) {
          selfed_prior[g] += m[g];
        } else {
          selfed_prior[g] += 0.5 * m[g];
          selfed_prior[size_t(pair_index(al[0], al[0], n) - 1)] += 0.25 * m[g];
          selfed_prior[size_t(pair_index(al[1], al[1], n) - 1)] += 0.25 * m[g];
        }
      }
    }
    for (int o : f.members) {
      const std::string w = what + " offspring " + std::to_string(o);
      SCOPED_TRACE(w);
      const bool haploid = v.offploid(o) == 1;
      setgetgtype.locusgtypeptr = v.indivgtype2(locus).a;
      int2 code = 0;
      getgtype(code, o, n);
      int4 og[2] = {0, 0};
      if (code > 0) {
        if (dominant) {
          og[0] = code;
        } else if (n <= 2) {
          og[0] = code == 1 || code == 2 ? code : 1;
          og[1] = code == 1 || code == 2 ? code : 2;
        } else {
          og[0] = v.genotypeid(1, code);
          og[1] = v.genotypeid(2, code);
        }
      }
      if (og[0] > 0 && errorfree && !dominant) {
        // Typed at an error-free codominant locus: the observed genotype for certain.
        EXPECT_EQ(v.estchildgtypeprb(1, o), 1.0f);
        EXPECT_EQ(v.estchildgtype(1, 1, o), std::min(og[0], haploid ? og[0] : og[1]));
        for (int k = 2; k <= v.numestgenotype; ++k) EXPECT_EQ(v.estchildgtypeprb(k, o), 0.0f);
        continue;
      }
      if (lone) {
        const size_t at =
            size_t(std::find(f.members.begin(), f.members.end(), o) - f.members.begin());
        check_stored(
            lone_post[at], n, false, false, [&](int k) { return v.estchildgtypeprb(k, o); },
            [&](int r, int k) { return static_cast<int>(v.estchildgtype(r, k, o)); }, w);
        continue;
      }
      const int ng = haploid ? n : n * (n + 1) / 2;
      std::vector<double> e(static_cast<size_t>(ng), 0.0);
      double sum = 0.0;
      for (int g = 1; g <= ng; ++g) {
        const Genotype al = alleles_of(g, n, haploid);
        double prior = 0.0;
        double ob = 1.0;
        if (haploid) {
          prior = t2[size_t(al[0] - 1)];
          if (og[0] > 0) ob = prbgtophaploid(al[0], og[0], locus);
        } else {
          const size_t a = size_t(al[0] - 1), b = size_t(al[1] - 1);
          prior = selfed   ? selfed_prior[size_t(g - 1)]
                  : a == b ? t1[a] * t2[a]
                           : t1[a] * t2[b] + t1[b] * t2[a];
          const int4 oo[2] = {og[0], dominant ? 0 : og[1]};
          if (og[0] > 0) ob = prbgtop(al[0], al[1], oo, locus);
        }
        e[size_t(g - 1)] = prior * ob;
        sum += e[size_t(g - 1)];
      }
      if (sum > 1e-30)
        for (double& x : e) x /= sum;
      check_stored(
          e, n, haploid, haploid, [&](int k) { return v.estchildgtypeprb(k, o); },
          [&](int r, int k) { return static_cast<int>(v.estchildgtype(r, k, o)); }, w);
    }
  }
  return compared;
}

class GenotypeInference : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_all_modules();
    rel_tol = 2e-6;
    abs_tol = 1e-13;
  }
  void TearDown() override { reset_all_modules(); }
};

struct SpeciesCase {
  const char* name;
  Species species;
  Markers markers;
  bool cyclic;
  bool generated_inbreeding = false;  // keep the generator's F (0.05 to 0.3) instead of 0
};

// Whether the parent individuals (both roles of one monoecious individual counted once) are
// linked by the families with a diploid member without a cycle (a selfed family links an
// individual to itself and closes none).
bool individuals_acyclic(const Cluster& c) {
  return !testing_support::families_close_a_cycle(c, {.diploid_only = true, .skip_selfed = true});
}

class PosteriorsAgainstOracle : public ::testing::TestWithParam<SpeciesCase> {};

// Seeded random clusters with 0 to 2 sampled parents, missing genotypes and occasional Mendel
// errors; exact engine mode, no count scaling, F = 0 unless the row keeps the generator's F.
// In a selfing species each selfing parent's inbreeding is the one the selfing-generation
// estimate gives it (as the family likelihood leaves it), which the oracle reads as well.
TEST_P(PosteriorsAgainstOracle, ParentsAndOffspring) {
  const SpeciesCase sc = GetParam();
  const Shape acyclic[] = {Shape::one_family, Shape::star, Shape::chain, Shape::tree};
  const Shape cyclic[] = {Shape::cycle2x2, Shape::cycle2x3, Shape::ladder, Shape::two_cycles,
                          Shape::random_graph};
  int compared = 0;
  const testing_support::SeedBudget seeds = testing_support::seed_budget(sc.cyclic ? 40 : 60);
  for (std::uint32_t seed = 1; seed <= seeds.n; ++seed) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"genotype_inference"};
    oracle::Options o;
    o.shape = sc.cyclic ? cyclic[seed % 5] : acyclic[seed % 4];
    o.species = sc.species;
    o.markers = sc.markers;
    o.loci = 2;
    o.sampled_parents = static_cast<int>(seed / 4 % 3);
    o.missing = seed % 3 == 0 ? 0.25 : 0.0;
    o.fsscaleq = 0;
    o.mendel_errors = seed % 7 == 0;
    Cluster c = oracle::random_cluster(seed * 6007u + 29u, o);
    if (!sc.generated_inbreeding) c.inbreeding = 0.0;
    if (!sc.cyclic && !individuals_acyclic(c)) continue;
    const oracle::Built b = oracle::build(c);
    ASSERT_TRUE(b.ok) << b.error;
    oracle::exact_mode();
    if (sc.species == Species::selfing) selfinggen_est();
    allocate_results(c);
    for (int4 l = 1; l <= variables.numloci; ++l) {
      if (variables.obsnumallele(l) < 2 || oracle::combinations(c, l) > 2e5) continue;
      compared += compare_locus(
          c, l,
          std::string(sc.name) + " seed " + std::to_string(seed) + " locus " + std::to_string(l),
          sc.cyclic);
    }
    if (HasFailure()) break;
  }
  EXPECT_GT(compared, seeds.share(40));
}

INSTANTIATE_TEST_SUITE_P(
    Species, PosteriorsAgainstOracle,
    ::testing::Values(
        SpeciesCase{"diploid_snp", Species::diploid, Markers::snp_free, false},
        SpeciesCase{"diploid_multi", Species::diploid, Markers::multi_free, false},
        SpeciesCase{"diploid_snp_error", Species::diploid, Markers::snp_error, false},
        SpeciesCase{"diploid_multi_error", Species::diploid, Markers::multi_error, false},
        SpeciesCase{"diploid_dominant", Species::diploid, Markers::dominant_free, false},
        SpeciesCase{"diploid_dominant_error", Species::diploid, Markers::dominant_error, false},
        SpeciesCase{"diploid_many_error", Species::diploid, Markers::many_error, false},
        SpeciesCase{"inbred_multi", Species::inbred, Markers::multi_free, false},
        SpeciesCase{"haplodiploid_snp", Species::haplodiploid, Markers::snp_free, false},
        SpeciesCase{"haplodiploid_multi", Species::haplodiploid, Markers::multi_free, false},
        SpeciesCase{"haplodiploid_multi_error", Species::haplodiploid, Markers::multi_error, false},
        SpeciesCase{"haplodiploid_dominant_error", Species::haplodiploid, Markers::dominant_error,
                    false},
        SpeciesCase{"monoecious_multi", Species::monoecious, Markers::multi_free, false},
        SpeciesCase{"monoecious_multi_error", Species::monoecious, Markers::multi_error, false},
        SpeciesCase{"cyclic_diploid_snp", Species::diploid, Markers::snp_free, true},
        SpeciesCase{"cyclic_diploid_multi", Species::diploid, Markers::multi_free, true},
        SpeciesCase{"cyclic_haplodiploid_multi", Species::haplodiploid, Markers::multi_free, true},
        SpeciesCase{"inbred_multi_f", Species::inbred, Markers::multi_free, false, true},
        SpeciesCase{"inbred_snp_error_f", Species::inbred, Markers::snp_error, false, true},
        SpeciesCase{"inbred_multi_error_f", Species::inbred, Markers::multi_error, false, true},
        SpeciesCase{"inbred_dominant_error_f", Species::inbred, Markers::dominant_error, false,
                    true},
        SpeciesCase{"cyclic_diploid_snp_error", Species::diploid, Markers::snp_error, true},
        SpeciesCase{"cyclic_diploid_multi_error", Species::diploid, Markers::multi_error, true},
        SpeciesCase{"cyclic_diploid_many_error", Species::diploid, Markers::many_error, true},
        SpeciesCase{"cyclic_diploid_dominant", Species::diploid, Markers::dominant_free, true},
        SpeciesCase{"cyclic_diploid_dominant_error", Species::diploid, Markers::dominant_error,
                    true},
        SpeciesCase{"cyclic_haplodiploid_multi_error", Species::haplodiploid, Markers::multi_error,
                    true},
        SpeciesCase{"cyclic_haplodiploid_dominant_error", Species::haplodiploid,
                    Markers::dominant_error, true},
        SpeciesCase{"cyclic_monoecious_snp", Species::monoecious, Markers::snp_free, true},
        SpeciesCase{"cyclic_monoecious_multi", Species::monoecious, Markers::multi_free, true},
        SpeciesCase{"cyclic_monoecious_multi_error", Species::monoecious, Markers::multi_error,
                    true},
        SpeciesCase{"cyclic_monoecious_dominant_error", Species::monoecious,
                    Markers::dominant_error, true},
        SpeciesCase{"selfing_snp", Species::selfing, Markers::snp_free, false},
        SpeciesCase{"selfing_multi", Species::selfing, Markers::multi_free, false},
        SpeciesCase{"selfing_snp_error", Species::selfing, Markers::snp_error, false},
        SpeciesCase{"selfing_multi_error", Species::selfing, Markers::multi_error, false},
        SpeciesCase{"selfing_many_error", Species::selfing, Markers::many_error, false},
        SpeciesCase{"selfing_dominant", Species::selfing, Markers::dominant_free, false},
        SpeciesCase{"selfing_dominant_error", Species::selfing, Markers::dominant_error, false},
        SpeciesCase{"selfing_multi_f", Species::selfing, Markers::multi_free, false, true},
        SpeciesCase{"cyclic_selfing_multi", Species::selfing, Markers::multi_free, true},
        SpeciesCase{"cyclic_selfing_multi_error", Species::selfing, Markers::multi_error, true}),
    [](const auto& row) { return std::string(row.param.name); });

void add_member(Cluster& c, int family, std::vector<Genotype> g, int ploidy = 2) {
  c.offspring.push_back(std::move(g));
  c.offploid.push_back(ploidy);
  c.families[static_cast<size_t>(family)].members.push_back(static_cast<int>(c.offspring.size()));
}

// The program's code of an allele label as read back from an offspring's genotype.
std::array<int, 2> offspring_codes(int o, int locus) {
  Variables& v = variables;
  setgetgtype.locusgtypeptr = v.indivgtype2(locus).a;
  int2 g = 0;
  getgtype(g, o, v.obsnumallele(locus));
  return {v.genotypeid(1, g), v.genotypeid(2, g)};
}

// A 6-allele locus with typing errors where both parents are untyped and their offspring show
// only alleles 1 and 2: allele 3 stands for every allele not shown. The father's posterior
// divided by the prior (his likelihood with his genotype fixed) is the same for 1/5 as for 1/3,
// for 5/5 as for 3/3, and for 4/6 and 3/5 as for 3/4; every genotype equals the oracle's exact
// marginal. The mother, exchangeable with him, is not evaluated: 6 pairs of {1, 2, 3} and 3/4.
TEST_F(GenotypeInference, RepresentativeStandsForEveryAlleleNotShown) {
  testing_support::TempWorkDir dir{"genotype_inference"};
  Cluster c;
  c.loci = {{false, 6, {}, 0.02, 0.01}};
  c.fathers.resize(1);
  c.mothers.resize(1);
  c.families = {{1, 1, {}}};
  add_member(c, 0, {Genotype{1, 2}});
  add_member(c, 0, {Genotype{1, 1}});
  add_member(c, 0, {Genotype{1, 2}});
  add_member(c, 0, {Genotype{2, 2}});
  c.filler = {{Genotype{3, 4}}, {Genotype{5, 6}}, {Genotype{3, 3}}, {Genotype{5, 5}},
              {Genotype{4, 6}}, {Genotype{3, 5}}, {Genotype{1, 3}}};
  const oracle::Built b = oracle::build(c);
  ASSERT_TRUE(b.ok) << b.error;
  oracle::exact_mode();
  allocate_results(c);
  Variables& v = variables;
  ASSERT_EQ(v.obsnumallele(1), 6);
  const int n = 6;
  const std::vector<double> counts = infer(1);
  EXPECT_EQ(likelihoodvar.inferg2, 6);  // seven evaluations, all of them the father's
  const auto het = offspring_codes(1, 1);
  const int x1 = std::min(het[0], het[1]), x2 = std::max(het[0], het[1]);
  std::vector<int> other;
  for (int a = 1; a <= n; ++a)
    if (a != x1 && a != x2) other.push_back(a);
  const int r = other[0], u = other[1];
  const std::vector<double> w = engine_posterior(1, 1, n, false);
  const FView<real8, 1>& p = v.obsallelefre(1).a;
  auto R = [&](int a, int bb) {
    const double q = a == bb ? p(a) * p(a) : 2 * p(a) * p(bb);
    return w[size_t(pair_index(a, bb, n) - 1)] / q;
  };
  for (size_t i = 1; i < other.size(); ++i) {
    const int va = other[i];
    SCOPED_TRACE(va);
    EXPECT_NEAR(R(x1, va), R(x1, r), 1e-12 * R(x1, r));
    EXPECT_NEAR(R(x2, va), R(x2, r), 1e-12 * R(x2, r));
    EXPECT_NEAR(R(va, va), R(r, r), 1e-12 * R(r, r));
    EXPECT_NEAR(R(r, va), R(r, u), 1e-12 * R(r, u));
    for (size_t k = i + 1; k < other.size(); ++k)
      EXPECT_NEAR(R(va, other[k]), R(r, u), 1e-12 * R(r, u));
  }
  const std::vector<double> m = oracle::parent_marginal(c, 1, 1, 1);
  ASSERT_EQ(m.size(), w.size());
  rel_tol = 2e-5;
  abs_tol = 1e-8;
  for (size_t g = 0; g < m.size(); ++g) EXPECT_NEAR(w[g], m[g], tol(m[g])) << g + 1;
  // The father's posterior allele counts twice.
  for (int a = 1; a <= n; ++a) {
    double e = 0.0;
    for (int g = 1; g <= n * (n + 1) / 2; ++g) {
      const Genotype al = alleles_of(g, n, false);
      e += (al[0] == a) * m[size_t(g - 1)] + (al[1] == a) * m[size_t(g - 1)];
    }
    EXPECT_NEAR(counts[size_t(a - 1)], 2 * e, 2e-6 * std::max(1.0, e)) << a;
  }
  double total = 0.0;
  for (double x : counts) total += x;
  EXPECT_NEAR(total, 4.0, 1e-9);
  // The mother's stored results are the father's.
  for (int k = 1; k <= v.numestgenotype; ++k) {
    EXPECT_EQ(v.estprntgtypeprb(k, 1, 2), v.estprntgtypeprb(k, 1, 1));
    EXPECT_EQ(v.estprntgtype(1, k, 1, 2), v.estprntgtype(1, k, 1, 1));
    EXPECT_EQ(v.estprntgtype(2, k, 1, 2), v.estprntgtype(2, k, 1, 1));
  }
}

// A lone full-sib family of unsampled parents 1/2 x 3/4 (labels) at a 4-allele locus with
// typing errors: twelve offspring show the four genotypes the pair gives, three each, and one
// more shows 4/4, which no pair of the parents' genotypes can give. The parents' posteriors are
// mirror images (each 1/2 or 3/4 with equal weight), so combining their marginal transmissions
// would give 4/4 a prior of 1/16 and the observation would win; summed over the parent pairs,
// 4/4 has almost no prior weight, so the 4/4 offspring's first estimate is 1/4 or 2/4 and 4/4,
// if listed at all, has a probability below 0.05 (a typing error by the row rule), while every
// offspring whose genotype the pair can give has it listed at 0.05 or more (not flagged). The
// whole posteriors are checked against the enumeration over parent pairs. With the father a
// typed candidate the parents are not exchangeable and the offspring keep the transmission
// formula.
TEST_F(GenotypeInference, LoneFamilyOffspringComeFromParentPairs) {
  for (const bool sampled_father : {false, true}) {
    SCOPED_TRACE(sampled_father ? "sampled father" : "both parents unsampled");
    reset_all_modules();
    testing_support::TempWorkDir dir{"genotype_inference"};
    Cluster c;
    c.loci = {{false, 4, {}, 0.02, 0.01}};
    c.fathers.resize(1);
    c.mothers.resize(1);
    if (sampled_father) {
      c.fathers[0].candidate = 1;
      c.fathers[0].genotype = {Genotype{1, 2}};
    }
    c.families = {{1, 1, {}}};
    for (int r = 0; r < 3; ++r)
      for (const Genotype& g : {Genotype{1, 3}, Genotype{1, 4}, Genotype{2, 3}, Genotype{2, 4}})
        add_member(c, 0, {g});
    add_member(c, 0, {Genotype{4, 4}});
    const oracle::Built b = oracle::build(c);
    ASSERT_TRUE(b.ok) << b.error;
    oracle::exact_mode();
    allocate_results(c);
    EXPECT_GT(compare_locus(c, 1, "lone family"), 0);
    Variables& v = variables;
    const int n = v.obsnumallele(1);
    ASSERT_EQ(n, 4);
    for (int o = 1; o <= 13; ++o) {
      SCOPED_TRACE(o);
      const auto code = offspring_codes(o, 1);
      const int x = std::min(code[0], code[1]), y = std::max(code[0], code[1]);
      double p_obs = 0.0;
      for (int k = 1; k <= v.numestgenotype; ++k)
        if (v.estchildgtype(1, k, o) == x && v.estchildgtype(2, k, o) == y)
          p_obs = v.estchildgtypeprb(k, o);
      if (o < 13) {
        EXPECT_GE(p_obs, 0.05);
      } else if (!sampled_father) {
        EXPECT_FALSE(v.estchildgtype(1, 1, o) == x && v.estchildgtype(2, 1, o) == y);
        EXPECT_LT(p_obs, 0.05);
      }
    }
  }
}

// A father none of whose offspring is typed at a locus of four alleles, all of frequency 1/4,
// gets the population prior (homozygotes 1/16, heterozygotes 1/8, by hand): the six equally
// probable heterozygotes fill the five places in the order the index sort leaves them. The
// mother, a typed candidate at this error-free locus, gets her own genotype for certain; the
// untyped offspring get 1/2 x 1/4 for each pair of one of her alleles with any allele.
TEST_F(GenotypeInference, UntypedFamilyGivesThePriorAndTiesKeepSortOrder) {
  testing_support::TempWorkDir dir{"genotype_inference"};
  Cluster c;
  c.loci = {{false, 4, {}, 0.0, 0.0}, {false, 2, {}, 0.0, 0.0}};
  c.fathers.resize(1);
  c.mothers.resize(1);
  c.mothers[0].candidate = 1;
  c.mothers[0].genotype = {Genotype{3, 4}, Genotype{1, 2}};
  c.families = {{1, 1, {}}};
  add_member(c, 0, {Genotype{0, 0}, Genotype{1, 2}});
  add_member(c, 0, {Genotype{0, 0}, Genotype{1, 1}});
  c.filler = {{Genotype{1, 2}, Genotype{1, 2}}, {Genotype{3, 4}, Genotype{2, 2}}};
  const oracle::Built b = oracle::build(c);
  ASSERT_TRUE(b.ok) << b.error;
  oracle::exact_mode();
  allocate_results(c);
  Variables& v = variables;
  for (int a = 1; a <= 4; ++a) v.obsallelefre(1).a(a) = 0.25;
  ASSERT_EQ(v.numestgenotype, 5);
  infer(1);
  EXPECT_EQ(likelihoodvar.inferg2, -1);  // nothing evaluated
  real8 keys[10];
  int4 idx[10];
  for (int g = 1; g <= 10; ++g) {
    const Genotype al = alleles_of(g, 4, false);
    keys[g - 1] = al[0] == al[1] ? -1.0 / 16 : -1.0 / 8;
  }
  indexx(10, keys, idx);
  for (int k = 1; k <= 5; ++k) {
    SCOPED_TRACE(k);
    const Genotype al = alleles_of(idx[k - 1], 4, false);
    EXPECT_EQ(v.estprntgtypeprb(k, 1, 1), 0.125f);
    EXPECT_EQ(v.estprntgtype(1, k, 1, 1), al[0]);
    EXPECT_EQ(v.estprntgtype(2, k, 1, 1), al[1]);
  }
  // The mother: her observed pair with probability 1, then zeros with alleles 0 0.
  setgetgtype.locusgtypeptr = v.cndgtype2(1).a;
  int2 g = 0;
  getgtype(g, v.numcandidate(1) + 1, 4);
  EXPECT_EQ(v.estprntgtypeprb(1, 1, 2), 1.0f);
  EXPECT_EQ(v.estprntgtype(1, 1, 1, 2), v.genotypeid(1, g));
  EXPECT_EQ(v.estprntgtype(2, 1, 1, 2), v.genotypeid(2, g));
  for (int k = 2; k <= 5; ++k) {
    EXPECT_EQ(v.estprntgtypeprb(k, 1, 2), 0.0f);
    EXPECT_EQ(v.estprntgtype(1, k, 1, 2), 0);
  }
  // Both untyped offspring (the same data and parents): four genotypes of 1/8 for each of the
  // mother's alleles with another allele, her allele twice 1/8 ... by hand: P(a/b) = t1 t2 sums.
  for (int k = 1; k <= 5; ++k) {
    EXPECT_EQ(v.estchildgtypeprb(k, 2), v.estchildgtypeprb(k, 1));
    EXPECT_EQ(v.estchildgtype(1, k, 2), v.estchildgtype(1, k, 1));
  }
  float sum = 0.0f;
  for (int k = 1; k <= 5; ++k) sum += v.estchildgtypeprb(k, 1);
  // Mother 3/4 (codes m1, m2), father 1/4 per allele: m1/m2 has 1/4, m1/m1 and m2/m2 1/8, and
  // m/x for each of the two other alleles x 1/8: the five best sum to 1/4 + 4 x 1/8 = 3/4.
  EXPECT_NEAR(sum, 0.75f, 1e-6f);
  EXPECT_EQ(v.estchildgtypeprb(1, 1), 0.25f);
}

// With prntflag 0 the result arrays keep what they held; the counts are those of a full call.
TEST_F(GenotypeInference, CountingOnlyTouchesNoResultArray) {
  testing_support::TempWorkDir dir{"genotype_inference"};
  oracle::Options o;
  o.shape = Shape::star;
  o.markers = Markers::multi_free;
  o.sampled_parents = 1;
  Cluster c = oracle::random_cluster(4242u, o);
  const oracle::Built b = oracle::build(c);
  ASSERT_TRUE(b.ok) << b.error;
  oracle::exact_mode();
  allocate_results(c);
  Variables& v = variables;
  const std::vector<double> full = infer(1, 1, 1);
  v.estprntgtype.fill(int1{9});
  v.estprntgtypeprb.fill(7.0f);
  v.estchildgtype.fill(int1{9});
  v.estchildgtypeprb.fill(7.0f);
  const std::vector<double> only = infer(1, 1, 0);
  for (size_t a = 0; a < full.size(); ++a) EXPECT_EQ(only[a], full[a]);
  for (index_t i = 0; i < v.estprntgtype.size(); ++i) EXPECT_EQ(v.estprntgtype.data()[i], 9);
  for (index_t i = 0; i < v.estprntgtypeprb.size(); ++i)
    EXPECT_EQ(v.estprntgtypeprb.data()[i], 7.0f);
  for (index_t i = 0; i < v.estchildgtype.size(); ++i) EXPECT_EQ(v.estchildgtype.data()[i], 9);
  for (index_t i = 0; i < v.estchildgtypeprb.size(); ++i)
    EXPECT_EQ(v.estchildgtypeprb.data()[i], 7.0f);
}

// A one-offspring family at a 2-allele locus: with flag2 1 the first call fills the cache from
// its three evaluations (both orders) and gives the uncached results; a second call evaluates
// nothing and gives them again.
TEST_F(GenotypeInference, SingleOffspringCacheGivesTheUncachedValues) {
  testing_support::TempWorkDir dir{"genotype_inference"};
  Cluster c;
  c.loci = {{false, 2, {}, 0.0, 0.0}};
  c.fathers.resize(1);
  c.mothers.resize(1);
  c.families = {{1, 1, {}}};
  add_member(c, 0, {Genotype{1, 2}});
  c.filler = {{Genotype{1, 1}}, {Genotype{1, 2}}, {Genotype{2, 2}}, {Genotype{1, 1}}};
  const oracle::Built b = oracle::build(c);
  ASSERT_TRUE(b.ok) << b.error;
  oracle::exact_mode();
  allocate_results(c);
  Variables& v = variables;
  const std::vector<double> plain = infer(1, 1, 1, 0);
  EXPECT_EQ(likelihoodvar.inferg2, 2);
  const std::vector<real4> prb(v.estprntgtypeprb.data(),
                               v.estprntgtypeprb.data() + v.estprntgtypeprb.size());
  const std::vector<real4> child(v.estchildgtypeprb.data(),
                                 v.estchildgtypeprb.data() + v.estchildgtypeprb.size());
  for (int pass = 1; pass <= 2; ++pass) {
    SCOPED_TRACE(pass);
    const std::vector<double> cached = infer(1, 1, 1, 1);
    EXPECT_EQ(likelihoodvar.inferg2, pass == 1 ? 2 : -1);
    for (size_t a = 0; a < plain.size(); ++a) EXPECT_EQ(cached[a], plain[a]);
    for (size_t i = 0; i < prb.size(); ++i) EXPECT_EQ(v.estprntgtypeprb.data()[i], prb[i]);
    for (size_t i = 0; i < child.size(); ++i) EXPECT_EQ(v.estchildgtypeprb.data()[i], child[i]);
  }
  int key = 0;
  for (int k = 1; k <= 3; ++k)
    if (v.prntglogl(1, 1, k) <= 0.5) key = k;
  ASSERT_GT(key, 2);  // the heterozygote's genotype number
  EXPECT_EQ(v.prntglogl(1, 2, key), v.prntglogl(2, 1, key));
  EXPECT_LE(v.prntglogl(2, 2, key), 0.5);
  // The exact marginal of the father (by enumeration) matches.
  const std::vector<double> m = oracle::parent_marginal(c, 1, 1, 1);
  const std::vector<double> w = engine_posterior(1, 1, 2, false);
  for (size_t g = 0; g < 3; ++g) EXPECT_NEAR(w[g], m[g], tol(m[g]));
}

// A locus with a single allele: a parent with typed offspring is 1/1 for certain (no
// evaluation), so is a typed offspring; an untyped offspring gets nothing (by hand).
TEST_F(GenotypeInference, SingleAlleleLocus) {
  testing_support::TempWorkDir dir{"genotype_inference"};
  Cluster c;
  c.loci = {{false, 1, {}, 0.0, 0.0}, {false, 3, {}, 0.0, 0.0}};
  c.fathers.resize(1);
  c.mothers.resize(1);
  c.families = {{1, 1, {}}};
  add_member(c, 0, {Genotype{1, 1}, Genotype{1, 2}});
  add_member(c, 0, {Genotype{0, 0}, Genotype{2, 3}});
  c.filler = {{Genotype{1, 1}, Genotype{1, 3}}};
  const oracle::Built b = oracle::build(c);
  ASSERT_TRUE(b.ok) << b.error;
  oracle::exact_mode();
  allocate_results(c);
  Variables& v = variables;
  ASSERT_EQ(v.obsnumallele(1), 1);
  const std::vector<double> counts = infer(1);
  EXPECT_EQ(likelihoodvar.inferg2, -1);
  EXPECT_DOUBLE_EQ(counts[0], 4.0);  // two diploid parents, each 1/1 for certain
  for (int s = 1; s <= 2; ++s) {
    EXPECT_EQ(v.estprntgtypeprb(1, 1, s), 1.0f);
    EXPECT_EQ(v.estprntgtype(1, 1, 1, s), 1);
    EXPECT_EQ(v.estprntgtype(2, 1, 1, s), 1);
    for (int k = 2; k <= v.numestgenotype; ++k) EXPECT_EQ(v.estprntgtypeprb(k, 1, s), 0.0f);
  }
  EXPECT_EQ(v.estchildgtypeprb(1, 1), 1.0f);
  EXPECT_EQ(v.estchildgtype(1, 1, 1), 1);
  EXPECT_EQ(v.estchildgtype(2, 1, 1), 1);
  for (int k = 1; k <= v.numestgenotype; ++k) {
    EXPECT_EQ(v.estchildgtypeprb(k, 2), 0.0f);
    EXPECT_EQ(v.estchildgtype(1, k, 2), 0);
    EXPECT_EQ(v.estchildgtype(2, k, 2), 0);
  }
}

}  // namespace
}  // namespace kinrad

namespace kinrad {
namespace {

// One individual acting as father 3 and mother 2 of a cyclic selfing cluster (a 4-allele locus
// with typing errors): its genotype fixed through either role is one and the same fixed
// genotype, so both give the same locus likelihood, and the fixed genotype matters (its other
// role's offspring make 1/1 far less likely than 2/2). Fixing the sex-1 role once left the
// likelihood unchanged, its copy overwritten by the sex-2 role's prior.
TEST_F(GenotypeInference, FixingEitherRoleOfOneIndividualGivesOneLikelihood) {
  testing_support::TempWorkDir dir{"genotype_inference"};
  oracle::Options o;
  o.shape = Shape::two_cycles;  // the cyclic row's shape for seed 8
  o.species = Species::selfing;
  o.markers = Markers::multi_error;
  o.sampled_parents = 2;
  Cluster c = oracle::random_cluster(8u * 6007u + 29u, o);
  c.inbreeding = 0.0;
  ASSERT_TRUE(oracle::build(c).ok);
  oracle::exact_mode();
  selfinggen_est();
  const int4 locus = 1;
  const int4 k = variables.obsnumallele(locus);
  ASSERT_GE(k, 3);
  ASSERT_EQ(variables.parentjdx(3, 1), 2);
  real8 fixed[3][3] = {};
  for (int4 s = 1; s <= 2; ++s) {
    for (int4 a = 1; a <= 2; ++a) {
      int4 status = 0;
      preparevariable(status, 0, locus, 0);
      ASSERT_EQ(status, 0);
      likelihoodvar.infergtypesex = s;
      likelihoodvar.infergtypeprnt = s == 1 ? 3 : 2;
      likelihoodvar.infergtype(1) = a;
      likelihoodvar.infergtype(2) = a;
      real8 logl = 1.0;
      familylocuslogl(locus, k, variables.genotypenum(k), logl);
      fixed[s][a] = logl;
    }
  }
  for (int4 a = 1; a <= 2; ++a) EXPECT_NEAR(fixed[1][a], fixed[2][a], 1e-9) << a;
  EXPECT_LT(fixed[1][1], fixed[1][2] - 10.0);
}

}  // namespace
}  // namespace kinrad
