// The data copy: its exact text and bytes, and the comparison status. The golden files in
// data/ were written by hand from the layout of the copy (formats (4I10, 4I3), (10I10),
// (10F10.7), (20I2), (10I2), (2F10.7, 2I10), (I10) and the comma lists), not produced by
// the program; the other expected texts below are worked out the same way.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "check_data_fixture.hpp"
#include "core/error_stop.hpp"
#include "core/modules/variables.hpp"
#include "core/replacing_file.hpp"
#include "input/check_data_internal.hpp"
#include "input/input.hpp"
#include "support/run_stage.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using checktest::data_file;
using checktest::minimal_fixture;
using checktest::parse_hex;
using checktest::small_fixture;
using testing_support::read_text;
using testing_support::write_text;

class CheckData : public ::testing::Test {
 protected:
  void SetUp() override { reset_all_modules(); }
  testing_support::TempWorkDir dir{"check_data"};
};

int4 compare() {
  int4 status = 99;
  setstartloc(1, status);
  return status;
}

void write_copy() {
  int4 status = 99;
  setstartloc(2, status);
  EXPECT_EQ(status, 99) << "writing leaves the status alone";
}

TEST_F(CheckData, CopyOfTheSmallFixtureMatchesTheHandWrittenFiles) {
  small_fixture();
  checkdata();
  EXPECT_EQ(read_text("myout.data"), data_file("check_data_golden.data"));
  EXPECT_EQ(read_text("myout.GtypeData"), parse_hex(data_file("check_data_golden.GtypeData.hex")));
  EXPECT_FALSE(std::filesystem::exists(replacing_temporary("myout.data")));
  EXPECT_FALSE(std::filesystem::exists(replacing_temporary("myout.GtypeData")));
}

TEST_F(CheckData, HandWrittenCopyComparesEqual) {
  write_text("myout.data", data_file("check_data_golden.data"));
  write_text("myout.GtypeData", parse_hex(data_file("check_data_golden.GtypeData.hex")));
  small_fixture();
  EXPECT_EQ(compare(), 1);
}

// Twelve loci: rates go ten loci to a line, and a group with no rate above 1e-300 is a line
// of integer zeros of width 2. Without candidates or relationships the copy ends with the
// four zero counts of the known parents and sibships.
TEST_F(CheckData, RatesInGroupsOfTenWithZeroGroupsAsIntegers) {
  minimal_fixture(2, 12);
  variables.droprate(3) = 0.02;
  variables.othererrorrate(11) = 1e-300;  // not above 1e-300: still a zero group
  write_copy();
  const std::string expected =
      "         2        12         2         2  2  0  0  0\n"
      " 0 0 0 0 0 0 0 0 0 0 0 0\n"
      " 0.0000000 0.0000000 0.0200000 0.0000000 0.0000000 0.0000000 0.0000000 0.0000000"
      " 0.0000000 0.0000000\n"
      " 0 0\n"
      " 0 0 0 0 0 0 0 0 0 0\n"
      " 0 0\n"
      " 0.5000000 0.5000000         0         0\n"
      "         0\n"
      "         0\n"
      "         0\n"
      "         0\n";
  EXPECT_EQ(read_text("myout.data"), expected);
  EXPECT_EQ(compare(), 1);
}

