// The real demodctl's own ways of ending badly: a bridge that is no adapter, output that cannot
// be written. What each command prints and sends: GoldenTraces; refused transfers: CaptureRuns.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/process.h"
#include "support/temp_dir.h"

namespace demodctl::testing {
namespace {

// A FIFO named by DEMODCTL_I2C_BUS: the open fails at once instead of waiting for a writer (the
// other paths that are no adapter: I2cDevBus.OnlyAnI2cAdapterOpens; a scenario that blocks:
// HostileFiles).
TEST(Demodctl, BridgeThatIsNotAnAdapter) {
  const TempDir dir;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  const ProcResult r = demodctl({"100", "208", "on_line", "0"},
                                {"DEMODCTL_I2C_BUS=" + (dir / "fifo"), "DEMODCTL_VERBOSE=1"});
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.out, "error=err openerror,failed,return=-1");
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err.find("not a character device"), std::string::npos) << r.err;
}

// This machine's adapters (often none): a listing, never the usage of a short command line.
TEST(Demodctl, ListBusesIsNoCommandLine) {
  const ProcResult r = demodctl({"--list-buses"}, {});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.empty() || r.out.starts_with("i2c-")) << r.out;
}

TEST(Demodctl, OutputThatCannotBeWrittenIsAFailure) {
  const ProcResult r = run_process(
      {"/bin/sh", "-c", std::string("exec '") + DEMODCTL_BIN + "' 100 208 fec_ok 0 >/dev/full"},
      {"DEMODCTL_I2C_BUS=sim"});
  EXPECT_EQ(r.status, 255);
}

}  // namespace
}  // namespace demodctl::testing
