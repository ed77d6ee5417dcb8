#pragma once
// A project input file assembled item by item. Items 1 to 21 are a valid block (dioecious,
// diploid, full likelihood, stem "myout"); the later items default to no candidates and no
// relationships. Also the texts of the error file that the reader's stops leave.
#include <string>
#include <vector>

namespace kinrad::testing_support {

struct ProjectFile {
  // Items 1 to 21, one record each; item 3 (the sample size) is written from `offspring`
  // unless `samplesize` is set, item 4 from `loci`.
  std::string samplesize;
  int loci = 2;
  std::string sexes = "2";         // item 7
  std::string update = "0";        // item 6
  std::string inbreeding = "0";    // item 8
  std::string haplodiploid = "0";  // item 9
  std::string matings = "0 0";     // item 10
  std::string prior = "0";         // item 13
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
                                  update,
                                  sexes,
                                  inbreeding,
                                  haplodiploid,
                                  matings,
                                  "0",
                                  "0",
                                  prior,
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

}  // namespace kinrad::testing_support
