// The family likelihood: its value against the brute-force sum of the oracle, the sibship-size
// prior term against log-gamma computed independently (std::lgamma), the one- and two-offspring
// shortcuts against the full computation and hand-filled dyad tables, the bound and the stops.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "core/error_stop.hpp"
#include "core/fixed_string.hpp"
#include "core/modules.hpp"
#include "core/modules/familyloglvar.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/mixed_cluster.hpp"
#include "likelihood/oracle.hpp"
#include "pairwise/pairwise.hpp"
#include "support/engine_compare.hpp"
#include "support/expect_stop.hpp"
#include "support/module_reset.hpp"
#include "support/seed_budget.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using testing_mixed::Kind;

// The gamma-based prior term of n offspring with b = 0.25, from the C library's lgamma.
double gamma_prior(int n) {
  const double c = std::lgamma(2.25) + std::lgamma(1.5) - std::lgamma(1.25) - std::lgamma(0.25);
  return (c + std::lgamma(n + 0.25) - std::lgamma(n + 2.5)) * n * 0.125;
}

// Offspring the prior counts: the diploid members of the cluster's families.
int diploid_members(const oracle::Cluster& c) {
  int n = 0;
  for (const auto& f : c.families)
    for (int m : f.members) n += c.offploid[static_cast<size_t>(m - 1)] == 2 ? 1 : 0;
  return n;
}

using testing_support::diploid_typed;

// Whether the families link the parent individuals without a cycle (the clusters the simple
// peeling completes); an individual acting in both roles counts once.
bool individuals_acyclic(const oracle::Cluster& c) {
  return !testing_support::families_close_a_cycle(c);
}

class FamilyLikelihood : public testing_support::ModuleReset {};

struct DriverCase {
  const char* name;
  oracle::Species species;
};

class DriverAgainstOracle : public testing_support::ModuleResetWithParam<DriverCase> {};

// Acyclic clusters with loci of more than two alleles and codominant two-allele loci in one
// project, occasional Mendel errors and missing genotypes: the family likelihood less the prior
// term is the sum of the enumerated locus log likelihoods.
TEST_P(DriverAgainstOracle, SumOfLociPlusPrior) {
  const DriverCase dc = GetParam();
  const oracle::Shape shapes[] = {oracle::Shape::one_family, oracle::Shape::star,
                                  oracle::Shape::chain, oracle::Shape::tree};
  const testing_support::SeedBudget seeds = testing_support::seed_budget(80);
  int compared = 0, impossible = 0;
  for (std::uint32_t seed = 1; seed <= seeds.n; ++seed) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"family_logl"};
    std::mt19937 r(seed * 31u + 5u);
    oracle::Options o;
    o.shape = shapes[seed % 4];
    o.species = dc.species;
    o.sampled_parents = static_cast<int>(seed / 4 % 3);
    oracle::Cluster c = oracle::random_cluster(seed * 7919u + 3u, o);
    // Every other cluster adds a dominant locus, which the engine may not score yet: then it
    // must end in its internal stop, never with another value.
    std::vector<Kind> kinds = {Kind::multi, Kind::snp, Kind::multi, Kind::snp};
    if (seed % 2 == 0) kinds.push_back(Kind::dominant);
    testing_mixed::resimulate(c, kinds, r, 3 + static_cast<int>(seed % 2), seed % 3 == 0 ? 0.2 : 0);
    if (seed % 5 == 0) testing_mixed::inject_errors(c, r, 1);
    if (!individuals_acyclic(c)) continue;
    const oracle::Built b = oracle::build(c);
    ASSERT_TRUE(b.ok) << b.error;
    oracle::exact_mode();
    variables.priortype = 0;
    double ref = 0.0, tol = 0.0;
    for (int4 l = 1; l <= variables.numloci; ++l) {
      const int4 k = variables.obsnumallele(l);
      if (k < 2) continue;
      const double x = oracle::locus_logl(c, l);
      ref = x <= -1e300 ? -1e300 : ref + x;
      tol += oracle::tolerance(x, k == 2 ? diploid_typed(c, l) : 0);
      if (ref <= -1e300) break;
    }
    real8 logl = 0.0;
    SCOPED_TRACE(std::string(dc.name) + " seed " + std::to_string(seed));
    try {
      familylikelihood(logl, -1e300, 1, 0, 0);
    } catch (const ProgramStop& e) {
      EXPECT_EQ(e.name(), "FamilyLocusLogL");
      EXPECT_EQ(seed % 2, 0u);
      continue;
    }
    // gammln is a series approximation: its error grows with n, to about 1e-11 here.
    EXPECT_NEAR(family_prior_term(), gamma_prior(diploid_members(c)), 1e-9);
    if (ref <= -1e300) {
      EXPECT_EQ(logl, -1e300);
      ++impossible;
    } else {
      EXPECT_NEAR(logl - gamma_prior(diploid_members(c)), ref, tol + 1e-9);
      ++compared;
    }
    if (HasFailure()) break;
  }
  EXPECT_GT(compared, seeds.share(10));
  EXPECT_GE(impossible, seeds.share(1));
}

