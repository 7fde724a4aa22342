// The real regserver on its default simulated board (demodulator at 0xD0, identity 01 00 36 31),
// through the client calls and through raw sockets.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ostream>
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
using testing::ServerProcess;

constexpr int kDemod = 208;    // 8-bit address byte 0xD0
constexpr int kWaitMs = 5000;  // bound of every wait on a socket

// A client connection that sends bytes as given; every wait is bounded.
class Raw {
 public:
  explicit Raw(int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    const int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  ~Raw() { ::close(fd_); }
  bool send(const Bytes& b) {
    return ::send(fd_, b.data(), b.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(b.size());
  }
  // n bytes, or fewer when the peer closed or the bound passed.
  Bytes recv(size_t n) {
    Bytes out;
    uint8_t buf[4096];
    for (pollfd p{fd_, POLLIN, 0}; out.size() < n && ::poll(&p, 1, kWaitMs) > 0;) {
      const ssize_t got = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
      if (got <= 0) break;
      out.insert(out.end(), buf, buf + got);
    }
    return out;
  }
  Bytes frame() {  // one reply frame, length field included
    Bytes f = recv(2);
    const Bytes rest = f.size() == 2 ? recv(static_cast<size_t>(f[0] << 8 | f[1])) : Bytes{};
    f.insert(f.end(), rest.begin(), rest.end());
    return f;
  }
  Bytes head() {  // opcode, status and seq of the next reply
    const Bytes f = frame();
    return f.size() >= 6 ? Bytes(f.begin() + 2, f.begin() + 6) : f;
  }
  bool closed() {  // the server closes within the bound (pending replies are discarded)
    uint8_t buf[4096];
    for (pollfd p{fd_, POLLIN, 0}; ::poll(&p, 1, kWaitMs) > 0;) {
      if (::recv(fd_, buf, sizeof buf, 0) <= 0) return true;
    }
    return false;
  }

 private:
  int fd_;
};

const Bytes kHelloOk{0x81, 0, 0, 0};  // reply head of test::hello()
const Bytes kRead = test::read(1, 0, kDemod, 0x6C, 1, 4);
const Bytes kReadOk{0x83, 0, 0, 1};

TEST(Regserver, ClientCallsRoundTripAndSigtermExits0) {
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
  EXPECT_EQ(client.read_reg_multi(0, kDemod, 0x6C, 1, id, 4), 0);  // still connected
  EXPECT_EQ(client.deinit_sock(), 0);
  EXPECT_EQ(server.stop(), 0);  // SIGTERM
}

TEST(Regserver, BadStartsExit2WithOneLine) {
  for (const char* line : {"--bogus", "--port 70000", "--sim --i2c-dev", "--max-clients 0",
                           "--scenario /nonexistent.json", "--trace /nonexistent/t.jsonl", "x"}) {
    std::vector<std::string> argv{REGSERVER_BIN};
    std::istringstream words(line);
    for (std::string w; words >> w;) argv.push_back(w);
    const testing::ProcResult r = testing::run_process(argv, {}, kWaitMs);
    EXPECT_EQ(r.status, 2) << line;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
}

TEST(Regserver, ConnectionOverTheCapGetsBusyAndIsClosed) {
  ServerProcess server({"--max-clients", "1"});
  Raw first(server.port());
  ASSERT_TRUE(first.send(test::hello()));
  ASSERT_EQ(first.head(), kHelloOk);
  EXPECT_EQ(RegClient().init_sock("127.0.0.1", server.port()), 9);  // BUSY
  Raw second(server.port());
  EXPECT_EQ(second.head(), (Bytes{0x81, 0x09, 0, 0}));
  EXPECT_TRUE(second.closed());
}

TEST(Regserver, IdleConnectionsAreClosed) {
  ServerProcess server({"--idle-timeout", "0.2"});
  Raw silent(server.port());
  Raw half(server.port());
  ASSERT_TRUE(half.send({0x00, 0x11, 0x03}));  // a frame never completed
  EXPECT_TRUE(silent.closed());
  EXPECT_TRUE(half.closed());
}

struct Malformed {
  std::string name;
  Bytes bytes;
  Bytes head;  // of the reply
  bool closes = false;
};
void PrintTo(const Malformed& c, std::ostream* os) { *os << c.name; }

class MalformedRequests : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedRequests, ErrorReplyOrCloseAndTheServerGoesOn) {
  const Malformed& c = GetParam();
  ServerProcess server;
  Raw bad(server.port());
  ASSERT_TRUE(bad.send(c.bytes));
  EXPECT_EQ(bad.head(), c.head);
  EXPECT_TRUE(!c.closes || bad.closed());
  Raw other(server.port());
  for (Raw* conn : c.closes ? std::vector{&other} : std::vector{&bad, &other}) {
    ASSERT_TRUE(conn->send(test::hello()) && conn->send(kRead));
    EXPECT_EQ(conn->head(), kHelloOk);
    EXPECT_EQ(conn->head(), kReadOk);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, MalformedRequests,
    ::testing::Values(
        Malformed{"length_over_limit", {0xFF, 0xFF, 0x03, 0x00}, {0x80, 0x08, 0, 0}, true},
        Malformed{"length_below_header", {0x00, 0x01, 0x03}, {0x80, 0x02, 0, 0}, true},
        Malformed{"bad_magic", test::frame(0x01, 3, {{0, 4}, {1, 2}}), {0x81, 0x02, 0, 3}, true},
        Malformed{"bad_version", test::hello(2), {0x81, 0x04, 0, 0}, true},
        Malformed{"before_hello", test::read(5, 0, kDemod, 0, 1, 1), {0x83, 0x05, 0, 5}},
        Malformed{"unknown_opcode", test::frame(0x42, 7, {{1, 3}}), {0xC2, 0x03, 0, 7}},
        Malformed{"truncated_body", test::frame(0x03, 8, {{0, 3}}), {0x83, 0x02, 0, 8}}),
    [](const auto& tc) { return tc.param.name; });

TEST(Regserver, RequestSentByteByByteIsAnswered) {
  ServerProcess server;
  Raw c(server.port());
  Bytes stream = test::hello();
  stream.insert(stream.end(), kRead.begin(), kRead.end());
  for (uint8_t b : stream) {
    ASSERT_TRUE(c.send({b}));
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(c.frame(),
            (Bytes{0x00, 0x16, 0x81, 0x00, 0x00, 0x00, 'D',  'M',  'R',  'S',  0x00, 0x01,
                   0x02, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFF, 0xFB, 0x00, 0x10}));
  EXPECT_EQ(c.frame(), (Bytes{0x00, 0x08, 0x83, 0x00, 0x00, 0x01, 0x01, 0x00, 0x36, 0x31}));
}

TEST(Regserver, DropFaultFailsTheClientOperation) {
  ServerProcess server({"--scenario", testing::write_file(testing::make_temp_dir(), "drop.json",
                                                          R"({"faults": {"drop_at_ops": [2]}})")});
  RegClient client;
  ASSERT_EQ(client.init_sock("127.0.0.1", server.port()), 0);
  uint8_t id[4];
  EXPECT_EQ(client.read_reg_multi(0, kDemod, 0x6C, 1, id, 4), 0);
  EXPECT_EQ(client.read_reg_multi(0, kDemod, 0x6C, 1, id, 4), -1);  // dropped without a reply
  EXPECT_EQ(client.read_reg_multi(0, kDemod, 0x6C, 1, id, 4), -1);  // and the connection abandoned
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
