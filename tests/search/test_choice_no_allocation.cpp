// The move choice, and whole iterations of a real run, allocate nothing once warm: they work in
// the cluster tables of the two sides and in buffers sized for the run that only grow. This
// test executable counts every global operator new (support/counting_new.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "choice_fixture.hpp"
#include "core/command_line.hpp"
#include "core/modules/search_seams.hpp"
#include "core/modules/work_growth.hpp"
#include "input/input.hpp"
#include "pairwise/pairwise.hpp"
#include "program/prepare_analysis.hpp"
#include "search/search.hpp"
#include "search/search_internal.hpp"
#include "support/counting_new.hpp"
#include "support/one_search.hpp"
#include "support/project_file.hpp"
#include "support/run_stage.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::test {
namespace {

// Every species: after 2000 proposals (every cluster of the configuration seen on both sides),
// 10^4 more allocate nothing. (The counter covers this whole test executable.)
TEST(ChoiceNoAllocation, WarmProposalsAllocateNothing) {
  SourceOff off;
  {
    // The counter sees allocations.
    const long before = testing_support::allocation_count();
    std::vector<int> probe(10);
    EXPECT_GT(testing_support::allocation_count() - before, 0);
  }
  struct Row {
    const char* name;
    int4 numsex, inbreeding, mono1, mono2, haplo;
  };
  const std::vector<Row> rows = {{"dioecious", 2, 0, 0, 0, 0},
                                 {"monogamous mothers", 2, 0, 0, 1, 0},
                                 {"one pool selfing", 1, 1, 0, 0, 0},
                                 {"haplodiploid", 2, 0, 0, 0, 1}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ChoiceFixture f;
    ChoiceSample s;
    s.numsex = r.numsex;
    s.inbreeding = r.inbreeding;
    s.mono1 = r.mono1;
    s.mono2 = r.mono2;
    s.haplo = r.haplo;
    s.fam1.assign(30, 1);
    s.fam2.assign(30, 1);
    f.build(s);
    std::mt19937 rng(7);
    random_configuration(rng, 6, 6, 0.3);
    if (r.numsex == 1) {
      int4 k = 0;
      for (int4 i = 1; i <= 30; ++i)
        k = std::max({k, variables.crindivloc(i, 1), variables.crindivloc(i, 2)});
      variables.crnumfamily(1) = variables.crnumfamily(2) = k;
    }
    for (int4 c = 1; c <= variables.crnumfamily(3); ++c) variables.indivcluster(c).deallocate();
    setinitcluster();
    annealvariables.lastfamilyid(1) = annealvariables.lastfamilyid(2) = 0;
    if (r.haplo == 1)
      for (int4 i = 1; i <= 30; i += 3) f.set_ploidy(i, 1);
    f.rs.sched.fammovethreshold = 0.85;
    for (int4 k = 0; k < 2000; ++k) choose_move(f.rs);
    const long before = testing_support::allocation_count();
    int4 handed = 0;
    for (int4 k = 0; k < 10000; ++k) handed += choose_move(f.rs) ? 1 : 0;
    EXPECT_EQ(testing_support::allocation_count() - before, 0);
    EXPECT_GT(handed, 0);
  }
}

// The shipped example project (60 offspring in families, 10 loci, 8 candidates of each sex)
// with the records of `items` (1-based) replaced and without its known and excluded
// relationships (the records from the known paternity on).
std::string example_with(const std::vector<std::pair<int, std::string>>& items) {
  std::istringstream in(
      testing_support::read_text(std::string(KINRAD_TESTS_DIR) + "/../examples/kinrad2.dat"));
  std::string out;
  for (std::string line; std::getline(in, line);) {
    if (line.find("! Known paternity") != std::string::npos) break;
    for (const auto& [item, value] : items)
      if (item == std::count(out.begin(), out.end(), '\n') + 1) line = value + "   ! replaced";
    out += line + "\n";
  }
  return out + "0 0\n0 0\n0\n0\n0\n0\n0\n0\n";
}

// Three full-sib families of 40 (10 loci of 12 alleles, parents drawn at random, no
// candidates), full likelihood: the search builds clusters far above the 64 entries every slot
// table starts with and splits them again, so slots that held large clusters receive small
// ones and the reverse.
std::string large_families_project() {
  constexpr int4 kLoci = 10, kAlleles = 12;
  std::mt19937 rng(2024);
  testing_support::ProjectFile p;
  p.loci = kLoci;
  p.method = "1";
  p.numbers = "0 0";
  for (int4 f = 0; f < 3; ++f) {
    std::vector<int4> dad(2 * kLoci), mum(2 * kLoci);
    for (int4& a : dad) a = static_cast<int4>(rng() % kAlleles) + 1;
    for (int4& a : mum) a = static_cast<int4>(rng() % kAlleles) + 1;
    for (int4 k = 0; k < 40; ++k) {
      std::string line = "O" + std::to_string(40 * f + k + 1);
      for (int4 l = 0; l < kLoci; ++l) {
        line += " " + std::to_string(dad[static_cast<std::size_t>(2 * l + rng() % 2)]);
        line += " " + std::to_string(mum[static_cast<std::size_t>(2 * l + rng() % 2)]);
      }
      p.offspring.push_back(line);
    }
  }
  return p.text();
}

// A real annealing run of the program's iteration body: after a warm-up of `from` iterations,
// the iterations up to `to` (the move with its retries, the score test, the monitor step, the
// stopping rules and the parent-side moves of the next iteration) allocate nothing, but for
// one event: the likelihood engine's work arrays and the parent-pair tables of the family
// structure, whose extents are products of a family's parent and family counts, grow when a
// family larger in one of those counts than any scored before arrives (the work growth count
// says how many re-creations an iteration made, one allocation each). Every other buffer of
// the search is taken at the size the sample bounds when the search begins, and the tables of
// the cluster slots keep their storage (at least 64 entries, at most 4 times the cluster plus
// 64) or take that of a free slot that suits the cluster, and count the storage they must take
// when none does (a cluster of a size the run has not met), so an iteration allocates exactly
// as often as it grows such an array or takes such storage, and a run whose families have all
// been met allocates nothing (the pairwise score, method 0, uses none of them: zero there).
// Two events of a run store something new and are left out: an accepted move that makes a new
// best of the analysis (its configuration joins the archive as a new record) and the end of a
// temperature (its rescoring and updates). The stretch lies between two records of the
// progress log (written at 2^k iterations, each a new record), past the first of the
// temperature's iterations in which the clusters of the start configuration have been split
// and joined; the archive of good configurations is switched off. The method of the project
// decides the scoring: 0 the pairwise score, 1 the full likelihood, 2 the pairwise-guided full
// likelihood; allele frequencies are not updated.
TEST(SearchNoAllocation, WarmIterationsOfARealRunAllocateOnlyToGrowForALargerFamily) {
  struct Row {
    const char* name;
    std::string project;
    int8 from, to;
    bool pairwise;    // method 0: no family is scored, so nothing grows
    int4 minlargest;  // the checked stretch holds a cluster at least this large
  };
  const std::vector<Row> rows = {
      {"example, method 0", example_with({{6, "0"}, {20, "0"}}), 4097, 8192, true, 0},
      {"example, method 1", example_with({{6, "0"}, {20, "1"}}), 2049, 4096, false, 0},
      {"example, method 2", example_with({{6, "0"}, {20, "2"}}), 2049, 4096, false, 0},
      {"large families, method 1", large_families_project(), 2049, 4096, false, 65}};
  int4 dirs = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    testing_support::TempWorkDir dir{"no_alloc_run_" + std::to_string(++dirs)};
    testing_support::write_text("kinrad2.dat", r.project);
    int4 largest = 0;  // the largest cluster of the checked iterations
    // Per iteration of the run: its allocations, its work array growths and whether an event
    // left it out.
    const auto n = static_cast<std::size_t>(r.to) + 1;
    std::vector<long> count(n, 0);
    std::vector<int8> grown(n, 0), slotg(n, 0);
    int8 slotmark = 0;
    std::vector<char> excused(n, 0);
    int8 last = -1;
    long mark = 0;
    int8 growmark = 0;
    search_seams = SearchSeams{};
    search_seams.body = [&](RunState& rs) {
      const int8 it = rs.cp.numiterate;
      if (it != last) {
        if (last >= 0) {
          count[static_cast<std::size_t>(last)] = testing_support::allocation_count() - mark;
          grown[static_cast<std::size_t>(last)] = work_growth.count - growmark;
          slotg[static_cast<std::size_t>(last)] = work_growth.slots - slotmark;
        }
        last = it;
        mark = testing_support::allocation_count();
        growmark = work_growth.count;
        slotmark = work_growth.slots;
      }
      if (it >= r.to) return MoveOutcome::end_run;
      if (it >= r.from)
        for (int4 c = 1; c <= variables.crnumfamily(3); ++c)
          largest = std::max(largest, annealvariables.clustersizet(c));
      const real8 best = variables.bestlogl;
      const MoveOutcome o = move_body(rs);
      if (variables.bestlogl != best) excused[static_cast<std::size_t>(it)] = 1;
      return o;
    };
    search_seams.on_rule = [&](const RuleEvent& e) {
      if (e.end != RuleEnd::none) excused[static_cast<std::size_t>(last)] = 1;
    };
    const testing_support::StageOutcome o =
        testing_support::run_one_search({"VER:0", "RND:4711", "ARC:0"});
    search_seams = SearchSeams{};
    ASSERT_FALSE(o.stopped) << o.errorfile;
    ASSERT_EQ(last, r.to);
    int8 checked = 0;
    int8 growing = 0;
    std::string list;
    for (int8 it = r.from; it < r.to; ++it) {
      const auto k = static_cast<std::size_t>(it);
      if (excused[k] != 0) continue;
      ++checked;
      if (grown[k] + slotg[k] != 0) ++growing;
      if (count[k] != grown[k] + slotg[k])
        list += " " + std::to_string(it) + " (" + std::to_string(count[k]) + " allocations, " +
                std::to_string(grown[k]) + " work array and " + std::to_string(slotg[k]) +
                " slot storage growths)";
    }
    // The events left out are rare once the run is warm.
    EXPECT_GT(checked, (r.to - r.from) * 9 / 10);
    EXPECT_TRUE(list.empty()) << "iterations that allocated other than to grow:" << list;
    if (r.pairwise) {
      EXPECT_EQ(growing, 0);
    }
    EXPECT_GE(largest, r.minlargest);
    // A larger family than any before is a rare event once warm.
    EXPECT_LE(growing * 100, checked);
  }
}

}  // namespace
}  // namespace kinrad::test
