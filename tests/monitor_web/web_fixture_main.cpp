// demodmon_web_fixture: the monitor's web side on a scripted feed, for the browser test. A rack of
// 16 boards "a".."p" sampled every 200 ms. Board "a" holds lock for 5 samples (lock status 0x3F)
// and loses CR and FEC for the next 5 (0x0F), so sample i is locked when ((i - 1) / 5) is even;
// "b" stays locked with a BER past the page's degraded limit; "c" is unreachable; the others stay
// locked in modes whose report text has the chip's own words ("Directv", "NA", "Reserved"). A
// capture asked for from the page arrives with the next sample, a QPSK constellation with a MER
// of 15.5 dB. Prints "port N" once listening; runs until SIGTERM or SIGINT, or 90 s at most.
#include <cmath>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

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
constexpr double kDegradedBer = 2e-3;
constexpr double kGoodBer = 2.5e-6;

// The modes the locked boards cycle through: DVB-S2 8PSK 3/4 with pilots, DirecTV with a rate
// code the standard lacks, DVB-S2 with a reserved MODCOD, DVB-S 7/8, DVB-S2 VCM.
const demodctl::ModeReport kModes[] = {
    {.standard = demodctl::Standard::dvbs2, .modcod = 14, .pilots = true},
    {.standard = demodctl::Standard::directv, .rate_code = 3},
    {.standard = demodctl::Standard::dvbs2, .modcod = 30, .rolloff_code = 3},
    {.standard = demodctl::Standard::dvbs, .rate_code = 4},
    {.standard = demodctl::Standard::dvbs2, .vcm = true},
};

std::vector<std::string> rack() {
  constexpr char kBoards = 16;
  std::vector<std::string> names;
  for (char n = 0; n < kBoards; ++n) names.emplace_back(1, static_cast<char>('a' + n));
  return names;
}
constexpr auto kRunBound = 90s;

BoardSample sample_of(const std::string& board, uint64_t index) {
  const bool locked = board != "a" || ((index - 1) / kPhase) % 2 == 0;
  // A slow swing of +-1 dB in the chip's tenths of a dB.
  const double wobble = std::round(std::sin(static_cast<double>(index) / 3.0) * 10) / 10;
  BoardSample s;
  s.board = board;
  s.time = std::chrono::system_clock::now();
  s.index = index;
  s.connected = board != "c";
  if (!s.connected) {
    s.failure = "no connection";
    return s;
  }
  s.lock_status = locked ? kLocked : kUnlocked;
  s.strength_dbm = -45.0 + wobble;
  s.mode = "unkown standard!";
  if (locked) {
    s.cn_db = 14.0 + wobble;
    s.ber = board == "b" ? kDegradedBer : kGoodBer;
    s.lock_time_ms = 120;
    s.carrier_offset_khz = -12.5;
    s.symbol_offset_khz = 0.25;
    s.mode_fields = board <= "b"
                        ? demodctl::ModeReport{.standard = demodctl::Standard::dvbs2, .modcod = 7}
                        : kModes[static_cast<size_t>(board[0] - 'c') % std::size(kModes)];
    s.mode = demodctl::mode_text(s.mode_fields);
  }
  s.registers = {{0x2C, {s.lock_status}}};
  return s;
}

CaptureRecord capture_of(const std::string& board) {
  CaptureRecord c;
  c.board = board;
  c.time = std::chrono::system_clock::now();
  c.mode = "DVB-S2,QPSK+3/4,Normal Frame,PLT OFF,Roll_off=0.35";
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

  FeedStore feed(rack());
  WebOptions options;
  options.captures_allowed = true;
  demodctl::Result<std::unique_ptr<WebServer>> started = WebServer::start(options, feed);
  if (!started) {
    std::fprintf(stderr, "demodmon_web_fixture: %s\n", started.error().cause.c_str());
    return 1;
  }
  const std::unique_ptr<WebServer> server = std::move(*started);
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
