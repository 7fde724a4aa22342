// The debug log "qv_debug_file" in the working directory, written by tuner_set and symbol_err. The
// runner owns it for the run: it opens it anew for a command that keeps one (tuner_set) once the
// connection is up, symbol_err appends to it once the chip is locked, and the runner closes it
// when the run ends, so the lines written before a failure stay in it. It is opened without
// following a symbolic link and without waiting (files/safe_open.h), and must be a regular file.
// A log that cannot be opened so is skipped (with the run's verbose setting, why is said on
// standard error): no result line ever depends on it.
#pragma once

#include <cstdint>
#include <cstdio>

namespace demodctl {

inline constexpr const char* kDebugLogName = "qv_debug_file";

class DebugLog {
 public:
  DebugLog() = default;  // closed: lines go nowhere
  ~DebugLog() { close(); }
  DebugLog(const DebugLog&) = delete;
  DebugLog& operator=(const DebugLog&) = delete;

  enum class Start : uint8_t { fresh, append };
  // Starts a new log (emptied once it is known to be a regular file) or appends to it. False when
  // it cannot be opened; `verbose`: the reason is said on standard error.
  bool open(Start start, bool verbose);
  // printf-style line(s); nothing while closed.
  void printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // "----------------------------" text "-------------------------------------------\n"
  void banner(const char* text);
  void close();

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace demodctl
