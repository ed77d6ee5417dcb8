#pragma once
// The batch runner: a list of project input files shared out over the processes of an MPI
// job, each process starting the main program once for every file that falls to it.
#include <string>
#include <vector>

#include "batch/batch_variables.hpp"

namespace kinrad::batch {

// Reads the executable and the list file from the command line (core/command_line.hpp), tests
// both, reads every listed name into variables.inputfile and tests each for existence, and
// gives the executable "./" when PATH begins with "/" and the name has no directory. Returns
// false after process 0 has written the message and "Program stopping!": no run may start.
bool readfilename();

// Writes the count line and starts, one after another, the main program for every file that
// falls to this process (file i to process i mod numthreads). Returns false when some run
// could not be started, exited with a non-zero status or was ended by a signal; the other
// runs still take place.
bool runfiles();

// Starts the program `args[0]` with the argument vector `args` (no shell is involved: every
// element reaches the program as one argument, whatever characters it holds) and waits for
// it to end. A name without "/" is looked up in PATH. True when the program ran and exited
// with status 0.
bool runchild(const std::vector<std::string>& args);

// The whole runner on this process: MPI start-up, the names, the runs, the final barrier and
// MPI shut-down. Returns the exit status: 0 when every run of this process succeeded, 1 after
// any failure.
int kinradbatchrun_main(int argc, char** argv);

}  // namespace kinrad::batch
