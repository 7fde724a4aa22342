#include "bus/reg_client.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "bus/verbose.h"

namespace demodctl {
namespace {

using wire::Opcode;
using wire::Status;

// READ_PERIOD may take one bus transaction per item: allow this much more per read.
constexpr std::chrono::milliseconds kPeriodAllowancePerRead{1};
constexpr int kMaxPort = 65535;
// What one recv takes at most when less is still wanted: a few replies of register accesses.
constexpr size_t kReceiveChunk = 512;

bool fits_u16(int v) { return v >= 0 && v <= 0xFFFF; }
bool fits_u8(int v) { return v >= 0 && v <= 0xFF; }
bool fits_u16(size_t v) { return v <= 0xFFFF; }  // a count's field; the server's limits are lower

int remaining_ms(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<long long>(0, left.count()));
}

// Waits for `events` on fd until the deadline; false on timeout or error.
bool wait_for(int fd, short events, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, remaining_ms(deadline));
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) return false;
  }
}

// The client's own outcomes, beside the server's status names.
constexpr std::string_view kOutcomeOk = "OK";
constexpr std::string_view kTimedOut = "TIMEOUT";
constexpr std::string_view kClosed = "CLOSED";
constexpr std::string_view kMalformed = "MALFORMED";
constexpr std::string_view kNotConnected = "NOT_CONNECTED";
constexpr std::string_view kNotSent = "NOT_SENT";

// The name of an operation in the trace.
std::string_view trace_op(Opcode op) {
  return op == Opcode::kWrite ? "write" : op == Opcode::kReadPeriod ? "read_period" : "read";
}

// The register fields of a request; false when a value cannot be encoded (the channel and the
// address are kept all the same, for the reason given).
bool make_target(const ServerRegister& at, wire::RegTarget& target) {
  target.channel = at.channel;
  target.address = at.address;
  if (!fits_u16(at.reg) || !fits_u8(at.reg_len)) return false;
  target.reg = static_cast<uint16_t>(at.reg);
  target.reg_len = static_cast<uint8_t>(at.reg_len);
  return true;
}

}  // namespace

RegClient::RegClient(RunSettings settings) : settings_(std::move(settings)) {}

RegClient::~RegClient() { abandon(); }

void RegClient::abandon() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  received_.clear();  // what the closed connection carried belongs to no later request
  received_pos_ = 0;
}

Result<void> RegClient::connect(const std::string& host, int port) {
  abandon();
  next_seq_ = 0;  // HELLO goes out with seq 0, the seq of a BUSY refusal
  host_ = host;
  port_ = port;
  if (!trace_ && !settings_.trace_path.empty()) {
    Result<std::unique_ptr<TraceLog>> trace =
        TraceLog::create(settings_.trace_path, TraceSource::socket);
    // No connection without the trace that was asked for.
    if (!trace) return unconnected(trace.error().cause);
    trace_ = std::move(*trace);
  }
  if (port <= 0 || port > kMaxPort) return cannot_connect("not a port number");
  const auto timeout = settings_.reply_timeout;
  if (Result<void> connected = connect_to(host, port, timeout); !connected) return connected;
  return hello(timeout);
}

std::string RegClient::server_name() const {
  return "register server " + host_ + " port " + std::to_string(port_);
}

Fault RegClient::unconnected(const std::string& said) const {
  say_why(settings_.verbose, said);
  return Fault{FaultKind::no_connection, server_name() + ": not connected"};
}

Fault RegClient::cannot_connect(const std::string& reason) const {
  return unconnected(server_name() + ": connect: " + reason);
}

Result<void> RegClient::connect_to(const std::string& host, int port,
                                   std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
    return cannot_connect(std::string("cannot resolve the host: ") + ::gai_strerror(rc));
  }
  std::string why = "no address to try";
  for (addrinfo* ai = found; ai != nullptr && fd_ < 0; ai = ai->ai_next) {
    const int fd =
        ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) {
      why = std::strerror(errno);
      continue;
    }
    bool ok = ::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0;
    int err = errno;
    if (!ok && err == EINPROGRESS) {
      if (wait_for(fd, POLLOUT, deadline)) {
        socklen_t len = sizeof err;
        ok = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
      } else {
        err = ETIMEDOUT;
      }
    }
    if (!ok) {
      why = err == ETIMEDOUT ? "no answer within " + std::to_string(timeout.count()) + " ms"
                             : std::strerror(err);
      ::close(fd);
      continue;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fd_ = fd;
  }
  ::freeaddrinfo(found);
  if (fd_ >= 0) return {};
  return cannot_connect(why);
}

