// A stand-in for the main program in the batch runner's tests. It appends one line to
// "stand_in.log" in the working directory with every argument it received (the program name
// first), each in square brackets, and nothing else, so a test can see which process ran which
// file and that each argument arrived whole. The line goes out in one write to a file opened
// for appending, so the lines of runs on different processes never interleave.
// An argument holding "fail" makes it exit with status 3; one holding "signal" makes it end by
// the signal SIGTERM.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <string_view>

int main(int argc, char** argv) {
  std::string line;
  bool fail = false;
  bool signal = false;
  for (int i = 0; i < argc; ++i) {
    const std::string_view a(argv[i]);
    line += '[';
    line += a;
    line += ']';
    if (i > 0 && a.find("fail") != std::string_view::npos) fail = true;
    if (i > 0 && a.find("signal") != std::string_view::npos) signal = true;
  }
  line += '\n';
  const int fd = ::open("stand_in.log", O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) return 2;
  const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  ::close(fd);
  if (!written) return 2;
  if (signal) std::raise(SIGTERM);
  return fail ? 3 : 0;
}
