// Parent-offspring dyad probabilities. The expected lists come from the engine's brute-force
// oracle (a sum over every genotype of the group's parents) of the group with each candidate as
// its father and with an unsampled father, less each candidate's own log likelihood summed here
// from probsinglegtype; the sibship-size prior term is the same for every trial of a group and
// cancels. The relatedness scores, the dyad scale and the file layouts are worked out by hand;
// "(F7.4)" as gfortran 12 writes it (generators/dyad_formats.f90).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "archive_walk_fixture.hpp"
#include "core/modules.hpp"
#include "core/packed_genotypes.hpp"
#include "likelihood/oracle.hpp"
#include "model/model.hpp"
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
using oracle::Genotype;
using oracle::Parent;

using Row = std::vector<std::pair<std::string, double>>;

// offspring id -> (candidate id, probability) pairs of a result file, and its header.
std::map<std::string, Row> rows_of(const std::string& name, std::string* header = nullptr) {
  std::istringstream in(file_text(name));
  std::map<std::string, Row> out;
  std::string line;
  std::getline(in, line);
  if (header != nullptr) *header = line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream s(line);
    for (std::string x; std::getline(s, x, ',');) f.push_back(x);
    Row r;
    for (std::size_t k = 1; k + 1 < f.size(); k += 2) r.emplace_back(f[k], std::stod(f[k + 1]));
    EXPECT_EQ(f.size() % 2, 1u) << line;
    out[f[0]] = r;
  }
  return out;
}

Parent candidate(int c, std::vector<Genotype> g) {
  Parent p;
  p.candidate = c;
  p.genotype = std::move(g);
  return p;
}

// Offspring 1-3 fit father genotypes near F1 and F2; F3 fits badly. Three loci of three
// alleles with typing errors, so that no candidate is impossible.
Cluster sample(std::vector<Parent> fathers = {}) {
  Cluster c;
  c.loci.assign(3, oracle::Locus{false, 3, {0.5, 0.3, 0.2}, 0.02, 0.01});
  if (fathers.empty())
    fathers = {candidate(1, {{1, 2}, {2, 3}, {1, 2}}), candidate(2, {{1, 1}, {1, 2}, {1, 2}}),
               candidate(3, {{2, 3}, {3, 3}, {3, 3}})};
  c.fathers = fathers;
  c.mothers = {Parent{}};
  c.families = {Family{1, 1, {1, 2, 3}}};
  c.offspring = {{{1, 1}, {1, 2}, {1, 1}},
                 {{1, 3}, {2, 2}, {1, 2}},
                 {{1, 2}, {1, 3}, {2, 2}},
                 {{2, 3}, {2, 3}, {1, 2}}};
  c.offploid = {2, 2, 2, 2};
  return c;
}

// The candidate's own log likelihood: log probsinglegtype summed over its loci.
double own_logl(int c, int sex) {
  auto& v = variables;
  double s = 0.0;
  const int4 col = (sex - 1) * v.numcandidate(1) + c;
  for (int4 l = 1; l <= v.numloci; ++l) {
    if (v.obsnumallele(l) < 2) continue;
    setgetgtype.locusgtypeptr = v.cndgtype2(l).a;
    int2 g = 0;
    getgtype(g, col, v.obsnumallele(l));
    const int4 a[2] = {v.genotypeid(1, g), v.genotypeid(2, g)};
    real8 p = 0.0;
    probsinglegtype(std::max(v.inbreeding, 0.0), 2, l, a, p);
    s += std::log(p);
  }
  return s;
}