Result<void> RegClient::hello(std::chrono::milliseconds timeout) {
  wire::Request q;
  q.op = Opcode::kHello;
  q.version = wire::kVersion;
  std::vector<uint8_t> body(wire::kHelloReplyBodySize);
  Result<void> done = transact(q, body, timeout);
  if (done) {
    const bool same_magic =
        std::equal(std::begin(wire::kMagic), std::end(wire::kMagic), body.begin());
    if (!same_magic || wire::get_u16(body.data() + sizeof wire::kMagic) != wire::kVersion) {
      done = lose(q, kMalformed);
    }
  }
  if (!done) abandon();  // e.g. BUSY: the server is full
  return finish(q, {}, std::move(done));
}

RegClient::Io RegClient::send_all(std::span<const uint8_t> bytes, Clock::time_point deadline) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) {
      bytes = bytes.subspan(static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!wait_for(fd_, POLLOUT, deadline)) return Io::timed_out;
    } else {
      lost_errno_ = n < 0 ? errno : 0;
      return Io::lost;
    }
  }
  return Io::done;
}

RegClient::Io RegClient::recv_exact(uint8_t* dst, size_t n, Clock::time_point deadline) {
  while (n > 0) {
    if (received_pos_ < received_.size()) {
      const size_t take = std::min(n, received_.size() - received_pos_);
      std::copy_n(received_.begin() + static_cast<std::ptrdiff_t>(received_pos_), take, dst);
      received_pos_ += take;
      dst += take;
      n -= take;
      continue;
    }
    // Nothing kept: wait until something has arrived (a reply is rarely there the moment its
    // request has left), then take all of it at once. A large rest (a capture's data) goes
    // straight where it belongs.
    if (!wait_for(fd_, POLLIN, deadline)) return Io::timed_out;
    const bool direct = n >= kReceiveChunk;
    if (!direct) received_.resize(kReceiveChunk);
    const ssize_t got = ::recv(fd_, direct ? dst : received_.data(), direct ? n : kReceiveChunk, 0);
    received_pos_ = 0;
    received_.resize(!direct && got > 0 ? static_cast<size_t>(got) : 0);
    if (got > 0) {
      if (direct) {
        dst += got;
        n -= static_cast<size_t>(got);
      }
    } else if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
      continue;
    } else {
      lost_errno_ = got < 0 ? errno : 0;  // 0: closed by the server
      return Io::lost;
    }
  }
  return Io::done;
}

Result<void> RegClient::transact(wire::Request& q, std::span<uint8_t> out,
                                 std::chrono::milliseconds timeout) {
  waited_ = timeout;
  if (fd_ < 0) return lose(q, kNotConnected);
  q.seq = next_seq_++;
  const auto deadline = Clock::now() + timeout;
  if (const Io io = send_all(wire::encode_request(q), deadline); io != Io::done) {
    return lose(q, io == Io::timed_out ? kTimedOut : kClosed);
  }
  return await_reply(q, out, deadline);
}

