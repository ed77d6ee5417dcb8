// Stand-in for the stage of a move that is not built yet: a new best updates nothing.
#include "search/search_internal.hpp"

namespace kinrad {

void update_after_new_best(RunState& /*rs*/) {}

}  // namespace kinrad
