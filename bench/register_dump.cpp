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
  const bench::Pair dump = bench::process_times({DEMODREG_BIN, "usb:/dev/i2c-99@0xD0", "dump"},
                                                {kI2cdump, "-y", "99", "0x68", "b"}, env, runs);
  std::printf(
      "demodreg dump (bridge)    %8.2f us   i2cdump %9.2f us    ratio %.2f"
      "   page faults %.0f against %.0f\n",
      dump.subject * 1e6, dump.baseline * 1e6, dump.subject / dump.baseline, dump.subject_faults,
      dump.baseline_faults);
  return 0;
}
