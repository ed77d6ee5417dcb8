#pragma once
// The built main program run as a process of its own in a fresh working directory, for cases
// that watch it from outside: its exit status, the files it leaves, and several analyses at
// once. Needs KINRAD2P_EXE (the end-to-end executable defines it).
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace kinrad::testing_support {

class ProgramDir {
 public:
  explicit ProgramDir(const std::string& tag)
      : dir_(std::filesystem::temp_directory_path() /
             ("kinrad_prog_" + tag + "_" + std::to_string(::getpid()))) {
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  ~ProgramDir() {
    if (!::testing::Test::HasFailure()) std::filesystem::remove_all(dir_);
  }
  ProgramDir(const ProgramDir&) = delete;
  ProgramDir& operator=(const ProgramDir&) = delete;
  const std::filesystem::path& path() const { return dir_; }

  // Starts the program with the arguments; its screen goes to `screen` (and `screen` + ".err")
  // in the directory. `shell` runs before it in the same shell (a ulimit). Returns its process
  // id: the shell execs the program, so the id is the program's own.
  pid_t start(const std::vector<std::string>& args = {}, const std::string& shell = "",
              const std::string& screen = ".stdout") const {
    std::string cmd = "cd " + quote(dir_.string()) + " && ";
    if (!shell.empty()) cmd += shell + " && ";
    cmd += "exec " + quote(KINRAD2P_EXE);
    for (const std::string& a : args) cmd += " " + quote(a);
    cmd += " > " + quote(screen) + " 2> " + quote(screen + ".err") + " < /dev/null";
    const char* argv[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
      return -1;
    return pid;
  }

  // The exit status of a started program, or 128 + the signal that ended it.
  static int wait(pid_t pid) {
    int raw = 0;
    if (pid <= 0 || ::waitpid(pid, &raw, 0) != pid) return -1;
    if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
    return WEXITSTATUS(raw);
  }

  int run(const std::vector<std::string>& args = {}, const std::string& shell = "") const {
    return wait(start(args, shell));
  }

 private:
  static std::string quote(const std::string& s) {
    std::string r = "'";
    for (const char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return r + "'";
  }
  std::filesystem::path dir_;
};

}  // namespace kinrad::testing_support
