#pragma once
// The constants of the configuration prior: log probabilities that a parent is sampled, the
// weight of sampled-parent terms and the Ewens sibship-size prior with its fitted theta.
#include "core/kinds.hpp"

namespace kinrad {

// Turns the prior inputs into prntlogprb, prntweight, ewenpriorfac, the expected numbers of
// parents in ewenmeannumprnt and, per sex, logewentheta and logewenconst; allocates sibsize.
// Called once per analysis.
void setewenprior();

// The squared distance between the expected number of parents of sex numchild under an
// Ewens partition of smplsize offspring with parameter theta and the target ewenmeannumprnt.
real8 ewenfunc(real8 theta);

}  // namespace kinrad
