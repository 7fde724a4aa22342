#include "monitor_web/event_queue.h"

namespace demodctl::monitor {

const std::string EventQueue::kResync = "event: resync\ndata: {}\n\n";

void EventQueue::push(std::string message) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    if (messages_.size() >= capacity_) {
      dropped_ = true;
      return;
    }
    messages_.push_back(std::move(message));
  }
  ready_.notify_one();
}

std::vector<std::string> EventQueue::take(std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  ready_.wait_for(lock, wait, [this] { return closed_ || dropped_ || !messages_.empty(); });
  std::vector<std::string> out;
  if (closed_) return out;
  // What is queued came before the gap; the resync closes it, and the state the client fetches
  // then holds everything dropped.
  for (std::string& message : messages_) out.push_back(std::move(message));
  messages_.clear();
  if (dropped_) out.push_back(kResync);
  dropped_ = false;
  return out;
}

void EventQueue::close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  ready_.notify_all();
}

bool EventQueue::closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

}  // namespace demodctl::monitor
