#include "core/modules.hpp"

#include "core/config_record.hpp"
#include "core/command_line.hpp"
#include "core/modules/configuration_work.hpp"
#include "core/modules/likelihood_work.hpp"
#include "core/modules/pairwise_work.hpp"
#include "core/modules/search_work.hpp"
#include "core/modules/variables.hpp"
#include "core/modules/work_growth.hpp"
#include "core/random_numbers.hpp"
#include "core/stem_lock.hpp"

namespace kinrad {

void reset_all_modules() {
  // The archive list owns its records; the module's references to them only point.
  for (Config* p = variables.confighead; p != nullptr;) {
    Config* next = p->next;
    delete p;
    p = next;
  }
  variables = Variables{};
  setgetgtype = Setgetgtype{};
  likelihoodvar = Likelihoodvar{};
  familyloglvar = Familyloglvar{};
  absorbvar = Absorbvar{};
  annealvariables = Annealvariables{};
  simuvariables = Simuvariables{};
  writevar = Writevar{};
  dyadprbvariables = Dyadprbvariables{};
  // Phase scratch: grow-only buffers, released so that a second analysis starts as the first.
  configuration_work = ConfigurationWork{};
  likelihood_work = LikelihoodWork{};
  pairwise_work = PairwiseWork{};
  search_work = SearchWork{};
  work_growth = WorkGrowth{};
  // State kept outside the modules: the random streams, the command line and the lock of the
  // output stem.
  random_stream_state = RandomStreamState{};
  command_line = CommandLine{};
  release_output_stem();
}

}  // namespace kinrad
