// libFuzzer target: demodctl's register-server client reading whatever a server sends. A loopback
// "server" thread accepts the client, sends the input's stream and closes; the client says HELLO
// and then makes the calls the input chooses.
//
// Each call's result is checked against the stream, frame by frame: a reply that is complete,
// decodes, carries the call's opcode and seq and, when OK, the body size the call asks for (for
// HELLO also the magic and version) gives its status (success with the body copied out, else a
// fault carrying that status); anything else gives a fault without a status and the connection is
// gone, after which every call gives such a fault without a frame. BUSY and BAD_VERSION end the
// connection too, as does any refusal of HELLO.
//
// Input layout (FuzzedDataProvider): from the end, the number of calls (0..8) and each call's
// kind; from the front, the server's stream.
#include <fuzzer/FuzzedDataProvider.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "bus/reg_client.h"
#include "protocol/wire.h"

namespace {

namespace wire = demodctl::wire;
using wire::Opcode;
using wire::Status;

constexpr int kMaxCalls = 8;
constexpr int kPeerWaitMs = 5000;  // bound on each wait of the server thread
constexpr std::chrono::milliseconds kNetTimeout{2000};
constexpr int kDemod = 0xD0;
constexpr int kChannel = 0;
constexpr int kPeriodTotal = 16;
constexpr int kPeriodBurst = 100;
constexpr int kNoStatus = -1;  // a call's fault carries no server status

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "reply_fuzz: %s\n", what);
  std::abort();
}

int listener() {
  static const int fd = [] {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        ::listen(s, 1) != 0) {
      fail("cannot listen on loopback");
    }
    return s;
  }();
  return fd;
}

int listener_port() {
  sockaddr_in at{};
  socklen_t len = sizeof at;
  ::getsockname(listener(), reinterpret_cast<sockaddr*>(&at), &len);
  return ntohs(at.sin_port);
}

bool wait_readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, kPeerWaitMs) > 0;
}

// The server's side: the whole stream, then FIN, then whatever the client sends until it closes.
void serve(std::span<const uint8_t> stream) {
  if (!wait_readable(listener())) return;
  const int fd = ::accept4(listener(), nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  while (!stream.empty()) {
    const ssize_t n = ::send(fd, stream.data(), stream.size(), MSG_NOSIGNAL);
    if (n <= 0) break;  // the client is gone
    stream = stream.subspan(static_cast<size_t>(n));
  }
  ::shutdown(fd, SHUT_WR);
  uint8_t scratch[512];
  while (wait_readable(fd) && ::recv(fd, scratch, sizeof scratch, 0) > 0) {
  }
  ::close(fd);
}

// One call of the client, what its reply must look like, and the bytes it gave back.
struct Call {
  Opcode op;
  size_t body;  // of an OK reply
  int rc = 0;   // 0 when the call went through, the status its fault carries, or kNoStatus
  std::vector<uint8_t> out;
  bool connected = false;  // the client's state right after the call
};

int status_of(const demodctl::Result<void>& done) {
  if (done) return 0;
  const auto& status = done.error().server_status;
  return status ? static_cast<int>(*status) : kNoStatus;
}

Call make_call(demodctl::RegClient& client, int kind) {
  static constexpr std::array<uint8_t, 2> kData = {0x01, 0x03};
  Call c{Opcode::kSetSpeed, 0, 0, {}};
  switch (kind) {
    case 0:
      c.rc = status_of(client.set_speed(kChannel, 100));
      break;
    case 1:
      c = {Opcode::kRead, 4, 0, {}};
      c.out.resize(c.body);
      c.rc = status_of(client.read_regs({kChannel, kDemod, 0x6C}, c.out));
      break;
    case 2:
      c = {Opcode::kWrite, 0, 0, {}};
      c.rc = status_of(client.write_regs({kChannel, kDemod, 0x2E}, kData));
      break;
    case 3:
      c = {Opcode::kReadPeriod, kPeriodTotal, 0, {}};
      c.out.resize(c.body);
      c.rc = status_of(client.read_period({kChannel, kDemod, 0xEF}, c.out, 1, kPeriodBurst));
      break;
    default:  // a device with two-byte register addresses
      c = {Opcode::kRead, 2, 0, {}};
      c.out.resize(c.body);
      c.rc = status_of(client.read_regs({kChannel, 0xC0, 0x0102, 2}, c.out));
      break;
  }
  return c;
}

bool hello_body_ok(std::span<const uint8_t> body) {
  return std::equal(std::begin(wire::kMagic), std::end(wire::kMagic), body.begin()) &&
         wire::get_u16(body.data() + sizeof wire::kMagic) == wire::kVersion;
}

// Checks call number `seq` against the next frame of `stream`; false once the connection must be
// gone.
bool check(const Call& c, uint16_t seq, std::span<const uint8_t>& stream) {
  std::optional<wire::Reply> reply;
  if (stream.size() >= wire::kLengthFieldSize) {
    const size_t size = wire::kLengthFieldSize + wire::get_u16(stream.data());
    if (stream.size() >= size) {
      reply = wire::decode_reply(stream.first(size));
      stream = stream.subspan(size);
    }
  }
  const auto expected_op = static_cast<uint8_t>(static_cast<uint8_t>(c.op) | wire::kReplyFlag);
  const bool usable =
      reply && reply->opcode == expected_op && reply->seq == seq &&
      (reply->status != Status::kOk ||
       (reply->body.size() == c.body && (c.op != Opcode::kHello || hello_body_ok(reply->body))));
  if (!usable) {
    if (c.rc != kNoStatus) fail("a bad reply taken");
    if (c.connected) fail("the connection kept after a bad reply");
    return false;
  }
  if (c.rc != static_cast<int>(reply->status)) fail("a reply's status not passed on");
  if (c.rc == 0 && c.op != Opcode::kHello &&
      !std::equal(c.out.begin(), c.out.end(), reply->body.begin())) {
    fail("a reply's body not copied out");
  }
  const bool ends = c.op == Opcode::kHello
                        ? c.rc != 0
                        : reply->status == Status::kBusy || reply->status == Status::kBadVersion;
  if (ends == c.connected) fail("the connection's state is wrong after a reply");
  return !ends;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  listener();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  std::vector<int> kinds(input.ConsumeIntegralInRange<size_t>(0, kMaxCalls));
  for (int& k : kinds) k = input.ConsumeIntegralInRange(0, 4);
  const std::vector<uint8_t> stream = input.ConsumeRemainingBytes<uint8_t>();

  std::thread server(serve, std::span<const uint8_t>(stream));
  demodctl::RunSettings settings;
  settings.reply_timeout = kNetTimeout;
  demodctl::RegClient client(settings);
  std::vector<Call> calls;
  calls.push_back({Opcode::kHello, wire::kHelloReplyBodySize, 0, {}});
  calls.back().rc = status_of(client.connect("127.0.0.1", listener_port()));
  calls.back().connected = client.connected();
  for (int kind : kinds) {
    calls.push_back(make_call(client, kind));
    calls.back().connected = client.connected();
  }
  client.disconnect();
  server.join();

  std::span<const uint8_t> rest(stream);
  uint16_t seq = 0;
  auto c = calls.begin();
  for (; c != calls.end() && check(*c, seq, rest); ++c, ++seq) {
  }
  if (c != calls.end()) ++c;
  for (; c != calls.end(); ++c) {
    if (c->rc != kNoStatus) fail("a call answered without a connection");
  }
  return 0;
}
