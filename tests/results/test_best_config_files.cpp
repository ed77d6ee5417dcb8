// Parent names and the four best-configuration files. Expected bytes are derived by hand from
// the edit formats (field widths spelled out with pad()), whose gfortran behaviour the format
// table of tests/core checks; names and orders are worked out from the rules in each case.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "results/results.hpp"
#include "results/results_internal.hpp"
#include "support/archive_builder.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using namespace testing_support;

// Text right-adjusted in w characters.
std::string pad(const std::string& s, std::size_t w) {
  return std::string(w - s.size(), ' ') + s;
}

std::string name(int4 i, int4 s) {
  return std::string(trim_both(variables.bestparentid(i, s).view()));
}

void name_parents() {
  variables.bestparentid.allocate(Dim(variables.smplsize), Dim(2));
  name_best_parents();
}

TEST(ParentNames, TwoSexesInOrderOfFirstOffspring) {
  // Paternal families 1 (sampled father D1), 2 and 3 (unsampled); mothers all unsampled.
  archive_sample({.n = 5, .ncand1 = 1});
  set_best({-1.0, {2, 1, 3, 2, 1}, {1, 2, 3, 1, 2}, {}, {0, 1, 0, 0, 1}});
  name_parents();
  EXPECT_EQ(name(1, 1), "*1");
  EXPECT_EQ(name(2, 1), "D1");
  EXPECT_EQ(name(3, 1), "*2");
  EXPECT_EQ(name(4, 1), "*1");
  EXPECT_EQ(name(1, 2), "#1");
  EXPECT_EQ(name(2, 2), "#2");
  EXPECT_EQ(name(3, 2), "#3");
  // Names stand right-adjusted in 20; the ids are positive again.
  EXPECT_EQ(variables.bestparentid(1, 1).str(), pad("*1", 20));
  for (int4 i = 1; i <= 5; ++i) EXPECT_GT(variables.btindivloc(i, 1), 0);
}

TEST(ParentNames, SecondFamilyGetsStarOneWhenTheFirstFatherIsSampled) {
  archive_sample({.n = 2, .ncand1 = 1});
  set_best({-1.0, {1, 2}, {1, 2}, {}, {1, 0}});
  name_parents();
  EXPECT_EQ(name(1, 1), "D1");
  EXPECT_EQ(name(2, 1), "*1");
}

TEST(ParentNames, OnePoolNumbersOnThroughColumnTwo) {
  // Ids 1 and 2 first met in column 1, id 5 only in column 2; offspring 3 is selfed (2/2).
  archive_sample({.n = 4, .numsex = 1});
  set_best({-1.0, {1, 1, 2, 1}, {5, 2, 2, 5}});
  name_parents();
  EXPECT_EQ(name(1, 1), "#1");
  EXPECT_EQ(name(3, 1), "#2");
  EXPECT_EQ(name(2, 2), "#2");  // id 2 in column 2 is the same parent
  EXPECT_EQ(name(3, 2), "#2");  // selfed: one name twice
  EXPECT_EQ(name(1, 2), "#3");  // the counter runs on in column 2
  EXPECT_EQ(name(4, 2), "#3");
}

TEST(ParentNames, HaploidFatherAndLargerCandidate) {
  archive_sample({.n = 3, .ncand1 = 6, .ncand2 = 6});
  variables.haplodiploid = 1;
  variables.offploid(2) = 1;
  variables.smplsizedh(1) = 1;
  variables.smplsizedh(2) = 2;
  set_best({-1.0, {1, 1, 2}, {1, 1, 2}, {}, {3, 0, 0}, {0, 0, 0}});
  known_parent(1, 1, 5);  // assigned 3, known 5: 5 is printed
  name_parents();
  EXPECT_EQ(variables.bestparentid(2, 1).str(), pad("*-", 20));
  EXPECT_EQ(name(1, 1), "D5");
  EXPECT_EQ(name(3, 1), "*1");
}

