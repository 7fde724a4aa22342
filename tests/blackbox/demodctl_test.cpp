// The real demodctl against the simulated board, over both transports: a regserver process for
// the socket transport, the in-process board (DEMODCTL_I2C_BUS=sim) for the USB bridge. One run
// per command family and transport, then the ways a run can end badly.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include "support/board_run.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace demodctl::testing {
namespace {

const std::string kNoConnection = "error=err no connection,failed,return=-1";
const std::string kOpenError = "error=err openerror,failed,return=-1";

ProcResult usb(const std::string& cmd, const std::string& bus, const std::string& trace,
               const std::string& cwd = "") {
  return demodctl({"100", "208", cmd, "0"},
                  {"DEMODCTL_I2C_BUS=" + bus, "DEMODCTL_I2C_TRACE=" + trace}, cwd);
}

// The items of an fft_print listing as the lines of a sample file.
std::string listing_as_file(const std::string& out) {
  std::string lines = "Column:2\n";
  for (size_t at = out.find('{'); at != std::string::npos; at = out.find('{', at + 1)) {
    lines += out.substr(at + 1, out.find('}', at) - at - 1) + "\n";
  }
  return lines;
}

// A capture over each transport: the listing and the sample file hold the same 2048 pairs (the
// result line and the bus operations of every command: GoldenTraces).
TEST(Demodctl, ListingAndSampleFileAgreeOnBothTransports) {
  const TempDir temp;
  const std::string& dir = temp.path();
  ServerProcess server({"--sim"});
  ASSERT_TRUE(server.ready());
  for (const std::string transport : {"socket", "usb"}) {
    const ProcResult fft = transport == "socket" ? demodctl(server.args("fft_print"), {}, dir)
                                                 : usb("fft_print", "sim", dir + "/fft.jsonl", dir);
    EXPECT_EQ(fft.out.rfind("error=ok,return={", 0), 0u) << transport;
    EXPECT_EQ(std::count(fft.out.begin(), fft.out.end(), '#'), 2048) << transport;
    EXPECT_EQ(listing_as_file(fft.out), read_file(dir + "/qv_ad_smp")) << transport;
  }
}

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

// The bridge's identity read: no device at the address (0xD2) does not acknowledge, so the chip
// is absent; a bridge unplugged there (the connection dropped at the first transfer) says nothing
// about the chip, so the run fails.
TEST(Demodctl, BridgeIdentityReadNackIsAbsentDropFails) {
  const TempDir temp;
  const std::string& dir = temp.path();
  const std::string drop = write_file(dir, "drop.json", R"({"faults": {"drop_at_ops": [1]}})");
  const std::tuple<const char*, std::string, const char*, std::string, int> cases[] = {
      // address, bus, command, line, status
      {"210", "sim", "on_line", "error=ok,,return=0", 0},
      {"208", "sim:" + drop, "on_line", kNoConnection, 255},
      {"208", "sim:" + drop, "chip_init", kNoConnection, 255},
  };
  for (const auto& [address, bus, cmd, out, status] : cases) {
    const ProcResult r = demodctl({"100", address, cmd, "0"}, {"DEMODCTL_I2C_BUS=" + bus});
    EXPECT_EQ(r.out, out) << bus << " " << cmd;
    EXPECT_EQ(r.status, status) << bus << " " << cmd;
  }
}

// tuner_set onto a transponder of scenarios/transponders.json over the register server: six reads
// of 0x2C later fec_ok holds and dvb_standard names that transponder; tuning away drops the lock.
TEST(Demodctl, TunerSetOntoATransponderLocksTheBoard) {
  const TempDir temp;
  const std::string& dir = temp.path();  // tuner_set writes its debug log there
  ServerProcess server({"--scenario", std::string(SCENARIO_DIR) + "/transponders.json"});
  ASSERT_TRUE(server.ready());
  const auto run = [&](std::vector<std::string> own, const std::string& cmd) {
    std::vector<std::string> args = {"127.0.0.1", server.port_text(), "0", "100", "208"};
    args.insert(args.end(), own.begin(), own.end());
    args.insert(args.end(), {cmd, "1"});
    return demodctl(args, {}, dir).out;
  };
  // Tuner channel, address, type, MHz, bandwidth; fec_ok in six runs; dvb_standard.
  const std::tuple<std::vector<std::string>, std::string, std::string> cases[] = {
      {{"0", "192", "1", "1550", "36"},
       "000001",
       "DVB-S2,8PSK+3/4,Normal Frame,PLT ON,Roll_off=0.35"},
      {{"0", "198", "0", "1210", "36"}, "000001", "DVB-S,3/4,Roll_off=0.35"},
      {{"0", "192", "1", "1400", "36"}, "000000", "unkown standard!"}};
  for (const auto& [tuning, fec_ok_runs, standard] : cases) {
    EXPECT_EQ(run(tuning, "tuner_set"), "error=ok,return=0") << tuning[3];
    std::string fec_ok;
    for (int i = 0; i < 6; ++i) fec_ok += run({}, "fec_ok").substr(16);  // after "return="
    EXPECT_EQ(fec_ok, fec_ok_runs) << tuning[3];
    EXPECT_EQ(run({}, "dvb_standard"), "error=ok,return=" + standard) << tuning[3];
  }
}

// A loopback socket bound to a free port; listening (the kernel completes the handshake, nobody
// reads) when backlog > 0.
int loopback_socket(int backlog, std::string& port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  if (backlog > 0) listen(fd, backlog);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  port = std::to_string(ntohs(addr.sin_port));
  return fd;
}

TEST(Demodctl, ServerThatIsGoneOrSilentFailsWithinTheBound) {
  std::string port;
  ::close(loopback_socket(0, port));  // nothing listens there now
  const ProcResult unreachable = demodctl({"127.0.0.1", port, "0", "100", "208", "fec_ok", "1"});
  const int fd = loopback_socket(4, port);
  const ProcResult silent = demodctl({"127.0.0.1", port, "0", "100", "208", "on_line", "1"},
                                     {"DEMODCTL_NET_TIMEOUT_MS=300"});
  ::close(fd);
  ServerProcess server({"--sim"});
  server.signal(SIGSTOP);  // the tool connects and waits for a reply that never comes
  ProcResult killed;
  std::thread tool([&] { killed = demodctl(server.args("chip_init")); });
  usleep(300 * 1000);
  server.signal(SIGKILL);
  tool.join();
  for (const ProcResult& r : {unreachable, silent, killed}) {
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.out, kNoConnection);
    EXPECT_EQ(r.status, 255);
  }
}

// Whatever DEMODCTL_I2C_BUS names that is not an I2C adapter: the open fails at once, the reason
// only under DEMODCTL_VERBOSE.
TEST(Demodctl, BridgeThatIsNotAnAdapter) {
  const TempDir temp;
  const std::string& dir = temp.path();
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
  const std::pair<std::string, const char*> cases[] = {
      {"/dev/i2c-nonexistent", "cannot open I2C adapter"},
      {"/dev/null", "is not an I2C adapter"},
      {dir + "/fifo", "not a character device"},
      {dir, "Is a directory"},
      {"sim:/nonexistent/scenario.json", "cannot open"}};
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
