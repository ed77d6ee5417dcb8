#pragma once
// A sample prepared as the program prepares it, with the annealing call's work tables in place
// (one call whose first move ends the run), for the tests of the in-run update: configurations
// are set by hand, and the update's seams script the genotype inference and the cluster scores.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/command_line.hpp"
#include "core/modules.hpp"
#include "core/modules/search_seams.hpp"
#include "input/input.hpp"
#include "likelihood/likelihood.hpp"
#include "model/model.hpp"
#include "search/search.hpp"
#include "search/search_internal.hpp"
#include "search/update_internal.hpp"
#include "support/archive_builder.hpp"
#include "support/project_file.hpp"
#include "support/run_stage.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::test {

// 12 offspring at three loci: two of two alleles, one of three.
inline testing_support::ProjectFile update_project(const std::string& sexes = "2",
                                                   const std::string& inbreeding = "0") {
  testing_support::ProjectFile p;
  p.loci = 3;
  p.sexes = sexes;
  p.inbreeding = inbreeding;
  const char* g[12] = {"1 2 1 1 1 2", "1 1 1 2 2 3", "2 2 1 2 1 3", "1 2 2 2 3 3",
                       "1 1 1 1 1 1", "1 2 1 2 2 2", "2 2 2 2 1 2", "1 2 1 1 1 3",
                       "1 1 1 2 2 3", "1 2 2 2 3 3", "2 2 1 1 1 2", "1 2 1 2 2 2"};
  for (int k = 0; k < 12; ++k) p.offspring.push_back("O" + std::to_string(k + 1) + " " + g[k]);
  return p;
}

class UpdateTest : public ::testing::Test {
 protected:
  testing_support::TempWorkDir dir{"update"};

  void SetUp() override { search_seams = SearchSeams{}; }
  void TearDown() override { search_seams = SearchSeams{}; }

  // Reads and prepares the project and runs one annealing call that ends at its first move.
  bool start(const testing_support::ProjectFile& project) {
    reset_all_modules();
    testing_support::write_text("kinrad2.dat", project.text());
    set_command_line({"VER:0"});
    search_seams.body = [](RunState&) { return MoveOutcome::end_run; };
    const auto o = testing_support::run_stage([] {
      readdata();
      initialize();
      dataprocess();
      initialfsprob(1, 1, variables.numloci);
      int4 firstq = 1;
      variables.krun = 1;
      anneal(firstq, 5);
    });
    search_seams = SearchSeams{};
    if (o.stopped) ADD_FAILURE() << o.errorfile;
    variables.displayq = 0;
    return !o.stopped;
  }

  // Puts a configuration (families of each offspring, clusters by the families) into the
  // current (best = false) or best configuration, without candidate parents.
  static void set_config(const std::vector<int4>& f1, const std::vector<int4>& f2, bool best) {
    auto& v = variables;
    const std::vector<int4> c = testing_support::clusters_of(f1, f2);
    auto& loc = best ? v.btindivloc : v.crindivloc;
    auto& par = best ? v.btinferparent : v.inferparent;
    auto& num = best ? v.btnumfamily : v.crnumfamily;
    num.fill(0);
    for (int4 i = 1; i <= v.smplsize; ++i) {
      const std::size_t k = static_cast<std::size_t>(i - 1);
      loc(i, 1) = f1[k];
      loc(i, 2) = f2[k];
      loc(i, 3) = c[k];
      par(i, 1) = par(i, 2) = 0;
      for (int4 j = 1; j <= 3; ++j) num(j) = std::max(num(j), loc(i, j));
    }
    if (v.numsex == 1) num(1) = num(2) = std::max(num(1), num(2));
  }

  static std::vector<real8> frequencies(int4 l) {
    std::vector<real8> f;
    for (int4 a = 1; a <= variables.obsnumallele(l); ++a)
      f.push_back(variables.obsallelefre(l).a(a));
    return f;
  }
  static std::vector<std::vector<real8>> all_frequencies() {
    std::vector<std::vector<real8>> f;
    for (int4 l = 1; l <= variables.numloci; ++l) f.push_back(frequencies(l));
    return f;
  }
};

// Which configuration a scripted cluster score is asked for.
enum class Scored { current, best, archived };
inline Scored scored_now() {
  const auto& v = variables;
  if (v.indivlocprt.data() == v.crindivloc.data()) return Scored::current;
  if (v.indivlocprt.data() == v.btindivloc.data()) return Scored::best;
  return Scored::archived;
}

}  // namespace kinrad::test
