// Items 30 to 33 of the project input file: known parents and sibships, the monogamy test,
// excluded parents and excluded sibships. Expected values are worked out by hand: mismatching
// loci are counted from the genotypes below, merged sibships follow the rule "largest number
// held by a member, else the line number", and bit sets are offspring numbers minus one.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/modules/variables.hpp"
#include "project_file.hpp"

namespace kinrad {
namespace {

using readtest::dataerror;
using readtest::ProjectFile;

class ReadRelationships : public readtest::ReaderTest {};

// Four offspring and four candidates of each sex at three codominant loci. Against O1 (1/2,
// 3/4, 5/6): F1 and M1 match at every locus, F2 and M2 mismatch at locus 1, F3 and M3 at loci
// 1 and 2, F4 at locus 2 only (it is missing at locus 1). Against O2 (1/1, 3/3, 5/5): F3
// mismatches at loci 1 and 2, M4 matches. O4 is missing at locus 1.
ProjectFile parentsfile() {
  ProjectFile p;
  p.loci = 3;
  p.offspring = {"O1 1 2 3 4 5 6", "O2 1 1 3 3 5 5", "O3 2 2 4 4 6 6", "O4 0 0 3 4 5 6"};
  p.fathers = {"F1 1 9 3 9 5 9", "F2 7 8 3 9 5 9", "F3 7 8 7 8 5 9", "F4 0 0 7 8 5 9"};
  p.mothers = {"M1 9 2 9 4 9 6", "M2 7 8 4 9 6 9", "M3 7 8 7 8 6 9", "M4 1 1 3 8 5 9"};
  return p;
}

// Offspring A to F with equal genotypes at one locus, two candidates of each sex.
ProjectFile sixfile() {
  ProjectFile p;
  p.loci = 1;
  for (const char* id : {"A", "B", "C", "D", "E", "F"})
    p.offspring.push_back(std::string(id) + " 1 2");
  p.fathers = {"F1 1 2", "F2 1 2"};
  p.mothers = {"M1 1 2", "M2 1 2"};
  return p;
}

TEST_F(ReadRelationships, KnownParentsWithTolerance) {
  struct Row {
    const char* what;
    std::string paternity, maternity;
    std::vector<int4> fathers, mothers;  // indivparent of O1..O4
  };
  const std::vector<Row> rows = {
      {"none", "0 0", "0 0", {-1, -1, -1, -1}, {-1, -1, -1, -1}},
      {"matching father", "1 0\nO1 F1", "0 0", {1, -1, -1, -1}, {-1, -1, -1, -1}},
      {"one mismatch, tolerance 0", "1 0\nO1 F2", "0 0", {-1, -1, -1, -1}, {-1, -1, -1, -1}},
      {"one mismatch, tolerance 1", "1 1\nO1 F2", "0 0", {2, -1, -1, -1}, {-1, -1, -1, -1}},
      {"negative tolerance is 0", "2 -3\nO1 F1\nO2 F2", "0 0", {1, -1, -1, -1}, {-1, -1, -1, -1}},
      {"two mismatches, tolerance 1", "1 1\nO1 F3", "0 0", {-1, -1, -1, -1}, {-1, -1, -1, -1}},
      {"tolerance of all loci enters without a test",
       "1 3\nO1 F3",
       "0 0",
       {3, -1, -1, -1},
       {-1, -1, -1, -1}},
      {"missing locus of the candidate is passed over",
       "2 1\nO1 F4\nO2 F3",
       "0 0",
       {4, -1, -1, -1},
       {-1, -1, -1, -1}},
      {"missing locus of the offspring is passed over",
       "1 0\nO4 F2",
       "0 0",
       {-1, -1, -1, 2},
       {-1, -1, -1, -1}},
      {"mothers", "0 0", "3 0\nO1 M1\nO1 M2\nO2 M4", {-1, -1, -1, -1}, {1, 4, -1, -1}},
      {"a later line replaces the known mother",
       "0 0",
       "2 1\nO1 M1\nO1 M2",
       {-1, -1, -1, -1},
       {2, -1, -1, -1}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    ProjectFile p = parentsfile();
    p.knownpaternity = r.paternity;
    p.knownmaternity = r.maternity;
    ASSERT_EQ(run(p), 0) << errorfile;
    for (int i = 1; i <= 4; ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(variables.indivparent(i, 1), r.fathers[static_cast<std::size_t>(i - 1)]);
      EXPECT_EQ(variables.indivparent(i, 2), r.mothers[static_cast<std::size_t>(i - 1)]);
    }
  }
}

TEST_F(ReadRelationships, HaploidFathersAreNeverIncompatible) {
  ProjectFile p = parentsfile();
  p.haplodiploid = "1";
  p.fathers = {"F1 7 7 7"};
  p.mothers.clear();
  p.knownpaternity = "1 0\nO1 F1";
  ASSERT_EQ(run(p), 0) << errorfile;
  EXPECT_EQ(variables.indivparent(1, 1), 1);
}

TEST_F(ReadRelationships, KnownSibshipsMerge) {
  struct Row {
    const char* what;
    std::string lines;
    std::vector<int4> expected;  // knownsibship of A..F
  };
  const std::vector<Row> rows = {
      {"chain of two lines", "2\n2 A B\n2 B C", {1, 1, 1, 0, 0, 0}},
      {"two separate sibships", "2\n2 A B\n2 C D", {1, 1, 2, 2, 0, 0}},
      {"a later line joins an earlier sibship", "3\n2 A B\n2 C D\n2 D E", {1, 1, 2, 2, 2, 0}},
      {"a line bridging two sibships merges both", "3\n2 A B\n2 C D\n2 B C", {2, 2, 2, 2, 0, 0}},
      {"three sibships bridged", "4\n2 A B\n2 C D\n2 E F\n3 B D F", {3, 3, 3, 3, 3, 3}},
      {"single offspring are cleared", "2\n1 E\n2 A B", {2, 2, 0, 0, 0, 0}},
      {"empty line, a line over two records, a repeated offspring",
       "3\n0\n3 A\nB C\n2 D D",
       {2, 2, 2, 0, 0, 0}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    ProjectFile p = sixfile();
    p.paternalsibships = r.lines;
    p.maternalsibships = r.lines;
    ASSERT_EQ(run(p), 0) << errorfile;
    for (int i = 1; i <= 6; ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(variables.knownsibship(i, 1), r.expected[static_cast<std::size_t>(i - 1)]);
      EXPECT_EQ(variables.knownsibship(i, 2), r.expected[static_cast<std::size_t>(i - 1)]);
    }
    EXPECT_TRUE(variables.errmsg(3).blank());
  }
}

std::string conflicta(const std::string& x2, const std::string& x1, const std::string& t2,
                      const std::string& t1, const std::string& w) {
  return "Known relationships and parameters in conflict!\nOffspring A & B share the same known " +
         x2 + "ther or\n  the same known " + x1 +
         "aternal sibship,\n  but are indicated to come from different known " + t2 +
         "thers or\n  different known " + t1 + "aternal sibships\n  where " + w +
         " are monogomous.\nProgram is stopping.";
}

std::string conflictb(const std::string& x2, const std::string& x1, const std::string& t2,
                      const std::string& t1, const std::string& w) {
  return "Known relationships and parameters in conflict!\nOffspring A & B have different "
         "known " +
         x2 + "thers or\n  different known " + x1 +
         "aternal sibships,\n  but are indicated to come from the same " + t2 +
         "ther\n  or the same " + t1 + "aternal sibship\n  where " + w +
         " are monogomous.\nProgram is stopping.";
}

TEST_F(ReadRelationships, Refusals) {
  struct Row {
    const char* what;
    std::string haplodiploid, matings, paternity, maternity, patsib, matsib, exclpat, exclmat,
        exclpatsib, exclmatsib;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"unreadable known paternity count", "0", "0 0", "x 0", "0 0", "0", "0", "0", "0", "0", "0",
       dataerror("Error in reading known paternity")},
      {"null known maternity candidate", "0", "0 0", "0 0", "1 0\nA ,,", "0", "0", "0", "0", "0",
       "0", dataerror("Error in reading known maternity")},
      {"unknown offspring", "0", "0 0", "1 0\nZ F1", "0 0", "0", "0", "0", "0", "0", "0",
       dataerror("Offspring ID, Z, not found in the offspring pool!")},
      {"unknown father", "0", "0 0", "1 0\nA F9", "0 0", "0", "0", "0", "0", "0", "0",
       dataerror("Candidate ID, F9, not found in the male candidate pool!")},
      {"unknown mother", "0", "0 0", "0 0", "1 0\nA M9", "0", "0", "0", "0", "0", "0",
       dataerror("Candidate ID, M9, not found in the female candidate pool!")},
      {"haploid offspring with a known father", "1", "0 0", "1 0\nB F1", "0 0", "0", "0", "0", "0",
       "0", "0", dataerror("Haploid offspring B has a known father, F1, which is impossible!")},
      {"sibship count x", "0", "0 0", "0 0", "0 0", "x", "0", "0", "0", "0", "0",
       dataerror("Error in reading known paternal sibship\nAn integer expected for number of "
                 "known sibship, but reads \"x\"\n")},
      {"maternal sibship count 2x", "0", "0 0", "0 0", "0 0", "0", "2x", "0", "0", "0", "0",
       dataerror("Error in reading known maternal sibship\nAn integer expected for number of "
                 "known sibship, but reads \"2x\"\n")},
      {"sibship count as a slash", "0", "0 0", "0 0", "0 0", "/", "0", "0", "0", "0", "0",
       dataerror("Error in reading known paternal sibship")},
      {"unreadable sibship size", "0", "0 0", "0 0", "0 0", "1\nx A B", "0", "0", "0", "0", "0",
       dataerror("Error in reading known paternal sibship")},
      {"unknown sibship member", "0", "0 0", "0 0", "0 0", "1\n2 A Z", "0", "0", "0", "0", "0",
       dataerror("Offspring ID, Z, not found in the offspring pool!")},
      {"haploid offspring in a paternal sibship", "1", "0 0", "0 0", "0 0", "1\n2 A B", "0", "0",
       "0", "0", "0",
       dataerror("Haploid offspring B has a known paternal sibship, which is impossible!")},
      {"monogamous: same father, different mothers", "0", "1 1", "2 3\nA F1\nB F1",
       "2 3\nA M1\nB M2", "0", "0", "0", "0", "0", "0",
       dataerror(conflicta("fa", "p", "mo", "m", "females"))},
      {"monogamous: same paternal sibship, different maternal sibships", "0", "1 1", "0 0", "0 0",
       "1\n2 A B", "2\n2 A C\n2 B D", "0", "0", "0", "0",
       dataerror(conflicta("fa", "p", "mo", "m", "females"))},
      {"monogamous mothers: different fathers, same maternal sibship", "0", "0 1",
       "2 3\nA F1\nB F2", "0 0", "0", "1\n2 A B", "0", "0", "0", "0",
       dataerror(conflictb("fa", "p", "mo", "m", "females"))},
      {"monogamous fathers: different mothers, same father", "0", "1 0", "2 3\nA F1\nB F1",
       "2 3\nA M1\nB M2", "0", "0", "0", "0", "0", "0",
       dataerror(conflictb("mo", "m", "fa", "p", "  males"))},
      {"repeated excluded father", "0", "0 0", "0 0", "0 0", "0", "0", "1\nA 3 F1 F2 F1", "0", "0",
       "0", dataerror("Excluded candidate, F1, for offspring A is repeated!")},
      {"unknown excluded father", "0", "0 0", "0 0", "0 0", "0", "0", "1\nA 1 X9", "0", "0", "0",
       dataerror("Candidate ID, X9, not found in the male Candidate pool!")},
      {"unknown excluded mother", "0", "0 0", "0 0", "0 0", "0", "0", "0", "1\nA 2 M1 X9", "0", "0",
       dataerror("Candidate ID, X9, not found in the female Candidate pool!")},
      {"unknown offspring with excluded parents", "0", "0 0", "0 0", "0 0", "0", "0", "0",
       "1\nZZ 1 M1", "0", "0", dataerror("Offspring ID, ZZ, not found in the offspring pool!")},
      {"excluded paternity count as a slash", "0", "0 0", "0 0", "0 0", "0", "0", "/", "0", "0",
       "0", dataerror("Error in reading known excluded paternity")},
      {"unreadable excluded maternity line", "0", "0 0", "0 0", "0 0", "0", "0", "0", "1\nA x M1",
       "0", "0", dataerror("Error in reading known excluded maternity")},
      {"unknown first offspring of an excluded sibship", "0", "0 0", "0 0", "0 0", "0", "0", "0",
       "0", "1\nZZ 1 A", "0",
       dataerror("Offspring ID, ZZ, in excluded sibship section not found in the offspring "
                 "pool!")},
      {"unknown listed offspring of an excluded sibship", "0", "0 0", "0 0", "0 0", "0", "0", "0",
       "0", "0", "1\nA 2 B ZZ",
       dataerror("Offspring ID, ZZ, in excluded sibship section not found in offspring pool!")},
      {"unreadable excluded sibship count", "0", "0 0", "0 0", "0 0", "0", "0", "0", "0", "0", ",,",
       dataerror("Error in reading known excluded maternal sibship")},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    ProjectFile p = sixfile();
    p.haplodiploid = r.haplodiploid;
    if (r.haplodiploid == "1") {
      // A is diploid, the others haploid; haploid fathers carry one value per locus.
      p.offspring = {"A 1 2", "B 1 -99", "C 1 -99", "D 1 -99", "E 1 -99", "F 2 -99"};
      p.fathers = {"F1 1", "F2 2"};
    }
    p.matings = r.matings;
    p.knownpaternity = r.paternity;
    p.knownmaternity = r.maternity;
    p.paternalsibships = r.patsib;
    p.maternalsibships = r.matsib;
    p.excludedpaternity = r.exclpat;
    p.excludedmaternity = r.exclmat;
    p.excludedpaternalsibships = r.exclpatsib;
    p.excludedmaternalsibships = r.exclmatsib;
    EXPECT_EQ(run(p), 1);
    EXPECT_EQ(errorfile, r.expected);
  }
}

TEST_F(ReadRelationships, MonogamyTestAccepts) {
  struct Row {
    const char* what;
    std::string sexes, matings, paternity, maternity, patsib, matsib;
  };
  const std::vector<Row> rows = {
      // A father may have offspring with several mothers when only mothers are monogamous.
      {"polygamous father of monogamous mothers", "2", "0 1", "2 3\nA F1\nB F1", "2 3\nA M1\nB M2",
       "0", "0"},
      {"consistent monogamous families", "2", "1 1", "2 3\nA F1\nB F1", "2 3\nA M1\nB M1",
       "1\n2 C D", "1\n2 C D"},
      {"different fathers and mothers", "2", "1 1", "2 3\nA F1\nB F2", "2 3\nA M1\nB M2", "0", "0"},
      {"no monogamy", "2", "0 0", "2 3\nA F1\nB F1", "2 3\nA M1\nB M2", "0", "0"},
      {"monoecious", "1", "1 1", "2 3\nA F1\nB F1", "2 3\nA F1\nB F2", "0", "0"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    ProjectFile p = sixfile();
    p.sexes = r.sexes;
    if (r.sexes == "1") p.mothers = p.fathers;
    p.matings = r.matings;
    p.knownpaternity = r.paternity;
    p.knownmaternity = r.maternity;
    p.paternalsibships = r.patsib;
    p.maternalsibships = r.matsib;
    EXPECT_EQ(run(p), 0) << errorfile;
  }
}

// Ten candidate fathers F1..F10, of which father 3 is offspring O3 itself.
ProjectFile exclusionfile() {
  ProjectFile p;
  p.loci = 1;
  for (int i = 1; i <= 5; ++i) p.offspring.push_back("O" + std::to_string(i) + " 1 2");
  for (int j = 1; j <= 10; ++j)
    p.fathers.push_back((j == 3 ? std::string("O3") : "F" + std::to_string(j)) + " 1 2");
  p.mothers = {"M1 1 2", "M2 1 2"};
  return p;
}

struct Expected {
  int4 count;
  std::vector<int4> list;
};

void expectlist(int i, int s, const Expected& e) {
  SCOPED_TRACE("offspring " + std::to_string(i) + ", sex " + std::to_string(s));
  const Excludedlist& x = variables.excludedparent(i, s);
  ASSERT_EQ(x.count, e.count);
  ASSERT_EQ(x.list.size(), static_cast<index_t>(e.list.size()));
  for (std::size_t k = 0; k < e.list.size(); ++k)
    EXPECT_EQ(x.list(static_cast<index_t>(k + 1)), e.list[k]);
}

TEST_F(ReadRelationships, ExcludedParentForms) {
  ProjectFile p = exclusionfile();
  p.excludedpaternity =
      "3\nO1 5 F1 F2 O3 F4 F5\nO2 6 F10 F9 F8 F7 F6 F5\n"
      "O4 10 F1 F2 O3 F4 F5 F6\nF7 F8 F9 F10";
  p.excludedmaternity = "1\nO1 1 M2";
  ASSERT_EQ(run(p), 0) << errorfile;
  expectlist(1, 1, {5, {1, 2, 3, 4, 5}});
  expectlist(2, 1, {-4, {1, 2, 3, 4}});
  expectlist(4, 1, {10, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}});
  expectlist(3, 1, {1, {3}});  // no individual is its own parent
  expectlist(5, 1, {0, {}});
  expectlist(1, 2, {1, {2}});
  expectlist(2, 2, {0, {}});
  EXPECT_EQ(variables.anyexcludedparentq(1), 1);
  EXPECT_EQ(variables.anyexcludedparentq(2), 1);
  for (const int1 mark : variables.selectedprntq) EXPECT_EQ(mark, 0);
}

TEST_F(ReadRelationships, ExcludedParentLines) {
  struct Row {
    const char* what;
    std::string paternity, lines;
    int i;
    Expected expected;
  };
  const std::vector<Row> rows = {
      {"two lines are merged", "0 0", "2\nO1 2 F1 F2\nO1 2 F2 F4", 1, {3, {1, 2, 4}}},
      {"merged into the complement form",
       "0 0",
       "2\nO1 5 F1 F2 O3 F4 F5\nO1 1 F6",
       1,
       {-4, {7, 8, 9, 10}}},
      {"merged onto a complement form",
       "0 0",
       "2\nO2 6 F1 F2 O3 F4 F5 F6\nO2 1 F7",
       2,
       {-3, {8, 9, 10}}},
      {"own identifier appended", "0 0", "1\nO3 1 F1", 3, {2, {1, 3}}},
      {"own identifier alone", "0 0", "1\nO3 0", 3, {1, {3}}},
      {"own identifier already listed", "0 0", "1\nO3 2 O3 F10", 3, {2, {3, 10}}},
      {"an empty line for another offspring has no effect", "0 0", "1\nO1 0", 1, {0, {}}},
      {"a known father makes the line void", "1 1\nO1 F7", "1\nO1 2 F1 F2", 1, {0, {}}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    ProjectFile p = exclusionfile();
    p.knownpaternity = r.paternity;
    p.excludedpaternity = r.lines;
    ASSERT_EQ(run(p), 0) << errorfile;
    expectlist(r.i, 1, r.expected);
  }
}

TEST_F(ReadRelationships, NoExclusionsReleaseTheTable) {
  ProjectFile p = sixfile();
  ASSERT_EQ(run(p), 0) << errorfile;
  EXPECT_FALSE(variables.excludedparent.allocated());
  EXPECT_EQ(variables.anyexcludedparentq(1), 0);
  EXPECT_EQ(variables.anyexcludedparentq(2), 0);
  EXPECT_FALSE(variables.excludedsibshipq.allocated());
  EXPECT_EQ(variables.anyexcludedsibshipq(1), 0);
  EXPECT_EQ(variables.anyexcludedsibshipq(2), 0);

  // An offspring that is a candidate mother: only the mothers' flag is set.
  p.mothers = {"M1 1 2", "C 1 2"};
  ASSERT_EQ(run(p), 0) << errorfile;
  ASSERT_TRUE(variables.excludedparent.allocated());
  EXPECT_EQ(variables.anyexcludedparentq(1), 0);
  EXPECT_EQ(variables.anyexcludedparentq(2), 1);
  expectlist(3, 2, {1, {2}});
}

TEST_F(ReadRelationships, ExcludedSibshipBits) {
  ProjectFile p;
  p.loci = 1;
  for (int i = 1; i <= 40; ++i) p.offspring.push_back("O" + std::to_string(i) + " 1 2");
  p.excludedpaternalsibships = "2\nO2 2 O1 O3\nO40 3 O1 O32\nO33";
  p.excludedmaternalsibships = "1\nO5 2 O6 O6";
  ASSERT_EQ(run(p), 0) << errorfile;
  EXPECT_EQ(variables.anyexcludedsibshipq(1), 1);
  EXPECT_EQ(variables.anyexcludedsibshipq(2), 1);
  const auto& set = variables.excludedsib;
  EXPECT_FALSE(set(1, 1).a.allocated());
  ASSERT_EQ(set(2, 1).a.lbound(1), 0);
  ASSERT_EQ(set(2, 1).a.ubound(1), 0);
  EXPECT_EQ(set(2, 1).a(0), 1);  // O1: bit 0
  ASSERT_EQ(set(3, 1).a.ubound(1), 0);
  EXPECT_EQ(set(3, 1).a(0), 2);  // O2: bit 1
  ASSERT_EQ(set(40, 1).a.lbound(1), 0);
  ASSERT_EQ(set(40, 1).a.ubound(1), 1);
  EXPECT_EQ(set(40, 1).a(0), -2147483647);  // O1 and O32: bits 0 and 31
  EXPECT_EQ(set(40, 1).a(1), 1);            // O33: bit 0 of word 1
  EXPECT_FALSE(set(2, 2).a.allocated());
  ASSERT_TRUE(set(6, 2).a.allocated());
  EXPECT_EQ(set(6, 2).a(0), 16);  // O5 named twice: bit 4, once
  std::vector<int> named = {1, 2, 3, 5, 6, 32, 33, 40};
  for (int i = 1; i <= 40; ++i) {
    const bool expected = std::find(named.begin(), named.end(), i) != named.end();
    EXPECT_EQ(variables.excludedsibshipq(i), expected ? 1 : 0) << i;
  }
}

TEST_F(ReadRelationships, MaternalExcludedSibshipsOnlyInACrLfFile) {
  ProjectFile p = sixfile();
  p.excludedmaternalsibships = "1\nF 1 A";
  std::string text;
  for (const auto& r : p.records()) text += r + "\r\n";
  text.resize(text.size() - 2);  // the last record has no line end
  ASSERT_EQ(run(text), 0) << errorfile;
  EXPECT_EQ(variables.anyexcludedsibshipq(1), 0);
  EXPECT_EQ(variables.anyexcludedsibshipq(2), 1);
  ASSERT_TRUE(variables.excludedsib(6, 2).a.allocated());
  EXPECT_EQ(variables.excludedsib(6, 2).a(0), 1);
  for (index_t i = 1; i <= 3; ++i) EXPECT_TRUE(variables.errmsg(i).blank());
}

}  // namespace
}  // namespace kinrad
