#pragma once

namespace kinrad {

// Reads the command line into the run options and derives the screen flags.
void getcommands();

}  // namespace kinrad
