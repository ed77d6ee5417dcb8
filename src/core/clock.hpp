#pragma once
// Every platform clock of the program: the wall clock, date and time stamps, processor time
// and the pauses.
#include <string>

#include "core/kinds.hpp"

namespace kinrad {

// Seconds (mode != 1) or milliseconds (mode 1) of the wall clock, counting on across midnight.
int4 walltime(int4 mode);
// Returns after n wall-clock seconds.
void sleeping(int4 n);
// Returns once the wall-clock second has changed (the pause that lets messages be read).
void pause_until_second_changes();
// Returns after n seconds (the pause after an error stop's messages).
void pause_seconds(int4 n);

// The local date as "ccyymmdd" and the local time as "hhmmss.sss".
struct DateTimeStamp {
  std::string date;
  std::string time;
};
DateTimeStamp date_time_stamp();

// Processor time used by the process so far, in seconds.
real8 processor_time();

// Unit tests run the pauses without waiting: while a hook is set, every pause calls it with
// its length in whole seconds (1 for the pause until the second changes) and returns at once.
// While `processor` is set, processor_time returns its value instead of the process's own
// (in-process tests of the time-based monitor and checkpoints; the program never sets it).
using PauseHook = void (*)(int4 seconds);
using ProcessorTimeHook = real8 (*)();
struct ClockHooks {
  PauseHook pause = nullptr;
  ProcessorTimeHook processor = nullptr;
};
constinit inline ClockHooks clock_hooks{};

}  // namespace kinrad
