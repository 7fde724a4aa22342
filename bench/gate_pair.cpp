// One tuner byte through the register server's repeater, as the tuner's bus writes it: the gate
// opening (a demodulator write), the tuner write, then the repeater's 2 ms pause. Sent as one
// pipelined pair (RegClient::write_pair) against the baseline of the same two writes as two calls,
// on one connection to regserver on the simulated board. Blocks of rounds of the two alternate, so
// a load that comes and goes weighs on both alike. Reported: the median time from the first send
// to the tuner write's acknowledgement, and the median of a whole round beyond its pause, with the
// pair's ratio to the baseline for each.
//
//   bench_gate_pair [ROUNDS] [PORT]   (PORT: a regserver already running on 127.0.0.1, else one is
//                                      started here)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_support.h"
#include "bus/delay.h"
#include "bus/reg_client.h"

namespace {

using bench::Clock;
using bench::median;
using demodctl::RegClient;
using demodctl::ServerWrite;

constexpr int kPauseMs = 2;          // after each tuner byte through the repeater
constexpr int kBlockRounds = 25;     // rounds of one kind before the other kind's turn
constexpr uint8_t kOpen[] = {0x01};  // the repeater-open bit of the demodulator's register 0x2D
constexpr uint8_t kTunerByte[] = {0x04};
const ServerWrite kGate{{0, 0xD0, 0x2D}, kOpen};
const ServerWrite kTuner{{0, 0xC0, 0x04}, kTunerByte};

struct Times {
  std::vector<double> exchange_us;  // first send to the tuner write's acknowledgement
  std::vector<double> beyond_us;    // the whole round less its pause
};

double us_between(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::micro>(b - a).count();
}

int round_of(RegClient& client, bool pipelined, Times& times) {
  const auto t0 = Clock::now();
  const bool ok = pipelined ? bool(client.write_pair(kGate, kTuner))
                            : client.write_regs(kGate.at, kGate.data) &&
                                  client.write_regs(kTuner.at, kTuner.data);
  const auto acked = Clock::now();
  demodctl::delay_ms(kPauseMs);
  times.exchange_us.push_back(us_between(t0, acked));
  times.beyond_us.push_back(us_between(t0, Clock::now()) - kPauseMs * 1000.0);
  return ok ? 0 : 1;
}

void report(const char* what, const std::vector<double>& pair, const std::vector<double>& two) {
  std::printf("%-34s pair %8.2f us   two calls %8.2f us   ratio %.3f\n", what, median(pair),
              median(two), median(pair) / median(two));
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
  int port = argc > 2 ? std::atoi(argv[2]) : 0;
  bench::Child server;
  if (port <= 0) {
    server = bench::start_regserver();
    port = server.port;
  }
  if (port <= 0 || rounds < 1) {
    std::fprintf(stderr, "usage: %s [ROUNDS] [PORT] (regserver did not start?)\n", argv[0]);
    return 1;
  }
  RegClient client;
  if (!client.connect("127.0.0.1", port)) {
    std::fprintf(stderr, "no connection to port %d\n", port);
    return 1;
  }
  Times pair;
  Times two;
  int failures = 0;
  for (int done = 0; done < rounds; done += kBlockRounds) {
    for (int i = 0; i < kBlockRounds; ++i) failures += round_of(client, true, pair);
    for (int i = 0; i < kBlockRounds; ++i) failures += round_of(client, false, two);
  }
  client.disconnect();
  if (server.pid > 0) bench::stop(server);
  if (failures != 0) std::fprintf(stderr, "%d rounds failed\n", failures);
  std::printf("gate opening + tuner write, %d rounds of each (medians):\n", rounds);
  report("to the acknowledgement", pair.exchange_us, two.exchange_us);
  report("a round beyond its 2 ms pause", pair.beyond_us, two.beyond_us);
  return failures == 0 ? 0 : 1;
}
