// The ".Inbreeding" file and the identity-disequilibrium selfing rate. Expected files come from
// gfortran (data/inbreeding_lines.f90 writes them with the same statements and edit formats);
// expected rates from a hand derivation and from a plain Python transcription of the method
// (data/identity_cases.py, which also draws the 20 random data sets).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/packed_genotypes.hpp"
#include "model/model.hpp"
#include "results/inbreeding_internal.hpp"
#include "results/results_internal.hpp"
#include "support/prepare.hpp"
#include "support/project_file.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

// One locus of a synthetic sample: its allele number, whether it is dominant, and per
// offspring '0' untyped, '1' homozygous, '2' heterozygous.
struct Loc {
  int4 nallele = 3;
  int1 dominant = 0;
  std::string codes;
};

// Packed offspring genotypes as the preparation leaves them: loci of more than two alleles one
// genotype number per word, loci of two alleles 2-bit codes (3 the heterozygote, read back as
// genotype maxobsnumallele + 1).
void load(int4 n, const std::vector<Loc>& loci) {
  reset_all_modules();
  auto& v = variables;
  v.displayq = 0;
  const int4 nl = static_cast<int4>(loci.size());
  v.smplsize = n;
  v.numsex = 1;
  v.numloci = nl;
  v.dominantmarker.allocate(Dim(std::max(nl, 1)));
  v.obsnumallele.allocate(Dim(std::max(nl, 1)));
  v.maxobsnumallele = 2;
  for (const Loc& l : loci) v.maxobsnumallele = std::max(v.maxobsnumallele, l.nallele);
  v.l23g(1) = 3;
  v.l23g(2) = static_cast<int2>(v.maxobsnumallele + 1);
  index_t words = 0;
  for (const Loc& l : loci) words += packed_column_words(n, l.nallele);
  v.indivgtype2tgt.allocate(Dim(std::max<index_t>(words, 1)));
  v.indivgtype2.allocate(Dim(std::max(nl, 1)));
  index_t first = 1;
  for (int4 k = 1; k <= nl; ++k) {
    const Loc& l = loci[static_cast<std::size_t>(k - 1)];
    v.dominantmarker(k) = l.dominant;
    v.obsnumallele(k) = l.nallele;
    const index_t w = packed_column_words(n, l.nallele);
    v.indivgtype2(k).a = window(v.indivgtype2tgt, first, w);
    first += w;
    setgetgtype.locusgtypeptr = v.indivgtype2(k).a;
    for (int4 i = 1; i <= n; ++i) {
      const char c = l.codes[static_cast<std::size_t>(i - 1)];
      if (l.nallele > 2) {
        v.indivgtype2(k).a(i) =
            static_cast<int2>(c == '0' ? 0 : (c == '1' ? 1 : v.maxobsnumallele + 1));
      } else {
        const int1 alleles[2] = {static_cast<int1>(c == '0' ? 0 : 1),
                                 static_cast<int1>(c == '0' ? 0 : (c == '1' ? 1 : 2))};
        setgtype(alleles, i, l.nallele);
      }
    }
  }
}

real8 identity_of(int4 n, const std::vector<Loc>& loci) {
  load(n, loci);
  real8 s = 0.0;
  identity(s);
  return s;
}

// Three loci of six offspring, heterozygous at locus 1 in offspring 1-3, at locus 2 in 1, 2, 4
// and at locus 3 in 1 and 5: h = (3, 2, 1, 1, 1, 0), H = 8, T = 18; U = 3 + 3 + 2 = 8,
// V = 12 + 12 + 10 = 34, A = 3 x ((18 - 6 + 1) 6 - 18) = 180, B = 3 x 12 = 36;
// x = 180 x 8 / (34 x 36) - 1 = 3/17, s = (1 + 15/17 - sqrt(880)/17) / (6/17).
TEST(Identity, HandCase) {
  const real8 s = identity_of(6, {{3, 0, "222111"}, {3, 0, "221211"}, {3, 0, "211121"}});
  EXPECT_NEAR(s, (32.0 - std::sqrt(880.0)) / 6.0, 1e-15);
  // The same with two-allele loci, read through the packed 2-bit columns.
  EXPECT_NEAR(identity_of(6, {{2, 0, "222111"}, {2, 0, "221211"}, {3, 0, "211121"}}),
              (32.0 - std::sqrt(880.0)) / 6.0, 1e-15);
}

