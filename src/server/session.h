// One client connection of regserver: reads frames, performs every complete request once and
// answers it, in order, and ends the connection on framing loss, a dropped-connection fault,
// idleness, a HELLO that does not come in time, or peer close.
//
// Control passes through exactly one of these at a time, so the input buffer is never touched
// while a read is pending: a read is pending (the buffer holds no complete request), a turn is
// posted (the connection used up its share of the bus and waits for the others), the connection
// is paused (too many reply bytes wait for the client), or the connection is closing.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/wire.h"
#include "server/asio_include.h"
#include "server/bus_backend.h"
#include "server/register_ops.h"
#include "server/server_log.h"

namespace demodctl {

class Session;

class SessionOwner {
 public:
  virtual ~SessionOwner() = default;
  virtual void forget(Session* session) = 0;
  // The connections open, this one included.
  virtual size_t open_sessions() const = 0;
};

struct SessionRules {
  std::chrono::milliseconds idle_timeout{30000};
  std::chrono::milliseconds hello_grace{3000};
  bool read_only = false;
};

// Requests and bus transfers one connection performs in a row before the other connections get
// their turn; a READ_PERIOD yields after min(burst, this) reads whatever burst it asks for.
constexpr size_t kTransfersPerTurn = 16;
// The only connection open goes on with its READ_PERIOD, kTransfersPerTurn reads at a time, until
// its turn has lasted this long: nobody else waits for the bus, and new connections, timers and
// signals are taken at least this often.
constexpr std::chrono::microseconds kSoleTurn{1000};

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(asio::ip::tcp::socket socket, BusBackend& backend, SessionOwner& owner,
          const SessionRules& rules, ServerLog& log, std::string peer);
  void start();
  // Ends the connection at once (no further replies), logging why; a refusal of the peer is
  // logged as one (summarised when repeated).
  void close(std::string_view why, bool refusal = false);

 private:
  using Clock = std::chrono::steady_clock;

  void start_read();
  void on_read(const asio::error_code& ec, size_t n);
  // Takes the requests received so far, then writes their replies together: the replies to
  // requests that came in one read (a client's pipelined pair) leave in one segment, so the client
  // is woken once for them.
  void serve();
  // The requests on hand, their replies queued; true when it ends wanting more to read (serve()
  // starts that read once the replies are out).
  bool take_requests();
  void post_turn();
  void handle(const wire::Request& request);
  void finish(RequestResult outcome, const wire::Request& request);
  void queue(std::span<const uint8_t> frame);
  void start_write();
  void on_written(const asio::error_code& ec);
  void close_after_flush(std::string why);
  void close_after_last_reply();
  void arm_timer(Clock::time_point when);
  void on_timer();
  size_t queued_bytes() const { return sending_.size() + pending_.size(); }

  // More reply bytes than this waiting for the client pause request processing until it reads;
  // a client that never reads is then closed by the idle timer.
  static constexpr size_t kPauseAboveQueuedBytes = 128 * 1024;
  static constexpr size_t kReadChunk = 4096;

  asio::ip::tcp::socket socket_;
  asio::steady_timer timer_;
  BusBackend& backend_;
  SessionOwner& owner_;
  SessionRules rules_;
  ServerLog& log_;
  std::string peer_;

  std::array<uint8_t, kReadChunk> chunk_{};  // the pending read's buffer, never parsed in place
  std::vector<uint8_t> in_;                  // received bytes not yet taken as requests
  size_t in_pos_ = 0;                        // start of the untaken bytes in in_
  std::vector<uint8_t> sending_;             // being written
  std::vector<uint8_t> pending_;             // replies queued behind it
  std::optional<PeriodRead> period_;

  Clock::time_point accepted_;
  Clock::time_point last_request_;  // the idle timer runs from here
  std::string closing_reason_;

  bool greeted_ = false;
  bool reading_ = false;
  bool writing_ = false;
  bool serving_ = false;  // in serve(): replies are queued, written when it ends
  bool paused_ = false;
  bool peer_done_ = false;  // the client closed its sending side
  bool closing_ = false;    // close once the queue is written
  bool closed_ = false;
};

}  // namespace demodctl
