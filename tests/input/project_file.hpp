#pragma once
// A project input file assembled item by item for the reader tests, and a runner that reads it
// in a fresh working directory. Items 1 to 21 are a valid block (dioecious, diploid, full
// likelihood); the later items default to no candidates and no relationships.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "input/read_data.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::readtest {

struct ProjectFile {
  // Items 1 to 21, one record each; item 3 (the sample size) is written from `offspring`
  // unless `samplesize` is set, item 4 from `loci`.
  std::string samplesize;
  int loci = 2;
  std::string sexes = "2";         // item 7
  std::string inbreeding = "0";    // item 8
  std::string haplodiploid = "0";  // item 9
  std::string matings = "0 0";     // item 10
  std::string method = "1";        // item 20
  // Items 22 to 25.
  std::string markerids = "@";
  std::string markertypes = "0@";
  std::string droprates = "0@";
  std::string otherrates = "0@";
  // Item 26, one entry per offspring (an entry may hold several records).
  std::vector<std::string> offspring;
  // Items 27 to 29; item 28 is written from the numbers of lines unless `numbers` is set.
  std::string proportions = "0.5 0.5";
  std::string numbers;
  std::vector<std::string> fathers;
  std::vector<std::string> mothers;
  // Items 30 to 33, fathers' block first.
  std::string knownpaternity = "0 0";
  std::string knownmaternity = "0 0";
  std::string paternalsibships = "0";
  std::string maternalsibships = "0";
  std::string excludedpaternity = "0";
  std::string excludedmaternity = "0";
  std::string excludedpaternalsibships = "0";
  std::string excludedmaternalsibships = "0";

  std::vector<std::string> records() const {
    const std::string n = samplesize.empty() ? std::to_string(offspring.size()) : samplesize;
    std::vector<std::string> r = {"MyData            ! dataset",
                                  "myout             ! output",
                                  n + "   ! offspring",
                                  std::to_string(loci) + "   ! loci",
                                  "1234",
                                  "0",
                                  sexes,
                                  inbreeding,
                                  haplodiploid,
                                  matings,
                                  "0",
                                  "0",
                                  "0",
                                  "0",
                                  "1",
                                  "1",
                                  "0",
                                  "1000",
                                  "0",
                                  method,
                                  "1",
                                  markerids,
                                  markertypes,
                                  droprates,
                                  otherrates};
    r.insert(r.end(), offspring.begin(), offspring.end());
    r.push_back(proportions);
    r.push_back(numbers.empty()
                    ? std::to_string(fathers.size()) + " " + std::to_string(mothers.size())
                    : numbers);
    r.insert(r.end(), fathers.begin(), fathers.end());
    r.insert(r.end(), mothers.begin(), mothers.end());
    for (const std::string* s : {&knownpaternity, &knownmaternity, &paternalsibships,
                                 &maternalsibships, &excludedpaternity, &excludedmaternity,
                                 &excludedpaternalsibships, &excludedmaternalsibships})
      r.push_back(*s);
    return r;
  }

  std::string text() const {
    std::string s;
    for (const auto& l : records()) s += l + "\n";
    return s;
  }
};

// The error file of a data error: the message, the empty line of its own line feed, the two
// fixed lines and the closing line.
inline std::string dataerror(const std::string& message) {
  return message + "\n\n" + "Errors in DATA. Insufficient data or incorrect format.\n" +
         "Please check DATA and format and then re-run the program\n" +
         "Program stopped in subroutine StopOnDataError, dataset = myout.\n";
}

// The error file of a stop in a named routine with the given lines.
inline std::string routinestop(const std::string& lines, const std::string& routine) {
  return lines + "\nProgram stopped in subroutine " + routine + ", dataset = myout.\n";
}

class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_all_modules(); }

  // Runs the reader on `text` as kinrad2.dat; returns the exit status of the stop (0 when the
  // reader returned normally) and keeps the error file's text and the screen output.
  int run(const std::string& text) {
    reset_all_modules();
    std::filesystem::remove("Kinrad2.ErrorMessage");
    testing_support::write_text("kinrad2.dat", text);
    testing::internal::CaptureStdout();
    int status = 0;
    try {
      readdata();
    } catch (const ProgramStop& stop) {
      status = report_program_stop(stop, 0);
    }
    screen = testing::internal::GetCapturedStdout();
    errorfile = testing_support::read_text("Kinrad2.ErrorMessage");
    return status;
  }
  int run(const ProjectFile& p) { return run(p.text()); }

  testing_support::TempWorkDir dir{"reader_items"};
  std::string errorfile;
  std::string screen;
};

}  // namespace kinrad::readtest
