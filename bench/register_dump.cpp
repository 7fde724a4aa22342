// A full register dump over the USB bridge: the wall time of a `demodreg usb:/dev/i2c-99@0xD0 dump`
// process against `i2cdump -y 99 0x68 b` (i2c-tools, one SMBus byte read a register), both on the
// same fake adapter (bench/fake_i2c_adapter.c, preloaded). Runs alternate and each is reported by
// its median, so a load that comes and goes weighs on both alike.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

constexpr const char* kI2cdump = "/usr/sbin/i2cdump";
constexpr int kDefaultRuns = 200;

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : kDefaultRuns;
  if (access(kI2cdump, X_OK) != 0) {
    std::printf("demodreg dump: %s not found (package i2c-tools)\n", kI2cdump);
    return 0;
  }
  const std::vector<std::string> env = {"LD_PRELOAD=" FAKE_I2C_ADAPTER};
  std::vector<double> dump;
  std::vector<double> baseline;
  std::vector<double> dump_faults;
  std::vector<double> baseline_faults;
  for (int i = 0; i < runs; ++i) {
    const bench::RunTimes d =
        bench::run_measured({DEMODREG_BIN, "usb:/dev/i2c-99@0xD0", "dump"}, env);
    const bench::RunTimes b = bench::run_measured({kI2cdump, "-y", "99", "0x68", "b"}, env);
    if (d.exit_status != 0 || b.exit_status != 0)
      std::fprintf(stderr, "exit statuses %d and %d\n", d.exit_status, b.exit_status);
    dump.push_back(d.wall_s);
    baseline.push_back(b.wall_s);
    dump_faults.push_back(static_cast<double>(d.minor_faults));
    baseline_faults.push_back(static_cast<double>(b.minor_faults));
  }
  const double subject = bench::median(dump);
  const double base = bench::median(baseline);
  std::printf(
      "demodreg dump (bridge)    %8.2f us   i2cdump %9.2f us    ratio %.2f"
      "   page faults %.0f against %.0f\n",
      subject * 1e6, base * 1e6, subject / base, bench::median(dump_faults),
      bench::median(baseline_faults));
  return 0;
}
