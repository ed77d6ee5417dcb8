// The summaries of the archive walk: a brute force over every configuration of a small sample
// against a plain tally written here, the edge cases of the three summary files, and the
// edit formats of the archive files against lines written by gfortran
// (data/archive_formats.f90 wrote data/archive_formats.txt).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "archive_walk_fixture.hpp"
#include "core/fixed_string.hpp"
#include "core/format_write.hpp"
#include "results/archive_internal.hpp"
#include "results/results_internal.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using namespace testing_support;
using namespace resultstest;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// Field (r, c) of ".Distribution" (row r = line r after the header), trimmed; "" past the end.
std::string dist_field(const std::string& text, int r, int c) {
  const auto ls = lines_of(text);
  if (r >= static_cast<int>(ls.size())) return "";
  return std::string(trim_both(ls[static_cast<std::size_t>(r)].substr(6 + 21 * (c - 1), 21)));
}

int dist_rows_written(const std::string& text) {
  return static_cast<int>(lines_of(text).size()) - 1;
}

// ---- Brute force -------------------------------------------------------------------------

// The plain tally of one sample without haploid offspring or monogamy: families, offspring
// and mates per parent by counting, in the walk's order, each increment made in double and
// added in single precision.
struct PlainTally {
  std::vector<std::vector<real4>> d;  // [r][c], r 0..rows, c 1..7
  std::vector<std::map<std::pair<int4, int4>, real8>> pairs;
  std::vector<std::vector<std::pair<int4, int4>>> met;  // pairs in the order met
  real8 wsum = 0.0;
};

PlainTally plain_tally(const std::vector<ArchiveRecord>& recs, int4 n) {
  PlainTally t;
  t.d.assign(static_cast<std::size_t>(2 * n + 1), std::vector<real4>(8, 0.0f));
  t.pairs.resize(static_cast<std::size_t>(n));
  t.met.resize(static_cast<std::size_t>(n));
  const real8 best = recs.front().logl;
  for (const auto& r : recs) {
    const real8 w = std::exp(r.logl - best);
    t.wsum += w;
    auto add = [&](std::size_t row, int col, real8 x) { t.d[row][col] += static_cast<real4>(x); };
    const int4 m1 = *std::max_element(r.fam1.begin(), r.fam1.end());
    const int4 m2 = *std::max_element(r.fam2.begin(), r.fam2.end());
    add(static_cast<std::size_t>(m1), 1, w);
    add(static_cast<std::size_t>(m2), 2, w);
    std::set<std::pair<int4, int4>> fs;
    std::map<int4, int4> kids1, kids2;
    std::map<int4, std::set<int4>> mates1, mates2;
    for (int4 i = 0; i < n; ++i) {
      const auto k = static_cast<std::size_t>(i);
      fs.insert({r.fam1[k], r.fam2[k]});
      ++kids1[r.fam1[k]];
      ++kids2[r.fam2[k]];
      mates1[r.fam1[k]].insert(r.fam2[k]);
      mates2[r.fam2[k]].insert(r.fam1[k]);
    }
    add(fs.size(), 3, w);
    auto per_parent = [&](const std::map<int4, int4>& kids, int col) {
      std::map<int4, int4> h;
      for (const auto& [id, c] : kids) ++h[c];
      const auto total = static_cast<int4>(kids.size());
      for (const auto& [size, c] : h) add(static_cast<std::size_t>(size), col, c * (w / total));
    };
    per_parent(kids1, 4);
    per_parent(kids2, 5);
    auto mates = [&](const std::map<int4, std::set<int4>>& m, int col) {
      std::map<int4, int4> h;
      for (const auto& [id, s] : m) ++h[static_cast<int4>(s.size())];
      const auto total = static_cast<int4>(m.size());
      for (const auto& [size, c] : h) add(static_cast<std::size_t>(size), col, c * (w / total));
    };
    mates(mates1, 6);
    mates(mates2, 7);
    for (int4 i = 0; i < n; ++i) {
      const auto k = static_cast<std::size_t>(i);
      const std::pair<int4, int4> p{r.dad[k], r.mum[k]};
      if (!t.pairs[k].count(p)) t.met[k].push_back(p);
      t.pairs[k][p] += w;
    }
  }
  return t;
}

