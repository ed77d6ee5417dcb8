// The sibship phase of the pairwise step: its three files and pair clusters against an
// independent classifier on a simulated sample of families, hand-made fixtures written out
// byte by byte, and reading the pair clusters back from sound and damaged files.
#include <cmath>
#include <filesystem>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "pairwise/dyad_sample.hpp"
#include "support/expect_stop.hpp"

namespace kinrad::pairtest {
namespace {

struct Temperature {
  real8 sum = 0.0;
  real8 weight = 0.0;
};

// Runs the phase as the pairwise step does, with the single-offspring log likelihoods at
// inbreeding 0.
Temperature runsibship() {
  const Variables& v = variables;
  if (v.locus2.allocated() && v.locus2(0) > 0) computegtypefre(0, 0);
  std::vector<real8> single(static_cast<std::size_t>(v.smplsize));
  singleindivlikelihood(0.0, v.smplsize, 0, single);
  Temperature t;
  pairwise_sibship(single, t.sum, t.weight);
  return t;
}

// A sample of families: parents drawn from uniform allele frequencies, each offspring one
// allele of each parent, no typing errors in the data. Family sizes are listed; every family
// has its own two parents unless it shares one with the family before it (half sibs).
std::vector<std::string> familysample(const std::vector<int>& alleles,
                                      const std::vector<int>& sizes,
                                      const std::vector<int>& sharefather, unsigned seed,
                                      double missing) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  using Genome = std::vector<std::array<int, 2>>;
  auto parent = [&] {
    Genome g;
    for (const int na : alleles) {
      std::uniform_int_distribution<int> pick(1, na);
      g.push_back({pick(rng), pick(rng)});
    }
    return g;
  };
  std::vector<std::string> lines;
  Genome father = parent();
  for (std::size_t f = 0; f < sizes.size(); ++f) {
    const bool share =
        std::find(sharefather.begin(), sharefather.end(), int(f)) != sharefather.end();
    if (!share) father = parent();
    const Genome mother = parent();
    for (int k = 0; k < sizes[f]; ++k) {
      std::string line = "O" + std::to_string(lines.size() + 1);
      for (std::size_t l = 0; l < alleles.size(); ++l) {
        if (l > 0 && u(rng) < missing) {
          line += " 0 0";
          continue;
        }
        const int a = father[l][u(rng) < 0.5 ? 0 : 1];
        const int b = mother[l][u(rng) < 0.5 ? 0 : 1];
        line += " " + std::to_string(100 + a) + " " + std::to_string(100 + b);
      }
      lines.push_back(line);
    }
  }
  return lines;
}

// The classifier written from the decision rules, with every log likelihood a direct sum over
// loci of ln prbpdyad (the oracle of dyad_sample.hpp): diploid, dioecious, no monogamy, no
// known relationships, so L(3) = L(1) and the temperature takes |L(1) - L(0)| with weight 0.5.
struct Expected {
  std::string fullsib = "OffspringID1,OffspringID2\n";
  std::string halfsib = "OffspringID1,OffspringID2\n";
  std::vector<std::vector<int>> partners;
  Temperature t;
};

Expected classify() {
  const Variables& v = variables;
  const int n = v.smplsize;
  std::vector<real8> single(static_cast<std::size_t>(n));
  singleindivlikelihood(0.0, n, 0, single);
  Expected e;
  e.partners.resize(static_cast<std::size_t>(n) + 1);
  auto ln = [](const Oracle& o) { return o.impossible ? -1e300 : o.value; };
  auto id = [&](int i) { return std::string(trim(v.offspringid(i).view())); };
  for (int i = 1; i < n; ++i)
    for (int j = i + 1; j <= n; ++j) {
      double l0 = single[i - 1] + single[j - 1];
      const double l2 = ln(dyadoracle(deltaof(1), i, 0, j, 2));
      const double l1 = ln(dyadoracle(deltaof(2), i, 0, j, 2));
      const double l3 = l1;
      e.t.sum += std::fabs(l1 - l0);
      e.t.weight += 0.5;
      const double best = std::max(l1, std::max(l2, l3));
      if (std::fabs(best - l0) < 0.0001) l0 += 0.0005;
      std::string* file = nullptr;
      if (l0 >= best) {
      } else if (l2 >= l1 && l2 >= l3) {
        file = &e.fullsib;
      } else {
        file = &e.halfsib;
      }
      if (file == nullptr) continue;
      *file += id(i) + "," + id(j) + "\n";
      e.partners[i].push_back(j);
      e.partners[j].push_back(i);
    }
  return e;
}

std::string clusterfile(const Expected& e, int n) {
  std::string text;
  const std::size_t cap = static_cast<std::size_t>(n / 50);
  for (int i = 1; i <= n; ++i) {
    const auto& p = e.partners[i];
    if (p.size() > cap) {
      text += "0\n";
      continue;
    }
    text += std::to_string(p.size());
    for (const int m : p) text += "," + std::to_string(m);
    text += "\n";
  }
  return text;
}

std::string text(const std::string& name) {
  return testing_support::read_text(name);
}

// 60 offspring in families of 6, 5 and 4 (two of them paternal half-sib families) and many
// of one or two, at 10 loci of 6 to 10 alleles and 4 loci of 2.
TEST_F(PairTest, SibshipFilesMatchAnIndependentClassifier) {
  SampleSpec spec;
  spec.alleles = {2, 2, 2, 2, 6, 7, 8, 9, 10, 6, 7, 8, 9, 10};
  spec.method = "2";  // the dyad tables are built as well
  spec.fathers = spec.mothers = 0;
  readtest::ProjectFile p = projectof(spec);
  std::vector<int> sizes = {6, 5, 4, 4, 3, 2, 2, 2, 2};
  while (std::accumulate(sizes.begin(), sizes.end(), 0) < 60) sizes.push_back(1);
  p.offspring = familysample(spec.alleles, sizes, {1, 3}, 7, 0.05);
  ASSERT_TRUE(prepare(p.text()));
  ASSERT_EQ(variables.smplsize, 60);
  ASSERT_TRUE(prbfspair_allocated());
  const Expected e = classify();
  ASSERT_GT(e.fullsib.size(), 40u);  // the sample holds full and half sibs
  ASSERT_GT(e.halfsib.size(), 40u);

  variables.pairwiseoptionq = 0;  // focal tables
  const Temperature t = runsibship();
  EXPECT_EQ(text("myout.PairwiseFullSibDyad"), e.fullsib);
  EXPECT_EQ(text("myout.PairwiseHalfSibDyad"), e.halfsib);
  EXPECT_FALSE(std::filesystem::exists("myout.PairwiseCloneDyad"));
  EXPECT_EQ(text("myout.PairCluster"), clusterfile(e, 60));
  EXPECT_NEAR(t.sum, e.t.sum, 1e-9 * e.t.sum);
  EXPECT_EQ(t.weight, e.t.weight);
  EXPECT_FALSE(variables.paircluster.allocated());

  // The pair clusters read back: lists of offspring within capacity, others empty.
  setcluster();
  ASSERT_TRUE(variables.paircluster.allocated());
  for (int i = 1; i <= 60; ++i) {
    SCOPED_TRACE("offspring " + std::to_string(i));
    const auto& want = e.partners[i];
    const FView<int2, 1>& got = variables.paircluster(i).a;
    if (want.size() > 1) {
      EXPECT_EQ(got.size(), 0);
      continue;
    }
    ASSERT_EQ(got.size(), static_cast<index_t>(want.size()));
    for (std::size_t m = 0; m < want.size(); ++m) EXPECT_EQ(got(m + 1), want[m]);
  }

  // The dyad tables give the same files.
  const std::string fs = text("myout.PairwiseFullSibDyad");
  const std::string hs = text("myout.PairwiseHalfSibDyad");
  const std::string pc = text("myout.PairCluster");
  variables.pairwiseoptionq = 1;
  const Temperature t1 = runsibship();
  EXPECT_EQ(text("myout.PairwiseFullSibDyad"), fs);
  EXPECT_EQ(text("myout.PairwiseHalfSibDyad"), hs);
  EXPECT_EQ(text("myout.PairCluster"), pc);
  // Single-precision tables: the sum agrees to their precision.
  EXPECT_NEAR(t1.sum, e.t.sum, 1e-5 * e.t.sum);
}

// Sons and daughters of a haplodiploid species classified with the dyad tables and without
// them: the tables hold a son's pair as a trial family without its prior term and the other
// setting scores the trial family itself, so the two settings must write the same files. The
// rows cover both sibship-size priors (whose terms differ between one family of two and two
// families of one) and data with and without typing errors; each sample is checked to hold
// pairs of sons and sons with daughters that are classified as relatives.
TEST_F(PairTest, HaploidPairsAreClassifiedAlikeWithTheTablesOnAndOff) {
  struct Row {
    std::string name, prior;
    double error;
  };
  const std::vector<Row> rows = {{"uniform prior, error-free", "0", 0.0},
                                 {"sibship-size prior, error-free", "1 2 2", 0.0},
                                 {"uniform prior, typing errors", "0", 0.02},
                                 {"sibship-size prior, typing errors", "1 2 2", 0.02}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    SampleSpec spec;
    spec.n = 30;
    spec.alleles = {2, 3, 2, 4};
    spec.haplodiploid = "1";
    spec.haploid = 0.5;
    spec.error = r.error;
    spec.missing = 0.1;
    spec.fathers = spec.mothers = 0;
    spec.method = "2";  // the dyad tables are built as well
    readtest::ProjectFile p = projectof(spec);
    p.prior = r.prior;
    ASSERT_TRUE(prepare(p.text()));
    ASSERT_TRUE(prbfspair_allocated());
    ASSERT_TRUE(prbmhsibpair_allocated());

    variables.pairwiseoptionq = 0;
    runsibship();
    const std::string fs = text("myout.PairwiseFullSibDyad");
    const std::string hs = text("myout.PairwiseHalfSibDyad");
    variables.pairwiseoptionq = 1;
    runsibship();
    EXPECT_EQ(text("myout.PairwiseFullSibDyad"), fs);
    EXPECT_EQ(text("myout.PairwiseHalfSibDyad"), hs);

    // Sons are O1 .. O15: the files name pairs of sons and sons with daughters.
    auto son = [](const std::string& id) { return std::stoi(id.substr(1)) <= 15; };
    int sons = 0, mixed = 0;
    for (const std::string* f : {&fs, &hs}) {
      std::size_t at = f->find('\n') + 1;
      while (at < f->size()) {
        const std::size_t end = f->find('\n', at);
        const std::string line = f->substr(at, end - at);
        const std::size_t comma = line.find(',');
        const bool a = son(line.substr(0, comma));
        const bool b = son(line.substr(comma + 1, line.find(',', comma + 1) - comma - 1));
        sons += a && b ? 1 : 0;
        mixed += a != b ? 1 : 0;
        at = end + 1;
      }
    }
    EXPECT_GT(sons, 0);
    EXPECT_GT(mixed, 0);
  }
}

// Eight offspring at three loci: O1, O2 known full sibs with opposite homozygotes; O3, O4
// known paternal sibs excluded as maternal sibs; O7, O8 the reverse; O5 and O6 typed at
// different loci, so that their pair has all four likelihoods equal (a tie, unrelated). The
// remaining pairs carry opposite homozygotes at every locus, which sibship makes far less
// likely than unrelatedness.
readtest::ProjectFile handfixture() {
  SampleSpec spec;
  spec.alleles = {8, 8, 8};
  spec.fathers = spec.mothers = 0;
  spec.method = "1";
  readtest::ProjectFile p = projectof(spec);
  p.offspring = {"O1 101 101 101 101 101 101", "O2 108 108 108 108 108 108",
                 "O3 102 102 102 102 102 102", "O4 103 103 103 103 103 103",
                 "O5 106 106 0 0 0 0",         "O6 0 0 107 107 0 0",
                 "O7 104 104 104 104 104 104", "O8 105 105 105 105 105 105"};
  p.paternalsibships = "2\n2 O1 O2\n2 O3 O4";
  p.maternalsibships = "2\n2 O1 O2\n2 O7 O8";
  p.excludedpaternalsibships = "1\nO8 1 O7";
  p.excludedmaternalsibships = "1\nO4 1 O3";
  return p;
}

TEST_F(PairTest, HandFixtureFilesAreExact) {
  struct Row {
    const char* what;
    std::string haplodiploid, matings;
    const char* fullsib;
    const char* halfsib;  // nullptr: no file
  };
  // Written out by hand from the rules: known full sibs on both sides, known on one side and
  // excluded on the other as half sibs, with the side suffix in a haplodiploid species.
  const std::vector<Row> rows = {
      {"diploid", "0", "0 0", "OffspringID1,OffspringID2\nO1,O2\n",
       "OffspringID1,OffspringID2\nO3,O4\nO7,O8\n"},
      {"haplodiploid", "1", "0 0", "OffspringID1,OffspringID2\nO1,O2\n",
       "OffspringID1,OffspringID2,Paternal(P)/Maternal(M)\nO3,O4,P\nO7,O8,M\n"},
      {"all monogamous", "0", "1 1", "OffspringID1,OffspringID2\nO1,O2\n", nullptr},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    readtest::ProjectFile p = handfixture();
    p.haplodiploid = r.haplodiploid;
    p.matings = r.matings;
    if (r.matings == "1 1") {
      // Monogamy allows no half sibs: the one-sided pairs become excluded pairs only.
      p.paternalsibships = "1\n2 O1 O2";
      p.maternalsibships = "1\n2 O1 O2";
    }
    ASSERT_TRUE(prepare(p.text()));
    runsibship();
    EXPECT_EQ(text("myout.PairwiseFullSibDyad"), r.fullsib);
    if (r.halfsib)
      EXPECT_EQ(text("myout.PairwiseHalfSibDyad"), r.halfsib);
    else
      EXPECT_FALSE(std::filesystem::exists("myout.PairwiseHalfSibDyad"));
    EXPECT_FALSE(std::filesystem::exists("myout.PairwiseCloneDyad"));
    EXPECT_FALSE(std::filesystem::exists("myout.PairCluster"));  // fewer than 50 offspring
  }
}

TEST_F(PairTest, CloneFileKeptWithCloneInference) {
  readtest::ProjectFile p = handfixture();
  ASSERT_TRUE(prepare(p.text()));
  variables.allowclone = 1;
  runsibship();
  // O1 and O2 are decided by their known sibships, before any clone test.
  EXPECT_EQ(text("myout.PairwiseCloneDyad"), "OffspringID1,OffspringID2\n");
  EXPECT_EQ(text("myout.PairwiseFullSibDyad"), "OffspringID1,OffspringID2\nO1,O2\n");
}

// Two samples of one individual (the same genotype at every locus of many alleles) are full
// sibs by the sib likelihoods and far more likely clones than full sibs: the clone file takes
// them.
TEST_F(PairTest, IdenticalGenotypesGoToTheCloneFile) {
  SampleSpec spec;
  spec.n = 4;
  spec.alleles = std::vector<int>(30, 10);
  spec.fathers = spec.mothers = 0;
  spec.method = "1";
  spec.missing = 0.0;
  readtest::ProjectFile p = projectof(spec);
  p.offspring[1] = "O2" + p.offspring[0].substr(2);
  ASSERT_TRUE(prepare(p.text()));
  variables.allowclone = 1;
  runsibship();
  const std::string clones = text("myout.PairwiseCloneDyad");
  EXPECT_EQ(clones, "OffspringID1,OffspringID2\nO1,O2\n");
  EXPECT_EQ(text("myout.PairwiseFullSibDyad").find("O1,O2"), std::string::npos);
}

TEST_F(PairTest, UnopenableSibshipFileStops) {
  readtest::ProjectFile p = handfixture();
  ASSERT_TRUE(prepare(p.text()));
  variables.fname = "no-such-folder/myout";
  std::vector<real8> single(8);
  real8 a = 0.0, w = 0.0;
  ASSERT_EQ(
      testing_support::expect_stop([&] { pairwise_sibship(single, a, w); }, "PairwiseInference"),
      1);
  // The first file opened is the clone file; the name fills a 500-character field.
  EXPECT_EQ(std::string(trim(variables.errmsg(1).view())),
            "Invalid file path & name: no-such-folder/myout.PairwiseCloneDyad");
}

// Pairs with a known parent are scored from trial families (their values are checked against
// the brute-force family sums with the likelihood tests): the phase runs through and every
// credible pair adds to the temperature sums.
TEST_F(PairTest, KnownParentPairsAreScoredFromTrialFamilies) {
  SampleSpec spec;
  spec.n = 6;
  spec.fathers = 3;
  spec.mothers = 3;
  spec.method = "1";
  readtest::ProjectFile p = projectof(spec);
  p.knownpaternity = "1 99\nO2 M1";
  ASSERT_TRUE(prepare(p.text()));
  ASSERT_GT(variables.indivparent(2, 1), 0);
  const Temperature t = runsibship();
  EXPECT_TRUE(std::isfinite(t.sum));
  EXPECT_GT(t.weight, 0.0);
  EXPECT_EQ(text("myout.PairwiseFullSibDyad").rfind("OffspringID1,OffspringID2\n", 0), 0u);
  EXPECT_EQ(variables.inferparent(2, 1), 0);  // the trial assignments are cleared
}

// A monoecious species with selfing: O1's known father and mother are both P1 (selfed), O2's
// known father is P1 and O3's known mother P2, so trial families hold selfed families (their
// values are checked against the brute-force family sums with the likelihood tests). The phase
// runs through, credible pairs add to the temperature sums and the trial assignments and the
// role links of the selfed parents are cleared.
TEST_F(PairTest, KnownParentPairsOfASelfingSpeciesAreScored) {
  readtest::ProjectFile p;
  p.loci = 4;
  p.sexes = "1";
  p.inbreeding = "1";
  p.markerids = "Ma Mb Mc Md";
  p.offspring = {"O1 101 101 103 104 106 106 107 108", "O2 102 120 104 111 105 113 108 116",
                 "O3 110 121 112 113 114 116 115 116", "O4 120 122 111 111 113 113 116 117"};
  p.fathers = {"P1 101 102 103 104 105 106 107 108", "P2 102 110 104 112 106 114 108 116",
               "P3 110 111 112 113 114 115 116 117"};
  p.mothers = p.fathers;
  p.knownpaternity = "2 99\nO1 P1\nO2 P1";
  p.knownmaternity = "2 99\nO1 P1\nO3 P2";
  ASSERT_TRUE(prepare(p.text()));
  ASSERT_EQ(variables.numsex, 1);
  ASSERT_EQ(variables.allowinbreeding, 1);
  ASSERT_EQ(variables.indivparent(1, 1), variables.indivparent(1, 2));
  ASSERT_GT(variables.indivparent(1, 1), 0);
  const Temperature t = runsibship();
  EXPECT_TRUE(std::isfinite(t.sum));
  EXPECT_GT(t.weight, 0.0);
  EXPECT_EQ(text("myout.PairwiseFullSibDyad").rfind("OffspringID1,OffspringID2\n", 0), 0u);
  for (int4 k = 1; k <= 4; ++k) {
    EXPECT_EQ(variables.inferparent(k, 1), 0);
    EXPECT_EQ(variables.inferparent(k, 2), 0);
  }
  for (int4 r = 1; r <= 2; ++r) {
    EXPECT_EQ(variables.parentjdx(r, 1), 0);
    EXPECT_EQ(variables.parentjdx(r, 2), 0);
  }
}

// The decision rules applied by hand to chosen likelihoods.
TEST(SibStatus, DecisionsAndTemperatureTerms) {
  struct Row {
    const char* what;
    std::array<real8, 4> L;
    std::array<int4, 2> stat;
    int4 mode;
    real8 w;
    int4 sp, sm;
    real8 sum, weight;  // the pair's temperature terms
  };
  const real8 no = -1e300;
  const std::vector<Row> rows = {
      // |L(1) - L(0)| = 0.00005 < 0.0001: L(0) + 0.0005 wins.
      {"tie within 0.0001", {-10, -9.99995, -11, -9.99995}, {0, 0}, 1, 2, 0, 0, 0.00005, 0.5},
      {"just beyond the tie", {-10, -9.9998, -11, -9.9998}, {0, 0}, 1, 2, 1, 0, 0.0002, 0.5},
      {"paternal larger", {-10, -8, -11, -9}, {0, 0}, 1, 2, 1, 0, 2, 0.5},
      {"maternal larger", {-10, -9, -11, -8}, {0, 0}, 1, 2, 0, 1, 1, 0.5},
      {"equal half sibs, stat(1) >= stat(2)", {-10, -8, -11, -8}, {0, 0}, 1, 2, 1, 0, 2, 0.5},
      {"equal half sibs, stat(1) < stat(2)", {-10, -8, -11, -8}, {0, 1}, 1, 2, 0, 1, 2, 0.5},
      // Full sibs at least as large as both half sibs.
      {"full sibs equal to half sibs", {-10, -8, -8, -8}, {0, 0}, 1, 2, 1, 1, 2, 0.5},
      {"full sibs", {-10, -9, -7, -9.5}, {0, 0}, 1, 2, 1, 1, 1, 0.5},
      // Mode 2 (all monogamous, w = 1) compares full sibs with unrelated.
      {"mode 2", {-10, no, -7, no}, {0, 0}, 2, 1, 1, 1, 3, 0.25},
      // Mode 3 compares maternal half sibs.
      {"mode 3", {-10, no, -12, -9}, {0, 0}, 3, 2, 0, 1, 1, 0.5},
      // Impossible L(mode): no term.
      {"impossible mode class", {-10, no, -12, -9}, {0, 0}, 1, 2, 0, 1, 0, 0},
      // Unrelated ruled out: the smallest gap to the best of the others, weight 1.
      {"unrelated ruled out", {no, -9, -7, -8}, {1, 0}, 1, 2, 1, 1, 1, 1},
      // ... but a gap of 1e30 or more to an impossible class adds nothing.
      {"unrelated ruled out, one sib class left", {no, no, -7, no}, {1, 0}, 1, 2, 1, 1, 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    real8 sum = 0.0, weight = 0.0;
    int4 sp = -1, sm = -1;
    sibstatus(r.L, r.stat, r.mode, r.w, sum, weight, sp, sm);
    EXPECT_EQ(sp, r.sp);
    EXPECT_EQ(sm, r.sm);
    EXPECT_NEAR(sum, r.sum, 1e-12);
    EXPECT_EQ(weight, r.weight);
  }
}

// With the dyad tables, a pair whose members are both very informative (single log
// likelihoods below -1000) and plausible sibs in the tables is scored from the tables even
// when one member has a known parent: the files are those of the same data without it.
TEST_F(PairTest, MaskedKnownParentsGiveTheDyadModeFiles) {
  SampleSpec spec;
  spec.n = 6;
  spec.alleles = std::vector<int>(500, 12);
  spec.fathers = spec.mothers = 3;
  spec.method = "2";
  readtest::ProjectFile p = projectof(spec);
  p.offspring = familysample(spec.alleles, {3, 2, 1}, {1}, 11, 0.02);
  ASSERT_TRUE(prepare(p.text()));
  ASSERT_EQ(variables.pairwiseoptionq, 1);
  runsibship();
  const std::string fs = text("myout.PairwiseFullSibDyad");
  const std::string hs = text("myout.PairwiseHalfSibDyad");
  ASSERT_NE(fs, "OffspringID1,OffspringID2\n");  // the sample holds full sibs

  p.knownpaternity = "1 500\nO1 M1";
  ASSERT_TRUE(prepare(p.text()));
  ASSERT_EQ(variables.indivparent(1, 1), 1);
  std::vector<real8> single(6);
  singleindivlikelihood(0.0, 6, 0, single);
  for (const real8 x : single) ASSERT_LT(x, -1000.0);
  runsibship();
  EXPECT_EQ(text("myout.PairwiseFullSibDyad"), fs);
  EXPECT_EQ(text("myout.PairwiseHalfSibDyad"), hs);
  EXPECT_EQ(variables.indivparent(1, 1), 1);  // restored after each pair
}

// Damaged pair-cluster files: reading stops at the first bad record and keeps the ones
// before it.
TEST_F(PairTest, DamagedPairClusterFiles) {
  struct Row {
    const char* what;
    std::string bad;  // record 3
  };
  const std::vector<Row> rows = {
      {"negative count", "-1"}, {"count above n - 1", "50,1,2,3"}, {"member above n", "2,4,51"},
      {"member 0", "1,0"},      {"short record", "3,17,40"},       {"not a number", "x"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    reset_all_modules();
    variables.smplsize = 50;
    variables.fname = "myout";
    testing_support::write_text("myout.PairCluster", "2,5,9\n0\n" + r.bad + "\n1,7\n");
    setcluster();
    ASSERT_TRUE(variables.paircluster.allocated());
    const FView<int2, 1>& first = variables.paircluster(1).a;
    ASSERT_EQ(first.size(), 2);
    EXPECT_EQ(first(1), 5);
    EXPECT_EQ(first(2), 9);
    for (int i = 2; i <= 50; ++i) EXPECT_EQ(variables.paircluster(i).a.size(), 0) << i;
  }
  // A sound file: a record 0 leaves its list empty and reading goes on.
  reset_all_modules();
  variables.smplsize = 50;
  variables.fname = "myout";
  testing_support::write_text("myout.PairCluster", "2,5,9\n0\n3,17,40,50\n");
  setcluster();
  EXPECT_EQ(variables.paircluster(2).a.size(), 0);
  ASSERT_EQ(variables.paircluster(3).a.size(), 3);
  EXPECT_EQ(variables.paircluster(3).a(3), 50);
  // No file: no clusters.
  reset_all_modules();
  variables.smplsize = 50;
  variables.fname = "none";
  setcluster();
  EXPECT_FALSE(variables.paircluster.allocated());
}

}  // namespace
}  // namespace kinrad::pairtest