Result<void> RegClient::await_reply(const wire::Request& q, std::span<uint8_t> out,
                                    Clock::time_point deadline) {
  const auto io_failure = [&](Io io) { return lose(q, io == Io::timed_out ? kTimedOut : kClosed); };
  std::vector<uint8_t> frame(wire::kLengthFieldSize);
  if (const Io io = recv_exact(frame.data(), frame.size(), deadline); io != Io::done) {
    return io_failure(io);
  }
  const uint16_t length = wire::get_u16(frame.data());
  if (length < wire::kHeaderSize) return lose(q, kMalformed);
  frame.resize(wire::kLengthFieldSize + length);
  if (const Io io = recv_exact(frame.data() + wire::kLengthFieldSize, length, deadline);
      io != Io::done) {
    return io_failure(io);
  }

  const auto reply = wire::decode_reply(frame);
  if (!reply) return lose(q, kMalformed);
  const auto expected_op = static_cast<uint8_t>(static_cast<uint8_t>(q.op) | wire::kReplyFlag);
  if (reply->opcode != expected_op || reply->seq != q.seq) return lose(q, kMalformed);
  if (reply->status == Status::kBusy || reply->status == Status::kBadVersion) {
    abandon();  // the server ends the connection after these
  }
  if (reply->status != Status::kOk) {
    return fail(q, wire::status_name(reply->status), reply->status);
  }
  if (reply->body.size() != out.size()) return lose(q, kMalformed);
  std::copy(reply->body.begin(), reply->body.end(), out.begin());
  return {};
}

Fault RegClient::fail(const wire::Request& q, std::string_view outcome,
                      std::optional<Status> status) {
  outcome_ = outcome;
  return Fault{fault_kind(), server_name() + ": " + describe(q) + ": " + cause(), status};
}

Fault RegClient::lose(const wire::Request& q, std::string_view outcome) {
  abandon();
  return fail(q, outcome);
}

Result<void> RegClient::not_sent(const wire::Request& q, std::optional<Status> status) {
  return finish(q, {}, fail(q, kNotSent, status));
}

// What a refused call was, for the transport: the server's read-only refusal, another status the
// server answered with, or the client's own (no reply, a lost or absent connection).
FaultKind RegClient::fault_kind() const {
  if (outcome_ == wire::status_name(Status::kReadOnly)) return FaultKind::read_only;
  for (const std::string_view own : {kTimedOut, kClosed, kMalformed, kNotConnected, kNotSent}) {
    if (outcome_ == own) return FaultKind::no_connection;
  }
  return FaultKind::refused;
}

Result<void> RegClient::finish(const wire::Request& q, std::span<const uint8_t> read,
                               Result<void> result) {
  if (result) outcome_ = kOutcomeOk;
  if (trace_ && q.op == Opcode::kSetSpeed) {
    trace_->speed(q.channel, q.speed, result.has_value(), outcome_);
  } else if (trace_ && q.op != Opcode::kHello) {
    const size_t read_len = q.op == Opcode::kRead         ? q.count
                            : q.op == Opcode::kReadPeriod ? q.total
                                                          : 0;
    trace_->operation({.op = trace_op(q.op),
                       .channel = q.target.channel,
                       .address = q.target.address,
                       .reg = q.target.reg,
                       .written = q.data,
                       .read = read,
                       .read_len = read_len,
                       .ok = result.has_value(),
                       .status = outcome_});
  }
  // A call on a connection already lost adds nothing: its cause was said when it was lost.
  if (!result && outcome_ != kNotConnected) say_why(settings_.verbose, result.error().cause);
  return result;
}

std::string RegClient::describe(const wire::Request& q) {
  const std::string on_channel = " on channel ";
  switch (q.op) {
    case Opcode::kHello:
      return "HELLO";
    case Opcode::kSetSpeed:
      return "SET_SPEED " + std::to_string(q.speed) + on_channel + std::to_string(q.channel);
    case Opcode::kRead:
    case Opcode::kWrite:
    case Opcode::kReadPeriod:
      break;
  }
  const std::string name = q.op == Opcode::kWrite        ? "WRITE "
                           : q.op == Opcode::kReadPeriod ? "READ_PERIOD "
                                                         : "READ ";
  return name + hex_text(q.target.address) + " register " + hex_text(q.target.reg) + on_channel +
         std::to_string(q.target.channel);
}

std::string RegClient::cause() const {
  if (outcome_ == kTimedOut) return "no reply within " + std::to_string(waited_.count()) + " ms";
  if (outcome_ == kClosed) {
    return lost_errno_ == 0 ? "the server closed the connection"
                            : std::string("connection lost: ") + std::strerror(lost_errno_);
  }
  if (outcome_ == kMalformed) return "not a reply of this protocol";
  if (outcome_ == kNotSent) return "not sent: a value the protocol cannot carry";
  return std::string(outcome_);  // the server's status name, as docs/protocol.md gives it
}

