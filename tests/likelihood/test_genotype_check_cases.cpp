// Case tables of the Mendelian checks on small hand-made families. Expected verdicts follow from
// Mendel's rules by hand: two diploid parents give at most four alleles and two homozygote types
// to a full-sib family, a haploid father one allele to all his daughters, a selfing parent x/y
// only x/x, x/y and y/y.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/oracle.hpp"
#include "support/module_reset.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using G = oracle::Genotype;

oracle::Locus locus(int nallele, bool dominant = false, double droprate = 0.0) {
  oracle::Locus x;
  x.nallele = nallele;
  x.dominant = dominant;
  x.droprate = droprate;
  x.otherrate = droprate > 0 ? 0.01 : 0.0;
  for (int a = 0; a < nallele; ++a) x.freq.push_back(1.0 / nallele);
  return x;
}

// Unrelated offspring showing every allele (and both homozygote types) of every locus.
void add_filler(oracle::Cluster& c) {
  for (size_t l = 0; l < c.loci.size(); ++l) {
    for (int a = 1; a <= c.loci[l].nallele; ++a) {
      std::vector<G> x(c.loci.size(), G{0, 0});
      x[l] = c.loci[l].dominant ? G{a, 0} : G{a, a};
      c.filler.push_back(x);
    }
  }
}

// Members of full-sib family (father, mother) appended as offspring with one locus each.
void family(oracle::Cluster& c, int father, int mother, const std::vector<G>& members,
            int ploidy = 2) {
  oracle::Family f{father, mother, {}};
  for (const G& g : members) {
    c.offspring.push_back({g});
    c.offploid.push_back(ploidy);
    f.members.push_back(static_cast<int>(c.offspring.size()));
  }
  c.families.push_back(f);
}

bool indexgtype_clear() {
  const FArray<int2, 1>& t = variables.indexgtype;
  for (index_t g = t.lbound(1); g <= t.ubound(1); ++g)
    if (t(g) != 0) return false;
  return true;
}

class CheckCases : public testing_support::ModuleReset {
 protected:
  void build(oracle::Cluster& c) {
    add_filler(c);
    const oracle::Built b = oracle::build(c);
    ASSERT_TRUE(b.ok) << b.error;
  }
};

