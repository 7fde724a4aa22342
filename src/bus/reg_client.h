// The TCP client of regserver (docs/protocol.md): the register-server calls of
// register_server_calls.h.
//
// Every call sends one request and waits for its reply within a timeout (3000 ms, or
// DEMODCTL_NET_TIMEOUT_MS). Results: 0 on success; -1 when there is no connection or the
// transport failed (timeout, closed, malformed reply; the connection is then abandoned so no
// late reply can be taken for a later request); otherwise the server's nonzero status code
// (wire::Status), the connection staying usable. Never writes to stdout or stderr.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>

#include "bus/register_server_calls.h"
#include "protocol/wire.h"

namespace demodctl {

constexpr int kClientTransportError = -1;
constexpr std::chrono::milliseconds kDefaultNetTimeout{3000};

// The reply timeout: DEMODCTL_NET_TIMEOUT_MS when it holds a positive number, else the default.
std::chrono::milliseconds net_timeout_from_env();

class RegClient : public RegisterServerCalls {
 public:
  RegClient() = default;
  ~RegClient() override;
  RegClient(const RegClient&) = delete;
  RegClient& operator=(const RegClient&) = delete;

  int init_sock(const char* host, int port) override;
  int set_i2c_speed(int channel, int speed) override;
  int read_reg_multi(int channel, int address, int reg, int reg_len, uint8_t* buf,
                     int count) override;
  int write_reg_multi(int channel, int address, int reg, int reg_len, const uint8_t* data,
                      int count) override;
  int read_reg_period(int channel, int address, int reg, int reg_len, uint8_t* buf, int item_len,
                      int total, int burst) override;
  int deinit_sock() override;

  bool connected() const { return fd_ >= 0; }

 private:
  using Clock = std::chrono::steady_clock;
  int connect_to(const char* host, int port, Clock::time_point deadline);
  // Sends the request and waits for its reply; on OK its body must be exactly out.size() bytes
  // and is copied to out.
  int transact(wire::Request request, std::span<uint8_t> out, std::chrono::milliseconds timeout);
  int hello(std::chrono::milliseconds timeout);
  bool send_all(std::span<const uint8_t> bytes, Clock::time_point deadline);
  bool recv_exact(uint8_t* dst, size_t n, Clock::time_point deadline);
  int abandon();

  int fd_ = -1;
  uint16_t next_seq_ = 0;
};

}  // namespace demodctl