// The expected list of a group of offspring whose assigned father is candidate a: candidates
// in `excluded` weigh nothing.
Row expected_list(const Cluster& base, const std::vector<int>& members, int a,
                  const std::vector<int>& excluded) {
  const int C = static_cast<int>(base.fathers.size());
  std::vector<double> L(static_cast<std::size_t>(C) + 2, -1e300);
  auto group = [&](const Parent& father) {
    Cluster c = base;
    c.fathers = {father};
    c.families = {Family{1, 1, members}};
    return oracle::total_logl(c);
  };
  for (int c = 1; c <= C; ++c) {
    if (std::count(excluded.begin(), excluded.end(), c) > 0) continue;
    L[static_cast<std::size_t>(c)] =
        group(base.fathers[static_cast<std::size_t>(c - 1)]) - own_logl(c, 1);
  }
  L[static_cast<std::size_t>(C) + 1] = group(Parent{});
  const double top = *std::max_element(L.begin() + 1, L.end());
  L[static_cast<std::size_t>(a)] = top + 0.0001;
  double sum = 0.0;
  std::vector<std::pair<double, int>> w;
  for (int c = 1; c <= C + 1; ++c) {
    const double x = L[static_cast<std::size_t>(c)] - top;
    if (x <= -30.0) continue;
    sum += std::exp(x);
    if (c <= C) w.emplace_back(std::exp(x), c);
  }
  std::stable_sort(w.begin(), w.end(), [](auto& x, auto& y) { return x.first > y.first; });
  Row r;
  for (const auto& [e, c] : w) {
    if (r.size() == 9 || e / sum < 0.001) break;
    r.emplace_back("F" + std::to_string(c), e / sum);
  }
  return r;
}

void expect_row(const Row& got, const Row& want, double scale = 1.0) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t k = 0; k < got.size(); ++k) {
    EXPECT_EQ(got[k].first, want[k].first);
    EXPECT_NEAR(got[k].second, want[k].second * scale, 0.00005 + 1e-6);
  }
}

// Writes ".FSDyadUF" and ".HSDyadUF" by hand: 4-byte lengths around each record.
void write_records(const std::string& name, const std::vector<std::vector<double>>& recs,
                   bool halfsib) {
  std::string bytes;
  for (const auto& r : recs) {
    const int32_t len = halfsib ? 20 : 16;
    auto put = [&](const void* p, std::size_t n) { bytes.append(static_cast<const char*>(p), n); };
    put(&len, 4);
    const int32_t i = static_cast<int32_t>(r[0]), j = static_cast<int32_t>(r[1]);
    put(&i, 4);
    put(&j, 4);
    if (halfsib) {
      const int32_t t = static_cast<int32_t>(r[2]);
      put(&t, 4);
    }
    const double p = r.back();
    put(&p, 8);
    put(&len, 4);
  }
  write_text(name, bytes);
}

class ParentDyad : public ::testing::Test {
 protected:
  void SetUp() override { dir_.emplace("parentdyad"); }
  void TearDown() override {
    reset_all_modules();
    dir_.reset();
  }
  // Builds the sample and the best configuration (one record): fathers by family fam1, the
  // assigned candidate fathers dad; every mother unsampled in one family.
  void build(const Cluster& c, std::vector<int4> fam1, std::vector<int4> dad) {
    base_ = c;
    const oracle::Built b = oracle::build(c);
    ASSERT_TRUE(b.ok) << b.error;
    oracle::exact_mode();
    auto& v = variables;
    v.displayq = 0;
    v.fname = "t";
    const int4 n = v.smplsize;
    if (!v.offtgt.allocated()) v.offtgt.allocate(Dim(n), Dim(3));
    if (!v.prnttgt.allocated()) v.prnttgt.allocate(Dim(n), Dim(2));
    if (!v.indivparent.allocated()) v.indivparent.allocate(Dim(n), Dim(2));
    for (int4 i = 1; i <= n; ++i) v.indivparent(i, 1) = v.indivparent(i, 2) = -1;
    v.numknownprnt = {};
    std::vector<int4> fam2(static_cast<std::size_t>(n), 1);
    set_archive({{-10.0, std::move(fam1), fam2, {}, std::move(dad)}});
    singleparentlikelihood(v.inbreeding);
  }
  Cluster base_;
  std::optional<TempWorkDir> dir_;
};

