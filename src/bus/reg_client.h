// The TCP client of regserver (docs/protocol.md): the register-server calls of
// register_server.h.
//
// Every call sends one request and waits for its reply within the run's reply timeout, and gives
// its Result: the fault names the request and what became of it. A status the server answered
// with is also the fault's server_status, the connection staying usable (except after BUSY and
// BAD_VERSION, which end it). No connection, a transport failure (timeout, closed, malformed
// reply) or a value the protocol cannot carry is a no_connection fault without a status; a
// transport failure abandons the connection so no late reply can be taken for a later request. A
// count over the server's limits is refused before sending, with TOO_LARGE. Never writes to
// standard output. With the run's verbose setting every failure is named on standard error where
// it happens (bus/verbose.h): the connection that could not be made and why, the request with its
// channel, address and register and the status the server answered, or the timeout it ran into; a
// call made after the connection was lost adds nothing. With a trace path each register and speed
// call is one trace line (i2c/trace_log.h); a trace that cannot be opened fails connect().
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bus/register_server.h"
#include "bus/run_settings.h"
#include "i2c/trace_log.h"
#include "protocol/wire.h"

namespace demodctl {

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
  // Both requests sent back to back in one write, then both replies read in order, each within
  // the reply timeout a call of its own would have. Falls back to the two calls one after the
  // other when there is no connection or either write is one the protocol cannot carry.
  Result<void> write_pair(const ServerWrite& first, const ServerWrite& second) override;
  void disconnect() override { abandon(); }

  bool connected() const { return fd_ >= 0; }

 private:
  using Clock = std::chrono::steady_clock;
  enum class Io { done, timed_out, lost };

  Result<void> connect_to(const std::string& host, int port, std::chrono::milliseconds timeout);
  // Sends the request and waits for its reply; on OK its body must be exactly out.size() bytes
  // and is copied to out.
  Result<void> transact(wire::Request& request, std::span<uint8_t> out,
                        std::chrono::milliseconds timeout);
  // The reply to `request`, sent earlier, by the deadline: as transact() once its request is out.
  Result<void> await_reply(const wire::Request& request, std::span<uint8_t> out,
                           Clock::time_point deadline);
  // The WRITE request of `write`, numbered; a fault when the call of its own would refuse it
  // unsent (returned unsent, untraced).
  Result<void> write_request(const ServerWrite& write, wire::Request& request);
  Result<void> hello(std::chrono::milliseconds timeout);
  Io send_all(std::span<const uint8_t> bytes, Clock::time_point deadline);
  Io recv_exact(uint8_t* dst, size_t n, Clock::time_point deadline);
  void abandon();
  // The one way a request fails: what became of it (`outcome`, the trace's status) and the
  // server's status when it answered one; the fault names the request and why.
  Fault fail(const wire::Request& request, std::string_view outcome,
             std::optional<wire::Status> status = {});
  // fail(), the connection given up first.
  Fault lose(const wire::Request& request, std::string_view outcome);
  // A request refused before it was sent (a value the protocol cannot carry, or TOO_LARGE).
  Result<void> not_sent(const wire::Request& request, std::optional<wire::Status> status = {});
  // No connection could be made, for the reason said on standard error (`said`): connect()'s fault.
  Fault unconnected(const std::string& said) const;
  Fault cannot_connect(const std::string& reason) const;
  // Traces the request and says why it failed; gives `result`.
  Result<void> finish(const wire::Request& request, std::span<const uint8_t> read,
                      Result<void> result);
  // "register server HOST port PORT".
  std::string server_name() const;
  // "READ 0xD0 register 0x6C on channel 0", and what became of it.
  static std::string describe(const wire::Request& request);
  std::string cause() const;
  FaultKind fault_kind() const;

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
  // Bytes received and not yet taken: one recv takes what has arrived, often a whole reply or
  // both replies of a pair, and the rest waits here for the frame it belongs to.
  std::vector<uint8_t> received_;
  size_t received_pos_ = 0;
  RunSettings settings_;
};

}  // namespace demodctl
