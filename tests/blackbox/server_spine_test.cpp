// The real demodctl against a real regserver on the simulated board.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "blackbox/scenario_text.h"
#include "support/process.h"

namespace demodctl::testing {
namespace {

constexpr const char* kPresent = "12 34 36 31";
const std::string kNoConnection = "error=err no connection,failed,return=-1";

TEST(ServerSpine, DefaultBoardAnswers) {
  ServerProcess server({"--sim"});
  ASSERT_TRUE(server.ready());
  const ProcResult r = demodctl(server.args("on_line"));
  EXPECT_EQ(r.out, "error=ok,return=1");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(server.stop(), 0);
}

TEST(ServerSpine, ProbesReportTheLockBits) {
  const char* names[] = {"agc_ok", "cbs_ok", "tr_ok", "sync_ok", "cr_ok", "fec_ok"};
  for (int status : {0x3F, 0x20, 0xC0}) {
    char value[8];
    std::snprintf(value, sizeof value, "0x%02X", status);
    ServerProcess server({"--scenario", scenario_file(scenario_json(kPresent, {{"0x2C", value}}))});
    ASSERT_TRUE(server.ready());
    for (int bit = 0; bit < 6; ++bit) {
      const ProcResult r = demodctl(server.args(names[bit]));
      EXPECT_EQ(r.out, std::string("error=ok,return=") + ((status >> bit) & 1 ? "1" : "0"))
          << names[bit] << " " << value;
      EXPECT_EQ(r.status, 0);
    }
  }
}

TEST(ServerSpine, OnLineIdentityRule) {
  struct Case {
    const char* identity;
    const char* out;
  } cases[] = {{"12 34 36 31", "error=ok,return=1"},
               {"00 00 36 30", "error=ok,,return=0"},
               {"36 31 00 00", "error=ok,,return=0"}};
  for (const auto& c : cases) {
    ServerProcess server({"--scenario", scenario_file(scenario_json(c.identity, {}))});
    const ProcResult r = demodctl(server.args("on_line"));
    EXPECT_EQ(r.out, c.out) << c.identity;
    EXPECT_EQ(r.status, 0);
  }
}

struct ReportCase {
  std::map<std::string, std::string> regs;
  const char* out;
};

TEST(ServerSpine, ModeReports) {
  const ReportCase cases[] = {
      {{{"0x2C", "0x28"}, {"0x97", "0x80"}, {"0x5C", "0x39"}, {"0x9D", "0x00"}},
       "error=ok,return=DVB-S2,8PSK+3/4,Normal Frame,PLT ON,Roll_off=0.35"},
      {{{"0x2C", "0x28"}, {"0x97", "0x7F"}}, "error=ok,return=S2,VCM"},
      {{{"0x2C", "0x20"}, {"0x8E", "0x0B"}}, "error=ok,return=Directv,6/7,Roll_off=0.2"},
      {{{"0x2C", "0x20"}, {"0x8E", "0x04"}}, "error=ok,return=DVB-S,3/4,Roll_off=0.35"},
      {{{"0x2C", "0x08"}}, "error=ok,return=unkown standard!"},
      {{{"0x2C", "0x28"}, {"0x97", "0x80"}, {"0x5C", "0x70"}, {"0x9D", "0xC0"}},
       "error=ok,return=DVB-S2,32APSK+9/10,Normal Frame,PLT OFF,Reserved roll_off"},
  };
  for (const auto& c : cases) {
    ServerProcess server({"--scenario", scenario_file(scenario_json(kPresent, c.regs))});
    const ProcResult r = demodctl(server.args("dvb_standard"));
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, 0);
  }
}

// The writes the server performed (acknowledged), as "REG VALUE" strings, from its trace.
std::vector<std::string> traced_writes(const std::string& path) {
  std::vector<std::string> writes;
  std::istringstream lines(read_file(path));
  for (std::string line; std::getline(lines, line);) {
    const auto j = nlohmann::json::parse(line, nullptr, false);
    if (j.is_discarded() || j.value("op", "") != "write" || j.value("result", "") != "ok") {
      continue;
    }
    std::string reg = j.value("reg", "");
    writes.push_back(reg.substr(2) + " " + j.value("bytes", ""));
  }
  return writes;
}

TEST(ServerSpine, ChipInitAndHotResetWrites) {
  const std::string trace = make_temp_dir() + "/trace.jsonl";
  ServerProcess server({"--sim", "--trace", trace});
  EXPECT_EQ(demodctl(server.args("chip_init")).out, "error=ok,return=1");
  EXPECT_EQ(demodctl(server.args("hot_rst")).out, "error=ok,return=1");
  server.stop();
  const std::vector<std::string> want = {"0C 52", "00 81", "00 01", "05 81", "05 01",
                                         "04 04", "09 0E", "0C 42", "0A 5A", "0A 4A",
                                         "A8 80", "2E 01", "2E 03"};
  EXPECT_EQ(traced_writes(trace), want);
}

TEST(ServerSpine, AbsentChipIsNeverWritten) {
  const std::string trace = make_temp_dir() + "/trace.jsonl";
  ServerProcess server(
      {"--scenario", scenario_file(scenario_json("10 01 36 30", {})), "--trace", trace});
  for (const char* cmd : {"chip_init", "hot_rst"}) {
    const ProcResult r = demodctl(server.args(cmd));
    EXPECT_EQ(r.out, "error=chip not connected, failed,return=1");
    EXPECT_EQ(r.status, 0);
  }
  server.stop();
  EXPECT_TRUE(traced_writes(trace).empty());
}

TEST(ServerSpine, HotResetDropsLockUntilAcquisitionCompletes) {
  ServerProcess server({"--sim"});
  EXPECT_EQ(demodctl(server.args("fec_ok")).out, "error=ok,return=1");
  EXPECT_EQ(demodctl(server.args("hot_rst")).out, "error=ok,return=1");
  std::string seen;
  for (int i = 0; i < 6; ++i) seen += demodctl(server.args("fec_ok")).out.back();
  EXPECT_EQ(seen, "000001");
  EXPECT_EQ(demodctl(server.args("dvb_standard")).out,
            "error=ok,return=DVB-S2,8PSK+3/4,Normal Frame,PLT ON,Roll_off=0.35");
}

TEST(ServerSpine, FailingOperationsEndTheCommand) {
  struct Case {
    const char* faults;
    const char* cmd;
  } cases[] = {
      {"\"faults\": {\"fail_registers\": [{\"address\": \"0xD0\", \"register\": \"0x5C\"}]}",
       "dvb_standard"},
      {"\"faults\": {\"fail_ops\": [6]}", "chip_init"},  // the 5th init write
      {"\"faults\": {\"fail_ops\": [1]}", "on_line"},
      {"\"faults\": {\"drop_at_ops\": [1]}", "fec_ok"},
  };
  for (const auto& c : cases) {
    const std::string trace = make_temp_dir() + "/trace.jsonl";
    ServerProcess server(
        {"--scenario",
         scenario_file(scenario_json(kPresent, {{"0x2C", "0x28"}, {"0x97", "0x80"}}, c.faults)),
         "--trace", trace});
    const ProcResult r = demodctl(server.args(c.cmd));
    EXPECT_EQ(r.out, kNoConnection) << c.cmd;
    EXPECT_EQ(r.status, 255);
    if (std::string(c.cmd) == "chip_init") {
      server.stop();
      const auto writes = traced_writes(trace);
      EXPECT_EQ(writes, (std::vector<std::string>{"0C 52", "00 81", "00 01", "05 81"}));
    }
  }
}

// A loopback socket bound to a free port; listening (the kernel completes the
// handshake, nobody reads) when backlog > 0.
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

TEST(ServerSpine, UnreachableServer) {
  std::string port;
  close(loopback_socket(0, port));  // nothing listens there now
  for (const char* cmd : {"on_line", "fec_ok", "chip_init", "dvb_standard"}) {
    const ProcResult r = demodctl({"127.0.0.1", port, "0", "100", "208", cmd, "1"});
    EXPECT_EQ(r.out, kNoConnection) << cmd;
    EXPECT_EQ(r.status, 255);
  }
}

TEST(ServerSpine, SilentServerTimesOut) {
  std::string port;
  const int fd = loopback_socket(4, port);
  const ProcResult r = demodctl({"127.0.0.1", port, "0", "100", "208", "on_line", "1"},
                                {"DEMODCTL_NET_TIMEOUT_MS=300"});
  close(fd);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.out, kNoConnection);
  EXPECT_EQ(r.status, 255);
}

TEST(ServerSpine, ServerKilledMidRun) {
  ServerProcess server({"--sim"});
  ASSERT_TRUE(server.ready());
  server.signal(SIGSTOP);  // the tool connects and waits for a reply that never comes
  ProcResult r;
  std::thread tool([&] { r = demodctl(server.args("chip_init")); });
  usleep(300 * 1000);
  server.signal(SIGKILL);
  tool.join();
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.out, kNoConnection);
  EXPECT_EQ(r.status, 255);
}

}  // namespace
}  // namespace demodctl::testing