// The assigned candidate (the worst fit, F3) heads the list; offspring 2 and 3 share it and
// carry the same list, scaled by the mean sib probability of {1, 2, 3}: full-sib records
// 0.9, 0.8, 0.7 and the half-sib record 0.3 (the records with offspring 4 do not count) give
// 2.7 / 4. Offspring 4's father is unsampled: no row. No mother candidates: no ".Maternity".
TEST_F(ParentDyad, ListsFromTheOracleScaledByTheSibRecords) {
  build(sample(), {1, 1, 1, 2}, {3, 3, 3, 0});
  write_records("t.FSDyadUF", {{1, 2, 0.9}, {1, 3, 0.8}, {1, 4, 0.5}, {2, 3, 0.7}}, false);
  write_records("t.HSDyadUF", {{2, 3, 1, 0.3}, {3, 4, 1, 0.6}}, true);
  const ParentDyadCounts counts = parent_offspring_dyad_counted();
  EXPECT_EQ(counts.groups[0], 1);
  EXPECT_EQ(counts.evaluations[0], 4);  // three candidates and the unsampled father
  EXPECT_FALSE(file_exists("t.Maternity"));
  std::string header;
  const auto rows = rows_of("t.Paternity", &header);
  const Row want = expected_list(base_, {1, 2, 3}, 3, {});
  ASSERT_FALSE(want.empty());
  EXPECT_EQ(want.front().first, "F3");
  std::string h = "OffspringID";
  for (std::size_t q = 1; q <= want.size(); ++q)
    h += ",InferredDad" + std::to_string(q) + ",ProbDad" + std::to_string(q);
  EXPECT_EQ(header, h);
  ASSERT_EQ(rows.size(), 3u);
  for (const char* id : {"O1", "O2", "O3"}) {
    SCOPED_TRACE(id);
    expect_row(rows.at(id), want, 2.7 / 4.0);
  }
  EXPECT_EQ(rows.at("O1"), rows.at("O2"));
  EXPECT_EQ(rows.at("O1"), rows.at("O3"));
  // The members' parents are as they were.
  for (int4 i = 1; i <= 3; ++i) EXPECT_EQ(variables.btinferparent(i, 1), 3);
  EXPECT_EQ(variables.btinferparent(4, 1), 0);
}

// A candidate excluded for any member, by a list of excluded candidates or by a list of the
// only ones allowed, never appears; the assigned candidate still heads the list. Without the
// dyad files no scale applies.
TEST_F(ParentDyad, ExcludedCandidatesNeverAppear) {
  struct Case {
    const char* name;
    int4 offspring;
    int4 count;
    std::vector<int4> list;
  };
  const std::vector<Case> cases = {{"excluded list", 2, 1, {1}}, {"allowed list", 3, -2, {2, 3}}};
  for (const auto& cs : cases) {
    SCOPED_TRACE(cs.name);
    build(sample(), {1, 1, 1, 2}, {2, 2, 2, 0});
    auto& v = variables;
    v.excludedparent.allocate(Dim(v.smplsize), Dim(2));
    Excludedlist& e = v.excludedparent(cs.offspring, 1);
    e.count = cs.count;
    e.list.allocate(Dim(static_cast<int4>(cs.list.size())));
    for (std::size_t k = 0; k < cs.list.size(); ++k) e.list(static_cast<int4>(k) + 1) = cs.list[k];
    v.anyexcludedparentq(1) = 1;
    parent_offspring_dyad_probabilities();
    const auto rows = rows_of("t.Paternity");
    const Row want = expected_list(base_, {1, 2, 3}, 2, {1});
    EXPECT_EQ(want.front().first, "F2");
    for (const char* id : {"O1", "O2", "O3"}) {
      SCOPED_TRACE(id);
      expect_row(rows.at(id), want);
      for (const auto& [c, p] : rows.at(id)) EXPECT_NE(c, "F1");
    }
  }
}

