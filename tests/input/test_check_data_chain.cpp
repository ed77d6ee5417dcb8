// The change detection behind the real reading and preparation of a project input file (the
// one of the end-to-end case changed_data_renews_copy): the same file analysed twice keeps
// every checkpoint and cache; a changed rate or an added known parent renews them. Whether a
// change counts follows from the 1e-5 tolerance on rates and the exact counts of known
// parents.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "input/check_data_internal.hpp"
#include "input/input.hpp"
#include "support/run_stage.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

namespace fs = std::filesystem;
using testing_support::read_text;
using testing_support::write_text;

std::string project() {
  return read_text(std::string(KINRAD_TEST_DATA_DIR) +
                   "/../../e2e/cases/changed_data_renews_copy/input/kinrad2.dat");
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// Reading, preparation and the change detection, as the main program runs them.
void analyse(const std::string& input) {
  reset_all_modules();
  write_text("kinrad2.dat", input);
  const testing_support::StageOutcome o = testing_support::run_stage([] {
    readdata();
    initialize();
    dataprocess();
    checkdata();
  });
  if (o.stopped) ADD_FAILURE() << o.errorfile;
}

const std::vector<std::string> derived = {
    "myout.MidResult2",  "myout.MidResult3",     "myout.MidResult4",  "myout.MidResult5",
    "myout.MidResult6",  "Kinrad2.ErrorMessage", "myout.FSDyadLogL",  "myout.HSDyadLogL",
    "myout.DadDyadLogL", "myout.MumDyadLogL",    "myout.BestPrntCND", "myout.PairCluster",
    "myout.MHSDyadLogL", "myout.InbAlleleFr",    "myout.PrtDyadLogL", "myout.SelfSelfLogL",
    "myout.SelfOutLogL", "myout.MidResult3.Run1"};

TEST(CheckDataChain, SecondAnalysisOfTheSameFileKeepsCheckpointsAndCaches) {
  struct Row {
    const char* name;
    std::string second;
    bool changed;
  };
  const std::string first = project();
  const Row rows[] = {
      {"the same file", first, false},
      {"dropout rate 0.01 to 0.010005", replaced(first, "0.01@", "0.010005@"), false},
      {"dropout rate 0.01 to 0.0101", replaced(first, "0.01@", "0.0101@"), true},
      {"a known father more", replaced(first, "1 0\nO2 F1\n", "2 0\nO2 F1\nO7 F1\n"), true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testing_support::TempWorkDir dir{"check_chain"};
    analyse(first);
    ASSERT_TRUE(fs::exists("myout.data"));
    const std::string copy = read_text("myout.data");
    for (const auto& name : derived) write_text(name, "dummy\n");
    analyse(row.second);
    for (const auto& name : derived) EXPECT_EQ(fs::exists(name), !row.changed) << name;
    EXPECT_EQ(read_text("myout.data") == copy, !row.changed);
  }
}

}  // namespace
}  // namespace kinrad
