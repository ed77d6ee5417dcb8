#pragma once
// A fresh temporary working directory for the duration of a test: the program writes
// "Kinrad2.ErrorMessage" and its files relative to the working directory.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace kinrad::testing_support {

class TempWorkDir {
 public:
  explicit TempWorkDir(const std::string& tag) {
    old_ = std::filesystem::current_path();
    dir_ = std::filesystem::temp_directory_path() /
           ("kinrad_" + tag + "_" + std::to_string(::getpid()) + "_" + std::to_string(++count_));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
  }
  ~TempWorkDir() {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  TempWorkDir(const TempWorkDir&) = delete;
  TempWorkDir& operator=(const TempWorkDir&) = delete;
  const std::filesystem::path& path() const { return dir_; }

 private:
  static inline int count_ = 0;
  std::filesystem::path old_, dir_;
};

inline void write_text(const std::string& name, const std::string& text) {
  std::ofstream out(name, std::ios::binary);
  out << text;
}

inline std::string read_text(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace kinrad::testing_support
