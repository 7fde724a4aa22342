#include <gtest/gtest.h>

#include <cstdlib>

#include "bus/reg_client.h"
#include "server/fake_board.h"
#include "server/frames.h"
#include "server/net_helpers.h"
#include "server/wire.h"

namespace demodctl {
namespace {

using test::Bytes;
using test::FakeBackend;
using test::RawConn;
using test::RunningServer;
using wire::Status;

constexpr int kChannel = 0;
constexpr int kDemod = 208;  // 8-bit address byte 0xD0

Status status_of(const std::optional<Bytes>& frame) {
  return frame && frame->size() >= 4 ? static_cast<Status>((*frame)[3]) : Status::kIoError;
}

class ServerClient : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    ASSERT_EQ(client_.init_sock("127.0.0.1", server_.port()), 0);
  }
  FakeBackend backend_;
  RunningServer server_{backend_};
  RegClient client_;
};

TEST_F(ServerClient, ReadWriteRoundTrip) {
  uint8_t id[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  ASSERT_EQ(client_.read_reg_multi(kChannel, kDemod, 0x6C, 1, id, 4), 0);
  EXPECT_EQ(Bytes(id, id + 4), (Bytes{0x00, 0x00, 0x36, 0x31}));

  const uint8_t data[3] = {0x11, 0x22, 0x33};
  ASSERT_EQ(client_.write_reg_multi(kChannel, kDemod, 0x40, 1, data, 3), 0);
  uint8_t back[3] = {};
  ASSERT_EQ(client_.read_reg_multi(kChannel, kDemod, 0x40, 1, back, 3), 0);
  EXPECT_EQ(Bytes(back, back + 3), Bytes(data, data + 3));
  EXPECT_EQ(client_.set_i2c_speed(kChannel, 400), 0);
  EXPECT_EQ(backend_.speeds.at(kChannel), 400);
}

TEST_F(ServerClient, ReadPeriodFetchesTheWholeCaptureInOneRequest) {
  backend_.device.fifo_port = 0xEF;
  std::vector<uint8_t> buf(8192);
  ASSERT_EQ(client_.read_reg_period(kChannel, kDemod, 0xEF, 1, buf.data(), 1, 8192, 100), 0);
  for (size_t i = 0; i < buf.size(); ++i) ASSERT_EQ(buf[i], static_cast<uint8_t>(i)) << i;
  EXPECT_EQ(backend_.device.log.size(), 8192u);  // one transaction per item
}

TEST(Server, OtherClientsAreServedBetweenBurstsOfAReadPeriod) {
  FakeBackend backend;
  backend.device.fifo_port = 0xEF;
  RunningServer server(backend);
  RawConn reader(server.port());
  RawConn other(server.port());
  ASSERT_TRUE(other.send(test::hello_frame()));
  ASSERT_EQ(status_of(other.recv_frame()), Status::kOk);
  // The other client's request arrives while the first read of the period is on the bus.
  const Bytes other_read = test::read_frame(2, kChannel, kDemod, 0x6C, 1, 4);
  backend.device.on_transfer = [&](int op) {
    if (op == 1) other.send(other_read);
  };
  constexpr int kReads = 4000;
  ASSERT_TRUE(reader.send(test::hello_frame()));
  ASSERT_TRUE(reader.send(test::period_frame(1, kChannel, kDemod, 0xEF, 1, 1, kReads, 1)));
  ASSERT_EQ(status_of(reader.recv_frame()), Status::kOk);  // HELLO
  const auto capture = reader.recv_frame();
  ASSERT_EQ(status_of(capture), Status::kOk);
  EXPECT_EQ(capture->size(), 6u + kReads);
  EXPECT_EQ(status_of(other.recv_frame()), Status::kOk);

  const auto& log = backend.device.log;
  ASSERT_EQ(log.size(), kReads + 1u);
  const auto other_at = std::find_if(
      log.begin(), log.end(), [](const test::Transaction& t) { return t.tx == Bytes{0x6C}; });
  ASSERT_NE(other_at, log.end());
  EXPECT_LT(other_at - log.begin(), kReads) << "served only after the whole period";
}

struct RejectCase {
  std::string name;
  int channel, address, reg, reg_len, count;
  int result;
};

class ServerRejects : public ServerClient, public ::testing::WithParamInterface<RejectCase> {};

TEST_P(ServerRejects, NonzeroAndTheConnectionStaysUsable) {
  const RejectCase& c = GetParam();
  uint8_t buf[300] = {};
  EXPECT_EQ(client_.read_reg_multi(c.channel, c.address, c.reg, c.reg_len, buf, c.count), c.result);
  EXPECT_TRUE(client_.connected());
  EXPECT_EQ(client_.read_reg_multi(kChannel, kDemod, 0x6C, 1, buf, 4), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ServerRejects,
    ::testing::Values(
        RejectCase{"no_channel", 1, kDemod, 0x6C, 1, 4, static_cast<int>(Status::kNoChannel)},
        RejectCase{"negative_channel", -1, kDemod, 0x6C, 1, 4,
                   static_cast<int>(Status::kNoChannel)},
        RejectCase{"address_464", kChannel, 464, 0x6C, 1, 4, static_cast<int>(Status::kBadAddress)},
        RejectCase{"absent_device_nack", kChannel, 0xC2, 0x00, 1, 1,
                   static_cast<int>(Status::kNack)},
        RejectCase{"reg_len_3", kChannel, kDemod, 0x6C, 3, 4, static_cast<int>(Status::kBadParam)},
        RejectCase{"count_over_limit", kChannel, kDemod, 0, 1, 257,
                   static_cast<int>(Status::kTooLarge)},
        RejectCase{"register_too_wide_local", kChannel, kDemod, 0x10000, 1, 1, -1}),
    [](const auto& tc) { return tc.param.name; });

TEST_F(ServerClient, DropFaultFailsTheOperationAndTheConnection) {
  backend_.device.drop_at_op = 1;
  uint8_t id[4];
  EXPECT_NE(client_.read_reg_multi(kChannel, kDemod, 0x6C, 1, id, 4), 0);
  EXPECT_FALSE(client_.connected());
  EXPECT_EQ(client_.read_reg_multi(kChannel, kDemod, 0x6C, 1, id, 4), -1);
}

TEST_F(ServerClient, InitAgainOpensAFreshConnection) {
  uint8_t b = 0;
  ASSERT_EQ(client_.read_reg_multi(kChannel, kDemod, 0x6C, 1, &b, 1), 0);
  ASSERT_EQ(client_.init_sock("127.0.0.1", server_.port()), 0);
  EXPECT_EQ(client_.read_reg_multi(kChannel, kDemod, 0x6F, 1, &b, 1), 0);
  EXPECT_EQ(b, 0x31);
}

TEST_F(ServerClient, AfterDeinitEveryOperationFails) {
  EXPECT_EQ(client_.deinit_sock(), 0);
  uint8_t b = 0;
  EXPECT_EQ(client_.read_reg_multi(kChannel, kDemod, 0x6C, 1, &b, 1), -1);
  EXPECT_EQ(client_.set_i2c_speed(kChannel, 100), -1);
}

TEST(Server, RequestBeforeHelloAndBadVersion) {
  FakeBackend backend;
  RunningServer server(backend);
  RawConn c(server.port());
  ASSERT_TRUE(c.send(test::read_frame(1, 0, kDemod, 0x6C, 1, 4)));
  EXPECT_EQ(status_of(c.recv_frame()), Status::kNeedHello);
  ASSERT_TRUE(c.send(test::hello_frame(2)));
  EXPECT_EQ(status_of(c.recv_frame()), Status::kBadVersion);
  EXPECT_TRUE(c.closed_by_peer());
  EXPECT_TRUE(backend.device.log.empty());
}

TEST(Server, ByteByByteRequestIsAnswered) {
  FakeBackend backend;
  RunningServer server(backend);
  RawConn c(server.port());
  Bytes stream = test::hello_frame();
  const Bytes read = test::read_frame(9, 0, kDemod, 0x6C, 1, 4);
  stream.insert(stream.end(), read.begin(), read.end());
  for (uint8_t b : stream) {
    ASSERT_TRUE(c.send({b}));
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(status_of(c.recv_frame()), Status::kOk);
  EXPECT_EQ(c.recv_frame(), (Bytes{0x00, 0x08, 0x83, 0x00, 0x00, 0x09, 0x00, 0x00, 0x36, 0x31}));
}

struct MalformedCase {
  std::string name;
  Bytes bytes;
  Status status;
  bool closes;
};

class MalformedFrames : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedFrames, ErrorReplyOrCloseAndOthersStillServed) {
  FakeBackend backend;
  RunningServer server(backend);
  RawConn bad(server.port());
  ASSERT_TRUE(bad.send(test::hello_frame()));
  ASSERT_EQ(status_of(bad.recv_frame()), Status::kOk);
  ASSERT_TRUE(bad.send(GetParam().bytes));
  EXPECT_EQ(status_of(bad.recv_frame()), GetParam().status);
  if (GetParam().closes) {
    EXPECT_TRUE(bad.closed_by_peer());
  } else {
    ASSERT_TRUE(bad.send(test::read_frame(2, 0, kDemod, 0x6C, 1, 4)));
    EXPECT_EQ(status_of(bad.recv_frame()), Status::kOk);
  }
  RegClient other;
  ASSERT_EQ(other.init_sock("127.0.0.1", server.port()), 0);
  uint8_t id[4];
  EXPECT_EQ(other.read_reg_multi(kChannel, kDemod, 0x6C, 1, id, 4), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MalformedFrames,
    ::testing::Values(
        MalformedCase{"oversized_length", {0xFF, 0xFF, 0x03, 0x00}, Status::kTooLarge, true},
        MalformedCase{"length_below_header", {0x00, 0x01, 0x03}, Status::kBadFrame, true},
        MalformedCase{"unknown_opcode", test::frame(0x42, 1, {1, 2, 3}), Status::kUnknownOp, false},
        MalformedCase{"truncated_body", test::frame(0x03, 1, {0, 0, 0}), Status::kBadFrame, false}),
    [](const auto& tc) { return tc.param.name; });

TEST(Server, ConnectionCapRepliesBusyAndCloses) {
  FakeBackend backend;
  ServerConfig config;
  config.max_clients = 2;
  RunningServer server(backend, config);
  RegClient a, b, c;
  ASSERT_EQ(a.init_sock("127.0.0.1", server.port()), 0);
  ASSERT_EQ(b.init_sock("127.0.0.1", server.port()), 0);
  EXPECT_EQ(c.init_sock("127.0.0.1", server.port()), static_cast<int>(Status::kBusy));
  EXPECT_FALSE(c.connected());
  RawConn raw(server.port());
  auto busy = raw.recv_frame();
  ASSERT_TRUE(busy);
  EXPECT_EQ((*busy)[2], 0x81);
  EXPECT_EQ(status_of(busy), Status::kBusy);
  EXPECT_TRUE(raw.closed_by_peer());
  // A freed slot is taken again.
  a.deinit_sock();
  bool admitted = false;
  for (int i = 0; i < 100 && !admitted; ++i) {
    admitted = c.init_sock("127.0.0.1", server.port()) == 0;
    if (!admitted) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(admitted);
}

TEST(Server, IdleClientIsClosed) {
  FakeBackend backend;
  ServerConfig config;
  config.idle_timeout = std::chrono::milliseconds(200);
  RunningServer server(backend, config);
  RawConn silent(server.port());
  RawConn half(server.port());
  ASSERT_TRUE(half.send({0x00, 0x11, 0x03}));  // never completes its frame
  EXPECT_TRUE(silent.closed_by_peer());
  EXPECT_TRUE(half.closed_by_peer());
}

TEST(Server, ClientThatNeverReadsDoesNotBlockOthers) {
  FakeBackend backend;
  backend.device.fifo_port = 0xEF;
  ServerConfig config;
  config.idle_timeout = std::chrono::milliseconds(500);
  RunningServer server(backend, config);
  RawConn greedy(server.port());
  ASSERT_TRUE(greedy.send(test::hello_frame()));
  const Bytes big = test::period_frame(1, 0, kDemod, 0xEF, 1, 16, 65520, 100);
  for (int i = 0; i < 64; ++i) {
    if (!greedy.send(big)) break;  // ~4 MB of replies requested, none read
  }
  RegClient other;
  ASSERT_EQ(other.init_sock("127.0.0.1", server.port()), 0);
  uint8_t id[4];
  EXPECT_EQ(other.read_reg_multi(kChannel, kDemod, 0x6C, 1, id, 4), 0);
  EXPECT_TRUE(greedy.closed_by_peer());
}

TEST(Client, TimesOutAgainstAServerThatNeverAnswers) {
  // A listening socket that is never accepted from: the kernel completes the connection, nobody
  // answers HELLO.
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::setenv("DEMODCTL_NET_TIMEOUT_MS", "300", 1);
  RegClient client;
  EXPECT_NE(client.init_sock("127.0.0.1", ntohs(a.sin_port)), 0);
  uint8_t b = 0;
  EXPECT_NE(client.read_reg_multi(kChannel, kDemod, 0x6C, 1, &b, 1), 0);
  ::unsetenv("DEMODCTL_NET_TIMEOUT_MS");
  ::close(fd);
}

TEST(Client, TimeoutMidSessionAbandonsTheConnection) {
  // Answers HELLO, then stays silent.
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  std::thread mute([fd] {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, test::kWaitMs) <= 0) return;
    const int c = ::accept(fd, nullptr, nullptr);
    uint8_t hello[12];
    if (::recv(c, hello, sizeof hello, MSG_WAITALL) == sizeof hello) {
      const Bytes reply = wire::encode_reply(0x01, Status::kOk, 0, wire::hello_reply_body());
      ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
    }
    pollfd q{c, POLLRDHUP, 0};
    ::poll(&q, 1, test::kWaitMs);  // until the client gives up
    ::close(c);
  });
  ::setenv("DEMODCTL_NET_TIMEOUT_MS", "300", 1);
  RegClient client;
  EXPECT_EQ(client.init_sock("127.0.0.1", ntohs(a.sin_port)), 0);
  uint8_t b = 0;
  EXPECT_EQ(client.read_reg_multi(kChannel, kDemod, 0x6C, 1, &b, 1), -1);
  EXPECT_FALSE(client.connected());
  ::unsetenv("DEMODCTL_NET_TIMEOUT_MS");
  mute.join();
  ::close(fd);
}

TEST(Client, ConnectsByNameAndOverIpv6) {
  FakeBackend backend;
  RunningServer v4(backend);
  RegClient by_name;
  EXPECT_EQ(by_name.init_sock("localhost", v4.port()), 0);

  ServerConfig config;
  config.listen = "::1";
  RunningServer v6(backend, config);
  if (!v6.ok()) GTEST_SKIP() << "no IPv6 loopback here";
  RegClient client;
  ASSERT_EQ(client.init_sock("::1", v6.port()), 0);
  uint8_t b = 0;
  EXPECT_EQ(client.read_reg_multi(kChannel, kDemod, 0x6E, 1, &b, 1), 0);
  EXPECT_EQ(b, 0x36);
}

TEST(Client, UnreachableServerAndBadArguments) {
  RegClient client;
  EXPECT_NE(client.init_sock("127.0.0.1", 0), 0);
  EXPECT_NE(client.init_sock(nullptr, 1234), 0);
  EXPECT_NE(client.init_sock("no-such-host.invalid", 1234), 0);
  uint8_t b = 0;
  EXPECT_EQ(client.read_reg_multi(kChannel, kDemod, 0x6C, 1, &b, 1), -1);
}

}  // namespace
}  // namespace demodctl