TEST_F(CheckCases, LocusSort) {
  struct Row {
    const char* what;
    std::vector<G> members;
    int ok;
    std::vector<int> counts;  // stored rows: homozygotes first (with nhom of them), then hets
    int nhom;
  };
  const Row rows[] = {
      {"three homozygotes", {{1, 1}, {2, 2}, {3, 3}}, 0, {}, 0},
      {"four alleles in two pairs", {{1, 2}, {3, 4}, {1, 3}, {2, 4}}, 1, {1, 1, 1, 1}, 0},
      {"one allele in three heterozygotes", {{1, 2}, {1, 3}, {1, 4}}, 0, {}, 0},
      {"three alleles, one homozygote", {{1, 1}, {2, 3}, {1, 2}}, 1, {1, 1, 1}, 1},
      {"three alleles, two homozygotes", {{1, 1}, {2, 3}, {1, 2}, {2, 2}}, 0, {}, 0},
      {"counts of repeated genotypes", {{1, 2}, {3, 3}, {1, 2}, {1, 3}}, 1, {1, 2, 1}, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    reset_all_modules();
    testing_support::TempWorkDir dir{"check_cases"};
    oracle::Cluster c;
    c.loci = {locus(4)};
    c.fathers.resize(1);
    c.mothers.resize(1);
    family(c, 1, 1, row.members);
    build(c);
    int4 ok = -1;
    locussort(ok, 0);
    EXPECT_EQ(ok, row.ok);
    EXPECT_TRUE(indexgtype_clear());
    if (row.ok != 1) continue;
    const Likelihoodvar& lv = likelihoodvar;
    const int4 pos = variables.locus3loc(1);
    ASSERT_EQ(lv.fsfamilygtype(0, 1, 1, pos), static_cast<int2>(row.counts.size()));
    for (size_t i = 0; i < row.counts.size(); ++i) {
      const int4 g = lv.fsfamilygtype(static_cast<int4>(i + 1), 1, 1, pos);
      EXPECT_EQ(g <= variables.maxobsnumallele, static_cast<int>(i) < row.nhom) << i;
      EXPECT_EQ(lv.fsfamilygtype(static_cast<int4>(i + 1), 2, 1, pos), row.counts[i]) << i;
    }
  }
}

TEST_F(CheckCases, LocusSortSkipTouchesNothing) {
  testing_support::TempWorkDir dir{"check_cases"};
  oracle::Cluster c;
  c.loci = {locus(4)};
  c.fathers.resize(1);
  c.mothers.resize(1);
  family(c, 1, 1, {{1, 1}, {2, 2}, {3, 3}});
  build(c);
  likelihoodvar.fsfamilygtype(0, 1, 1, 1) = 77;
  int4 ok = -1;
  locussort(ok, 1);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(likelihoodvar.fsfamilygtype(0, 1, 1, 1), 77);
}

// A selfed parent x/y gives no third allele (the bound applies with three or more loci of
// more than two alleles).
TEST_F(CheckCases, LocusSortSelfedFamilyWithThreeAlleles) {
  testing_support::TempWorkDir dir{"check_cases"};
  oracle::Cluster c;
  c.numsex = 1;
  c.allowinbreeding = true;
  c.loci = {locus(4), locus(3), locus(3)};
  c.fathers.resize(1);
  c.mothers.resize(1);
  c.same = {{1, 1}};
  oracle::Family f{1, 1, {}};
  const std::vector<std::vector<G>> members = {
      {{1, 2}, {1, 1}, {1, 1}}, {{1, 3}, {1, 1}, {1, 1}}, {{2, 2}, {1, 1}, {1, 1}}};
  for (const auto& m : members) {
    c.offspring.push_back(m);
    c.offploid.push_back(2);
    f.members.push_back(static_cast<int>(c.offspring.size()));
  }
  c.families = {f};
  build(c);
  int4 ok = -1;
  locussort(ok, 0);
  EXPECT_EQ(ok, 0);
  EXPECT_TRUE(indexgtype_clear());
}

// A haploid father gives all his daughters one allele: 1/1 and 2/2 daughters are impossible.
TEST_F(CheckCases, LocusSortHaplodiploidTwoAlleleDaughters) {
  for (bool both : {true, false}) {
    SCOPED_TRACE(both);
    reset_all_modules();
    testing_support::TempWorkDir dir{"check_cases"};
    oracle::Cluster c;
    c.haplodiploid = true;
    c.loci = {locus(2)};
    c.fathers.resize(1);
    c.mothers.resize(1);
    family(c, 1, 1, {{1, 1}, {1, 2}, both ? G{2, 2} : G{1, 1}});
    build(c);
    int4 ok = -1;
    locussort(ok, 0);
    EXPECT_EQ(ok, both ? 0 : 1);
  }
}

TEST_F(CheckCases, GenotypeCheckPDom) {
  struct Row {
    const char* what;
    G father, mother;  // phenotypes: {1, 0} band, {2, 0} none, {0, 0} unsampled
    std::vector<G> offspring;
    double droprate;
    int ok;
  };
  const Row rows[] = {
      {"both recessive, offspring recessive", {2, 0}, {2, 0}, {{2, 0}, {2, 0}, {2, 0}}, 0.0, 1},
      {"both recessive, one offspring dominant", {2, 0}, {2, 0}, {{2, 0}, {1, 0}, {2, 0}}, 0.0, 0},
      {"one parent dominant", {1, 0}, {2, 0}, {{2, 0}, {1, 0}, {1, 0}}, 0.0, 1},
      {"only the father known", {2, 0}, {0, 0}, {{2, 0}, {1, 0}, {1, 0}}, 0.0, 1},
      {"a locus with errors", {2, 0}, {2, 0}, {{2, 0}, {1, 0}, {2, 0}}, 0.05, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    reset_all_modules();
    testing_support::TempWorkDir dir{"check_cases"};
    oracle::Cluster c;
    c.loci = {locus(2, true, row.droprate), locus(2, true)};
    c.fathers.resize(1);
    c.mothers.resize(1);
    c.fathers[0] = {1, true, {row.father, {1, 0}}};
    if (row.mother[0] != 0) c.mothers[0] = {1, true, {row.mother, {1, 0}}};
    oracle::Family f{1, 1, {}};
    for (const G& g : row.offspring) {
      c.offspring.push_back({g, {1, 0}});
      c.offploid.push_back(2);
      f.members.push_back(static_cast<int>(c.offspring.size()));
    }
    c.families = {f};
    build(c);
    int4 ok = -1;
    genotypecheckpdom(ok);
    EXPECT_EQ(ok, row.ok);
  }
}

// A father with families by two mothers: all his offspring must come from one genotype.
TEST_F(CheckCases, GenotypeCheck) {
  struct Row {
    const char* what;
    int mothers;
    std::vector<G> first, second;  // offspring of the father with mother 1 and mother 2
    G candidate;                   // the father's typed candidate genotype, {0, 0} unsampled
    int ok;
  };
  const Row rows[] = {
      {"one mother: untested", 1, {{1, 1}, {2, 2}, {3, 3}}, {}, {0, 0}, 1},
      {"one offspring by each mother", 2, {{1, 1}}, {{3, 3}}, {0, 0}, 1},
      {"three homozygotes", 2, {{1, 1}, {2, 2}}, {{3, 3}}, {0, 0}, 0},
      {"a/b, c/d, e/f", 2, {{1, 2}, {3, 4}}, {{5, 6}}, {0, 0}, 0},
      {"a/b, a/c, b/d", 2, {{1, 2}, {1, 3}}, {{2, 4}}, {0, 0}, 1},
      {"typed candidate: left to the candidate check", 2, {{1, 1}, {2, 2}}, {{3, 3}}, {1, 2}, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    reset_all_modules();
    testing_support::TempWorkDir dir{"check_cases"};
    oracle::Cluster c;
    c.loci = {locus(6)};
    c.fathers.resize(1);
    c.mothers.resize(static_cast<size_t>(row.mothers));
    if (row.candidate[0] != 0) c.fathers[0] = {1, false, {row.candidate}};
    family(c, 1, 1, row.first);
    if (row.mothers == 2) family(c, 1, 2, row.second);
    build(c);
    int4 ok = -1;
    genotypecheck(ok, std::min(2 * variables.maxobsnumallele - 3, variables.numchild));
    EXPECT_EQ(ok, row.ok);
    EXPECT_TRUE(indexgtype_clear());
    if (row.candidate[0] != 0) {
      genotypecheckp(ok, 0);
      EXPECT_EQ(ok, 0);  // 1/2 cannot father 3/3
      EXPECT_TRUE(indexgtype_clear());
    }
  }
}

TEST_F(CheckCases, GenotypeCheckP) {
  struct Row {
    const char* what;
    bool haplodiploid;
    int nallele;
    G father, mother;  // candidate genotypes, {0, 0} unsampled
    bool father_known_from_input;
    std::vector<G> offspring;
    int ploidy;
    int ok;
  };
  const Row rows[] = {
      {"known from the input: not tested", false, 4, {1, 1}, {0, 0}, true, {{2, 2}}, 2, 1},
      {"assigned candidate contradicted", false, 4, {1, 1}, {0, 0}, false, {{2, 2}}, 2, 0},
      {"two-allele heterozygous candidate",
       false,
       2,
       {1, 2},
       {0, 0},
       false,
       {{1, 1}, {2, 2}},
       2,
       1},
      {"two-allele 1/1 candidate, 2/2 offspring",
       false,
       2,
       {1, 1},
       {0, 0},
       false,
       {{1, 2}, {2, 2}},
       2,
       0},
      {"a/b x c/d, offspring a/c", false, 4, {1, 2}, {3, 4}, false, {{1, 3}}, 2, 1},
      {"a/b x c/d, offspring a/b", false, 4, {1, 2}, {3, 4}, false, {{1, 2}}, 2, 0},
      {"haploid son with a mother's allele", true, 4, {4, 0}, {1, 2}, false, {{2, 0}}, 1, 1},
      {"haploid son without a mother's allele", true, 4, {4, 0}, {1, 2}, false, {{3, 0}}, 1, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    reset_all_modules();
    testing_support::TempWorkDir dir{"check_cases"};
    oracle::Cluster c;
    c.haplodiploid = row.haplodiploid;
    c.loci = {locus(row.nallele)};
    c.fathers.resize(1);
    c.mothers.resize(1);
    if (row.father[0] != 0) c.fathers[0] = {1, row.father_known_from_input, {row.father}};
    if (row.mother[0] != 0) c.mothers[0] = {1, false, {row.mother}};
    family(c, 1, 1, row.offspring, row.ploidy);
    if (row.haplodiploid) family(c, 1, 1, {{1, 4}}, 2);  // a daughter of the same pair
    if (row.haplodiploid) {
      // One full-sib family: merge the daughter into the sons' family.
      c.families[0].members.push_back(c.families[1].members[0]);
      c.families.pop_back();
    }
    build(c);
    int4 ok = -1;
    genotypecheckp(ok, 0);
    EXPECT_EQ(ok, row.ok);
    EXPECT_TRUE(indexgtype_clear());
  }
}

TEST_F(CheckCases, SelfingCheck) {
  struct Row {
    const char* what;
    std::vector<G> selfed;
    std::vector<G> outcrossed;  // offspring of the same individual with a second mother
    int numsex;
    int ok;
  };
  const Row rows[] = {
      {"a/a, a/b, b/b", {{1, 1}, {1, 2}, {2, 2}}, {}, 1, 1},
      {"a/a, a/b, b/b, c/c", {{1, 1}, {1, 2}, {2, 2}, {3, 3}}, {}, 1, 0},
      {"outcrossed c/d", {{1, 1}, {1, 2}, {2, 2}}, {{3, 4}}, 1, 0},
      {"outcrossed c/a", {{1, 1}, {1, 2}, {2, 2}}, {{1, 3}}, 1, 1},
      {"two sexes", {{1, 1}, {2, 2}, {3, 3}, {4, 4}}, {}, 2, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    reset_all_modules();
    testing_support::TempWorkDir dir{"check_cases"};
    oracle::Cluster c;
    c.numsex = row.numsex;
    c.allowinbreeding = row.numsex == 1;
    c.loci = {locus(4)};
    c.fathers.resize(1);
    c.mothers.resize(row.outcrossed.empty() ? 1 : 2);
    if (row.numsex == 1) c.same = {{1, 1}};
    family(c, 1, 1, row.selfed);
    if (!row.outcrossed.empty()) family(c, 1, 2, row.outcrossed);
    build(c);
    int4 ok = -1;
    selfingcheck(ok);
    EXPECT_EQ(ok, row.ok);
  }
}

}  // namespace
}  // namespace kinrad
