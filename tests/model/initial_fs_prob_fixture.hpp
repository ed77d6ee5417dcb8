#pragma once
// Runs the real reading and preparation of a project input file, then the per-analysis
// set-up, in a fresh working directory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "input/data_process.hpp"
#include "input/initialize.hpp"
#include "input/read_data.hpp"
#include "model/initial_fs_prob.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::setuptest {

// A project file: the fixed run parameters of the reader tests, then the given marker block,
// genotype lines and relationship items.
struct Project {
  int loci = 1;
  std::string sexes = "2";
  std::string haplodiploid = "0";
  std::string update = "0";
  std::string prior = "0";
  std::string method = "1";  // 0 pairwise score: updating frequencies then runs in rounds
  std::string types;
  std::string droprates;
  std::string otherrates;
  std::vector<std::string> offspring;
  std::vector<std::string> fathers;
  std::vector<std::string> mothers;
  std::string knownpaternity = "0 0";
  std::string knownmaternity = "0 0";
  std::string paternalsibships = "0";
  std::string maternalsibships = "0";

  std::string text() const {
    std::string s = "MyData\nmyout\n" + std::to_string(offspring.size()) + "\n" +
                    std::to_string(loci) + "\n1234\n" + update + "\n" + sexes + "\n0\n" +
                    haplodiploid + "\n0 0\n0\n0\n" + prior + "\n0\n1\n1\n0\n1000\n0\n" + method +
                    "\n1\n@\n" + types + "\n" + droprates + "\n" + otherrates + "\n";
    for (const auto& o : offspring) s += o + "\n";
    s += "0.5 0.5\n" + std::to_string(fathers.size()) + " " + std::to_string(mothers.size()) + "\n";
    for (const auto& f : fathers) s += f + "\n";
    for (const auto& m : mothers) s += m + "\n";
    s += knownpaternity + "\n" + knownmaternity + "\n" + paternalsibships + "\n" +
         maternalsibships + "\n0\n0\n0\n0\n";
    return s;
  }
};

// Reads and prepares the project; with `setup` also runs initialfsprob(1). Returns false
// (after a test failure naming the error file) when the program stopped.
inline bool prepare(const Project& p, bool setup = true) {
  reset_all_modules();
  testing_support::write_text("kinrad2.dat", p.text());
  testing::internal::CaptureStdout();
  bool ok = true;
  try {
    readdata();
    variables.displayq = 0;
    initialize();
    dataprocess();
    if (setup) initialfsprob(1, 1, variables.numloci);
  } catch (const ProgramStop& stop) {
    report_program_stop(stop, 0);
    ADD_FAILURE() << testing_support::read_text("Kinrad2.ErrorMessage");
    ok = false;
  }
  testing::internal::GetCapturedStdout();
  return ok;
}

// The values of a list whose element 0 holds the count: elements 1..count.
inline std::vector<int4> listof(const FArray<int4, 1>& a) {
  std::vector<int4> r;
  for (int4 i = 1; i <= a(0); ++i) r.push_back(a(i));
  return r;
}

template <class A>
std::vector<int4> valuesof(const A& a) {
  std::vector<int4> r;
  for (index_t i = a.lbound(1); i <= a.ubound(1); ++i) r.push_back(static_cast<int4>(a(i)));
  return r;
}

class SetupTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_all_modules(); }
  void TearDown() override { reset_all_modules(); }
  testing_support::TempWorkDir dir{"initial_fs_prob"};
};

}  // namespace kinrad::setuptest
