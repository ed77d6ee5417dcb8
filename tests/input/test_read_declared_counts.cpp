// Declared counts and given frequencies that the project input file cannot back: the reader
// stops with the message of the read that fails, and never sizes a table by a count beyond what
// the rest of the file holds. Expected messages are traced by hand through the records of each
// file (a list-directed read takes values across records until it has them all).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/modules/variables.hpp"
#include "project_file.hpp"

namespace kinrad {
namespace {

using readtest::dataerror;
using readtest::ProjectFile;

class ReadDeclaredCounts : public readtest::ReaderTest {};

// Two offspring at the two loci of the default file.
ProjectFile twofile() {
  ProjectFile p;
  p.offspring = {"O1 1 2 1 2", "O2 1 1 2 2"};
  return p;
}

// The file with item 14 (known allele frequencies) replaced by `item`.
std::string withgiven(const ProjectFile& p, const std::string& item) {
  std::vector<std::string> recs = p.records();
  recs[13] = item;
  std::string text;
  for (const auto& r : recs) text += r + "\n";
  return text;
}

TEST_F(ReadDeclaredCounts, GivenFrequenciesMustLieInZeroToOne) {
  struct Row {
    const char* what;
    std::string frequencies;  // the two frequencies of locus 1
    bool accepted;
  };
  const std::vector<Row> rows = {
      {"ordinary", "0.3 0.7", true},         {"the bounds 0 and 1", "0 1", true},
      {"not a number", "NaN 0.5", false},    {"infinite", "0.5 inf", false},
      {"minus infinity", "-inf 0.5", false}, {"1e308", "1e308 0.5", false},
      {"negative", "-0.1 1.1", false},       {"just above 1", "0.5 1.0000001", false},
  };
  for (const Row& r : rows)
    for (const bool once : {false, true}) {
      SCOPED_TRACE(std::string(r.what) + (once ? ", given once with @" : ", per locus"));
      const std::string item = once ? "1\n2@\n1 2@\n" + r.frequencies
                                    : "1\n2 2\n1 2\n" + r.frequencies + "\n1 2\n0.5 0.5";
      if (r.accepted) {
        ASSERT_EQ(run(withgiven(twofile(), item)), 0) << errorfile;
        ASSERT_EQ(variables.popallelefre.size(1), 2);
        EXPECT_EQ(variables.popallele(2, 1), 2);
      } else {
        EXPECT_EQ(run(withgiven(twofile(), item)), 1);
        EXPECT_EQ(errorfile,
                  dataerror("Error in reading population alleles & frequencies per locus"));
      }
    }
}

TEST_F(ReadDeclaredCounts, ReadsRunIntoTheEndOfTheFile) {
  struct Row {
    const char* what;
    std::string text;
    std::string message;
  };
  std::vector<Row> rows;
  {
    // 100000 loci given with "@" throughout: the first offspring line, 4 values at 2 loci,
    // then every later record, cannot supply 100001 values.
    ProjectFile p = twofile();
    p.loci = 100000;
    rows.push_back({"loci given with @", p.text(),
                    "Data or data format error in IDs and genotypes of offspring: 1"});
  }
  {
    // The same with the given allele frequencies written once with "@": nothing per locus is
    // stored before the first offspring line fails.
    ProjectFile p = twofile();
    p.loci = 100000;
    rows.push_back({"loci and given frequencies with @", withgiven(p, "1\n2@\n1 2@\n0.5 0.5"),
                    "Data or data format error in IDs and genotypes of offspring: 1"});
  }
  {
    // Candidates of both sexes summing beyond 32 bits. Male candidate 1 is the F1 line,
    // 2 the M1 line, 3 and 4 take the identifier and four values from the records of the
    // relationship items ("0 0", "0 0", "0" and then five records of "0"); nothing is left
    // for candidate 5.
    ProjectFile p = twofile();
    p.numbers = "2147483647 2147483647";
    p.fathers = {"F1 1 2 1 2"};
    p.mothers = {"M1 1 2 1 2"};
    rows.push_back({"candidates beyond 32 bits", p.text(),
                    "Error in reading the ID and genotypes of male candidate 5"});
  }
  {
    // A known-sibship line of 1e9 identifiers: O1, O2 and the six "0" records that follow.
    ProjectFile p = twofile();
    p.paternalsibships = "1\n1000000000 O1 O2";
    rows.push_back({"known sibship size", p.text(), "Error in reading known paternal sibship"});
  }
  {
    // Given counts (item 14) of 1e9 alleles at locus 2: its labels run into the frequency
    // record "0.5 0.5", which holds no integer.
    rows.push_back({"given allele count",
                    withgiven(twofile(), "1\n2 1000000000\n1 2\n0.5 0.5\n1 2\n0.5 0.5"),
                    "Error in reading population alleles & frequencies per locus"});
  }
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(run(r.text), 1);
    EXPECT_EQ(errorfile, dataerror(r.message));
  }
}

}  // namespace
}  // namespace kinrad
