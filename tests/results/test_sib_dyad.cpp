// Sib dyad probabilities. The classification cases are worked out by hand from two-record
// archives with chosen weights; the brute-force case tallies full-sib and half-sib weights over
// every configuration of a four-offspring sample independently, and takes the pair factors from
// the engine's brute-force oracle (a sum over every parental genotype) of independently
// described two-offspring families plus their sibship-size prior term, written here with the
// C library's lgamma. Edit formats: the lines gfortran 12 writes for "(4A, F6.3)" and
// "(6A, F6.3)" (generators/dyad_formats.f90). Unformatted bytes are written out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "archive_walk_fixture.hpp"
#include "core/modules.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/oracle.hpp"
#include "results/archive_internal.hpp"
#include "results/dyad_internal.hpp"
#include "support/archive_builder.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using namespace testing_support;
using namespace resultstest;

using oracle::Cluster;
using oracle::Family;
using oracle::Parent;

// A(j, 1..K) of offspring i over the archive in module state with the given weights.
std::vector<std::vector<real8>> fractions(int4 i, const std::vector<real8>& w) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  const int4 K = v.haplodiploid + 2;
  SibDyadArchive a;
  sib_dyad_index(a);
  FArray<real8, 1> weight{Dim(static_cast<int4>(w.size()))};
  real8 sum = 0.0;
  for (std::size_t k = 0; k < w.size(); ++k) {
    weight(static_cast<int4>(k) + 1) = w[k];
    sum += w[k];
  }
  FArray<real8, 2> frac{Dim(n), Dim(K)};
  frac.fill(-7.0);
  sib_dyad_fractions(a, weight, sum, i, frac);
  std::vector<std::vector<real8>> out(static_cast<std::size_t>(n) + 1,
                                      std::vector<real8>(static_cast<std::size_t>(K) + 1, 0.0));
  for (int4 j = i + 1; j <= n; ++j)
    for (int4 k = 1; k <= K; ++k)
      out[static_cast<std::size_t>(j)][static_cast<std::size_t>(k)] = frac(j, k);
  return out;
}

struct ClassCase {
  const char* name;
  ArchiveSample sample;
  std::vector<int4> haploid;
  std::vector<ArchiveRecord> records;  // weights 1 and 1/2
  // (j, column, expected fraction) for i = 1; every other entry of A is 0.
  std::vector<std::tuple<int4, int4, real8>> expected;
};

