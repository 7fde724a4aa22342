// Standard output written by a thread of its own, so that a sampler never waits on it: lines go
// into a bounded queue that the thread writes out. When the output cannot keep up (a pipe nobody
// reads, a stopped terminal) the queue fills and further lines are dropped and counted, never
// waited for; once lines get through again one line on standard error says how many were lost.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace demodctl::monitor {

// Lines kept waiting for the output: a few minutes of a rack's samples at the default interval.
inline constexpr size_t kOutputQueueLines = 4096;

class OutputWriter {
 public:
  // Writes to `fd` (not owned); `dropped` is told of each line dropped, from the caller's thread.
  OutputWriter(int fd, std::function<void()> dropped, size_t capacity = kOutputQueueLines);
  // Joins the thread when it is idle; one blocked in a write is left to the process's exit (it
  // holds its state on its own, so it never touches a destroyed writer).
  ~OutputWriter();
  OutputWriter(const OutputWriter&) = delete;
  OutputWriter& operator=(const OutputWriter&) = delete;

  // Queues the line (a newline is added); never waits. False when it was dropped.
  bool put(std::string line);
  // Waits until every queued line is written, or until `deadline`; true when all were written.
  // Lines still dropped unreported are then reported on standard error.
  bool finish(std::chrono::steady_clock::time_point deadline);

 private:
  struct Queue {
    std::mutex mutex;
    std::condition_variable queued;
    std::condition_variable written;
    std::deque<std::string> lines;
    bool writing = false;     // the thread holds a line taken from the queue
    bool stopping = false;    // no more lines come
    uint64_t unreported = 0;  // lines dropped since the last report
  };
  static void run(int fd, const std::shared_ptr<Queue>& queue);

  std::function<void()> dropped_;
  size_t capacity_;
  std::shared_ptr<Queue> queue_;
  std::thread thread_;
};

}  // namespace demodctl::monitor
