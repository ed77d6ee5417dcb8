#include "core/replacing_file.hpp"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "core/error_line.hpp"
#include "core/error_stop.hpp"

namespace kinrad {

namespace {

[[noreturn]] void replacing_failed(const std::string& temporary, std::string_view prefix,
                                   const std::string& path, std::string_view routine) {
  std::error_code ec;
  std::filesystem::remove(temporary, ec);
  set_error_line(1, error_line(prefix, path));
  stoponerror(1, routine);
}

void commit(const std::string& temporary, const std::string& path, const WriteFailure& failure) {
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) replacing_failed(temporary, failure.write_prefix, path, failure.routine);
}

}  // namespace

std::string replacing_temporary(const std::string& path) {
  return path + ".part";
}

void write_replacing(const std::string& path, const std::function<void(std::ostream&)>& writer,
                     const WriteFailure& failure) {
  const std::string temporary = replacing_temporary(path);
  std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
  if (!out) replacing_failed(temporary, failure.open_prefix, path, failure.routine);
  writer(out);
  out.close();
  if (out.fail()) replacing_failed(temporary, failure.write_prefix, path, failure.routine);
  commit(temporary, path, failure);
}

void write_replacing_unformatted(const std::string& path,
                                 const std::function<void(UnformattedWriter&)>& writer,
                                 const WriteFailure& failure) {
  const std::string temporary = replacing_temporary(path);
  UnformattedWriter out;
  if (!out.open(temporary)) replacing_failed(temporary, failure.open_prefix, path, failure.routine);
  writer(out);
  if (!out.close()) replacing_failed(temporary, failure.write_prefix, path, failure.routine);
  commit(temporary, path, failure);
}

}  // namespace kinrad
