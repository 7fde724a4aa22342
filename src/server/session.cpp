#include "server/session.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "server/linger.h"

namespace demodctl {
namespace {

const char* op_name(wire::Opcode op) {
  switch (op) {
    case wire::Opcode::kHello:
      return "HELLO";
    case wire::Opcode::kSetSpeed:
      return "speed";
    case wire::Opcode::kRead:
      return "read";
    case wire::Opcode::kWrite:
      return "write";
    case wire::Opcode::kReadPeriod:
      return "period read";
  }
  return "request";
}

// "read of channel 0, device 0xD0, register 0x2C failed: NACK", with `verb` "failed" or
// "refused"; a device address outside the bus's range in decimal ("device 464").
std::string failure_text(const wire::Request& q, wire::Status status, const char* verb) {
  const std::string name(wire::status_name(status));
  char text[160];
  if (q.op == wire::Opcode::kSetSpeed) {
    std::snprintf(text, sizeof text, "speed %d of channel %d %s: %s", q.speed, q.channel, verb,
                  name.c_str());
  } else if (q.op == wire::Opcode::kHello) {
    std::snprintf(text, sizeof text, "HELLO %s: %s", verb, name.c_str());
  } else {
    char device[16];
    if (q.target.address >= 0 && q.target.address <= UINT8_MAX) {
      std::snprintf(device, sizeof device, "0x%02X", static_cast<unsigned>(q.target.address));
    } else {
      std::snprintf(device, sizeof device, "%d", q.target.address);
    }
    std::snprintf(text, sizeof text, "%s of channel %d, device %s, register 0x%0*X %s: %s",
                  op_name(q.op), q.target.channel, device, q.target.reg_len == 2 ? 4 : 2,
                  static_cast<unsigned>(q.target.reg), verb, name.c_str());
  }
  return text;
}

wire::Status status_of(std::span<const uint8_t> reply) {
  return reply.size() > 3 ? static_cast<wire::Status>(reply[3]) : wire::Status::kOk;
}

// A request the decoder refused: with its target where that was read (BAD_ADDRESS), else its
// kind and the reason ("read request refused: BAD_PARAM, reg_len must be 1 or 2").
std::string decode_refusal_text(const wire::DecodeResult& r) {
  const auto op = static_cast<wire::Opcode>(r.opcode);
  if (r.status == wire::Status::kBadAddress) {
    wire::Request q = r.request;
    q.op = op;
    return failure_text(q, r.status, "refused");
  }
  const bool known = r.status != wire::Status::kUnknownOp;
  char text[200];
  std::snprintf(text, sizeof text, "%s request refused: %s, %.*s", known ? op_name(op) : "unknown",
                std::string(wire::status_name(r.status)).c_str(), static_cast<int>(r.reason.size()),
                r.reason.data());
  return text;
}

}  // namespace

Session::Session(asio::ip::tcp::socket socket, BusBackend& backend, SessionOwner& owner,
                 const SessionRules& rules, ServerLog& log, std::string peer)
    : socket_(std::move(socket)),
      timer_(socket_.get_executor()),
      backend_(backend),
      owner_(owner),
      rules_(rules),
      log_(log),
      peer_(std::move(peer)) {
  in_.reserve(kReadChunk + wire::kLengthFieldSize + wire::kMaxRequestLength);
}

void Session::start() {
  accepted_ = last_request_ = Clock::now();
  arm_timer(std::min(accepted_ + rules_.hello_grace, last_request_ + rules_.idle_timeout));
  start_read();
}

void Session::close(std::string_view why, bool refusal) {
  if (closed_) return;
  closed_ = true;
  const std::string text = "closed " + peer_ + " (" + std::string(why) + ")";
  if (refusal) {
    log_.refusal(peer_, text);
  } else {
    log_.line(text);
  }
  asio::error_code ignored;
  socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  socket_.close(ignored);
  timer_.cancel();
  period_.reset();
  owner_.forget(this);
}

void Session::arm_timer(Clock::time_point when) {
  timer_.expires_at(when);
  timer_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
    if (!ec) self->on_timer();
  });
}

// One timer serves the HELLO grace and the idle timeout; requests only move last_request_, so
// taking a request costs no timer operation.
void Session::on_timer() {
  if (closed_) return;
  const auto now = Clock::now();
  if (period_) last_request_ = now;  // a READ_PERIOD being performed is not idleness
  const auto grace_end = accepted_ + rules_.hello_grace;
  const auto idle_end = last_request_ + rules_.idle_timeout;
  if (!greeted_ && now >= grace_end) {
    if (closing_) {
      close(closing_reason_);
    } else {
      close("grace", /*refusal=*/true);
    }
    return;
  }
  if (now >= idle_end) {
    close(closing_ ? closing_reason_ : "idle");
    return;
  }
  arm_timer(greeted_ ? idle_end : std::min(idle_end, grace_end));
}

void Session::start_read() {
  if (reading_ || closed_) return;
  reading_ = true;
  socket_.async_read_some(
      asio::buffer(chunk_),
      [self = shared_from_this()](const asio::error_code& ec, size_t n) { self->on_read(ec, n); });
}

void Session::on_read(const asio::error_code& ec, size_t n) {
  reading_ = false;
  if (closed_) return;
  if (ec == asio::error::eof) {
    peer_done_ = true;  // every complete request already sent is still performed and answered
  } else if (ec) {
    close("peer: " + ec.message());
    return;
  } else {
    in_.insert(in_.end(), chunk_.begin(), chunk_.begin() + static_cast<std::ptrdiff_t>(n));
  }
  serve();
}