INSTANTIATE_TEST_SUITE_P(
    Species, DriverAgainstOracle,
    ::testing::Values(DriverCase{"diploid", oracle::Species::diploid},
                      DriverCase{"inbred", oracle::Species::inbred},
                      DriverCase{"haplodiploid", oracle::Species::haplodiploid},
                      DriverCase{"monoecious", oracle::Species::monoecious}),
    [](const ::testing::TestParamInfo<DriverCase>& i) { return std::string(i.param.name); });

// Dominant loci and loci with typing errors: the family likelihood either equals the
// enumeration or ends in the engine's internal error stop; it never returns another value.
TEST_F(FamilyLikelihood, OtherMarkerKindsMatchOrStop) {
  const oracle::Markers kinds[] = {oracle::Markers::dominant_free, oracle::Markers::dominant_error,
                                   oracle::Markers::snp_error, oracle::Markers::multi_error};
  const testing_support::SeedBudget seeds = testing_support::seed_budget(40);
  int stopped = 0, matched = 0;
  for (std::uint32_t seed = 1; seed <= seeds.n; ++seed) {
    reset_all_modules();
    testing_support::TempWorkDir dir{"family_logl"};
    oracle::Options o;
    o.shape = seed % 2 == 0 ? oracle::Shape::one_family : oracle::Shape::star;
    o.markers = kinds[seed % 4];
    o.loci = 2;
    const oracle::Cluster c = oracle::random_cluster(seed * 131u + 9u, o);
    ASSERT_TRUE(oracle::build(c).ok);
    oracle::exact_mode();
    variables.priortype = 0;
    SCOPED_TRACE(seed);
    double ref = 0.0, tol = 0.0;
    for (int4 l = 1; l <= variables.numloci; ++l) {
      const int4 k = variables.obsnumallele(l);
      if (k < 2) continue;
      const double x = oracle::locus_logl(c, l);
      ref = x <= -1e300 || ref <= -1e300 ? -1e300 : ref + x;
      tol += oracle::tolerance(x, k == 2 ? diploid_typed(c, l) : 0,
                               static_cast<int>(c.families.size()));
    }
    try {
      real8 logl = 1.0;
      familylikelihood(logl, -1e300, 1, 0, 0);
      if (ref <= -1e300)
        EXPECT_EQ(logl, -1e300);
      else
        EXPECT_NEAR(logl - gamma_prior(diploid_members(c)), ref, tol + 1e-9);
      ++matched;
    } catch (const ProgramStop& e) {
      EXPECT_EQ(e.name(), "FamilyLocusLogL");
      ++stopped;
    }
  }
  EXPECT_EQ(stopped + matched, static_cast<int>(seeds.n));
}

