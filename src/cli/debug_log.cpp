#include "cli/debug_log.h"

#include <cstdarg>

namespace demodctl {

std::FILE* debug_log = nullptr;

bool debug_log_open(const char* mode) {
  if (debug_log != nullptr) std::fclose(debug_log);
  debug_log = std::fopen(kDebugLogName, mode);
  return debug_log != nullptr;
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
