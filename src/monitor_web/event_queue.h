// The messages waiting for one event-stream client. The feed's publishing thread only appends
// here, under a short lock, and never waits for the client: when a client reads slower than the
// boards are sampled the queue fills, further messages are dropped, and the client is sent one
// "resync" message instead, after which it fetches /api/state again.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace demodctl::monitor {

class EventQueue {
 public:
  explicit EventQueue(size_t capacity) : capacity_(capacity) {}

  // Appends one message (a whole "event: ...\ndata: ...\n\n" block), or drops it when full.
  void push(std::string message);
  // Waits at most `wait` for messages and returns up to kMaxBatch of them, oldest first, followed
  // by the resync message when some were dropped and none is left. Empty on timeout or once
  // closed.
  std::vector<std::string> take(std::chrono::milliseconds wait);
  // Called (under the queue's lock, so never after close() returned) when a message arrives at an
  // empty queue: a taker that does not wait in take() is woken so. It must not block.
  void set_waker(std::function<void()> waker);
  // Wakes the taker for good: the server is stopping.
  void close();
  bool closed() const;

  static const std::string kResync;
  static constexpr size_t kMaxBatch = 16;

 private:
  const size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::string> messages_;
  bool dropped_ = false;
  bool closed_ = false;
  std::function<void()> waker_;
};

// The queues of every open event stream. The feed's listeners hold it by shared pointer: a
// publishing thread may still be inside a listener for a moment after it is unsubscribed, and
// then finds the streams closed rather than a server that is gone.
class EventStreams {
 public:
  EventStreams(size_t max_streams, size_t capacity)
      : max_streams_(max_streams), capacity_(capacity) {}

  // A new stream's queue; nullptr when max_streams are open or the streams are closed.
  std::shared_ptr<EventQueue> open();
  void forget(const std::shared_ptr<EventQueue>& queue);
  bool empty() const;
  // Appends the message to every open stream (dropping it where one is full).
  void publish(const std::string& message);
  // Closes every stream and refuses new ones.
  void close_all();

 private:
  const size_t max_streams_;
  const size_t capacity_;
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<EventQueue>> queues_;
  bool closed_ = false;
};

}  // namespace demodctl::monitor
