// Items 22 to 25 of the project input file: marker identifiers, marker types and error rates.
// Expected identifiers, orders and rates are worked out by hand from the reading rules: equal
// identifiers among at most 7 markers are ordered by straight insertion, which keeps their
// input order, and the adjusted rates follow the three adjustments in turn.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/modules/variables.hpp"
#include "project_file.hpp"

namespace kinrad {
namespace {

using readtest::dataerror;
using readtest::ProjectFile;

// Offspring lines with one value per dominant and two per codominant locus ('1' and '0' in
// types, one character per locus).
std::vector<std::string> offspringlines(const std::string& types, int n = 2) {
  std::vector<std::string> lines;
  for (int i = 1; i <= n; ++i) {
    std::string l = "O" + std::to_string(i);
    for (const char t : types) l += t == '1' ? " 1" : " 1 2";
    lines.push_back(l);
  }
  return lines;
}

ProjectFile threeloci(const std::string& types = "000") {
  ProjectFile p;
  p.loci = 3;
  std::string t;
  for (const char c : types) t += std::string(1, c) + " ";
  p.markertypes = t;
  p.offspring = offspringlines(types);
  return p;
}

std::string rightadjusted(const std::string& id) {
  return std::string(20 - id.size(), ' ') + id;
}

class ReadMarkers : public readtest::ReaderTest {};

TEST_F(ReadMarkers, IdentifierForms) {
  struct Row {
    const char* what;
    std::string ids;
    std::vector<std::string> expected;
  };
  const std::vector<Row> rows = {
      {"@ alone", "@", {"MK1", "MK2", "MK3"}},
      {"prefix before @", "ABC@  ! named loci", {"ABC1", "ABC2", "ABC3"}},
      {"18-character prefix",
       "ABCDEFGHIJKLMNOPQR@",
       {"ABCDEFGHIJKLMNOPQR1", "ABCDEFGHIJKLMNOPQR2", "ABCDEFGHIJKLMNOPQR3"}},
      {"one per locus", "rs1 rs22 x", {"rs1", "rs22", "x"}},
      {"over two records", "rs1, rs22\nx   ! the third", {"rs1", "rs22", "x"}},
      {"a long identifier is cut",
       "ABCDEFGHIJKLMNOPQRSTUV b c",
       {"ABCDEFGHIJKLMNOPQRST", "b", "c"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    ProjectFile p = threeloci();
    p.markerids = r.ids;
    ASSERT_EQ(run(p), 0) << errorfile;
    ASSERT_EQ(variables.markerid.size(), 3);
    for (int l = 1; l <= 3; ++l)
      EXPECT_EQ(std::string(variables.markerid(l).view()),
                rightadjusted(r.expected[static_cast<std::size_t>(l - 1)]));
  }
}

TEST_F(ReadMarkers, Refusals) {
  struct Row {
    const char* what;
    std::string ids, types, drop, other;
    std::string expected;
  };
  const std::string typeline = "Marker type must be 1 (dominant) or 0 (codominant)!";
  const std::string rateline = "Marker error rate is out of the range [0, 1]!";
  const std::vector<Row> rows = {
      {"repeated identifier", "A B A", "0@", "0@", "0@",
       dataerror("Marker 3 has the same ID, A, as marker 1")},
      {"repeated identifier, later pair", "X A A", "0@", "0@", "0@",
       dataerror("Marker 3 has the same ID, A, as marker 2")},
      {"identifiers equal once cut", "ABCDEFGHIJKLMNOPQRST1 ABCDEFGHIJKLMNOPQRST2 c", "0@", "0@",
       "0@", dataerror("Marker 2 has the same ID, ABCDEFGHIJKLMNOPQRST, as marker 1")},
      {"identifiers cut short by the end of the file", "a b", "", "", "",
       dataerror("Error in reading Marker IDs")},
      {"type 2 for all", "@", "2@", "0@", "0@", dataerror(typeline)},
      {"type 2 at one locus", "@", "0 1 2", "0@", "0@", dataerror(typeline)},
      {"type -1", "@", "-1 0 0", "0@", "0@", dataerror(typeline)},
      {"type 256 is not wrapped", "@", "0 256 0", "0@", "0@", dataerror(typeline)},
      {"unreadable shorthand type", "@", "x@", "0@", "0@",
       dataerror("Error in reading indicators for marker types per locus")},
      {"null type", "@", "0 ,, 1", "0@", "0@",
       dataerror("Error in reading indicators for marker types per locus")},
      {"slash in the types", "@", "0 / 1", "0@", "0@",
       dataerror("Error in reading indicators for marker types per locus")},
      {"dropout above 1", "@", "0@", "1.0000001@", "0@", dataerror(rateline)},
      {"negative dropout", "@", "0@", "-0.01 0 0", "0@", dataerror(rateline)},
      {"dropout -1e-300", "@", "0@", "0 -1e-300 0", "0@", dataerror(rateline)},
      {"other-error rate above 1", "@", "0@", "0@", "0 0 1.5", dataerror(rateline)},
      {"dropout NaN", "@", "0@", "nan 0 0", "0@", dataerror(rateline)},
      {"unreadable dropout", "@", "0@", "0.1 x 0", "0@",
       dataerror("Error in reading Dropout Rate per locus")},
      {"dropout with a slash", "@", "0@", "0.1 /", "0@",
       dataerror("Error in reading Dropout Rate per locus")},
      {"null other-error rate", "@", "0@", "0@", "0 ,, 0",
       dataerror("Error in reading Other Error Rate per locus")},
      {"unreadable shorthand rate", "@", "0@", "0@", "x@",
       dataerror("Error in reading Other Error Rate per locus")},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    ProjectFile p = threeloci();
    p.markerids = r.ids;
    p.markertypes = r.types;
    p.droprates = r.drop;
    p.otherrates = r.other;
    std::string text = p.text();
    if (r.types.empty()) {
      // The file ends inside the identifiers.
      const auto records = p.records();
      text.clear();
      for (std::size_t k = 0; k < 22; ++k) text += records[k] + "\n";
    }
    EXPECT_EQ(run(text), 1);
    EXPECT_EQ(errorfile, r.expected);
  }
}

TEST_F(ReadMarkers, TypesPerLocusAndForAll) {
  ProjectFile p = threeloci("101");
  ASSERT_EQ(run(p), 0) << errorfile;
  EXPECT_EQ(variables.dominantmarker(1), 1);
  EXPECT_EQ(variables.dominantmarker(2), 0);
  EXPECT_EQ(variables.dominantmarker(3), 1);

  p = threeloci("111");
  p.markertypes = "1@  ! all dominant";
  ASSERT_EQ(run(p), 0) << errorfile;
  for (int l = 1; l <= 3; ++l) EXPECT_EQ(variables.dominantmarker(l), 1);
}

TEST_F(ReadMarkers, RateAdjustments) {
  struct Row {
    const char* what;
    std::string types, drop, other, haplodiploid, method;
    std::vector<double> edrop, eother;
  };
  const std::vector<Row> rows = {
      // 0.01 x dropout, but at least 1e-5; a dropout of 1e-6 lies above the single-precision
      // threshold 9.999999974752427e-7.
      {"dominant loci gain an other-error rate",
       "111",
       "0.05 0.0001 1e-6",
       "0@",
       "0",
       "1",
       {0.05, 0.0001, 1e-6},
       {0.0005, 1e-5, 1e-5}},
      {"dominant thresholds",
       "111",
       "9.9e-7 0.05 0.05",
       "0 5e-7 1e-6",
       "0",
       "1",
       {9.9e-7, 0.05, 0.05},
       {0.0, 0.0005, 1e-6}},
      {"codominant loci keep their rates",
       "000",
       "0.05@",
       "0@",
       "0",
       "1",
       {0.05, 0.05, 0.05},
       {0.0, 0.0, 0.0}},
      {"dropout held below 1",
       "000",
       "1 0.9999995 0.5",
       "0@",
       "0",
       "1",
       {0.999999, 0.999999, 0.5},
       {0.0, 0.0, 0.0}},
      {"shorthand rate without a point has 8 decimals",
       "000",
       "1@",
       "5@",
       "0",
       "1",
       {1e-8, 1e-8, 1e-8},
       {5e-8, 5e-8, 5e-8}},
      {"shorthand rate with a point",
       "000",
       "0.02@",
       "0.125@",
       "0",
       "1",
       {0.02, 0.02, 0.02},
       {0.125, 0.125, 0.125}},
      {"haplodiploid full likelihood floor",
       "001",
       "0@",
       "0.0001 0 0.0001",
       "1",
       "1",
       {0.0, 0.0, 0.0},
       {0.0005, 0.0, 0.0001}},
      {"haplodiploid pairwise score keeps the rate",
       "001",
       "0@",
       "0.0001 0 0.0001",
       "1",
       "0",
       {0.0, 0.0, 0.0},
       {0.0001, 0.0, 0.0001}},
      {"haplodiploid full likelihood above the floor",
       "000",
       "0@",
       "0.001 0.0005 0.0004",
       "1",
       "2",
       {0.0, 0.0, 0.0},
       {0.001, 0.0005, 0.0005}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    ProjectFile p = threeloci(r.types);
    p.droprates = r.drop;
    p.otherrates = r.other;
    p.haplodiploid = r.haplodiploid;
    p.method = r.method;
    ASSERT_EQ(run(p), 0) << errorfile;
    for (int l = 1; l <= 3; ++l) {
      SCOPED_TRACE(l);
      EXPECT_DOUBLE_EQ(variables.droprate(l), r.edrop[static_cast<std::size_t>(l - 1)]);
      EXPECT_DOUBLE_EQ(variables.othererrorrate(l), r.eother[static_cast<std::size_t>(l - 1)]);
    }
  }
}

}  // namespace
}  // namespace kinrad
