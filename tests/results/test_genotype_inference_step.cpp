// The genotype and allele-frequency inference as the result writer runs it, on one-cluster
// best configurations made from oracle clusters (tests/results/error_rate_best.hpp): the parent
// rows of ".DadGenotype" and ".MumGenotype" against the brute-force posterior of every parent
// (oracle::parent_marginal, exact on these acyclic clusters), the re-estimated frequencies
// against the same marginals counted by hand, and the step's options and its stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/annealvariables.hpp"
#include "core/modules/variables.hpp"
#include "core/modules/writevar.hpp"
#include "core/variables_routines.hpp"
#include "likelihood/oracle.hpp"
#include "model/model.hpp"
#include "results/error_rate_best.hpp"
#include "results/inferred_genotype_internal.hpp"
#include "results/results.hpp"
#include "results/results_internal.hpp"
#include "support/expect_stop.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using oracle::Cluster;
using oracle::Genotype;
using oracle::Parent;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> r;
  std::istringstream s(text);
  std::string line;
  while (std::getline(s, line)) r.push_back(line);
  return r;
}

std::vector<std::string> split(const std::string& row) {
  std::vector<std::string> r;
  std::istringstream s(row);
  std::string f;
  while (std::getline(s, f, ',')) r.push_back(f);
  return r;
}

// Genotype (a, b), a <= b allele numbers, as the oracle orders genotypes (from 0).
int pair_slot(int a, int b, int n) {
  if (a > b) std::swap(a, b);
  return (a - 1) * n - (a - 1) * (a - 2) / 2 + (b - a);
}

// The allele number of a label at locus l.
int allele_of(int4 l, int label) {
  const auto& v = variables;
  for (int4 a = 1; a <= v.obsnumallele(l); ++a)
    if (v.rawallele(l).a(a) == label) return a;
  return 0;
}

std::string cfre_of(double p) {
  const real4 x = 10000.0f * static_cast<real4>(p);
  return std::string(writevar.cfre(static_cast<int4>(std::lround(x))).trimmed());
}

class GenotypeInferenceStep : public ::testing::Test {
 protected:
  void SetUp() override { reset_all_modules(); }
  void TearDown() override {
    set_inference_prepare_seam(nullptr);
    set_output_seam({});
    reset_all_modules();
  }
  testing_support::TempWorkDir dir{"genotype_inference_step"};

  // Reads the project of c, sets its families as the best configuration (one cluster) and
  // names the parents of every offspring by hand: fathers "*f" (sons "*-"), mothers by their
  // candidate identifier or "#m".
  bool setup(const Cluster& c) {
    if (!test::build_best(c, 1)) {
      ADD_FAILURE() << testing_support::read_text("Kinrad2.ErrorMessage");
      return false;
    }
    auto& v = variables;
    // The selfed parent-offspring tables belong to the per-analysis tables, which the
    // best-configuration helper does not build.
    if (v.numsex == 1 && v.allowinbreeding == 1) calculateprbgtopself(1, v.numloci);
    oracle::exact_mode();
    const int4 n = v.smplsize;
    for (int4 i = 1; i <= n; ++i) v.btindivloc(i, 3) = 1;
    v.bestparentid.allocate(Dim(n), Dim(2));
    for (int4 i = 1; i <= n; ++i) {
      const bool son = v.offploid(i) == 1;
      v.bestparentid(i, 1) = son ? std::string("*-") : "*" + std::to_string(v.btindivloc(i, 1));
      const int4 m = v.btinferparent(i, 2);
      v.bestparentid(i, 2) =
          m > 0 ? v.cndparentid(m, 2).str() : "#" + std::to_string(v.btindivloc(i, 2));
    }
    v.allelefreest = 1;
    v.displayq = 0;
    v.fname = "out";
    return true;
  }

