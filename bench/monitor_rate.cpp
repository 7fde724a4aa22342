// demodmon's samples against the shell loop it replaces, in the same run on one regserver with the
// simulated board: the wall time of one full sample (lock flags, the six measurements, the mode
// report: read_sample on one open connection) against one round of the four `demodctl` processes
// a shell loop runs per sample (sig_str, cn_read, ber_calc, dvb_standard). Reported as samples per
// second of each and their ratio.
#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "monitor/board_link.h"
#include "monitor/sample_reader.h"

namespace {

constexpr int kSamples = 400;
constexpr int kShellRounds = 40;
constexpr const char* kShellCommands[] = {"sig_str", "cn_read", "ber_calc", "dvb_standard"};

}  // namespace

int main() {
  using namespace demodctl;
  const bench::Child server = bench::start_regserver();
  if (server.port == 0) {
    std::fprintf(stderr, "regserver did not start\n");
    return 1;
  }
  monitor::BoardTarget target;
  target.name = "bench";
  target.device = I2cDevice{"127.0.0.1", server.port, 0, 100, 208};
  monitor::BoardLink link(target);
  if (!link.open()) {
    std::fprintf(stderr, "no connection to regserver\n");
    bench::stop(server);
    return 1;
  }
  int failed = 0;
  const auto t0 = bench::Clock::now();
  for (int i = 0; i < kSamples; ++i) {
    monitor::BoardSample sample;
    monitor::read_sample(link.transport(), sample);
    if (!sample.connected) ++failed;
  }
  const double monitor_rate = kSamples / bench::seconds_since(t0);
  link.close();

  double shell_s = 0.0;
  for (int round = 0; round < kShellRounds; ++round) {
    for (const char* command : kShellCommands) {
      shell_s += bench::run_timed(
          {DEMODCTL_BIN, "127.0.0.1", std::to_string(server.port), "0", "100", "208", command, "1"},
          {});
    }
  }
  const double shell_rate = kShellRounds / shell_s;
  bench::stop(server);
  std::printf("demodmon sample (one open connection): %.0f samples/s (%d failed)\n", monitor_rate,
              failed);
  std::printf("shell loop of 4 demodctl runs:          %.1f samples/s\n", shell_rate);
  std::printf("ratio: %.1fx\n", monitor_rate / shell_rate);
  return failed == 0 ? 0 : 1;
}