TEST(Identity, NoEstimateCases) {
  struct Row {
    const char* what;
    int4 n;
    std::vector<Loc> loci;
  };
  const std::vector<Row> rows = {
      {"dominant only", 4, {{2, 1, "1212"}, {2, 1, "2112"}}},
      {"monomorphic only", 4, {{1, 0, "1111"}, {1, 0, "1111"}}},
      {"loci without heterozygotes", 4, {{3, 0, "1111"}, {3, 0, "1011"}, {3, 0, "1212"}}},
      {"loci entirely heterozygous", 4, {{3, 0, "2222"}, {3, 0, "2202"}, {3, 0, "1212"}}},
      {"one usable locus", 4, {{3, 0, "1212"}, {2, 1, "1212"}}},
      // Every typed genotype of the two loci in different offspring: T = N, B = 0.
      {"no pair across offspring", 4, {{3, 0, "2100"}, {3, 0, "0021"}}},
      {"no loci", 4, {}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(identity_of(r.n, r.loci), -1.0);
  }
}

// Heterozygosity avoiding the same offspring across loci: U = 1e-300, x = -1, s = 0.
TEST(Identity, NoExcessGivesZero) {
  EXPECT_EQ(identity_of(4, {{3, 0, "2211"}, {3, 0, "1122"}}), 0.0);
}

struct Cases {
  std::vector<std::pair<int4, std::vector<Loc>>> sets;
  std::vector<real8> want;
  real8 large = 0.0;
};

Cases read_cases() {
  std::ifstream in(std::string(KINRAD_TEST_DATA_DIR) + "/identity_cases.txt");
  Cases c;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("# large ", 0) == 0) {
      c.large = std::stod(line.substr(8));
      continue;
    }
    std::istringstream head(line);
    int4 n = 0, nl = 0;
    head >> n >> nl;
    std::vector<Loc> loci;
    for (int4 l = 0; l < nl; ++l) {
      std::getline(in, line);
      std::istringstream s(line);
      int na = 0, dom = 0;
      Loc x;
      s >> na >> dom >> x.codes;
      x.nallele = na;
      x.dominant = static_cast<int1>(dom);
      loci.push_back(x);
    }
    std::getline(in, line);
    c.sets.emplace_back(n, loci);
    c.want.push_back(std::stod(line));
  }
  return c;
}

TEST(Identity, RandomDataSetsAgainstThePlainTranscription) {
  const Cases c = read_cases();
  ASSERT_EQ(c.sets.size(), 20u);
  for (std::size_t k = 0; k < c.sets.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_NEAR(identity_of(c.sets[k].first, c.sets[k].second), c.want[k],
                1e-13 * std::max(1.0, std::fabs(c.want[k])));
  }
}

// 30,000 offspring at 100 loci: (T - N_l + 1) N is near 9 x 10^10, beyond 32 bits.
TEST(Identity, LargeCountsDoNotOverflow) {
  const Cases c = read_cases();
  const int4 n = 30000;
  std::vector<Loc> loci(100);
  for (int4 l = 0; l < 100; ++l) {
    Loc& x = loci[static_cast<std::size_t>(l)];
    x.codes.resize(static_cast<std::size_t>(n));
    for (int4 i = 0; i < n; ++i)
      x.codes[static_cast<std::size_t>(i)] =
          ((i * 7 + l * 13) % 5 == 0 || (i % 11 == 0 && l % 3 == 0)) ? '2' : '1';
  }
  EXPECT_NEAR(identity_of(n, loci), c.large, 1e-12);
}

