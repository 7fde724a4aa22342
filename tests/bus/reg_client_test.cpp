// The register-server client against a scripted server: what it takes from the environment,
// which replies it refuses, what it never sends.
#include "bus/reg_client.h"

#include <gtest/gtest.h>

#include <functional>
#include <string_view>

#include "protocol/wire.h"
#include "server/frames.h"
#include "support/process.h"

namespace demodctl {
namespace {

using namespace wire;
using test::Bytes;
using test::frame;
using test::Raw;

// A one-connection loopback server: answers a HELLO as regserver does and any other request frame
// with answer(request), those replies held until `together` requests have come; an empty answer
// closes the connection. Every wait is bounded.
class ScriptedServer {
 public:
  explicit ScriptedServer(std::function<Bytes(const Bytes&)> answer, size_t together = 1)
      : listener_(testing::loopback_socket(1, &port_)), thread_([this, answer, together] {
          pollfd p{listener_, POLLIN, 0};
          test::Raw conn(test::Raw::Accepted{
              ::poll(&p, 1, test::kWaitMs) > 0 ? ::accept(listener_, nullptr, nullptr) : -1});
          Bytes held;
          for (Bytes q = conn.frame(); q.size() > 2; q = conn.frame()) {
            requests.push_back(q);
            const Bytes reply =
                q[2] == 0x01 ? test::frame(0x81, 0, {}, wire::hello_reply_body()) : answer(q);
            if (reply.empty()) {
              conn.send(held);  // what was answered before goes out first
              break;
            }
            held.insert(held.end(), reply.begin(), reply.end());
            if (q[2] != 0x01 && (requests.size() - 1) % together != 0) continue;
            if (!conn.send(held)) break;
            held.clear();
          }
        }) {}
  ~ScriptedServer() {
    thread_.join();
    ::close(listener_);
  }
  int port() const { return std::stoi(port_); }
  std::vector<Bytes> requests;

