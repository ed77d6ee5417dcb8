#include "core/stop_signal.hpp"

#include <signal.h>

#include <string>

#include "core/error_stop.hpp"
#include "core/modules/variables.hpp"

namespace kinrad {

namespace {

// Signals received so far; from the third on the program ends at once.
volatile std::sig_atomic_t received = 0;

extern "C" void record_stop_signal(int signo) {
  // The first signal received is the one the stop reports.
  if (stop_signal.signo == 0) stop_signal.signo = signo;
  if (received < 2) {
    received = received + 1;
    return;
  }
  // A third signal: the program is not reaching a poll (or the user insists). One repeat is
  // expected and no reason to give up the stop: a terminal, timeout and batch systems may
  // send the same signal both to the process and to its group.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signo, &action, nullptr);
  ::raise(signo);
}

}  // namespace

void install_stop_signals() {
  struct sigaction action {};
  action.sa_handler = record_stop_signal;
  sigemptyset(&action.sa_mask);
  // Interrupted system calls go on: a write is not failed by the signal.
  action.sa_flags = SA_RESTART;
  for (const int signo : {SIGINT, SIGTERM}) {
    // A signal the starting process chose to ignore (a background job of a shell script, a
    // program started under nohup) stays ignored.
    struct sigaction old {};
    if (::sigaction(signo, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    ::sigaction(signo, &action, nullptr);
  }
}

void stop_on_signal() {
  auto& v = variables;
  const int signo = stop_signal.signo;
  std::string reason = "Program stopped by signal ";
  if (signo == SIGINT)
    reason += "SIGINT (interrupt)";
  else if (signo == SIGTERM)
    reason += "SIGTERM (termination request)";
  else
    reason += std::to_string(signo);
  // Lines a reader left from its last item describe no failure here.
  for (auto& line : v.errmsg) line = "";
  v.errmsg(1) = reason;
  stoponerror(1, stop_signal.routine);
}

void end_by_stop_signal() {
  const int signo = stop_signal.signo;
  if (signo == 0) return;
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signo, &action, nullptr);
  ::raise(signo);
}

}  // namespace kinrad