  // Every parent row of locus l in the file of sex s: each printed alternative's probability
  // against the oracle's marginal, the first alternative the most probable.
  void check_parent_rows(const Cluster& c, int4 l, int4 s,
                         const std::map<std::string, int>& index) {
    const auto& v = variables;
    const bool haploid = v.ploidy(s) == 1;
    const int k = v.obsnumallele(l);
    const std::string marker(trim_both(v.markerid(l).view()));
    int rows = 0;
    for (const std::string& line :
         lines_of(testing_support::read_text(s == 1 ? "out.DadGenotype" : "out.MumGenotype"))) {
      const auto f = split(line);
      if (f.size() < 2 || f[1] != marker) continue;
      SCOPED_TRACE(line);
      ++rows;
      ASSERT_TRUE(index.count(f[0])) << "unexpected parent " << f[0];
      const std::vector<double> m = oracle::parent_marginal(c, l, s, index.at(f[0]));
      ASSERT_FALSE(m.empty());
      const std::size_t first = haploid ? 4 : 5;
      const std::size_t width = haploid ? 2 : 3;
      for (std::size_t t = first; t + width <= f.size(); t += width) {
        const int a = allele_of(l, std::stoi(f[t]));
        const int slot = haploid ? a - 1 : pair_slot(a, allele_of(l, std::stoi(f[t + 1])), k);
        EXPECT_EQ(f[t + width - 1], cfre_of(m[static_cast<std::size_t>(slot)]));
        if (t == first) {
          EXPECT_NEAR(m[static_cast<std::size_t>(slot)], *std::max_element(m.begin(), m.end()),
                      1e-6);
        }
      }
    }
    EXPECT_EQ(rows, static_cast<int>(index.size()));
  }

  // The frequencies of locus l re-estimated from the oracle's marginals of the assigned parents
  // (2 per diploid, 1 per haploid; the second role of a selfing parent not again), the typed
  // candidates left unassigned, and one extra count per allele below a total of 30.
  std::vector<double> expected_frequencies(const Cluster& assigned, int4 l,
                                           const std::vector<std::array<int, 2>>& parents,
                                           const std::vector<Genotype>& unassigned) {
    const auto& v = variables;
    const int k = v.obsnumallele(l);
    std::vector<double> x(static_cast<std::size_t>(k), 0.0);
    for (const auto& p : parents) {
      const bool haploid = v.ploidy(p[0]) == 1;
      const std::vector<double> m = oracle::parent_marginal(assigned, l, p[0], p[1]);
      for (int a = 1; a <= k; ++a) {
        if (haploid) {
          x[static_cast<std::size_t>(a - 1)] += m[static_cast<std::size_t>(a - 1)];
          continue;
        }
        for (int b = a; b <= k; ++b) {
          const double w = m[static_cast<std::size_t>(pair_slot(a, b, k))];
          x[static_cast<std::size_t>(a - 1)] += w;
          x[static_cast<std::size_t>(b - 1)] += w;
        }
      }
    }
    for (const Genotype& g : unassigned)
      for (int t = 0; t < 2; ++t)
        if (g[static_cast<std::size_t>(t)] > 0)
          x[static_cast<std::size_t>(allele_of(l, g[static_cast<std::size_t>(t)]) - 1)] += 1.0;
    double total = 0.0;
    for (double y : x) total += y;
    for (double& y : x) y = total < 30.0 ? (y + 1.0) / (total + k) : y / total;
    return x;
  }
};

// Two sexes: an unsampled father, a typed candidate mother, an offspring untyped at the
// error-free locus; a second
// typed candidate mother that the configuration leaves unassigned.
Cluster two_sex_cluster() {
  Cluster c;
  c.loci = {{false, 3, {}, 0.02, 0.01}, {false, 2, {}, 0.0, 0.0}};
  Parent mum{1, false, {{1, 2}, {1, 1}}};
  Parent other{2, false, {{3, 3}, {2, 2}}};
  c.fathers = {Parent{}};
  c.mothers = {mum, other};
  c.families = {{1, 1, {1, 2, 3, 4}}};
  c.offspring = {{{1, 3}, {1, 2}}, {{2, 3}, {1, 1}}, {{1, 1}, {1, 2}}, {{1, 2}, {0, 0}}};
  c.offploid.assign(4, 2);
  return c;
}

