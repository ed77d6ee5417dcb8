// The error-rate estimation on a simulated sample with its true pedigree as the best
// configuration: 300 offspring in 30 full-sib families of unsampled parents, 20 loci of 8
// alleles, true dropout rate 0.05 and other-error rate 0.01 at every locus. The genotypes are
// drawn here under the program's observation model (a heterozygote shows one of its alleles
// as a homozygote with probability 2d/(1 + d); then each allele is replaced, with probability
// errscale(8, e), by one drawn uniformly from the 8). Statistical checks with a margin.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/oracle.hpp"
#include "results/error_rate_best.hpp"
#include "results/error_rate_internal.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using oracle::Cluster;
using oracle::Genotype;
using oracle::Parent;

constexpr int kLoci = 20;
constexpr int kAlleles = 8;
constexpr int kFamilies = 30;
constexpr int kSize = 10;
constexpr double kDrop = 0.05;
constexpr double kOther = 0.01;

Cluster simulated(unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  // Allele frequencies: uniform weights, none below 2%.
  std::vector<std::vector<double>> freq(kLoci);
  for (auto& f : freq) {
    double sum = 0.0;
    for (int a = 0; a < kAlleles; ++a) f.push_back(0.2 + u(rng));
    for (double x : f) sum += x;
    for (double& x : f) x /= sum;
  }
  auto draw = [&](int l) {
    double r = u(rng);
    for (int a = 0; a < kAlleles; ++a) {
      r -= freq[static_cast<size_t>(l)][static_cast<size_t>(a)];
      if (r < 0.0) return a + 1;
    }
    return kAlleles;
  };
  // The other-error rate as the model applies it to 8 alleles.
  const double w = std::sqrt(2.25 / kAlleles);
  const double e = (1.0 - w) * kOther + w * (1.0 - std::exp(-kOther));
  auto observe = [&](Genotype t) {
    if (t[0] != t[1] && u(rng) < 2.0 * kDrop / (1.0 + kDrop)) t[0] = t[1] = u(rng) < 0.5 ? t[0] : t[1];
    for (int i = 0; i < 2; ++i)
      if (u(rng) < e) t[static_cast<size_t>(i)] = 1 + static_cast<int>(u(rng) * kAlleles);
    if (t[0] > t[1]) std::swap(t[0], t[1]);
    return t;
  };
  Cluster c;
  for (int l = 0; l < kLoci; ++l) c.loci.push_back({false, kAlleles, {}, kDrop, kOther});
  for (int f = 1; f <= kFamilies; ++f) {
    c.fathers.push_back(Parent{});
    c.mothers.push_back(Parent{});
    std::vector<Genotype> dad, mum;
    for (int l = 0; l < kLoci; ++l) {
      dad.push_back({draw(l), draw(l)});
      mum.push_back({draw(l), draw(l)});
    }
    oracle::Family fam{f, f, {}};
    for (int k = 0; k < kSize; ++k) {
      std::vector<Genotype> g;
      for (int l = 0; l < kLoci; ++l) {
        const Genotype& a = dad[static_cast<size_t>(l)];
        const Genotype& b = mum[static_cast<size_t>(l)];
        g.push_back(observe({a[u(rng) < 0.5 ? 0 : 1], b[u(rng) < 0.5 ? 0 : 1]}));
      }
      c.offspring.push_back(g);
      fam.members.push_back(static_cast<int>(c.offspring.size()));
    }
    c.families.push_back(fam);
  }
  c.offploid.assign(c.offspring.size(), 2);
  return c;
}

std::vector<double> numbers(const std::string& row) {
  std::vector<double> r;
  std::istringstream s(row);
  std::string f;
  std::getline(s, f, ',');  // the marker
  while (std::getline(s, f, ',')) r.push_back(std::stod(f));
  return r;
}

TEST(ErrorRateSimulated, EstimatesCoverTheTruth) {
  testing_support::TempWorkDir dir{"error_rate_simulated"};
  ASSERT_TRUE(test::build_best(simulated(20261210u), kFamilies));
  auto& v = variables;
  ASSERT_EQ(v.numloci, kLoci);
  for (int4 l = 1; l <= kLoci; ++l) ASSERT_EQ(v.obsnumallele(l), kAlleles);
  v.fulllikelihoodmethodq = 1;
  errorrateestimate();
  std::istringstream file(testing_support::read_text(v.fname + ".ErrorRate"));
  std::string line;
  std::getline(file, line);  // header
  int rows = 0, covered = 0;
  double sumdrop = 0.0, sumother = 0.0;
  while (std::getline(file, line)) {
    SCOPED_TRACE(line);
    const auto x = numbers(line);
    ASSERT_EQ(x.size(), 8u);
    ++rows;
    // start, estimate, lower, upper for dropout (0..3) and other error (4..7).
    for (int r = 0; r < 2; ++r) {
      EXPECT_LE(x[static_cast<size_t>(4 * r + 2)], x[static_cast<size_t>(4 * r + 1)]);
      EXPECT_LE(x[static_cast<size_t>(4 * r + 1)], x[static_cast<size_t>(4 * r + 3)]);
    }
    if (x[2] <= kDrop && kDrop <= x[3]) ++covered;
    sumdrop += x[1];
    sumother += x[5];
  }
  RecordProperty("covered", covered);
  RecordProperty("mean_dropout", std::to_string(sumdrop / kLoci));
  RecordProperty("mean_other", std::to_string(sumother / kLoci));
  EXPECT_EQ(rows, kLoci);
  EXPECT_GE(covered, 16);
  EXPECT_NEAR(sumdrop / kLoci, kDrop, 0.3 * kDrop);
  EXPECT_NEAR(sumother / kLoci, kOther, 0.3 * kOther);
}

}  // namespace
}  // namespace kinrad