// A group of zero rates is written as integers but its values are rates: against a stored
// group of small reals (or the other way round) they differ only by the rates' difference,
// so 4e-6 or 8e-6 is no change and 2e-5 is one.
TEST_F(CheckData, ZeroRateGroupsCompareAsReals) {
  struct Row {
    const char* name;
    real8 stored;   // dropout rate of locus 2 in the copy
    real8 current;  // and in the current data
    int4 status;
  };
  const Row rows[] = {
      {"small real stored, zeros now", 4e-6, 0.0, 1},
      {"zeros stored, small real now", 0.0, 8e-6, 1},
      {"zeros stored, larger real now", 0.0, 2e-5, 0},
      {"larger real stored, zeros now", 2e-5, 0.0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    minimal_fixture(2, 3);
    variables.droprate(2) = row.stored;
    write_copy();
    minimal_fixture(2, 3);
    variables.droprate(2) = row.current;
    EXPECT_EQ(compare(), row.status);
  }
  // The zero group really is written as integers.
  minimal_fixture(2, 3);
  write_copy();
  const std::string text = read_text("myout.data");
  EXPECT_NE(text.find("\n 0 0 0\n 0 0 0\n"), std::string::npos);
}

// Lists of known sibs go ten numbers to a line, exclusion lists and excluded-sib words twenty;
// a complement exclusion list is written with the length of the list, and a word with its
// top bit set as a negative number.
TEST_F(CheckData, RelationshipListsBreakIntoLines) {
  minimal_fixture(40, 1);
  auto& v = variables;
  for (int4 i = 1; i <= 11; ++i) v.knownsibship(i, 2) = 3;
  v.indivparent(7, 1) = 2;
  v.excludedparent.allocate(40, 2);
  Excludedlist& many = v.excludedparent(6, 1);
  many.count = 21;
  many.list.allocate(21);
  for (int4 j = 1; j <= 21; ++j) many.list(j) = j;
  Excludedlist& allowed = v.excludedparent(5, 2);
  allowed.count = -3;
  allowed.list.allocate(3);
  allowed.list(1) = 1;
  allowed.list(2) = 4;
  allowed.list(3) = 7;
  v.anyexcludedparentq(1) = v.anyexcludedparentq(2) = 1;
  v.anyexcludedsibshipq(2) = 1;
  v.excludedsib.allocate(40, 2);
  v.excludedsib(40, 2).a.allocate(Dim(0, 1));
  v.excludedsib(40, 2).a(0) = static_cast<int4>(0x80000000u);  // offspring 32
  v.excludedsib(40, 2).a(1) = 5;                               // offspring 33 and 35
  v.excludedsib(12, 2).a.allocate(Dim(0, 0));
  v.excludedsib(12, 2).a(0) = 1;
  write_copy();
  const std::string tail =
      " 0.5000000 0.5000000         0         0\n"
      "         1\n"
      "7,\n"
      "2,\n"
      "         0\n"
      "         0\n"
      "        11\n"
      "1,2,3,4,5,6,7,8,9,10,\n"
      "11,\n"
      "3,3,3,3,3,3,3,3,3,3,\n"
      "3,\n"
      "21\n"
      "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,\n"
      "21,\n"
      "3\n"
      "1,4,7,\n"
      "12,0,0\n"
      "1,\n"
      "40,0,1\n"
      "-2147483648,5,\n";
  const std::string text = read_text("myout.data");
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  EXPECT_EQ(compare(), 1);
}

// Haploid individuals at a locus of three alleles give one allele number, at a two-allele
// locus their single allele (candidates of ploidy 1) or the sum of both slots (offspring).
TEST_F(CheckData, HaploidIndividualsGiveOneAlleleNumber) {
  minimal_fixture(3, 2);
  auto& v = variables;
  v.haplodiploid = 1;
  v.ploidy(1) = 1;
  v.obsnumallele(1) = 3;
  v.offploid(1) = 1;
  // Offspring at locus 1: 2/-, 1/3, missing; at locus 2: 1/1 (haploid 1), 1/2, 2/2.
  const int1 off[3][2][2] = {{{2, 0}, {1, 1}}, {{1, 3}, {1, 2}}, {{0, 0}, {2, 2}}};
  for (int4 i = 1; i <= 3; ++i)
    for (int4 l = 1; l <= 2; ++l)
      for (int4 a = 1; a <= 2; ++a) v.indivgtype(a, l, i) = off[i - 1][l - 1][a - 1];
  v.numcandidate(1) = 2;
  v.numcandidate(2) = 1;
  v.allcandidate = 3;
  v.cndparentid.allocate(Dim(0, 2), 2);
  v.cndparentid(1, 1) = "F1";
  v.cndparentid(2, 1) = "F2";
  v.cndparentid(1, 2) = "M1";
  v.cndgtype.allocate(2, 2, 3);
  // Fathers F1 (3, 2) and F2 (1, 1), alleles at locus 1 and 2; mother M1 2/3 and 1/2.
  v.cndgtype(1, 1, 1) = 3;
  v.cndgtype(1, 2, 1) = 2;
  v.cndgtype(1, 1, 2) = 1;
  v.cndgtype(1, 2, 2) = 1;
  v.cndgtype(1, 1, 3) = 2;
  v.cndgtype(2, 1, 3) = 3;
  v.cndgtype(1, 2, 3) = 1;
  v.cndgtype(2, 2, 3) = 2;
  write_copy();
  const std::string blanks18(18, ' ');
  const std::string expected = parse_hex(
      "05000000 02 0103 0000 05000000"
      "03000000 02 03 04 03000000"
      "3c000000 \"O1" +
      blanks18 + "\" \"O2" + blanks18 + "\" \"O3" + blanks18 +
      "\" 3c000000"
      "02000000 03 01 02000000"
      "02000000 02 01 02000000"
      "28000000 \"F1" +
      blanks18 + "\" \"F2" + blanks18 +
      "\" 28000000"
      "02000000 02 03 02000000"
      "01000000 03 01000000"
      "14000000 \"M1" +
      blanks18 + "\" 14000000");
  EXPECT_EQ(read_text("myout.GtypeData"), expected);
  EXPECT_EQ(compare(), 1);
}

// Either half of the copy missing: status -1; a copy that cannot be read to its end, or that
// holds more than the current data: status 0.
TEST_F(CheckData, StatusOfMissingDamagedAndLongerCopies) {
  const std::string text = data_file("check_data_golden.data");
  const std::string bytes = parse_hex(data_file("check_data_golden.GtypeData.hex"));
  struct Row {
    const char* name;
    bool textfile;
    bool recordfile;
    std::string textcontent;
    std::string recordcontent;
    int4 status;
  };
  // The first record of the golden bytes with one byte fewer, framed correctly.
  const std::string shortfirst = parse_hex("03000000 010200 03000000") + bytes.substr(12);
  const Row rows[] = {
      {"no copy", false, false, "", "", -1},
      {"no .GtypeData", true, false, text, "", -1},
      {"no .data", false, true, "", bytes, -1},
      {"both intact", true, true, text, bytes, 1},
      {"line layout differs", true, true,
       text.substr(0, 53) + "1 2\n0.3, 0.7\n" + text.substr(53 + 42), bytes, 1},
      {".data cut after the known parents", true, true, text.substr(0, text.find("         0")),
       bytes, 0},
      {".data empty", true, true, "", bytes, 0},
      {".data with a value more", true, true, text + "7,\n", bytes, 0},
      {".data with a blank line more", true, true, text + "   \n", bytes, 1},
      {".GtypeData cut inside a record", true, true, text, bytes.substr(0, bytes.size() - 3), 0},
      {".GtypeData without its last record", true, true, text, bytes.substr(0, bytes.size() - 28),
       0},
      {".GtypeData with an empty record more", true, true, text,
       bytes + parse_hex("00000000 00000000"), 0},
      {".GtypeData with a short first record", true, true, text, shortfirst, 0},
      {"a real written with asterisks", true, true,
       text.substr(0, 53) + "         1         2\n ********* 0.7000000\n" + text.substr(53 + 42),
       bytes, 0},
  };
  ASSERT_EQ(text.substr(53, 42), "         1         2\n 0.3000000 0.7000000\n");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove("myout.data");
    std::filesystem::remove("myout.GtypeData");
    if (row.textfile) write_text("myout.data", row.textcontent);
    if (row.recordfile) write_text("myout.GtypeData", row.recordcontent);
    small_fixture();
    EXPECT_EQ(compare(), row.status);
    EXPECT_EQ(std::filesystem::exists("myout.data"), row.textfile) << "the copy stays on disk";
  }
}

