#pragma once
// The program's sequence from its command line to one annealing call (the first run of the last
// round, no screen), for tests that watch a real search through its hooks: the search seams set
// before the call stay for it.
#include <string>
#include <vector>

#include "core/command_line.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "input/input.hpp"
#include "pairwise/pairwise.hpp"
#include "program/prepare_analysis.hpp"
#include "search/search.hpp"
#include "support/module_reset.hpp"
#include "support/run_stage.hpp"

namespace kinrad::testing_support {

inline StageOutcome run_one_search(const std::vector<std::string>& args) {
  reset_all_modules_but_search_seams();
  set_command_line(args);
  return run_stage([] {
    getcommands();
    prepare_analysis({.quiet = true, .check_data = false, .tables = true, .named_phases = false});
    variables.displayq = 0;
    variables.bestlogl = -1e300;
    pairrelation();
    if (variables.smplsize > 49) setcluster();
    int4 firstq = 1;
    variables.krun = 1;
    anneal(firstq, 5);
  });
}

}  // namespace kinrad::testing_support