TEST(SibDyadFractions, ClassificationTable) {
  const real8 a = 1.0 / 1.5, b = 0.5 / 1.5, ab = 1.5 / 1.5;
  const std::vector<ClassCase> cases = {
      // One pool: both ids equal: full sibs; any id shared across the columns: half sibs.
      // Record 2: offspring 2 has offspring 1's father as its mother, 4 the same father.
      {"one sex",
       {.n = 4, .numsex = 1},
       {},
       {{0.0, {1, 1, 2, 3}, {4, 4, 1, 5}}, {0.0, {1, 2, 3, 1}, {5, 1, 6, 7}}},
       {{2, 1, a}, {2, 2, b}, {3, 2, a}, {4, 2, b}}},
      // Both sexes monogamous: the paternal family alone, haploid or not.
      {"double monogamy",
       {.n = 4, .mono1 = 1, .mono2 = 1},
       {3},
       {{0.0, {1, 1, 1, 2}, {1, 1, 1, 2}}, {0.0, {1, 2, 1, 1}, {1, 2, 1, 1}}},
       {{2, 1, a}, {3, 1, ab}, {4, 1, b}}},
      // Haploid i: the mother's family alone; a haploid j is a full sib, a diploid one a
      // maternal half sib (column 3). A shared father family means nothing.
      {"i haploid",
       {.n = 4},
       {1, 2},
       {{0.0, {1, 2, 3, 3}, {1, 1, 1, 2}}, {0.0, {1, 1, 2, 1}, {1, 2, 1, 3}}},
       {{2, 1, a}, {3, 3, ab}}},
      // Males monogamous: same father: full sibs; otherwise the same mother: maternal.
      {"males monogamous",
       {.n = 4, .mono1 = 1},
       {4},
       {{0.0, {1, 1, 2, 3}, {1, 1, 1, 1}}, {0.0, {1, 2, 3, 4}, {1, 2, 1, 2}}},
       {{2, 1, a}, {3, 3, ab}, {4, 3, a}}},
      // Females monogamous (diploid, K = 2): same mother: full sibs; the same father only:
      // half sibs.
      {"females monogamous",
       {.n = 4, .mono2 = 1},
       {},
       {{0.0, {1, 1, 1, 2}, {1, 1, 2, 1}}, {0.0, {1, 1, 2, 2}, {1, 2, 3, 4}}},
       {{2, 1, a}, {2, 2, b}, {3, 2, a}, {4, 1, a}}},
      // Neither, haplodiploid: full, paternal, maternal; a haploid j with the mother:
      // maternal; record 2 swaps the kinds of 2 and 3.
      {"neither haplodiploid",
       {.n = 6},
       {4},
       {{0.0, {1, 1, 1, 2, 3, 4}, {1, 1, 2, 1, 1, 3}},
        {0.0, {1, 1, 1, 2, 3, 4}, {1, 2, 1, 3, 3, 3}}},
       {{2, 1, a}, {2, 2, b}, {3, 2, a}, {3, 1, b}, {4, 3, a}, {5, 3, a}}},
      // Neither, diploid: paternal and maternal half sibs share column 2.
      {"neither diploid",
       {.n = 4},
       {},
       {{0.0, {1, 1, 1, 2}, {1, 1, 2, 1}}, {0.0, {1, 2, 3, 4}, {1, 2, 1, 3}}},
       {{2, 1, a}, {3, 2, ab}, {4, 2, a}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    archive_walk_sample(c.sample);
    for (const int4 h : c.haploid) make_haploid(h);
    set_archive(c.records);
    const auto got = fractions(1, {1.0, 0.5});
    const int4 K = variables.haplodiploid + 2;
    for (int4 j = 2; j <= c.sample.n; ++j)
      for (int4 k = 1; k <= K; ++k) {
        real8 want = 0.0;
        for (const auto& [ej, ek, ev] : c.expected)
          if (ej == j && ek == k) want = ev;
        EXPECT_EQ(got[static_cast<std::size_t>(j)][static_cast<std::size_t>(k)], want)
            << "j " << j << " column " << k;
      }
  }
  reset_all_modules();
}

// A plain walk over every (j, record) with the column routine gives the same sums bit for bit
// (records of a 12-offspring pool and of two sexes with random ids).
TEST(SibDyadFractions, ChainsVisitWhatThePlainWalkVisits) {
  for (const int4 numsex : {1, 2}) {
    SCOPED_TRACE(numsex);
    archive_walk_sample({.n = 12, .numsex = numsex});
    if (numsex == 2) {
      make_haploid(3);
      make_haploid(7);
    }
    std::mt19937 rng(5);
    std::uniform_int_distribution<int4> id(1, 4);
    std::uniform_real_distribution<real8> u(0.01, 1.0);
    std::vector<ArchiveRecord> recs;
    std::vector<real8> w;
    for (int r = 0; r < 30; ++r) {
      ArchiveRecord rec;
      for (int4 i = 0; i < 12; ++i) {
        rec.fam1.push_back(id(rng));
        rec.fam2.push_back(id(rng) + (numsex == 1 ? 2 : 0));
      }
      recs.push_back(rec);
      w.push_back(u(rng));
    }
    set_archive(recs);
    real8 sum = 0.0;
    for (real8 x : w) sum += x;
    std::vector<const Config*> list;
    for (const Config* c = variables.confighead; c != nullptr; c = c->next) list.push_back(c);
    for (int4 i = 1; i <= 12; ++i) {
      const auto got = fractions(i, w);
      for (int4 j = i + 1; j <= 12; ++j) {
        std::vector<real8> want(static_cast<std::size_t>(variables.haplodiploid + 3), 0.0);
        for (std::size_t r = 0; r < list.size(); ++r) {
          const int4 k = sib_dyad_column(*list[r], i, j);
          if (k != 0) want[static_cast<std::size_t>(k)] += w[r];
        }
        for (std::size_t k = 1; k < want.size(); ++k)
          EXPECT_EQ(got[static_cast<std::size_t>(j)][k], want[k] / sum) << i << " " << j;
      }
    }
  }
  reset_all_modules();
}

// ---- Files of the step without likelihoods -------------------------------------------------

struct FsRecord {
  int4 i, j;
  real8 p;
};
struct HsRecord {
  int4 i, j, code;
  real8 p;
};

// The records of an unformatted file, framed by a 4-byte length before and after each.
template <class R>
std::vector<R> records_of(const std::string& name) {
  const std::string bytes = file_text(name);
  std::vector<R> out;
  std::size_t at = 0;
  constexpr std::size_t body = std::is_same_v<R, FsRecord> ? 16 : 20;
  while (at < bytes.size()) {
    int32_t len = 0, tail = 0;
    std::memcpy(&len, bytes.data() + at, 4);
    EXPECT_EQ(static_cast<std::size_t>(len), body);
    R r{};
    const char* p = bytes.data() + at + 4;
    std::memcpy(&r.i, p, 4);
    std::memcpy(&r.j, p + 4, 4);
    if constexpr (std::is_same_v<R, FsRecord>) {
      std::memcpy(&r.p, p + 8, 8);
    } else {
      std::memcpy(&r.code, p + 8, 4);
      std::memcpy(&r.p, p + 12, 8);
    }
    std::memcpy(&tail, bytes.data() + at + 4 + body, 4);
    EXPECT_EQ(tail, len);
    out.push_back(r);
    at += body + 8;
  }
  return out;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// Runs the step on the archive in module state with weights exp(L - L of the first record).
void run_step() {
  auto& v = variables;
  std::vector<real8> w;
  for (const Config* c = v.confighead; c != nullptr; c = c->next)
    w.push_back(std::exp(c->logl - v.confighead->logl));
  FArray<real8, 1> weight{Dim(static_cast<int4>(w.size()))};
  real8 sum = 0.0;
  for (std::size_t k = 0; k < w.size(); ++k) {
    weight(static_cast<int4>(k) + 1) = w[k];
    sum += w[k];
  }
  sib_dyad_probabilities(weight, sum);
}

// Every text line of a kind and its unformatted record carry the same pair and value.
void expect_files_agree() {
  const auto fs = lines_of(file_text("t.FullSibDyad"));
  const auto fsr = records_of<FsRecord>("t.FSDyadUF");
  ASSERT_EQ(fs.size(), fsr.size() + 1);
  for (std::size_t k = 0; k < fsr.size(); ++k) {
    const auto& r = fsr[k];
    EXPECT_LT(r.i, r.j);
    std::string want = "O" + std::to_string(r.i) + ",O" + std::to_string(r.j) + ",";
    EXPECT_EQ(fs[k + 1].substr(0, want.size()), want);
    EXPECT_NEAR(std::stod(fs[k + 1].substr(want.size())), r.p, 0.0005);
    if (k > 0) {
      EXPECT_TRUE(fsr[k - 1].i < r.i || (fsr[k - 1].i == r.i && fsr[k - 1].j < r.j));
    }
  }
  if (variables.allmonogamy == 1) return;
  const auto hs = lines_of(file_text("t.HalfSibDyad"));
  const auto hsr = records_of<HsRecord>("t.HSDyadUF");
  ASSERT_EQ(hs.size(), hsr.size() + 1);
  for (std::size_t k = 0; k < hsr.size(); ++k) {
    const auto& r = hsr[k];
    EXPECT_LT(r.i, r.j);
    std::string want = "O" + std::to_string(r.i) + ",O" + std::to_string(r.j) + ",";
    if (variables.haplodiploid == 1) {
      want += r.code == 1 ? "PaternalSib," : "MaternalSib,";
    } else {
      EXPECT_EQ(r.code, 1);
    }
    EXPECT_EQ(hs[k + 1].substr(0, want.size()), want);
    EXPECT_NEAR(std::stod(hs[k + 1].substr(want.size())), r.p, 0.0005);
  }
}

class SibDyadStep : public ::testing::Test {
 protected:
  void SetUp() override { dir_.emplace("sibdyad"); }
  void TearDown() override {
    reset_all_modules();
    dir_.reset();
  }
  std::optional<TempWorkDir> dir_;
};

// Pairs that share a known parent, or the sampled parent of the best configuration, keep their
// archive shares (no likelihood is needed for them). Best record (weight 1): {1,2,3} full sibs
// of candidate father 1 (assigned), 4 a paternal half sib; record 2 (weight 1/3): all four
// full sibs. The pairs with 4 share the assigned father too.
TEST_F(SibDyadStep, SharedParentsKeepTheShares) {
  archive_walk_sample({.n = 4, .ncand1 = 1});
  set_archive({{0.0, {1, 1, 1, 1}, {1, 1, 1, 2}, {}, {1, 1, 1, 1}},
               {std::log(1.0 / 3.0), {1, 1, 1, 1}, {1, 1, 1, 1}, {}, {1, 1, 1, 1}}});
  run_step();
  // Full sibs 1: 1 + 1/3 = 4/3 of W = 4/3; with 4: 1/3 of 4/3 = 0.25; half sibs 0.75.
  EXPECT_EQ(file_text("t.FullSibDyad"),
            "OffspringID1,OffspringID2,Probability\n"
            "O1,O2, 1.000\nO1,O3, 1.000\nO1,O4, 0.250\nO2,O3, 1.000\nO2,O4, 0.250\n"
            "O3,O4, 0.250\n");
  EXPECT_EQ(file_text("t.HalfSibDyad"),
            "OffspringID1,OffspringID2,Probability\n"
            "O1,O4, 0.750\nO2,O4, 0.750\nO3,O4, 0.750\n");
  expect_files_agree();

  // The same with a known mother shared instead of the assigned father.
  set_archive(
      {{0.0, {1, 1, 1, 1}, {1, 1, 1, 2}}, {std::log(1.0 / 3.0), {1, 1, 1, 1}, {1, 1, 1, 1}}});
  variables.numcandidate(2) = 1;
  for (int4 i = 1; i <= 4; ++i) known_parent(i, 2, 1);
  run_step();
  EXPECT_EQ(lines_of(file_text("t.FullSibDyad")).size(), 7u);
  EXPECT_EQ(lines_of(file_text("t.FullSibDyad"))[3], "O1,O4, 0.250");
  EXPECT_EQ(lines_of(file_text("t.HalfSibDyad"))[1], "O1,O4, 0.750");
}

// Shares between 0.001 and 0.1 inclusive keep their value: 1000 records of equal weight, the
// pair (1, 2) full sibs in 100 of them and half sibs in 1 (0.1 and 0.001: listed), the pair
// (1, 3) full sibs in 1 (listed at exactly 0.001); the pair (2, 3) in none.
TEST_F(SibDyadStep, SmallSharesAreListedUnchanged) {
  archive_walk_sample({.n = 3});
  std::vector<ArchiveRecord> recs;
  for (int r = 0; r < 1000; ++r) {
    if (r < 100) {
      recs.push_back({-5.0, {1, 1, 2}, {1, 1, 2}});
    } else if (r == 100) {
      recs.push_back({-5.0, {1, 1, 2}, {1, 2, 3}});
    } else if (r == 101) {
      recs.push_back({-5.0, {1, 2, 1}, {1, 2, 1}});
    } else {
      recs.push_back({-5.0, {1, 2, 3}, {1, 2, 3}});
    }
  }
  set_archive(recs);
  run_step();
  EXPECT_EQ(file_text("t.FullSibDyad"),
            "OffspringID1,OffspringID2,Probability\nO1,O2, 0.100\nO1,O3, 0.001\n");
  EXPECT_EQ(file_text("t.HalfSibDyad"), "OffspringID1,OffspringID2,Probability\nO1,O2, 0.001\n");
  const auto r = records_of<FsRecord>("t.FSDyadUF");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].p, 100.0 / 1000.0);
  EXPECT_EQ(r[1].p, 1.0 / 1000.0);
  expect_files_agree();
}

// The 0.001 test of each line: exactly 0.001 is listed, the next double below is not; the
// formats as gfortran writes them.
TEST_F(SibDyadStep, LineThresholdAndFormats) {
  archive_walk_sample({.n = 3});
  make_haploid(3);
  struct Row {
    real8 p;
    const char* text;  // nullptr: not listed
  };
  const std::vector<Row> rows = {
      {0.5, " 0.500"},     {0.001, " 0.001"},  {std::nextafter(0.001, 0.0), nullptr},
      {0.0015, " 0.002"},  {1.0, " 1.000"},    {0.9995, " 1.000"},
      {0.12345, " 0.123"}, {0.0625, " 0.062"}, {0.99949, " 0.999"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.p);
    kinrad::SibDyadFiles out;
    sib_dyad_open(out);
    FArray<real8, 2> frac{Dim(3), Dim(3)};
    frac(2, 1) = row.p;
    frac(2, 2) = row.p;
    frac(2, 3) = 0.25;
    SibFactors f;  // all 1
    sib_dyad_lines(out, 1, 2, frac, f);
    sib_dyad_commit(out);
    const std::string head = "OffspringID1,OffspringID2,Probability\n";
    const std::string hhead = "OffspringID1,OffspringID2,Paternal/Maternal,Probability\n";
    if (row.text == nullptr) {
      EXPECT_EQ(file_text("t.FullSibDyad"), head);
      EXPECT_EQ(file_text("t.HalfSibDyad"), hhead + "O1,O2,MaternalSib, 0.250\n");
      EXPECT_EQ(file_text("t.FSDyadUF"), "");
    } else {
      EXPECT_EQ(file_text("t.FullSibDyad"), head + "O1,O2," + row.text + "\n");
      EXPECT_EQ(file_text("t.HalfSibDyad"),
                hhead + "O1,O2,PaternalSib," + row.text + "\nO1,O2,MaternalSib, 0.250\n");
      // i = 1, j = 2, P: 16 bytes between two lengths of 16.
      std::string want(24, '\0');
      want[0] = want[20] = 16;
      want[4] = 1;
      want[8] = 2;
      std::memcpy(want.data() + 12, &row.p, 8);
      EXPECT_EQ(file_text("t.FSDyadUF"), want);
    }
    const auto hs = records_of<HsRecord>("t.HSDyadUF");
    ASSERT_EQ(hs.size(), row.text == nullptr ? 1u : 2u);
    EXPECT_EQ(hs.back().code, 2);
    EXPECT_EQ(hs.back().p, 0.25);
  }
}

// Double monogamy: only the full-sib files. n of 0 or 1: first lines and empty unformatted files.
TEST_F(SibDyadStep, DoubleMonogamyAndTinySamples) {
  archive_walk_sample({.n = 2, .mono1 = 1, .mono2 = 1});
  set_archive({{0.0, {1, 2}, {1, 2}}});
  run_step();
  EXPECT_EQ(file_text("t.FullSibDyad"), "OffspringID1,OffspringID2,Probability\n");
  EXPECT_TRUE(file_exists("t.FSDyadUF"));
  EXPECT_FALSE(file_exists("t.HalfSibDyad"));
  EXPECT_FALSE(file_exists("t.HSDyadUF"));
  for (const int4 n : {0, 1}) {
    SCOPED_TRACE(n);
    archive_walk_sample({.n = n});
    if (n == 1) set_archive({{0.0, {1}, {1}}});
    run_step();
    EXPECT_EQ(file_text("t.FullSibDyad"), "OffspringID1,OffspringID2,Probability\n");
    EXPECT_EQ(file_text("t.HalfSibDyad"), "OffspringID1,OffspringID2,Probability\n");
    EXPECT_EQ(file_text("t.FSDyadUF"), "");
    EXPECT_EQ(file_text("t.HSDyadUF"), "");
  }
}

// The screen: the announcement, one spinner mark per 150 pair visits, and the closing carriage
// return once 50 pairs were visited (n = 11: 55 visits, no mark; n = 10: 45, no closing).
// Another process writes no file; the files are the same with the screen on or off.
TEST_F(SibDyadStep, ScreenAndProcesses) {
  for (const int4 n : {10, 11}) {
    SCOPED_TRACE(n);
    archive_walk_sample({.n = n});
    std::vector<int4> fam(static_cast<std::size_t>(n), 1);
    set_archive({{0.0, fam, fam, {}, {}, {}}});
    run_step();
    const std::string quiet = file_text("t.FullSibDyad");
    variables.displayq = 1;
    ::testing::internal::CaptureStdout();
    run_step();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              std::string("Computing sib dyad probabilities...\n") + (n == 11 ? "\r \n" : ""));
    EXPECT_EQ(file_text("t.FullSibDyad"), quiet);
  }
  std::filesystem::remove("t.FullSibDyad");
  variables.displayq = 0;
  variables.threadid = 1;
  run_step();
  EXPECT_FALSE(file_exists("t.FullSibDyad"));
}

