// demodmon_web_fixture: the monitor's web side on a scripted feed, for the browser and Prometheus
// tests. Two boards, "a" and "b", sampled every --interval-ms: each holds lock for --phase samples
// (lock status 0x3F) and loses CR and FEC for the next --phase (0x0F), so sample i is locked when
// ((i - 1) / phase) is even. A capture asked for from the page arrives with the next sample, a
// noisy QPSK constellation with a MER of 15.5 dB. Prints "port N" once listening; runs until
// SIGTERM or SIGINT, or --seconds at most.
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
constexpr int kNoiseSpan = 9;  // the constellation's noise: -4..4 on each axis
constexpr double kFixtureMerDb = 15.5;

struct Args {
  int interval_ms = 200;
  uint64_t phase = 5;
  int seconds = 60;
  bool captures = false;
};

bool parse(int argc, char** argv, Args* args) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--captures") {
      args->captures = true;
      continue;
    }
    const long long value = i + 1 < argc ? std::atoll(argv[++i]) : 0;
    if (arg == "--interval-ms") {
      args->interval_ms = static_cast<int>(value);
    } else if (arg == "--phase") {
      args->phase = static_cast<uint64_t>(value);
    } else if (arg == "--seconds") {
      args->seconds = static_cast<int>(value);
    } else {
      return false;
    }
  }
  return args->interval_ms > 0 && args->phase > 0 && args->seconds > 0;
}

BoardSample sample_of(const std::string& board, uint64_t index, uint64_t phase) {
  const bool locked = ((index - 1) / phase) % 2 == 0;
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
  unsigned seed = 1;
  for (size_t n = 0; n < kCapturePairs; ++n) {
    seed = seed * 1103515245U + 12345U;  // a fixed sequence: every run draws the same points
    const int noise_i = static_cast<int>((seed >> 16) % kNoiseSpan) - kNoiseSpan / 2;
    const int noise_q = static_cast<int>((seed >> 8) % kNoiseSpan) - kNoiseSpan / 2;
    const int i = (n & 1U) ? kQpskAmplitude : -kQpskAmplitude;
    const int q = (n & 2U) ? kQpskAmplitude : -kQpskAmplitude;
    c.pairs.emplace_back(i + noise_i, q + noise_q);
  }
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  Args args;
  if (!parse(argc, argv, &args)) {
    std::fprintf(stderr,
                 "usage: demodmon_web_fixture [--interval-ms MS] [--phase N] [--seconds S] "
                 "[--captures]\n");
    return 2;
  }
  std::signal(SIGTERM, [](int) { g_stop = 1; });
  std::signal(SIGINT, [](int) { g_stop = 1; });

  FeedStore feed({"a", "b"});
  WebOptions options;
  options.captures_allowed = args.captures;
  std::string error;
  std::unique_ptr<WebServer> server = WebServer::start(options, feed, &error);
  if (!server) {
    std::fprintf(stderr, "demodmon_web_fixture: %s\n", error.c_str());
    return 1;
  }
  std::printf("port %u\n", server->port());
  std::fflush(stdout);

  const auto interval = std::chrono::milliseconds(args.interval_ms);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(args.seconds);
  auto next = std::chrono::steady_clock::now();
  for (uint64_t index = 1; !g_stop && std::chrono::steady_clock::now() < end; ++index) {
    for (const std::string& board : feed.boards()) {
      feed.publish_sample(sample_of(board, index, args.phase));  // lock events derived from these
      if (feed.take_capture_request(board)) feed.publish_capture(capture_of(board));
    }
    next += interval;
    std::this_thread::sleep_until(next);
  }
  server->stop();
  return 0;
}