// Prior term from the family work state alone: ln k! from lgamma(k + 1).
TEST_F(FamilyLikelihood, PriorTermTable) {
  struct Row {
    const char* what;
    int priortype;
    std::vector<int> sizes;
    int selfed;  // family number of a selfed family, 0 none
    double expected;
  };
  auto lf = [](int k) { return std::lgamma(k + 1.0); };
  const Row rows[] = {
      {"type 1, one offspring: ln 1! twice", 1, {1}, 0, 0.0},
      {"type 1, families of 2 and 1", 1, {2, 1}, 0, -0.0625 * (lf(2) + lf(1) + lf(3))},
      {"type 1, selfed family of 2 counted twice",
       1,
       {2, 1},
       1,
       -0.0625 * (2 * lf(2) + lf(1) + lf(3))},
      {"type 1, no full-sib family", 1, {}, 0, 0.0},
      {"type 0, one offspring", 0, {1}, 0, gamma_prior(1)},
      {"type 2, two offspring", 2, {1, 1}, 0, gamma_prior(2)},
      {"type 4, seven offspring", 4, {3, 4}, 0, gamma_prior(7)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    reset_all_modules();
    Variables& v = variables;
    Likelihoodvar& lv = likelihoodvar;
    v.factorial.allocate(Dim(0, 20));
    for (int k = 0; k <= 20; ++k) v.factorial(k) = lf(k);
    v.priortype = row.priortype;
    v.numfsibship = static_cast<int4>(row.sizes.size());
    lv.clusterfamilysize.allocate(Dim(3));
    lv.clusterfamily.allocate(Dim(2), Dim(3));
    v.numchild = 0;
    for (size_t f = 0; f < row.sizes.size(); ++f) {
      lv.clusterfamilysize(static_cast<int4>(f + 1)) = row.sizes[f];
      lv.clusterfamily(1, static_cast<int4>(f + 1)) = static_cast<int4>(f + 1);
      lv.clusterfamily(2, static_cast<int4>(f + 1)) = static_cast<int4>(f + 1);
      v.numchild += row.sizes[f];
    }
    if (row.sizes.empty()) v.numchild = 1;  // ln 1! = 0 either way
    v.numsex = 1;
    v.allowinbreeding = 1;
    v.parentjdx.allocate(Dim(3), Dim(2));
    if (row.selfed > 0) v.parentjdx(row.selfed, 1) = row.selfed;
    EXPECT_NEAR(family_prior_term(), row.expected, 1e-12);
  }
  // The values quoted for one and two offspring.
  reset_all_modules();
  variables.priortype = 0;
  variables.numchild = 1;
  EXPECT_NEAR(family_prior_term(), -0.3106, 1e-4);
  variables.numchild = 2;
  EXPECT_NEAR(family_prior_term(), -0.8786, 1e-4);
  EXPECT_EQ(familyloglvar.priorshapeb, 0.25);
}

// Hand-made clusters: loci given as (dominant, alleles), one error-free locus each.
oracle::Locus make_locus(int nallele) {
  oracle::Locus x;
  x.nallele = nallele;
  for (int a = 0; a < nallele; ++a) x.freq.push_back(1.0 / nallele);
  return x;
}

// Unrelated offspring that show every allele of every locus in the sample.
void add_filler(oracle::Cluster& c) {
  for (size_t l = 0; l < c.loci.size(); ++l) {
    for (int a = 1; a <= c.loci[l].nallele; ++a) {
      std::vector<oracle::Genotype> x(c.loci.size(), oracle::Genotype{0, 0});
      x[l] = {a, a};
      c.filler.push_back(x);
    }
  }
}

// The oracle's tolerance summed over the loci of the cluster built.
double total_tolerance(const oracle::Cluster& c) {
  double t = 1e-12;
  for (int4 l = 1; l <= variables.numloci; ++l) {
    const int4 k = variables.obsnumallele(l);
    if (k >= 2) t += oracle::tolerance(oracle::locus_logl(c, l), k == 2 ? diploid_typed(c, l) : 0);
  }
  return t;
}

real8 run(real8 bound, int4 checkflag, int4 skipcheck, int4 famsize) {
  real8 logl = 1.0;
  familylikelihood(logl, bound, checkflag, skipcheck, famsize);
  return logl;
}

// One offspring without inbreeding: indivlogl plus the prior term, no per-locus work, and the
// same value as the full computation (indivlogl filled with the enumerated value).
TEST_F(FamilyLikelihood, OneOffspringShortcutWithoutInbreeding) {
  testing_support::TempWorkDir dir{"family_logl"};
  oracle::Cluster c;
  c.loci = {make_locus(4), make_locus(2)};
  c.fathers.resize(1);
  c.mothers.resize(1);
  c.families = {{1, 1, {1}}};
  c.offspring = {{{1, 3}, {1, 2}}};
  c.offploid = {2};
  add_filler(c);
  ASSERT_TRUE(oracle::build(c).ok);
  oracle::exact_mode();
  variables.priortype = 0;
  const double ref = oracle::total_logl(c);
  variables.indivlogl(1) = ref;
  const real8 full = run(-1e300, 1, 0, 0);
  EXPECT_NEAR(full - gamma_prior(1), ref, total_tolerance(c));
  // A sentinel in the per-locus state shows that the shortcut does no locus work.
  likelihoodvar.loglikehoodconst = 12345.0;
  EXPECT_EQ(run(-1e300, 1, 0, 1), family_prior_term() + ref);  // the same two terms
  EXPECT_EQ(likelihoodvar.loglikehoodconst, 12345.0);
  // After a preparation, famsize -1 takes the full computation.
  EXPECT_NEAR(run(-1e300, 1, 0, -1), full, 1e-12);
}

// With inbreeding the memo holds the family value without its prior term, so that the shortcut
// equals the full computation (a memo holding the prior would differ from it by P).
TEST_F(FamilyLikelihood, OneOffspringMemoWithInbreeding) {
  testing_support::TempWorkDir dir{"family_logl"};
  oracle::Cluster c;
  c.allowinbreeding = true;
  c.inbreeding = 0.2;
  c.loci = {make_locus(3), make_locus(2)};
  c.fathers.resize(1);
  c.mothers.resize(1);
  c.families = {{1, 1, {1}}};
  c.offspring = {{{2, 2}, {1, 2}}};
  c.offploid = {2};
  add_filler(c);
  ASSERT_TRUE(oracle::build(c).ok);
  oracle::exact_mode();
  variables.priortype = 0;
  ASSERT_GT(variables.inbindivlogl(1), 0.1);  // not yet computed
  const real8 viamemo = run(-1e300, 1, 0, 1);
  const real8 full = run(-1e300, 1, 0, 0);
  EXPECT_NEAR(viamemo, full, 1e-12);
  EXPECT_NEAR(variables.inbindivlogl(1), full - gamma_prior(1), 1e-9);
  EXPECT_NEAR(full - gamma_prior(1), oracle::total_logl(c), total_tolerance(c));
  // A second call reads the memo.
  EXPECT_EQ(run(-1e300, 1, 0, 1), viamemo);
}

// Two offspring: the value comes from the dyad table that their relationship names, filled
// here by hand with a distinct value per pair and table.
TEST_F(FamilyLikelihood, TwoOffspringDyadTables) {
  struct Row {
    const char* what;
    bool haplodiploid;
    int nf, nm;
    std::vector<oracle::Family> families;
    std::vector<int> offploid;
    bool halfsib_table;
    char expect;  // F full-sib table (lo, hi), f full-sib table (hi, lo), H half-sib, M maternal
                  // half-sib, U indivlogl sum
  };
  const Row rows[] = {
      {"full sibs", false, 1, 1, {{1, 1, {1, 2}}}, {2, 2}, true, 'F'},
      {"paternal half sibs", false, 1, 2, {{1, 1, {1}}, {1, 2, {2}}}, {2, 2}, true, 'H'},
      {"maternal half sibs", false, 2, 1, {{1, 1, {1}}, {2, 1, {2}}}, {2, 2}, true, 'H'},
      {"half sibs without a half-sib table",
       false,
       1,
       2,
       {{1, 1, {1}}, {1, 2, {2}}},
       {2, 2},
       false,
       'f'},
      {"haplodiploid maternal half sibs",
       true,
       2,
       1,
       {{1, 1, {1}}, {2, 1, {2}}},
       {2, 2},
       true,
       'M'},
      {"haplodiploid brother and sister", true, 1, 1, {{1, 1, {1, 2}}}, {1, 2}, true, 'M'},
      {"unrelated", false, 2, 2, {{1, 1, {1}}, {2, 2, {2}}}, {2, 2}, true, 'U'},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    reset_all_modules();
    testing_support::TempWorkDir dir{"family_logl"};
    oracle::Cluster c;
    c.haplodiploid = row.haplodiploid;
    c.loci = {make_locus(2), make_locus(2)};
    c.fathers.resize(static_cast<size_t>(row.nf));
    c.mothers.resize(static_cast<size_t>(row.nm));
    c.families = row.families;
    for (int o : row.offploid)
      c.offspring.push_back(o == 2 ? std::vector<oracle::Genotype>{{1, 2}, {1, 1}}
                                   : std::vector<oracle::Genotype>{{1, 0}, {2, 0}});
    c.offploid = row.offploid;
    add_filler(c);
    ASSERT_TRUE(oracle::build(c).ok);
    Variables& v = variables;
    ASSERT_EQ(v.maxobsnumallele, 2);
    const int4 n = v.smplsize;
    const index_t tri = static_cast<index_t>(n) * (n - 1) / 2;
    v.prbfstri.allocate(Dim(0, tri - 1));
    v.prbhstri.allocate(Dim(0, tri - 1));
    v.prbmhsibtri.allocate(Dim(0, tri - 1));
    for (index_t k = 0; k < tri; ++k) {
      v.prbfstri(k) = -1.5f - static_cast<float>(k);
      v.prbhstri(k) = -100.25f - static_cast<float>(k);
      v.prbmhsibtri(k) = -1000.75f - static_cast<float>(k);
    }
    v.prbfspairlower = 1;
    v.prbhspairq = row.halfsib_table ? 1 : 0;
    v.indivlogl(1) = -3.0;
    v.indivlogl(2) = -4.5;
    variables.priortype = 0;
    // Offspring 1 and 2: offset 0 in both triangles.
    double table = 0.0;
    switch (row.expect) {
      case 'F':
      case 'f':
        table = -1.5;
        break;
      case 'H':
        table = -100.25;
        break;
      case 'M':
        table = -1000.75;
        break;
      case 'U':
        table = -7.5;
        break;
    }
    const real8 got = run(-1e300, 1, 0, 2);
    int diploid = 0;
    for (int o : row.offploid) diploid += o == 2 ? 1 : 0;
    EXPECT_NEAR(got, gamma_prior(diploid) + table, 1e-12);
    if (row.expect == 'F') {
      // An impossible pair (single-precision -1e38) is rejected at the initial scoring's bound.
      v.prbfstri(0) = -1e38f;
      const real8 bad = run(-1e300, 1, 0, 2);
      EXPECT_EQ(bad, -1e300);
      EXPECT_TRUE(rejected(bad, -9.999999680285692e37));
    }
  }
}

// Two full sibs take the full computation when a locus has three or more alleles or while
// allele frequencies are updated.
TEST_F(FamilyLikelihood, TwoFullSibsWithoutTableTakeTheFullComputation) {
  for (int k : {3, 2}) {
    SCOPED_TRACE(k);
    reset_all_modules();
    testing_support::TempWorkDir dir{"family_logl"};
    oracle::Cluster c;
    c.loci = {make_locus(k), make_locus(2)};
    c.fathers.resize(1);
    c.mothers.resize(1);
    c.families = {{1, 1, {1, 2}}};
    c.offspring = {{{1, 2}, {1, 1}}, {{2, 2}, {1, 2}}};
    c.offploid = {2, 2};
    add_filler(c);
    ASSERT_TRUE(oracle::build(c).ok);
    oracle::exact_mode();
    Variables& v = variables;
    v.priortype = 0;
    const index_t tri = static_cast<index_t>(v.smplsize) * (v.smplsize - 1) / 2;
    v.prbfstri.allocate(Dim(0, tri - 1));
    v.prbfstri.fill(-0.5f);
    if (k == 2) v.updateallelefre = 1;
    EXPECT_NEAR(run(-1e300, 1, 0, 2) - gamma_prior(2), oracle::total_logl(c), total_tolerance(c));
  }
}

class BoundCases : public FamilyLikelihood {
 protected:
  // One family of four offspring at three error-free loci of four alleles.
  oracle::Cluster c;
  void build_family() {
    c.loci = {make_locus(4), make_locus(4), make_locus(4)};
    c.fathers.resize(1);
    c.mothers.resize(1);
    c.families = {{1, 1, {1, 2, 3, 4}}};
    c.offspring = {{{1, 3}, {1, 2}, {1, 1}},
                   {{2, 4}, {3, 4}, {1, 2}},
                   {{1, 4}, {1, 3}, {2, 2}},
                   {{2, 3}, {2, 4}, {1, 2}}};
    c.offploid = {2, 2, 2, 2};
    add_filler(c);
    ASSERT_TRUE(oracle::build(c).ok);
    oracle::exact_mode();
    variables.priortype = 0;
  }
};

// A sum that falls below the bound stops at once and returns the partial sum.
TEST_F(BoundCases, EarlyStopReturnsThePartialSum) {
  testing_support::TempWorkDir dir{"family_logl"};
  build_family();
  const Variables& v = variables;
  ASSERT_EQ(v.locus3(0), 3);
  const double x1 = oracle::locus_logl(c, v.locus3(1));
  const double x2 = oracle::locus_logl(c, v.locus3(2));
  const double p = gamma_prior(4);
  const double bound = p + x1 + 0.5 * x2;  // passed after locus 1, missed after locus 2
  const real8 got = run(bound, 1, 0, 0);
  EXPECT_NEAR(got, p + x1 + x2, 1e-9);
  EXPECT_LT(got, bound);
  EXPECT_TRUE(rejected(got, bound));
  const real8 whole = run(-1e300, 1, 0, 0);
  EXPECT_NEAR(whole, p + oracle::total_logl(c), 1e-9);
  EXPECT_FALSE(rejected(whole, -1e300));
}

TEST_F(FamilyLikelihood, TooManyFathersPrepareNothing) {
  variables.nparent(1) = 10001;
  variables.nparent(2) = 1;
  variables.numfsibship = -7;  // untouched without a preparation
  EXPECT_EQ(run(-1e300, 1, 0, 0), -1e300);
  EXPECT_EQ(variables.numfsibship, -7);
}

// P = 0 (prior type 1, one offspring) and an impossible first locus leave the sum at exactly
// -1e300, the bound: the multi-allele loci go on, the two-allele loci are skipped. A NaN
// frequency shows which loci were reached: a reached NaN ends in the error stop. The last row is
// the control: with a possible first locus the NaN two-allele locus is reached.
TEST_F(FamilyLikelihood, BoundMinus1e300GoesOnOverMultiAlleleLociOnly) {
  struct Row {
    const char* what;
    bool impossible;
    int nan_locus;  // 0 none, 2 the second multi-allele locus, 3 the two-allele locus
    bool stop;
  };
  const Row rows[] = {{"impossible, no NaN", true, 0, false},
                      {"impossible, NaN at a later multi-allele locus", true, 2, true},
                      {"impossible, NaN at the two-allele locus", true, 3, false},
                      {"possible, NaN at the two-allele locus", false, 3, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    reset_all_modules();
    testing_support::TempWorkDir dir{"family_logl"};
    oracle::Cluster c;
    c.loci = {make_locus(4), make_locus(3), make_locus(2)};
    c.fathers.resize(1);
    c.mothers.resize(1);
    c.fathers[0].candidate = 1;
    // Offspring allele 1 at the first locus cannot come from a 2/2 father.
    c.fathers[0].genotype = {
        row.impossible ? oracle::Genotype{2, 2} : oracle::Genotype{1, 2}, {1, 1}, {1, 1}};
    c.families = {{1, 1, {1}}};
    c.offspring = {{{1, 1}, {1, 2}, {1, 2}}};
    c.offploid = {2};
    add_filler(c);
    ASSERT_TRUE(oracle::build(c).ok);
    oracle::exact_mode();
    Variables& v = variables;
    v.priortype = 1;
    ASSERT_EQ(oracle::locus_logl(c, 1) == -1e300, row.impossible);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (row.nan_locus > 0) {
      FView<real8, 1> fr = v.obsallelefre(row.nan_locus).a;
      for (index_t a = fr.lbound(1); a <= fr.ubound(1); ++a) fr(a) = nan;
    }
    if (row.nan_locus == 3) {
      // The genotype-class table of the two-allele locus, where it holds the locus already.
      const index_t col = v.locus2loc(3) - v.l2lb(1);
      if (col >= v.locus2gtypefre.lbound(2) && col <= v.locus2gtypefre.ubound(2))
        for (index_t r = v.locus2gtypefre.lbound(1); r <= v.locus2gtypefre.ubound(1); ++r)
          v.locus2gtypefre(r, col) = nan;
    }
    if (row.stop) {
      if (testing_support::expect_stop([&] { run(-1e300, 0, 1, 0); }, "FamilyLikelihood",
                                       {.flag = 1}) == 1) {
        // gfortran writes a NaN list-directed as "NaN".
        EXPECT_EQ(trim(v.errmsg(1).view()), "Error in likelihood calculation, LogL = NaN");
      }
    } else {
      EXPECT_EQ(run(-1e300, 0, 1, 0), -1e300);
    }
  }
}

}  // namespace
}  // namespace kinrad