// The seven-offspring fixture: offspring a..g; cluster 1 = {a, b, c, d}: father D1 with mother
// 1 (a, b, c) and mother 2 (d); cluster 2 = {e, f, g}: mother 3 with father 2 (e, f) and
// father 3 (g). A second record (weight 1/3) keeps cluster 1 and splits cluster 2 as {e},
// {f, g}: cluster 1 has probability 1, cluster 2 1 / (4/3) = 0.75.
void seven_offspring(int4 allowclone, bool haploid) {
  archive_sample({.n = 7, .ncand1 = 1});
  auto& v = variables;
  const char* ids[] = {"a", "b", "c", "d", "e", "f", "g"};
  for (int4 i = 1; i <= 7; ++i) v.offspringid(i) = ids[i - 1];
  v.fname = "seven";
  v.allowclone = allowclone;
  if (haploid) {
    v.haplodiploid = 1;
    v.offploid(4) = 1;
    v.smplsizedh(1) = 1;
    v.smplsizedh(2) = 6;
  }
  set_archive({{-10.0, {1, 1, 1, 1, 2, 2, 3}, {1, 1, 1, 2, 3, 3, 3}, {}, {1, 1, 1, 1, 0, 0, 0}},
               {-10.0 - std::log(3.0), {1, 1, 1, 1, 2, 3, 3}, {1, 1, 1, 2, 3, 3, 3}}});
  if (allowclone == 1) {
    v.cloneconfig.allocate(Dim(7));
    const int4 clones[] = {4, 4, 1, 2, 3, 3, 5};  // groups {a, b} and {e, f}
    for (int4 i = 1; i <= 7; ++i) v.cloneconfig(i) = clones[i - 1];
  }
}

void write_all(OutputContext& ctx) {
  name_parents();
  ctx.clusterprob.allocate(Dim(2));
  findfamilyprob(ctx.clusterprob);
  write_best_cluster(ctx.clusterprob);
  ctx.probinc.allocate(Dim(7));
  ctx.probexc.allocate(Dim(7));
  const real8 inc[] = {0.875, 1.0, 0.5, 0.03125};
  const real8 exc[] = {0.75, 0.09375, 0.25, 0.0};
  for (int4 f = 1; f <= 4; ++f) {
    ctx.probinc(f) = inc[f - 1];
    ctx.probexc(f) = exc[f - 1];
  }
  write_best_fs_family(ctx.probinc, ctx.probexc);
  if (variables.allowclone == 1) number_clone_groups(ctx.cloneindex);
  write_best_config(ctx.cloneindex);
}

