#include "core/modules.hpp"

#include "core/modules/variables.hpp"

namespace kinrad {

void reset_all_modules() {
  variables = Variables{};
  setgetgtype = Setgetgtype{};
  likelihoodvar = Likelihoodvar{};
  familyloglvar = Familyloglvar{};
  absorbvar = Absorbvar{};
  annealvariables = Annealvariables{};
  simuvariables = Simuvariables{};
  writevar = Writevar{};
  dyadprbvariables = Dyadprbvariables{};
}

}  // namespace kinrad
