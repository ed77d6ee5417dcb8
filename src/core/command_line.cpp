#include "core/command_line.hpp"

#include <utility>

namespace kinrad {

void set_command_line(int argc, const char* const* argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  set_command_line(std::move(args));
}

void set_command_line(std::vector<std::string> args) {
  command_line.args = std::move(args);
}

int command_argument_count() {
  return static_cast<int>(command_line.args.size());
}

std::string get_command_argument(int i) {
  if (i < 1 || i > command_argument_count()) return std::string();
  return command_line.args[static_cast<std::size_t>(i - 1)];
}

}  // namespace kinrad
