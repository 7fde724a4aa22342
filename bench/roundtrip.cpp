// Benchmarks, each reported as a ratio against a baseline measured in the same run:
//  1. one register read round trip (a read through the client layer and regserver on the
//     simulated board) against a plain TCP echo round trip of the same size on loopback, to a
//     process of its own like regserver;
//  2. the wall time of a `demodctl ... on_line 1` process against /bin/true;
//  3. the wall time of a `demodctl 100 208 fec_ok 0` process (one register read over the USB
//     bridge) against `i2ctransfer -y 99 w1@0x68 0x2c r1` (i2c-tools) doing the same transfer,
//     both on the same fake adapter /dev/i2c-99 (bench/fake_i2c_adapter.c, preloaded).
// Process runs of the two programs of a comparison alternate, and each is reported by its median,
// so a load that comes and goes during the run weighs on both alike.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "bus/reg_client.h"

namespace {

using bench::Clock;
using bench::median;
using bench::Pair;
using bench::process_times;
using bench::seconds_since;

constexpr const char* kI2ctransfer = "/usr/sbin/i2ctransfer";

// Echo baseline: request and reply sizes like a one-byte register read.
constexpr size_t kRequestBytes = 18;
constexpr size_t kReplyBytes = 7;

double echo_round_trip(int rounds) {
  bench::EchoPeer peer = bench::start_echo(kRequestBytes, kReplyBytes);
  const auto t0 = Clock::now();
  for (int i = 0; i < rounds; ++i) bench::echo(peer);
  const double t = seconds_since(t0) / rounds;
  bench::stop(peer);
  return t;
}

double register_round_trip(int port, int rounds) {
  demodctl::RegClient client;
  (void)client.connect("127.0.0.1", port);  // a failure shows in every read below
  uint8_t byte = 0;
  (void)client.read_regs({0, 208, 0x2C}, {&byte, 1});  // warm up
  const auto t0 = Clock::now();
  int failures = 0;
  for (int i = 0; i < rounds; ++i) failures += !client.read_regs({0, 208, 0x6E}, {&byte, 1});
  const double t = seconds_since(t0) / rounds;
  client.disconnect();
  if (failures != 0) std::fprintf(stderr, "%d register reads failed\n", failures);
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 200;
  const bench::Child server = bench::start_regserver();
  if (server.port <= 0) {
    std::fprintf(stderr, "regserver did not start\n");
    return 1;
  }
  const double echo = echo_round_trip(rounds);
  const double reg = register_round_trip(server.port, rounds);
  const std::string port = std::to_string(server.port);
  const Pair on_line =
      process_times({DEMODCTL_BIN, "127.0.0.1", port, "0", "100", "208", "on_line", "1"},
                    {"/bin/true"}, {}, runs);
  bench::stop(server);

  std::printf("register read round trip  %8.2f us   tcp echo %8.2f us    ratio %.2f\n", reg * 1e6,
              echo * 1e6, reg / echo);
  std::printf("demodctl on_line process  %8.2f us   /bin/true %7.2f us    ratio %.2f\n",
              on_line.subject * 1e6, on_line.baseline * 1e6, on_line.subject / on_line.baseline);
  if (access(kI2ctransfer, X_OK) != 0) {
    std::printf("demodctl fec_ok over the USB bridge: %s not found (package i2c-tools)\n",
                kI2ctransfer);
    return 0;
  }
  const Pair fec_ok =
      process_times({DEMODCTL_BIN, "100", "208", "fec_ok", "0"},
                    {kI2ctransfer, "-y", "99", "w1@0x68", "0x2c", "r1"},
                    {"LD_PRELOAD=" FAKE_I2C_ADAPTER, "DEMODCTL_I2C_BUS=/dev/i2c-99"}, runs);
  std::printf(
      "demodctl fec_ok (bridge)  %8.2f us   i2ctransfer %5.2f us    ratio %.2f"
      "   page faults %.0f against %.0f\n",
      fec_ok.subject * 1e6, fec_ok.baseline * 1e6, fec_ok.subject / fec_ok.baseline,
      fec_ok.subject_faults, fec_ok.baseline_faults);
  // The same with every symbol bound at the start in both, as demodctl's full RELRO (-z now) binds
  // its own: i2ctransfer as Debian builds it binds lazily, only what a run calls.
  const Pair bound_now = process_times(
      {DEMODCTL_BIN, "100", "208", "fec_ok", "0"},
      {kI2ctransfer, "-y", "99", "w1@0x68", "0x2c", "r1"},
      {"LD_PRELOAD=" FAKE_I2C_ADAPTER, "DEMODCTL_I2C_BUS=/dev/i2c-99", "LD_BIND_NOW=1"}, runs);
  std::printf(
      "the same, both bound now  %8.2f us   i2ctransfer %5.2f us    ratio %.2f"
      "   page faults %.0f against %.0f\n",
      bound_now.subject * 1e6, bound_now.baseline * 1e6, bound_now.subject / bound_now.baseline,
      bound_now.subject_faults, bound_now.baseline_faults);
  return 0;
}
