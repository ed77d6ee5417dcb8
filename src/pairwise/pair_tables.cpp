#include "pairwise/pairwise.hpp"

namespace kinrad {

// The dyad tables and the candidate ranking are not built yet.
void calculatepairprob(int4) {}
void setgetbestcnd() {}

}  // namespace kinrad