// ---- Brute force with likelihoods ----------------------------------------------------------

double gamma_prior(int n) {
  const double c = std::lgamma(2.25) + std::lgamma(1.5) - std::lgamma(1.25) - std::lgamma(0.25);
  return (c + std::lgamma(n + 0.25) - std::lgamma(n + 2.5)) * n * 0.125;
}

// Four offspring at three loci of three alleles, error-free or with typing errors.
Cluster four_offspring(bool errors) {
  Cluster c;
  const double d = errors ? 0.02 : 0.0, e = errors ? 0.01 : 0.0;
  c.loci.assign(3, oracle::Locus{false, 3, {0.5, 0.3, 0.2}, d, e});
  c.fathers = {Parent{}};
  c.mothers = {Parent{}};
  c.families = {Family{1, 1, {1, 2, 3, 4}}};
  c.offspring = {{{1, 1}, {1, 2}, {1, 1}},
                 {{1, 3}, {2, 2}, {1, 2}},
                 {{1, 2}, {1, 3}, {2, 2}},
                 {{2, 3}, {2, 3}, {1, 2}}};
  c.offploid = {2, 2, 2, 2};
  return c;
}

double described(const Cluster& base, int nfathers, int nmothers, std::vector<Family> families) {
  Cluster c = base;
  c.fathers.assign(static_cast<std::size_t>(nfathers), Parent{});
  c.mothers.assign(static_cast<std::size_t>(nmothers), Parent{});
  c.families = std::move(families);
  int s = 0;
  for (const Family& f : c.families) s += static_cast<int>(f.members.size());
  return oracle::total_logl(c) + gamma_prior(s);
}

