#include "core/error_stop.hpp"

#include <fstream>
#include <iostream>
#include <string>
#include <utility>

#include "core/clock.hpp"
#include "core/fixed_string.hpp"
#include "core/format_write.hpp"
#include "core/modules/variables.hpp"

namespace kinrad {

void stoponerror(int4 flag, std::string_view name) {
  throw ProgramStop(ProgramStop::Kind::error, flag, std::string(name));
}

void stopondataerror(std::string_view message) {
  // The trailing line feed puts an empty line after the message on the screen and in the
  // file; a message that already ends in one keeps it and so gets two.
  std::string line(trim_both(message));
  line += '\n';
  variables.errmsg(1) = line;
  variables.errmsg(2) = "Errors in DATA. Insufficient data or incorrect format.";
  variables.errmsg(3) = "Please check DATA and format and then re-run the program";
  stoponerror(1, "StopOnDataError");
}

void stackerror(std::string_view name) {
  std::string line = "Program stops due to NSTACK too small in subroutine ";
  line += name;
  variables.errmsg(1) = line;
  stoponerror(1, "StackError");
}

void stop_silently() {
  throw ProgramStop(ProgramStop::Kind::silent, 1, std::string());
}

void stop_self_check(std::string_view code, std::string lines) {
  throw ProgramStop(ProgramStop::Kind::self_check, 1, std::string(code), std::move(lines));
}

int report_program_stop(const ProgramStop& stop, int pause_length) {
  if (stop.kind() == ProgramStop::Kind::self_check) {
    // A corrupted search state is a failure: the diagnostic is kept in the error file too.
    if (variables.threadid == 0) {
      std::ofstream file("Kinrad2.ErrorMessage",
                         std::ios::out | std::ios::trunc | std::ios::binary);
      file << stop.lines();
    }
    std::cerr << "STOP " << stop.name() << '\n';
    std::cerr.flush();
    return stop.status();
  }
  if (stop.kind() != ProgramStop::Kind::error) return stop.status();
  // Only process 0 reports, so that parallel processes never write the same file.
  if (variables.threadid != 0) return stop.status();

  const bool show = variables.displayq == 1;
  if (show) fwrite(std::cout, "(A)", "");
  std::ofstream file("Kinrad2.ErrorMessage", std::ios::out | std::ios::trunc | std::ios::binary);
  auto put = [&](std::string_view line) {
    if (show) fwrite(std::cout, "(A)", line);
    if (file) fwrite(file, "(A)", line);
  };
  if (stop.flag() != 0) {
    for (index_t i = 1; i <= 5; ++i)
      if (!variables.errmsg(i).blank()) put(variables.errmsg(i).trimmed());
  } else {
    put("Program stopped due to insufficient memory!");
  }
  std::string last = "Program stopped in subroutine ";
  last += trim(stop.name());
  last += ", dataset = ";
  last += variables.fname;
  last += ".";
  const FString<999> closing(last);
  put(closing.trimmed());
  file.close();
  std::cout.flush();
  pause_seconds(pause_length);
  return stop.status();
}

}  // namespace kinrad
