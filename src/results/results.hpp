#pragma once
// Results and estimates as the run sequence calls them, and the table of the result files.
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "core/kinds.hpp"
#include "core/replacing_file.hpp"

namespace kinrad {

// Writes all final result files from the best configuration and the archive. Does nothing when
// no run left a best configuration (no clusters and an empty archive).
void output();

// Effective population size from the archived configurations.
void sibne();

// One result file of the analysis: the stem followed by `suffix`, written by the routine whose
// design name `routine` is (the name an error stop reports), when `written` holds for the
// module state of the analysis.
struct ResultFile {
  std::string_view suffix;
  std::string_view routine;
  std::string_view condition;  // the condition in words
  bool (*written)();
};

// Every result file written after the search, in the order the analysis writes them.
std::span<const ResultFile> result_files();

// The table entry of a suffix; stops the program for a suffix the table does not hold (a
// programming error).
const ResultFile& result_file(std::string_view suffix);

// The writer of the result file of `suffix` (the stem followed by it), open on its temporary:
// a failed open or write stops with "Failed openning "/"Failed writing " + name and the
// entry's routine, and the old file stays until commit() replaces it whole.
ReplacingFile open_result_file(std::string_view suffix);

// Removes the stem's result files that this analysis does not write (the table's condition is
// false for the module state of the analysis).
void remove_unwritten_result_files();

// Writes the result file of `suffix` whole through `body` and commits it.
void write_result_file(std::string_view suffix, const std::function<void(ReplacingFile&)>& body);

}  // namespace kinrad