TEST_F(GenotypeInferenceStep, TwoSexesAgainstTheOracle) {
  const Cluster c = two_sex_cluster();
  ASSERT_TRUE(setup(c));
  const Cluster assigned = test::assigned_part(c, 1, 1);
  infer_genotypes_and_frequencies();
  auto& v = variables;
  for (int4 l = 1; l <= 2; ++l) {
    SCOPED_TRACE("locus " + std::to_string(l));
    check_parent_rows(assigned, l, 1, {{"*1", 1}});
    // A typed candidate at an error-free locus has no row.
    if (l == 1)
      check_parent_rows(assigned, l, 2, {{"M1", 1}});
    else
      check_parent_rows(assigned, l, 2, {});
    const auto x =
        expected_frequencies(assigned, l, {{1, 1}, {2, 1}}, {c.mothers[1].genotype[l - 1]});
    for (int4 a = 1; a <= v.obsnumallele(l); ++a)
      EXPECT_NEAR(v.updatedallelefre(a, l), x[static_cast<std::size_t>(a - 1)], 1e-9);
  }
  // Offspring: every one at the locus with errors, only the untyped one at the error-free one.
  int err = 0, free = 0;
  for (const std::string& line : lines_of(testing_support::read_text("out.OffGenotype"))) {
    const auto f = split(line);
    if (f[1] == trim_both(v.markerid(1).view())) ++err;
    if (f[1] == trim_both(v.markerid(2).view())) {
      ++free;
      EXPECT_EQ(f[0], "O4");
      EXPECT_EQ(f[2] + f[3] + f[4], "000");
    }
  }
  EXPECT_EQ(err, 4);
  EXPECT_EQ(free, 1);
  // ".AlleleFreq" carries the same values through (F9.4).
  write_allele_frequencies();
  const auto lines = lines_of(testing_support::read_text("out.AlleleFreq"));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "MarkerID,AlleleID,InitialFreq,UpdatedFreq");
  for (std::size_t t = 1; t < lines.size(); ++t) {
    const auto f = split(lines[t]);
    const int4 l = f[0] == trim_both(v.markerid(1).view()) ? 1 : 2;
    const int a = allele_of(l, std::stoi(f[1]));
    EXPECT_EQ(f[2], rtoc(v.obsallelefre0(a, l), "(F9.4)"));
    EXPECT_EQ(f[3], rtoc(expected_frequencies(
                             assigned, l, {{1, 1}, {2, 1}},
                             {c.mothers[1].genotype[l - 1]})[static_cast<std::size_t>(a - 1)],
                         "(F9.4)"));
  }
}

// One parent pool with selfing: parent 1 selfed with itself and mated with an unsampled
// parent 2.
TEST_F(GenotypeInferenceStep, OneSexWithASelfedFamilyAgainstTheOracle) {
  Cluster c;
  c.numsex = 1;
  c.allowinbreeding = true;
  c.loci = {{false, 3, {}, 0.02, 0.01}};
  c.fathers = {Parent{}};
  c.mothers = {Parent{}, Parent{}};
  c.same = {{1, 1}};
  c.families = {{1, 1, {1, 2}}, {1, 2, {3, 4}}};
  c.offspring = {{{1, 1}}, {{1, 2}}, {{2, 3}}, {{1, 3}}};
  c.offploid.assign(4, 2);
  ASSERT_TRUE(setup(c));
  infer_genotypes_and_frequencies();
  // Family id 1 is parent 1 in both roles, id 2 the other mother: one row each, by sex.
  check_parent_rows(c, 1, 1, {{"*1", 1}});
  check_parent_rows(c, 1, 2, {{"#1", 1}, {"#2", 2}});
}

// Haplodiploid: the father's family starts with a son, yet its rows carry the daughters'
// name for him; his rows have the haploid layout.
TEST_F(GenotypeInferenceStep, HaplodiploidAgainstTheOracle) {
  Cluster c;
  c.haplodiploid = true;
  c.loci = {{false, 3, {}, 0.02, 0.01}};
  c.fathers = {Parent{}};
  c.mothers = {Parent{}};
  c.families = {{1, 1, {1, 2, 3}}};
  c.offspring = {{{2, 0}}, {{1, 2}}, {{2, 3}}};
  c.offploid = {1, 2, 2};
  ASSERT_TRUE(setup(c));
  infer_genotypes_and_frequencies();
  EXPECT_EQ(annealvariables.indivloc2(1, 3), 2);
  check_parent_rows(c, 1, 1, {{"*1", 1}});
  check_parent_rows(c, 1, 2, {{"#1", 1}});
  const auto head = lines_of(testing_support::read_text("out.DadGenotype"));
  EXPECT_EQ(head[0].substr(0, 38), "FatherID,MarkerID,Phenotype,TypeError,");
  // The son's row: -99 as every second label.
  for (const std::string& line : lines_of(testing_support::read_text("out.OffGenotype"))) {
    const auto f = split(line);
    if (f[0] != "O1") continue;
    EXPECT_EQ(f[3], "-99");
    for (std::size_t t = 6; t < f.size(); t += 3) EXPECT_EQ(f[t], "-99");
  }
}

