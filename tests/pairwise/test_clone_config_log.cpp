// The log likelihood of a clone partition of full sibs, against a brute-force sum over every
// true genotype of both parents and of every clone (clone_fixture.hpp), which shares nothing
// with the routine but the class formulas of the observation model.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "pairwise/clone_fixture.hpp"
#include "pairwise/clone_internal.hpp"
#include "pairwise/clones.hpp"

namespace kinrad::test {
namespace {

struct PartitionCase {
  std::string name;
  CloneData data;
  std::vector<std::vector<int>> part;
  int father = 0;
  int mother = 0;
};

// The partition as the routine takes it: members clone by clone and boundaries.
void flatten(const std::vector<std::vector<int>>& part, std::vector<int4>& m,
             std::vector<int4>& b) {
  m.clear();
  b.assign(1, 0);
  for (const auto& c : part) {
    m.insert(m.end(), c.begin(), c.end());
    b.push_back(static_cast<int4>(m.size()));
  }
}

std::vector<std::pair<Genotype, Genotype>> parent_obs(const CloneData& d, int father, int mother) {
  std::vector<std::pair<Genotype, Genotype>> g(d.loci.size());
  for (std::size_t l = 0; l < d.loci.size(); ++l) {
    if (father > 0) g[l].first = d.cnd[l][static_cast<std::size_t>(father - 1)];
    if (mother > 0) g[l].second = d.cnd[l][static_cast<std::size_t>(d.fathers + mother - 1)];
  }
  return g;
}

std::vector<PartitionCase> cases() {
  const LocusSpec l3{3, false, 0.02, 0.03, {0.5, 0.3, 0.2}};
  const LocusSpec l4{4, false, 0.01, 0.05, {0.4, 0.3, 0.2, 0.1}};
  const LocusSpec l2{2, false, 0.02, 0.02, {0.6, 0.4}};
  const LocusSpec dom{2, true, 0.0, 0.04, {0.3, 0.7}};
  std::vector<PartitionCase> v;
  {
    PartitionCase c;
    c.name = "two clones of three members, parents not sampled";
    c.data.loci = {l3, l4, l2};
    c.data.off = {{{1, 2}, {1, 2}, {2, 3}}, {{1, 1}, {1, 3}, {2, 4}}, {{1, 2}, {1, 1}, {2, 2}}};
    c.part = {{1, 2}, {3}};
    v.push_back(c);
  }
  {
    PartitionCase c;
    c.name = "typed father and mother";
    c.data.loci = {l3, l4, l2};
    c.data.off = {{{1, 2}, {1, 2}, {2, 3}}, {{1, 1}, {1, 3}, {2, 4}}, {{1, 2}, {1, 1}, {2, 2}}};
    c.data.fathers = 1;
    c.data.mothers = 1;
    c.data.cnd = {{{1, 3}, {2, 2}}, {{1, 2}, {3, 4}}, {{1, 1}, {2, 2}}};
    c.part = {{3}, {1, 2}};
    c.father = 1;
    c.mother = 1;
    v.push_back(c);
  }
  {
    PartitionCase c;
    c.name = "three clones with a dominant locus and equal single members";
    c.data.loci = {l4, dom, l2};
    c.data.off = {{{1, 2}, {1, 2}, {3, 4}, {3, 3}},
                  {{1, 0}, {2, 0}, {1, 0}, {1, 0}},
                  {{1, 1}, {1, 1}, {1, 2}, {2, 2}}};
    c.part = {{1}, {2}, {3, 4}};
    c.data.fathers = 0;
    c.data.mothers = 1;
    c.data.cnd = {{{1, 3}}, {{1, 0}}, {{1, 2}}};
    c.mother = 1;
    v.push_back(c);
  }
  {
    PartitionCase c;
    c.name = "untyped members and a clone untyped at a locus";
    c.data.loci = {l3, l4};
    c.data.off = {{{0, 0}, {1, 3}, {0, 0}, {3, 3}}, {{2, 2}, {0, 0}, {0, 0}, {1, 4}}};
    c.part = {{1, 3}, {2}, {4}};
    v.push_back(c);
  }
  {
    PartitionCase c;
    c.name = "one allele present: the pooled rest has frequency 1 - p";
    c.data.loci = {l3, l4};
    c.data.off = {{{1, 1}, {1, 1}, {1, 1}}, {{2, 2}, {2, 2}, {0, 0}}};
    c.part = {{1, 2}, {3}};
    v.push_back(c);
  }
  {
    PartitionCase c;
    c.name = "haplodiploid: haploid typed father, diploid daughters, dominant locus";
    c.data.haplodiploid = 1;
    c.data.loci = {l3, dom, l2};
    c.data.off = {{{1, 2}, {1, 2}, {1, 3}, {1, 2}},
                  {{1, 0}, {1, 0}, {2, 0}, {1, 0}},
                  {{1, 2}, {1, 2}, {1, 1}, {1, 2}}};
    c.data.fathers = 1;
    c.data.mothers = 0;
    c.data.cnd = {{{1, 0}}, {{1, 0}}, {{1, 0}}};
    c.part = {{1, 2, 4}, {3}};
    c.father = 1;
    v.push_back(c);
  }
  {
    PartitionCase c;
    c.name = "haplodiploid: haploid sons from the mother alone";
    c.data.haplodiploid = 1;
    c.data.loci = {l4, l2};
    c.data.ploid = {1, 1, 1};
    c.data.off = {{{2, 0}, {2, 0}, {4, 0}}, {{1, 0}, {2, 0}, {1, 0}}};
    c.data.fathers = 0;
    c.data.mothers = 1;
    c.data.cnd = {{{2, 3}}, {{1, 2}}};
    c.part = {{1, 2}, {3}};
    c.mother = 1;
    v.push_back(c);
  }
  return v;
}

TEST(CloneConfigLog, AgreesWithBruteForce) {
  for (const PartitionCase& c : cases()) {
    SCOPED_TRACE(c.name);
    reset_all_modules();
    setup_clone_data(c.data);
    std::vector<int4> m, b;
    flatten(c.part, m, b);
    const int4 parents[2] = {c.father, c.mother};
    const real8 expected =
        brute_partition_logl(c.part, c.data.off, parent_obs(c.data, c.father, c.mother));
    // The routine's products carry the largest double, whose log it takes off again.
    const int4 nloci = static_cast<int4>(c.data.loci.size());
    const real8 shift = nloci * (std::log(1.7976931348623157e308) - 709.782712893384);
    real8 exact = 0.0;
    clone_detail::fsconfiglog_pruned(static_cast<int4>(m.size()), m.data(), parents,
                                     static_cast<int4>(c.part.size()), b.data(), exact, -1e300,
                                     false);
    EXPECT_NEAR(exact, expected + shift, 1e-9);
    real8 pruned = 0.0;
    fsconfiglog(static_cast<int4>(m.size()), m.data(), parents, static_cast<int4>(c.part.size()),
                b.data(), pruned, -1e300);
    // Each abandoned parental pair held at most 1e-6 of the sum reached so far, and at most
    // 100 pairs (10 genotypes a parent) are visited per locus.
    EXPECT_NEAR(pruned, expected + shift, 100e-6 * nloci);
    EXPECT_LE(pruned, exact + 1e-12);
  }
}

// Six diploid sibs showing six alleles at a locus with a tiny other-error rate: a parental
// genotype is skipped when twice m exceeds the summed weights of its alleles, m being the
// number of errors that take a probability to 1e-30. Without the skip rule the exact sum.
TEST(CloneConfigLog, SkipRuleDropsGenotypesOfRarelySeenAlleles) {
  reset_all_modules();
  CloneData d;
  d.loci = {{6, false, 0.0, 1e-9, {0.25, 0.2, 0.2, 0.15, 0.1, 0.1}}};
  d.off = {{{1, 2}, {1, 3}, {2, 4}, {1, 5}, {1, 2}, {2, 6}}};
  setup_clone_data(d);
  const std::vector<std::vector<int>> part = {{1}, {2}, {3}, {4}, {5}, {6}};
  std::vector<int4> m, b;
  flatten(part, m, b);
  const int4 parents[2] = {0, 0};
  // m by hand from the class formulas: P(het seen with one of its alleles) / P(het seen as
  // itself) is about 1e-9, so m = nint(69.08 / 20.7) = 3.
  const real8 ratio = observe(1, 3, 1, 2, 1) / observe(1, 2, 1, 2, 1);
  const real8 mm = std::round(-69.08 / std::log(ratio));
  ASSERT_EQ(mm, 3.0);
  // Allele weights: the entry (1, 2) counts twice (two single members), so 1 and 2 weigh 4,
  // alleles 3 to 6 weigh 1; only genotypes over alleles 1 and 2 reach 2m = 6.
  const std::vector<std::pair<Genotype, Genotype>> none(1);
  const real8 shift = std::log(1.7976931348623157e308) - 709.782712893384;
  const real8 kept =
      brute_partition_logl(part, d.off, none, [](int4 a, int4 bb) { return a <= 2 && bb <= 2; });
  const real8 all = brute_partition_logl(part, d.off, none);
  real8 logl = 0.0;
  fsconfiglog(6, m.data(), parents, 6, b.data(), logl, -1e300);
  EXPECT_NEAR(logl, kept + shift, 1e-4);
  clone_detail::fsconfiglog_pruned(6, m.data(), parents, 6, b.data(), logl, -1e300, false);
  EXPECT_NEAR(logl, all + shift, 1e-9);
  EXPECT_GT(all, kept + 10.0);
}

TEST(CloneConfigLog, MismatchAtErrorFreeLocusIsImpossible) {
  reset_all_modules();
  CloneData d;
  d.loci = {{3, false, 0.0, 0.0, {0.5, 0.3, 0.2}}, {3, false, 0.01, 0.01, {0.5, 0.3, 0.2}}};
  d.off = {{{1, 2}, {1, 3}}, {{1, 1}, {1, 1}}};
  setup_clone_data(d);
  const int4 m[2] = {1, 2};
  const int4 parents[2] = {0, 0};
  const int4 one[2] = {0, 2};
  const int4 two[3] = {0, 1, 2};
  real8 logl = 0.0;
  fsconfiglog(2, m, parents, 1, one, logl, -1e300);
  EXPECT_EQ(logl, -1e300);
  fsconfiglog(2, m, parents, 2, two, logl, -1e300);
  EXPECT_GT(logl, -1e3);
}

TEST(CloneConfigLog, NearMonomorphicLocusStaysFinite) {
  const std::vector<std::vector<Genotype>> offs = {{{2, 2}, {2, 2}, {1, 2}},
                                                   {{1, 1}, {1, 1}, {1, 1}}};
  for (real8 p2 : {1e-13, 1e-300, 0.0}) {
    for (real8 err : {0.0, 0.01}) {
      SCOPED_TRACE("p2 " + std::to_string(p2) + " error " + std::to_string(err));
      reset_all_modules();
      CloneData d;
      d.loci = {{2, false, err, err, {1.0 - p2, p2}},
                {3, false, err, err, {1.0 - p2, p2 / 2, p2 / 2}}};
      d.off = offs;
      setup_clone_data(d);
      const int4 m[3] = {1, 2, 3};
      const int4 parents[2] = {0, 0};
      const int4 bounds[3][4] = {{0, 3, 0, 0}, {0, 2, 3, 0}, {0, 1, 2, 3}};
      for (int4 c = 1; c <= 3; ++c) {
        real8 logl = 0.0;
        fsconfiglog(3, m, parents, c, bounds[c - 1], logl, -1e300);
        EXPECT_TRUE(std::isfinite(logl)) << logl;
        EXPECT_GE(logl, -1e300);
      }
    }
  }
}

TEST(CloneConfigLog, StopsAtTheBoundAfterALocus) {
  reset_all_modules();
  CloneData d;
  d.loci = {{3, false, 0.02, 0.03, {0.5, 0.3, 0.2}}, {4, false, 0.01, 0.05, {0.4, 0.3, 0.2, 0.1}}};
  d.off = {{{1, 2}, {2, 3}}, {{1, 1}, {2, 4}}};
  setup_clone_data(d);
  variables.locusorder(1) = 2;  // the second locus first
  variables.locusorder(2) = 1;
  const int4 m[2] = {1, 2};
  const int4 parents[2] = {0, 0};
  const int4 one[2] = {0, 2};
  real8 logl = 0.0;
  fsconfiglog(2, m, parents, 1, one, logl, 0.0);
  // Only the first locus in the order was added: the brute force of that locus alone.
  CloneData d2;
  d2.loci = {d.loci[1]};
  d2.off = {d.off[1]};
  const std::vector<std::pair<Genotype, Genotype>> none(1);
  reset_all_modules();
  setup_clone_data(d2);
  const real8 first = brute_partition_logl({{1, 2}}, d2.off, none);
  EXPECT_NEAR(logl, first, 1e-9);
}

TEST(CloneConfigLog, ReadsTheUnpackedTwoAlleleCopy) {
  reset_all_modules();
  CloneData d;
  d.loci = {{2, false, 0.02, 0.02, {0.6, 0.4}}, {2, false, 0.02, 0.02, {0.6, 0.4}}};
  d.off = {{{1, 1}, {1, 1}}, {{2, 2}, {1, 2}}};
  setup_clone_data(d);
  // The copy says the first member is a heterozygote at the first locus.
  variables.indivgtype1.allocate(Dim(2), Dim(1, 2));
  variables.indivgtype1(1, 1) = 3;
  variables.indivgtype1(2, 1) = 1;
  variables.indivgtype1(1, 2) = 2;
  variables.indivgtype1(2, 2) = 3;
  const int4 m[2] = {1, 2};
  const int4 parents[2] = {0, 0};
  const int4 two[3] = {0, 1, 2};
  real8 logl = 0.0;
  clone_detail::fsconfiglog_pruned(2, m, parents, 2, two, logl, -1e300, false);
  const std::vector<std::vector<Genotype>> seen = {{{1, 2}, {1, 1}}, {{2, 2}, {1, 2}}};
  const std::vector<std::pair<Genotype, Genotype>> none(2);
  const real8 shift = 2 * (std::log(1.7976931348623157e308) - 709.782712893384);
  EXPECT_NEAR(logl, brute_partition_logl({{1}, {2}}, seen, none) + shift, 1e-9);
}

}  // namespace
}  // namespace kinrad::test
