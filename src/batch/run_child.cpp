#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>
#include <vector>

#include "batch/batch_runner.hpp"

extern char** environ;

namespace kinrad::batch {

bool runchild(const std::vector<std::string>& args) {
  if (args.empty()) return false;
  // The vector is handed to the program as it is: no shell ever sees a listed name, so blanks,
  // quotes and shell characters in it cannot split it or run anything else.
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) == -1) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace kinrad::batch
