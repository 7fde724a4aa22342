// The TCP client of regserver (docs/protocol.md): the register-server calls of
// register_server.h, and beneath them the same requests by their wire-level results.
//
// Every call sends one request and waits for its reply within the run's reply timeout. The
// Result calls give the fault with the server's status or the client's own cause. Wire-level
// results: 0 on success; -1 when there is no connection or the transport failed (timeout, closed,
// malformed reply; the connection is then abandoned so no late reply can be taken for a later
// request); otherwise the server's nonzero status code (wire::Status), the connection staying
// usable. Never writes to standard output. With the run's verbose setting every failure is named on
// standard error where it happens (bus/verbose.h): the connection that could not be made and why,
// the request with its channel, address and register and the status the server answered, or the
// timeout it ran into; a call made after the connection was lost adds nothing. With a trace path
// each register and speed call is one trace line (bus/trace_log.h); a trace that cannot be opened
// fails init_sock.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "bus/register_server.h"
#include "bus/run_settings.h"
#include "i2c/trace_log.h"
#include "protocol/wire.h"

namespace demodctl {

constexpr int kClientTransportError = -1;

class RegClient : public RegisterServer {
 public:
  // The run's reply timeout, trace and verbosity (bus/run_settings.h); the defaults: 3000 ms, no
  // trace, silent.
  explicit RegClient(RunSettings settings = {});
  ~RegClient() override;
  RegClient(const RegClient&) = delete;
  RegClient& operator=(const RegClient&) = delete;

  Result<void> connect(const std::string& host, int port) override;
  Result<void> set_speed(int channel, int speed) override;
  Result<void> read_regs(const ServerRegister& at, std::span<uint8_t> out) override;
  Result<void> write_regs(const ServerRegister& at, std::span<const uint8_t> data) override;
  Result<void> read_period(const ServerRegister& at, std::span<uint8_t> out, int item_len,
                           int burst) override;
  void disconnect() override { deinit_sock(); }

  // The same requests by their wire-level results (see above); reg_len is the width of the
  // register address in bytes.
  int init_sock(const char* host, int port);
  int set_i2c_speed(int channel, int speed);
  int read_reg_multi(int channel, int address, int reg, int reg_len, uint8_t* buf, int count);
  int write_reg_multi(int channel, int address, int reg, int reg_len, const uint8_t* data,
                      int count);
  int read_reg_period(int channel, int address, int reg, int reg_len, uint8_t* buf, int item_len,
                      int total, int burst);
  int deinit_sock();
  // What became of the last register call: nothing when it went through, else its fault.
  Result<void> last_call_result() const { return last_; }

  bool connected() const { return fd_ >= 0; }

 private:
  using Clock = std::chrono::steady_clock;
  enum class Io { done, timed_out, lost };

  // The Result of a call that gave rc: its fault, or one naming the connection when the call
  // failed before any request (an unreachable server, a trace that cannot be opened).
  Result<void> result_of(int rc) const;
  int connect_to(const char* host, int port, std::chrono::milliseconds timeout);
  // Sends the request and waits for its reply; on OK its body must be exactly out.size() bytes
  // and is copied to out. Sets outcome_.
  int transact(wire::Request& request, std::span<uint8_t> out, std::chrono::milliseconds timeout);
  int hello(std::chrono::milliseconds timeout);
  Io send_all(std::span<const uint8_t> bytes, Clock::time_point deadline);
  Io recv_exact(uint8_t* dst, size_t n, Clock::time_point deadline);
  // The connection is given up for the reason `outcome`; gives kClientTransportError.
  int fail(std::string_view outcome);
  int abandon();
  // A request refused before it was sent (a value the protocol cannot carry): its result `rc`.
  int not_sent(const wire::Request& request, int rc);
  // Traces the request and, when rc is not 0, says why; gives rc.
  int finish(const wire::Request& request, std::span<const uint8_t> read, int rc);
  // "READ 0xD0 register 0x6C on channel 0", and what became of it.
  static std::string describe(const wire::Request& request);
  std::string cause() const;
  FaultKind fault_kind() const;
  void say_connect_failure(const std::string& reason) const;

  int fd_ = -1;
  uint16_t next_seq_ = 0;
  std::string host_;
  int port_ = 0;
  std::unique_ptr<TraceLog> trace_;
  // What became of the last request: "OK", the server's status name, or the client's own
  // "TIMEOUT", "CLOSED", "MALFORMED", "NOT_CONNECTED" or "NOT_SENT" (the trace's status).
  std::string_view outcome_ = "OK";
  std::chrono::milliseconds waited_{0};  // the reply timeout of the last request
  int lost_errno_ = 0;                   // why the connection broke, when the system said (CLOSED)
  Result<void> last_;                    // the last register call's fault, with its cause
  RunSettings settings_;

  // Requests in flight together (reg_client_pipelined.cpp): sent back to back in one write, their
  // replies read in order afterwards, each within the reply timeout a call of its own would have.
 public:
  // Falls back to the two calls one after the other when there is no connection or either write is
  // one the protocol cannot carry (its call refuses it unsent).
  Result<void> write_pair(const ServerWrite& first, const ServerWrite& second) override;

 private:
  // The WRITE request of `write`, or false when a call of its own would refuse it unsent.
  static bool write_request(const ServerWrite& write, wire::Request& request);
  // Waits for the reply to `request`, sent earlier, as transact does once its request is out.
  int await_reply(const wire::Request& request, std::span<uint8_t> out, Clock::time_point deadline);
};

}  // namespace demodctl