// Several clusters whose offspring interleave in input order: each cluster is inferred from a
// window of its own offspring, sorted by the key cluster x n + offspring. The expected order is
// a plain sort of those keys; the parents' posteriors come from the oracle, which sees the
// three independent families as one sample.
TEST_F(GenotypeInferenceStep, InterleavedClustersAreSortedByClusterThenOffspring) {
  Cluster c;
  c.loci = {{false, 3, {}, 0.02, 0.01}};
  c.fathers = {Parent{}, Parent{}, Parent{}};
  c.mothers = {Parent{}, Parent{}, Parent{}};
  c.families = {{1, 1, {2, 4}}, {2, 2, {1, 5}}, {3, 3, {3, 6}}};
  c.offspring = {{{1, 2}}, {{1, 1}}, {{2, 3}}, {{1, 3}}, {{2, 2}}, {{3, 3}}};
  c.offploid.assign(6, 2);
  ASSERT_TRUE(setup(c));
  auto& v = variables;
  const int4 n = v.smplsize;
  // Cluster numbers that do not follow the family numbers: family 1 is cluster 3, 2 is 1, 3 is 2.
  const int4 cluster_of_family[] = {0, 3, 1, 2};
  for (int4 i = 1; i <= n; ++i) v.btindivloc(i, 3) = cluster_of_family[v.btindivloc(i, 1)];
  v.btnumfamily(3) = 3;
  infer_genotypes_and_frequencies();
  std::vector<std::pair<int, int>> keyed;
  for (int4 i = 1; i <= n; ++i) keyed.emplace_back(v.btindivloc(i, 3) * n + i, i);
  std::sort(keyed.begin(), keyed.end());
  // By hand: cluster 1 holds offspring 1 and 5, cluster 2 offspring 3 and 6, cluster 3 2 and 4.
  const std::vector<int> by_hand = {1, 5, 3, 6, 2, 4};
  const auto& loc1 = annealvariables.indivloc1;
  for (int4 t = 1; t <= n; ++t) {
    SCOPED_TRACE(t);
    const int expected = keyed[static_cast<std::size_t>(t - 1)].second;
    EXPECT_EQ(expected, by_hand[static_cast<std::size_t>(t - 1)]);
    EXPECT_EQ(loc1(t, 4), expected);
    for (int4 k = 1; k <= 3; ++k) EXPECT_EQ(loc1(t, k), v.btindivloc(expected, k));
  }
  check_parent_rows(c, 1, 1, {{"*1", 1}, {"*2", 2}, {"*3", 3}});
  check_parent_rows(c, 1, 2, {{"#1", 1}, {"#2", 2}, {"#3", 3}});
  // Offspring rows stay in input order.
  std::vector<std::string> ids;
  for (const std::string& line : lines_of(testing_support::read_text("out.OffGenotype")))
    ids.push_back(split(line)[0]);
  EXPECT_EQ(ids, (std::vector<std::string>{"OffspringID", "O1", "O2", "O3", "O4", "O5", "O6"}));
}

