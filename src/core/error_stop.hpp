#pragma once
// The error stop. A failing routine fills variables.errmsg and calls stoponerror with its own
// name; the stop unwinds to the main program as a ProgramStop, which then writes the screen
// lines and "Kinrad2.ErrorMessage" (after every open file has been closed by the unwinding),
// pauses 2 seconds and ends with the stop's exit status.
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/kinds.hpp"

namespace kinrad {

class ProgramStop : public std::exception {
 public:
  enum class Kind {
    error,   // an error stop: messages, error file, pause, status 1
    silent,  // a stop the program decides without a message: status 0
    // The self-check of the search state found a fault: its diagnostic is already on the
    // screen; the same lines go to the error file and "STOP " + the code to standard error.
    self_check,
  };

  ProgramStop(Kind kind, int4 flag, std::string name, std::string lines = {})
      : kind_(kind), flag_(flag), name_(std::move(name)), lines_(std::move(lines)) {}

  Kind kind() const { return kind_; }
  // 0: the memory flag (insufficient memory); otherwise the error lines are the message.
  int4 flag() const { return flag_; }
  // The routine's name; for a self-check stop its stop code.
  const std::string& name() const { return name_; }
  // A self-check stop: the diagnostic lines, each ended by a line feed.
  const std::string& lines() const { return lines_; }
  // Exit status of the program: a failure is never reported as success.
  int status() const { return kind_ == Kind::silent ? 0 : 1; }
  const char* what() const noexcept override { return "program stop"; }

 private:
  Kind kind_;
  int4 flag_;
  std::string name_;
  std::string lines_;
};

// Ends the program through the error stop. flag 0 reports insufficient memory in place of the
// error lines; name is the failing routine as the caller spells it.
[[noreturn]] void stoponerror(int4 flag, std::string_view name);
// A data error: the message followed by the two fixed lines on errors in the data.
[[noreturn]] void stopondataerror(std::string_view message);
// A sort whose work stack is too small.
[[noreturn]] void stackerror(std::string_view name);
// A stop with exit status 0 and nothing written.
[[noreturn]] void stop_silently();
// The stop of the search-state self-check: `lines` (each ended by a line feed) were written to
// standard output; code is the stop code ("#00" .. "#17").
[[noreturn]] void stop_self_check(std::string_view code, std::string lines);

// Writes what an error stop shows: the screen lines (when this process displays) and the file
// "Kinrad2.ErrorMessage" in the working directory, then pauses `pause_length` seconds. Returns the
// exit status. Called by the main program once the stop has unwound.
int report_program_stop(const ProgramStop& stop, int pause_length = 2);

// Removes "Kinrad2.ErrorMessage" when an error stop of an analysis of `stem` wrote it (its last
// line names the stem) before `since`; a file of another stem, or one written since (by an
// analysis refused while this one ran), is left alone.
void remove_stale_error_file(const std::string& stem, std::filesystem::file_time_type since);

}  // namespace kinrad
