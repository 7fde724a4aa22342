#include "output/debug_log.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <string>

#include "files/safe_open.h"

namespace demodctl {
namespace {

// Says why the log is skipped, on standard error, only when DEMODCTL_VERBOSE is set.
void report_skipped_log(const std::string& reason) {
  const char* verbose = std::getenv("DEMODCTL_VERBOSE");
  if (verbose == nullptr || *verbose == '\0') return;
  std::fprintf(stderr, "demodctl: debug log: %s: %s\n", kDebugLogName, reason.c_str());
}

// The one log of the process; nullptr while none is open.
std::FILE* debug_log = nullptr;

}  // namespace

bool debug_log_open(const char* mode) {
  debug_log_close();
  // "w+" starts a new log, emptied only once it is known to be a regular file (a link, a FIFO or
  // a device is never truncated, followed or waited on); "a" appends.
  const bool fresh = mode[0] == 'w';
  const FileRule rule{.access = fresh ? O_RDWR | O_CREAT : O_WRONLY | O_CREAT | O_APPEND,
                      .truncate = fresh};
  std::string reason;
  const int fd = open_file(kDebugLogName, rule, &reason);
  if (fd >= 0) debug_log = ::fdopen(fd, mode);
  if (debug_log != nullptr) return true;
  if (fd >= 0) {
    reason = "cannot make a stream of it";
    ::close(fd);
  }
  report_skipped_log(reason);
  return false;
}

void debug_log_printf(const char* format, ...) {
  if (debug_log == nullptr) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(debug_log, format, args);
  va_end(args);
}

void debug_log_banner(const char* text) {
  // 28 hyphens, the text, 43 hyphens.
  debug_log_printf("----------------------------%s-------------------------------------------\n",
                   text);
}

void debug_log_close() {
  if (debug_log == nullptr) return;
  std::fclose(debug_log);
  debug_log = nullptr;
}

}  // namespace demodctl
