#pragma once
// Every module of the program: one struct type and one global instance each, in its own header
// under core/modules/. Including this header brings them all in.
#include "core/modules/absorbvar.hpp"
#include "core/modules/annealvariables.hpp"
#include "core/modules/dyadprbvariables.hpp"
#include "core/modules/familyloglvar.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/setgetgtype.hpp"
#include "core/modules/simuvariables.hpp"
#include "core/modules/variables.hpp"
#include "core/modules/writevar.hpp"

namespace kinrad {

// Resets every module, the random streams and the command line to their start-up state (tests,
// and a second analysis in one process). No other state outlives an analysis.
void reset_all_modules();

}  // namespace kinrad