// Error-free loci take the engine's exact paths (1e-9 on the factors); with typing errors the
// engine's single-precision exponents allow more (1e-7).
class SibDyadBruteForce : public ::testing::TestWithParam<bool> {};

TEST_P(SibDyadBruteForce, TwoSexesFourOffspring) {
  TempWorkDir dir("sibdyadbrute");
  const Cluster base = four_offspring(GetParam());
  const double tol = GetParam() ? 1e-7 : 1e-9;
  const oracle::Built b = oracle::build(base);
  ASSERT_TRUE(b.ok) << b.error;
  oracle::exact_mode();
  auto& v = variables;
  v.priortype = 0;
  v.displayq = 0;
  v.fname = "t";
  const int4 n = 4;
  if (!v.offtgt.allocated()) v.offtgt.allocate(Dim(n), Dim(3));
  if (!v.prnttgt.allocated()) v.prnttgt.allocate(Dim(n), Dim(2));
  if (!v.indivparent.allocated()) v.indivparent.allocate(Dim(n), Dim(2));
  for (int4 i = 1; i <= n; ++i) v.indivparent(i, 1) = v.indivparent(i, 2) = -1;

  // Every pair of a paternal and a maternal partition, with scores from a fixed stream.
  std::mt19937 rng(11);
  std::uniform_real_distribution<real8> u(-12.0, -8.0);
  std::vector<ArchiveRecord> all;
  for (const auto& p1 : all_partitions(n))
    for (const auto& p2 : all_partitions(n)) all.push_back({u(rng), p1, p2});
  ASSERT_EQ(all.size(), 225u);
  all = by_descending_score(all);
  set_archive(all);

  // Independent tally: full sibs share both families, paternal half sibs the father's only,
  // maternal half sibs the mother's only (diploid: both half-sib kinds in column 2).
  real8 W = 0.0;
  real8 tally[5][5][3] = {};
  for (const auto& r : all) {
    const real8 w = std::exp(r.logl - all.front().logl);
    W += w;
    for (int i = 0; i < n; ++i)
      for (int j = i + 1; j < n; ++j) {
        const bool f = r.fam1[i] == r.fam1[j], m = r.fam2[i] == r.fam2[j];
        if (f && m) tally[i + 1][j + 1][1] += w;
        if (f != m) tally[i + 1][j + 1][2] += w;
      }
  }
  std::vector<real8> weights;
  for (const auto& r : all) weights.push_back(std::exp(r.logl - all.front().logl));
  for (int4 i = 1; i <= n; ++i) {
    const auto got = fractions(i, weights);
    for (int4 j = i + 1; j <= n; ++j)
      for (int k = 1; k <= 2; ++k)
        EXPECT_NEAR(got[static_cast<std::size_t>(j)][static_cast<std::size_t>(k)],
                    tally[i][j][k] / W, 1e-12);
  }

  // Factors: unrelated, full sibs and the shared-mother arrangement (the first not excluded).
  setfamilystruc(n, 2);
  SingleLogl single;
  single.value.allocate(Dim(n));
  single.value.fill(1.0);
  real8 fexp[5][5][2] = {};
  for (int i = 1; i <= n; ++i)
    for (int j = i + 1; j <= n; ++j) {
      SCOPED_TRACE(std::to_string(i) + " " + std::to_string(j));
      const double h1 =
          described(base, 1, 1, {Family{1, 1, {i}}}) + described(base, 1, 1, {Family{1, 1, {j}}});
      const double h2 = described(base, 1, 1, {Family{1, 1, {i, j}}});
      const double h3 = described(base, 2, 1, {Family{1, 1, {i}}, Family{2, 1, {j}}});
      const double top = std::max({h1, h2, h3});
      const double s = std::exp(h1 - top) + std::exp(h2 - top) + std::exp(h3 - top);
      const SibFactors f = sib_dyad_factors(i, j, single);
      EXPECT_EQ(f.scored, 3);
      EXPECT_EQ(f.third, 1);
      EXPECT_NEAR(f.unrelated, std::exp(h1 - top) / s, tol);
      EXPECT_NEAR(f.fullsib, std::exp(h2 - top) / s, tol);
      EXPECT_NEAR(f.mother, std::exp(h3 - top) / s, tol);
      EXPECT_EQ(f.father, 1.0);
      fexp[i][j][0] = std::exp(h2 - top) / s;
      fexp[i][j][1] = std::exp(h3 - top) / s;
    }

  // The printed lines: P = A F where the largest share is above 0.1, A alone otherwise.
  run_step();
  std::string fs = "OffspringID1,OffspringID2,Probability\n", hs = fs;
  for (int i = 1; i <= n; ++i)
    for (int j = i + 1; j <= n; ++j) {
      const real8 a1 = tally[i][j][1] / W, a2 = tally[i][j][2] / W;
      const bool factors = std::max(a1, a2) > 0.1;
      const real8 p1 = a1 * (factors ? fexp[i][j][0] : 1.0);
      const real8 p2 = a2 * (factors ? fexp[i][j][1] : 1.0);
      char buf[64];
      if (p1 >= 0.001) {
        std::snprintf(buf, sizeof buf, "O%d,O%d,%6.3f\n", i, j, p1);
        fs += buf;
      }
      if (p2 >= 0.001) {
        std::snprintf(buf, sizeof buf, "O%d,O%d,%6.3f\n", i, j, p2);
        hs += buf;
      }
    }
  EXPECT_EQ(file_text("t.FullSibDyad"), fs);
  EXPECT_EQ(file_text("t.HalfSibDyad"), hs);
  expect_files_agree();
  reset_all_modules();
}

