#include "debug_log/debug_log.h"

#include <unistd.h>

#include <cstdarg>
#include <string>

#include "files/safe_open.h"

namespace demodctl {

bool DebugLog::open(Start start, bool verbose) {
  close();
  // A fresh log is emptied only once it is known to be a regular file: a link, a FIFO or a device
  // is never truncated, followed or waited on.
  const bool fresh = start == Start::fresh;
  const FileRule rule{.access = fresh ? O_RDWR | O_CREAT : O_WRONLY | O_CREAT | O_APPEND,
                      .truncate = fresh};
  const Result<int> fd = open_file(kDebugLogName, rule);
  std::string reason = fd ? "cannot make a stream of it" : fd.error().cause;
  if (fd) file_ = ::fdopen(*fd, fresh ? "w+" : "a");
  if (file_ != nullptr) return true;
  if (fd) ::close(*fd);
  if (verbose) std::fprintf(stderr, "demodctl: debug log: %s: %s\n", kDebugLogName, reason.c_str());
  return false;
}

void DebugLog::printf(const char* format, ...) {
  if (file_ == nullptr) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(file_, format, args);
  va_end(args);
}

void DebugLog::banner(const char* text) {
  // 28 hyphens, the text, 43 hyphens.
  printf("----------------------------%s-------------------------------------------\n", text);
}

void DebugLog::close() {
  if (file_ == nullptr) return;
  std::fclose(file_);
  file_ = nullptr;
}

}  // namespace demodctl