TEST(BestConfigFiles, GoldenBytesOfTheSevenOffspringFixture) {
  for (const int4 allowclone : {0, 1}) {
    for (const bool haploid : {false, true}) {
      SCOPED_TRACE(std::to_string(allowclone) + (haploid ? " haploid" : ""));
      TempWorkDir dir("best_config_files");
      seven_offspring(allowclone, haploid);
      OutputContext ctx;
      write_all(ctx);
      const std::string dad_d = haploid ? "*-" : "D1";
      // Fathers and mothers of a..g (d's father "*-" when d is haploid).
      const std::vector<std::string> dad = {"D1", "D1", "D1", dad_d, "*1", "*1", "*2"};
      const std::vector<std::string> mum = {"#1", "#1", "#1", "#2", "#3", "#3", "#3"};
      const std::vector<std::string> id = {"a", "b", "c", "d", "e", "f", "g"};
      const std::vector<int4> cluster = {1, 1, 1, 1, 2, 2, 2};

      std::string cl = "ClusterIndex Probability" + pad("OffspringID", 21) + pad("FatherID", 21) +
                       pad("MotherID", 21) + "\n";
      for (int4 i = 0; i < 7; ++i)
        cl += pad(std::to_string(cluster[i]), 12) + pad(cluster[i] == 1 ? "1.0000" : "0.7500", 12) +
              pad(id[i], 21) + pad(dad[i], 21) + pad(mum[i], 21) + "\n";
      EXPECT_EQ(read_text("seven.BestCluster"), cl);

      // Families in order of their smallest member: {a,b,c}, {d}, {e,f}, {g}; 1/32 and 3/32 are
      // rounding ties (0.0312, 0.0938).
      const std::string fs = "FullSibshipIndex Prob(Inc.) Prob(Exc.)    Member1,Member2,Member3\n" +
                             pad("1", 16) + pad("0.8750", 11) + pad("0.7500", 11) + "    a,b,c\n" +
                             pad("2", 16) + pad("1.0000", 11) + pad("0.0938", 11) + "    d\n" +
                             pad("3", 16) + pad("0.5000", 11) + pad("0.2500", 11) + "    e,f\n" +
                             pad("4", 16) + pad("0.0312", 11) + pad("0.0000", 11) + "    g\n";
      EXPECT_EQ(read_text("seven.BestFSFamily"), fs);

      const std::vector<int4> clone = {1, 1, 2, 3, 4, 4, 5};
      auto row = [&](int4 i) {
        std::string r = pad(id[i], 20) + pad(dad[i], 21) + pad(mum[i], 21);
        if (allowclone == 1) r += pad(std::to_string(clone[i]), 14);
        return r + pad(std::to_string(cluster[i]), 14) + "\n";
      };
      const std::string head = pad("OffspringID", 20) + pad("FatherID", 21) + pad("MotherID", 21) +
                               (allowclone == 1 ? pad("CloneIndex", 14) : "") +
                               pad("ClusterIndex", 14) + "\n";
      std::string plain = head, ordered = head;
      for (int4 i = 0; i < 7; ++i) plain += row(i);
      // Within a cluster ascending M/a + 0.99/b (M = 3): d (3.495) before a, b, c (3.99); g
      // (1.33) before e, f (1.83).
      for (int4 i : {3, 0, 1, 2, 6, 4, 5}) ordered += row(i);
      EXPECT_EQ(read_text("seven.BestConfig"), plain);
      EXPECT_EQ(read_text("seven.BestConfig_Ordered"), ordered);
    }
  }
}

TEST(BestConfigFiles, HeaderAloneWhenEveryFamilyHasOneMember) {
  TempWorkDir dir("fs_header");
  archive_sample({.n = 2});
  variables.fname = "one";
  set_best({-1.0, {1, 2}, {1, 2}});
  FArray<real8, 1> inc{Dim(2)}, exc{Dim(2)};
  write_best_fs_family(inc, exc);
  EXPECT_EQ(read_text("one.BestFSFamily"), "FullSibshipIndex Prob(Inc.) Prob(Exc.)    Member1\n" +
                                               pad("1", 16) + pad("0.0000", 11) +
                                               pad("0.0000", 11) + "    O1\n" + pad("2", 16) +
                                               pad("0.0000", 11) + pad("0.0000", 11) + "    O2\n");
}

TEST(BestConfigFiles, AFamilyOfSixThousandIsOneLine) {
  TempWorkDir dir("fs_long");
  const int4 n = 6000;
  archive_sample({.n = n});
  variables.fname = "long";
  set_best({-1.0, std::vector<int4>(n, 1), std::vector<int4>(n, 1)});
  FArray<real8, 1> inc{Dim(n)}, exc{Dim(n)};
  write_best_fs_family(inc, exc);
  std::ifstream in("long.BestFSFamily");
  std::string header, row, rest;
  std::getline(in, header);
  std::getline(in, row);
  EXPECT_FALSE(std::getline(in, rest));
  EXPECT_TRUE(header.ends_with(",Member6000"));
  EXPECT_TRUE(row.ends_with(",O5999,O6000"));
  EXPECT_EQ(std::count(row.begin(), row.end(), ','), n - 1);
}

// The Part's sort key, for comparison where it keeps families apart.
std::vector<int4> part_key_order() {
  const auto& v = variables;
  const int4 n = v.smplsize;
  int4 m = 0;
  for (int4 i = 1; i <= n; ++i) m = std::max(m, v.btindivloc(i, 1));
  std::vector<real8> key(static_cast<std::size_t>(n));
  for (int4 i = 1; i <= n; ++i)
    key[static_cast<std::size_t>(i - 1)] = v.btindivloc(i, 3) * (m + 1.0) - (0.98 / n) / i +
                                           static_cast<real8>(m) / v.btindivloc(i, 1) +
                                           0.99 / v.btindivloc(i, 2);
  std::vector<int4> order(static_cast<std::size_t>(n));
  std::iota(order.begin(), order.end(), 1);
  std::stable_sort(order.begin(), order.end(), [&key](int4 a, int4 b) {
    return key[static_cast<std::size_t>(a - 1)] < key[static_cast<std::size_t>(b - 1)];
  });
  return order;
}