// An offspring that is also a candidate parent (offspring 3 is candidate mother 1, the mother
// of cluster 1): the result writer groups the two clusters, yet the genotypes are inferred on
// the clusters of the search, so the three genotype files equal those of the same data without
// that link.
TEST_F(GenotypeInferenceStep, OffspringThatAreCandidatesInferOnTheSearchClusters) {
  Cluster c;
  c.loci = {{false, 3, {}, 0.02, 0.01}, {false, 2, {}, 0.0, 0.0}};
  c.fathers = {Parent{}, Parent{}};
  c.mothers = {Parent{1, false, {{1, 2}, {1, 2}}}, Parent{}};
  c.families = {{1, 1, {1, 2}}, {2, 2, {3, 4}}};
  c.offspring = {{{1, 3}, {1, 1}}, {{2, 3}, {0, 0}}, {{1, 2}, {2, 2}}, {{3, 3}, {1, 2}}};
  c.offploid.assign(4, 2);
  std::map<std::string, std::string> files[2];
  std::vector<int4> during[2], after[2];
  for (const int link : {0, 1}) {
    SCOPED_TRACE(link);
    ASSERT_TRUE(setup(c));
    auto& v = variables;
    for (int4 i = 1; i <= v.smplsize; ++i) v.btindivloc(i, 3) = v.btindivloc(i, 1);
    v.btnumfamily(3) = 2;
    v.btloglikelihood = -10.0;
    v.errestimate = 0;
    if (link == 1) {
      v.offspringincnd(3, 2) = 1;
      v.cndinoffspring(1, 2) = 3;
      v.numcndinoffspring(2) = 1;
      v.unknowngen = 1;
    }
    ASSERT_EQ(v.unknowngen, link);
    auto column = [] {
      std::vector<int4> r;
      for (int4 i = 1; i <= variables.smplsize; ++i) r.push_back(variables.btindivloc(i, 3));
      return r;
    };
    set_output_seam([&, link](std::string_view s) {
      if (s == "genotype_inference") during[link] = column();
    });
    ::testing::internal::CaptureStdout();
    output();
    ::testing::internal::GetCapturedStdout();
    set_output_seam({});
    after[link] = column();
    for (int4 kind = 0; kind <= 2; ++kind) {
      const std::string name = "out" + std::string(inferred_genotype_suffix(kind));
      files[link][name] = testing_support::read_text(name);
    }
  }
  // The link took effect (one group at the end), but not during the inference.
  EXPECT_EQ(after[1], (std::vector<int4>{1, 1, 1, 1}));
  EXPECT_EQ(after[0], (std::vector<int4>{1, 1, 2, 2}));
  EXPECT_EQ(during[1], (std::vector<int4>{1, 1, 2, 2}));
  EXPECT_EQ(during[0], during[1]);
  for (const auto& [name, text] : files[0]) {
    SCOPED_TRACE(name);
    EXPECT_EQ(files[1][name], text);
    EXPECT_GT(lines_of(text).size(), 2u);
  }
}

// Option AFE 0: three header-only files.
TEST_F(GenotypeInferenceStep, WithoutTheOptionOnlyHeaders) {
  ASSERT_TRUE(setup(two_sex_cluster()));
  variables.allelefreest = 0;
  infer_genotypes_and_frequencies();
  for (int4 kind = 0; kind <= 2; ++kind)
    EXPECT_EQ(testing_support::read_text("out" + std::string(inferred_genotype_suffix(kind))),
              inferred_genotype_header(kind) + "\n");
}

// A failed preparation of a cluster's family is the memory stop "Output", and the genotype
// files of an earlier analysis stay as they were.
TEST_F(GenotypeInferenceStep, PreparationFailureStopsAndKeepsTheOldFiles) {
  ASSERT_TRUE(setup(two_sex_cluster()));
  for (int4 kind = 0; kind <= 2; ++kind)
    testing_support::write_text("out" + std::string(inferred_genotype_suffix(kind)), "old\n");
  set_inference_prepare_seam([](int4& status) { status = 5014; });
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(testing_support::expect_stop([] { infer_genotypes_and_frequencies(); }, "Output",
                                         {.flag = 0, .report = true}),
            1);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(testing_support::read_text("Kinrad2.ErrorMessage"),
            "Program stopped due to insufficient memory!\n"
            "Program stopped in subroutine Output, dataset = out.\n");
  for (int4 kind = 0; kind <= 2; ++kind) {
    const std::string name = "out" + std::string(inferred_genotype_suffix(kind));
    EXPECT_EQ(testing_support::read_text(name), "old\n");
    EXPECT_FALSE(std::filesystem::exists(replacing_temporary(name)));
  }
}

