// Items 1 to 21 of the project input file. Expected error-file texts are assembled by hand from
// the reader's messages and the error stop's rules (a data error's message, one line feed of its
// own, the two fixed lines and the closing line; a message that already ends in a line feed
// gets a second one).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "input/input.hpp"
#include "support/module_reset.hpp"
#include "support/run_stage.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using testing_support::read_text;
using testing_support::TempWorkDir;
using testing_support::write_text;

// A valid block of items 1 to 21, one record each, with comments after the values.
std::vector<std::string> validitems() {
  return {"MyData            ! 1 dataset name",
          "myout             ! 2 output file name",
          "20                ! 3 offspring",
          "3                 ! 4 loci",
          "1234              ! 5 seed",
          "0                 ! 6 update allele frequencies",
          "2                 ! 7 dioecious",
          "0                 ! 8 inbreeding",
          "0                 ! 9 haplodiploid",
          "0 0               ! 10 matings",
          "1                 ! 11 clones",
          "1                 ! 12 scaling",
          "0                 ! 13 prior",
          "0                 ! 14 known frequencies",
          "2                 ! 15 runs",
          "1                 ! 16 length",
          "0                 ! 17 monitor method",
          "1000              ! 18 monitor interval",
          "0                 ! 19 platform",
          "1                 ! 20 method",
          "2                 ! 21 precision"};
}

