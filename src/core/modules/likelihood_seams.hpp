#pragma once
// Test seams of the likelihood engine, one object: zero in the program. reset_all_modules
// resets it with the modules. Included only by its users.
#include "core/kinds.hpp"

namespace kinrad {

struct LikelihoodSeams {
  // When positive, the first pass's layer bound (the smaller sex's parent count otherwise),
  // so that a test reaches the retry of an abandoned descent.
  int4 layerfirstbound = 0;
};

inline LikelihoodSeams likelihood_seams{};

}  // namespace kinrad
