// The debug log "qv_debug_file" in the working directory, written by the tuner
// and symbol-rate commands. It is opened without following a symbolic link and
// without waiting (files/safe_open.h), and must be a regular file. A log that
// cannot be opened so is skipped (DEMODCTL_VERBOSE=1 says why on standard
// error): no result line ever depends on it. A log left open is flushed and
// closed by the C runtime when the process ends, so its lines are never lost.
#pragma once

#include <cstdio>

namespace demodctl {

inline constexpr const char* kDebugLogName = "qv_debug_file";

// mode "w+" starts a new log, "a" appends. Returns false when it cannot be opened.
bool debug_log_open(const char* mode);
// printf-style line(s); nothing when no log is open.
void debug_log_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// "----------------------------" text "-------------------------------------------\n"
void debug_log_banner(const char* text);
void debug_log_close();

}  // namespace demodctl
