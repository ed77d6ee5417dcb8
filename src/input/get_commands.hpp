#pragma once

namespace kinrad {

// Reads the command line into the run options and derives the screen flags.
void getcommands();

// The version banner; pauses until the wall-clock second changes unless started from a GUI.
void displayversion();

}  // namespace kinrad
