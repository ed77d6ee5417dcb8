#pragma once
// The module `variables`: run parameters and options, the sample, per-locus data, file names,
// the error lines, the process identity and the screen flags. One global instance; every use
// names the module (variables.smplsize). It is assembled from one part per phase so that no
// header grows without bound; the defaults of the parts are the program's start-up values.
#include "core/modules/variables_configuration.hpp"
#include "core/modules/variables_error_rate.hpp"
#include "core/modules/variables_model.hpp"
#include "core/modules/variables_pair_lists.hpp"
#include "core/modules/variables_results.hpp"
#include "core/modules/variables_run.hpp"
#include "core/modules/variables_sample.hpp"

namespace kinrad {

struct Variables : VariablesRun,
                   VariablesSample,
                   VariablesModel,
                   VariablesConfiguration,
                   VariablesResults,
                   VariablesPairLists,
                   VariablesErrorRate {};

KINRAD_CONSTINIT inline Variables variables{};

}  // namespace kinrad
