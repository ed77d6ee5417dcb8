// The rows and headers of the inferred-genotype files and the lines of ".AlleleFreq", from
// hand-filled estimates and module state. Expected texts are written by hand from the file
// layouts: the probability column shows the entry of the frequency table chosen, and the
// table is filled here with the entry's own index so that the rounding of 10000 p shows.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "core/modules/writevar.hpp"
#include "core/variables_routines.hpp"
#include "results/inferred_genotype_internal.hpp"
#include "results/results_internal.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

class InferredGenotypeRows : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_all_modules();
    writevar.cfre.allocate(Dim(0, 10000));
    for (int4 i = 0; i <= 10000; ++i) writevar.cfre(i) = itoc(i);
  }
  void TearDown() override { reset_all_modules(); }
};

TEST_F(InferredGenotypeRows, Headers) {
  auto& v = variables;
  v.ploidy(1) = 2;
  v.ploidy(2) = 2;
  v.numestgenotype = 3;
  EXPECT_EQ(inferred_genotype_header(0),
            "OffspringID,MarkerID,ObsAllele1,ObsAllele2,TypeError,Est1-Allele1,Est1-Allele2,"
            "Prob1,Est2-Allele1,Est2-Allele2,Prob2,Est3-Allele1,Est3-Allele2,Prob3");
  v.numestgenotype = 5;
  EXPECT_EQ(inferred_genotype_header(2),
            "MotherID,MarkerID,ObsAllele1,ObsAllele2,TypeError,Est1-Allele1,Est1-Allele2,"
            "Prob1,Est2-Allele1,Est2-Allele2,Prob2,Est3-Allele1,Est3-Allele2,Prob3,"
            "Est4-Allele1,Est4-Allele2,Prob4,Est5-Allele1,Est5-Allele2,Prob5");
  v.ploidy(1) = 1;
  v.numestgenotype = 3;
  EXPECT_EQ(inferred_genotype_header(1),
            "FatherID,MarkerID,Phenotype,TypeError,Genotype1,Prob1,Genotype2,Prob2,Genotype3,"
            "Prob3");
  // A haplodiploid species keeps the pair layout for offspring and mothers.
  EXPECT_EQ(inferred_genotype_header(0).substr(0, 48),
            "OffspringID,MarkerID,ObsAllele1,ObsAllele2,TypeE");
}

struct RowCase {
  const char* what;
  InferredRow row;
  const char* expected;  // "" for no row
};

InferredRow make(int4 ploidy, bool dominant, bool haploid, int4 a1, std::array<int4, 2> obs,
                 std::vector<real4> p, std::vector<std::array<int4, 2>> alt) {
  InferredRow r;
  r.id = "I1";
  r.marker = "L7";
  r.ploidy = ploidy;
  r.dominant = dominant;
  r.haploid = haploid;
  r.a1 = a1;
  r.obs = obs;
  r.n = 3;
  for (std::size_t k = 0; k < p.size(); ++k) r.p[k] = p[k];
  for (std::size_t k = 0; k < alt.size(); ++k) r.alt[k] = alt[k];
  return r;
}

