#include "server/server_log.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

namespace demodctl {
namespace {

// The longest a log line may wait for a stalled standard error.
constexpr int kWriteBoundMs = 50;

std::string timestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) %
                  std::chrono::seconds(1);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms.count()));
  return text;
}

}  // namespace

void ServerLog::line(std::string_view text) const {
  if (quiet_) return;
  std::string out = timestamp() + " regserver: ";
  out.append(text);
  out.push_back('\n');
  pollfd p{fd_, POLLOUT, 0};
  if (::poll(&p, 1, kWriteBoundMs) <= 0 || (p.revents & POLLOUT) == 0) return;
  std::string_view rest = out;
  while (!rest.empty()) {
    const ssize_t n = ::write(fd_, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    rest.remove_prefix(static_cast<size_t>(n));
  }
}

}  // namespace demodctl
