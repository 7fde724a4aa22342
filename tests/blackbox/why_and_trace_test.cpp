// What the tool says on standard error under DEMODCTL_VERBOSE, one line per cause, on both
// transports (its output and status are those of a quiet run); and the bus trace of one command
// per transport, DEMODCTL_TRACE, in the one format both share.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <regex>

#include "support/process.h"
#include "support/temp_dir.h"

namespace demodctl::testing {
namespace {

const std::string kNoConnection = "error=err no connection,failed,return=-1";

// `cmd` on the register server at host:port, for the device at the address on the channel.
std::vector<std::string> served(const std::string& port, const char* cmd = "fec_ok",
                                const char* channel = "0", const char* address = "208",
                                const char* host = "127.0.0.1") {
  return {host, port, channel, "100", address, cmd, "1"};
}

// The trace with its timestamps taken out; every line must have had one.
std::string untimed(const std::string& text) {
  static const std::regex kStamp(",\"t_us\":[0-9]+\\}\n");
  const auto stamps = std::distance(std::sregex_iterator(text.begin(), text.end(), kStamp), {});
  EXPECT_EQ(stamps, std::count(text.begin(), text.end(), '\n')) << text;
  return std::regex_replace(text, kStamp, "}\n");
}

TEST(Verbose, EveryFailureSaysItsCauseInOneLineAndTheTraceOfEachTransport) {
  const TempDir temp;
  ServerProcess plain({"--sim", "--quiet"});
  ServerProcess read_only({"--sim", "--read-only", "--quiet"});
  ServerProcess full({"--sim", "--max-clients", "1", "--quiet"});
  ASSERT_TRUE(plain.ready() && read_only.ready() && full.ready());
  std::string nothing;
  std::string silent;
  ::close(loopback_socket(0, &nothing));  // nothing listens there now
  const int silent_fd = loopback_socket(4, &silent);
  const std::string at = "demodctl: register server 127.0.0.1 port ";
  const std::string server = at + plain.port_text() + ": ";
  const std::string bridge_nack = "demodctl: USB bridge: read 0xD2 register ";
  const std::string no_trace = temp.path() + "/none/trace.jsonl";
  struct Case {
    const char* cause;
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::string err;  // the whole of standard error; a case ending in "..." gives its start
    std::string out = kNoConnection;  // with 255; else 0
  };
  // clang-format off
  const Case cases[] = {
      {"refused", served(nothing), {}, at + nothing + ": connect: Connection refused\n"},
      {"host unknown", served("7468", "fec_ok", "0", "208", "nosuch.invalid"), {},
       "demodctl: register server nosuch.invalid port 7468: connect: cannot resolve the host: ..."},
      {"HELLO timeout", served(silent), {"DEMODCTL_NET_TIMEOUT_MS=300"},
       at + silent + ": HELLO: no reply within 300 ms\n"},
      {"BUSY", served(full.port_text()), {}, at + full.port_text() + ": HELLO: BUSY\n"},
      {"READ_ONLY", served(read_only.port_text(), "chip_init"), {},
       at + read_only.port_text() + ": WRITE 0xD0 register 0x0C on channel 0: READ_ONLY\n"},
      {"NO_CHANNEL", served(plain.port_text(), "fec_ok", "5"), {},
       server + "SET_SPEED 100 on channel 5: NO_CHANNEL\n" + server +
           "READ 0xD0 register 0x2C on channel 5: NO_CHANNEL\n"},
      {"server NACK", served(plain.port_text(), "fec_ok", "0", "210"), {},
       server + "READ 0xD2 register 0x2C on channel 0: NACK\n"},
      {"trace not opened", served(plain.port_text()), {"DEMODCTL_TRACE=" + no_trace},
       "demodctl: " + no_trace + ": cannot open trace: No such file or directory\n"},
      {"bridge NACK", {"100", "210", "fec_ok", "0"}, {"DEMODCTL_I2C_BUS=sim"},
       bridge_nack + "0x2C: no acknowledge (NACK)\n"},
      // The bus trace, DEMODCTL_TRACE winning over the bridge's older variable (checked below).
      {"socket trace", served(plain.port_text()),
       {"DEMODCTL_TRACE=socket.jsonl", "DEMODCTL_I2C_TRACE=older.jsonl"}, "", "error=ok,return=1"},
      {"usb trace", {"100", "208", "fec_ok", "0"},
       {"DEMODCTL_I2C_BUS=sim", "DEMODCTL_TRACE=usb.jsonl", "DEMODCTL_I2C_TRACE=older.jsonl"}, "",
       "error=ok,return=1"},
      // Not a failure: the chip is absent, and the run says so on its output.
      {"bridge, no chip", {"100", "210", "on_line", "0"}, {"DEMODCTL_I2C_BUS=sim"},
       bridge_nack + "0x6C: no acknowledge (NACK)\n", "error=ok,,return=0"},
  };
  // clang-format on
  int held = -1;
  for (const Case& c : cases) {
    for (const bool verbose : {false, true}) {
      if (std::string(c.cause) == "BUSY") {
        if (held >= 0) ::close(held);
        held = connect_loopback(full.port());  // the one slot is taken
      }
      std::vector<std::string> env = c.env;
      if (verbose) env.push_back("DEMODCTL_VERBOSE=1");
      const ProcResult r = demodctl(c.args, env, temp.path());
      EXPECT_EQ(r.out, c.out) << c.cause;
      EXPECT_EQ(r.status, c.out == kNoConnection ? 255 : 0) << c.cause;
      const std::string want = verbose ? c.err : "";
      if (want.ends_with("...")) {
        EXPECT_TRUE(r.err.starts_with(want.substr(0, want.size() - 3))) << c.cause << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
      } else {
        EXPECT_EQ(r.err, want) << c.cause;
      }
    }
  }
  if (held >= 0) ::close(held);
  ::close(silent_fd);
  // fec_ok on each transport: the speed setting, then the one read of 0x2C, in the same format;
  // only "transport" tells them apart ("-", standard error: TraceLog tests).
  for (const std::string transport : {"socket", "usb"}) {
    EXPECT_EQ(untimed(read_file(temp / (transport + ".jsonl"))),
              "{\"seq\":1,\"op\":\"speed\",\"channel\":0,\"speed\":100,\"result\":\"ok\","
              "\"status\":\"OK\",\"transport\":\"" +
                  transport +
                  "\"}\n"
                  "{\"seq\":2,\"op\":\"read\",\"channel\":0,\"address\":\"0xD0\",\"reg\":\"0x2C\","
                  "\"bytes\":\"3F\",\"result\":\"ok\",\"written\":0,\"read\":1,\"status\":\"OK\","
                  "\"transport\":\"" +
                  transport + "\"}\n")
        << transport;
  }
  EXPECT_NE(access((temp / "older.jsonl").c_str(), F_OK), 0) << "DEMODCTL_TRACE wins";
}

}  // namespace
}  // namespace demodctl::testing

