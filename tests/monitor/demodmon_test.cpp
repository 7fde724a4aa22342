// demodmon as a program: a board that fades on a script, a dead board beside a live one with
// captures, the reconnect after its regserver is stopped and started again, the stop on SIGTERM
// with its summary.
#include <gtest/gtest.h>
#include <signal.h>

#include <nlohmann/json.hpp>
#include <sstream>

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

std::vector<std::string> demodmon(std::vector<std::string> args) {
  args.insert(args.begin(), DEMODMON_BIN);
  return args;
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
      demodmon({"--board", "live=usb:sim@208", "--board", "dead=127.0.0.1:1/0@208", "--count", "2",
                "--interval", "10", "--capture-every", "2", "--capture-dir", dir.path()}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(" dead failed: no connection\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("live: 2 samples, 0 failures, 0 lock losses, longest outage 0.000 s\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("dead: 2 samples, 2 failures, 0 lock losses"), std::string::npos);
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

}  // namespace
}  // namespace demodctl::testing
