// Simulated genotypes: exact cases of the observation model and of the class boundaries, and
// draw statistics over 10^5 individuals against shares derived from the population model:
// Hardy-Weinberg classes, Poisson event counts placed on loci (a locus receiving Poisson(r)
// events is hit with probability 1 - exp(-r)), and uniform replacement alleles.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "pairwise/delta_fixture.hpp"

namespace kinrad::pairtest {
namespace {

constexpr int kDraws = 100000;

class SimulatedGenotypes : public ::testing::Test {
 protected:
  testing_support::TempWorkDir dir{"simgenotype"};

  // Loci: 2 alleles, 3 alleles, 6 alleles, a dominant marker; complete, error-free data.
  void prepare_sample(const std::vector<int>& alleles = {2, 3, 6, 2},
                      const std::vector<int>& dominant = {4}) {
    SampleSpec s;
    s.n = 30;
    s.alleles = alleles;
    s.dominant = dominant;
    s.missing = 0.0;
    s.error = 0.0;
    s.fathers = 3;
    s.mothers = 3;
    s.method = "1";
    ASSERT_TRUE(prepare(projectof(s).text()));
    random_stream_state = RandomStreamState{};
    variables.idum = -321;
  }

  // Allele frequencies of a locus, set before the tables are built.
  static void set_frequencies(int4 l, const std::vector<double>& p) {
    for (std::size_t a = 0; a < p.size(); ++a)
      variables.obsallelefre(l).a(static_cast<int4>(a + 1)) = p[a];
  }
};

TEST_F(SimulatedGenotypes, ErrorFreeCompleteDataOnlyCopiesHaploidsAndMasksDominantHeterozygotes) {
  prepare_sample();
  start_simulation();
  const Simuvariables::DeltaSimulation& d = simuvariables.delta;
  ASSERT_EQ(d.droperrorloci(0), 0);
  ASSERT_EQ(d.othererrorloci(0), 0);
  ASSERT_EQ(d.missingloci(0), 0);
  const RandomStreamState before = random_stream_state;
  const int4 idum = variables.idum;
  Genotype g(4);
  g.set(1, 1, 2);
  g.set(2, 2, 3);
  g.set(3, 4, 6);
  g.set(4, 1, 2);
  real8 logl = 0.0;
  simugenotype(2, 2, g.data(), logl);
  EXPECT_EQ(g.at(1, 1), 1);
  EXPECT_EQ(g.at(2, 1), 2);
  EXPECT_EQ(g.at(1, 2), 2);
  EXPECT_EQ(g.at(2, 2), 3);
  EXPECT_EQ(g.at(1, 3), 4);
  EXPECT_EQ(g.at(2, 3), 6);
  EXPECT_EQ(g.at(1, 4), 1);  // the band shows: 1/1
  EXPECT_EQ(g.at(2, 4), 1);
  Genotype h(4);
  h.set(1, 2, 0);
  h.set(2, 3, 0);
  h.set(3, 5, 0);
  h.set(4, 1, 0);
  simugenotype(2, 1, h.data(), logl);
  for (int4 l = 1; l <= 4; ++l) EXPECT_EQ(h.at(2, l), h.at(1, l)) << "locus " << l;
  EXPECT_EQ(logl, 0.0);
  // No event list: the stream is not touched.
  EXPECT_EQ(random_stream_state.ix, before.ix);
  EXPECT_EQ(random_stream_state.iy, before.iy);
  EXPECT_EQ(variables.idum, idum);
}

TEST_F(SimulatedGenotypes, DropoutLeavesHomozygotesAndMissingLociAlone) {
  prepare_sample();
  variables.droprate(2) = 30.0;  // about 30 events per individual, all at locus 2
  start_simulation();
  ASSERT_EQ(simuvariables.delta.droperrorloci(0), 1);
  for (int rep = 0; rep < 200; ++rep) {
    Genotype g(4);
    g.set(1, 1, 2);
    g.set(2, 3, 3);
    g.set(3, 2, 5);
    g.set(4, 2, 2);
    real8 logl = 0.0;
    simugenotype(2, 2, g.data(), logl);
    EXPECT_EQ(g.at(1, 2), 3);
    EXPECT_EQ(g.at(2, 2), 3);
    EXPECT_EQ(g.at(1, 1), 1);
    EXPECT_EQ(g.at(2, 1), 2);
    Genotype m(4);
    m.set(1, 1, 1);
    m.set(2, 0, 0);
    m.set(3, 1, 1);
    m.set(4, 2, 2);
    simugenotype(2, 2, m.data(), logl);
    EXPECT_EQ(m.at(1, 2), 0);
    EXPECT_EQ(m.at(2, 2), 0);
    // A heterozygote there keeps one of its alleles (a miss has probability e^-30).
    Genotype h(4);
    h.set(1, 1, 1);
    h.set(2, 1, 3);
    h.set(3, 1, 1);
    h.set(4, 2, 2);
    simugenotype(2, 2, h.data(), logl);
    EXPECT_EQ(h.at(1, 2), h.at(2, 2));
    EXPECT_TRUE(h.at(1, 2) == 1 || h.at(1, 2) == 3);
  }
}

TEST_F(SimulatedGenotypes, BoundaryDrawsPickTheLowerClass) {
  prepare_sample({2, 3, 6}, {});
  start_simulation();
  Simuvariables::DeltaSimulation& d = simuvariables.delta;
  const int4 pos1 = variables.locus2loc(1);
  struct Row {
    std::string name;
    int4 ploidy;
    int4 locus;     // the locus whose draw lands on a boundary
    int4 boundary;  // the class whose upper boundary the draw equals
    int4 skip;      // draws of the true genotype before that one
  };
  // One draw per locus for a haploid at multi-allelic loci and for a diploid at a two-allele
  // locus; the haploid's two-allele locus takes one draw too.
  const std::vector<Row> rows = {
      {"two alleles: 1/1 up to p1^2", 2, 1, 1, 0},
      {"two alleles: 1/2 up to 1 - p2^2", 2, 1, 2, 0},
      {"three alleles, linear search", 1, 2, 2, 1},
      {"six alleles, bisection", 1, 3, 4, 2},
      {"six alleles, bisection, first class", 1, 3, 1, 2},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const RandomStreamState s = random_stream_state;
    const int4 idum = variables.idum;
    for (int4 k = 0; k < r.skip; ++k) ran1();
    const real4 u = ran1();
    random_stream_state = s;
    variables.idum = idum;
    // Running sums with the boundary of the class exactly at the draw, the classes below it
    // ending lower and those above it higher.
    real4* cum = nullptr;
    int4 n = 2;
    if (r.locus == 1) {
      cum = &d.cumulativeallelefre2(1, pos1);
    } else {
      n = variables.obsnumallele(r.locus);
      cum = &d.cumallelefre3(d.locfre3(variables.locus3loc(r.locus)) + 1);
    }
    const int4 top = r.locus == 1 ? 2 : n - 1;
    for (int4 j = 1; j <= top; ++j) {
      if (j < r.boundary)
        cum[j - 1] = u * static_cast<real4>(j) / static_cast<real4>(r.boundary + 1);
      if (j == r.boundary) cum[j - 1] = u;
      if (j > r.boundary)
        cum[j - 1] = u + (1.0f - u) * static_cast<real4>(j - r.boundary) / static_cast<real4>(n);
    }
    Genotype g(3);
    real8 logl = 0.0;
    simugenotype(1, r.ploidy, g.data(), logl);
    if (r.locus == 1) {
      const int4 expect_second = r.boundary == 1 ? 1 : 2;
      EXPECT_EQ(g.at(1, 1), 1);
      EXPECT_EQ(g.at(2, 1), expect_second);
    } else {
      EXPECT_EQ(g.at(1, r.locus), r.boundary);
    }
  }
}

TEST_F(SimulatedGenotypes, TrueGenotypesFollowTheAlleleFrequencies) {
  prepare_sample({2, 3, 6}, {});
  set_frequencies(1, {0.3, 0.7});
  set_frequencies(2, {0.2, 0.3, 0.5});
  set_frequencies(3, {0.1, 0.1, 0.2, 0.2, 0.15, 0.25});
  start_simulation();
  int64_t cls[3] = {0, 0, 0};
  int64_t allele2[4] = {}, allele3[7] = {};
  int64_t haploid1 = 0;
  Genotype g(3);
  real8 logl = 0.0;
  for (int k = 0; k < kDraws; ++k) {
    simugenotype(1, 2, g.data(), logl);
    ASSERT_LE(g.at(1, 2), g.at(2, 2));
    ++cls[g.at(1, 1) == 1 ? (g.at(2, 1) == 1 ? 0 : 1) : 2];
    ++allele2[g.at(1, 2)];
    ++allele2[g.at(2, 2)];
    ++allele3[g.at(1, 3)];
    ++allele3[g.at(2, 3)];
    simugenotype(1, 1, g.data(), logl);
    haploid1 += g.at(1, 1) == 1 ? 1 : 0;
  }
  expect_binomial(cls[0], kDraws, 0.09, "1/1");
  expect_binomial(cls[1], kDraws, 0.42, "1/2");
  expect_binomial(cls[2], kDraws, 0.49, "2/2");
  expect_binomial(haploid1, kDraws, 0.3, "haploid allele 1");
  const double p2[] = {0, 0.2, 0.3, 0.5};
  const double p3[] = {0, 0.1, 0.1, 0.2, 0.2, 0.15, 0.25};
  for (int a = 1; a <= 3; ++a)
    expect_binomial(allele2[a], 2 * kDraws, p2[a], "3 alleles, allele " + std::to_string(a));
  for (int a = 1; a <= 6; ++a)
    expect_binomial(allele3[a], 2 * kDraws, p3[a], "6 alleles, allele " + std::to_string(a));
}

TEST_F(SimulatedGenotypes, MissingSharesPerLocus) {
  prepare_sample({2, 3, 6}, {});
  start_simulation();
  // Missing rates 0.05, 0.2, 0.01 at loci 1..3, as the tables hold them.
  Simuvariables::DeltaSimulation& d = simuvariables.delta;
  d.missingloci(0) = 3;
  d.missingrate.allocate(Dim(3));
  const double rate[] = {0.05, 0.2, 0.01};
  double cum = 0.0;
  for (int4 l = 1; l <= 3; ++l) {
    d.missingloci(l) = l;
    cum += rate[l - 1];
    d.missingrate(l) = static_cast<real4>(cum);
  }
  int64_t miss[4] = {};
  Genotype g(3);
  real8 logl = 0.0;
  for (int k = 0; k < kDraws; ++k) {
    g.set(1, 1, 2);
    g.set(2, 2, 3);
    g.set(3, 5, 6);
    simugenotype(2, 2, g.data(), logl);
    for (int4 l = 1; l <= 3; ++l) {
      const bool m = g.at(1, l) == 0;
      ASSERT_EQ(m, g.at(2, l) == 0);
      miss[l] += m ? 1 : 0;
    }
  }
  for (int4 l = 1; l <= 3; ++l)
    expect_binomial(miss[l], kDraws, 1.0 - std::exp(-rate[l - 1]), "locus " + std::to_string(l));
}

TEST_F(SimulatedGenotypes, DropoutAndOtherErrorEventsWithEqualAndUnequalRates) {
  struct Case {
    std::string name;
    double rate[3];
  };
  const std::vector<Case> cases = {{"equal rates", {0.1, 0.1, 0.1}},
                                   {"unequal rates", {0.05, 0.3, 0.15}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    prepare_sample({2, 3, 6}, {});
    for (int4 l = 1; l <= 3; ++l) variables.droprate(l) = c.rate[l - 1];
    start_simulation();
    const int expect_flag = c.rate[0] == c.rate[1] ? 1 : 0;
    EXPECT_EQ(simuvariables.delta.lociflag(1), expect_flag);
    int64_t hit[4] = {}, kept_low[4] = {};
    Genotype g(3);
    real8 logl = 0.0;
    for (int k = 0; k < kDraws; ++k) {
      g.set(1, 1, 2);
      g.set(2, 1, 3);
      g.set(3, 2, 5);
      simugenotype(2, 2, g.data(), logl);
      const int low[4] = {0, 1, 1, 2};
      for (int4 l = 1; l <= 3; ++l)
        if (g.at(1, l) == g.at(2, l)) {
          ++hit[l];
          kept_low[l] += g.at(1, l) == low[l] ? 1 : 0;
        }
    }
    for (int4 l = 1; l <= 3; ++l) {
      expect_binomial(hit[l], kDraws, 1.0 - std::exp(-c.rate[l - 1]),
                      "dropout at locus " + std::to_string(l));
      expect_binomial(kept_low[l], hit[l], 0.5, "kept allele at locus " + std::to_string(l));
    }

    // Other errors on a haploid: a locus with Poisson(e) events ends on a uniform allele,
    // different from the true one with probability (n - 1)/n.
    prepare_sample({2, 3, 6}, {});
    for (int4 l = 1; l <= 3; ++l) variables.othererrorrate(l) = c.rate[l - 1];
    start_simulation();
    EXPECT_EQ(simuvariables.delta.lociflag(2), expect_flag);
    int64_t changed[4] = {};
    for (int k = 0; k < kDraws; ++k) {
      g.set(1, 1, 1);
      g.set(2, 2, 2);
      g.set(3, 6, 6);
      simugenotype(2, 1, g.data(), logl);
      const int truth[4] = {0, 1, 2, 6};
      for (int4 l = 1; l <= 3; ++l) {
        ASSERT_EQ(g.at(1, l), g.at(2, l));
        changed[l] += g.at(1, l) != truth[l] ? 1 : 0;
      }
    }
    const int n[4] = {0, 2, 3, 6};
    for (int4 l = 1; l <= 3; ++l)
      expect_binomial(changed[l], kDraws,
                      (1.0 - std::exp(-c.rate[l - 1])) * (n[l] - 1) / double(n[l]),
                      "other error at locus " + std::to_string(l));
  }
}

TEST_F(SimulatedGenotypes, DirectDrawOfTwoAlleleDataFollowsTheObservedShares) {
  // Two-allele loci with missing data and errors: observed codes are drawn directly.
  SampleSpec s;
  s.n = 60;
  s.alleles = {2, 2, 2};
  s.missing = 0.2;
  s.error = 0.02;
  s.fathers = 10;
  s.mothers = 10;
  s.method = "1";
  s.seed = 5;
  ASSERT_TRUE(prepare(projectof(s).text()));
  start_simulation();
  const Variables& v = variables;
  const Simuvariables::DeltaSimulation& d = simuvariables.delta;
  // The shares counted directly from the packed columns (every individual is diploid).
  for (int4 l = 1; l <= 3; ++l) {
    int64_t count[4] = {};
    for (int4 i = 1; i <= v.smplsize; ++i)
      ++count[allelesof(0, i, l)[0] == 0 ? 0 : [&] {
        const auto a = allelesof(0, i, l);
        return a[0] != a[1] ? 3 : a[0];
      }()];
    for (int4 sx = 1; sx <= 2; ++sx)
      for (int4 c = 1; c <= v.numcandidate(sx); ++c) {
        const auto a = allelesof(sx, c, l);
        ++count[a[0] == 0 ? 0 : (a[0] != a[1] ? 3 : a[0])];
      }
    const double all = double(count[0] + count[1] + count[2] + count[3]);
    const int4 pos = v.locus2loc(l);
    EXPECT_FLOAT_EQ(d.cumgtypefre(1, pos), float(count[1] / all));
    EXPECT_FLOAT_EQ(d.cumgtypefre(2, pos), float((count[1] + count[2]) / all));
    EXPECT_FLOAT_EQ(d.cumgtypefre(3, pos), float((count[1] + count[2] + count[3]) / all));
  }
  int64_t code[4][4] = {};
  Genotype g(3);
  for (int k = 0; k < kDraws; ++k) {
    real8 logl = 0.0;
    simugenotype(3, 2, g.data(), logl);
    real8 expect = 0.0;
    for (int4 l = 1; l <= 3; ++l) {
      const int c = g.at(1, l) == 0 ? 0 : (g.at(1, l) != g.at(2, l) ? 3 : g.at(1, l));
      ++code[l][c];
      if (c > 0) {
        const int4 al[2] = {g.at(1, l), g.at(2, l)};
        real8 p = 0.0;
        probsinglegtype(0.0, 2, l, al, p);
        expect += std::log(p);
      }
    }
    ASSERT_NEAR(logl, expect, 1e-9);
  }
  for (int4 l = 1; l <= 3; ++l) {
    const int4 pos = v.locus2loc(l);
    const double c1 = d.cumgtypefre(1, pos), c2 = d.cumgtypefre(2, pos), c3 = d.cumgtypefre(3, pos);
    expect_binomial(code[l][1], kDraws, c1, "1/1");
    expect_binomial(code[l][2], kDraws, c2 - c1, "2/2");
    expect_binomial(code[l][3], kDraws, c3 - c2, "1/2");
    expect_binomial(code[l][0], kDraws, 1.0 - c3, "missing");
  }
}

}  // namespace
}  // namespace kinrad::pairtest