// Every configuration of four offspring (15 x 15), scored so that the best has three fathers
// (its offspring-per-father shares are 1/3) and the weights spread over several orders;
// families 1 and 2 have candidates D1/D2 and M1/M2 in part of the configurations, and the
// least likely one alone gives its first father the candidate D3 (a pair below 0.01).
std::vector<ArchiveRecord> brute_force_archive() {
  archive_walk_sample({.n = 4, .numsex = 2, .ncand1 = 3, .ncand2 = 2});
  int4 idx = 0;
  auto score = [&idx]() {
    const auto& v = variables;
    int4 k1 = 0, k2 = 0;
    for (int4 i = 1; i <= 4; ++i) {
      k1 = std::max(k1, v.crindivloc(i, 1));
      k2 = std::max(k2, v.crindivloc(i, 2));
    }
    const real8 s = -std::abs(k1 - 3) - 0.3 * std::abs(k2 - 2) - 0.001 * idx;
    ++idx;
    return s;
  };
  auto recs = enumerate_configurations(score);
  for (std::size_t r = 0; r < recs.size(); ++r)
    for (std::size_t i = 0; i < 4; ++i) {
      recs[r].dad[i] = (recs[r].fam1[i] <= 2 && r % 3 != 0) ? recs[r].fam1[i] : 0;
      recs[r].mum[i] = (recs[r].fam2[i] <= 2 && r % 2 == 0) ? recs[r].fam2[i] : 0;
    }
  recs = by_descending_score(std::move(recs));
  auto& last = recs.back();
  for (std::size_t i = 0; i < 4; ++i)
    if (last.fam1[i] == last.fam1[0]) last.dad[i] = 3;
  set_archive(recs);
  return recs;
}

TEST(ArchiveTallies, BruteForceDistributionBitForBit) {
  const auto recs = brute_force_archive();
  ASSERT_EQ(recs.size(), 225u);
  const PlainTally plain = plain_tally(recs, 4);
  // The best configuration has three fathers: its shares in column 4 are 1/3.
  EXPECT_EQ(*std::max_element(recs.front().fam1.begin(), recs.front().fam1.end()), 3);

  auto& v = variables;
  v.indivorder = v.number1tgt.view();
  v.inferparentprt = v.prnttgt.view();
  ArchiveTallies t;
  archive_tallies_setup(t);
  for (Config* c = v.confighead; c != nullptr; c = c->next) {
    real8 logl = 0.0;
    decode_archived(c, logl);
    mergeparentage();
    archive_tally(t, std::exp(logl - v.btloglikelihood));
  }
  for (int4 r = 1; r <= 4; ++r)
    for (int4 c = 1; c <= 7; ++c) {
      SCOPED_TRACE(testing::Message() << "row " << r << " column " << c);
      EXPECT_EQ(t.dist(r, c), plain.d[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)]);
    }
}

TEST(ArchiveTallies, BruteForceParentPairs) {
  TempWorkDir dir("archive_brute");
  const auto recs = brute_force_archive();
  const PlainTally plain = plain_tally(recs, 4);
  archiveconfigwrite();
  // Expected lines: per offspring its pairs by descending probability down to 0.01.
  std::vector<std::string> expected{"OffspringID,InferredDad,InferredMum,Probability"};
  int4 below = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    std::vector<std::pair<real8, std::pair<int4, int4>>> ps;
    for (const auto& p : plain.met[i]) ps.push_back({plain.pairs[i].at(p) / plain.wsum, p});
    std::stable_sort(ps.begin(), ps.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [prob, p] : ps) {
      if (prob < 0.01) {
        ++below;
        break;
      }
      const std::string dad = p.first > 0 ? "D" + std::to_string(p.first) : "*";
      const std::string mum = p.second > 0 ? "M" + std::to_string(p.second) : "#";
      expected.push_back(fwrite_string(
          "(A, F7.4)", "O" + std::to_string(i + 1) + "," + dad + "," + mum + ",", prob));
    }
  }
  EXPECT_GT(below, 0);  // the 0.01 stop is exercised
  EXPECT_EQ(lines_of(file_text("t.ParentPair")), expected);
}

