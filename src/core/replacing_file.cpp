#include "core/replacing_file.hpp"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "core/error_line.hpp"
#include "core/error_stop.hpp"

namespace kinrad {

namespace {

// A directory of the temporary's name is not ours to remove.
void remove_temporary(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_directory(path, ec)) std::filesystem::remove(path, ec);
}

// Removes the temporary when the write does not reach its rename, also when the writer itself
// ends in the error stop. Declared before the stream, so the stream is closed first.
struct TemporaryGuard {
  std::string path;
  bool renamed = false;
  ~TemporaryGuard() {
    if (!renamed) remove_temporary(path);
  }
};

[[noreturn]] void replacing_failed(const std::string& temporary, std::string_view prefix,
                                   const std::string& path, std::string_view routine) {
  remove_temporary(temporary);
  set_error_line(1, error_line(prefix, path));
  stoponerror(1, routine);
}

void commit(TemporaryGuard& guard, const std::string& path, const WriteFailure& failure) {
  std::error_code ec;
  std::filesystem::rename(guard.path, path, ec);
  if (ec) replacing_failed(guard.path, failure.write_prefix, path, failure.routine);
  guard.renamed = true;
}

}  // namespace

std::string replacing_temporary(const std::string& path) {
  // The process number keeps two processes writing one name from sharing a temporary.
  return path + "." + std::to_string(::getpid()) + ".part";
}

void write_replacing(const std::string& path, const std::function<void(std::ostream&)>& writer,
                     const WriteFailure& failure) {
  TemporaryGuard guard{replacing_temporary(path)};
  const std::string& temporary = guard.path;
  std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
  if (!out) replacing_failed(temporary, failure.open_prefix, path, failure.routine);
  writer(out);
  out.close();
  if (out.fail()) replacing_failed(temporary, failure.write_prefix, path, failure.routine);
  commit(guard, path, failure);
}

void write_replacing_unformatted(const std::string& path,
                                 const std::function<void(UnformattedWriter&)>& writer,
                                 const WriteFailure& failure) {
  TemporaryGuard guard{replacing_temporary(path)};
  const std::string& temporary = guard.path;
  UnformattedWriter out;
  if (!out.open(temporary)) replacing_failed(temporary, failure.open_prefix, path, failure.routine);
  writer(out);
  if (!out.close()) replacing_failed(temporary, failure.write_prefix, path, failure.routine);
  commit(guard, path, failure);
}

}  // namespace kinrad
