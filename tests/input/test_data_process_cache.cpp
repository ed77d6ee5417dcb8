// The file of corrected allele frequencies: its record layout (read back by an independent
// parse of the framing), its reuse on unchanged data, and its renewal when it is damaged or the
// data changed.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/modules/variables.hpp"
#include "core/replacing_file.hpp"
#include "core/unformatted_file.hpp"
#include "data_process_fixture.hpp"
#include "input/input.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using dptest::SampleShape;
using dptest::setup;
using testing_support::TempWorkDir;

const char* const cachefile = "dp.InbAlleleFr";

// Twelve loci with windows of 3, 2, 4, 2, 3 | 3, 2, 2, 5, 3 | 3 | 4 doubles (a dominant locus
// with one phenotype and a codominant one with one allele both keep a window of two).
SampleShape twelveloci() {
  SampleShape s;
  s.fathers = 1;
  s.mothers = 1;
  s.ewen = 1.0;  // the family correction always runs
  s.loci = {
      {3, false, 0, 0, "11 12 13 12 23 11", "12 13"},
      {2, false, 0, 0, "11 12 22 11 12 11", "11 12"},
      {4, false, 0, 0, "12 34 13 11 24 14", "11 12"},
      {1, true, 0, 0, "11 11 00 11 11 11", "11 11"},
      {3, false, 0, 0, "33 13 23 11 11 12", "11 33"},
      {3, false, 0, 0.01, "12 13 11 11 23 11", "11 22"},
      {1, false, 0, 0, "11 11 11 11 11 11", "11 11"},
      {2, true, 0.05, 0, "11 22 11 11 22 11", "11 22"},
      {5, false, 0, 0, "12 34 15 11 25 13", "11 14"},
      {3, false, 0, 0, "11 12 13 12 23 11", "12 13"},
      {3, false, 0, 0.02, "11 11 13 12 23 11", "12 13"},
      {4, false, 0, 0, "12 34 13 11 24 14", "11 12"},
  };
  return s;
}

// One analysis of the fixture; status is the answer of the change detection (1: the data
// equal the stored copy, 0: they differ, -1: no copy).
void analyse(int4 status) {
  setup(twelveloci());
  variables.displayq = 1;
  variables.data_copy_status = status;
  dataprocess();
}

std::vector<double> frequencies() {
  std::vector<double> f;
  for (int4 l = 1; l <= variables.numloci; ++l)
    for (index_t a = 1; a <= variables.obsallelefre(l).a.size(); ++a)
      f.push_back(variables.obsallelefre(l).a(a));
  return f;
}

std::string bytes(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void putbytes(const std::string& name, const std::string& b) {
  std::ofstream out(name, std::ios::binary);
  out << b;
}

// The records of a file framed by 4-byte lengths, parsed here on their own.
std::vector<std::vector<double>> records(const std::string& b) {
  std::vector<std::vector<double>> r;
  std::size_t at = 0;
  while (at < b.size()) {
    std::int32_t head = 0, tail = 0;
    std::memcpy(&head, b.data() + at, 4);
    std::vector<double> v(static_cast<std::size_t>(head) / 8);
    std::memcpy(v.data(), b.data() + at + 4, static_cast<std::size_t>(head));
    std::memcpy(&tail, b.data() + at + 4 + static_cast<std::size_t>(head), 4);
    EXPECT_EQ(head, tail);
    EXPECT_EQ(head % 8, 0);
    r.push_back(v);
    at += 8 + static_cast<std::size_t>(head);
  }
  return r;
}

TEST(DataProcessCache, FiveLociToARecordThenOnePerLocus) {
  TempWorkDir dir("dp_layout");
  analyse(-1);
  const auto rec = records(bytes(cachefile));
  const std::vector<std::size_t> lengths = {14, 15, 3, 4};
  ASSERT_EQ(rec.size(), lengths.size());
  std::vector<double> joined;
  for (std::size_t k = 0; k < rec.size(); ++k) {
    EXPECT_EQ(rec[k].size(), lengths[k]) << "record " << k + 1;
    joined.insert(joined.end(), rec[k].begin(), rec[k].end());
  }
  EXPECT_EQ(joined, frequencies());
  EXPECT_FALSE(std::filesystem::exists(replacing_temporary(cachefile)));
}

TEST(DataProcessCache, UnchangedDataReuseTheFileAndSkipTheCorrection) {
  TempWorkDir dir("dp_reuse");
  analyse(-1);
  const std::vector<double> corrected = frequencies();
  const std::string first = bytes(cachefile);

  // The same data again: the stored values come back as they are.
  analyse(1);
  EXPECT_EQ(frequencies(), corrected);
  EXPECT_EQ(bytes(cachefile), first);

  // Values that no correction produces show that the file was read instead of recomputed.
  std::vector<double> marker;
  {
    UnformattedWriter w;
    ASSERT_TRUE(w.open(cachefile));
    const std::vector<std::size_t> lengths = {14, 15, 3, 4};
    for (std::size_t k = 0; k < lengths.size(); ++k) {
      std::vector<double> v;
      for (std::size_t j = 0; j < lengths[k]; ++j) v.push_back(0.001 * (marker.size() + 1 + j));
      marker.insert(marker.end(), v.begin(), v.end());
      w.write_record(v);
    }
    ASSERT_TRUE(w.close());
  }
  const std::string markerbytes = bytes(cachefile);
  analyse(1);
  EXPECT_EQ(frequencies(), marker);
  EXPECT_EQ(bytes(cachefile), markerbytes);
  // The starting values are not touched by the file.
  EXPECT_EQ(variables.obsallelefre0(1, 1), 9.0 / 16);
}

TEST(DataProcessCache, DamagedOrForeignFileIsRecomputedAndRewritten) {
  TempWorkDir dir("dp_damaged");
  analyse(-1);
  const std::vector<double> corrected = frequencies();
  const std::string good = bytes(cachefile);
  // A valid record of n doubles.
  auto record = [](std::size_t n, double x) {
    std::string r(4 + 8 * n + 4, '\0');
    const std::int32_t len = static_cast<std::int32_t>(8 * n);
    std::memcpy(r.data(), &len, 4);
    for (std::size_t j = 0; j < n; ++j) std::memcpy(r.data() + 4 + 8 * j, &x, 8);
    std::memcpy(r.data() + 4 + 8 * n, &len, 4);
    return r;
  };
  const std::string firsttwo = record(14, 0.5) + record(15, 0.5);
  struct Row {
    const char* name;
    std::string content;
    int4 status;
  };
  const std::vector<Row> rows = {
      {"cut inside the last record", good.substr(0, good.size() - 5), 1},
      {"last record missing", firsttwo + record(3, 0.5), 1},
      {"one record too many", good + record(4, 0.5), 1},
      {"a record one value short", firsttwo + record(2, 0.5) + record(4, 0.5), 1},
      {"a record one value long", firsttwo + record(4, 0.5) + record(4, 0.5), 1},
      {"empty file", "", 1},
      {"data changed since", firsttwo + record(3, 0.5) + record(4, 0.5), 0},
      {"no data copy", firsttwo + record(3, 0.5) + record(4, 0.5), -1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    putbytes(cachefile, r.content);
    analyse(r.status);
    EXPECT_EQ(frequencies(), corrected);
    EXPECT_EQ(bytes(cachefile), good);
  }
}

}  // namespace
}  // namespace kinrad
