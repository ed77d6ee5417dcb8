#include <filesystem>
#include <string>
#include <system_error>

#include "core/fixed_string.hpp"
#include "core/modules/variables.hpp"
#include "core/text_utils.hpp"
#include "input/check_data_internal.hpp"
#include "input/input.hpp"

namespace kinrad {

namespace {

// The comparison of the data with the copy, made at most once per analysis: the copy is
// renewed right after it, so a second comparison would only see the new copy.
int4 copy_status() {
  if (variables.data_copy_status == -2) {
    int4 status = -1;
    setstartloc(1, status);
    variables.data_copy_status = status;
  }
  return variables.data_copy_status;
}

// Everything kept under the stem that was derived from the data: the checkpoints, the dyad
// and candidate caches, the selfing-corrected frequencies, the per-run archive copies and
// the error message of the last analysis.
void delete_derived_files() {
  for (int4 k = 1; k <= 5; ++k) opendeletefile(variables.midfilename(k).view());
  opendeletefile("Kinrad2.ErrorMessage");
  // The allele-frequency cache is not on this list: data preparation has already removed a
  // cache of other data before it could be read, and the one it may have just written belongs
  // to these data.
  for (const char* suffix :
       {".FSDyadLogL", ".HSDyadLogL", ".DadDyadLogL", ".MumDyadLogL", ".BestPrntCND",
        ".PairCluster", ".MHSDyadLogL", ".PrtDyadLogL", ".SelfSelfLogL", ".SelfOutLogL"})
    opendeletefile(variables.fname + suffix);
  // Run copies are numbered from 1 without gaps; the first missing number ends them.
  const std::string archive(trim(variables.midfilename(2).view()));
  if (archive.empty()) return;
  for (int4 run = 1;; ++run) {
    const std::string name = archive + ".Run" + std::to_string(run);
    std::error_code ec;
    if (!std::filesystem::exists(name, ec)) break;
    opendeletefile(name);
  }
}

}  // namespace

int4 data_change_status() {
  const int4 status = copy_status();
  if (status == 1) return 0;
  return status == -1 ? -1 : 1;
}

void checkdata() {
  int4 status = copy_status();
  if (status >= 1) return;
  delete_derived_files();
  setstartloc(2, status);
}

}  // namespace kinrad
