#pragma once
// The state behind walltime: the hour of the previous reading and the number of midnights
// passed since, so that the clock keeps counting across days. Exposed for the tests, which
// feed readings of their own.
#include "core/kinds.hpp"

namespace kinrad {

struct WallClockState {
  int4 daycount = 0;
  int4 lasthour = 0;
};

constinit inline WallClockState wall_clock_state{};

// walltime of one reading of the local time of day: seconds (mode != 1) or milliseconds
// (mode 1) since the first day's midnight. Updates the day counter.
int4 walltime_of(WallClockState& state, int4 hour, int4 minute, int4 second, int4 millisecond,
                 int4 mode);

}  // namespace kinrad
