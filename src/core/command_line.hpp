#pragma once
// The platform's command-line access: the argument count and argument i as text. The main
// program hands its arguments over once; tests set their own.
#include <string>
#include <vector>

namespace kinrad {

// The arguments the process was started with, 1..n without the program name.
struct CommandLine {
  std::vector<std::string> args{};
};

constinit inline CommandLine command_line{};

void set_command_line(int argc, const char* const* argv);
void set_command_line(std::vector<std::string> args);  // arguments 1..n, without the program name
int command_argument_count();
// Argument i (1-based); the empty text past the last one.
std::string get_command_argument(int i);

}  // namespace kinrad
