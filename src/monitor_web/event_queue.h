// The messages waiting for one event-stream client. The feed's publishing thread only appends
// here, under a short lock, and never waits for the client: when a client reads slower than the
// boards are sampled the queue fills, further messages are dropped, and the client is sent one
// "resync" message instead, after which it fetches /api/state again.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace demodctl::monitor {

class EventQueue {
 public:
  explicit EventQueue(size_t capacity) : capacity_(capacity) {}

  // Appends one message (a whole "event: ...\ndata: ...\n\n" block), or drops it when full.
  void push(std::string message);
  // Waits at most `wait` for messages and returns them all, oldest first, closed by the
  // resync message when some were dropped since the last take. Empty on timeout or once closed.
  std::vector<std::string> take(std::chrono::milliseconds wait);
  // Wakes the taker for good: the server is stopping.
  void close();
  bool closed() const;

  static const std::string kResync;

 private:
  const size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::string> messages_;
  bool dropped_ = false;
  bool closed_ = false;
};

}  // namespace demodctl::monitor
