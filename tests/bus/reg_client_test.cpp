// The register-server client's own checks, against a scripted server: what it takes from the
// environment, which replies it refuses (and then drops the connection), what it never sends.
#include "bus/reg_client.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <thread>

#include "server/frames.h"

namespace demodctl {
namespace {

using test::Bytes;

// A one-connection loopback server: answers each request frame with answer(request); an empty
// answer closes the connection. Every wait is bounded.
class ScriptedServer {
 public:
  explicit ScriptedServer(std::function<Bytes(const Bytes&)> answer)
      : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener_, 1);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this, answer] { serve(answer); });
  }
  ~ScriptedServer() {
    thread_.join();
    ::close(listener_);
  }
  int port() const { return port_; }
  std::vector<Bytes> requests;

 private:
  bool recv_exact(int fd, uint8_t* p, size_t n) {
    for (pollfd w{fd, POLLIN, 0}; n > 0;) {
      if (::poll(&w, 1, 3000) <= 0) return false;
      const ssize_t got = ::recv(fd, p, n, 0);
      if (got <= 0) return false;
      p += got;
      n -= static_cast<size_t>(got);
    }
    return true;
  }
  void serve(const std::function<Bytes(const Bytes&)>& answer) {
    pollfd w{listener_, POLLIN, 0};
    if (::poll(&w, 1, 3000) <= 0) return;
    const int fd = ::accept(listener_, nullptr, nullptr);
    for (Bytes q(2); recv_exact(fd, q.data(), 2); q.assign(2, 0)) {
      q.resize(2 + static_cast<size_t>(q[0] << 8 | q[1]));
      if (!recv_exact(fd, q.data() + 2, q.size() - 2)) break;
      requests.push_back(q);
      const Bytes reply = answer(q);
      if (reply.empty()) break;
      ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
    }
    ::close(fd);
  }
  int listener_;
  int port_ = 0;
  std::thread thread_;
};

uint16_t seq_of(const Bytes& q) { return static_cast<uint16_t>(q[4] << 8 | q[5]); }

Bytes hello_reply(const Bytes& q) {
  return test::frame(0x81, seq_of(q), {}, wire::hello_reply_body());
}

TEST(RegClient, TimeoutFromTheEnvironment) {
  const std::pair<const char*, long> cases[] = {{nullptr, 3000},  {"", 3000},
                                                {"0", 3000},      {"-5", 3000},
                                                {"abc", 3000},    {"250", 250},
                                                {"250ms", 3000},  {"600000", 600000},
                                                {"600001", 3000}, {"99999999999999", 3000}};
  for (const auto& [text, ms] : cases) {
    text != nullptr ? ::setenv("DEMODCTL_NET_TIMEOUT_MS", text, 1)
                    : ::unsetenv("DEMODCTL_NET_TIMEOUT_MS");
    EXPECT_EQ(net_timeout_from_env().count(), ms) << (text ? text : "unset");
  }
  ::unsetenv("DEMODCTL_NET_TIMEOUT_MS");
}

// The reply to a one-byte READ, as the scripted server sends it, and what the client makes of it.
struct ReplyCase {
  const char* name;
  std::function<Bytes(uint16_t seq)> reply;
  int rc;
  bool still_connected;
};

TEST(RegClient, RefusesRepliesThatBreakTheProtocol) {
  const ReplyCase cases[] = {
      {"ok", [](uint16_t s) { return test::frame(0x83, s, {}, {0x3F}); }, 0, true},
      {"nack", [](uint16_t s) { return test::frame(0x83, s, {}, {'n'}, 1); }, 1, true},
      {"other seq", [](uint16_t s) { return test::frame(0x83, s + 1, {}, {0x3F}); }, -1, false},
      {"other opcode", [](uint16_t s) { return test::frame(0x84, s, {}, {0x3F}); }, -1, false},
      {"body too long",
       [](uint16_t s) {
         return test::frame(0x83, s, {}, {1, 2});
       },
       -1, false},
      {"body missing", [](uint16_t s) { return test::frame(0x83, s, {}); }, -1, false},
      {"length below header",
       [](uint16_t) {
         return Bytes{0x00, 0x02, 0x83, 0x00};
       },
       -1, false},
      {"no reply", [](uint16_t) { return Bytes{}; }, -1, false},
  };
  for (const auto& c : cases) {
    ScriptedServer server(
        [&](const Bytes& q) { return q[2] == 0x01 ? hello_reply(q) : c.reply(seq_of(q)); });
    RegClient client;
    ASSERT_EQ(client.init_sock("127.0.0.1", server.port()), 0) << c.name;
    uint8_t value = 0;
    EXPECT_EQ(client.read_reg_multi(0, 208, 0x2C, 1, &value, 1), c.rc) << c.name;
    EXPECT_EQ(value, c.rc == 0 ? 0x3F : 0) << c.name;
    EXPECT_EQ(client.connected(), c.still_connected) << c.name;
    client.deinit_sock();
  }
}

// Counts over the server's limits are refused before anything is sent (TOO_LARGE, 8).
TEST(RegClient, CountLimitsAreCheckedBeforeSending) {
  ScriptedServer server([](const Bytes& q) {
    return q[2] == 0x01 ? hello_reply(q)
                        : test::frame(q[2] | 0x80, seq_of(q), {}, Bytes(q[2] == 0x03 ? 256 : 0));
  });
  RegClient client;
  ASSERT_EQ(client.init_sock("127.0.0.1", server.port()), 0);
  std::vector<uint8_t> buf(300);
  EXPECT_EQ(client.read_reg_multi(0, 208, 0, 1, buf.data(), 257), 8);
  EXPECT_EQ(client.write_reg_multi(0, 208, 0, 1, buf.data(), 257), 8);
  EXPECT_EQ(client.read_reg_multi(0, 208, 0, 1, buf.data(), 256), 0);
  EXPECT_EQ(client.write_reg_multi(0, 208, 0, 1, buf.data(), 256), 0);
  client.deinit_sock();
  ASSERT_EQ(server.requests.size(), 3u);  // HELLO and the two at the limit
  EXPECT_EQ(server.requests[1], test::read(1, 0, 208, 0, 1, 256));
}

}  // namespace
}  // namespace demodctl
