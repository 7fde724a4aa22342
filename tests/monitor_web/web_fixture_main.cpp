// demodmon_web_fixture: the monitor's web side on a scripted feed, for the browser test. Two
// boards, "a" and "b", sampled every 200 ms: each holds lock for 5 samples (lock status 0x3F) and
// loses CR and FEC for the next 5 (0x0F), so sample i is locked when ((i - 1) / 5) is even. A
// capture asked for from the page arrives with the next sample, a QPSK constellation with a
// MER of 15.5 dB. Prints "port N" once listening; runs until SIGTERM or SIGINT, or 90 s at most.
#include <cmath>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "monitor/feed_store.h"
#include "monitor_web/web_server.h"

namespace {

using namespace demodctl::monitor;
using namespace std::chrono_literals;

volatile std::sig_atomic_t g_stop = 0;

constexpr uint8_t kLocked = 0x3F;    // AGC, CBS, TR, SYNC, CR, FEC
constexpr uint8_t kUnlocked = 0x0F;  // CR and FEC dropped
constexpr size_t kCapturePairs = 2048;
constexpr int kQpskAmplitude = 60;
constexpr double kFixtureMerDb = 15.5;

constexpr auto kInterval = 200ms;
constexpr uint64_t kPhase = 5;  // samples per lock phase
constexpr auto kRunBound = 90s;

BoardSample sample_of(const std::string& board, uint64_t index) {
  const bool locked = ((index - 1) / kPhase) % 2 == 0;
  const double wobble = std::sin(static_cast<double>(index) / 3.0);
  BoardSample s;
  s.board = board;
  s.time = std::chrono::system_clock::now();
  s.index = index;
  s.connected = true;
  s.lock_status = locked ? kLocked : kUnlocked;
  s.strength_dbm = -45.0 + wobble;
  if (locked) {
    s.cn_db = (board == "a" ? 11.0 : 8.0) + wobble;
    s.ber = 2.5e-6;
    s.lock_time_ms = 120;
    s.carrier_offset_khz = -12.5;
    s.symbol_offset_khz = 0.25;
    s.mode = "DVB-S2 QPSK 3/4";
  }
  s.registers = {{0x2C, {s.lock_status}}};
  return s;
}

CaptureRecord capture_of(const std::string& board) {
  CaptureRecord c;
  c.board = board;
  c.time = std::chrono::system_clock::now();
  c.mode = "DVB-S2 QPSK 3/4";
  c.mer_db = kFixtureMerDb;
  for (size_t n = 0; n < kCapturePairs; ++n) {
    c.pairs.emplace_back((n & 1U) ? kQpskAmplitude : -kQpskAmplitude,
                         (n & 2U) ? kQpskAmplitude : -kQpskAmplitude);
  }
  return c;
}

}  // namespace

int main() {
  std::signal(SIGTERM, [](int) { g_stop = 1; });
  std::signal(SIGINT, [](int) { g_stop = 1; });

  FeedStore feed({"a", "b"});
  WebOptions options;
  options.captures_allowed = true;
  std::string error;
  std::unique_ptr<WebServer> server = WebServer::start(options, feed, &error);
  if (!server) {
    std::fprintf(stderr, "demodmon_web_fixture: %s\n", error.c_str());
    return 1;
  }
  std::printf("port %u\n", server->port());
  std::fflush(stdout);

  const auto end = std::chrono::steady_clock::now() + kRunBound;
  auto next = std::chrono::steady_clock::now();
  for (uint64_t index = 1; !g_stop && std::chrono::steady_clock::now() < end; ++index) {
    for (const std::string& board : feed.boards()) {
      feed.publish_sample(sample_of(board, index));  // lock events derived from these
      if (feed.take_capture_request(board)) feed.publish_capture(capture_of(board));
    }
    next += kInterval;
    std::this_thread::sleep_until(next);
  }
  server->stop();
  return 0;
}
