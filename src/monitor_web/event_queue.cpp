#include "monitor_web/event_queue.h"

#include <algorithm>

namespace demodctl::monitor {

const std::string EventQueue::kResync = "event: resync\ndata: {}\n\n";

void EventQueue::push(std::string message) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    const bool was_idle = messages_.empty() && !dropped_;
    if (messages_.size() >= capacity_) {
      dropped_ = true;
    } else {
      messages_.push_back(std::move(message));
    }
    if (was_idle && waker_) waker_();
  }
  ready_.notify_one();
}

std::vector<std::string> EventQueue::take(std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  ready_.wait_for(lock, wait, [this] { return closed_ || dropped_ || !messages_.empty(); });
  std::vector<std::string> out;
  if (closed_) return out;
  // A batch at most, so what this client may have pending stays near the queue's capacity
  // while the batch is being written.
  while (!messages_.empty() && out.size() < kMaxBatch) {
    out.push_back(std::move(messages_.front()));
    messages_.pop_front();
  }
  // The messages queued came before the gap; the resync closes it once they are out, and the
  // state the client fetches then holds everything dropped.
  if (dropped_ && messages_.empty()) {
    out.push_back(kResync);
    dropped_ = false;
  }
  return out;
}

void EventQueue::set_waker(std::function<void()> waker) {
  std::lock_guard lock(mutex_);
  waker_ = std::move(waker);
}

void EventQueue::close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    waker_ = nullptr;
  }
  ready_.notify_all();
}

bool EventQueue::closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

std::shared_ptr<EventQueue> EventStreams::open() {
  std::lock_guard lock(mutex_);
  if (closed_ || queues_.size() >= max_streams_) return nullptr;
  queues_.push_back(std::make_shared<EventQueue>(capacity_));
  return queues_.back();
}

void EventStreams::forget(const std::shared_ptr<EventQueue>& queue) {
  queue->close();
  std::lock_guard lock(mutex_);
  std::erase(queues_, queue);
}

bool EventStreams::empty() const {
  std::lock_guard lock(mutex_);
  return queues_.empty();
}

void EventStreams::publish(const std::string& message) {
  std::lock_guard lock(mutex_);
  for (const auto& queue : queues_) queue->push(message);
}

void EventStreams::close_all() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  for (const auto& queue : queues_) queue->close();
}

}  // namespace demodctl::monitor
