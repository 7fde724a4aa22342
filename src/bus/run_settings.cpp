#include "bus/run_settings.h"

#include <cerrno>
#include <cstdlib>

namespace demodctl {
namespace {

constexpr long kMaxNetTimeoutMs = 10L * 60 * 1000;  // ten minutes
constexpr int kDecimal = 10;

bool non_empty(const char* text) { return text != nullptr && *text != '\0'; }

std::chrono::milliseconds reply_timeout(const char* text) {
  if (!non_empty(text)) return kDefaultNetTimeout;
  char* end = nullptr;
  errno = 0;
  const long ms = std::strtol(text, &end, kDecimal);
  if (errno != 0 || *end != '\0' || ms <= 0 || ms > kMaxNetTimeoutMs) return kDefaultNetTimeout;
  return std::chrono::milliseconds(ms);
}

}  // namespace

RunSettings run_settings_from(const EnvLookup& lookup) {
  RunSettings s;
  const char* timeout = lookup(kNetTimeoutEnvVar);
  s.reply_timeout = reply_timeout(timeout);
  s.reply_timeout_given = timeout != nullptr;
  for (const char* name : {kBusTraceEnvVar, kI2cTraceEnvVar}) {
    if (const char* path = lookup(name); non_empty(path)) {
      s.trace_path = path;
      break;
    }
  }
  s.verbose = non_empty(lookup(kVerboseEnvVar));
  if (const char* bus = lookup(kBusEnvVar); bus != nullptr) s.bridge_bus = bus;
  return s;
}

}  // namespace demodctl
