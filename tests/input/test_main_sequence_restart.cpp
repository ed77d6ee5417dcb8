// The run sequence on a project whose allele frequencies are updated in rounds, resumed from an
// allele-frequency checkpoint of round 1. The set-up moves the stored frequencies of a locus of
// more than two alleles halfway to uniform (p = 0.5 p + 0.5 / k) and builds its tables from
// them; the later read of the stored round must leave those frequencies in force for the search
// of that round (they are taken at its first move: the rounds' own updates change them after).
// Expected values are worked out by hand from the stored frequencies.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/command_line.hpp"
#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/search_seams.hpp"
#include "core/modules/variables.hpp"
#include "program/main_program.hpp"
#include "project_file.hpp"
#include "search/move_stages.hpp"
#include "search/search_internal.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using testing_support::TempWorkDir;
using testing_support::write_text;

// Four offspring at two loci: three alleles at locus 1, two at locus 2; pairwise-score method
// with updating on, so that the frequencies are updated in rounds.
std::string roundsproject() {
  readtest::ProjectFile p;
  p.offspring = {"O1 1 2 1 2", "O2 2 3 1 1", "O3 1 3 2 2", "O4 3 3 1 2"};
  p.method = "0";
  std::vector<std::string> recs = p.records();
  recs[5] = "1";  // item 6: update allele frequencies
  std::string text;
  for (const auto& r : recs) text += r + "\n";
  return text;
}

// One whole analysis; `body`, when given, replaces the iteration body (set after the reset of the
// modules, which clears the search seams).
int runprogram(IterationBody body = {}) {
  reset_all_modules();
  search_seams.body = std::move(body);
  set_command_line({"VER:0"});
  testing::internal::CaptureStdout();
  int status = 0;
  try {
    run_sequence();
  } catch (const ProgramStop& stop) {
    status = report_program_stop(stop, 0);
  }
  testing::internal::GetCapturedStdout();
  return status;
}

TEST(MainSequenceRestart, RoundOneKeepsTheFrequenciesTheTablesWereBuiltFrom) {
  TempWorkDir dir{"main_sequence_restart"};
  write_text("kinrad2.dat", roundsproject());
  // The first analysis writes the data copy, so that the checkpoint of the second one is kept
  // as belonging to the same data.
  ASSERT_EQ(runprogram(), 0);
  ASSERT_EQ(variables.updateallelefre, 2);
  ASSERT_EQ(variables.obsnumallele(1), 3);
  ASSERT_EQ(variables.obsnumallele(2), 2);

  write_text("myout.MidResult4", "0.2 0.3 0.5\n0.4 0.6\n1\n");
  std::vector<double> first;
  const int status = runprogram([&first](RunState& rs) {
    if (first.empty())
      first = {variables.obsallelefre(1).a(1), variables.obsallelefre(1).a(2),
               variables.obsallelefre(1).a(3), variables.obsallelefre(2).a(1),
               variables.obsallelefre(2).a(2)};
    return move_body(rs);
  });
  search_seams = SearchSeams{};
  ASSERT_EQ(status, 0);
  ASSERT_EQ(first.size(), 5u) << "no move was made";
  // Locus 1 moved halfway to uniform: 0.5 p + 1/6.
  const double expected[] = {0.1 + 0.5 / 3, 0.15 + 0.5 / 3, 0.25 + 0.5 / 3};
  for (int4 a = 1; a <= 3; ++a)
    EXPECT_DOUBLE_EQ(first[static_cast<std::size_t>(a - 1)], expected[a - 1]) << "allele " << a;
  // Locus 2 has two alleles and keeps the stored values.
  EXPECT_EQ(first[3], 0.4);
  EXPECT_EQ(first[4], 0.6);
}

}  // namespace
}  // namespace kinrad
