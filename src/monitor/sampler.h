// A board's sampler: its own thread and connection, a sample every interval published into the
// feed, a capture when one is due or asked for, and a bounded reconnect with backoff when the
// server or the adapter goes away. A slow or dead board only delays its own samples.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "bus/run_settings.h"
#include "monitor/board_target.h"
#include "monitor/feed_store.h"

namespace demodctl::monitor {

struct SamplerOptions {
  std::chrono::milliseconds interval{1000};
  uint64_t count = 0;          // samples to take, 0: until stopped
  uint64_t capture_every = 0;  // a capture every N samples, 0: only when asked
  std::string capture_dir;     // where recordings go; empty: none written
  RunSettings link;            // the connection's reply timeout, trace and verbosity
};

// Reconnect backoff: the first retry after 0.5 s, doubling up to 8 s.
inline constexpr std::chrono::milliseconds kFirstRetry{500};
inline constexpr std::chrono::milliseconds kLongestRetry{8000};

class Sampler {
 public:
  Sampler(BoardTarget target, const SamplerOptions& options, FeedStore& feed);
  ~Sampler();
  Sampler(const Sampler&) = delete;
  Sampler& operator=(const Sampler&) = delete;

  void start();
  // Ends the loop at its next wait (a read in progress finishes within its timeout).
  void stop();
  void join();
  bool finished() const;

 private:
  void run();
  // Waits until `until` or stop(); false when stopped.
  bool wait_until(std::chrono::steady_clock::time_point until);

  BoardTarget target_;
  SamplerOptions options_;
  FeedStore& feed_;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool finished_ = false;
};

}  // namespace demodctl::monitor
