#pragma once
// The full-sib family probabilities as their tests and benchmark see them: the routine with
// its evaluation counts, and the seams that switch the likelihood corrections off and observe
// the clone inference.
#include <array>
#include <functional>

#include "core/farray.hpp"
#include "core/kinds.hpp"
#include "core/modules/results_seams.hpp"

namespace kinrad {

// Likelihood evaluations of one call of the full-sib family probabilities.
struct FsFamilyCounts {
  int8 splits = 0;    // split-off trial families
  int8 separate = 0;  // family plus an outsider as a half sib
  int8 joins = 0;     // family with an outsider joined
  int8 screened = 0;  // outsiders the genotype screen skipped
};

// findfsfamilyprob, returning its evaluation counts.
FsFamilyCounts findfsfamilyprob_counted(FArray<real8, 1>& probinc, FArray<real8, 1>& probexc,
                                        std::array<real8, 3>& selfrate);

// Tests only: false leaves the archive shares uncorrected by the trial-family likelihoods.
void set_fsfamily_corrections(bool on);

// Tests only: called in place of findclone with its arguments (families, inclusive
// probabilities in key order, 1-based starts, sizes, offspring sorted by family); empty
// restores findclone.
void set_findclone_seam(CloneSeam seam);

}  // namespace kinrad
