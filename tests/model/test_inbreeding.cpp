// The initial inbreeding estimate on simulated samples. Expected values come from how the
// samples are made: Hardy-Weinberg genotypes carry no homozygote excess (F near 0), samples of
// homozygotes only carry the largest one (F = 1, reported as 0.99), and heterozygotes shown as
// homozygotes by dropout alone carry an excess that the dropout weighting takes away.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "model/inbreeding_estimate_internal.hpp"
#include "model/model.hpp"
#include "model/model_fixture.hpp"

namespace kinrad::test {
namespace {

const std::vector<real8> freq4{0.1, 0.2, 0.3, 0.4};

// Draws an allele from the frequencies.
int draw(std::mt19937& rng, const std::vector<real8>& p) {
  std::discrete_distribution<int> d(p.begin(), p.end());
  return d(rng) + 1;
}

// Sets n diploid offspring, no candidates, and the given genotypes per locus.
void setup_sample(const std::vector<LocusSpec>& loci,
                  const std::vector<std::vector<Genotype>>& genotypes) {
  Variables& v = variables;
  const int4 n = static_cast<int4>(genotypes.at(0).size());
  v.smplsize = n;
  v.numsex = 2;
  v.ploidy(1) = 2;
  v.ploidy(2) = 2;
  v.offploid.allocate(Dim(n));
  v.offploid.fill(2);
  v.smplsizedh(2) = n;
  v.displayq = 0;
  setup_loci(loci);
  pack(v.indivgtype2, v.indivgtype2tgt, genotypes);
  v.alldommarkers = 1;
  for (const LocusSpec& s : loci)
    if (!s.dominant) v.alldommarkers = 0;
}

// Hardy-Weinberg genotypes at every locus; each heterozygote shows as one of its homozygotes
// with probability t each (dropout of the other allele).
std::vector<std::vector<Genotype>> simulate(int4 loci, int4 n, real8 t, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<real8> u(0.0, 1.0);
  std::vector<std::vector<Genotype>> g(static_cast<std::size_t>(loci));
  for (auto& column : g) {
    for (int4 i = 0; i < n; ++i) {
      int a = draw(rng, freq4);
      int b = draw(rng, freq4);
      if (a > b) std::swap(a, b);
      if (a != b) {
        const real8 x = u(rng);
        if (x < t)
          b = a;
        else if (x < 2 * t)
          a = b;
      }
      column.emplace_back(a, b);
    }
  }
  return g;
}

class Inbreeding : public ModelTest {};

TEST_F(Inbreeding, HardyWeinbergSampleGivesNearZero) {
  std::vector<LocusSpec> loci(10, LocusSpec{4, false, 0.0, 0.0, freq4});
  setup_sample(loci, simulate(10, 500, 0.0, 11u));
  real8 f = 1.0;
  initialinbcoe(f);
  EXPECT_LT(std::fabs(f), 0.03);
}

TEST_F(Inbreeding, AllHomozygousGives099) {
  std::vector<LocusSpec> loci(3, LocusSpec{4, false, 0.0, 0.0, freq4});
  std::vector<std::vector<Genotype>> g(3);
  for (int4 i = 0; i < 40; ++i)
    for (int4 l = 0; l < 3; ++l) {
      const int a = (i + l) % 4 + 1;
      g[static_cast<std::size_t>(l)].emplace_back(a, a);
    }
  setup_sample(loci, g);
  real8 f = 0.0;
  initialinbcoe(f);
  EXPECT_EQ(f, 0.99);
}

TEST_F(Inbreeding, HomozygoteExcessFromDropoutAloneGivesNearZero) {
  // d = 0.2: a heterozygote shows as either homozygote with probability d/(1 + d) = 1/6 each,
  // which without the weighting would read as F of about 0.3.
  const real8 d = 0.2;
  std::vector<LocusSpec> loci(10, LocusSpec{4, false, d, 0.0, freq4});
  setup_sample(loci, simulate(10, 500, d / (1.0 + d), 12u));
  real8 f = 1.0;
  initialinbcoe(f);
  EXPECT_LT(std::fabs(f), 0.05);
}

TEST_F(Inbreeding, InbredSampleIsRecovered) {
  // Half the individuals are fully inbred (a homozygote of one drawn allele): F = 0.5.
  std::mt19937 rng(13u);
  std::vector<LocusSpec> loci(10, LocusSpec{4, false, 0.0, 0.0, freq4});
  std::vector<std::vector<Genotype>> g(10);
  for (auto& column : g)
    for (int4 i = 0; i < 600; ++i) {
      int a = draw(rng, freq4);
      int b = i % 2 == 0 ? a : draw(rng, freq4);
      if (a > b) std::swap(a, b);
      column.emplace_back(a, b);
    }
  setup_sample(loci, g);
  real8 f = 0.0;
  initialinbcoe(f);
  EXPECT_NEAR(f, 0.5, 0.05);
}

TEST_F(Inbreeding, NoCodominantInformationGivesZero) {
  struct Row {
    const char* name;
    std::vector<LocusSpec> loci;
    std::vector<std::vector<Genotype>> g;
  };
  const std::vector<Genotype> dom{{1, 1}, {1, 1}, {2, 2}};
  const Row rows[] = {
      {"all dominant", {LocusSpec{2, true, 0.0, 0.0, {0.5, 0.5}}}, {dom}},
      {"a monomorphic codominant locus",
       {LocusSpec{1, false, 0.0, 0.0, {1.0}}},
       {{{1, 1}, {1, 1}, {1, 1}}}},
      {"untyped", {LocusSpec{3, false, 0.0, 0.0, {0.2, 0.3, 0.5}}}, {{{0, 0}, {0, 0}, {0, 0}}}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    reset_all_modules();
    setup_sample(r.loci, r.g);
    real8 f = 0.7;
    initialinbcoe(f);
    EXPECT_EQ(f, 0.0);
  }
}

TEST_F(Inbreeding, ScreenLineWhenDisplaying) {
  std::vector<LocusSpec> loci(1, LocusSpec{4, false, 0.0, 0.0, freq4});
  setup_sample(loci, simulate(1, 50, 0.0, 14u));
  variables.displayq = 1;
  testing::internal::CaptureStdout();
  real8 f = 0.0;
  initialinbcoe(f);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Estimating initial inbreeding coefficient...\n");
}

TEST_F(Inbreeding, InbfuncUsesNoNegativeF) {
  std::vector<LocusSpec> loci(2, LocusSpec{4, false, 0.0, 0.0, freq4});
  setup_sample(loci, simulate(2, 30, 0.0, 15u));
  EXPECT_EQ(inbfunc(-0.3), inbfunc(0.0));
  EXPECT_GT(inbfunc(0.0), 0.0);
  // Two offspring: 1/1 and 1/2 at one locus with p = (0.3, 0.7), F = 0: -(ln 0.09 + ln 0.42).
  reset_all_modules();
  setup_sample({LocusSpec{2, false, 0.0, 0.0, {0.3, 0.7}}}, {{{1, 1}, {1, 2}}});
  EXPECT_NEAR(inbfunc(0.0), -(std::log(0.09) + std::log(0.42)), 1e-12);
  // Haploid offspring are left out.
  variables.offploid(2) = 1;
  EXPECT_NEAR(inbfunc(0.0), -std::log(0.09), 1e-12);
}

}  // namespace
}  // namespace kinrad::test
