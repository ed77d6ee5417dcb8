// The oracle checked against independent code and hand derivations: the single-individual and
// dyad probabilities of the genotype model (computed by their own routines, from identity
// coefficients rather than from a pedigree), and closed forms worked out on paper.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <span>

#include "core/modules.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/setgetgtype.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "likelihood/oracle.hpp"
#include "model/model.hpp"
#include "support/module_reset.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using oracle::Cluster;
using oracle::Genotype;

// Condensed identity coefficients of relationships without inbreeding.
constexpr std::array<double, 9> kFullSib{0, 0, 0, 0, 0, 0, 0.25, 0.5, 0.25};
constexpr std::array<double, 9> kHalfSib{0, 0, 0, 0, 0, 0, 0, 0.5, 0.5};
constexpr std::array<double, 9> kParent{0, 0, 0, 0, 0, 0, 0, 1, 0};

class Oracle : public testing_support::ModuleReset {
 protected:
  testing_support::TempWorkDir dir{"oracle"};
};

// The observed genotype read back from the packed store, as two recoded allele numbers (a
// dominant phenotype twice, so that the dyad routine sees a diploid).
std::array<int4, 2> seen(const FArray<I2bdim1, 1>& columns, int4 i, int4 locus) {
  setgetgtype.locusgtypeptr = columns(locus).a;
  int2 g = 0;
  const int4 k = variables.obsnumallele(locus);
  getgtype(g, i, k);
  if (g <= 0) return {0, 0};
  if (k <= 2) {
    if (variables.dominantmarker(locus) != 0) return {g, g};
    if (g == 1 || g == 2) return {g, g};
    return {1, 2};
  }
  return {variables.genotypeid(1, g), variables.genotypeid(2, g)};
}

// Loci of three marker kinds: codominant error-free (4 alleles), codominant with errors (3
// alleles), codominant error-free with 2 alleles, dominant with errors.
Cluster base() {
  Cluster c;
  c.loci = {{false, 4, {}, 0.0, 0.0},
            {false, 3, {}, 0.05, 0.02},
            {false, 2, {}, 0.0, 0.0},
            {true, 2, {}, 0.05, 0.01}};
  c.fathers.resize(1);
  c.mothers.resize(1);
  // Sample offspring that fix the allele frequencies; the families below use some of them.
  c.offspring = {{{1, 2}, {1, 3}, {1, 2}, {1, 0}}, {{2, 3}, {2, 2}, {1, 1}, {2, 0}},
                 {{1, 4}, {1, 2}, {2, 2}, {1, 0}}, {{3, 4}, {3, 3}, {1, 2}, {1, 0}},
                 {{1, 1}, {1, 2}, {1, 1}, {2, 0}}, {{2, 4}, {1, 1}, {1, 2}, {1, 0}}};
  c.offploid.assign(c.offspring.size(), 2);
  return c;
}

TEST_F(Oracle, OneOffspringWithUnsampledParentsIsASingleIndividual) {
  for (int member = 1; member <= 6; ++member) {
    SCOPED_TRACE(member);
    Cluster c = base();
    c.families = {{1, 1, {member}}};
    ASSERT_TRUE(oracle::build(c).ok);
    for (int4 l = 1; l <= 4; ++l) {
      SCOPED_TRACE(l);
      const auto g = seen(variables.indivgtype2, member, l);
      real8 p = 0.0;
      const int4 gg[2] = {g[0], g[1]};
      probsinglegtype(0.0, 2, l, gg, p);
      EXPECT_NEAR(oracle::locus_logl(c, l), std::log(p), 1e-12);
    }
  }
}

