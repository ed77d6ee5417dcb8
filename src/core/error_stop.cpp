#include "core/error_stop.hpp"

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <utility>

#include "core/clock.hpp"
#include "core/fixed_string.hpp"
#include "core/format_write.hpp"
#include "core/modules/variables.hpp"

namespace kinrad {

namespace {

constexpr std::string_view kErrorFile = "Kinrad2.ErrorMessage";
// The closing line of an error stop: these, the routine's name between them, the stem and ".".
constexpr std::string_view kClosingStart = "Program stopped in subroutine ";
constexpr std::string_view kClosingStem = ", dataset = ";

}  // namespace

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
      std::ofstream file(std::string(kErrorFile),
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
  std::ofstream file(std::string(kErrorFile), std::ios::out | std::ios::trunc | std::ios::binary);
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
  std::string last(kClosingStart);
  last += trim(stop.name());
  last += kClosingStem;
  last += variables.fname;
  last += ".";
  const FString<999> closing(last);
  put(closing.trimmed());
  file.close();
  std::cout.flush();
  pause_seconds(pause_length);
  return stop.status();
}

void remove_stale_error_file(const std::string& stem, std::filesystem::file_time_type since) {
  namespace fs = std::filesystem;
  const fs::path path{std::string(kErrorFile)};
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return;
  const fs::file_time_type written = fs::last_write_time(path, ec);
  if (ec || written >= since) return;
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  const std::size_t start = text.find_last_of('\n');
  const std::string_view last =
      std::string_view(text).substr(start == std::string::npos ? 0 : start + 1);
  std::string tail(kClosingStem);
  tail += stem;
  tail += ".";
  const bool named = last.starts_with(kClosingStart) && last.ends_with(tail);
  in.close();
  if (named) fs::remove(path, ec);
}

}  // namespace kinrad