std::string rawjoin(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

// Items 22 to 33 for n offspring at 3 error-free codominant loci, without candidates and
// relationships, so that a file whose first 21 items are valid is read whole.
std::string tail(int n) {
  std::string s = "@\n0@\n0@\n0@\n";
  for (int i = 1; i <= n; ++i) s += "O" + std::to_string(i) + " 1 2 1 2 1 2\n";
  s += "0.5 0.5\n0 0\n0 0\n0 0\n0\n0\n0\n0\n0\n0\n";
  return s;
}

// Items 1 to 21 followed by a valid tail for the sample size of item 3 (20 when item 3 is not
// a usable size: the reader stops before the tail then).
std::string join(const std::vector<std::string>& lines) {
  int n = std::atoi(lines[2].c_str());
  if (n < 1 || n > 32767) n = 20;
  return rawjoin(lines) + tail(n);
}

// The file with item k (1-based) replaced by `line` (which may hold several records).
std::string withitem(int k, const std::string& line) {
  auto items = validitems();
  items[static_cast<std::size_t>(k - 1)] = line;
  return join(items);
}

std::string dataerror(const std::string& message, const std::string& stem = "myout") {
  return message + "\n\n" + "Errors in DATA. Insufficient data or incorrect format.\n" +
         "Please check DATA and format and then re-run the program\n" +
         "Program stopped in subroutine StopOnDataError, dataset = " + stem + ".\n";
}

class ReadParameters : public testing_support::ModuleReset {
 protected:
  // Runs the reader on `text` as kinrad2.dat; returns the exit status of the stop (0 when
  // the reader returned normally) and leaves the error file's text in `errorfile`.
  int run(const std::string& text, std::string* screen = nullptr) {
    write_text("kinrad2.dat", text);
    const testing_support::StageOutcome o = testing_support::run_stage([] { readdata(); });
    if (screen) *screen = o.screen;
    errorfile = o.errorfile;
    return o.status;
  }

  TempWorkDir dir{"read_parameters"};
  std::string errorfile;
};

TEST_F(ReadParameters, RangeAndIntegerMessages) {
  struct Row {
    const char* what;
    std::string text;
    std::string expected;
  };
  const std::string intline = "It must be an integer.";
  const std::vector<Row> rows = {
      {"sample size 0", withitem(3, "0"),
       dataerror("The offspring sample size should be in the range [1, 32767]!")},
      {"sample size -5", withitem(3, "-5"),
       dataerror("The offspring sample size should be in the range [1, 32767]!")},
      {"sample size 32768", withitem(3, "32768"),
       dataerror("The offspring sample size should be in the range [1, 32767]!")},
      {"sample size 1x0", withitem(3, "1x0"),
       dataerror("Error in reading line 3, Offspring Sample Size. It must be an integer. But it "
                 "reads \"1x0\"\n")},
      {"loci 0", withitem(4, "0"), dataerror("The number of loci should be > 0!")},
      {"loci as a null value", withitem(4, ",,"),
       dataerror("Error in reading line 4, Number of Loci. " + intline + "\n")},
      {"seed as a slash", withitem(5, "/"),
       dataerror("Error in reading line 5, Random Number Seed. " + intline + "\n")},
      {"update -1", withitem(6, "-1"),
       dataerror("The indicator for updating allele frequency should be either 0 or 1!")},
      {"update 2", withitem(6, "2"),
       dataerror("The indicator for updating allele frequency should be either 0 or 1!")},
      {"sexes 3", withitem(7, "3"),
       dataerror("The indicator should be 2/1 for Dioecious/Monoecious!")},
      {"sexes 0", withitem(7, "0"),
       dataerror("The indicator should be 2/1 for Dioecious/Monoecious!")},
      {"inbreeding 2", withitem(8, "2"),
       dataerror("The indicator should be 0/1 for absense/presence of inbreeding!")},
      {"ploidy 2", withitem(9, "2"),
       dataerror("The indicator for species ploidy should be either 0 (diploid) or 1 "
                 "(haplodiploid)!")},
      {"matings -1 0", withitem(10, "-1 0"),
       dataerror("Max numbers of matings per male & female should be 0 (Unconstrained) or > 0!")},
      {"matings 1x 0", withitem(10, "1x 0"),
       dataerror("Error in reading line 10, Max numbers of matings per male and female. It must "
                 "be an integer. But it reads \"1x  0\"\n")},
      {"clones 2", withitem(11, "2"),
       dataerror("The indicator for clone inference should be either 0 for No or 1 for Yes!")},
      {"scaling -1", withitem(12, "-1"),
       dataerror("The indicator for full sibship size scaling should be either 0 for No or 1 "
                 "for Yes!")},
      {"prior 5", withitem(13, "5"),
       dataerror("The indicator for sibship prior should be either 0 (No Prior), 1 (Weak Prior), "
                 "2 (Medium Prior), 3 (Strong Prior), 4 (Optimal Prior for Ne)!")},
      {"prior 1 with a size of 0", withitem(13, "1 0 5"),
       dataerror("The mean sibship size (paternal or maternal) is either too big or too small!")},
      {"prior 3 with a size above the sample", withitem(13, "3 3 20.5"),
       dataerror("The mean sibship size (paternal or maternal) is either too big or too small!")},
      {"prior 2 unreadable size", withitem(13, "2 abc 2"),
       dataerror("Error in reading line mean paternal & maternal sibship size!")},
      {"prior 4 Ne below 1", withitem(13, "4 0.5 1"),
       dataerror("The prior effective size (Ne) is either too big or too small!")},
      {"prior 4 ratio 0", withitem(13, "4 100 0"),
       dataerror("The prior male to female sex ratio is either too big or too small!")},
      {"prior 4 ratio below the single-precision 1e-8", withitem(13, "4 100 9.9999999e-9"),
       dataerror("The prior male to female sex ratio is either too big or too small!")},
      {"known frequencies 2", withitem(14, "2"),
       dataerror("The indicator for allele frequency should be either 0 (unknown) or 1 (known)!")},
      {"known frequencies with a count of 0", withitem(14, "1\n0@"),
       dataerror("The number of alleles should be > 0!")},
      {"known frequencies with a negative count", withitem(14, "1\n2 -1 3"),
       dataerror("The number of alleles should be > 0!")},
      {"known frequencies, unreadable frequency", withitem(14, "1\n2@\n1 7@\n0.5 x"),
       dataerror("Error in reading population alleles & frequencies per locus")},
      {"@ labels with differing counts", withitem(14, "1\n2 3 2\n1 9@\n0.5 0.5"),
       dataerror("All loci must have the same number of alleles when their labels and "
                 "frequencies are given once with @!")},
      {"runs 0", withitem(15, "0"), dataerror("The number of runs should be > 0!")},
      {"runs abc", withitem(15, "abc"),
       dataerror("Error in reading Number of Runs. It must be an integer. But it reads \"abc\"\n")},
      {"length 5", withitem(16, "5"),
       dataerror("The length of a run should be either 0 (very short), 1 (short), 2 (medium), 3 "
                 "(long) or 4 (very long)!")},
      {"monitor method 2", withitem(17, "2"),
       dataerror("The indicator MonitorMethod should be either 0 (by Iterate#) or 1 (by Time in "
                 "seconds)!")},
      {"monitor interval 0", withitem(18, "0"), dataerror("The MonitorInterval should be > 0!")},
      {"platform 2", withitem(19, "2"),
       dataerror("The indicator for platform should be either 1 (Windows) or 0 (Others)!")},
      {"method 3", withitem(20, "3"),
       dataerror("The indicator for analysis method should be 1 (FL: Full Likelihood), 0 (PS: "
                 "Pairwise Score), or 2 (PS guided FL)!")},
      {"precision 4", withitem(21, "4"),
       dataerror("The LikelihoodPrecision should be 0/1/2/3 for low/medium/high/very high "
                 "precision!")},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    reset_all_modules();
    EXPECT_EQ(run(r.text), 1);
    EXPECT_EQ(errorfile, r.expected);
  }
}

TEST_F(ReadParameters, MonoeciousHaplodiploidIsRefused) {
  auto items = validitems();
  items[6] = "1";
  items[8] = "1";
  EXPECT_EQ(run(join(items)), 1);
  EXPECT_EQ(errorfile, dataerror("For monoecious species, only diploid model is implemented!"));
}

TEST_F(ReadParameters, FileEndingBeforeAnItem) {
  auto items = validitems();
  items.resize(14);
  EXPECT_EQ(run(rawjoin(items)), 1);
  EXPECT_EQ(errorfile, dataerror("Error in reading Number of Runs. It must be an integer.\n"));
}

TEST_F(ReadParameters, MissingInputFileNamesItWithoutASecondLine) {
  variables.inputfilename = "nofile.dat";
  const testing_support::StageOutcome o = testing_support::run_stage([] { readdata(); });
  const std::string& screen = o.screen;
  const int status = o.status;
  EXPECT_EQ(status, 1);
  const std::string file =
      "Input file nofile.dat does not exist!\n"
      "Program stopped in subroutine ReadData, dataset = .\n";
  EXPECT_EQ(read_text("Kinrad2.ErrorMessage"), file);
  EXPECT_EQ(screen, "Opening & reading data input file: nofile.dat\n\n" + file);
}

TEST_F(ReadParameters, UnwritableOutputPathKeepsTheInputFileLine) {
  variables.outputfilename = "no/such/dir/out";
  EXPECT_EQ(run(join(validitems())), 1);
  EXPECT_EQ(errorfile,
            "Error in project name or path: no/such/dir/out\n"
            "kinrad2.dat\n"
            "Program stopped in subroutine ReadData, dataset = no/such/dir/out.\n");
}

TEST_F(ReadParameters, ValidBlockSetsParametersAndLeavesNoProbeFile) {
  std::string screen;
  ASSERT_EQ(run(join(validitems()), &screen), 0) << errorfile;
  EXPECT_EQ(screen,
            "Opening & reading data input file: kinrad2.dat\n"
            "Reading 20 offspring genotypes at 3 loci...\n\r  \n");
  EXPECT_EQ(variables.datasetname, "MyData");
  EXPECT_EQ(variables.fname, "myout");
  EXPECT_FALSE(std::filesystem::exists("myout.data"));
  EXPECT_EQ(variables.smplsize, 20);
  EXPECT_EQ(variables.numloci, 3);
  EXPECT_EQ(variables.i_seed, 1234);
  EXPECT_EQ(variables.numsex, 2);
  EXPECT_EQ(variables.ploidy(1), 2);
  EXPECT_EQ(variables.ploidy(2), 2);
  EXPECT_EQ(variables.maxmatings(1), 20);
  EXPECT_EQ(variables.maxmatings(2), 20);
  EXPECT_EQ(variables.allowclone, 1);
  EXPECT_EQ(variables.fsscaleq, 1);
  EXPECT_EQ(variables.priortype, 0);
  EXPECT_EQ(variables.ewenmeannumprnt(1), 1e99);
  EXPECT_EQ(variables.numrun, 2);
  EXPECT_EQ(variables.lengthrun, 1);
  EXPECT_EQ(variables.monitorinterval, 1000);
  EXPECT_EQ(variables.fulllikelihoodmethodq, 1);
  EXPECT_EQ(variables.quicksearchq, 0);
  EXPECT_EQ(variables.likelihoodprecision, 2);
  EXPECT_EQ(variables.updateallelefre, 0);
  EXPECT_EQ(variables.stroffidx(7), "7");
  EXPECT_EQ(variables.stroffidx(20), "20");
  for (index_t i = 1; i <= 3; ++i) EXPECT_TRUE(variables.errmsg(i).blank());
}

TEST_F(ReadParameters, DerivedSettings) {
  struct Row {
    const char* what;
    std::vector<std::pair<int, std::string>> changes;  // item number, record text
    int4 fsscaleq, maxmale, maxfemale, update, precision, fulllikelihood, quicksearch;
  };
  const std::vector<Row> rows = {
      {"14 offspring switch scaling off", {{3, "14"}}, 0, 14, 14, 0, 2, 1, 0},
      {"15 offspring keep scaling", {{3, "15"}}, 1, 15, 15, 0, 2, 1, 0},
      {"monogamous males", {{3, "100"}, {10, "1, 0"}}, 1, 1, 100, 0, 2, 1, 0},
      {"method 0 with updating", {{6, "1"}, {20, "0"}, {21, "3"}}, 1, 20, 20, 2, 1, 0, 1},
      {"method 2 with updating", {{6, "1"}, {20, "2"}}, 1, 20, 20, 1, 2, 1, 1},
      {"known frequencies stop updating",
       {{6, "1"}, {14, "1\n2@\n1 2@\n0.4 0.6"}, {20, "0"}},
       1,
       20,
       20,
       0,
       1,
       0,
       1},
      {"a long integer token counts its first 9 characters",
       {{18, "1234567890"}},
       1,
       20,
       20,
       0,
       2,
       1,
       0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    reset_all_modules();
    auto items = validitems();
    for (const auto& [k, text] : r.changes) items[static_cast<std::size_t>(k - 1)] = text;
    ASSERT_EQ(run(join(items)), 0) << errorfile;
    EXPECT_EQ(variables.fsscaleq, r.fsscaleq);
    EXPECT_EQ(variables.maxmatings(1), r.maxmale);
    EXPECT_EQ(variables.maxmatings(2), r.maxfemale);
    EXPECT_EQ(variables.updateallelefre, r.update);
    EXPECT_EQ(variables.likelihoodprecision, r.precision);
    EXPECT_EQ(variables.fulllikelihoodmethodq, r.fulllikelihood);
    EXPECT_EQ(variables.quicksearchq, r.quicksearch);
  }
  reset_all_modules();
  ASSERT_EQ(run(withitem(18, "1234567890")), 0);
  EXPECT_EQ(variables.monitorinterval, 123456789);
}

TEST_F(ReadParameters, PriorValues) {
  ASSERT_EQ(run(withitem(13, "2  1.5  2.5   ! sizes")), 0) << errorfile;
  EXPECT_EQ(variables.priortype, 2);
  EXPECT_EQ(variables.ewenmeannumprnt(1), 1.5);
  EXPECT_EQ(variables.ewenmeannumprnt(2), 2.5);
  reset_all_modules();
  // The lower bound of the sex ratio is 1e-8 held in single precision, so 1e-8 passes.
  ASSERT_EQ(run(withitem(13, "4 100 1e-8")), 0) << errorfile;
  EXPECT_EQ(variables.ewenmeannumprnt(1), 100.0);
  EXPECT_EQ(variables.ewenmeannumprnt(2), 1e-8);
}

TEST_F(ReadParameters, KnownAlleleFrequencies) {
  // "5@" gives five alleles to every locus; a label record ending in "9@" copies locus 1's
  // labels and frequencies to every locus.
  ASSERT_EQ(run(withitem(14, "1\n5@\n1 2 3 4 9@\n0.1 0.2 0.3 0.15 0.25")), 0) << errorfile;
  ASSERT_EQ(variables.popnumallele.size(), 3);
  for (int4 l = 1; l <= 3; ++l) {
    SCOPED_TRACE(l);
    EXPECT_EQ(variables.popnumallele(l), 5);
    EXPECT_EQ(variables.popallele(1, l), 1);
    EXPECT_EQ(variables.popallele(5, l), 9);
    EXPECT_EQ(variables.popallelefre(4, l), 0.15);
    EXPECT_EQ(variables.popallelefre(5, l), 0.25);
  }
  reset_all_modules();
  // Per-locus counts, labels and frequencies; shorter loci are zero-filled.
  ASSERT_EQ(run(withitem(14, "1\n2 3 1\n10 20\n0.5 0.5\n7 8 9\n0.2 0.3 0.5\n4\n1.0")), 0)
      << errorfile;
  EXPECT_EQ(variables.popallele.size(1), 3);
  EXPECT_EQ(variables.popallele(2, 1), 20);
  EXPECT_EQ(variables.popallele(3, 1), 0);
  EXPECT_EQ(variables.popallele(3, 2), 9);
  EXPECT_EQ(variables.popallelefre(3, 2), 0.5);
  EXPECT_EQ(variables.popallele(1, 3), 4);
  EXPECT_EQ(variables.popallelefre(1, 3), 1.0);
  EXPECT_EQ(variables.popallelefre(2, 3), 0.0);
}

TEST_F(ReadParameters, CommandLineOverridesAndRecordEnds) {
  variables.outputfilename = "fromcmd";
  variables.newseed = -77;
  variables.compfsprob = 0;
  // CR LF records and a last record without a line end.
  std::string text;
  for (const auto& l : validitems()) text += l + "\r\n";
  std::string rest = tail(20);
  for (char c : rest) {
    if (c == '\n') text += '\r';
    text += c;
  }
  text.resize(text.size() - 2);
  ASSERT_EQ(run(text), 0) << errorfile;
  EXPECT_EQ(variables.fname, "fromcmd");
  EXPECT_EQ(variables.i_seed, -77);
  EXPECT_EQ(variables.allowclone, 0);
  EXPECT_EQ(variables.likelihoodprecision, 2);
}

TEST_F(ReadParameters, ExistingDataCopyIsLeftAlone) {
  write_text("myout.data", "kept");
  ASSERT_EQ(run(join(validitems())), 0) << errorfile;
  EXPECT_EQ(read_text("myout.data"), "kept");
}

}  // namespace
}  // namespace kinrad