INSTANTIATE_TEST_SUITE_P(ErrorFreeAndWithErrors, SibDyadBruteForce, ::testing::Bool());

// Any parents: ln L of the described families plus the prior term of their offspring.
double described_with(const Cluster& base, std::vector<Parent> fathers, std::vector<Parent> mothers,
                      std::vector<Family> families) {
  Cluster c = base;
  c.fathers = std::move(fathers);
  c.mothers = std::move(mothers);
  c.families = std::move(families);
  int s = 0;
  for (const Family& f : c.families) s += static_cast<int>(f.members.size());
  return oracle::total_logl(c) + gamma_prior(s);
}

// Prepares the oracle's cluster for the step: archive arrays and exact engine settings.
bool prepare_step(const Cluster& c) {
  const oracle::Built b = oracle::build(c);
  EXPECT_TRUE(b.ok) << b.error;
  if (!b.ok) return false;
  oracle::exact_mode();
  auto& v = variables;
  v.priortype = 0;
  v.displayq = 0;
  v.fname = "t";
  const int4 n = v.smplsize;
  if (!v.offtgt.allocated()) v.offtgt.allocate(Dim(n), Dim(3));
  if (!v.prnttgt.allocated()) v.prnttgt.allocate(Dim(n), Dim(2));
  if (!v.indivparent.allocated()) {
    v.indivparent.allocate(Dim(n), Dim(2));
    for (int4 i = 1; i <= n; ++i) v.indivparent(i, 1) = v.indivparent(i, 2) = -1;
  }
  return true;
}

