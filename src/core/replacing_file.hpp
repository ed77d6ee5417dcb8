#pragma once
// Result, checkpoint and cache files are never replaced by a half-written copy: the new
// contents go to a temporary name beside the file, the stream is checked when it is closed,
// and only then is the temporary renamed over the old file. A failure removes the temporary,
// leaves the old file as it was, and ends the program through the error stop.
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

#include "core/unformatted_file.hpp"

namespace kinrad {

// What the error stop says when a replacing write fails: the first error line is the prefix
// followed by the file's name; `routine` is the name the stop reports.
struct WriteFailure {
  std::string_view routine;
  std::string_view open_prefix = "Failed openning ";
  std::string_view write_prefix = "Failed writing ";
};

// The temporary name a replacing write uses for `path`: beside it, and this process's own.
std::string replacing_temporary(const std::string& path);

// Writes a text file (bytes as given, no newline translation) through `writer`.
void write_replacing(const std::string& path, const std::function<void(std::ostream&)>& writer,
                     const WriteFailure& failure);

// Writes an unformatted sequential file through `writer`.
void write_replacing_unformatted(const std::string& path,
                                 const std::function<void(UnformattedWriter&)>& writer,
                                 const WriteFailure& failure);

}  // namespace kinrad
