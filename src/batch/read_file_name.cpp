#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

#include "batch/batch_runner.hpp"
#include "core/command_line.hpp"
#include "core/format_write.hpp"
#include "core/record_reader.hpp"

namespace kinrad::batch {

namespace {

bool file_exists(std::string_view name) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::path(name), ec);
}

// Process 0 tells why nothing will run; every process then stops.
bool stop_with(const FString<200>& message) {
  if (variables.threadid == 0) {
    fwrite(std::cout, "(A)", message.trimmed());
    fwrite(std::cout, "(A)", "Program stopping!");
    std::cout.flush();
  }
  return false;
}

}  // namespace

bool readfilename() {
  FString<200> message;  // blank until a check fails; a longer message keeps its first 200
  FString<200> listfile;

  variables.execfile = get_command_argument(1);
  if (variables.execfile.blank()) {
    message = "No executable file name in command line!";
  } else {
    listfile = get_command_argument(2);
    if (listfile.blank()) message = "No input file name in command line!";
  }
  if (message.blank()) {
    variables.execfile = adjustl(variables.execfile.view());
    listfile = adjustl(listfile.view());
    if (!file_exists(variables.execfile.trimmed())) {
      message =
          "The executable, " + std::string(variables.execfile.trimmed()) + ", does not exist!";
    } else if (!file_exists(listfile.trimmed())) {
      message = "The input file, " + std::string(listfile.trimmed()) + ", does not exist!";
    }
  }
  if (!message.blank()) return stop_with(message);

  // Counting pass: each statement takes the first value of the next line holding one, so
  // lines of blanks are passed over and anything after a name on its line is ignored.
  const std::string listname(listfile.trimmed());
  RecordReader list;
  list.open(listname);
  variables.numfile = 0;
  FString<200> buffer;
  while (list.read_list(buffer) == IoStatus::ok) ++variables.numfile;
  list.close();
  if (variables.numfile == 0) message = "No kinrad input file names in file " + listname + "!";

  variables.inputfile.allocate(variables.numfile);
  list.open(listname);
  for (int4 i = 1; i <= variables.numfile; ++i) {
    FString<99>& name = variables.inputfile(i);
    list.read_list(name);
    name = adjustl(name.view());
    if (!file_exists(name.trimmed())) {
      message = "Kinrad input file, " + std::string(name.trimmed()) + ", does not exist!";
      break;
    }
  }
  list.close();
  if (!message.blank()) return stop_with(message);

  // A shell whose PATH starts at the root would not look in the working directory, so a bare
  // program name is started from there; a name with a directory is started as given.
  const char* path = std::getenv("PATH");
  if (path != nullptr && path[0] == '/' &&
      variables.execfile.trimmed().find('/') == std::string_view::npos) {
    variables.execfile = "./" + std::string(variables.execfile.trimmed());
  }
  return true;
}

}  // namespace kinrad::batch
