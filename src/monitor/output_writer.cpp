#include "monitor/output_writer.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace demodctl::monitor {
namespace {

// A whole line with write(2), resumed after a partial write; false when the output is gone
// (EPIPE: nobody will ever read it) or refuses.
bool write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void report_dropped(uint64_t lines) {
  std::fprintf(stderr, "demodmon: standard output could not keep up: %llu %s dropped\n",
               static_cast<unsigned long long>(lines), lines == 1 ? "line" : "lines");
}

}  // namespace

OutputWriter::OutputWriter(int fd, std::function<void()> dropped, size_t capacity)
    : dropped_(std::move(dropped)), capacity_(capacity), queue_(std::make_shared<Queue>()) {
  thread_ = std::thread([fd, queue = queue_] { run(fd, queue); });
}

OutputWriter::~OutputWriter() {
  bool blocked = false;
  {
    const std::lock_guard lock(queue_->mutex);
    queue_->stopping = true;
    queue_->queued.notify_all();
    blocked = queue_->writing;
  }
  if (blocked) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

bool OutputWriter::put(std::string line) {
  {
    const std::lock_guard lock(queue_->mutex);
    if (queue_->lines.size() < capacity_) {
      line += '\n';
      queue_->lines.push_back(std::move(line));
      queue_->queued.notify_one();
      return true;
    }
    ++queue_->unreported;
  }
  if (dropped_) dropped_();
  return false;
}

bool OutputWriter::finish(std::chrono::steady_clock::time_point deadline) {
  Queue& q = *queue_;
  std::unique_lock lock(q.mutex);
  const bool all =
      q.written.wait_until(lock, deadline, [&q] { return q.lines.empty() && !q.writing; });
  // Lines still waiting are lost with the process.
  const uint64_t lost = std::exchange(q.unreported, 0) + q.lines.size() + (q.writing ? 1 : 0);
  lock.unlock();
  if (lost > 0) report_dropped(lost);
  return all;
}

void OutputWriter::run(int fd, const std::shared_ptr<Queue>& queue) {
  Queue& q = *queue;
  std::unique_lock lock(q.mutex);
  for (;;) {
    q.queued.wait(lock, [&q] { return q.stopping || !q.lines.empty(); });
    if (q.lines.empty()) return;
    const std::string line = std::move(q.lines.front());
    q.lines.pop_front();
    q.writing = true;
    lock.unlock();
    write_all(fd, line);
    lock.lock();
    q.writing = false;
    // A line got through after some were dropped: say how many, once.
    const uint64_t lost = std::exchange(q.unreported, 0);
    if (lost > 0) {
      lock.unlock();
      report_dropped(lost);
      lock.lock();
    }
    q.written.notify_all();
  }
}

}  // namespace demodctl::monitor
