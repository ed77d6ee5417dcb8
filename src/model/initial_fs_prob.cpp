#include "model/initial_fs_prob.hpp"

namespace kinrad {

// No probability tables yet.
void initialfsprob(int4, int4, int4) {}

}  // namespace kinrad