// Eleven equally fitting candidates: at most 9 entries, each 1/12 or so (the assigned one a
// little more); the unsampled father only enlarges the sum.
TEST_F(ParentDyad, AtMostNineEntries) {
  std::vector<Parent> fathers;
  for (int c = 1; c <= 11; ++c) fathers.push_back(candidate(c, {{1, 2}, {1, 2}, {1, 2}}));
  build(sample(fathers), {1, 1, 1, 2}, {5, 5, 5, 0});
  parent_offspring_dyad_probabilities();
  const auto rows = rows_of("t.Paternity");
  const Row want = expected_list(base_, {1, 2, 3}, 5, {});
  ASSERT_EQ(want.size(), 9u);
  ASSERT_EQ(rows.at("O1").size(), 9u);
  EXPECT_EQ(rows.at("O1").front().first, "F5");
  for (std::size_t q = 0; q < 9; ++q)
    EXPECT_NEAR(rows.at("O1")[q].second, want[q].second, 0.00005 + 1e-6);
}

// A known father spread over the family gives "F1,1.0000" to every member; a haploid member
// gets no father row, neither through the known father nor through its own assigned one; an
// unsampled father gives no row either.
TEST_F(ParentDyad, KnownFathersAndHaploidOffspring) {
  Cluster c = sample();
  c.haplodiploid = true;
  c.offploid = {2, 2, 1, 2};
  c.offspring[2] = {{1, 0}, {3, 0}, {2, 0}};
  build(c, {1, 1, 1, 2}, {2, 2, 2, 0});
  auto& v = variables;
  v.indivparent(2, 1) = 1;
  v.numknownprnt(1) = 1;
  parent_offspring_dyad_probabilities();
  EXPECT_EQ(file_text("t.Paternity"),
            "OffspringID,InferredDad1,ProbDad1\nO1,F1,1.0000\nO2,F1,1.0000\n");
  // Without the known father, the haploid's own assigned father gives it no row either.
  build(c, {1, 1, 1, 2}, {2, 2, 2, 0});
  parent_offspring_dyad_probabilities();
  const auto rows = rows_of("t.Paternity");
  EXPECT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows.count("O3"), 0u);
  EXPECT_EQ(rows.at("O1"), rows.at("O2"));
}

// No sampled father in the best configuration: the file holds the one-pair header only.
// Candidates of one sex only: that sex's file alone; of neither sex: no file.
TEST_F(ParentDyad, HeadersAndFiles) {
  build(sample(), {1, 1, 1, 2}, {0, 0, 0, 0});
  parent_offspring_dyad_probabilities();
  EXPECT_EQ(file_text("t.Paternity"), "OffspringID,InferredDad1,ProbDad1\n");
  EXPECT_FALSE(file_exists("t.Maternity"));

  std::filesystem::remove("t.Paternity");
  archive_walk_sample({.n = 3, .ncand2 = 2});
  set_archive({{0.0, {1, 1, 2}, {1, 1, 2}}});
  variables.numloci = 0;
  parent_offspring_dyad_probabilities();
  EXPECT_EQ(file_text("t.Maternity"), "OffspringID,InferredMum1,ProbMum1\n");
  EXPECT_FALSE(file_exists("t.Paternity"));

  std::filesystem::remove("t.Maternity");
  archive_walk_sample({.n = 3});
  set_archive({{0.0, {1, 1, 2}, {1, 1, 2}}});
  parent_offspring_dyad_probabilities();
  EXPECT_FALSE(file_exists("t.Paternity"));
  EXPECT_FALSE(file_exists("t.Maternity"));
}