void Session::post_turn() {
  asio::post(socket_.get_executor(), [self = shared_from_this()] { self->serve(); });
}

void Session::serve() {
  serving_ = true;
  const bool waiting = take_requests();
  serving_ = false;
  start_write();  // the replies of this turn leave together, now
  if (!waiting) return;
  start_read();  // after the replies: the client waits for them, not for this
  // The replies are on their way: work the board has left from its transactions (a capture unit
  // filling its memory) costs no client a round trip.
  backend_.settle();
}

bool Session::take_requests() {
  size_t budget = kTransfersPerTurn;
  const auto turn_end = Clock::now() + kSoleTurn;
  while (!closed_ && !closing_) {
    if (period_) {
      std::optional<RequestResult> outcome = period_->run(backend_, budget);
      if (!outcome && owner_.open_sessions() == 1 && Clock::now() < turn_end) {
        budget = kTransfersPerTurn;
        continue;
      }
      if (!outcome) {
        post_turn();  // let the other connections in before the next reads
        return false;
      }
      const wire::Request q = period_->request();
      period_.reset();
      last_request_ = Clock::now();
      finish(std::move(*outcome), q);
      continue;
    }
    if (queued_bytes() > kPauseAboveQueuedBytes) {
      paused_ = true;  // on_written resumes
      return false;
    }
    if (budget == 0) {
      post_turn();
      return false;
    }
    const wire::DecodeResult r =
        wire::decode_request(std::span<const uint8_t>(in_.data() + in_pos_, in_.size() - in_pos_));
    if (r.outcome == wire::DecodeOutcome::kNeedMore) break;
    --budget;
    last_request_ = Clock::now();
    if (r.outcome == wire::DecodeOutcome::kError) {
      queue(wire::encode_error_reply(r.opcode, r.status, r.seq, r.reason));
      if (r.close) {
        close_after_flush("protocol error: " + std::string(r.reason));
        return false;
      }
      log_.refusal(peer_, decode_refusal_text(r) + " (client " + peer_ + ")");
    }
    in_pos_ += r.consumed;
    if (r.outcome == wire::DecodeOutcome::kRequest) handle(r.request);
  }
  if (closed_ || closing_) return false;
  // No complete request left: keep the partial one, then read more (or end after the peer's FIN).
  in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(in_pos_));
  in_pos_ = 0;
  if (peer_done_) {
    close_after_flush("peer");
    return false;
  }
  return true;  // serve() reads on
}

void Session::handle(const wire::Request& q) {
  const wire::Status admitted = wire::admit_request(q, greeted_);
  if (admitted != wire::Status::kOk) {
    const auto reason =
        admitted == wire::Status::kNeedHello ? "HELLO first" : "unsupported version";
    queue(wire::encode_error_reply(static_cast<uint8_t>(q.op), admitted, q.seq, reason));
    if (admitted == wire::Status::kBadVersion) {
      close_after_flush("protocol error: bad version");
    } else {
      log_.refusal(peer_, failure_text(q, admitted, "refused") + " (client " + peer_ + ")");
    }
    return;
  }
  if (q.op == wire::Opcode::kHello) greeted_ = true;
  if (q.op == wire::Opcode::kReadPeriod) {
    period_.emplace(q, rules_.read_only);  // performed by serve() a few reads per turn
    return;
  }
  finish(perform(backend_, q, rules_.read_only), q);
}

void Session::finish(RequestResult outcome, const wire::Request& q) {
  if (outcome.drop) {
    close("dropped by a board fault");  // no reply
    return;
  }
  // Failures count with the refusals: a client hammering an absent device cannot flood the log.
  if (outcome.bus_failed || outcome.refused) {
    log_.refusal(peer_, failure_text(q, status_of(outcome.reply),
                                     outcome.bus_failed ? "failed" : "refused") +
                            " (client " + peer_ + ")");
  }
  queue(outcome.reply);
}

void Session::queue(std::span<const uint8_t> frame) {
  if (closed_) return;
  pending_.insert(pending_.end(), frame.begin(), frame.end());
  if (!serving_) start_write();
}

void Session::start_write() {
  if (writing_ || closed_ || pending_.empty()) return;
  writing_ = true;
  std::swap(sending_, pending_);
  asio::async_write(
      socket_, asio::buffer(sending_),
      [self = shared_from_this()](const asio::error_code& ec, size_t) { self->on_written(ec); });
}

void Session::on_written(const asio::error_code& ec) {
  writing_ = false;
  if (closed_) return;
  if (ec) {
    close("peer: " + ec.message());
    return;
  }
  sending_.clear();
  if (!pending_.empty()) {
    start_write();
  } else if (closing_) {
    close_after_last_reply();
    return;
  }
  if (paused_ && queued_bytes() <= kPauseAboveQueuedBytes) {
    paused_ = false;
    serve();
  }
}

void Session::close_after_flush(std::string why) {
  closing_ = true;
  closing_reason_ = std::move(why);
  if (!writing_ && pending_.empty()) close_after_last_reply();
}

void Session::close_after_last_reply() {
  if (closed_) return;
  if (peer_done_) {
    close(closing_reason_);
    return;
  }
  // See linger.h: the socket leaves the session (freeing its slot) and is closed after a FIN and
  // a short discard of whatever the peer still sends.
  closed_ = true;
  log_.line("closed " + peer_ + " (" + closing_reason_ + ")");
  timer_.cancel();
  close_gracefully(std::move(socket_));
  owner_.forget(this);
}

}  // namespace demodctl
