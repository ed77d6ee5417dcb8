#pragma once
// Scoring of one initial cluster at rising likelihood precision.
#include "core/kinds.hpp"
#include "core/modules/variables.hpp"
#include "core/variables_routines.hpp"

namespace kinrad {

// Precision k of the likelihood engine and its thresholds.
inline void set_likelihood_precision(int4 k) {
  variables.likelihoodprecision = k;
  set_precision_thresholds(k);
}

// Scores with `score()` at the precision in force and, while the value is not above `bound`
// under the full likelihood, again at each higher precision up to 3; a raised precision stays
// for the rest of the analysis. Returns false when the attempt at precision 3 fails too; logl
// holds the last value.
template <class Score>
bool score_at_rising_precision(Score&& score, real8 bound, real8& logl) {
  auto& v = variables;
  for (int4 k = v.likelihoodprecision;; ++k) {
    if (k > v.likelihoodprecision) set_likelihood_precision(k);
    logl = score();
    // The pairwise score takes whatever value the cluster has.
    if (logl > bound || v.fulllikelihoodmethodq == 0) return true;
    if (k >= 3) return false;
  }
}

}  // namespace kinrad
