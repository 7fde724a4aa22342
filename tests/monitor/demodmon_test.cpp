// demodmon as a program: a board that fades on a script, a dead board beside a live one with
// captures, the reconnect after its regserver is stopped and started again, the stop on SIGTERM
// with its summary, a standard output that is blocked or closed, captures that fail.
#include <gtest/gtest.h>
#include <signal.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "server/frames.h"
#include "support/process.h"

namespace demodctl::testing {
namespace {

using nlohmann::json;

std::vector<json> json_lines(const std::string& out) {
  std::vector<json> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(json::parse(line));
    EXPECT_EQ(lines.back()["schema"], 2) << line;
  }
  return lines;
}

// demodmon run by sh (exec'd) after `prelude` (shell commands ending in "&&"), with the
// redirections `after`.
std::vector<std::string> demodmon(std::vector<std::string> args, const std::string& prelude = "",
                                  const std::string& after = "") {
  args.insert(args.begin(),
              {"/bin/sh", "-c", prelude + " exec \"$0\" \"$@\" " + after, DEMODMON_BIN});
  return args;
}

// The page's /metrics (empty when it cannot be had).
std::string metrics(int port) {
  test::Raw conn(port);
  const std::string request = "GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  conn.send(test::Bytes(request.begin(), request.end()));
  const test::Bytes reply = conn.recv(SIZE_MAX);  // until the server closes
  return {reply.begin(), reply.end()};
}

TEST(Demodmon, SamplesAndEventsFollowAFadingBoard) {
  const auto r = run_process(demodmon({"--board", "fade=usb:sim:" SCENARIO_DIR "/fading.json@208",
                                       "--json", "--count", "9", "--interval", "10"}));
  ASSERT_EQ(r.status, 0) << r.err;
  std::string seen;
  for (const json& j : json_lines(r.out)) {
    if (j["type"] == "sample") seen += j["lock"].get<std::string>() + " ";
    if (j["type"] == "event")
      seen += j["event"].get<std::string>() + ":" + j["detail"].get<std::string>() + " ";
    if (j["type"] == "summary") seen += "losses=" + std::to_string(j["lock_losses"].get<int>());
  }
  EXPECT_EQ(seen,
            "ACTSRF ACTSRF ACTS-- lock_lost:CR ACTS-- ACTSRF lock_gained: ACTSRF ------ "
            "lock_lost:AGC ACTSRF lock_gained: ACTSRF losses=2");
  const json first = json_lines(r.out).front();
  EXPECT_EQ(first["registers"]["0x2c"], "3f");
  EXPECT_EQ(first["registers"]["0x37"], "3486");
  EXPECT_NEAR(first["cn_db"].get<double>(), 9.5, 0.01);
  EXPECT_EQ(first["mode"], "DVB-S2,8PSK+3/4,Normal Frame,PLT ON,Roll_off=0.35");
}

TEST(Demodmon, DeadBoardBesideALiveOneWithCaptures) {
  const TempDir dir;
  const auto r = run_process(
      demodmon({"--board", "live=usb:sim@208", "--board", "dead=127.0.0.1:1/0@208", "--board",
                "weak=usb:sim:" SCENARIO_DIR "/dvbs_locked.json@208", "--count", "2", "--interval",
                "10", "--capture-every", "2", "--capture-dir", dir.path()}));
  ASSERT_EQ(r.status, 0) << r.err;
  for (const std::string line :
       {" weak ACT-RF -65.0 dBm " /* AGC 0x960 */, " dead failed: no connection\n",
        "dead: 2 samples, 2 failures, ",
        "live: 2 samples, 0 failures, 0 lock losses, longest outage 0.000 s\n"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;
  }
  EXPECT_NE(r.err.find("demodmon: dead: cannot connect"), std::string::npos) << r.err;
  const auto meta_at = r.out.find(dir.path() + "/live-");
  ASSERT_NE(meta_at, std::string::npos) << r.out;
  const std::string meta_path = r.out.substr(meta_at, r.out.find('\n', meta_at) - meta_at);
  const json meta = json::parse(read_file(meta_path));
  EXPECT_EQ(meta["global"]["core:datatype"], "ci16_le");
  const json& note = meta["annotations"][0];
  EXPECT_EQ(note["demodmon:lock"], "ACTSRF");
  EXPECT_NEAR(note["demodmon:mer_db"].get<double>(), 9.5, 1.0);  // the board's C/N
  const std::string data_path = meta_path.substr(0, meta_path.size() - 4) + "data";
  EXPECT_EQ(read_file(data_path).size(), 2048u * 4);
}

TEST(Demodmon, ReconnectsWhenItsServerComesBackAndSummarisesOnSigterm) {
  auto server = std::make_unique<ServerProcess>(std::vector<std::string>{"--sim"});
  ASSERT_TRUE(server->ready());
  const std::string port = server->port_text();
  BackgroundProcess mon(
      demodmon({"--board", "a=127.0.0.1:" + port + "/0@208", "--interval", "50"}));
  ASSERT_TRUE(mon.wait_for(" a ACTSRF ")) << mon.out();
  server->stop();
  ASSERT_TRUE(mon.wait_for(" a disconnected ")) << mon.out();
  const size_t down = mon.out().size();
  server = std::make_unique<ServerProcess>(std::vector<std::string>{"--sim", "--port", port});
  ASSERT_TRUE(server->ready());
  ASSERT_TRUE(mon.wait_for(" a reconnected\n", down)) << mon.out();
  ASSERT_TRUE(mon.wait_for(" a ACTSRF ", mon.out().find(" a reconnected\n"))) << mon.out();
  EXPECT_EQ(mon.stop(SIGTERM), 0);
  EXPECT_NE(mon.out().find("\na: "), std::string::npos) << mon.out();
  EXPECT_EQ(mon.out().find(" 0 failures"), std::string::npos) << mon.out();
}

TEST(Demodmon, BlockedStandardOutputHoldsUpNeitherSamplingNorTheStop) {
  ServerProcess server({"--sim"});
  ASSERT_TRUE(server.ready());
  const TempDir dir;
  // Standard output on a FIFO that demodmon holds open for reading (descriptor 3) and never reads.
  const std::string fifo = dir / "out";
  BackgroundProcess mon(demodmon({"--board", "a=127.0.0.1:" + server.port_text() + "/0@208",
                                  "--json", "--interval", "10", "--http", "127.0.0.1:0"},
                                 "mkfifo " + fifo + " && exec 3<>" + fifo + " &&", ">" + fifo));
  const std::string serving = "serving http://127.0.0.1:";
  ASSERT_TRUE(eventually([&] { return mon.err().find(serving) != std::string::npos; }));
  const int web_port = std::atoi(mon.err().c_str() + mon.err().find(serving) + serving.size());
  // Far more samples than the FIFO's 64 KiB hold as lines, and the page keeps up with them.
  const std::string samples = "demodmon_samples_total{board=\"a\"} ";
  ASSERT_TRUE(eventually([&] {
    const std::string m = metrics(web_port);
    const size_t at = m.find(samples);
    return at != std::string::npos && std::atoi(m.c_str() + at + samples.size()) > 300;
  }));
  server.stop();
  ASSERT_TRUE(eventually([&] {
    return metrics(web_port).find("demodmon_connected{board=\"a\"} 0\n") != std::string::npos;
  }));
  EXPECT_EQ(mon.stop(SIGTERM), 0);  // not SIGKILL, 5 s later
  EXPECT_NE(mon.err().find("demodmon: standard output could not keep up: "), std::string::npos)
      << mon.err();
}

TEST(Demodmon, ClosedStandardOutputLendsItsNumberToNoSocket) {
  ServerProcess server({"--sim"});
  ASSERT_TRUE(server.ready());
  // The reply bound set apart from the short interval, so a loaded machine's slow reply is no
  // "connection lost" on standard error.
  const auto r = run_process(demodmon({"--board", "a=127.0.0.1:" + server.port_text() + "/0@208",
                                       "--count", "5", "--interval", "10"},
                                      "export DEMODCTL_NET_TIMEOUT_MS=10000 &&", ">&-"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");  // before: the lines went to the server, which dropped the connection
}

TEST(Demodmon, FailedCapturesAreEventsAndLeaveNoFiles) {
  const TempDir dir;
  const std::string stuck = write_file(
      dir.path(), "stuck.json",
      R"({"signal": {}, "faults": {"stuck_low": [{"register": "0xEA", "mask": "0x40"}]}})");
  const struct {
    std::string scenario, shell, detail_start, detail_end;
  } cases[] = {
      {":" + stuck, "", "the chip's ready or capture-complete flag did not come within 3 s", ""},
      // A file-size limit below the data file's 8192 bytes, its signal ignored as by the shell.
      {"", "ulimit -f 4 && trap '' XFSZ &&",
       "recording not written: ", ".sigmf-data: File too large"},
  };
  for (const auto& c : cases) {
    const TempDir captures;
    const auto r =
        run_process(demodmon({"--board", "s=usb:sim" + c.scenario + "@208", "--json", "--count",
                              "1", "--capture-every", "1", "--capture-dir", captures.path()},
                             c.shell));
    ASSERT_EQ(r.status, 0) << r.err;
    const json event = json_lines(r.out).at(1);
    ASSERT_EQ(event["event"], "capture_failed") << r.out;
    const std::string detail = event["detail"];
    EXPECT_TRUE(detail.starts_with(c.detail_start) && detail.ends_with(c.detail_end)) << detail;
    EXPECT_EQ(r.err, "demodmon: s: capture failed: " + detail + "\n");
    EXPECT_EQ(run_process({"/bin/ls", "-A", captures.path()}).out, "") << c.shell;
  }
}

}  // namespace
}  // namespace demodctl::testing
