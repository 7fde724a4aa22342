#include "bus/reg_client.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace demodctl {
namespace {

using wire::Opcode;
using wire::Status;

constexpr long kMaxNetTimeoutMs = 10L * 60 * 1000;  // ten minutes
// READ_PERIOD may take one bus transaction per item: allow this much more per read.
constexpr std::chrono::milliseconds kPeriodAllowancePerRead{1};
constexpr int kMaxPort = 65535;

bool fits_u16(int v) { return v >= 0 && v <= 0xFFFF; }
bool fits_u8(int v) { return v >= 0 && v <= 0xFF; }

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

int status_result(Status status) { return static_cast<int>(status); }

// The register fields of a request; false when a value cannot be encoded.
bool make_target(int channel, int address, int reg, int reg_len, wire::RegTarget& target) {
  if (!fits_u16(reg) || !fits_u8(reg_len)) return false;
  target = {channel, address, static_cast<uint16_t>(reg), static_cast<uint8_t>(reg_len)};
  return true;
}

}  // namespace

std::chrono::milliseconds net_timeout_from_env() {
  const char* text = std::getenv("DEMODCTL_NET_TIMEOUT_MS");
  if (text == nullptr || *text == '\0') return kDefaultNetTimeout;
  char* end = nullptr;
  errno = 0;
  const long ms = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || ms <= 0 || ms > kMaxNetTimeoutMs) return kDefaultNetTimeout;
  return std::chrono::milliseconds(ms);
}

RegClient::~RegClient() { abandon(); }

int RegClient::abandon() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  return kClientTransportError;
}

int RegClient::init_sock(const char* host, int port) {
  abandon();
  next_seq_ = 0;  // HELLO goes out with seq 0, the seq of a BUSY refusal
  if (host == nullptr || port <= 0 || port > kMaxPort) return kClientTransportError;
  const auto timeout = net_timeout_from_env();
  if (connect_to(host, port, Clock::now() + timeout) != 0) return kClientTransportError;
  return hello(timeout);
}

int RegClient::connect_to(const char* host, int port, Clock::time_point deadline) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (::getaddrinfo(host, service.c_str(), &hints, &found) != 0) return kClientTransportError;
  for (addrinfo* ai = found; ai != nullptr && fd_ < 0; ai = ai->ai_next) {
    const int fd =
        ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) continue;
    bool ok = ::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0;
    if (!ok && errno == EINPROGRESS && wait_for(fd, POLLOUT, deadline)) {
      int err = 0;
      socklen_t len = sizeof err;
      ok = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
    }
    if (!ok) {
      ::close(fd);
      continue;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fd_ = fd;
  }
  ::freeaddrinfo(found);
  return fd_ >= 0 ? 0 : kClientTransportError;
}

int RegClient::hello(std::chrono::milliseconds timeout) {
  wire::Request q;
  q.op = Opcode::kHello;
  q.version = wire::kVersion;
  std::vector<uint8_t> body(wire::kHelloReplyBodySize);
  const int rc = transact(q, body, timeout);
  if (rc != 0) {
    abandon();
    return rc;  // e.g. BUSY: the server is full
  }
  const bool same_magic =
      std::equal(std::begin(wire::kMagic), std::end(wire::kMagic), body.begin());
  if (!same_magic || wire::get_u16(body.data() + sizeof wire::kMagic) != wire::kVersion) {
    return abandon();
  }
  return 0;
}

bool RegClient::send_all(std::span<const uint8_t> bytes, Clock::time_point deadline) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) {
      bytes = bytes.subspan(static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!wait_for(fd_, POLLOUT, deadline)) return false;
    } else {
      return false;
    }
  }
  return true;
}

bool RegClient::recv_exact(uint8_t* dst, size_t n, Clock::time_point deadline) {
  while (n > 0) {
    const ssize_t got = ::recv(fd_, dst, n, 0);
    if (got > 0) {
      dst += got;
      n -= static_cast<size_t>(got);
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!wait_for(fd_, POLLIN, deadline)) return false;
    } else {
      return false;  // closed by the server, or an error
    }
  }
  return true;
}

