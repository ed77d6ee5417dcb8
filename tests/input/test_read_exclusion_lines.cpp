// Exclusion lines of the project input file (excluded parents and excluded sibships) written
// over several records: an offspring identifier, a number n and n identifiers are read as one
// list-directed statement, so every split of a line reads as the line on one record. The
// expected lists and bit sets are worked out by hand from the lines below: candidate numbers
// are positions in the candidate list, and offspring a in the set of offspring b (a < b) is bit
// a - 1 of word 0.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/modules/variables.hpp"
#include "project_file.hpp"

namespace kinrad {
namespace {

using readtest::ProjectFile;

class ReadExclusionLines : public readtest::ReaderTest {};

// Four offspring, four candidates of each sex, one locus. Identifiers are either names (O1,
// F1, M1) or numbers (offspring 1..4, fathers 11..14, mothers 21..24), which a misread
// statement would take for counts.
ProjectFile fourfile(bool numeric) {
  ProjectFile p;
  p.loci = 1;
  for (int i = 1; i <= 4; ++i) {
    const std::string n = std::to_string(i);
    p.offspring.push_back((numeric ? n : "O" + n) + " 1 2");
    p.fathers.push_back((numeric ? std::to_string(10 + i) : "F" + n) + " 1 2");
    p.mothers.push_back((numeric ? std::to_string(20 + i) : "M" + n) + " 1 2");
  }
  return p;
}

// The ways one line "X 2 A B" may be split over records.
struct Split {
  const char* what;
  std::string (*make)(const std::string& x, const std::string& a, const std::string& b);
};

const std::vector<Split>& splits() {
  static const std::vector<Split> rows = {
      {"one record", [](auto& x, auto& a, auto& b) { return x + " 2 " + a + " " + b; }},
      {"identifier alone", [](auto& x, auto& a, auto& b) { return x + "\n2 " + a + " " + b; }},
      {"count alone", [](auto& x, auto& a, auto& b) { return x + "\n2\n" + a + " " + b; }},
      {"identifiers spread", [](auto& x, auto& a, auto& b) { return x + " 2 " + a + "\n" + b; }},
      {"every value alone", [](auto& x, auto& a, auto& b) { return x + "\n2\n" + a + "\n" + b; }},
      {"comma separated over records",
       [](auto& x, auto& a, auto& b) { return x + ",\n2,\n" + a + ",\n" + b; }},
  };
  return rows;
}

std::string offspringname(bool numeric, int i) {
  return numeric ? std::to_string(i) : "O" + std::to_string(i);
}
std::string candidatename(bool numeric, int s, int j) {
  if (numeric) return std::to_string(10 * s + j);
  return (s == 1 ? "F" : "M") + std::to_string(j);
}

TEST_F(ReadExclusionLines, ExcludedParentsSplitOverRecords) {
  for (const bool numeric : {false, true})
    for (int s = 1; s <= 2; ++s)
      for (const Split& split : splits()) {
        SCOPED_TRACE(std::string(split.what) + (numeric ? ", numeric" : ", names") + ", sex " +
                     std::to_string(s));
        ProjectFile p = fourfile(numeric);
        // Offspring 3 excludes candidates 1 and 4; a second line, on its own record, has
        // offspring 1 exclude candidate 2, so the reader must stand right after the split line.
        const std::string block =
            "2\n" +
            split.make(offspringname(numeric, 3), candidatename(numeric, s, 4),
                       candidatename(numeric, s, 1)) +
            "\n" + offspringname(numeric, 1) + " 1 " + candidatename(numeric, s, 2);
        (s == 1 ? p.excludedpaternity : p.excludedmaternity) = block;
        ASSERT_EQ(run(p), 0) << errorfile;
        ASSERT_TRUE(variables.excludedparent.allocated());
        const Excludedlist& e3 = variables.excludedparent(3, s);
        ASSERT_EQ(e3.count, 2);
        EXPECT_EQ(e3.list(1), 1);
        EXPECT_EQ(e3.list(2), 4);
        const Excludedlist& e1 = variables.excludedparent(1, s);
        ASSERT_EQ(e1.count, 1);
        EXPECT_EQ(e1.list(1), 2);
        EXPECT_EQ(variables.excludedparent(2, s).count, 0);
        EXPECT_EQ(variables.excludedparent(3, 3 - s).count, 0);
      }
}

TEST_F(ReadExclusionLines, ExcludedSibshipsSplitOverRecords) {
  for (const bool numeric : {false, true})
    for (int s = 1; s <= 2; ++s)
      for (const Split& split : splits()) {
        SCOPED_TRACE(std::string(split.what) + (numeric ? ", numeric" : ", names") + ", sex " +
                     std::to_string(s));
        ProjectFile p = fourfile(numeric);
        // Offspring 3 with offspring 4 and 1, then offspring 2 with offspring 1.
        const std::string block = "2\n" +
                                  split.make(offspringname(numeric, 3), offspringname(numeric, 4),
                                             offspringname(numeric, 1)) +
                                  "\n" + offspringname(numeric, 2) + " 1 " +
                                  offspringname(numeric, 1);
        (s == 1 ? p.excludedpaternalsibships : p.excludedmaternalsibships) = block;
        ASSERT_EQ(run(p), 0) << errorfile;
        EXPECT_EQ(variables.anyexcludedsibshipq(s), 1);
        EXPECT_EQ(variables.anyexcludedsibshipq(3 - s), 0);
        const auto& set = variables.excludedsib;
        EXPECT_FALSE(set(1, s).a.allocated());
        ASSERT_TRUE(set(2, s).a.allocated());
        EXPECT_EQ(set(2, s).a(0), 1);  // offspring 1
        ASSERT_TRUE(set(3, s).a.allocated());
        EXPECT_EQ(set(3, s).a(0), 1);  // offspring 1
        ASSERT_TRUE(set(4, s).a.allocated());
        EXPECT_EQ(set(4, s).a(0), 4);  // offspring 3
        for (int i = 1; i <= 4; ++i) {
          EXPECT_FALSE(set(i, 3 - s).a.allocated()) << i;
          EXPECT_EQ(variables.excludedsibshipq(i), 1) << i;
        }
      }
}

// A line that ends before its n identifiers are read fails as the block's read, whatever
// records the line is spread over.
TEST_F(ReadExclusionLines, ShortLinesFailAsTheBlockRead) {
  struct Row {
    const char* what;
    int item;  // 32 or 33
    int s;
    std::string block;
    std::string label;
  };
  const std::vector<Row> rows = {
      {"paternity, identifier alone", 32, 1, "1\nO3\n2 F1", "known excluded paternity"},
      {"maternity, count alone", 32, 2, "1\nO3\n3\nM1 M2", "known excluded maternity"},
      {"paternal sibship", 33, 1, "1\nO3\n2\nO1", "known excluded paternal sibship"},
      {"maternal sibship", 33, 2, "1\nO3 2", "known excluded maternal sibship"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    ProjectFile p = fourfile(false);
    if (r.item == 32)
      (r.s == 1 ? p.excludedpaternity : p.excludedmaternity) = r.block;
    else
      (r.s == 1 ? p.excludedpaternalsibships : p.excludedmaternalsibships) = r.block;
    // Nothing may follow the faulty block, so that its read runs into the end of the file.
    std::vector<std::string> recs = p.records();
    const int last = r.item == 32 ? (r.s == 1 ? 4 : 3) : (r.s == 1 ? 2 : 1);
    recs.resize(recs.size() - static_cast<std::size_t>(last) + 1);
    std::string text;
    for (const auto& line : recs) text += line + "\n";
    EXPECT_EQ(run(text), 1);
    EXPECT_EQ(errorfile, readtest::dataerror("Error in reading " + r.label));
  }
}

}  // namespace
}  // namespace kinrad
