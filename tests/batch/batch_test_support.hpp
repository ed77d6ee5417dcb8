#pragma once
// Small helpers of the batch runner's tests: a fresh working directory, text files, the lines
// the stand-in main program records, and an environment variable set for one test.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace kinrad::batch_test {

// A fresh temporary directory that is the working directory while the object lives.
class WorkDir {
 public:
  explicit WorkDir(const std::string& tag) {
    old_ = std::filesystem::current_path();
    dir_ =
        std::filesystem::temp_directory_path() /
        ("kinrad_batch_" + tag + "_" + std::to_string(::getpid()) + "_" + std::to_string(++count_));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
  }
  ~WorkDir() {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;
  const std::filesystem::path& path() const { return dir_; }

 private:
  static inline int count_ = 0;
  std::filesystem::path old_, dir_;
};

inline void write_text(const std::filesystem::path& name, const std::string& text) {
  std::ofstream out(name, std::ios::binary);
  out << text;
}

inline std::string read_text(const std::filesystem::path& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The runs the stand-in recorded in "stand_in.log", in the order they were written: each is
// the argument vector it received, the program name first.
inline std::vector<std::vector<std::string>> recorded_runs() {
  std::vector<std::vector<std::string>> runs;
  std::ifstream in("stand_in.log");
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> args;
    std::size_t pos = 0;
    while (pos < line.size() && line[pos] == '[') {
      const std::size_t close = line.find(']', pos);
      if (close == std::string::npos) break;
      args.push_back(line.substr(pos + 1, close - pos - 1));
      pos = close + 1;
    }
    runs.push_back(args);
  }
  return runs;
}

// Sets (or, with no value, removes) an environment variable until the end of the scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_.c_str(), old_->c_str(), 1);
    else
      ::unsetenv(name_.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace kinrad::batch_test