Result<void> RegClient::set_speed(int channel, int speed) {
  wire::Request q;
  q.op = Opcode::kSetSpeed;
  q.channel = channel;
  q.speed = speed;
  return finish(q, {}, transact(q, {}, settings_.reply_timeout));
}

Result<void> RegClient::read_regs(const ServerRegister& at, std::span<uint8_t> out) {
  wire::Request q;
  q.op = Opcode::kRead;
  if (!make_target(at, q.target) || !fits_u16(out.size())) return not_sent(q);
  if (out.size() > wire::kMaxReadCount) return not_sent(q, Status::kTooLarge);
  q.count = static_cast<uint16_t>(out.size());
  std::vector<uint8_t> data(q.count);
  Result<void> done = transact(q, data, settings_.reply_timeout);
  if (done) std::copy(data.begin(), data.end(), out.begin());
  return finish(q, data, std::move(done));
}

Result<void> RegClient::write_request(const ServerWrite& write, wire::Request& q) {
  q.op = Opcode::kWrite;
  if (!make_target(write.at, q.target) || !fits_u16(write.data.size())) return fail(q, kNotSent);
  // A larger frame would break the request size limit and cost the connection.
  if (write.data.size() > wire::kMaxWriteCount) return fail(q, kNotSent, Status::kTooLarge);
  q.count = static_cast<uint16_t>(write.data.size());
  q.data.assign(write.data.begin(), write.data.end());
  return {};
}

Result<void> RegClient::write_regs(const ServerRegister& at, std::span<const uint8_t> data) {
  wire::Request q;
  if (Result<void> fits = write_request({at, data}, q); !fits) return finish(q, {}, fits);
  return finish(q, {}, transact(q, {}, settings_.reply_timeout));
}

Result<void> RegClient::write_pair(const ServerWrite& first, const ServerWrite& second) {
  std::array<wire::Request, 2> q;
  if (!connected() || !write_request(first, q[0]) || !write_request(second, q[1])) {
    return RegisterServer::write_pair(first, second);
  }
  const auto timeout = settings_.reply_timeout;
  waited_ = timeout;
  std::vector<uint8_t> frames;
  for (wire::Request& request : q) {
    request.seq = next_seq_++;
    const std::vector<uint8_t> frame = wire::encode_request(request);
    frames.insert(frames.end(), frame.begin(), frame.end());
  }
  // The first reply is awaited from the send on, as a call of its own would be; the second from
  // the first's arrival, as if it had been sent then.
  const Clock::time_point deadline = Clock::now() + timeout;
  if (const Io io = send_all(frames, deadline); io != Io::done) {
    return finish(q[0], {}, lose(q[0], io == Io::timed_out ? kTimedOut : kClosed));
  }
  const Result<void> first_done = finish(q[0], {}, await_reply(q[0], {}, deadline));
  // A lost connection takes the second reply with it; nothing more is said of that request.
  if (!connected()) return first_done;
  // After a refused first write the second's reply only keeps the connection in step.
  Result<void> second_done = finish(q[1], {}, await_reply(q[1], {}, Clock::now() + timeout));
  return first_done ? second_done : first_done;
}

Result<void> RegClient::read_period(const ServerRegister& at, std::span<uint8_t> out, int item_len,
                                    int burst) {
  wire::Request q;
  q.op = Opcode::kReadPeriod;
  if (!make_target(at, q.target) || !fits_u16(item_len) || !fits_u16(burst)) return not_sent(q);
  if (out.size() > wire::kMaxPeriodTotal) return not_sent(q, Status::kTooLarge);
  q.item_len = static_cast<uint16_t>(item_len);
  q.total = static_cast<uint32_t>(out.size());
  q.burst = static_cast<uint16_t>(burst);
  const long reads = item_len > 0 ? static_cast<long>(q.total) / item_len : 0;
  const auto timeout = settings_.reply_timeout + kPeriodAllowancePerRead * reads;
  std::vector<uint8_t> data(q.total);
  Result<void> done = transact(q, data, timeout);
  if (done) std::copy(data.begin(), data.end(), out.begin());
  return finish(q, data, std::move(done));
}

}  // namespace demodctl
