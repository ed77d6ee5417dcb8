#pragma once
// Test seams of the annealing search, one object: all off (empty, nullptr, -1) in the program,
// which then runs its own draw, iteration body, rescoring and engine calls. Tests set them to
// script or observe a run; reset_all_modules resets the object with the modules, so a test that
// runs a sequence which resets the modules sets its seams after that reset. The search types
// the seams name are only declared here: core includes no search header. Included only by its
// users.
#include <functional>
#include <span>

#include "core/kinds.hpp"

namespace kinrad {

struct RunState;
struct RuleEvent;
enum class MoveOutcome;

struct SearchSeams {
  // A replacement of the search stream for the move choice's draws (scripted deviates, or the
  // stream itself wrapped to count calls).
  real8 (*choice_draw)() = nullptr;

  // The annealing call.
  // Replaces the iteration body (the three move stages).
  std::function<MoveOutcome(RunState&)> body{};
  // A checkpoint written at this iteration of the run (-1: none).
  int8 checkpoint_at = -1;
  // Told every rule that ends a temperature or the run.
  std::function<void(const RuleEvent&)> on_rule{};
  // Replaces the rescoring at the end of a temperature (tests of the rules without a sample).
  std::function<void(RunState&)> rescore{};
  // Replaces the full likelihood of each cluster a proposal creates (tests of the falling
  // bound): given the bound, the side and the cluster's number of offspring, sets its log
  // likelihood.
  std::function<void(real8& logl, real8 bound, int4 side, int4 size)> cluster_logl{};

  // The in-run update of the allele frequencies.
  // Replaces the genotype inference of one cluster (its id in the best configuration) at one
  // locus: fills the expected allele counts.
  std::function<void(int4 cluster, int4 locus, std::span<real8> counts)> update_counts{};
  // Replaces the engine's cluster scores of the configuration seen through the windows.
  std::function<void(real8* logl, int4 nclust)> update_clusterlogl{};
  // Replaces the refill of the dyad tables.
  std::function<void()> update_pairprob{};
};

inline SearchSeams search_seams{};

}  // namespace kinrad