// Under the pairwise-score method a cluster of more than 10000 offspring is passed over: its
// members and parents have no rows and add no counts; a cluster of 10000 is still inferred.
TEST_F(GenotypeInferenceStep, PairwiseMethodPassesOverHugeClusters) {
  for (const int big : {10001, 10000}) {
    SCOPED_TRACE(big);
    reset_all_modules();
    Cluster c;
    c.loci = {{false, 2, {}, 0.02, 0.01}};
    c.fathers = {Parent{}, Parent{}};
    c.mothers = {Parent{}, Parent{}};
    std::vector<int> members(static_cast<std::size_t>(big));
    for (int i = 0; i < big; ++i) members[static_cast<std::size_t>(i)] = i + 1;
    c.families = {{1, 1, members}, {2, 2, {big + 1, big + 2}}};
    c.offspring.assign(static_cast<std::size_t>(big + 2), {{{1, 2}}});
    c.offspring[static_cast<std::size_t>(big)] = {{{1, 1}}};
    c.offploid.assign(static_cast<std::size_t>(big + 2), 2);
    ASSERT_TRUE(setup(c));
    auto& v = variables;
    for (int4 i = 1; i <= v.smplsize; ++i) v.btindivloc(i, 3) = v.btindivloc(i, 1);
    v.btnumfamily(3) = 2;
    v.fulllikelihoodmethodq = 0;
    infer_genotypes_and_frequencies();
    const auto dad = lines_of(testing_support::read_text("out.DadGenotype"));
    const auto off = lines_of(testing_support::read_text("out.OffGenotype"));
    if (big > 10000) {
      ASSERT_EQ(dad.size(), 2u);
      EXPECT_EQ(split(dad[1])[0], "*2");
      EXPECT_EQ(off.size(), 3u);
      // Only the small cluster's two parents are counted.
      const auto x = expected_frequencies(c, 1, {{1, 2}, {2, 2}}, {});
      for (int4 a = 1; a <= 2; ++a)
        EXPECT_NEAR(v.updatedallelefre(a, 1), x[static_cast<std::size_t>(a - 1)], 1e-9);
    } else {
      EXPECT_EQ(dad.size(), 3u);
      EXPECT_EQ(off.size(), static_cast<std::size_t>(big + 3));
    }
  }
}

// Clones: members of a clone group share one list of alternatives at loci with typing errors;
// at an error-free locus each keeps its own. Offspring 3 and 4 form the clone here.
TEST_F(GenotypeInferenceStep, CloneMembersShareAlternativesAtErrorLoci) {
  std::map<std::string, std::string> rows[2];
  for (const int clone : {0, 1}) {
    SCOPED_TRACE(clone);
    reset_all_modules();
    ASSERT_TRUE(setup(two_sex_cluster()));
    auto& v = variables;
    v.allowclone = clone;
    v.cloneconfig.allocate(Dim(v.smplsize));
    if (clone == 1) v.cloneconfig(3) = v.cloneconfig(4) = 1;
    infer_genotypes_and_frequencies();
    for (const std::string& line : lines_of(testing_support::read_text("out.OffGenotype"))) {
      const auto f = split(line);
      std::string alternatives;
      for (std::size_t t = 5; t < f.size(); ++t) alternatives += "," + f[t];
      rows[clone][f[0] + "/" + f[1]] = alternatives;
    }
  }
  const std::string m1 = "MK1", m2 = "MK2";
  ASSERT_TRUE(rows[1].count("O3/" + m1) && rows[1].count("O4/" + m1));
  EXPECT_EQ(rows[1]["O3/" + m1], rows[1]["O4/" + m1]);
  EXPECT_NE(rows[0]["O3/" + m1], rows[0]["O4/" + m1]);
  EXPECT_EQ(rows[1]["O1/" + m1], rows[0]["O1/" + m1]);
  ASSERT_TRUE(rows[1].count("O4/" + m2));
  EXPECT_EQ(rows[1]["O4/" + m2], rows[0]["O4/" + m2]);
}

// The closing screen line follows the progress marks only when there were 50 or more loci.
TEST_F(GenotypeInferenceStep, DoneLineFromFiftyLoci) {
  for (const int nloci : {49, 50}) {
    SCOPED_TRACE(nloci);
    reset_all_modules();
    Cluster c;
    c.loci.assign(static_cast<std::size_t>(nloci), oracle::Locus{false, 2, {}, 0.0, 0.0});
    c.fathers = {Parent{}};
    c.mothers = {Parent{}};
    c.families = {{1, 1, {1, 2}}};
    c.offspring.assign(2, std::vector<Genotype>(static_cast<std::size_t>(nloci), Genotype{1, 2}));
    c.offploid.assign(2, 2);
    ASSERT_TRUE(setup(c));
    variables.displayq = 1;
    ::testing::internal::CaptureStdout();
    infer_genotypes_and_frequencies();
    const std::string screen = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(screen.find("Inferring genotypes and allele frequencies...\n  Locus: 1 - " +
                          std::to_string(nloci) + "\n"),
              0u);
    EXPECT_EQ(screen.find("\r  Done for all loci.\n") != std::string::npos, nloci == 50);
  }
}

}  // namespace
}  // namespace kinrad
