#pragma once
// The wall clock and the pauses.
#include "core/kinds.hpp"

namespace kinrad {

// Seconds (mode != 1) or milliseconds (mode 1) of the wall clock, counting on across midnight.
int4 walltime(int4 mode);
// Returns after n wall-clock seconds.
void sleeping(int4 n);
// Returns once the wall-clock second has changed (the pause that lets messages be read).
void pause_until_second_changes();

}  // namespace kinrad