// The scale D/N from hand-written files: full-sib records in file order, then half-sib records
// (of type k alone in a haplodiploid species); pairs with an unflagged member and records
// beyond the group's largest member count nothing; a short record ends a file's pass.
TEST_F(ParentDyad, DyadScaleFromHandWrittenFiles) {
  archive_walk_sample({.n = 6});
  write_records("t.FSDyadUF", {{1, 2, 1.0}, {1, 5, 0.5}, {2, 3, 0.25}, {3, 4, 0.5}, {4, 5, 0.5}},
                false);
  // Two tiny half-sib values after the full-sib 1.0: in this order they vanish in the sum,
  // in the other order they would not.
  write_records("t.HSDyadUF",
                {{1, 2, 1, 1.1e-16}, {1, 3, 2, 1.1e-16}, {2, 3, 1, 1.1e-16}, {3, 5, 2, 0.5}}, true);
  DyadRecords fs, hs;
  read_dyad_records("t.FSDyadUF", false, fs);
  read_dyad_records("t.HSDyadUF", true, hs);
  FArray<int1, 1> flags{Dim(6)};
  for (const int4 x : {1, 2, 3}) flags(x) = 1;
  const std::vector<int4> members{1, 2, 3};
  // Diploid: every half-sib record counts.
  DyadScale s = dyad_scale(fs, &hs, members, flags, 1);
  EXPECT_EQ(s.sum, 1.25);
  EXPECT_EQ(s.count, 5);
  // Haplodiploid, mothers: type 2 only.
  variables.haplodiploid = 1;
  s = dyad_scale(fs, &hs, members, flags, 2);
  EXPECT_EQ(s.sum, 1.25);
  EXPECT_EQ(s.count, 3);
  // Without half-sib records (both sexes monogamous).
  s = dyad_scale(fs, nullptr, members, flags, 2);
  EXPECT_EQ(s.count, 2);
  // A short record ends the pass: the records after it are not read.
  std::string bytes = file_text("t.FSDyadUF");
  const int32_t eight = 8;
  std::string bad(16, '\0');
  std::memcpy(bad.data(), &eight, 4);
  std::memcpy(bad.data() + 12, &eight, 4);
  write_text("t.FSDyadUF", bytes.substr(0, 24) + bad + bytes.substr(24));
  read_dyad_records("t.FSDyadUF", false, fs);
  s = dyad_scale(fs, nullptr, members, flags, 2);
  EXPECT_EQ(s.sum, 1.0);
  EXPECT_EQ(s.count, 1);
  // A missing file reads as empty.
  read_dyad_records("t.none", false, fs);
  EXPECT_EQ(dyad_scale(fs, nullptr, members, flags, 1).count, 0);
}

// Relatedness scores by hand at four loci: the candidates are the same genotype (1), a shared
// homozygote/heterozygote (0.75), two heterozygotes sharing one allele (0.25) and nothing
// shared (0); a locus where the candidate is untyped does not count. Offspring 2 is typed at
// locus 3 alone, where candidates 3 and 4 are untyped: no usable locus gives r = 0.
TEST_F(ParentDyad, RelatednessByHand) {
  Cluster c;
  c.loci.assign(4, oracle::Locus{false, 4, {0.25, 0.25, 0.25, 0.25}, 0.0, 0.0});
  c.loci[3] = oracle::Locus{false, 2, {0.5, 0.5}, 0.0, 0.0};
  c.offspring = {{{1, 2}, {3, 3}, {1, 2}, {1, 2}}, {{0, 0}, {0, 0}, {1, 2}, {0, 0}}};
  c.offploid = {2, 2};
  // Offspring 1: 1/2, 3/3, 1/2, 1/2 (the last at a two-allele locus).
  c.fathers = {candidate(1, {{1, 2}, {3, 3}, {1, 2}, {1, 2}}),   // 1, 1, 1, 1 -> 1
               candidate(2, {{1, 1}, {3, 4}, {2, 3}, {2, 2}}),   // .75 .75 .25 .75 -> 2.5/4
               candidate(3, {{3, 4}, {1, 2}, {0, 0}, {1, 1}}),   // 0, 0, -, .75 -> .75/3
               candidate(4, {{0, 0}, {0, 0}, {0, 0}, {0, 0}})};  // no locus -> 0
  c.mothers = {Parent{}};
  c.families = {Family{1, 1, {1, 2}}};
  const oracle::Built b = oracle::build(c);
  ASSERT_TRUE(b.ok) << b.error;
  fill_candidate_genotypes(1);
  FArray<real4, 1> r{Dim(4)};
  relatednessoffcnd(1, 1, r);
  EXPECT_EQ(r(1), 1.0f);
  EXPECT_EQ(r(2), 2.5f / 4.0f);
  EXPECT_EQ(r(3), 0.75f / 3.0f);
  EXPECT_EQ(r(4), 0.0f);
  relatednessoffcnd(1, 2, r);
  EXPECT_EQ(r(1), 1.0f);
  EXPECT_EQ(r(2), 0.25f);
  EXPECT_EQ(r(3), 0.0f);
  EXPECT_EQ(r(4), 0.0f);
}

