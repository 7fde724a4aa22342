// watch: reads the named registers and fields every interval and prints what changed, with the
// time; ends after --count reads or at once on SIGINT or SIGTERM.
#include <signal.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

#include "regtool/commands.h"
#include "regtool/dump.h"

namespace demodctl::regtool {
namespace {

constexpr long kMsPerSecond = 1000;
constexpr long kNsPerMs = 1000000;

// "12:34:56.789", UTC.
std::string timestamp() {
  const auto now = std::chrono::system_clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
  const std::time_t seconds = static_cast<std::time_t>(ms.count() / kMsPerSecond);
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%02d:%02d:%02d.%03ld", parts.tm_hour, parts.tm_min,
                parts.tm_sec, static_cast<long>(ms.count() % kMsPerSecond));
  return text.data();
}

std::string label(const Selector& s) {
  if (s.field) return std::string(s.field->name);
  std::array<char, 8> text{};
  std::snprintf(text.data(), text.size(), "0x%02x", s.reg);
  return text.data();
}

Result<uint32_t> read_one(const RegisterSpace& space, const Selector& s) {
  std::vector<uint8_t> bytes(s.field ? s.field->bytes() : 1U);
  if (auto done = read_regs(space, s.reg, bytes); !done) return done.error();
  if (!s.field) return uint32_t{bytes.front()};
  Dump dump;
  for (std::size_t i = 0; i < bytes.size(); ++i)
    dump.bytes[(s.reg + i) % kRegisterCount] = bytes[i];
  return field_value(*s.field, dump).value_or(0);
}

// Waits the interval; false when SIGINT or SIGTERM came (they are blocked and taken here).
bool wait_interval(const sigset_t& stops, unsigned interval_ms) {
  timespec left{static_cast<time_t>(interval_ms / kMsPerSecond),
                static_cast<long>(interval_ms % kMsPerSecond) * kNsPerMs};
  int got = 0;
  do {
    got = sigtimedwait(&stops, nullptr, &left);
  } while (got < 0 && errno == EINTR);
  return got < 0;  // EAGAIN: the interval passed with no signal
}

}  // namespace

int run_watch(const Request& r, const RegisterSpace& space) {
  for (const Selector& s : r.selectors) {
    if (s.field && space.tuner) {
      complain("names are the demodulator's: give a tuner register by number");
      return kExitUsage;
    }
  }
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  sigprocmask(SIG_BLOCK, &stops, nullptr);
  std::vector<std::optional<uint32_t>> last(r.selectors.size());
  for (uint64_t reads = 0; !r.watch_count || reads < *r.watch_count; ++reads) {
    if (reads > 0 && !wait_interval(stops, r.interval_ms)) break;
    for (std::size_t i = 0; i < r.selectors.size(); ++i) {
      const Result<uint32_t> value = read_one(space, r.selectors[i]);
      if (!value) return board_fault(value.error());
      if (last[i] == *value) continue;
      if (last[i]) {
        std::printf("%s %s %u -> %u\n", timestamp().c_str(), label(r.selectors[i]).c_str(),
                    *last[i], *value);
      } else {
        std::printf("%s %s %u\n", timestamp().c_str(), label(r.selectors[i]).c_str(), *value);
      }
      last[i] = *value;
    }
    std::fflush(stdout);
  }
  return kExitOk;
}

}  // namespace demodctl::regtool
