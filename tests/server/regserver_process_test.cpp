// regserver as a program: its command line, its ready line, its exit statuses, and the client
// against the simulated board it serves by default (demodulator at 0xD0, identity at 0x6C).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "bus/reg_client.h"
#include "server/subprocess.h"

namespace demodctl {
namespace {

using test::Child;

constexpr int kDemod = 208;

std::vector<std::string> regserver(std::vector<std::string> args) {
  args.insert(args.begin(), REGSERVER_BIN);
  return args;
}

// The port of a "listening on 127.0.0.1:PORT\n" line, or 0.
int port_of(const std::string& line) {
  const std::string prefix = "listening on 127.0.0.1:";
  if (line.rfind(prefix, 0) != 0 || line.size() < prefix.size() + 2 || line.back() != '\n') {
    return 0;
  }
  const std::string digits = line.substr(prefix.size(), line.size() - prefix.size() - 1);
  if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 5) return 0;
  return std::stoi(digits);
}

std::string temp_path(const std::string& name) {
  return (std::filesystem::temp_directory_path() / (name + "." + std::to_string(::getpid())))
      .string();
}

class Signals : public ::testing::TestWithParam<int> {};

TEST_P(Signals, ServesTheDefaultBoardAndStopsWithStatus0) {
  Child server(regserver({"--port", "0"}));
  ASSERT_TRUE(server.ok());
  const int port = port_of(server.read_stdout_line());
  ASSERT_NE(port, 0);

  RegClient client;
  ASSERT_EQ(client.init_sock("127.0.0.1", port), 0);
  EXPECT_EQ(client.set_i2c_speed(0, 100), 0);
  uint8_t id[4] = {};
  ASSERT_EQ(client.read_reg_multi(0, kDemod, 0x6C, 1, id, 4), 0);
  EXPECT_EQ(id[2], 0x36);
  EXPECT_EQ(id[3], 0x31);
  EXPECT_EQ(client.read_reg_multi(0, 464, 0x6C, 1, id, 4),
            static_cast<int>(wire::Status::kBadAddress));
  EXPECT_EQ(client.read_reg_multi(7, kDemod, 0x6C, 1, id, 4),
            static_cast<int>(wire::Status::kNoChannel));
  std::vector<uint8_t> capture(8192);
  EXPECT_EQ(client.read_reg_period(0, kDemod, 0xEF, 1, capture.data(), 1, 8192, 100), 0);
  client.deinit_sock();

  ASSERT_EQ(::kill(server.pid(), GetParam()), 0);
  EXPECT_EQ(server.wait_exit(), 0);
}

INSTANTIATE_TEST_SUITE_P(TermAndInt, Signals, ::testing::Values(SIGTERM, SIGINT));

struct BadStart {
  std::string name;
  std::vector<std::string> args;
};

class BadStarts : public ::testing::TestWithParam<BadStart> {};

TEST_P(BadStarts, OneLineOnStderrAndStatus2) {
  Child server(regserver(GetParam().args));
  ASSERT_TRUE(server.ok());
  const std::string err = server.read_stderr();
  EXPECT_EQ(server.wait_exit(), 2);
  EXPECT_EQ(server.read_stdout_line(100), "");
  ASSERT_FALSE(err.empty());
  EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadStarts,
    ::testing::Values(BadStart{"unknown_option", {"--bogus"}},
                      BadStart{"port_out_of_range", {"--port", "70000"}},
                      BadStart{"port_not_a_number", {"--port", "x"}},
                      BadStart{"both_backends", {"--sim", "--i2c-dev"}},
                      BadStart{"scenario_with_i2c_dev", {"--i2c-dev", "--scenario", "a.json"}},
                      BadStart{"missing_scenario", {"--scenario", "/nonexistent/board.json"}},
                      BadStart{"trace_not_creatable", {"--trace", "/nonexistent/dir/t.jsonl"}},
                      BadStart{"zero_clients", {"--max-clients", "0"}},
                      BadStart{"negative_idle", {"--idle-timeout", "-1"}},
                      BadStart{"listen_not_an_address", {"--listen", "localhost:1"}},
                      BadStart{"stray_argument", {"extra"}}),
    [](const auto& tc) { return tc.param.name; });

TEST(Regserver, InvalidScenarioFileExits2) {
  const std::string path = temp_path("regserver_bad_scenario.json");
  std::ofstream(path) << "{ this is not json";
  Child server(regserver({"--port", "0", "--scenario", path}));
  const std::string err = server.read_stderr();
  EXPECT_EQ(server.wait_exit(), 2);
  EXPECT_NE(err.find(path), std::string::npos) << err;
  std::filesystem::remove(path);
}

TEST(Regserver, TraceRecordsSpeedAndTransactions) {
  const std::string path = temp_path("regserver_trace.jsonl");
  Child server(regserver({"--port", "0", "--trace", path}));
  const int port = port_of(server.read_stdout_line());
  ASSERT_NE(port, 0);
  RegClient client;
  ASSERT_EQ(client.init_sock("127.0.0.1", port), 0);
  ASSERT_EQ(client.set_i2c_speed(0, 400), 0);
  uint8_t id[4];
  ASSERT_EQ(client.read_reg_multi(0, kDemod, 0x6C, 1, id, 4), 0);
  client.deinit_sock();
  ::kill(server.pid(), SIGTERM);
  EXPECT_EQ(server.wait_exit(), 0);
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("\"speed\""), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("\"read\""), std::string::npos) << lines[1];
  std::filesystem::remove(path);
}

// Needs the simulated board's fault injection (the scenario format of docs/simulator.md).
TEST(Regserver, DropFaultFailsTheClientOperation) {
  if (!std::filesystem::exists(SCENARIO_DIR)) GTEST_SKIP() << "no scenarios/ on this branch";
  const std::string path = temp_path("regserver_drop.json");
  std::ofstream(path) << R"({"faults": {"drop_at_ops": [2]}})";
  Child server(regserver({"--port", "0", "--scenario", path}));
  const int port = port_of(server.read_stdout_line());
  ASSERT_NE(port, 0);
  RegClient client;
  ASSERT_EQ(client.init_sock("127.0.0.1", port), 0);
  uint8_t id[4];
  EXPECT_EQ(client.read_reg_multi(0, kDemod, 0x6C, 1, id, 4), 0);
  EXPECT_NE(client.read_reg_multi(0, kDemod, 0x6C, 1, id, 4), 0);
  EXPECT_FALSE(client.connected());
  ::kill(server.pid(), SIGTERM);
  EXPECT_EQ(server.wait_exit(), 0);
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace demodctl
