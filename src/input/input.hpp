#pragma once
// Foundation and input: the command line, the project reader, the initialisation, data
// preparation and the data copy, as the run sequence calls them.
#include "core/kinds.hpp"

namespace kinrad {

// Reads the command line into the run options and derives the screen flags.
void getcommands();

// The version banner; pauses until the wall-clock second changes unless started from a GUI.
void displayversion();

// Reads and validates the project input file.
void readdata();

// Derived tables, run state and checkpoint names.
void initialize();

// Data preprocessing: known relationships, allele order and counts, starting frequencies.
void dataprocess();

// Compares the data with the copy kept under the stem and renews the copy when they differ:
// then every checkpoint, every cache that depends on the data and the error-message file are
// deleted first. Process 0 only.
void checkdata();

}  // namespace kinrad
