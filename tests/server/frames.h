// Request frames built field by field, independently of the encoder under test, and raw loopback
// connections that send bytes exactly as given.
#pragma once

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "support/process.h"

namespace demodctl::test {

using Bytes = std::vector<uint8_t>;

using Field = std::pair<int64_t, int>;  // a value and its width in bytes, big-endian

// length, opcode, status, seq, then the fields.
inline Bytes frame(uint8_t op, uint16_t seq, std::initializer_list<Field> fields,
                   const Bytes& tail = {}, uint8_t status = 0) {
  Bytes b{0, 0, op, status, static_cast<uint8_t>(seq >> 8), static_cast<uint8_t>(seq)};
  for (const auto& [value, width] : fields) {
    for (int i = width - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
  b.insert(b.end(), tail.begin(), tail.end());
  b[0] = static_cast<uint8_t>((b.size() - 2) >> 8);
  b[1] = static_cast<uint8_t>(b.size() - 2);
  return b;
}

inline Bytes hello(uint16_t version = 1) {
  return frame(0x01, 0, {{0x444D5253, 4}, {version, 2}});  // "DMRS"
}
inline Bytes read(uint16_t seq, int32_t ch, int32_t addr, int reg, int reg_len, int count) {
  return frame(0x03, seq, {{ch, 4}, {addr, 4}, {reg, 2}, {reg_len, 1}, {count, 2}});
}
inline Bytes write(uint16_t seq, int32_t ch, int32_t addr, int reg, int count, const Bytes& data) {
  return frame(0x04, seq, {{ch, 4}, {addr, 4}, {reg, 2}, {1, 1}, {count, 2}}, data);
}
inline Bytes period(uint16_t seq, int reg_len, int item_len, int64_t total, int burst) {
  return frame(0x05, seq,
               {{0, 4}, {0xD0, 4}, {0xEF, 2}, {reg_len, 1}, {item_len, 2}, {total, 4}, {burst, 2}});
}

constexpr int kWaitMs = 5000;

// A loopback client connection that sends bytes exactly as given; every send and receive gives up
// after kWaitMs.
class Raw {
 public:
  struct Accepted {
    int fd;
  };
  explicit Raw(Accepted connection) : fd_(connection.fd) {}
  // From the local address `from` (127.0.0.1 when null), with a receive buffer of `window` bytes.
  explicit Raw(int port, const char* from = nullptr, int window = 0)
      : fd_(from ? testing::connect_loopback_from(from, port)
                 : testing::connect_loopback(port, window)) {
    const timeval bound{kWaitMs / 1000, 0};
    const int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  ~Raw() { ::close(fd_); }

  bool send(const Bytes& b) { return send(b.data(), b.size()); }
  bool send(const uint8_t* p, size_t n) {
    return ::send(fd_, p, n, MSG_NOSIGNAL) == static_cast<ssize_t>(n);
  }
  void finish_sending() { ::shutdown(fd_, SHUT_WR); }  // FIN
  // n bytes, or fewer when the peer closed (then *eof) or the bound passed.
  Bytes recv(size_t n, bool* eof = nullptr) {
    Bytes out;
    uint8_t buf[65536];
    for (pollfd p{fd_, POLLIN, 0}; out.size() < n && ::poll(&p, 1, kWaitMs) > 0;) {
      const ssize_t got = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
      if (got <= 0 && eof != nullptr) *eof = got == 0;
      if (got <= 0) break;
      out.insert(out.end(), buf, buf + got);
    }
    return out;
  }
  Bytes frame() {  // one frame, length field included
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
    bool eof = false;
    recv(SIZE_MAX, &eof);
    return eof;
  }

 private:
  int fd_;
};

}  // namespace demodctl::test
