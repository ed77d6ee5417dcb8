#pragma once
// Scoring of one initial cluster at rising likelihood precision.
#include "core/kinds.hpp"
#include "core/modules/variables.hpp"
#include "core/real_integer_power.hpp"

namespace kinrad {

// Precision k of the likelihood engine: thresholds 0.1^(2k), 0.1^(2k) and a tenth of that.
inline void set_likelihood_precision(int4 k) {
  auto& v = variables;
  v.likelihoodprecision = k;
  v.prec1 = real_integer_power(0.1, 2 * k);
  v.prec2 = v.prec1;
  v.prec3 = 0.1 * v.prec1;
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