int RegClient::transact(wire::Request q, std::span<uint8_t> out,
                        std::chrono::milliseconds timeout) {
  if (fd_ < 0) return kClientTransportError;
  q.seq = next_seq_++;
  const auto deadline = Clock::now() + timeout;
  if (!send_all(wire::encode_request(q), deadline)) return abandon();

  std::vector<uint8_t> frame(wire::kLengthFieldSize);
  if (!recv_exact(frame.data(), frame.size(), deadline)) return abandon();
  const uint16_t length = wire::get_u16(frame.data());
  if (length < wire::kHeaderSize) return abandon();
  frame.resize(wire::kLengthFieldSize + length);
  if (!recv_exact(frame.data() + wire::kLengthFieldSize, length, deadline)) return abandon();

  const auto reply = wire::decode_reply(frame);
  if (!reply) return abandon();
  const auto expected_op = static_cast<uint8_t>(static_cast<uint8_t>(q.op) | wire::kReplyFlag);
  if (reply->opcode != expected_op || reply->seq != q.seq) return abandon();
  if (reply->status == Status::kBusy || reply->status == Status::kBadVersion) {
    abandon();  // the server ends the connection after these
    return status_result(reply->status);
  }
  if (reply->status != Status::kOk) return status_result(reply->status);
  if (reply->body.size() != out.size()) return abandon();
  std::copy(reply->body.begin(), reply->body.end(), out.begin());
  return 0;
}

int RegClient::set_i2c_speed(int channel, int speed) {
  wire::Request q;
  q.op = Opcode::kSetSpeed;
  q.channel = channel;
  q.speed = speed;
  return transact(q, {}, net_timeout_from_env());
}

int RegClient::read_reg_multi(int channel, int address, int reg, int reg_len, uint8_t* buf,
                              int count) {
  wire::Request q;
  q.op = Opcode::kRead;
  if (!make_target(channel, address, reg, reg_len, q.target) || !fits_u16(count) ||
      (buf == nullptr && count > 0)) {
    return kClientTransportError;
  }
  if (count > wire::kMaxReadCount) return status_result(Status::kTooLarge);
  q.count = static_cast<uint16_t>(count);
  std::vector<uint8_t> data(q.count);
  const int rc = transact(q, data, net_timeout_from_env());
  if (rc == 0) std::copy(data.begin(), data.end(), buf);
  return rc;
}

int RegClient::write_reg_multi(int channel, int address, int reg, int reg_len, const uint8_t* data,
                               int count) {
  wire::Request q;
  q.op = Opcode::kWrite;
  if (!make_target(channel, address, reg, reg_len, q.target) || !fits_u16(count) ||
      (data == nullptr && count > 0)) {
    return kClientTransportError;
  }
  // A larger frame would break the request size limit and cost the connection.
  if (count > wire::kMaxWriteCount) return status_result(Status::kTooLarge);
  q.count = static_cast<uint16_t>(count);
  if (count > 0) q.data.assign(data, data + count);
  return transact(q, {}, net_timeout_from_env());
}

int RegClient::read_reg_period(int channel, int address, int reg, int reg_len, uint8_t* buf,
                               int item_len, int total, int burst) {
  wire::Request q;
  q.op = Opcode::kReadPeriod;
  if (!make_target(channel, address, reg, reg_len, q.target) || !fits_u16(item_len) ||
      !fits_u16(burst) || total < 0 || (buf == nullptr && total > 0)) {
    return kClientTransportError;
  }
  if (static_cast<uint32_t>(total) > wire::kMaxPeriodTotal) return status_result(Status::kTooLarge);
  q.item_len = static_cast<uint16_t>(item_len);
  q.total = static_cast<uint32_t>(total);
  q.burst = static_cast<uint16_t>(burst);
  const long reads = item_len > 0 ? total / item_len : 0;
  const auto timeout = net_timeout_from_env() + kPeriodAllowancePerRead * reads;
  std::vector<uint8_t> data(q.total);
  const int rc = transact(q, data, timeout);
  if (rc == 0) std::copy(data.begin(), data.end(), buf);
  return rc;
}

int RegClient::deinit_sock() {
  abandon();
  return 0;
}

}  // namespace demodctl