TEST_F(Oracle, DyadsEqualTheIdentityCoefficientModel) {
  struct Row {
    const char* name;
    std::vector<oracle::Family> families;
    int fathers, mothers;
    bool candidate;  // the father is candidate 1, typed as offspring 5 is
    std::array<double, 9> delta;
  };
  const Row rows[] = {
      {"full sibs", {{1, 1, {1, 2}}}, 1, 1, false, kFullSib},
      {"paternal half sibs", {{1, 1, {3}}, {1, 2, {4}}}, 1, 2, false, kHalfSib},
      {"maternal half sibs", {{1, 1, {1}}, {2, 1, {6}}}, 2, 1, false, kHalfSib},
      {"typed father", {{1, 1, {2}}}, 1, 1, true, kParent},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Cluster c = base();
    c.fathers.resize(static_cast<size_t>(r.fathers));
    c.mothers.resize(static_cast<size_t>(r.mothers));
    c.families = r.families;
    if (r.candidate) {
      c.fathers[0].candidate = 1;
      c.fathers[0].genotype = {{1, 3}, {2, 3}, {1, 2}, {1, 0}};
    }
    ASSERT_TRUE(oracle::build(c).ok);
    for (int4 l = 1; l <= 4; ++l) {
      SCOPED_TRACE(l);
      std::array<int4, 2> a{}, b{};
      if (r.candidate) {
        a = seen(variables.cndgtype2, 1, l);
        b = seen(variables.indivgtype2, r.families[0].members[0], l);
      } else {
        const int m1 = r.families[0].members[0];
        const int m2 = r.families.size() > 1 ? r.families[1].members[0] : r.families[0].members[1];
        a = seen(variables.indivgtype2, m1, l);
        b = seen(variables.indivgtype2, m2, l);
      }
      const double p = prbpdyad(a[0], a[1], b[0], b[1], std::span<const real8, 9>(r.delta), l, 0);
      EXPECT_NEAR(oracle::locus_logl(c, l), std::log(p), 1e-12);
    }
  }
}

// Two full sibs both 1/1 at an error-free two-allele locus with allele frequency p: summing
// over the parents, P = p^2 (1 + p)^2 / 4.
TEST_F(Oracle, FullSibHomozygotesByHand) {
  Cluster c = base();
  c.offspring[1][2] = {1, 1};
  c.offspring[4][2] = {1, 1};
  c.families = {{1, 1, {2, 5}}};
  ASSERT_TRUE(oracle::build(c).ok);
  const auto g = seen(variables.indivgtype2, 2, 3);
  ASSERT_EQ(g[0], g[1]);
  const double p = variables.obsallelefre(3).a(g[0]);
  EXPECT_NEAR(oracle::locus_logl(c, 3), std::log(p * p * (1 + p) * (1 + p) / 4), 1e-13);
}

// Haplodiploid, error-free codominant locus, unsampled parents: a son showing allele a has
// probability f_a, a daughter a/b (a != b) 2 f_a f_b; for a son a with a full sister a/b see
// the sum over the mother's genotypes below.
TEST_F(Oracle, HaplodiploidByHand) {
  Cluster c;
  c.haplodiploid = true;
  c.loci = {{false, 3, {}, 0.0, 0.0}};
  c.fathers.resize(1);
  c.mothers.resize(1);
  c.offspring = {{{1, 0}}, {{1, 2}}, {{2, 3}}, {{3, 0}}, {{1, 3}}};
  c.offploid = {1, 2, 2, 1, 2};
  struct Row {
    const char* name;
    std::vector<int> members;
  };
  const Row rows[] = {{"son", {1}}, {"daughter", {2}}, {"son and daughter", {1, 2}}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    c.families = {{1, 1, r.members}};
    ASSERT_TRUE(oracle::build(c).ok);
    const FView<real8, 1>& f = variables.obsallelefre(1).a;
    const auto s = seen(variables.indivgtype2, 1, 1);  // the son's allele a
    const auto d = seen(variables.indivgtype2, 2, 1);  // the daughter's alleles
    double expected = 0.0;
    if (r.members.size() == 1 && r.members[0] == 1) {
      expected = f(s[0]);
    } else if (r.members.size() == 1) {
      expected = 2 * f(d[0]) * f(d[1]);
    } else {
      // L = sum over mothers of P(mother) P(son a | mother) (f_a P(mother passes b) +
      // f_b P(mother passes a)), the father's allele being a or b. Mothers carrying a:
      //   a/a: f_a^2 x 1 x f_b;  a/b: 2 f_a f_b x 1/2 x (f_a + f_b)/2;
      //   a/y, y the third allele: 2 f_a f_y x 1/2 x f_b/2.
      const int a = s[0];
      const int b = d[0] == a ? d[1] : d[0];
      const double fa = f(a), fb = f(b);
      const double fy = 1.0 - fa - fb;
      expected =
          fa * fa * fb + 2 * fa * fb * 0.5 * (0.5 * fb + 0.5 * fa) + 2 * fa * fy * 0.5 * 0.5 * fb;
    }
    EXPECT_NEAR(oracle::locus_logl(c, 1), std::log(expected), 1e-13);
  }
}

