#include "server/session.h"

#include <cstring>

#include "server/linger.h"

namespace demodctl {

Session::Session(asio::ip::tcp::socket socket, BusBackend& backend, SessionOwner& owner,
                 std::chrono::milliseconds idle_timeout)
    : socket_(std::move(socket)),
      idle_timer_(socket_.get_executor()),
      backend_(backend),
      owner_(owner),
      idle_timeout_(idle_timeout) {}

void Session::start() {
  arm_idle_timer();
  start_read();
}

void Session::close() {
  if (closed_) return;
  closed_ = true;
  asio::error_code ignored;
  socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  socket_.close(ignored);
  idle_timer_.cancel();
  period_.reset();
  out_.clear();
  owner_.forget(this);
}

void Session::arm_idle_timer() {
  idle_timer_.expires_after(idle_timeout_);
  idle_timer_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
    if (!ec) self->close();  // no complete request within the idle timeout
  });
}

void Session::start_read() {
  if (reading_ || closed_ || (closing_ && !lingering_) || peer_done_ || in_len_ == in_.size()) {
    return;
  }
  reading_ = true;
  socket_.async_read_some(
      asio::buffer(in_.data() + in_len_, in_.size() - in_len_),
      [self = shared_from_this()](const asio::error_code& ec, size_t n) { self->on_read(ec, n); });
}

void Session::on_read(const asio::error_code& ec, size_t n) {
  reading_ = false;
  if (closed_) return;
  if (lingering_) {
    if (ec) {
      close();
    } else {
      in_len_ = 0;  // discarded
      start_read();
    }
    return;
  }
  if (ec == asio::error::eof) {
    peer_done_ = true;  // answer what arrived, then close
  } else if (ec) {
    close();
    return;
  }
  in_len_ += n;
  process();
}

void Session::process() {
  while (!closed_ && !closing_ && !period_ && queued_bytes_ <= kPauseAboveQueuedBytes) {
    const wire::DecodeResult r = wire::decode_request({in_.data(), in_len_});
    if (r.outcome == wire::DecodeOutcome::kNeedMore) break;
    if (r.outcome == wire::DecodeOutcome::kError) {
      queue(wire::encode_error_reply(r.opcode, r.status, r.seq, r.reason));
      if (r.close) {
        close_after_flush();
        return;
      }
    }
    std::memmove(in_.data(), in_.data() + r.consumed, in_len_ - r.consumed);
    in_len_ -= r.consumed;
    arm_idle_timer();
    if (r.outcome == wire::DecodeOutcome::kRequest) handle(r.request);
  }
  if (closed_ || closing_) return;
  if (peer_done_ && !period_) {
    close_after_flush();
    return;
  }
  start_read();
}

void Session::handle(const wire::Request& q) {
  const wire::Status admitted = wire::admit_request(q, greeted_);
  if (admitted != wire::Status::kOk) {
    const auto reason =
        admitted == wire::Status::kNeedHello ? "HELLO first" : "unsupported version";
    queue(wire::encode_error_reply(static_cast<uint8_t>(q.op), admitted, q.seq, reason));
    if (admitted == wire::Status::kBadVersion) close_after_flush();
    return;
  }
  if (q.op == wire::Opcode::kHello) greeted_ = true;
  if (q.op == wire::Opcode::kReadPeriod) {
    period_.emplace(q);
    idle_timer_.cancel();  // the request is complete; its reads may take longer than the timeout
    asio::post(socket_.get_executor(), [self = shared_from_this()] { self->continue_period(); });
    return;
  }
  finish(perform(backend_, q));
}

void Session::continue_period() {
  if (closed_ || !period_) return;
  std::optional<Outcome> outcome = period_->run_burst(backend_);
  if (!outcome) {
    // Let other connections' requests in before the next burst.
    asio::post(socket_.get_executor(), [self = shared_from_this()] { self->continue_period(); });
    return;
  }
  period_.reset();
  finish(std::move(*outcome));
  if (closed_) return;
  arm_idle_timer();
  process();
}

void Session::finish(Outcome outcome) {
  if (outcome.drop) {
    close();  // a dropped-connection fault: no reply
    return;
  }
  queue(std::move(outcome.reply));
}

void Session::queue(std::vector<uint8_t> frame) {
  if (closed_) return;
  queued_bytes_ += frame.size();
  out_.push_back(std::move(frame));
  start_write();
}

void Session::start_write() {
  if (writing_ || closed_ || out_.empty()) return;
  writing_ = true;
  asio::async_write(socket_, asio::buffer(out_.front()),
                    [self = shared_from_this()](const asio::error_code& ec, size_t) {
                      self->writing_ = false;
                      if (self->closed_) return;
                      if (ec) {
                        self->close();
                        return;
                      }
                      self->queued_bytes_ -= self->out_.front().size();
                      self->out_.pop_front();
                      if (!self->out_.empty()) {
                        self->start_write();
                      } else if (self->closing_) {
                        self->close_after_last_reply();
                        return;
                      }
                      if (!self->period_) self->process();  // resumes a paused connection
                    });
}

void Session::close_after_flush() {
  closing_ = true;
  if (out_.empty() && !writing_) close_after_last_reply();
}

void Session::close_after_last_reply() {
  if (closed_) return;
  if (peer_done_) {
    close();
    return;
  }
  // See linger.h: FIN first, then discard the peer's bytes until it closes or the linger ends.
  lingering_ = true;
  asio::error_code ignored;
  socket_.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
  idle_timer_.expires_after(kDefaultLinger);
  idle_timer_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
    if (!ec) self->close();
  });
  in_len_ = 0;
  start_read();
}

}  // namespace demodctl
