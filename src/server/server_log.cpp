#include "server/server_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <string>

namespace demodctl {
namespace {

// Peers whose refusal period is tracked at once; the refusals of further peers are logged one by
// one, so a flood from many addresses costs lines, not memory.
constexpr size_t kMaxTrackedPeers = 1024;

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

// "192.0.2.7:51000" -> "192.0.2.7", "[::1]:40000" -> "[::1]"
std::string_view address_of(std::string_view peer) { return peer.substr(0, peer.rfind(':')); }

}  // namespace

ServerLog::ServerLog(bool quiet, int fd, std::function<Clock::time_point()> now)
    : quiet_(quiet), sink_(quiet ? nullptr : std::make_unique<LogSink>(fd)), now_(std::move(now)) {}

void ServerLog::line(std::string_view text) {
  if (quiet_) return;
  std::string out = timestamp() + " regserver: ";
  out.append(text);
  if (dropped_ > 0) {
    out += " (" + std::to_string(dropped_) +
           (dropped_ == 1 ? " earlier log line dropped)" : " earlier log lines dropped)");
  }
  out.push_back('\n');
  if (sink_->put(out)) {
    dropped_ = 0;
  } else {
    ++dropped_;
  }
}

void ServerLog::refusal(std::string_view peer, std::string_view text) {
  if (quiet_) return;
  const Clock::time_point now = now_();
  const std::string_view address = address_of(peer);
  auto period = periods_.find(address);
  if (period != periods_.end()) {
    if (now < period->second.end) {
      ++period->second.unlogged;
      return;
    }
    summarise(period);
  }
  if (periods_.size() < kMaxTrackedPeers) {
    periods_.emplace(std::string(address), Period{now + kRefusalPeriod, 0});
  }
  line(text);
}

void ServerLog::end_periods(bool stopping) {
  const Clock::time_point now = now_();
  for (auto period = periods_.begin(); period != periods_.end();) {
    const auto next = std::next(period);
    if (stopping || now >= period->second.end) summarise(period);
    period = next;
  }
}

// "refused 192.0.2.7 41 more times in 10 s (not logged one by one)", and the period ends.
void ServerLog::summarise(Periods::iterator period) {
  if (const size_t n = period->second.unlogged; n > 0) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(kRefusalPeriod).count();
    line("refused " + period->first + " " + std::to_string(n) +
         (n == 1 ? " more time" : " more times") + " in " + std::to_string(seconds) +
         " s (not logged one by one)");
  }
  periods_.erase(period);
}

}  // namespace demodctl
