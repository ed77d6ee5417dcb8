#pragma once
// Test seams of the results phase, one object: empty (or on) in the program, set by tests
// through the results phase's setters to observe or switch off a step. reset_all_modules
// resets it with the modules. Included only by its users.
#include <functional>
#include <string_view>

#include "core/kinds.hpp"

namespace kinrad {

// Called in place of findclone with its arguments (families, inclusive probabilities in key
// order, 1-based starts, sizes, offspring sorted by family).
using CloneSeam = std::function<void(int4 nf, const real8* prob, const int4* start,
                                     const int4* size, const int4* members)>;

struct ResultsSeams {
  // Told the name of each step of the output before it runs.
  std::function<void(std::string_view step)> output;
  // Sees the status of every preparation of a cluster's family in the genotype inference and
  // may change it.
  std::function<void(int4& status)> inference_prepare;
  // false leaves the archive shares uncorrected by the trial-family likelihoods.
  bool fsfamily_corrections = true;
  // Replaces findclone in the full-sib family probabilities when set.
  CloneSeam findclone;
};

inline ResultsSeams results_seams{};

}  // namespace kinrad
