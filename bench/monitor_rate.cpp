// demodmon's samples against the shell loop it replaces and against the floor of a sample, in the
// same run on one regserver with the simulated board:
// - the wall time of one full sample (lock flags, the six measurements, the mode report:
//   read_sample on one open connection);
// - one round of the four `demodctl` processes a shell loop runs per sample (sig_str, cn_read,
//   ber_calc, dvb_standard);
// - the floor of a sample: its own waits plus one bare register round trip per register read, the
//   reads and waits counted on a sample of the same board, the round trip timed on the same server.
// Reported as samples per second of each, the ratio to the shell loop and the ratio to the floor.
#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "bus/delay.h"
#include "bus/reg_client.h"
#include "bus/server_board_bus.h"
#include "demod/field_access.h"
#include "demod/register_map.h"
#include "monitor/board_link.h"
#include "monitor/sample_reader.h"

namespace {

constexpr int kRounds = 5;  // samples and round trips alternate, so load hits both alike
constexpr int kSamplesPerRound = 80;
constexpr int kCountedSamples = 20;
constexpr int kShellRounds = 40;
constexpr const char* kShellCommands[] = {"sig_str", "cn_read", "ber_calc", "dvb_standard"};
constexpr int kChannel = 0;
constexpr int kSpeedKhz = 100;
constexpr int kAddress = 208;

// The register server's calls passed on, the register transfers counted: one round trip each.
class CountingCalls : public demodctl::RegisterServer {
 public:
  using Register = demodctl::ServerRegister;
  explicit CountingCalls(demodctl::RegisterServer& inner) : inner_(inner) {}
  demodctl::Result<void> connect(const std::string& host, int port) override {
    return inner_.connect(host, port);
  }
  demodctl::Result<void> set_speed(int channel, int speed) override {
    return inner_.set_speed(channel, speed);
  }
  demodctl::Result<void> read_regs(const Register& at, std::span<uint8_t> out) override {
    ++transfers;
    return inner_.read_regs(at, out);
  }
  demodctl::Result<void> write_regs(const Register& at, std::span<const uint8_t> data) override {
    ++transfers;
    return inner_.write_regs(at, data);
  }
  demodctl::Result<void> read_period(const Register& at, std::span<uint8_t> out, int item_len,
                                     int burst) override {
    ++transfers;
    return inner_.read_period(at, out, item_len, burst);
  }
  void disconnect() override { inner_.disconnect(); }

  long transfers = 0;

 private:
  demodctl::RegisterServer& inner_;
};

// The sample's own waits added up instead of slept: the clock moves on by each wait, so a poll's
// deadline still comes as it would.
class SummedWaits : public demodctl::WaitClock {
 public:
  demodctl::MonotonicTime now() override {
    return bench::Clock::now() + std::chrono::milliseconds(waited_ms);
  }
  void delay_ms(int ms) override { waited_ms += ms; }
  long waited_ms = 0;
};

struct SampleCost {
  double transfers = 0.0;  // register round trips per sample
  double waits_s = 0.0;
};

// Reads and waits of a sample on its own connection to the same server, once the board has
// settled: the first sample after the board starts waits for the AGC (the timed ones do not).
SampleCost count_sample(const demodctl::I2cDevice& device) {
  demodctl::RegClient client;
  CountingCalls counting(client);
  demodctl::ServerBoardBus bus(device, counting);
  if (!bus.open_connection()) return {};
  SummedWaits waits;
  demodctl::set_wait_clock(&waits);
  for (int i = -1; i < kCountedSamples; ++i) {
    if (i == 0) counting.transfers = waits.waited_ms = 0;  // the settling sample left out
    demodctl::monitor::BoardSample sample;
    demodctl::monitor::read_sample(bus, sample);
  }
  demodctl::set_wait_clock(nullptr);
  bus.close_connection();
  return {static_cast<double>(counting.transfers) / kCountedSamples,
          static_cast<double>(waits.waited_ms) / 1000.0 / kCountedSamples};
}

}  // namespace

int main() {
  using namespace demodctl;
  const bench::Child server = bench::start_regserver();
  if (server.port == 0) {
    std::fprintf(stderr, "regserver did not start\n");
    return 1;
  }
  const I2cDevice device{"127.0.0.1", server.port, kChannel, kSpeedKhz, kAddress};
  const SampleCost cost = count_sample(device);
  monitor::BoardTarget target;
  target.name = "bench";
  target.device = device;
  monitor::BoardLink link(target);
  if (cost.transfers == 0.0 || !link.open()) {
    std::fprintf(stderr, "no connection to regserver\n");
    bench::stop(server);
    return 1;
  }
  // Bare round trips: as many single-register reads as the samples make, between them.
  const int round_trips = static_cast<int>(cost.transfers * kSamplesPerRound);
  int failed = 0;
  double sample_s = 0.0;
  double round_trip_s = 0.0;
  for (int round = 0; round < kRounds; ++round) {
    const auto t0 = bench::Clock::now();
    for (int i = 0; i < kSamplesPerRound; ++i) {
      monitor::BoardSample sample;
      monitor::read_sample(link.bus(), sample);
      if (!sample.connected) ++failed;
    }
    sample_s += bench::seconds_since(t0);
    const auto t1 = bench::Clock::now();
    for (int i = 0; i < round_trips; ++i) {
      if (!demod_read_reg(link.bus(), reg::lock_status.reg)) ++failed;
    }
    round_trip_s += bench::seconds_since(t1);
  }
  link.close();
  const double monitor_rate = kRounds * kSamplesPerRound / sample_s;
  const double round_trip = round_trip_s / (kRounds * round_trips);
  const double floor_rate = 1.0 / (cost.waits_s + cost.transfers * round_trip);

  double shell_s = 0.0;
  for (int round = 0; round < kShellRounds; ++round) {
    for (const char* command : kShellCommands) {
      shell_s += bench::run_timed(
          {DEMODCTL_BIN, "127.0.0.1", std::to_string(server.port), std::to_string(kChannel),
           std::to_string(kSpeedKhz), std::to_string(kAddress), command, "1"},
          {});
    }
  }
  const double shell_rate = kShellRounds / shell_s;
  bench::stop(server);
  std::printf("demodmon sample (one open connection): %.0f samples/s (%d failed)\n", monitor_rate,
              failed);
  std::printf("floor: %.0f register reads x %.1f us round trip + %.1f ms waits: %.0f samples/s\n",
              cost.transfers, round_trip * 1e6, cost.waits_s * 1e3, floor_rate);
  std::printf("shell loop of 4 demodctl runs:          %.1f samples/s\n", shell_rate);
  std::printf("ratio to the shell loop: %.1fx\n", monitor_rate / shell_rate);
  std::printf("ratio to the floor: %.2f\n", monitor_rate / floor_rate);
  return failed == 0 ? 0 : 1;
}
