#pragma once
// The main program: the fixed order of the analysis phases, the run loop with its
// allele-frequency rounds, and the start-up routines.
#include <functional>
#include <string_view>

#include "core/kinds.hpp"

namespace kinrad {

// Process 0 of 1, blank error lines, an empty output stem.
void initializethreads();

// The annealing call and the per-run archive copy as the run loop sees them, so that the loop
// can be driven by a scripted search in tests.
struct RunLoopCalls {
  std::function<void(int4& firstq, int4 round)> anneal;
  std::function<void(int4 krun)> savearchive;
};

// Runs variables.numrun annealing runs, each a series of allele-frequency rounds from round0
// to 5. firstq is 1 on entry and ends 0, or -1 when the loop was cut short.
void run_loop(int4 round0, int4& firstq, const RunLoopCalls& calls);

// Runs one phase of the analysis; an allocation that fails inside it stops the program through
// the error stop with the memory flag, naming the phase's routine.
void run_phase(std::string_view name, const std::function<void()>& phase);

// The whole analysis in its order; returns normally or ends through a ProgramStop.
void run_sequence();

// Entry of Kinrad2p: hands over the arguments, runs the sequence and turns a stop into the exit
// status after its messages.
int kinrad2p_main(int argc, const char* const* argv);

}  // namespace kinrad