TEST_F(CheckData, ChangeStatusIsComparedOnceAndResetWithTheModules) {
  small_fixture();
  EXPECT_EQ(data_change_status(), -1);
  write_copy();
  EXPECT_EQ(data_change_status(), -1) << "kept from the first comparison";
  small_fixture();  // resets the modules
  EXPECT_EQ(data_change_status(), 0);
  variables.droprate(1) = 0.06;
  EXPECT_EQ(data_change_status(), 0) << "kept from the first comparison";
  small_fixture();
  variables.droprate(1) = 0.06;
  EXPECT_EQ(data_change_status(), 1);
}

TEST_F(CheckData, WritingIsAnnouncedOnlyWhenDisplaying) {
  for (const int4 display : {1, 0}) {
    SCOPED_TRACE(display);
    small_fixture();
    variables.displayq = display;
    testing::internal::CaptureStdout();
    checkdata();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              display == 1 ? "Writing data to files...\n" : "");
    std::filesystem::remove("myout.data");
  }
}

TEST_F(CheckData, UnreadableTextCopyStopsWithItsName) {
  std::filesystem::create_directory("myout.data");
  write_text("myout.GtypeData", "");
  small_fixture();
  const testing_support::StageOutcome o = testing_support::run_stage([] { checkdata(); });
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.errorfile,
            "Failed openning myout.data\n"
            "Program stopped in subroutine SetStartLoc, dataset = myout.\n");
}

}  // namespace
}  // namespace kinrad
