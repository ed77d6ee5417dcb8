#include <iostream>
#include <string>
#include <vector>

#include "batch/batch_runner.hpp"
#include "core/format_write.hpp"

namespace kinrad::batch {

bool runfiles() {
  if (variables.threadid == 0) {
    fwrite(std::cout, "(I6, A, I5, A)", variables.numfile, " files to run by ",
           variables.numthreads, " threads.");
  }
  bool allok = true;
  std::vector<std::string> args(3);
  for (int4 i = 1; i <= variables.numfile; ++i) {
    if (i % variables.numthreads != variables.threadid) continue;
    const std::string_view name = variables.inputfile(i).trimmed();
    if (variables.threadid == 0)
      fwrite(std::cout, "(A)", "Thread 0 running data = " + std::string(name));
    // The run writes to the same standard output: what this process wrote comes first.
    std::cout.flush();
    args[0] = variables.execfile.trimmed();
    args[1] = "IFN:" + std::string(name);
    args[2] = "TID:" + std::string(variables.threadic.trimmed());
    if (!runchild(args)) allok = false;
  }
  std::cout.flush();
  return allok;
}

}  // namespace kinrad::batch