TEST_F(InferredGenotypeRows, RowCases) {
  const std::vector<RowCase> cases = {
      {"dominant: the first label then NA",
       make(2, true, false, 1, {1, 1}, {0.9f, 0.1f, 0.0f}, {{1, 2}, {1, 1}}),
       "I1,L7,1,NA,0,1,2,9000,1,1,1000\n"},
      {"haploid offspring: -99 in the observation and every alternative",
       make(2, false, true, 2, {2, 2}, {0.8f, 0.15f, 0.05f}, {{2, 2}, {1, 1}, {3, 3}}),
       "I1,L7,2,-99,0,2,-99,8000,1,-99,1500,3,-99,500\n"},
      {"observed among the alternatives at p < 0.05: flagged",
       make(2, false, false, 1, {1, 2}, {0.96f, 0.04f, 0.0f}, {{1, 1}, {1, 2}}),
       "I1,L7,1,2,1,1,1,9600,1,2,400\n"},
      {"observed among the alternatives at p = 0.05: not flagged",
       make(2, false, false, 1, {1, 2}, {0.95f, 0.05f, 0.0f}, {{1, 1}, {1, 2}}),
       "I1,L7,1,2,0,1,1,9500,1,2,500\n"},
      {"observed absent, the alternatives sum above 0.95: flagged",
       make(2, false, false, 3, {3, 3}, {0.6f, 0.36f, 0.0f}, {{1, 1}, {1, 2}}),
       "I1,L7,3,3,1,1,1,6000,1,2,3600\n"},
      {"observed absent, the alternatives sum to 0.95 exactly: not flagged",
       make(2, false, false, 3, {3, 3}, {0.5f, 0.45f, 0.0f}, {{1, 1}, {1, 2}}),
       "I1,L7,3,3,0,1,1,5000,1,2,4500\n"},
      {"untyped: never flagged",
       make(2, false, false, 0, {0, 0}, {0.97f, 0.02f, 0.01f}, {{1, 1}, {1, 2}, {2, 2}}),
       "I1,L7,0,0,0,1,1,9700,1,2,200\n"},
      {"the sum at most 0.9: threshold 0.001, the first kept though below it",
       make(2, false, false, 0, {0, 0}, {0.0008f, 0.0005f, 0.0001f}, {{1, 1}, {1, 2}, {2, 2}}),
       "I1,L7,0,0,0,1,1,8\n"},
      {"the sum above 0.9: alternatives at or below 0.01 dropped from the end",
       make(2, false, false, 0, {0, 0}, {0.95f, 0.01f, 0.005f}, {{1, 1}, {1, 2}, {2, 2}}),
       "I1,L7,0,0,0,1,1,9500\n"},
      {"the sum at most 0.9: an alternative above 0.001 stays",
       make(2, false, false, 0, {0, 0}, {0.5f, 0.002f, 0.001f}, {{1, 1}, {1, 2}, {2, 2}}),
       "I1,L7,0,0,0,1,1,5000,1,2,20\n"},
      {"10000 p = 1234.5 in single precision rounds away from zero",
       make(2, false, false, 0, {0, 0}, {0.12345f, 0.0f, 0.0f}, {{1, 1}}),
       "I1,L7,0,0,0,1,1,1235\n"},
      // 0.00005f is 5.0000002e-5; 10000 times it rounds to 0.5 in single precision.
      {"10000 p = one half in single precision rounds away from zero",
       make(2, false, false, 0, {0, 0}, {0.00005f, 0.0f, 0.0f}, {{1, 1}}), "I1,L7,0,0,0,1,1,1\n"},
      {"nothing inferred: no row",
       make(2, false, false, 1, {1, 1}, {0.9e-10f, 0.0f, 0.0f}, {{1, 1}}), ""},
      {"pairs in ascending order of label",
       make(2, false, false, 1, {30, 10}, {0.7f, 0.3f, 0.0f}, {{20, 10}, {30, 10}}),
       "I1,L7,10,30,0,10,20,7000,10,30,3000\n"},
      {"haploid father layout",
       make(1, false, false, 2, {12, 0}, {0.9f, 0.1f, 0.0f}, {{12, 0}, {11, 0}}),
       "I1,L7,12,0,12,9000,11,1000\n"},
      {"dominant, band absent: an alternative of label 2 only matches",
       make(2, true, false, 2, {2, 2}, {0.97f, 0.03f, 0.0f}, {{1, 2}, {2, 2}}),
       "I1,L7,2,NA,1,1,2,9700,2,2,300\n"},
  };
  for (const RowCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::string out = "x";
    const bool wrote = compose_inferred_row(out, c.row);
    EXPECT_EQ(wrote, std::string(c.expected) != "");
    EXPECT_EQ(out, "x" + std::string(c.expected));
  }
}

// The real frequency table: (F6.3) of m/10000, trimmed.
TEST_F(InferredGenotypeRows, ProbabilityTextFromTheFrequencyTable) {
  for (int4 i = 0; i <= 10000; ++i) writevar.cfre(i) = rtoc(i * 0.0001, "(F6.3)");
  std::string out;
  compose_inferred_row(out, make(2, false, false, 0, {0, 0}, {1.0f, 0.0f, 0.0f}, {{1, 1}}));
  compose_inferred_row(out, make(2, false, false, 0, {0, 0}, {0.25f, 0.0f, 0.0f}, {{1, 1}}));
  EXPECT_EQ(out, "I1,L7,0,0,0,1,1,1.000\nI1,L7,0,0,0,1,1,0.250\n");
}

