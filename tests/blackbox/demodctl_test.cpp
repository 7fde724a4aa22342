// The real demodctl against the simulated board, over both transports: a regserver process for
// the socket transport, the in-process board (DEMODCTL_I2C_BUS=sim) for the USB bridge; the ways
// a run can end badly. What each command prints and sends: GoldenTraces.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "support/board_run.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace demodctl::testing {
namespace {

const std::string kNoConnection = "error=err no connection,failed,return=-1";
const std::string kOpenError = "error=err openerror,failed,return=-1";

// A transfer refused in the middle of chip_init (by the server, or by a bridge that is unplugged
// there): one failure line, 255, nothing sent after it.
TEST(Demodctl, RefusedTransferEndsTheRunOnBothTransports) {
  const TempDir dir;
  for (const auto& [via, faults] : {std::pair{Via::socket, R"({"fail_ops": [4]})"},
                                    std::pair{Via::usb, R"({"drop_at_ops": [4]})"}}) {
    const std::string scenario =
        write_file(dir.path(), "board.json", std::string(R"({"faults": )") + faults + "}");
    const BoardRun r = run_on_board(via, scenario, {}, "chip_init", dir.path());
    EXPECT_EQ(r.result.out, kNoConnection) << faults;
    EXPECT_EQ(r.result.status, 255);
    EXPECT_EQ(r.trace,
              "speed 100\nr D0 6C -> 01 00 36 31\nw D0 0C 52\nw D0 00 81\nw D0 00 01 nack\n");
  }
}

// A server killed while the tool waits for its reply (one refused or silent: Verbose).
TEST(Demodctl, ServerThatIsGoneOrSilentFailsWithinTheBound) {
  ServerProcess server({"--sim"});
  server.signal(SIGSTOP);  // the tool connects and waits for a reply that never comes
  ProcResult killed;
  std::thread tool([&] { killed = demodctl(server.args("chip_init")); });
  usleep(300 * 1000);
  server.signal(SIGKILL);
  tool.join();
  EXPECT_FALSE(killed.timed_out);
  EXPECT_EQ(killed.out, kNoConnection);
  EXPECT_EQ(killed.status, 255);
}

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