// A selfed offspring a/a of an unsampled parent at an error-free locus of 3 alleles, with the
// parent's inbreeding F: P = f_a (F + (1 - F) f_a) + (1 - F) f_a (1 - f_a) / 2.
TEST_F(Oracle, SelfedOffspringByHand) {
  Cluster c;
  c.numsex = 1;
  c.allowinbreeding = true;
  c.inbreeding = 0.2;
  c.loci = {{false, 3, {}, 0.0, 0.0}};
  c.fathers.resize(1);
  c.mothers.resize(1);
  c.same = {{1, 1}};
  c.offspring = {{{2, 2}}, {{1, 2}}, {{1, 3}}, {{3, 3}}};
  c.offploid.assign(4, 2);
  c.families = {{1, 1, {1}}};
  ASSERT_TRUE(oracle::build(c).ok);
  EXPECT_EQ(likelihoodvar.prntinbcoe(1, 1), 0.2);
  const auto g = seen(variables.indivgtype2, 1, 1);
  const double fa = variables.obsallelefre(1).a(g[0]);
  const double F = 0.2;
  EXPECT_NEAR(oracle::locus_logl(c, 1),
              std::log(fa * (F + (1 - F) * fa) + (1 - F) * fa * (1 - fa) / 2), 1e-13);
}

// Offspring that no parent pair can give make the locus impossible.
TEST_F(Oracle, ImpossibleFamilyGivesTheSentinel) {
  Cluster c = base();
  // Three homozygotes of different alleles cannot be full sibs at an error-free locus.
  c.offspring[0][0] = {1, 1};
  c.offspring[1][0] = {2, 2};
  c.offspring[2][0] = {3, 3};
  c.families = {{1, 1, {1, 2, 3}}};
  ASSERT_TRUE(oracle::build(c).ok);
  EXPECT_EQ(oracle::locus_logl(c, 1), -1e300);
  EXPECT_GT(oracle::locus_logl(c, 2), -1e300);  // errors make anything possible
}

TEST_F(Oracle, RandomClustersBuildAndStayWithinTheEnumerationBudget) {
  using oracle::Markers;
  using oracle::Shape;
  using oracle::Species;
  const Shape shapes[] = {Shape::one_family, Shape::star,        Shape::chain,    Shape::tree,
                          Shape::cycle2x2,   Shape::cycle2x3,    Shape::cycle3x3, Shape::ladder,
                          Shape::two_cycles, Shape::random_graph};
  const Species species[] = {Species::diploid, Species::inbred, Species::haplodiploid,
                             Species::monoecious, Species::selfing};
  const Markers markers[] = {Markers::snp_free,      Markers::multi_free, Markers::snp_error,
                             Markers::multi_error,   Markers::many_error, Markers::dominant_free,
                             Markers::dominant_error};
  std::uint32_t seed = 1;
  for (Shape sh : shapes) {
    for (Species sp : species) {
      const Markers mk = markers[seed % 7];
      SCOPED_TRACE(seed);
      oracle::Options o;
      o.shape = sh;
      o.species = sp;
      o.markers = mk;
      o.sampled_parents = static_cast<int>(seed % 3);
      o.missing = 0.1 * (seed % 3);
      Cluster c = oracle::random_cluster(seed++, o);
      const oracle::Built b = oracle::build(c);
      ASSERT_TRUE(b.ok) << b.error << oracle::project_text(c);
      for (int4 l = 1; l <= variables.numloci; ++l) {
        if (variables.obsnumallele(l) < 2) continue;
        EXPECT_LE(oracle::combinations(c, l), 1.1e6);
        const double x = oracle::locus_logl(c, l);
        EXPECT_TRUE(x <= 0.0) << x;
      }
    }
  }
}

}  // namespace
}  // namespace kinrad
