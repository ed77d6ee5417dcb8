#pragma once
// Sends a signal to a started program the moment a file event in its working directory matches:
// the n-th file created or renamed into place whose name passes a test (watched with inotify,
// so the program has no time to go on far). For cases that interrupt an analysis at a chosen
// point: right after a checkpoint is renamed into place, while a result file's temporary is
// open.
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "support/program_process.hpp"

namespace kinrad::testing_support {

struct SignalOutcome {
  bool sent = false;  // false: the program ended before the event
  int status = -1;    // its exit status, or 128 + the signal that ended it
};

// Starts the program in `dir` with `args` (screen to `screen`) and sends `signo` (`times` times
// in a row, as a terminal or a batch system may send it to the process and to its group) at the
// n-th event of `events` (IN_CREATE, IN_MOVED_TO) whose file name `match` accepts; then waits
// for the program to end.
inline SignalOutcome signal_on_file(const ProgramDir& dir, const std::vector<std::string>& args,
                                    std::uint32_t events,
                                    const std::function<bool(std::string_view)>& match, int n,
                                    int signo, const std::string& screen = ".stdout",
                                    int times = 1) {
  SignalOutcome out;
  const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return out;
  if (::inotify_add_watch(fd, dir.path().c_str(), events) < 0) {
    ::close(fd);
    return out;
  }
  const pid_t pid = dir.start(args, "", screen);
  int seen = 0;
  alignas(inotify_event) char buf[8192];
  while (!out.sent) {
    pollfd p{fd, POLLIN, 0};
    ::poll(&p, 1, 50);
    for (;;) {
      const ssize_t len = ::read(fd, buf, sizeof buf);
      if (len <= 0) break;
      for (ssize_t off = 0; off < len;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buf + off);
        if (!out.sent && e->len > 0 && match(e->name) && ++seen == n) {
          for (int k = 0; k < times; ++k) ::kill(pid, signo);
          out.sent = true;
        }
        off += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      }
    }
    if (out.sent) break;
    int raw = 0;
    if (::waitpid(pid, &raw, WNOHANG) == pid) {
      ::close(fd);
      out.status = WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : WEXITSTATUS(raw);
      return out;
    }
  }
  ::close(fd);
  out.status = ProgramDir::wait(pid);
  return out;
}

}  // namespace kinrad::testing_support