// ---- Edge cases --------------------------------------------------------------------------

struct EdgeCase {
  const char* name;
  std::function<void()> set_up;
  std::function<void()> check;
};

TEST(ArchiveTallies, EdgeCases) {
  const std::vector<EdgeCase> cases = {
      {"one record: every pair and rows m1, m2, F at 1",
       [] {
         archive_walk_sample({.n = 3, .numsex = 2, .ncand1 = 1, .ncand2 = 1});
         set_archive({{-3.0, {1, 1, 2}, {1, 2, 2}, {}, {1, 1, 0}, {0, 1, 1}}});
       },
       [] {
         EXPECT_EQ(file_text("t.ParentPair"),
                   "OffspringID,InferredDad,InferredMum,Probability\n"
                   "O1,D1,#, 1.0000\nO2,D1,M1, 1.0000\nO3,*,M1, 1.0000\n");
         const std::string d = file_text("t.Distribution");
         EXPECT_EQ(dist_field(d, 2, 1), "1.0000");  // m1 = 2
         EXPECT_EQ(dist_field(d, 2, 2), "1.0000");  // m2 = 2
         EXPECT_EQ(dist_field(d, 3, 3), "1.0000");  // F = 3
         EXPECT_EQ(dist_rows_written(d), 3);
       }},
      {"pairs below 0.01 give no line, a haploid none at all",
       [] {
         archive_walk_sample({.n = 2, .numsex = 2, .ncand1 = 1, .ncand2 = 1});
         make_haploid(2);
         // Weights 1 and e^-5: 0.9933 and 0.0067.
         set_archive(
             {{0.0, {1, 2}, {1, 1}, {}, {1, 0}, {1, 1}}, {-5.0, {1, 2}, {1, 2}, {}, {}, {}}});
       },
       [] {
         EXPECT_EQ(file_text("t.ParentPair"),
                   "OffspringID,InferredDad,InferredMum,Probability\nO1,D1,M1, 0.9933\n");
       }},
      {"unsampled parents add into one pair",
       [] {
         archive_walk_sample({.n = 2, .numsex = 2, .ncand1 = 1, .ncand2 = 1});
         set_archive({{-1.0, {1, 2}, {1, 2}, {}, {}, {}}, {-1.0, {2, 1}, {2, 1}, {}, {}, {}}});
       },
       [] {
         EXPECT_EQ(file_text("t.ParentPair"),
                   "OffspringID,InferredDad,InferredMum,Probability\n"
                   "O1,*,#, 1.0000\nO2,*,#, 1.0000\n");
       }},
      {"double monogamy: one mate each, equal family counts",
       [] {
         archive_walk_sample({.n = 3, .numsex = 2, .mono1 = 1, .mono2 = 1});
         set_archive(
             {{-1.0, {1, 1, 2}, {1, 1, 2}, {}, {}, {}}, {-2.0, {1, 2, 3}, {1, 2, 3}, {}, {}, {}}});
       },
       [] {
         const std::string d = file_text("t.Distribution");
         EXPECT_EQ(dist_field(d, 1, 6), "1.0000");
         EXPECT_EQ(dist_field(d, 1, 7), "1.0000");
         for (int r = 1; r <= dist_rows_written(d); ++r) {
           SCOPED_TRACE(r);
           EXPECT_EQ(dist_field(d, r, 1), dist_field(d, r, 2));
           if (r > 1) {
             EXPECT_EQ(dist_field(d, r, 6), "0.0000");
           }
         }
         EXPECT_NE(dist_field(d, 3, 1), "0.0000");  // the second record's three families
       }},
      {"one sex: offspring per parent the same in both columns",
       [] {
         archive_walk_sample({.n = 4, .numsex = 1});
         set_archive({{-1.0, {1, 1, 2, 3}, {4, 4, 5, 3}, {}, {}, {}},
                      {-1.5, {1, 1, 1, 2}, {2, 3, 3, 4}, {}, {}, {}}});
       },
       [] {
         const std::string d = file_text("t.Distribution");
         ASSERT_GE(dist_rows_written(d), 2);
         for (int r = 1; r <= dist_rows_written(d); ++r) {
           SCOPED_TRACE(r);
           EXPECT_EQ(dist_field(d, r, 4), dist_field(d, r, 5));
         }
       }},
      {"haploid offspring only: no paternal families, F = m2",
       [] {
         archive_walk_sample({.n = 2, .numsex = 2});
         make_haploid(1);
         make_haploid(2);
         set_archive({{-1.0, {1, 2}, {1, 1}, {}, {}, {}}});
       },
       [] {
         // Mother 1 with both offspring; the two placeholder fathers each have her as mate.
         const std::string d = file_text("t.Distribution");
         EXPECT_EQ(dist_rows_written(d), 2);
         for (int r = 1; r <= 2; ++r) {
           EXPECT_EQ(dist_field(d, r, 1), "0.0000");
           EXPECT_EQ(dist_field(d, r, 4), "0.0000");
         }
         EXPECT_EQ(dist_field(d, 1, 2), "1.0000");
         EXPECT_EQ(dist_field(d, 1, 3), "1.0000");
         EXPECT_EQ(dist_field(d, 2, 5), "1.0000");
         EXPECT_EQ(dist_field(d, 1, 6), "1.0000");
         EXPECT_EQ(dist_field(d, 2, 7), "1.0000");
       }},
      {"inner rows of zeros are written, trailing ones are not",
       [] {
         archive_walk_sample({.n = 5, .numsex = 2});
         set_archive({{-1.0, {1, 1, 1, 1, 2}, {1, 1, 1, 1, 2}, {}, {}, {}}});
       },
       [] {
         const std::string d = file_text("t.Distribution");
         EXPECT_EQ(dist_rows_written(d), 4);  // a father of four; rows 3 holds nothing
         for (int c = 1; c <= 7; ++c) EXPECT_EQ(dist_field(d, 3, c), "0.0000");
         EXPECT_EQ(dist_field(d, 4, 4), "0.5000");
       }},
      {"an empty archive: headers only, selfers at 0.000",
       [] {
         archive_walk_sample({.n = 2, .numsex = 1, .ncand1 = 1, .ncand2 = 1});
         variables.allowinbreeding = 1;
         archiveconfigremoveall();
       },
       [] {
         EXPECT_EQ(file_text("t.ConfigArchive"),
                   "Archived Configurations with corresponding log likelihood\n");
         EXPECT_EQ(file_text("t.ParentPair"), "OffspringID,InferredDad,InferredMum,Probability\n");
         EXPECT_EQ(dist_rows_written(file_text("t.Distribution")), 0);
         EXPECT_EQ(file_text("t.Selfer"), "OffspringID,Probability\nO1, 0.000\nO2, 0.000\n");
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempWorkDir dir("archive_edge");
    c.set_up();
    archiveconfigwrite();
    c.check();
  }
}

// ---- Cases where the design's literal text loses data ------------------------------------

TEST(ArchiveTallies, AFullPairListKeepsCountingItsPairs) {
  TempWorkDir dir("archive_eleven");
  archive_walk_sample({.n = 1, .numsex = 2, .ncand1 = 3, .ncand2 = 3});
  // Eleven distinct pairs of equal weight, then the first pair again: W = 12.
  const std::vector<std::pair<int4, int4>> ps = {{1, 1}, {1, 2}, {1, 3}, {2, 1}, {2, 2}, {2, 3},
                                                 {3, 1}, {3, 2}, {3, 3}, {0, 1}, {0, 2}, {1, 1}};
  std::vector<ArchiveRecord> recs;
  for (const auto& [a, b] : ps) recs.push_back({-1.0, {1}, {1}, {}, {a}, {b}});
  set_archive(recs);
  archiveconfigwrite();
  const auto ls = lines_of(file_text("t.ParentPair"));
  ASSERT_EQ(ls.size(), 11u);             // header + the ten listed pairs
  EXPECT_EQ(ls[1], "O1,D1,M1, 0.1667");  // 2/12: the last record still counts
  for (std::size_t k = 2; k < ls.size(); ++k) {
    EXPECT_EQ(ls[k].substr(ls[k].size() - 7), " 0.0833");
    EXPECT_NE(ls[k], "O1,*,M2, 0.0833");  // the eleventh pair is not listed
  }
}

TEST(ArchiveTallies, OneSexRowsAboveTheSampleSizeAreWritten) {
  TempWorkDir dir("archive_rows");
  archive_walk_sample({.n = 2, .numsex = 1});
  // Two unrelated offspring of parents 1, 2 and 3, 4: m1 = 3 and m2 = 4 exceed n = 2.
  set_archive({{-1.0, {1, 3}, {2, 4}, {}, {}, {}}});
  archiveconfigwrite();
  const std::string d = file_text("t.Distribution");
  EXPECT_EQ(dist_rows_written(d), 4);
  EXPECT_EQ(dist_field(d, 3, 1), "1.0000");
  EXPECT_EQ(dist_field(d, 4, 2), "1.0000");
}

TEST(ArchiveTallies, OnePoolMatesCountEachRoleAParentActsIn) {
  TempWorkDir dir("archive_pool_mates");
  archive_walk_sample({.n = 3, .numsex = 1});
  // Parent 1 acts in both roles (twice first, once second), parent 2 in both, parent 3 only
  // second: first-role parents have 2 and 1 partners, second-role parents one each. No
  // count of 0 is tallied (a subscript 0 would stop a checked build).
  set_archive({{-1.0, {1, 1, 2}, {2, 3, 1}, {}, {}, {}}});
  archiveconfigwrite();
  const std::string d = file_text("t.Distribution");
  EXPECT_EQ(dist_field(d, 1, 6), "0.5000");
  EXPECT_EQ(dist_field(d, 2, 6), "0.5000");
  EXPECT_EQ(dist_field(d, 1, 7), "1.0000");
  EXPECT_EQ(dist_field(d, 2, 7), "0.0000");
}

// ---- Edit formats against gfortran -------------------------------------------------------

std::vector<std::string> split_bars(const std::string& line) {
  std::vector<std::string> out;
  std::size_t from = 0;
  for (std::size_t at; (at = line.find('|', from)) != std::string::npos; from = at + 1)
    out.push_back(line.substr(from, at - from));
  return out;
}

TEST(ArchiveTallies, EditFormatsMatchGfortran) {
  std::ifstream in(std::string(KINRAD_TEST_DATA_DIR) + "/archive_formats.txt");
  ASSERT_TRUE(in) << "archive_formats.txt";
  int rows = 0;
  for (std::string line; std::getline(in, line);) {
    SCOPED_TRACE(line);
    const auto f = split_bars(line);
    ASSERT_GE(f.size(), 3u);
    if (f[0] == "ES20.10") {
      EXPECT_EQ(archive_logl_text(std::strtod(f[1].c_str(), nullptr)), f[2]);
    } else if (f[0] == "F7.4") {
      EXPECT_EQ(fwrite_string("(A, F7.4)", "O1,D2,#,", std::strtod(f[1].c_str(), nullptr)), f[2]);
    } else if (f[0] == "F6.3") {
      EXPECT_EQ(fwrite_string("(2A, F6.3)", "O12", ",", std::strtod(f[1].c_str(), nullptr)), f[2]);
    } else if (f[0] == "I6F21.4") {
      ASSERT_EQ(f.size(), 4u);
      const int4 k = std::atoi(f[1].c_str()) * 111;
      const real4 x = std::strtof(f[2].c_str(), nullptr);
      EXPECT_EQ(fwrite_string("(I6,7F21.4)", k, x, x, x, x, x, x, x), f[3]);
    } else {
      ADD_FAILURE() << "unknown row";
    }
    ++rows;
  }
  EXPECT_EQ(rows, 32);
}

}  // namespace
}  // namespace kinrad
