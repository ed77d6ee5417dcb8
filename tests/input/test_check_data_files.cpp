// What a second analysis under the same stem keeps. The first analysis writes the copy of the
// small fixture; dummy files with every checkpoint and cache name are then put beside it; the
// second analysis sees the same data, or data changed in one respect. Which files must go and
// which must stay follows from the deletion list (checkpoints 2 to 6, the error-message file,
// the dyad, candidate, clustering and frequency caches, run copies 1 up to the first missing
// number), and whether a change counts from the 1e-5 tolerance for reals, leading blanks
// ignored in identifiers and exact equality of everything else.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "check_data_fixture.hpp"
#include "core/modules/variables.hpp"
#include "input/check_data_internal.hpp"
#include "input/input.hpp"
#include "support/module_reset.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

namespace fs = std::filesystem;
using checktest::small_fixture;
using testing_support::read_text;
using testing_support::write_text;

// Files a change of the data deletes.
const std::vector<std::string> derived = {
    "myout.MidResult2",      "myout.MidResult3",     "myout.MidResult4",   "myout.MidResult5",
    "myout.MidResult6",      "Kinrad2.ErrorMessage", "myout.FSDyadLogL",   "myout.HSDyadLogL",
    "myout.DadDyadLogL",     "myout.MumDyadLogL",    "myout.BestPrntCND",  "myout.PairCluster",
    "myout.MHSDyadLogL",     "myout.PrtDyadLogL",    "myout.SelfSelfLogL", "myout.SelfOutLogL",
    "myout.MidResult3.Run1", "myout.MidResult3.Run2"};
// Files the change detection never touches: the progress log, results, a run copy after a gap
// in the run numbers, and the allele-frequency cache (data preparation removes a stale one
// itself, before the data copy is compared here).
const std::vector<std::string> untouched = {"myout.MidResult", "myout.InbAlleleFr",
                                            "myout.BestConfig", "myout.MidResult3.Run4",
                                            "other.MidResult2"};

void put_dummies() {
  for (const auto& name : derived) write_text(name, "dummy " + name + "\n");
  for (const auto& name : untouched) write_text(name, "dummy " + name + "\n");
}

class CheckDataFiles : public testing_support::ModuleReset {};

TEST_F(CheckDataFiles, FirstAnalysisDeletesEverythingDerivedAndWritesTheCopy) {
  testing_support::TempWorkDir dir{"check_files"};
  put_dummies();
  small_fixture();
  checkdata();
  for (const auto& name : derived) EXPECT_FALSE(fs::exists(name)) << name;
  for (const auto& name : untouched) EXPECT_TRUE(fs::exists(name)) << name;
  EXPECT_EQ(read_text("myout.data"), checktest::data_file("check_data_golden.data"));
}

TEST_F(CheckDataFiles, SecondAnalysisKeepsOrDeletesByTheChange) {
  struct Row {
    const char* name;
    std::function<void()> change;
    bool changed;
  };
  auto& v = variables;
  const Row rows[] = {
      {"the same data", [] {}, false},
      {"dropout rate + 5e-6", [&] { v.droprate(2) += 5e-6; }, false},
      {"dropout rate - 5e-6", [&] { v.droprate(1) -= 5e-6; }, false},
      {"dropout rate + 1e-4", [&] { v.droprate(2) += 1e-4; }, true},
      {"other-error rate 0 to 5e-6", [&] { v.othererrorrate(3) = 5e-6; }, false},
      {"other-error rate 0 to 1e-4", [&] { v.othererrorrate(3) = 1e-4; }, true},
      {"given frequency + 1e-4", [&] { v.popallelefre(2, 2) += 1e-4; }, true},
      {"given allele label", [&] { v.popallele(3, 2) = 111; }, true},
      {"proportion sampled + 5e-6", [&] { v.propprntsampled(2) += 5e-6; }, false},
      {"proportion sampled + 1e-4", [&] { v.propprntsampled(2) += 1e-4; }, true},
      {"leading blanks in an offspring identifier", [&] { v.offspringid(1) = "   O1"; }, false},
      {"leading blanks in a candidate identifier", [&] { v.cndparentid(2, 1) = " F2"; }, false},
      {"offspring identifier", [&] { v.offspringid(3) = "O3b"; }, true},
      {"candidate identifier", [&] { v.cndparentid(1, 2) = "M2"; }, true},
      {"maximum matings", [&] { v.maxmatings(1) = 2; }, true},
      {"dominant-locus phenotype", [&] { v.indivgtype(1, 1, 3) = v.indivgtype(2, 1, 3) = 2; },
       true},
      {"allele at the three-allele locus", [&] { v.indivgtype(2, 2, 1) = 2; }, true},
      {"candidate genotype", [&] { v.cndgtype(2, 3, 1) = 1; }, true},
      {"known parent added", [&] { v.indivparent(1, 2) = 1; }, true},
      {"known parent changed", [&] { v.indivparent(2, 1) = 2; }, true},
      {"known sibship added", [&] { v.knownsibship(1, 1) = v.knownsibship(2, 1) = 1; }, true},
      {"exclusion removed",
       [&] {
         v.excludedparent(3, 1).count = 0;
         v.excludedparent(3, 1).list.deallocate();
       },
       true},
      {"excluded sibship removed",
       [&] {
         v.excludedsib.deallocate();
         v.excludedsibshipq.deallocate();
         v.anyexcludedsibshipq(1) = 0;
       },
       true},
      {"excluded sib added", [&] { v.excludedsib(4, 1).a(0) = 7; }, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testing_support::TempWorkDir dir{"check_files"};
    small_fixture();
    checkdata();
    put_dummies();
    // Date the copy in the past, so that a rewrite shows in its time stamp.
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(48);
    fs::last_write_time("myout.data", old);
    fs::last_write_time("myout.GtypeData", old);

    small_fixture();  // the second analysis starts from reset modules
    row.change();
    checkdata();

    for (const auto& name : derived) EXPECT_EQ(fs::exists(name), !row.changed) << name;
    for (const auto& name : untouched) EXPECT_TRUE(fs::exists(name)) << name;
    EXPECT_EQ(fs::last_write_time("myout.data") == old, !row.changed);
    EXPECT_EQ(fs::last_write_time("myout.GtypeData") == old, !row.changed);
    // Whatever happened, the copy now on disk is one of the current data.
    int4 status = 0;
    setstartloc(1, status);
    EXPECT_EQ(status, 1);
  }
}

TEST_F(CheckDataFiles, LosingHalfTheCopyStartsAfresh) {
  for (const char* lost : {"myout.GtypeData", "myout.data"}) {
    SCOPED_TRACE(lost);
    testing_support::TempWorkDir dir{"check_files"};
    small_fixture();
    checkdata();
    put_dummies();
    fs::remove(lost);
    small_fixture();
    EXPECT_EQ(data_change_status(), -1);
    checkdata();
    for (const auto& name : derived) EXPECT_FALSE(fs::exists(name)) << name;
    EXPECT_TRUE(fs::exists(lost));
  }
}

}  // namespace
}  // namespace kinrad