double softmax(const std::vector<double>& h, std::size_t k) {
  const double top = *std::max_element(h.begin(), h.end());
  double s = 0.0;
  for (double x : h) s += std::exp(x - top);
  return std::exp(h[k] - top) / s;
}

// Haplodiploid species, no known parent: both arrangements are scored, and each half-sib line
// carries the factor of its own: the paternal line (column 2) that of the shared father, the
// maternal line (column 3) that of the shared mother. Record 1 (weight 1) holds (1, 2) as
// paternal half sibs, record 2 (weight 1/2) as maternal ones.
TEST(SibDyadFactors, HaplodiploidLinesCarryTheirOwnArrangement) {
  TempWorkDir dir("sibdyadhaplo");
  Cluster base = four_offspring(true);
  base.haplodiploid = true;
  ASSERT_TRUE(prepare_step(base));
  set_archive({{0.0, {1, 1, 2, 3}, {1, 2, 3, 4}}, {std::log(0.5), {1, 2, 3, 4}, {1, 1, 2, 3}}});
  const Parent u{};
  const double h1 = described_with(base, {u}, {u}, {Family{1, 1, {1}}}) +
                    described_with(base, {u}, {u}, {Family{1, 1, {2}}});
  const double h2 = described_with(base, {u}, {u}, {Family{1, 1, {1, 2}}});
  const double hm = described_with(base, {u, u}, {u}, {Family{1, 1, {1}}, Family{2, 1, {2}}});
  const double hf = described_with(base, {u}, {u, u}, {Family{1, 1, {1}}, Family{1, 2, {2}}});
  const std::vector<double> h{h1, h2, hm, hf};
  setfamilystruc(4, 2);
  SingleLogl single;
  single.value.allocate(Dim(4));
  single.value.fill(1.0);
  const SibFactors f = sib_dyad_factors(1, 2, single);
  EXPECT_EQ(f.scored, 4);
  EXPECT_NEAR(f.mother, softmax(h, 2), 1e-7);
  EXPECT_NEAR(f.father, softmax(h, 3), 1e-7);
  run_step();
  const auto lines = lines_of(file_text("t.HalfSibDyad"));
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[1].substr(0, 18), "O1,O2,PaternalSib,");
  EXPECT_NEAR(std::stod(lines[1].substr(18)), 2.0 / 3.0 * softmax(h, 3), 0.0005);
  EXPECT_EQ(lines[2].substr(0, 18), "O1,O2,MaternalSib,");
  EXPECT_NEAR(std::stod(lines[2].substr(18)), 1.0 / 3.0 * softmax(h, 2), 0.0005);
  expect_files_agree();
  reset_all_modules();
}

