#pragma once
// SIGINT and SIGTERM end an analysis like an error stop. The handler only records the signal;
// the long loops poll the record at points where nothing is half done (a progress tick, an
// iteration of the search, a step of the result writer), and the poll raises the error stop
// from ordinary code, so that the unwinding removes the open temporaries, the main program
// writes the reason to the screen and to "Kinrad2.ErrorMessage" and releases the stem's lock.
// Checkpoints already written stay, so the same command resumes the analysis. Once the stop is
// reported, the program ends by the same signal with its default action, so that a shell (or
// a loop in a script) learns that it was interrupted.
#include <csignal>
#include <string_view>

namespace kinrad {

struct StopSignal {
  volatile std::sig_atomic_t signo = 0;   // the signal received, 0 while none
  std::string_view routine = "Kinrad2p";  // the phase the closing line of the stop names
};
constinit inline StopSignal stop_signal{};

// Installs the handler of SIGINT and SIGTERM. A repeated signal is taken as the same request
// (it is often delivered twice, to the process and to its group); a third one ends the program
// at once, as without the handler.
void install_stop_signals();

// The error stop for the recorded signal: "Program stopped by signal SIGINT (interrupt)" or
// "... SIGTERM (termination request)", with the routine of stop_signal.
[[noreturn]] void stop_on_signal();

// The poll of the long loops: the error stop when a signal has been recorded.
inline void stop_if_signalled() {
  if (stop_signal.signo != 0) [[unlikely]]
    stop_on_signal();
}

// After the stop has been reported: ends the process by the recorded signal with its default
// action; returns only when no signal was recorded.
void end_by_stop_signal();

}  // namespace kinrad
