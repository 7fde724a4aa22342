// The real regserver on its default simulated board (demodulator at 0xD0, identity 01 00 36 31),
// through the client calls and through raw sockets.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bus/reg_client.h"
#include "server/frames.h"
#include "support/process.h"

namespace demodctl {
namespace {

using test::Bytes;
using test::kWaitMs;
using test::Raw;
using testing::ServerProcess;

constexpr int kDemod = 208;  // 8-bit address byte 0xD0

const Bytes kHelloOk{0x81, 0, 0, 0};  // reply head of test::hello()
const Bytes kRead = test::read(1, 0, kDemod, 0x6C, 1, 4);
const Bytes kReadOk{0x83, 0, 0, 1};

size_t count_of(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}
bool has(const std::string& text, const std::string& part) { return count_of(text, part) > 0; }

TEST(Regserver, ClientCallsRoundTripLogAndSigtermExits0) {
  ServerProcess server;
  ASSERT_TRUE(server.ready());
  RegClient client;
  ASSERT_EQ(client.init_sock("127.0.0.1", server.port()), 0);
  uint8_t id[4] = {};
  ASSERT_EQ(client.read_reg_multi(0, kDemod, 0x6C, 1, id, 4), 0);
  EXPECT_EQ(Bytes(id, id + 4), (Bytes{0x01, 0x00, 0x36, 0x31}));
  const uint8_t data[3] = {0x11, 0x22, 0x33};
  ASSERT_EQ(client.write_reg_multi(0, kDemod, 0x40, 1, data, 3), 0);
  uint8_t back[3] = {};
  ASSERT_EQ(client.read_reg_multi(0, kDemod, 0x40, 1, back, 3), 0);
  EXPECT_EQ(Bytes(back, back + 3), Bytes(data, data + 3));
  std::vector<uint8_t> capture(8192);
  EXPECT_EQ(client.read_reg_period(0, kDemod, 0xEF, 1, capture.data(), 1, 8192, 100), 0);
  EXPECT_EQ(client.read_reg_multi(1, kDemod, 0x6C, 1, id, 4), 6);  // NO_CHANNEL
  EXPECT_EQ(client.read_reg_multi(0, 464, 0x6C, 1, id, 4), 7);     // BAD_ADDRESS
  EXPECT_EQ(client.read_reg_multi(0, 0xC0, 0x00, 1, id, 1), 1);    // NACK: repeater closed
  EXPECT_EQ(client.read_reg_multi(0, kDemod, 0x6C, 1, id, 4), 0);  // still connected
  EXPECT_EQ(client.deinit_sock(), 0);
  EXPECT_EQ(server.stop(), 0);  // SIGTERM
  const std::string log = server.err();
  EXPECT_EQ(log.substr(10, 1) + log.substr(23, 13), "TZ regserver: ") << log;  // UTC time
  EXPECT_TRUE(has(log, " regserver: accepted 127.0.0.1:")) << log;
  EXPECT_TRUE(has(log,
                  " regserver: read of channel 0, device 0xC0, register 0x00 failed: NACK "
                  "(client 127.0.0.1:"))
      << log;
  EXPECT_TRUE(has(log, " (peer)\n")) << log;
}

TEST(Regserver, BadStartsExitWithOneLine) {
  ServerProcess taken;
  const struct {
    std::string line;
    int status;
  } cases[] = {
      {"--bogus", 2},
      {"--port 70000", 2},
      {"--sim --i2c-dev", 2},
      {"--max-clients 0", 2},
      {"--hello-grace 0", 2},
      {"--allow 127.0.0.1/33", 2},
      {"--allow ::1/129", 2},
      {"--allow localhost", 2},
      {"--scenario /nonexistent.json", 2},
      {"--trace /nonexistent/t.jsonl", 2},
      {"x", 2},
      {"--port " + taken.port_text(), 1},  // in use
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv{REGSERVER_BIN};
    std::istringstream words(c.line);
    for (std::string w; words >> w;) argv.push_back(w);
    const testing::ProcResult r = testing::run_process(argv, {}, kWaitMs);
    EXPECT_EQ(r.status, c.status) << c.line;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.out, "") << c.line;
  }
}

TEST(Regserver, RefusedConnectionsAndWrites) {
  ServerProcess server(
      {"--max-clients", "1", "--allow", "127.0.0.1", "--allow", "::1", "--read-only"});
  Raw first(server.port(), "127.0.0.1");
  ASSERT_TRUE(first.send(test::hello()) && first.send(test::write(2, 0, kDemod, 0x40, 1, {7})));
  ASSERT_EQ(first.head(), kHelloOk);
  EXPECT_EQ(first.head(), (Bytes{0x84, 13, 0, 2}));  // READ_ONLY
  ASSERT_TRUE(first.send(test::read(3, 0, kDemod, 0x40, 1, 1)));
  EXPECT_EQ(first.frame(), (Bytes{0, 5, 0x83, 0, 0, 3, 0})) << "nothing written";
  EXPECT_EQ(RegClient().init_sock("127.0.0.1", server.port()), 9);  // BUSY
  Raw busy(server.port());
  EXPECT_EQ(busy.head(), (Bytes{0x81, 9, 0, 0}));
  EXPECT_TRUE(busy.closed());
  Raw stranger(server.port(), "127.0.0.2");
  EXPECT_EQ(stranger.head(), (Bytes{0x81, 12, 0, 0}));  // NOT_ALLOWED
  EXPECT_TRUE(stranger.closed());
  const std::string log = server.err();
  EXPECT_TRUE(has(log, " (busy, 1 connections)\n")) << log;
  EXPECT_TRUE(has(log, " regserver: refused 127.0.0.2:")) << log;
  EXPECT_TRUE(has(log, " (not allowed)\n")) << log;
}

TEST(Regserver, GraceAndIdleTimers) {
  ServerProcess server({"--idle-timeout", "0.4", "--hello-grace", "0.25"});
  Raw silent(server.port());  // never greets
  Raw hog(server.port());     // keeps sending, never greets
  Raw steady(server.port());  // greets, then a request every 150 ms
  Raw half(server.port());    // greets, then a frame never completed
  ASSERT_TRUE(steady.send(test::hello()) && half.send(test::hello()));
  ASSERT_EQ(steady.frame(),
            (Bytes{0x00, 0x16, 0x81, 0x00, 0x00, 0x00, 'D',  'M',  'R',  'S',  0x00, 0x01,
                   0x02, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFF, 0xFB, 0x00, 0x10}));
  ASSERT_EQ(half.head(), kHelloOk);
  ASSERT_TRUE(half.send({0x00, 0x11, 0x03}));
  for (uint8_t i = 1; i <= 6; ++i) {  // 0.9 s: over twice the idle timeout
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    hog.send(test::read(i, 0, kDemod, 0x6C, 1, 4));
    ASSERT_TRUE(steady.send(test::read(i, 0, kDemod, 0x6C, 1, 4)));
    EXPECT_EQ(steady.head(), (Bytes{0x83, 0, 0, i})) << "the idle timer restarts per request";
  }
  EXPECT_TRUE(silent.closed());
  EXPECT_TRUE(hog.closed());
  EXPECT_TRUE(half.closed());
  const std::string log = server.err();
  EXPECT_EQ(count_of(log, " (grace)\n"), 2U) << log;
  EXPECT_EQ(count_of(log, " (idle)\n"), 1U) << log;
}

TEST(Regserver, ErrorRepliesKeepOrEndTheConnection) {
  ServerProcess server;
  Raw kept(server.port());  // NEED_HELLO, UNKNOWN_OP (reply opcode 0xC2), BAD_FRAME: still served
  for (const Bytes& b : {test::read(5, 0, kDemod, 0, 1, 1), test::hello(),
                         test::frame(0x42, 7, {{1, 3}}), test::frame(0x03, 8, {{0, 3}}), kRead}) {
    ASSERT_TRUE(kept.send(b));
  }
  for (const Bytes& head :
       {Bytes{0x83, 5, 0, 5}, kHelloOk, Bytes{0xC2, 3, 0, 7}, Bytes{0x83, 2, 0, 8}, kReadOk}) {
    EXPECT_EQ(kept.head(), head);
  }
  const std::pair<Bytes, Bytes> ending[] = {
      {{0xFF, 0xFF, 0x03, 0x00}, {0x80, 0x08, 0, 0}},                // length over the limit
      {{0x00, 0x01, 0x03}, {0x80, 0x02, 0, 0}},                      // length below the header
      {test::frame(0x01, 3, {{0, 4}, {1, 2}}), {0x81, 0x02, 0, 3}},  // bad magic
      {test::hello(2), {0x81, 0x04, 0, 0}},                          // bad version
  };
  for (const auto& [bytes, head] : ending) {
    Raw bad(server.port());
    ASSERT_TRUE(bad.send(bytes) && bad.send(kRead));
    EXPECT_EQ(bad.head(), head);
    EXPECT_TRUE(bad.closed()) << "the request behind is not answered";
  }
  ASSERT_TRUE(kept.send(kRead));
  EXPECT_EQ(kept.head(), kReadOk);
}

TEST(Client, TimeoutAbandonsTheConnection) {
  ServerProcess server;
  RegClient client;
  ASSERT_EQ(client.init_sock("127.0.0.1", server.port()), 0);
  server.signal(SIGSTOP);  // the connection stays open, nothing is answered
  ::setenv("DEMODCTL_NET_TIMEOUT_MS", "300", 1);
  uint8_t b = 0;
  EXPECT_EQ(client.read_reg_multi(0, kDemod, 0x6C, 1, &b, 1), -1);
  ::unsetenv("DEMODCTL_NET_TIMEOUT_MS");
  EXPECT_FALSE(client.connected());  // so a late reply is never taken for a later request
}

}  // namespace
}  // namespace demodctl