// Known parents in the factors: offspring 1 and 2 have different known mothers, so full sibs
// are impossible and the shared-mother arrangement is excluded; the shared father is scored
// with each offspring's known mother, and the one half-sib line of a diploid species carries
// its factor. Offspring 1, 3 and 4 share a known mother: no factors, the shares alone.
TEST(SibDyadFactors, KnownParentsExcludeArrangements) {
  TempWorkDir dir("sibdyadknown");
  Cluster base = four_offspring(true);
  Parent m1, m2;
  m1.candidate = 1;
  m1.known = true;
  m1.genotype = {{1, 3}, {1, 2}, {1, 2}};
  m2.candidate = 2;
  m2.known = true;
  m2.genotype = {{1, 2}, {2, 3}, {1, 2}};
  base.mothers = {m1, m2};
  base.families = {Family{1, 1, {1, 3, 4}}, Family{1, 2, {2}}};
  ASSERT_TRUE(prepare_step(base));
  auto& v = variables;
  ASSERT_EQ(v.indivparent(1, 2), 1);
  ASSERT_EQ(v.indivparent(2, 2), 2);
  set_archive({{0.0, {1, 1, 2, 2}, {1, 2, 1, 1}}});
  const Parent u{};
  const double h1 = described_with(base, {u}, {m1}, {Family{1, 1, {1}}}) +
                    described_with(base, {u}, {m2}, {Family{1, 1, {2}}});
  const double hf = described_with(base, {u}, {m1, m2}, {Family{1, 1, {1}}, Family{1, 2, {2}}});
  setfamilystruc(4, 2);
  SingleLogl single;
  single.value.allocate(Dim(4));
  single.value.fill(1.0);
  const SibFactors f = sib_dyad_factors(1, 2, single);
  EXPECT_EQ(f.scored, 3);
  EXPECT_EQ(f.third, 2);
  EXPECT_EQ(f.fullsib, 0.0);
  EXPECT_EQ(f.mother, 1.0);
  EXPECT_NEAR(f.father, softmax({h1, hf}, 1), 1e-7);
  EXPECT_NEAR(f.unrelated, softmax({h1, hf}, 0), 1e-7);
  run_step();
  const auto hs = lines_of(file_text("t.HalfSibDyad"));
  ASSERT_EQ(hs.size(), 4u);
  EXPECT_EQ(hs[1].substr(0, 6), "O1,O2,");
  EXPECT_NEAR(std::stod(hs[1].substr(6)), softmax({h1, hf}, 1), 0.0005);
  EXPECT_EQ(hs[2], "O1,O3, 1.000");
  EXPECT_EQ(hs[3], "O1,O4, 1.000");
  EXPECT_EQ(file_text("t.FullSibDyad"), "OffspringID1,OffspringID2,Probability\nO3,O4, 1.000\n");
  reset_all_modules();
}