namespace demodctl::testing {
namespace {

// The silent paths of the command line, explained under verbose only; output and status as quiet.
TEST(Verbose, SilentPathsOfTheCommandLineSayWhy) {
  const std::string tail = ": numbers are decimal (demodreg takes 0x hex and register names)\n";
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"100", "0xD0", "on_line", "0"}, "demodctl: address '0xD0' read as 0" + tail},
      {{"100", "208", "on_line"},
       "demodctl: 'on_line' is a command name: the transport flag after it is missing (0: the USB "
       "bridge, 1: the register server)\n"},
      {{"100", "208", "on_lin", "0"},
       "demodctl: no command 'on_lin'; the nearest is 'on_line'. For registers by number or name, "
       "see demodreg\n"},
  };
  for (const auto& c : cases) {
    const ProcResult quiet = demodctl(c.args, {"DEMODCTL_I2C_BUS=sim"});
    const ProcResult loud = demodctl(c.args, {"DEMODCTL_I2C_BUS=sim", "DEMODCTL_VERBOSE=1"});
    EXPECT_EQ(quiet.err, "");
    EXPECT_EQ(loud.err.substr(0, c.err.size()), c.err);
    EXPECT_EQ(loud.out, quiet.out);
    EXPECT_EQ(loud.status, quiet.status);
  }
}

}  // namespace
}  // namespace demodctl::testing
