// One client connection of regserver: reads frames, answers them in order, and ends the
// connection on framing loss, a dropped-connection fault, idleness or peer close.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "protocol/wire.h"
#include "server/asio_include.h"
#include "server/bus_backend.h"
#include "server/register_ops.h"

namespace demodctl {

class Session;

class SessionOwner {
 public:
  virtual ~SessionOwner() = default;
  virtual void forget(Session* session) = 0;
};

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(asio::ip::tcp::socket socket, BusBackend& backend, SessionOwner& owner,
          std::chrono::milliseconds idle_timeout);
  void start();
  // Ends the connection at once (no further replies).
  void close();

 private:
  void start_read();
  void on_read(const asio::error_code& ec, size_t n);
  void process();
  void handle(const wire::Request& request);
  void continue_period();
  void finish(Outcome outcome);
  void queue(std::vector<uint8_t> frame);
  void start_write();
  void close_after_flush();
  void close_after_last_reply();
  void arm_idle_timer();

  // A reply waiting in the queue beyond this many bytes pauses request processing until the
  // client reads; a client that never reads is then closed by the idle timer.
  static constexpr size_t kPauseAboveQueuedBytes = 128 * 1024;

  asio::ip::tcp::socket socket_;
  asio::steady_timer idle_timer_;
  BusBackend& backend_;
  SessionOwner& owner_;
  std::chrono::milliseconds idle_timeout_;

  std::array<uint8_t, wire::kLengthFieldSize + wire::kMaxRequestLength> in_{};
  size_t in_len_ = 0;
  std::deque<std::vector<uint8_t>> out_;
  size_t queued_bytes_ = 0;
  std::optional<PeriodRead> period_;

  bool greeted_ = false;
  bool reading_ = false;
  bool writing_ = false;
  bool peer_done_ = false;  // the client closed its sending side
  bool closing_ = false;    // close once the queue is written
  bool lingering_ = false;  // last reply sent; waiting for the peer to close
  bool closed_ = false;
};

}  // namespace demodctl