// One parent pool: the group of offspring 1 (first parent P, candidate C1 assigned) also takes
// offspring 3, whose second parent is P; both role lists receive each trial candidate. The
// oracle describes P as one individual acting as father of {1, 2} and mother of {3}. The pool's
// candidates are listed for both roles, so offspring 3 gets the same list as its mother row.
TEST_F(ParentDyad, OnePoolGroupTakesBothRoles) {
  const std::vector<Genotype> g1 = {{1, 2}, {2, 3}, {1, 2}}, g2 = {{1, 1}, {1, 2}, {1, 2}};
  Cluster c = sample({candidate(1, g1), Parent{}, candidate(2, g2)});
  c.numsex = 1;
  c.mothers = {Parent{}, candidate(1, g1)};
  c.same = {{1, 2}};
  c.families = {Family{1, 1, {1, 2}}, Family{2, 2, {3}}};
  base_ = c;
  const oracle::Built b = oracle::build(c);
  ASSERT_TRUE(b.ok) << b.error;
  oracle::exact_mode();
  auto& v = variables;
  ASSERT_EQ(v.numcandidate(1), 2);
  v.displayq = 0;
  v.fname = "t";
  const int4 n = v.smplsize;
  if (!v.offtgt.allocated()) v.offtgt.allocate(Dim(n), Dim(3));
  if (!v.prnttgt.allocated()) v.prnttgt.allocate(Dim(n), Dim(2));
  set_archive({{-10.0, {1, 1, 3, 4}, {2, 2, 1, 5}, {}, {1, 1, 0, 0}, {0, 0, 1, 0}}});
  singleparentlikelihood(v.inbreeding);
  parent_offspring_dyad_probabilities();

  auto group = [&](const Parent& p) {
    Cluster x = base_;
    x.fathers = {p, Parent{}};
    x.mothers = {Parent{}, p};
    x.families = {Family{1, 1, {1, 2}}, Family{2, 2, {3}}};
    return oracle::total_logl(x);
  };
  std::vector<double> L = {0.0, group(candidate(1, g1)) - own_logl(1, 1),
                           group(candidate(2, g2)) - own_logl(2, 1), group(Parent{})};
  const double top = std::max({L[1], L[2], L[3]});
  L[1] = top + 0.0001;
  double sum = 0.0;
  for (int k = 1; k <= 3; ++k) sum += std::exp(L[static_cast<std::size_t>(k)] - top);
  Row want = {{"C1", std::exp(L[1] - top) / sum}};
  const double p2 = std::exp(L[2] - top) / sum;
  if (p2 >= 0.001) want.emplace_back("C2", p2);
  const auto dads = rows_of("t.Paternity");
  ASSERT_EQ(dads.size(), 2u);
  expect_row(dads.at("O1"), want);
  EXPECT_EQ(dads.at("O1"), dads.at("O2"));
  const auto mums = rows_of("t.Maternity");
  ASSERT_EQ(mums.size(), 1u);
  expect_row(mums.at("O3"), want);
}

}  // namespace
}  // namespace kinrad