// ".AlleleFreq" from hand-set loci: labels, initial and updated frequencies.
class AlleleFreqFile : public InferredGenotypeRows {
 protected:
  testing_support::TempWorkDir dir{"allele_freq"};

  void loci(int4 n) {
    auto& v = variables;
    v.fname = "out";
    v.numloci = n;
    v.maxobsnumallele = 3;
    v.markerid.allocate(Dim(std::max(n, 1)));
    v.obsnumallele.allocate(Dim(std::max(n, 1)));
    v.dominantmarker.allocate(Dim(std::max(n, 1)));
    v.rawallele.allocate(Dim(std::max(n, 1)));
    v.obsallelefre0.allocate(Dim(3), Dim(std::max(n, 1)));
    v.updatedallelefre.allocate(Dim(3), Dim(std::max(n, 1)));
  }
  void locus(int4 l, const char* id, bool dominant, std::vector<int4> labels,
             std::vector<real8> initial, std::vector<real8> updated) {
    auto& v = variables;
    v.markerid(l) = std::string(20 - std::string(id).size(), ' ') + id;  // right-adjusted
    v.dominantmarker(l) = dominant ? 1 : 0;
    v.obsnumallele(l) = static_cast<int4>(labels.size());
    v.rawallele(l).a.allocate(Dim(-1, static_cast<int4>(labels.size())));
    v.rawallele(l).a(-1) = -1;
    for (std::size_t a = 0; a < labels.size(); ++a) {
      v.rawallele(l).a(static_cast<int4>(a + 1)) = labels[a];
      v.obsallelefre0(static_cast<int4>(a + 1), l) = initial[a];
      if (a < updated.size()) v.updatedallelefre(static_cast<int4>(a + 1), l) = updated[a];
    }
  }
};

TEST_F(AlleleFreqFile, Lines) {
  loci(5);
  // Labels out of order are written in ascending order of label.
  locus(1, "Loc1", false, {130, 110, 120}, {0.5, 0.25, 0.25}, {0.45678, 0.3, 0.24322});
  locus(2, "Loc2", false, {7}, {1.0}, {});
  locus(3, "Dom1", true, {2}, {1.0}, {});
  locus(4, "Dom2", true, {1}, {0.3}, {});
  locus(5, "Loc5", false, {}, {}, {});
  write_allele_frequencies();
  EXPECT_EQ(testing_support::read_text("out.AlleleFreq"),
            "MarkerID,AlleleID,InitialFreq,UpdatedFreq\n"
            "Loc1,110,0.2500,0.3000\n"
            "Loc1,120,0.2500,0.2432\n"
            "Loc1,130,0.5000,0.4568\n"
            "Loc2,7,1.0000,1.0000\n"
            "Dom1,1,0.0000,0.0000\n"
            "Dom1,2,1.0000,1.0000\n"
            "Dom2,1,0.3000,0.3000\n"
            "Dom2,2,0.7000,0.7000\n");
}

TEST_F(AlleleFreqFile, NoLociGiveTheHeaderOnly) {
  loci(0);
  write_allele_frequencies();
  EXPECT_EQ(testing_support::read_text("out.AlleleFreq"),
            "MarkerID,AlleleID,InitialFreq,UpdatedFreq\n");
}

// (F9.4) through rtoc as gfortran writes and trims it
// (tests/results/generators/allele_freq_f94.f90 wrote the table).
TEST_F(AlleleFreqFile, FrequenciesAsGfortran) {
  std::ifstream in(std::string(KINRAD_TEST_DATA_DIR) + "/allele_freq_f94.txt");
  ASSERT_TRUE(in.good());
  std::string line;
  int rows = 0;
  while (std::getline(in, line)) {
    const auto tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos);
    SCOPED_TRACE(line);
    EXPECT_EQ(rtoc(std::stod(line.substr(0, tab)), "(F9.4)"), line.substr(tab + 1));
    ++rows;
  }
  EXPECT_EQ(rows, 14);
}

}  // namespace
}  // namespace kinrad
