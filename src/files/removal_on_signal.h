// A file that must not outlive the process: while it is guarded, SIGINT, SIGTERM, SIGHUP, SIGPIPE
// and SIGQUIT (Ctrl-\) remove it, then end the process with the signal's usual status (SIGQUIT's
// core dump included). A signal the process was started ignoring (nohup) stays ignored. One file at
// a time; single-threaded programs.
#pragma once

namespace demodctl {

// Blocks the five signals for as long as it lives: a guard is set or dropped, and the file
// created, renamed or removed, without a signal in between.
class SignalHold {
 public:
  SignalHold();
  ~SignalHold();
  SignalHold(const SignalHold&) = delete;
  SignalHold& operator=(const SignalHold&) = delete;
};

// `name` (relative to the working directory, which the program does not change) is removed by
// the five signals from now on. False when a file is guarded already or the name is too long.
// Call under a SignalHold.
bool guard_file_on_signal(const char* name);
// The signals' earlier dispositions are back. Call under a SignalHold.
void drop_signal_guard();

}  // namespace demodctl