// Offspring in the row order of the ordered file.
std::vector<int4> ordered_file_rows() {
  variables.bestparentid.allocate(Dim(variables.smplsize), Dim(2));
  write_best_config({});
  std::ifstream in(variables.fname + ".BestConfig_Ordered");
  std::string line;
  std::getline(in, line);
  std::vector<int4> rows;
  while (std::getline(in, line)) rows.push_back(std::stoi(line.substr(0, 20)));
  return rows;
}

TEST(BestConfigFiles, OrderedFileKeepsFamiliesTogether) {
  // n = 100, one father with mothers 50 and 51 (offspring alternate between them): the Part's
  // key interleaves the two families; the file keeps each together, the larger M/a + 0.99/b
  // last.
  TempWorkDir dir("ordered_interleave");
  const int4 n = 100;
  archive_sample({.n = n});
  variables.fname = "inter";
  for (int4 i = 1; i <= n; ++i) variables.offspringid(i) = std::to_string(i);
  std::vector<int4> f1(n, 1), f2(n);
  for (int4 i = 0; i < n; ++i) f2[static_cast<std::size_t>(i)] = 50 + i % 2;
  set_best({-1.0, f1, f2});
  const auto rows = ordered_file_rows();
  std::vector<int4> expected;
  for (int4 i = 2; i <= n; i += 2) expected.push_back(i);  // mother 51: 1 + 0.99/51 smaller
  for (int4 i = 1; i <= n; i += 2) expected.push_back(i);
  EXPECT_EQ(rows, expected);
  EXPECT_NE(part_key_order(), expected);  // the Part's key mixes them
}

// True when, within each cluster, the families' values M/a + 0.99/b lie further apart than the
// spread 0.98/n of the Part's offspring term, so its key cannot interleave them.
bool families_apart() {
  const auto& v = variables;
  const int4 n = v.smplsize;
  int4 m = 0;
  for (int4 i = 1; i <= n; ++i) m = std::max(m, v.btindivloc(i, 1));
  for (int4 i = 1; i <= n; ++i)
    for (int4 j = 1; j <= n; ++j) {
      if (v.btindivloc(i, 3) != v.btindivloc(j, 3)) continue;
      const int4 a1 = v.btindivloc(i, 1), b1 = v.btindivloc(i, 2);
      const int4 a2 = v.btindivloc(j, 1), b2 = v.btindivloc(j, 2);
      if (a1 == a2 && b1 == b2) continue;
      const real8 g1 = static_cast<real8>(m) / a1 + 0.99 / b1;
      const real8 g2 = static_cast<real8>(m) / a2 + 0.99 / b2;
      if (std::abs(g1 - g2) <= 0.98 / n) return false;
    }
  return true;
}

TEST(BestConfigFiles, OrderedFileEqualsThePartsKeyElsewhere) {
  std::mt19937 rng(2026);
  int compared = 0;
  TempWorkDir dir("ordered_random");
  while (compared < 200) {
    const int4 n = 2 + static_cast<int4>(rng() % 40);
    archive_sample({.n = n});
    variables.fname = "r";
    for (int4 i = 1; i <= n; ++i) variables.offspringid(i) = std::to_string(i);
    std::vector<int4> f1(static_cast<std::size_t>(n)), f2(f1.size());
    const int4 k = 1 + static_cast<int4>(rng() % 6);
    for (auto& x : f1) x = 1 + static_cast<int4>(rng() % k);
    for (auto& x : f2) x = 1 + static_cast<int4>(rng() % k);
    set_best({-1.0, f1, f2});
    if (!families_apart()) continue;
    SCOPED_TRACE(compared);
    EXPECT_EQ(ordered_file_rows(), part_key_order());
    ++compared;
  }
}

}  // namespace
}  // namespace kinrad