 private:
  std::string port_;
  int listener_;
  std::thread thread_;
};

// A call's fault as "KIND|CAUSE" ("|" when it succeeded) against `want`, "KIND|" and the end of
// the cause.
::testing::AssertionResult fault_is(const Result<void>& done, std::string_view want) {
  const std::string seen =
      done ? "|" : std::string(kind_name(done.error().kind)) + "|" + done.error().cause;
  const size_t bar = want.find('|');
  if (seen.starts_with(want.substr(0, bar + 1)) && seen.ends_with(want.substr(bar + 1))) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << seen;
}

// The settings a program reads from its environment (a lookup here).
TEST(RunSettings, ReplyTimeoutAndTraceFromTheirVariables) {
  const std::pair<const char*, long> cases[] = {{nullptr, 3000},  {"", 3000},
                                                {"0", 3000},      {"-5", 3000},
                                                {"abc", 3000},    {"250", 250},
                                                {"250ms", 3000},  {"600000", 600000},
                                                {"600001", 3000}, {"99999999999999", 3000}};
  for (const auto& [text, ms] : cases) {
    const RunSettings s = run_settings_from([text = text](const char* name) -> const char* {
      if (std::string_view(name) == kNetTimeoutEnvVar) return text;
      return std::string_view(name) == kI2cTraceEnvVar ? "older" : "";
    });
    EXPECT_EQ(s.reply_timeout.count(), ms) << (text ? text : "unset");
    EXPECT_EQ(s.trace_path, "older");  // DEMODCTL_TRACE empty: the older name's path
  }
}

// The status a call's fault carries: 0 when it went through, -1 when the server gave none.
int status_of(const Result<void>& done) {
  if (done) return 0;
  return done.error().server_status ? static_cast<int>(*done.error().server_status) : -1;
}

// The reply to a one-byte READ (seq 1, after the HELLO) and what the client makes of it: the
// status, or none and the connection dropped; and the fault's kind and cause.
TEST(RegClient, RefusesRepliesThatBreakTheProtocol) {
  const std::tuple<Bytes, int, bool, const char*> cases[] = {
      // reply, result, still connected, the fault's kind and the end of its cause
      {test::frame(0x83, 1, {}, {0x3F}), 0, true, ""},
      {test::frame(0x83, 1, {}, {'n'}, 1), 1, true, "refused|channel 0: NACK"},
      {test::frame(0x83, 1, {}, {'r'}, 13), 13, true, "read-only|channel 0: READ_ONLY"},
      {test::frame(0x83, 2, {}, {0x3F}), -1, false, "no connection|protocol"},  // another seq
      {test::frame(0x84, 1, {}, {0x3F}), -1, false, "no connection|protocol"},  // another opcode
      {test::frame(0x83, 1, {}, {1, 2}), -1, false, "no connection|protocol"},  // body too long
      {test::frame(0x83, 1, {}), -1, false, "no connection|protocol"},          // body missing
      {{0x00, 0x02, 0x83, 0x00}, -1, false, "no connection|protocol"},    // length below the header
      {{}, -1, false, "no connection|the server closed the connection"},  // no reply: closed
  };
  for (const auto& [reply, rc, still_connected, fault] : cases) {
    ScriptedServer server([&](const Bytes&) { return reply; });
    RegClient client;
    ASSERT_TRUE(client.connect("127.0.0.1", server.port()));
    uint8_t value = 0;
    const Result<void> last = client.read_regs({0, 208, 0x2C}, {&value, 1});
    EXPECT_EQ(status_of(last), rc) << reply.size();
    EXPECT_EQ(value, rc == 0 ? 0x3F : 0);
    EXPECT_EQ(client.connected(), still_connected);
    EXPECT_TRUE(fault_is(last, fault));
    client.disconnect();
  }
}

// Counts over the server's limits are refused before anything is sent (TOO_LARGE, 8); counts at
// the limits are sent.
TEST(RegClient, CountLimitsAreCheckedBeforeSending) {
  ScriptedServer server([](const Bytes& q) {
    const size_t body = q[2] == 0x03 ? 256 : q[2] == 0x05 ? 65531 : 0;  // READ, READ_PERIOD
    return test::frame(q[2] | 0x80, static_cast<uint16_t>(q[5]), {}, Bytes(body));
  });
  RegClient client;
  ASSERT_TRUE(client.connect("127.0.0.1", server.port()));
  std::vector<uint8_t> buf(65532);
  const std::span<uint8_t> all(buf);
  EXPECT_EQ(status_of(client.read_regs({0, 208, 0}, all.first(257))), 8);
  EXPECT_EQ(status_of(client.write_regs({0, 208, 0}, all.first(257))), 8);
  EXPECT_EQ(status_of(client.read_period({0, 208, 0xEF}, all.first(65532), 1, 100)), 8);
  EXPECT_EQ(status_of(client.read_regs({0, 208, 0x0102, 2}, all.first(256))), 0);
  EXPECT_EQ(status_of(client.write_regs({0, 208, 0}, all.first(256))), 0);
  EXPECT_EQ(status_of(client.read_period({0, 208, 0xEF}, all.first(65531), 1, 100)), 0);
  client.disconnect();
  ASSERT_EQ(server.requests.size(), 4u);  // HELLO and the three at the limit
  EXPECT_EQ(server.requests[1], test::read(1, 0, 208, 0x0102, 2, 256));  // a two-byte register
  EXPECT_EQ(server.requests[3], test::period(3, 1, 1, 65531, 100));
}

// A gate opening and a tuner write as one pair: both requests out before either reply (the server
// holds its replies until both came), the opening's refusal the pair's with the connection still in
// step (the next pair's replies match), a reply that never comes a lost connection.
TEST(RegClient, WritePairSendsBothBeforeReadingEither) {
  const std::tuple<uint8_t, bool, const char*> cases[] = {
      // the opening's status, whether the server closes instead of the write's reply, the fault
      {0, false, "|"},
      {1, false, "refused|WRITE 0xD0 register 0x2D on channel 0: NACK"},
      {0, true,
       "no connection|WRITE 0xC0 register 0x04 on channel 0: the server closed the "
       "connection"},
  };
  const uint8_t open[] = {0x01}, tuner[] = {0x04};
  const ServerWrite gate{{0, 0xD0, 0x2D}, open}, write{{0, 0xC0, 0x04}, tuner};
  for (const auto& [status, closes, fault] : cases) {
    ScriptedServer server(
        [&, status = status, closes = closes](const Bytes& q) {
          const bool opening = q[15] == 0x2D;  // the register's low byte
          if (!opening && closes) return Bytes{};
          return test::frame(0x84, q[5], {}, {}, opening ? status : 0);
        },
        2);
    RegClient client;
    ASSERT_TRUE(client.connect("127.0.0.1", server.port()));
    const Result<void> done = client.write_pair(gate, write);
    EXPECT_TRUE(fault_is(done, fault));
    if (!closes) {
      EXPECT_EQ(bool(client.write_pair(gate, write)), status == 0);
    }
    EXPECT_EQ(client.connected(), !closes);
    client.disconnect();
    ASSERT_GE(server.requests.size(), 3u);
    EXPECT_EQ(server.requests[1], test::write(1, 0, 0xD0, 0x2D, 1, {0x01}));
    EXPECT_EQ(server.requests[2], test::write(2, 0, 0xC0, 0x04, 1, {0x04}));
  }
}

}  // namespace
}  // namespace demodctl