// A father known from the input for offspring 1 and assigned by the best configuration to
// offspring 2 is one sampled parent: the pair are paternal half sibs through him in the best
// record (weight 1) and unrelated in the second (weight 1/3), so the line carries the share
// 1 / (4/3) = 0.75 alone, as for two known or two assigned fathers. A factor would weigh the
// pair by trial families that leave that father out.
TEST(SibDyadFactors, KnownAndAssignedFatherIsOneSharedParent) {
  TempWorkDir dir("sibdyadknownassigned");
  Cluster base = four_offspring(true);
  Parent f1;
  f1.candidate = 1;
  f1.known = true;
  f1.genotype = {{1, 2}, {2, 3}, {1, 2}};
  base.fathers = {f1, Parent{}};
  base.mothers = {Parent{}, Parent{}};
  base.families = {Family{1, 1, {1}}, Family{2, 2, {2, 3, 4}}};
  ASSERT_TRUE(prepare_step(base));
  auto& v = variables;
  ASSERT_EQ(v.indivparent(1, 1), 1);
  ASSERT_LE(v.indivparent(2, 1), 0);
  set_archive({{0.0, {1, 1, 2, 3}, {1, 2, 3, 4}, {}, {0, 1, 0, 0}},
               {std::log(1.0 / 3.0), {1, 2, 3, 4}, {1, 2, 3, 4}}});
  ASSERT_EQ(v.btinferparent(2, 1), 1);
  run_step();
  EXPECT_EQ(file_text("t.HalfSibDyad"), "OffspringID1,OffspringID2,Probability\nO1,O2, 0.750\n");
  EXPECT_EQ(file_text("t.FullSibDyad"), "OffspringID1,OffspringID2,Probability\n");
  const auto hs = records_of<HsRecord>("t.HSDyadUF");
  ASSERT_EQ(hs.size(), 1u);
  EXPECT_EQ(hs[0].p, 1.0 / (4.0 / 3.0));
  expect_files_agree();
  reset_all_modules();
}

// Half sibs that the archive holds through the father alone (record 1, weight 1: offspring 1
// and 2 share the unsampled father; record 2, weight 1/2: unrelated) are weighed by the
// shared-father arrangement: P = 2/3 x its softmax share among unrelated, full sibs and shared
// father, each from the brute-force oracle. Through the mother alone, or on both sides, the
// shared mother is scored as before.
TEST(SibDyadFactors, OneSidedHalfSibsScoreTheirOwnSide) {
  TempWorkDir dir("sibdyadside");
  const Cluster base = four_offspring(true);
  ASSERT_TRUE(prepare_step(base));
  const Parent u{};
  const double h1 = described_with(base, {u}, {u}, {Family{1, 1, {1}}}) +
                    described_with(base, {u}, {u}, {Family{1, 1, {2}}});
  const double h2 = described_with(base, {u}, {u}, {Family{1, 1, {1, 2}}});
  const double hm = described_with(base, {u, u}, {u}, {Family{1, 1, {1}}, Family{2, 1, {2}}});
  const double hf = described_with(base, {u}, {u, u}, {Family{1, 1, {1}}, Family{1, 2, {2}}});
  setfamilystruc(4, 2);
  SingleLogl single;
  single.value.allocate(Dim(4));
  single.value.fill(1.0);
  struct Row {
    int4 side;
    int4 third;
    double factor;
  };
  for (const Row& r : {Row{1, 2, softmax({h1, h2, hf}, 2)}, Row{2, 1, softmax({h1, h2, hm}, 2)},
                       Row{0, 1, softmax({h1, h2, hm}, 2)}}) {
    SCOPED_TRACE(r.side);
    const SibFactors f = sib_dyad_factors(1, 2, single, r.side);
    EXPECT_EQ(f.scored, 3);
    EXPECT_EQ(f.third, r.third);
    EXPECT_NEAR(r.third == 2 ? f.father : f.mother, r.factor, 1e-7);
    EXPECT_EQ(r.third == 2 ? f.mother : f.father, 1.0);
  }
  set_archive({{0.0, {1, 1, 2, 3}, {1, 2, 3, 4}}, {std::log(0.5), {1, 2, 3, 4}, {1, 2, 3, 4}}});
  run_step();
  const auto hs = lines_of(file_text("t.HalfSibDyad"));
  ASSERT_EQ(hs.size(), 2u);
  EXPECT_EQ(hs[1].substr(0, 6), "O1,O2,");
  EXPECT_NEAR(std::stod(hs[1].substr(6)), 2.0 / 3.0 * softmax({h1, h2, hf}, 2), 0.0005);
  expect_files_agree();
  reset_all_modules();
}

}  // namespace
}  // namespace kinrad
