// libFuzzer target: one regserver session on the simulated board, fed the input as the byte
// stream of a client over a loopback connection, in chunks the input chooses.
//
// Checked against the request decoder run over the same stream: every complete frame gets
// exactly one reply, in order, with the frame's opcode and seq (a decoding error or a refusal
// with its status); a successful reply has the body size its request asks for; after a frame that
// loses the framing (or a HELLO of another version) nothing more is answered and the connection
// ends; a stream that ends in a partial frame ends the connection without a reply to it.
//
// Input layout (FuzzedDataProvider): from the end, the read-only switch, then per chunk its size
// (1..256); from the front, the chunks' bytes.
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "protocol/wire.h"
#include "server/asio_include.h"
#include "server/bus_backend.h"
#include "server/register_ops.h"
#include "server/server_log.h"
#include "server/session.h"
#include "sim/sim_board.h"

namespace {

using demodctl::wire::DecodeOutcome;
using demodctl::wire::Opcode;
using demodctl::wire::Status;

constexpr size_t kMaxChunk = 256;
// A session that has not ended this long after its client's FIN is a hang.
constexpr std::chrono::seconds kSessionBound{20};
constexpr std::chrono::milliseconds kIdleWait{2};
// Long enough that neither timer fires during one input.
constexpr std::chrono::hours kNoTimeout{1};

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "session_fuzz: %s\n", what);
  std::abort();
}

// One reply the stream calls for.
struct Expected {
  uint8_t opcode;  // with the reply flag
  uint16_t seq;
  std::optional<Status> status;  // nothing: the request is performed, any status
  size_t ok_body;                // body size of an OK reply to a performed request
};

// What the server must answer to `stream`, and whether it must end the connection before the
// stream's end.
struct Script {
  std::vector<Expected> replies;
  bool closes = false;
};

size_t ok_body_size(const demodctl::wire::Request& q) {
  switch (q.op) {
    case Opcode::kHello:
      return demodctl::wire::kHelloReplyBodySize;
    case Opcode::kRead:
      return q.count;
    case Opcode::kReadPeriod:
      return q.total;
    default:
      return 0;
  }
}

Script expected_replies(std::span<const uint8_t> stream, bool read_only) {
  Script s;
  bool greeted = false;
  while (!s.closes) {
    const auto r = demodctl::wire::decode_request(stream);
    if (r.outcome == DecodeOutcome::kNeedMore) break;
    if (r.outcome == DecodeOutcome::kError) {
      s.replies.push_back(
          {static_cast<uint8_t>(r.opcode | demodctl::wire::kReplyFlag), r.seq, r.status, 0});
      s.closes = r.close;
      stream = stream.subspan(r.consumed);
      continue;
    }
    const auto& q = r.request;
    const auto opcode =
        static_cast<uint8_t>(static_cast<uint8_t>(q.op) | demodctl::wire::kReplyFlag);
    const Status admitted = demodctl::wire::admit_request(q, greeted);
    if (admitted != Status::kOk) {
      s.replies.push_back({opcode, q.seq, admitted, 0});
      s.closes = admitted == Status::kBadVersion;
    } else if (read_only && demodctl::puts_data_on_bus(q)) {
      s.replies.push_back({opcode, q.seq, Status::kReadOnly, 0});
    } else {
      s.replies.push_back({opcode, q.seq, std::nullopt, ok_body_size(q)});
    }
    if (q.op == Opcode::kHello && admitted == Status::kOk) greeted = true;
    stream = stream.subspan(r.consumed);
  }
  return s;
}

void check_replies(const Script& want, std::span<const uint8_t> got) {
  for (const Expected& e : want.replies) {
    if (got.size() < demodctl::wire::kLengthFieldSize) fail("a reply is missing");
    const size_t size = demodctl::wire::kLengthFieldSize + demodctl::wire::get_u16(got.data());
    if (got.size() < size) fail("a reply is cut short");
    const auto reply = demodctl::wire::decode_reply(got.first(size));
    if (!reply) fail("a reply does not decode");
    if (reply->opcode != e.opcode || reply->seq != e.seq) fail("a reply out of order");
    if (e.status && reply->status != *e.status) fail("a refusal with the wrong status");
    if (!e.status && reply->status == Status::kOk && reply->body.size() != e.ok_body) {
      fail("an OK reply with the wrong body size");
    }
    got = got.subspan(size);
  }
  if (!got.empty()) fail("more replies than requests");
}

struct Owner : demodctl::SessionOwner {
  bool gone = false;
  void forget(demodctl::Session*) override { gone = true; }
  size_t open_sessions() const override { return 1; }  // the one fuzzed connection
};

struct Loopback {
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor{io, {asio::ip::address_v4::loopback(), 0}};
};

Loopback& loopback() {
  static Loopback* l = new Loopback;  // lives for the process; the fuzzer never returns
  return *l;
}

// A connected client descriptor (non-blocking) and the session's end of the connection.
int connect_client(asio::ip::tcp::socket& server_side) {
  Loopback& l = loopback();
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(l.acceptor.local_endpoint().port());
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    fail("cannot connect on loopback");
  }
  ::fcntl(fd, F_SETFL, O_NONBLOCK);
  server_side = l.acceptor.accept();
  return fd;
}

// Reads what the session sent so far; false once the session's side is closed.
bool drain(int fd, std::vector<uint8_t>& got) {
  uint8_t buf[4096];
  for (;;) {
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n > 0) {
      got.insert(got.end(), buf, buf + n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const bool read_only = input.ConsumeBool();
  std::vector<std::vector<uint8_t>> chunks;
  std::vector<uint8_t> stream;
  while (input.remaining_bytes() > 0) {
    const auto n = input.ConsumeIntegralInRange<size_t>(1, kMaxChunk);
    chunks.push_back(input.ConsumeBytes<uint8_t>(n));
    stream.insert(stream.end(), chunks.back().begin(), chunks.back().end());
  }

  Loopback& l = loopback();
  demodctl::SimBackend backend(demodctl::SimBoard::make_default());
  demodctl::ServerLog log(true);
  demodctl::SessionRules rules;
  rules.idle_timeout = rules.hello_grace = kNoTimeout;
  rules.read_only = read_only;
  Owner owner;
  asio::ip::tcp::socket server_side(l.io);
  const int client = connect_client(server_side);
  std::make_shared<demodctl::Session>(std::move(server_side), backend, owner, rules, log, "fuzz")
      ->start();

  std::vector<uint8_t> got;
  bool open = true;  // the session's side of the connection
  for (const auto& chunk : chunks) {
    std::span<const uint8_t> rest(chunk);
    while (open && !rest.empty()) {
      const ssize_t n = ::send(client, rest.data(), rest.size(), MSG_NOSIGNAL);
      if (n > 0) rest = rest.subspan(static_cast<size_t>(n));
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) break;
      while (l.io.poll() > 0) open = drain(client, got);
      open = drain(client, got);
    }
  }
  ::shutdown(client, SHUT_WR);
  const auto deadline = std::chrono::steady_clock::now() + kSessionBound;
  while (open || !owner.gone) {
    if (std::chrono::steady_clock::now() > deadline) fail("the session did not end");
    if (l.io.poll() == 0) l.io.run_one_for(kIdleWait);
    open = drain(client, got);
  }
  ::close(client);
  l.io.run_for(kSessionBound);  // a lingering close sees the client's close and ends
  if (!l.io.stopped()) fail("work left behind after the session");
  l.io.restart();

  check_replies(expected_replies(stream, read_only), got);
  return 0;
}
