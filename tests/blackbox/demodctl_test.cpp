// The real demodctl's own ways of ending badly: a bridge that is no adapter, output that cannot
// be written. What each command prints and sends: GoldenTraces; refused transfers: CaptureRuns.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/process.h"
#include "support/temp_dir.h"

namespace demodctl::testing {
namespace {

const std::string kOpenError = "error=err openerror,failed,return=-1";

// Whatever DEMODCTL_I2C_BUS names that is not an I2C adapter: the open fails at once, the reason
// only under DEMODCTL_VERBOSE (a missing adapter: bus tests; a scenario that blocks: HostileFiles).
TEST(Demodctl, BridgeThatIsNotAnAdapter) {
  const TempDir temp;
  const std::string& dir = temp.path();
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
  const std::pair<std::string, const char*> cases[] = {{"/dev/null", "is not an I2C adapter"},
                                                       {dir + "/fifo", "not a character device"},
                                                       {dir, "Is a directory"}};
  for (const auto& [bus, reason] : cases) {
    for (const bool verbose : {false, true}) {
      std::vector<std::string> env = {"DEMODCTL_I2C_BUS=" + bus};
      if (verbose) env.push_back("DEMODCTL_VERBOSE=1");
      const ProcResult r = demodctl({"100", "208", "on_line", "0"}, env);
      EXPECT_EQ(r.out, kOpenError) << bus;
      EXPECT_EQ(r.status, 255);
      EXPECT_FALSE(r.timed_out);
      EXPECT_EQ(r.err.find(reason) != std::string::npos, verbose) << bus << ": " << r.err;
    }
  }
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