// --- The file ---------------------------------------------------------------------------------

std::string expected(const char* name) {
  return testing_support::read_text(std::string(KINRAD_TEST_DATA_DIR) + "/" + name);
}

std::string written(const std::array<real8, 3>& selfrate) {
  variables.fname = "out";
  write_inbreeding(selfrate);
  return testing_support::read_text("out.Inbreeding");
}

TEST(InbreedingFile, TwoSexesWriteTwoLines) {
  testing_support::TempWorkDir dir("inbreedingtwo");
  for (const int4 haplo : {0, 1}) {
    SCOPED_TRACE(haplo);
    load(4, {{3, 0, "1212"}, {3, 0, "2112"}});
    auto& v = variables;
    v.numsex = 2;
    v.haplodiploid = haplo;
    v.inbreeding = 0.0625;
    EXPECT_EQ(written({0.2, 0.1, 0.3}), expected("inbreeding_two_sexes.txt"));
    v.inbreeding = -0.123456;
    EXPECT_EQ(written({-1.0, -1.0, -1.0}), expected("inbreeding_two_sexes_negative.txt"));
  }
}

// One parent pool. The fitted inbreeding is held at 0 (every marker flagged dominant for that
// fit, so that the file shows F_ML <= 0 giving a selfing rate of 0); the identity estimate
// reads the loci as given.
TEST(InbreedingFile, OneSexLines) {
  testing_support::TempWorkDir dir("inbreedingone");
  struct Row {
    const char* file;
    std::array<real8, 3> selfrate;
    std::vector<Loc> loci;
  };
  const std::vector<Row> rows = {
      {"inbreeding_self0.txt", {0.0, 0.0, 0.0}, {{2, 1, "1212"}}},
      {"inbreeding_self1.txt", {1.0, 1.0, 1.0}, {{3, 0, "1212"}}},
      {"inbreeding_estimates.txt",
       {0.3, 0.12, 0.48},
       {{3, 0, "222111"}, {3, 0, "221211"}, {3, 0, "211121"}}},
      {"inbreeding_unset.txt", {-1.0, -1.0, -1.0}, {{3, 0, "2211"}, {3, 0, "1122"}}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.file);
    load(static_cast<int4>(r.loci[0].codes.size()), r.loci);
    variables.alldommarkers = 1;
    EXPECT_EQ(written(r.selfrate), expected(r.file));
  }
}

// A fitted inbreeding above 0 gives the selfing rate 2F / (F + 1) on the second Fis line.
TEST(InbreedingFile, PositiveFittedInbreeding) {
  testing_support::TempWorkDir dir("inbreedingfit");
  // One parent pool, offspring mostly homozygous at two codominant loci of three alleles: a
  // clear homozygote excess.
  testing_support::ProjectFile project;
  project.sexes = "1";
  project.inbreeding = "1";
  project.offspring = {"O1 1 1 2 2", "O2 2 2 1 1", "O3 3 3 3 3", "O4 1 1 1 1", "O5 2 2 2 2",
                       "O6 3 3 1 1", "O7 1 2 2 3", "O8 1 1 3 3", "O9 2 2 2 2", "O10 3 3 1 1"};
  ASSERT_TRUE(testing_support::prepare(project));
  auto& v = variables;
  v.displayq = 0;
  real8 f = 0.0;
  initialinbcoe(f);
  ASSERT_GT(f, 0.0);
  const std::string text = written({0.0, 0.0, 0.0});
  std::istringstream lines(text);
  std::string line;
  for (int k = 0; k < 5; ++k) std::getline(lines, line);
  // F20.4 of 2F/(F + 1), right-adjusted after the two 20-character labels.
  const real8 s = 2.0 * f / (f + 1.0);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%20.4f", s);
  EXPECT_EQ(line, std::string(12, ' ') + "Fis(DHW)" + std::string(13, ' ') + "Selfing" + buf);
}

}  // namespace
}  // namespace kinrad
